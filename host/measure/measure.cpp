#include "measure.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

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
Failure inFile(const InputError& e, const MeasurementEntry& m, const std::vector<Signal>& signals,
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
  std::vector<long long> lengths;
  std::vector<bool> known;
  for (const AudioInput& in : inputs) {
    lengths.push_back(in.info().frames);
    known.push_back(in.info().lengthKnown);
  }
  const int rate = inputs.front().info().sampleRate;
  const long long window = windowSamples(job.options, rate);
  const bool allKnown = std::all_of(known.begin(), known.end(), [](bool k) { return k; });
  std::string described = describeInputs(job.files, lengths, known, rate);
  std::size_t estimate = estimatePeakBytes(m, lengths, window);
  MemoryReservation reservation;
  // Where a length is not known the read stops at the memory available and
  // the check follows it, on the lengths read.
  std::size_t readLimit = 0;
  if (!job.memoryAdmitted) {
    if (allKnown)
      reservation = requireMemory(m, estimate, described);
    else
      readLimit = availableBytes().value_or(0);
  }

  std::vector<Signal> signals;
  Measurement result;
  try {
    std::size_t held = 0;
    for (AudioInput& in : inputs) {
      const std::size_t limit = readLimit == 0 ? 0 : readLimit > held ? readLimit - held : 1;
      signals.push_back(in.read(job.channel, m.scale, limit));
      held += signals.back().samples.size() * sizeof(double);
      requireSameRate(signals.front(), signals.back());
    }
    if (!allKnown) {
      lengths.clear();
      for (const Signal& s : signals) lengths.push_back(static_cast<long long>(s.samples.size()));
      described = describeInputs(job.files, lengths, std::vector<bool>(lengths.size(), true), rate);
      estimate = estimatePeakBytes(m, lengths, window);
      if (!job.memoryAdmitted)
        reservation = requireMemory(m, estimatePeakBytes(m, lengths, window, true), described);
    }
    std::vector<std::span<const double>> views;
    for (const Signal& s : signals) views.emplace_back(s.samples);
    try {
      result = m.run(views, signals.front().sampleRate, job.options);
    } catch (const InputError& e) {
      throw inFile(e, m, signals, job.channel);
    }
  } catch (const std::bad_alloc&) {
    throw allocationFailed(m, estimate, described);
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
      for (const std::string& stale : writeAudio(job.alignedOutput, result.samples, signals.back().sampleRate,
                                                 outputFormat(job.alignedOutput, signals.back().format)))
        o.warnings.push_back(stale + ": removed, a temporary file an interrupted write had left");
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
  const MeasurementEntry* m =
      report.is_object() && report.contains("measurement") && report["measurement"].is_string()
          ? findMeasurement(report["measurement"].get<std::string>())
          : nullptr;
  return m != nullptr ? m->describe(report) : std::string();
}

Measurement measureArrays(const MeasurementEntry& m, Signals signals, double sampleRate,
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
  const std::size_t estimate = estimatePeakBytes(m, lengths, windowSamples(options, rate), true);
  const MemoryReservation reservation = requireMemory(m, estimate, described);
  try {
    return m.run(signals, sampleRate, options);
  } catch (const std::bad_alloc&) {
    throw allocationFailed(m, estimate, described);
  }
}

}  // namespace audiomeas::host
