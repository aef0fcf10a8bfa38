// One verdict test as a library decided it, kept in the optional report a
// host passes, so that the host shows the test without deciding it again.
#pragma once

#include <limits>

#include "audiomeas_types.h"

namespace audiomeas {

struct VerdictTest {
  // Never decided (the call stopped before it): no value, no limit, and not
  // passed.
  real_T value = std::numeric_limits<real_T>::quiet_NaN();
  real_T limit = std::numeric_limits<real_T>::quiet_NaN();
  bool passed = false;
};

}  // namespace audiomeas
