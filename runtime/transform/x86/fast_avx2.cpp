// The fast transform's kernels for AVX2: four butterflies per instruction.
// The build compiles this file alone with -mavx2 -mno-fma (a fused
// multiply-add would round once where the plain core rounds twice), on
// x86-64 only, and defines AUDIOMEAS_MAY_HAVE_AVX2; the kernels are only
// called after a run-time check. Everything here but avx2Kernels() has
// internal linkage, and nothing it includes emits an inline function, so no
// AVX2 code can stand in for an inline function of another translation unit
// (the simd.kernels_isolated test checks the object file).
#include <immintrin.h>

#include <type_traits>

#include "fft_fast.hpp"

#ifndef __AVX2__
#error "compile this file with -mavx2 (runtime/CMakeLists.txt)"
#endif

namespace audiomeas::detail::fast {
namespace avx2 {
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
  static V lane0From(V a, V b) { return {_mm256_blend_pd(a.v, b.v, 0x1)}; }
  static void storeInterleaved(real_T* p, V re, V im) {
    const __m256d lo = _mm256_unpacklo_pd(re.v, im.v);  // re0 im0 re2 im2
    const __m256d hi = _mm256_unpackhi_pd(re.v, im.v);  // re1 im1 re3 im3
    _mm256_storeu_pd(p, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_storeu_pd(p + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
  }
};

}  // namespace

#include "fast_kernels.inc"

}  // namespace avx2

const Kernels& avx2Kernels() {
  static const Kernels k = avx2::kernelSet<avx2::V>();
  return k;
}

}  // namespace audiomeas::detail::fast
