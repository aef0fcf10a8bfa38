#include <stdio.h>

#include "envelo_estimation.h"

int enveloPart(void) {
  real_T x = 100.0;
  envelo_estimation_initialize();
  b_log10(&x);
  envelo_estimation_terminate();
  printf("envelo: b_log10(100) = %g\n", x);
  return x == 2.0 ? 0 : 1;
}
