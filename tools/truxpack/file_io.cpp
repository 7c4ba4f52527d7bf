#include "tools/truxpack/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

// ------------------------------------------------------------ cleanup registry

// Temporary files not yet renamed into place, as (directory, name) pairs so
// that a signal handler can remove them with unlinkat alone. Changed only
// with the cleanup signals blocked, so the handler never sees a half-written
// slot.
constexpr int kCleanupSlots = 4096;
constexpr size_t kTempNameSize = 40;
struct CleanupSlot {
  int dirfd;  // -1: free
  int flags;  // for unlinkat: 0 for a file, AT_REMOVEDIR for a directory
  char name[kTempNameSize];
};
CleanupSlot g_cleanup[kCleanupSlots];
bool g_cleanupReady = false;
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kCleanupSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

void InitSlots() {
  if (g_cleanupReady) return;
  for (CleanupSlot& s : g_cleanup) s.dirfd = -1;
  g_cleanupReady = true;
}

int RegisterTemp(int dirfd, const std::string& name, int flags = 0) {
  SignalsBlocked blocked;
  InitSlots();
  for (int i = 0; i < kCleanupSlots; ++i)
    if (g_cleanup[i].dirfd < 0) {
      snprintf(g_cleanup[i].name, kTempNameSize, "%s", name.c_str());
      g_cleanup[i].flags = flags;
      g_cleanup[i].dirfd = dirfd;
      return i;
    }
  return -1;
}

void ReleaseTemp(int slot) {
  if (slot < 0) return;
  SignalsBlocked blocked;
  g_cleanup[slot].dirfd = -1;
}

void RemoveAllTemps() {
  if (!g_cleanupReady) return;
  // Files first, then the directories that held them.
  for (int flags : {0, AT_REMOVEDIR})
    for (CleanupSlot& s : g_cleanup)
      if (s.dirfd >= 0 && s.flags == flags) {
        unlinkat(s.dirfd, s.name, s.flags);
        s.dirfd = -1;
      }
}

void OnCleanupSignal(int sig) {
  int saved = errno;
  RemoveAllTemps();
  signal(sig, SIG_DFL);
  errno = saved;
  raise(sig);
}

// ------------------------------------------------------------ helpers

// The mode a new file would get from the caller's umask, read once.
mode_t FinalMode() {
  static const mode_t mode = [] {
    mode_t mask = umask(077);
    umask(mask);
    return (mode_t)(0666 & ~mask);
  }();
  return mode;
}

bool RandomHex(std::string& out) {
  unsigned char bytes[8];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += (size_t)n;
  }
  static const char kHex[] = "0123456789abcdef";
  out.clear();
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return true;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    size_t chunk = size < (1u << 30) ? size : (1u << 30);
    ssize_t n = write(fd, data, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= (size_t)n;
  }
  return true;
}

std::string Why(int err) { return strerror(err); }

}  // namespace

// ------------------------------------------------------------ reading

bool StatRegularFile(const std::string& path, uint64_t& size, FileIdentity& identity, std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = "cannot open " + path + ": " + Why(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  size = (uint64_t)st.st_size;
  identity = {st.st_dev, st.st_ino};
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& data, std::string& error, uint64_t limit,
                   FileIdentity* identity) {
  data.clear();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; the file type is
  // checked on the open descriptor, so a name swapped after a check cannot
  // slip a device in.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot open " + path + ": " + Why(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    close(fd);
    return false;
  }
  if (ok && (uint64_t)st.st_size > limit) {
    error = path + ": " + std::to_string((uint64_t)st.st_size) + " bytes, more than the " + std::to_string(limit) +
            " this file may have";
    close(fd);
    return false;
  }
  if (ok) {
    if (identity) *identity = {st.st_dev, st.st_ino};
    // The size read is the size checked; a file that grows meanwhile is
    // refused rather than read past the limit.
    data.resize((size_t)st.st_size);
    size_t got = 0;
    while (ok && got < data.size()) {
      ssize_t n = read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n == 0) break;
      if (n > 0) got += (size_t)n;
    }
    if (ok && got != data.size()) {
      error = path + ": the file changed while it was read";
      close(fd);
      data.clear();
      return false;
    }
    unsigned char probe;
    if (ok && read(fd, &probe, 1) == 1) {
      error = path + ": the file changed while it was read";
      close(fd);
      data.clear();
      return false;
    }
  }
  int saved = errno;
  close(fd);
  if (!ok) {
    data.clear();
    error = "cannot read " + path + ": " + Why(saved);
  }
  return ok;
}

bool MemorySource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n) memcpy(out, data_ + offset, n);
  return true;
}

FileSource::~FileSource() {
  if (owned_ && fd_ >= 0) close(fd_);
}

bool FileSource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  unsigned char* p = static_cast<unsigned char*>(out);
  while (n > 0) {
    ssize_t got = pread(fd_, p, n, (off_t)offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= (size_t)got;
    offset += (uint64_t)got;
  }
  return true;
}

