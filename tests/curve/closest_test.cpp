// Closest parameters on curves: the cached polyline estimate refined by the core against a
// dense search, closed curves kept off their seam, the polygon estimators and the transforms.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/normal_offsets.h"

namespace {

class ClosestParamTest : public KernelTest {};

using Cache = CurveSampleCache;

// A closed cubic: control points around an ellipse with a wobble, the last repeating the first.
Bspline* ClosedCurve() {
  std::vector<double> pts;
  for (int i = 0; i < 9; ++i) {
    const double a = 2 * M_PI * (i % 8) / 8.0;
    pts.insert(pts.end(), {2 * std::cos(a), std::sin(a), 0.2 * std::sin(3 * a)});
  }
  Bspline* c = BuildCurve(3, 3, pts);
  c->closedU = 3;
  return c;
}

double DenseMinDist(const Bspline* c, const double P[3]) {
  double best = 1e300;
  for (int i = 0; i <= 20000; ++i) {
    double q[3];
    RefEvalCurve(c, c->umin + (c->umax - c->umin) * i / 20000.0, q);
    best = std::fmin(best, VecDist3(P, q));
  }
  return best;
}

// The refined foot is never farther than the best of a dense polyline search; a closed curve's
// estimate stays off the two seam segments.
TEST_F(ClosestParamTest, RefinedEstimateMatchesADenseSearch) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(0.0, 1.0), off(-0.3, 0.3);
  for (bool closed : {false, true}) {
    Bspline* c = closed ? ClosedCurve() : BuildRandomCurve(9, 3, 12);
    Cache cache;
    for (int q = 0; q < 40; ++q) {
      // Near the curve, where the estimate decides which branch the refinement takes.
      double P[3];
      RefEvalCurve(c, U(rng), P);
      for (double& x : P) x += off(rng);
      double t, foot[3], C[3], d2, step;
      ASSERT_EQ(EstimateClosestPntCurve(c, P, &cache.t, &cache.n, &cache.x, &cache.y, &cache.z, foot, &t, closed), 0);
      if (closed) {
        EXPECT_TRUE(t >= cache.t[1] && t <= cache.t[cache.n - 2]) << t;
      }
      // Exactly the first of the nearest polyline segments, seam segments of a closed curve left out.
      double best = kEmptyBoxBound, tRef = 0.5 * (c->umin + c->umax);
      for (int k = closed ? 2 : 1; k <= (closed ? cache.n - 2 : cache.n - 1); ++k) {
        const double a[3] = {cache.x[k - 1], cache.y[k - 1], cache.z[k - 1]}, b[3] = {cache.x[k], cache.y[k], cache.z[k]};
        double f[3], d2, w;
        LineSegPntMinSqDistParam(P, a, b, f, &d2, &w);
        if (d2 < best) best = d2, tRef = w * cache.t[k - 1] + (1 - w) * cache.t[k];
      }
      EXPECT_EQ(t, tRef);
      FindClosestPointCurve3(c, P, C, c->umin, c->umax, &t, &d2, &step, 20);
      EXPECT_LE(std::sqrt(d2), DenseMinDist(c, P) + 1e-6) << "closed " << closed << " query " << q << " t " << t << " d0 " << VecDist3(foot, P);
    }
    FreeBspline(c);
  }
}

