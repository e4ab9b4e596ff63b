// Distances, intersections, planes, hulls, circles and spheres (geometry.h, geo2.h), against
// brute-force references and textbook identities.
#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/solvmat.h"
#include "foundation/vec3.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Geometry : public KernelTest {};

std::mt19937 rng(99);
double Dist2(const double a[3], const double b[3]) {
  return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
}
// out = s a + t b + (1 - s - t) c
void Combine(double s, const double a[3], double t, const double b[3], const double c[3], double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = s * a[k] + t * b[k] + (1 - s - t) * c[k];
}

// ---- distances and intersections -----------------------------------------------------------

TEST_F(Geometry, TriangleAndSegmentClosestPointsBeatDenseSampling) {
  for (int trial = 0; trial < 300; ++trial) {
    double a[3], b[3], c[3], p[3], q[3], x[3], y[3], foot[3], d2, s, t, dist, sampled = 1e300;
    RandomPoint(rng, a, 5.0), RandomPoint(rng, b, 5.0), RandomPoint(rng, c, 5.0), RandomPoint(rng, p, 8.0);
    if (trial % 3 == 0) {
      // Strongly obtuse at c: the region logic near that corner is where it used to go wrong.
      for (int k = 0; k < 3; ++k) c[k] = 0.5 * (a[k] + b[k]) + 0.05 * (c[k] - 0.5 * (a[k] + b[k]));
    }
    ASSERT_EQ(TriangPntMinDistSq(p, a, b, c, foot, &d2, &s, &t), 0);
    EXPECT_TRUE(s >= -1e-12 && t >= -1e-12 && s + t <= 1.0 + 1e-12);
    Combine(s, a, t, b, c, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(foot[k], q[k], 1e-9);
    EXPECT_NEAR(d2, Dist2(p, foot), 1e-9);
    for (int i = 0; i <= 120; ++i)
      for (int j = 0; i + j <= 120; ++j) {
        Combine(i / 120.0, a, j / 120.0, b, c, q);
        sampled = std::min(sampled, Dist2(p, q));
      }
    EXPECT_LE(d2, sampled + 1e-9) << "trial " << trial;
    EXPECT_GE(d2, sampled - 0.05 * std::sqrt(sampled) - 1e-3);  // the grid is close to the truth
    ASSERT_EQ(TriangPntMinDist(p, a, b, c, foot, &dist), 0);
    EXPECT_NEAR(dist * dist, d2, 1e-9);

    // Two segments p a and b c (every tenth a point against a segment).
    if (trial % 2) continue;
    if (trial % 10 == 0) std::copy(b, b + 3, c);
    if (LineSegsMinDistsq(p, a, b, c, &d2, &s, &t) != 0) continue;  // near-parallel by chance
    EXPECT_TRUE(s >= 0 && s <= 1 && t >= 0 && t <= 1);
    Combine(1 - s, p, s, a, a, x), Combine(1 - t, b, t, c, c, y);
    EXPECT_NEAR(Dist2(x, y), d2, 1e-9);
    sampled = 1e300;
    for (int i = 0; i <= 200; ++i)
      for (int j = 0; j <= 200; ++j) {
        Combine(1 - i / 200.0, p, i / 200.0, a, a, x), Combine(1 - j / 200.0, b, j / 200.0, c, c, y);
        sampled = std::min(sampled, Dist2(x, y));
      }
    EXPECT_LE(d2, sampled + 1e-9) << "trial " << trial;
  }
  // The inside of a triangle is told from its edges at every size: a point above the middle of
  // a triangle of any scale has its foot inside, straight below it.
  for (double scale = 1e-6; scale <= 1e6; scale *= 10.0) {
    const double a[3] = {0, 0, 0}, b[3] = {scale, 0, 0}, c[3] = {0, scale, 0};
    const double p[3] = {0.25 * scale, 0.25 * scale, 0.5 * scale};
    double foot[3], d2, s, t;
    TriangPntMinDistSq(p, a, b, c, foot, &d2, &s, &t);
    EXPECT_NEAR(d2, 0.25 * scale * scale, 1e-12 * scale * scale) << scale;
    EXPECT_NEAR(foot[0], 0.25 * scale, 1e-12 * scale) << scale;
    EXPECT_NEAR(foot[1], 0.25 * scale, 1e-12 * scale) << scale;
    EXPECT_NEAR(foot[2], 0.0, 1e-12 * scale) << scale;
  }
  // A collinear triangle whose middle corner is c: both halves are reachable.
  const double l0[3] = {0, 0, 0}, l1[3] = {2, 0, 0}, mid[3] = {1, 0, 0}, p[3] = {1.8, 1, 0};
  double foot[3], d2, s, t;
  TriangPntMinDistSq(p, l0, l1, mid, foot, &d2, &s, &t);
  EXPECT_NEAR(d2, 1.0, 1e-12);
  EXPECT_NEAR(foot[0], 1.8, 1e-12);
}

TEST_F(Geometry, NearParallelAndDegenerateInputsAreRefusedOrDefined) {
  // Refused within 0.1 degree of parallel, with the "no result" distance.
  const double p0[3] = {0, 0, 0}, p1[3] = {10, 0, 0}, q0[3] = {0, 1, 0}, d0[3] = {1, 0, 0};
  const double r05 = 0.05 * M_PI / 180, r1 = M_PI / 180;
  const double q1a[3] = {10 * std::cos(r05), 1 + 10 * std::sin(r05), 0};
  const double q1b[3] = {10 * std::cos(r1), 1 + 10 * std::sin(r1), 0};
  double d2, s, t, dist, f0[3], f1[3];
  EXPECT_EQ(LineSegsMinDistsq(p0, p1, q0, q1a, &d2, &s, &t), -2);
  EXPECT_EQ(d2, kEmptyBoxBound);
  EXPECT_EQ(LineSegsMinDistsq(p0, p1, q0, q1b, &d2, &s, &t), 0);
  EXPECT_NEAR(d2, 1.0, 1e-12);
  EXPECT_EQ(LinesMinDist(p0, d0, q0, d0, f0, f1, &dist), -2);
  EXPECT_EQ(dist, kEmptyBoxBound);
  // Parallel infinite lines: line 1's point and its foot on line 2.
  const double l1[6] = {0, 0, 0, 1, 0, 0}, l2[6] = {5, 3, 0, 7, 3, 0};
  LineLineMinDist(l1, l2, f0, f1, &dist);
  EXPECT_TRUE(f0[0] == 0.0 && std::fabs(f1[0]) < 1e-12 && std::fabs(dist - 3.0) < 1e-12);

  // Legacy: a collapsed segment is its midpoint with t = 0.
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, beyondA[3] = {-3, 1, 0}, p[3] = {1, 2, 3}, zero[3] = {0, 0, 0};
  LineSegPntMinSqDistParam(beyondA, a, a, f0, &d2, &t);
  EXPECT_TRUE(t == 0.0 && d2 == 10.0);
  // A line through two equal points or along a zero direction is no division by zero.
  LinePntMinDist(p, a, a, f0, &dist);
  EXPECT_TRUE(f0[0] == 0.0 && std::fabs(dist - std::sqrt(14.0)) < 1e-12);
  EXPECT_EQ(LinePointMinDistSq(a, zero, p, f0), kEmptyBoxBound);
  EXPECT_EQ(Plane3PntsMinDist(p, a, b, b, f0, &dist), -2);
  EXPECT_TRUE(f0[0] == p[0] && dist == 0.0);
  EXPECT_EQ(FindAngleVectors3(p, zero), 0.0);
  const double up[3] = {0, 0, 5};
  EXPECT_EQ(VecPlaneProject3(up, zero, f1), -2);
  EXPECT_EQ(VecPlaneProject3(up, up, f1), 0);  // parallel: a zero remainder, not a failure
  EXPECT_EQ(f1[2], 0.0);
}

// The same lines, segments and planes scaled from 1e-6 to 1e6 give the same answers in their own
// units: no closest point or intersection depends on an absolute length threshold.
TEST_F(Geometry, LinesAndPlanesAnswerAlikeAtEveryScale) {
  const double u[3] = {1 / 3.0, 2 / 3.0, 2 / 3.0}, w[3] = {2 / 3.0, 1 / 3.0, -2 / 3.0}, o[3] = {0.3, -0.2, 0.1};
  double v[3];
  VecCrossProd3(u, w, v);
  for (double s = 1e-6; s <= 1.5e6; s *= 10.0) {
    auto at = [&](double x, double y, double z, double out[3]) {  // s (o + x u + y w + z v)
      for (int k = 0; k < 3; ++k) out[k] = s * (o[k] + x * u[k] + y * w[k] + z * v[k]);
    };
    double a[3], b[3], p[3], expect[3], foot[3], d2, t, dist;
    // Foot on a line of length s.
    at(0, 0, 0, a), at(1, 0, 0, b), at(0.4, 0.7, 0, p), at(0.4, 0, 0, expect);
    LinePntMinDistSq(p, a, b, foot, &d2);
    EXPECT_NEAR(d2, 0.49 * s * s, 1e-12 * s * s) << s;
    EXPECT_LE(Dist2(foot, expect), 1e-24 * s * s) << s;
    // A sliver edge, 1e-5 of the scale long, still has its inside.
    at(0, 0, 0, a), at(1e-5, 0, 0, b), at(0.75e-5, 1e-6, 0, p);
    LineSegPntMinSqDistParam(p, a, b, foot, &d2, &t);
    EXPECT_NEAR(t, 0.25, 1e-6) << s;
    EXPECT_NEAR(d2, 1e-12 * s * s, 1e-18 * s * s) << s;
    // A line crossing a plane at 30 degrees.
    const PlaneEq plane = {w[0], w[1], w[2], -s * VecDotProd3(w, o)};
    double dir[3], x[3];
    at(0.2, 0.5, 0.1, p);
    for (int k = 0; k < 3; ++k) dir[k] = s * (std::sqrt(3.0) * u[k] - w[k]);
    if (PlaneLineIntersect(plane, p, dir, x) != 0) x[0] = x[1] = x[2] = 1e300;
    at(0.2 + 0.5 * std::sqrt(3.0), 0, 0.1, expect);
    EXPECT_LE(Dist2(x, expect), 1e-24 * s * s) << s;
    // Skew lines meet their common perpendicular at known points; parallel ones keep their gap.
    double l1[6], l2[6], q1[3], q2[3], e2[3];
    at(-0.5, 0, 0, l1), at(1.5, 0, 0, l1 + 3), at(0, 0.6, 0.7, l2), at(0, 0.6, -0.4, l2 + 3);
    LineLineMinDist(l1, l2, q1, q2, &dist);
    at(0, 0, 0, expect), at(0, 0.6, 0, e2);
    EXPECT_NEAR(dist, 0.6 * s, 1e-12 * s) << s;
    EXPECT_LE(Dist2(q1, expect) + Dist2(q2, e2), 1e-24 * s * s) << s;
    at(0.3, 0.6, 0, l2), at(2.0, 0.6, 0, l2 + 3);
    LineLineMinDist(l1, l2, q1, q2, &dist);
    EXPECT_NEAR(dist, 0.6 * s, 1e-9 * s) << s;
    EXPECT_NEAR(Dist2(q1, q2), 0.36 * s * s, 1e-9 * s * s) << s;
    // Planes and circles through three points, and crossing segments in space and in the plane.
    double c0[3], c1[3], c2[3], centre[3];
    PlaneEq pl = {0, 0, 0, 0};
    at(1, 0, 0, c0), at(0, 1, 0, c1), at(-1, 0, 0, c2), at(0, 0, 0, expect);
    EXPECT_EQ(FindPlaneEq(c0, c1, c2, pl), 0) << s;
    const double nl = VecSize3(pl);
    for (const double* q : {c0, c1, c2, expect}) EXPECT_NEAR(VecDotProd3(pl, q) + pl[3], 0.0, 1e-12 * s * nl) << s;
    EXPECT_NEAR(std::fabs(VecDotProd3(pl, v)), nl, 1e-12 * nl) << s;
    EXPECT_EQ(FindCircle3Pts(c0, c1, c2, centre), 1) << s;
    EXPECT_LE(Dist2(centre, expect), 1e-24 * s * s) << s;
    at(-0.5, 0, 0, c0), at(0.5, 0, 0, c1), at(0, 0.6, -0.3, c2), at(0, 0.6, 0.7, e2);
    double ss, tt;
    EXPECT_EQ(LineSegsMinDistsq(c0, c1, c2, e2, &d2, &ss, &tt), 0) << s;
    EXPECT_NEAR(d2, 0.36 * s * s, 1e-12 * s * s) << s;
    EXPECT_NEAR(ss, 0.5, 1e-12) << s;
    EXPECT_NEAR(tt, 0.3, 1e-12) << s;
    EXPECT_EQ(IsIntersectLines(0, 0, s, s, 0, s, s, 0), 1) << s;
    EXPECT_EQ(IsIntersectLines(0, 0, s, s, 0, s, s, 2 * s), 0) << s;  // parallel
    // Two directions perpendicular to a vector of length 1.3 s.
    const double n[3] = {0.3 * s, -0.4 * s, 1.2 * s};
    double p1[3], p2[3];
    EXPECT_EQ(PerpVecs(n, p1, p2), 0) << s;
    EXPECT_NEAR(VecSize3(p1), 1.0, 1e-12) << s;
    EXPECT_NEAR(VecSize3(p2), 1.3 * s, 1e-12 * s) << s;
    EXPECT_NEAR(VecDotProd3(p1, n), 0.0, 1e-12 * s) << s;
    EXPECT_NEAR(VecDotProd3(p2, n), 0.0, 1e-12 * s * s) << s;
  }
}

TEST_F(Geometry, LinesBoxesAndTrianglesAgreeWithReferences) {
  const double lo[3] = {-1, -2, -0.5}, hi[3] = {1.5, 1, 2};
  int hits = 0;
  for (int trial = 0; trial < 400; ++trial) {
    double p[3], q[3], nearest = 1e300;
    RandomPoint(rng, p, 4.0), RandomPoint(rng, q, 4.0);
    if (trial % 20 == 0) q[1] = p[1];  // constant along one axis
    const int r = IntersectsLineSegBbox(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], p[0], p[1], p[2], q[0], q[1], q[2]);
    // Sampled reference: inside with a margin -> must hit; far outside everywhere -> must miss.
    bool inside = false;
    for (int i = 0; i <= 4000; ++i) {
      double out = 0.0;
      bool in = true;
      for (int k = 0; k < 3; ++k) {
        const double s = p[k] + (q[k] - p[k]) * i / 4000.0, e = std::max({lo[k] - s, s - hi[k], 0.0});
        out += e * e;
        in = in && s > lo[k] + 1e-3 && s < hi[k] - 1e-3;
      }
      inside = inside || in;
      nearest = std::min(nearest, out);
    }
    EXPECT_TRUE((!inside || r == 1) && (nearest <= 1e-4 || r == 0)) << "trial " << trial;
    hits += r;
  }
  EXPECT_GT(hits, 20);
  for (int trial = 0; trial < 100; ++trial) {  // a line through a known barycentric point
    double A[3], B[3], C[3], dir[3], X[3], P[3], out[3], bary[3];
    RandomPoint(rng, A, 5.0), RandomPoint(rng, B, 5.0), RandomPoint(rng, C, 5.0), RandomPoint(rng, dir, 1.0);
    const double u = Uniform(rng, -0.2, 1.0), v = Uniform(rng, -0.2, 1.0), w = 1 - u - v;
    Combine(u, A, v, B, C, X);
    for (int k = 0; k < 3; ++k) P[k] = X[k] - 2.5 * dir[k];
    if (std::min({std::fabs(u), std::fabs(v), std::fabs(w)}) < 1e-6) continue;
    const int r = IntersectLineTriangle(A, B, C, dir, P, out, bary);
    EXPECT_EQ(r, u >= 0 && v >= 0 && w >= 0 ? 1 : 0);
    EXPECT_TRUE(r == 0 || (std::fabs(bary[0] - u) < 1e-7 && std::fabs(bary[1] - v) < 1e-7 && Dist2(out, X) < 1e-12));
    const bool near = std::min({u, v, w}) >= -0.25 && std::max({u, v, w}) <= 1.25;
    EXPECT_EQ(IntersectLineTriangleTol(A, B, C, dir, P, out, bary, 0.25), near ? 1 : 0);
    double wa = -1, wb = -1;  // in the xy plane the barycentric coordinates stay the same
    const int in = u > 0 && v > 0 && w > 0 ? 1 : 0;
    EXPECT_TRUE(IsPointInTriangle2D(A, B, C, X) == in && IsPointInTriangle2Dw(A, B, C, X, &wa, &wb) == in);
    EXPECT_TRUE(!in || (std::fabs(wa - u) < 1e-8 && std::fabs(wb - v) < 1e-8));
  }
  // A triangle collapsed to the segment (0,0)-(40,20).
  const double s0[2] = {0, 0}, s1[2] = {40, 20}, on[2] = {20, 10}, off[2] = {20, 12};
  EXPECT_EQ(IsPointInLine(s0, s0, s1, on), 1);
  EXPECT_EQ(IsPointInLine(s0, s1, s0, off), 0);
  EXPECT_EQ(IsPointInLine(s0, s1, off, on), 0);  // not degenerate
}

