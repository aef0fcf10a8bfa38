// The C names libaudiomeas exports: a thin layer over the host layer's C++.
#include "audiomeas.h"

#include <initializer_list>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "capi_result.hpp"
#include "export.hpp"
#include "measure.hpp"
#include "memory.hpp"
#include "report.hpp"
#include "text.hpp"

namespace {

using namespace audiomeas::host;

std::span<const double> view(const double* x, int64_t n) {
  return x != nullptr && n > 0 ? std::span<const double>(x, static_cast<size_t>(n))
                               : std::span<const double>();
}

Options optionsOf(unsigned flags, int64_t pad = AUDIOMEAS_DEFAULT_PAD) {
  Options o;
  o.details = (flags & AUDIOMEAS_DETAILS) != 0;
  o.libraryOutput = (flags & AUDIOMEAS_LIBRARY_OUTPUT) != 0;
  o.padSamples = pad == AUDIOMEAS_DEFAULT_PAD ? kDefaultPadSamples : pad;
  return o;
}

using capi::run;

// The array calls: the caller holds the inputs, so only what the
// measurement adds must fit in the memory available.
void requireMemoryFor(const char* measurement, std::initializer_list<std::pair<const char*, int64_t>> inputs,
                      long long window = 0) {
  std::vector<long long> lengths;
  std::string described;
  for (const auto& [name, n] : inputs) {
    lengths.push_back(n);
    described += (described.empty() ? "" : ", ") + fmt("%s of %lld samples", name, (long long)n);
  }
  requireMemory(measurement, estimatePeakBytes(measurement, lengths, window, true), described);
}

void store(audiomeas_result& r, Measurement&& m) {
  r.code = m.code;
  r.json = m.report.dump(-1, ' ', false, Json::error_handler_t::replace);
  r.samples = std::move(m.samples);
}

}  // namespace

extern "C" {

AM_EXPORT audiomeas_result* audiomeas_align(const double* reference, int64_t n, const double* recording,
                                            int64_t m, double sample_rate, double window_seconds,
                                            unsigned flags) {
  return run([&](audiomeas_result& r) {
    Options o = optionsOf(flags);
    o.windowSeconds = window_seconds;
    const double window = window_seconds > 0.0 && sample_rate > 0.0 ? window_seconds * sample_rate : 0.0;
    requireMemoryFor("align", {{"reference", n}, {"recording", m}},
                     window < 9.2e18 ? static_cast<long long>(window) : 0);
    store(r, align(view(reference, n), view(recording, m), sample_rate, o));
  });
}

AM_EXPORT audiomeas_result* audiomeas_attack_release(const double* reference, int64_t n,
                                                     const double* recording, int64_t m, double sample_rate,
                                                     int64_t pad_samples, unsigned flags) {
  return run([&](audiomeas_result& r) {
    requireMemoryFor("attack-release", {{"reference", n}, {"recording", m}});
    store(r,
          attackRelease(view(reference, n), view(recording, m), sample_rate, optionsOf(flags, pad_samples)));
  });
}

AM_EXPORT audiomeas_result* audiomeas_transient_snr(const double* presence, int64_t np,
                                                    const double* activity, int64_t na,
                                                    const double* measured, int64_t nm, double sample_rate,
                                                    unsigned flags) {
  return run([&](audiomeas_result& r) {
    requireMemoryFor("transient-snr", {{"presence", np}, {"activity", na}, {"measured", nm}});
    store(r, transientSnr(view(presence, np), view(activity, na), view(measured, nm), sample_rate,
                          optionsOf(flags)));
  });
}

namespace {

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

AM_EXPORT audiomeas_result* audiomeas_measure_files(const char* job) {
  return run([&](audiomeas_result& r) {
    const Json j = Json::parse(job != nullptr ? job : "", nullptr, false);
    if (j.is_discarded() || !j.is_object())
      throw usageError(
          "the job is not a JSON object in UTF-8 (give a file name that is not UTF-8 as the array of its "
          "bytes)");
    Job w;
    try {
      w.measurement = j.at("measurement").get<std::string>();
      const Json& files = j.at("files");
      if (!files.is_array()) throw usageError("bad job: \"files\" is not an array");
      for (const Json& f : files) w.files.push_back(pathOf(f));
      w.channel = j.contains("channel") && !j["channel"].is_null() ? j["channel"].get<int>() : 0;
      w.options.details = j.value("details", false);
      w.options.windowSeconds = j.value("window_s", 0.0);
      if (j.contains("pad_samples")) w.options.padSamples = j["pad_samples"].get<int64_t>();
    } catch (const Json::exception& e) {
      throw usageError(std::string("bad job: ") + e.what());
    }
    if (w.channel < 0) throw usageError("channel counts from 1");
    Outcome o = runJob(w);
    r.code = o.code;
    r.json = o.json.dump(-1, ' ', false, Json::error_handler_t::replace);
  });
}

AM_EXPORT const char* audiomeas_measurements(void) {
  static const std::string text = [] {
    Json j = Json::object();
    for (const MeasurementKind& k : measurementKinds()) j[k.name] = k.arguments;
    return j.dump();
  }();
  return text.c_str();
}

AM_EXPORT int audiomeas_result_code(const audiomeas_result* result) {
  return result != nullptr ? result->code : kExitBadInput;
}

AM_EXPORT const char* audiomeas_result_json(const audiomeas_result* result) {
  return result != nullptr ? result->json.c_str() : R"({"error":"no result"})";
}

AM_EXPORT const double* audiomeas_result_samples(const audiomeas_result* result, int64_t* count) {
  const bool any = result != nullptr && !result->samples.empty();
  if (count != nullptr) *count = any ? static_cast<int64_t>(result->samples.size()) : 0;
  return any ? result->samples.data() : nullptr;
}

AM_EXPORT void audiomeas_result_free(audiomeas_result* result) { delete result; }

}  // extern "C"
