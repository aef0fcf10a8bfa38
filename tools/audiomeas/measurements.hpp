// One measurement on audio files: read, check, call the library, report.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "status.hpp"

namespace audiomeas::cli {

using Json = nlohmann::ordered_json;

struct Job {
  std::string measurement;         // "align", "attack-release" or "transient-snr"
  std::vector<std::string> files;  // in the subcommand's order
  int channel = 0;                 // 1-based; 0: files must be single-channel
  std::string alignedOutput;       // align only; empty: none written
};

struct Outcome {
  Json json;         // the result, one object
  std::string text;  // the same for a person, several lines
  ExitCode code = kExitOk;  // kExitOk, or kExitFlagged when the library raised its flag
};

// Names of the measurements and how many files each takes.
bool isMeasurement(const std::string &name);
size_t fileCount(const std::string &measurement);

// Runs the job. Throws Failure with a one-line message for bad input or an
// output that cannot be written; an aligned output is then not left behind.
Outcome runJob(const Job &job);

}  // namespace audiomeas::cli
