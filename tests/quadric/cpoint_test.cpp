// Primitives from picked points and what is derived from them: every built curve and surface lies
// on the primitive its exact form describes, at every scale; degenerate picks give null, never
// NaN; centres, axes and mirror points come back to the picks.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "curve/cpoint.h"
#include "curve/mkline3.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "quadric/planefit.h"
#include "quadric/qcircle.h"
#include "quadric/quadrics.h"
#include "surface/cpoint.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"

namespace {

class PickedPrimitiveTest : public KernelTest {};

using Pts = std::vector<std::vector<double>>;

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Dist(const double a[3], const double b[3]) { return VecDist3(a, b); }

// Points of a curve or a surface on an n x n grid of its domain (n along a curve).
Pts Samples(const Bspline* b, int n = 9) {
  Pts out;
  for (int i = 0; i < (b->kind == 2 ? n : 1); ++i)
    for (int j = 0; j < n; ++j) {
      const double u = b->umin + (b->umax - b->umin) * j / (n - 1), v = b->vmin + (b->vmax - b->vmin) * i / (n - 1);
      double p[3];
      b->kind == 2 ? Eval3DPointOnSurfCoord(b, u, v, 0, 0, p) : Eval3DPointOnCurve3Coord(b, u, 0, p);
      out.push_back({p[0], p[1], p[2]});
    }
  return out;
}

// Distance of p from the line through a along the unit d; its height along d into *h.
double AxisDist(const double p[3], const double a[3], const double d[3], double* h) {
  const double q[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
  *h = Dot(q, d);
  const double r[3] = {q[0] - *h * d[0], q[1] - *h * d[1], q[2] - *h * d[2]};
  return VecSize3(r);
}

// Picks uniform in a cube of the given size about an offset.
struct Picker {
  std::mt19937 rng{11};
  double scale, offset[3];
  Picker(double s, double ox, double oy, double oz) : scale(s), offset{ox * s, oy * s, oz * s} {}
  void operator()(double p[3]) {
    std::uniform_real_distribution<double> U(-1, 1);
    for (int k = 0; k < 3; ++k) p[k] = offset[k] + scale * U(rng);
  }
};

TEST_F(PickedPrimitiveTest, CirclesAndArcsThroughThreePointsLieOnTheirExactForm) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    Picker pick(scale, 3, -2, 1);
    for (int trial = 0; trial < 4; ++trial) {
      double p1[3], p2[3], p3[3], e1[3], e2[3], x[3];
      pick(p1), pick(p2), pick(p3);
      for (int arc : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << "scale " << scale << " trial " << trial << " arc " << arc);
        BsplineKeeper keep;
        Bspline* c = keep(CreateCircleW3Points(p1, p2, p3, arc));
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->quadricType, arc ? 3 : 2);
        const double *q = c->quadric->v, *n = q + 3;
        // The picks and the curve lie on the described circle; the picks run counter-clockwise
        // about n.
        Pts on = Samples(c, 17);
        for (const double* p : {p1, p2, p3}) on.push_back({p[0], p[1], p[2]});
        for (const auto& s : on) {
          const double d[3] = {s[0] - q[0], s[1] - q[1], s[2] - q[2]};
          EXPECT_NEAR(VecSize3(d), q[6], 1e-9 * scale);
          EXPECT_NEAR(Dot(d, n), 0.0, 1e-9 * scale);
        }
        for (int k = 0; k < 3; ++k) e1[k] = p2[k] - p1[k], e2[k] = p3[k] - p1[k];
        EXPECT_GT(Dot(VecCrossProd3(e1, e2, x), n), 0.0);
        if (arc) {
          // From p1 to p3, sweeping the angle p1 -> p3 about n.
          const Pts s = Samples(c, 2);
          EXPECT_LT(Dist(s.front().data(), p1), 1e-9 * scale);
          EXPECT_LT(Dist(s.back().data(), p3), 1e-9 * scale);
          double a[3], b[3], ab[3];
          for (int k = 0; k < 3; ++k) a[k] = p1[k] - q[k], b[k] = p3[k] - q[k];
          const double t = std::atan2(Dot(VecCrossProd3(a, b, ab), n), Dot(a, b)) * 57.29577951308232;
          EXPECT_NEAR(q[7], t < 0 ? t + 360 : t, 1e-6);
        }
      }
    }
  }
  // About a centre: the quarter arc from (1, 0, 0) towards (0, 1, 0).
  const double a[3] = {1, 0, 0}, up[3] = {0, 1, 0}, o[3] = {0, 0, 0}, quarterInfo[8] = {0, 0, 0, 0, 0, 1, 1, 90};
  BsplineKeeper keep;
  Bspline* quarter = keep(CreateQuadricWCenAnd2Points(o, a, up, 1));
  ASSERT_NE(quarter, nullptr);
  for (int k = 0; k < 8; ++k) EXPECT_NEAR(quarter->quadric->v[k], quarterInfo[k], 1e-12) << k;
  EXPECT_LT(Dist(Samples(quarter, 2)[1].data(), up), 1e-12);
}

