// Knot-array routines: the knots one vector lacks to contain another, normalisation and
// Greville abscissae.
#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "curve/crvclpt.h"
#include "curve/crvutil.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotArrayTest : public KernelTest {};

std::vector<double> Missing(const std::vector<double>& A, const std::vector<double>& B, int* ret) {
  double* C = nullptr;
  int nC = -7;
  *ret = PutInCKnotsOfBNotInA(A.data(), int(A.size()), B.data(), int(B.size()), &C, &nC);
  std::vector<double> out;
  if (*ret >= 0) {
    EXPECT_EQ(nC, *ret);
    if (C) out.assign(C, C + nC);
  }
  Free(C);
  return out;
}

TEST_F(KnotArrayTest, KnotsOfBNotInA) {
  int r;
  EXPECT_EQ(Missing({0, 0, 0, 0, 1, 1, 1, 1}, {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, &r), std::vector<double>{0.5});
  EXPECT_EQ(Missing({0, 0, 0, 0, 0.5, 1, 1, 1, 1}, {0, 0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1, 1}, &r),
            (std::vector<double>{0.5, 0.5}));
  EXPECT_TRUE(Missing({0, 0, 0, 0, 0.5, 1, 1, 1, 1}, {0, 0, 0, 0, 0.5 + 1e-7, 1, 1, 1, 1}, &r).empty());
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(Missing({0, 0, 1, 1}, {1, 1}, &r).empty());
  EXPECT_EQ(r, 0);

  const std::vector<double> A{0, 0, 0, 1, 1, 1}, B{0, 0, 0, 0.5, 1, 1, 1};
  double* C = nullptr;
  int nC = 0;
  MallocFailAfter(0, -1);
  EXPECT_EQ(PutInCKnotsOfBNotInA(A.data(), 6, B.data(), 7, &C, &nC), -1);
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow());
  Free(C);
  ClearKernelError();
}

// Random pairs of clamped vectors over one range: C holds every value exactly as many times as
// B has it beyond A, so A and C together contain B.
TEST_F(KnotArrayTest, MissingKnotsAreTheMultiplicityExcess) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 200; ++trial) {
    const int p = 1 + trial % 3;
    std::map<double, int> mA, mB;
    for (int i = 1; i < 8; ++i) {
      const double v = 2.0 + 3.0 * i / 8.0;
      mA[v] = int(rng() % (p + 1));
      mB[v] = int(rng() % (p + 1));
    }
    auto build = [p](const std::map<double, int>& m) {
      std::vector<double> k(p + 1, 2.0);
      for (auto [v, c] : m) k.insert(k.end(), c, v);
      k.insert(k.end(), p + 1, 5.0);
      return k;
    };
    int r;
    const std::vector<double> C = Missing(build(mA), build(mB), &r);
    std::vector<double> expected;
    for (auto [v, c] : mB) expected.insert(expected.end(), std::max(0, c - mA[v]), v);
    EXPECT_EQ(C, expected) << "trial " << trial;
  }
}

TEST_F(KnotArrayTest, NormalisationAndEditPoints) {
  std::vector<double> k{2, 2, 3, 6, 6};
  EXPECT_DOUBLE_EQ(NormalizeKnotArray(k.data(), 5), 0.25);
  EXPECT_EQ(k, (std::vector<double>{0, 0, 0.25, 1, 1}));

  const double cubic[] = {0, 0, 0, 0, 1, 2, 2, 2, 2};
  const double want[] = {0, 1.0 / 3, 1, 5.0 / 3, 2};
  for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(GetEditPoint(cubic, 4, i), want[i]);
}

}  // namespace