TEST_F(ClosestParamTest, CacheIsFilledOnceAndNullAfterAFailure) {
  Bspline* c = BuildRandomCurve(4, 3, 30);
  // 200 / 27 + 1 = 8 samples per span of 27 spans: 27 x 7 + 1.
  Cache cache;
  const double P[3] = {0.1, 0.2, 0.3};
  double t;
  ASSERT_EQ(EstimateClosestPntCurve(c, P, &cache.t, &cache.n, &cache.x, &cache.y, &cache.z, nullptr, &t, 0), 0);
  EXPECT_EQ(cache.n, 27 * 7 + 1);
  double* first = cache.x;
  const long before = MallocRuntimeRequests();
  ASSERT_EQ(EstimateClosestPntCurve(c, P, &cache.t, &cache.n, &cache.x, &cache.y, &cache.z, nullptr, &t, 0), 0);
  EXPECT_EQ(MallocRuntimeRequests(), before);
  EXPECT_EQ(cache.x, first);

  const int failures = RunWithInjectedFailures(30, 1, [&] {
    Cache local;
    const int r = EstimateClosestPntCurve(c, P, &local.t, &local.n, &local.x, &local.y, &local.z, nullptr, &t, 1);
    if (r != 0) {
      EXPECT_TRUE(!local.t && !local.x && !local.y && !local.z);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(c);
}

// Two crossing curves: every polygon estimator starts the refinement into the crossing, and
// under failing memory each reports -2.
TEST_F(ClosestParamTest, PolygonEstimatorsLeadTheRefinersToTheCrossing) {
  Bspline* a = BuildCurve(3, 3, {0, 0, 0, 1, 0.5, 0, 2, -0.2, 0, 3, 0.3, 0, 4, 0, 0});
  Bspline* b = BuildCurve(2, 3, {2.2, -1, 0, 1.8, 0, 0, 2.1, 1, 0});
  using Estimator = int (*)(Bspline*, Bspline*, double*, double*);
  for (Estimator est : {Estimator(FindClosestCPT3paramValue), Estimator(FindClosestCPTparamValue),
                        Estimator(FindClosestCPTparamValueCurves), Estimator(FindClosestEstParamValueCurveOnSurf)}) {
    double t1, t2, d2;
    ASSERT_EQ(est(a, b, &t1, &t2), 0);
    RefineCurve3sClosestPoint(a, b, &t1, &t2, &d2, 21);
    EXPECT_LT(d2, 1e-14);
    const int failures = RunWithInjectedFailures(12, 1, [&] { return est(a, b, &t1, &t2); });
    EXPECT_GT(failures, 0);
  }
  // In the parameter plane: two 2D curves compared as (u, v, 0).
  Bspline* p = BuildCurve(1, 2, {0, 0, 1, 1});
  Bspline* q = BuildCurve(1, 2, {0, 1, 1, 0});
  double t1, t2;
  ASSERT_EQ(FindClosestCPTparamValueCurve2(p, q, &t1, &t2), 0);
  EXPECT_NEAR(t1, 0.5, 1e-12);
  EXPECT_NEAR(t2, 0.5, 1e-12);
  for (Bspline* x : {a, b, p, q}) FreeBspline(x);
}

// The parameter of the foot of P: a root of (C - P) . C' bisected within [a, b].
double FootByBisection(const Bspline* c, const double P[3], double a, double b) {
  auto g = [&](double t) {
    double C[3], D[3], r[3];
    Eval3DPointOnCurve3Array(c, t, 0, C);
    Eval3DPointOnCurve3Array(c, t, 1, D);
    return VecDotProd3(VecDiff3(C, P, r), D);
  };
  const bool negativeAtA = g(a) < 0;
  for (int k = 0; k < 80; ++k) {
    const double m = 0.5 * (a + b);
    ((g(m) < 0) == negativeAtA ? a : b) = m;
  }
  return 0.5 * (a + b);
}

// Points across a winding cubic at up to 0.95 of the radius of curvature on the bending side,
// rounded to floats as the query takes them, at scales 1e-6, 1 and 1e6: the parameter is the
// foot's to 1e-12 (the points whose foot is not clearly the nearest are left out).
TEST_F(ClosestParamTest, PointParameterIsTheFootAtEveryScale) {
  std::vector<double> pts;
  for (int i = 0; i < 20; ++i) {
    const double s = i / 19.0;
    pts.insert(pts.end(), {0.6 * s, 0.15 * std::sin(11 * s), 0.15 * std::cos(7 * s) + 0.1 * s * s});
  }
  BsplineKeeper keep;
  for (double scale : {1.0, 1e-6, 1e6}) {
    Bspline* c = keep(BuildCurve(3, 3, pts));
    const double shift[3] = {0.1 * scale, 0.2 * scale, -0.3 * scale};
    ScaleAndMove(c, scale, shift);
    std::mt19937 rng(31);
    std::uniform_real_distribution<double> U(0.05, 0.95), H(0.005, 0.2), A(0.0, 2 * M_PI), ratio(0.3, 0.95);
    int checked = 0;
    for (int q = 0; q < 60; ++q) {
      const double t0 = U(rng);
      const CurveFrame f = CurveFrameAt(c, t0, A(rng));
      double h = H(rng) * scale;
      const double rho = ratio(rng);
      if (f.k * h > rho) h = rho / f.k;
      float P[3];
      for (int k = 0; k < 3; ++k) P[k] = static_cast<float>(f.C[k] + h * f.n[k]);
      const double Pd[3] = {P[0], P[1], P[2]};
      // The foot must be clearly the nearest point: nothing farther along is within 1e-3.
      double elsewhere = 1e300;
      for (int i = 0; i <= 600; ++i) {
        if (std::fabs(i / 600.0 - t0) < 0.01) continue;
        double q3[3];
        Eval3DPointOnCurve3Array(c, i / 600.0, 0, q3);
        elsewhere = std::fmin(elsewhere, VecDist3(q3, Pd));
      }
      if (elsewhere < h + 1e-3 * scale) continue;
      const double ref = FootByBisection(c, Pd, t0 - 1e-3, t0 + 1e-3);
      double t = -1.0;
      ASSERT_EQ(GetPointParOnCurve3(c, P[0], P[1], P[2], &t), 1);
      EXPECT_NEAR(t, ref, 1e-12) << scale << " " << q;
      ++checked;
    }
    EXPECT_GT(checked, 20);
  }
}

// The least distance from P to the curve: every local minimum of 3000 samples (the ends
// included) bisected to its foot between its neighbours.
double GlobalFootDistance(const Bspline* c, const double P[3]) {
  const int m = 3000;
  std::vector<double> d(m + 1);
  auto at = [&](int i) { return c->umin + (c->umax - c->umin) * i / m; };
  for (int i = 0; i <= m; ++i) {
    double q[3];
    Eval3DPointOnCurve3Array(c, at(i), 0, q);
    d[i] = VecDist3(P, q);
  }
  double best = 1e300;
  for (int i = 0; i <= m; ++i) {
    best = std::fmin(best, d[i]);
    if ((i > 0 && d[i - 1] < d[i]) || (i < m && d[i + 1] < d[i]) || i == 0 || i == m) continue;
    double q[3];
    Eval3DPointOnCurve3Array(c, FootByBisection(c, P, at(i - 1), at(i + 1)), 0, q);
    best = std::fmin(best, VecDist3(P, q));
  }
  return best;
}

// A spiral of four turns in the plane (radius 0.2 + s at angle 8 pi s), cubic over 60 points
// of it, and a helix of three turns (cubic over 40): stretches a quarter or a third apart.
Bspline* CubicOverPoints(int n, double turns, bool spiral) {
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    const double s = i / (n - 1.0), a = 2 * M_PI * turns * s, r = spiral ? 0.2 + s : 1.0;
    pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), spiral ? 0.0 : 0.4 * s});
  }
  return BuildCurve(3, 3, pts);
}