TEST_F(PickedPrimitiveTest, SpheresCylindersAndConesLieOnTheirExactForm) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(scale);
    Picker pick(scale, -1, 4, 2);
    BsplineKeeper keep;
    double p[4][3], h, c0[3], c1[3], side[3], centre[3];
    for (auto& q : p) pick(q);
    Bspline* sphere = keep(CreateSphereFrom4Points(p[0], p[1], p[2], p[3]));
    ASSERT_NE(sphere, nullptr);
    ASSERT_EQ(sphere->quadricType, 21);
    const double* s = sphere->quadric->v;
    for (auto& q : p) EXPECT_NEAR(Dist(q, s + 1), s[0], 1e-8 * scale);
    for (const auto& x : Samples(sphere)) EXPECT_NEAR(Dist(x.data(), s + 1), s[0], 1e-8 * scale);

    // Cylinder from base centre c0 to top centre c1 through a side point.
    pick(c0), pick(c1), pick(side);
    Bspline* cyl = keep(CreateCylinderWithCensAndPoint(c0, c1, side));
    ASSERT_NE(cyl, nullptr);
    ASSERT_EQ(cyl->quadricType, 22);
    const double* y = cyl->quadric->v;
    EXPECT_NEAR(AxisDist(side, y, y + 3, &h), y[6], 1e-9 * scale);
    for (const auto& x : Samples(cyl)) {
      EXPECT_NEAR(AxisDist(x.data(), y, y + 3, &h), y[6], 1e-9 * scale);
      EXPECT_TRUE(h >= y[7] - 1e-9 * scale && h <= y[8] + 1e-9 * scale);
    }
    // The axis line runs from the top centre to the base centre; the end circle nearer the
    // surface's v = vmin row is the base's.
    Bspline* axis = keep(CreateLineFromCylinderOrCone(cyl));
    ASSERT_NE(axis, nullptr);
    const Pts ends = Samples(axis, 2);
    EXPECT_LT(Dist(ends[0].data(), c1), 1e-9 * scale);
    EXPECT_LT(Dist(ends[1].data(), c0), 1e-9 * scale);
    ASSERT_EQ(FindQuadricBaseCenter(cyl, 0.3, cyl->vmin, centre), 1);
    EXPECT_LT(Dist(centre, c0), 1e-9 * scale);
    centre[0] = 7;
    EXPECT_EQ(FindQuadricCenter(cyl, centre), 0);
    EXPECT_EQ(centre[0], 7);

    // Cones with the wide end at the base and at the top, picks at different angles about the
    // axis: every point at height h from the apex lies |h| tan(half angle) from the axis, on the
    // built surface and on the exact surface made from the form.
    for (int wideTop : {0, 1}) {
      double a[3], e1[3], e2[3], q0[3], q1[3];
      const double ex[3] = {1, 0, 0};
      for (int k = 0; k < 3; ++k) a[k] = c1[k] - c0[k];
      VecNormalize3(VecCrossProd3(a, ex, e1), e1);
      VecNormalize3(VecCrossProd3(a, e1, e2), e2);
      const double r0 = (wideTop ? 0.5 : 1.5) * scale, r1 = (wideTop ? 1.5 : 0.5) * scale;
      for (int k = 0; k < 3; ++k) q0[k] = c0[k] + r0 * e1[k], q1[k] = c1[k] + r1 * (0.6 * e1[k] + 0.8 * e2[k]);
      Bspline* cone = keep(CreateConeWithCensAnd2Points(c0, c1, q0, q1));
      ASSERT_NE(cone, nullptr);
      ASSERT_EQ(cone->quadricType, 23);
      const double* k = cone->quadric->v;
      Bspline* again = keep(CreateConeBspline(cone->quadric));
      ASSERT_NE(again, nullptr);
      Pts on = Samples(cone);
      for (const auto& x : Samples(again)) on.push_back(x);
      for (const auto& x : on) {
        const double d = AxisDist(x.data(), k, k + 3, &h);
        EXPECT_NEAR(d, std::fabs(h) * std::tan(k[6]), 1e-8 * scale);
      }
      EXPECT_NEAR(AxisDist(q0, k, k + 3, &h), r0, 1e-9 * scale);
      EXPECT_NEAR(h, k[7], 1e-9 * scale);
      EXPECT_NEAR(AxisDist(q1, k, k + 3, &h), r1, 1e-9 * scale);
      EXPECT_NEAR(h, k[8], 1e-9 * scale);
      ASSERT_EQ(FindQuadricCenter(cone, centre), 1);
      EXPECT_LT(Dist(centre, k), 1e-15 * scale);
      ASSERT_EQ(FindQuadricBaseCenter(cone, 0, 0, centre), 1);
      EXPECT_LT(Dist(centre, c1), 1e-9 * scale);  // the far end: the top circle's centre
    }
  }
}

