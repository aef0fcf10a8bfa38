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
#include "audiomeas_version.h"
#include "batch_cmd.hpp"
#include "completion.hpp"
#include "demo.hpp"
#include "generate_cmd.hpp"
#include "measure.hpp"
#include "measurements.hpp"
#include "memory.hpp"
#include "overwrite.hpp"
#include "report_cmd.hpp"
#include "text.hpp"

namespace {

using namespace audiomeas::cli;
using namespace audiomeas::host;

// The scales and rates each measurement takes, from the table.
std::string scalesText() {
  std::string s = "\nSample scales handed to the libraries:\n";
  for (const MeasurementEntry& m : measurements())
    s += fmt("  %-16s %s%s\n", m.name,
             m.scale == Scale::kUnit ? "full scale 1.0" : "16-bit scale, levels relative to 32767",
             m.fixedRate > 0.0 ? fmt(", %g Hz only", m.fixedRate).c_str() : "");
  return s +
         "On the 16-bit scale a 16-bit file gives its stored integers; other formats are\n"
         "scaled alike (1.0 -> 32768). Every measurement needs its inputs at one rate.\n";
}

constexpr const char* kFooter = R"(
Exit codes:
  0  measured, and the overall verdict is the good one (aligned, measured)
  1  measured, but the verdict is doubtful or flagged (the reasons are printed);
     demo: a result missed its truth; batch: a row did so
  2  usage error (command line, batch manifest)
  3  bad input: a file missing, unreadable or not audio, several channels and
     no --channel, sample rates that differ or do not fit, an input too short;
     batch: a row failed so; the memory a measurement needs exceeds what the
     machine has available (the message gives the estimate); an unexpected
     internal error
  4  an output file or standard output could not be written)";

// An option of the table as the command line holds it until parsed.
struct OptionValue {
  const OptionEntry* entry;
  bool flag = false;
  std::int64_t integer = 0;
  double number = 0.0;
  CLI::Option* given = nullptr;
};

// Adds the table's options to a command; applyOptions copies those given.
std::vector<OptionValue> addOptions(CLI::App* command, const std::vector<const OptionEntry*>& options) {
  std::vector<OptionValue> values;
  values.reserve(options.size());  // the options keep pointers into it
  for (const OptionEntry* o : options) {
    OptionValue& v = values.emplace_back(OptionValue{o});
    std::string help = o->help;
    if (*o->unit != '\0') help += std::string(" (") + o->unit + ")";
    switch (o->type) {
      case OptionType::kFlag:
        v.given = command->add_flag(o->flag, v.flag, help);
        break;
      case OptionType::kInteger:
        v.integer = static_cast<std::int64_t>(o->defaultValue);
        v.given = command->add_option(o->flag, v.integer, help)
                      ->check(CLI::Range(static_cast<std::int64_t>(o->minimum),
                                         static_cast<std::int64_t>(o->maximum)))
                      ->capture_default_str();
        break;
      case OptionType::kNumber:
        v.number = o->defaultValue;
        v.given = command->add_option(o->flag, v.number, help)->check(CLI::Range(o->minimum, o->maximum));
        break;
    }
  }
  return values;
}

void applyOptions(const std::vector<OptionValue>& values, Options& options) {
  for (const OptionValue& v : values) {
    if (v.given->count() == 0) continue;
    const OptionEntry& o = *v.entry;
    // A flag given turns its option away from the default (--details on,
    // --no-resample off).
    o.set(options, o.type == OptionType::kFlag      ? (o.defaultValue != 0.0 ? 0.0 : 1.0)
                   : o.type == OptionType::kInteger ? double(v.integer)
                                                    : v.number);
  }
}

// --channel's value as the help shows it; the braces hold what completion offers.
const std::string kChannelValue = std::string("K|{") + kAllChannelsWord + "}";

// A measurement's subcommand, made from its entry in the table.
struct MeasureCommand {
  const MeasurementEntry* entry = nullptr;
  CLI::App* command = nullptr;
  std::vector<std::string> files;
  std::string output;
  bool json = false;
  std::string channel;  // K or "all"; empty: none
  int threads = kMachineThreads;
  std::vector<OptionValue> options;
};

std::string argumentHelp(const ArgumentEntry& a) { return std::string(a.help) + " (audio file)"; }

