// `tarnelctl doctor`: for each agent, every settings file that its hook
// commands may write and the hooks of ours in each, whether each still runs a
// program that is there, and whether the application answers and can keep
// the machine awake. Reads, never writes.
#pragma once

#include <string>

#include "messaging/app_messaging.h"

struct DoctorReport {
  std::string text;  ///< without a final newline
  int status;        ///< 0 when all works; 1 when a hook of ours runs a program that is gone, a file cannot be read, or the application cannot keep the machine awake
};

/// The report on every agent's settings, and on `status`, what came of asking
/// the application for its status. `colour` marks the lines with terminal colours.
DoctorReport doctorReport(const Answer& status, bool colour);
