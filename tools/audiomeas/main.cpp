// audiomeas: command-line host of the synkro, envelo and burstra libraries.
#include <CLI/CLI.hpp>

#include <iostream>
#include <new>
#include <thread>

#include "batch.hpp"
#include "demo.hpp"
#include "measurements.hpp"

#ifndef AUDIOMEAS_VERSION
#define AUDIOMEAS_VERSION "unknown"
#endif

namespace {

using namespace audiomeas::cli;

constexpr const char *kFooter = R"(
Sample scales handed to the libraries:
  align            full scale 1.0
  attack-release,  16-bit scale, levels relative to 32767: a 16-bit file gives its
  transient-snr    stored integers; other formats are scaled alike (1.0 -> 32768)
attack-release needs 48000 Hz; every measurement needs its inputs at one rate.

Exit codes:
  0  measured, no flag raised
  1  measured, but the library raised its flag (alignment failed, warning);
     demo: a result missed its truth; batch: a row did so
  2  usage error (command line, batch manifest)
  3  bad input: a file missing, unreadable or not audio, several channels and
     no --channel, sample rates that differ or do not fit, an input too short;
     batch: a row failed so
  4  an output file could not be written)";

struct MeasureArgs {
  std::vector<std::string> files;
  std::string output;
  bool json = false;
  int channel = 0;
};

void addCommon(CLI::App *sub, MeasureArgs &a) {
  sub->add_flag("--json", a.json, "print one JSON object on standard output");
  sub->add_option("--channel", a.channel,
                  "channel K (1-based) of multi-channel files; needed for them (mono files are used as they are)")
      ->check(CLI::PositiveNumber);
}

int measure(const std::string &name, const MeasureArgs &a) {
  Job job{name, a.files, a.channel, a.output};
  Outcome o = runJob(job);
  if (a.json)
    std::cout << o.json.dump(2) << "\n";
  else
    std::cout << o.text;
  return o.code;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"audiomeas: audio measurements through the synkro, envelo and burstra "
               "libraries"};
  app.set_version_flag("--version", AUDIOMEAS_VERSION);
  app.require_subcommand(1);
  app.footer(kFooter);

  MeasureArgs align, attack, transient;
  std::string ref, rec;
  auto *alignCmd = app.add_subcommand(
      "align", "match RECORDING to REFERENCE (synkro): fine lag in samples and ms, verdict");
  alignCmd->add_option("REFERENCE", ref, "reference signal (audio file)")->required();
  alignCmd->add_option("RECORDING", rec, "recording to match (audio file)")->required();
  alignCmd->add_option("-o,--output", align.output,
                       "write the aligned recording here (format from the extension)");
  addCommon(alignCmd, align);

  std::string arRef, arRec;
  auto *arCmd = app.add_subcommand(
      "attack-release",
      "settle times after the level steps of the 115.5 s test signal (envelo), 48 kHz, "
      "16-bit scale");
  arCmd->add_option("REFERENCE", arRef, "the test signal, at least 5544000 samples (115.5 s)")
      ->required();
  arCmd->add_option("RECORDING", arRec, "its recording, at least 720000 samples (15 s)")
      ->required();
  addCommon(arCmd, attack);

  std::string presence, activity, measured;
  auto *trCmd = app.add_subcommand(
      "transient-snr",
      "noise-corrected level of the active part and level difference (burstra), 16-bit scale");
  trCmd->add_option("PRESENCE", presence, "presence signal (its length sets the 5 ms frames)")
      ->required();
  trCmd->add_option("ACTIVITY", activity, "activity signal (active above -30 dB)")->required();
  trCmd->add_option("MEASURED", measured, "the signal whose levels are reported")->required();
  addCommon(trCmd, transient);

  bool demoJson = false;
  std::string signalsDir;
  auto *demoCmd = app.add_subcommand(
      "demo", "run the three measurements on built-in signals beside their known truth");
  demoCmd->add_flag("--json", demoJson, "print one JSON object on standard output");
  demoCmd->add_option("--write-signals", signalsDir,
                      "save the signals in DIR as 16-bit WAV files, with a batch manifest");

  BatchOptions batch;
  batch.workers = int(std::max(1u, std::thread::hardware_concurrency()));
  auto *batchCmd = app.add_subcommand(
      "batch",
      "one measurement per row of a CSV manifest (measurement,file1,file2[,file3]), one JSON "
      "line per row as it finishes");
  batchCmd->add_option("MANIFEST", batch.manifest, "CSV manifest; relative paths from its folder")
      ->required();
  batchCmd->add_option("-j,--jobs", batch.workers, "workers (attack-release rows run one at a time)")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  batchCmd->add_option("-o,--output", batch.output,
                       "append JSON lines here (default: standard output)");
  batchCmd->add_flag("--resume", batch.resume, "skip the rows the output file already holds");
  batchCmd->add_option("--channel", batch.channel, "channel K (1-based) of multi-channel files")
      ->check(CLI::PositiveNumber);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "audiomeas: " << e.what() << " (see audiomeas --help)\n";
    return kExitUsage;
  }

  try {
    if (*alignCmd) {
      align.files = {ref, rec};
      return measure("align", align);
    }
    if (*arCmd) {
      attack.files = {arRef, arRec};
      return measure("attack-release", attack);
    }
    if (*trCmd) {
      transient.files = {presence, activity, measured};
      return measure("transient-snr", transient);
    }
    if (*demoCmd) return runDemo(demoJson, signalsDir);
    if (*batchCmd) return runBatch(batch);
  } catch (const Failure &f) {
    std::cerr << "audiomeas: " << f.what() << "\n";
    return f.code();
  } catch (const std::bad_alloc &) {
    std::cerr << "audiomeas: out of memory\n";
    return kExitBadInput;
  }
  return kExitUsage;
}
