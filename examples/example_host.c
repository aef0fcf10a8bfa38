/*
 * A measurement host in plain C: loads libburstra.so and libenvelo.so with
 * dlopen, initialises them, wraps its own sample buffer, grows it, calls the
 * exported reductions and terminates. It uses nothing but the C ABI.
 *
 * Usage: example_host [LIBDIR]   (default: the build's library folder)
 */
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "audiomeas_types.h"

#ifndef AUDIOMEAS_LIB_DIR
#define AUDIOMEAS_LIB_DIR "."
#endif

typedef void (*LifecycleFn)(void);
typedef emxBuffer_real_T* (*WrapFn)(real_T*, int32_T, int32_T);
typedef void (*DestroyFn)(emxBuffer_real_T*);
typedef void (*EnsureFn)(emxBuffer_real_T*, int32_T);
typedef real_T (*ReduceFn)(const emxBuffer_real_T*);
typedef void (*PowerFn)(const emxBuffer_real_T*, emxBuffer_real_T*);
typedef void (*InitArrayFn)(emxBuffer_real_T**, int32_T);

static void* openLibrary(const char* dir, const char* name) {
  char path[4096];
  void* handle;
  snprintf(path, sizeof path, "%s/%s", dir, name);
  /* RTLD_LOCAL: each library keeps its own rms, sum and globals. */
  handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == NULL) {
    fprintf(stderr, "example_host: cannot load %s: %s\n", path, dlerror());
    exit(2);
  }
  return handle;
}

static void* symbol(void* handle, const char* name) {
  void* p = dlsym(handle, name);
  if (p == NULL) {
    fprintf(stderr, "example_host: missing symbol %s\n", name);
    exit(2);
  }
  return p;
}

/* Object and function pointers differ in ISO C; POSIX guarantees this copy. */
#define LOAD(type, var, handle, name) \
  type var;                           \
  do {                                \
    void* p_ = symbol(handle, name);  \
    *(void**)(&var) = p_;             \
  } while (0)

int main(int argc, char** argv) {
  const char* dir = argc > 1 ? argv[1] : AUDIOMEAS_LIB_DIR;
  void* burstra = openLibrary(dir, "libburstra.so");
  void* envelo = openLibrary(dir, "libenvelo.so");
  real_T samples[4] = {3.0, -4.0, 12.0, 0.0};
  emxBuffer_real_T* signal;
  emxBuffer_real_T* squares = NULL;
  int32_T i;

  LOAD(LifecycleFn, burstraInitialize, burstra, "burstra_initialize");
  LOAD(LifecycleFn, burstraTerminate, burstra, "burstra_terminate");
  LOAD(WrapFn, wrap, burstra, "emxCreateWrapper_real_T");
  LOAD(DestroyFn, destroy, burstra, "emxDestroyArray_real_T");
  LOAD(EnsureFn, ensure, burstra, "emxEnsureCapacity_real_T");
  LOAD(InitArrayFn, initArray, burstra, "emxInitArray_real_T");
  LOAD(ReduceFn, burstraSum, burstra, "sum");
  LOAD(ReduceFn, burstraRms, burstra, "rms");
  LOAD(PowerFn, burstraPower, burstra, "power");
  LOAD(LifecycleFn, enveloInitialize, envelo, "envelo_estimation_initialize");
  LOAD(LifecycleFn, enveloTerminate, envelo, "envelo_estimation_terminate");
  LOAD(ReduceFn, enveloBSum, envelo, "b_sum");

  burstraInitialize();
  enveloInitialize();
  printf("rtInf in burstra: %g, rtNaN in envelo: %g\n", *(real_T*)symbol(burstra, "rtInf"),
         *(real_T*)symbol(envelo, "rtNaN"));

  /* A 4 x 1 column over the host's own buffer: the library never frees it. */
  signal = wrap(samples, 4, 1);
  printf("wrapped %d samples: sum %g (burstra), %g (envelo b_sum), rms %g\n", signal->size[0],
         burstraSum(signal), enveloBSum(signal), burstraRms(signal));

  /* Growing past the wrapper's capacity copies the samples into a block the
   * container owns; the host's buffer stays as it was. */
  signal->size[0] = 6;
  ensure(signal, 4);
  signal->data[4] = 5.0;
  signal->data[5] = 0.0;
  printf("grown to %d (capacity %d, owns its block: %d): sum %g, rms %g\n", signal->size[0], signal->capacity,
         (int)signal->ownsData, burstraSum(signal), burstraRms(signal));

  initArray(&squares, 1);
  burstraPower(signal, squares);
  printf("squares:");
  for (i = 0; i < squares->size[0]; ++i) printf(" %g", squares->data[i]);
  printf("\n");

  destroy(squares);
  destroy(signal);
  burstraTerminate();
  enveloTerminate();
  dlclose(envelo);
  dlclose(burstra);
  return 0;
}
