// Writing a whole text to a file descriptor.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

/// Writes all of `bytes` to `fd`, going on after interruptions and short
/// writes. False, with errno set, when the system refuses.
inline bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}