// A cone whose radii differ by a hundred-thousandth (its apex 1e5 sizes off) from picks at every
// size and place: the same cone, its apex where the picks put it, also 1e4 sizes from the origin.
TEST_F(PickedPrimitiveTest, SlenderConeFromPicksIsMadeAtEverySizeAndPlace) {
  const double c0u[3] = {0.1, -0.2, 0.3}, c1u[3] = {0.1, -0.2, 1.3}, p0u[3] = {0.6, -0.2, 0.3};
  const double p1u[3] = {0.1, -0.2 + 0.5 * (1 - 1e-5), 1.3};
  for (const Place& pl : EveryPlace()) {
    SCOPED_TRACE(Where(pl));
    double c0[3], c1[3], p0[3], p1[3];
    pl.Map(c0u, c0), pl.Map(c1u, c1), pl.Map(p0u, p0), pl.Map(p1u, p1);
    BsplineKeeper keep;
    Bspline* cone = keep(CreateConeWithCensAnd2Points(c0, c1, p0, p1));
    ASSERT_NE(cone, nullptr);
    double apex[3];
    pl.Unmap(cone->quadric->v, apex);
    // The radii's difference carries the picks' round-off, 1e4 sizes away 1e-12 of the size.
    EXPECT_NEAR(apex[2] - c0u[2], 1e5, 1e5 * (pl.far ? 1e-5 : 1e-9));
    EXPECT_NEAR(std::hypot(apex[0] - c0u[0], apex[1] - c0u[1]), 0.0, pl.far ? 1e-6 : 1e-9);
    EXPECT_NEAR(cone->quadric->v[6], std::atan(0.5 / 1e5), 5e-6 * (pl.far ? 1e-5 : 1e-9));
  }
}

