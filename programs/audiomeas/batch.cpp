#include "batch.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <new>
#include <sstream>
#include <thread>

#include "audio_io.hpp"
#include "measure.hpp"
#include "memory.hpp"
#include "text.hpp"

namespace audiomeas::cli {

using namespace audiomeas::host;

namespace {

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

struct CsvRecord {
  int line = 0;
  std::vector<std::string> fields;
};

// Splits CSV text into records. Unquoted fields are trimmed; quoted fields
// keep their text as it stands and may span lines.
std::vector<CsvRecord> parseCsv(const std::string& text, const std::string& path) {
  std::vector<CsvRecord> records;
  CsvRecord rec;
  std::string field;
  bool quoted = false, inQuotes = false, any = false;
  int line = 1;
  rec.line = 1;
  auto endField = [&] {
    rec.fields.push_back(quoted ? field : trim(field));
    field.clear();
    quoted = false;
  };
  auto endRecord = [&] {
    endField();
    bool blank = rec.fields.size() == 1 && rec.fields[0].empty() && !any;
    if (!blank) records.push_back(rec);
    rec = CsvRecord{};
    any = false;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inQuotes) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          inQuotes = false;
        }
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"' && trim(field).empty()) {
      inQuotes = quoted = any = true;
      field.clear();
    } else if (c == ',') {
      any = true;
      endField();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      endRecord();
      rec.line = ++line;
    } else if (quoted) {
      if (c != ' ' && c != '\t')
        throw usageError(fmt("%s:%d: text after a closing quote", path.c_str(), line));
    } else {
      if (rec.fields.empty() && field.empty() && c == '#' && !any) {
        // Comment line: skip to its end.
        while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
        field.clear();
        continue;
      }
      field += c;
    }
  }
  if (inQuotes) throw usageError(fmt("%s:%d: unterminated quote", path.c_str(), rec.line));
  endRecord();
  return records;
}

std::string resolve(const std::string& file, const std::filesystem::path& base) {
  std::filesystem::path p(file);
  return p.is_absolute() ? file : (base / p).lexically_normal().string();
}

// The output file and the rows it already holds.
struct Results {
  int fd = -1;
  std::map<int, ExitCode> done;  // row -> its exit code
  ~Results() {
    if (fd >= 0 && fd != STDOUT_FILENO) ::close(fd);
  }
};

// A value as the results file carries it. File names need not be UTF-8:
// their invalid bytes become U+FFFD, on writing and likewise on comparing.
std::string asWritten(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

size_t skipBlanks(const std::string& s, size_t at) {
  while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
  return at;
}

// Whether text, the unfinished end of a results file, begins as a result
// line of this batch would: {"row": and, once its digits end, a row of the
// manifest. Anything else there is not ours to cut.
bool startsLikeResultLine(const std::string& text, size_t rowCount) {
  static const std::string kKey = "\"row\"";
  size_t at = skipBlanks(text, 0);
  if (at >= text.size() || text[at] != '{') return false;
  at = skipBlanks(text, at + 1);
  if (text.compare(at, kKey.size(), kKey) != 0) return false;
  at = skipBlanks(text, at + kKey.size());
  if (at >= text.size() || text[at] != ':') return false;
  at = skipBlanks(text, at + 1);
  size_t digits = 0;
  unsigned long long row = 0;
  while (at + digits < text.size() && std::isdigit(static_cast<unsigned char>(text[at + digits])) &&
         digits < 19)
    row = row * 10 + unsigned(text[at + digits++] - '0');
  if (at + digits == text.size()) return true;  // torn inside the number, or right after the colon
  return digits > 0 && row >= 1 && row <= rowCount;
}

// One complete line of a results file: a result line of this batch, for a
// row of this manifest with its measurement and files. Gives the row and
// its exit code; any other line is refused naming it.
std::pair<int, ExitCode> checkResultLine(const std::string& line, const std::vector<ManifestRow>& rows,
                                         const std::string& path, int lineNo) {
  auto refuse = [&](const std::string& why) {
    return badInput(path,
                    fmt("line %d: %s; not a results file of this batch, left as it is", lineNo, why.c_str()));
  };
  const Json j = Json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) throw refuse("not a JSON object");
  const auto field = [&](const char* key) -> const Json& {
    auto it = j.find(key);
    if (it == j.end()) throw refuse(fmt("no \"%s\"", key));
    return *it;
  };
  const Json& row = field("row");
  // Integers only; an unsigned value beyond int64 is no row either.
  const bool rowOk = row.is_number_unsigned()
                         ? row.get<std::uint64_t>() >= 1 && row.get<std::uint64_t>() <= rows.size()
                         : row.is_number_integer() && row.get<std::int64_t>() >= 1 &&
                               row.get<std::int64_t>() <= std::int64_t(rows.size());
  if (!rowOk)
    throw refuse(
        fmt("\"row\" is %s, not a row number of the manifest (1..%zu)", asWritten(row).c_str(), rows.size()));
  const ManifestRow& m = rows[size_t(row.get<std::int64_t>()) - 1];
  const Json& measurement = field("measurement");
  const Json& files = field("files");
  if (!measurement.is_string()) throw refuse("\"measurement\" is not a string");
  if (!files.is_array() ||
      !std::all_of(files.begin(), files.end(), [](const Json& f) { return f.is_string(); }))
    throw refuse("\"files\" is not an array of strings");
  if (asWritten(measurement) != asWritten(Json(m.measurement)) ||
      asWritten(files) != asWritten(Json(m.files)))
    throw refuse(
        fmt("row %d does not match the manifest's row %d (these results belong to "
            "another manifest)",
            m.row, m.row));
  const Json& code = field("exit_code");
  const bool codeOk = code.is_number_integer() && !code.is_number_float() &&
                      code.get<std::int64_t>() >= kExitOk && code.get<std::int64_t>() <= kExitOutput;
  if (!codeOk) throw refuse("\"exit_code\" is " + asWritten(code) + ", not an exit code 0..4");
  const Json& status = field("status");
  if (!status.is_string() || (status != "ok" && status != "flagged" && status != "error"))
    throw refuse("\"status\" is not \"ok\", \"flagged\" or \"error\"");
  if (j.contains("result") && !j["result"].is_object()) throw refuse("\"result\" is not an object");
  if (j.contains("error") && !j["error"].is_string()) throw refuse("\"error\" is not a string");
  return {m.row, ExitCode(code.get<int>())};
}

