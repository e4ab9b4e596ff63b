// Sweeps between two rails and the implied-tangent boundary curve built on them: row 0 is the
// profile and the outer columns are the rails whatever way the rails were given; touching is a
// strict test on control points; a zero chord is not scaled; the implied-tangent curve maps onto
// its input curve, whose strip leaves it along -t, at every scale; iso-parameter curves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "construct/crv2srf.h"
#include "construct/extrude.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfutils.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SweepTest : public KernelTest {};

// A random curve moved so that its first control point is at p.
Bspline* CurveFrom(unsigned seed, int degree, int n, const double p[3], bool rational = false) {
  Bspline* c = BuildRandomCurve(seed, degree, n, 3, rational);
  const double d[3] = {p[0] - c->X[0][0], p[1] - c->Y[0][0], p[2] - c->Z[0][0]};
  for (int i = 0; i < n; ++i) {
    c->X[0][i] += d[0];
    c->Y[0][i] += d[1];
    c->Z[0][i] += d[2];
  }
  return c;
}

double Gap(const double a[3], const double b[3]) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

TEST_F(SweepTest, RowZeroIsTheProfileAndTheOuterColumnsAreTheRails) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    for (int wrongWay = 0; wrongWay < 2; ++wrongWay) {
      BsplineKeeper keep;
      const bool rational = seed == 3;
      Bspline* profile = keep(BuildRandomCurve(seed, 3, 6, 3, rational));
      Bspline* shape = keep(CopyBsplineStruct(profile));
      const double a[3] = {profile->X[0][0], profile->Y[0][0], profile->Z[0][0]};
      const double b[3] = {profile->X[0][5], profile->Y[0][5], profile->Z[0][5]};
      Bspline* path1 = keep(CurveFrom(seed + 10, 2, 4, a));
      Bspline* path2 = keep(CurveFrom(seed + 20, 3, 7, b));
      if (wrongWay) {  // paths ending at the profile, given in the other order
        ReverseDirection(path1, 0);
        ReverseDirection(path2, 0);
        std::swap(path1, path2);
      }
      Bspline* s = keep(ExtrudeW2PathCurves(profile, path1, path2, 1e-9));
      ASSERT_NE(s, nullptr) << seed << wrongWay;
      // The rails came out compatible and carry the surface's v knots.
      ASSERT_EQ(NumKnotsU(path1), NumKnotsV(s));
      for (int k = 0; k < NumKnotsV(s); ++k) {
        EXPECT_EQ(path1->knotsU[k], s->knotsV[k]);
        EXPECT_EQ(path2->knotsU[k], s->knotsV[k]);
      }
      // The profile starts at the first path: given the other way round, it runs reversed.
      const Bspline* first = path1;
      const Bspline* second = path2;
      for (int i = 0; i <= 20; ++i) {
        const double t = i / 20.0;
        double p[3], q[3];
        const double tp = wrongWay ? 1.0 - t : t;
        Eval3DPointOnCurve3Array(shape, shape->umin + tp * (shape->umax - shape->umin), 0, p);
        Eval3DPointOnSurfArray(s, s->umin + t * (s->umax - s->umin), s->vmin, 0, 0, q);
        EXPECT_LT(Gap(p, q), 1e-12) << seed << " row 0 at " << t;
        const double v = first->umin + t * (first->umax - first->umin);
        Eval3DPointOnCurve3Array(first, v, 0, p);
        Eval3DPointOnSurfArray(s, s->umin, v, 0, 0, q);
        EXPECT_LT(Gap(p, q), 1e-12) << seed << " first column at " << t;
        Eval3DPointOnCurve3Array(second, v, 0, p);
        Eval3DPointOnSurfArray(s, s->umax, v, 0, 0, q);
        EXPECT_LT(Gap(p, q), 1e-12) << seed << " last column at " << t;
      }
    }
  }
}

TEST_F(SweepTest, RailsAreOrientedToStartAtTheCurvesEndsCrosswise) {
  BsplineKeeper keep;
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0};
  for (int flips = 0; flips < 8; ++flips) {
    Bspline* curve = keep(BuildCurve(1, 3, {0, 0, 0, 2, 0, 0}));
    Bspline* ra = keep(CurveFrom(5, 3, 4, a));
    Bspline* rb = keep(CurveFrom(5, 3, 4, b));  // the same shape, so the rails run alike
    if (flips & 1) ReverseDirection(curve, 0);
    if (flips & 2) {
      ReverseDirection(ra, 0);
      ReverseDirection(rb, 0);
    }
    Bspline* rails[2] = {ra, rb};
    if (flips & 4) std::swap(rails[0], rails[1]);
    CheckIfCurvesInSameDir(rails, curve, 1e-9);
    const double r0[3] = {rails[0]->X[0][0], rails[0]->Y[0][0], rails[0]->Z[0][0]};
    const double r1[3] = {rails[1]->X[0][0], rails[1]->Y[0][0], rails[1]->Z[0][0]};
    const double c0[3] = {curve->X[0][0], curve->Y[0][0], curve->Z[0][0]};
    const double c1[3] = {curve->X[0][1], curve->Y[0][1], curve->Z[0][1]};
    EXPECT_LT(Gap(r0, c1), 1e-12) << flips;
    EXPECT_LT(Gap(r1, c0), 1e-12) << flips;
  }
}

