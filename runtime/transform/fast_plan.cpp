// Plans of the fast transform (tables built once per length) and the
// choice of kernels for this processor.
#include "fft_fast.hpp"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "fft_detail.hpp"

namespace audiomeas::detail::fast {

namespace {

int32_T log2Of(int32_T n) {
  int32_T e = 0;
  while ((1 << e) < n) ++e;
  return e;
}

void reversalTable(int32_T bits, std::vector<int32_T>& rev) {
  rev.assign(static_cast<std::size_t>(1) << bits, 0);
  for (std::size_t i = 0; i < rev.size(); ++i) {
    int32_T r = 0;
    for (int32_T b = 0; b < bits; ++b) r |= ((static_cast<int32_T>(i) >> b) & 1) << (bits - 1 - b);
    rev[i] = r;
  }
}

// The quarter wave of L is the plain quarterWaveTable(L), so every twiddle
// taken from it or from a subsample of it has the plain tables' bits.
void build(int32_T L, Plan& plan) {
  // 64 KiB of complex values: the eight blocks loaded together (half of L2)
  // share each cache line of a real source.
  constexpr int32_T kBlock = 4096;
  constexpr int32_T kMaxRows = 512;  // the pass-2 tile buffer's rows
  const int32_T R = L <= kBlock ? 1 : (L / kBlock < kMaxRows ? L / kBlock : kMaxRows);
  const int32_T B = L / R;
  const int32_T logR = log2Of(R);

  plan.quarter.resize(static_cast<std::size_t>(quarterWaveCount(L)));
  quarterWaveTable(L, plan.quarter.data());
  const real_T* q = plan.quarter.data();
  const int32_T H = L / 2;
  auto cosAt = [&](int32_T j) { return j <= H / 2 ? q[j] : -q[H - j]; };
  auto sinAt = [&](int32_T j) { return j <= H / 2 ? q[H / 2 - j] : q[j - H / 2]; };

  // Pass-1 stages d = 4 .. B/2: twiddle j = m L/(2d) in rows cos, -sin, +sin.
  plan.twiddles.assign(3 * static_cast<std::size_t>(B), 0.0);
  for (int32_T d = 4; d < B; d *= 2) {
    const int32_T k = L / (2 * d);
    for (int32_T m = 0; m < d; ++m) {
      plan.twiddles[d + m] = cosAt(m * k);
      plan.twiddles[B + d + m] = -sinAt(m * k);
      plan.twiddles[2 * B + d + m] = sinAt(m * k);
    }
  }
  // Pass-2 stages d = B .. L/4: their quarter waves, quarter[t L/(2d)].
  plan.stageOffset.assign(static_cast<std::size_t>(logR) + 1, 0);
  plan.stageQuarter.clear();
  for (int32_T s = 0; s < logR; ++s) {
    const int32_T d = B << s;
    plan.stageOffset[s] = static_cast<int32_T>(plan.stageQuarter.size());
    if (d == H) break;  // the last stage reads the quarter wave itself
    const int32_T k = L / (2 * d);
    for (int32_T t = 0; t <= d / 2; ++t) plan.stageQuarter.push_back(q[t * k]);
  }
  reversalTable(log2Of(B), plan.revB);
  reversalTable(logR, plan.revR);
  plan.view = {L,
               B,
               R,
               logR,
               plan.quarter.data(),
               plan.stageQuarter.data(),
               plan.stageOffset.data(),
               plan.twiddles.data(),
               plan.revB.data(),
               plan.revR.data()};
}

// Plans kept for the process: up to 2^23 (60 s at 48 kHz correlates at
// 2^23). A plan of L takes about 4L bytes, so all of them about 64 MiB.
constexpr int32_T kMaxCachedExponent = 23;

}  // namespace

PlanRef::PlanRef(int32_T L) : plan_(nullptr) {
  const int32_T e = log2Of(L);
  if (e <= kMaxCachedExponent) {
    static std::array<std::once_flag, kMaxCachedExponent + 1> once;
    static std::array<Plan, kMaxCachedExponent + 1> plans;
    std::call_once(once[e], [&] { build(L, plans[e]); });
    plan_ = &plans[e];
  } else {
    owned_ = std::make_unique<Plan>();
    build(L, *owned_);
    plan_ = owned_.get();
  }
}

const char* kernelSetName(KernelSet set) {
  switch (set) {
    case KernelSet::kAvx2:
      return "avx2";
    case KernelSet::kAvx512:
      return "avx512";
    case KernelSet::kPortable:
      break;
  }
  return "portable";
}

bool kernelSetAvailable(KernelSet set) {
  switch (set) {
    case KernelSet::kPortable:
      return true;
    case KernelSet::kAvx2:
#ifdef AUDIOMEAS_MAY_HAVE_AVX2
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
    case KernelSet::kAvx512:
#ifdef AUDIOMEAS_MAY_HAVE_AVX512
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512dq");
#else
      return false;
#endif
  }
  return false;
}

namespace {

KernelSet chosenAtStart() {
  const char* wanted = std::getenv(kKernelEnvironmentVariable);
  if (wanted != nullptr) {
    for (KernelSet set : kKernelSets) {
      if (std::strcmp(wanted, kernelSetName(set)) == 0 && kernelSetAvailable(set)) return set;
    }
  }
  KernelSet best = KernelSet::kPortable;
  for (KernelSet set : kKernelSets) {
    if (kernelSetAvailable(set)) best = set;
  }
  return best;
}

constexpr int kNotForced = -1;
std::atomic<int> forced{kNotForced};

const Kernels& kernelsOf(KernelSet set) {
  switch (set) {
    case KernelSet::kAvx2:
#ifdef AUDIOMEAS_MAY_HAVE_AVX2
      return avx2Kernels();
#else
      break;
#endif
    case KernelSet::kAvx512:
#ifdef AUDIOMEAS_MAY_HAVE_AVX512
      return avx512Kernels();
#else
      break;
#endif
    case KernelSet::kPortable:
      break;
  }
  return portableKernels();
}

}  // namespace

KernelSet activeKernelSet() {
  const int f = forced.load(std::memory_order_relaxed);
  if (f != kNotForced) return static_cast<KernelSet>(f);
  static const KernelSet kAtStart = chosenAtStart();
  return kAtStart;
}

const Kernels& kernels() { return kernelsOf(activeKernelSet()); }

void forceKernels(KernelSet set) {
  forced.store(kernelSetAvailable(set) ? static_cast<int>(set) : kNotForced, std::memory_order_relaxed);
}

void forgetForcedKernels() { forced.store(kNotForced, std::memory_order_relaxed); }

}  // namespace audiomeas::detail::fast