TEST_F(Geometry, PlanesThroughPointsAndTheirIntersections) {
  const double o[3] = {0, 0, 0}, x[3] = {1, 0, 0}, x2[3] = {2, 0, 0};
  PlaneEq pl;
  EXPECT_EQ(FindPlaneEq(o, x, x2, pl), -2);
  double q0[3], q1[3], out[3];
  const PlaneEq z0 = {0, 0, 1, 0};
  EXPECT_EQ(PlanesIntersect(z0, z0, q0, q1), -2);
  for (int trial = 0; trial < 30; ++trial) {
    PlaneEq a, b;
    RandomPoint(rng, a, 1.0), RandomPoint(rng, b, 1.0);
    a[3] = Uniform(rng, -3, 3), b[3] = Uniform(rng, -3, 3);
    if (PlanesIntersect(a, b, q0, q1) != 0) continue;
    EXPECT_GT(VecDist3(q0, q1), 1.0);
    for (const double* q : {q0, q1}) {
      EXPECT_NEAR(VecDotProd3(a, q) + a[3], 0.0, 1e-6 * (1 + VecSize3(q)));
      EXPECT_NEAR(VecDotProd3(b, q) + b[3], 0.0, 1e-6 * (1 + VecSize3(q)));
    }
  }
  // Three coordinate planes through (1, 2, 3) meet there.
  const double planes[3][4] = {{1, 0, 0, -1}, {0, 1, 0, -2}, {0, 0, 1, -3}};
  EXPECT_EQ(FindBestPlanesSect(planes, nullptr, 3, out), 1);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], k + 1.0, 1e-9);
  // A crease: the third plane holds the line of the other two, so only ref places the point.
  const double crease[3][4] = {{0, 0, 1, -1}, {1, 0, 0, -2}, {0, 0, 1, -1}};
  const double ref[3] = {5, 7, -4};
  EXPECT_EQ(FindBestPlanesSect(crease, ref, 3, out), 1);
  EXPECT_NEAR(out[0], 2.0, 1e-9);
  EXPECT_NEAR(out[1], 7.0, 1e-9);
  EXPECT_NEAR(out[2], 1.0, 1e-9);
  // A plane moved with a point transform: pass the inverse to TransformPlaneEq.
  Xform M, Minv;
  RandomAffine(rng, M);
  mat_inverse4(M, Minv);
  const PlaneEq base = {0.3, -0.4, 0.866, 1.5};
  PlaneEq moved;
  TransformPlaneEq(base, moved, Minv);
  double p[3] = {1, 1, -(base[3] + base[0] + base[1]) / base[2]};
  VecTrans3(p, M, p);
  EXPECT_NEAR(VecDotProd3(moved, p) + moved[3], 0.0, 1e-9);
}

