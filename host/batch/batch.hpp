// The batch protocol, the one copy both runners use (`audiomeas batch` and,
// through the C API, the Dask runner): the manifest, a row's job, the
// results file's header and lines, resume, and the lock that keeps a
// second writer out. Scheduling the rows is the runner's own affair.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "measure.hpp"

namespace audiomeas::host {
// A results line's status: a measured row's overall verdict (ok for the
// good one), or error for a row that could not be measured.
inline constexpr const char* kStatusOk = "ok";
inline constexpr const char* kStatusError = "error";
inline constexpr const char* kStatuses[] = {kStatusOk, kVerdictDoubtful, kVerdictFlagged, kStatusError};
}  // namespace audiomeas::host

namespace audiomeas::host {

// A manifest is read up to this size: a stream without end (a device, a
// pipe that never closes) is refused once it has given this much.
inline constexpr std::size_t kMaxManifestBytes = std::size_t(64) << 20;

// A manifest row: the measurement, its files as written (relative paths
// are taken from the manifest's folder) and the options its own columns set.
struct ManifestRow {
  int row = 0;   // 1-based among the data rows
  int line = 0;  // line of the manifest it starts on
  const MeasurementEntry* measurement = nullptr;
  std::vector<std::string> files;
  Json options = Json::object();  // key -> value, only those the row sets
  Json channel;                   // the row's channel column (K or "all"); null: the batch's
};

// A file's bytes, read through a fixed buffer whatever the file is (a pipe,
// a device); more than maxBytes (0: no bound) ends the read. Throws Failure
// (bad input) naming the file, and what it is not ("manifest").
std::string readFileBytes(const std::string& path, const char* what, std::size_t maxBytes = 0);

// The manifest column that chooses a row's channel.
inline constexpr const char* kChannelColumn = "channel";

struct Manifest {
  std::string path;
  std::vector<ManifestRow> rows;
  std::vector<std::string> notes;  // what was read but is worth saying (a byte-order mark skipped)
};

// Reads a CSV manifest: columns measurement,file1,file2[,file3]; an optional
// header row whose first field is "measurement", which may name option
// columns after the files by their keys (pad_samples, window_s, ...);
// blank lines and lines starting with '#' skipped; fields may be
// double-quoted ("" for a quote); a UTF-8 byte-order mark at the start is
// skipped. Throws Failure (usage) naming the file and line of a malformed
// row or option, (bad input) when it cannot be read or is longer than
// kMaxManifestBytes.
Manifest readManifest(const std::string& path);

// The batch-wide settings a run was started with.
struct BatchSettings {
  std::string manifest;
  std::string output;  // the results file; empty: standard output
  bool resume = false;
  int channel = 0;  // 1-based; 0: single-channel files
  Options options;  // every row's, unless its own columns say otherwise
};

// Refuses (usage) settings that cannot go together, before anything is read.
void checkSettings(const BatchSettings& settings);

// Reads a batch request as the C API takes it: {"manifest", "output",
// "resume", "channel", "options": {key: value}}. Throws usageError.
BatchSettings batchSettingsFromJson(const Json& request);

// The job of a row: files resolved, the batch's channel, its options.
Job rowJob(const BatchSettings& settings, const ManifestRow& row);

// The job as JSON for audiomeas_measure_files (a file name that is not
// UTF-8 as the array of its bytes).
Json jobJson(const Job& job);

// The results file's first line: the tool's version and the batch-wide
// options, so that a resume with other ones is refused.
Json resultsHeader(const BatchSettings& settings);

// A results line for a row: the measurement's exit code and its report
// (with its files), or for a code from kExitUsage on {"error": message}.
// Its status is the report's overall verdict: ok, doubtful, flagged; or
// error, marked "retry" when memory refused it (an outcome with
// "needed_bytes"), so that --resume measures it again.
Json resultLine(const ManifestRow& row, int code, const Json& outcome);

// A row's line without its outcome: what names the row in its manifest.
Json stemOf(const Json& line);

// A value as the results file carries it: compact UTF-8; bytes of a file
// name that are not UTF-8 become U+FFFD, on writing and on comparing.
std::string asWritten(const Json& value);

// What is wrong with a row line of a results file, its manifest aside: its
// row number, exit code, status and result or error; "" when nothing.
std::string rowLineFault(const Json& line);

// Whether text, a results file's unfinished last line, begins as a row's
// line does (a line a batch writes after its header).
bool beginsRowLine(const std::string& text);

struct BatchSummary {
  std::size_t rows = 0, runNow = 0, doneBefore = 0, ok = 0, doubtful = 0, flagged = 0, failed = 0, notRun = 0;
  ExitCode code = kExitOk;  // kExitBadInput if a row failed or was not run, else kExitFlagged if one was
  std::string text;         // "batch: 4 rows (4 run now, 0 done before): 3 ok, 1 flagged, 0 failed"
  Json json() const;
};

// The results file of one run. Opening it refuses an output that is the
// manifest, a file that holds results without --resume, a file that is not
// this batch's results, one written with other options or another version
// (naming both), and one another batch is writing now (an advisory lock,
// held until destruction). On resume it reads the rows done and cuts a last
// line that a kill left unfinished, but only when it is the beginning of a
// line this batch would write. A new or empty file gets the header.
class ResultsFile {
 public:
  ResultsFile(const BatchSettings& settings, const Manifest& manifest);
  ~ResultsFile();
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;

  const std::map<int, ExitCode>& doneBefore() const { return doneBefore_; }
  std::vector<const ManifestRow*> todo() const;

  // Appends the row's line in one write(2) and counts it; gives what to
  // tell the user at once (a failed row's reason), else "". Not
  // thread-safe: the caller serialises. Throws Failure (output) when it
  // cannot be written; nothing is appended after that.
  std::string record(const ManifestRow& row, int code, const Json& outcome);

  // The counts so far; notRun rows the runner could not measure.
  BatchSummary summary(std::size_t notRun = 0) const;

 private:
  void openFile(const Manifest& manifest);
  void resumeFrom(const std::string& text, const Manifest& manifest);
  void writeText(const std::string& text);

  const BatchSettings settings_;
  const Manifest& manifest_;
  int fd_ = -1;
  bool ownsFd_ = false;
  int writeError_ = 0;
  std::map<int, ExitCode> doneBefore_, codes_;
  std::map<int, std::string> statuses_;  // row -> the status of its line
};

}  // namespace audiomeas::host