TEST_F(SweepTest, TouchingIsStrictAndAZeroChordIsNotScaled) {
  BsplineKeeper keep;
  const double x[3] = {1, 0, 0};
  Bspline* a = keep(BuildCurve(1, 3, {0, 0, 0, 0, 0, -5}));
  Bspline* b = keep(BuildCurve(1, 3, {1, 0, 0, 1, 0, 5}));
  const double gap = 1.0;  // from (0, 0, 0) to (1, 0, 0), the nearest two ends
  EXPECT_EQ(CheckIntersection(a, b, gap), 0);  // exactly tol apart: not touching
  EXPECT_EQ(CheckIntersection(a, b, std::nextafter(gap, 2.0)), 1);
  EXPECT_EQ(ExtrudeW2PathCurves(a, b, keep(CurveFrom(3, 3, 5, x)), 1e-3), nullptr);
  EXPECT_EQ(zk_error_status, -10);
  ClearKernelError();

  // A closed profile: its chord is zero, every row is the profile moved, not scaled.
  Bspline* loop = keep(BuildCurve(2, 3, {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 0}));
  Bspline* rail1 = keep(BuildCurve(1, 3, {0, 0, 0, 0, 0, 2}));
  Bspline* rail2 = keep(BuildCurve(1, 3, {0, 0, 0, 0, 0, 2}));
  Bspline* s = keep(ExtrudeW2PathCurves(loop, rail1, rail2, 1e-9));
  ASSERT_NE(s, nullptr);
  for (int i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(s->X[1][i], s->X[0][i]);
    EXPECT_DOUBLE_EQ(s->Y[1][i], s->Y[0][i]);
    EXPECT_DOUBLE_EQ(s->Z[1][i], s->Z[0][i] + 2.0);
  }
}

TEST_F(SweepTest, ImpliedTangentCurveMapsOntoItsCurveAndLeavesAlongMinusT) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (bool rational : {false, true}) {
      BsplineKeeper keep;
      Bspline* crv = keep(BuildRandomCurve(7, 3, 6, 3, rational));
      for (int i = 0; i < 6; ++i) {
        crv->X[0][i] *= scale;
        crv->Y[0][i] *= scale;
        crv->Z[0][i] *= scale;
      }
      Bspline* before = keep(CopyBsplineStruct(crv));
      const double t[3] = {0.3 * scale, -0.2 * scale, 0.9 * scale};
      Bspline* side = CreateImpliedTangentBndryCrv(crv, t[0], t[1], t[2]);
      ASSERT_NE(side, nullptr) << scale;
      Bspline* strip = side->owner;
      ASSERT_NE(strip, nullptr);
      for (int i = 0; i <= 30; ++i) {
        const double f = i / 30.0;
        double p[3], q[3], d[3][3];
        Eval3DPointOnCurve3Array(crv, crv->umin + f * (crv->umax - crv->umin), 0, p);
        EvalCrvOnSrfArray(strip, side, side->umin + f * (side->umax - side->umin), 0, q);
        EXPECT_LT(Gap(p, q), 1e-12 * scale) << scale << " " << f;
        double uv[2];
        Eval2DPointOnCurve2Array(strip, side, side->umin + f * (side->umax - side->umin), 0, uv);
        EXPECT_NEAR(uv[1], strip->vmin, 1e-15 * (strip->vmax - strip->vmin));
        const int flags[3] = {0, 0, 1};
        Eval3DPointOnSurfArrayM(strip, uv[0], uv[1], flags, d);
        double c[3];
        VecCrossProd3(d[2], t, c);
        EXPECT_LT(VecSize3(c), 1e-9 * VecSize3(d[2]) * VecSize3(t));
        EXPECT_LT(VecDotProd3(d[2], t), 0.0);
      }
      // The caller's curve is not changed by the sweep.
      for (int i = 0; i < 6; ++i) EXPECT_EQ(crv->X[0][i], before->X[0][i]);
      FreeBspline(side);
      FreeBspline(strip);
    }
  }
  EXPECT_EQ(CreateImpliedTangentBndryCrv(nullptr, 1, 0, 0), nullptr);
}

