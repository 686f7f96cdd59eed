#include "settings/settings_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#ifdef __APPLE__
#include <copyfile.h>
#else
#include <sys/xattr.h>
#endif

#include "util/write_all.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const SettingsPath& where, const std::string& reason) {
  throw SettingsError(where.shown + ": " + reason);
}
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

[[noreturn]] void failWithErrno(const SettingsPath& where, int error) { fail(where, reasonAndRemedy(error)); }

bool runningAsRoot() { return geteuid() == 0; }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

/// Whether `error` says that this filesystem cannot do what was asked.
bool isUnsupported(int error) { return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS; }

/// Renames `from` to `to` in one step: with `swap`, exchanging the two files;
/// without, only when nothing stands at `to` (else errno EEXIST). False, with
/// errno set, when they cannot be.
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

/// Exchanges the files at `a` and `b`; false with errno set when they cannot be.
bool swapFiles(const std::string& a, const std::string& b) { return renameOnce(a, b, true); }

/// Flushes what was written to `fd` to the disk itself (on macOS, fsync only
/// hands it to the drive's cache).
bool flushToDisk(int fd) {
#ifdef __APPLE__
  if (fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  return fsync(fd) == 0;
}

void flushFolder(const fs::path& dir) {
  if (int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
    (void)fsync(fd);  // makes a rename or link durable; nothing to do if it fails
    close(fd);
  }
}

/// The file that a write to `path` should replace: the end of a chain of
/// symbolic links (which may not exist yet), or `path` itself. A link may
/// point anywhere, and no folder is made there: the folder of a missing file
/// that a link names must exist.
fs::path linkTarget(const SettingsPath& where) {
  fs::path path = where.path, link;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    bool exists = lstat(path.c_str(), &status) == 0;
    if (!exists || !S_ISLNK(status.st_mode)) {
      if (!exists && !link.empty() && stat(path.parent_path().c_str(), &status) != 0)
        fail(where, "it is a symbolic link to " + link.string() + ", whose folder does not exist — create that " +
                        "folder, or remove the link.");
      return path;
    }
    std::error_code error;
    link = fs::read_symlink(path, error);
    if (error) fail(where, error.message());
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  failWithErrno(where, ELOOP);
}

/// Makes the file's missing folders below `where.base`, each owned like the
/// folder it is made in; never that folder nor anything above it, so that a
/// wrong home is not made up. Without `make`, it only refuses as it would.
void makeFolders(const SettingsPath& where, const fs::path& dir, bool make = true) {
  struct stat status;
  if (stat(dir.c_str(), &status) == 0) return;
  std::error_code error;
  if (auto target = fs::read_symlink(dir, error); !error)
    fail(where, dir.filename().string() + " is a symbolic link to " + target.string() + ", which does not exist — " +
                    "create that folder, or remove the link.");
  fs::path parent = dir.parent_path(), below = parent.lexically_relative(fs::path(where.base).lexically_normal());
  if (stat(parent.c_str(), &status) != 0) {
    if (below.empty() || below == "." || *below.begin() == "..")
      fail(where, "its folder's parent, " + parent.string() + ", does not exist — create it first.");
    makeFolders(where, parent, make);
    if (!make) return;
    if (stat(parent.c_str(), &status) != 0) failWithErrno(where, errno);
  }
  if (!make) return;
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) failWithErrno(where, errno);
  if (runningAsRoot()) (void)chown(dir.c_str(), status.st_uid, status.st_gid);
}

/// Refuses a file that a new file in its place would not be for its user:
/// one with other hard links (they would keep the old text), or another
/// user's file (the new one would be ours).
void checkReplaceable(const SettingsPath& where, const struct stat& status) {
  if (status.st_nlink > 1)
    fail(where, "it has " + std::to_string(status.st_nlink) + " hard links, and its other names would keep the old " +
                    "text — refusing to modify it. Make it one file (a symbolic link to it is fine), then run again.");
  if (!runningAsRoot() && status.st_uid != geteuid())
    fail(where, "it belongs to another user (uid " + std::to_string(status.st_uid) + "), and the new file would be " +
                    "yours — refusing to modify it. Run this as its owner.");
}

/// Holds SIGINT, SIGTERM and SIGHUP while it lives, so that a named new file
/// is always renamed or removed before they end the process.
class HeldSignals {
public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

private:
  sigset_t previous_;
};

/// The start of the names of temporaries beside `file`: ".<file>.tarnel-".
std::string temporaryPrefix(const fs::path& file) {
  std::string prefix = ".";
  prefix.append(file.filename().string()).append(".tarnel-");
  return prefix;
}

