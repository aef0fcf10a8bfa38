// The array containers through the C API a host uses (libburstra's copy), and
// the same growth rule for the complex and integer twins that only the
// libraries' internals use.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "burstra.h"
#include "emx.hpp"

namespace {

struct GrowCase {
  int32_T capacity;   // before
  int32_T newLength;  // written into size[0]
  int32_T expected;   // capacity after
};

// The sequence 16, 32, 64, ... and "never shrink" are what callers size
// their loops by; a wrong step here writes past the block.
TEST(EmxGrowth, CapacityFollowsSixteenThenDoubling) {
  const GrowCase cases[] = {
      {0, 0, 0},    {0, 1, 16},   {0, 16, 16},  {0, 17, 32},  {0, 100, 128},
      {20, 21, 40}, {20, 20, 20}, {16, 17, 32}, {32, 10, 32}, {5, 6, 16},
  };
  for (const GrowCase& c : cases) {
    emxBuffer_real_T* a = nullptr;
    emxInit_real_T(&a, 1);
    if (c.capacity > 0) {
      a->size[0] = c.capacity;
      emxEnsureCapacity_real_T(a, 0);
      a->capacity = c.capacity;  // as if an earlier block had exactly this size
    }
    a->size[0] = c.newLength;
    emxEnsureCapacity_real_T(a, 0);
    EXPECT_EQ(a->capacity, c.expected) << "from " << c.capacity << " to " << c.newLength;
    emxFree_real_T(&a);
    EXPECT_EQ(a, nullptr);
  }
}

// Above 2^30 - 1 a doubling would overflow int32: the rule clamps instead.
TEST(EmxGrowth, ClampsAtInt32MaxWithoutOverflow) {
  using audiomeas::detail::grownCapacity;
  EXPECT_EQ(grownCapacity(1073741823, 1073741824), 2147483646);
  EXPECT_EQ(grownCapacity(1073741824, 1073741825), INT32_MAX);
  EXPECT_EQ(grownCapacity(1500000000, 2000000000), INT32_MAX);
  EXPECT_EQ(grownCapacity(-7, 3), 16);
}

TEST(EmxGrowth, KeepsThePreviousCountAndZeroFillsTheRest) {
  emxBuffer_real_T* a = nullptr;
  emxInit_real_T(&a, 1);
  a->size[0] = 16;
  emxEnsureCapacity_real_T(a, 0);
  for (int i = 0; i < 16; ++i) a->data[i] = i + 1.0;
  a->size[0] = 17;
  emxEnsureCapacity_real_T(a, 16);
  ASSERT_EQ(a->capacity, 32);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a->data[i], i + 1.0);
  for (int i = 16; i < 32; ++i) EXPECT_EQ(a->data[i], 0.0);

  // The copy follows the count the caller gives, not the old capacity.
  for (int i = 0; i < 32; ++i) a->data[i] = 7.0;
  a->size[0] = 33;
  emxEnsureCapacity_real_T(a, 3);
  ASSERT_EQ(a->capacity, 64);
  EXPECT_EQ(a->data[2], 7.0);
  EXPECT_EQ(a->data[3], 0.0);

  // A negative previous count copies nothing.
  a->size[0] = 65;
  emxEnsureCapacity_real_T(a, -5);
  EXPECT_EQ(a->data[0], 0.0);
  emxFree_real_T(&a);
}

TEST(EmxGrowth, ZeroDimensionsCountAsOneElement) {
  emxBuffer_real_T* a = nullptr;
  emxInit_real_T(&a, 0);
  EXPECT_EQ(a->dimCount, 0);
  EXPECT_EQ(a->capacity, 0);
  EXPECT_TRUE(a->ownsData);
  emxEnsureCapacity_real_T(a, 0);
  EXPECT_EQ(a->capacity, 16);
  emxFree_real_T(&a);
}

// Extents whose product wraps to zero or below never allocate.
TEST(EmxGrowth, WrappedProductAllocatesNothing) {
  const int32_T wrapsToZero[2] = {65536, 65536};
  const int32_T wrapsNegative[2] = {65536, 32768};
  for (const int32_T* ext : {wrapsToZero, wrapsNegative}) {
    emxBuffer_real_T* a = nullptr;
    emxInit_real_T(&a, 2);
    a->size[0] = ext[0];
    a->size[1] = ext[1];
    emxEnsureCapacity_real_T(a, 0);
    EXPECT_EQ(a->data, nullptr);
    EXPECT_EQ(a->capacity, 0);
    emxFree_real_T(&a);
  }
}