TEST_F(SweepTest, ImpliedTangentCurveFailsCleanlyWhenMemoryRunsOut) {
  BsplineKeeper keep;
  Bspline* crv = keep(BuildRandomCurve(3, 3, 5));
  const long start = MallocRuntimeRequests();
  Bspline* side = CreateImpliedTangentBndryCrv(crv, 0, 0, 1);
  const long used = MallocRuntimeRequests() - start;
  ASSERT_NE(side, nullptr);
  Bspline* strip = side->owner;
  FreeBspline(side);
  FreeBspline(strip);
  const int failures = RunWithInjectedFailures(used + 1, 1, [&] {
    Bspline* c = CreateImpliedTangentBndryCrv(crv, 0, 0, 1);
    if (!c) return -2;
    Bspline* owner = c->owner;
    FreeBspline(c);
    FreeBspline(owner);
    return 0;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(SweepTest, IsoParameterCurvesAreToldByTheirControlPoints) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x * y; }));
  EXPECT_EQ(IsCurveAnIsoPar(BuildCurveOnSurface(s, 1, {0.4, 0.4, 0.4, 0.4}), 0), 1);  // a point
  EXPECT_EQ(IsCurveAnIsoPar(BuildCurveOnSurface(s, 1, {0.1, 0.1, 0.9, 0.8}), 0), -1);
  Bspline* uMin = BuildCurveOnSurface(s, 1, {0.0, 0.0, 0.0, 1.0});
  EXPECT_EQ(IsCurveAnIsoPar(uMin, 1), 1);
  EXPECT_EQ(IsCurveAnIsoPar(BuildCurveOnSurface(s, 1, {0.5, 0.0, 0.5, 1.0}), 1), 0);
  EXPECT_EQ(IsCurveAnIsoPar(BuildCurveOnSurface(s, 1, {0.5, 0.0, 0.5, 1.0}), 0), 1);
  EXPECT_EQ(IsCurveAnIsoPar(BuildCurveOnSurface(s, 2, {0.1, 0.3, 0.5, 0.3 + 1e-8, 0.9, 0.3}), 0), 2);
  EXPECT_EQ(IsCurveAnIsoPar(BuildCurveOnSurface(s, 2, {0.1, 0.3, 0.5, 0.3 + 1e-5, 0.9, 0.3}), 0), -1);
  EXPECT_EQ(IsCurveAnIsoPar(keep(BuildRandomCurve(1, 3, 4)), 0), -1);  // not on a surface
}

// ---- Extrusion ----------------------------------------------------------------------------------

// Translation sweeps are exact: S(u, v) = profile(u) + path(v) - path(start), rational or not,
// with keepPlace; without it the profile's first control point moves onto the path's.
TEST_F(SweepTest, ExtrusionIsTheSumOfProfileAndPath) {
  for (int kind = 0; kind < 4; ++kind) {
    for (int keepPlace = 0; keepPlace < 2; ++keepPlace) {
      BsplineKeeper keep;
      Bspline* profile = keep(BuildRandomCurve(30 + kind, 3, 7, 3, kind & 1));
      Bspline* path = keep(BuildRandomCurve(40 + kind, 2, 5, 3, kind & 2));
      Bspline* p = keep(CopyBsplineStruct(profile));
      Bspline* q = keep(CopyBsplineStruct(path));
      Bspline* s = keep(ExtrudeSurface(profile, path, keepPlace));
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->rational, kind ? 1 : 0);
      EXPECT_EQ(NumCtrlU(s), 7);
      EXPECT_EQ(NumCtrlV(s), 5);
      double shift[3] = {0, 0, 0};
      if (!keepPlace) {
        for (int k = 0; k < 3; ++k) shift[k] = (&q->X)[k][0][0] - (&p->X)[k][0][0];
      }
      for (int t = 0; t <= 30; ++t) {
        const double u = (t % 6) / 5.0, v = (t / 6) / 5.0;
        double a[3], b[3], c[3], o[3], got[3];
        Eval3DPointOnCurve3Array(p, u, 0, a);
        Eval3DPointOnCurve3Array(q, v, 0, b);
        Eval3DPointOnCurve3Array(q, 0.0, 0, o);
        Eval3DPointOnSurfArray(s, u, v, 0, 0, got);
        for (int k = 0; k < 3; ++k) c[k] = a[k] + b[k] - o[k] + shift[k];
        EXPECT_LT(Gap(c, got), 1e-13) << kind << keepPlace << " at " << u << ", " << v;
      }
      if (s->rational && !keepPlace) {
        EXPECT_DOUBLE_EQ(s->W[0][0], path->rational ? path->W[0][0] : 1.0);
      }
    }
  }
}

