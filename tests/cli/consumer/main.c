/* Calls synkro and burstra as an installed host would; envelo_part.c does
 * envelo (its header and burstra's cannot share a translation unit).
 * Exits non-zero when a result is not the known one. */
#include <stdio.h>
#include <stdlib.h>

#include "burstra.h"
#include "synkro_2.h"

int enveloPart(void);

#define N 4096
#define DELAY 3

int main(void) {
  static real_T ref[N], rec[N], out[N];
  int32_T refSize[1] = {N}, recSize[1] = {N}, outSize[1] = {0};
  /* synkro exports no array API: the host builds the structures. */
  emxBuffer_real_T refArray = {ref, refSize, N, 1, false};
  emxBuffer_real_T recArray = {rec, recSize, N, 1, false};
  emxBuffer_real_T outArray = {out, outSize, N, 1, false};
  real_T fineLag = -1.0, failed = -1.0;
  unsigned state = 12345u;
  int i;
  for (i = 0; i < N; ++i) {
    state = state * 1103515245u + 12345u;
    ref[i] = (real_T)((state >> 16) & 0x7fff) / 16384.0 - 1.0;
  }
  /* The recording is the reference DELAY samples later. Fewer than the 161
   * blocks the coarse stage needs, so the fine lag is the whole delay. */
  for (i = 0; i < N; ++i) rec[i] = i >= DELAY ? ref[i - DELAY] : 0.0;
  synkro_2(&refArray, &recArray, 48000.0, &outArray, &fineLag, &failed);
  printf("synkro_2: fine lag %g, failed %g\n", fineLag, failed);
  if (fineLag != DELAY || failed != 0.0 || outSize[0] != N) return 1;

  {
    real_T silence[480] = {0};
    emxBuffer_real_T* x;
    real_T difference = 1.0, active = 0.0, warning = 0.0;
    burstra_initialize();
    x = emxCreateWrapper_real_T(silence, 480, 1);
    burstra(x, x, x, 48000.0, &difference, &active, &warning);
    emxDestroyArray_real_T(x);
    burstra_terminate();
    /* Silence: no active frame, the floor level, the warning raised. */
    printf("burstra: active %g dB, difference %g dB, warning %g\n", active, difference, warning);
    if (active != -120.0 || warning != 1.0) return 1;
  }
  return enveloPart();
}
