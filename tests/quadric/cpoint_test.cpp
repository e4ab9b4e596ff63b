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

namespace {

class PickedPrimitiveTest : public KernelTest {};

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Dist(const double a[3], const double b[3]) { return VecDist3(a, b); }

// Points of a curve or a surface on a grid of its domain.
std::vector<std::vector<double>> Samples(const Bspline* b, int n = 9) {
  std::vector<std::vector<double>> out;
  const int rows = b->kind == 2 ? n : 1;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < n; ++j) {
      const double u = b->umin + (b->umax - b->umin) * j / (n - 1);
      double p[3];
      if (b->kind == 2)
        Eval3DPointOnSurfCoord(b, u, b->vmin + (b->vmax - b->vmin) * i / (rows - 1), 0, 0, p);
      else
        Eval3DPointOnCurve3Coord(b, u, 0, p);
      out.push_back({p[0], p[1], p[2]});
    }
  return out;
}

// Distance of p from the line through a along the unit d, and its height along d.
double AxisDist(const double p[3], const double a[3], const double d[3], double* h = nullptr) {
  const double q[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
  const double t = Dot(q, d);
  if (h) *h = t;
  const double r[3] = {q[0] - t * d[0], q[1] - t * d[1], q[2] - t * d[2]};
  return VecSize3(r);
}

// Random picks around an offset, scaled.
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
      double p1[3], p2[3], p3[3];
      pick(p1), pick(p2), pick(p3);
      for (int arc : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << "scale " << scale << " trial " << trial << " arc " << arc);
        BsplineKeeper keep;
        Bspline* c = keep(CreateCircleW3Points(p1, p2, p3, arc));
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->quadricType, arc ? 3 : 2);
        const double* q = c->quadric->v;
        const double C[3] = {q[0], q[1], q[2]}, n[3] = {q[3], q[4], q[5]}, r = q[6];
        EXPECT_NEAR(VecSize3(n), 1.0, 1e-12);
        // The picks lie on the described circle, and run counter-clockwise about n.
        for (const double* p : {p1, p2, p3}) {
          EXPECT_NEAR(Dist(p, C), r, 1e-9 * scale);
          const double d[3] = {p[0] - C[0], p[1] - C[1], p[2] - C[2]};
          EXPECT_NEAR(Dot(d, n), 0.0, 1e-9 * scale);
        }
        double e1[3], e2[3], x[3];
        for (int k = 0; k < 3; ++k) e1[k] = p2[k] - p1[k], e2[k] = p3[k] - p1[k];
        VecCrossProd3(e1, e2, x);
        EXPECT_GT(Dot(x, n), 0.0);
        // So does the curve.
        for (const auto& s : Samples(c, 17)) {
          EXPECT_NEAR(Dist(s.data(), C), r, 1e-9 * scale);
          const double d[3] = {s[0] - C[0], s[1] - C[1], s[2] - C[2]};
          EXPECT_NEAR(Dot(d, n), 0.0, 1e-9 * scale);
        }
        if (arc) {
          // From p1 to p3 through p2: the sweep is the angle p1 -> p3 about n, and p2 lies before it.
          const auto s = Samples(c, 2);
          EXPECT_LT(Dist(s.front().data(), p1), 1e-9 * scale);
          EXPECT_LT(Dist(s.back().data(), p3), 1e-9 * scale);
          auto angle = [&](const double* p) {
            double a[3], b[3], ab[3];
            for (int k = 0; k < 3; ++k) a[k] = p1[k] - C[k], b[k] = p[k] - C[k];
            VecCrossProd3(a, b, ab);
            const double t = std::atan2(Dot(ab, n), Dot(a, b)) * 57.29577951308232;
            return t < 0 ? t + 360 : t;
          };
          EXPECT_NEAR(q[7], angle(p3), 1e-6);
          EXPECT_LT(angle(p2), q[7]);
        }
      }
    }
  }
  // The half circles through (1, 0, 0) and (-1, 0, 0) over +y and under -y.
  const double a[3] = {1, 0, 0}, up[3] = {0, 1, 0}, down[3] = {0, -1, 0}, b[3] = {-1, 0, 0};
  BsplineKeeper keep;
  Bspline* upper = keep(CreateCircleW3Points(a, up, b, 1));
  Bspline* lower = keep(CreateCircleW3Points(a, down, b, 1));
  ASSERT_TRUE(upper && lower);
  const double upperInfo[8] = {0, 0, 0, 0, 0, 1, 1, 180}, lowerInfo[8] = {0, 0, 0, 0, 0, -1, 1, 180};
  for (int k = 0; k < 8; ++k) {
    EXPECT_NEAR(upper->quadric->v[k], upperInfo[k], 1e-12) << k;
    EXPECT_NEAR(lower->quadric->v[k], lowerInfo[k], 1e-12) << k;
  }
  // About a centre: the quarter arc from (1, 0, 0) towards (0, 1, 0).
  const double o[3] = {0, 0, 0};
  Bspline* quarter = keep(CreateQuadricWCenAnd2Points(o, a, up, 1));
  ASSERT_NE(quarter, nullptr);
  EXPECT_EQ(quarter->quadricType, 3);
  EXPECT_NEAR(quarter->quadric->v[6], 1.0, 1e-15);
  EXPECT_NEAR(quarter->quadric->v[7], 90.0, 1e-12);
  const auto ends = Samples(quarter, 3);
  const double mid[3] = {std::sqrt(0.5), std::sqrt(0.5), 0};
  EXPECT_LT(Dist(ends[1].data(), mid), 1e-12);
  EXPECT_LT(Dist(ends[2].data(), up), 1e-12);
}

