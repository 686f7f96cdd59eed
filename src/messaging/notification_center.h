// The seam between the front end and the platform's notification service.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

/// How a `run` of a notification center ended.
struct RunEnd {
  bool reached = true;  ///< false: no center was there, so nothing was posted and nothing can come
  std::string missing;  ///< when not reached: what is missing and what to do, as a sentence without a final stop
};

/// How long a post may take to reach the center, counted from the post; past
/// it the post is dropped. A heartbeat posts and exits, so this is what it
/// waits for at most on a slow or frozen bus. 1 s: on a loaded two-core machine
/// 12,000 heartbeats took 126 ms at the 99.9th percentile and 256 ms at most
/// to connect and have their signal taken (scripts/heartbeat_load.sh), and
/// agents give a hook 5 s or more.
inline constexpr std::chrono::milliseconds handOverLimit{1000};

/// The user's notification center: named notifications that carry one string.
/// Abstract so that the front end does not know which platform it runs on; the
/// real implementations are the D-Bus session bus (Linux) and Foundation's
/// distributed notification center (macOS; on Linux through GNUstep, for tests).
class NotificationCenter {
public:
  using Observer = std::function<void(const std::string& object)>;

  /// Hands the center what was posted and is still queued, giving each post up to
  /// `handOverLimit` from its posting; past that it is dropped.
  virtual ~NotificationCenter() = default;

  /// Posts notification `name` carrying `object`, delivered immediately. No result.
  virtual void post(std::string_view name, const std::string& object) = 0;

  /// Calls `observer` for every `name` notification from any sender whose object
  /// is a string, while `run` runs. One observer at a time.
  virtual void addObserver(std::string_view name, Observer observer) = 0;

  /// Removes the observer; it is never called afterwards.
  virtual void removeObserver() = 0;

  /// Dispatches notifications until `stop` is called or `timeout` has passed;
  /// without a center it returns at once and says what is missing.
  virtual RunEnd run(std::chrono::duration<double> timeout) = 0;

  /// Ends the current `run` early; called from within an observer.
  virtual void stop() = 0;
};

/// The default center of this platform for the current user. Never null: when
/// the user has no reachable center, posting does nothing and `run` returns at once.
std::unique_ptr<NotificationCenter> defaultCenter();
