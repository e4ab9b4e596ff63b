// Offsets and principal curvature: the larger principal curvature of planes, spheres and
// cylinders (sign by the normal's side), the bounded walk off degenerate points, exact offsets of
// quadrics (every offset point of the source lies on the new quadric; collapsing offsets give
// their limit), interpolated offsets, and trim loops carried over with their hole flags while the
// source curves stay as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "construct/srfoffst.h"
#include "foundation/umalloc.h"
#include "quadric/qnurbs.h"
#include "splinefit/intrplt.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Offsets : public KernelTest {};

Bspline* Sphere(double r) {
  Bspline* s = MallocInitSurfaceBspline();
  if (SphereNurbs(1, -2, 3, r, s) != 0) return nullptr;
  return s;
}

Bspline* Cylinder(double r) {
  Bspline* s = MallocInitSurfaceBspline();
  const QuadricInfo q = {{1, 2, 3, 0, 0, 2, r, -1, 4}};
  if (CylinderNurbs(&q, s) != 0) return nullptr;
  return s;
}

Bspline* Cone(double half, double start, double end) {
  Bspline* s = MallocInitSurfaceBspline();
  const QuadricInfo q = {{0.5, -1, 2, 0, 1, 0, half, start, end}};
  if (ConeNurbs(&q, s) != 0) return nullptr;
  return s;
}

// Distance of p from the cone surface given by its description (apex, unit axis, half angle).
double ConeGap(const QuadricInfo& q, const double p[3]) {
  double d[3], ax[3], len = std::sqrt(q.v[3] * q.v[3] + q.v[4] * q.v[4] + q.v[5] * q.v[5]);
  for (int c = 0; c < 3; ++c) {
    d[c] = p[c] - q.v[c];
    ax[c] = q.v[3 + c] / len;
  }
  const double h = d[0] * ax[0] + d[1] * ax[1] + d[2] * ax[2];
  const double rho = std::sqrt(std::max(0.0, d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - h * h));
  // Distance in the half plane through the axis from the line rho = |h| tan(a).
  return std::fabs(rho * std::cos(q.v[6]) - std::fabs(h) * std::sin(q.v[6]));
}

void UnitNormal(const Bspline* s, double u, double v, double n[3]) {
  double a[3], b[3];
  RefEvalDeriv(s, u, v, 1, 0, a);
  RefEvalDeriv(s, u, v, 0, 1, b);
  n[0] = a[1] * b[2] - a[2] * b[1];
  n[1] = a[2] * b[0] - a[0] * b[2];
  n[2] = a[0] * b[1] - a[1] * b[0];
  const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (int c = 0; c < 3; ++c) n[c] /= l;
}

TEST_F(Offsets, LargerPrincipalCurvatureOfPlaneSphereAndCylinder) {
  BsplineKeeper keep;
  Bspline* plane = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x - 0.2 * y; }));
  ASSERT_NE(plane, nullptr);
  EXPECT_NEAR(FindCurvatureOfSurface(plane, 0.3, 0.7), 0.0, 1e-12);
  for (double r : {2.5, -2.5}) {
    Bspline* s = keep(Sphere(r));
    ASSERT_NE(s, nullptr);
    double limit;
    const bool inward = CheckForQuadricSurface(s, 0.0, &limit) == -10 && limit != 100000.0;
    // Inward normals see the sphere curving toward them: +1/R; outward -1/R. The poles
    // (v at either end) are reached by walking toward the middle.
    std::vector<double> us = {0.1, 0.37, 0.5, 0.9}, vs = {0.0, 0.2, 0.55, 1.0}, out(16);
    ASSERT_EQ(ComputeMaxCurvaNPnts(s, us.data(), vs.data(), out.data(), 4, 4), 0);
    for (double k : out) EXPECT_NEAR(k, (inward ? 1.0 : -1.0) / 2.5, 1e-3);
  }
  // The same answer in its own units at any size.
  for (double R : {2.5e-6, 2.5e6}) {
    Bspline* s = keep(MallocInitSurfaceBspline());
    ASSERT_EQ(SphereNurbs(0, 0, 0, R, s), 0);
    EXPECT_NEAR(FindCurvatureOfSurface(s, 0.3, 0.4) * R, -1.0, 1e-6) << R;
  }
  Bspline* cyl = keep(Cylinder(0.5));
  double limit;
  const bool inward = CheckForQuadricSurface(cyl, 0.0, &limit) == -10 && limit != 100000.0;
  // One principal curvature is 0 along the rulings; the larger is 2 inward, 0 outward.
  EXPECT_NEAR(FindCurvatureOfSurface(cyl, 0.3, 0.4), inward ? 2.0 : 0.0, 1e-9);
  // Degenerate all the way to the middle: every control point the same. The walk stops there.
  std::vector<double> pts(3 * 16, 1.5);
  Bspline* dot = keep(BuildSurface(3, 3, 4, 4, pts));
  EXPECT_EQ(FindCurvatureOfSurface(dot, 0.0, 1.0), 0.0);
}

