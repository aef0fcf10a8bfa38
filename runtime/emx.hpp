// Variable-size array containers: one generic definition serves
// emxBuffer_real_T, emxBuffer_creal_T and emxBuffer_int32_T.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "audiomeas_types.h"

namespace audiomeas {

template <class Array>
using EmxElement = std::remove_pointer_t<decltype(Array::data)>;

namespace detail {
// Products and doublings wrap like 32-bit two's complement, without the
// undefined behaviour of signed overflow.
inline int32_T wrapMul(int32_T a, int32_T b) {
  return static_cast<int32_T>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Capacity that holds newNumel (> capacity): from at least 16, doubling;
// INT32_MAX once the doubling would pass 2^31 - 1.
inline int32_T grownCapacity(int32_T capacity, int32_T newNumel) {
  int32_T c = capacity < 16 ? 16 : capacity;
  while (c < newNumel) c = c > 1073741823 ? INT32_MAX : c * 2;
  return c;
}

// Gives a the block of capacity elements in place of its own, which is
// freed when a owned it.
template <class Array>
void adoptBlock(Array* a, void* block, int32_T capacity) {
  if (a->data != nullptr && a->ownsData) std::free(a->data);
  a->data = static_cast<EmxElement<Array>*>(block);
  a->capacity = capacity;
  a->ownsData = true;
}
}  // namespace detail

// Product of the extents; 1 for no extents.
inline int32_T emxNumel(const int32_T* size, int32_T dimCount) {
  int32_T n = 1;
  for (int32_T i = 0; i < dimCount; ++i) n = detail::wrapMul(n, size[i]);
  return n;
}

template <class Array>
inline int32_T emxNumel(const Array* a) {
  return emxNumel(a->size, a->dimCount);
}

// Elements a reader that treats x as a vector may take: size[0], but never
// more than all the extents hold (an array of extents {4, 0} has none), and
// none when there is no first extent.
template <class Array>
inline int32_T emxVectorLength(const Array* x) {
  if (x->dimCount < 1 || x->size == nullptr) return 0;
  return std::clamp<int32_T>(x->size[0], 0, std::max<int32_T>(emxNumel(x), 0));
}

// Header with dimCount zero extents and no element block. The size block
// holds at least one extent so that size[0] of a 0-dimensional array is
// addressable; no caller reads it.
template <class Array>
void emxInit(Array** pEmxArray, int32_T numDimensions) {
  auto* a = static_cast<Array*>(std::malloc(sizeof(Array)));
  *pEmxArray = a;
  if (a == nullptr) return;
  a->data = nullptr;
  a->dimCount = numDimensions;
  a->size = static_cast<int32_T*>(
      std::calloc(static_cast<std::size_t>(std::max<int32_T>(numDimensions, 1)), sizeof(int32_T)));
  a->capacity = 0;
  a->ownsData = true;
}

template <class Array>
void emxFree(Array** pEmxArray) {
  Array* a = *pEmxArray;
  if (a == nullptr) return;
  if (a->data != nullptr && a->ownsData) std::free(a->data);
  std::free(a->size);
  std::free(a);
  *pEmxArray = nullptr;
}

// Grows the element block to the product of the current extents: 16, then
// doubling, INT32_MAX once above 2^30 - 1. Keeps the first oldNumel elements
// (never more than either block holds); the rest reads 0. On allocation
// failure the container is left as it was.
template <class Array>
void emxEnsureCapacity(Array* emxArray, int32_T oldNumel) {
  using T = EmxElement<Array>;
  const int32_T newNumel = emxNumel(emxArray);
  if (newNumel <= emxArray->capacity) return;
  const int32_T newCapacity = detail::grownCapacity(emxArray->capacity, newNumel);
  void* block = std::calloc(static_cast<uint32_t>(newCapacity), sizeof(T));
  if (block == nullptr) return;
  if (emxArray->data != nullptr) {
    int32_T keep = std::max<int32_T>(oldNumel, 0);
    keep = std::min(keep, newCapacity);
    if (emxArray->capacity >= 0) keep = std::min(keep, emxArray->capacity);
    std::memcpy(block, emxArray->data, sizeof(T) * static_cast<std::size_t>(keep));
  }
  detail::adoptBlock(emxArray, block, newCapacity);
}

// Makes a one-dimensional array hold n elements (n < 0 counts as 0), the
// usual resize of the entry points. Returns false when the block could not
// be grown, so that the caller never writes past it.
template <class Array>
bool emxResize1(Array* a, int32_T n) {
  n = std::max<int32_T>(n, 0);
  const int32_T old = a->size[0];
  a->size[0] = n;
  emxEnsureCapacity(a, old);
  if (a->capacity >= n) return true;
  a->size[0] = 0;
  return false;
}

}  // namespace audiomeas
