/*
 * Array API and non-finite support exported by envelo and burstra (not by
 * synkro, whose host builds emxBuffer_real_T structures itself).
 *
 * Each library carries its own copy of these functions and globals; a host
 * that loads both reaches each library's copy through that library's handle.
 * Compiles as C99 and as C++.
 */
#ifndef AUDIOMEAS_EMX_API_H
#define AUDIOMEAS_EMX_API_H

#include "audiomeas_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- creating and destroying arrays (the host's side) ---- */

/* New owning array of numDimensions extents copied from size[]; the element
 * block holds the product of the extents (wrapping 32-bit), zero-filled.
 * numDimensions 0 gives one element. Free with emxDestroyArray_real_T. */
emxBuffer_real_T* emxCreateND_real_T(int32_T numDimensions, const int32_T* size);

/* As emxCreateND_real_T, but data points at the caller's buffer, which is
 * neither copied nor ever freed by the library (ownsData false). */
emxBuffer_real_T* emxCreateWrapperND_real_T(real_T* data, int32_T numDimensions, const int32_T* size);

/* Two-dimensional owning array rows x cols, zero-filled. A signal is rows x 1. */
emxBuffer_real_T* emxCreate_real_T(int32_T rows, int32_T cols);

/* Two-dimensional wrapper over the caller's rows*cols elements. */
emxBuffer_real_T* emxCreateWrapper_real_T(real_T* data, int32_T rows, int32_T cols);

/* Frees the header, the size block and, when owned, the element block.
 * A wrapper's caller buffer is never freed. */
void emxDestroyArray_real_T(emxBuffer_real_T* emxArray);

/* Empty owning array of numDimensions zero extents, no element block. */
void emxInitArray_real_T(emxBuffer_real_T** pEmxArray, int32_T numDimensions);

/* ---- utilities the entry points use for their temporaries ---- */

/* Same as emxInitArray_real_T. */
void emxInit_real_T(emxBuffer_real_T** pEmxArray, int32_T numDimensions);

/* Frees *pEmxArray as emxDestroyArray_real_T does and sets it to NULL;
 * a NULL *pEmxArray is left alone. */
void emxFree_real_T(emxBuffer_real_T** pEmxArray);

/* After the caller has written new extents into size[], grows the element
 * block to hold their product: capacity 16, then doubling (clamped to
 * INT32_MAX above 2^30 - 1), zero-filled, keeping the first oldNumel
 * elements. Never shrinks; a wrapper that grows gets a block of its own. */
void emxEnsureCapacity_real_T(emxBuffer_real_T* emxArray, int32_T oldNumel);

/* ---- non-finite values ---- */

/* Set by rt_InitInfAndNaN (the library's initialise function); 0 before. */
extern real_T rtInf;
extern real_T rtMinusInf;
extern real_T rtNaN;
extern real32_T rtInfF;
extern real32_T rtMinusInfF;
extern real32_T rtNaNF;

/* Sets the six globals above; the argument is ignored (callers pass 8). */
void rt_InitInfAndNaN(size_t realSize);
/* True when value equals rtInf or rtMinusInf as they currently stand. */
boolean_T rtIsInf(real_T value);
boolean_T rtIsInfF(real32_T value);
/* True for a NaN of any sign or payload. */
boolean_T rtIsNaN(real_T value);
boolean_T rtIsNaNF(real32_T value);

real_T rtGetInf(void);         /* 0x7FF0000000000000 */
real32_T rtGetInfF(void);      /* 0x7F800000 */
real_T rtGetMinusInf(void);    /* 0xFFF0000000000000 */
real32_T rtGetMinusInfF(void); /* 0xFF800000 */
real_T rtGetNaN(void);         /* 0xFFF8000000000000: quiet, sign bit set */
real32_T rtGetNaNF(void);      /* 0xFFC00000 */

#ifdef __cplusplus
}
#endif

#endif /* AUDIOMEAS_EMX_API_H */
