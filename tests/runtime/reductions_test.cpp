// The reductions through burstra's exports: strictly sequential sums, the
// empty-vector results and the first-extent-only rule.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "burstra.h"
#include "test_arrays.hpp"

namespace {

using audiomeas::test::Column;

TEST(Reductions, SumIsLeftToRight) {
  Column x({1e16, 1.0, -1e16});
  EXPECT_EQ(sum(x.get()), 0.0);  // pairwise or reordered sums give 1.0
  EXPECT_EQ(combineVectorElements(x.get()), 0.0);
  Column y({0.1, 0.2, 0.3});
  EXPECT_EQ(sum(y.get()), (0.1 + 0.2) + 0.3);
}

TEST(Reductions, EmptyAndSingleElement) {
  Column empty;
  EXPECT_EQ(sum(empty.get()), 0.0);
  EXPECT_EQ(combineVectorElements(empty.get()), 0.0);
  EXPECT_TRUE(std::isnan(rms(empty.get())));

  Column negZero({-0.0});
  EXPECT_TRUE(std::signbit(sum(negZero.get())));  // returned unchanged, not 0.0 + -0.0
  Column nan({NAN});
  EXPECT_TRUE(std::isnan(sum(nan.get())));
}

TEST(Reductions, RmsOfThreeFour) {
  Column x({3.0, 4.0});
  EXPECT_EQ(rms(x.get()), std::sqrt(12.5));
}

TEST(Reductions, NonFinitePropagates) {
  Column inf({1.0, INFINITY, 2.0});
  EXPECT_EQ(sum(inf.get()), INFINITY);
  EXPECT_EQ(rms(inf.get()), INFINITY);
  Column both({INFINITY, -INFINITY});
  EXPECT_TRUE(std::isnan(sum(both.get())));
  Column nan({1.0, NAN});
  EXPECT_TRUE(std::isnan(rms(nan.get())));
}

TEST(Reductions, PowerSquaresIntoTheOutput) {
  Column a({-2.0, 0.5});
  Column y({audiomeas::test::kSentinel, audiomeas::test::kSentinel, audiomeas::test::kSentinel});
  power(a.get(), y.get());
  ASSERT_EQ(y.length(), 2);
  EXPECT_EQ(y.values(), (std::vector<real_T>{4.0, 0.25}));

  // An empty input empties the output and writes nothing.
  Column empty;
  power(empty.get(), y.get());
  EXPECT_EQ(y.length(), 0);
  EXPECT_EQ(y.get()->data[0], 4.0);
}

TEST(Reductions, PowerGrowsAShortOutput) {
  std::vector<real_T> v(40);
  for (int i = 0; i < 40; ++i) v[i] = i;
  Column a(v);
  emxBuffer_real_T* y = nullptr;
  emxInitArray_real_T(&y, 1);
  power(a.get(), y);
  ASSERT_EQ(y->size[0], 40);
  EXPECT_GE(y->capacity, 40);
  EXPECT_EQ(y->data[39], 39.0 * 39.0);
  emxDestroyArray_real_T(y);
}

// Only size[0] counts: a 3 x 2 array is the vector of its first 3 elements.
TEST(Reductions, ReadOnlyTheFirstExtent) {
  std::vector<real_T> v = {1.0, 2.0, 2.0, 100.0, 100.0, 100.0};
  emxBuffer_real_T* x = emxCreateWrapper_real_T(v.data(), 3, 2);
  EXPECT_EQ(sum(x), 5.0);
  EXPECT_EQ(rms(x), std::sqrt(9.0 / 3.0));
  emxDestroyArray_real_T(x);
}

// size[0] is never read past what the extents hold: a 4 x 0 array has no
// element (ASan reports the read that a plain size[0] loop would make).
TEST(Reductions, FirstExtentBeyondTheElementsReadsNothing) {
  emxBuffer_real_T* x = emxCreate_real_T(4, 0);
  EXPECT_EQ(sum(x), 0.0);
  EXPECT_TRUE(std::isnan(rms(x)));
  emxBuffer_real_T* y = nullptr;
  emxInitArray_real_T(&y, 1);
  power(x, y);
  EXPECT_EQ(y->size[0], 0);
  emxDestroyArray_real_T(y);
  emxDestroyArray_real_T(x);
}

}  // namespace
