#include "tools/truxpack/file_io.h"

#include <dirent.h>
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
    if (got == 0) cutShort_ = true;
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
  // Every temporary file goes before any directory handle is closed: outputs
  // placed beside another one share its handle.
  for (Pending& p : pending_) {
    if (p.fd >= 0) close(p.fd);
    if (!p.temp.empty()) unlinkat(p.dirfd, p.temp.c_str(), 0);
    ReleaseTemp(p.slot);
  }
  for (Pending& p : pending_)
    if (p.ownsDir) close(p.dirfd);
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
  int dirfd = OpenOutputDirectory(directory.empty() ? "." : directory, false, error);
  if (dirfd < 0) return -1;
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

bool OutputSet::Place(size_t index, Placed& placed, std::string& error) {
  Pending& p = pending_[index];
  placed = {index, Placement::kNew, std::string()};
  struct stat st;
  const bool exists = fstatat(p.dirfd, p.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists) {
    // An output that must not replace a file keeps that promise for a file
    // that appeared since the check.
    int done = p.overwrite ? -1 : renameat2(p.dirfd, p.temp.c_str(), p.dirfd, p.name.c_str(), RENAME_NOREPLACE);
    if (done != 0 && (p.overwrite || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
      done = renameat(p.dirfd, p.temp.c_str(), p.dirfd, p.name.c_str());
    if (done == 0) return true;
    error = "cannot put " + p.shownPath + " in place: " + Why(errno);
    return false;
  }
  // The new file and the old one change places in one step; the old one then
  // waits under the temporary name until every output is in place.
  if (renameat2(p.dirfd, p.temp.c_str(), p.dirfd, p.name.c_str(), RENAME_EXCHANGE) == 0) {
    placed.how = Placement::kExchanged;
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    error = "cannot put " + p.shownPath + " in place: " + Why(errno);
    return false;
  }
  // A file system without the exchange: the old file steps aside under a
  // name of its own first.
  std::string hex;
  if (!RandomHex(hex)) {
    error = "cannot put " + p.shownPath + " in place: no random numbers";
    return false;
  }
  placed.aside = ".trux-" + hex + ".old";
  if (renameat(p.dirfd, p.name.c_str(), p.dirfd, placed.aside.c_str()) != 0) {
    error = "cannot put " + p.shownPath + " in place: " + Why(errno);
    return false;
  }
  if (renameat(p.dirfd, p.temp.c_str(), p.dirfd, p.name.c_str()) != 0) {
    error = "cannot put " + p.shownPath + " in place: " + Why(errno);
    renameat(p.dirfd, placed.aside.c_str(), p.dirfd, p.name.c_str());
    return false;
  }
  placed.how = Placement::kMovedAside;
  return true;
}

bool OutputSet::PutBack(const Placed& placed) {
  const Pending& p = pending_[placed.index];
  switch (placed.how) {
    case Placement::kNew:
      return renameat(p.dirfd, p.name.c_str(), p.dirfd, p.temp.c_str()) == 0;
    case Placement::kExchanged:
      return renameat2(p.dirfd, p.temp.c_str(), p.dirfd, p.name.c_str(), RENAME_EXCHANGE) == 0;
    case Placement::kMovedAside:
      return renameat(p.dirfd, p.name.c_str(), p.dirfd, p.temp.c_str()) == 0 &&
             renameat(p.dirfd, placed.aside.c_str(), p.dirfd, p.name.c_str()) == 0;
  }
  return false;
}

bool OutputSet::Commit(std::string& error) {
  // The renames and their undoing are one step: a cleanup signal waits until
  // the final names hold either every new file or every old one.
  SignalsBlocked blocked;
  std::vector<size_t> order;
  for (size_t i = 0; i < pending_.size(); ++i)
    if ((int)i != last_) order.push_back(i);
  if (last_ >= 0) order.push_back((size_t)last_);
  // Every output is checked and completed before the first rename, so that
  // a problem with any of them leaves all the final names alone. What sits
  // at a final name may have changed while the outputs were written, so the
  // targets are checked again here.
  for (size_t at : order) {
    Pending& p = pending_[at];
    if (!CheckTarget(p.dirfd, p.shownPath, p.name, p.overwrite, false, error)) return false;
    // Owner-only while written; the caller's usual mode once complete.
    const bool done = fchmod(p.fd, FinalMode()) == 0 && close(p.fd) == 0;
    p.fd = -1;
    if (!done) {
      error = "cannot write " + p.shownPath + ": " + Why(errno);
      return false;
    }
  }
  std::vector<Placed> placed;
  for (size_t at : order) {
    Placed one;
    if (Place(at, one, error)) {
      placed.push_back(one);
      continue;
    }
    // The outputs already in place give their names back to the old files
    // (or to nothing, where there was none).
    std::string lost;
    for (auto it = placed.rbegin(); it != placed.rend(); ++it)
      if (!PutBack(*it)) lost += (lost.empty() ? "" : ", ") + pending_[it->index].shownPath;
    if (!lost.empty())
      error += "; " + lost + " could not be put back: " + Why(errno);
    else if (!placed.empty())
      error += "; the outputs already in place were put back";
    return false;
  }
  // The old files, now under the temporary names or aside, go.
  for (const Placed& one : placed) {
    Pending& p = pending_[one.index];
    if (one.how == Placement::kExchanged) unlinkat(p.dirfd, p.temp.c_str(), 0);
    if (one.how == Placement::kMovedAside) unlinkat(p.dirfd, one.aside.c_str(), 0);
    p.temp.clear();
    ReleaseTemp(p.slot);
    p.slot = -1;
  }
  return true;
}

// ------------------------------------------------------------ directories

namespace {

#ifdef O_PATH
constexpr int kDirectoryHandle = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int kDirectoryHandle = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif
// The most links followed on the way to one directory, as the kernel allows.
constexpr int kMaxLinksFollowed = 40;

struct PathPart {
  std::string name;
  bool last;  // the directory the caller named
};

// The components of path, without empty and "." ones, in front of rest.
void PrependParts(const std::string& path, bool lastIsNamed, std::vector<PathPart>& rest) {
  std::vector<PathPart> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back({part, false});
    start = end + 1;
  }
  if (lastIsNamed && !parts.empty()) parts.back().last = true;
  rest.insert(rest.begin(), parts.begin(), parts.end());
}

std::string Joined(const std::string& shown, const std::string& name) {
  if (shown.empty() || shown == ".") return name;
  return shown == "/" ? "/" + name : shown + "/" + name;
}

// The text of the symbolic link name inside dirfd.
bool ReadLinkAt(int dirfd, const std::string& name, std::string& target) {
  std::vector<char> text(256);
  for (;;) {
    ssize_t n = readlinkat(dirfd, name.c_str(), text.data(), text.size());
    if (n < 0) return false;
    if ((size_t)n < text.size()) {
      target.assign(text.data(), (size_t)n);
      return true;
    }
    if (text.size() >= (1u << 16)) return false;
    text.resize(text.size() * 2);
  }
}

}  // namespace

int OpenOutputDirectory(const std::string& path, bool create, std::string& error) {
  const std::string named = path.empty() ? "." : path;
  std::vector<PathPart> parts;
  PrependParts(named, true, parts);
  std::string shown = named[0] == '/' ? "/" : ".";
  int fd = open(shown.c_str(), kDirectoryHandle);
  if (fd < 0) {
    error = "cannot open " + named + ": " + Why(errno);
    return -1;
  }
  int followed = 0;
  while (!parts.empty()) {
    const PathPart part = parts.front();
    parts.erase(parts.begin());
    const std::string here = Joined(shown, part.name);
    int next = openat(fd, part.name.c_str(), kDirectoryHandle);
    if (next < 0 && errno == ENOENT && create) {
      if (mkdirat(fd, part.name.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "cannot create " + here + ": " + Why(errno);
        close(fd);
        return -1;
      }
      next = openat(fd, part.name.c_str(), kDirectoryHandle);
    }
    if (next >= 0) {
      close(fd);
      fd = next;
      shown = here;
      continue;
    }
    const int err = errno;
    struct stat st;
    const bool link = (err == ELOOP || err == ENOTDIR) &&
                      fstatat(fd, part.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    std::string target;
    if (!link) {
      error = err == ENOTDIR ? here + ": not a directory" : "cannot open " + here + ": " + Why(err);
    } else if (part.last) {
      error = here + ": is a symbolic link; not followed";
    } else if (st.st_uid != 0 && st.st_uid != geteuid()) {
      error = here + ": a symbolic link of another user (uid " + std::to_string(st.st_uid) + "); not followed";
    } else if (++followed > kMaxLinksFollowed) {
      error = here + ": too many symbolic links on the way";
    } else if (!ReadLinkAt(fd, part.name, target) || target.empty()) {
      error = "cannot read the symbolic link " + here;
    } else {
      // The link's own path takes its place, from the root for an absolute
      // one, and is walked with the same rules.
      PrependParts(target, false, parts);
      if (target[0] == '/') {
        close(fd);
        fd = open("/", kDirectoryHandle);
        shown = "/";
        if (fd < 0) {
          error = "cannot open /: " + Why(errno);
          return -1;
        }
      }
      continue;
    }
    close(fd);
    return -1;
  }
  return fd;
}

int OpenDirectoryBelow(int dirfd, const std::vector<std::string>& parts, size_t count, bool create,
                       const std::string& shownRoot, std::string& error) {
  int fd = dup(dirfd);
  if (fd < 0) {
    error = "cannot open " + shownRoot + ": " + Why(errno);
    return -1;
  }
  std::string shown = shownRoot;
  for (size_t i = 0; i < count; ++i) {
    shown += "/" + parts[i];
    if (create && mkdirat(fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
      error = "cannot create " + shown + ": " + Why(errno);
      close(fd);
      return -1;
    }
    int next = openat(fd, parts[i].c_str(), kDirectoryHandle);
    int err = errno;
    close(fd);
    if (next < 0) {
      if (err == ENOENT && !create) return -2;
      if (err == ELOOP || err == ENOTDIR) {
        error = shown + ": not a directory of its own (a symbolic link or a file); not followed";
      } else {
        error = "cannot open " + shown + ": " + Why(err);
      }
      return -1;
    }
    fd = next;
  }
  return fd;
}

bool WriteWholeFileAtomically(const std::string& path, const unsigned char* data, size_t size, std::string& error) {
  OutputSet out;
  return out.Add(path, data, size, error) && out.Commit(error);
}

// ------------------------------------------------------------ private directory

namespace {

// Removes everything inside the directory handle dirfd, through handles
// alone: a link inside is removed, never followed. depth bounds the walk.
void RemoveContentsAt(int dirfd, int depth) {
  const int fd = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(dir);
  for (const std::string& name : names) {
    if (unlinkat(dirfd, name.c_str(), 0) == 0 || errno != EISDIR || depth <= 0) continue;
    const int inner = openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inner < 0) continue;
    RemoveContentsAt(inner, depth - 1);
    close(inner);
    unlinkat(dirfd, name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace

PrivateDirectory::~PrivateDirectory() {
  if (fd_ >= 0) {
    // Whatever the programs run in it left, then the directory itself.
    RemoveContentsAt(fd_, 8);
    close(fd_);
    unlinkat(parentFd_, name_.c_str(), AT_REMOVEDIR);
  }
  for (int slot : slots_) ReleaseTemp(slot);
  ReleaseTemp(dirSlot_);
  if (parentFd_ >= 0) close(parentFd_);
}

bool PrivateDirectory::Create(const std::string& parent, std::string& error) {
  const std::string shown = parent.empty() ? "." : parent;
  // Opened as an output directory is: never through a link of another user.
  parentFd_ = OpenOutputDirectory(shown, false, error);
  if (parentFd_ < 0) return false;
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
    struct stat st;
    // The directory opened must be the one made: this user's, closed to others.
    if (fd_ >= 0 && (fstat(fd_, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) != 0)) {
      close(fd_);
      fd_ = -1;
      errno = EPERM;
    }
    if (fd_ < 0) {
      error = "cannot open the private directory in " + shown + ": " + Why(errno);
      unlinkat(parentFd_, name.c_str(), AT_REMOVEDIR);
      ReleaseTemp(dirSlot_);
      dirSlot_ = -1;
      return false;
    }
    name_ = name;
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
