// The campaign page: summary, figures and failed rows written here as
// HTML; the table of rows and the detail view drawn by the inline script
// from the rows embedded as JSON.
#include <cmath>
#include <map>
#include <unordered_map>

#include "batch.hpp"
#include "campaign.hpp"
#include "html.hpp"
#include "page_script.hpp"
#include "svg.hpp"

namespace audiomeas::host {

namespace {

using html::escape;

// Bytes of detail plots (the arrays of --details rows) a page holds at
// most; rows past it keep their report without plots, so that a large
// campaign of detailed rows still gives a page a browser opens.
constexpr std::size_t kPlotBudgetBytes = std::size_t(8) << 20;

// Arrays longer than this are plotted, not listed in a row's report.
constexpr std::size_t kListedValues = 65;

// Repeated text said once: every string (key or value) met more than once
// becomes "~" and its index in base 36 in a dictionary; a string of its own
// starting with "~" gets a second one. The script undoes it.
class Packer {
 public:
  void count(const Json& v) {
    if (v.is_object()) {
      for (const auto& [key, value] : v.items()) {
        ++counts_[key];
        count(value);
      }
    } else if (v.is_array()) {
      for (const Json& x : v) count(x);
    } else if (v.is_string()) {
      ++counts_[v.get_ref<const std::string&>()];
    }
  }
  // Index order: most frequent first, so that they get the shortest tokens.
  void seal() {
    std::vector<std::pair<std::size_t, const std::string*>> order;
    for (const auto& [text, n] : counts_)
      if (n > 1 && text.size() > 2) order.emplace_back(n, &text);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [n, text] : order) {
      tokens_[*text] = "~" + base36(dictionary_.size());
      dictionary_.push_back(*text);
    }
  }
  Json pack(const Json& v) const {
    if (v.is_object()) {
      Json o = Json::object();
      for (const auto& [key, value] : v.items()) o[token(key)] = pack(value);
      return o;
    }
    if (v.is_array()) {
      Json a = Json::array();
      for (const Json& x : v) a.push_back(pack(x));
      return a;
    }
    return v.is_string() ? Json(token(v.get_ref<const std::string&>())) : v;
  }
  const std::vector<std::string>& dictionary() const { return dictionary_; }

