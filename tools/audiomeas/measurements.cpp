#include "measurements.hpp"

#include <cmath>

#include "audio_io.hpp"
#include "libraries.hpp"
#include "text.hpp"

namespace audiomeas::cli {

namespace {

void requireSameRate(const Signal &first, const Signal &other) {
  if (other.sampleRate != first.sampleRate)
    throw badInput(other.path, fmt("sample rate %d Hz differs from %d Hz of %s", other.sampleRate,
                                   first.sampleRate, first.path.c_str()));
}

void requireLength(const Signal &s, long long needed, const char *what) {
  if (static_cast<long long>(s.samples.size()) < needed)
    throw badInput(s.path, "too short: " + samplesAndSeconds(s.samples.size(), s.sampleRate) +
                               "; " + what + " needs at least " +
                               samplesAndSeconds(needed, s.sampleRate));
}

std::string describe(const char *label, const Signal &s) {
  return fmt("%-11s %s (%d Hz, %zu samples, %.3f s)\n", label, s.path.c_str(), s.sampleRate,
             s.samples.size(), s.seconds());
}

Outcome runAlign(const Job &job) {
  // An unusable output name is a usage error, found before any work.
  if (!job.alignedOutput.empty()) outputFormat(job.alignedOutput, 0);
  Signal ref = readAudio(job.files[0], job.channel, Scale::kUnit);
  Signal rec = readAudio(job.files[1], job.channel, Scale::kUnit);
  const int format = job.alignedOutput.empty() ? 0 : outputFormat(job.alignedOutput, rec.format);
  requireSameRate(ref, rec);
  requireLength(ref, 1, "align");
  requireLength(rec, 1, "align");

  std::vector<double> aligned;
  AlignNumbers r = alignSignals(ref.samples, rec.samples, ref.sampleRate,
                                job.alignedOutput.empty() ? nullptr : &aligned);
  if (!job.alignedOutput.empty()) writeAudio(job.alignedOutput, aligned, rec.sampleRate, format);

  const double ms = r.fineLag / ref.sampleRate * 1000.0;
  Outcome o;
  o.json = Json{{"measurement", "align"},
                {"reference", ref.path},
                {"recording", rec.path},
                {"sample_rate", ref.sampleRate},
                {"fine_lag_samples", r.fineLag},
                {"fine_lag_ms", ms},
                {"alignment_failed", r.failed},
                {"aligned_output", job.alignedOutput.empty() ? Json() : Json(job.alignedOutput)}};
  o.text = describe("reference", ref) + describe("recording", rec) +
           fmt("%-11s %.0f samples (%.3f ms)%s\n", "fine lag", r.fineLag, ms,
               r.fineLag > 0   ? ", recording later than reference after the coarse stage"
               : r.fineLag < 0 ? ", recording earlier than reference after the coarse stage"
                               : "") +
           fmt("%-11s %s\n", "verdict",
               r.failed ? "ALIGNMENT FAILED: the lag and the aligned recording are not to be trusted"
                        : "aligned");
  if (!job.alignedOutput.empty())
    o.text += fmt("%-11s %s\n", "written", job.alignedOutput.c_str());
  o.code = r.failed ? kExitFlagged : kExitOk;
  return o;
}

Json settleJson(double seconds) { return seconds > 0.0 ? Json(seconds) : Json(); }

std::string settleText(double seconds) {
  return seconds > 0.0 ? fmt("%.1f s", seconds) : std::string("none found");
}

Outcome runAttackRelease(const Job &job) {
  Signal ref = readAudio(job.files[0], job.channel, Scale::kInt16);
  Signal rec = readAudio(job.files[1], job.channel, Scale::kInt16);
  if (ref.sampleRate != kEnveloRate)
    throw badInput(ref.path, fmt("sample rate %d Hz; attack-release needs %d Hz", ref.sampleRate,
                                 kEnveloRate));
  requireSameRate(ref, rec);
  requireLength(ref, kEnveloReferenceSamples, "attack-release (reference)");
  requireLength(rec, kEnveloRecordingSamples, "attack-release (recording)");

  AttackReleaseNumbers r = attackRelease(ref.samples, rec.samples);

  Outcome o;
  o.json = Json{{"measurement", "attack-release"},
                {"reference", ref.path},
                {"recording", rec.path},
                {"sample_rate", ref.sampleRate},
                {"rise_settle_time_s", settleJson(r.riseSettleTime)},
                {"fall_settle_time_s", settleJson(r.fallSettleTime)},
                {"alignment_failed", r.failed}};
  o.text = describe("reference", ref) + describe("recording", rec) +
           fmt("%-11s %s (level rising to its steady state from 65.4 s)\n", "rise settle",
               settleText(r.riseSettleTime).c_str()) +
           fmt("%-11s %s (level falling to its steady state from 40.2 s)\n", "fall settle",
               settleText(r.fallSettleTime).c_str()) +
           fmt("%-11s %s\n", "verdict",
               r.failed ? "ALIGNMENT FAILED: the settle times are not to be trusted" : "aligned");
  o.code = r.failed ? kExitFlagged : kExitOk;
  return o;
}

Outcome runTransient(const Job &job) {
  Signal presence = readAudio(job.files[0], job.channel, Scale::kInt16);
  Signal activity = readAudio(job.files[1], job.channel, Scale::kInt16);
  Signal measured = readAudio(job.files[2], job.channel, Scale::kInt16);
  requireSameRate(presence, activity);
  requireSameRate(presence, measured);
  const long long frame = transientFrameLength(presence.sampleRate);
  if (frame < 1)
    throw badInput(presence.path, fmt("sample rate %d Hz; transient-snr needs at least 200 Hz "
                                      "for its 5 ms frames",
                                      presence.sampleRate));
  requireLength(presence, frame, "transient-snr (one 5 ms frame)");
  // The activity and measured signals are read over the presence signal's frames.
  const long long covered = static_cast<long long>(presence.samples.size()) / frame * frame;
  requireLength(activity, covered, "transient-snr (the presence signal's frames)");
  requireLength(measured, covered, "transient-snr (the presence signal's frames)");

  TransientNumbers r =
      transientSnr(presence.samples, activity.samples, measured.samples, presence.sampleRate);

  Outcome o;
  o.json = Json{{"measurement", "transient-snr"},
                {"presence", presence.path},
                {"activity", activity.path},
                {"measured", measured.path},
                {"sample_rate", presence.sampleRate},
                {"active_level_db", r.activeLevel},
                {"level_difference_db", r.levelDifference},
                {"warning", r.warning}};
  o.text = describe("presence", presence) + describe("activity", activity) +
           describe("measured", measured) +
           fmt("%-11s %.2f dB re RMS 32767 (noise-corrected)\n", "active", r.activeLevel) +
           fmt("%-11s %.2f dB (rest minus active)\n", "difference", r.levelDifference) +
           fmt("%-11s %s\n", "warning",
               r.warning ? "RAISED: active part shorter than 50 ms or longer than 10 s, "
                           "or a level above 0 dB"
                         : "none");
  o.code = r.warning ? kExitFlagged : kExitOk;
  return o;
}

}  // namespace

bool isMeasurement(const std::string &name) { return fileCount(name) > 0; }

size_t fileCount(const std::string &measurement) {
  if (measurement == "align" || measurement == "attack-release") return 2;
  if (measurement == "transient-snr") return 3;
  return 0;
}

Outcome runJob(const Job &job) {
  if (job.measurement == "align") return runAlign(job);
  if (job.measurement == "attack-release") return runAttackRelease(job);
  if (job.measurement == "transient-snr") return runTransient(job);
  throw usageError("unknown measurement '" + job.measurement + "'");
}

}  // namespace audiomeas::cli