// The clear-cut fit is the general fit's normal to round-off (up to sign) on noisy planar
// patches at every scale, and declines exactly where the general fit fails or the least spread
// is not apart from the next (points on a line, coincident points, a round blob).
TEST_F(Geometry, ClearCutPlaneNormalsMatchTheGeneralFitOrDecline) {
  std::mt19937 gen(5);
  int clear = 0;
  for (double scale : {1e-6, 1e-2, 1.0, 1e3, 1e6}) {
    for (int round = 0; round < 40; ++round) {
      const int n = 6 + round % 10;
      std::vector<float> fx(n), fy(n), fz(n);
      const double tilt[2] = {Uniform(gen, -2, 2), Uniform(gen, -2, 2)}, noise = round % 4 == 0 ? 0.3 : 0.01;
      for (int i = 0; i < n; ++i) {
        const double a = Uniform(gen, -1, 1), b = Uniform(gen, -1, 1);
        fx[i] = static_cast<float>(scale * (5 + a)), fy[i] = static_cast<float>(scale * b);
        fz[i] = static_cast<float>(scale * (tilt[0] * a + tilt[1] * b + noise * Uniform(gen, -1, 1)));
      }
      PlaneEq plane;
      double normal[3];
      ASSERT_EQ(PlaneFit(fx.data(), fy.data(), fz.data(), n, plane), 1);
      if (!PlaneFitClearNormal(fx.data(), fy.data(), fz.data(), n, normal)) continue;
      ++clear;
      const double sign = VecDotProd3(plane, normal) < 0 ? -1.0 : 1.0;
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(sign * normal[k], plane[k], 1e-12) << scale << " " << round;
    }
  }
  EXPECT_GT(clear, 150);  // nearly all patches are clear-cut
  double normal[3];
  std::vector<float> line = {0, 1, 2, 3, 4, 5, 6, 7}, same(8, 1.5f);
  EXPECT_EQ(PlaneFitClearNormal(line.data(), line.data(), line.data(), 8, normal), 0);
  EXPECT_EQ(PlaneFitClearNormal(same.data(), same.data(), same.data(), 8, normal), 0);
  // The corners of a regular octahedron spread alike in every direction.
  const std::vector<float> ox = {1, -1, 0, 0, 0, 0}, oy = {0, 0, 1, -1, 0, 0}, oz = {0, 0, 0, 0, 1, -1};
  EXPECT_EQ(PlaneFitClearNormal(ox.data(), oy.data(), oz.data(), 6, normal), 0);
}