TEST_F(Offsets, ExactQuadricOffsetsAndTheirLimits) {
  BsplineKeeper keep;
  for (double r : {5.0, -5.0}) {
    Bspline* s = keep(Sphere(r));
    double limit = 0;
    const int check = CheckForQuadricSurface(s, 6.0, &limit);
    const bool inward = limit != 100000.0;
    EXPECT_EQ(check, inward ? -100 : -10);
    Bspline* far = OffsetQuadricSurface(s, 6.0, &limit);
    if (inward) {
      EXPECT_EQ(far, nullptr);
      EXPECT_EQ(limit, 5.0);
    } else {
      ASSERT_NE(keep(far), nullptr);
      EXPECT_NEAR(far->quadric->v[0], 11.0, 1e-12);
    }
    Bspline* near = keep(OffsetQuadricSurface(s, 2.0, &limit));
    ASSERT_NE(near, nullptr);
    EXPECT_EQ(near->quadricType, 21);
    EXPECT_NEAR(std::fabs(near->quadric->v[0]), inward ? 3.0 : 7.0, 1e-12);
  }
  Bspline* cyl = keep(Cylinder(0.5));
  double limit = 0;
  const bool inward = CheckForQuadricSurface(cyl, 0.0, &limit) == -10 && limit != 100000.0;
  Bspline* thick = keep(OffsetQuadricSurface(cyl, 1.0, &limit));
  ASSERT_NE(thick, nullptr);
  if (inward) {
    EXPECT_EQ(thick, nullptr);
  } else {
    const double want[9] = {1, 2, 3, 0, 0, 2, 1.5, -1, 4};
    for (int k = 0; k < 9; ++k) EXPECT_EQ(thick->quadric->v[k], want[k]) << k;
  }
  Bspline* plane = keep(BuildFunctionPatch([](double, double) { return 0.0; }));
  plane->quadricType = 25;
  const QuadricInfo flat = {{0, 0, 1, 0}};
  plane->quadric = DuplicateQuadricInfo(&flat, 4);
  limit = 0;
  EXPECT_EQ(CheckForQuadricSurface(plane, 1.0, &limit), 0);
  EXPECT_EQ(limit, 100000.0);
}

// Every source point moved by d along the normal lies on the offset cone, for cones with both
// heights positive (the axis turned round) and straddling or below the apex, inward or out.
TEST_F(Offsets, ConeOffsetPointsLieOnTheNewCone) {
  BsplineKeeper keep;
  struct Case {
    double start, end, d;
  };
  for (const Case& c : {Case{1, 3, 0.2}, Case{1, 3, -0.2}, Case{-3, -1, 0.3}, Case{-3, -1, -0.3}}) {
    Bspline* src = keep(Cone(0.6, c.start, c.end));
    ASSERT_NE(src, nullptr);
    double limit = 0;
    QuadricInfo* q = ConeOffset(src, src->quadric, c.d, &limit);
    ASSERT_NE(q, nullptr) << c.start << " " << c.d;
    for (double u : {0.1, 0.45, 0.8})
      for (double v : {0.2, 0.5, 0.9}) {
        double p[3], n[3];
        RefEvalSurface(src, u, v, p);
        UnitNormal(src, u, v, n);
        const double moved[3] = {p[0] + c.d * n[0], p[1] + c.d * n[1], p[2] + c.d * n[2]};
        EXPECT_NEAR(ConeGap(*q, moved), 0.0, 1e-9) << c.start << " " << c.d;
      }
    for (int row = 0; row < 2; ++row) {
      double p[3], n[3];
      RefEvalSurface(src, 0.3, row, p);
      UnitNormal(src, 0.3, row, n);
      double h = 0.0;
      for (int k = 0; k < 3; ++k) h += (p[k] + c.d * n[k] - q->v[k]) * q->v[3 + k];
      EXPECT_NEAR(h, q->v[7 + row], 1e-9) << c.start << " " << c.d << " " << row;
    }
    Free(q);
  }
}