std::string backupOf(const SettingsPath& where) {
  std::string backup = where.path;
  return backup.append(backupSuffix);
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

/// A new file in the folder of `beside`. Written without a name where the
/// system allows (O_TMPFILE; such a file can be named only by a hard link), so
/// that a killed run leaves nothing; otherwise, and once named to be swapped
/// in, named ".<file>.tarnel-<pid>-…", so that the next run knows a dead run's
/// leftovers. Its name is removed with it.
class NewFile {
public:
  NewFile(const SettingsPath& where, const fs::path& beside) : where_(where), dir_(beside.parent_path()) {
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
  ~NewFile() {
    if (fd_ >= 0) close(fd_);
    if (!name_.empty()) unlink(name_.c_str());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  /// Writes `pieces` with the mode, owner, group and attributes of `like` (or
  /// `from`, the file it replaces), and flushes them.
  void fill(const std::vector<std::string_view>& pieces, mode_t mode, const struct stat& like, int from) {
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
  bool link(const std::string& path) {
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
  const std::string& named() {
    for (int n = 0; name_.empty(); ++n)
      if (std::string name = prefix_ + std::to_string(n); link(name)) name_ = name;
    return name_;
  }
  struct stat status() const {
    struct stat s {};
    (void)fstat(fd_, &s);
    return s;
  }

private:
  /// Holds `path` with an empty file made there exclusively, then renames this
  /// file over it while it is still that empty file; false, leaving it, when
  /// another program has put its own file there or written into ours.
  bool moveOverHeldName(const std::string& path) {
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

  const SettingsPath& where_;
  fs::path dir_;
  std::string prefix_, name_;
  int fd_ = -1;
};

/// Whether `path` is the file that `read` holds open, with no write since
/// and, when `bytes`, exactly the bytes that were read.
bool isAsRead(const std::string& path, const SettingsRead& read, bool bytes = true) {
  struct stat there, now;
  if (lstat(path.c_str(), &there) != 0 || fstat(read.file.fd(), &now) != 0 || !sameFile(there, now)) return false;
  if (now.st_size != read.status->st_size || modifiedAt(now).tv_sec != modifiedAt(*read.status).tv_sec ||
      modifiedAt(now).tv_nsec != modifiedAt(*read.status).tv_nsec)
    return false;
  if (!bytes) return true;
  char chunk[1 << 16];
  for (size_t at = 0; at < read.bytes->size();) {
    ssize_t n = pread(read.file.fd(), chunk, sizeof chunk, static_cast<off_t>(at));
    if (n <= 0 || read.bytes->compare(at, static_cast<size_t>(n), chunk, static_cast<size_t>(n)) != 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

/// The first copy of a settings file with content, whole or absent: written
/// aside, then linked to its name, which fails and keeps the old copy when
/// there is one. Best effort: a backup that cannot be made does not stop the write.
/// Whether writing over `read` makes the backup: it has content and nothing stands at the backup's name.
bool backsUp(const SettingsPath& where, const SettingsRead& read) {
  struct stat status;
  return read.bytes && !read.bytes->empty() && lstat(backupOf(where).c_str(), &status) != 0 && errno == ENOENT;
}

void backUp(const SettingsPath& where, const SettingsRead& read) {
  std::string backup = backupOf(where);
  if (!backsUp(where, read)) return;
  try {
    NewFile copy(where, backup);
    copy.fill({*read.bytes}, read.status->st_mode & 07777, *read.status, -1);
    if (copy.link(backup)) flushFolder(fs::path(backup).parent_path());
  } catch (const SettingsError&) {
    // no room for the copy: go on without it
  }
}

mode_t defaultFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

SettingsRead readSettings(const SettingsPath& where) {
  SettingsRead read;
  // Without O_NONBLOCK, opening a FIFO that stands at the path would wait for a writer for ever.
  read.file = OpenFile(open(where.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  int fd = read.file.fd();
  if (fd < 0 && errno == ENOENT) return read;
  if (fd < 0) failWithErrno(where, errno);
  struct stat status;
  if (fstat(fd, &status) != 0) failWithErrno(where, errno);
  if (S_ISDIR(status.st_mode)) failWithErrno(where, EISDIR);
  if (!S_ISREG(status.st_mode)) fail(where, "not a regular file — put the settings file there (a symbolic link to one is fine).");
  auto tooLarge = [&](std::uint64_t size) {
    fail(where, "it is " + std::to_string(size >> 20) + " MiB, over the " + std::to_string(settingsSizeLimit >> 20) +
                    " MiB that a settings file may have — refusing to read it. Check what wrote it.");
  };
  if (static_cast<std::uint64_t>(status.st_size) > settingsSizeLimit) tooLarge(static_cast<std::uint64_t>(status.st_size));
  // One byte more than the size shows a file that grew since; it may grow up to the limit.
  std::string bytes(static_cast<size_t>(status.st_size) + 1, '\0');
  size_t filled = 0;
  while (filled <= settingsSizeLimit) {
    if (filled == bytes.size()) bytes.resize(std::min<size_t>(bytes.size() * 2, settingsSizeLimit + 1));
    ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failWithErrno(where, errno);
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  if (filled > settingsSizeLimit) tooLarge(filled);
  bytes.resize(filled);
  read.bytes = std::move(bytes);
  read.status = status;
  return read;
}

bool hasBackup(const SettingsPath& where) {
  struct stat status;
  return stat(backupOf(where).c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool wouldBackUp(const SettingsPath& where, const SettingsRead& read) { return hasBackup(where) || backsUp(where, read); }

bool replaceSettings(const SettingsPath& where, const SettingsRead& read, const std::vector<std::string_view>& pieces) {
  signal(SIGXFSZ, SIG_IGN);  // past a file size limit, write must fail with EFBIG rather than kill us
  fs::path target = linkTarget(where);
  std::string dest = target.string();
  struct stat like;
  if (read.status) {
    like = *read.status;
    checkReplaceable(where, like);
  } else {
    makeFolders(where, target.parent_path());
    if (stat(target.parent_path().c_str(), &like) != 0) failWithErrno(where, errno);
  }

  HeldSignals held;
  if (read.bytes) backUp(where, read);
  NewFile file(where, target);
  file.fill(pieces, read.status ? read.status->st_mode & 07777 : defaultFileMode(), like, read.file.fd());
  const struct stat written = file.status();
  if (!read.status) {  // a new file: linked to its name, which fails when another program made one meanwhile
    if (!file.link(dest)) return false;
  } else if (!isAsRead(dest, read, false)) {
    return false;  // changed while we wrote: no need to swap to see it
  } else if (std::string aside = file.named(); swapFiles(aside, dest)) {
    // `aside` now holds the file that was at `dest`: it must be the one that was read, as it was read.
    if (!isAsRead(aside, read)) {
      // Give it back, unless another program has meanwhile put its own file at `dest`, or saved in place
      // into ours there (a save newer than the one swapped out: it stays); should one put its file at
      // `dest` during the swap back, that file is what came to `aside`: put it at `dest` again.
      struct stat there, ours = file.status();
      bool savedInto = ours.st_size != written.st_size || modifiedAt(ours).tv_sec != modifiedAt(written).tv_sec ||
                       modifiedAt(ours).tv_nsec != modifiedAt(written).tv_nsec;
      if (!savedInto && lstat(dest.c_str(), &there) == 0 && sameFile(there, ours) && swapFiles(aside, dest) &&
          lstat(aside.c_str(), &there) == 0 && !sameFile(there, ours))
        swapFiles(aside, dest);
      return false;
    }
  } else if (errno == ENOENT) {
    return false;  // removed meanwhile: made anew from reading again
  } else if (!isUnsupported(errno)) {
    failWithErrno(where, errno);
  } else {  // this filesystem cannot swap: check, then rename over, as close together as can be
    if (!isAsRead(dest, read)) return false;
    if (rename(aside.c_str(), dest.c_str()) != 0) failWithErrno(where, errno);
  }
  flushFolder(target.parent_path());
  return true;
}

void checkChange(const SettingsPath& where, const SettingsRead& read, std::size_t size, bool remove) {
  struct rlimit limit;  // the write of a file over the size limit would fail
  if (!remove && getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && size > limit.rlim_cur)
    failWithErrno(where, EFBIG);
  fs::path target = remove ? fs::path(where.path) : linkTarget(where);
  if (read.status && !remove) checkReplaceable(where, *read.status);
  if (!read.status) makeFolders(where, target.parent_path(), false);
  fs::path dir = target.parent_path();  // the folder that gets the new name, or the first one that exists above it
  while (access(dir.c_str(), F_OK) != 0 && dir != dir.parent_path()) dir = dir.parent_path();
  if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) failWithErrno(where, errno);
}

bool removeSettings(const SettingsPath& where, const SettingsRead& read) {
  // Only our own file is removed, which no other program writes: a check just before is enough.
  if (!read.status || !isAsRead(where.path, read)) return false;
  if (unlink(where.path.c_str()) != 0) failWithErrno(where, errno);
  flushFolder(fs::path(where.path).parent_path());
  return true;
}

}  // namespace tarnel