// A point's parameter is the global minimum of the distance (never farther than a dense
// search's refined minima, within round-off of the size): random open curves of degrees 1 .. 5
// (rational ones too, one with a double knot) and points on, near and far from them, a closed
// curve, and points midway between two windings of a spiral or a helix, where the next winding
// is nearly as near and a single estimate may start on the wrong one; sizes 1e-6 .. 1e6, moved
// 1e4 times the size from the origin.
TEST_F(ClosestParamTest, PointParameterIsTheGlobalMinimum) {
  BsplineKeeper keep;
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> box(-1.5, 1.5), unit(0.0, 1.0), tie(-1e-3, 1e-3);
  int checked = 0;
  for (double scale : {1e-6, 1.0, 1e6})
    for (int k = 0; k < 10; ++k) {
      Bspline* c = keep(k == 7   ? ClosedCurve()
                        : k == 8 ? CubicOverPoints(60, 4.0, true)
                        : k == 9 ? CubicOverPoints(40, 3.0, false)
                                 : BuildRandomCurve(60 + k, 1 + k % 5, 12 + 3 * k, 3, k % 3 == 1));
      if (k == 4) c->knotsU[8] = c->knotsU[9];  // a double knot: a span of no length
      const double shift[3] = {3e3 * scale, -2e3 * scale, 1e3 * scale};
      ScaleAndMove(c, scale, shift);
      const double size = ControlPointDiagonal(c);
      for (int q = 0; q < 40; ++q) {
        double Pd[3];
        if (k >= 8) {  // midway between two windings, off by up to 1e-3 of the gap
          const double s = 0.05 + 0.65 * unit(rng), a = 2 * M_PI * (k == 8 ? 4.0 : 3.0) * s;
          const double r = k == 8 ? 0.2 + s + 0.125 * (1 + tie(rng)) : 1.0;
          const double z = k == 8 ? 0.0 : 0.4 * s + 0.4 / 6.0 * (1 + tie(rng));
          const double X[3] = {r * std::cos(a), r * std::sin(a), z};
          for (int i = 0; i < 3; ++i) Pd[i] = X[i] * scale + shift[i];
        } else if (q % 4 == 0) {  // on the curve
          Eval3DPointOnCurve3Array(c, c->umin + unit(rng) * (c->umax - c->umin), 0, Pd);
        } else {  // near it or far away (q % 4 == 3: up to 30 times its size)
          for (double& x : Pd) x = box(rng) * scale * (q % 4 == 3 ? 20.0 : 1.0);
          for (int i = 0; i < 3; ++i) Pd[i] += shift[i];
        }
        const float P[3] = {float(Pd[0]), float(Pd[1]), float(Pd[2])};
        double t = -1.0, C[3];
        ASSERT_EQ(GetPointParOnCurve3(c, P[0], P[1], P[2], &t), 1);
        ASSERT_GE(t, c->umin);
        ASSERT_LE(t, c->umax);
        const double Pf[3] = {P[0], P[1], P[2]};
        Eval3DPointOnCurve3Array(c, t, 0, C);
        EXPECT_LE(VecDist3(Pf, C), GlobalFootDistance(c, Pf) + 1e-11 * size) << scale << " " << k << " " << q;
        ++checked;
      }
    }
  EXPECT_EQ(checked, 1200);
  // A sound 3D curve needs no scratch memory: a point's parameter is found whatever fails.
  Bspline* c = keep(BuildRandomCurve(70, 3, 20));
  double t;
  EXPECT_EQ(RunWithInjectedFailures(
                20, 1, [&] { return GetPointParOnCurve3(c, 0.1f, 0.2f, 0.3f, &t) == 1 && !KernelFailed() ? 0 : -2; }),
            0);
}