// Source curves: an outer square and a hole triangle on a cylinder, both lines in (u, v).
void AddLoops(Bspline* s) {
  auto line = [&](double u0, double v0, double u1, double v1) {
    return BuildCurveOnSurface(s, 1, {u0, v0, u1, v1});
  };
  AddLoop(s, {line(0.1, 0.2, 0.4, 0.2), line(0.4, 0.2, 0.4, 0.8), line(0.4, 0.8, 0.1, 0.8),
              line(0.1, 0.8, 0.1, 0.2)});
  AddLoop(s, {line(0.2, 0.4, 0.3, 0.4), line(0.3, 0.4, 0.25, 0.6), line(0.25, 0.6, 0.2, 0.4)}, 1);
  BuildCurveOnSurface(s, 3, {0.15, 0.3, 0.2, 0.5, 0.3, 0.5, 0.35, 0.7});  // a free curve
}

std::vector<std::vector<double>> CurveKnots(const Bspline* s) {
  std::vector<std::vector<double>> out;
  for (BsplineList* n = s->curves; n; n = n->next)
    out.emplace_back(n->item->knotsU, n->item->knotsU + NumKnotsU(n->item));
  return out;
}

TEST_F(Offsets, TrimLoopsAndFreeCurvesAreCarriedOverSourceUnchanged) {
  BsplineKeeper keep;
  Bspline* cyl = keep(Cylinder(0.5));
  AddLoops(cyl);
  const auto before = CurveKnots(cyl);
  double limit;
  const bool inward = CheckForQuadricSurface(cyl, 0.0, &limit) == -10 && limit != 100000.0;
  const double d = inward ? -0.25 : 0.25;  // away from the axis either way
  Bspline* off = keep(OffsetQuadricSurface(cyl, d, &limit));
  ASSERT_NE(off, nullptr);
  EXPECT_EQ(CurveKnots(cyl), before);
  std::vector<int> holes, counts;
  for (TrimList* t = off->trims; t; t = t->next) {
    holes.push_back(t->hole);
    counts.push_back(GetNumCurvePieces(t->loopCurves));
  }
  // Loops are pushed on the front: the hole, made last, comes first.
  EXPECT_EQ(holes, (std::vector<int>{1, 0}));
  EXPECT_EQ(counts, (std::vector<int>{3, 4}));
  EXPECT_EQ(GetNumCurvePieces(off->curves), 8);
  // Every carried curve runs on the offset at radius 0.75 from the axis (x, y about (1, 2)).
  for (BsplineList* n = off->curves; n; n = n->next) {
    EXPECT_EQ(n->item->owner, off);
    for (int k = 0; k <= 10; ++k) {
      const double t = n->item->umin + k * (n->item->umax - n->item->umin) / 10;
      double uv[3], p[3];
      RefEvalCurve(n->item, t, uv);
      RefEvalSurface(off, uv[0], uv[1], p);
      EXPECT_NEAR(std::hypot(p[0] - 1, p[1] - 2), 0.75, 1e-9);
    }
  }
}

