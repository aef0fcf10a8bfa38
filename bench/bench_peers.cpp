// Full cross-correlation of two 720,000-sample signals, timed in one
// process, interleaved round by round: our fixed xcorr, an FFTW real-input
// correlation (MEASURE plans, planning not timed) and the plain algorithm
// (one sweep per stage, tables rebuilt per call). Prints median times and
// ratios; --plain-rounds N (default 3, at most the rounds) sets how many
// rounds also run the plain algorithm. With --dump DIR it writes the two signals as raw doubles to
// DIR/x.f64 and DIR/y.f64 for scipy_correlate.py.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../bench/bench_support.hpp"
#include "fft_fast.hpp"
#include "fixed_transforms.hpp"
#include "reference_fft.hpp"
#include "rt_nonfinite.hpp"
#include "xcorr.hpp"

namespace {

constexpr int kN = 720000, kP = 2097152, kLags = 2 * kN - 1;

struct Fftw {
  double* in;
  fftw_complex* X;
  fftw_complex* Y;
  double* out;
  fftw_plan fx, inv;
  Fftw() {
    in = fftw_alloc_real(kP);
    out = fftw_alloc_real(kP);
    X = fftw_alloc_complex(kP / 2 + 1);
    Y = fftw_alloc_complex(kP / 2 + 1);
    fx = fftw_plan_dft_r2c_1d(kP, in, X, FFTW_MEASURE);
    inv = fftw_plan_dft_c2r_1d(kP, X, out, FFTW_MEASURE);
  }
  ~Fftw() {
    fftw_destroy_plan(fx);
    fftw_destroy_plan(inv);
    fftw_free(in), fftw_free(out), fftw_free(X), fftw_free(Y);
  }
  void correlate(const double* x, const double* y, double* c) {
    std::memcpy(in, y, sizeof(double) * kN);
    std::memset(in + kN, 0, sizeof(double) * (kP - kN));
    fftw_execute_dft_r2c(fx, in, Y);
    std::memcpy(in, x, sizeof(double) * kN);
    std::memset(in + kN, 0, sizeof(double) * (kP - kN));
    fftw_execute_dft_r2c(fx, in, X);
    const double s = 1.0 / kP;
    for (int k = 0; k <= kP / 2; ++k) {
      const double re = X[k][0] * Y[k][0] + X[k][1] * Y[k][1];
      const double im = X[k][1] * Y[k][0] - X[k][0] * Y[k][1];
      X[k][0] = re * s, X[k][1] = im * s;
    }
    fftw_execute_dft_c2r(inv, X, out);
    std::memcpy(c, out + kP - (kN - 1), sizeof(double) * (kN - 1));
    std::memcpy(c + kN - 1, out, sizeof(double) * kN);
  }
};

template <class F>
double ms(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 7;
  int plainRounds = 3;
  std::string dump;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dump") == 0 && i + 1 < argc) dump = argv[++i];
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    if (std::strcmp(argv[i], "--plain-rounds") == 0 && i + 1 < argc)
      plainRounds = std::max(0, std::atoi(argv[++i]));
  }
  audiomeas::rt_InitInfAndNaN(8);
  const auto x = bench::programme(kN, 1), y = bench::programme(kN, 2, 4800);
  if (!dump.empty()) {
    for (const auto& [name, v] : {std::pair{"/x.f64", &x}, std::pair{"/y.f64", &y}}) {
      FILE* f = std::fopen((dump + name).c_str(), "wb");
      if (f == nullptr || std::fwrite(v->data(), sizeof(double), v->size(), f) != v->size()) return 1;
      std::fclose(f);
    }
  }
  std::vector<double> ours(kLags), peer(kLags);
  Fftw fftw;
  audiomeas::fixed::xcorr(x.data(), y.data(), ours.data());  // first touch of the tables and work arrays
  fftw.correlate(x.data(), y.data(), peer.data());
  std::vector<double> tOurs, tFftw, tPlain;
  for (int r = 0; r < rounds; ++r) {
    tOurs.push_back(ms([&] { audiomeas::fixed::xcorr(x.data(), y.data(), ours.data()); }));
    tFftw.push_back(ms([&] { fftw.correlate(x.data(), y.data(), peer.data()); }));
    if (r < plainRounds) {
      tPlain.push_back(ms([&] {
        auto c = audiomeas::test::plain::correlate(x.data(), kN, y.data(), kN, kP, false);
        if (std::memcmp(c.data(), ours.data(), sizeof(double) * kLags) != 0)
          std::printf("MISMATCH with the plain algorithm\n");
      }));
    }
  }
  double worst = 0;
  for (int i = 0; i < kLags; ++i) worst = std::max(worst, std::abs(ours[i] - peer[i]));
  const double o = median(tOurs), f = median(tFftw), p = tPlain.empty() ? 0.0 : median(tPlain);
  std::printf("kernels %s\n",
              audiomeas::detail::fast::kernelSetName(audiomeas::detail::fast::activeKernelSet()));
  std::printf("ours_ms %.2f\nfftw_ms %.2f\nplain_ms %.2f\n", o, f, p);
  std::printf("ours/fftw %.2f\nplain/ours %.1f\nmax |ours - fftw| %.3g\n", o / f, p / o, worst);
  return 0;
}
