#include "measurements.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "align_window.hpp"
#include "envelo_estimation.hpp"
#include "generate.hpp"
#include "memory.hpp"
#include "text.hpp"

namespace audiomeas::host {

const OptionEntry kDetailsOption{"details",
                                 "--details",
                                 OptionType::kFlag,
                                 0.0,
                                 0.0,
                                 1.0,
                                 "",
                                 "add the arrays behind the result (tracks, frames, correlation) to the JSON",
                                 [](Options& o, double v) { o.details = v != 0.0; },
                                 [](const Options& o) { return o.details ? 1.0 : 0.0; }};

const OptionEntry kWindowOption{
    "window_s",
    "--window",
    OptionType::kNumber,
    0.0,
    0.0,
    1e9,
    "s",
    "find the delay on the first SECONDS of both signals and apply it to the whole "
    "recording (memory grows with the window; assumes a constant delay); 0: all of "
    "them, else at least " AUDIOMEAS_MIN_WINDOW_TEXT " s",
    [](Options& o, double v) {
      // The table's limits hold one range; 0 stands apart from it.
      if (!windowAccepted(v))
        throw usageError(
            fmt("%s (%s): %g s is too short to align on; "
                "give 0 (no window) or at least %g s",
                kWindowOption.key, kWindowOption.flag, v, kMinWindowSeconds));
      o.windowSeconds = v;
    },
    [](const Options& o) { return o.windowSeconds; }};

const OptionEntry kResampleOption{
    "resample",
    "--no-resample",
    OptionType::kFlag,
    1.0,
    0.0,
    1.0,
    "",
    "an input at another sample rate than the measurement's (a fixed one, else the first input's) is "
    "converted to it (libsoxr, very high quality); turned off, it is refused",
    [](Options& o, double v) { o.resample = v != 0.0; },
    [](const Options& o) { return o.resample ? 1.0 : 0.0; }};

namespace {

// ---- options ----

const OptionEntry kLibraryOutput{"library_output",
                                 "--library-output",
                                 OptionType::kFlag,
                                 0.0,
                                 0.0,
                                 1.0,
                                 "",
                                 "give synkro_2's own aligned array (which can lose samples that the coarse "
                                 "move pushed out) instead of the recording moved by the total delay",
                                 [](Options& o, double v) { o.libraryOutput = v != 0.0; },
                                 [](const Options& o) { return o.libraryOutput ? 1.0 : 0.0; }};

const OptionEntry kPad{"pad_samples",
                       "--pad",
                       OptionType::kInteger,
                       double(kDefaultPadSamples),
                       0.0,
                       envelo::kMaxDelay,
                       "samples",
                       "zeros put before the recording, so that a device without latency can be measured; "
                       "the delay is reported net of them",
                       [](Options& o, double v) { o.padSamples = static_cast<std::int64_t>(v); },
                       [](const Options& o) { return double(o.padSamples); }};

// Channels are chosen per job, for every measurement alike.
constexpr int kMaxChannel = INT_MAX;

// ---- text ----

std::string number(const Json& v, const char* format) {
  return v.is_number() ? fmt(format, v.get<double>()) : std::string("none");
}

std::string line(const char* label, const std::string& text) {
  return fmt("%-16s %s\n", label, text.c_str());
}

std::string files(const Json& r) {
  std::string s;
  const MeasurementEntry* m = findMeasurement(r.value("measurement", ""));
  if (m == nullptr) return s;
  for (const ArgumentEntry& a : m->arguments)
    if (r.contains(a.name) && r[a.name].is_string()) s += line(a.name, r[a.name].get<std::string>());
  return s;
}

// The overall verdict first, with every reason behind it; the library's
// own flag is among them when raised.
std::string verdict(const Json& r) {
  const std::string word = r.value("verdict", std::string());
  const bool good = r["verdict_reasons"].empty();
  std::string s = line("verdict", good ? word : word == kVerdictFlagged ? "FLAGGED" : "DOUBTFUL");
  for (const Json& reason : r["verdict_reasons"]) s += line("reason", reason.get<std::string>());
  return s;
}

bool flagged(const Json& r) { return r.value("verdict", std::string()) == kVerdictFlagged; }

// A signed delay in words: "1200 samples later", "in place".
std::string moved(double samples) {
  if (samples == 0.0) return "in place";
  return fmt("%.0f samples %s", std::fabs(samples), samples > 0.0 ? "later" : "earlier");
}

// The total delay and the arithmetic that gave it, in the order it was
// applied: the coarse stage moved the recording, the correlation found what
// was left, and a pad put before the recording is taken off again. A
// flagged result gives the figure as computed, never as a finding.
std::string delay(const Json& r) {
  const double total = r["total_delay_samples"].get<double>();
  const double coarse = r["coarse_shift_samples"].get<double>();
  const double fine = r["fine_lag_samples"].get<double>();
  const double pad = r.contains("pad_samples") ? r["pad_samples"].get<double>() : 0.0;
  if (flagged(r))
    return line("total delay",
                fmt("none found: the correlation's strongest peak gives %.0f samples, which the "
                    "verdict does not trust",
                    total));
  std::string s =
      line("total delay", fmt("%.0f samples (%s ms): %s", total, number(r["total_delay_ms"], "%.3f").c_str(),
                              r["delay_direction"].get<std::string>().c_str()));
  s += line("", fmt("= fine lag - coarse shift%s = %.0f - (%.0f)%s", pad != 0.0 ? " - pad" : "", fine, coarse,
                    pad != 0.0 ? fmt(" - %.0f", pad).c_str() : ""));
  std::string how =
      fmt("the coarse stage found the recording %s (activity onsets, in whole blocks of %s) "
          "and moved it back; the correlation then found it %s",
          moved(-coarse).c_str(), number(r["onsets"]["block_length_samples"], "%.0f").c_str(),
          moved(fine).c_str());
  if (pad != 0.0) how += fmt("; less the %.0f zeros put before it", pad);
  s += line("", how);
  return s;
}

// A second correlation peak, when the report has one.
std::string repeat(const Json& r) {
  if (!r.contains("second_peak") || !r["second_peak"].is_object()) return "";
  const Json& p = r["second_peak"];
  return line("second peak",
              fmt("%.3f of the main one, %.0f samples (%.3f s) away%s", p["ratio"].get<double>(),
                  p["distance_samples"].get<double>(), p["distance_s"].get<double>(),
                  p["ambiguous"].get<bool>() ? ": AMBIGUOUS" : ""));
}

// The host's second opinion, printed under the library's verdict, which it
// never replaces.
std::string opinion(const Json& r) {
  if (!r.contains("match")) return "";
  const Json& m = r["match"];
  const char* polarity = m["polarity"] == "inverted" ? ", polarity inverted" : "";
  std::string s =
      line("match",
           fmt("%s%s (host's opinion: coefficient %s, residual %s over %s samples)",
               m["opinion"].get<std::string>().c_str(), polarity, number(m["coefficient"], "%.5f").c_str(),
               number(m["residual_db"], "%.1f dB").c_str(), number(m["overlap_samples"], "%.0f").c_str()));
  if (!r.contains("drift") || flagged(r)) return s;
  s += line("sub-sample delay",
            fmt("%s samples (%s ms)", number(r["sub_sample_delay_samples"], "%.3f").c_str(),
                number(r["sub_sample_delay_ms"], "%.4f").c_str()));
  const Json& d = r["drift"];
  if (!d["drift_ppm"].is_number())
    return s + line("drift", "not measured: " + d["reason"].get<std::string>());
  const std::string limit =
      fmt(d["flagged"].get<bool>() ? "FLAGGED: above %g ppm" : "within %g ppm", d["limit_ppm"].get<double>());
  return s + line("drift",
                  fmt("%s ppm (%s; delay %s samples at %s, %s at %s)", number(d["drift_ppm"], "%.1f").c_str(),
                      limit.c_str(), number(d["start"]["delay_samples"], "%.2f").c_str(),
                      number(d["start"]["centre_s"], "%.1f s").c_str(),
                      number(d["end"]["delay_samples"], "%.2f").c_str(),
                      number(d["end"]["centre_s"], "%.1f s").c_str()));
}

// ---- align (synkro) ----

double alignWorkBytes(const std::vector<long long>& lengths, long long window) {
  const double n = lengths.empty() ? 0.0 : double(std::max(0LL, lengths[0]));
  const double seen = window > 0 ? std::min(n, double(window)) : n;
  // The host's aligned recording (n doubles) beside the library's arrays.
  return n * sizeof(double) + synkroWorkBytes(seen);
}

std::string describeAlign(const Json& r) {
  std::string s = verdict(r) + delay(r) + opinion(r) + repeat(r) + files(r);
  if (r.contains("aligned_output") && r["aligned_output"].is_string())
    s += line("written", r["aligned_output"].get<std::string>() +
                             (flagged(r) ? " (NOT aligned: the verdict is flagged)" : ""));
  return s;
}

// ---- attack-release (envelo) ----

double attackReleaseWorkBytes(const std::vector<long long>& lengths, long long) {
  // The recording is copied behind its pad of zeros (a few thousand).
  const double m = lengths.size() > 1 ? double(std::max(0LL, lengths[1])) : 0.0;
  return m * sizeof(double) + kEnveloWorkBytes;
}

// A settle time counts from its segment's first window (0.2 s after the step
// up, 0.4 s after the step down): it is the start of the second of the two
// settled windows, first_window_s + time on the test signal's time line.
std::string settle(const Json& r, const char* field, const char* segment, const char* step,
                   long long stepSample) {
  const Json& time = r[field];
  const double first = r[segment]["first_window_s"].get<double>();
  const double at = double(stepSample) / kStimulusRate;
  std::string s = number(time, "%.1f s") +
                  fmt(" from %.1f s (the %s segment's first window, %.1f s after the step %s at %g s)", first,
                      r[segment]["level_change"].get<std::string>().c_str(), first - at, step, at);
  if (time.is_number()) s += fmt("; settled at %.1f s", first + time.get<double>());
  return s;
}

// The level step the device passed, and the note when it showed no gain change.
std::string gainStep(const Json& r) {
  if (!r.contains("gain_step") || !r["gain_step"].is_object()) return "";
  const Json& g = r["gain_step"];
  auto step = [](const Json& s) {
    return fmt("%s dB passed as %s dB (gain change %s dB, ratio %s)",
               number(s["test_signal_step_db"], "%.1f").c_str(),
               number(s["recording_step_db"], "%.1f").c_str(), number(s["gain_change_db"], "%+.1f").c_str(),
               number(s["compression_ratio"], "%.2f").c_str());
  };
  std::string s = line("gain step up", step(g["step_up"])) + line("gain step down", step(g["step_down"]));
  // Its note is among the verdict's reasons, printed first.
  return s;
}

std::string describeAttackRelease(const Json& r) {
  return verdict(r) +
         line("attack settle", settle(r, "attack_settle_time_s", "attack", "up", kStepUpSample)) +
         line("release settle", settle(r, "release_settle_time_s", "release", "down", kStepDownSample)) +
         gainStep(r) + opinion(r) + delay(r) + repeat(r) + files(r);
}

// ---- transient-snr (burstra) ----

double transientSnrWorkBytes(const std::vector<long long>&, long long) { return kBurstraWorkBytes; }

std::string describeTransientSnr(const Json& r) {
  std::string s =
      line("active level", number(r["active_level_db"], "%.2f dB re RMS 32767 (noise-corrected)"));
  s += line("difference", number(r["level_difference_db"], "%.2f dB (rest minus active)"));
  s = verdict(r) + s;
  for (const Json& c : r["checks"])
    if (!c["passed"].get<bool>())
      s += line("check", fmt("%s: value %s, limit %s", c["test"].get<std::string>().c_str(),
                             number(c["value"], "%.6g").c_str(), number(c["limit"], "%.6g").c_str()));
  s += line("frames",
            fmt("%s active, %s noise (of %s, %s samples each)", number(r["active_frames"], "%.0f").c_str(),
                number(r["noise_frames"], "%.0f").c_str(), number(r["frame_count"], "%.0f").c_str(),
                number(r["frame_length_samples"], "%.0f").c_str()));
  return s + files(r);
}

}  // namespace

const std::vector<MeasurementEntry>& measurements() {
  static const std::vector<MeasurementEntry> kTable{
      {"align",
       "synkro",
       "match RECORDING to REFERENCE (synkro): total delay, its coarse and fine parts, verdict",
       {{"reference", "reference signal"}, {"recording", "recording to match"}},
       {&kWindowOption, &kLibraryOutput, &kResampleOption, &kDetailsOption},
       Scale::kUnit,
       0.0,
       "alignment_failed",
       false,
       "aligned",
       "align on the first part only (--window SECONDS; window_s in Python and in manifests), or use a "
       "machine with more memory",
       "sub_sample_delay_samples",
       alignWorkBytes,
       [](Signals s, double rate, const Options& o) { return align(s[0], s[1], rate, o); },
       [](const std::vector<const SampleSource*>& s, double rate, const Options& o) {
         return align(*s[0], *s[1], rate, o, false);
       },
       describeAlign},
      {"attack-release",
       "envelo",
       "settle times after the level steps of the 115.5 s test signal (envelo), 48 kHz, 16-bit scale",
       {{"reference", "the test signal (115.5 s at 48 kHz; `audiomeas generate attack-release` writes it)"},
        {"recording", "its recording through the device, covering the test signal after its delay"}},
       {&kPad, &kResampleOption, &kDetailsOption},
       Scale::kInt16,
       double(envelo::kSampleRate),
       "alignment_failed",
       true,
       nullptr,
       "use shorter recordings or a machine with more memory",
       nullptr,
       attackReleaseWorkBytes,
       [](Signals s, double rate, const Options& o) { return attackRelease(s[0], s[1], rate, o); },
       nullptr,
       describeAttackRelease},
      {"transient-snr",
       "burstra",
       "noise-corrected level of the active part and level difference (burstra), 16-bit scale",
       {{"presence", "presence signal (its length sets the 5 ms frames)"},
        {"activity", "activity signal (active above -30 dB)"},
        {"measured", "the signal whose levels are reported"}},
       {&kResampleOption, &kDetailsOption},
       Scale::kInt16,
       0.0,
       "warning",
       false,
       nullptr,
       "use shorter recordings or a machine with more memory",
       nullptr,
       transientSnrWorkBytes,
       [](Signals s, double rate, const Options& o) { return transientSnr(s[0], s[1], s[2], rate, o); },
       nullptr,
       describeTransientSnr},
  };
  return kTable;
}

const MeasurementEntry* findMeasurement(std::string_view name) {
  for (const MeasurementEntry& m : measurements())
    if (name == m.name) return &m;
  return nullptr;
}

std::string measurementNames() {
  const auto& all = measurements();
  std::string s;
  for (size_t i = 0; i < all.size(); ++i)
    s += std::string(i == 0 ? "" : i + 1 == all.size() ? " or " : ", ") + all[i].name;
  return s;
}

const MeasurementEntry& measurementNamed(std::string_view name) {
  const MeasurementEntry* m = findMeasurement(name);
  if (m == nullptr)
    throw usageError("unknown measurement '" + std::string(name) + "' (" + measurementNames() + ")");
  return *m;
}

std::vector<const OptionEntry*> allOptions() {
  std::vector<const OptionEntry*> all;
  for (const MeasurementEntry& m : measurements())
    for (const OptionEntry* o : m.options)
      if (std::find(all.begin(), all.end(), o) == all.end()) all.push_back(o);
  return all;
}

const OptionEntry* findOption(std::string_view key) {
  for (const OptionEntry* o : allOptions())
    if (key == o->key) return o;
  return nullptr;
}

bool takesOption(const MeasurementEntry& m, const OptionEntry& o) {
  return std::find(m.options.begin(), m.options.end(), &o) != m.options.end();
}

void checkOptionValue(const OptionEntry& o, double value, const std::string& where) {
  const bool whole = o.type != OptionType::kNumber;
  if (!std::isfinite(value) || (whole && value != std::floor(value)) || value < o.minimum ||
      value > o.maximum) {
    const char* kind = o.type == OptionType::kFlag      ? "0 or 1 (false or true)"
                       : o.type == OptionType::kInteger ? "a whole number"
                                                        : "a number";
    throw usageError(fmt("%s: %.17g is not %s from %.17g to %.17g%s%s", where.c_str(), value, kind, o.minimum,
                         o.maximum, *o.unit != '\0' ? " " : "", o.unit));
  }
}

void setOption(const OptionEntry& o, const Json& value, Options& options, const std::string& where) {
  if (!value.is_number() && !value.is_boolean())
    throw usageError(fmt("%s is %s, not a value", where.c_str(), value.dump().c_str()));
  const double v = value.is_boolean() ? double(value.get<bool>()) : value.get<double>();
  checkOptionValue(o, v, where);
  o.set(options, v);
}

int channelFromJson(const Json& value, const std::string& where) {
  if (value.is_null()) return 0;
  if (value.is_string() && value.get<std::string>() == kAllChannelsWord) return kAllChannels;
  // A boolean is no number here (JSON's true is not channel 1); the range is
  // checked on the double before the cast to int.
  const double v = value.is_number() ? value.get<double>() : -1.0;
  if (v != std::floor(v) || v < 0.0 || v > double(kMaxChannel))
    throw usageError(fmt("%s is %s, not a channel 1..%d or \"%s\"", where.c_str(), value.dump().c_str(),
                         kMaxChannel, kAllChannelsWord));
  return static_cast<int>(v);
}

int threadsFromJson(const Json& value, const std::string& where) {
  const double v = value.is_number() ? value.get<double>() : -1.0;
  if (v != std::floor(v) || v < 0.0 || v > double(kMaxThreads))
    throw usageError(fmt("%s is %s, not a thread count 0..%d (0: the machine's cores)", where.c_str(),
                         value.dump().c_str(), kMaxThreads));
  return static_cast<int>(v);
}

int channelFromText(const std::string& text, const std::string& where) {
  if (text == kAllChannelsWord) return kAllChannels;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < 1 || v > kMaxChannel)
    throw usageError(fmt("%s is '%s', not a channel 1..%d or %s", where.c_str(), text.c_str(), kMaxChannel,
                         kAllChannelsWord));
  return static_cast<int>(v);
}