TEST_F(SweepTest, StraightExtrusionOfACurve) {
  BsplineKeeper keep;
  Bspline* curve = keep(BuildRandomCurve(50, 3, 6, 3, true));
  const double w0 = curve->W[0][0], wLast = curve->W[0][5];
  double dir[3] = {0.5, -1, 2};
  for (int end = 0; end < 2; ++end) {
    Bspline* s = keep(CreateExtrudeSurface(curve, end, dir, 3.0));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(NumCtrlV(s), 4);  // the cubic straight path
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(s->X[j][i] - s->X[0][i], j * 0.5, 1e-14);
        EXPECT_NEAR(s->Y[j][i] - s->Y[0][i], -j * 1.0, 1e-14);
        EXPECT_NEAR(s->Z[j][i] - s->Z[0][i], j * 2.0, 1e-14);
      }
    // Both ways the profile is row 0 where it was; end 0 brings the corner weight to the line's 1.
    EXPECT_NEAR(s->X[0][0], curve->X[0][0], 1e-15);
    EXPECT_NEAR(s->W[0][5] / s->W[0][0], wLast / w0, 1e-14);
    EXPECT_DOUBLE_EQ(s->W[0][0], end == 0 ? 1.0 : w0);
  }
  Bspline* flat = keep(CreateExtrudeSurface(curve, 0, dir, 0.0));
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(flat->X[3][2], flat->X[0][2]);
  EXPECT_EQ(CreateExtrudeSurface(curve, 2, dir, 1.0), nullptr);
  ClearKernelError();
  Bspline* flat2 = keep(BuildRandomCurve(51, 2, 4, 2));
  EXPECT_EQ(CreateExtrudeSurface(flat2, 0, dir, 1.0), nullptr);
  ClearKernelError();
  EXPECT_GT(RunMakerWithInjectedFailures(40, 1,
                                         [&](Bspline** out) {
                                           *out = CreateExtrudeSurface(curve, 1, dir, 2.0);
                                           return *out ? 0 : -1;
                                         }),
            0);
}

// ---- Sweeps with moving frames ------------------------------------------------------------------

std::vector<double> Scaled(std::vector<double> v, double s) {
  for (double& x : v) x *= s;
  return v;
}

// A straight path has no principal normal anywhere: both sweeps translate the profile, every row
// the profile moved by the path's offset, at any scale.
TEST_F(SweepTest, FrameSweepsAlongAStraightPathTranslate) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int rule = 0; rule < 2; ++rule) {
      BsplineKeeper keep;
      // The first leg, which gives the first normal, is square to the path (the carried normal
      // would otherwise be moved onto the normal plane at the first step).
      Bspline* profile = keep(BuildCurve(2, 3, Scaled({0, 0, 0, 0.2, -0.1, 0, -0.2, 0.9, 0.4}, scale)));
      Bspline* shape = keep(CopyBsplineStruct(profile));
      // Uneven control points on one line: straight, but not a uniform speed.
      Bspline* path = keep(BuildCurve(3, 3, Scaled({1, 1, 1, 1.2, 1.4, 1.6, 2.5, 4, 5.5, 3, 5, 7}, scale)));
      Bspline* s = keep(rule ? NewExtrudeWRotation(profile, path, 1) : ExtrudeWRotation(profile, path, 1));
      ASSERT_NE(s, nullptr) << scale << rule;
      const double start[3] = {scale, scale, scale};
      for (int t = 0; t <= 24; ++t) {
        const double u = (t % 5) / 4.0, v = s->vmin + (t / 5) / 4.0 * (s->vmax - s->vmin);
        double p[3], q[3], on[3], c[3];
        Eval3DPointOnCurve3Array(shape, u, 0, p);
        Eval3DPointOnSurfArray(s, u, v, 0, 0, q);
        Eval3DPointOnSurfArray(s, 0.0, v, 0, 0, on);
        // The point is the profile point (which starts at 0) moved onto the path's point at v.
        for (int k = 0; k < 3; ++k) c[k] = p[k] + on[k];
        EXPECT_LT(Gap(c, q), 1e-6 * scale) << scale << rule << " at " << u << ", " << v;
        // The first column runs along the path's line.
        double d[3] = {on[0] - start[0], on[1] - start[1], on[2] - start[2]};
        EXPECT_LT(std::fabs(d[0] * 2 - d[1]) + std::fabs(d[0] * 3 - d[2]), 1e-6 * scale);
      }
    }
  }
}

