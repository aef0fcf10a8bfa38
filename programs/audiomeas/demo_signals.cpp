#include "demo_signals.hpp"

#include <algorithm>
#include <cmath>

namespace audiomeas::cli::demo {

namespace {

constexpr double kFullScale16 = 32767.0;
constexpr double kSqrt3 = 1.7320508075688772;  // uniform noise of peak sqrt(3) has RMS 1

double dbToAmplitude(double db) { return std::pow(10.0, db / 20.0); }

// Nearest 16-bit value, kept inside the 16-bit range.
double round16(double v) { return std::clamp(std::nearbyint(v), -32768.0, 32767.0); }

double levelDb(double sumOfSquares, double count) {
  return 10.0 * std::log10(sumOfSquares / count / (kFullScale16 * kFullScale16));
}

}  // namespace

AlignCase makeAlignCase() {
  AlignCase c;
  const long long n = 3 * kRate;
  c.onsetSample = 24060;  // a quarter into block 101 (240-sample blocks from sample 0)
  c.delaySamples = 1260;  // puts the recording's onset half into block 106
  c.gainDb = -6.0;
  c.backgroundDb = -70.0;
  // The reference's first active block is the one holding its onset, the
  // recording's likewise (half a block of noise at -32 dB clears its
  // threshold, 12 dB under its overall -27 dB; the faint background does
  // not). Both onsets come 160 blocks after their first active blocks, so
  // the coarse stage moves the recording 5 blocks earlier.
  const long long block = kRate / 200;
  c.coarseShift = block * (c.onsetSample / block - (c.onsetSample + c.delaySamples) / block);
  c.fineLag = c.delaySamples + c.coarseShift;

  Lcg noise(0x5EED0001), background(0x5EED0002);
  const double gain = dbToAmplitude(c.gainDb);
  const double floorPeak = dbToAmplitude(c.backgroundDb) * kSqrt3;
  c.reference.assign(n, 0.0);
  c.recording.assign(n, 0.0);
  for (long long i = c.onsetSample; i < n; ++i)
    c.reference[i] = round16(0.1 * kSqrt3 * noise.next() * 32768.0) / 32768.0;
  for (long long i = 0; i < n; ++i) {
    double v = floorPeak * background.next();
    if (i >= c.delaySamples) v += gain * c.reference[i - c.delaySamples];
    c.recording[i] = round16(v * 32768.0) / 32768.0;
  }
  return c;
}

AttackReleaseCase makeAttackReleaseCase() {
  AttackReleaseCase c;
  c.quietDb = -40.0;
  c.loudDb = -20.0;
  c.stepUpSeconds = double(host::kStepUpSample) / kRate;
  c.stepDownSeconds = double(host::kStepDownSample) / kRate;
  c.thresholdDb = -45.0;
  c.ratio = 3.0;
  c.attackSeconds = 0.5;
  c.releaseSeconds = 2.0;
  c.delaySamples = 4800;

  host::StimulusOptions stimulus;
  stimulus.baseLevelDb = c.quietDb;
  stimulus.stepDb = c.loudDb - c.quietDb;
  stimulus.seed = 0x5EED0003;
  c.reference = host::attackReleaseStimulus(stimulus);
  for (double& v : c.reference) v *= 32768.0;  // on the 16-bit grid: integers

  host::CompressorModel device;
  device.thresholdDb = c.thresholdDb;
  device.ratio = c.ratio;
  device.attackSeconds = c.attackSeconds;
  device.releaseSeconds = c.releaseSeconds;
  device.fullScale = kFullScale16;
  c.deviceOutput = host::compress(c.reference, kRate, device);
  for (double& v : c.deviceOutput) v = round16(v);

  c.recording.assign(c.reference.size() + c.delaySamples, 0.0);
  std::copy(c.deviceOutput.begin(), c.deviceOutput.end(), c.recording.begin() + c.delaySamples);

  SettleTimes truth = settleTimes(c.deviceOutput);
  c.riseSettleTime = truth.rise;
  c.fallSettleTime = truth.fall;
  return c;
}

SettleTimes settleTimes(const std::vector<double>& aligned) {
  constexpr long long kWindow = 120000;  // 2.5 s
  constexpr long long kHop = 9600;       // 0.2 s
  constexpr int kSteady = 51;
  auto settle = [&](long long first, int windows, bool falling) {
    if (static_cast<long long>(aligned.size()) < first + kHop * (windows - 1) + kWindow) return 0.0;
    std::vector<double> track(windows);
    for (int i = 0; i < windows; ++i) {
      const double* x = aligned.data() + first + kHop * i;
      double squares = 0.0;
      for (long long k = 0; k < kWindow; ++k) squares += x[k] * x[k];
      const double v = std::log10((std::sqrt(squares / double(kWindow)) + 1e-6) / kFullScale16);
      // One-pole smoothing of the level in dB, weight 0.9 on the past.
      track[i] = i == 0 ? 20.0 * v : 20.0 * (1.0 - 0.9) * v + 0.9 * track[i - 1];
    }
    double sum = 0.0, hi = track[windows - kSteady], lo = hi;
    for (int i = windows - kSteady; i < windows; ++i) {
      sum += track[i];
      hi = std::max(hi, track[i]);
      lo = std::min(lo, track[i]);
    }
    const double mean = sum / kSteady;
    const double edge = falling ? mean + (hi - lo) : mean - (hi - lo);
    for (int j = 0; j + 1 < windows; ++j) {
      bool steady = falling ? track[j] < edge && track[j + 1] < edge : track[j] > edge && track[j + 1] > edge;
      if (steady) return (j + 1) * 0.2;
    }
    return 0.0;
  };
  SettleTimes t;
  t.fall = settle(1929600, 113, true);
  t.rise = settle(3139200, 239, false);
  return t;
}

TransientCase makeTransientCase() {
  TransientCase c;
  const long long n = 3 * kRate;
  const long long frame = kRate / 200;
  const long long burstStart = kRate, burstEnd = 2 * kRate;
  // The level detector counts a stretch as active from its fourth frame
  // above -30 dB on (its first, smoothed from silence, stays below): the
  // activity signal starts four frames early so that the active frames are
  // exactly the burst's.
  const long long activityStart = burstStart - 4 * frame;
  c.burstStartSeconds = double(burstStart) / kRate;
  c.burstEndSeconds = double(burstEnd) / kRate;

  Lcg pNoise(0x5EED0004), aNoise(0x5EED0005), bNoise(0x5EED0006), sNoise(0x5EED0007);
  const double presencePeak = dbToAmplitude(-30.0) * kFullScale16 * kSqrt3;
  const double activityPeak = dbToAmplitude(-25.0) * kFullScale16 * kSqrt3;
  const double backgroundPeak = dbToAmplitude(-40.0) * kFullScale16 * kSqrt3;
  const double burstPeak = dbToAmplitude(-25.0) * kFullScale16 * kSqrt3;
  c.presence.resize(n);
  c.activity.assign(n, 0.0);
  c.measured.resize(n);
  double backgroundSquares = 0.0, burstSquares = 0.0;
  for (long long i = 0; i < n; ++i) {
    c.presence[i] = round16(presencePeak * pNoise.next());
    if (i >= activityStart && i < burstEnd) c.activity[i] = round16(activityPeak * aNoise.next());
    const double background = round16(backgroundPeak * bNoise.next());
    const double burst = i >= burstStart && i < burstEnd ? round16(burstPeak * sNoise.next()) : 0.0;
    c.measured[i] = background + burst;
    backgroundSquares += background * background;
    burstSquares += burst * burst;
  }
  c.activeLevel = levelDb(burstSquares, double(burstEnd - burstStart));
  c.restLevel = levelDb(backgroundSquares, double(n));
  c.levelDifference = c.restLevel - c.activeLevel;
  return c;
}

}  // namespace audiomeas::cli::demo
