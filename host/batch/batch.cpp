#include "batch.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "audio_io.hpp"
#include "audiomeas_version.h"
#include "text.hpp"

namespace audiomeas::host {

namespace {

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
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
    const bool blank = rec.fields.size() == 1 && rec.fields[0].empty() && !any;
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
    } else if (rec.fields.empty() && field.empty() && c == '#' && !any) {
      // A comment line: skipped to its end.
      while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
    } else {
      field += c;
    }
  }
  if (inQuotes) throw usageError(fmt("%s:%d: unterminated quote", path.c_str(), rec.line));
  endRecord();
  return records;
}

}  // namespace

std::string readFileBytes(const std::string& path, const char* what, std::size_t maxBytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw badInput(path,
                   errno == ENOENT ? "no such file" : std::string("cannot read: ") + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw badInput(path, fmt("is a directory, not a %s", what));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw badInput(path, std::string("cannot read: ") + std::strerror(errno));
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      throw badInput(path, std::string("cannot read: ") + std::strerror(e));
    }
    if (n == 0) break;
    if (maxBytes > 0 && text.size() + size_t(n) > maxBytes) {
      ::close(fd);
      throw badInput(path,
                     fmt("longer than %zu MiB: not a %s (or a stream without end)", maxBytes >> 20, what));
    }
    text.append(buffer, size_t(n));
  }
  ::close(fd);
  return text;
}

