// The registered libraries loaded into one process in every order, with
// RTLD_LOCAL and with RTLD_GLOBAL, compute exactly the same results: no
// library resolves another's symbols (envelo and burstra both export sum and
// rms, each library carries its own runtime with rtInf and friends) and no
// load-time set-up depends on what was loaded before. Each combination runs
// in a fresh child process.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "audiomeas_types.h"
#include "registered_libraries.hpp"
#include "test_arrays.hpp"

namespace {

using audiomeas::test::Exact;
using audiomeas::test::HostArray;

template <class F>
F symbol(void* lib, const char* name) {
  void* p = dlsym(lib, name);
  if (p == nullptr) _exit(3);
  F f;
  std::memcpy(&f, &p, sizeof f);
  return f;
}

std::vector<double> noise(int n, double amplitude, unsigned seed, int onset) {
  std::vector<double> x(static_cast<std::size_t>(n), 0.0);
  for (int i = onset; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    x[static_cast<std::size_t>(i)] = amplitude * (static_cast<double>(seed) / 2147483648.0 - 1.0);
  }
  return x;
}

// An order of loading: indices into kRegisteredLibraries.
using Order = std::vector<std::size_t>;

// Loads the libraries in the given order and measures a fixed set of cases
// with synkro, envelo and burstra; the results (as raw doubles) go to fd.
void measureInChild(const Order& order, int mode, int fd) {
  std::map<std::string, void*> handles;
  for (const std::size_t i : order) {
    const RegisteredLibrary& r = kRegisteredLibraries[i];
    const std::string path = std::string(AUDIOMEAS_LIB_DIR) + "/lib" + r.name + ".so";
    void* h = dlopen(path.c_str(), RTLD_NOW | mode);
    if (h == nullptr) _exit(2);
    if (r.initialize != nullptr) symbol<void (*)()>(h, r.initialize)();
    handles[r.name] = h;
  }
  for (const char* needed : {"synkro", "envelo", "burstra"}) {
    if (handles.count(needed) == 0) _exit(5);
  }
  void* const lib[3] = {handles["synkro"], handles["envelo"], handles["burstra"]};
  std::vector<double> out;
  using Reduce = double (*)(const emxBuffer_real_T*);

  // synkro_2: 1 s at 8 kHz, the recording 37 samples late, one +Inf sample.
  std::vector<double> ref = noise(8000, 0.25, 1, 1600), rec(8000, 0.0);
  std::copy(ref.begin(), ref.end() - 37, rec.begin() + 37);
  std::vector<double> inf = ref;
  inf[4000] = INFINITY;
  const Exact r(ref), m(rec), ri(inf);
  for (const Exact* x : {&r, &ri}) {
    HostArray aligned(nullptr, 0, 0, true);
    double lag = 0, failed = 0;
    symbol<void (*)(const emxBuffer_real_T*, const emxBuffer_real_T*, double, emxBuffer_real_T*, double*,
                    double*)>(lib[0], "synkro_2")(x->get(), m.get(), 8000.0, &aligned.a, &lag, &failed);
    const std::vector<double> values = aligned.values();
    out.insert(out.end(), values.begin(), values.end());
    out.push_back(lag);
    out.push_back(failed);
    std::free(aligned.a.data);
  }

  // burstra: 2 s at 8 kHz, active from 0.5 s.
  std::vector<double> p = noise(16000, 2000, 3, 0), a = noise(16000, 16000, 5, 4000),
                      s = noise(16000, 60, 7, 0);
  const Exact bp(p), ba(a), bs(s);
  double d = 0, level = 0, warning = 0;
  symbol<void (*)(const emxBuffer_real_T*, const emxBuffer_real_T*, const emxBuffer_real_T*, double, double*,
                  double*, double*)>(lib[2], "burstra")(bp.get(), ba.get(), bs.get(), 8000.0, &d, &level,
                                                        &warning);
  out.insert(out.end(), {d, level, warning});

  // The kernels both envelo and burstra export under one name.
  const Exact x({3.0, 4.0});
  out.push_back(symbol<Reduce>(lib[2], "sum")(x.get()));
  out.push_back(symbol<Reduce>(lib[2], "rms")(x.get()));
  out.push_back(symbol<Reduce>(lib[1], "b_sum")(x.get()));
  out.push_back(symbol<Reduce>(lib[1], "b_rms")(x.get()));
  std::vector<double> history(200, 1.0);
  out.push_back(symbol<double (*)(const double*)>(lib[1], "sum")(history.data()));
  for (void* h : {lib[1], lib[2]}) {
    out.push_back(*symbol<double*>(h, "rtInf"));
    out.push_back(*symbol<double*>(h, "rtNaN"));
  }
  const auto bytes = static_cast<ssize_t>(out.size() * sizeof(double));
  if (write(fd, out.data(), static_cast<std::size_t>(bytes)) != bytes) _exit(4);
  _exit(0);
}

std::vector<double> measure(const Order& order, int mode) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    measureInChild(order, mode, fds[1]);
  }
  close(fds[1]);
  std::vector<double> results;
  double buffer[512];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) {
    results.insert(results.end(), buffer, buffer + got / static_cast<ssize_t>(sizeof(double)));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  return results;
}

// Fails when a library picks up another's sum or rms, reads another's
// non-finite constants, or depends on the load order in any other way.
TEST(LoadOrder, EveryOrderAndBindingGivesTheSameResults) {
  // From the order sorted by name through every permutation of it.
  Order order(std::size(kRegisteredLibraries));
  std::iota(order.begin(), order.end(), std::size_t{0});
  const auto byName = [](std::size_t a, std::size_t b) {
    return std::strcmp(kRegisteredLibraries[a].name, kRegisteredLibraries[b].name) < 0;
  };
  std::sort(order.begin(), order.end(), byName);
  const std::vector<double> first = measure(order, RTLD_LOCAL);
  ASSERT_EQ(first.size(), 2 * (8000 + 2) + 3 + 5 + 4);
  // sum, rms, b_sum, b_rms, envelo's sum of 200 ones, then the constants.
  const double* tail = first.data() + first.size() - 9;
  EXPECT_EQ(tail[0], 7.0);
  EXPECT_EQ(tail[1], std::sqrt(12.5));
  EXPECT_EQ(tail[2], 7.0);
  EXPECT_EQ(tail[3], std::sqrt(12.5));
  EXPECT_EQ(tail[4], 200.0);
  EXPECT_TRUE(std::isinf(tail[5]) && std::isnan(tail[6]));  // envelo's rtInf, rtNaN
  EXPECT_TRUE(std::isinf(tail[7]) && std::isnan(tail[8]));  // burstra's
  do {
    for (int mode : {RTLD_LOCAL, RTLD_GLOBAL}) {
      const std::vector<double> r = measure(order, mode);
      std::string what;
      for (const std::size_t i : order) what += std::string(kRegisteredLibraries[i].name) + ",";
      what += mode == RTLD_GLOBAL ? " global" : " local";
      ASSERT_EQ(r.size(), first.size()) << what;
      EXPECT_EQ(std::memcmp(r.data(), first.data(), sizeof(double) * r.size()), 0) << what;
    }
  } while (std::next_permutation(order.begin(), order.end(), byName));
}

}  // namespace
