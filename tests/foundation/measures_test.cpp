// Distances, angles and crossings of the smaller geometric helpers, against brute force and
// identities: segment distances against dense sampling (in space, in the plane and on the
// integer screen), the box distance against its four edges, angles against the vector angle,
// Vieta's formulas for the quadratic, crossing parameters that meet, and polygon
// self-crossings.
#include <algorithm>
#include <cmath>
#include <random>

#include "foundation/angle.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/vec3.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Measures : public KernelTest {};

// Squared distance from p to the segment a b by sampling it densely.
double SampledSegmentDist2(const double* p, const double* a, const double* b, int dim) {
  double best = 1e300;
  for (int i = 0; i <= 4000; ++i) {
    const double s = i / 4000.0;
    double d2 = 0.0;
    for (int k = 0; k < dim; ++k) d2 += std::pow(a[k] + s * (b[k] - a[k]) - p[k], 2);
    best = std::min(best, d2);
  }
  return best;
}

TEST_F(Measures, SegmentAndBoxDistancesBeatDenseSampling) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (int trial = 0; trial < 40; ++trial) {
    double p[3], a[3], b[3], foot[3], dist;
    for (int k = 0; k < 3; ++k) p[k] = u(rng), a[k] = u(rng), b[k] = u(rng);
    ASSERT_EQ(LineSegPntMinDist(p, a, b, foot, &dist), 0);
    const double ref = std::sqrt(SampledSegmentDist2(p, a, b, 3));
    EXPECT_TRUE(dist <= ref + 1e-12 && dist >= ref - 1e-3) << trial;
    EXPECT_NEAR(VecDist3(p, foot), dist, 1e-12);
    double d2, t, foot2[2];
    ASSERT_EQ(LineSegPnt2DMinDistSq(p, a, b, foot2, &d2, &t), 0);
    const double ref2 = SampledSegmentDist2(p, a, b, 2);
    EXPECT_TRUE(d2 <= ref2 + 1e-12 && d2 >= ref2 - 1e-3) << trial;
    EXPECT_NEAR(foot2[0], t * a[0] + (1 - t) * b[0], 1e-12);  // t weighs the first end
    // The screen version on integer pixels, the same convention for t.
    const int px = int(100 * p[0]), py = int(100 * p[1]), x0 = int(100 * a[0]), y0 = int(100 * a[1]),
              x1 = int(100 * b[0]), y1 = int(100 * b[1]);
    double ts;
    const double s2 = ScreenLineSeg2DPntMinSqDist(px, py, x0, y0, x1, y1, &ts);
    const double pp[2] = {double(px), double(py)}, aa[2] = {double(x0), double(y0)}, bb[2] = {double(x1), double(y1)};
    double f[2], e2, te;
    LineSegPnt2DMinDistSq(pp, aa, bb, f, &e2, &te);
    EXPECT_NEAR(s2, e2, 1e-9 * (1 + e2)) << trial;
    if (x0 != x1 || y0 != y1) {
      EXPECT_NEAR(ts, te, 1e-12) << trial;
    }
    // The box distance is the nearest of its four edges, inside the box as well.
    const Bbox box = {-1.0, -0.5, 0.0, 1.0, 0.7, 0.0};
    const double c[4][2] = {{-1.0, -0.5}, {1.0, -0.5}, {1.0, 0.7}, {-1.0, 0.7}};
    double best = 1e300;
    for (int k = 0; k < 4; ++k) best = std::min(best, SampledSegmentDist2(p, c[k], c[(k + 1) % 4], 2));
    const double bd = Distance2DBetPtAndBbox(p, box);
    EXPECT_TRUE(bd <= best + 1e-12 && bd >= best - 1e-3) << trial;
  }
  const double p[3] = {1, 2, 2}, o[3] = {0, 0, 0};
  double d = 0.0;
  EXPECT_EQ(DistanceBetweenPoints(p, o, &d), p);
  EXPECT_EQ(d, 3.0);
  int px = 5, py = 5;
  double t = -1.0;
  EXPECT_EQ(ScreenLineSeg2DPntMinSqDist(px, py, 2, 1, 2, 1, &t), 9.0 + 16.0);  // a one-pixel segment
  EXPECT_EQ(t, 0.0);
}

