// Curve transforms and conversions: round trips of transforms, the exact reparametrisation of
// rational weights, scaled exact forms, and 3D curves made from curves on surfaces that stay on
// the surface image they were made from.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/solvmat.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ConversionTest : public KernelTest {};

void SetForm(Bspline* c, int type, std::vector<double> v) {
  QuadricInfo q = {};
  for (size_t i = 0; i < v.size(); ++i) q.v[i] = v[i];
  c->quadric = DuplicateQuadricInfo(&q, QuadricDoubles(type));
  c->quadricType = type;
}

// Distance from p to the curve: the nearest of 400 samples refined on the curve.
double DistanceToCurve(Bspline* c, const double p[3]) {
  double best = 1e300, bt = c->umin;
  for (int i = 0; i <= 400; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 400.0;
    double q[3];
    Eval3DPointOnCurve3Coord(c, t, 0, q);
    if (VecDist3(p, q) < best) best = VecDist3(p, q), bt = t;
  }
  double C[3], d2, step;
  FindClosestPointCurve3(c, p, C, c->umin, c->umax, &bt, &d2, &step, 20);
  return std::min(best, std::sqrt(d2));
}

TEST_F(ConversionTest, TransformAndItsInverseRestoreControlPointsAndExactForms) {
  std::mt19937 rng(5);
  BsplineKeeper keep;
  for (int type : {1, 2, 3}) {
    Bspline* c = keep(BuildRandomCurve(10 + type, 3, 7));
    SetForm(c, type, {1, 2, 3, 0, 0.6, 0.8, 2.5, 90});
    std::vector<double> before(c->X[0], c->X[0] + 7);
    const QuadricInfo form = *c->quadric;
    Xform M, Minv;
    RandomAffine(rng, M);
    ASSERT_EQ(mat_inverse4(M, Minv), 0);
    XformCurve3Bspline(c, M);
    XformCurve3Bspline(c, Minv);
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(c->X[0][i], before[i], 1e-12);
    for (int k = 0; k < QuadricDoubles(type); ++k) EXPECT_NEAR(c->quadric->v[k], form.v[k], 1e-12);
  }
  // A rigid motion moves a circle's centre as a point and turns its normal without translating
  // it; the radius stays.
  Bspline* circle = keep(BuildRandomCurve(3, 3, 5));
  SetForm(circle, 2, {1, 0, 0, 0, 0, 1, 2});
  Xform R;
  Get_imat(R);
  R[0] = 0, R[1] = 1, R[4] = -1, R[5] = 0;  // a quarter turn about z
  R[8] = 0, R[10] = 1;
  R[12] = 5, R[13] = 6, R[14] = 7;
  Xform T;  // then a quarter turn about x
  Get_imat(T);
  T[5] = 0, T[6] = 1, T[9] = -1, T[10] = 0;
  Xform RT;
  Get_catmat(R, T, RT);
  XformCurve3Bspline(circle, RT);
  const double* q = circle->quadric->v;
  ExpectNear3(q, std::vector<double>{5, -7, 7}.data(), 1e-12, "centre");
  ExpectNear3(q + 3, std::vector<double>{0, -1, 0}.data(), 1e-12, "normal");
  EXPECT_EQ(q[6], 2.0);
}

