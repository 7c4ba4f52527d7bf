// File access of the authoring tool, written for a machine shared with other
// users.
//
// Reading: only regular files are read (a FIFO, device or directory is
// refused before a byte is read), and a file's size is checked against the
// caller's limit before it is read, so memory follows the limit and never
// what an input claims or how long a device keeps producing bytes.
//
// Writing: every output goes to a temporary file created exclusively (O_EXCL,
// O_NOFOLLOW, mode 0600) under an unpredictable name in the output's own
// directory, and is renamed over its final name only when all outputs of the
// command are complete; when one of those renames fails, the outputs already
// renamed are put back, so the final names hold all the new files or all the
// old ones. An output whose final name exists as something other than a
// regular file (a link, FIFO, device, directory), or as one of the command's
// inputs, is refused. Temporary files are removed on failure and when the
// process is ended by SIGINT, SIGTERM or SIGHUP.
//
// Directories written into are reached through directory handles opened
// without following symbolic links: the directory named for an output must
// not be a link, and on the way to it only links of the running user or of
// root are followed, so that a link another user planted (in a directory that
// user can write) never sends an output somewhere else.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

// The largest file ReadWholeFile reads without being told otherwise: 2 GiB,
// above the format's own limits (1 GiB per entry, 2 GiB per installer).
constexpr uint64_t kDefaultReadLimit = 2ull << 30;

// Identity of a file on disk, for "is this output one of my inputs".
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};

// Reads the whole regular file at path if it holds at most limit bytes.
// On failure returns false and sets error to a one-line reason naming the
// file; nothing beyond the file's checked size is ever allocated. identity,
// when given, receives the file's identity.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& data, std::string& error,
                   uint64_t limit = kDefaultReadLimit, FileIdentity* identity = nullptr);

// The size and identity of the regular file at path (links followed), for
// checks made before reading. False with error when it is not a regular file.
bool StatRegularFile(const std::string& path, uint64_t& size, FileIdentity& identity, std::string& error);

// Random-access bytes: an installer or a volume file being read, or a buffer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly n bytes at offset into out; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* out, size_t n) = 0;
  // Whether a read failed because the bytes ended before Size().
  virtual bool CutShort() const { return false; }
};

// A buffer, owned (moved in) or borrowed (it must outlive the source).
class MemorySource : public ByteSource {
 public:
  MemorySource(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  explicit MemorySource(std::vector<unsigned char>&& owned)
      : owned_(std::move(owned)), data_(owned_.data()), size_(owned_.size()) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t n) override;

 private:
  std::vector<unsigned char> owned_;
  const unsigned char* data_;
  size_t size_;
};

// An open file read with positioned reads. The size is taken when the
// source is made; a file cut short afterwards makes reads fail (CutShort
// then tells), never returns other bytes.
class FileSource : public ByteSource {
 public:
  FileSource(int fd, uint64_t size, bool owned) : fd_(fd), size_(size), owned_(owned) {}
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t n) override;
  bool CutShort() const override { return cutShort_; }
  // Another reader of the same open file (this source must outlive it).
  std::unique_ptr<FileSource> View() const { return std::make_unique<FileSource>(fd_, size_, false); }

 private:
  int fd_;
  uint64_t size_;
  bool owned_;
  bool cutShort_ = false;
};

// Opens the regular file at path for reading (a FIFO, device or directory
// is refused before a byte is read). Null with error set on failure.
std::unique_ptr<FileSource> OpenFileSource(const std::string& path, std::string& error,
                                           FileIdentity* identity = nullptr);

// Outputs written together: each Add writes one file's bytes to its
// temporary file; Commit renames them all into place in the order they were
// added (volumes first, the installer last); a set that is destroyed without
// a successful Commit removes every temporary file it made.
class OutputSet {
 public:
  OutputSet() = default;
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  ~OutputSet();

