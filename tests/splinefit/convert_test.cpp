// Conversion of surfaces to new knot vectors: a surface converted into its own spline space
// comes back (uniform knots, knots of a reference), rational surfaces become non-rational
// approximations with no more knots than they have, and knots placed at equal arc length land
// where the length says, print their four lines each and stay within the reserved room.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "quadric/qnurbs.h"
#include "splinefit/sconvert.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Convert : public KernelTest {};

GridFitParams Plain() {
  GridFitParams g{};
  g.boundaryMode = -1;
  return g;
}

Bspline* RandomSurface(unsigned seed, int p, int q, int nU, int nV, KnotLayout layout) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-1, 1);
  std::vector<double> pts;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) pts.insert(pts.end(), {i + 0.2 * U(rng), j + 0.2 * U(rng), U(rng)});
  return BuildSurface(p, q, nU, nV, pts, ClampedKnots(p, nU, 0, 2, layout, seed),
                      ClampedKnots(q, nV, -1, 1, layout, seed + 1));
}

double MaxGap(const Bspline* a, const Bspline* b) {
  double worst = 0.0;
  for (int i = 0; i <= 12; ++i)
    for (int j = 0; j <= 12; ++j) {
      const double u = a->umin + (a->umax - a->umin) * i / 12, v = a->vmin + (a->vmax - a->vmin) * j / 12;
      double p[3], q[3];
      RefEvalSurface(a, u, v, p);
      RefEvalSurface(b, u, v, q);
      worst = std::max(worst, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
    }
  return worst;
}

TEST_F(Convert, OwnSpaceComesBack) {
  BsplineKeeper keep;
  Bspline* uni = keep(RandomSurface(4, 3, 2, 7, 5, KnotLayout::Uniform));
  const GridFitParams prm = Plain();
  Bspline* a = keep(ConvertBsplineWUniformKnots(uni, &prm, 7, 5, 0.0));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->rational, 0);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 7; ++i) {
      EXPECT_NEAR(a->X[j][i], uni->X[j][i], 1e-9);
      EXPECT_NEAR(a->Z[j][i], uni->Z[j][i], 1e-9);
    }
  Bspline* rnd = keep(RandomSurface(9, 2, 3, 6, 7, KnotLayout::Random));
  Bspline* b = keep(ConvertBsplineSurfaceBased(rnd, rnd, &prm, 0.0));
  ASSERT_NE(b, nullptr);
  for (int k = 0; k < NumKnotsU(rnd); ++k) EXPECT_NEAR(b->knotsU[k], rnd->knotsU[k], 1e-15);
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(b->Y[j][i], rnd->Y[j][i], 1e-9);
  // A reference on another range is rescaled onto the converted surface's range.
  Bspline* ref = keep(RandomSurface(11, 3, 3, 5, 6, KnotLayout::Random));
  Bspline* c = keep(ConvertBsplineSurfaceBased(rnd, ref, &prm, 0.0));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->knotsU[0], rnd->umin);
  EXPECT_NEAR(c->knotsU[NumKnotsU(c) - 1], rnd->umax, 1e-12);
  EXPECT_EQ(c->interiorV, ref->interiorV);
}

// A rational sphere (no interior knot but the arcs' double knots) converted at its own degrees:
// the knots asked for never exceed those there are, and the result is a close non-rational
// approximation.
TEST_F(Convert, RationalBecomesNonRationalWithNoExtraKnots) {
  BsplineKeeper keep;
  Bspline* s = keep(MallocInitSurfaceBspline());
  ASSERT_EQ(SphereNurbs(0, 0, 0, 1.0, s), 0);
  const GridFitParams prm = Plain();
  Bspline* c = keep(ConvertBspline(s, &prm, s->degreeU, s->degreeV, 1e-3));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->rational, 0);
  EXPECT_LE(c->interiorU, s->interiorU);
  EXPECT_LE(c->interiorV, s->interiorV);
  Bspline* d = keep(ConvertBspline(s, &prm, 3, 3, 1e-3));
  ASSERT_NE(d, nullptr);
  EXPECT_LT(MaxGap(s, d), 0.05);  // a cubic on the arcs' few knots, within 5% of the radius
  // Failed allocations anywhere: null, nothing tracked.
  const int failed = RunMakerWithInjectedFailures(4000, 41, [&](Bspline** out) {
    *out = ConvertBspline(s, &prm, 3, 3, 1e-3);
    return *out ? 0 : -1;
  });
  EXPECT_GT(failed, 0);
}

Bspline* StraightCubic() {
  return BuildCurve(3, 3, {0, 0, 0, 10.0 / 3, 0, 0, 20.0 / 3, 0, 0, 10, 0, 0});
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(Convert, ArcLengthKnotsOnAStraightLine) {
  BsplineKeeper keep;
  Bspline* line = keep(StraightCubic());
  int n = 0;
  testing::internal::CaptureStdout();
  double* K = GetUniformKnotsInRealSpace(line, 3.0, &n);
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_NE(K, nullptr);
  // Two interior knots near 0.3 and 0.6; none near 0.9 (the last fine step is not searched).
  ASSERT_EQ(n, 10);
  EXPECT_NEAR(K[4], 0.3, 2e-5);
  EXPECT_NEAR(K[5], 0.6, 2e-5);
  EXPECT_EQ(K[6], 1.0);
  EXPECT_EQ(Count(out, "\n"), 36);
  EXPECT_EQ(Count(out, "index = "), 9);
  EXPECT_EQ(Count(out, "Knot value = "), 9);
  EXPECT_EQ(Count(out, "Cumulative length = "), 9);
  EXPECT_EQ(Count(out, "Part length = "), 9);
  EXPECT_NE(out.find("Knot value = 1.000000\nCumulative length = 10.000000\n"), std::string::npos);
  EXPECT_LE(n, GetNKnotsInRealSpace(line, 3.0, 0));
  Free(K);

  testing::internal::CaptureStdout();
  K = GetUniformKnotsInRealSpace(line, 2.5, &n);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(n, 11);
  for (int k = 0; k < 3; ++k) {
    EXPECT_LT(K[4 + k], 0.25 * (k + 1));
    EXPECT_GT(K[4 + k], 0.25 * (k + 1) - 2e-5);
  }
  EXPECT_LE(n, GetNKnotsInRealSpace(line, 2.5, 0));
  Free(K);

  testing::internal::CaptureStdout();
  K = GetUniformKnotsInRealSpace(line, 20.0, &n);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(n, 8);
  Free(K);
  EXPECT_NEAR(GetAverageSpanInRealSpace(line, 0), 10.0, 1e-9);
}

// A plane converted with arc-length knots: its knots sit at equal lengths along its borders and
// the plane comes back.
TEST_F(Convert, ArcLengthConversionOfAPlane) {
  BsplineKeeper keep;
  PatchOptions o;
  o.x1 = 6.0;
  o.y1 = 4.0;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.5 * x - 0.25 * y; }, o));
  const GridFitParams prm = Plain();
  testing::internal::CaptureStdout();
  Bspline* c = keep(ConvertBsplineWUniformKnotsInRealSpace(s, &prm, 2.5, 1.5, 0.0));
  testing::internal::GetCapturedStdout();
  ASSERT_NE(c, nullptr);
  EXPECT_GT(c->interiorU, 0);
  EXPECT_GT(c->interiorV, 0);
  EXPECT_LT(MaxGap(s, c), 1e-9);
}

}  // namespace
