// The fast transform's kernels in portable code: four lanes as plain
// doubles, one operation per lane in the order the vector code uses.
#include <type_traits>

#include "fft_fast.hpp"

namespace audiomeas::detail::fast {
namespace portable {
namespace {

struct V {
  real_T v[4];
  static V load(const real_T* p) { return {{p[0], p[1], p[2], p[3]}}; }
  static void store(real_T* p, const V& a) {
    for (int l = 0; l < 4; ++l) p[l] = a.v[l];
  }
  static V set1(real_T x) { return {{x, x, x, x}}; }
  static V add(const V& a, const V& b) {
    return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
  }
  static V sub(const V& a, const V& b) {
    return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}};
  }
  static V mul(const V& a, const V& b) {
    return {{a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]}};
  }
  static V neg(const V& a) { return {{-a.v[0], -a.v[1], -a.v[2], -a.v[3]}}; }
  static V reverse(const V& a) { return {{a.v[3], a.v[2], a.v[1], a.v[0]}}; }
  static V lane0From(const V& a, const V& b) { return {{b.v[0], a.v[1], a.v[2], a.v[3]}}; }
  static void storeInterleaved(real_T* p, const V& re, const V& im) {
    for (int l = 0; l < 4; ++l) {
      p[2 * l] = re.v[l];
      p[2 * l + 1] = im.v[l];
    }
  }
};

}  // namespace

#include "fast_kernels.inc"

}  // namespace portable

const Kernels& portableKernels() {
  static const Kernels k = portable::kernelSet<portable::V>();
  return k;
}

}  // namespace audiomeas::detail::fast
