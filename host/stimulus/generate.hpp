// Test signals to play through a device, and the reference compressor that
// the demo and the documentation measure.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "envelo_estimation.hpp"

namespace audiomeas::host {

// Reproducible uniform noise: a 64-bit linear congruential generator. Integer
// arithmetic and one exact scaling, so every machine draws the same values.
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : state_(seed) {}
  // Uniform in [-1, 1), from the top 53 bits of the state.
  double next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return double(state_ >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }

 private:
  uint64_t state_;
};

enum class NoiseColour { kWhite, kPink };
std::optional<NoiseColour> parseColour(std::string_view name);  // "white", "pink"
const char* colourName(NoiseColour colour);

// The attack/release stimulus fills the measurement's whole timeline.
inline constexpr int kStimulusRate = envelo::kSampleRate;
inline constexpr long long kStimulusSamples = envelo::kMinReferenceLength;
// The level steps up 0.2 s before the falling segment's first window and back
// down 0.4 s before the rising segment's.
inline constexpr long long kStepUpSample = 40LL * kStimulusRate;
inline constexpr long long kStepDownSample = 65LL * kStimulusRate;

// Levels are dBFS RMS: 20 log10(RMS) with full scale 1.0.
struct StimulusOptions {
  // Below a typical compressor's threshold or an AGC's target; the step
  // takes it well above.
  double baseLevelDb = -30.0;
  double stepDb = 20.0;
  NoiseColour colour = NoiseColour::kWhite;
  uint64_t seed = 1;
};
inline constexpr double kMinBaseLevelDb = -80.0;  // keeps 20 dB over 16-bit quantisation noise
inline constexpr double kMaxStepDb = 60.0;

// The 115.5 s stimulus at 48 kHz, full scale 1.0, on the 16-bit grid
// (k / 32768) so that 16-bit and float files hold the same values: steady
// noise at the base level, baseLevelDb + stepDb from 40 s to 65 s. Each of
// the three stretches has exactly its RMS level. Throws Failure (usage) for
// options out of range or a signal whose peaks would reach full scale; the
// message gives the highest base level that fits.
std::vector<double> attackReleaseStimulus(const StimulusOptions& options);

// What the stimulus holds: rate, length, colour, seed, the level of each
// stretch with its times, the peak.
nlohmann::ordered_json describeStimulus(const StimulusOptions& options, const std::vector<double>& stimulus);

// A feed-forward compressor. Its detector is the signal's power over a
// one-pole average (detectorSeconds), in dB, smoothed by a one-pole filter
// with attackSeconds while the level rises and releaseSeconds while it
// falls; above the threshold the gain falls by (1 - 1/ratio) dB per dB.
// Levels are dB re fullScale; the output is not rounded.
struct CompressorModel {
  double thresholdDb = -20.0;
  double ratio = 4.0;
  double attackSeconds = 0.5;
  double releaseSeconds = 2.0;
  double detectorSeconds = 0.005;
  double fullScale = 1.0;
};
// Throws Failure (usage) for a parameter out of range.
std::vector<double> compress(const std::vector<double>& x, double sampleRate, const CompressorModel& model);

// A worked example for transient-snr at 48 kHz, full scale 1.0 on the
// 16-bit grid: a 1.5 s burst of speech-like noise (pink, a 4 Hz syllable
// rhythm, 20 ms fades) at burstDb over a white noise floor at floorDb.
struct TransientExample {
  std::vector<double> presence;  // steady pilot: the recording path is open throughout
  std::vector<double> activity;  // marker (a talk key, a voice detector) over the burst
  std::vector<double> measured;  // what the recorder got: the burst over the floor
  double burstStartSeconds = 1.0, burstEndSeconds = 2.5;
  double markerLeadSeconds = 0.02;  // the marker starts this much before the burst
  double burstDb = -20.0, floorDb = -45.0, pilotDb = -40.0, markerDb = -25.0;  // dBFS RMS
};
TransientExample transientSnrExample(uint64_t seed);

}  // namespace audiomeas::host
