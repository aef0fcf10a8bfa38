// One measurement on audio files: read, check, measure, report. The same
// code serves the audiomeas tool, its batch rows and the Python package
// (through audiomeas_measure_files), so a row gives the same fields and
// values whichever runs it.
#pragma once

#include <string>
#include <vector>

#include "measurements.hpp"
#include "report.hpp"
#include "status.hpp"

namespace audiomeas::host {

struct Job {
  std::string measurement;         // a name of the measurement table
  std::vector<std::string> files;  // in the measurement's argument order
  int channel = 0;                 // 1-based; 0: files must be single-channel; kAllChannels: every one
  int threads = kMachineThreads;   // for its transforms; the same bits with any count
  std::string alignedOutput;       // align only; empty: none written
  Options options;
  bool memoryAdmitted = false;  // the caller admitted its memory (batch's budget): not checked again
  // Refuse a file that is not a regular one (a FIFO, socket or device),
  // which could block the caller for ever: a batch row's files.
  bool regularFilesOnly = false;
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
  Json json;                          // the report, with the file names; one object
  std::string text;                   // the same for a person, several lines
  ExitCode code = kExitOk;            // kExitOk, or kExitFlagged when the overall verdict is not the good one
  std::vector<std::string> warnings;  // for standard error: what the report alone may not make plain
};

// A job from its JSON: {"measurement": name, "files": [path, ...] (a path
// that is not UTF-8 as the array of its bytes), "channel": K (absent, null
// or 0: single-channel files), "threads": N (absent: the machine's
// cores), then any option of the measurement by its
// key ("details", "window_s", "pad_samples", ...)}. Throws usageError
// naming what is wrong: an unknown measurement or option, an option the
// measurement does not take, a value out of its limits.
Job jobFromJson(const Json& job);

// The job's options that differ from the table's defaults, by key.
Json jobOptionsJson(const Job& job);

// Runs the job. Throws Failure with a one-line message naming the file for
// bad input, or for an output that cannot be written; an aligned output is
// then not left behind. Unless memoryAdmitted, a job that needs more memory
// than is available is refused first (MemoryShortfall), nothing read.
Outcome runJob(const Job& job);

// The lines a person reads for a report: the main result first, then, for
// any raised flag, the failed test with its value and limit.
std::string describe(const Json& report);

// One measurement on sample arrays the caller holds (the C API and Python),
// each at its rate (Hz, in argument order; converted to the measurement's
// as a job's files are): refused first when what it adds would not fit in
// the memory available.
Measurement measureArrays(const MeasurementEntry& measurement, Signals signals,
                          const std::vector<double>& rates, const Options& options,
                          int threads = kMachineThreads);

}  // namespace audiomeas::host