TEST_F(PickedPrimitiveTest, SpheresCylindersAndConesLieOnTheirExactForm) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(scale);
    Picker pick(scale, -1, 4, 2);
    BsplineKeeper keep;
    double p[4][3];
    for (auto& q : p) pick(q);
    Bspline* sphere = keep(CreateSphereFrom4Points(p[0], p[1], p[2], p[3]));
    ASSERT_NE(sphere, nullptr);
    ASSERT_EQ(sphere->quadricType, 21);
    const double* s = sphere->quadric->v;
    for (auto& q : p) EXPECT_NEAR(Dist(q, s + 1), s[0], 1e-8 * scale);
    for (const auto& x : Samples(sphere)) EXPECT_NEAR(Dist(x.data(), s + 1), s[0], 1e-8 * scale);

    // Cylinder: base centre c0, top centre c1, side point p.
    double c0[3], c1[3], side[3];
    pick(c0), pick(c1), pick(side);
    Bspline* cyl = keep(CreateCylinderWithCensAndPoint(c0, c1, side));
    ASSERT_NE(cyl, nullptr);
    ASSERT_EQ(cyl->quadricType, 22);
    const double* y = cyl->quadric->v;
    EXPECT_NEAR(VecSize3(y + 3), 1.0, 1e-12);
    EXPECT_NEAR(AxisDist(side, y, y + 3), y[6], 1e-9 * scale);
    for (const auto& x : Samples(cyl)) {
      double h;
      EXPECT_NEAR(AxisDist(x.data(), y, y + 3, &h), y[6], 1e-9 * scale);
      EXPECT_GE(h, y[7] - 1e-9 * scale);
      EXPECT_LE(h, y[8] + 1e-9 * scale);
    }
    // The axis line runs from the top centre to the base centre; the end circle nearer the
    // surface's v = 0 row is the base.
    Bspline* axis = keep(CreateLineFromCylinderOrCone(cyl));
    ASSERT_NE(axis, nullptr);
    const auto ends = Samples(axis, 2);
    EXPECT_LT(Dist(ends[0].data(), c1), 1e-9 * scale);
    EXPECT_LT(Dist(ends[1].data(), c0), 1e-9 * scale);
    double centre[3] = {7, 7, 7};
    EXPECT_EQ(FindQuadricCenter(cyl, centre), 0);
    EXPECT_EQ(centre[0], 7);
    ASSERT_EQ(FindQuadricBaseCenter(cyl, 0.3, cyl->vmin, centre), 1);
    EXPECT_LT(Dist(centre, c0), 1e-9 * scale);
    ASSERT_EQ(FindQuadricBaseCenter(cyl, 0.3, cyl->vmax, centre), 1);
    EXPECT_LT(Dist(centre, c1), 1e-9 * scale);

    // Cone: picks at different angles about the axis; radii 1.5 and 0.5 (apex beyond the top)
    // and the other way round.
    for (int wideTop : {0, 1}) {
      double a[3], e1[3], e2[3];
      for (int k = 0; k < 3; ++k) a[k] = c1[k] - c0[k];
      const double ex[3] = {1, 0, 0};
      VecCrossProd3(a, ex, e1);
      VecNormalize3(e1, e1);
      VecCrossProd3(a, e1, e2);
      VecNormalize3(e2, e2);
      const double r0 = (wideTop ? 0.5 : 1.5) * scale, r1 = (wideTop ? 1.5 : 0.5) * scale;
      double q0[3], q1[3];
      for (int k = 0; k < 3; ++k) {
        q0[k] = c0[k] + r0 * e1[k];
        q1[k] = c1[k] + r1 * (0.6 * e1[k] + 0.8 * e2[k]);
      }
      Bspline* cone = keep(CreateConeWithCensAnd2Points(c0, c1, q0, q1));
      ASSERT_NE(cone, nullptr);
      ASSERT_EQ(cone->quadricType, 23);
      const double* k = cone->quadric->v;
      // Every point at height h along the axis from the apex lies |h| tan(half angle) from it, as
      // the exact cone surfaces read the form; the two picks too.
      const double t = std::tan(k[6]);
      for (const auto& x : Samples(cone)) {
        double h;
        const double d = AxisDist(x.data(), k, k + 3, &h);
        EXPECT_NEAR(d, std::fabs(h) * t, 1e-8 * scale);
      }
      double h0, h1;
      EXPECT_NEAR(AxisDist(q0, k, k + 3, &h0), r0, 1e-9 * scale);
      EXPECT_NEAR(AxisDist(q1, k, k + 3, &h1), r1, 1e-9 * scale);
      EXPECT_NEAR(h0, k[7], 1e-9 * scale);
      EXPECT_NEAR(h1, k[8], 1e-9 * scale);
      // The exact surface of the form is the same cone.
      Bspline* again = keep(CreateConeBspline(cone->quadric));
      ASSERT_NE(again, nullptr);
      for (const auto& x : Samples(again)) {
        double h;
        const double d = AxisDist(x.data(), k, k + 3, &h);
        EXPECT_NEAR(d, std::fabs(h) * t, 1e-8 * scale);
      }
      ASSERT_EQ(FindQuadricCenter(cone, centre), 1);
      EXPECT_LT(Dist(centre, k), 1e-15 * scale);
      ASSERT_EQ(FindQuadricBaseCenter(cone, 0, 0, centre), 1);
      EXPECT_LT(Dist(centre, c1), 1e-9 * scale);  // the far end: the top circle's centre
    }
  }
}