TEST_F(PickedPrimitiveTest, DegeneratePicksGiveNullNeverNaN) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(scale);
    const double a[3] = {scale, 2 * scale, 3 * scale}, b[3] = {2 * scale, 3 * scale, 4 * scale};
    const double c[3] = {4 * scale, 5 * scale, 6 * scale}, d[3] = {scale, 0, 0};
    const double e[3] = {a[0] + b[0] - c[0], a[1] + b[1] - c[1], a[2] + b[2] - c[2] + scale};
    const double f[3] = {0.5 * (a[0] + e[0]), 0.5 * (a[1] + e[1]), 0.5 * (a[2] + e[2])};
    const double a2[3] = {a[0] + e[0] - b[0], a[1] + e[1] - b[1], a[2] + e[2] - b[2]};
    const double c2[3] = {c[0] + e[0] - b[0], c[1] + e[1] - b[1], c[2] + e[2] - b[2]};
    // Collinear or coincident points: no circle, arc or plane. Coplanar points or a point on the
    // centre: no sphere. Coincident centres: no axis; a side point on the axis: no radius; equal
    // cone radii: no apex; both radii zero: no cone.
    for (int arc : {0, 1}) {
      EXPECT_EQ(CreateCircleW3Points(a, b, c, arc), nullptr);
      EXPECT_EQ(CreateCircleW3Points(a, a, c, arc), nullptr);
      EXPECT_EQ(CreateCircleW3Points(a, b, a, arc), nullptr);
      EXPECT_EQ(CreateQuadricWCenAnd2Points(a, b, c, arc), nullptr);
      EXPECT_EQ(CreateQuadricWCenAnd2Points(a, a, d, arc), nullptr);
    }
    EXPECT_EQ(FitPlaneWith3Points(a, b, c), nullptr);
    EXPECT_EQ(FitPlaneWith3Points(a, a, d), nullptr);
    EXPECT_EQ(CreateSphereFrom4Points(a, b, e, f), nullptr);
    EXPECT_EQ(CreateSphereWithCenterAndPoint(a, a), nullptr);
    EXPECT_EQ(CreateCylinderWithCensAndPoint(a, a, d), nullptr);
    EXPECT_EQ(CreateCylinderWithCensAndPoint(a, c, b), nullptr);
    EXPECT_EQ(CreateConeWithCensAnd2Points(a, a, d, e), nullptr);
    EXPECT_EQ(CreateConeWithCensAnd2Points(a, c, b, b), nullptr);
    EXPECT_EQ(CreateConeWithCensAnd2Points(a, c, a2, c2), nullptr);
    EXPECT_FALSE(KernelFailedNow());
    // Parallel lines: a0 and its foot on line B.
    double pa[3], pb[3], dist = -1, foot[3];
    LineLineMinDist2(a, b, e, a2, pa, pb, &dist);
    const double dir[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {a[0] - e[0], a[1] - e[1], a[2] - e[2]};
    for (int k = 0; k < 3; ++k) foot[k] = e[k] + Dot(w, dir) / Dot(dir, dir) * dir[k];
    EXPECT_EQ(Dist(pa, a), 0.0);
    EXPECT_LT(Dist(pb, foot), 1e-12 * scale);
    EXPECT_NEAR(dist, Dist(a, foot), 1e-12 * scale);
  }
}

TEST_F(PickedPrimitiveTest, CrossSectionsLieOnTheirPlanesAndOnTheCurve) {
  BsplineKeeper keep;
  Xform I;
  Get_imat(I);
  double *x = nullptr, *y = nullptr, *z = nullptr;
  int n = 0;
  // The line from the origin to (10, 0, 0) cut by x = 2.5, 3.5, ..: planes past its end add
  // nothing, planes that all miss give -2.
  const double s[3] = {0, 0, 0}, e[3] = {10, 0, 0};
  Bspline* line = keep(CreateLineWith2Points(s, e));
  const PlaneEq plane = {1, 0, 0, -2.5}, far = {1, 0, 0, -20};
  ASSERT_EQ(CurveCrossSection(line, 12, 1.0, plane, I, &x, &y, &z, &n), 0);
  ASSERT_EQ(n, 8);
  for (int i = 0; i < n; ++i) EXPECT_TRUE(std::fabs(x[i] - 2.5 - i) < 1e-12 && y[i] == 0.0 && z[i] == 0.0) << i;
  Free(x), Free(y), Free(z);
  EXPECT_EQ(CurveCrossSection(line, 2, 1.0, far, I, &x, &y, &z, &n), -2);
  EXPECT_TRUE(x == nullptr && n == 0);
  // A circle cut by planes x = centre + 1.5, 1, .., -1: two points each, on both to round-off.
  for (double scale : {1e-6, 1.0, 1e6}) {
    const double centre[3] = {1 * scale, 2 * scale, 3 * scale};
    Bspline* circle = keep(NewCircleBspline(centre, 2 * scale));
    const PlaneEq cut = {-1, 0, 0, 2.5 * scale};
    ASSERT_EQ(CurveCrossSection(circle, 6, 0.5 * scale, cut, I, &x, &y, &z, &n), 0);
    EXPECT_EQ(n, 12);
    for (int i = 0; i < n; ++i) {
      const double p[3] = {x[i], y[i], z[i]}, offset = (x[i] - centre[0]) / scale;
      EXPECT_NEAR(Dist(p, centre), 2 * scale, 1e-12 * scale) << i;
      EXPECT_NEAR(offset * 2, std::round(offset * 2), 1e-12) << i;
    }
    Free(x), Free(y), Free(z);
  }
}

