// Wrapped (unclamped) directions made clamped: the same shape on the domain, the same number of
// control points, clamped knots, and the object untouched when memory fails.
#include <random>
#include <vector>

#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "splinefit/wrapfit.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class WrapTest : public KernelTest {};

std::vector<double> RandomPoints(unsigned seed, int n) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = d(rng);
  return v;
}

std::vector<double> Range(double a, int n) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = a + i;
  return v;
}

// Samples of the object over its domain (a surface on a 7 x 7 grid).
std::vector<double> Shape(const Bspline* b) {
  std::vector<double> out;
  const int nv = b->kind == 2 ? 6 : 0;
  for (int i = 0; i <= 24; ++i)
    for (int j = 0; j <= nv; ++j) {
      const double u = b->umin + (b->umax - b->umin) * i / 24.0;
      double p[3];
      if (b->kind == 2) RefEvalSurface(b, u, b->vmin + (b->vmax - b->vmin) * j / nv, p);
      else RefEvalCurve(b, u, p);
      out.insert(out.end(), p, p + 3);
    }
  return out;
}

void ExpectNear(const std::vector<double>& a, const std::vector<double>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-12) << i;
}

TEST_F(WrapTest, UniformPeriodicCubicBecomesClamped) {
  for (bool rational : {false, true}) {
    std::vector<double> w;
    if (rational) w = {1.0, 0.5, 2.0, 1.5, 0.8, 1.2, 1.0};
    Bspline* c = BuildCurve(3, 3, RandomPoints(1, 21), Range(0.0, 11), w);
    const std::vector<double> before = Shape(c);
    ASSERT_EQ(PutWrapedObjToNonWraped(c, 0, 0), 8);
    EXPECT_EQ(NumCtrlU(c), 7);
    const std::vector<double> knots(c->knotsU, c->knotsU + NumKnotsU(c));
    EXPECT_EQ(knots, (std::vector<double>{3, 3, 3, 3, 4, 5, 6, 7, 7, 7, 7}));
    EXPECT_EQ(c->umin, 3.0);
    EXPECT_EQ(c->umax, 7.0);
    EXPECT_EQ(CheckBspline(c, 1e-9), 0);
    ExpectNear(Shape(c), before);
    // Already clamped: nothing to do.
    EXPECT_EQ(PutWrapedObjToNonWraped(c, 0, 0), 0);
    EXPECT_EQ(PutWrapedObjToNonWraped(c, 1, 0), 0);
    FreeBspline(c);
  }
}

TEST_F(WrapTest, OneWrappedEndAndAveragedEnds) {
  // Start clamped, end wrapped.
  Bspline* c = BuildCurve(3, 3, RandomPoints(2, 21), {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7});
  const std::vector<double> before = Shape(c);
  ASSERT_EQ(PutWrapedObjToNonWraped(c, 0, 0), 8);
  EXPECT_EQ(CheckBspline(c, 1e-9), 0);
  EXPECT_EQ(c->umax, 4.0);
  ExpectNear(Shape(c), before);
  FreeBspline(c);
  // Averaged ends coincide.
  Bspline* a = BuildCurve(2, 3, RandomPoints(3, 15), Range(0.0, 8));
  ASSERT_EQ(PutWrapedObjToNonWraped(a, 0, 1), 8);
  EXPECT_EQ(a->X[0][0], a->X[0][4]);
  EXPECT_EQ(a->Z[0][0], a->Z[0][4]);
  FreeBspline(a);
}

TEST_F(WrapTest, SurfaceDirectionBecomesClamped) {
  for (int dir = 0; dir < 2; ++dir) {
    const int nu = 6, nv = 7;
    std::vector<double> w(nu * nv, 1.0);
    w[10] = 2.0, w[23] = 0.5;
    Bspline* s = BuildSurface(2, 3, nu, nv, RandomPoints(4 + dir, 3 * nu * nv),
                              dir == 0 ? Range(0.0, nu + 3) : std::vector<double>{},
                              dir == 1 ? Range(-2.0, nv + 4) : std::vector<double>{}, w);
    const std::vector<double> before = Shape(s);
    const std::vector<double> other = dir ? std::vector<double>(s->knotsU, s->knotsU + NumKnotsU(s))
                                          : std::vector<double>(s->knotsV, s->knotsV + NumKnotsV(s));
    ASSERT_EQ(PutWrapedObjToNonWraped(s, dir, 0), 8);
    EXPECT_EQ(CheckBspline(s, 1e-9), 0);
    EXPECT_EQ(NumCtrlU(s), nu);
    EXPECT_EQ(NumCtrlV(s), nv);
    ExpectNear(Shape(s), before);
    EXPECT_EQ(other, dir ? std::vector<double>(s->knotsU, s->knotsU + NumKnotsU(s))
                         : std::vector<double>(s->knotsV, s->knotsV + NumKnotsV(s)));
    FreeBspline(s);
  }
}

TEST_F(WrapTest, AllocationFailuresLeaveTheObject) {
  Bspline* c = BuildCurve(3, 3, RandomPoints(5, 27), Range(0.0, 13));
  const std::vector<double> before = Snapshot(c);
  int failures = 0;
  for (long n = 0;; ++n) {
    ClearKernelError();
    const int tracked = MallocTrackedCount();
    MallocFailAfter(n, -1);
    const int r = PutWrapedObjToNonWraped(c, 0, 1);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), tracked);
    if (r == 8) break;
    ++failures;
    EXPECT_EQ(r, -2);
    EXPECT_EQ(Snapshot(c), before);
  }
  EXPECT_GT(failures, 3);
  FreeBspline(c);
}

}  // namespace
