// The C names libaudiomeas exports: a thin layer over the host layer's C++.
#include "audiomeas.h"

#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "batch.hpp"
#include "campaign.hpp"
#include "capi_result.hpp"
#include "entry_checks.hpp"
#include "export.hpp"
#include "measure.hpp"
#include "measurements.hpp"
#include "report.hpp"
#include "text.hpp"

struct audiomeas_batch {
  audiomeas::host::BatchSettings settings;
  audiomeas::host::Manifest manifest;
  std::unique_ptr<audiomeas::host::ResultsFile> results;  // reads manifest: declared after it
};

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

Json parseJson(const char* text, const char* what) {
  const Json j = Json::parse(text != nullptr ? text : "", nullptr, false);
  if (j.is_discarded() || !j.is_object())
    throw usageError(
        std::string(what) +
        " is not a JSON object in UTF-8 (give a file name that is not UTF-8 as the array of its bytes)");
  return j;
}

void store(audiomeas_result& r, Measurement&& m) {
  r.code = m.code;
  r.json = asWritten(m.report);
  r.samples = std::move(m.samples);
}

// The per-measurement calls of the first interface, over the table.
audiomeas_result* measureWith(const char* name, std::initializer_list<std::span<const double>> signals,
                              double rate, const Options& o) {
  return run([&](audiomeas_result& r) {
    capi::requireRateFits(rate);
    const std::vector<std::span<const double>> all(signals);
    store(r, measureArrays(measurementNamed(name), all, std::vector<double>(all.size(), rate), o));
  });
}

}  // namespace

