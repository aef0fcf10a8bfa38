// The three measurements on sample arrays, each with its report: the
// libraries' own results (bit for bit: the same internal code runs), what
// their stages computed, the verdict tests as the libraries recorded them,
// the reason for every raised flag and, on request, the arrays behind them.
// schema/audiomeas.schema.json describes every field; the measurement table
// (measurements.hpp) runs these and adds the file names.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "sample_source.hpp"
#include "status.hpp"

namespace audiomeas::host {

using Json = nlohmann::ordered_json;

// attack-release's default pad: 100 ms at 48 kHz, well inside the delay
// range the library accepts.
inline constexpr std::int64_t kDefaultPadSamples = 4800;

// A report's overall verdict when something stands against its result
// (else its good word, "aligned" or "measured"): flagged when anything
// flags it, else doubtful.
inline constexpr const char* kVerdictDoubtful = "doubtful";
inline constexpr const char* kVerdictFlagged = "flagged";

struct Options {
  bool details = false;        // add the arrays (tracks, frames, correlation)
  bool libraryOutput = false;  // align: the library's own aligned array
  // align: find the delay on the first windowSeconds of both signals (0:
  // all of them) and apply it to the whole recording, so that memory grows
  // with the window, not the files. Assumes a constant delay.
  double windowSeconds = 0.0;
  // attack-release: zeros put before the recording, so that a device with
  // no latency lags the reference; the delay reported is net of them.
  std::int64_t padSamples = kDefaultPadSamples;
  // Inputs at another sample rate than the measurement's are converted to
  // it (host/resample); false refuses them.
  bool resample = true;
};

// A signal too long to hold, made a block at a time: frames samples, any
// span of which fill(from, count, out) writes. Valid while the sources it
// reads live.
struct SignalBlocks {
  std::int64_t frames = 0;
  std::function<void(std::int64_t from, std::int64_t count, double* out)> fill;
};

struct Measurement {
  Json report;                  // one object; "measurement" first
  std::vector<double> samples;  // align: the aligned recording
  SignalBlocks signal;          // align on sources: the same, made as it is written
  ExitCode code = kExitOk;      // kExitOk, or kExitFlagged when the library raised its flag
};

// Each throws InputError (naming the argument, and the sample when one is
// at fault) for input the measurement cannot take, before any library code
// runs: empty or too short signals, non-finite samples, a sample rate that
// does not fit.

// synkro_2: samples at full scale 1.0 (0 dB = RMS 1.0 in its activity tests).
Measurement align(std::span<const double> reference, std::span<const double> recording, double sampleRate,
                  const Options& options = {});

// The same on sources read only where needed: the first window (or all) of
// each for the library, the rest for the host's opinion. Samples are
// checked finite only where the library reads them. keepSignal false: the
// aligned recording is given as blocks (Measurement::signal), never whole.
Measurement align(const SampleSource& reference, const SampleSource& recording, double sampleRate,
                  const Options& options, bool keepSignal);

// envelo_estimation: 48 kHz, 16-bit scale (0 dB = RMS 32767). Serialised:
// envelo's working arrays are static.
Measurement attackRelease(std::span<const double> reference, std::span<const double> recording,
                          double sampleRate, const Options& options = {});

// burstra: 16-bit scale; activity and measured must cover presence's frames.
Measurement transientSnr(std::span<const double> presence, std::span<const double> activity,
                         std::span<const double> measured, double sampleRate, const Options& options = {});

// Samples per 5 ms frame at sampleRate, as burstra forms them (0: none).
std::int64_t transientFrameLength(double sampleRate);

}  // namespace audiomeas::host