std::unique_ptr<FileSource> OpenFileSource(const std::string& path, std::string& error, FileIdentity* identity) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot open " + path + ": " + Why(errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    close(fd);
    return nullptr;
  }
  if (identity) *identity = {st.st_dev, st.st_ino};
  return std::make_unique<FileSource>(fd, (uint64_t)st.st_size, true);
}

// ------------------------------------------------------------ writing

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  return true;
}

void InstallCleanupHandlers() {
  {
    SignalsBlocked blocked;
    InitSlots();
  }
  FinalMode();
  for (int s : kCleanupSignals) {
    struct sigaction current;
    if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;  // keep nohup's choice
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnCleanupSignal;
    sigemptyset(&action.sa_mask);
    for (int t : kCleanupSignals) sigaddset(&action.sa_mask, t);
    sigaction(s, &action, nullptr);
  }
}

OutputSet::~OutputSet() {
  for (Pending& p : pending_) {
    if (p.fd >= 0) close(p.fd);
    if (!p.temp.empty()) unlinkat(p.dirfd, p.temp.c_str(), 0);
    ReleaseTemp(p.slot);
    if (p.ownsDir) close(p.dirfd);
  }
}

bool OutputSet::CheckTarget(int dirfd, const std::string& shownPath, const std::string& name, bool overwrite,
                            bool adding, std::string& error) const {
  struct stat st;
  if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    error = "cannot examine " + shownPath + ": " + Why(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    if (replaceLinks_ && overwrite) return true;
    error = shownPath + ": is a symbolic link; not replaced";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = shownPath + ": exists and is not a regular file; not replaced";
    return false;
  }
  for (const FileIdentity& in : protected_)
    if (in == FileIdentity{st.st_dev, st.st_ino}) {
      error = shownPath + ": is an input of this command; not overwritten";
      return false;
    }
  for (const Pending& p : pending_) {
    if (!adding) break;
    struct stat other;
    if (p.name == name && fstat(p.dirfd, &other) == 0) {
      struct stat mine;
      if (fstat(dirfd, &mine) == 0 && mine.st_dev == other.st_dev && mine.st_ino == other.st_ino) {
        error = shownPath + ": named twice among the outputs";
        return false;
      }
    }
  }
  if (!overwrite) {
    error = shownPath + ": exists; not overwritten (use --force)";
    return false;
  }
  return true;
}

int OutputSet::Open(const std::string& path, std::string& error, bool overwrite) {
  std::filesystem::path p(path);
  std::string name = p.filename().string();
  std::string directory = p.parent_path().string();
  if (!IsPlainFileName(name)) {
    error = path + ": not a file name";
    return -1;
  }
  int dirfd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) {
    error = "cannot open the directory of " + path + ": " + Why(errno);
    return -1;
  }
  int index = OpenAt(dirfd, path, name, error, overwrite);
  if (index >= 0)
    pending_[(size_t)index].ownsDir = true;
  else
    close(dirfd);
  return index;
}

int OutputSet::OpenAt(int dirfd, const std::string& shownPath, const std::string& name, std::string& error,
                      bool overwrite) {
  if (!CheckTarget(dirfd, shownPath, name, overwrite, true, error)) return -1;
  std::string temp;
  int fd = -1, slot = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    std::string hex;
    if (!RandomHex(hex)) {
      error = "cannot create a temporary file for " + shownPath + ": no random numbers";
      return -1;
    }
    temp = ".trux-" + hex + ".tmp";
    // Registered before it exists, so that a signal arriving between the
    // open and the registration cannot leave it behind.
    slot = RegisterTemp(dirfd, temp);
    if (slot < 0) {
      error = "cannot create a temporary file for " + shownPath + ": too many outputs at once";
      return -1;
    }
    fd = openat(dirfd, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      int err = errno;
      ReleaseTemp(slot);
      if (err == EEXIST) continue;
      error = "cannot create a temporary file for " + shownPath + ": " + Why(err);
      return -1;
    }
  }
  if (fd < 0) {
    error = "cannot create a temporary file for " + shownPath + ": every name tried exists";
    return -1;
  }
  pending_.push_back({dirfd, false, overwrite, shownPath, temp, name, slot, fd});
  return (int)pending_.size() - 1;
}

bool OutputSet::Write(int index, const unsigned char* data, size_t size, std::string& error) {
  const Pending& p = pending_[(size_t)index];
  if (WriteAll(p.fd, data, size)) return true;
  error = "cannot write " + p.shownPath + ": " + Why(errno);
  return false;
}

bool OutputSet::WriteAt(int index, uint64_t offset, const unsigned char* data, size_t size, std::string& error) {
  const Pending& p = pending_[(size_t)index];
  while (size > 0) {
    ssize_t n = pwrite(p.fd, data, size, (off_t)offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = "cannot write " + p.shownPath + ": " + Why(errno);
      return false;
    }
    data += n;
    size -= (size_t)n;
    offset += (uint64_t)n;
  }
  return true;
}

