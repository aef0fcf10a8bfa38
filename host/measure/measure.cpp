#include "measure.hpp"

#include <algorithm>
#include <cmath>

#include "audio_io.hpp"
#include "memory.hpp"
#include "text.hpp"

namespace audiomeas::host {

const std::vector<MeasurementKind>& measurementKinds() {
  static const std::vector<MeasurementKind> kKinds{{"align", {"reference", "recording"}},
                                                   {"attack-release", {"reference", "recording"}},
                                                   {"transient-snr", {"presence", "activity", "measured"}}};
  return kKinds;
}

namespace {

const MeasurementKind* kindOf(const std::string& name) {
  for (const MeasurementKind& k : measurementKinds())
    if (name == k.name) return &k;
  return nullptr;
}

void requireSameRate(const Signal& first, const Signal& other) {
  if (other.sampleRate != first.sampleRate)
    throw badInput(other.path, fmt("sample rate %d Hz differs from %d Hz of %s", other.sampleRate,
                                   first.sampleRate, first.path.c_str()));
}

// A check of the host layer names an argument; the user knows the file.
Failure inFile(const InputError& e, const MeasurementKind& kind, const std::vector<Signal>& signals,
               int channel) {
  if (e.argument() == "pad_samples" || e.argument() == "window") return usageError(e.what());
  size_t i = 0;  // the sample rate is the first file's
  for (size_t k = 0; k < kind.arguments.size(); ++k)
    if (e.argument() == kind.arguments[k]) i = k;
  const Signal& s = signals[i];
  std::string where = s.path;
  if (s.channels > 1) where += fmt(" (channel %d)", channel);
  return badInput(where, e.detail());
}

}  // namespace

bool isMeasurement(const std::string& name) { return kindOf(name) != nullptr; }

size_t fileCount(const std::string& measurement) {
  const MeasurementKind* k = kindOf(measurement);
  return k != nullptr ? k->arguments.size() : 0;
}

JobSize sizeOf(const Job& job) {
  JobSize size;
  std::vector<long long> lengths;
  int rate = 0;
  for (const std::string& f : job.files) {
    long long frames = 0;
    try {
      const AudioInfo info = probeAudio(f);
      frames = info.frames;
      if (rate == 0) rate = info.sampleRate;
    } catch (const Failure&) {
      size.complete = false;
    }
    lengths.push_back(frames);
    size.inputs +=
        (size.inputs.empty() ? "" : ", ") + f + fmt(" (%.1f s)", rate > 0 ? double(frames) / rate : 0.0);
  }
  size.seconds = rate > 0 && !lengths.empty() ? double(lengths.front()) / rate : 0.0;
  // Any window a job may carry (negative, NaN, huge) converts safely; align refuses the unfit.
  const double window = job.options.windowSeconds * rate;
  size.peakBytes = estimatePeakBytes(job.measurement, lengths,
                                     window > 0.0 && window < 9.2e18 ? static_cast<long long>(window) : 0);
  return size;
}

Outcome runJob(const Job& job) {
  const MeasurementKind* kind = kindOf(job.measurement);
  if (kind == nullptr) throw usageError("unknown measurement '" + job.measurement + "'");
  if (job.files.size() != kind->arguments.size())
    throw usageError(
        fmt("%s takes %zu files, %zu given", kind->name, kind->arguments.size(), job.files.size()));
  const bool align = job.measurement == "align";
  // An unusable output name is a usage error, found before any work.
  if (align && !job.alignedOutput.empty()) outputFormat(job.alignedOutput, 0);
  if (!job.memoryAdmitted) {
    const JobSize size = sizeOf(job);
    if (size.complete) requireMemory(job.measurement, size.peakBytes, size.inputs);
  }

  // align works at full scale 1.0, the others at the 16-bit scale.
  const Scale scale = align ? Scale::kUnit : Scale::kInt16;
  std::vector<Signal> signals;
  for (const std::string& f : job.files) {
    signals.push_back(readAudio(f, job.channel, scale));
    requireSameRate(signals.front(), signals.back());
  }
  const double rate = signals.front().sampleRate;

  Measurement m;
  try {
    if (align) {
      m = host::align(signals[0].samples, signals[1].samples, rate, job.options);
    } else if (job.measurement == "attack-release") {
      m = attackRelease(signals[0].samples, signals[1].samples, rate, job.options);
    } else {
      m = transientSnr(signals[0].samples, signals[1].samples, signals[2].samples, rate, job.options);
    }
  } catch (const InputError& e) {
    throw inFile(e, *kind, signals, job.channel);
  }

  Outcome o;
  o.json = Json{{"measurement", job.measurement}};
  for (size_t k = 0; k < signals.size(); ++k) o.json[kind->arguments[k]] = signals[k].path;
  o.json["channel"] = job.channel > 0 ? Json(job.channel) : Json();
  for (auto& [key, value] : m.report.items())
    if (key != "measurement") o.json[key] = std::move(value);
  if (align) {
    if (!job.alignedOutput.empty()) {
      writeAudio(job.alignedOutput, m.samples, signals[1].sampleRate,
                 outputFormat(job.alignedOutput, signals[1].format));
    }
    o.json["aligned_output"] = job.alignedOutput.empty() ? Json() : Json(job.alignedOutput);
  }
  o.text = describe(o.json);
  o.code = m.code;
  return o;
}

namespace {

std::string number(const Json& v, const char* format) {
  return v.is_number() ? fmt(format, v.get<double>()) : std::string("none");
}

std::string line(const char* label, const std::string& text) {
  return fmt("%-16s %s\n", label, text.c_str());
}

std::string files(const Json& r) {
  std::string s;
  const MeasurementKind* kind = kindOf(r.value("measurement", ""));
  if (kind == nullptr) return s;
  for (const char* a : kind->arguments)
    if (r.contains(a)) s += line(a, r[a].get<std::string>());
  return s;
}

// The failed test or fired checks, each with its value and limit.
std::string verdict(const Json& r, const char* flag, const char* trusted) {
  if (!r.value(flag, false)) return line("verdict", trusted);
  std::string s = line("verdict", fmt("FLAGGED (%s)", flag));
  if (r.contains("reason") && r["reason"].is_string()) s += line("reason", r["reason"].get<std::string>());
  return s;
}

std::string delay(const Json& r) {
  return line("total delay", fmt("%s samples (%s ms): %s", number(r["total_delay_samples"], "%.0f").c_str(),
                                 number(r["total_delay_ms"], "%.3f").c_str(),
                                 r["delay_direction"].get<std::string>().c_str())) +
         line("of which",
              fmt("coarse shift %s, fine lag %s samples", number(r["coarse_shift_samples"], "%.0f").c_str(),
                  number(r["fine_lag_samples"], "%.0f").c_str()));
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
  if (!r.contains("drift")) return s;
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

}  // namespace

std::string describe(const Json& r) {
  const std::string m = r.value("measurement", "");
  std::string s;
  if (m == "align") {
    s += delay(r);
    s += verdict(r, "alignment_failed", "aligned");
    s += opinion(r);
    s += files(r);
    if (r["aligned_output"].is_string()) s += line("written", r["aligned_output"].get<std::string>());
  } else if (m == "attack-release") {
    s += line("attack settle", number(r["attack_settle_time_s"], "%.1f s") +
                                   " (after the level step up at 40 s; falling segment)");
    s += line("release settle", number(r["release_settle_time_s"], "%.1f s") +
                                    " (after the level step down at 65 s; rising segment)");
    s += verdict(r, "alignment_failed", "aligned");
    s += opinion(r);
    s += delay(r);
    s += files(r);
  } else if (m == "transient-snr") {
    s += line("active level", number(r["active_level_db"], "%.2f dB re RMS 32767 (noise-corrected)"));
    s += line("difference", number(r["level_difference_db"], "%.2f dB (rest minus active)"));
    if (r.value("warning", false)) {
      s += line("verdict", "WARNING");
      for (const Json& c : r["checks"])
        if (!c["passed"].get<bool>())
          s += line("reason", fmt("%s: %s (value %s, limit %s)", c["test"].get<std::string>().c_str(),
                                  c["rule"].get<std::string>().c_str(), number(c["value"], "%.6g").c_str(),
                                  number(c["limit"], "%.6g").c_str()));
    } else {
      s += line("verdict", "no warning");
    }
    for (const Json& n : r["notes"]) s += line("note", n.get<std::string>());
    s += line("frames",
              fmt("%s active, %s noise (of %s, %s samples each)", number(r["active_frames"], "%.0f").c_str(),
                  number(r["noise_frames"], "%.0f").c_str(), number(r["frame_count"], "%.0f").c_str(),
                  number(r["frame_length_samples"], "%.0f").c_str()));
    s += files(r);
  }
  return s;
}

}  // namespace audiomeas::host
