#include "generate_cmd.hpp"

#include <sndfile.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <vector>

#include "audio_io.hpp"
#include "generate.hpp"
#include "overwrite.hpp"
#include "resample.hpp"
#include "status.hpp"
#include "text.hpp"

namespace audiomeas::cli {

using namespace audiomeas::host;

namespace {

const char* kAttackReleaseHelp =
    "write the attack/release test signal: 115.5 s of noise at 48 kHz, stepping up by the "
    "step at 40 s and back down at 65 s; play it through the device, record the output and "
    "measure with `audiomeas attack-release OUT RECORDING`";

constexpr const char* kSeedHelp =
    "noise seed, a whole number from 0 to 2^64 - 1; the same seed, the same samples";

// The files `generate transient-snr` writes into its folder.
constexpr const char* kPresence = "presence.wav";
constexpr const char* kActivity = "activity.wav";
constexpr const char* kMeasured = "measured.wav";

std::uint64_t parseSeed(const std::string& text) {
  std::uint64_t seed = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, seed);
  if (text.empty() || ec != std::errc() || at != end)
    throw usageError("--seed " + text + ": not a whole number from 0 to 18446744073709551615 (2^64 - 1)");
  return seed;
}

}  // namespace

GenerateCommand::GenerateCommand(CLI::App& app) {
  const StimulusOptions defaults;
  levelDb_ = defaults.baseLevelDb;
  stepDb_ = defaults.stepDb;
  colour_ = colourName(defaults.colour);
  seed_ = std::to_string(defaults.seed);

  command_ = app.add_subcommand("generate", "write a test signal to play through a device");
  command_->require_subcommand(1);

  attackRelease_ = command_->add_subcommand("attack-release", kAttackReleaseHelp);
  attackRelease_->add_option("OUT", output_, "output file (format from the extension)")->required();
  attackRelease_->add_option("--level", levelDb_, "base level, dBFS RMS")->capture_default_str();
  attackRelease_->add_option("--step", stepDb_, "level step from 40 s to 65 s, dB")->capture_default_str();
  attackRelease_->add_option("--colour,--color", colour_, "noise colour")
      ->check(CLI::IsMember({"white", "pink"}))
      ->capture_default_str();
  attackRelease_->add_option("--seed", seed_, kSeedHelp)->capture_default_str();
  attackRelease_->add_flag("--float", asFloat_, "32-bit float samples instead of 16-bit");
  attackRelease_->add_flag(kForceFlag, force_, kForceHelp);
  rate_ = kStimulusRate;
  attackRelease_
      ->add_option("--rate", rate_,
                   "sample rate of the file, Hz: the device's own. The signal is made at 48 kHz and "
                   "converted (the same seed gives the same signal at every rate); attack-release "
                   "converts the recording back")
      ->check(CLI::Range(1000, 768000))
      ->capture_default_str();

  transientSnr_ = command_->add_subcommand(
      "transient-snr",
      "write presence.wav, activity.wav and measured.wav into OUTDIR: a worked example for "
      "transient-snr (a 1.5 s burst of speech-like noise over a noise floor)");
  transientSnr_->add_option("OUTDIR", output_, "folder for the three files (made if missing)")->required();
  transientSnr_->add_option("--seed", seed_, kSeedHelp)->capture_default_str();
  transientSnr_->add_flag(kForceFlag, force_, kForceHelp);
}

int GenerateCommand::run() const {
  if (attackRelease_->parsed()) {
    StimulusOptions o;
    o.baseLevelDb = levelDb_;
    o.stepDb = stepDb_;
    o.colour = *parseColour(colour_);
    o.seed = parseSeed(seed_);
    const std::filesystem::path out(output_);
    const std::string name = out.filename().string();
    refuseReplacing(out.parent_path(), {name.c_str()}, force_);
    const std::vector<double> made = attackReleaseStimulus(o);
    const std::vector<double> x = rate_ == kStimulusRate ? made : resample(made, kStimulusRate, rate_);
    const int subtype = asFloat_ ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
    writeAudio(output_, x, rate_, outputFormat(output_, SF_FORMAT_WAV | subtype));
    std::cout << fmt(
        "%s: %.1f s of %s noise at %d Hz%s, %.1f dBFS RMS, %.1f dBFS from %.0f s to "
        "%.0f s; peak %.1f dBFS\n",
        output_.c_str(), double(x.size()) / rate_, colourName(o.colour), rate_,
        rate_ == kStimulusRate ? "" : fmt(" (converted from %d Hz)", kStimulusRate).c_str(), o.baseLevelDb,
        o.baseLevelDb + o.stepDb, double(kStepUpSample) / kStimulusRate,
        double(kStepDownSample) / kStimulusRate, describeStimulus(o, made)["peak_dbfs"].get<double>());
    return kExitOk;
  }
  const std::filesystem::path dir(output_);
  refuseReplacing(dir, {kPresence, kActivity, kMeasured}, force_);
  const TransientExample e = transientSnrExample(parseSeed(seed_));
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw Failure(kExitOutput, output_ + ": cannot create: " + ec.message());
  const int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  writeAudio((dir / kPresence).string(), e.presence, kStimulusRate, format);
  writeAudio((dir / kActivity).string(), e.activity, kStimulusRate, format);
  writeAudio((dir / kMeasured).string(), e.measured, kStimulusRate, format);
  std::cout << fmt(
      "%s: %s (a pilot at %.0f dBFS throughout), %s (a marker "
      "at %.0f dBFS from %.0f ms before the burst to its end), %s (a "
      "burst at %.0f dBFS from %.1f s to %.1f s over a %.0f dBFS floor)\n",
      output_.c_str(), kPresence, e.pilotDb, kActivity, e.markerDb, e.markerLeadSeconds * 1000.0, kMeasured,
      e.burstDb, e.burstStartSeconds, e.burstEndSeconds, e.floorDb);
  return kExitOk;
}

}  // namespace audiomeas::cli
