/* libaudiomeas: the measurement host layer over synkro, envelo and burstra.
 *
 * Built from the same internal code as the three libraries, so every number
 * it shares with one of them (lags, flags, settle times, levels) is that
 * library's result bit for bit. Beyond them it checks its inputs, explains
 * every raised flag and reports the data behind a result, as one JSON
 * document that schema/audiomeas.schema.json describes.
 *
 * Ownership: every function returning an audiomeas_result hands the caller an
 * object (never NULL: on bad input, and when even the result cannot be
 * allocated, one with code 3 and {"error": "out of memory"}), released with
 * audiomeas_result_free; the text and samples it returns live as long as it.
 * Input arrays are read only and stay the caller's. Calls may come from
 * several threads; attack/release calls are serialised inside.
 *
 * Compiles as C99 and as C++. */
#ifndef AUDIOMEAS_H
#define AUDIOMEAS_H

#include <stdint.h>

#include "audiomeas_version.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct audiomeas_result audiomeas_result;

/* Flags of the measurement calls. */
#define AUDIOMEAS_DETAILS 1u            /* add the arrays (tracks, frames, correlation) */
#define AUDIOMEAS_LIBRARY_OUTPUT 2u     /* align: return synkro_2's own aligned array */
#define AUDIOMEAS_DEFAULT_PAD INT64_MIN /* attack-release: the default pad */

/* Match recording (m samples) to reference (n >= 1 samples), both at
 * sample_rate Hz, full scale 1.0. The result's samples are the recording on
 * the reference's time line (n values): every recording sample that
 * overlaps the reference after the total delay, or with
 * AUDIOMEAS_LIBRARY_OUTPUT the library's own array. window_seconds > 0
 * finds the delay on the first window_seconds of both signals only and
 * applies it to the whole recording (memory grows with the window; the
 * delay is assumed constant); 0 uses all of them. */
audiomeas_result* audiomeas_align(const double* reference, int64_t n, const double* recording, int64_t m,
                                  double sample_rate, double window_seconds, unsigned flags);

/* Attack and release settle times: the 48 kHz test signal (n >= 5,544,000
 * samples) and its recording through the device, 16-bit scale (full scale
 * 32767). pad_samples zeros are put before the recording so that a device
 * without latency can be measured; the reported delay is net of them.
 * AUDIOMEAS_DEFAULT_PAD takes the default, 4800 (100 ms); any other pad
 * outside 0 .. 240,000 is refused. */
audiomeas_result* audiomeas_attack_release(const double* reference, int64_t n, const double* recording,
                                           int64_t m, double sample_rate, int64_t pad_samples,
                                           unsigned flags);

/* Transient SNR over 5 ms frames, 16-bit scale, levels dB re RMS 32767. */
audiomeas_result* audiomeas_transient_snr(const double* presence, int64_t np, const double* activity,
                                          int64_t na, const double* measured, int64_t nm, double sample_rate,
                                          unsigned flags);

/* One measurement on audio files, as the audiomeas tool runs it: job is a
 * JSON object {"measurement": a name of the table, "files": [paths...] (a
 * path that is not UTF-8 as the array of its bytes, [109, 233, ...]),
 * "channel": K (1-based, 0 or absent: mono files), "threads": N (threads
 * for its transforms, 0 .. 1024, the same results with any count; 0 or
 * absent: the machine's cores), then any of the
 * measurement's options by key ("details": bool, "pad_samples": P,
 * "window_s": W, ...; absent: the table's default)}. Unknown fields and
 * options the measurement does not take are refused (code 2). The report
 * carries the file names. */
audiomeas_result* audiomeas_measure_files(const char* job);

/* The measurements audiomeas_measure_files runs, as a JSON object from each
 * name to its signal arguments in order (one file each), e.g.
 * {"align": ["reference", "recording"], ...}; audiomeas_measurement_table
 * gives the whole table. The text is static: never NULL, never freed. */
const char* audiomeas_measurements(void);

/* Result codes, which are also the audiomeas tool's exit codes. */
#define AUDIOMEAS_OK 0        /* measured; the overall verdict is the good one */
#define AUDIOMEAS_FLAGGED 1   /* measured; the verdict is doubtful or flagged */
#define AUDIOMEAS_USAGE 2     /* bad command line, job or manifest */
#define AUDIOMEAS_BAD_INPUT 3 /* an input is missing, unreadable or unfit */
#define AUDIOMEAS_OUTPUT 4    /* an output file could not be written */

/* The result's code (above). From 2 on, the JSON is {"error": message}. */
int audiomeas_result_code(const audiomeas_result* result);

/* The report (or the error) as one JSON object, UTF-8, NUL-terminated.
 * Numbers that are not finite appear as null. */
const char* audiomeas_result_json(const audiomeas_result* result);

/* The result's samples (align: the aligned recording) and their count in
 * *count; NULL and 0 when it has none. */
const double* audiomeas_result_samples(const audiomeas_result* result, int64_t* count);

/* Releases a result; NULL is ignored. */
void audiomeas_result_free(audiomeas_result* result);

/* The measurement table: every measurement audiomeas_measure and
 * audiomeas_measure_files run, as one JSON object {"measurements": {name:
 * {"library", "summary", "arguments": [{"name", "help"}...] (one signal or
 * file each, in order), "options": [{"key", "flag", "type" ("flag",
 * "integer", "number"), "default", "minimum", "maximum", "unit", "help"}...],
 * "scale" ("unit": full scale 1.0, "int16": 16-bit scale), "fixed_rate"
 * (Hz, or null), "flag" (the report's boolean that gives code 1),
 * "one_at_a_time", "writes_samples"}}, "channel": {"minimum", "maximum",
 * "help"}, "threads": {"key", "flag", "type", "unit", "default",
 * "minimum", "maximum", "help"}}. Static text: never NULL, never freed. */
