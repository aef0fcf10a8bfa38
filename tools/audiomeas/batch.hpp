// `audiomeas batch`: one measurement per manifest row, over several workers,
// one JSON line per finished row.
#pragma once

#include <string>
#include <vector>

namespace audiomeas::cli {

struct BatchOptions {
  std::string manifest;
  std::string output;  // JSON lines; empty: standard output
  int workers = 1;
  int channel = 0;
  bool resume = false;
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
std::vector<ManifestRow> readManifest(const std::string &path);

// Runs the rows not yet in the output (all of them unless resuming) and
// returns the exit code: kExitBadInput if any row failed, else kExitFlagged
// if any raised its flag, else kExitOk; counting rows done before a resume.
int runBatch(const BatchOptions &options);

}  // namespace audiomeas::cli