// w_i c^i is the Moebius reparametrisation s = c t / (1 - t + c t) of a rational Bezier curve:
// the new curve at t is the old one at s, and both end weights are 1.
TEST_F(ConversionTest, ReparametrisedWeightsKeepTheShapeWithUnitEndWeights) {
  BsplineKeeper keep;
  std::mt19937 rng(9);
  for (int trial = 0; trial < 10; ++trial) {
    const int p = 2 + trial % 3;
    std::vector<double> pts, w;
    for (int i = 0; i <= p; ++i) {
      for (int k = 0; k < 3; ++k) pts.push_back(Uniform(rng, -2, 2));
      w.push_back(Uniform(rng, 0.3, 3.0));
    }
    Bspline* old = keep(BuildCurve(p, 3, pts, {}, w));
    Bspline* c = keep(BuildCurve(p, 3, pts, {}, w));
    ASSERT_EQ(ReparametrizeRationalCurve(c), 0);
    EXPECT_EQ(c->W[0][0], 1.0);
    EXPECT_NEAR(c->W[0][p], 1.0, 1e-14);
    const double cc = std::pow(w[0] / w[p], 1.0 / p);
    for (int i = 0; i <= 20; ++i) {
      const double t = i / 20.0, s = cc * t / (1 - t + cc * t);
      double a[3], b[3];
      RefEvalCurve(c, t, a);
      RefEvalCurve(old, s, b);
      ExpectNear3(a, b, 1e-12, "point");
    }
  }
  Bspline* c = keep(BuildCurve(2, 3, {0, 0, 0, 1, 1, 0, 2, 0, 0}, {}, {1, 2, 4}));
  ASSERT_EQ(ReparametrizeRationalCurve(c), 0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(c->W[0][i], 1.0, 1e-15);
  // A zero weight has no real root to scale by: refused, weights untouched.
  Bspline* bad = keep(BuildCurve(2, 3, {0, 0, 0, 1, 1, 0, 2, 0, 0}, {}, {1, 2, 0}));
  EXPECT_EQ(ReparametrizeRationalCurve(bad), -2);
  EXPECT_EQ(bad->W[0][2], 0.0);
}

TEST_F(ConversionTest, ScaledFormsFollowUniformScalesAndDropOtherwise) {
  BsplineKeeper keep;
  Xform I;
  Get_imat(I);
  struct Case {
    double s[3];
    bool kept;
  } cases[] = {{{2, 2, 2}, true}, {{1, 2, 1}, false}, {{-2, 2, 2}, true},
               // Factors are compared against their size: a shrink by a million is no different.
               {{2e-6, 2e-6, -2e-6}, true}, {{1e-6, 2e-6, 1e-6}, false}, {{2e6, 2e6 * (1 + 1e-9), 2e6}, true}};
  for (const Case& k : cases) {
    Bspline* c = keep(BuildRandomCurve(4, 3, 5));
    SetForm(c, 2, {1, 2, 3, 0, 0, 1, 1.5});
    ASSERT_EQ(ScaleCurveQuadricInfo(c, k.s[0], k.s[1], k.s[2], I), 0);
    if (!k.kept) {
      EXPECT_EQ(c->quadricType, 0);
      EXPECT_EQ(c->quadric, nullptr);
      continue;
    }
    EXPECT_NEAR(c->quadric->v[6], 1.5 * std::fabs(k.s[0]), 1e-15 * std::fabs(k.s[0]));
    ExpectNear3(c->quadric->v, std::vector<double>{k.s[0], 2 * k.s[1], 3 * k.s[2]}.data(), 1e-15 * std::fabs(k.s[0]),
                "centre");
  }
  // In a frame that takes the centre to the origin the centre stays where it is; a line's ends
  // scale about it.
  Xform F;
  Get_imat(F);
  F[12] = -1, F[13] = -2, F[14] = -3;
  Bspline* circle = keep(BuildRandomCurve(5, 3, 5));
  SetForm(circle, 3, {1, 2, 3, 0, 0, 1, 1.5, 90});
  ASSERT_EQ(ScaleCurveQuadricInfo(circle, 3, 3, 3, F), 0);
  ExpectNear3(circle->quadric->v, std::vector<double>{1, 2, 3}.data(), 1e-14, "centre");
  EXPECT_EQ(circle->quadric->v[6], 4.5);
  EXPECT_EQ(circle->quadric->v[7], 90.0);
  Bspline* line = keep(BuildRandomCurve(6, 3, 4));
  SetForm(line, 1, {1, 2, 3, 2, 2, 5});
  ASSERT_EQ(ScaleCurveQuadricInfo(line, 2, 3, 4, F), 0);
  ExpectNear3(line->quadric->v + 3, std::vector<double>{3, 2, 11}.data(), 1e-14, "end");
  Bspline* bare = keep(BuildRandomCurve(7, 3, 4));
  EXPECT_EQ(ScaleCurveQuadricInfo(bare, 2, 2, 2, I), -2);
}

// A bumpy patch over [0, 6] x [0, 8] (times scale): its curves converted to 3D stay on their
// surface images.
Bspline* Patch(double scale = 1.0) {
  PatchOptions o;
  o.x1 = 6 * scale, o.y1 = 8 * scale;
  return BuildFunctionPatch(
      [scale](double x, double y) { return 0.3 * scale * std::sin(x / scale) * std::cos(0.5 * y / scale); }, o);
}

// The largest distance from the surface image of the 2D curve (200 samples) to the 3D curve.
double ImageDeviation(Bspline* curve2, Bspline* curve3) {
  double worst = 0;
  for (int i = 0; i <= 200; ++i) {
    const double t = curve2->umin + (curve2->umax - curve2->umin) * i / 200.0;
    double p[3];
    EvalCrvOnSrfCoord(curve2->owner, curve2, t, 0, p);
    worst = std::max(worst, DistanceToCurve(curve3, p));
  }
  return worst;
}

TEST_F(ConversionTest, CurvesOnSurfacesBecome3DCurvesOnTheirImages) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch());
  // At one u: the exact piece of the iso curve.
  Bspline* iso = BuildCurveOnSurface(s, 1, {0.3, 0.2, 0.3, 0.8});
  Bspline* exact = keep(MakeCurve3BsplineFromCurve2(iso, 1e-4, 2.0));
  ASSERT_NE(exact, nullptr);
  EXPECT_LT(ImageDeviation(iso, exact), 1e-9);
  // A general curve: sampled to the angle, interpolated, thinned within the tolerance.
  Bspline* bent = BuildCurveOnSurface(s, 3, {0.1, 0.1, 0.5, 0.2, 0.4, 0.7, 0.9, 0.9});
  Bspline* c3 = keep(MakeCurve3BsplineFromCurve2(bent, 1e-4, 2.0));
  ASSERT_NE(c3, nullptr);
  EXPECT_EQ(c3->dimension, 3);
  EXPECT_LT(ImageDeviation(bent, c3), 2e-3);
  // A closed loop (a circle of radius 0.3 as a rational quadratic) gives a closed cubic whose
  // ends meet.
  const double h = std::sqrt(0.5);
  std::vector<double> uv;
  const double square[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  for (auto& q : square) uv.insert(uv.end(), {0.5 + 0.3 * q[0], 0.5 + 0.3 * q[1]});
  Bspline* loop = BuildCurveOnSurface(s, 2, uv, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1},
                                      {1, h, 1, h, 1, h, 1, h, 1});
  loop->closedU = 3;
  Bspline* ring = keep(MakeCurve3BsplineFromCurve2(loop, 1e-4, 2.0));
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(ring->closedU, 3);
  double a[3], b[3];
  Eval3DPointOnCurve3Coord(ring, ring->umin, 0, a);
  Eval3DPointOnCurve3Coord(ring, ring->umax, 0, b);
  EXPECT_LT(VecDist3(a, b), 1e-9);
  EXPECT_LT(ImageDeviation(loop, ring), 5e-3);
  EXPECT_EQ(MakeCurve3BsplineFromCurve2(keep(BuildRandomCurve(1, 3, 4, 2)), 1e-4, 2.0), nullptr)
      << "a 2D curve without owner";
  // The same curve on the patch at other sizes: the same control points in their own units.
  for (double scale : {1e-6, 1e6}) {
    Bspline* big = keep(Patch(scale));
    Bspline* same = BuildCurveOnSurface(big, 3, {0.1, 0.1, 0.5, 0.2, 0.4, 0.7, 0.9, 0.9});
    Bspline* c = keep(MakeCurve3BsplineFromCurve2(same, 1e-4 * scale, 2.0));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(NumCtrlU(c), NumCtrlU(c3)) << scale;
    EXPECT_LT(ImageDeviation(same, c), 2e-3 * scale) << scale;
  }
  EXPECT_GT(RunMakerWithInjectedFailures(400, 7, [&](Bspline** out) {
              *out = MakeCurve3BsplineFromCurve2(bent, 1e-4, 2.0);
              return *out ? 0 : -2;
            }), 0);
}