TEST_F(PickedPrimitiveTest, DegeneratePicksGiveNullNeverNaN) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(scale);
    const double a[3] = {scale, 2 * scale, 3 * scale}, b[3] = {2 * scale, 3 * scale, 4 * scale};
    const double c[3] = {4 * scale, 5 * scale, 6 * scale}, d[3] = {scale, 0, 0};
    // Collinear and coincident points have no circle, arc or plane.
    for (int arc : {0, 1}) {
      EXPECT_EQ(CreateCircleW3Points(a, b, c, arc), nullptr);
      EXPECT_EQ(CreateCircleW3Points(a, a, c, arc), nullptr);
      EXPECT_EQ(CreateCircleW3Points(a, b, a, arc), nullptr);
      EXPECT_EQ(CreateQuadricWCenAnd2Points(a, b, c, arc), nullptr);
      EXPECT_EQ(CreateQuadricWCenAnd2Points(a, a, d, arc), nullptr);
    }
    EXPECT_EQ(FitPlaneWith3Points(a, b, c), nullptr);
    EXPECT_EQ(FitPlaneWith3Points(a, a, d), nullptr);
    // Coplanar points have no sphere; a point on the centre gives none either.
    const double e[3] = {a[0] + b[0] - c[0], a[1] + b[1] - c[1], a[2] + b[2] - c[2] + scale};
    const double f[3] = {0.5 * (a[0] + e[0]), 0.5 * (a[1] + e[1]), 0.5 * (a[2] + e[2])};
    EXPECT_EQ(CreateSphereFrom4Points(a, b, e, f), nullptr);
    EXPECT_EQ(CreateSphereWithCenterAndPoint(a, a), nullptr);
    // Coincident centres have no axis; a side point on the axis no radius; equal cone radii no
    // apex; both cone radii zero no cone.
    EXPECT_EQ(CreateCylinderWithCensAndPoint(a, a, d), nullptr);
    EXPECT_EQ(CreateCylinderWithCensAndPoint(a, c, b), nullptr);
    EXPECT_EQ(CreateConeWithCensAnd2Points(a, a, d, e), nullptr);
    EXPECT_EQ(CreateConeWithCensAnd2Points(a, c, b, b), nullptr);
    const double a2[3] = {a[0] + e[0] - b[0], a[1] + e[1] - b[1], a[2] + e[2] - b[2]};
    const double c2[3] = {c[0] + e[0] - b[0], c[1] + e[1] - b[1], c[2] + e[2] - b[2]};
    EXPECT_EQ(CreateConeWithCensAnd2Points(a, c, a2, c2), nullptr);
    EXPECT_EQ(KernelFailedNow(), false);
    // Parallel lines: a0 and its foot on line B.
    double pa[3], pb[3], dist = -1;
    LineLineMinDist2(a, b, e, a2, pa, pb, &dist);
    EXPECT_EQ(Dist(pa, a), 0.0);
    double foot[3];
    const double dir[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double w[3] = {a[0] - e[0], a[1] - e[1], a[2] - e[2]};
    const double t = Dot(w, dir) / Dot(dir, dir);
    for (int k = 0; k < 3; ++k) foot[k] = e[k] + t * dir[k];
    EXPECT_LT(Dist(pb, foot), 1e-12 * scale);
    EXPECT_NEAR(dist, Dist(a, foot), 1e-12 * scale);
    EXPECT_TRUE(std::isfinite(dist));
  }
  // Skew lines: the connecting segment is perpendicular to both.
  const double a0[3] = {0, 0, 0}, a1[3] = {1, 0.2, 0}, b0[3] = {0.3, -1, 2}, b1[3] = {0.1, 1, 2.5};
  double pa[3], pb[3], dist;
  LineLineMinDist2(a0, a1, b0, b1, pa, pb, &dist);
  const double ab[3] = {pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
  const double dA[3] = {1, 0.2, 0}, dB[3] = {-0.2, 2, 0.5};
  EXPECT_NEAR(Dot(ab, dA), 0.0, 1e-12);
  EXPECT_NEAR(Dot(ab, dB), 0.0, 1e-12);
  EXPECT_NEAR(dist, VecSize3(ab), 1e-15);
}