TEST_F(Geometry, PlaneFitsRecoverThePlaneAndLeaveTheInputUntouched) {
  const int n = 40;
  std::vector<float> fx(n), fy(n), fz(n);
  std::vector<double> x(n), y(n), z(n), w(n);
  const double normal[3] = {2.0 / 3, -2.0 / 3, 1.0 / 3}, P[3] = {1, 2, 3};
  double u[3], v[3], unused[3], residual = -1, maxDist = -1;
  Vec3To3Vecs(normal, unused, u, v);
  for (int i = 0; i < n; ++i) {
    fx[i] = static_cast<float>(Uniform(rng, -5, 5)), fy[i] = static_cast<float>(Uniform(rng, -5, 5));
    fz[i] = 0.25f * fx[i] - 0.5f * fy[i] + 2.0f;  // exact in float for these magnitudes
    const double a = Uniform(rng, -4, 4), b = Uniform(rng, -4, 4);
    x[i] = P[0] + a * u[0] + b * v[0], y[i] = P[1] + a * u[1] + b * v[1], z[i] = P[2] + a * u[2] + b * v[2];
    w[i] = Uniform(rng, 0.5, 2.0);
  }
  const std::vector<float> fx0 = fx, fy0 = fy, fz0 = fz;
  const std::vector<double> x0 = x;
  PlaneEq plane, keep = {7, 7, 7, 7};
  ASSERT_EQ(PlaneFit(fx.data(), fy.data(), fz.data(), n, plane), 1);
  EXPECT_TRUE(fx == fx0 && fy == fy0 && fz == fz0);
  EXPECT_NEAR(VecSize3(plane), 1.0, 1e-12);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(plane[0] * fx[i] + plane[1] * fy[i] + plane[2] * fz[i] + plane[3], 0.0, 1e-5);
  EXPECT_EQ(PlaneFit(fx.data(), fx.data(), fx.data(), 5, keep), 0);  // few collinear points
  EXPECT_EQ(keep[0], 7.0);
  // The fit takes no memory: with every request refused it still gives the same plane to the
  // last bit and leaves the kernel's state clean.
  PlaneEq again;
  MallocFailAfter(0, -1);
  ASSERT_EQ(PlaneFit(fx.data(), fy.data(), fz.data(), n, again), 1);
  MallocFailClear();
  EXPECT_TRUE(again[0] == plane[0] && again[1] == plane[1] && again[2] == plane[2] && again[3] == plane[3]);
  EXPECT_FALSE(KernelFailed());
  ASSERT_EQ(PlaneFitThroughPoint(x.data(), y.data(), z.data(), n, w.data(), P, plane, &residual, &maxDist), 0);
  EXPECT_NEAR(std::fabs(VecDotProd3(plane, normal)), 1.0, 1e-12);
  EXPECT_NEAR(residual, 0.0, 1e-12);
  EXPECT_NEAR(maxDist, 0.0, 1e-10);
  EXPECT_EQ(x, x0);
  maxDist = -1;  // two points: the plane through them and P; maxDist is written too
  ASSERT_EQ(PlaneFitThroughPoint(x.data(), y.data(), z.data(), 2, nullptr, P, plane, &residual, &maxDist), 0);
  EXPECT_EQ(maxDist, 0.0);
  // The line through P along u lies in the plane.
  ASSERT_EQ(PlaneFitThroughLine(x.data(), y.data(), z.data(), n, nullptr, P, u, plane, &residual), 0);
  EXPECT_NEAR(std::fabs(VecDotProd3(plane, normal)), 1.0, 1e-10);
  EXPECT_NEAR(VecDotProd3(plane, P) + plane[3], 0.0, 1e-12);
  RunWithInjectedFailures(16, 1, [&] {
    return PlaneFitThroughPoint(x.data(), y.data(), z.data(), 5, nullptr, P, plane, &residual, &maxDist) |
           PlaneFitThroughLine(x.data(), y.data(), z.data(), 5, nullptr, P, u, plane, &residual);
  });
}

