// Boundary parameters and matched sampling: samples per knot span along iso lines (every span of
// the vector against distinct knots only), samples between given values, closest points of
// point lists on curves and on a surface's iso curves.
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "stitch/srfcont.h"
#include "stitch/vcnobj.h"
#include "surface/bnd2crv.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class MatchedSamplingTest : public KernelTest {};

// Knots 0 0 0 0 .3 .3 .6 1 1 1 1 in u (a double knot), uniform v.
Bspline* DoubleKnotSurface() {
  PatchOptions o;
  o.nu = 7;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; }, o);
  const double k[11] = {0, 0, 0, 0, 0.3, 0.3, 0.6, 1, 1, 1, 1};
  for (int i = 0; i < 11; ++i) s->knotsU[i] = k[i];
  return s;
}

TEST_F(MatchedSamplingTest, EverySpanAgainstDistinctKnots) {
  Bspline* s = DoubleKnotSurface();
  EXPECT_EQ(GetParValOfBndry(s, 0), 0.0);
  EXPECT_EQ(GetParValOfBndry(s, 2), 1.0);
  // Every span of the vector, the empty one too: 4 spans x 2 steps + 1.
  std::vector<double> u(9), v(9);
  GetParValsOnIsoPar(s, 0, u.data(), v.data(), 0.25, 3);
  const double want9[9] = {0, 0.15, 0.3, 0.3, 0.3, 0.45, 0.6, 0.8, 1.0};
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(u[i], want9[i], 1e-15) << i;
  EXPECT_EQ(v, std::vector<double>(9, 0.25));
  // Distinct knots only, n steps: 3 spans x 3 steps + 1; the fixed array may be null.
  std::vector<double> w(10);
  ASSERT_EQ(GetParValsOnIsoPar2(s, 0, w.data(), nullptr, 0.25, 3, 1e-6), 10);
  const double want[10] = {0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.6 + 0.4 / 3, 0.6 + 0.8 / 3, 1.0};
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(w[i], want[i], 1e-15) << i;
  // n below 3: one step per span at the knots (first form), two steps (second form).
  std::vector<double> a(5), b(5), c(7), d(7);
  GetParValsOnIsoPar(s, 0, a.data(), b.data(), 0.0, 1);
  EXPECT_EQ(a, (std::vector<double>{0, 0.3, 0.3, 0.6, 1.0}));
  ASSERT_EQ(GetParValsOnIsoPar2(s, 1, c.data(), d.data(), 0.5, 1, 1e-6), 2 * 2 + 1);
  Bspline* curve = BuildRandomCurve(1, 3, 5);
  EXPECT_EQ(GetParValsOnIsoPar2(curve, 0, c.data(), d.data(), 0.5, 3, 1e-6), -2);
  double out[7];
  const double vals[3] = {1, 2, 4};
  GetNpntsPSpan(vals, 3, out, 4);
  const double e[7] = {1, 4 / 3.0, 5 / 3.0, 2, 2 + 2 / 3.0, 2 + 4 / 3.0, 4};
  for (int i = 0; i < 7; ++i) EXPECT_NEAR(out[i], e[i], 1e-15);
  FreeBspline(s);
  FreeBspline(curve);
}

// Points on a curve give their own parameters; points off a surface's boundary give the
// parameters of their feet on the boundary's iso curve, with the caller-kept cache as well.
TEST_F(MatchedSamplingTest, ClosestPointsOnCurvesAndBoundaries) {
  Bspline* c = BuildRandomCurve(6, 3, 8);
  double pts[5][3], params[5], closest[5][3];
  const double ts[5] = {0.0, 0.2, 0.45, 0.7, 1.0};
  for (int i = 0; i < 5; ++i) Eval3DPointOnCurve3Array(c, ts[i], 0, pts[i]);
  EXPECT_EQ(GetParValOfBndry(c, 0), 0.0);
  EXPECT_EQ(GetParValOfBndry(c, 2), 1.0);
    GetClosestPointsOnCrvOnSrf(pts, 5, c, 0.0, 0, params, closest);
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(params[i], ts[i], 1e-6) << i;
    EXPECT_LT(VecDist3(closest[i], pts[i]), 1e-6);
  }
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.3 * std::sin(2 * x + y); });
  double off[3][3] = {{1.2, 0.25, 0.0}, {1.1, 0.5, 0.3}, {1.3, 0.8, -0.2}};
  double *cx = nullptr, *cy = nullptr, *cz = nullptr, again[3];
  GetClosestPointsOnCrvOnSrfArrays(off, 3, s, 1.0, 1, params, closest, &cx, &cy, &cz);
  ASSERT_NE(cx, nullptr);
  double* kept = cx;
  GetClosestPointsOnCrvOnSrfArrays(off, 3, s, 1.0, 1, again, nullptr, &cx, &cy, &cz);
  EXPECT_EQ(cx, kept);
  Bspline* iso = MakeIsoparCurve3(s, 1.0, 0.0, 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(again[i], params[i]);
    // The foot is the iso curve's nearest point: P - C is normal to the curve there.
    double C[3], D[3];
    Eval3DPointOnCurve3Array(iso, params[i], 0, C);
    Eval3DPointOnCurve3Array(iso, params[i], 1, D);
    const double r[3] = {off[i][0] - C[0], off[i][1] - C[1], off[i][2] - C[2]};
    EXPECT_NEAR(VecDotProd3(r, D) / VecSize3(D), 0.0, 1e-6) << i;
    EXPECT_LT(VecDist3(C, closest[i]), 1e-9);
  }
  for (double* a : {cx, cy, cz}) Free(a);
  // The 3D length of a curve on a surface: a straight iso line tends to its iso curve's length.
  Bspline* line = BuildCurveOnSurface(s, 1, {1.0, 0.0, 1.0, 1.0});
  double isoLen = 0.0, prev[3], P[3];
  for (int i = 0; i <= 20000; ++i) {
    Eval3DPointOnCurve3Array(iso, i / 20000.0, 0, P);
    if (i) isoLen += VecDist3(prev, P);
    for (int k = 0; k < 3; ++k) prev[k] = P[k];
  }
  const double coarse = GetCurveOnSurf3DLength(line);
  EXPECT_NEAR(coarse, isoLen, 1e-3 * isoLen);
  EXPECT_LE(coarse, isoLen + 1e-12);  // chords never exceed the arc
  EXPECT_EQ(GetObjSpanInParDir(line, 0, 1), coarse);
  for (Bspline* x : {c, s, iso}) FreeBspline(x);
}

}  // namespace
