#include "campaign.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "audio_io.hpp"
#include "audiomeas_version.h"
#include "batch.hpp"
#include "text.hpp"

namespace audiomeas::host {

namespace {

int majorOf(const std::string& version) { return std::atoi(version.c_str()); }

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  const std::size_t h = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(h), v.end());
  if (v.size() % 2 == 1) return v[h];
  const double upper = v[h];
  return 0.5 * (*std::max_element(v.begin(), v.begin() + std::ptrdiff_t(h)) + upper);
}

// Text with every number in it replaced by "…": reasons that differ only in
// their values count as one.
std::string withoutNumbers(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto digit = [&](std::size_t k) {
      return k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]));
    };
    const bool sign = (s[i] == '-' || s[i] == '+') && digit(i + 1) &&
                      (i == 0 || !std::isalnum(static_cast<unsigned char>(s[i - 1])));
    if (!digit(i) && !sign) {
      out += s[i++];
      continue;
    }
    if (sign) ++i;
    while (digit(i) || ((s[i] == '.' || s[i] == ',') && digit(i + 1))) ++i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E') &&
        (digit(i + 1) || ((s[i + 1] == '-' || s[i + 1] == '+') && digit(i + 2)))) {
      i += 2;
      while (digit(i)) ++i;
    }
    out += "\xE2\x80\xA6";
  }
  return out;
}

}  // namespace