  // Files the outputs must not replace (the command's inputs).
  void Protect(const FileIdentity& input) { protected_.push_back(input); }
  // A symbolic link at an output's name is replaced (the link itself, never
  // what it points to) instead of refused; extract --force asks for this.
  void ReplaceLinks() { replaceLinks_ = true; }
  // overwrite false: an existing file at path is an error too.
  bool Add(const std::string& path, const unsigned char* data, size_t size, std::string& error,
           bool overwrite = true);
  // Same, with the file placed as name inside the open directory dirfd
  // (which must stay open until Commit or destruction); mtime, when not
  // negative, becomes the file's modification time (seconds since 1970).
  bool AddAt(int dirfd, const std::string& shownPath, const std::string& name, const unsigned char* data, size_t size,
             std::string& error, bool overwrite, int64_t mtime = -1);
  // Streamed outputs: Open makes the temporary file and returns its index
  // (-1 with error set), Write appends to it, WriteAt changes bytes already
  // written, SetTime sets its modification time once complete. Fd gives
  // the temporary file's descriptor for reading back what was written.
  int Open(const std::string& path, std::string& error, bool overwrite = true);
  int OpenAt(int dirfd, const std::string& shownPath, const std::string& name, std::string& error, bool overwrite);
  bool Write(int index, const unsigned char* data, size_t size, std::string& error);
  bool WriteAt(int index, uint64_t offset, const unsigned char* data, size_t size, std::string& error);
  bool SetTime(int index, int64_t mtime, std::string& error);
  int Fd(int index) const { return pending_[(size_t)index].fd; }
  // The directory the output of this index goes into (open until the set
  // is destroyed), for outputs that must go beside it.
  int DirFd(int index) const { return pending_[(size_t)index].dirfd; }
  // Checks every output and completes its file, then renames them in order;
  // when a rename fails, the outputs already renamed are put back (the old
  // files at their names again) and false is returned with error set.
  bool Commit(std::string& error);
  // The output of this index is renamed after all the others (the
  // installer after its volumes).
  void CommitLast(int index) { last_ = index; }
  size_t Count() const { return pending_.size(); }

 private:
  struct Pending {
    int dirfd;
    bool ownsDir;
    bool overwrite;
    std::string shownPath;
    std::string temp;
    std::string name;
    int slot;
    int fd;  // the temporary file, open until Commit: its mode changes only then
  };
  // How an output took its final name, for putting it back.
  enum class Placement { kNew, kExchanged, kMovedAside };
  struct Placed {
    size_t index;
    Placement how;
    std::string aside;  // kMovedAside: where the old file waits
  };
  bool Place(size_t index, Placed& placed, std::string& error);
  bool PutBack(const Placed& placed);
  // adding: also refuse a name already among the pending outputs.
  bool CheckTarget(int dirfd, const std::string& shownPath, const std::string& name, bool overwrite, bool adding,
                   std::string& error) const;
  std::vector<FileIdentity> protected_;
  bool replaceLinks_ = false;
  int last_ = -1;
  std::vector<Pending> pending_;
};

// A directory that only this user can enter (mode 0700), created
// exclusively under an unpredictable name (".trux-", 16 hexadecimal digits,
// ".d") inside a given directory, for files that other programs write by
// name (a signing tool's output): nobody else can plant a file or a link in
// it. It goes, with everything in it, when the object goes; the files named
// through File and the directory also go when the process ends by SIGINT,
// SIGTERM or SIGHUP.
class PrivateDirectory {
 public:
  PrivateDirectory() = default;
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;
  ~PrivateDirectory();
  bool Create(const std::string& parent, std::string& error);
  // The path of name inside (registered for removal on a signal).
  std::string File(const std::string& name);
  // Creates name inside, exclusively and owner-only; its descriptor, or -1
  // with error set.
  int CreateFile(const std::string& name, std::string& error);

 private:
  std::string name_;  // in the parent directory
  std::string path_;
  int parentFd_ = -1;
  int fd_ = -1;
  int dirSlot_ = -1;
  std::vector<int> slots_;
};

// Writes one output on its own (OutputSet with one file).
bool WriteWholeFileAtomically(const std::string& path, const unsigned char* data, size_t size, std::string& error);

// Removes the temporary files still pending, from a signal handler or at
// exit; installed once by InstallCleanupHandlers.
void InstallCleanupHandlers();

// Whether name can be a plain file name inside one directory: not empty, no
// '/' or '\\', not "." or "..", no control character.
bool IsPlainFileName(const std::string& name);

// Opens the directory at path as a handle to write below. The directory
// itself must not be a symbolic link; on the way to it, a link is followed
// only when the running user or root owns it. With create, the directory and
// its missing parents are made, each through the handle of the one above it
// and opened without following links. Returns the handle, or -1 with error
// set (naming the path).
int OpenOutputDirectory(const std::string& path, bool create, std::string& error);

// Opens (creating when asked) the directories parts[0 .. count) below the
// directory handle dirfd, one component at a time and never through a
// symbolic link; shownRoot names dirfd in messages. Returns the last
// directory's handle (a new one even for count 0), or -1 with error set; -2
// when a component is missing and create is false.
int OpenDirectoryBelow(int dirfd, const std::vector<std::string>& parts, size_t count, bool create,
                       const std::string& shownRoot, std::string& error);