namespace {

// A header column that names a file: "file1", or an argument's name.
bool isFileColumn(const std::string& name) {
  if (name.size() > 4 && name.compare(0, 4, "file") == 0 &&
      std::all_of(name.begin() + 4, name.end(), [](unsigned char c) { return std::isdigit(c); }))
    return true;
  for (const MeasurementEntry& m : measurements())
    for (const ArgumentEntry& a : m.arguments)
      if (name == a.name) return true;
  return false;
}

// An option's value as a manifest cell writes it.
double cellValue(const OptionEntry& o, const std::string& cell, const std::string& where) {
  if (o.type == OptionType::kFlag) {
    const std::string v = lower(cell);
    if (v == "true" || v == "yes" || v == "1") return 1.0;
    if (v == "false" || v == "no" || v == "0") return 0.0;
    throw usageError(where + ": '" + cell + "' is not true or false");
  }
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(cell.c_str(), &end);
  if (end == cell.c_str() || *end != '\0' || errno == ERANGE)
    throw usageError(where + ": '" + cell + "' is not a number");
  checkOptionValue(o, v, where);
  return v;
}

// Whether JSON text can carry s as a string (else a job gives its bytes).
bool validUtf8(const std::string& s) {
  try {
    (void)Json(s).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

std::string resolve(const std::string& file, const std::filesystem::path& base) {
  const std::filesystem::path p(file);
  return p.is_absolute() ? file : (base / p).lexically_normal().string();
}

bool writeAll(int fd, const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += size_t(n);
  }
  return true;
}

}  // namespace

Manifest readManifest(const std::string& path) {
  Manifest manifest;
  manifest.path = path;
  // A NUL byte is left to the row whose file name holds it.
  std::string text = readFileBytes(path, "manifest", kMaxManifestBytes);
  static const std::string kBom = "\xEF\xBB\xBF";
  if (text.compare(0, kBom.size(), kBom) == 0) {
    text.erase(0, kBom.size());
    manifest.notes.push_back(path + ": begins with a UTF-8 byte-order mark, skipped");
  }
  const std::vector<CsvRecord> records = parseCsv(text, path);

  // Option columns, by position, as the header names them; a channel
  // column chooses each row's channel.
  std::vector<const OptionEntry*> columns;
  size_t fileColumns = SIZE_MAX, channelColumn = SIZE_MAX;
  for (size_t i = 0; i < records.size(); ++i) {
    const CsvRecord& r = records[i];
    const std::string name = lower(r.fields[0]);
    if (i == 0 && name == "measurement") {
      columns.assign(r.fields.size(), nullptr);
      for (size_t k = 1; k < r.fields.size(); ++k) {
        const std::string column = lower(r.fields[k]);
        if (column.empty() || isFileColumn(column)) {
          if (fileColumns != SIZE_MAX)
            throw usageError(
                fmt("%s:%d: file column %zu after an option column", path.c_str(), r.line, k + 1));
          continue;
        }
        if (fileColumns == SIZE_MAX) fileColumns = k - 1;
        if (column == kChannelColumn) {
          channelColumn = k;
          continue;
        }
        columns[k] = findOption(column);
        if (columns[k] == nullptr)
          throw usageError(fmt("%s:%d: column '%s' is neither a file nor an option of a measurement",
                               path.c_str(), r.line, r.fields[k].c_str()));
      }
      continue;
    }
    const MeasurementEntry* m = findMeasurement(name);
    if (m == nullptr)
      throw usageError(fmt("%s:%d: unknown measurement '%s' (%s)", path.c_str(), r.line, r.fields[0].c_str(),
                           measurementNames().c_str()));
    const size_t want = m->arguments.size();
    const size_t lastFile = std::min(r.fields.size(), fileColumns == SIZE_MAX ? SIZE_MAX : fileColumns + 1);
    std::vector<std::string> files(r.fields.begin() + 1, r.fields.begin() + std::max<size_t>(1, lastFile));
    while (files.size() > want && files.back().empty()) files.pop_back();
    if (files.size() != want ||
        std::any_of(files.begin(), files.end(), [](const std::string& f) { return f.empty(); }))
      throw usageError(fmt("%s:%d: %s takes %zu files, the row gives %zu", path.c_str(), r.line, m->name,
                           want, size_t(std::count_if(files.begin(), files.end(), [](const std::string& f) {
                             return !f.empty();
                           }))));
    ManifestRow row{int(manifest.rows.size()) + 1, r.line, m, files, Json::object(), Json()};
    for (size_t k = lastFile; k < r.fields.size(); ++k) {
      if (r.fields[k].empty()) continue;
      if (k == channelColumn) {
        row.channel = channelJson(
            channelFromText(lower(r.fields[k]), fmt("%s:%d: %s", path.c_str(), r.line, kChannelColumn)));
        continue;
      }
      const OptionEntry* o = k < columns.size() ? columns[k] : nullptr;
      if (o == nullptr)
        throw usageError(
            fmt("%s:%d: field %zu has no option column in the header", path.c_str(), r.line, k + 1));
      const std::string where = fmt("%s:%d: %s", path.c_str(), r.line, o->key);
      if (!takesOption(*m, *o)) throw usageError(fmt("%s: %s takes no such option", where.c_str(), m->name));
      Options scratch;
      o->set(scratch, cellValue(*o, r.fields[k], where));
      row.options[o->key] = optionsJson(scratch, m)[o->key];
    }
    manifest.rows.push_back(std::move(row));
  }
  return manifest;
}

void checkSettings(const BatchSettings& s) {
  if (s.resume && s.output.empty()) throw usageError("--resume needs the results file given with -o");
}

BatchSettings batchSettingsFromJson(const Json& request) {
  if (!request.is_object()) throw usageError("bad batch request: not a JSON object");
  BatchSettings s;
  for (const auto& [key, value] : request.items()) {
    if (key == "manifest" && value.is_string()) {
      s.manifest = value.get<std::string>();
    } else if (key == "output" && (value.is_string() || value.is_null())) {
      s.output = value.is_string() ? value.get<std::string>() : "";
    } else if (key == "resume" && value.is_boolean()) {
      s.resume = value.get<bool>();
    } else if (key == "channel") {
      s.channel = channelFromJson(value, "--channel");
    } else if (key == "options" && value.is_object()) {
      for (const auto& [optionKey, v] : value.items()) {
        const OptionEntry* o = findOption(optionKey);
        if (o == nullptr) throw usageError("bad batch request: unknown option \"" + optionKey + "\"");
        setOption(*o, v, s.options, o->flag);
      }
    } else {
      throw usageError("bad batch request: \"" + key + "\" is unknown or of the wrong type");
    }
  }
  if (s.manifest.empty()) throw usageError("bad batch request: no manifest");
  checkSettings(s);
  return s;
}

Job rowJob(const BatchSettings& settings, const ManifestRow& row) {
  Job job;
  job.measurement = row.measurement->name;
  job.channel = settings.channel;
  job.options = settings.options;
  job.regularFilesOnly = true;
  job.threads = 1;  // the rows run in parallel already
  const std::filesystem::path base = std::filesystem::path(settings.manifest).parent_path();
  for (const std::string& f : row.files) job.files.push_back(resolve(f, base));
  if (!row.channel.is_null()) job.channel = channelFromJson(row.channel, kChannelColumn);
  for (const auto& [key, value] : row.options.items()) {
    const OptionEntry* o = findOption(key);
    o->set(job.options, value.is_boolean() ? double(value.get<bool>()) : value.get<double>());
  }
  return job;
}

Json jobJson(const Job& job) {
  const MeasurementEntry& m = measurementNamed(job.measurement);
  Json files = Json::array();
  for (const std::string& f : job.files) {
    if (validUtf8(f)) {
      files.push_back(f);
    } else {
      Json bytes = Json::array();
      for (unsigned char c : f) bytes.push_back(int(c));
      files.push_back(std::move(bytes));
    }
  }
  Json j{{"measurement", m.name}, {"files", std::move(files)}, {"channel", channelJson(job.channel)}};
  if (job.regularFilesOnly) j["regular_files_only"] = true;
  if (job.threads != kMachineThreads) j[kThreadsKey] = job.threads;
  j.update(optionsJson(job.options, &m));
  return j;
}

Json resultsHeader(const BatchSettings& settings) {
  Json options = optionsJson(settings.options);
  options["channel"] = channelJson(settings.channel);
  return Json{{"audiomeas_batch", AUDIOMEAS_VERSION}, {"options", std::move(options)}};
}

namespace {

// A row's line up to its status, which is all of it that is known before
// the row is measured.
Json lineStem(const ManifestRow& row) {
  Json line{{"row", row.row}, {"measurement", row.measurement->name}, {"files", row.files}};
  if (!row.options.empty()) line["options"] = row.options;
  if (!row.channel.is_null()) line["options"]["channel"] = row.channel;
  return line;
}

}  // namespace

Json stemOf(const Json& line) {
  Json stem = line;
  for (const char* key : {"status", "exit_code", "result", "error", "retry"}) stem.erase(key);
  return stem;
}

Json resultLine(const ManifestRow& row, int code, const Json& outcome) {
  Json line = lineStem(row);
  if (code == kExitOk || code == kExitFlagged) {
    // A measured row's status is its overall verdict's: ok, doubtful or flagged.
    const auto verdict = outcome.is_object() ? outcome.find("verdict") : outcome.end();
    const bool doubtful = code == kExitFlagged && verdict != outcome.end() && *verdict == kVerdictDoubtful;
    line["status"] = code == kExitOk ? kStatusOk : doubtful ? kVerdictDoubtful : kVerdictFlagged;
    line["exit_code"] = code;
    line["result"] = outcome;
  } else {
    const bool known = code >= kExitUsage && code <= kExitOutput;
    line["status"] = kStatusError;
    line["exit_code"] = known ? code : int(kExitBadInput);
    const auto error = outcome.is_object() ? outcome.find("error") : outcome.end();
    // Refused for want of memory: nothing was measured, and another run
    // (another budget, a freer machine) may fit, so --resume tries again.
    if (outcome.is_object() && outcome.contains("needed_bytes")) line["retry"] = true;
    line["error"] = outcome.is_object() && error != outcome.end() && error->is_string()
                        ? error->get<std::string>()
                        : fmt("exit code %d", code);
  }
  return line;
}

std::string asWritten(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string rowLineFault(const Json& j) {
  if (!j.is_object()) return "not a JSON object";
  for (const char* key : {"row", "exit_code", "status"})
    if (!j.contains(key)) return fmt("no \"%s\"", key);
  const Json& row = j["row"];
  if (!(row.is_number_unsigned() ? row.get<std::uint64_t>() >= 1
                                 : row.is_number_integer() && row.get<std::int64_t>() >= 1))
    return "\"row\" is " + asWritten(row) + ", not a row number";
  const Json& code = j["exit_code"];
  const bool codeOk = code.is_number_integer() && code.get<std::int64_t>() >= kExitOk &&
                      code.get<std::int64_t>() <= kExitOutput;
  if (!codeOk) return "\"exit_code\" is " + asWritten(code) + ", not an exit code 0..4";
  const Json& status = j["status"];
  const int c = code.get<int>();
  const bool statusOk = c == kExitOk        ? status == kStatusOk
                        : c == kExitFlagged ? status == kVerdictFlagged || status == kVerdictDoubtful
                                            : status == kStatusError;
  if (!statusOk) return "\"status\" does not go with its exit code";
  const bool measured = c == kExitOk || c == kExitFlagged;
  const char* key = measured ? "result" : "error";
  if (!j.contains(key)) return fmt("no \"%s\"", key);
  if (measured ? !j[key].is_object() : !j[key].is_string())
    return measured ? "\"result\" is not an object" : "\"error\" is not a string";
  return "";
}

bool beginsRowLine(const std::string& text) {
  static const std::string kRow = "{\"row\":";
  const std::size_t n = std::min(text.size(), kRow.size());
  if (kRow.compare(0, n, text, 0, n) != 0) return false;
  return text.size() <= kRow.size() || std::isdigit(static_cast<unsigned char>(text[kRow.size()]));
}

Json BatchSummary::json() const {
  return Json{{"rows", rows},     {"run_now", runNow},    {"done_before", doneBefore},
              {"ok", ok},         {"doubtful", doubtful}, {"flagged", flagged},
              {"failed", failed}, {"not_run", notRun},    {"exit_code", int(code)},
              {"text", text}};
}

// ---- the results file ----

ResultsFile::ResultsFile(const BatchSettings& settings, const Manifest& manifest)
    : settings_(settings), manifest_(manifest) {
  try {
    openFile(manifest);
  } catch (...) {
    // No destructor runs for a constructor that throws: the file and its
    // lock are let go here.
    if (ownsFd_) ::close(fd_);
    throw;
  }
}

ResultsFile::~ResultsFile() {
  if (ownsFd_) ::close(fd_);  // also releases the lock
}

void ResultsFile::openFile(const Manifest& manifest) {
  const std::string& out = settings_.output;
  if (out.empty()) {
    if (settings_.resume) throw usageError("--resume needs the results file given with -o");
    if (::fcntl(STDOUT_FILENO, F_GETFD) == -1)
      throw Failure(kExitOutput, "standard output: cannot write; the results would be lost");
    fd_ = STDOUT_FILENO;
    writeText(asWritten(resultsHeader(settings_)) + "\n");
    return;
  }
  refuseOverwrite(out, {settings_.manifest});
  struct stat st {};
  const bool exists = ::stat(out.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) throw Failure(kExitOutput, out + ": is a directory");
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe: written to, never read, cut or locked.
    if (settings_.resume) throw usageError(out + ": --resume needs a regular results file");
    fd_ = ::open(out.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) throw Failure(kExitOutput, out + ": cannot write: " + std::strerror(errno));
    ownsFd_ = true;
    writeText(asWritten(resultsHeader(settings_)) + "\n");
    return;
  }
  fd_ = ::open(out.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) throw Failure(kExitOutput, out + ": cannot write: " + std::strerror(errno));
  ownsFd_ = true;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
    throw Failure(kExitOutput, out +
                                   ": another batch is writing it now; wait for it to end, or choose "
                                   "another output file");
  // Read under the lock: what another run left is all there is.
  std::string text;
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw badInput(out, std::string("cannot read: ") + std::strerror(errno));
    if (n == 0) break;
    text.append(buffer, size_t(n));
    at += n;
  }
  if (!text.empty() && !settings_.resume) {
    const std::string first = text.substr(0, text.find('\n'));
    const Json j = Json::parse(first, nullptr, false);
    if (!j.is_object() || !j.contains("audiomeas_batch"))
      throw usageError(out +
                       ": exists and is not a results file of audiomeas batch; choose another output file");
    throw usageError(out +
                     ": already holds results; continue it with --resume, or remove it to start afresh");
  }
  resumeFrom(text, manifest);
}

