// macOS's extended-attribute calls that this project makes, declared as its
// manual pages getxattr(2) and setxattr(2) declare them: the SDK headers that
// scripts/check-macos.sh typechecks against lack this one. Unlike Linux's,
// they take a position in the value and options.
#pragma once

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif
ssize_t getxattr(const char* path, const char* name, void* value, size_t size, u_int32_t position, int options);
int setxattr(const char* path, const char* name, const void* value, size_t size, u_int32_t position, int options);
#ifdef __cplusplus
}
#endif
