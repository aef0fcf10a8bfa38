// The array API that envelo and burstra export for their hosts.
#include "emx.hpp"
#include "export.hpp"

namespace audiomeas {
namespace {

// A wrapper (wrap true) points at the caller's block, which may be NULL for no
// elements; otherwise the array gets an owned, zero-filled block.
emxBuffer_real_T* createND(bool wrap, real_T* callerData, int32_T numDimensions, const int32_T* size) {
  emxBuffer_real_T* a = nullptr;
  emxInit(&a, numDimensions);
  if (a == nullptr || a->size == nullptr) return a;
  for (int32_T i = 0; i < numDimensions; ++i) a->size[i] = size[i];
  const int32_T numel = emxNumel(a);
  a->capacity = numel;
  if (wrap) {
    a->data = callerData;
    a->ownsData = false;
  } else {
    // The count is taken as unsigned: a wrapped negative numel asks for a
    // block that cannot be had and leaves data NULL.
    a->data = static_cast<real_T*>(std::calloc(static_cast<uint32_t>(numel), sizeof(real_T)));
  }
  return a;
}

}  // namespace
}  // namespace audiomeas

using audiomeas::createND;

extern "C" {

AM_EXPORT emxBuffer_real_T* emxCreateND_real_T(int32_T numDimensions, const int32_T* size) {
  return createND(false, nullptr, numDimensions, size);
}

AM_EXPORT emxBuffer_real_T* emxCreateWrapperND_real_T(real_T* data, int32_T numDimensions,
                                                      const int32_T* size) {
  return createND(true, data, numDimensions, size);
}

AM_EXPORT emxBuffer_real_T* emxCreate_real_T(int32_T rows, int32_T cols) {
  const int32_T size[2] = {rows, cols};
  return createND(false, nullptr, 2, size);
}

AM_EXPORT emxBuffer_real_T* emxCreateWrapper_real_T(real_T* data, int32_T rows, int32_T cols) {
  const int32_T size[2] = {rows, cols};
  return emxCreateWrapperND_real_T(data, 2, size);
}

AM_EXPORT void emxDestroyArray_real_T(emxBuffer_real_T* emxArray) { audiomeas::emxFree(&emxArray); }

AM_EXPORT void emxInitArray_real_T(emxBuffer_real_T** pEmxArray, int32_T numDimensions) {
  audiomeas::emxInit(pEmxArray, numDimensions);
}

AM_EXPORT void emxInit_real_T(emxBuffer_real_T** pEmxArray, int32_T numDimensions) {
  audiomeas::emxInit(pEmxArray, numDimensions);
}

AM_EXPORT void emxFree_real_T(emxBuffer_real_T** pEmxArray) { audiomeas::emxFree(pEmxArray); }

AM_EXPORT void emxEnsureCapacity_real_T(emxBuffer_real_T* emxArray, int32_T oldNumel) {
  audiomeas::emxEnsureCapacity(emxArray, oldNumel);
}

}  // extern "C"