void addMeasureCommand(CLI::App& app, const MeasurementEntry& m, MeasureCommand& c) {
  c.entry = &m;
  c.command = app.add_subcommand(m.name, m.summary);
  c.files.resize(m.arguments.size());
  for (size_t k = 0; k < m.arguments.size(); ++k) {
    std::string upper = m.arguments[k].name;
    for (char& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    c.command->add_option(upper, c.files[k], argumentHelp(m.arguments[k]))->required();
  }
  if (m.signalOut != nullptr)
    c.command->add_option(
        "-o,--output", c.output,
        std::string("write the ") + m.signalOut + " signal here (format from the extension)");
  c.command->add_flag("--json", c.json, "print one JSON object on standard output");
  c.command->add_option("--channel", c.channel, kChannelHelp)->type_name(kChannelValue);
  c.command->add_option(kThreadsFlag, c.threads, kThreadsHelp)
      ->type_name("N")
      ->check(CLI::Range(0, kMaxThreads));
  c.options = addOptions(c.command, m.options);
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
  // Shown only when wanted (text output, not JSON) and both standard
  // output and standard error are a terminal: a person is watching.
  Progress(std::string measuring, std::string estimate, bool wanted)
      : measuring_(std::move(measuring)), estimate_(std::move(estimate)), doing_(measuring_) {
    if (!wanted || ::isatty(STDOUT_FILENO) != 1 || ::isatty(STDERR_FILENO) != 1) return;
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

int measure(const MeasureCommand& c) {
  // Nothing could be reported: refuse before any work.
  if (stdoutWasClosed) throw stdoutFailure();
  for (const OptionValue& v : c.options)
    if (v.entry == &kDetailsOption && v.given->count() > 0 && !c.json)
      throw usageError("--details adds the arrays behind the result to the JSON: give --json as well");
  Job job;
  job.measurement = c.entry->name;
  job.files = c.files;
  job.channel = c.channel.empty() ? 0 : channelFromText(c.channel, "--channel");
  job.threads = c.threads;
  job.alignedOutput = c.output;
  applyOptions(c.options, job.options);
  refuseOverwrite(job.alignedOutput, job.files);
  // The job refuses itself when it needs more memory than is available.
  const JobSize size = sizeOf(job);

  Outcome o;
  {
    Progress progress(fmt("measuring %s over %.1f s", c.entry->name, size.seconds),
                      describeBytes(size.peakBytes), !c.json);
    o = runJob(job);
  }
  for (const std::string& w : o.warnings) std::cerr << "audiomeas: " << w << "\n";
  // File names need not be UTF-8: invalid bytes become U+FFFD in JSON.
  if (c.json)
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
  app.footer(scalesText() + kFooter);

  std::vector<MeasureCommand> measureCommands(measurements().size());
  for (size_t k = 0; k < measurements().size(); ++k)
    addMeasureCommand(app, measurements()[k], measureCommands[k]);

  bool demoJson = false, demoForce = false;
  std::string signalsDir;
  auto* demoCmd =
      app.add_subcommand("demo", "run the three measurements on built-in signals beside their known truth");
  demoCmd->add_flag("--json", demoJson, "print one JSON object on standard output");
  demoCmd->add_option("--write-signals", signalsDir,
                      "save the signals in DIR as 16-bit WAV files, with a batch manifest");
  demoCmd->add_flag(kForceFlag, demoForce, kForceHelp);

  BatchOptions batch;
  batch.workers = int(std::max(1u, std::thread::hardware_concurrency()));
  auto* batchCmd = app.add_subcommand(
      "batch",
      "one measurement per row of a CSV manifest (measurement,file1,file2[,file3], then option columns "
      "that a header row names), one JSON "
      "line per row as it finishes");
  batchCmd->add_option("MANIFEST", batch.manifest, "CSV manifest; relative paths from its folder")
      ->required();
  batchCmd
      ->add_option("-j,--jobs", batch.workers,
                   "workers (rows of a library that serves one call at a time run singly)")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  batchCmd->add_option("-o,--output", batch.output, "append JSON lines here (default: standard output)");
  batchCmd->add_flag("--resume", batch.resume, "skip the rows the output file already holds");
  std::string batchChannel;
  batchCmd
      ->add_option("--channel", batchChannel,
                   std::string(kChannelHelp) + "; a manifest's channel column chooses per row")
      ->type_name(kChannelValue);
  // Every row's options, unless the manifest's option columns say otherwise.
  const std::vector<OptionValue> batchOptions = addOptions(batchCmd, allOptions());
  std::string memoryBudget;
  batchCmd->add_option("--memory-budget", memoryBudget,
                       "start a row only while the memory estimates of the running rows stay "
                       "within SIZE (e.g. 8G, 512M; default: the memory available)");

  GenerateCommand generate(app);
  ReportCommand report(app);
  CompletionCommand completion(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "audiomeas: " << e.what() << " (see audiomeas --help)\n";
    return kExitUsage;
  }

  for (const MeasureCommand& c : measureCommands)
    if (*c.command) return measure(c);
  if (completion.chosen()) {
    std::cout << completion.script();
    requireStdoutWritten();
    return 0;
  }
  if (generate.chosen()) {
    // It reports what it wrote: unreported, the run failed.
    if (stdoutWasClosed) throw stdoutFailure();
    const int code = generate.run();
    requireStdoutWritten();
    return code;
  }
  if (report.chosen()) {
    if (stdoutWasClosed) throw stdoutFailure();
    const int code = report.run();
    requireStdoutWritten();
    return code;
  }
  if (*demoCmd) {
    if (stdoutWasClosed) throw stdoutFailure();
    const int code = runDemo(demoJson, signalsDir, demoForce);
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
    applyOptions(batchOptions, batch.options);
    if (!batchChannel.empty()) batch.channel = channelFromText(batchChannel, "--channel");
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