// Collinearity and the few-point plane fit give one answer for a set and the set scaled by any
// power of ten: a square fits its plane exactly, points on a line are refused, and a point that
// strays from the first by less than a millionth of the set's size counts as the first.
TEST_F(Geometry, FewPointFitsAnswerAlikeAtEveryScale) {
  for (int e = -6; e <= 6; ++e) {
    const double s = std::pow(10.0, e);
    SCOPED_TRACE(s);
    auto scaled = [s](std::vector<double> v) {
      std::vector<float> out;
      for (double c : v) out.push_back(static_cast<float>(c * s));
      return out;
    };
    // The square at height s: z is one float value, so the fit is exact.
    const std::vector<float> sx = scaled({0, 1, 0, 1}), sy = scaled({0, 0, 1, 1}), sz = scaled({1, 1, 1, 1});
    EXPECT_EQ(IsLinear(sx.data(), sy.data(), sz.data(), 4), 0);
    PlaneEq plane = {7, 7, 7, 7};
    ASSERT_EQ(PlaneFit(sx.data(), sy.data(), sz.data(), 4, plane), 1);
    const double sign = plane[2] > 0 ? 1 : -1;
    EXPECT_EQ(plane[0], 0.0);
    EXPECT_EQ(plane[1], 0.0);
    EXPECT_EQ(sign * plane[2], 1.0);
    EXPECT_EQ(sign * plane[3], -static_cast<double>(sz[0]));
    // Five points along (1, 2, 3) from a corner: refused, the plane unwritten.
    const std::vector<float> lx = scaled({1, 2, 3, 4, 5}), ly = scaled({1, 3, 5, 7, 9}), lz = scaled({1, 4, 7, 10, 13});
    EXPECT_EQ(IsLinear(lx.data(), ly.data(), lz.data(), 5), 1);
    PlaneEq keep = {7, 7, 7, 7};
    EXPECT_EQ(PlaneFit(lx.data(), ly.data(), lz.data(), 5, keep), 0);
    EXPECT_EQ(keep[0], 7.0);
    // The same line with one point 4e-7 of its size off the first, and with one a tenth off the line.
    const std::vector<float> nx = scaled({1, 1, 2, 3, 5}), ny = scaled({1, 1 + 4e-7, 3, 5, 9});
    const std::vector<float> nz = scaled({1, 1, 4, 7, 13});
    EXPECT_EQ(IsLinear(nx.data(), ny.data(), nz.data(), 5), 1);
    const std::vector<float> oy = scaled({1, 3, 5, 7.1, 9});
    EXPECT_EQ(IsLinear(lx.data(), oy.data(), lz.data(), 5), 0);
  }
}