Json channelJson(int channel) {
  if (channel == kAllChannels) return kAllChannelsWord;
  return channel > 0 ? Json(channel) : Json();
}

namespace {

Json valueJson(const OptionEntry& o, double v) {
  switch (o.type) {
    case OptionType::kFlag:
      return Json(v != 0.0);
    case OptionType::kInteger:
      return Json(static_cast<std::int64_t>(v));
    case OptionType::kNumber:
      break;
  }
  return Json(v);
}

const char* typeName(OptionType t) {
  switch (t) {
    case OptionType::kFlag:
      return "flag";
    case OptionType::kInteger:
      return "integer";
    case OptionType::kNumber:
      break;
  }
  return "number";
}

}  // namespace

Json optionsJson(const Options& options, const MeasurementEntry* m) {
  Json j = Json::object();
  for (const OptionEntry* o : m != nullptr ? m->options : allOptions())
    j[o->key] = valueJson(*o, o->get(options));
  return j;
}

Json measurementTableJson() {
  Json table = Json::object();
  for (const MeasurementEntry& m : measurements()) {
    Json arguments = Json::array(), options = Json::array();
    for (const ArgumentEntry& a : m.arguments) arguments.push_back({{"name", a.name}, {"help", a.help}});
    for (const OptionEntry* o : m.options)
      options.push_back({{"key", o->key},
                         {"flag", o->flag},
                         {"type", typeName(o->type)},
                         {"default", valueJson(*o, o->defaultValue)},
                         {"minimum", valueJson(*o, o->minimum)},
                         {"maximum", valueJson(*o, o->maximum)},
                         {"unit", o->unit},
                         {"help", o->help}});
    table[m.name] = {{"library", m.library},
                     {"summary", m.summary},
                     {"arguments", std::move(arguments)},
                     {"options", std::move(options)},
                     {"scale", m.scale == Scale::kUnit ? "unit" : "int16"},
                     {"fixed_rate", m.fixedRate > 0.0 ? Json(m.fixedRate) : Json()},
                     {"flag", m.flag},
                     {"one_at_a_time", m.oneAtATime},
                     {"signal_out", m.signalOut != nullptr ? Json(m.signalOut) : Json()}};
  }
  return Json{{"measurements", std::move(table)},
              {"sample_rates_key", kSampleRatesKey},
              {"channel",
               {{"minimum", 1}, {"maximum", kMaxChannel}, {"all", kAllChannelsWord}, {"help", kChannelHelp}}},
              {"threads",
               {{"key", kThreadsKey},
                {"flag", kThreadsFlag},
                {"type", typeName(OptionType::kInteger)},
                {"unit", "threads"},
                {"default", kMachineThreads},
                {"minimum", 0},
                {"maximum", kMaxThreads},
                {"help", kThreadsHelp}}}};
}

}  // namespace audiomeas::host