// An interpolated offset of a tilted plane with a trim loop: the plane moved by d, its knots
// removed down to none, the loop carried.
TEST_F(Offsets, InterpolatedOffsetOfAPlaneWithItsLoop) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.5 * x + 0.25 * y; }));
  AddLoops(s);
  const int nu = 7, nv = 6;
  std::vector<double> x, y, z, nrm;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      double p[3], n[3];
      RefEvalSurface(s, double(i) / (nu - 1), double(j) / (nv - 1), p);
      UnitNormal(s, double(i) / (nu - 1), double(j) / (nv - 1), n);
      x.push_back(p[0]);
      y.push_back(p[1]);
      z.push_back(p[2]);
      nrm.insert(nrm.end(), n, n + 3);
    }
  const auto before = CurveKnots(s);
  Bspline* off =
      keep(CreateOffsetSurfaceBspline(s, x.data(), y.data(), z.data(), nrm.data(), nu, nv, 0.3, 1e-7));
  ASSERT_NE(off, nullptr);
  EXPECT_EQ(CurveKnots(s), before);
  EXPECT_EQ(off->interiorU, 0);
  EXPECT_EQ(off->interiorV, 0);
  double n[3];
  UnitNormal(s, 0.5, 0.5, n);
  for (double u : {0.0, 0.3, 1.0})
    for (double v : {0.1, 0.8}) {
      double p[3];
      RefEvalSurface(off, u, v, p);
      // Signed distance from the source plane z = 0.5 x + 0.25 y along its unit normal.
      const double dist = (p[0] * n[0] + p[1] * n[1] + p[2] * n[2]);
      EXPECT_NEAR(dist, 0.3, 1e-9);
    }
  ASSERT_NE(off->trims, nullptr);
  ASSERT_NE(off->trims->next, nullptr);
  EXPECT_EQ(off->trims->hole, 1);
  EXPECT_EQ(off->trims->next->hole, 0);
  EXPECT_EQ(GetNumCurvePieces(off->curves), 8);

  // Failed allocations: null and nothing tracked.
  const int failed = RunMakerWithInjectedFailures(3000, 37, [&](Bspline** out) {
    *out = CreateOffsetSurfaceBspline(s, x.data(), y.data(), z.data(), nrm.data(), nu, nv, 0.3, 1e-7);
    return *out ? 0 : -1;
  });
  EXPECT_GT(failed, 0);
  EXPECT_EQ(CurveKnots(s), before);
}

}  // namespace

namespace {

// A quarter-by-quarter patch of the torus of radii 0.7 and 0.3 (x size) about the z axis through
// offset x size, sampled on a 13 x 13 grid with its outward normals, offset by 0.1 x size: the
// interpolated offset's worst distance from the torus of minor radius 0.4, relative to the size.
double TorusOffsetError(double size, const double offset[3]) {
  const double R = 0.7, r = 0.3, d = 0.1, kQuarter = 1.5707963267948966;
  const int n = 13;
  std::vector<double> x, y, z, nrm;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double a = kQuarter * i / (n - 1), b = kQuarter * j / (n - 1);
      const double N[3] = {std::cos(b) * std::cos(a), std::cos(b) * std::sin(a), std::sin(b)};
      x.push_back(size * (offset[0] + R * std::cos(a) + r * N[0]));
      y.push_back(size * (offset[1] + R * std::sin(a) + r * N[1]));
      z.push_back(size * (offset[2] + r * N[2]));
      nrm.insert(nrm.end(), N, N + 3);
    }
  BsplineKeeper keep;
  Bspline* src = keep(SurfaceInterpolate(x.data(), y.data(), z.data(), n, n, nullptr, nullptr, 3, 3));
  if (!src) return 1e300;
  Bspline* off = keep(CreateOffsetSurfaceBspline(src, x.data(), y.data(), z.data(), nrm.data(), n, n, d * size,
                                                 1e-9 * size));
  if (!off || KernelFailed()) return 1e300;
  double worst = 0.0;
  for (int i = 0; i <= 20; ++i)
    for (int j = 0; j <= 20; ++j) {
      double p[3];
      const double u = off->umin + (off->umax - off->umin) * i / 20, v = off->vmin + (off->vmax - off->vmin) * j / 20;
      RefEvalSurface(off, u, v, p);
      const double q[3] = {p[0] / size - offset[0], p[1] / size - offset[1], p[2] / size - offset[2]};
      worst = std::max(worst, std::fabs(std::hypot(std::hypot(q[0], q[1]) - R, q[2]) - (r + d)));
    }
  return worst;
}

TEST_F(Offsets, TorusPatchOffsetHoldsItsAccuracyAtEverySizeAndPlace) {
  const double origin[3] = {0, 0, 0}, far[3] = {1e4, -6e3, 3.5e3};
  const double ref = TorusOffsetError(1.0, origin);
  ASSERT_LT(ref, 1e-4);
  for (double size : {1e-6, 1e-5, 1e-3, 1e3, 1e6})
    for (const double* offset : {origin, far}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << (offset == far));
      // Far away the coordinates carry round-off of 1e-12 of the size.
      EXPECT_NEAR(TorusOffsetError(size, offset), ref, 1e-3 * ref);
      EXPECT_FALSE(KernelFailed());
    }
}

}  // namespace