TEST_F(PickedPrimitiveTest, DerivedPointsComeBackToThePicks) {
  BsplineKeeper keep;
  // Mirroring twice through a plane patch returns the point, once puts it as far on the other side.
  const PlaneEq plane = {0.36, -0.48, 0.8, -1.5};
  const Bbox box = {-3, -3, -3, 3, 3, 3};
  Bspline* patch = keep(PutPlaneToBsplinePatch(plane, box, 0));
  ASSERT_NE(patch, nullptr);
  const double p[3] = {0.4, -0.2, 3.1};
  double once[3], twice[3];
  ASSERT_EQ(FindSymmetricPointFromBspline(patch, p, once), 1);
  ASSERT_EQ(FindSymmetricPointFromBspline(patch, once, twice), 1);
  EXPECT_LT(Dist(p, twice), 1e-9);
  EXPECT_NEAR(Dot(plane, once) + plane[3], -(Dot(plane, p) + plane[3]), 1e-9);
  // The centres of circles, arcs and spheres built about a centre are that centre; a sphere has
  // neither end centre nor axis.
  const double c[3] = {1, -2, 0.5}, q1[3] = {3, -2, 0.5}, q2[3] = {1, -1, 1.5};
  double centre[3];
  for (Bspline* b : {keep(CreateQuadricWCenAnd2Points(c, q1, q2, 0)), keep(CreateQuadricWCenAnd2Points(c, q1, q2, 1)),
                     keep(CreateSphereWithCenterAndPoint(c, q1))}) {
    ASSERT_EQ(FindQuadricCenter(b, centre), 1);
    EXPECT_LT(Dist(centre, c), 1e-15);
    for (const auto& x : Samples(b)) EXPECT_NEAR(Dist(x.data(), c), 2.0, 1e-12);
  }
  Bspline* sphere = keep(CreateSphereWithCenterAndPoint(c, q1));
  centre[0] = 9;
  EXPECT_EQ(FindQuadricBaseCenter(sphere, 0.5, 0.5, centre), 0);
  EXPECT_EQ(centre[0], 9);
  EXPECT_EQ(CreateLineFromCylinderOrCone(sphere), nullptr);
  // Two lines crossing at (1, 1, 1): their closest points are the crossing.
  const double a0[3] = {0, 0, 0}, a1[3] = {2, 2, 2}, b0[3] = {1, 0, 1}, b1[3] = {1, 3, 1}, meet[3] = {1, 1, 1};
  double pa[3], pb[3];
  EXPECT_EQ(FindPntsOn2CurvesClosest(keep(CreateLineBsplineDegree1(a0, a1)), keep(CreateLineBsplineDegree1(b0, b1)), pa, pb), 1);
  EXPECT_LT(Dist(pa, meet), 1e-9);
  EXPECT_LT(Dist(pb, meet), 1e-9);
  EXPECT_EQ(CopyDcoord(pa, 1, 1, 1), 1);
  EXPECT_EQ(Dist(pa, meet), 0.0);
}

TEST_F(PickedPrimitiveTest, BuildersUnderInjectedFailuresLeaveNothing) {
  const double c0[3] = {0, 0, 0}, c1[3] = {0, 0, 2}, p0[3] = {1.5, 0, 0}, p1[3] = {0, 0.5, 2};
  const double a[3] = {1, 0, 0}, b[3] = {0, 1, 0}, d[3] = {-1, 0, 0.5};
  auto run = [](auto make) {
    const int failures = RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) { return (*out = make()) ? 0 : -2; });
    EXPECT_GT(failures, 0);
    EXPECT_LT(failures, 60);
  };
  run([&] { return CreateConeWithCensAnd2Points(c0, c1, p0, p1); });
  run([&] { return CreateCylinderWithCensAndPoint(c0, c1, p0); });
  run([&] { return CreateCircleW3Points(a, b, d, 1); });
  run([&] { return CreateSphereFrom4Points(a, b, d, c1); });
  run([&] { return FitPlaneWith3Points(a, b, d); });
}

}  // namespace
