#include "batch.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <new>
#include <sstream>
#include <thread>

#include "measurements.hpp"
#include "text.hpp"

namespace audiomeas::cli {

namespace {

std::string trim(const std::string &s) {
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
std::vector<CsvRecord> parseCsv(const std::string &text, const std::string &path) {
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

std::string resolve(const std::string &file, const std::filesystem::path &base) {
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

ExitCode lineCode(const Json &line) {
  int c = line.value("exit_code", int(kExitBadInput));
  return c == kExitOk || c == kExitFlagged ? ExitCode(c) : kExitBadInput;
}

// Opens (or creates) the results file. When resuming, reads the rows done,
// checks they belong to this manifest and cuts off a last line that a kill
// left unfinished, so that its row runs again.
void openResults(const BatchOptions &o, const std::vector<ManifestRow> &rows, Results &r) {
  if (o.output.empty()) {
    if (o.resume) throw usageError("--resume needs the results file given with -o");
    r.fd = STDOUT_FILENO;
    return;
  }
  std::error_code ec;
  const bool exists = std::filesystem::exists(o.output, ec);
  if (exists && !o.resume && std::filesystem::file_size(o.output, ec) > 0 && !ec)
    throw usageError(o.output + ": already holds results; continue it with --resume, "
                                "or remove it to start afresh");
  if (exists && o.resume) {
    std::ifstream in(o.output, std::ios::binary);
    if (!in) throw badInput(o.output, std::string("cannot read: ") + std::strerror(errno));
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    const size_t complete = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    std::map<int, const ManifestRow *> byRow;
    for (const ManifestRow &m : rows) byRow[m.row] = &m;
    size_t at = 0;
    int lineNo = 0;
    while (at < complete) {
      size_t end = text.find('\n', at);
      std::string line = text.substr(at, end - at);
      at = end + 1;
      ++lineNo;
      if (trim(line).empty()) continue;
      Json j = Json::parse(line, nullptr, false);
      if (j.is_discarded() || !j.is_object() || !j.contains("row") || !j["row"].is_number_integer())
        throw badInput(o.output, fmt("line %d is not a result line of audiomeas batch", lineNo));
      const int row = j["row"].get<int>();
      auto it = byRow.find(row);
      if (it == byRow.end() || j.value("measurement", "") != it->second->measurement ||
          j.value("files", std::vector<std::string>{}) != it->second->files)
        throw badInput(o.output, fmt("line %d: row %d does not match the manifest's row %d; "
                                     "these results belong to another manifest",
                                     lineNo, row, row));
      r.done[row] = lineCode(j);
    }
    if (complete < text.size()) std::filesystem::resize_file(o.output, complete, ec);
    if (ec) throw Failure(kExitOutput, o.output + ": cannot cut its unfinished last line: " +
                                           ec.message());
  }
  r.fd = ::open(o.output.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
  if (r.fd < 0) throw Failure(kExitOutput, o.output + ": cannot write: " + std::strerror(errno));
}

// One whole line per write(2) on an O_APPEND descriptor: a kill at any
// moment leaves complete lines and at most one unfinished last line.
bool writeLine(int fd, const std::string &line) {
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
    std::cerr << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
              << done_ << "/" << total_ << " rows";
    if (flagged_ > 0) std::cerr << ", " << flagged_ << " flagged";
    if (failed_ > 0) std::cerr << ", " << failed_ << " failed";
    std::cerr << std::flush;
  }
  size_t total_, done_, flagged_ = 0, failed_ = 0;
  bool shown_ = false;
};

}  // namespace

std::vector<ManifestRow> readManifest(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code ec;
    throw badInput(path, std::filesystem::exists(path, ec) ? "cannot read" : "no such file");
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::vector<CsvRecord> records = parseCsv(ss.str(), path);

  std::vector<ManifestRow> rows;
  for (size_t i = 0; i < records.size(); ++i) {
    const CsvRecord &r = records[i];
    std::string name = r.fields[0];
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (i == 0 && name == "measurement") continue;  // header
    if (!isMeasurement(name))
      throw usageError(fmt("%s:%d: unknown measurement '%s' (align, attack-release or "
                           "transient-snr)",
                           path.c_str(), r.line, r.fields[0].c_str()));
    const size_t want = fileCount(name);
    std::vector<std::string> files(r.fields.begin() + 1, r.fields.end());
    while (files.size() > want && files.back().empty()) files.pop_back();
    if (files.size() != want ||
        std::any_of(files.begin(), files.end(), [](const std::string &f) { return f.empty(); }))
      throw usageError(fmt("%s:%d: %s takes %zu files, the row gives %zu", path.c_str(), r.line,
                           name.c_str(), want,
                           size_t(std::count_if(files.begin(), files.end(),
                                                [](const std::string &f) { return !f.empty(); }))));
    rows.push_back(ManifestRow{int(rows.size()) + 1, r.line, name, files});
  }
  return rows;
}

int runBatch(const BatchOptions &o) {
  const std::vector<ManifestRow> rows = readManifest(o.manifest);
  const std::filesystem::path base = std::filesystem::path(o.manifest).parent_path();
  Results results;
  openResults(o, rows, results);

  std::vector<const ManifestRow *> todo;
  for (const ManifestRow &r : rows)
    if (results.done.count(r.row) == 0) todo.push_back(&r);

  std::mutex outputLock;
  std::atomic<size_t> next{0};
  std::map<int, ExitCode> codes = results.done;
  bool writeFailed = false;
  Progress progress(rows.size(), rows.size() - todo.size());

  auto worker = [&] {
    for (;;) {
      const size_t k = next.fetch_add(1);
      if (k >= todo.size()) return;
      const ManifestRow &row = *todo[k];
      Job job;
      job.measurement = row.measurement;
      job.channel = o.channel;
      for (const std::string &f : row.files) job.files.push_back(resolve(f, base));

      Json line{{"row", row.row}, {"measurement", row.measurement}, {"files", row.files}};
      ExitCode code;
      try {
        Outcome out = runJob(job);
        code = out.code;
        line["status"] = code == kExitOk ? "ok" : "flagged";
        line["exit_code"] = int(code);
        line["result"] = std::move(out.json);
      } catch (const Failure &f) {
        code = f.code();
        line["status"] = "error";
        line["exit_code"] = int(code);
        line["error"] = f.what();
      } catch (const std::bad_alloc &) {
        code = kExitBadInput;
        line["status"] = "error";
        line["exit_code"] = int(code);
        line["error"] = "out of memory";
      } catch (const std::exception &e) {
        code = kExitBadInput;
        line["status"] = "error";
        line["exit_code"] = int(code);
        line["error"] = e.what();
      }
      const std::string text = line.dump() + "\n";
      std::lock_guard<std::mutex> lock(outputLock);
      if (!writeLine(results.fd, text)) writeFailed = true;
      codes[row.row] = code;
      progress.finished(code);
    }
  };

  const int n = std::max(1, std::min<int>(o.workers, int(std::max<size_t>(todo.size(), 1))));
  std::vector<std::thread> pool;
  for (int i = 1; i < n; ++i) pool.emplace_back(worker);
  worker();
  for (std::thread &t : pool) t.join();
  progress.close();

  if (writeFailed)
    throw Failure(kExitOutput, (o.output.empty() ? std::string("standard output") : o.output) +
                                   ": cannot write: " + std::strerror(errno));

  size_t ok = 0, flagged = 0, failed = 0;
  for (const auto &[row, code] : codes) {
    (void)row;
    if (code == kExitOk) ++ok;
    else if (code == kExitFlagged) ++flagged;
    else ++failed;
  }
  std::cerr << fmt("batch: %zu rows (%zu run now, %zu done before): %zu ok, %zu flagged, "
                   "%zu failed\n",
                   rows.size(), todo.size(), rows.size() - todo.size(), ok, flagged, failed);
  if (failed > 0) return kExitBadInput;
  if (flagged > 0) return kExitFlagged;
  return kExitOk;
}

}  // namespace audiomeas::cli