// An S-shaped planar path: the principal normal flips at the inflection; the binormal rule turns
// it back, so the profile (a short leg across the path in its plane) stays on one side, and the
// carried normal never changes side; rows stay in the path's plane.
TEST_F(SweepTest, FrameSweepsKeepTheProfileOnOneSideOfAnSPath) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int rule = 0; rule < 2; ++rule) {
      BsplineKeeper keep;
      Bspline* path = keep(BuildCurve(3, 3, Scaled({0, 0, 0, 1, 1, 0, 2, 1, 0, 3, 0, 0, 4, -1, 0, 5, -1, 0, 6, 0, 0},
                                                   scale)));
      Bspline* profile = keep(BuildCurve(1, 3, Scaled({0, 0, 0, -0.1, 0.1, 0}, scale)));
      Bspline* s = keep(rule ? NewExtrudeWRotation(profile, path, 0) : ExtrudeWRotation(profile, path, 0));
      ASSERT_NE(s, nullptr);
      for (int j = 0; j < NumCtrlV(s); ++j) {
        const double a[3] = {s->X[j][0], s->Y[j][0], s->Z[j][0]}, b[3] = {s->X[j][1], s->Y[j][1], s->Z[j][1]};
        EXPECT_LT(std::fabs(a[2]) + std::fabs(b[2]), 1e-6 * scale) << scale << rule << " row " << j;
      }
      for (int t = 0; t <= 40; ++t) {
        const double v = s->vmin + t / 40.0 * (s->vmax - s->vmin);
        double a[3], b[3], tan[3], off[3], side[3];
        Eval3DPointOnSurfArray(s, 0.0, v, 0, 0, a);
        Eval3DPointOnSurfArray(s, 1.0, v, 0, 0, b);
        Eval3DPointOnSurfArray(s, 0.0, v, 0, 1, tan);
        VecDiff3(b, a, off);
        VecCrossProd3(tan, off, side);
        EXPECT_GT(side[2], 0.0) << scale << rule << " at " << v;  // left of the path throughout
        EXPECT_NEAR(VecSize3(off), 0.1 * std::sqrt(2.0) * scale, 0.05 * scale);
      }
    }
  }
}

// A frame sweep along a curved, twisting path is the same surface relative to its size at every
// size and wherever it lies: the path's refit keeps the digits of its shape far from the origin.
TEST_F(SweepTest, FrameSweepsAreAlikeAtEverySizeAndPlace) {
  const std::vector<double> path = {0, 0, 0, 1, 0.5, 0.2, 2, 0.2, 0.9, 2.6, -0.8, 1.2, 3.5, -0.5, 0.4, 4, 0.3, 0};
  const std::vector<double> profile = {0, 0, 0, 0.05, 0.2, 0.1, -0.1, 0.4, 0.3};
  auto placed = [](std::vector<double> v, double size, const double shift[3]) {
    for (size_t i = 0; i < v.size(); ++i) v[i] = shift[i % 3] + size * v[i];
    return v;
  };
  const double none[3] = {0, 0, 0};
  for (int rule = 0; rule < 2; ++rule) {
    BsplineKeeper keep;
    auto sweep = [&](double size, const double shift[3]) {
      Bspline* pr = keep(BuildCurve(2, 3, placed(profile, size, shift)));
      Bspline* pa = keep(BuildCurve(3, 3, placed(path, size, shift)));
      return keep(rule ? NewExtrudeWRotation(pr, pa, 0) : ExtrudeWRotation(pr, pa, 0));
    };
    Bspline* home = sweep(1.0, none);
    ASSERT_NE(home, nullptr);
    for (double size : {1e-6, 1.0, 1e6})
      for (double far : {0.0, 1.0}) {
        const double shift[3] = {1e4 * far * size, -6e3 * far * size, 3.5e3 * far * size};
        Bspline* s = sweep(size, shift);
        ASSERT_NE(s, nullptr) << size << " " << far;
        EXPECT_EQ(NumCtrlV(s), NumCtrlV(home)) << size << " " << far;
        double worst = 0.0;
        for (int a = 0; a <= 4; ++a)
          for (int b = 0; b <= 20; ++b) {
            const double u = a / 4.0, v = b / 20.0;
            double p[3], q[3];
            Eval3DPointOnSurfArray(home, home->umin + u * (home->umax - home->umin),
                                   home->vmin + v * (home->vmax - home->vmin), 0, 0, p);
            Eval3DPointOnSurfArray(s, s->umin + u * (s->umax - s->umin), s->vmin + v * (s->vmax - s->vmin), 0, 0, q);
            for (int k = 0; k < 3; ++k) q[k] = (q[k] - shift[k]) / size;
            worst = std::max(worst, Gap(p, q));
          }
        EXPECT_LT(worst, 1e-5) << "rule " << rule << " size " << size << " far " << far;
      }
  }
}

