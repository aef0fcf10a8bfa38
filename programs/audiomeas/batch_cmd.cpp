#include "batch_cmd.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "batch.hpp"
#include "measure.hpp"
#include "memory.hpp"
#include "text.hpp"

namespace audiomeas::cli {

using namespace audiomeas::host;

namespace {

// Admits rows while the memory estimates of the running ones add up to at
// most the budget, and rows of a one-at-a-time library singly: a second
// one would only hold its files meanwhile.
class Admission {
 public:
  explicit Admission(std::size_t budget) : budget_(budget) {}

  // Waits for room; false when stop was set meanwhile.
  bool enter(std::size_t bytes, bool single, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return stop.load() || (bytes <= budget_ - inUse_ && !(single && singleBusy_)); });
    if (stop.load()) return false;
    inUse_ += bytes;
    if (single) singleBusy_ = true;
    return true;
  }
  void leave(std::size_t bytes, bool single) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      inUse_ -= bytes;
      if (single) singleBusy_ = false;
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
  bool singleBusy_ = false;
};

class Progress {
 public:
  Progress(size_t total, size_t already) : total_(total), done_(already) {
    shown_ = ::isatty(STDERR_FILENO) == 1;
    draw();
  }
  void finished(int code) {
    ++done_;
    if (code == kExitFlagged) ++flagged_;
    if (code != kExitOk && code != kExitFlagged) ++failed_;
    draw();
  }
  void close() {
    if (shown_) std::cerr << "\n";
  }
  // A line of its own, above the bar.
  void say(const std::string& text) {
    std::cerr << (shown_ ? "\r\033[K" : "") << text << "\n";
    draw();
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

int runBatch(const BatchOptions& o) {
  BatchSettings settings;
  settings.manifest = o.manifest;
  settings.output = o.output;
  settings.resume = o.resume;
  settings.channel = o.channel;
  settings.options = o.options;
  checkSettings(settings);
  const Manifest manifest = readManifest(o.manifest);
  for (const std::string& note : manifest.notes) std::cerr << "batch: " << note << "\n";
  ResultsFile results(settings, manifest);
  const std::vector<const ManifestRow*> todo = results.todo();

  const std::size_t budget = o.memoryBudget > 0 ? o.memoryBudget : availableBytes().value_or(SIZE_MAX);
  Admission admission(budget);
  std::mutex outputLock;  // guards the results file and the progress display
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr failure;  // a line that could not be written, or worse
  Progress progress(manifest.rows.size(), manifest.rows.size() - todo.size());

  auto runRow = [&](const ManifestRow& row) {
    Job job = rowJob(settings, row);
    int code = kExitOk;
    Json outcome;
    const bool single = row.measurement->oneAtATime;
    // sizeOf opens regular files only, and the row's job refuses the others.
    const std::size_t need = sizeOf(job).peakBytes;
    job.memoryAdmitted = true;  // within the budget, below
    if (need > budget) {
      code = kExitBadInput;
      outcome = {{"error", fmt("needs about %s of memory, more than the memory budget of %s; give a larger "
                               "--memory-budget or use a machine with more memory",
                               describeBytes(need).c_str(), describeBytes(budget).c_str())},
                 {"needed_bytes", need},
                 {"available_bytes", budget}};
    } else {
      if (!admission.enter(need, single, stop)) return;
      try {
        Outcome out = runJob(job);
        code = out.code;
        outcome = std::move(out.json);
      } catch (const MemoryShortfall& f) {
        code = f.code();
        outcome = {{"error", f.what()}, {"needed_bytes", f.needed()}, {"available_bytes", f.available()}};
      } catch (const Failure& f) {
        code = f.code();
        outcome = {{"error", f.what()}};
      } catch (const std::bad_alloc&) {
        code = kExitBadInput;
        outcome = {{"error", "out of memory"}};
      } catch (const std::exception& e) {
        code = kExitBadInput;
        outcome = {{"error", std::string("internal error: ") + e.what()}};
      }
      admission.leave(need, single);
    }
    std::lock_guard<std::mutex> lock(outputLock);
    if (stop.load()) return;
    const std::string notice = results.record(row, code, outcome);
    progress.finished(code);
    if (!notice.empty()) progress.say("batch: " + notice);
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
      if (!failure) failure = std::current_exception();
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
  if (failure) std::rethrow_exception(failure);

  const BatchSummary summary = results.summary();
  std::cerr << summary.text << "\n";
  return summary.code;
}

}  // namespace audiomeas::cli