const char* audiomeas_measurement_table(void);

/* Any measurement of the table on sample arrays: count signals (as many as
 * its arguments, in their order), signals[k] holding lengths[k] samples at
 * sample_rate Hz in the measurement's scale; options_json an object of its
 * options by key ({"pad_samples": 2400}; NULL or "{}": the defaults), and
 * "sample_rates": [Hz, ...] (one per signal) for signals at rates of their
 * own, which are converted to the measurement's rate unless "resample" is
 * false, and "threads" as audiomeas_measure_files takes it. The same report
 * as the measurement's own call below. */
audiomeas_result* audiomeas_measure(const char* measurement, const double* const* signals,
                                    const int64_t* lengths, int count, double sample_rate,
                                    const char* options_json);

/* The project's version, "MAJOR.MINOR.PATCH" (AUDIOMEAS_VERSION of the
 * library as built). Static text. */
const char* audiomeas_version(void);

/* ---- Batches: the protocol of `audiomeas batch`, for other runners ----
 *
 * A runner opens a batch, measures the rows it is given (each with
 * audiomeas_measure_files on its job, wherever it likes), records each
 * row's result as it finishes, and closes the batch. The manifest format,
 * the results file, resume and the lock that keeps a second writer out are
 * the library's; the runner only schedules. */
typedef struct audiomeas_batch audiomeas_batch;

/* request: {"manifest": path, "output": results file ("" or absent:
 * standard output), "resume": bool, "channel": K, "options": {key: value}
 * (batch-wide options of the table)}. On success (code 0) *batch is the
 * open batch and the JSON is {"rows": N, "done_before": D, "notes":
 * [text...], "todo": [{"row": r, "job": {...}}...]}; otherwise *batch is
 * NULL and the JSON is the error, with the tool's exit code. */
audiomeas_result* audiomeas_batch_open(const char* request, audiomeas_batch** batch);

/* Appends row's line: code and json as audiomeas_measure_files gave them
 * (a report, or {"error": message} from code 2 on). Code 0 when written,
 * with {"notice": text to show the user now (a failed row's reason), or
 * null};
 * 2 for a row that is not one of the batch's; 4 when the results file
 * could not be written (no line is written after that). Calls on one batch
 * are serialised by the caller. */
audiomeas_result* audiomeas_batch_record(audiomeas_batch* batch, int64_t row, int code, const char* json);

/* The summary {"rows", "run_now", "done_before", "ok", "doubtful", "flagged", "failed",
 * "not_run", "exit_code", "text"}, its code the batch's exit code;
 * not_run: rows the runner could not measure. */
audiomeas_result* audiomeas_batch_summary(const audiomeas_batch* batch, int64_t not_run);

/* Closes the results file (releasing its lock) and frees the batch; NULL is
 * ignored. */
void audiomeas_batch_free(audiomeas_batch* batch);

/* ---- Campaign report ---- */

/* Writes one self-contained HTML page (no network access: plots, style and
 * script inline) over a batch results file: rows counted by status,
 * verdict and reason, each measurement's figures, a sortable and
 * filterable table of the rows, each row's report with its --details
 * plots, the failed rows and the options the batch ran with. A results file
 * still being written (an unfinished last line) gives a page of its complete
 * lines, which says so. The page is written to a temporary file beside
 * output_path and renamed when complete. Code 0 with the summary {"rows",
 * "statuses", "verdicts", "reasons", "measurements", "results", "output",
 * "bytes", "torn", "version", "text"}; otherwise the error: 2 for an output
 * that is the results file, 3 for results that cannot be read or are no
 * batch's, 4 when the page cannot be written. */
audiomeas_result* audiomeas_campaign_report(const char* results_path, const char* output_path);

/* ---- Test signals and the reference compressor model ---- */

/* The attack/release stimulus: 5,544,000 samples (115.5 s at 48 kHz) in the
 * result's samples, full scale 1.0, on the 16-bit grid (k / 32768). Steady
 * noise at base_level_db dBFS RMS, base_level_db + step_db from 40 s to
 * 65 s (NaN for either: the default of `audiomeas generate attack-release`).
 * colour: "white" or "pink" (NULL: white); the same seed gives the same
 * samples on every machine. The JSON gives the levels and times of the
 * three stretches and the peak. Options out of range, or peaks that would
 * reach full scale, give code 2 and {"error": message}. */
audiomeas_result* audiomeas_generate_attack_release(double base_level_db, double step_db, const char* colour,
                                                    uint64_t seed);

/* The reference compressor of the documentation and the demo, applied to
 * signal (n samples at sample_rate Hz, full scale 1.0): a 5 ms RMS detector
 * in dB, smoothed by one-pole filters with time constants attack_s (level
 * rising) and release_s (falling); above threshold_db dBFS the gain falls
 * by (1 - 1/ratio) dB per dB. The output is in the result's samples. */
audiomeas_result* audiomeas_model_compressor(const double* signal, int64_t n, double sample_rate,
                                             double threshold_db, double ratio, double attack_s,
                                             double release_s);

#ifdef __cplusplus
}
#endif

#endif /* AUDIOMEAS_H */
