// `audiomeas batch`: one measurement per manifest row, over several workers,
// one JSON line per finished row. The manifest, the results file and resume
// are the host layer's (batch.hpp); this runner only schedules the rows.
#pragma once

#include <cstddef>
#include <string>

#include "report.hpp"

namespace audiomeas::cli {

struct BatchOptions {
  std::string manifest;
  std::string output;  // JSON lines; empty: standard output
  int workers = 1;
  int channel = 0;
  bool resume = false;
  host::Options options;  // batch-wide measurement options
  // Rows start only while the memory estimates of the running rows add up
  // to at most this many bytes; 0: the memory available at the start.
  std::size_t memoryBudget = 0;
};

// Runs the rows not yet in the output (all of them unless resuming) and
// returns the batch's exit code: kExitBadInput if any row failed, else
// kExitFlagged if any raised its flag, else kExitOk; counting rows done
// before a resume. A row reads its files only once admitted under the
// memory budget, and a measurement whose library serves one call at a time
// runs one row at a time. When a result line cannot be written no further
// row starts, and it throws Failure (output).
int runBatch(const BatchOptions& options);

}  // namespace audiomeas::cli
