// `tarnelctl doctor`: for each agent, its settings file and the hooks of ours
// in it, whether each still runs a program that is there, and whether the
// application answers. Reads, never writes.
#pragma once

#include <optional>
#include <string>

struct DoctorReport {
  std::string text;  ///< without a final newline
  int status;        ///< 0 when every hook of ours works; 1 when one runs a program that is gone or a file cannot be read
};

/// The report on every agent's settings, and on `reply`, the application's
/// answer to "status" (nothing: no answer). `colour` marks the lines with
/// terminal colours.
DoctorReport doctorReport(const std::optional<std::string>& reply, bool colour);
