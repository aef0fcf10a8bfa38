// Non-finite constants: exact bit patterns, the tests, and the lifecycle of a
// freshly loaded library (globals zero until its initialise function runs).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "burstra.h"

namespace {

uint64_t bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}
uint32_t bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// The NaNs carry the sign bit; a library that computes 0.0/0.0 gets the same
// on x86 but the stored pattern must not depend on that.
TEST(NonFinite, GettersReturnExactPatterns) {
  EXPECT_EQ(bits(rtGetInf()), UINT64_C(0x7FF0000000000000));
  EXPECT_EQ(bits(rtGetMinusInf()), UINT64_C(0xFFF0000000000000));
  EXPECT_EQ(bits(rtGetNaN()), UINT64_C(0xFFF8000000000000));
  EXPECT_EQ(bits(rtGetInfF()), UINT32_C(0x7F800000));
  EXPECT_EQ(bits(rtGetMinusInfF()), UINT32_C(0xFF800000));
  EXPECT_EQ(bits(rtGetNaNF()), UINT32_C(0xFFC00000));
}

TEST(NonFinite, TestsAfterInitialisation) {
  burstra_initialize();
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(rtIsInf(inf));
  EXPECT_TRUE(rtIsInf(-inf));
  EXPECT_FALSE(rtIsInf(0.0));
  EXPECT_FALSE(rtIsInf(DBL_MAX));
  EXPECT_FALSE(rtIsInf(nan));
  EXPECT_TRUE(rtIsNaN(nan));
  EXPECT_TRUE(rtIsNaN(-nan));
  EXPECT_FALSE(rtIsNaN(inf));
  EXPECT_FALSE(rtIsNaN(-inf));

  const float finf = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(rtIsInfF(finf));
  EXPECT_TRUE(rtIsInfF(-finf));
  EXPECT_FALSE(rtIsInfF(FLT_MAX));
  EXPECT_TRUE(rtIsNaNF(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_FALSE(rtIsNaNF(finf));
}

// Reading the globals straight from the host (a copy relocation in this
// executable) must see what the library's initialise function stored.
TEST(NonFinite, HostSeesInitialisedGlobals) {
  burstra_initialize();
  EXPECT_EQ(bits(rtNaN), UINT64_C(0xFFF8000000000000));
  EXPECT_EQ(bits(rtInf), UINT64_C(0x7FF0000000000000));
  EXPECT_EQ(bits(rtMinusInf), UINT64_C(0xFFF0000000000000));
  EXPECT_EQ(bits(rtNaNF), UINT32_C(0xFFC00000));
  EXPECT_EQ(bits(rtInfF), UINT32_C(0x7F800000));
  EXPECT_EQ(bits(rtMinusInfF), UINT32_C(0xFF800000));
  burstra_initialize();  // again: same values
  burstra_terminate();   // changes nothing
  EXPECT_EQ(bits(rtInf), UINT64_C(0x7FF0000000000000));
  EXPECT_TRUE(rtIsInf(-rtInf));
}

// A library this process has not loaded yet: its globals read 0 until its own
// initialise function runs, and then hold the patterns.
TEST(NonFinite, FreshLibraryIsZeroUntilInitialised) {
  const std::string path = std::string(AUDIOMEAS_LIB_DIR) + "/libenvelo.so";
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  auto* inf = static_cast<double*>(dlsym(h, "rtInf"));
  auto* nanF = static_cast<float*>(dlsym(h, "rtNaNF"));
  auto isInf = reinterpret_cast<boolean_T (*)(double)>(dlsym(h, "rtIsInf"));
  auto init = reinterpret_cast<void (*)()>(dlsym(h, "envelo_estimation_initialize"));
  ASSERT_TRUE(inf && nanF && isInf && init);
  EXPECT_EQ(*inf, 0.0);
  EXPECT_TRUE(isInf(0.0));  // compared against the globals as they stand
  init();
  EXPECT_EQ(bits(*inf), UINT64_C(0x7FF0000000000000));
  EXPECT_EQ(bits(*nanF), UINT32_C(0xFFC00000));
  EXPECT_FALSE(isInf(0.0));
  dlclose(h);
}

}  // namespace