// Opens (or creates) the results file. When resuming, reads the rows done,
// checking that every line is a result line of this batch, and cuts off a
// last line that a kill left unfinished, so that its row runs again. A file
// that is not this batch's results is refused and left as it is.
void openResults(const BatchOptions& o, const std::vector<ManifestRow>& rows, Results& r) {
  if (o.output.empty()) {
    if (o.resume) throw usageError("--resume needs the results file given with -o");
    r.fd = STDOUT_FILENO;
    return;
  }
  refuseOverwrite(o.output, {o.manifest});
  struct stat st {};
  const bool exists = ::stat(o.output.c_str(), &st) == 0;
  if (exists && !o.resume && S_ISREG(st.st_mode) && st.st_size > 0) {
    std::ifstream in(o.output, std::ios::binary);
    std::string head(64, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(std::max<std::streamsize>(in.gcount(), 0)));
    if (!startsLikeResultLine(head.substr(0, head.find('\n')), SIZE_MAX))
      throw usageError(o.output +
                       ": exists and is not a results file of audiomeas batch; "
                       "choose another output file");
    throw usageError(o.output +
                     ": already holds results; continue it with --resume, "
                     "or remove it to start afresh");
  }
  if (exists && o.resume) {
    if (!S_ISREG(st.st_mode)) throw usageError(o.output + ": --resume needs a regular results file");
    std::ifstream in(o.output, std::ios::binary);
    if (!in) throw badInput(o.output, std::string("cannot read: ") + std::strerror(errno));
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    const size_t lastNewline = text.rfind('\n');
    const size_t complete = lastNewline == std::string::npos ? 0 : lastNewline + 1;
    size_t at = 0;
    int lineNo = 0;
    while (at < complete) {
      const size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end - at);
      at = end + 1;
      ++lineNo;
      if (trim(line).empty()) continue;
      const auto [row, code] = checkResultLine(line, rows, o.output, lineNo);
      r.done[row] = code;
    }
    if (complete < text.size()) {
      if (!startsLikeResultLine(text.substr(complete), rows.size()))
        throw badInput(o.output, fmt("line %d is unfinished and does not begin as a result line of this "
                                     "batch; not a results file of this batch, left as it is",
                                     lineNo + 1));
      std::error_code ec;
      std::filesystem::resize_file(o.output, complete, ec);
      if (ec) throw Failure(kExitOutput, o.output + ": cannot cut its unfinished last line: " + ec.message());
    }
  }
  r.fd = ::open(o.output.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
  if (r.fd < 0) throw Failure(kExitOutput, o.output + ": cannot write: " + std::strerror(errno));
}

