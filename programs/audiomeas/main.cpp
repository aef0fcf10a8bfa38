// audiomeas: command-line host of the synkro, envelo and burstra libraries.
#include <fcntl.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "audio_io.hpp"
#include "batch.hpp"
#include "demo.hpp"
#include "generate_cmd.hpp"
#include "measure.hpp"
#include "memory.hpp"
#include "text.hpp"

#ifndef AUDIOMEAS_VERSION
#define AUDIOMEAS_VERSION "unknown"
#endif

namespace {

using namespace audiomeas::cli;
using namespace audiomeas::host;

constexpr const char* kFooter = R"(
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
     batch: a row failed so; the memory a measurement needs exceeds what the
     machine has available (the message gives the estimate); an unexpected
     internal error
  4  an output file or standard output could not be written)";

struct MeasureArgs {
  std::vector<std::string> files;
  std::string output;
  bool json = false;
  int channel = 0;
  Options options;
};

void addCommon(CLI::App* sub, MeasureArgs& a) {
  sub->add_flag("--json", a.json, "print one JSON object on standard output");
  sub->add_option(
         "--channel", a.channel,
         "channel K (1-based) of multi-channel files; needed for them (mono files are used as they are)")
      ->check(CLI::PositiveNumber);
  sub->add_flag("--details", a.options.details,
                "with --json: add the arrays behind the result (tracks, frames, correlation)");
}

// Set when the tool started with standard output closed: descriptor 1 then
// holds /dev/null, so that no file opened later takes its place.
bool stdoutWasClosed = false;

// Descriptors 0 to 2 that are closed get /dev/null, lowest first.
void occupyStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    if (fd == STDOUT_FILENO) stdoutWasClosed = true;
    if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return;
  }
}

Failure stdoutFailure() { return Failure(kExitOutput, "standard output: cannot write; the result is lost"); }

// Everything printed on standard output reached it, or exit 4.
void requireStdoutWritten() {
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) throw stdoutFailure();
}