// A point with a coordinate that is not finite has no parameter on a curve: 0, t untouched, for
// a curve of every kind the search takes (polyline, cubic, rational).
TEST_F(ClosestParamTest, APointThatIsNotFiniteHasNoParameter) {
  BsplineKeeper keep;
  for (Bspline* c : {keep(BuildRandomCurve(5, 1, 6)), keep(BuildRandomCurve(6, 3, 9)), keep(BuildRandomCurve(7, 2, 7, 3, true))})
    for (const float bad : {NAN, INFINITY, -INFINITY})
      for (int k = 0; k < 3; ++k) {
        float P[3] = {0.1f, 0.2f, 0.3f};
        P[k] = bad;
        double t = -7.0;
        EXPECT_EQ(GetPointParOnCurve3(c, P[0], P[1], P[2], &t), 0) << c->degreeU << " " << bad << " " << k;
        EXPECT_EQ(t, -7.0);
      }
}

// A point's parameter found again; the closest point on a 3D curve to a point of a curve on a
// surface, under transforms (the refiner follows the curve it runs on).
TEST_F(ClosestParamTest, PointParameterAndCurveToCurveUnderTransforms) {
  Bspline* c = BuildRandomCurve(2, 3, 9);
  for (double t0 : {0.0, 0.13, 0.5, 0.87, 1.0}) {
    double P[3], t = -1;
    Eval3DPointOnCurve3Array(c, t0, 0, P);
    ASSERT_EQ(GetPointParOnCurve3(c, float(P[0]), float(P[1]), float(P[2]), &t), 1);
    EXPECT_NEAR(t, t0, 1e-4);
  }
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.3 * x * y; });
  Bspline* a = BuildCurveOnSurface(s, 1, {0.2, 0.3, 0.8, 0.6});
  Bspline* line = BuildCurve(1, 3, {0, -1, 0, 0, 2, 0});  // the y axis at B's own place
  Xform xfA, xfB;
  Get_imat(xfA);
  Get_imat(xfB);
  xfB[12] = 0.5;  // B sits at x = 0.5 in A's world
  double tB, point[3], PA[3];
  Eval3DPointOnBsplOnSurfArray(nullptr, a, 0.5, 0, 0, PA);
  ASSERT_EQ(GetClosestPointOnCrvToCrvPar(a, line, xfA, xfB, 0.5, &tB, point), 0);
  EXPECT_NEAR(point[0], 0.5, 1e-9);
  EXPECT_NEAR(point[1], PA[1], 1e-6);
  EXPECT_NEAR(tB, (PA[1] + 1) / 3, 1e-6);
  // And back: the point of the line on the curve on the surface gives its (u, v).
  ASSERT_EQ(GetClosestPointOnCrvToCrvPar(line, a, xfB, xfA, (PA[1] + 1) / 3, &tB, point), 0);
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, a, tB, 0, uv);
  EXPECT_TRUE(point[0] == uv[0] && point[1] == uv[1]);
  for (Bspline* x : {c, s, line}) FreeBspline(x);
}

