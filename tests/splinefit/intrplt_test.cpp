// Curves through points: every interpolant passes through its points at their parameters, the
// solves leave no residual, the knot vectors are the documented ones, the caller's arrays are
// handled as promised (compacted, moved, or untouched for floats), refusals leave the error
// state alone, and parameters the knots cannot interpolate give null instead of infinities.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "splinefit/intrplt.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveInterpolation : public KernelTest {};

struct Pts {
  std::vector<double> x, y, z;
  int n() const { return static_cast<int>(x.size()); }
};

// n points along a wavy space curve with uneven spacing.
Pts Wave(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> step(0.3, 1.2);
  Pts p;
  double s = 0.0;
  for (int i = 0; i < n; ++i) {
    p.x.push_back(s);
    p.y.push_back(std::sin(s));
    p.z.push_back(0.5 * std::cos(1.7 * s));
    s += step(rng);
  }
  return p;
}

double Dist(const double a[3], double x, double y, double z) {
  return std::hypot(a[0] - x, a[1] - y, a[2] - z);
}

// The padded chord-length parameters of the points for degree p.
std::vector<double> Padded(const Pts& p, int deg) {
  std::vector<double> out(p.n() + 2 * deg);
  NewAssignKnots(p.x.data(), p.y.data(), p.z.data(), p.n() - 1, deg, out.data());
  return out;
}

TEST_F(CurveInterpolation, CubicPassesThroughItsPointsWithChordKnotsAndBesselEnds) {
  for (int n : {2, 3, 4, 7, 25}) {
    Pts p = Wave(n, n);
    const Pts given = p;
    Bspline* c = CurveIntrplt(p.x.data(), p.y.data(), p.z.data(), n - 1, nullptr, 3, 0);
    ASSERT_NE(c, nullptr) << n;
    EXPECT_EQ(CheckBspline(c, 1e-9), 0);
    ASSERT_EQ(NumCtrlU(c), n + 2);
    const std::vector<double> K = Padded(given, 3);
    EXPECT_EQ(std::vector<double>(c->knotsU, c->knotsU + n + 6), K);
    for (int i = 0; i < n; ++i) {
      double q[3];
      RefEvalCurve(c, K[3 + i], q);
      EXPECT_LT(Dist(q, given.x[i], given.y[i], given.z[i]), 1e-10) << n << " " << i;
    }
    EXPECT_EQ(p.x, given.x);  // the caller's arrays come back as they were
    if (n == 2) {
      // A straight cubic with evenly spaced control points, and the line said so.
      EXPECT_NEAR(c->X[0][1], (2 * given.x[0] + given.x[1]) / 3, 1e-15);
      EXPECT_NEAR(c->Y[0][2], (given.y[0] + 2 * given.y[1]) / 3, 1e-15);
      ASSERT_EQ(c->quadricType, 1);
      EXPECT_EQ(c->quadric->v[3], given.x[1]);
    } else if (n == 3) {
      // The Bessel end is the parabola through the three points: the cubic's start tangent.
      const double a = (K[5] - K[4]) / (K[5] - K[3]), b = 1 - a;
      const double M = (given.y[1] - a * a * given.y[0] - b * b * given.y[2]) / (2 * a * b);
      EXPECT_NEAR(c->Y[0][1], (2 * (a * given.y[0] + b * M) + given.y[0]) / 3, 1e-12);
    }
    FreeBspline(c);
  }
}

