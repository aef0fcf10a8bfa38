// The campaign report: one self-contained HTML page over a batch results
// file, its rows counted by status, verdict and reason, each measurement's
// figures as distributions, a sortable table and every row's report.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "measurements.hpp"

namespace audiomeas::host {

// A results file as read for a report: the header and each row's line (the
// last one of a row that memory refused and a resume measured again).
struct Campaign {
  std::string path;
  Json header;             // {"audiomeas_batch": version, "options": {...}}
  std::vector<Json> rows;  // in the order of the file
  bool torn = false;       // it ends in an unfinished line (still being written, or cut), left out
};

// Reads path as a results file: a header line, then row lines. Throws
// Failure (bad input) naming the file and line for an unreadable file, one
// with no header or another major version's, a second header (two batches
// in one file), a line that is no row line, and a row whose lines name
// other files (two manifests' results). A torn last line that begins as a
// row's is left out and marked; any other is refused.
Campaign readCampaign(const std::string& path);

// A figure the page plots for the measurements whose reports hold it.
struct FigureEntry {
  const char* pointer;  // JSON pointer into a report: "/drift/drift_ppm"
  const char* label;    // "drift"
  const char* unit;     // "ppm"
  bool perRow;          // plotted against the row (settle times), else as a histogram
};
const std::vector<FigureEntry>& figures();

// One figure's values over the rows of a measurement that hold it.
struct Distribution {
  const FigureEntry* figure = nullptr;
  std::vector<int> rows;       // the row numbers with a value
  std::vector<double> values;  // in the figure's unit, one per row above
  std::size_t missing = 0;     // rows whose report gives null (not found, not formed)
  double minimum = 0, maximum = 0, mean = 0, median = 0, deviation = 0;  // of values; deviation: sample SD
};

struct MeasurementSummary {
  const MeasurementEntry* measurement = nullptr;
  std::size_t rows = 0, measured = 0;
  std::vector<Distribution> figures;  // those its reports hold, in the order of figures()
};

struct CampaignSummary {
  std::size_t rows = 0;
  std::map<std::string, std::size_t> statuses;   // ok, doubtful, flagged, error
  std::map<std::string, std::size_t> verdicts;   // the reports' overall verdicts
  std::map<std::string, std::size_t> reasons;    // "measurement: failed test" -> rows
  std::vector<MeasurementSummary> measurements;  // in the table's order, those present
  Json json() const;
};

CampaignSummary summarise(const Campaign& campaign);

// The reason keys of one report: each check that did not pass (by its test's
// name) and each doubt of the verdict (its reason up to the first colon).
std::vector<std::string> reasonKeys(const Json& report);

// The page, whole.
std::string campaignPage(const Campaign& campaign, const CampaignSummary& summary);

// Reads results, writes the page to output through a temporary file beside
// it, renamed when complete, and gives the summary as the report command
// prints it. Throws Failure: usage for an output that is the results file,
// bad input for the results, output when the page cannot be written.
Json writeCampaignReport(const std::string& results, const std::string& output);

}  // namespace audiomeas::host