// Every row of a frame sweep is the profile moved rigidly: along a helix (constant curvature and
// torsion) and along a planar S path, the distances between a row's control points are the
// profile's, under both normal rules, and the rows lie close enough that the surface's
// cross-section between them (from the profile's first to its last point) keeps the profile's
// size.
TEST_F(SweepTest, FrameSweepRowsAreRigidCopiesOfTheProfile) {
  std::vector<double> helixPts;
  for (int i = 0; i < 12; ++i) {
    const double a = 4 * M_PI * i / 11;
    helixPts.insert(helixPts.end(), {std::cos(a), std::sin(a), 0.3 * a});
  }
  const std::vector<double>& helix = helixPts;
  const std::vector<double> sPath = {0, 0, 0, 1, 1, 0, 2, 1, 0, 3, 0, 0, 4, -1, 0, 5, -1, 0, 6, 0, 0};
  const std::vector<double> profile = {1, 0, 0, 1.1, 0.05, 0.1, 1.05, -0.1, 0.25, 0.9, 0.05, 0.3};
  for (const std::vector<double>* path : {&helix, &sPath})
    for (int rule = 0; rule < 2; ++rule) {
      BsplineKeeper keep;
      Bspline* pr = keep(BuildCurve(3, 3, profile));
      Bspline* pa = keep(BuildCurve(3, 3, *path));
      Bspline* s = keep(rule ? NewExtrudeWRotation(pr, pa, 0) : ExtrudeWRotation(pr, pa, 0));
      ASSERT_NE(s, nullptr);
      double worst = 0.0;
      for (int j = 0; j < NumCtrlV(s); ++j)
        for (int a = 0; a < 4; ++a)
          for (int b = a + 1; b < 4; ++b) {
            const double p[3] = {s->X[j][a], s->Y[j][a], s->Z[j][a]}, q[3] = {s->X[j][b], s->Y[j][b], s->Z[j][b]};
            const double* P = &profile[3 * a];
            const double* Q = &profile[3 * b];
            const double d0 = std::hypot(P[0] - Q[0], P[1] - Q[1], P[2] - Q[2]);
            worst = std::max(worst, std::fabs(Gap(p, q) - d0) / d0);
          }
      EXPECT_LT(worst, 1e-9) << (path == &helix ? "helix" : "S path") << " rule " << rule;
      double lo = 1e300, hi = 0;
      for (int t = 0; t <= 200; ++t) {
        const double v = s->vmin + t / 200.0 * (s->vmax - s->vmin);
        double a[3], b[3];
        Eval3DPointOnSurfArray(s, s->umin, v, 0, 0, a);
        Eval3DPointOnSurfArray(s, s->umax, v, 0, 0, b);
        lo = std::min(lo, Gap(a, b)), hi = std::max(hi, Gap(a, b));
      }
      // Blended between the rows, the cross-section keeps the profile's size.
      const double chord = std::hypot(0.1, 0.05, 0.3);
      EXPECT_GT(lo, (1 - 1e-3) * chord) << (path == &helix ? "helix" : "S path") << " rule " << rule;
      EXPECT_LT(hi, (1 + 1e-3) * chord) << (path == &helix ? "helix" : "S path") << " rule " << rule;
    }
}

TEST_F(SweepTest, PrincipalNormalsAndRefinedKnots) {
  BsplineKeeper keep;
  // A quarter circle of radius R about (1, 2, 3) in the xy plane: the normal points at the centre.
  for (double R : {1e-6, 1.0, 1e6}) {
    const double w = std::sqrt(0.5);
    Bspline* arc = keep(BuildCurve(2, 3, {1 + R, 2, 3, 1 + R, 2 + R, 3, 1, 2 + R, 3}, {}, {1, w, 1}));
    for (double t : {0.0, 0.3, 1.0}) {
      double n[3], p[3];
      NormalToCurve3(arc, t, n);
      Eval3DPointOnCurve3Array(arc, t, 0, p);
      EXPECT_NEAR(n[0], (1 - p[0]) / R, 1e-6) << R << " " << t;
      EXPECT_NEAR(n[1], (2 - p[1]) / R, 1e-6) << R << " " << t;
      EXPECT_NEAR(n[2], 0.0, 1e-12);
    }
  }
  Bspline* line = keep(BuildCurve(3, 3, {0, 0, 0, 1, 2, 3, 2, 4, 6, 3, 6, 9}));
  double n[3];
  NormalToCurve3(line, 0.4, n);
  EXPECT_EQ(VecSize3(n), 0.0);

  // A straight curve keeps its knots; one with a sharp bend gains knots at the bend, and keeps
  // every knot it had.
  double* knots = nullptr;
  int count = -1;
  Bspline* straight = keep(BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0}));
  EXPECT_EQ(RefineKnotVector(straight, &knots, &count), 1);
  ASSERT_EQ(count, NumKnotsU(straight));
  for (int i = 0; i < count; ++i) EXPECT_EQ(knots[i], straight->knotsU[i]);
  Free(knots);
  Bspline* bent = keep(BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 0, 0, 2.1, 0.1, 0, 2.1, 1, 0, 2.1, 2, 0, 2.1, 3, 0}));
  EXPECT_EQ(RefineKnotVector(bent, &knots, &count), 1);
  ASSERT_NE(knots, nullptr);
  EXPECT_GT(count, NumKnotsU(bent));
  for (int i = 1; i < count; ++i) EXPECT_LE(knots[i - 1], knots[i]);
  for (int i = 0; i < NumKnotsU(bent); ++i)
    EXPECT_NE(std::find(knots, knots + count, bent->knotsU[i]), knots + count) << i;
  Free(knots);
}

// Distance from p to the curve, by dense sampling.
double DistanceToCurve(const Bspline* c, const double p[3]) {
  double best = 1e300;
  for (int i = 0; i <= 4000; ++i) {
    double q[3];
    Eval3DPointOnCurve3Array(c, c->umin + i / 4000.0 * (c->umax - c->umin), 0, q);
    best = std::min(best, Gap(p, q));
  }
  return best;
}