// The frame at a boundary: the iso curve starts on that boundary, the frame takes its start to
// the origin and the normal onto +z, and the inverse undoes it.
TEST_F(ClosestParamTest, IsoCurveFrameAtABoundary) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.2 * std::sin(2 * x) + 0.1 * y; });
  for (int b = 0; b < 4; ++b) {
    const double P[3] = {b == 0 ? -0.2 : (b == 2 ? 1.2 : 0.37), b == 3 ? -0.2 : (b == 1 ? 1.2 : 0.61), 0.0};
    Xform frame, inverse, id;
    Bspline* iso = GetClosestSurfaceIsoPar(P, s, b, 1, frame, inverse);
    ASSERT_NE(iso, nullptr) << b;
    double P0[3] = {iso->X[0][0], iso->Y[0][0], iso->Z[0][0]}, o[3];
    // Starts on boundary b, at the boundary point nearest to P (found densely here).
    double best = 1e300;
    for (int i = 0; i <= 4000; ++i) {
      const double r = i / 4000.0, u = b % 2 == 0 ? (b == 0 ? 0.0 : 1.0) : r, v = b % 2 ? (b == 3 ? 0.0 : 1.0) : r;
      double q[3];
      RefEvalSurface(s, u, v, q);
      best = std::fmin(best, VecDist3(P, q));
    }
    EXPECT_NEAR(VecDist3(P, P0), best, 1e-6) << b;
    EXPECT_NEAR(b % 2 == 0 ? P0[0] : P0[1], b == 0 || b == 3 ? 0.0 : 1.0, 1e-9) << b;
    VecTrans3(P0, frame, o);
    EXPECT_LT(std::fabs(o[0]) + std::fabs(o[1]) + std::fabs(o[2]), 1e-9);
    Get_catmat(frame, inverse, id);
    for (int k = 0; k < 16; ++k) EXPECT_NEAR(id[k], k % 5 == 0, 1e-9);
    FreeBspline(iso);
  }
  // Snapped along the v-minimum side (x = u on this patch): to the nearest knot, or to the
  // nearer end of the range.
  {
    const double P[3] = {0.37, -0.2, 0.0};
    Xform frame, inverse;
    Bspline* iso = GetClosestSurfaceIsoPar(P, s, 3, 2, frame, inverse);
    ASSERT_NE(iso, nullptr);
    EXPECT_NEAR(iso->X[0][0], 0.0, 1e-12);
    FreeBspline(iso);
    iso = GetClosestSurfaceIsoPar(P, s, 3, 0, frame, inverse);
    ASSERT_NE(iso, nullptr);
    double nearest = 1e300;
    for (int i = 0; i < NumKnotsU(s); ++i) nearest = std::fmin(nearest, std::fabs(s->knotsU[i] - 0.37));
    EXPECT_NEAR(std::fabs(iso->X[0][0] - 0.37), nearest, 1e-9);
    FreeBspline(iso);
  }
  EXPECT_EQ(GetClosestSurfaceIsoPar(nullptr, BsplineKeeper()(BuildRandomCurve(1, 3, 5)), 0, 1, nullptr, nullptr),
            nullptr);
  // A surface without a 3D image has no iso curve, so no parameter to snap: null, for every snap.
  s->dimension = 2;
  const double P[3] = {0.5, 0.5, 1.0};
  double frame[16], inverse[16];
  for (int snap : {0, 1, 2}) EXPECT_EQ(GetClosestSurfaceIsoPar(P, s, 0, snap, frame, inverse), nullptr) << snap;
  s->dimension = 3;
  FreeBspline(s);
}

}  // namespace
