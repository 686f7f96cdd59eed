#include "settings/new_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#ifdef __APPLE__
#include <copyfile.h>
#else
#include <sys/xattr.h>
#endif

#include "util/write_all.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

/// The system's reason for `error`, and what to do about it where there is something to do.
std::string reasonAndRemedy(int error) {
  std::string reason = std::strerror(error);
  switch (error) {
    case EACCES:
    case EPERM: return reason + " — give your user read and write permission on it and its folder, or run as their owner.";
    case EROFS: return reason + " — make the change where the file comes from, or put a writable copy in its place.";
    case EISDIR: return reason + " — a folder has the file's name: move it away, then run again.";
    case ENOTDIR: return reason + " — a file stands where its path needs a folder: move it away, then run again.";
    case ELOOP: return reason + " — its symbolic links lead round in a circle: point the link at a file.";
    case ENOSPC:
    case EDQUOT: return reason + " — free some space, then run again.";
    case EFBIG: return reason + " — the size limit for files (ulimit -f) is below the new file's: raise it, then run again.";
    default: return reason;
  }
}

/// Flushes what was written to `fd` to the disk itself (on macOS, fsync only
/// hands it to the drive's cache).
bool flushToDisk(int fd) {
#ifdef __APPLE__
  if (fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  return fsync(fd) == 0;
}

/// The start of the names of temporaries beside `file`: ".<file>.tarnel-".
std::string temporaryPrefix(const fs::path& file) {
  std::string prefix = ".";
  prefix.append(file.filename().string()).append(".tarnel-");
  return prefix;
}

/// Removes what killed runs left beside `file`: named ".<file>.tarnel-<pid>-…",
/// at once when that process is gone; any other, a name from an earlier
/// version or of a process id used again, once it is an hour old.
void removeLeftovers(const fs::path& file) {
  std::string prefix = temporaryPrefix(file);
  DIR* entries = opendir(file.parent_path().c_str());
  if (!entries) return;
  time_t hourAgo = time(nullptr) - 3600;
  while (dirent* entry = readdir(entries)) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    char* end = nullptr;
    long pid = std::strtol(entry->d_name + prefix.size(), &end, 10);
    bool dead = end && *end == '-' && pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    struct stat status;
    std::string path = (file.parent_path() / name).string();
    if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && (dead || status.st_mtime < hourAgo))
      unlink(path.c_str());
  }
  closedir(entries);
}

/// Gives `to` the extended attributes of `from`, and with them its ACL.
void copyAttributes(const SettingsPath& where, int from, int to) {
#ifdef __APPLE__
  if (fcopyfile(from, to, nullptr, COPYFILE_ACL | COPYFILE_XATTR) != 0)
    fail(where, "its extended attributes or ACL cannot be kept (" + std::string(std::strerror(errno)) +
                    ") — refusing to modify it.");
#else
  auto get = [](auto&& call) {
    std::string bytes(static_cast<size_t>(std::max<ssize_t>(call(nullptr, 0), 0)), '\0');
    ssize_t n = call(bytes.data(), bytes.size());
    return n < 0 ? std::optional<std::string>() : bytes.substr(0, static_cast<size_t>(n));
  };
  auto names = get([&](char* b, size_t n) { return flistxattr(from, b, n); });
  if (!names) return errno == ENOTSUP ? void() : failWithErrno(where, errno);
  for (const char* name = names->c_str(); *name; name += std::strlen(name) + 1) {
    auto value = get([&](char* b, size_t n) { return fgetxattr(from, name, b, n); });
    if (value && value == get([&](char* b, size_t n) { return fgetxattr(to, name, b, n); })) continue;
    if (!value || fsetxattr(to, name, value->data(), value->size(), 0) != 0)
      fail(where, "its extended attribute " + std::string(name) + " cannot be kept (" + std::strerror(errno) +
                      ") — refusing to modify it.");
  }
#endif
}

}  // namespace

void fail(const SettingsPath& where, const std::string& reason) { throw SettingsError(where.shown + ": " + reason); }

void failWithErrno(const SettingsPath& where, int error) { fail(where, reasonAndRemedy(error)); }

bool runningAsRoot() { return geteuid() == 0; }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool isUnsupported(int error) { return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS; }