// Generators of different degree and control-point count: the inner sweeps refit them, and the
// result still has one consistent v layout (under the sanitizers, no row is read that is not
// there); row 0 is the path and the outer columns follow the two generators.
TEST_F(SweepTest, TwoGeneratorSweepOfDifferentStructures) {
  BsplineKeeper keep;
  Bspline* path = keep(BuildCurve(2, 3, {0, 0, 0, 1, 0.5, 0, 2, 0, 0}));
  Bspline* gen2 = keep(BuildCurve(2, 3, {0, 0, 0, 0, 0.2, 1, 0.1, 0, 2, 0, 0, 3}));
  Bspline* gen1 = keep(BuildCurve(3, 3, {2, 0, 0, 2.1, 0.1, 0.4, 2.2, 0.2, 0.9, 2.2, 0.2, 1.5, 2.1, 0.1, 2.1, 2.05,
                                         0.05, 2.6, 2, 0, 3}));
  Bspline* g1 = keep(CopyBsplineStruct(gen1));
  Bspline* g2 = keep(CopyBsplineStruct(gen2));
  Bspline* shape = keep(CopyBsplineStruct(path));
  Bspline* s = keep(ExtrudeW2Generators(gen1, gen2, path));
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(NumCtrlU(s), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s->X[0][i], shape->X[0][i]);
  for (int t = 0; t <= 20; ++t) {
    const double v = s->vmin + t / 20.0 * (s->vmax - s->vmin);
    double a[3], b[3];
    Eval3DPointOnSurfArray(s, s->umin, v, 0, 0, a);
    Eval3DPointOnSurfArray(s, s->umax, v, 0, 0, b);
    EXPECT_LT(DistanceToCurve(g2, a), 0.01) << v;
    EXPECT_LT(DistanceToCurve(g1, b), 0.01) << v;
  }
  // Gaps: exactly the tolerance (a hundredth of the curves' size, 3) is not touching.
  Bspline* apart = keep(BuildCurve(2, 3, {0.03, 0, 0, 0.03, 0.2, 1, 0.03, 0, 2}));
  Bspline* p2 = keep(BuildCurve(2, 3, {0, 0, 0, 1, 0.5, 0, 2, 0, 0}));
  EXPECT_EQ(ExtrudeW2Generators(keep(CopyBsplineStruct(g1)), apart, p2), nullptr);
  EXPECT_EQ(zk_error_status, -10);
  ClearKernelError();
  EXPECT_GT(RunMakerWithInjectedFailures(1500, 37,
                                         [&](Bspline** out) {
                                           Bspline* a = CopyBsplineStruct(g1);
                                           Bspline* b = CopyBsplineStruct(g2);
                                           Bspline* c = CopyBsplineStruct(shape);
                                           *out = a && b && c ? ExtrudeW2Generators(a, b, c) : nullptr;
                                           FreeBspline(a);
                                           FreeBspline(b);
                                           FreeBspline(c);
                                           return *out ? 0 : -1;
                                         }),
            0);
}

// The same sweep at sizes 1e-6 .. 1e6, at the origin and moved 1e4 x the size away: the
// generators are met and followed alike, and a generator a fiftieth of the size off the path is
// refused at every size (an absolute 0.01 let it through at small sizes, and then turned the
// generators by ends it could not tell apart).
TEST_F(SweepTest, TwoGeneratorSweepAtEverySizeAndPlace) {
  const std::vector<double> pathPts = {0, 0, 0, 1, 0.5, 0, 2, 0, 0};
  const std::vector<double> gen2Pts = {0, 0, 0, 0, 0.2, 1, 0.1, 0, 2, 0, 0, 3};
  const std::vector<double> gen1Pts = {2, 0, 0, 2.1, 0.1, 0.4, 2.2, 0.2, 0.9, 2.2, 0.2, 1.5, 2.1, 0.1, 2.1,
                                       2.05, 0.05, 2.6, 2, 0, 3};
  const std::vector<double> offPts = {0.06, 0, 0, 0.06, 0.2, 1, 0.06, 0, 2};
  for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6})
    for (double away : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " away " << away);
      auto placed = [&](std::vector<double> p) {
        for (size_t i = 0; i < p.size(); ++i) p[i] = size * (p[i] + away * (i % 3 == 0 ? 1.0 : i % 3 == 1 ? -0.6 : 0.35));
        return p;
      };
      BsplineKeeper keep;
      Bspline* gen1 = keep(BuildCurve(3, 3, placed(gen1Pts)));
      Bspline* gen2 = keep(BuildCurve(2, 3, placed(gen2Pts)));
      // Given reversed: the sweep turns it to meet the path.
      Bspline* path = keep(BuildCurve(2, 3, placed({2, 0, 0, 1, 0.5, 0, 0, 0, 0})));
      Bspline* g1 = keep(CopyBsplineStruct(gen1));
      Bspline* g2 = keep(CopyBsplineStruct(gen2));
      Bspline* s = keep(ExtrudeW2Generators(gen1, gen2, path));
      ASSERT_NE(s, nullptr);
      for (int t = 0; t <= 10; ++t) {
        const double v = s->vmin + t / 10.0 * (s->vmax - s->vmin);
        double a[3], b[3];
        Eval3DPointOnSurfArray(s, s->umin, v, 0, 0, a);
        Eval3DPointOnSurfArray(s, s->umax, v, 0, 0, b);
        EXPECT_LT(DistanceToCurve(g2, a), 0.01 * size) << v;
        EXPECT_LT(DistanceToCurve(g1, b), 0.01 * size) << v;
      }
      Bspline* off = keep(BuildCurve(2, 3, placed(offPts)));
      Bspline* p2 = keep(BuildCurve(2, 3, placed(pathPts)));
      EXPECT_EQ(ExtrudeW2Generators(keep(CopyBsplineStruct(g1)), off, p2), nullptr);
      EXPECT_EQ(zk_error_status, -10);
      ClearKernelError();
    }
}

