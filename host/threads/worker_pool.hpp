// Threads a measurement lends to its transforms (runtime/transform/
// parallel.hpp): the host's only threads besides a batch's rows. Results
// are the same bits with any count.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "parallel.hpp"

namespace audiomeas::host {

// The machine's cores (at least 1): the default thread count.
int machineThreads();

// threads - 1 workers beside the thread that calls forEach.
class WorkerPool final : public detail::Workers {
 public:
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void forEach(int32_T count, Body body, void* context) override;

 private:
  void serve();
  void claim();

  std::mutex mutex_;
  std::condition_variable started_, finished_;
  std::uint64_t round_ = 0;  // forEach calls so far; a worker serves each once
  int busy_ = 0;             // workers still in the current round
  bool stopping_ = false;
  Body body_ = nullptr;
  void* context_ = nullptr;
  int32_T count_ = 0;
  int32_T next_ = 0;  // next part to claim, under mutex_
  std::vector<std::thread> threads_;
};

// Lends the calling thread a pool of `threads` threads for the scope's life
// (0: machineThreads(); 1: none, everything on the calling thread).
class ThreadScope {
 public:
  explicit ThreadScope(int threads);
  ~ThreadScope();
  ThreadScope(const ThreadScope&) = delete;
  ThreadScope& operator=(const ThreadScope&) = delete;

 private:
  std::optional<WorkerPool> pool_;
  detail::Workers* before_ = nullptr;
};

}  // namespace audiomeas::host
