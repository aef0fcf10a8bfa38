#include "measure.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "audio_io.hpp"
#include "memory.hpp"
#include "text.hpp"

namespace audiomeas::host {

namespace {

void requireSameRate(const Signal& first, const Signal& other) {
  if (other.sampleRate != first.sampleRate)
    throw badInput(other.path, fmt("sample rate %d Hz differs from %d Hz of %s", other.sampleRate,
                                   first.sampleRate, first.path.c_str()));
}

// A check of the host layer names an argument; the user knows the file.
// The sample rate is the first file's; anything else it names is an
// option, the command line's (or the manifest's) fault.
Failure inFile(const InputError& e, const MeasurementSpec& m, const std::vector<Signal>& signals,
               int channel) {
  size_t i = m.arguments.size();
  for (size_t k = 0; k < m.arguments.size(); ++k)
    if (e.argument() == m.arguments[k].name) i = k;
  if (e.argument() == "sample_rate") i = 0;
  if (i == m.arguments.size()) return usageError(e.what());
  const Signal& s = signals[i];
  std::string where = s.path;
  if (s.channels > 1) where += fmt(" (channel %d)", channel);
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
  const MeasurementSpec& m = measurementNamed(name->get<std::string>());
  job.measurement = m.name;
  for (const auto& [key, value] : j.items()) {
    if (key == "measurement") continue;
    if (key == "files") {
      if (!value.is_array()) throw usageError("bad job: \"files\" is not an array");
      for (const Json& f : value) job.files.push_back(pathOf(f));
    } else if (key == "channel") {
      job.channel = channelFromJson(value, "bad job: \"channel\"");
    } else if (const OptionSpec* o = findOption(key)) {
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
  size.peakBytes =
      estimatePeakBytes(measurementNamed(job.measurement), lengths, windowSamples(job.options, rate));
  return size;
}

Outcome runJob(const Job& job) {
  const MeasurementSpec& m = measurementNamed(job.measurement);
  if (job.files.size() != m.arguments.size())
    throw usageError(fmt("%s takes %zu files, %zu given", m.name, m.arguments.size(), job.files.size()));
  // An unusable output name is a usage error, found before any work.
  if (!job.alignedOutput.empty()) {
    if (m.signalOut == nullptr)
      throw usageError(fmt("%s writes no signal to %s", m.name, job.alignedOutput.c_str()));
    outputFormat(job.alignedOutput, 0);
  }
  if (!job.memoryAdmitted) {
    const JobSize size = sizeOf(job);
    if (size.complete) requireMemory(m, size.peakBytes, size.inputs);
  }

  std::vector<Signal> signals;
  for (const std::string& f : job.files) {
    signals.push_back(readAudio(f, job.channel, m.scale));
    requireSameRate(signals.front(), signals.back());
  }
  std::vector<std::span<const double>> views;
  for (const Signal& s : signals) views.emplace_back(s.samples);

  Measurement result;
  try {
    result = m.run(views, signals.front().sampleRate, job.options);
  } catch (const InputError& e) {
    throw inFile(e, m, signals, job.channel);
  }

  Outcome o;
  o.json = Json{{"measurement", m.name}};
  for (size_t k = 0; k < signals.size(); ++k) o.json[m.arguments[k].name] = signals[k].path;
  o.json["channel"] = job.channel > 0 ? Json(job.channel) : Json();
  for (auto& [key, value] : result.report.items())
    if (key != "measurement") o.json[key] = std::move(value);
  if (m.signalOut != nullptr) {
    // The signal is written in the last argument's format and rate, also for
    // a flagged result (the user asked for it), which is then said.
    const bool trusted = o.json.value("verdict", std::string()) != "flagged";
    if (!job.alignedOutput.empty()) {
      writeAudio(job.alignedOutput, result.samples, signals.back().sampleRate,
                 outputFormat(job.alignedOutput, signals.back().format));
      if (!trusted)
        o.warnings.push_back(job.alignedOutput + ": written as asked, but the measurement is flagged: the " +
                             m.signalOut + " signal is not to be trusted");
    }
    const std::string key = std::string(m.signalOut) + "_output";
    o.json[key] = job.alignedOutput.empty() ? Json() : Json(job.alignedOutput);
    o.json[key + "_trusted"] = job.alignedOutput.empty() ? Json() : Json(trusted);
  }
  o.text = m.describe(o.json);
  o.code = result.code;
  return o;
}

std::string describe(const Json& report) {
  const MeasurementSpec* m =
      report.is_object() && report.contains("measurement") && report["measurement"].is_string()
          ? findMeasurement(report["measurement"].get<std::string>())
          : nullptr;
  return m != nullptr ? m->describe(report) : std::string();
}

Measurement measureArrays(const MeasurementSpec& m, Signals signals, double sampleRate,
                          const Options& options) {
  if (signals.size() != m.arguments.size())
    throw usageError(fmt("%s takes %zu signals, %zu given", m.name, m.arguments.size(), signals.size()));
  std::vector<long long> lengths;
  std::string described;
  for (size_t k = 0; k < signals.size(); ++k) {
    lengths.push_back(static_cast<long long>(signals[k].size()));
    described += (described.empty() ? "" : ", ") +
                 fmt("%s of %lld samples", m.arguments[k].name, (long long)signals[k].size());
  }
  const double rate = std::isfinite(sampleRate) && sampleRate > 0.0 ? sampleRate : 0.0;
  requireMemory(m, estimatePeakBytes(m, lengths, windowSamples(options, rate), true), described);
  return m.run(signals, sampleRate, options);
}

}  // namespace audiomeas::host
