#include "tools/truxpack/prefix_snapshot.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "tools/truxpack/file_io.h"
#include "tools/truxpack/names.h"

namespace {

constexpr char kSnapshotHeader[] = "truxpack-snapshot 1";
constexpr size_t kHashPiece = 1 << 20;
constexpr uint64_t kLinkLimit = 1 << 20;        // shortcuts larger than this are not read
constexpr uint64_t kRegistryLimit = 1ull << 30;  // the registry files
constexpr int kMaxDepth = 512;
// A file changed this close to the previous snapshot might have changed
// again within the file system's time resolution: it is read again.
constexpr int64_t kRacyNs = 2000000000;
// Wine keeps the hidden and system attributes in this extended attribute,
// as "0x" and hexadecimal digits.
constexpr char kDosAttributes[] = "user.DOSATTRIB";
constexpr uint32_t kHidden = 0x2, kSystem = 0x4;

int64_t NowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

int64_t Ns(const struct timespec& t) { return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec; }

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string Attributes(int fd, const struct stat& st, const std::string& name) {
  uint32_t dos = 0;
  if (fd >= 0) {
    char text[32];
    ssize_t n = fgetxattr(fd, kDosAttributes, text, sizeof text - 1);
    if (n > 2) {
      text[n] = 0;
      if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) dos = (uint32_t)strtoul(text + 2, nullptr, 16);
    }
  }
  std::string letters;
  if (!S_ISDIR(st.st_mode) && !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) letters += 'R';
  if ((dos & kHidden) || (!name.empty() && name[0] == '.')) letters += 'H';
  if (dos & kSystem) letters += 'S';
  return letters;
}

std::string Stamp(const struct stat& st) {
  return std::to_string((unsigned long long)st.st_dev) + ":" + std::to_string((unsigned long long)st.st_ino) + ":" +
         std::to_string((long long)Ns(st.st_ctim));
}

bool HashFile(int fd, std::string& hash) {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  std::vector<uint8_t> piece(kHashPiece);
  for (;;) {
    ssize_t n = read(fd, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), piece.data(), (size_t)n) != 1) return false;
  }
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return false;
  hash = Hex(digest, length);
  return true;
}

bool EndsWithLnk(const std::string& name) {
  return name.size() > 4 && FoldCase(name.substr(name.size() - 4)) == ".lnk";
}

void ReadShortcut(int fd, uint64_t size, SnapshotShortcut& shortcut) {
  if (size > kLinkLimit) {
    shortcut.problem = "larger than " + std::to_string(kLinkLimit) + " bytes";
    return;
  }
  std::string bytes((size_t)size, '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = pread(fd, &bytes[got], bytes.size() - got, (off_t)got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += (size_t)n;
  }
  bytes.resize(got);
  shortcut.read = ReadShellLink(bytes, shortcut.link, shortcut.problem);
}

struct Walk {
  const Snapshot* previous;
  SnapshotReuse reuse;
  Snapshot& out;
  std::string& error;
};

bool Fail(Walk& w, const std::string& path, const char* what) {
  w.error = "cannot " + std::string(what) + " " + PrintablePath(DrivePath(path)) + ": " + strerror(errno);
  return false;
}

bool ReusedHash(const Walk& w, const std::string& path, SnapshotEntry& e) {
  if (!w.previous) return false;
  auto it = w.previous->files.find(path);
  if (it == w.previous->files.end()) return false;
  const SnapshotEntry& p = it->second;
  if (p.kind != SnapshotEntry::kFile || p.size != e.size || p.mtimeNs != e.mtimeNs) return false;
  if (w.reuse == SnapshotReuse::kCopySource) {
    if (p.mtimeNs > w.previous->takenNs - kRacyNs) return false;
  } else {
    if (p.stamp != e.stamp) return false;
    // The change time is the third part of the stamp.
    const int64_t changed = strtoll(e.stamp.substr(e.stamp.rfind(':') + 1).c_str(), nullptr, 10);
    if (changed > w.previous->takenNs - kRacyNs) return false;
  }
  e.hash = p.hash;
  return true;
}