bool renameOnce(const std::string& from, const std::string& to, bool swap) {
#if defined(__APPLE__)
  return renamex_np(from.c_str(), to.c_str(), swap ? RENAME_SWAP : RENAME_EXCL) == 0;
#elif defined(RENAME_EXCHANGE)
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), swap ? RENAME_EXCHANGE : RENAME_NOREPLACE) == 0;
#else
  errno = ENOTSUP;
  return false;
#endif
}

bool exchangeFiles(const std::string& a, const std::string& b) { return renameOnce(a, b, true); }

void flushFolder(const fs::path& dir) {
  if (int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
    (void)fsync(fd);  // makes a rename or link durable; nothing to do if it fails
    close(fd);
  }
}

NewFile::NewFile(const SettingsPath& where, const fs::path& beside) : where_(where), dir_(beside.parent_path()) {
  prefix_ = (dir_ / temporaryPrefix(beside)).string().append(std::to_string(getpid())).append("-");
  removeLeftovers(beside);
#ifdef O_TMPFILE
  if (firstNaming == Naming::hardLink) fd_ = open(dir_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    name_ = prefix_ + "XXXXXX";
    fd_ = mkostemp(name_.data(), O_CLOEXEC);
    if (fd_ < 0) name_.clear(), failWithErrno(where, errno);
  }
}
NewFile::~NewFile() {
  if (fd_ >= 0) close(fd_);
  if (!name_.empty()) unlink(name_.c_str());
}

/// Writes `pieces` with the mode, owner, group and attributes of `like` (or
/// `from`, the file it replaces), and flushes them.
void NewFile::fill(const std::vector<std::string_view>& pieces, mode_t mode, const struct stat& like, int from) {
  if (fchmod(fd_, mode) != 0) failWithErrno(where_, errno);
  struct stat made {};
  (void)fstat(fd_, &made);
  if (runningAsRoot()) (void)fchown(fd_, like.st_uid, like.st_gid);  // a failure leaves it root's, still readable by root
  else if (from >= 0 && made.st_gid != like.st_gid && fchown(fd_, static_cast<uid_t>(-1), like.st_gid) != 0)
    fail(where_, "its group (gid " + std::to_string(like.st_gid) + ") cannot be kept (" + std::strerror(errno) +
                     ") — refusing to modify it.");
  if (from >= 0) copyAttributes(where_, from, fd_);
  for (auto piece : pieces)
    if (!writeAll(fd_, piece)) failWithErrno(where_, errno);
  if (!flushToDisk(fd_)) failWithErrno(where_, errno);
}

/// Gives the file the name `path` (see Naming); false when something stands there.
bool NewFile::link(const std::string& path) {
  if (name_.empty()) {
    if (linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd_)).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return true;
    if (errno != EEXIST) failWithErrno(where_, errno);
    return false;
  }
  Naming naming = firstNaming;
  if (naming == Naming::hardLink) {
    if (::link(name_.c_str(), path.c_str()) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EPERM && !isUnsupported(errno)) failWithErrno(where_, errno);
    naming = Naming::exclusiveRename;
  }
  if (naming == Naming::exclusiveRename) {
    if (renameOnce(name_, path, false)) return name_.clear(), true;
    if (errno == EEXIST) return false;
    if (!isUnsupported(errno)) failWithErrno(where_, errno);
  }
  return moveOverHeldName(path);
}

/// The file's own temporary name, given now if it has none.
const std::string& NewFile::named() {
  for (int n = 0; name_.empty(); ++n)
    if (std::string name = prefix_ + std::to_string(n); link(name)) name_ = name;
  return name_;
}
struct stat NewFile::status() const {
  struct stat s {};
  (void)fstat(fd_, &s);
  return s;
}

/// Holds `path` with an empty file made there exclusively, then renames this
/// file over it while it is still that empty file; false, leaving it, when
/// another program has put its own file there or written into ours.
bool NewFile::moveOverHeldName(const std::string& path) {
  OpenFile held(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (held.fd() < 0 && errno != EEXIST) failWithErrno(where_, errno);
  if (held.fd() < 0) return false;
  struct stat ours, there;
  if (fstat(held.fd(), &ours) != 0 || lstat(path.c_str(), &there) != 0 || !sameFile(ours, there) || there.st_size != 0)
    return false;
  if (rename(name_.c_str(), path.c_str()) != 0) failWithErrno(where_, errno);
  name_.clear();
  return true;
}

}  // namespace tarnel
