// The C names of the generators: a thin layer over generate.hpp.
#include "audiomeas.h"

#include <cmath>
#include <string>
#include <vector>

#include "capi_result.hpp"
#include "entry_checks.hpp"
#include "export.hpp"
#include "generate.hpp"

using namespace audiomeas::host;

extern "C" {

AM_EXPORT audiomeas_result* audiomeas_generate_attack_release(double base_level_db, double step_db,
                                                              const char* colour, uint64_t seed) {
  return capi::run([&](audiomeas_result& r) {
    StimulusOptions o;
    if (!std::isnan(base_level_db)) o.baseLevelDb = base_level_db;
    if (!std::isnan(step_db)) o.stepDb = step_db;
    o.seed = seed;
    if (colour != nullptr) {
      const auto c = parseColour(colour);
      if (!c) throw usageError(std::string("unknown noise colour '") + colour + "' (white, pink)");
      o.colour = *c;
    }
    r.samples = attackReleaseStimulus(o);
    r.json = describeStimulus(o, r.samples).dump(-1, ' ', false, Json::error_handler_t::replace);
    r.code = kExitOk;
  });
}

AM_EXPORT audiomeas_result* audiomeas_model_compressor(const double* signal, int64_t n, double sample_rate,
                                                       double threshold_db, double ratio, double attack_s,
                                                       double release_s) {
  return capi::run([&](audiomeas_result& r) {
    if (n < 0 || (n > 0 && signal == nullptr)) throw usageError("signal: no samples to read");
    capi::requireRateFits(sample_rate);
    CompressorModel m;
    m.thresholdDb = threshold_db;
    m.ratio = ratio;
    m.attackSeconds = attack_s;
    m.releaseSeconds = release_s;
    r.samples = compress(std::vector<double>(signal, signal + n), sample_rate, m);
    r.json = Json{{"model", "compressor"},           {"sample_rate", sample_rate},
                  {"threshold_dbfs", m.thresholdDb}, {"ratio", m.ratio},
                  {"attack_s", m.attackSeconds},     {"release_s", m.releaseSeconds},
                  {"detector_s", m.detectorSeconds}}
                 .dump(-1, ' ', false, Json::error_handler_t::replace);
    r.code = kExitOk;
  });
}

}  // extern "C"
