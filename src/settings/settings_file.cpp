#include "settings/settings_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "settings/new_file.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

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

std::string backupOf(const SettingsPath& where) {
  std::string backup = where.path;
  return backup.append(backupSuffix);
}

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

/// Whether writing over `read` makes the backup: it has content and nothing stands at the backup's name.
bool backsUp(const SettingsPath& where, const SettingsRead& read) {
  struct stat status;
  return where.keepsBackup && read.bytes && !read.bytes->empty() && lstat(backupOf(where).c_str(), &status) != 0 && errno == ENOENT;
}

/// The first copy of a settings file with content, whole or absent: written
/// aside, then linked to its name, which fails and keeps the old copy when
/// there is one. Best effort: a backup that cannot be made does not stop the write.
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

/// Keeps the file that was read, swapped out to `aside` and found as it was
/// read, as the first backup: its own bytes, owner and attributes, and no
/// copy to write and flush. Where it cannot be linked to the backup's name
/// (another filesystem, or one without hard links), a copy is written instead.
void keepAsBackup(const SettingsPath& where, const SettingsRead& read, const std::string& aside) {
  std::string backup = backupOf(where);
  if (firstNaming == Naming::hardLink) {
    if (link(aside.c_str(), backup.c_str()) == 0) {
      // The swap's folder is flushed after; the backup's name may lie in another (beside a symbolic link).
      if (fs::path(backup).parent_path() != fs::path(aside).parent_path()) flushFolder(fs::path(backup).parent_path());
      return;
    }
    if (errno == EEXIST) return;  // made meanwhile: the first backup stays
  }
  backUp(where, read);
}

/// A new file's mode: as the umask leaves it.
mode_t newFileMode(const SettingsPath& where) {
  mode_t mask = umask(0);
  umask(mask);
  return (where.runs ? 0777 : 0666) & ~mask;
}

}  // namespace

bool isSymbolicLink(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

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
  bool backup = backsUp(where, read);
  NewFile file(where, target);
  file.fill(pieces, read.status ? read.status->st_mode & 07777 : newFileMode(where), like, read.file.fd());
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
    if (backup) keepAsBackup(where, read, aside);
  } else if (errno == ENOENT) {
    return false;  // removed meanwhile: made anew from reading again
  } else if (!isUnsupported(errno)) {
    failWithErrno(where, errno);
  } else {  // this filesystem cannot swap: check, then rename over, as close together as can be
    if (!isAsRead(dest, read)) return false;
    if (backup) backUp(where, read);
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
  if (read.status) checkReplaceable(where, *read.status);
  if (!read.status) makeFolders(where, target.parent_path(), false);
  fs::path dir = target.parent_path();  // the folder that gets the new name, or the first one that exists above it
  while (access(dir.c_str(), F_OK) != 0 && dir != dir.parent_path()) dir = dir.parent_path();
  if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) failWithErrno(where, errno);
}

bool removeSettings(const SettingsPath& where, const SettingsRead& read) {
  // Only our own file is removed, which no other program writes: a check just before is enough.
  if (!read.status || !isAsRead(where.path, read)) return false;
  checkReplaceable(where, *read.status);
  if (unlink(where.path.c_str()) != 0) failWithErrno(where, errno);
  flushFolder(fs::path(where.path).parent_path());
  return true;
}

}  // namespace tarnel