TEST_F(ConversionTest, RationalCurvesBecomeCubicsThroughTheirSamples) {
  BsplineKeeper keep;
  // A quarter circle of radius 2 as a rational quadratic.
  const double h = std::sqrt(0.5);
  Bspline* arc = keep(BuildCurve(2, 3, {2, 0, 0, 2, 2, 0, 0, 2, 0}, {}, {1, h, 1}));
  Bspline* cubic = keep(Rational2NonRationalCurve3Bspline(arc));
  ASSERT_NE(cubic, nullptr);
  EXPECT_FALSE(cubic->rational);
  EXPECT_EQ(cubic->degreeU, 3);
  // Three samples of the span: the cubic passes through them and keeps near the arc between.
  for (double t : {0.0, 0.5, 1.0}) {
    double p[3];
    RefEvalCurve(arc, t, p);
    EXPECT_LT(DistanceToCurve(cubic, p), 1e-9) << t;
  }
  for (int i = 0; i <= 50; ++i) {
    double p[3];
    Eval3DPointOnCurve3Coord(cubic, cubic->umin + (cubic->umax - cubic->umin) * i / 50.0, 0, p);
    EXPECT_NEAR(std::hypot(p[0], p[1]), 2.0, 0.03);
  }
  // A millionth of the size: the same cubic in its units.
  Bspline* small = keep(BuildCurve(2, 3, {2e-6, 0, 0, 2e-6, 2e-6, 0, 0, 2e-6, 0}, {}, {1, h, 1}));
  Bspline* tiny = keep(Rational2NonRationalCurve3Bspline(small));
  ASSERT_NE(tiny, nullptr);
  ASSERT_EQ(NumCtrlU(tiny), NumCtrlU(cubic));
  for (int i = 0; i < NumCtrlU(tiny); ++i) EXPECT_NEAR(tiny->Y[0][i], 1e-6 * cubic->Y[0][i], 1e-18);
  Bspline* s = keep(Patch());
  EXPECT_EQ(Rational2NonRationalCurve3Bspline(BuildCurveOnSurface(s, 1, {0, 0, 1, 1})), nullptr);
  EXPECT_EQ(Rational2NonRationalCurve3Bspline(s), nullptr);
}

TEST_F(ConversionTest, CurveOnSurfaceToleranceIsInverseToItsImageBox) {
  BsplineKeeper keep;
  PatchOptions o;
  o.x1 = 6, o.y1 = 8;
  Bspline* flat = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
  // Corner to corner: the image box is 6 x 8, its diagonal 10.
  Bspline* diag = BuildCurveOnSurface(flat, 1, {0, 0, 1, 1});
  EXPECT_NEAR(GetTolForCurveOnSurf(diag), 1e-4, 1e-15);
  EXPECT_EQ(GetTolForCurveOnSurf(keep(BuildRandomCurve(2, 3, 4, 2))), 0.01);
  Bspline* dot = BuildCurveOnSurface(flat, 1, {0.5, 0.5, 0.5, 0.5});
  EXPECT_EQ(GetTolForCurveOnSurf(dot), 0.01);
}

}  // namespace