TEST_F(PickedPrimitiveTest, CrossSectionsLieOnTheirPlanesAndOnTheCurve) {
  BsplineKeeper keep;
  const double s[3] = {0, 0, 0}, e[3] = {10, 0, 0};
  Bspline* line = keep(CreateLineWith2Points(s, e));
  Xform I;
  Get_imat(I);
  const PlaneEq plane = {1, 0, 0, -2.5};
  double *x = nullptr, *y = nullptr, *z = nullptr;
  int n = 0;
  ASSERT_EQ(CurveCrossSection(line, 3, 1.0, plane, I, &x, &y, &z, &n), 0);
  ASSERT_EQ(n, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(x[i], 2.5 + i, 1e-12);
    EXPECT_EQ(y[i], 0.0);
    EXPECT_EQ(z[i], 0.0);
  }
  Free(x), Free(y), Free(z);
  // Planes past the curve's end add nothing; planes that all miss give -2.
  ASSERT_EQ(CurveCrossSection(line, 12, 1.0, plane, I, &x, &y, &z, &n), 0);
  EXPECT_EQ(n, 8);
  Free(x), Free(y), Free(z);
  const PlaneEq far = {1, 0, 0, -20};
  EXPECT_EQ(CurveCrossSection(line, 2, 1.0, far, I, &x, &y, &z, &n), -2);
  EXPECT_EQ(x, nullptr);
  EXPECT_EQ(n, 0);
  // A circle cut by planes x = c: two points each, on the plane and on the circle to round-off.
  const double o[3] = {1, 2, 3};
  for (double scale : {1e-6, 1.0, 1e6}) {
    const double centre[3] = {o[0] * scale, o[1] * scale, o[2] * scale};
    Bspline* circle = keep(NewCircleBspline(centre, 2 * scale));
    const PlaneEq cut = {-1, 0, 0, (o[0] + 1.5) * scale};  // x = centre + 1.5, then + 1, + 0.5, ..
    ASSERT_EQ(CurveCrossSection(circle, 6, 0.5 * scale, cut, I, &x, &y, &z, &n), 0);
    EXPECT_EQ(n, 12);  // x = centre + 1.5, 1, 0.5, 0, -0.5, -1: two points each
    for (int i = 0; i < n; ++i) {
      const double p[3] = {x[i], y[i], z[i]};
      EXPECT_NEAR(Dist(p, centre), 2 * scale, 1e-12 * scale) << i;
      const double offset = (x[i] - centre[0]) / scale;
      EXPECT_NEAR(offset * 2, std::round(offset * 2), 1e-12) << i;
    }
    Free(x), Free(y), Free(z);
  }
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(PickedPrimitiveTest, DerivedPointsComeBackToThePicks) {
  BsplineKeeper keep;
  // Mirroring twice through a plane patch returns the point; 1 above a patch mirrors 1 below.
  const PlaneEq plane = {0.36, -0.48, 0.8, -1.5};
  const Bbox box = {-3, -3, -3, 3, 3, 3};
  Bspline* patch = keep(PutPlaneToBsplinePatch(plane, box, 0));
  ASSERT_NE(patch, nullptr);
  const double p[3] = {0.4, -0.2, 3.1};
  double once[3], twice[3];
  ASSERT_EQ(FindSymmetricPointFromBspline(patch, p, once), 1);
  ASSERT_EQ(FindSymmetricPointFromBspline(patch, once, twice), 1);
  EXPECT_LT(Dist(p, twice), 1e-9);
  const double fp = plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3];
  const double fo = plane[0] * once[0] + plane[1] * once[1] + plane[2] * once[2] + plane[3];
  EXPECT_NEAR(fo, -fp, 1e-9);
  // Centres of circles, arcs and spheres built from picks are the picked or derived centres.
  const double c[3] = {1, -2, 0.5}, q1[3] = {3, -2, 0.5}, q2[3] = {1, -1, 1.5};
  double centre[3];
  for (int arc : {0, 1}) {
    Bspline* circle = keep(CreateQuadricWCenAnd2Points(c, q1, q2, arc));
    ASSERT_EQ(FindQuadricCenter(circle, centre), 1);
    EXPECT_LT(Dist(centre, c), 1e-15);
  }
  Bspline* sphere = keep(CreateSphereWithCenterAndPoint(c, q1));
  ASSERT_EQ(FindQuadricCenter(sphere, centre), 1);
  EXPECT_LT(Dist(centre, c), 1e-15);
  for (const auto& x : Samples(sphere)) EXPECT_NEAR(Dist(x.data(), c), 2.0, 1e-12);
  // Neither cylinder nor cone: no base centre, nothing written.
  centre[0] = 9;
  EXPECT_EQ(FindQuadricBaseCenter(sphere, 0.5, 0.5, centre), 0);
  EXPECT_EQ(centre[0], 9);
  EXPECT_EQ(CreateLineFromCylinderOrCone(sphere), nullptr);
  // Two lines crossing at (1, 1, 1): their closest points are the crossing.
  const double a0[3] = {0, 0, 0}, a1[3] = {2, 2, 2}, b0[3] = {1, 0, 1}, b1[3] = {1, 3, 1};
  Bspline* A = keep(CreateLineBsplineDegree1(a0, a1));
  Bspline* B = keep(CreateLineBsplineDegree1(b0, b1));
  double pa[3], pb[3];
  EXPECT_EQ(FindPntsOn2CurvesClosest(A, B, pa, pb), 1);
  const double meet[3] = {1, 1, 1};
  EXPECT_LT(Dist(pa, meet), 1e-9);
  EXPECT_LT(Dist(pb, meet), 1e-9);
  EXPECT_EQ(A->quadricType, 1);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(A->quadric->v[3 + k], a1[k]);
}

TEST_F(PickedPrimitiveTest, BuildersUnderInjectedFailuresLeaveNothing) {
  const double c0[3] = {0, 0, 0}, c1[3] = {0, 0, 2}, p0[3] = {1.5, 0, 0}, p1[3] = {0, 0.5, 2};
  const double a[3] = {1, 0, 0}, b[3] = {0, 1, 0}, d[3] = {-1, 0, 0.5};
  auto run = [](auto make) {
    const int failures = RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) {
      *out = make();
      return *out ? 0 : -2;
    });
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