extern "C" {

AM_EXPORT audiomeas_result* audiomeas_align(const double* reference, int64_t n, const double* recording,
                                            int64_t m, double sample_rate, double window_seconds,
                                            unsigned flags) {
  Options o = optionsOf(flags);
  o.windowSeconds = window_seconds;
  return measureWith("align", {view(reference, n), view(recording, m)}, sample_rate, o);
}

AM_EXPORT audiomeas_result* audiomeas_attack_release(const double* reference, int64_t n,
                                                     const double* recording, int64_t m, double sample_rate,
                                                     int64_t pad_samples, unsigned flags) {
  return measureWith("attack-release", {view(reference, n), view(recording, m)}, sample_rate,
                     optionsOf(flags, pad_samples));
}

AM_EXPORT audiomeas_result* audiomeas_transient_snr(const double* presence, int64_t np,
                                                    const double* activity, int64_t na,
                                                    const double* measured, int64_t nm, double sample_rate,
                                                    unsigned flags) {
  return measureWith("transient-snr", {view(presence, np), view(activity, na), view(measured, nm)},
                     sample_rate, optionsOf(flags));
}

AM_EXPORT audiomeas_result* audiomeas_measure(const char* measurement, const double* const* signals,
                                              const int64_t* lengths, int count, double sample_rate,
                                              const char* options_json) {
  return run([&](audiomeas_result& r) {
    if (measurement == nullptr) throw usageError("no measurement named");
    capi::requireRateFits(sample_rate);
    const MeasurementEntry& m = measurementNamed(measurement);
    if (count < 0 || size_t(count) != m.arguments.size())
      throw usageError(fmt("%s takes %zu signals, %d given", m.name, m.arguments.size(), count));
    if (count > 0 && (signals == nullptr || lengths == nullptr)) throw usageError("no signals to read");
    // The options are read as a job's are: the same checks, the same messages.
    Json job = options_json != nullptr ? parseJson(options_json, "the options") : Json::object();
    // Signals at rates of their own: "sample_rates", one each, in place of sample_rate.
    std::vector<double> rates(size_t(count), sample_rate);
    if (job.is_object() && job.contains(kSampleRatesKey)) {
      const Json given = job[kSampleRatesKey];
      job.erase(kSampleRatesKey);
      if (!given.is_array() || given.size() != rates.size())
        throw usageError(fmt("\"%s\" holds one rate for each of the %d signals", kSampleRatesKey, count));
      for (size_t k = 0; k < rates.size(); ++k) {
        if (!given[k].is_number()) throw usageError(fmt("\"%s\"[%zu] is not a number", kSampleRatesKey, k));
        rates[k] = given[k].get<double>();
        capi::requireRateFits(rates[k]);
      }
    }
    job["measurement"] = m.name;
    const Job parsed = jobFromJson(job);
    std::vector<std::span<const double>> views;
    for (int k = 0; k < count; ++k) {
      if (lengths[k] > 0 && signals[k] == nullptr)
        throw InputError(m.arguments[size_t(k)].name, "no samples to read");
      views.push_back(view(signals[k], lengths[k]));
    }
    store(r, measureArrays(m, views, rates, parsed.options, parsed.threads));
  });
}

AM_EXPORT audiomeas_result* audiomeas_measure_files(const char* job) {
  return run([&](audiomeas_result& r) {
    Outcome o = runJob(jobFromJson(parseJson(job, "the job")));
    r.code = o.code;
    r.json = asWritten(o.json);
  });
}

AM_EXPORT const char* audiomeas_measurements(void) {
  static const std::string text = [] {
    Json j = Json::object();
    for (const MeasurementEntry& m : measurements()) {
      j[m.name] = Json::array();
      for (const ArgumentEntry& a : m.arguments) j[m.name].push_back(a.name);
    }
    return j.dump();
  }();
  return text.c_str();
}

AM_EXPORT const char* audiomeas_measurement_table(void) {
  static const std::string text = measurementTableJson().dump();
  return text.c_str();
}

AM_EXPORT const char* audiomeas_version(void) { return AUDIOMEAS_VERSION; }

AM_EXPORT audiomeas_result* audiomeas_batch_open(const char* request, audiomeas_batch** batch) {
  if (batch != nullptr) *batch = nullptr;
  return run([&](audiomeas_result& r) {
    if (batch == nullptr) throw usageError("no place for the batch");
    auto b = std::make_unique<audiomeas_batch>();
    b->settings = batchSettingsFromJson(parseJson(request, "the batch request"));
    b->manifest = readManifest(b->settings.manifest);
    b->results = std::make_unique<ResultsFile>(b->settings, b->manifest);
    Json todo = Json::array();
    for (const ManifestRow* row : b->results->todo())
      todo.push_back({{"row", row->row}, {"job", jobJson(rowJob(b->settings, *row))}});
    r.json = asWritten(Json{{"rows", b->manifest.rows.size()},
                            {"done_before", b->results->doneBefore().size()},
                            {"notes", b->manifest.notes},
                            {"todo", std::move(todo)}});
    r.code = kExitOk;
    *batch = b.release();
  });
}

AM_EXPORT audiomeas_result* audiomeas_batch_record(audiomeas_batch* batch, int64_t row, int code,
                                                   const char* json) {
  return run([&](audiomeas_result& r) {
    if (batch == nullptr) throw usageError("no batch");
    if (row < 1 || size_t(row) > batch->manifest.rows.size())
      throw usageError(
          fmt("row %lld is not a row of the manifest (1..%zu)", (long long)row, batch->manifest.rows.size()));
    // Text that is no JSON object still gives its row a line: an error.
    Json outcome = Json::parse(json != nullptr ? json : "", nullptr, false);
    if (outcome.is_discarded() || !outcome.is_object()) {
      outcome = Json{{"error", "the measurement gave no report"}};
      if (code == kExitOk || code == kExitFlagged) code = kExitBadInput;
    }
    const std::string notice = batch->results->record(batch->manifest.rows[size_t(row) - 1], code, outcome);
    r.code = kExitOk;
    r.json = asWritten(Json{{"notice", notice.empty() ? Json() : Json(notice)}});
  });
}

AM_EXPORT audiomeas_result* audiomeas_batch_summary(const audiomeas_batch* batch, int64_t not_run) {
  return run([&](audiomeas_result& r) {
    if (batch == nullptr) throw usageError("no batch");
    const BatchSummary s = batch->results->summary(not_run > 0 ? std::size_t(not_run) : 0);
    r.code = s.code;
    r.json = asWritten(s.json());
  });
}

AM_EXPORT void audiomeas_batch_free(audiomeas_batch* batch) { delete batch; }

AM_EXPORT audiomeas_result* audiomeas_campaign_report(const char* results_path, const char* output_path) {
  return run([&](audiomeas_result& r) {
    if (results_path == nullptr || output_path == nullptr)
      throw usageError("no results file or no output file");
    r.json = asWritten(writeCampaignReport(results_path, output_path));
    r.code = kExitOk;
  });
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

AM_EXPORT void audiomeas_result_free(audiomeas_result* result) {
  if (result != capi::outOfMemory()) delete result;
}

}  // extern "C"