TEST_F(CurveInterpolation, DuplicatesAreCompactedWithoutKnotsAndMovedWithThem) {
  Pts p = Wave(6, 3);
  p.x.insert(p.x.begin() + 3, p.x[2] + 4e-6);
  p.y.insert(p.y.begin() + 3, p.y[2]);
  p.z.insert(p.z.begin() + 3, p.z[2] - 4e-6);
  Pts moved = p;
  Bspline* c = CurveIntrplt(p.x.data(), p.y.data(), p.z.data(), 6, nullptr, 3, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(NumCtrlU(c), 6 + 2);  // one point fewer than passed
  EXPECT_EQ(p.x[3], moved.x[4]);  // compacted in place
  FreeBspline(c);

  // With knots given the count must stay: the duplicate moves 1e-5 of the points' size (the
  // longest side of their box) towards its successor.
  double size = 0.0;
  for (const auto* a : {&moved.x, &moved.y, &moved.z})
    size = std::max(size, *std::max_element(a->begin(), a->end()) - *std::min_element(a->begin(), a->end()));
  std::vector<double> K(6 + 7);
  for (int i = 0; i < 7; ++i) K[3 + i] = i;
  for (int i = 0; i < 3; ++i) K[i] = 0, K[10 + i] = 6;
  c = CurveIntrplt(moved.x.data(), moved.y.data(), moved.z.data(), 6, K.data(), 3, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(NumCtrlU(c), 7 + 2);
  const double d = std::hypot(moved.x[3] - moved.x[2], moved.y[3] - moved.y[2], moved.z[3] - moved.z[2]);
  EXPECT_NEAR(d, 1e-5 * size, 1e-12);
  for (int i = 0; i < 7; ++i) {
    double q[3];
    RefEvalCurve(c, K[3 + i], q);
    EXPECT_LT(Dist(q, moved.x[i], moved.y[i], moved.z[i]), 1e-9);
  }
  FreeBspline(c);

  // Points apart by round-off of their coordinates only: a point curve of the requested degree,
  // even degree 2, no message.
  std::vector<double> x = {1, 1 + 1e-14, 1}, y = {2, 2, 2 + 1e-14};
  c = CurveIntrplt(x.data(), y.data(), nullptr, 2, nullptr, 2, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->dimension, 2);
  EXPECT_EQ(c->degreeU, 2);
  EXPECT_EQ(NumCtrlU(c), 3);
  EXPECT_EQ(c->knotsU[5], 1.0);
  EXPECT_EQ(Messages(), "");
  FreeBspline(c);

  // The same wave 1e-6 across, at the origin and 1e4 of its size away, keeps all its points and
  // passes through them: duplicates are judged against the points' own size.
  for (double size : {1e-6, 1e6})
    for (double far : {0.0, 1e4}) {
      Pts q = Wave(7, 3);
      for (int i = 0; i < 7; ++i) q.x[i] = size * (q.x[i] + far), q.y[i] *= size, q.z[i] *= size;
      const Pts given = q;
      Bspline* w = CurveIntrplt(q.x.data(), q.y.data(), q.z.data(), 6, nullptr, 3, 0);
      ASSERT_NE(w, nullptr) << size;
      EXPECT_EQ(NumCtrlU(w), 7 + 2) << size;
      EXPECT_EQ(q.x, given.x);
      FreeBspline(w);
    }
}

TEST_F(CurveInterpolation, DegreeOneIsThePolylineAndClosesOnARepeatedPoint) {
  std::vector<double> x = {0, 1, 1, 0, 0.0005}, y = {0, 0, 1, 1, 0.0002};
  Bspline* c = CurveIntrplt(x.data(), y.data(), nullptr, 4, nullptr, 1, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->closedU, 1);
  EXPECT_EQ(NumCtrlU(c), 5);  // the repeat is further than 1e-5 from its predecessor: kept
  for (int i = 0; i < 5; ++i) EXPECT_EQ(c->X[0][i], x[i]);
  EXPECT_EQ(c->knotsU[2], 1.0);
  EXPECT_EQ(c->umax, c->knotsU[6]);
  FreeBspline(c);
}

TEST_F(CurveInterpolation, RefusedDegreesShowTheMessageAndSetTheErrorState) {
  Pts p = Wave(6, 1);
  const Pts given = p;
  for (int degree : {2, 4, 9}) {
    SetKernelError(5);  // a positive status is no error: the call runs
    EXPECT_EQ(CurveIntrplt(p.x.data(), p.y.data(), p.z.data(), 5, nullptr, degree, 0), nullptr);
    EXPECT_EQ(zk_error_status, -2);
  }
  ClearKernelError();
  EXPECT_NE(Messages().find("Currently Unavailable"), std::string::npos);
  EXPECT_EQ(p.x, given.x);
  // pu = 2 in the surface interpolation: null, nothing left behind.
  std::vector<double> g(16);
  for (int i = 0; i < 16; ++i) g[i] = i % 4 + 0.1 * (i / 4);
  std::vector<double> gy(16), gz(16, 0.0);
  for (int i = 0; i < 16; ++i) gy[i] = i / 4;
  EXPECT_EQ(SurfaceInterpolate(g.data(), gy.data(), gz.data(), 4, 4, nullptr, nullptr, 2, 3), nullptr);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(CurveInterpolation, FloatFormNeverChangesTheCallersFloats) {
  std::vector<float> x = {0, 1, 1, 2, 3}, y = {0, 0.5f, 0.5f, 1, 0}, z = {0, 0, 0, 1, 1};
  const std::vector<float> before = x;
  Bspline* c = CurveIntrplt_f(x.data(), y.data(), z.data(), 4, nullptr, 3, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(NumCtrlU(c), 4 + 2);  // the duplicate went from the copies only
  EXPECT_EQ(x, before);
  FreeBspline(c);
}

TEST_F(CurveInterpolation, AnyDegreeSolvesItsBandAndPassesThroughItsPoints) {
  for (int p = 1; p <= 7; ++p) {
    for (int n : {p + 1, p + 4, 30}) {
      Pts pts = Wave(n, 10 * p + n);
      const Pts given = pts;
      Bspline* c = CurveIntrplt(pts.x.data(), pts.y.data(), pts.z.data(), n - 1, nullptr, p, 1);
      ASSERT_NE(c, nullptr) << p << " " << n;
      EXPECT_EQ(CheckBspline(c, 1e-9), 0);
      EXPECT_EQ(NumCtrlU(c), n);
      const std::vector<double> t = Padded(given, p);
      for (int i = 0; i < n; ++i) {
        double q[3];
        RefEvalCurve(c, t[p + i], q);
        EXPECT_LT(Dist(q, given.x[i], given.y[i], given.z[i]), 1e-9) << p << " " << n << " " << i;
      }
      FreeBspline(c);
    }
  }
  // Averaged knots: interior knot j is the mean of p consecutive parameters.
  const std::vector<double> params = {0, 0, 0, 0, 1, 2, 3, 4, 4, 4, 4};
  double* K = RemoveByAveKnotsForInterpolate(params.data(), 4, 3);
  ASSERT_NE(K, nullptr);
  EXPECT_EQ(std::vector<double>(K, K + 9), (std::vector<double>{0, 0, 0, 0, 2, 4, 4, 4, 4}));
  Free(K);
}

TEST_F(CurveInterpolation, TooFewPointsAreCompletedOnALowerDegreeInterpolant) {
  // Degree 5 through 3 points: a quadratic through them gives the missing points; the curve
  // starts and ends at the given ends and comes back through the middle one.
  Pts p = Wave(3, 4);
  const Pts given = p;
  Bspline* c = NewCurveIntrplt(p.x.data(), p.y.data(), p.z.data(), 2, nullptr, 5);
  ASSERT_NE(c, nullptr);
  EXPECT_GE(NumCtrlU(c), 6);
  EXPECT_EQ(p.x, given.x);  // the additions never reach the caller's arrays
  double best = 1e300;
  for (int k = 0; k <= 20000; ++k) {
    double q[3];
    RefEvalCurve(c, c->umin + (c->umax - c->umin) * k / 20000.0, q);
    best = std::min(best, Dist(q, given.x[1], given.y[1], given.z[1]));
  }
  EXPECT_LT(best, 1e-3);
  double q[3];
  RefEvalCurve(c, c->umax, q);
  EXPECT_LT(Dist(q, given.x[2], given.y[2], given.z[2]), 1e-12);
  FreeBspline(c);

  // Degree 4 through two points: four evenly spaced points added on the segment.
  std::vector<double> x = {0, 5}, y = {0, 0}, z = {1, 1};
  double *px = x.data(), *py = y.data(), *pz = z.data();
  int count = 2;
  {
    TrackingScope scope;
    ASSERT_EQ(AddPointsIfLessThanOrder(&px, &py, &pz, &count, 4), 0);
    ASSERT_EQ(count, 6);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(px[i], i, 1e-15);
  }
  // Two points apart by round-off cannot be split: -9, and the interpolator gives a point curve.
  x = {1, 1 + 1e-14};
  px = x.data(), py = y.data(), pz = z.data(), count = 2;
  EXPECT_EQ(AddPointsIfLessThanOrder(&px, &py, &pz, &count, 3), -9);
  EXPECT_EQ(px, x.data());
  c = NewCurveIntrplt(x.data(), y.data(), z.data(), 1, nullptr, 3);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(NumCtrlU(c), 4);
  EXPECT_EQ(c->X[0][3], 1.0);
  FreeBspline(c);
}

TEST_F(CurveInterpolation, ASinglePointHasNoSpanToSplit) {
  // Regression: the adder used to split a span that a single point does not have.
  std::vector<double> x = {1}, y = {2}, z = {3};
  double *px = x.data(), *py = y.data(), *pz = z.data();
  int count = 1;
  EXPECT_EQ(AddPointsIfLessThanOrder(&px, &py, &pz, &count, 3), -2);
  EXPECT_EQ(px, x.data());
  EXPECT_EQ(count, 1);
  EXPECT_EQ(x[0], 1.0);
}

TEST_F(CurveInterpolation, SymmetricInsertionAndLargestSpansFillSpansEvenly) {
  const std::vector<double> K = {0, 0, 0, 1, 2, 4, 8, 8, 8};
  // Alternately from both ends: the first span, then the last, then the second ...
  double* S = InsertSymmetricKnots(K.data(), 9, 2, 3);
  ASSERT_NE(S, nullptr);
  EXPECT_EQ(std::vector<double>(S, S + 12),
            (std::vector<double>{0, 0, 0, 0.5, 1, 1.5, 2, 4, 6, 8, 8, 8}));
  Free(S);
  double* L = GetLargestSpanAndInsert(const_cast<double*>(K.data()), 9, 2, 2);
  ASSERT_NE(L, nullptr);
  EXPECT_EQ(std::vector<double>(L, L + 11),
            (std::vector<double>{0, 0, 0, 1, 2, 3, 4, 6, 8, 8, 8}));
  Free(L);
  int count = 5;
  double* G = GetNewKnotsAfterInsert(K.data(), 9, 2, &count);
  ASSERT_NE(G, nullptr);
  EXPECT_GE(count, 5);
  for (int i = 1; i < 9 + count; ++i) EXPECT_LE(G[i - 1], G[i]);
  Free(G);
}

TEST_F(CurveInterpolation, RemovalBuildersGiveKnotVectorsTheParametersFit) {
  for (int p = 2; p <= 5; ++p) {
    const int m = 12;
    Pts pts = Wave(m + 1, p);
    const std::vector<double> pad = Padded(pts, p);
    for (auto build : {RemoveKnotsForInterpolate, TestRemoveKnotsForInterpolate}) {
      double* K = build(pad.data(), m, p);
      ASSERT_NE(K, nullptr) << p;
      const std::vector<double> k(K, K + m + p + 2);
      Free(K);
      EXPECT_TRUE(KnotVectorSound(k.data(), p, m + 1)) << p;
      Bspline* c = CurveIntrpltShrink(pts.x.data(), pts.y.data(), pts.z.data(), pad.data() + p,
                                      m + 1, k.data(), p);
      ASSERT_NE(c, nullptr) << p;
      for (int i = 0; i <= m; ++i) {
        double q[3];
        RefEvalCurve(c, pad[p + i], q);
        EXPECT_LT(Dist(q, pts.x[i], pts.y[i], pts.z[i]), 1e-8) << p << " " << i;
      }
      FreeBspline(c);
    }
  }
}

TEST_F(CurveInterpolation, ShrinkInterpolationLivesInTheGivenSpace) {
  // Greville parameters of a clamped cubic space: the curve reproduces a curve of that space
  // from its own points there.
  Bspline* ref = BuildRandomCurve(7, 3, 9);
  const int n = 9;
  std::vector<double> t(n), x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    for (int k = 1; k <= 3; ++k) t[i] += ref->knotsU[i + k] / 3.0;
    double q[3];
    RefEvalCurve(ref, t[i], q);
    x[i] = q[0], y[i] = q[1], z[i] = q[2];
  }
  Bspline* c = CurveIntrpltShrink(x.data(), y.data(), z.data(), t.data(), n, ref->knotsU, 3);
  ASSERT_NE(c, nullptr);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(c->X[0][i], ref->X[0][i], 1e-10);
  FreeBspline(c);
  FreeBspline(ref);

  // Degree 1 on the parameters themselves: the control points are the points.
  std::vector<double> k1 = {0, 0, 1, 2, 3, 3};
  std::vector<double> t1 = {0, 1, 2, 3}, x1 = {4, 5, 7, 6}, y1 = {0, 1, 0, 1};
  c = CurveIntrpltShrink(x1.data(), y1.data(), nullptr, t1.data(), 4, k1.data(), 1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::vector<double>(c->X[0], c->X[0] + 4), x1);
  FreeBspline(c);
}

TEST_F(CurveInterpolation, ParametersTheKnotsCannotInterpolateGiveNullNotInfinities) {
  // Regression: every parameter in the first span of a cubic with three interior knots makes
  // the band singular; the zero pivot used to be divided by.
  const std::vector<double> K = {0, 0, 0, 0, 0.7, 0.8, 0.9, 1, 1, 1, 1};
  const std::vector<double> t = {0, 0.1, 0.2, 0.3, 0.4, 0.5, 1.0};
  std::vector<double> x = {0, 1, 2, 3, 4, 5, 6}, y(7, 1.0), z(7, 2.0);
  EXPECT_EQ(CurveIntrpltShrink(x.data(), y.data(), z.data(), t.data(), 7, K.data(), 3), nullptr);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  // The same through the grid form.
  std::vector<double> gx(14), gy(14), gz(14);
  for (int i = 0; i < 14; ++i) gx[i] = i % 7, gy[i] = i / 7, gz[i] = 0.1 * i;
  const std::vector<double> vt = {0, 1}, vk = {0, 0, 1, 1};
  EXPECT_EQ(SurfaceInterpolateShrink(gx.data(), gy.data(), gz.data(), 7, 2, t.data(), vt.data(),
                                     K.data(), vk.data(), 3, 1),
            nullptr);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(CurveInterpolation, InjectedFailuresLeaveNothingBehind) {
  const Pts base = Wave(12, 9);
  for (int mode = 0; mode < 4; ++mode) {
    RunMakerWithInjectedFailures(400, 3, [&](Bspline** out) {
      Pts p = base;
      switch (mode) {
        case 0: *out = CurveIntrplt(p.x.data(), p.y.data(), p.z.data(), 11, nullptr, 3, 0); break;
        case 1: *out = NewCurveIntrplt(p.x.data(), p.y.data(), p.z.data(), 11, nullptr, 4); break;
        case 2: *out = NewCurveIntrplt(p.x.data(), p.y.data(), p.z.data(), 2, nullptr, 6); break;
        default: *out = CurveIntrplt(p.x.data(), p.y.data(), nullptr, 11, nullptr, 1, 0); break;
      }
      return *out ? 0 : -2;
    });
  }
}

}  // namespace

namespace {

class InterpolationTorture : public KernelTest {};

// Generated bad and extreme inputs through the curve and grid entry points: every result is
// either null or a sound record of finite numbers (regression: chords of huge coordinates
// overflowed into infinite knots reported as success); nothing crashes, nothing leaks.
TEST_F(InterpolationTorture, BadInputsGiveNullOrSoundCurves) {
  std::mt19937 rng(19);
  std::uniform_int_distribution<int> pick(0, 99);
  const double specials[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300, 0.0, 1e-300};
  int made = 0, refused = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const int n = 1 + pick(rng) % 9;
    std::vector<double> x(n), y(n), z(n);
    for (int i = 0; i < n; ++i) {
      x[i] = pick(rng) % 3 == 0 ? x[std::max(i - 1, 0)] : pick(rng) * 0.01;
      y[i] = pick(rng) * 0.02;
      z[i] = pick(rng) * 0.03;
    }
    if (pick(rng) < 30) x[pick(rng) % n] = specials[pick(rng) % 7];
    const int degree = pick(rng) % 10 - 1;
    const bool any = pick(rng) < 50;
    Bspline* c = CurveIntrplt(x.data(), y.data(), pick(rng) < 20 ? nullptr : z.data(), n - 1,
                              nullptr, degree, any ? 1 : 0);
    if (c) {
      ++made;
      EXPECT_TRUE(BsplineSound(c)) << trial << " degree " << degree << " any " << any;
      FreeBspline(c);
    } else {
      ++refused;
    }
    ClearKernelError();
    EXPECT_EQ(MallocTrackLevel(), 0);
  }
  EXPECT_GT(made, 100);
  EXPECT_GT(refused, 10);
  // Grids: the rows and the skin across them.
  for (int trial = 0; trial < 60; ++trial) {
    const int nu = 1 + pick(rng) % 6, nv = 1 + pick(rng) % 6;
    std::vector<double> x(nu * nv), y(nu * nv), z(nu * nv);
    for (int k = 0; k < nu * nv; ++k) x[k] = k % nu, y[k] = k / nu, z[k] = pick(rng) * 0.01;
    if (pick(rng) < 40) z[pick(rng) % (nu * nv)] = specials[pick(rng) % 7];
    const int pu = 1 + pick(rng) % 5, pv = 1 + pick(rng) % 5;
    Bspline* s = pick(rng) < 50
                     ? SurfaceInterpolate(x.data(), y.data(), z.data(), nu, nv, nullptr, nullptr, pu, pv)
                     : NewSurfaceInterpolate(x.data(), y.data(), z.data(), nu, nv, nullptr, nullptr, pu, pv);
    if (s) {
      EXPECT_TRUE(BsplineSound(s)) << trial << " " << nu << "x" << nv << " " << pu << pv;
    }
    FreeBspline(s);
    ClearKernelError();
    EXPECT_EQ(MallocTrackLevel(), 0);
  }
}

}  // namespace

namespace {

TEST_F(CurveInterpolation, FixedDegreeParametersAreTheChordLengthsTheInterpolantsUse) {
  const Pts p = Wave(8, 5);
  const int m = p.n() - 1;
  std::vector<double> k3(m + 7), k1(m + 3);
  AssignKnots(p.x.data(), p.y.data(), p.z.data(), m, k3.data());
  AssignKnotsForDegree1(p.x.data(), p.y.data(), p.z.data(), m, k1.data());
  EXPECT_EQ(k3, Padded(p, 3));
  EXPECT_EQ(k1, Padded(p, 1));
  // Successive parameters step by the chord between successive points, whatever the padding.
  for (int i = 1; i <= m; ++i) {
    const double chord = std::hypot(p.x[i] - p.x[i - 1], p.y[i] - p.y[i - 1], p.z[i] - p.z[i - 1]);
    const double total = k1[m + 1] - k1[1];
    EXPECT_NEAR((k3[3 + i] - k3[2 + i]) / (k3[m + 3] - k3[3]), (k1[1 + i] - k1[i]) / total, 1e-14);
    EXPECT_GT(chord, 0.0);
  }
  // The cubic interpolant through the points runs on the cubic parameters.
  Pts q = p;
  Bspline* c = CurveIntrplt(q.x.data(), q.y.data(), q.z.data(), m, nullptr, 3, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::vector<double>(c->knotsU, c->knotsU + m + 7), k3);
  FreeBspline(c);

  // The polyline on the degree-1 parameters has the points as control points and passes
  // through each at its parameter.
  q = p;
  c = IntrpltWithDegree1(q.x.data(), q.y.data(), q.z.data(), m, k1.data());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->degreeU, 1);
  EXPECT_EQ(c->closedU, 0);
  ASSERT_EQ(NumCtrlU(c), m + 1);
  for (int i = 0; i <= m; ++i) {
    EXPECT_EQ(c->X[0][i], p.x[i]);
    double r[3];
    RefEvalCurve(c, k1[1 + i], r);
    EXPECT_LT(Dist(r, p.x[i], p.y[i], p.z[i]), 1e-12) << i;
  }
  FreeBspline(c);

  // A loop whose last point is within 0.001 of its first is closed.
  std::vector<double> x = {0, 2, 2, 0, 0.0004}, y = {0, 0, 2, 2, -0.0003}, z(5, 1.0);
  c = IntrpltWithDegree1(x.data(), y.data(), z.data(), 4, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->closedU, 1);
  FreeBspline(c);
}

TEST_F(CurveInterpolation, PointCurvesAreThePointEverywhere) {
  const double x = 1.5, y = -2.25, z = 3.0;
  for (int degree : {0, 1, 2, 3, 5}) {
    Bspline* c = MakeCurveZero(&x, &y, &z, degree);
    ASSERT_NE(c, nullptr) << degree;
    const int expect = degree < 1 ? 3 : degree;
    EXPECT_EQ(c->degreeU, expect);
    EXPECT_EQ(NumCtrlU(c), expect + 1);
    EXPECT_EQ(c->knotsU[0], 0.0);
    EXPECT_EQ(c->knotsU[2 * expect + 1], 1.0);
    for (double t : {0.0, 0.3, 1.0}) {
      double q[3];
      RefEvalCurve(c, t, q);
      EXPECT_LT(Dist(q, x, y, z), 1e-15) << degree << " " << t;
    }
    FreeBspline(c);
  }
  EXPECT_EQ(MakeCurveZero(&x, &y, &z, kMaxSplineDegree + 1), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  Bspline* flat = MakeCurveZero(&x, &y, nullptr, 2);
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(flat->dimension, 2);
  FreeBspline(flat);
}

TEST_F(CurveInterpolation, DuplicatesAreSeparatedTowardsTheirSuccessorOrAlongOneAxisAtTheEnd) {
  const double tol = 1e-3;
  // The middle point moves tol from its predecessor along the way to its successor.
  std::vector<double> x = {0, 1e-7, 1, 5, 5}, y = {0, 0, 1, 0, 1e-5}, z(5, 0.0);
  EXPECT_EQ(FixDuplicates(x.data(), y.data(), z.data(), 5, tol), 5);
  EXPECT_NEAR(x[1], tol / std::sqrt(2.0), 1e-15);
  EXPECT_NEAR(y[1], tol / std::sqrt(2.0), 1e-15);
  EXPECT_EQ(z[1], 0.0);
  EXPECT_EQ(x[2], 1.0);  // points apart stay where they are
  // The last point: its first coordinate that is too close moves tol away.
  EXPECT_EQ(x[4], 5 + tol);
  EXPECT_EQ(y[4], 1e-5);
  for (int i = 1; i < 5; ++i)
    EXPECT_GE(std::hypot(x[i] - x[i - 1], y[i] - y[i - 1]), tol * (1 - 1e-12)) << i;
}

// Collocation rows at the Greville parameters of a curve reproduce the curve from its control
// points, and each row is a partition of unity.
TEST_F(CurveInterpolation, CollocationRowsAndSkinningReproduceTheCurvesTheyCameFrom) {
  const int p = 3, count = 9, m = count - 1;
  Bspline* ref = BuildRandomCurve(11, p, count);
  ASSERT_NE(ref, nullptr);
  std::vector<double> t(count);
  for (int i = 0; i < count; ++i)
    for (int k = 1; k <= p; ++k) t[i] += ref->knotsU[i + k] / p;
  const int w = p + 1;
  std::vector<std::vector<double>> rows(count, std::vector<double>(w, -1.0));
  std::vector<double*> A(count);
  for (int i = 0; i < count; ++i) A[i] = rows[i].data();
  std::vector<int> idx(count, -1);
  SetupSystemShrink(ref->knotsU, t.data(), m, A.data(), idx.data(), w, p);
  for (int i = 0; i <= m; ++i) {
    double sum = 0.0, x = 0.0;
    for (int k = 0; k < w; ++k) {
      sum += A[i][k];
      if (A[i][k] != 0.0) x += A[i][k] * ref->X[0][idx[i] + k];
    }
    EXPECT_NEAR(sum, 1.0, 1e-14) << i;
    double q[3];
    RefEvalCurve(ref, t[i], q);
    EXPECT_NEAR(x, q[0], 1e-13) << i;
  }
  FreeBspline(ref);

  // Skinning four curves of one space at given v parameters: the surface's v-isoline at each
  // parameter is its curve.
  const int n = 4, pv = 2;
  std::vector<Bspline*> curves;
  for (int i = 0; i < n; ++i)
    curves.push_back(BuildRandomCurve(20 + i, 3, 6, 3, false, KnotLayout::Uniform));
  const std::vector<double> vparams = {0.0, 0.3, 0.7, 1.0};
  const std::vector<double> vknots = {0, 0, 0, 0.5, 1, 1, 1};
  Bspline* s = Curve3ToSurfShrink(n, curves.data(), vparams.data(), vknots.data(), pv);
  ASSERT_NE(s, nullptr);
  s->umin = 0, s->umax = 1, s->vmin = 0, s->vmax = 1;
  for (int i = 0; i < n; ++i)
    for (double u : {0.0, 0.25, 0.6, 1.0}) {
      double a[3], b[3];
      RefEvalSurface(s, u, vparams[i], a);
      RefEvalCurve(curves[i], u, b);
      EXPECT_LT(Dist(a, b[0], b[1], b[2]), 1e-12) << i << " " << u;
    }
  FreeBspline(s);
  for (Bspline* c : curves) FreeBspline(c);
}

}  // namespace