// A line on stderr, redrawn in place, while a single measurement runs past
// a couple of seconds: what it does (reading, measuring, writing), its
// memory estimate and the time so far. Only when stderr is a terminal.
class Progress {
 public:
  Progress(std::string measuring, std::string estimate)
      : measuring_(std::move(measuring)), estimate_(std::move(estimate)), doing_(measuring_) {
    if (::isatty(STDERR_FILENO) != 1) return;
    try {
      ticker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      return;  // no thread to be had: the measurement runs without a display
    }
    active().store(this);
    setFileActivityListener(&onFile);
  }
  ~Progress() {
    if (!ticker_.joinable()) return;
    setFileActivityListener(nullptr);
    active().store(nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    ticker_.join();
    if (drawn_) std::fprintf(stderr, "\r\033[K");
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  static std::atomic<Progress*>& active() {
    static std::atomic<Progress*> p{nullptr};
    return p;
  }
  static void onFile(const char* what, const std::string& path) {
    Progress* p = active().load();
    if (p == nullptr) return;
    std::lock_guard<std::mutex> lock(p->mutex_);
    const std::string w = what;
    p->doing_ = w == "read" ? p->measuring_ : w + " " + path;
  }
  void run() {
    using namespace std::chrono;
    constexpr auto kQuiet = seconds(2);  // shorter measurements say nothing
    const auto start = steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    if (cv_.wait_for(lock, kQuiet, [this] { return stop_; })) return;
    do {
      const double s = duration<double>(steady_clock::now() - start).count();
      std::fprintf(stderr, "\raudiomeas: %s (memory estimate %s), %.0f s\033[K", doing_.c_str(),
                   estimate_.c_str(), s);
      std::fflush(stderr);
      drawn_ = true;
    } while (!cv_.wait_for(lock, milliseconds(500), [this] { return stop_; }));
  }

  std::string measuring_, estimate_, doing_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false, drawn_ = false;
  std::thread ticker_;
};

std::string doing(const std::string& measurement, double seconds) {
  if (measurement == "align") return fmt("aligning %.1f s", seconds);
  return fmt("measuring %s over %.1f s", measurement.c_str(), seconds);
}

int measure(const std::string& name, const MeasureArgs& a) {
  // Nothing could be reported: refuse before any work.
  if (stdoutWasClosed) throw stdoutFailure();
  Job job;
  job.measurement = name;
  job.files = a.files;
  job.channel = a.channel;
  job.alignedOutput = a.output;
  job.options = a.options;
  refuseOverwrite(job.alignedOutput, job.files);
  // The job refuses itself when it needs more memory than is available.
  const JobSize size = sizeOf(job);

  Outcome o;
  {
    Progress progress(doing(name, size.seconds), describeBytes(size.peakBytes));
    o = runJob(job);
  }
  // File names need not be UTF-8: invalid bytes become U+FFFD in JSON.
  if (a.json)
    std::cout << o.json.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  else
    std::cout << o.text;
  requireStdoutWritten();
  return o.code;
}

int run(int argc, char** argv) {
  CLI::App app{
      "audiomeas: audio measurements through the synkro, envelo and burstra "
      "libraries"};
  app.set_version_flag("--version", AUDIOMEAS_VERSION);
  app.require_subcommand(1);
  app.footer(kFooter);

  MeasureArgs align, attack, transient;
  std::string ref, rec;
  auto* alignCmd = app.add_subcommand(
      "align", "match RECORDING to REFERENCE (synkro): fine lag in samples and ms, verdict");
  alignCmd->add_option("REFERENCE", ref, "reference signal (audio file)")->required();
  alignCmd->add_option("RECORDING", rec, "recording to match (audio file)")->required();
  alignCmd->add_option("-o,--output", align.output,
                       "write the aligned recording here (format from the extension)");
  alignCmd
      ->add_option("--window", align.options.windowSeconds,
                   "find the delay on the first SECONDS of both files and apply it to the "
                   "whole recording (memory grows with the window; assumes a constant delay)")
      ->check(CLI::PositiveNumber);
  alignCmd->add_flag("--library-output", align.options.libraryOutput,
                     "write synkro_2's own aligned array (which can lose samples that the "
                     "coarse move pushed out) instead of the recording moved by the total delay");
  addCommon(alignCmd, align);

  std::string arRef, arRec;
  auto* arCmd =
      app.add_subcommand("attack-release",
                         "settle times after the level steps of the 115.5 s test signal (envelo), 48 kHz, "
                         "16-bit scale");
  arCmd
      ->add_option("REFERENCE", arRef,
                   "the test signal (115.5 s at 48 kHz; `audiomeas generate attack-release` writes it)")
      ->required();
  arCmd
      ->add_option("RECORDING", arRec,
                   "its recording through the device, covering the test signal after its delay")
      ->required();
  arCmd
      ->add_option("--pad", attack.options.padSamples,
                   "zeros put before the recording, so that a device without latency can be "
                   "measured; the delay is reported net of them")
      ->check(CLI::Range(std::int64_t(0), std::int64_t(240000)))
      ->capture_default_str();
  addCommon(arCmd, attack);

  std::string presence, activity, measured;
  auto* trCmd = app.add_subcommand(
      "transient-snr",
      "noise-corrected level of the active part and level difference (burstra), 16-bit scale");
  trCmd->add_option("PRESENCE", presence, "presence signal (its length sets the 5 ms frames)")->required();
  trCmd->add_option("ACTIVITY", activity, "activity signal (active above -30 dB)")->required();
  trCmd->add_option("MEASURED", measured, "the signal whose levels are reported")->required();
  addCommon(trCmd, transient);

  bool demoJson = false;
  std::string signalsDir;
  auto* demoCmd =
      app.add_subcommand("demo", "run the three measurements on built-in signals beside their known truth");
  demoCmd->add_flag("--json", demoJson, "print one JSON object on standard output");
  demoCmd->add_option("--write-signals", signalsDir,
                      "save the signals in DIR as 16-bit WAV files, with a batch manifest");

  BatchOptions batch;
  batch.workers = int(std::max(1u, std::thread::hardware_concurrency()));
  auto* batchCmd = app.add_subcommand(
      "batch",
      "one measurement per row of a CSV manifest (measurement,file1,file2[,file3]), one JSON "
      "line per row as it finishes");
  batchCmd->add_option("MANIFEST", batch.manifest, "CSV manifest; relative paths from its folder")
      ->required();
  batchCmd->add_option("-j,--jobs", batch.workers, "workers (attack-release rows run one at a time)")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  batchCmd->add_option("-o,--output", batch.output, "append JSON lines here (default: standard output)");
  batchCmd->add_flag("--resume", batch.resume, "skip the rows the output file already holds");
  batchCmd->add_option("--channel", batch.channel, "channel K (1-based) of multi-channel files")
      ->check(CLI::PositiveNumber);
  std::string memoryBudget;
  batchCmd->add_option("--memory-budget", memoryBudget,
                       "start a row only while the memory estimates of the running rows stay "
                       "within SIZE (e.g. 8G, 512M; default: the memory available)");

  GenerateCommand generate(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "audiomeas: " << e.what() << " (see audiomeas --help)\n";
    return kExitUsage;
  }

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
  if (generate.chosen()) return generate.run();
  if (*demoCmd) {
    if (stdoutWasClosed) throw stdoutFailure();
    const int code = runDemo(demoJson, signalsDir);
    requireStdoutWritten();
    return code;
  }
  if (*batchCmd) {
    if (!memoryBudget.empty()) {
      const std::optional<std::size_t> b = parseBytes(memoryBudget);
      if (!b)
        throw usageError("--memory-budget " + memoryBudget +
                         ": not a size (write e.g. 8G, 512M or a number of bytes)");
      batch.memoryBudget = *b;
    }
    if (batch.output.empty() && stdoutWasClosed) throw stdoutFailure();
    return runBatch(batch);
  }
  return kExitUsage;
}

}  // namespace

// Every failure ends here with a message and a documented exit code.
int main(int argc, char** argv) {
  occupyStandardDescriptors();
  try {
    return run(argc, argv);
  } catch (const Failure& f) {
    std::cerr << "audiomeas: " << f.what() << "\n";
    return f.code();
  } catch (const std::bad_alloc&) {
    std::cerr << "audiomeas: out of memory\n";
    return kExitBadInput;
  } catch (const std::exception& e) {
    std::cerr << "audiomeas: internal error: " << e.what() << "\n";
    return kExitBadInput;
  } catch (...) {
    std::cerr << "audiomeas: internal error\n";
    return kExitBadInput;
  }
}
