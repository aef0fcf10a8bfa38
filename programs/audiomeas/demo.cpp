#include "demo.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "audio_io.hpp"
#include "demo_signals.hpp"
#include "measure.hpp"
#include "overwrite.hpp"
#include "report.hpp"
#include "text.hpp"

#include <sndfile.h>

namespace audiomeas::cli {

namespace {

using namespace demo;
using namespace audiomeas::host;

// Settle times are found on a 0.2 s grid: one step either way is agreement.
constexpr double kSettleTolerance = 0.2 + 1e-9;
// The burst's level is estimated through the background's noise power, and
// the rest's level through the measured total less that estimate: over the
// 48,000 burst samples, the background's fluctuation and its cross term
// with the burst move either by a few hundredths of a dB. 0.1 dB is well
// above that and well below any fault in the level arithmetic (a missed
// frame, a wrong noise correction, a 10-vs-20 log slip).
constexpr double kLevelTolerance = 0.1;

const char* yesNo(bool b) { return b ? "yes" : "no"; }

std::string settleText(double s) { return s > 0.0 ? fmt("%.1f s", s) : std::string("none"); }

double residualDb(const std::vector<double>& aligned, const std::vector<double>& reference, double gain,
                  size_t from, size_t to) {
  double err = 0.0, ref = 0.0;
  for (size_t i = from; i < to; ++i) {
    const double d = aligned[i] - gain * reference[i];
    err += d * d;
    ref += gain * reference[i] * gain * reference[i];
  }
  return 10.0 * std::log10(err / ref);
}

void writeSignal(const std::filesystem::path& dir, const char* name, const std::vector<double>& x,
                 double toUnit) {
  std::vector<double> unit(x.size());
  for (size_t i = 0; i < x.size(); ++i) unit[i] = x[i] * toUnit;
  writeAudio((dir / name).string(), unit, kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

}  // namespace

// The files --write-signals writes, each named once.
constexpr const char* kAlignReference = "align_reference.wav";
constexpr const char* kAlignRecording = "align_recording.wav";
constexpr const char* kAttackReleaseReference = "attack_release_reference.wav";
constexpr const char* kAttackReleaseRecording = "attack_release_recording.wav";
constexpr const char* kTransientPresence = "transient_presence.wav";
constexpr const char* kTransientActivity = "transient_activity.wav";
constexpr const char* kTransientMeasured = "transient_measured.wav";
constexpr const char* kManifest = "manifest.csv";

int runDemo(bool json, const std::string& signalsDir, bool force) {
  if (!signalsDir.empty())
    refuseReplacing(signalsDir,
                    {kAlignReference, kAlignRecording, kAttackReleaseReference, kAttackReleaseRecording,
                     kTransientPresence, kTransientActivity, kTransientMeasured, kManifest},
                    force);
  const AlignCase al = makeAlignCase();
  const AttackReleaseCase ar = makeAttackReleaseCase();
  const TransientCase tr = makeTransientCase();

  if (!signalsDir.empty()) {
    std::filesystem::path dir(signalsDir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw Failure(kExitOutput, signalsDir + ": cannot create: " + ec.message());
    const double toUnit = 1.0 / kInt16Factor;
    writeSignal(dir, kAlignReference, al.reference, 1.0);
    writeSignal(dir, kAlignRecording, al.recording, 1.0);
    writeSignal(dir, kAttackReleaseReference, ar.reference, toUnit);
    writeSignal(dir, kAttackReleaseRecording, ar.recording, toUnit);
    writeSignal(dir, kTransientPresence, tr.presence, toUnit);
    writeSignal(dir, kTransientActivity, tr.activity, toUnit);
    writeSignal(dir, kTransientMeasured, tr.measured, toUnit);
    std::ofstream manifest(dir / kManifest);
    manifest << "measurement,file1,file2,file3\n"
             << "align," << kAlignReference << "," << kAlignRecording << ",\n"
             << "attack-release," << kAttackReleaseReference << "," << kAttackReleaseRecording << ",\n"
             << "transient-snr," << kTransientPresence << "," << kTransientActivity << ","
             << kTransientMeasured << "\n";
    if (!manifest.flush()) throw Failure(kExitOutput, (dir / kManifest).string() + ": cannot write");
  }

  struct {
    double fineLag;
    bool failed;
  } a;
  std::vector<double> aligned;
  {
    Measurement m = host::align(al.reference, al.recording, kRate);
    a = {m.report["fine_lag_samples"].get<double>(), m.report["alignment_failed"].get<bool>()};
    aligned = std::move(m.samples);
  }
  const double gain = std::pow(10.0, al.gainDb / 20.0);
  const double residual = residualDb(aligned, al.reference, gain, size_t(al.onsetSample),
                                     al.reference.size() - size_t(al.delaySamples));
  const bool alignOk = a.fineLag == double(al.fineLag) && !a.failed;

  const auto settle = [](const Json& v) { return v.is_number() ? v.get<double>() : 0.0; };
  const Json er = attackRelease(ar.reference, ar.recording, kRate).report;
  const struct {
    double riseSettleTime, fallSettleTime;
    bool failed;
  } e{settle(er["release_settle_time_s"]), settle(er["attack_settle_time_s"]),
      er["alignment_failed"].get<bool>()};
  const bool arOk = !e.failed && ar.riseSettleTime > 0.0 && ar.fallSettleTime > 0.0 &&
                    std::fabs(e.riseSettleTime - ar.riseSettleTime) <= kSettleTolerance &&
                    std::fabs(e.fallSettleTime - ar.fallSettleTime) <= kSettleTolerance;

  const Json tj = transientSnr(tr.presence, tr.activity, tr.measured, kRate).report;
  const struct {
    double activeLevel, levelDifference;
    bool warning;
  } t{tj["active_level_db"].get<double>(), tj["level_difference_db"].get<double>(),
      tj["warning"].get<bool>()};
  const bool trOk = !t.warning && std::fabs(t.activeLevel - tr.activeLevel) <= kLevelTolerance &&
                    std::fabs(t.levelDifference - tr.levelDifference) <= kLevelTolerance;

  const bool allOk = alignOk && arOk && trOk;

  if (json) {
    Json out{{"align",
              {{"measured",
                {{"fine_lag_samples", a.fineLag}, {"alignment_failed", a.failed}, {"residual_db", residual}}},
               {"truth",
                {{"fine_lag_samples", al.fineLag},
                 {"alignment_failed", false},
                 {"delay_samples", al.delaySamples},
                 {"coarse_shift_samples", al.coarseShift}}},
               {"agrees", alignOk}}},
             {"attack_release",
              {{"measured",
                {{"release_settle_time_s", e.riseSettleTime},
                 {"attack_settle_time_s", e.fallSettleTime},
                 {"alignment_failed", e.failed}}},
               {"truth",
                {{"release_settle_time_s", ar.riseSettleTime},
                 {"attack_settle_time_s", ar.fallSettleTime},
                 {"alignment_failed", false},
                 {"delay_samples", ar.delaySamples},
                 {"attack_s", ar.attackSeconds},
                 {"release_s", ar.releaseSeconds}}},
               {"tolerance_s", 0.2},
               {"agrees", arOk}}},
             {"transient_snr",
              {{"measured",
                {{"active_level_db", t.activeLevel},
                 {"level_difference_db", t.levelDifference},
                 {"warning", t.warning}}},
               {"truth",
                {{"active_level_db", tr.activeLevel},
                 {"level_difference_db", tr.levelDifference},
                 {"warning", false}}},
               {"tolerance_db", kLevelTolerance},
               {"agrees", trOk}}},
             {"signals_dir", signalsDir.empty() ? Json() : Json(signalsDir)},
             {"all_agree", allOk}};
    std::cout << out.dump(2) << "\n";
    return allOk ? kExitOk : kExitFlagged;
  }

  auto row = [](const char* what, const std::string& measured, const std::string& truth) {
    return fmt("  %-22s %-16s %s\n", what, measured.c_str(), truth.c_str());
  };
  const std::string header = row("", "measured", "truth");
  std::string s;
  s += "audiomeas demo: three measurements on built-in signals, each beside its known truth\n\n";
  s +=
      fmt("align (synkro): 3 s at %d Hz, noise from sample %lld; the recording is the reference\n"
          "at %.0f dB, %lld samples later, over background noise at %.0f dB\n",
          kRate, al.onsetSample, al.gainDb, al.delaySamples, al.backgroundDb);
  s += header;
  s += row("fine lag", fmt("%.0f samples", a.fineLag),
           fmt("%lld samples (delay %lld: the coarse stage moves %lld)", al.fineLag, al.delaySamples,
               -al.coarseShift));
  s += row("alignment failed", yesNo(a.failed), "no");
  s += fmt("  aligned recording less the reference at %.0f dB: %.1f dB\n", al.gainDb, residual);
  s += fmt("  -> %s\n\n", alignOk ? "agrees" : "DISAGREES");

  s +=
      fmt("attack-release (envelo): 115.5 s of noise at %.0f dB re 32767, %.0f dB from %.0f s to\n"
          "%.0f s, through a compressor (threshold %.0f dB, ratio %.0f:1, attack %.1f s, release\n"
          "%.1f s), recorded %lld samples late. Truth: the settle times of the compressor's output\n"
          "itself, before the delay (tolerance: one 0.2 s step)\n",
          ar.quietDb, ar.loudDb, ar.stepUpSeconds, ar.stepDownSeconds, ar.thresholdDb, ar.ratio,
          ar.attackSeconds, ar.releaseSeconds, ar.delaySamples);
  s += header;
  s += row("attack settle", settleText(e.fallSettleTime), settleText(ar.fallSettleTime));
  s += row("release settle", settleText(e.riseSettleTime), settleText(ar.riseSettleTime));
  s += row("alignment failed", yesNo(e.failed), "no");
  s += fmt("  -> %s\n\n", arOk ? "agrees" : "DISAGREES");

  s +=
      fmt("transient-snr (burstra): 3 s; background noise at -40 dB re 32767, a burst at -25 dB\n"
          "from %.1f s to %.1f s; presence steady at -30 dB (tolerance %.1f dB)\n",
          tr.burstStartSeconds, tr.burstEndSeconds, kLevelTolerance);
  s += header;
  s += row("active level", fmt("%.2f dB", t.activeLevel), fmt("%.2f dB", tr.activeLevel));
  s += row("level difference", fmt("%.2f dB", t.levelDifference), fmt("%.2f dB", tr.levelDifference));
  s += row("warning", yesNo(t.warning), "no");
  s += fmt("  -> %s\n\n", trOk ? "agrees" : "DISAGREES");

  s += allOk ? "all three measurements agree with their truth\n"
             : "SOME MEASUREMENTS DISAGREE WITH THEIR TRUTH\n";
  if (!signalsDir.empty())
    s += fmt("signals saved in %s (16-bit WAV, 48 kHz) with manifest.csv for `audiomeas batch`\n",
             signalsDir.c_str());
  std::cout << s;
  return allOk ? kExitOk : kExitFlagged;
}

}  // namespace audiomeas::cli
