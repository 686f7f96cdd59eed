#include "settings/settings_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "util/write_all.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const SettingsPath& where, const std::string& reason) {
  throw SettingsError(where.shown + ": " + reason);
}
[[noreturn]] void failWithErrno(const SettingsPath& where, int error) { fail(where, std::strerror(error)); }

/// Reads the whole file behind `fd`; false with errno set on failure.
bool readAll(int fd, std::string& bytes, size_t expected) {
  bytes.resize(expected + 1);
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
    ssize_t n = read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  bytes.resize(filled);
  return true;
}

bool runningAsRoot() { return geteuid() == 0; }

/// Flushes what was written to `fd` to the disk itself (on macOS, fsync only
/// hands it to the drive's cache).
bool flushToDisk(int fd) {
#ifdef __APPLE__
  if (fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  return fsync(fd) == 0;
}

/// Gives what we create the owner it would have had, had its owner made it:
/// only root creates files for another user.
void ownAs(int fd, uid_t owner, gid_t group) {
  if (runningAsRoot()) (void)fchown(fd, owner, group);  // a failure leaves it root's, still readable by root
}

/// The file that a write to `path` should replace: the end of a chain of
/// symbolic links (which may not exist yet), or `path` itself.
fs::path linkTarget(const SettingsPath& where) {
  fs::path path = where.path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    std::error_code error;
    auto next = fs::read_symlink(path, error);
    if (error) fail(where, error.message());
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  failWithErrno(where, ELOOP);
}

/// Makes `dir` and its missing parents, each owned like the folder it is made in.
void makeFolders(const SettingsPath& where, const fs::path& dir) {
  struct stat status;
  if (stat(dir.c_str(), &status) == 0) return;
  makeFolders(where, dir.parent_path());
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) failWithErrno(where, errno);
  if (runningAsRoot() && stat(dir.parent_path().c_str(), &status) == 0)
    (void)chown(dir.c_str(), status.st_uid, status.st_gid);
}

/// Holds SIGINT, SIGTERM and SIGHUP while it lives, so that a temporary file
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

/// A hidden temporary file beside `beside`, removed unless it was renamed.
/// Making one first removes those that a killed run left there an hour ago or more.
class Temporary {
public:
  Temporary(const SettingsPath& where, const fs::path& beside) {
    std::string prefix = beside.filename().string().insert(0, 1, '.').append(".tarnel-");
    removeLeftovers(beside.parent_path(), prefix);
    path_ = (beside.parent_path() / prefix).string().append("XXXXXX");
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) failWithErrno(where, errno);
  }
  ~Temporary() {
    if (fd_ >= 0) close(fd_);
    if (!renamed_) unlink(path_.c_str());
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;

  /// Writes `pieces` with `mode` and the owner, and flushes them; false with errno set.
  bool fill(const std::vector<std::string_view>& pieces, mode_t mode, uid_t owner, gid_t group) {
    ownAs(fd_, owner, group);
    bool ok = fchmod(fd_, mode) == 0;
    for (auto piece : pieces) ok = ok && writeAll(fd_, piece);
    ok = ok && flushToDisk(fd_);
    int error = errno;
    if (close(fd_) != 0 && ok) ok = false, error = errno;
    fd_ = -1;
    errno = ok ? 0 : error;
    return ok;
  }
  const std::string& path() const { return path_; }
  void renamed() { renamed_ = true; }

private:
  static void removeLeftovers(const fs::path& dir, const std::string& prefix) {
    DIR* entries = opendir(dir.c_str());
    if (!entries) return;
    time_t hourAgo = time(nullptr) - 3600;
    while (dirent* entry = readdir(entries)) {
      std::string_view name = entry->d_name;
      if (!name.starts_with(prefix) || name.size() != prefix.size() + 6) continue;
      struct stat status;
      std::string path = (dir / name).string();
      if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_mtime < hourAgo)
        unlink(path.c_str());
    }
    closedir(entries);
  }

  std::string path_;
  int fd_ = -1;
  bool renamed_ = false;
};

/// The first copy of a settings file, whole or absent: written aside, then
/// linked to its name, which fails and keeps the old copy when there is one.
/// Best effort: a backup that cannot be made does not stop the write.
void backUp(const SettingsPath& where, std::string_view bytes, const struct stat& original) {
  std::string backup = where.path;
  backup += backupSuffix;
  if (access(backup.c_str(), F_OK) == 0) return;
  try {
    Temporary copy(where, backup);
    if (copy.fill({bytes}, original.st_mode & 0777, original.st_uid, original.st_gid))
      (void)link(copy.path().c_str(), backup.c_str());
  } catch (const SettingsError&) {
    // no room for the copy: go on without it
  }
}

#ifdef __APPLE__
const timespec& modified(const struct stat& s) { return s.st_mtimespec; }
#else
const timespec& modified(const struct stat& s) { return s.st_mtim; }
#endif

/// Whether `path` still names the file that was read, unchanged, or still names none.
bool unchanged(const std::string& path, const std::optional<struct stat>& before) {
  struct stat now;
  if (stat(path.c_str(), &now) != 0) return errno == ENOENT && !before;
  return before && now.st_dev == before->st_dev && now.st_ino == before->st_ino && now.st_size == before->st_size &&
         modified(now).tv_sec == modified(*before).tv_sec && modified(now).tv_nsec == modified(*before).tv_nsec;
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
  int fd = open(where.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return read;
    failWithErrno(where, errno);
  }
  struct stat status;
  std::string bytes;
  int error = 0;
  bool regular = true;
  if (fstat(fd, &status) != 0) error = errno;
  else if (S_ISDIR(status.st_mode)) error = EISDIR;
  else if (!S_ISREG(status.st_mode)) regular = false;
  else if (!readAll(fd, bytes, static_cast<size_t>(status.st_size))) error = errno;
  close(fd);
  if (!regular) fail(where, "not a regular file");
  if (error) failWithErrno(where, error);
  read.bytes = std::move(bytes);
  read.status = status;
  return read;
}

bool replaceSettings(const SettingsPath& where, const SettingsRead& read, const std::vector<std::string_view>& pieces) {
  // Past a file size limit, write must fail with EFBIG rather than kill us.
  signal(SIGXFSZ, SIG_IGN);
  fs::path target = linkTarget(where);
  makeFolders(where, target.parent_path());
  struct stat owner;
  if (read.status) owner = *read.status;
  else if (stat(target.parent_path().c_str(), &owner) != 0) failWithErrno(where, errno);
  mode_t mode = read.status ? read.status->st_mode & 07777 : defaultFileMode();

  HeldSignals held;
  if (read.bytes) backUp(where, *read.bytes, *read.status);
  Temporary temporary(where, target);
  if (!temporary.fill(pieces, mode, owner.st_uid, owner.st_gid)) failWithErrno(where, errno);
  if (!unchanged(where.path, read.status)) return false;
  if (rename(temporary.path().c_str(), target.c_str()) != 0) failWithErrno(where, errno);
  temporary.renamed();
  if (int dir = open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);  // makes the rename itself durable; nothing to do if it fails
    close(dir);
  }
  return true;
}

bool removeSettings(const SettingsPath& where, const SettingsRead& read) {
  if (!unchanged(where.path, read.status)) return false;
  if (unlink(where.path.c_str()) != 0) failWithErrno(where, errno);
  return true;
}

}  // namespace tarnel