// Admits rows while the memory estimates of the running ones add up to at
// most the budget, and attack-release rows one at a time: envelo serves one
// call at a time, so a second one would only hold its files meanwhile.
class Admission {
 public:
  explicit Admission(std::size_t budget) : budget_(budget) {}

  // Waits for room; false when stop was set meanwhile.
  bool enter(std::size_t bytes, bool envelo, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return stop.load() || (bytes <= budget_ - inUse_ && !(envelo && enveloBusy_)); });
    if (stop.load()) return false;
    inUse_ += bytes;
    if (envelo) enveloBusy_ = true;
    return true;
  }
  void leave(std::size_t bytes, bool envelo) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      inUse_ -= bytes;
      if (envelo) enveloBusy_ = false;
    }
    cv_.notify_all();
  }
  void wakeAll() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  const std::size_t budget_;
  std::size_t inUse_ = 0;
  bool enveloBusy_ = false;
};

// One whole line per write(2) on an O_APPEND descriptor: a kill at any
// moment leaves complete lines and at most one unfinished last line.
bool writeLine(int fd, const std::string& line) {
  size_t at = 0;
  while (at < line.size()) {
    ssize_t n = ::write(fd, line.data() + at, line.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += size_t(n);
  }
  return true;
}

class Progress {
 public:
  Progress(size_t total, size_t already) : total_(total), done_(already) {
    shown_ = ::isatty(STDERR_FILENO) == 1;
    draw();
  }
  void finished(ExitCode code) {
    ++done_;
    if (code == kExitFlagged) ++flagged_;
    if (code != kExitOk && code != kExitFlagged) ++failed_;
    draw();
  }
  void close() {
    if (shown_) std::cerr << "\n";
  }

 private:
  void draw() {
    if (!shown_) return;
    constexpr int kWidth = 30;
    const int filled = total_ == 0 ? kWidth : int(kWidth * done_ / total_);
    std::cerr << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done_
              << "/" << total_ << " rows";
    if (flagged_ > 0) std::cerr << ", " << flagged_ << " flagged";
    if (failed_ > 0) std::cerr << ", " << failed_ << " failed";
    std::cerr << std::flush;
  }
  size_t total_, done_, flagged_ = 0, failed_ = 0;
  bool shown_ = false;
};

}  // namespace