TEST_F(Measures, AnglesAreasPlanesAndRoots) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (int trial = 0; trial < 30; ++trial) {
    double p0[3], p1[3], q0[3], q1[3], d[3], e[3], n[3];
    for (int k = 0; k < 3; ++k) p0[k] = u(rng), p1[k] = u(rng), q0[k] = u(rng), q1[k] = u(rng), n[k] = u(rng);
    VecDiff3(p1, p0, d), VecDiff3(q1, q0, e);
    const double angle = LineLineAngle(p0, p1, q0, q1);
    EXPECT_NEAR(angle, FindAngleVectors3(d, e), 1e-9);
    EXPECT_NEAR(LineLineAngle(p1, p0, q0, q1), 180.0 - angle, 1e-9);  // one line reversed
    const double line[6] = {p0[0], p0[1], p0[2], p1[0], p1[1], p1[2]};
    const double a = FindAngleVectors3(d, n);
    EXPECT_NEAR(LinePlaneNormalAngle(line, n), std::min(a, 180.0 - a), 1e-9);
    const PlaneEq plane = {n[0], n[1], n[2], u(rng)};
    double unit[3], on[3];
    PlaneNormalDirection(plane, unit);
    EXPECT_NEAR(VecSize3(unit), 1.0, 1e-12);
    EXPECT_NEAR(FindAngleVectors3(unit, n), 0.0, 1e-6);
    ASSERT_EQ(GetPointOnPlane(plane, on), 0);
    EXPECT_NEAR(VecDotProd3(n, on) + plane[3], 0.0, 1e-12);
    double on2[3];
    ASSERT_EQ(GetPointOnPlaneCoord(plane, on2), 0);
    EXPECT_TRUE(std::equal(on, on + 3, on2));
    // Twice the triangle's area is the cross product's length, wherever the origin is.
    double c[3], ab[3];
    EXPECT_NEAR(AreaOfTriangle(p0, p1, q0), 0.5 * VecSize3(VecCrossProd3(d, VecDiff3(q0, p0, c), ab)), 1e-12);
    // The symmetric direction about a unit axis keeps the length and undoes itself.
    double s[3], back[3];
    GetSymetryDir(d, unit, s);
    EXPECT_NEAR(VecSize3(s), VecSize3(d), 1e-12);
    GetSymetryDir(s, unit, back);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(back[k], d[k], 1e-12);
    // Real roots satisfy Vieta's formulas.
    const double r1 = u(rng), r2 = u(rng), lead = trial % 2 ? 3.0 : -0.5;
    double x1, x2;
    SolveQuadratic(lead, -lead * (r1 + r2), lead * r1 * r2, &x1, &x2);
    EXPECT_NEAR(x1 + x2, r1 + r2, 1e-9);
    EXPECT_NEAR(x1 * x2, r1 * r2, 1e-9);
  }
  const PlaneEq none = {0, 0, 0, 1};
  double out[3] = {5, 5, 5};
  EXPECT_EQ(GetPointOnPlaneCoord(none, out), -2);
  EXPECT_EQ(out[0], 5.0);  // untouched
  EXPECT_EQ(GetPointOnPlane(none, out), -2);
  EXPECT_EQ(out[0], 0.0);  // legacy: cleared
  double zero[3];
  PlaneNormalDirection(none, zero);
  EXPECT_EQ(VecSize3(zero), 0.0);
  // Complex roots: the discriminant's absolute value (callers want two numbers).
  double x1, x2;
  SolveQuadratic(1.0, 0.0, 4.0, &x1, &x2);
  EXPECT_TRUE(x1 == 2.0 && x2 == -2.0);
}

// Crossing parameters of two segments give one point from both; a polygon crossing itself is
// found with its two edges; a line meets a box exactly when its slab intervals overlap.
TEST_F(Measures, CrossingsOfSegmentsPolygonsAndBoxes) {
  std::mt19937 rng(29);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int crossing = 0;
  for (int trial = 0; trial < 60; ++trial) {
    double v[8];
    for (double& x : v) x = u(rng);
    double s = -1, t = -1;
    const int r = Intersect2DSegments(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], &s, &t);
    EXPECT_NEAR(v[0] + s * (v[2] - v[0]), v[4] + t * (v[6] - v[4]), 1e-9);
    EXPECT_NEAR(v[1] + s * (v[3] - v[1]), v[5] + t * (v[7] - v[5]), 1e-9);
    EXPECT_EQ(r, s >= 0 && s <= 1 && t >= 0 && t <= 1);
    EXPECT_EQ(IsIntersectLines(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]), r);
    crossing += r;
  }
  EXPECT_TRUE(crossing > 5 && crossing < 55);
  EXPECT_EQ(IsIntersectLines(0, 0, 1, 1, 0, 1, 1, 2), 0);  // parallel

  // A square does not cross itself; a bow tie crosses at edges 0 and 2. The closing point is
  // appended in place.
  double x[5] = {0, 1, 1, 0}, y[5] = {0, 0, 1, 1};
  int i = -1, j = -1;
  EXPECT_EQ(IsClosedPoints2DIntersect(x, y, 4, &i, &j), 0);
  EXPECT_TRUE(x[4] == 0.0 && y[4] == 0.0);
  double bx[5] = {0, 1, 0, 1}, by[5] = {0, 1, 1, 0};
  EXPECT_EQ(IsClosedPoints2DIntersect(bx, by, 4, &i, &j), 1);
  EXPECT_TRUE(i == 0 && j == 2);

  // Lines through a box's inside meet it; ones offset past a face along it do not.
  for (int trial = 0; trial < 30; ++trial) {
    double in[3], d[3];
    for (int k = 0; k < 3; ++k) in[k] = 0.9 * u(rng), d[k] = u(rng);
    EXPECT_EQ(IntersectsLineBbox(-1, -1, -1, 1, 1, 1, in[0], in[1], in[2], d[0], d[1], d[2]), 1);
    EXPECT_EQ(IntersectsLineBbox(-1, -1, -1, 1, 1, 1, in[0], 1.5, in[2], d[0], 0.0, d[2]), 0);
  }
  EXPECT_EQ(IntersectsLineBbox(-1, -1, -1, 1, 1, 1, 3, 3, 0, 1, -1, 0), 0);  // passes the corner by
  EXPECT_EQ(IntersectsLineBbox(-1, -1, -1, 1, 1, 1, 1.5, 0, 0, 1, -1, 0), 1);  // cuts the corner off
}

}  // namespace
