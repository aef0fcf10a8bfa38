/*
 * Types shared by the audiomeas libraries (synkro, envelo, burstra).
 *
 * Every signal crosses the library boundary as an emxBuffer_real_T: a
 * column-major, variable-size array whose length is size[0]. The structure
 * layout is part of the binary interface (x86-64: two 8-byte pointers, two
 * 4-byte integers, one byte flag, 32 bytes in all); it is checked below.
 *
 * Compiles as C99 and as C++.
 */
#ifndef AUDIOMEAS_TYPES_H
#define AUDIOMEAS_TYPES_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

typedef double real_T;
typedef float real32_T;
typedef int32_t int32_T;
typedef uint32_t uint32_T;
typedef bool boolean_T; /* one byte, 0 or 1 */

typedef struct creal_T {
  real_T re;
  real_T im;
} creal_T;

/*
 * data      first element of the element block, or NULL while none is allocated
 * size      dimCount extents; always owned by the container
 * capacity  number of elements the element block can hold
 * dimCount  number of extents, fixed at creation
 * ownsData  true when the container may free or replace the element block;
 *           false for a wrapper over the caller's own buffer
 */
typedef struct emxBuffer_real_T {
  real_T* data;
  int32_T* size;
  int32_T capacity;
  int32_T dimCount;
  boolean_T ownsData;
} emxBuffer_real_T;

typedef struct emxBuffer_creal_T {
  creal_T* data;
  int32_T* size;
  int32_T capacity;
  int32_T dimCount;
  boolean_T ownsData;
} emxBuffer_creal_T;

typedef struct emxBuffer_int32_T {
  int32_T* data;
  int32_T* size;
  int32_T capacity;
  int32_T dimCount;
  boolean_T ownsData;
} emxBuffer_int32_T;

#if defined(__x86_64__) || defined(__aarch64__)
#ifdef __cplusplus
static_assert(offsetof(emxBuffer_real_T, data) == 0, "emxBuffer_real_T.data");
static_assert(offsetof(emxBuffer_real_T, size) == 8, "emxBuffer_real_T.size");
static_assert(offsetof(emxBuffer_real_T, capacity) == 16, "emxBuffer_real_T.capacity");
static_assert(offsetof(emxBuffer_real_T, dimCount) == 20, "emxBuffer_real_T.dimCount");
static_assert(offsetof(emxBuffer_real_T, ownsData) == 24, "emxBuffer_real_T.ownsData");
static_assert(sizeof(emxBuffer_real_T) == 32, "emxBuffer_real_T size");
static_assert(sizeof(boolean_T) == 1, "boolean_T is one byte");
static_assert(sizeof(creal_T) == 16, "creal_T is re then im");
#else
/* C99 has no static assertion: a negative array size stops the build. */
typedef char audiomeas_check_data[offsetof(emxBuffer_real_T, data) == 0 ? 1 : -1];
typedef char audiomeas_check_size[offsetof(emxBuffer_real_T, size) == 8 ? 1 : -1];
typedef char audiomeas_check_capacity[offsetof(emxBuffer_real_T, capacity) == 16 ? 1 : -1];
typedef char audiomeas_check_dimCount[offsetof(emxBuffer_real_T, dimCount) == 20 ? 1 : -1];
typedef char audiomeas_check_ownsData[offsetof(emxBuffer_real_T, ownsData) == 24 ? 1 : -1];
typedef char audiomeas_check_struct[sizeof(emxBuffer_real_T) == 32 ? 1 : -1];
typedef char audiomeas_check_bool[sizeof(boolean_T) == 1 ? 1 : -1];
typedef char audiomeas_check_creal[sizeof(creal_T) == 16 ? 1 : -1];
#endif
#endif

#endif /* AUDIOMEAS_TYPES_H */