std::vector<ManifestRow> readManifest(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw badInput(path,
                   errno == ENOENT ? "no such file" : std::string("cannot read: ") + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw badInput(path, "is a directory, not a manifest");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw badInput(path, std::string("cannot read: ") + std::strerror(errno));
  std::stringstream ss;
  ss << in.rdbuf();
  std::vector<CsvRecord> records = parseCsv(ss.str(), path);

  std::vector<ManifestRow> rows;
  for (size_t i = 0; i < records.size(); ++i) {
    const CsvRecord& r = records[i];
    std::string name = r.fields[0];
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (i == 0 && name == "measurement") continue;  // header
    if (!isMeasurement(name))
      throw usageError(
          fmt("%s:%d: unknown measurement '%s' (align, attack-release or "
              "transient-snr)",
              path.c_str(), r.line, r.fields[0].c_str()));
    const size_t want = fileCount(name);
    std::vector<std::string> files(r.fields.begin() + 1, r.fields.end());
    while (files.size() > want && files.back().empty()) files.pop_back();
    if (files.size() != want ||
        std::any_of(files.begin(), files.end(), [](const std::string& f) { return f.empty(); }))
      throw usageError(fmt("%s:%d: %s takes %zu files, the row gives %zu", path.c_str(), r.line, name.c_str(),
                           want, size_t(std::count_if(files.begin(), files.end(), [](const std::string& f) {
                             return !f.empty();
                           }))));
    rows.push_back(ManifestRow{int(rows.size()) + 1, r.line, name, files});
  }
  return rows;
}

int runBatch(const BatchOptions& o) {
  const std::vector<ManifestRow> rows = readManifest(o.manifest);
  const std::filesystem::path base = std::filesystem::path(o.manifest).parent_path();
  Results results;
  openResults(o, rows, results);

  std::vector<const ManifestRow*> todo;
  for (const ManifestRow& r : rows)
    if (results.done.count(r.row) == 0) todo.push_back(&r);

  const std::size_t budget = o.memoryBudget > 0 ? o.memoryBudget : availableBytes().value_or(SIZE_MAX);
  Admission admission(budget);
  std::mutex outputLock;  // guards the results file and everything below it
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::map<int, ExitCode> codes = results.done;
  int writeError = 0;  // errno of the write that failed
  std::exception_ptr unexpected;
  Progress progress(rows.size(), rows.size() - todo.size());

  auto runRow = [&](const ManifestRow& row) {
    Job job;
    job.measurement = row.measurement;
    job.channel = o.channel;
    for (const std::string& f : row.files) job.files.push_back(resolve(f, base));

    Json line{{"row", row.row}, {"measurement", row.measurement}, {"files", row.files}};
    ExitCode code;
    auto fail = [&](ExitCode c, const std::string& why) {
      code = c;
      line["status"] = "error";
      line["exit_code"] = int(c);
      line["error"] = why;
    };
    const bool envelo = row.measurement == "attack-release";
    const std::size_t need = sizeOf(job).peakBytes;
    job.memoryAdmitted = true;  // within the budget, below
    if (need > budget) {
      fail(kExitBadInput, fmt("needs about %s of memory, more than the memory budget of %s; "
                              "give a larger --memory-budget or use a machine with more memory",
                              describeBytes(need).c_str(), describeBytes(budget).c_str()));
    } else {
      if (!admission.enter(need, envelo, stop)) return;
      try {
        Outcome out = runJob(job);
        code = out.code;
        line["status"] = code == kExitOk ? "ok" : "flagged";
        line["exit_code"] = int(code);
        line["result"] = std::move(out.json);
      } catch (const Failure& f) {
        fail(f.code(), f.what());
      } catch (const std::bad_alloc&) {
        fail(kExitBadInput, "out of memory");
      } catch (const std::exception& e) {
        fail(kExitBadInput, std::string("internal error: ") + e.what());
      } catch (...) {
        fail(kExitBadInput, "internal error");
      }
      admission.leave(need, envelo);
    }
    const std::string text = asWritten(line) + "\n";
    std::lock_guard<std::mutex> lock(outputLock);
    // After a failed write nothing more is appended: a line after a torn
    // one would make the file unreadable for --resume.
    if (writeError != 0) return;
    errno = 0;
    if (!writeLine(results.fd, text)) {
      writeError = errno != 0 ? errno : EIO;
      stop = true;
      admission.wakeAll();
      return;
    }
    codes[row.row] = code;
    progress.finished(code);
  };

  auto worker = [&] {
    try {
      while (!stop.load()) {
        const size_t k = next.fetch_add(1);
        if (k >= todo.size()) return;
        runRow(*todo[k]);
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(outputLock);
      if (!unexpected) unexpected = std::current_exception();
      stop = true;
      admission.wakeAll();
    }
  };

  const int n = std::max(1, std::min<int>(o.workers, int(std::max<size_t>(todo.size(), 1))));
  std::vector<std::thread> pool;
  try {
    for (int i = 1; i < n; ++i) pool.emplace_back(worker);
  } catch (...) {
    // No more threads to be had: the ones started and this one do the work.
  }
  worker();
  for (std::thread& t : pool) t.join();
  progress.close();
  if (unexpected) std::rethrow_exception(unexpected);

  const size_t measured = codes.size() - results.done.size();
  if (writeError != 0)
    throw Failure(kExitOutput, fmt("%s: cannot write: %s; stopped with %zu of %zu rows written, the others "
                                   "not measured (continue with --resume once it can be written)",
                                   o.output.empty() ? "standard output" : o.output.c_str(),
                                   std::strerror(writeError), codes.size(), rows.size()));

  size_t ok = 0, flagged = 0, failed = 0;
  for (const auto& [row, code] : codes) {
    (void)row;
    if (code == kExitOk)
      ++ok;
    else if (code == kExitFlagged)
      ++flagged;
    else
      ++failed;
  }
  std::cerr << fmt(
      "batch: %zu rows (%zu run now, %zu done before): %zu ok, %zu flagged, "
      "%zu failed\n",
      rows.size(), measured, results.done.size(), ok, flagged, failed);
  if (failed > 0) return kExitBadInput;
  if (flagged > 0) return kExitFlagged;
  return kExitOk;
}

}  // namespace audiomeas::cli
