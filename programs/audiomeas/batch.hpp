// `audiomeas batch`: one measurement per manifest row, over several workers,
// one JSON line per finished row.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace audiomeas::cli {

struct BatchOptions {
  std::string manifest;
  std::string output;  // JSON lines; empty: standard output
  int workers = 1;
  int channel = 0;
  bool resume = false;
  // Rows start only while the memory estimates of the running rows add up
  // to at most this many bytes; 0: the memory available at the start.
  std::size_t memoryBudget = 0;
};

// A manifest row: the measurement and its files as written (relative paths
// are taken from the manifest's folder).
struct ManifestRow {
  int row = 0;   // 1-based among the data rows
  int line = 0;  // line of the manifest it starts on
  std::string measurement;
  std::vector<std::string> files;
};

// Reads a CSV manifest: columns measurement,file1,file2[,file3]; an optional
// header row whose first field is "measurement"; blank lines and lines
// starting with '#' skipped; fields may be double-quoted ("" for a quote).
// Throws Failure (usage) naming the file and line of a malformed row, or
// (bad input) when the manifest cannot be read.
std::vector<ManifestRow> readManifest(const std::string& path);

// Runs the rows not yet in the output (all of them unless resuming) and
// returns the exit code: kExitBadInput if any row failed, else kExitFlagged
// if any raised its flag, else kExitOk; counting rows done before a resume.
// A row reads its files only once admitted under the memory budget, and
// attack-release rows run one at a time (envelo serves one call at a
// time). When a result line cannot be written no further row starts, and
// it throws Failure (output). A results file to resume that is not this
// batch's (a line that is not one of its result lines) is refused
// (Failure, bad input) untouched; only a torn last line that begins as a
// result line is cut.
int runBatch(const BatchOptions& options);

}  // namespace audiomeas::cli
