// The distinct interior knots of an object direction with their multiplicities.
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ObjSetTest : public KernelTest {};

Bspline* CurveWithKnots(int degree, const std::vector<double>& knots) {
  const int n = static_cast<int>(knots.size()) - degree - 1;
  return BuildCurve(degree, 3, std::vector<double>(3 * n, 0.0), knots);
}

// Random knot vectors (none, simple and multiple interior knots): the distinct values with
// their multiplicities give back the interior knots exactly.
TEST_F(ObjSetTest, DistinctKnotsRebuildTheInteriorKnots) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    const int p = 1 + trial % 4, d = trial % 6;
    std::vector<double> knots(p + 1, 0.0), interior;
    for (int i = 1; i <= d; ++i) interior.insert(interior.end(), 1 + rng() % p, double(i) / (d + 1));
    knots.insert(knots.end(), interior.begin(), interior.end());
    knots.insert(knots.end(), p + 1, 1.0);
    Bspline* c = CurveWithKnots(p, knots);
    int* m = nullptr;
    double* k = nullptr;
    ASSERT_EQ(GetDistinctKnots(c, 1, &m, &k, 1e-6), d);  // a curve ignores the direction flag
    EXPECT_EQ(m == nullptr, d == 0);
    std::vector<double> rebuilt;
    for (int i = 0; i < d; ++i) rebuilt.insert(rebuilt.end(), m[i], k[i]);
    EXPECT_EQ(rebuilt, interior);
    Free(m);
    Free(k);
    FreeBspline(c);
  }
}

TEST_F(ObjSetTest, KnotAtTheDomainEndDoesNotCountTheEndRun) {
  Bspline* c = CurveWithKnots(3, {0, 0, 0, 0, 1, 1, 2, 3 - 1e-9, 3, 3, 3, 3});
  int* m = nullptr;
  double* k = nullptr;
  ASSERT_EQ(GetDistinctKnots(c, 0, &m, &k, 1e-6), 3);
  EXPECT_EQ(std::vector<int>(m, m + 3), (std::vector<int>{2, 1, 1}));
  Free(m);
  Free(k);
  MallocFailAfter(0, -1);
  EXPECT_EQ(GetDistinctKnots(c, 0, &m, &k, 1e-6), -2);
  MallocFailClear();
  EXPECT_TRUE(m == nullptr && k == nullptr);
  ClearKernelError();
  FreeBspline(c);
}

}  // namespace
