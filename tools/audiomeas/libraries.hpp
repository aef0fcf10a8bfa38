// The three measurements as the libraries compute them: the host side of
// their C ABI (building arrays, initialising, calling, releasing). Each
// library's header is included by one source file only, since envelo and
// burstra declare different functions under the same names.
#pragma once

#include <vector>

namespace audiomeas::cli {

// Fixed by envelo: 48 kHz, the test signal's length, the aligned span.
inline constexpr int kEnveloRate = 48000;
inline constexpr long long kEnveloReferenceSamples = 5544000;
inline constexpr long long kEnveloRecordingSamples = 720000;

struct AlignNumbers {
  double fineLag = 0.0;  // samples; positive: recording later than reference
  bool failed = true;
};

// synkro_2. Samples at full scale 1.0; reference must not be empty. When
// aligned is given it receives the recording moved onto the reference
// (reference's length). Safe to call from several threads at once.
AlignNumbers alignSignals(const std::vector<double> &reference, const std::vector<double> &recording,
                          double sampleRate, std::vector<double> *aligned);

struct AttackReleaseNumbers {
  double riseSettleTime = 0.0;  // s; 0.0 when none found
  double fallSettleTime = 0.0;  // s; 0.0 when none found
  bool failed = true;
};

// envelo_estimation on 48 kHz signals at 16-bit scale, reference at least
// kEnveloReferenceSamples, recording at least kEnveloRecordingSamples long.
// Calls are serialised: the library is not reentrant.
AttackReleaseNumbers attackRelease(const std::vector<double> &reference,
                                   const std::vector<double> &recording);

struct TransientNumbers {
  double activeLevel = -120.0;     // dB re RMS 32767
  double levelDifference = 0.0;    // dB, rest minus active
  bool warning = true;
};

// 5 ms frames at sampleRate Hz, as burstra forms them.
long long transientFrameLength(double sampleRate);

// burstra on signals at 16-bit scale; activity and measured must cover the
// presence signal's whole frames. Safe to call from several threads at once.
TransientNumbers transientSnr(const std::vector<double> &presence, const std::vector<double> &activity,
                              const std::vector<double> &measured, double sampleRate);

}  // namespace audiomeas::cli
