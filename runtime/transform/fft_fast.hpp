// Fast radix-2 transforms for powers of two, bit-identical to the plain
// decimation-in-time core (fft_detail.hpp): every butterfly does the same
// multiply, add and subtract on the same operands, so only the order in
// which independent butterflies run, the layout of the data while they run
// and the caching of tables differ.
//
// Schedule, for a length L = B * R:
//   pass 1, per block of B elements: the bit-reversed load fused with the
//     first two stages, then the stages of span <= B while the block sits in
//     L2;
//   pass 2, per tile of eight columns over the R rows of B elements: the
//     remaining log2(R) stages in a small stack buffer, then the write-back.
// Blocks (in groups) and tiles are independent within their pass: from
// kMinSharedLength on they go to the workers a host lent the thread
// (parallel.hpp), if any.
// During the computation a group of four elements is stored as four real
// parts followed by four imaginary parts ("split" layout), so that one
// vector instruction does one operation of four butterflies.
//
// Twiddles come from one quarter-wave table per length, built once per
// process by the same formula as the plain tables (so with the same bits);
// every other table is a subsample of it.
#pragma once

#include <memory>
#include <vector>

#include "audiomeas_types.h"
#include "parallel.hpp"

namespace audiomeas::detail::fast {

// Shortest length the fast path takes; shorter ones stay on the plain core.
inline constexpr int32_T kMinLength = 64;
inline constexpr int32_T kMaxLength = 1 << 30;

// Raw view of a plan, all a kernel needs (no library types cross into the
// vector-instruction translation unit).
struct PlanView {
  int32_T L, B, R, logR;
  const real_T* quarter;       // cos(2 pi t/L), t = 0 .. L/4
  const real_T* stageQuarter;  // per pass-2 stage d < L/2: quarter[t * L/(2d)], t = 0 .. d/2
  const int32_T* stageOffset;  // offset of stage s (span d = B 2^s) in stageQuarter
  const real_T* twiddles;      // pass-1 stages d = 4 .. B/2, at [d + m], m < d: cos, -sin, +sin rows of B
  const int32_T* revB;         // bit reversal of log2(B) bits
  const int32_T* revR;         // bit reversal of log2(R) bits
};

struct Plan {
  PlanView view{};
  std::vector<real_T> quarter, stageQuarter, twiddles;
  std::vector<int32_T> stageOffset, revB, revR;
};

// The plan of a power-of-two length kMinLength <= L <= kMaxLength. Plans up
// to 2^23 are built once per process (thread-safely) and kept; longer ones
// are built for the call and owned by the holder.
class PlanRef {
 public:
  explicit PlanRef(int32_T L);
  const PlanView& view() const { return plan_->view; }

 private:
  const Plan* plan_;
  std::unique_ptr<Plan> owned_;
};

inline bool applies(int32_T L) { return L >= kMinLength && L <= kMaxLength && (L & (L - 1)) == 0; }

// Output of a transform: interleaved creal_T values (scaled by `scale` when
// it is not 1), or the split layout kept for a following step.
enum class Output { kInterleaved, kInterleavedScaled, kSplit };

// One instruction set's kernels. Work arrays hold L complex values (2L
// doubles); "split" arrays are in the layout above.
struct Kernels {
  // y := forward transform of x[0 .. nx-1] zero-padded to L.
  void (*forwardReal)(const PlanView&, const real_T* x, int32_T nx, real_T* y, Output out, real_T scale);
  // y := unscaled transform of x[0 .. nx-1] (interleaved) zero-padded; y != x.
  void (*transformComplex)(const PlanView&, const creal_T* x, int32_T nx, bool inverse, real_T* y, Output out,
                           real_T scale);
  // Transform of y in place, y already in bit-reversed order (interleaved).
  void (*transformPermuted)(const PlanView&, real_T* y, bool inverse, Output out, real_T scale);
  // z := X .* conj(transform of y): the forward transform of y is finished
  // in the split work array z against the split spectrum X; the product is
  // X.re*Y.re - X.im*(-Y.im) when bySubtraction, else X.re*Y.re + X.im*Y.im,
  // and X.re*(-Y.im) + X.im*Y.re. y is first moved later by yShift samples
  // and cut to ny samples (element k = y[k - yShift] where that exists and
  // k < ny, else 0).
  void (*forwardRealTimesConj)(const PlanView&, const real_T* y, int32_T ny, int32_T yShift, const real_T* X,
                               bool bySubtraction, real_T* z);
  // r := unscaled inverse transform of the split spectrum z (split); r != z.
  void (*inverseSplit)(const PlanView&, const real_T* z, real_T* r);
};

// Instruction sets the engine has kernels for, from the most general.
enum class KernelSet { kPortable, kAvx2, kAvx512 };
inline constexpr KernelSet kKernelSets[] = {KernelSet::kPortable, KernelSet::kAvx2, KernelSet::kAvx512};
// Lower-case name of a set ("portable", "avx2", "avx512"), as the
// environment variable below takes it.
const char* kernelSetName(KernelSet set);
// Names the kernels for a process (one of the names above): a set the build
// has and the processor runs is taken in place of the best one, anything
// else is ignored. Read once, at the first transform.
inline constexpr const char* kKernelEnvironmentVariable = "AUDIOMEAS_FFT_KERNELS";

// Whether this build has the set and this processor runs it (the portable
// set always; AVX2 and AVX-512 on x86-64 builds, AUDIOMEAS_MAY_HAVE_AVX2 and
// AUDIOMEAS_MAY_HAVE_AVX512).
bool kernelSetAvailable(KernelSet set);
// The set in use: a forced one, else the environment's, else the best
// available (AVX-512, then AVX2, then portable).
KernelSet activeKernelSet();
const Kernels& kernels();
// Tests: use this set from now on, in every thread (a set that is not
// available forgets the forced one); forgetForcedKernels() returns to the
// choice at start.
void forceKernels(KernelSet set);
void forgetForcedKernels();

// Kernel sets (fast_portable.cpp, x86/fast_avx2.cpp, x86/fast_avx512.cpp).
const Kernels& portableKernels();
#ifdef AUDIOMEAS_MAY_HAVE_AVX2
const Kernels& avx2Kernels();
#endif
#ifdef AUDIOMEAS_MAY_HAVE_AVX512
const Kernels& avx512Kernels();
#endif

// y := inverse transform of x[0 .. L-1] scaled by 1/L, interleaved, for a
// length the fast engine takes; x == nullptr when y already holds the input
// in bit-reversed order.
void inverseInterleaved(const creal_T* x, int32_T L, creal_T* y);

// Real part of element i of a split array.
inline real_T splitRe(const real_T* a, int32_T i) { return a[8 * (i >> 2) + (i & 3)]; }

}  // namespace audiomeas::detail::fast