bool OutputSet::SetTime(int index, int64_t mtime, std::string& error) {
  if (mtime < 0) return true;
  const Pending& p = pending_[(size_t)index];
  struct timespec times[2];
  times[0].tv_sec = mtime;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (futimens(p.fd, times) == 0) return true;
  error = "cannot write " + p.shownPath + ": " + Why(errno);
  return false;
}

bool OutputSet::Add(const std::string& path, const unsigned char* data, size_t size, std::string& error,
                    bool overwrite) {
  int index = Open(path, error, overwrite);
  return index >= 0 && Write(index, data, size, error);
}

bool OutputSet::AddAt(int dirfd, const std::string& shownPath, const std::string& name, const unsigned char* data,
                      size_t size, std::string& error, bool overwrite, int64_t mtime) {
  int index = OpenAt(dirfd, shownPath, name, error, overwrite);
  return index >= 0 && Write(index, data, size, error) && SetTime(index, mtime, error);
}

bool OutputSet::Commit(std::string& error) {
  for (size_t i = 0; i <= pending_.size(); ++i) {
    // The last slot of the loop takes the output asked to come last.
    if (i == pending_.size() && last_ < 0) break;
    size_t at = i == pending_.size() ? (size_t)last_ : i;
    if (i < pending_.size() && (int)i == last_) continue;
    Pending& p = pending_[at];
    // Checked again just before the rename: what sits at the final name may
    // have changed while the outputs were written.
    std::string why;
    if (!CheckTarget(p.dirfd, p.shownPath, p.name, p.overwrite, false, why)) {
      error = why;
      return false;
    }
    // Owner-only while written; the caller's usual mode once complete.
    if (fchmod(p.fd, FinalMode()) != 0 || close(p.fd) != 0) {
      p.fd = -1;
      error = "cannot write " + p.shownPath + ": " + Why(errno);
      return false;
    }
    p.fd = -1;
    if (renameat(p.dirfd, p.temp.c_str(), p.dirfd, p.name.c_str()) != 0) {
      error = "cannot write " + p.shownPath + ": " + Why(errno);
      return false;
    }
    p.temp.clear();
    ReleaseTemp(p.slot);
    p.slot = -1;
  }
  return true;
}

bool WriteWholeFileAtomically(const std::string& path, const unsigned char* data, size_t size, std::string& error) {
  OutputSet out;
  return out.Add(path, data, size, error) && out.Commit(error);
}

// ------------------------------------------------------------ private directory

PrivateDirectory::~PrivateDirectory() {
  if (fd_ >= 0) {
    // Whatever the programs run in it left, without following links.
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    close(fd_);
  }
  for (int slot : slots_) ReleaseTemp(slot);
  ReleaseTemp(dirSlot_);
  if (parentFd_ >= 0) close(parentFd_);
}

bool PrivateDirectory::Create(const std::string& parent, std::string& error) {
  const std::string shown = parent.empty() ? "." : parent;
  parentFd_ = open(shown.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parentFd_ < 0) {
    error = "cannot open the directory " + shown + ": " + Why(errno);
    return false;
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string hex;
    if (!RandomHex(hex)) {
      error = "cannot create a private directory in " + shown + ": no random numbers";
      return false;
    }
    const std::string name = ".trux-" + hex + ".d";
    dirSlot_ = RegisterTemp(parentFd_, name, AT_REMOVEDIR);
    if (dirSlot_ < 0) {
      error = "cannot create a private directory in " + shown + ": too many temporary files at once";
      return false;
    }
    if (mkdirat(parentFd_, name.c_str(), 0700) != 0) {
      int err = errno;
      ReleaseTemp(dirSlot_);
      dirSlot_ = -1;
      if (err == EEXIST) continue;
      error = "cannot create a private directory in " + shown + ": " + Why(err);
      return false;
    }
    fd_ = openat(parentFd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
      error = "cannot open the private directory in " + shown + ": " + Why(errno);
      unlinkat(parentFd_, name.c_str(), AT_REMOVEDIR);
      return false;
    }
    // Absolute: the programs run in it may start elsewhere.
    path_ = std::filesystem::absolute(std::filesystem::path(shown) / name).string();
    return true;
  }
  error = "cannot create a private directory in " + shown + ": every name tried exists";
  return false;
}

std::string PrivateDirectory::File(const std::string& name) {
  if (fd_ >= 0) {
    int slot = RegisterTemp(fd_, name);
    if (slot >= 0) slots_.push_back(slot);
  }
  return (std::filesystem::path(path_) / name).string();
}

int PrivateDirectory::CreateFile(const std::string& name, std::string& error) {
  const std::string path = File(name);
  int fd = openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) error = "cannot create " + path + ": " + Why(errno);
  return fd;
}