Campaign readCampaign(const std::string& path) {
  Campaign c;
  c.path = path;
  const std::string text = readFileBytes(path, "results file");
  auto refuse = [&](int line, const std::string& why) {
    return badInput(path, fmt("line %d: %s; not a results file of audiomeas batch", line, why.c_str()));
  };
  const std::size_t nl = text.rfind('\n');
  const std::size_t complete = nl == std::string::npos ? 0 : nl + 1;
  if (complete == 0)
    throw badInput(path, text.empty() ? "is empty: no header line; not a results file of audiomeas batch"
                                      : "holds no complete line: no header line; not a results file of "
                                        "audiomeas batch (or its batch has only just begun)");
  std::map<int, std::pair<int, std::size_t>> seen;  // row -> its line number and index in rows
  int lineNo = 0;
  for (std::size_t at = 0; at < complete;) {
    const std::size_t end = text.find('\n', at);
    const std::string_view line(text.data() + at, end - at);
    at = end + 1;
    ++lineNo;
    if (lineNo > 1 && line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    Json j = Json::parse(line, nullptr, false);
    if (!j.is_object()) throw refuse(lineNo, "not a JSON object");
    if (lineNo == 1) {
      const auto version = j.find("audiomeas_batch");
      if (version == j.end() || !version->is_string())
        throw refuse(1, "no header line with the version and options the batch ran with");
      if (majorOf(version->get<std::string>()) != AUDIOMEAS_VERSION_MAJOR)
        throw refuse(1, fmt("written by version %s; this tool (%s) reads the results of version %d",
                            version->get<std::string>().c_str(), AUDIOMEAS_VERSION, AUDIOMEAS_VERSION_MAJOR));
      if (!j.contains("options") || !j["options"].is_object()) throw refuse(1, "the header has no options");
      c.header = std::move(j);
      continue;
    }
    if (j.contains("audiomeas_batch"))
      throw refuse(lineNo, "a second header line: the results of two batches in one file");
    if (const std::string fault = rowLineFault(j); !fault.empty()) throw refuse(lineNo, fault);
    if (!j["measurement"].is_string() || findMeasurement(j["measurement"].get<std::string>()) == nullptr)
      throw refuse(lineNo, "\"measurement\" is none of " + measurementNames());
    const int row = j["row"].get<int>();
    const auto before = seen.find(row);
    if (before == seen.end()) {
      seen[row] = {lineNo, c.rows.size()};
      c.rows.push_back(std::move(j));
      continue;
    }
    Json& earlier = c.rows[before->second.second];
    if (asWritten(stemOf(earlier)) != asWritten(stemOf(j)))
      throw refuse(lineNo, fmt("row %d names other files or options than on line %d: the results of two "
                               "manifests in one file",
                               row, before->second.first));
    if (!earlier.value("retry", false))
      throw refuse(lineNo, fmt("row %d again, though line %d measured it", row, before->second.first));
    before->second.first = lineNo;
    earlier = std::move(j);  // the resume's measurement stands for the refused one
  }
  if (complete < text.size()) {
    if (!beginsRowLine(text.substr(complete)))
      throw badInput(path, fmt("line %d is unfinished and does not begin as a row's line; not a results "
                               "file of audiomeas batch",
                               lineNo + 1));
    c.torn = true;
  }
  std::stable_sort(c.rows.begin(), c.rows.end(),
                   [](const Json& a, const Json& b) { return a["row"].get<int>() < b["row"].get<int>(); });
  return c;
}

const std::vector<FigureEntry>& figures() {
  static const std::vector<FigureEntry> kFigures = {
      {"/total_delay_samples", "total delay", "samples", false},
      {"/sub_sample_delay_samples", "sub-sample delay", "samples", false},
      {"/drift/drift_ppm", "drift", "ppm", false},
      {"/attack_settle_time_s", "attack settle time", "s", true},
      {"/release_settle_time_s", "release settle time", "s", true},
      {"/gain_step/step_up/gain_change_db", "gain change at the step up", "dB", true},
      {"/gain_step/step_down/gain_change_db", "gain change at the step down", "dB", true},
      {"/active_level_db", "active level", "dB re 32767", false},
      {"/level_difference_db", "level difference", "dB", false},
  };
  return kFigures;
}

std::vector<std::string> reasonKeys(const Json& report) {
  std::vector<std::string> keys;
  const auto reasons = report.find("verdict_reasons");
  if (reasons == report.end() || !reasons->is_array()) return keys;
  for (const Json& r : *reasons)
    if (r.is_string()) keys.push_back(withoutNumbers(r.get<std::string>()));
  return keys;
}

CampaignSummary summarise(const Campaign& campaign) {
  CampaignSummary s;
  s.rows = campaign.rows.size();
  for (const char* status : kStatuses) s.statuses[status] = 0;
  for (const MeasurementEntry& m : measurements()) {
    MeasurementSummary ms;
    ms.measurement = &m;
    std::vector<Distribution> all(figures().size());
    for (std::size_t f = 0; f < all.size(); ++f) all[f].figure = &figures()[f];
    std::vector<bool> held(figures().size(), false);
    for (const Json& line : campaign.rows) {
      if (line["measurement"] != m.name) continue;
      ++ms.rows;
      ++s.statuses[line["status"].get<std::string>()];
      const auto result = line.find("result");
      if (result == line.end()) continue;
      ++ms.measured;
      if (const auto v = result->find("verdict"); v != result->end() && v->is_string())
        ++s.verdicts[v->get<std::string>()];
      for (const std::string& key : reasonKeys(*result)) ++s.reasons[std::string(m.name) + ": " + key];
      for (std::size_t f = 0; f < all.size(); ++f) {
        const Json::json_pointer p(figures()[f].pointer);
        if (!result->contains(p)) continue;
        held[f] = true;
        const Json& v = (*result)[p];
        if (v.is_number() && std::isfinite(v.get<double>())) {
          all[f].rows.push_back(line["row"].get<int>());
          all[f].values.push_back(v.get<double>());
        } else {
          ++all[f].missing;
        }
      }
    }
    if (ms.rows == 0) continue;
    for (std::size_t f = 0; f < all.size(); ++f) {
      if (!held[f]) continue;
      Distribution& d = all[f];
      if (!d.values.empty()) {
        d.minimum = *std::min_element(d.values.begin(), d.values.end());
        d.maximum = *std::max_element(d.values.begin(), d.values.end());
        double sum = 0;
        for (double v : d.values) sum += v;
        d.mean = sum / double(d.values.size());
        double squares = 0;
        for (double v : d.values) squares += (v - d.mean) * (v - d.mean);
        d.deviation = d.values.size() > 1 ? std::sqrt(squares / double(d.values.size() - 1)) : 0.0;
        d.median = median(d.values);
      } else {
        d.minimum = d.maximum = d.mean = d.median = d.deviation = NAN;
      }
      ms.figures.push_back(std::move(d));
    }
    s.measurements.push_back(std::move(ms));
  }
  return s;
}

Json CampaignSummary::json() const {
  Json reasonList = Json::array();
  for (const auto& [reason, count] : reasons) reasonList.push_back({{"reason", reason}, {"rows", count}});
  Json perMeasurement = Json::object();
  const auto finite = [](double v) { return std::isfinite(v) ? Json(v) : Json(); };
  for (const MeasurementSummary& m : measurements) {
    Json figureList = Json::object();
    for (const Distribution& d : m.figures) {
      const std::string key = std::string(d.figure->pointer + 1);
      figureList[key] = {{"rows", d.values.size()},      {"missing", d.missing},
                         {"minimum", finite(d.minimum)}, {"median", finite(d.median)},
                         {"mean", finite(d.mean)},       {"maximum", finite(d.maximum)},
                         {"unit", d.figure->unit}};
    }
    perMeasurement[m.measurement->name] = {
        {"rows", m.rows}, {"measured", m.measured}, {"figures", figureList}};
  }
  return Json{{"rows", rows},
              {"statuses", statuses},
              {"verdicts", verdicts},
              {"reasons", reasonList},
              {"measurements", perMeasurement}};
}

namespace {

// Writes text to path through a temporary file beside it, renamed over
// path when complete: a failed write leaves nothing behind.
void writeAtomically(const std::string& path, const std::string& text) {
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string name = dir + "." + base + ".XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw Failure(kExitOutput, path + ": cannot write: " + std::strerror(errno));
  ::flock(fd, LOCK_EX);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  auto fail = [&](int e) {
    ::close(fd);
    ::unlink(name.c_str());
    return Failure(kExitOutput, path + ": cannot write: " + std::strerror(e));
  };
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw fail(n < 0 ? errno : EIO);
    at += std::size_t(n);
  }
  if (::fsync(fd) != 0 || ::rename(name.c_str(), path.c_str()) != 0) throw fail(errno);
  if (::close(fd) != 0) throw Failure(kExitOutput, path + ": cannot write: " + std::strerror(errno));
}

}  // namespace

Json writeCampaignReport(const std::string& results, const std::string& output) {
  if (output.empty()) throw usageError("no output file for the report");
  refuseOverwrite(output, {results});
  struct stat st {};
  if (::stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw Failure(kExitOutput, output + ": is a directory");
  const Campaign campaign = readCampaign(results);
  const CampaignSummary summary = summarise(campaign);
  const std::string page = campaignPage(campaign, summary);
  writeAtomically(output, page);
  Json j = summary.json();
  j["results"] = results;
  j["output"] = output;
  j["bytes"] = page.size();
  j["torn"] = campaign.torn;
  j["version"] = campaign.header["audiomeas_batch"];
  std::string counts;
  for (const char* status : kStatuses)
    counts += fmt("%s%zu %s", counts.empty() ? "" : ", ", summary.statuses.at(status), status);
  j["text"] = fmt("report: %zu rows (%s) from %s written to %s (%.1f MB)%s", summary.rows, counts.c_str(),
                  results.c_str(), output.c_str(), double(page.size()) / 1e6,
                  campaign.torn ? "; its unfinished last line left out" : "");
  return j;
}

}  // namespace audiomeas::host