bool AddFile(Walk& w, int dirfd, const std::string& name, const std::string& path) {
  int fd = openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(w, path, "open");
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return Fail(w, path, "read the attributes of");
  }
  SnapshotEntry e;
  if (!S_ISREG(st.st_mode)) {  // replaced by something else since it was listed
    close(fd);
    e.kind = SnapshotEntry::kOther;
    w.out.files[path] = e;
    return true;
  }
  e.size = (uint64_t)st.st_size;
  e.attributes = Attributes(fd, st, name);
  e.mtimeNs = Ns(st.st_mtim);
  e.stamp = Stamp(st);
  if (!ReusedHash(w, path, e) && !HashFile(fd, e.hash)) {
    close(fd);
    return Fail(w, path, "read");
  }
  if (EndsWithLnk(name)) ReadShortcut(fd, e.size, w.out.shortcuts[path]);
  close(fd);
  w.out.files[path] = e;
  return true;
}

bool WalkDirectory(Walk& w, int dirfd, const std::string& prefix, int depth) {
  if (depth > kMaxDepth) {
    w.error = "directories nested deeper than " + std::to_string(kMaxDepth) + " levels at " +
              PrintablePath(DrivePath(prefix));
    return false;
  }
  DIR* dir = fdopendir(dirfd);
  if (!dir) {
    close(dirfd);
    return Fail(w, prefix, "list");
  }
  std::vector<std::string> names;
  errno = 0;
  while (struct dirent* d = readdir(dir)) {
    if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) names.push_back(d->d_name);
  }
  bool ok = true;
  for (const std::string& name : names) {
    const std::string path = prefix.empty() ? name : prefix + "/" + name;
    struct stat st;
    if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since the listing
      ok = Fail(w, path, "read the attributes of");
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      SnapshotEntry e;
      e.kind = SnapshotEntry::kSymlink;
      std::vector<char> target(4096);
      ssize_t n = readlinkat(dirfd, name.c_str(), target.data(), target.size());
      if (n >= 0) e.linkTarget.assign(target.data(), (size_t)n);
      w.out.files[path] = e;
    } else if (S_ISDIR(st.st_mode)) {
      int sub = openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        ok = Fail(w, path, "open the directory");
        break;
      }
      SnapshotEntry e;
      e.kind = SnapshotEntry::kDirectory;
      e.attributes = Attributes(sub, st, name);
      w.out.files[path] = e;
      if (!WalkDirectory(w, sub, path, depth + 1)) {
        ok = false;
        break;
      }
    } else if (S_ISREG(st.st_mode)) {
      if (!AddFile(w, dirfd, name, path)) {
        ok = false;
        break;
      }
    } else {
      SnapshotEntry e;
      e.kind = SnapshotEntry::kOther;
      w.out.files[path] = e;
    }
  }
  closedir(dir);
  return ok;
}

bool ReadRegistry(const std::string& prefix, const char* file, const char* root, Snapshot& out, std::string& error) {
  std::vector<unsigned char> data;
  if (!ReadWholeFile(prefix + "/" + file, data, error, kRegistryLimit)) return false;
  std::vector<RegistryKey> keys;
  std::string problem;
  if (!ParseWineRegistry(std::string(data.begin(), data.end()), root, keys, problem)) {
    error = PrintablePath(prefix + "/" + file) + ": " + problem;
    return false;
  }
  for (RegistryKey& k : keys) {
    SnapshotKey& key = out.keys[FoldCase(k.path)];
    key.path = k.path;
    for (RegistryValue& v : k.values) key.values[FoldCase(v.name)] = std::move(v);
    // The wineserver writes a key without values only when it has no
    // subkeys: every key above one it writes exists too.
    for (size_t slash = k.path.rfind('\\'); slash != std::string::npos && slash > strlen(root);
         slash = k.path.rfind('\\', slash - 1)) {
      SnapshotKey& parent = out.keys[FoldCase(k.path.substr(0, slash))];
      if (!parent.path.empty()) break;
      parent.path = k.path.substr(0, slash);
    }
  }
  return true;
}

// ---- the text form

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: return false;
    }
  }
  return true;
}

std::string Line(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + Escape(f);
  return line + "\n";
}

bool ParseNumber(const std::string& s, int64_t& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  v = strtoll(s.c_str(), &end, 10);
  return errno == 0 && *end == 0;
}

}  // namespace

std::string FoldCase(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return out;
}