 private:
  static std::string base36(std::size_t k) {
    std::string s;
    do {
      s.insert(s.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[k % 36]);
      k /= 36;
    } while (k > 0);
    return s;
  }
  std::string token(const std::string& s) const {
    const auto t = tokens_.find(s);
    if (t != tokens_.end()) return t->second;
    return !s.empty() && s[0] == '~' ? "~" + s : s;
  }
  std::map<std::string, std::size_t> counts_;
  std::unordered_map<std::string, std::string> tokens_;
  std::vector<std::string> dictionary_;
};

// The report as listed in the detail view: long arrays said, not listed.
Json listed(const Json& v) {
  if (v.is_array() && v.size() > kListedValues) return fmt("(%zu values, plotted above)", v.size());
  if (v.is_object()) {
    Json o = Json::object();
    for (const auto& [key, value] : v.items()) o[key] = listed(value);
    return o;
  }
  if (v.is_array()) {
    Json a = Json::array();
    for (const Json& x : v) a.push_back(listed(x));
    return a;
  }
  return v;
}

double num(const Json& v) { return v.is_number() ? v.get<double>() : NAN; }

std::vector<double> numbers(const Json& v) {
  std::vector<double> out;
  if (v.is_array())
    for (const Json& x : v) out.push_back(num(x));
  return out;
}

const Json& at(const Json& v, const char* key) {
  static const Json kNull;
  if (!v.is_object()) return kNull;
  const auto it = v.find(key);
  return it == v.end() ? kNull : *it;
}

// The plots of a row's --details arrays, as plot.py draws them; "" when it
// holds none.
std::string detailPlots(const Json& r) {
  std::string out;
  const Json& c = at(r, "correlation");
  if (c.is_object()) {
    // The fine stage's lags, after the coarse move: minus the coarse shift
    // (and a pad put before the recording) they are total delays.
    const double pad = at(r, "pad_samples").is_number() ? num(at(r, "pad_samples")) : 0.0;
    const double shift = num(at(r, "coarse_shift_samples")) + pad;
    svg::LinePlot p{"cross-correlation around the peak", "total delay (samples)", "|correlation|", {}, {}};
    svg::Series s{numbers(at(c, "lag_samples")), numbers(at(c, "magnitude")), "magnitude (bin maxima)"};
    for (double& x : s.x) x -= shift;
    p.series.push_back(std::move(s));
    const std::vector<double> window = numbers(at(c, "window_lag_samples"));
    if (window.size() == 2)
      p.marks.push_back({window[0] - shift, window[1] - shift, "distinctness window", "#888", true});
    const double delay = num(at(r, "total_delay_samples"));
    p.marks.push_back({delay, delay, "peak: total delay " + html::number(delay), "#d62728", true, true});
    out += svg::linePlot(p);
  }
  const double step = num(at(r, "settle_step_s"));
  for (const char* name : {"attack", "release"}) {
    const Json& seg = at(r, name);
    if (!at(seg, "track_db").is_array()) continue;
    const std::string key = std::string(name) + "_settle_time_s";
    const double settle = num(at(r, key.c_str()));
    svg::LinePlot p{
        std::string(name) + " (" +
            (at(seg, "level_change").is_string() ? at(seg, "level_change").get<std::string>() : "?") +
            " segment): settle time " + (std::isfinite(settle) ? html::number(settle) + " s" : "none found"),
        "window start on the test signal (s)",
        "level (dB re 32767)",
        {},
        {}};
    svg::Series s{{}, numbers(at(seg, "track_db")), "smoothed level"};
    for (std::size_t k = 0; k < s.y.size(); ++k)
      s.x.push_back(num(at(seg, "first_window_s")) + step * double(k));
    const Json& band = at(seg, "steady_band");
    const double lo = num(at(band, "minimum_db")), hi = num(at(band, "maximum_db")),
                 th = num(at(band, "threshold_db"));
    p.marks.push_back({lo, hi, "steady band", "#2ca02c"});
    p.marks.push_back({th, th, "threshold " + html::number(th, 4) + " dB", "#d62728", false, true});
    const Json& pair = at(seg, "settled_pair");
    if (pair.is_array() && pair.size() == 2 && pair[0].is_number_integer()) {
      svg::Series points{{}, {}, "settled", "#d62728", false, true};
      for (std::size_t k = pair[0].get<std::size_t>(), e = k + 2; k < e && k < s.y.size(); ++k) {
        points.x.push_back(s.x[k]);
        points.y.push_back(s.y[k]);
      }
      p.series.push_back(std::move(s));
      p.series.push_back(std::move(points));
    } else {
      p.series.push_back(std::move(s));
    }
    out += svg::linePlot(p);
  }
  const Json& fr = at(r, "frames");
  if (fr.is_object()) {
    const double frame = num(at(r, "frame_length_samples")) / num(at(r, "sample_rate"));
    svg::LinePlot p{"frame levels and classes", "time (s)", "level (dB re 32767)", {}, {}};
    svg::Series presence{{}, numbers(at(fr, "presence_smoothed_db")), "presence (smoothed)", "#1f77b4", true};
    svg::Series activity{{}, numbers(at(fr, "activity_smoothed_db")), "activity (smoothed)", "#ff7f0e", true};
    for (std::size_t k = 0; k < presence.y.size(); ++k) presence.x.push_back(frame * double(k));
    activity.x = presence.x;
    activity.x.resize(activity.y.size(), NAN);
    // Runs of one class as spans, coloured by class name.
    const Json& classes = at(fr, "frame_classes");
    const Json& cls = at(fr, "frame_class");
    static const std::map<std::string, const char*> kColours = {{"active", "#2ca02c"}, {"noise", "#7f7f7f"}};
    std::map<std::string, bool> labelled;
    for (std::size_t k = 0; cls.is_array() && k < cls.size();) {
      std::size_t e = k + 1;
      while (e < cls.size() && cls[e] == cls[k]) ++e;
      const std::size_t index = cls[k].is_number_unsigned() ? cls[k].get<std::size_t>() : 0;
      const std::string name = classes.is_array() && index < classes.size() && classes[index].is_string()
                                   ? classes[index].get<std::string>()
                                   : "";
      if (const auto colour = kColours.find(name); colour != kColours.end()) {
        const bool first = !labelled[name];
        labelled[name] = true;
        p.marks.push_back(
            {frame * double(k), frame * double(e), first ? name + " frames" : "", colour->second, true});
      }
      k = e;
    }
    const double active = num(at(r, "active_level_db")), noise = num(at(r, "noise_level_db"));
    p.marks.push_back(
        {active, active, "active level " + html::number(active, 4) + " dB", "#000", false, true});
    if (std::isfinite(noise))
      p.marks.push_back(
          {noise, noise, "noise level " + html::number(noise, 4) + " dB", "#d62728", false, true});
    p.series.push_back(std::move(presence));
    p.series.push_back(std::move(activity));
    out += svg::linePlot(p);
  }
  return out;
}

// "total delay 1260 samples · drift 0 ppm" and the first of them, for the table.
std::pair<std::string, double> keyFigures(const Json& r) {
  std::string text;
  double first = NAN;
  bool any = false;
  for (const FigureEntry& f : figures()) {
    const Json::json_pointer p(f.pointer);
    if (!r.contains(p)) continue;
    const Json& v = r[p];
    if (!any) first = num(v);
    any = true;
    text += (text.empty() ? "" : " \xC2\xB7 ") + std::string(f.label) + " " +
            (v.is_number() ? html::number(v.get<double>()) + " " + f.unit : "none");
  }
  return {text, first};
}

std::string joined(const Json& list, const char* separator) {
  std::string s;
  if (list.is_array())
    for (const Json& x : list)
      if (x.is_string()) s += (s.empty() ? "" : separator) + x.get<std::string>();
  return s;
}

std::string countTable(const char* id, const char* what,
                       const std::vector<std::pair<std::string, std::size_t>>& counts) {
  std::string s = fmt(
      R"(<table id="%s" class="counts"><thead><tr><th>%s</th><th>rows</th></tr></thead><tbody>)", id, what);
  for (const auto& [name, n] : counts)
    s += "<tr><td>" + escape(name) +
         fmt(R"(</td><td class="n" data-key="%s">%zu</td></tr>)", escape(name).c_str(), n);
  return s + "</tbody></table>";
}

std::string summarySection(const CampaignSummary& s) {
  std::vector<std::pair<std::string, std::size_t>> statuses, verdicts, reasons;
  for (const char* st : kStatuses) statuses.emplace_back(st, s.statuses.count(st) ? s.statuses.at(st) : 0);
  for (const auto& v : s.verdicts) verdicts.push_back(v);
  for (const auto& v : s.reasons) reasons.push_back(v);
  std::stable_sort(reasons.begin(), reasons.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string out = R"(<section id="summary"><h2>Summary</h2><div class="side">)";
  out += countTable("status-counts", "status", statuses);
  out += countTable("verdict-counts", "overall verdict", verdicts);
  out += "</div>";
  out += reasons.empty()
             ? "<p>No reason stands against any verdict.</p>"
             : countTable("reason-counts", "reason against the verdict (numbers left out)", reasons);
  return out + "</section>";
}

std::string figureSection(const CampaignSummary& s, const Campaign& c) {
  std::map<int, const Json*> byRow;
  for (const Json& line : c.rows) byRow[line["row"].get<int>()] = &line;
  std::string out = R"(<section id="figures"><h2>Per measurement</h2>)";
  for (const MeasurementSummary& m : s.measurements) {
    out += fmt(R"(<h3 id="m-%s">)", escape(m.measurement->name).c_str()) + escape(m.measurement->name) +
           " (" + escape(m.measurement->library) +
           fmt("): %zu row%s, %zu measured</h3>", m.rows, m.rows == 1 ? "" : "s", m.measured);
    for (const Distribution& d : m.figures) {
      const std::string label = std::string(d.figure->label) + " (" + d.figure->unit + ")";
      std::string plot;
      if (d.figure->perRow) {
        std::vector<std::string> tips;
        for (std::size_t i = 0; i < d.rows.size(); ++i)
          tips.push_back(fmt("row %d: ", d.rows[i]) + joined(at(*byRow[d.rows[i]], "files"), ", ") + ": " +
                         html::number(d.values[i]) + " " + d.figure->unit);
        plot = svg::stripPlot(d.rows, d.values, tips, std::string(d.figure->label) + " per row", label);
      } else {
        plot = svg::histogram(d.values, std::string(d.figure->label) + " over the rows", label);
      }
      out += R"(<div class="figure">)" + plot + R"(<table class="stats"><tbody>)";
      const std::pair<const char*, std::string> stats[] = {
          {"rows with a value", std::to_string(d.values.size())},
          {"rows without (null)", std::to_string(d.missing)},
          {"minimum", html::number(d.minimum)},
          {"median", html::number(d.median)},
          {"mean", html::number(d.mean)},
          {"maximum", html::number(d.maximum)},
          {"standard deviation", html::number(d.deviation)},
          {"unit", d.figure->unit}};
      for (const auto& [name, value] : stats)
        out += "<tr><th>" + escape(name) + "</th><td>" + escape(value) + "</td></tr>";
      out += "</tbody></table></div>";
    }
  }
  return out + "</section>";
}

std::string failedSection(const Campaign& c) {
  std::string rows;
  std::size_t n = 0;
  for (const Json& line : c.rows) {
    if (line["status"] != kStatusError) continue;
    ++n;
    rows += fmt("<tr><td>%d</td><td>", line["row"].get<int>()) +
            escape(line["measurement"].get<std::string>()) + "</td><td>" +
            escape(joined(line["files"], ", ")) + "</td><td>" + escape(line["error"].get<std::string>()) +
            (line.value("retry", false) ? " <em>(memory refused it: --resume measures it again)</em>" : "") +
            "</td></tr>";
  }
  std::string out = R"(<section id="failed"><h2>Failed rows</h2>)";
  if (n == 0) return out + "<p>No row failed.</p></section>";
  return out +
         R"(<table class="list"><thead><tr><th>row</th><th>measurement</th><th>files</th><th>error</th></tr></thead><tbody>)" +
         rows + "</tbody></table></section>";
}

std::string optionsSection(const Campaign& c) {
  std::string out = R"(<section id="options"><h2>How the batch ran</h2><table class="list"><tbody>)";
  out +=
      "<tr><th>tool version</th><td>" + escape(c.header["audiomeas_batch"].get<std::string>()) + "</td></tr>";
  for (const auto& [key, value] : c.header["options"].items())
    out += "<tr><th>" + escape(key) + "</th><td>" + escape(value.is_null() ? "none" : asWritten(value)) +
           "</td></tr>";
  return out + "</tbody></table></section>";
}

// The rows for the script, packed, and each row's detail plots as inert
// templates.
std::pair<std::string, std::string> rowData(const Campaign& c) {
  Json rows = Json::array();
  std::string templates;
  std::size_t plotBytes = 0, leftOut = 0;
  for (const Json& line : c.rows) {
    const int row = line["row"].get<int>();
    const Json& r = at(line, "result");
    const auto [figureText, key] = keyFigures(r);
    std::string plots = r.is_object() ? detailPlots(r) : "";
    bool plotted = !plots.empty();
    if (plotted && plotBytes + plots.size() > kPlotBudgetBytes) {
      plotted = false;
      ++leftOut;
    }
    if (plotted) {
      plotBytes += plots.size();
      templates += fmt(R"(<template id="plots-%d">)", row) + plots + "</template>\n";
    }
    Json entry = {row,
                  line["measurement"],
                  line["files"].is_array() ? line["files"] : Json(joined(line["files"], ", ")),
                  line["status"],
                  r.is_object() ? at(r, "verdict") : Json("error"),
                  std::isfinite(key) ? Json(key) : Json(),
                  figureText,
                  r.is_object() ? Json(joined(at(r, "verdict_reasons"), "; ")) : line["error"],
                  plotted          ? 1
                  : !plots.empty() ? 2
                                   : 0,
                  listed(line)};
    rows.push_back(std::move(entry));
  }
  Packer packer;
  packer.count(rows);
  packer.seal();
  const Json data = {
      {"strings", packer.dictionary()}, {"rows", packer.pack(rows)}, {"plots_left_out", leftOut}};
  return {html::scriptJson(asWritten(data)), templates};
}

}  // namespace

std::string campaignPage(const Campaign& c, const CampaignSummary& s) {
  const std::string version = c.header["audiomeas_batch"].get<std::string>();
  std::string page = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:">
<title>Campaign report: )" +
                     escape(c.path) + "</title><style>" + kPageStyle + "</style></head><body>\n";
  page += "<header><h1>Campaign report</h1><p>" + escape(c.path) +
          fmt(": %zu rows, written by audiomeas ", s.rows) + escape(version) + "</p>";
  if (c.torn)
    page +=
        R"(<p class="note" id="torn-note">The results file ends in an unfinished line (its batch may still be running, )"
        R"(or was stopped): this page shows its complete lines only.</p>)";
  page +=
      R"(<nav><a href="#summary">summary</a> <a href="#figures">per measurement</a> <a href="#rows">all rows</a> )"
      R"(<a href="#failed">failed rows</a> <a href="#options">options</a></nav></header>)"
      "\n";
  page += summarySection(s) + "\n" + figureSection(s, c) + "\n";
  page += R"(<section id="rows"><h2>All rows</h2><div class="controls"><fieldset><legend>status</legend>)";
  for (const char* st : kStatuses)
    page +=
        fmt(R"(<label><input type="checkbox" class="status-filter" value="%s" checked> %s</label> )", st, st);
  page +=
      R"(</fieldset><label>text <input type="search" id="text-filter" placeholder="file, reason, figure..."></label>)"
      R"(<span id="shown" aria-live="polite"></span><button type="button" id="previous-page">previous page</button>)"
      R"(<button type="button" id="next-page">next page</button></div>)"
      R"(<table id="row-table" class="list"><thead><tr>)";
  for (const char* column :
       {"row", "measurement", "files", "status", "verdict", "key figures", "reasons or error"})
    page += fmt(R"(<th tabindex="0" aria-sort="none">%s</th>)", column);
  page +=
      "</tr></thead><tbody></tbody></table>"
      R"(<p class="hint">Click a column's header (or press Enter or Space on it) to sort; click a file name to open the row.</p>)"
      R"(</section>)"
      "\n"
      R"(<section id="detail" hidden><h2 tabindex="-1">Row</h2><button type="button" id="close-detail">close</button><div id="detail-body"></div></section>)"
      "\n";
  page += failedSection(c) + "\n" + optionsSection(c) + "\n";
  const auto [json, templates] = rowData(c);
  page += R"(<script type="application/json" id="campaign-data">)" + json + "</script>\n" + templates;
  page += std::string("<script>") + kPageScript + "</script>\n</body></html>\n";
  return page;
}

}  // namespace audiomeas::host
