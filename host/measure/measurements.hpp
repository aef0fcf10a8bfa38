// The measurement table: each measurement declared once, with everything a
// front end needs to offer it (its files, its options with their limits and
// units) and everything the host needs to run it (scale, memory, run, text,
// exit-code rule). The CLI's subcommands, batch admission, the C API's
// table (audiomeas_measurement_table) and through it the Python functions
// and the Dask runner all read this; no other code compares a measurement's
// name.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio_io.hpp"
#include "report.hpp"

namespace audiomeas::host {

enum class OptionType { kFlag, kInteger, kNumber };

// One option of a measurement. Its key is the JSON and Python name and the
// manifest column; its flag the command line's.
struct OptionEntry {
  const char* key;   // "window_s"
  const char* flag;  // "--window"
  OptionType type;
  double defaultValue;
  double minimum, maximum;  // inclusive; a flag is 0 or 1
  const char* unit;         // "s", "samples"; "" for a flag
  const char* help;
  void (*set)(Options&, double);
  double (*get)(const Options&);
};

// An input signal: one file, or one array in the C and Python calls.
struct ArgumentEntry {
  const char* name;  // also the report's field naming its file
  const char* help;
};

using Signals = std::span<const std::span<const double>>;

struct MeasurementEntry {
  const char* name;     // "align": subcommand, manifest and report name
  const char* library;  // the library whose result it reports
  const char* summary;  // one line for --help
  std::vector<ArgumentEntry> arguments;
  std::vector<const OptionEntry*> options;
  Scale scale;               // of the samples the files give it
  double fixedRate;          // Hz the measurement takes (0: any)
  const char* flag;          // the report's boolean that exits kExitFlagged when true
  bool oneAtATime;           // its library serves one call per process at a time
  const char* signalOut;     // its result's signal ("aligned": -o writes it); nullptr: none
  const char* memoryAdvice;  // what to do when it would not fit
  // The report's delay to a fraction of a sample, in samples, from which
  // --channel all gives each channel's delay relative to the first; nullptr:
  // the measurement has none.
  const char* channelDelayField;
  // Bytes its library call works in beyond the inputs, for input lengths in
  // argument order and windowSamples (0: none) of options.
  double (*workBytes)(const std::vector<long long>& lengths, long long windowSamples);
  Measurement (*run)(Signals signals, double sampleRate, const Options& options);
  // The same on files read only where needed, with a window (--window):
  // memory then follows the window, not the files. nullptr: the
  // measurement reads its inputs whole.
  Measurement (*runSources)(const std::vector<const SampleSource*>& sources, double sampleRate,
                            const Options& options);
  // The lines a person reads for a report with its file names.
  std::string (*describe)(const Json& report);
};

const std::vector<MeasurementEntry>& measurements();

// The option every measurement takes: the arrays behind a result, which
// only the JSON carries.
extern const OptionEntry kDetailsOption;
// The option every measurement takes: converting inputs to one rate. A flag
// on by default; its command-line flag turns it off.
extern const OptionEntry kResampleOption;
// align's window (--window), which bounds its memory.
extern const OptionEntry kWindowOption;

// nullptr when name is none of them (names are matched exactly).
const MeasurementEntry* findMeasurement(std::string_view name);

// Throws usageError naming the known measurements when name is none of them.
const MeasurementEntry& measurementNamed(std::string_view name);

// "align, attack-release or transient-snr", for messages.
std::string measurementNames();

// Every option of every measurement once, by key, in table order (the
// batch-wide options).
std::vector<const OptionEntry*> allOptions();
const OptionEntry* findOption(std::string_view key);
bool takesOption(const MeasurementEntry& m, const OptionEntry& o);

// Checks a value for an option (type, limits); throws usageError naming
// where ("--pad", "manifest.csv:3: pad_samples") otherwise.
void checkOptionValue(const OptionEntry& o, double value, const std::string& where);

// Sets an option from its JSON value (a number, or a boolean for a flag),
// checked as checkOptionValue does.
void setOption(const OptionEntry& o, const Json& value, Options& options, const std::string& where);

// The array calls' key for signals at rates of their own (one each, Hz).
inline constexpr const char* kSampleRatesKey = "sample_rates";

// A job's channel choice: 0 none (single-channel files), K (1-based) one
// channel, kAllChannels every channel in one run.
inline constexpr int kAllChannels = -1;
inline constexpr const char* kAllChannelsWord = "all";
inline constexpr const char* kChannelHelp =
    "channel K (1-based) of multi-channel files, or all: every channel in one run, one report each "
    "(a mono file goes with every channel); needed for multi-channel files";

// A channel choice from JSON: null or 0 is none, "all" every channel, else
// 1 .. kMaxChannel. Throws usageError naming where.
int channelFromJson(const Json& value, const std::string& where);
// The same from text ("all", "2"): the command line's and a manifest's.
int channelFromText(const std::string& text, const std::string& where);
// A choice as JSON: null, K or "all".
Json channelJson(int channel);

// Threads a job's transforms may use, chosen per job like its channel:
// the results are the same bits with any count. A batch runs each row on
// one, its rows being in parallel already.
inline constexpr const char* kThreadsKey = "threads";
inline constexpr const char* kThreadsFlag = "--threads";
inline constexpr int kMachineThreads = 0;  // the machine's cores
inline constexpr int kMaxThreads = 1024;
inline constexpr const char* kThreadsHelp =
    "threads for the transforms of a correlation (the results are the same bits with any count); 0: "
    "the machine's cores";
// A thread count from JSON: 0 .. kMaxThreads. Throws usageError naming where.
int threadsFromJson(const Json& value, const std::string& where);

// The options as JSON (key -> value in its type), every option of the table
// when all, else those of m.
Json optionsJson(const Options& options, const MeasurementEntry* m = nullptr);

// The whole table as JSON: for each measurement its arguments, options (with
// type, default, limits, unit, help), scale, fixed rate, flag; and the
// job-level channel and thread choices.
Json measurementTableJson();

}  // namespace audiomeas::host