std::string DrivePath(const std::string& relative) {
  std::string out = "C:\\" + relative;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

bool TakeSnapshot(const std::string& prefix, const Snapshot* previous, Snapshot& out, std::string& error,
                  SnapshotReuse reuse) {
  out = Snapshot();
  out.takenNs = NowNs();
  const std::string drive = prefix + "/drive_c";
  int fd = open(drive.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + PrintablePath(drive) + ": " + strerror(errno) + " (is it a Wine prefix?)";
    return false;
  }
  Walk w{previous, reuse, out, error};
  if (!WalkDirectory(w, fd, "", 0)) return false;
  return ReadRegistry(prefix, "system.reg", "HKEY_LOCAL_MACHINE", out, error) &&
         ReadRegistry(prefix, "user.reg", "HKEY_CURRENT_USER", out, error);
}

std::string SaveSnapshot(const Snapshot& s) {
  std::string text = std::string(kSnapshotHeader) + "\t" + std::to_string((long long)s.takenNs) + "\n";
  for (const auto& [path, e] : s.files) {
    switch (e.kind) {
      case SnapshotEntry::kDirectory: text += Line({"dir", path, e.attributes}); break;
      case SnapshotEntry::kFile:
        text += Line({"file", path, std::to_string((unsigned long long)e.size), e.hash, e.attributes,
                      std::to_string((long long)e.mtimeNs), e.stamp});
        break;
      case SnapshotEntry::kSymlink: text += Line({"symlink", path, e.linkTarget}); break;
      default: text += Line({"other", path});
    }
  }
  for (const auto& [path, sc] : s.shortcuts) {
    if (sc.read)
      text += Line({"shortcut", path, sc.link.target, sc.link.arguments, sc.link.workingDirectory,
                    sc.link.iconLocation, std::to_string(sc.link.iconIndex), sc.link.description});
    else
      text += Line({"badshortcut", path, sc.problem});
  }
  for (const auto& [folded, key] : s.keys) {
    text += Line({"key", key.path});
    for (const auto& [name, v] : key.values) text += Line({"value", key.path, v.name, v.data});
  }
  return text;
}

bool LoadSnapshot(const std::string& text, Snapshot& out, std::string& error) {
  out = Snapshot();
  size_t pos = 0, lineNumber = 0;
  auto bad = [&](const std::string& why) {
    error = "line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      std::string field;
      if (!Unescape(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start), field))
        return bad("a bad escape");
      f.push_back(field);
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (lineNumber == 1) {
      int64_t taken;
      if (f.size() != 2 || f[0] != kSnapshotHeader || !ParseNumber(f[1], taken))
        return bad(std::string("not a snapshot of truxpack (it does not begin with \"") + kSnapshotHeader + "\")");
      out.takenNs = taken;
      continue;
    }
    const std::string& kind = f[0];
    auto need = [&](size_t n) { return f.size() == n; };
    if (kind == "dir" && need(3)) {
      SnapshotEntry e;
      e.kind = SnapshotEntry::kDirectory;
      e.attributes = f[2];
      out.files[f[1]] = e;
    } else if (kind == "file" && need(7)) {
      SnapshotEntry e;
      int64_t size, mtime;
      if (!ParseNumber(f[2], size) || size < 0 || !ParseNumber(f[5], mtime)) return bad("a bad number");
      e.size = (uint64_t)size;
      e.hash = f[3];
      e.attributes = f[4];
      e.mtimeNs = mtime;
      e.stamp = f[6];
      out.files[f[1]] = e;
    } else if (kind == "symlink" && need(3)) {
      SnapshotEntry e;
      e.kind = SnapshotEntry::kSymlink;
      e.linkTarget = f[2];
      out.files[f[1]] = e;
    } else if (kind == "other" && need(2)) {
      SnapshotEntry e;
      e.kind = SnapshotEntry::kOther;
      out.files[f[1]] = e;
    } else if (kind == "shortcut" && need(8)) {
      SnapshotShortcut& sc = out.shortcuts[f[1]];
      int64_t index;
      if (!ParseNumber(f[6], index)) return bad("a bad icon index");
      sc.read = true;
      sc.link.target = f[2];
      sc.link.arguments = f[3];
      sc.link.workingDirectory = f[4];
      sc.link.iconLocation = f[5];
      sc.link.iconIndex = (int32_t)index;
      sc.link.description = f[7];
    } else if (kind == "badshortcut" && need(3)) {
      out.shortcuts[f[1]].problem = f[2];
    } else if (kind == "key" && need(2)) {
      out.keys[FoldCase(f[1])].path = f[1];
    } else if (kind == "value" && need(4)) {
      auto it = out.keys.find(FoldCase(f[1]));
      if (it == out.keys.end()) return bad("a value before its key");
      it->second.values[FoldCase(f[2])] = RegistryValue{f[2], f[3]};
    } else {
      return bad("an item of no known kind, or with the wrong number of fields");
    }
  }
  if (lineNumber == 0) return bad("empty");
  return true;
}
