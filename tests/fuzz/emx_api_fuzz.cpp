// Sequences of array-API calls (create, wrap, init, resize, write, reduce,
// square, destroy) on four slots, each checked against a plain model of the
// container: extents, capacity, ownership, where the block lives and every
// element. The calls are the C names that envelo and burstra export.
//
// Model of the growth rule: the element count is the wrapped 32-bit product
// of the extents; when it exceeds the capacity, the capacity starts at
// max(capacity, 16) and doubles, becoming INT32_MAX once above 2^30 - 1; the
// new block is zero-filled and receives the first max(previous count, 0)
// elements (never more than the old block holds); the array then owns it,
// and a wrapper's buffer is left as it was.
#include <algorithm>
#include <array>
#include <cmath>

#include "burstra.h"
#include "emx.hpp"
#include "fuzz_input.hpp"

using namespace audiomeas::fuzz;

namespace {

int32_t wrappedProduct(const std::vector<int32_t>& extents) {
  uint32_t p = 1;
  for (int32_t e : extents) p *= static_cast<uint32_t>(e);
  return static_cast<int32_t>(p);
}

int32_t modelCapacity(int32_t capacity, int32_t numel) {
  int64_t c = std::max(capacity, 16);
  while (c < numel) c = c > 1073741823 ? INT32_MAX : 2 * c;
  return static_cast<int32_t>(c);
}

// Blocks above this many elements are not asked for (the fuzzer's memory
// limit); the capacity arithmetic up to INT32_MAX is checked on its own.
constexpr int32_t kMaxElements = 1 << 18;

struct Slot {
  emxBuffer_real_T* a = nullptr;
  // Model.
  int32_t dimCount = 0;
  std::vector<int32_t> extents;
  int32_t capacity = 0;
  bool owns = true;
  bool onHost = false;           // data is the host buffer below
  std::vector<double> elements;  // the block's contents, capacity of them
  // The host's own buffer behind a wrapper: still the host's after the
  // wrapper grows or is destroyed.
  double* host = nullptr;
  std::vector<double> hostValues;

  int32_t numel() const { return wrappedProduct(extents); }

  void check() const {
    FUZZ_CHECK(a != nullptr && a->size != nullptr);
    FUZZ_CHECK(a->dimCount == dimCount && a->capacity == capacity && a->ownsData == owns);
    for (int32_t i = 0; i < dimCount; ++i) FUZZ_CHECK(a->size[i] == extents[i]);
    if (onHost) FUZZ_CHECK(a->data == host);
    if (capacity > 0) {
      FUZZ_CHECK(a->data != nullptr);
      FUZZ_CHECK(sameBits(a->data, elements.data(), elements.size()));
    }
    if (host != nullptr) FUZZ_CHECK(sameBits(host, hostValues.data(), hostValues.size()));
  }

  void release() {
    std::free(host);
    host = nullptr;
    hostValues.clear();
  }
};

std::vector<int32_t> createExtents(Input& in, int32_t dimCount) {
  // Products stay small: create functions take the count at face value.
  static const int32_t kExtentLimits[] = {4096, 4096, 64, 16};
  std::vector<int32_t> e(static_cast<std::size_t>(std::max(dimCount, 0)));
  for (auto& x : e) x = static_cast<int32_t>(in.range(0, kExtentLimits[std::clamp(dimCount, 0, 3)]));
  return e;
}

// Resize extents: small, negative, or large enough for the product to wrap.
int32_t resizeExtent(Input& in) {
  static const int32_t kOddExtents[] = {-1, -7, 65536, 65537, 32768, INT32_MAX, INT32_MIN, 46341};
  const uint8_t pick = in.byte();
  if (pick < 8) return kOddExtents[pick];
  return static_cast<int32_t>(in.range(0, pick < 200 ? 40 : 600));
}

void create(Slot& s, Input& in) {
  const uint8_t kind = in.byte() % 5;
  s.dimCount = kind < 2 ? 2 : static_cast<int32_t>(in.range(-1, 3));
  s.extents = createExtents(in, s.dimCount);
  const int32_t numel = s.numel();
  s.capacity = numel;
  s.elements.assign(static_cast<std::size_t>(numel), 0.0);
  s.owns = true;
  s.onHost = false;
  if (kind == 1 || kind == 3) {  // wrapper over a host buffer of numel values
    s.hostValues.resize(static_cast<std::size_t>(numel));
    for (auto& v : s.hostValues) v = in.special();
    s.host = static_cast<double*>(std::malloc(sizeof(double) * s.hostValues.size() + 1));
    if (numel > 0) std::memcpy(s.host, s.hostValues.data(), sizeof(double) * s.hostValues.size());
    s.elements = s.hostValues;
    s.owns = false;
    s.onHost = true;
  }
  switch (kind) {
    case 0:
      s.a = emxCreate_real_T(s.extents[0], s.extents[1]);
      break;
    case 1:
      s.a = emxCreateWrapper_real_T(s.host, s.extents[0], s.extents[1]);
      break;
    case 2:
      s.a = emxCreateND_real_T(s.dimCount, s.extents.data());
      break;
    case 3:
      s.a = emxCreateWrapperND_real_T(s.host, s.dimCount, s.extents.data());
      break;
    default:
      (in.flag() ? emxInitArray_real_T : emxInit_real_T)(&s.a, s.dimCount);
      s.extents.assign(s.extents.size(), 0);
      s.capacity = 0;
      s.elements.clear();
      FUZZ_CHECK(s.a->data == nullptr);
  }
}

void resize(Slot& s, Input& in) {
  std::vector<int32_t> extents(s.extents.size());
  for (auto& e : extents) e = resizeExtent(in);
  const int32_t numel = wrappedProduct(extents);
  if (numel > s.capacity && modelCapacity(s.capacity, numel) > kMaxElements) return;
  // The previous count the caller passes: the true one, or any value.
  const int32_t previous = in.flag() ? s.numel() : static_cast<int32_t>(in.range(-3, 5000));

  for (std::size_t i = 0; i < extents.size(); ++i) s.a->size[i] = extents[i];
  emxEnsureCapacity_real_T(s.a, previous);

  s.extents = extents;
  if (numel <= s.capacity) return;
  const int32_t capacity = modelCapacity(s.capacity, numel);
  std::vector<double> grown(static_cast<std::size_t>(capacity), 0.0);
  const int32_t kept = std::min(std::max(previous, 0), s.capacity);
  std::copy_n(s.elements.begin(), kept, grown.begin());
  s.elements = std::move(grown);
  s.capacity = capacity;
  s.owns = true;
  s.onHost = false;
}

void write(Slot& s, Input& in) {
  const int32_t count = std::min(std::max(s.numel(), 0), s.capacity);
  const double base = in.special();
  for (int32_t i = 0; i < count; ++i) {
    const double v = base + i;
    s.a->data[i] = v;
    s.elements[static_cast<std::size_t>(i)] = v;
    if (s.onHost) s.hostValues[static_cast<std::size_t>(i)] = v;
  }
}

// The reductions read size[0] elements, never more than the extents hold in
// all; only arrays whose block holds that many are tried.
int32_t vectorLength(const Slot& s) {
  return s.dimCount < 1 ? 0 : std::clamp(s.extents[0], 0, std::max(s.numel(), 0));
}
bool readable(const Slot& s) { return vectorLength(s) <= s.capacity; }

void reduce(const Slot& s) {
  if (!readable(s)) return;
  const int32_t n = vectorLength(s);
  double total = 0.0;
  double squares = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double x = s.elements[static_cast<std::size_t>(i)];
    total = i == 0 ? x : total + x;
    squares = i == 0 ? x * x : squares + x * x;
  }
  const double r = std::sqrt(squares / n);
  const double c = combineVectorElements(s.a);
  const double t = sum(s.a);
  const double q = rms(s.a);
  FUZZ_CHECK(bitsOf(c) == bitsOf(total) && bitsOf(t) == bitsOf(total));
  FUZZ_CHECK(bitsOf(q) == bitsOf(r) || (std::isnan(q) && std::isnan(r)));
}

