// The fast transform's kernels for AVX-512: four butterflies per operation
// on 256-bit EVEX vectors, with 32 vector registers (the two-stage
// butterflies keep all sixteen rows and six twiddles in registers, where
// AVX2 spills), mask-register blends, and interleaved stores of 512 bits.
// Four lanes, not eight: the split layout of the engine groups four
// elements, and processors that split 512-bit arithmetic into two halves
// gain nothing from wider operations on a memory-bound transform. The
// build compiles this file alone with -mavx512f -mavx512vl -mavx512dq
// -mno-fma (a fused multiply-add would round once where the plain core
// rounds twice), on x86-64 only, and defines AUDIOMEAS_MAY_HAVE_AVX512; the
// kernels are only called after a run-time check. Everything here but
// avx512Kernels() has internal linkage, and nothing it includes emits an
// inline function (the simd.kernels_isolated test checks the object file).
#include <immintrin.h>

#include <type_traits>

#include "fft_fast.hpp"

#if !defined(__AVX512F__) || !defined(__AVX512VL__) || !defined(__AVX512DQ__)
#error "compile this file with -mavx512f -mavx512vl -mavx512dq (runtime/CMakeLists.txt)"
#endif
// Clang cannot have AVX-512 without FMA; it relies on -ffp-contract=off.
#if defined(__FMA__) && !defined(__clang__)
#error "compile this file with -mno-fma: the plain core rounds every product"
#endif

namespace audiomeas::detail::fast {
namespace avx512 {
namespace {

struct V {
  __m256d v;
  static V load(const real_T* p) { return {_mm256_loadu_pd(p)}; }
  static void store(real_T* p, V a) { _mm256_storeu_pd(p, a.v); }
  static V set1(real_T x) { return {_mm256_set1_pd(x)}; }
  static V add(V a, V b) { return {_mm256_add_pd(a.v, b.v)}; }
  static V sub(V a, V b) { return {_mm256_sub_pd(a.v, b.v)}; }
  static V mul(V a, V b) { return {_mm256_mul_pd(a.v, b.v)}; }
  // Flips the sign bit, as unary minus does.
  static V neg(V a) { return {_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))}; }
  static V reverse(V a) { return {_mm256_permute4x64_pd(a.v, 0x1B)}; }
  static V lane0From(V a, V b) { return {_mm256_mask_blend_pd(0x1, a.v, b.v)}; }
  static void storeInterleaved(real_T* p, V re, V im) {
    // re0 im0 re1 im1 re2 im2 re3 im3: lanes 0-3 of the first operand, 8-11
    // of the second.
    const __m512i order = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
    _mm512_storeu_pd(
        p, _mm512_permutex2var_pd(_mm512_castpd256_pd512(re.v), order, _mm512_castpd256_pd512(im.v)));
  }
};

}  // namespace

#include "fast_kernels.inc"

}  // namespace avx512

const Kernels& avx512Kernels() {
  static const Kernels k = avx512::kernelSet<avx512::V>();
  return k;
}

}  // namespace audiomeas::detail::fast
