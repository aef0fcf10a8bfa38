#include "measure.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <new>

#include "align_window.hpp"
#include "audio_io.hpp"
#include "memory.hpp"
#include "resample.hpp"
#include "text.hpp"
#include "worker_pool.hpp"

namespace audiomeas::host {

namespace {

// A check of the host layer names an argument; the user knows the file.
// The sample rate is the first file's; anything else it names is an
// option, the command line's (or the manifest's) fault.
Failure inFile(const InputError& e, const MeasurementEntry& m, const std::vector<Signal>& signals) {
  size_t i = m.arguments.size();
  for (size_t k = 0; k < m.arguments.size(); ++k)
    if (e.argument() == m.arguments[k].name) i = k;
  if (e.argument() == "sample_rate") i = 0;
  if (i == m.arguments.size()) return usageError(e.what());
  const Signal& s = signals[i];
  std::string where = s.path;
  if (s.channels > 1) where += fmt(" (channel %d)", s.channel);
  return badInput(where, e.detail());
}

// A window in seconds as samples at rate, whatever its value (negative, NaN,
// huge): the measurement refuses the unfit ones itself.
long long windowSamples(const Options& o, double rate) {
  const double w = o.windowSeconds * rate;
  return w > 0.0 && w < 9.2e18 ? static_cast<long long>(w) : 0;
}

// A job's file: a string, or the array of its bytes for a name that is not
// UTF-8 (JSON text must be).
std::string pathOf(const Json& f) {
  std::string path;
  if (f.is_string()) {
    path = f.get<std::string>();
  } else if (f.is_array()) {
    for (const Json& b : f) {
      if (!b.is_number_unsigned() || b.get<std::uint64_t>() > 255)
        throw usageError("bad job: a file given as bytes holds a value outside 0..255");
      path.push_back(static_cast<char>(b.get<unsigned>()));
    }
  } else {
    throw usageError("bad job: a file is a string or the array of its bytes");
  }
  return path;
}

}  // namespace

Job jobFromJson(const Json& j) {
  if (!j.is_object()) throw usageError("bad job: not a JSON object");
  Job job;
  const auto name = j.find("measurement");
  if (name == j.end() || !name->is_string()) throw usageError("bad job: no \"measurement\" string");
  const MeasurementEntry& m = measurementNamed(name->get<std::string>());
  job.measurement = m.name;
  for (const auto& [key, value] : j.items()) {
    if (key == "measurement") continue;
    if (key == "files") {
      if (!value.is_array()) throw usageError("bad job: \"files\" is not an array");
      for (const Json& f : value) job.files.push_back(pathOf(f));
    } else if (key == "regular_files_only" && value.is_boolean()) {
      job.regularFilesOnly = value.get<bool>();
    } else if (key == "channel") {
      job.channel = channelFromJson(value, "bad job: \"channel\"");
    } else if (key == kThreadsKey) {
      job.threads = threadsFromJson(value, fmt("bad job: \"%s\"", kThreadsKey));
    } else if (const OptionEntry* o = findOption(key)) {
      if (!takesOption(m, *o)) throw usageError(fmt("bad job: %s takes no option %s", m.name, o->key));
      setOption(*o, value, job.options, o->key);
    } else {
      throw usageError("bad job: unknown field \"" + key + "\"");
    }
  }
  return job;
}

Json jobOptionsJson(const Job& job) {
  Json j = Json::object();
  const Json given = optionsJson(job.options, &measurementNamed(job.measurement));
  const Json defaults = optionsJson(Options{}, &measurementNamed(job.measurement));
  for (const auto& [key, value] : given.items())
    if (value != defaults[key]) j[key] = value;
  return j;
}

namespace {

// "ref.wav (60.0 s), rec.wav (60.0 s)"; a length that is not known (a pipe)
// is said so.
std::string describeInputs(const std::vector<std::string>& files, const std::vector<long long>& lengths,
                           const std::vector<bool>& known, int rate) {
  std::string text;
  for (size_t k = 0; k < files.size(); ++k) {
    text +=
        (text.empty() ? "" : ", ") + (files[k] == kStandardInput ? std::string("standard input") : files[k]);
    text += known[k] ? fmt(" (%.1f s)", rate > 0 ? double(lengths[k]) / rate : 0.0)
                     : std::string(" (length unknown)");
  }
  return text;
}

}  // namespace

JobSize sizeOf(const Job& job) {
  JobSize size;
  std::vector<long long> lengths;
  std::vector<bool> known;
  int rate = 0;
  for (const std::string& f : job.files) {
    long long frames = 0;
    bool lengthKnown = false;
    // Only a regular file is opened here: a pipe, FIFO or device gives its
    // bytes once, to the measurement, and may block until written.
    if (isRegularFile(f)) {
      try {
        const AudioInfo info = probeAudio(f);
        frames = info.frames;
        lengthKnown = info.lengthKnown;
        if (rate == 0) rate = info.sampleRate;
      } catch (const Failure&) {
      }
    }
    if (!lengthKnown) size.complete = false;
    lengths.push_back(frames);
    known.push_back(lengthKnown);
  }
  size.inputs = describeInputs(job.files, lengths, known, rate);
  size.seconds = rate > 0 && !lengths.empty() ? double(lengths.front()) / rate : 0.0;
  size.peakBytes =
      estimatePeakBytes(measurementNamed(job.measurement), lengths, windowSamples(job.options, rate));
  return size;
}

namespace {

// The rate a measurement runs at: its fixed one, else its first input's.
double runRate(const MeasurementEntry& m, double firstRate) {
  return m.fixedRate > 0.0 ? m.fixedRate : firstRate;
}

bool usableRate(double r) { return std::isfinite(r) && r > 0.0; }

// Converts each input not at rate (unless the options turn conversion off;
// a rate that cannot be one is left for the measurement to refuse): views
// then show the converted samples, which owned holds. The report's
// "resampling": null when nothing was converted.
Json conformRates(const MeasurementEntry& m, std::vector<std::span<const double>>& views,
                  std::vector<std::vector<double>>& owned, const std::vector<double>& rates, double rate,
                  const Options& options) {
  Json from = Json::object();
  if (!options.resample || !usableRate(rate)) return Json();
  owned.reserve(owned.size() + views.size());  // the views point into it
  for (size_t k = 0; k < views.size(); ++k) {
    if (rates[k] == rate || !usableRate(rates[k])) continue;
    owned.push_back(resample(views[k], rates[k], rate));
    views[k] = owned.back();
    from[m.arguments[k].name] = rates[k];
  }
  if (from.empty()) return Json();
  return Json{{"rate_hz", rate},
              {"resampled_from", std::move(from)},
              {"resampler", resamplerName()},
              {"quality", kResamplerQuality}};
}

// The measurement on signals at the given rates, converted to one first.
Measurement runConformed(const MeasurementEntry& m, std::vector<std::span<const double>> views,
                         const std::vector<double>& rates, const Options& options) {
  if (!options.resample)
    for (size_t k = 1; k < rates.size(); ++k)
      if (rates[k] != rates.front())
        throw InputError(
            m.arguments[k].name,
            fmt("sample rate %g Hz differs from %g Hz of the %s (without %s it would be converted)", rates[k],
                rates.front(), m.arguments[0].name, kResampleOption.flag));
  std::vector<std::vector<double>> owned;
  const double rate = runRate(m, rates.front());
  Json resampling = conformRates(m, views, owned, rates, rate, options);
  Measurement result = m.run(views, resampling.is_null() ? rates.front() : rate, options);
  result.report["resampling"] = std::move(resampling);
  return result;
}

// The channels --channel all measures: every file has one channel or the
// same count as the others.
int channelCount(const std::vector<AudioInput>& inputs) {
  int count = 1;
  for (const AudioInput& in : inputs) count = std::max(count, in.info().channels);
  for (const AudioInput& in : inputs)
    if (in.info().channels != 1 && in.info().channels != count)
      throw badInput(in.info().path == kStandardInput ? "standard input" : in.info().path,
                     fmt("has %d channels where another input has %d; with --channel %s every file has "
                         "one channel (used for every channel) or the same count",
                         in.info().channels, count, kAllChannelsWord));
  return count;
}

// The worst of several verdicts: flagged, then doubtful, then the good word.
std::string worstVerdict(const std::vector<Json>& reports) {
  std::string worst = reports.front().value("verdict", std::string());
  for (const Json& r : reports) {
    const std::string v = r.value("verdict", std::string());
    if (v == kVerdictFlagged || (v == kVerdictDoubtful && worst != kVerdictFlagged)) worst = v;
  }
  return worst;
}

// Each channel's delay relative to the first channel's, from the
// measurement's delay to a fraction of a sample; null where either is not
// known.
Json channelDelays(const MeasurementEntry& m, const std::vector<Json>& reports, double rate) {
  if (m.channelDelayField == nullptr) return Json();
  Json delays = Json::array();
  const Json& first = reports.front()[m.channelDelayField];
  for (size_t c = 0; c < reports.size(); ++c) {
    const Json& d = reports[c][m.channelDelayField];
    const bool known = d.is_number() && first.is_number();
    const double relative = known ? d.get<double>() - first.get<double>() : 0.0;
    delays.push_back(
        {{"channel", int(c) + 1},
         {"delay_samples", d},
         {"relative_to_first_samples", known ? Json(relative) : Json()},
         {"relative_to_first_ms", known && usableRate(rate) ? Json(relative / rate * 1000.0) : Json()}});
  }
  return delays;
}

std::string describeChannels(const MeasurementEntry& m, const Json& all) {
  std::string s = fmt("%-16s %s over %zu channels\n", "verdict", all["verdict"].get<std::string>().c_str(),
                      all["channels"].size());
  for (const Json& r : all["channels"]) {
    s += fmt("\n-- channel %d --\n", r["channel"].get<int>());
    s += m.describe(r);
  }
  if (all["channel_delays"].is_array()) {
    s += "\n";
    for (const Json& d : all["channel_delays"])
      s +=
          fmt("%-16s %s\n", fmt("channel %d", d["channel"].get<int>()).c_str(),
              d["relative_to_first_samples"].is_number()
                  ? fmt("%+.3f samples (%+.4f ms) relative to channel 1",
                        d["relative_to_first_samples"].get<double>(), d["relative_to_first_ms"].get<double>())
                        .c_str()
                  : "delay relative to channel 1 not known");
  }
  if (m.signalOut != nullptr) {
    const Json& out = all[std::string(m.signalOut) + "_output"];
    if (out.is_string()) s += fmt("%-16s %s (every channel)\n", "written", out.get<std::string>().c_str());
  }
  return s;
}

}  // namespace

namespace {

// The measurement's signal written to -o when asked (write() writes it and
// gives the stale temporaries it removed), also for a flagged result (the
// user asked for it), which is then said; and the report's fields naming it.
void outputSignal(const MeasurementEntry& m, const Job& job, Outcome& o,
                  const std::function<std::vector<std::string>()>& write) {
  if (m.signalOut == nullptr) return;
  const bool trusted = o.json.value("verdict", std::string()) != kVerdictFlagged;
  if (!job.alignedOutput.empty()) {
    for (const std::string& stale : write())
      o.warnings.push_back(stale + ": removed, a temporary file an interrupted write had left");
    if (!trusted)
      o.warnings.push_back(job.alignedOutput + ": written as asked, but the measurement is flagged: the " +
                           m.signalOut + " signal is not to be trusted");
  }
  const std::string key = std::string(m.signalOut) + "_output";
  o.json[key] = job.alignedOutput.empty() ? Json() : Json(job.alignedOutput);
  o.json[key + "_trusted"] = job.alignedOutput.empty() ? Json() : Json(trusted);
}

// Bytes a measurement read through sources takes: its library on the
// window, the window of each input, the host opinion's buffers (its
// sub-sample delay over the window) and the blocks written.
std::size_t streamedBytes(const MeasurementEntry& m, std::size_t inputs, long long window) {
  const std::vector<long long> lengths(inputs, window);
  return estimatePeakBytes(m, lengths, window) + std::size_t(4 * window) * sizeof(double);
}

// The longest window, s, whose measurement through sources fits in room
// bytes; 0 when none does.
double largestWindowFitting(const MeasurementEntry& m, std::size_t inputs, double rate, std::size_t room) {
  double lo = 0.0, hi = 1e6;
  for (int i = 0; i < 60; ++i) {
    const double mid = (lo + hi) / 2.0;
    (streamedBytes(m, inputs, std::llround(mid * rate)) <= room ? lo : hi) = mid;
  }
  return lo >= kMinWindowSeconds ? std::floor(lo) : 0.0;
}

Outcome runStreamed(const Job& job, const MeasurementEntry& m, std::vector<AudioInput>& inputs,
                    const std::vector<std::vector<int>>& picks, double rate) {
  const long long window = windowSamples(job.options, rate);
  std::vector<long long> lengths;
  for (const AudioInput& in : inputs) lengths.push_back(in.info().frames);
  const std::string described =
      describeInputs(job.files, lengths, std::vector<bool>(lengths.size(), true), int(rate)) +
      fmt(" through a window of %g s", job.options.windowSeconds);
  const std::size_t estimate = streamedBytes(m, inputs.size(), window);
  MemoryReservation reservation;
  if (!job.memoryAdmitted) {
    try {
      reservation = requireMemory(m, estimate, described);
    } catch (const MemoryShortfall& e) {
      // The window was the advice: say which one fits instead.
      const double fits = largestWindowFitting(m, inputs.size(), rate, e.available());
      throw MemoryShortfall(
          fmt("%s needs about %s of memory for %s, more than the %s available; ", m.name,
              describeBytes(estimate).c_str(), described.c_str(), describeBytes(e.available()).c_str()) +
              (fits > 0.0 ? fmt("the largest window that fits is about %s %.0f", kWindowOption.flag, fits)
                          : std::string("no window fits: use a machine with more memory")),
          e.needed(), e.available());
    }
  }
  std::vector<std::unique_ptr<SampleSource>> owned;
  std::vector<const SampleSource*> sources;
  for (size_t k = 0; k < inputs.size(); ++k) {
    owned.push_back(inputs[k].source(picks[k].front(), m.scale));
    sources.push_back(owned.back().get());
  }
  Measurement result;
  try {
    try {
      result = m.runSources(sources, rate, job.options);
    } catch (const InputError& e) {
      std::vector<Signal> shown(inputs.size());
      for (size_t k = 0; k < inputs.size(); ++k) {
        shown[k].path = inputs[k].info().path;
        shown[k].channels = inputs[k].info().channels;
        shown[k].channel = picks[k].front();
      }
      throw inFile(e, m, shown);
    }
    result.report["resampling"] = Json();
  } catch (const std::bad_alloc&) {
    throw allocationFailed(m, estimate, described);
  }
  Outcome o;
  o.json = Json{{"measurement", m.name}};
  for (size_t k = 0; k < inputs.size(); ++k) o.json[m.arguments[k].name] = inputs[k].info().path;
  o.json["channel"] = channelJson(job.channel);
  for (auto& [key, value] : result.report.items())
    if (key != "measurement") o.json[key] = std::move(value);
  o.code = result.code;
  outputSignal(m, job, o, [&] {
    return writeAudio(job.alignedOutput, result.signal.frames, result.signal.fill, int(rate),
                      outputFormat(job.alignedOutput, inputs.back().info().format));
  });
  o.text = m.describe(o.json);
  return o;
}

}  // namespace

Outcome runJob(const Job& job) {
  const MeasurementEntry& m = measurementNamed(job.measurement);
  if (job.files.size() != m.arguments.size())
    throw usageError(fmt("%s takes %zu files, %zu given", m.name, m.arguments.size(), job.files.size()));
  if (std::count(job.files.begin(), job.files.end(), std::string(kStandardInput)) > 1)
    throw usageError(fmt("standard input (%s) can be only one of the files", kStandardInput));
  if (job.regularFilesOnly) {
    for (const std::string& f : job.files) {
      struct stat st {};
      if (::stat(f.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        throw badInput(f,
                       "not a regular file (a FIFO, socket or device); a batch row reads regular files "
                       "only, so that none can block the batch");
    }
  }
  // An unusable output name is a usage error, found before any work.
  if (!job.alignedOutput.empty()) {
    if (m.signalOut == nullptr)
      throw usageError(fmt("%s writes no signal to %s", m.name, job.alignedOutput.c_str()));
    outputFormat(job.alignedOutput, 0);
  }

  // Each input is opened once; its header sizes the job before any sample
  // is read, and its samples come from the same handle.
  std::vector<AudioInput> inputs;
  inputs.reserve(job.files.size());
  for (const std::string& f : job.files) inputs.emplace_back(f);
  const bool all = job.channel == kAllChannels;
  const int channels = all ? channelCount(inputs) : 1;
  std::vector<std::vector<int>> picks;
  for (const AudioInput& in : inputs) {
    std::vector<int> p;
    if (all)
      for (int c = 1; c <= in.info().channels; ++c) p.push_back(c);
    else
      p.push_back(in.resolveChannel(job.channel));
    picks.push_back(std::move(p));
  }

  const ThreadScope lent(job.threads);
  const double rate = runRate(m, inputs.front().info().sampleRate);
  const bool converts = job.options.resample && usableRate(rate);
  const long long windowAtRate = windowSamples(job.options, rate);
  if (!all && windowAtRate > 0 && m.runSources != nullptr &&
      std::all_of(inputs.begin(), inputs.end(),
                  [&](const AudioInput& in) { return in.seekable() && in.info().sampleRate == rate; }))
    return runStreamed(job, m, inputs, picks, rate);
  // Lengths at the rate the measurement runs at; beside them the channels
  // held at once and the largest input while it is converted.
  std::vector<long long> lengths;
  std::vector<bool> known;
  double extraBytes = 0.0, converting = 0.0;
  for (size_t k = 0; k < inputs.size(); ++k) {
    const AudioInfo& info = inputs[k].info();
    const long long n = converts && info.sampleRate != rate
                            ? resampledLength(info.frames, info.sampleRate, rate)
                            : info.frames;
    if (converts && info.sampleRate != rate) converting = std::max(converting, double(info.frames));
    lengths.push_back(n);
    known.push_back(info.lengthKnown);
    extraBytes += double(picks[k].size() - 1) * double(std::max(0LL, n)) * sizeof(double);
  }
  const int fileRate = inputs.front().info().sampleRate;
  if (m.signalOut != nullptr)
    extraBytes += double(channels - 1) * double(std::max(0LL, lengths[0])) * sizeof(double);
  extraBytes += converting * sizeof(double) * 2.0;
  const auto withExtra = [&](std::size_t bytes) {
    const double b = double(bytes) + extraBytes;
    return b >= 1.8e19 ? SIZE_MAX : std::size_t(b);
  };
  const bool allKnown = std::all_of(known.begin(), known.end(), [](bool k) { return k; });
  std::string described = describeInputs(job.files, lengths, known, int(rate > 0 ? rate : fileRate));
  std::size_t estimate = withExtra(estimatePeakBytes(m, lengths, windowAtRate));
  MemoryReservation reservation;
  // Where a length is not known the read stops at the memory available and
  // the check follows it, on the lengths read.
  std::size_t readLimit = 0;
  if (!job.memoryAdmitted) {
    if (allKnown) {
      try {
        reservation = requireMemory(m, estimate, described);
      } catch (const MemoryShortfall& e) {
        // A measurement that can work through a window says which one fits.
        const double fits = m.runSources != nullptr && windowAtRate == 0 && usableRate(rate)
                                ? largestWindowFitting(m, inputs.size(), rate, e.available())
                                : 0.0;
        if (fits == 0.0) throw;
        throw MemoryShortfall(std::string(e.what()) + fmt("; the largest window that fits is about %s %.0f",
                                                          kWindowOption.flag, fits),
                              e.needed(), e.available());
      }
    } else {
      readLimit = availableBytes().value_or(0);
    }
  }

  std::vector<std::vector<Signal>> signals;  // per input, its channels read
  std::vector<Measurement> results;
  std::vector<Json> reports;
  try {
    std::size_t held = 0;
    for (size_t k = 0; k < inputs.size(); ++k) {
      const std::size_t limit = readLimit == 0 ? 0 : readLimit > held ? readLimit - held : 1;
      signals.push_back(inputs[k].readChannels(picks[k], m.scale, limit));
      for (const Signal& s : signals.back()) held += s.samples.size() * sizeof(double);
    }
    if (!allKnown) {
      lengths.clear();
      for (const auto& in : signals) lengths.push_back(static_cast<long long>(in.front().samples.size()));
      described = describeInputs(job.files, lengths, std::vector<bool>(lengths.size(), true), fileRate);
      estimate = withExtra(estimatePeakBytes(m, lengths, windowAtRate));
      if (!job.memoryAdmitted)
        reservation =
            requireMemory(m, withExtra(estimatePeakBytes(m, lengths, windowAtRate, true)), described);
    }
    for (int c = 0; c < channels; ++c) {
      std::vector<std::span<const double>> views;
      std::vector<double> rates;
      std::vector<Signal> shown;  // what a message names
      for (const auto& in : signals) {
        const Signal& s = in[in.size() == 1 ? 0 : size_t(c)];
        views.emplace_back(s.samples);
        rates.push_back(s.sampleRate);
        Signal named;
        named.path = s.path;
        named.channels = s.channels;
        named.channel = s.channel;
        shown.push_back(std::move(named));
      }
      try {
        results.push_back(runConformed(m, views, rates, job.options));
      } catch (const InputError& e) {
        throw inFile(e, m, shown);
      }
    }
  } catch (const std::bad_alloc&) {
    throw allocationFailed(m, estimate, described);
  }

  Outcome o;
  const auto named = [&](Json report, int channel) {
    Json j{{"measurement", m.name}};
    for (size_t k = 0; k < inputs.size(); ++k) j[m.arguments[k].name] = inputs[k].info().path;
    j["channel"] = channelJson(channel);
    for (auto& [key, value] : report.items())
      if (key != "measurement") j[key] = std::move(value);
    return j;
  };
  for (size_t c = 0; c < results.size(); ++c) {
    reports.push_back(named(std::move(results[c].report), all ? int(c) + 1 : job.channel));
    o.code = std::max(o.code, results[c].code);
  }
  if (all) {
    o.json = named(Json::object(), kAllChannels);
    o.json["verdict"] = worstVerdict(reports);
    Json reasons = Json::array();
    for (size_t c = 0; c < reports.size(); ++c)
      for (const Json& reason : reports[c]["verdict_reasons"])
        reasons.push_back(fmt("channel %zu: %s", c + 1, reason.get<std::string>().c_str()));
    o.json["verdict_reasons"] = std::move(reasons);
    o.json["channel_delays"] = channelDelays(m, reports, rate);
    o.json["channels"] = reports;
  } else {
    o.json = std::move(reports.front());
  }

  // The signal is written at the rate the measurement ran at, in the last
  // argument's format; every channel's in one file for --channel all.
  outputSignal(m, job, o, [&] {
    std::vector<double> out;
    if (results.size() == 1) {
      out = std::move(results.front().samples);
    } else {
      size_t frames = 0;
      for (const Measurement& r : results) frames = std::max(frames, r.samples.size());
      out.assign(frames * results.size(), 0.0);
      for (size_t c = 0; c < results.size(); ++c)
        for (size_t i = 0; i < results[c].samples.size(); ++i)
          out[i * results.size() + c] = results[c].samples[i];
    }
    const Json& ran = reports.front()["resampling"];
    const int outRate =
        ran.is_object() ? int(ran["rate_hz"].get<double>()) : signals.back().front().sampleRate;
    return writeAudio(job.alignedOutput, out, outRate,
                      outputFormat(job.alignedOutput, signals.back().front().format), int(results.size()));
  });
  o.text = all ? describeChannels(m, o.json) : m.describe(o.json);
  return o;
}

std::string describe(const Json& report) {
  const MeasurementEntry* m =
      report.is_object() && report.contains("measurement") && report["measurement"].is_string()
          ? findMeasurement(report["measurement"].get<std::string>())
          : nullptr;
  return m != nullptr ? m->describe(report) : std::string();
}

Measurement measureArrays(const MeasurementEntry& m, Signals signals, const std::vector<double>& rates,
                          const Options& options, int threads) {
  if (signals.size() != m.arguments.size())
    throw usageError(fmt("%s takes %zu signals, %zu given", m.name, m.arguments.size(), signals.size()));
  if (rates.size() != signals.size())
    throw usageError(fmt("%zu sample rates for %zu signals", rates.size(), signals.size()));
  const double rate = runRate(m, rates.front());
  std::vector<long long> lengths;
  std::string described;
  double converting = 0.0;
  for (size_t k = 0; k < signals.size(); ++k) {
    const bool converted = options.resample && usableRate(rate) && usableRate(rates[k]) && rates[k] != rate;
    lengths.push_back(converted ? resampledLength(std::int64_t(signals[k].size()), rates[k], rate)
                                : static_cast<long long>(signals[k].size()));
    // The converted copies are the host's, beside the caller's arrays.
    if (converted) converting += double(lengths.back()) * sizeof(double);
    described += (described.empty() ? "" : ", ") +
                 fmt("%s of %lld samples", m.arguments[k].name, (long long)signals[k].size());
  }
  const double effective = usableRate(rate) ? rate : 0.0;
  const double bytes =
      double(estimatePeakBytes(m, lengths, windowSamples(options, effective), true)) + converting;
  const std::size_t estimate = bytes >= 1.8e19 ? SIZE_MAX : std::size_t(bytes);
  const MemoryReservation reservation = requireMemory(m, estimate, described);
  const ThreadScope lent(threads);
  try {
    return runConformed(m, std::vector<std::span<const double>>(signals.begin(), signals.end()), rates,
                        options);
  } catch (const std::bad_alloc&) {
    throw allocationFailed(m, estimate, described);
  }
}

}  // namespace audiomeas::host