// power(a, y) into a one-dimensional y: y takes a's first extent (at least 0)
// through the growth rule, with y's old first extent as the previous count.
void square(const Slot& a, Slot& y) {
  if (&a == &y || a.a == nullptr || !readable(a) || y.dimCount != 1) return;
  const int32_t n = vectorLength(a);
  if (n > y.capacity && modelCapacity(y.capacity, n) > kMaxElements) return;
  std::vector<double> squares(static_cast<std::size_t>(n));
  for (int32_t i = 0; i < n; ++i) squares[i] = a.elements[i] * a.elements[i];

  power(a.a, y.a);

  const int32_t previous = y.extents[0];
  y.extents[0] = n;
  if (n > y.capacity) {
    const int32_t capacity = modelCapacity(y.capacity, n);
    std::vector<double> grown(static_cast<std::size_t>(capacity), 0.0);
    std::copy_n(y.elements.begin(), std::min(std::max(previous, 0), y.capacity), grown.begin());
    y.elements = std::move(grown);
    y.capacity = capacity;
    y.owns = true;
    y.onHost = false;
  }
  std::copy(squares.begin(), squares.end(), y.elements.begin());
  if (y.onHost) std::copy(squares.begin(), squares.end(), y.hostValues.begin());
}

void destroy(Slot& s, Input& in) {
  if (in.flag()) {
    emxDestroyArray_real_T(s.a);
  } else {
    emxFree_real_T(&s.a);
    FUZZ_CHECK(s.a == nullptr);
    emxFree_real_T(&s.a);  // a null array is left alone
  }
  s.a = nullptr;
  // A wrapper's buffer outlives it, unchanged.
  if (s.host != nullptr) FUZZ_CHECK(sameBits(s.host, s.hostValues.data(), s.hostValues.size()));
  s.release();
}

// The capacity arithmetic alone, up to INT32_MAX, without allocating.
void growthRule(Input& in) {
  const auto capacity = static_cast<int32_t>(in.u32());
  if (capacity == INT32_MAX) return;
  const int32_t numel = static_cast<int32_t>(in.range(std::max<int64_t>(capacity, -1) + 1, INT32_MAX));
  if (numel <= capacity) return;
  FUZZ_CHECK(audiomeas::detail::grownCapacity(capacity, numel) == modelCapacity(capacity, numel));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool initialised = (burstra_initialize(), true);
  (void)initialised;

  Input in(data, size);
  std::array<Slot, 4> slots;
  for (int step = 0; step < 64 && in.remaining() > 0; ++step) {
    const uint8_t op = in.byte();
    Slot& s = slots[op >> 6];
    if (s.a == nullptr) {
      create(s, in);
    } else {
      switch (op % 6) {
        case 0:
          resize(s, in);
          break;
        case 1:
          write(s, in);
          break;
        case 2:
          reduce(s);
          break;
        case 3:
          square(slots[in.byte() % 4], s);
          break;
        case 4:
          destroy(s, in);
          break;
        default:
          growthRule(in);
          break;
      }
    }
    if (s.a != nullptr) s.check();
  }
  for (Slot& s : slots) {
    if (s.a != nullptr) emxDestroyArray_real_T(s.a);
    s.release();
  }
  return 0;
}
