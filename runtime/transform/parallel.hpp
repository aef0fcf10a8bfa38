// Threads a host lends to the transforms. A thread that was lent workers
// splits a long transform's independent blocks among them; every butterfly
// keeps its operands and its order, so the bits are those of one thread.
// Nothing in the libraries lends workers: their own calls stay on the
// caller's thread.
#pragma once

#include "audiomeas_types.h"

namespace audiomeas::detail {

class Workers {
 public:
  using Body = void (*)(void* context, int32_T k);
  // Runs body(context, k) once for every k in [0, count), in any order, on
  // the calling thread and the workers; returns when all have run. body
  // does not throw.
  virtual void forEach(int32_T count, Body body, void* context) = 0;

 protected:
  ~Workers() = default;
};

// Lends workers to the calling thread (nullptr: none) and returns those it
// had. The host keeps them alive while they are lent.
Workers* lendWorkers(Workers* workers);

// body(context, k) for k in [0, count): on the calling thread's workers,
// else in order on the thread. A body that asks again runs its parts on its
// own thread, the workers being busy.
void parallelFor(int32_T count, Workers::Body body, void* context);

template <class F>
void parallelFor(int32_T count, const F& f) {
  parallelFor(
      count, [](void* c, int32_T k) { (*static_cast<const F*>(c))(k); },
      const_cast<void*>(static_cast<const void*>(&f)));
}

}  // namespace audiomeas::detail