void ResultsFile::resumeFrom(const std::string& text, const Manifest& manifest) {
  const std::string& out = settings_.output;
  const std::string header = asWritten(resultsHeader(settings_));
  auto refuse = [&](int lineNo, const std::string& why) {
    return badInput(out,
                    fmt("line %d: %s; not a results file of this batch, left as it is", lineNo, why.c_str()));
  };
  const size_t complete = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
  int lineNo = 0;
  for (size_t at = 0; at < complete;) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    ++lineNo;
    if (lineNo > 1 && trim(line).empty()) continue;
    const Json j = Json::parse(line, nullptr, false);
    if (!j.is_object()) throw refuse(lineNo, "not a JSON object");
    if (lineNo == 1) {
      if (!j.contains("audiomeas_batch"))
        throw refuse(1, "no header line with the version and options the batch ran with");
      if (asWritten(j) != header) {
        // Both sets named, but only where they differ.
        const Json ours = resultsHeader(settings_);
        std::string theirs, mine;
        const auto add = [](std::string& to, const std::string& key, const Json& v) {
          to += (to.empty() ? "" : ", ") + key + " " + (v.is_null() ? "none" : asWritten(v));
        };
        if (asWritten(j["audiomeas_batch"]) != asWritten(ours["audiomeas_batch"])) {
          add(theirs, "version", j["audiomeas_batch"]);
          add(mine, "version", ours["audiomeas_batch"]);
        }
        const Json& before =
            j.contains("options") && j["options"].is_object() ? j["options"] : Json::object();
        for (const auto& [key, value] : ours["options"].items()) {
          const Json& was = before.contains(key) ? before[key] : Json();
          if (asWritten(was) != asWritten(value)) {
            add(theirs, key, was);
            add(mine, key, value);
          }
        }
        for (const auto& [key, value] : before.items())
          if (!ours["options"].contains(key)) add(theirs, key, value);
        throw usageError(
            fmt("%s: its rows were measured with %s; this batch runs with %s; resume with the "
                "same version and options, or write to another file",
                out.c_str(), theirs.c_str(), mine.empty() ? "other options" : mine.c_str()));
      }
      continue;
    }
    const auto field = [&](const char* key) -> const Json& {
      const auto it = j.find(key);
      if (it == j.end()) throw refuse(lineNo, fmt("no \"%s\"", key));
      return *it;
    };
    const Json& row = field("row");
    const bool rowOk = row.is_number_unsigned()
                           ? row.get<std::uint64_t>() >= 1 && row.get<std::uint64_t>() <= manifest.rows.size()
                           : row.is_number_integer() && row.get<std::int64_t>() >= 1 &&
                                 row.get<std::int64_t>() <= std::int64_t(manifest.rows.size());
    if (!rowOk)
      throw refuse(lineNo, fmt("\"row\" is %s, not a row number of the manifest (1..%zu)",
                               asWritten(row).c_str(), manifest.rows.size()));
    const ManifestRow& m = manifest.rows[size_t(row.get<std::int64_t>()) - 1];
    if (asWritten(stemOf(j)) != asWritten(lineStem(m)))
      throw refuse(lineNo, fmt("row %d does not match the manifest's row %d (these results belong to another "
                               "manifest)",
                               m.row, m.row));
    if (const std::string fault = rowLineFault(j); !fault.empty()) throw refuse(lineNo, fault);
    const Json& code = j["exit_code"];
    const Json& status = j["status"];
    if (j.value("retry", false)) {
      doneBefore_.erase(m.row);
      statuses_.erase(m.row);
      continue;
    }
    doneBefore_[m.row] = ExitCode(code.get<int>());
    statuses_[m.row] = status.get<std::string>();
  }
  // A torn last line is cut when it begins a line this batch would write:
  // the header, or a row's line up to its status.
  if (complete < text.size()) {
    const std::string torn = text.substr(complete);
    bool ours = header.compare(0, torn.size(), torn) == 0 && lineNo == 0;
    static const std::string kRow = "{\"row\":";
    if (!ours && lineNo > 0 && torn.size() <= kRow.size()) {
      ours = kRow.compare(0, torn.size(), torn) == 0;
    } else if (!ours && lineNo > 0 && torn.compare(0, kRow.size(), kRow) == 0) {
      size_t digits = kRow.size();
      while (digits < torn.size() && std::isdigit(static_cast<unsigned char>(torn[digits]))) ++digits;
      const std::string number = torn.substr(kRow.size(), digits - kRow.size());
      for (const ManifestRow& r : manifest.rows) {
        std::string stem = asWritten(lineStem(r));
        stem.back() = ',';
        stem += "\"status\":";
        const std::string rowText = std::to_string(r.row);
        const bool prefix = digits == torn.size() ? rowText.compare(0, number.size(), number) == 0
                                                  : stem.compare(0, std::min(torn.size(), stem.size()), torn,
                                                                 0, std::min(torn.size(), stem.size())) == 0;
        if (prefix) {
          ours = true;
          break;
        }
      }
    }
    if (!ours)
      throw badInput(out,
                     fmt("line %d is unfinished and does not begin as a line of this batch; not a results "
                         "file of this batch, left as it is",
                         lineNo + 1));
    if (::ftruncate(fd_, off_t(complete)) != 0)
      throw Failure(kExitOutput, out + ": cannot cut its unfinished last line: " + std::strerror(errno));
  }
  codes_ = doneBefore_;
  if (complete == 0) writeText(header + "\n");
}

