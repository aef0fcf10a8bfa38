#include "worker_pool.hpp"

#include <algorithm>
#include <system_error>

namespace audiomeas::host {

int machineThreads() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

WorkerPool::WorkerPool(int threads) {
  // Threads the system will not start are done without: the parts run on
  // those there are, with the same results.
  try {
    for (int t = 1; t < threads; ++t) threads_.emplace_back([this] { serve(); });
  } catch (const std::system_error&) {
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  started_.notify_all();
  for (std::thread& t : threads_) t.join();
}

// Runs parts until none is left to claim.
void WorkerPool::claim() {
  std::unique_lock lock(mutex_);
  while (next_ < count_) {
    const int32_T k = next_++;
    lock.unlock();
    body_(context_, k);
    lock.lock();
  }
}

void WorkerPool::serve() {
  std::uint64_t served = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      started_.wait(lock, [&] { return stopping_ || round_ != served; });
      if (stopping_) return;
      served = round_;
    }
    claim();
    std::lock_guard lock(mutex_);
    if (--busy_ == 0) finished_.notify_one();
  }
}

void WorkerPool::forEach(int32_T count, Body body, void* context) {
  {
    std::lock_guard lock(mutex_);
    body_ = body;
    context_ = context;
    count_ = count;
    next_ = 0;
    busy_ = static_cast<int>(threads_.size());
    ++round_;
  }
  started_.notify_all();
  claim();
  // Every worker leaves the round before the next one can start, so none
  // runs a part of a round that has ended.
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return busy_ == 0; });
}

ThreadScope::ThreadScope(int threads) {
  const int n = threads == 0 ? machineThreads() : threads;
  before_ = detail::lendWorkers(n > 1 ? &pool_.emplace(n) : nullptr);
}

ThreadScope::~ThreadScope() { detail::lendWorkers(before_); }

}  // namespace audiomeas::host