TEST(EmxGrowth, SameRuleForComplexAndIntegerTwins) {
  emxBuffer_creal_T* c = nullptr;
  audiomeas::emxInit(&c, 1);
  c->size[0] = 17;
  audiomeas::emxEnsureCapacity(c, 0);
  EXPECT_EQ(c->capacity, 32);
  c->data[31] = creal_T{1.0, -1.0};  // ASan catches a block sized for doubles
  audiomeas::emxFree(&c);
  EXPECT_EQ(c, nullptr);

  emxBuffer_int32_T* i = nullptr;
  audiomeas::emxInit(&i, 1);
  i->size[0] = 21;
  audiomeas::emxEnsureCapacity(i, 0);
  EXPECT_EQ(i->capacity, 32);
  audiomeas::emxFree(&i);
}

TEST(EmxWrapper, UsesTheCallersBlockUntilItMustGrow) {
  std::vector<real_T> mine = {1.0, 2.0, 3.0, 4.0};
  emxBuffer_real_T* w = emxCreateWrapper_real_T(mine.data(), 4, 1);
  ASSERT_EQ(w->dimCount, 2);
  EXPECT_EQ(w->size[0], 4);
  EXPECT_EQ(w->size[1], 1);
  EXPECT_EQ(w->capacity, 4);
  EXPECT_FALSE(w->ownsData);

  // Shrinking, or staying within capacity, keeps writing into the caller's block.
  w->size[0] = 2;
  emxEnsureCapacity_real_T(w, 4);
  EXPECT_EQ(w->data, mine.data());
  w->data[1] = 20.0;
  EXPECT_EQ(mine[1], 20.0);

  // Growing copies the caller's values into an owned block and leaves the
  // caller's block untouched (and unfreed: the vector frees it below).
  w->size[0] = 5;
  emxEnsureCapacity_real_T(w, 4);
  EXPECT_NE(w->data, mine.data());
  EXPECT_TRUE(w->ownsData);
  EXPECT_EQ(w->capacity, 16);
  EXPECT_EQ(w->data[1], 20.0);
  EXPECT_EQ(w->data[3], 4.0);
  EXPECT_EQ(w->data[4], 0.0);
  w->data[0] = -1.0;
  EXPECT_EQ(mine[0], 1.0);
  emxDestroyArray_real_T(w);  // frees only the new block
}

TEST(EmxWrapper, DestroyLeavesTheCallersElements) {
  std::vector<real_T> mine(3, 5.0);
  const int32_T ext[1] = {3};
  emxBuffer_real_T* w = emxCreateWrapperND_real_T(mine.data(), 1, ext);
  EXPECT_EQ(w->dimCount, 1);
  EXPECT_EQ(w->capacity, 3);
  emxDestroyArray_real_T(w);
  EXPECT_EQ(mine[2], 5.0);  // still ours: ASan reports a use after free here
}

// A wrapper over no elements (an empty vector's NULL data) allocates nothing
// it could leak: LeakSanitizer checks this in the sanitizer build.
TEST(EmxWrapper, NullDataAllocatesNothing) {
  emxBuffer_real_T* w = emxCreateWrapper_real_T(nullptr, 0, 1);
  EXPECT_EQ(w->data, nullptr);
  EXPECT_FALSE(w->ownsData);
  EXPECT_EQ(w->capacity, 0);
  emxDestroyArray_real_T(w);
}

TEST(EmxCreate, ShapesCapacitiesAndZeroFill) {
  emxBuffer_real_T* a = emxCreate_real_T(3, 2);
  ASSERT_EQ(a->dimCount, 2);
  EXPECT_EQ(a->capacity, 6);
  EXPECT_TRUE(a->ownsData);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(a->data[i], 0.0);
  emxDestroyArray_real_T(a);

  a = emxCreate_real_T(0, 5);
  EXPECT_EQ(a->size[0], 0);
  EXPECT_EQ(a->size[1], 5);
  EXPECT_EQ(a->capacity, 0);
  emxDestroyArray_real_T(a);

  a = emxCreateND_real_T(0, nullptr);
  EXPECT_EQ(a->dimCount, 0);
  EXPECT_EQ(a->capacity, 1);
  ASSERT_NE(a->data, nullptr);
  EXPECT_EQ(a->data[0], 0.0);
  emxDestroyArray_real_T(a);

  real_T one = 9.0;
  a = emxCreateWrapperND_real_T(&one, 0, nullptr);
  EXPECT_EQ(a->capacity, 1);
  EXPECT_FALSE(a->ownsData);
  emxDestroyArray_real_T(a);

  const int32_T ext[3] = {2, 3, 4};
  a = emxCreateND_real_T(3, ext);
  EXPECT_EQ(a->capacity, 24);
  EXPECT_EQ(a->size[2], 4);
  emxDestroyArray_real_T(a);
}

TEST(EmxFree, NullPointerIsLeftAlone) {
  emxBuffer_real_T* a = nullptr;
  emxFree_real_T(&a);
  EXPECT_EQ(a, nullptr);
  emxInitArray_real_T(&a, 1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->size[0], 0);
  EXPECT_EQ(a->data, nullptr);
  emxFree_real_T(&a);
  EXPECT_EQ(a, nullptr);
}

}  // namespace
