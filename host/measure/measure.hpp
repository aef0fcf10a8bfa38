// One measurement on audio files: read, check, measure, report. The same
// code serves the audiomeas tool, its batch rows and the Python package
// (through audiomeas_measure_files), so a row gives the same fields and
// values whichever runs it.
#pragma once

#include <string>
#include <vector>

#include "report.hpp"
#include "status.hpp"

namespace audiomeas::host {

struct Job {
  std::string measurement;         // "align", "attack-release" or "transient-snr"
  std::vector<std::string> files;  // in the measurement's argument order
  int channel = 0;                 // 1-based; 0: files must be single-channel
  std::string alignedOutput;       // align only; empty: none written
  Options options;
  bool memoryAdmitted = false;  // the caller admitted its memory (batch's budget): not checked again
};

// A job's size from its files' headers, before any sample is read. A file
// whose header cannot be read counts as empty (complete is then false): the
// measurement says why it fails.
struct JobSize {
  std::size_t peakBytes = 0;  // estimatePeakBytes of the job
  double seconds = 0.0;       // length of the first input
  std::string inputs;         // "ref.wav (60.0 s), rec.wav (60.0 s)"
  bool complete = true;
};
JobSize sizeOf(const Job& job);

struct Outcome {
  Json json;                // the report, with the file names; one object
  std::string text;         // the same for a person, several lines
  ExitCode code = kExitOk;  // kExitOk, or kExitFlagged when the library raised its flag
};

// The measurements, each with the names of its signal arguments in order
// (they are also the report's file fields).
struct MeasurementKind {
  const char* name;
  std::vector<const char*> arguments;
};
const std::vector<MeasurementKind>& measurementKinds();
bool isMeasurement(const std::string& name);
size_t fileCount(const std::string& measurement);

// Runs the job. Throws Failure with a one-line message naming the file for
// bad input, or for an output that cannot be written; an aligned output is
// then not left behind. Unless memoryAdmitted, a job that needs more memory
// than is available is refused first (MemoryShortfall), nothing read.
Outcome runJob(const Job& job);

// The lines a person reads for a report: the main result first, then, for
// any raised flag, the failed test with its value and limit.
std::string describe(const Json& report);

}  // namespace audiomeas::host