// ---- hulls, point tests, circles and spheres ------------------------------------------------

using P2 = std::pair<double, double>;

double Cross(const P2& o, const P2& a, const P2& b) {
  return (a.first - o.first) * (b.second - o.second) - (a.second - o.second) * (b.first - o.first);
}

// Every strict hull vertex (by the monotone chain, collinear ones excluded) is flagged exactly
// once (one of its copies); nothing else is.
void ExpectHullFlags(const std::vector<float>& x, const std::vector<float>& y) {
  const int n = static_cast<int>(x.size());
  std::vector<P2> pts, h(2 * n + 2);
  for (int i = 0; i < n; ++i) pts.emplace_back(x[i], y[i]);
  std::vector<P2> s = pts;
  std::sort(s.begin(), s.end());
  s.erase(std::unique(s.begin(), s.end()), s.end());
  size_t k = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    while (k >= 2 && Cross(h[k - 2], h[k - 1], s[i]) <= 0) --k;
    h[k++] = s[i];
  }
  for (size_t i = s.size() - 1, t = k + 1; i > 0; --i) {
    while (k >= t && Cross(h[k - 2], h[k - 1], s[i - 1]) <= 0) --k;
    h[k++] = s[i - 1];
  }
  const std::set<P2> hull(h.begin(), h.begin() + (s.size() < 3 ? s.size() : k - 1));
  char* flags = GrahamConvexHull(x.data(), y.data(), n);
  ASSERT_NE(flags, nullptr);
  std::multiset<P2> flagged;
  for (int i = 0; i < n; ++i)
    if (flags[i] != 0) flagged.insert(pts[i]);
  Free(flags);
  EXPECT_EQ(flagged.size(), hull.size());
  for (const P2& v : hull) EXPECT_EQ(flagged.count(v), 1u) << "(" << v.first << ", " << v.second << ")";
}