void ResultsFile::writeText(const std::string& text) {
  if (writeError_ != 0) return;
  errno = 0;
  if (!writeAll(fd_, text)) {
    writeError_ = errno != 0 ? errno : EIO;
    throw Failure(kExitOutput,
                  fmt("%s: cannot write: %s; stopped with %zu of %zu rows written, the others not "
                      "measured (continue with --resume once it can be written)",
                      settings_.output.empty() ? "standard output" : settings_.output.c_str(),
                      std::strerror(writeError_), codes_.size(), manifest_.rows.size()));
  }
}

std::vector<const ManifestRow*> ResultsFile::todo() const {
  std::vector<const ManifestRow*> rows;
  for (const ManifestRow& r : manifest_.rows)
    if (doneBefore_.count(r.row) == 0) rows.push_back(&r);
  return rows;
}

std::string ResultsFile::record(const ManifestRow& row, int code, const Json& outcome) {
  if (writeError_ != 0)
    throw Failure(kExitOutput,
                  (settings_.output.empty() ? std::string("standard output") : settings_.output) +
                      ": an earlier line could not be written");
  const Json line = resultLine(row, code, outcome);
  writeText(asWritten(line) + "\n");
  codes_[row.row] = ExitCode(line["exit_code"].get<int>());
  statuses_[row.row] = line["status"].get<std::string>();
  if (line["status"] != kStatusError) return "";
  return fmt("row %d (%s line %d) failed: %s", row.row, manifest_.path.c_str(), row.line,
             line["error"].get<std::string>().c_str());
}

BatchSummary ResultsFile::summary(std::size_t notRun) const {
  BatchSummary s;
  s.rows = manifest_.rows.size();
  s.doneBefore = doneBefore_.size();
  s.runNow = codes_.size() - doneBefore_.size();
  s.notRun = notRun;
  for (const auto& [row, status] : statuses_) {
    (void)row;
    ++(status == kStatusOk          ? s.ok
       : status == kVerdictDoubtful ? s.doubtful
       : status == kVerdictFlagged  ? s.flagged
                                    : s.failed);
  }
  s.code = s.failed > 0 || notRun > 0 ? kExitBadInput : s.flagged + s.doubtful > 0 ? kExitFlagged : kExitOk;
  s.text =
      fmt("batch: %zu rows (%zu run now, %zu done before): %zu ok, %zu doubtful, %zu flagged, %zu failed",
          s.rows, s.runNow, s.doneBefore, s.ok, s.doubtful, s.flagged, s.failed);
  if (notRun > 0) s.text += fmt("; %zu not run (continue with --resume)", notRun);
  return s;
}

}  // namespace audiomeas::host