// ---- Tensor-product sweep -----------------------------------------------------------------------

// Built span by span from power forms, the sweep is still exactly the translation sweep
// a(u) + b(v) - b(start) for polynomial spans, also across a double knot (an empty span of the
// cubic) and with b rational of unit weights; neither rational: no weights to count in, null.
TEST_F(SweepTest, TensorSweepIsTheTranslationSweep) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    BsplineKeeper keep;
    Bspline* a = keep(BuildCurve(3, 3, Scaled({0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 0, 2, 4, 1, 0, 5, 2, 1}, scale),
                                 {0, 0, 0, 0, 0.4, 0.4, 1, 1, 1, 1}));
    Bspline* b = keep(BuildCurve(2, 3, Scaled({1, 1, 1, 1, 2, 3, 0, 4, 5, 2, 5, 6}, scale), {0, 0, 0, 0.3, 1, 1, 1},
                                 {1, 1, 1, 1}));
    Bspline* ref = keep(ExtrudeSurface(keep(CopyBsplineStruct(a)), keep(CopyBsplineStruct(b)), 1));
    Bspline* s = keep(TensorNewExtrudeWRotation(a, b, 0));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(NumCtrlU(s), 6);
    ASSERT_EQ(NumCtrlV(s), 4);
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(s->W[j][i], 1.0);
        const double p[3] = {s->X[j][i], s->Y[j][i], s->Z[j][i]}, q[3] = {ref->X[j][i], ref->Y[j][i], ref->Z[j][i]};
        EXPECT_LT(Gap(p, q), 1e-12 * scale) << scale << " " << i << ", " << j;
      }
  }
  BsplineKeeper keep;
  Bspline* a = keep(BuildRandomCurve(70, 3, 5));
  Bspline* b = keep(BuildRandomCurve(71, 2, 4));
  EXPECT_EQ(TensorNewExtrudeWRotation(a, b, 0), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  // An empty span is refused before out is touched.
  Bspline* twice = keep(BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0}, {0, 0, 0.5, 0.5, 1, 1}));
  double row[4] = {7, 7, 7, 7}, row2[4] = {7, 7, 7, 7};
  double* out[2] = {row, row2};
  EXPECT_EQ(getPolynomialCoefi(1, twice, out), -2);
  EXPECT_EQ(row[0], 7.0);
  Bspline* ra = keep(BuildRandomCurve(72, 3, 6, 3, true));
  EXPECT_GT(RunMakerWithInjectedFailures(200, 3,
                                         [&](Bspline** out) {
                                           *out = TensorNewExtrudeWRotation(ra, b, 0);
                                           return *out ? 0 : -1;
                                         }),
            0);
}

// Collapsed inputs through the sweeps end in a surface or a clean null, never a crash or a hang,
// and leave nothing tracked.
TEST_F(SweepTest, CollapsedInputsEndCleanly) {
  BsplineKeeper keep;
  auto point = [&](double x) { return keep(BuildCurve(3, 3, {x, 1, 2, x, 1, 2, x, 1, 2, x, 1, 2})); };
  Bspline* curve = keep(BuildRandomCurve(80, 3, 5));
  for (int which = 0; which < 4; ++which) {
    Bspline* p = which & 1 ? point(0.0) : keep(CopyBsplineStruct(curve));
    Bspline* q = which & 2 ? point(0.0) : keep(BuildRandomCurve(81, 2, 4));
    keep(ExtrudeWRotation(keep(CopyBsplineStruct(p)), q, 0));
    keep(NewExtrudeWRotation(keep(CopyBsplineStruct(p)), q, 0));
    ClearKernelError();
    keep(TensorNewExtrudeWRotation(keep(CopyBsplineStruct(p)), keep(BuildRandomCurve(82, 2, 4, 3, true)), 0));
    ClearKernelError();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
  }
}

}  // namespace