TEST_F(Geometry, HullFlagsMatchTheMonotoneChain) {
  // Small integer grids make collinear runs along hull edges and exact duplicates common.
  for (int trial = 0; trial < 350; ++trial) {
    const bool grid = trial < 300;
    const int n = 4 + static_cast<int>(rng() % (grid ? 40 : 200)), span = 2 + static_cast<int>(rng() % 6);
    std::vector<float> x(n), y(n);
    for (int i = 0; i < n; ++i) {
      x[i] = grid ? static_cast<float>(rng() % span) : static_cast<float>(Uniform(rng, -10, 10));
      y[i] = grid ? static_cast<float>(rng() % span) : static_cast<float>(Uniform(rng, -10, 10));
    }
    SCOPED_TRACE(trial);
    ExpectHullFlags(x, y);
  }
  // All on one slanted line, all equal, and a doubled hull corner.
  ExpectHullFlags({0, 1, 2, 3, 4}, {0, 2, 4, 6, 8});
  ExpectHullFlags({1, 1, 1, 1, 1}, {2, 2, 2, 2, 2});
  ExpectHullFlags({0, 4, 4, 0, 0, 2}, {0, 0, 4, 4, 0, 1});
  const float x[5] = {0, 1, 1, 0, 0.5f}, y[5] = {0, 0, 1, 1, 0.5f};
  const int failures = RunWithInjectedFailures(6, 1, [&] {
    char* f = GrahamConvexHull(x, y, 5);
    EXPECT_EQ(f == nullptr, KernelFailedNow());
    Free(f);
    return f ? 0 : -2;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(Geometry, CirclesAndSpheresThroughPoints) {
  for (int trial = 0; trial < 30; ++trial) {
    double a[3], b[3], d[3], e[3], c[3], centre[3], radius, c1[3], c2[3];
    RandomPoint(rng, a, 3), RandomPoint(rng, b, 3), RandomPoint(rng, d, 3), RandomPoint(rng, e, 3);
    ASSERT_EQ(FitSphereFourPts(a, b, d, e, centre, &radius), 1);
    for (const double* q : {a, b, d, e}) EXPECT_NEAR(VecDist3(q, centre), radius, 1e-6 * (1 + radius));
    ASSERT_EQ(FindCircle3Pts(a, b, d, c), 1);
    const double r = VecDist3(a, c);
    EXPECT_TRUE(std::fabs(VecDist3(b, c) - r) < 1e-8 && std::fabs(VecDist3(d, c) - r) < 1e-8);
    ASSERT_EQ(FitSphere3PtsAndRadius(a, b, d, r + 1.0, c1, c2), 1);
    for (const double* q : {a, b, d})
      EXPECT_TRUE(std::fabs(VecDist3(q, c1) - r - 1) < 1e-8 && std::fabs(VecDist3(q, c2) - r - 1) < 1e-8);
    // A radius below the circle's has no sphere: a failure, not NaN centres.
    EXPECT_EQ(FitSphere3PtsAndRadius(a, b, d, 0.5 * r, c1, c2), 0);
  }
  // Degenerate input: a failure with the documented outputs, not a division by zero.
  const double q[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, p3[3] = {2, 0, 0};
  double c[3], radius = 5, cx = 7, cy = 7, r2 = 7;
  EXPECT_EQ(FindCircle3Pts(q[0], q[1], p3, c) + Get2DCircle(0, 0, 1, 1, 2, 2, &cx, &cy, &r2), 0);
  EXPECT_EQ(FitSphereFourPts(q[0], q[1], q[2], q[3], c, &radius), 0);
  EXPECT_TRUE(c[0] == 0.0 && cx == 7.0 && radius == 0.0);

  // Samples on a tilted circle of radius 2 through the point P: the fit through P.
  const double mid[3] = {1, -1, 2}, axis[3] = {1.0 / 3, 2.0 / 3, 2.0 / 3};
  double u[3], v[3], w[3], P[3], normal[3], tangentPoint[3], t[3], residual = -1;
  Vec3To3Vecs(axis, w, u, v);
  for (int k = 0; k < 3; ++k) P[k] = mid[k] + 2.0 * u[k];
  std::vector<double> xyz[3];
  for (double a = 0.3; xyz[0].size() < 12; a += 0.4)
    for (int k = 0; k < 3; ++k) xyz[k].push_back(mid[k] + 2.0 * (std::cos(a) * u[k] + std::sin(a) * v[k]));
  const std::vector<double> x0 = xyz[0], y0 = xyz[1], z0 = xyz[2];
  auto fit = [&](int n) {
    return CircleFitThroughPnt(P, n, xyz[0].data(), xyz[1].data(), xyz[2].data(), normal, c, &radius, tangentPoint,
                               &residual);
  };
  ASSERT_EQ(fit(12), 1);
  EXPECT_TRUE(xyz[0] == x0 && xyz[1] == y0 && xyz[2] == z0);  // samples are only read
  EXPECT_NEAR(radius, 2.0, 1e-9);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], mid[k], 1e-9);
  EXPECT_NEAR(std::fabs(VecDotProd3(normal, axis)), 1.0, 1e-9);
  // The tangent point is radius away from P along the circle's tangent at P, towards the samples.
  VecDiff3(tangentPoint, P, t);
  EXPECT_NEAR(VecSize3(t), 2.0, 1e-9);
  EXPECT_NEAR(VecDotProd3(t, u), 0.0, 1e-9);
  EXPECT_GT(VecDotProd3(t, v), 0.0);
  EXPECT_EQ(fit(1), 0);
}

}  // namespace
