// The calls into the distributed notification center that raise an
// NSException when no center can be reached. They live in a plain Objective-C
// file because gcc's runtime cannot unwind an NSException through Objective-C++
// frames; each catches it and reports failure instead.
#pragma once

#import <Foundation/Foundation.h>

#ifdef __cplusplus
extern "C" {
#endif

/// Keeps the Foundation library's own diagnostics off standard error. GNUstep
/// logs there when it finds no center (missing directories, its daemon), and a
/// heartbeat must never print; Apple's Foundation needs nothing.
void tarnelQuietFoundation(void);

/// Posts `name` carrying `object`, delivered immediately. NO when no center answered.
BOOL tarnelPostDistributed(NSString* name, NSString* object);

/// Sends `selector` to `observer` for every `name` notification from any sender,
/// delivered at once. NO when no center answered.
BOOL tarnelObserveDistributed(id observer, SEL selector, NSString* name);

/// Removes every registration of `observer`.
void tarnelStopObservingDistributed(id observer);

#ifdef __cplusplus
}
#endif
