#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/solvmat.h"
#include "tests/support/kernel_fixture.h"

namespace {

class DistanceTest : public KernelTest {};

std::mt19937 rng(99);
double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
void RandomPoint(double p[3], double r = 5.0) {
  for (int i = 0; i < 3; ++i) p[i] = Uniform(-r, r);
}
double Dist2(const double a[3], const double b[3]) {
  double s = 0.0;
  for (int i = 0; i < 3; ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
  return s;
}

// Smallest squared distance from p to the triangle by a dense barycentric grid.
double SampledTriangleDist2(const double p[3], const double a[3], const double b[3], const double c[3], int steps) {
  double best = 1e300;
  for (int i = 0; i <= steps; ++i)
    for (int j = 0; i + j <= steps; ++j) {
      const double s = double(i) / steps, t = double(j) / steps;
      double q[3];
      for (int k = 0; k < 3; ++k) q[k] = s * a[k] + t * b[k] + (1 - s - t) * c[k];
      best = std::fmin(best, Dist2(p, q));
    }
  return best;
}

TEST_F(DistanceTest, TriangleClosestPointBeatsDenseSampling) {
  for (int trial = 0; trial < 300; ++trial) {
    double a[3], b[3], c[3], p[3];
    RandomPoint(a);
    RandomPoint(b);
    RandomPoint(c);
    if (trial % 3 == 0) {
      // Strongly obtuse at c: the region logic near that corner is where it used to go wrong.
      for (int k = 0; k < 3; ++k) c[k] = 0.5 * (a[k] + b[k]) + 0.05 * (c[k] - 0.5 * (a[k] + b[k]));
    }
    RandomPoint(p, 8.0);
    double foot[3], d2, s, t;
    ASSERT_EQ(TriangPntMinDistSq(p, a, b, c, foot, &d2, &s, &t), 0);
    // The foot is in the triangle, matches its weights and its distance.
    EXPECT_GE(s, -1e-12);
    EXPECT_GE(t, -1e-12);
    EXPECT_LE(s + t, 1.0 + 1e-12);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(foot[k], s * a[k] + t * b[k] + (1 - s - t) * c[k], 1e-9);
    EXPECT_NEAR(d2, Dist2(p, foot), 1e-9);
    // No sample of the triangle is nearer.
    const double sampled = SampledTriangleDist2(p, a, b, c, 120);
    EXPECT_LE(d2, sampled + 1e-9) << "trial " << trial;
    EXPECT_GE(d2, sampled - 0.05 * std::sqrt(sampled) - 1e-3);  // the grid is close to the truth

    double foot2[3], dist;
    ASSERT_EQ(TriangPntMinDist(p, a, b, c, foot2, &dist), 0);
    EXPECT_NEAR(dist * dist, d2, 1e-9);
  }
}

TEST_F(DistanceTest, TriangleInteriorFootIsTheProjection) {
  const double a[3] = {0, 0, 0}, b[3] = {4, 0, 0}, c[3] = {0, 4, 0}, p[3] = {1, 1, 3};
  double foot[3], d2, s, t;
  TriangPntMinDistSq(p, a, b, c, foot, &d2, &s, &t);
  EXPECT_DOUBLE_EQ(d2, 9.0);
  EXPECT_DOUBLE_EQ(foot[0], 1.0);
  EXPECT_DOUBLE_EQ(foot[1], 1.0);
  EXPECT_DOUBLE_EQ(t, 0.25);  // weight of b
  // A collinear triangle whose middle corner is c: both halves are reachable.
  const double l0[3] = {0, 0, 0}, l1[3] = {2, 0, 0}, mid[3] = {1, 0, 0}, q[3] = {1.8, 1, 0};
  TriangPntMinDistSq(q, l0, l1, mid, foot, &d2, &s, &t);
  EXPECT_NEAR(d2, 1.0, 1e-12);
  EXPECT_NEAR(foot[0], 1.8, 1e-12);
}

TEST_F(DistanceTest, SegmentPairsBeatDenseSampling) {
  for (int trial = 0; trial < 150; ++trial) {
    double p0[3], p1[3], q0[3], q1[3];
    RandomPoint(p0);
    RandomPoint(p1);
    RandomPoint(q0);
    RandomPoint(q1);
    if (trial % 10 == 0) std::memcpy(q1, q0, sizeof q0);  // a point against a segment
    double d2, s, t;
    const int rc = LineSegsMinDistsq(p0, p1, q0, q1, &d2, &s, &t);
    if (rc != 0) continue;  // near-parallel by chance
    EXPECT_GE(s, 0.0);
    EXPECT_LE(s, 1.0);
    EXPECT_GE(t, 0.0);
    EXPECT_LE(t, 1.0);
    double best = 1e300;
    const int steps = 200;
    for (int i = 0; i <= steps; ++i)
      for (int j = 0; j <= steps; ++j) {
        double a[3], b[3];
        for (int k = 0; k < 3; ++k) {
          a[k] = p0[k] + (p1[k] - p0[k]) * i / steps;
          b[k] = q0[k] + (q1[k] - q0[k]) * j / steps;
        }
        best = std::fmin(best, Dist2(a, b));
      }
    EXPECT_LE(d2, best + 1e-9) << "trial " << trial;
    double a[3], b[3];
    for (int k = 0; k < 3; ++k) {
      a[k] = p0[k] + s * (p1[k] - p0[k]);
      b[k] = q0[k] + t * (q1[k] - q0[k]);
    }
    EXPECT_NEAR(Dist2(a, b), d2, 1e-9);
  }
}

TEST_F(DistanceTest, NearParallelSegmentsAreRefused) {
  const double p0[3] = {0, 0, 0}, p1[3] = {10, 0, 0}, q0[3] = {0, 1, 0};
  const double r05 = 0.05 * M_PI / 180, r1 = M_PI / 180;
  const double q1a[3] = {10 * std::cos(r05), 1 + 10 * std::sin(r05), 0};
  const double q1b[3] = {10 * std::cos(r1), 1 + 10 * std::sin(r1), 0};
  double d2, s, t;
  EXPECT_EQ(LineSegsMinDistsq(p0, p1, q0, q1a, &d2, &s, &t), -2);
  EXPECT_EQ(d2, static_cast<double>(3.37e38f));
  EXPECT_EQ(LineSegsMinDistsq(p0, p1, q0, q1b, &d2, &s, &t), 0);
  EXPECT_NEAR(d2, 1.0, 1e-12);  // closest at the start of both
  double f0[3], f1[3], dist = 0.0;
  const double d0[3] = {1, 0, 0};
  EXPECT_EQ(LinesMinDist(p0, d0, q0, d0, f0, f1, &dist), -2);
  EXPECT_EQ(dist, static_cast<double>(3.37e38f));
  const double dz[3] = {0, 0, 1}, c[3] = {3, 2, 5};
  EXPECT_EQ(LinesMinDist(p0, d0, c, dz, f0, f1, &dist), 0);
  EXPECT_NEAR(dist, 2.0, 1e-12);
  EXPECT_NEAR(f0[0], 3.0, 1e-12);
  EXPECT_NEAR(f1[2], 0.0, 1e-12);
}

TEST_F(DistanceTest, PointToSegmentLineAndPlane) {
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0};
  double foot[3], d2, t, dist;
  const double beyondA[3] = {-3, 1, 0};
  LineSegPntMinDistSq(beyondA, a, b, foot, &d2, &t);
  EXPECT_EQ(t, 1.0);
  EXPECT_EQ(foot[0], 0.0);
  const double beyondB[3] = {5, 0, 0};
  LineSegPntMinDist(beyondB, a, b, foot, &dist);
  EXPECT_EQ(foot[0], 2.0);
  EXPECT_EQ(dist, 3.0);
  LineSegPntMinSqDistParam(beyondB, a, a, foot, &d2, &t);  // collapsed: midpoint, t = 0
  EXPECT_EQ(t, 0.0);
  EXPECT_EQ(d2, 25.0);

  // A line through two equal points is the point itself, not a division by zero.
  const double p[3] = {1, 2, 3};
  LinePntMinDist(p, a, a, foot, &dist);
  EXPECT_EQ(foot[0], 0.0);
  EXPECT_NEAR(dist, std::sqrt(14.0), 1e-12);
  LinePntMinDistSq(p, a, b, foot, &d2);
  EXPECT_NEAR(foot[0], 1.0, 1e-15);
  EXPECT_NEAR(d2, 13.0, 1e-12);
  const double dir[3] = {0, 0, 0};
  EXPECT_EQ(LinePointMinDistSq(a, dir, p, foot), static_cast<double>(3.37e38f));

  PlaneMinDist(p, 0, 0, 2, -2, foot, &dist);  // z = 1, normal not unit
  EXPECT_NEAR(foot[2], 1.0, 1e-15);
  EXPECT_NEAR(dist, 2.0, 1e-15);
  const double c[3] = {0, 2, 0};
  EXPECT_EQ(Plane3PntsMinDist(p, a, b, c, foot, &dist), 0);
  EXPECT_NEAR(dist, 3.0, 1e-12);
  EXPECT_EQ(Plane3PntsMinDist(p, a, b, b, foot, &dist), -2);
  EXPECT_EQ(foot[0], p[0]);

  double ts;
  EXPECT_EQ(ScreenLineSeg2DPntMinSqDist(0, 0, 0, 3, 4, 3, &ts), 9.0);
  EXPECT_EQ(ScreenLineSeg2DPntMinSqDist(10, 3, 0, 3, 4, 3, &ts), 36.0);
  EXPECT_EQ(ts, 0.0);
}

TEST_F(DistanceTest, LineLineClosestPointsAreMutuallyPerpendicular) {
  for (int trial = 0; trial < 50; ++trial) {
    double l1[6], l2[6], q1[3], q2[3], dist;
    RandomPoint(l1);
    RandomPoint(l1 + 3);
    RandomPoint(l2);
    RandomPoint(l2 + 3);
    ASSERT_EQ(LineLineMinDist(l1, l2, q1, q2, &dist), 0);
    const double d1[3] = {l1[3] - l1[0], l1[4] - l1[1], l1[5] - l1[2]};
    const double d2[3] = {l2[3] - l2[0], l2[4] - l2[1], l2[5] - l2[2]};
    const double w[3] = {q2[0] - q1[0], q2[1] - q1[1], q2[2] - q1[2]};
    EXPECT_NEAR(VecDotProd3(w, d1), 0.0, 1e-8);
    EXPECT_NEAR(VecDotProd3(w, d2), 0.0, 1e-8);
    EXPECT_NEAR(dist, VecSize3(w), 1e-12);
  }
  // Parallel lines: line 1's point and its foot on line 2, at the lines' distance.
  const double l1[6] = {0, 0, 0, 1, 0, 0}, l2[6] = {5, 3, 0, 7, 3, 0};
  double q1[3], q2[3], dist;
  LineLineMinDist(l1, l2, q1, q2, &dist);
  EXPECT_EQ(q1[0], 0.0);
  EXPECT_NEAR(q2[0], 0.0, 1e-12);
  EXPECT_NEAR(q2[1], 3.0, 1e-12);
  EXPECT_NEAR(dist, 3.0, 1e-12);
}

TEST_F(DistanceTest, SegmentBoxTestAgreesWithSampling) {
  int hits = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const double lo[3] = {-1, -2, -0.5}, hi[3] = {1.5, 1, 2};
    double p[3], q[3];
    RandomPoint(p, 4.0);
    RandomPoint(q, 4.0);
    if (trial % 20 == 0) q[1] = p[1];  // constant along one axis
    const int r = IntersectsLineSegBbox(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], p[0], p[1], p[2], q[0], q[1], q[2]);
    // Sampled reference: inside with a margin -> must hit; far outside everywhere -> must miss.
    bool inside = false;
    double nearest = 1e300;
    for (int i = 0; i <= 4000; ++i) {
      double s[3], out = 0.0;
      for (int k = 0; k < 3; ++k) {
        s[k] = p[k] + (q[k] - p[k]) * i / 4000.0;
        const double e = std::fmax(std::fmax(lo[k] - s[k], s[k] - hi[k]), 0.0);
        out += e * e;
      }
      if (s[0] > lo[0] + 1e-3 && s[0] < hi[0] - 1e-3 && s[1] > lo[1] + 1e-3 && s[1] < hi[1] - 1e-3 &&
          s[2] > lo[2] + 1e-3 && s[2] < hi[2] - 1e-3)
        inside = true;
      nearest = std::fmin(nearest, out);
    }
    if (inside) {
      EXPECT_EQ(r, 1) << "trial " << trial;
    }
    if (nearest > 1e-4) {
      EXPECT_EQ(r, 0) << "trial " << trial;
    }
    hits += r;
    const double d[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
    if (r == 1) {
      EXPECT_EQ(IntersectsLineBbox(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], p[0], p[1], p[2], d[0], d[1], d[2]), 1);
    }
  }
  EXPECT_GT(hits, 20);
}

TEST_F(DistanceTest, LineTriangleRecoversBarycentricPoint) {
  for (int trial = 0; trial < 100; ++trial) {
    double A[3], B[3], C[3], dir[3];
    RandomPoint(A);
    RandomPoint(B);
    RandomPoint(C);
    RandomPoint(dir, 1.0);
    const double u = Uniform(-0.2, 1.0), v = Uniform(-0.2, 1.0);
    double X[3], P[3];
    for (int k = 0; k < 3; ++k) {
      X[k] = u * A[k] + v * B[k] + (1 - u - v) * C[k];
      P[k] = X[k] - 2.5 * dir[k];
    }
    double out[3], bary[3];
    const int r = IntersectLineTriangle(A, B, C, dir, P, out, bary);
    const bool in = u >= 0 && v >= 0 && u + v <= 1;
    if (std::fabs(u) < 1e-6 || std::fabs(v) < 1e-6 || std::fabs(1 - u - v) < 1e-6) continue;
    EXPECT_EQ(r, in ? 1 : 0);
    if (r == 1) {
      EXPECT_NEAR(bary[0], u, 1e-7);
      EXPECT_NEAR(bary[1], v, 1e-7);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], X[k], 1e-6);
    }
    const double w = 1 - u - v;
    const bool near = u >= -0.25 && v >= -0.25 && w >= -0.25 && u <= 1.25 && v <= 1.25 && w <= 1.25;
    EXPECT_EQ(IntersectLineTriangleTol(A, B, C, dir, P, out, bary, 0.25), near ? 1 : 0);
  }
}

TEST_F(DistanceTest, PlanesThroughPointsAndTheirIntersections) {
  const double o[3] = {0, 0, 0}, x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
  PlaneEq pl;
  ASSERT_EQ(FindPlaneEq(o, x, y, pl), 0);
  EXPECT_EQ(pl[0], 0.0);
  EXPECT_EQ(pl[1], 0.0);
  EXPECT_EQ(pl[2], 1.0);
  EXPECT_EQ(pl[3], 0.0);
  const double x2[3] = {2, 0, 0};
  EXPECT_EQ(FindPlaneEq(o, x, x2, pl), -2);

  const PlaneEq z0 = {0, 0, 1, 0}, y0 = {0, 1, 0, 0};
  double q0[3], q1[3];
  ASSERT_EQ(PlanesIntersect(z0, y0, q0, q1), 0);
  EXPECT_EQ(q1[0], 1024.0);
  EXPECT_EQ(q1[1], 0.0);
  EXPECT_EQ(q1[2], 0.0);
  EXPECT_EQ(PlanesIntersect(z0, z0, q0, q1), -2);
  for (int trial = 0; trial < 30; ++trial) {
    PlaneEq a, b;
    RandomPoint(a, 1.0);
    RandomPoint(b, 1.0);
    a[3] = Uniform(-3, 3);
    b[3] = Uniform(-3, 3);
    if (PlanesIntersect(a, b, q0, q1) != 0) continue;
    for (const double* q : {q0, q1}) {
      EXPECT_NEAR(VecDotProd3(a, q) + a[3], 0.0, 1e-6 * (1 + VecSize3(q)));
      EXPECT_NEAR(VecDotProd3(b, q) + b[3], 0.0, 1e-6 * (1 + VecSize3(q)));
    }
  }
  // Three coordinate planes through (1, 2, 3) meet there.
  const double planes[3][4] = {{1, 0, 0, -1}, {0, 1, 0, -2}, {0, 0, 1, -3}};
  double out[3];
  EXPECT_EQ(FindBestPlanesSect(planes, nullptr, 3, out), 1);
  EXPECT_NEAR(out[0], 1.0, 1e-9);
  EXPECT_NEAR(out[1], 2.0, 1e-9);
  EXPECT_NEAR(out[2], 3.0, 1e-9);
  const double ref[3] = {7, 0, 0};
  EXPECT_EQ(FindBestPlanesSect(planes, ref, 2, out), 1);
  EXPECT_NEAR(out[0], 1.0, 1e-9);
  EXPECT_NEAR(out[2], 0.0, 1e-9);
  EXPECT_NEAR(out[1], 2.0, 1e-9);

  // A plane moved with a point transform: pass the inverse to TransformPlaneEq.
  Xform M, Minv;
  RotationAboutAxisXform(o, x, 30.0, M);
  M[12] = 1, M[13] = -2, M[14] = 0.5;
  Get_imat(Minv);
  mat_inverse4(M, Minv);
  PlaneEq moved;
  const PlaneEq base = {0.3, -0.4, 0.866, 1.5};
  TransformPlaneEq(base, moved, Minv);
  double p[3] = {1, 1, 0};
  p[2] = -(base[3] + base[0] * p[0] + base[1] * p[1]) / base[2];
  VecTrans3(p, M, p);
  EXPECT_NEAR(VecDotProd3(moved, p) + moved[3], 0.0, 1e-9);
}

TEST_F(DistanceTest, AnglesBetweenVectors) {
  const double a[3] = {1, 2, 3}, na[3] = {-1, -2, -3}, zero[3] = {0, 0, 0}, b[3] = {0, 0, 4};
  EXPECT_EQ(FindAngleVectors3(a, a), 0.0);
  EXPECT_EQ(FindAngleVectors3(a, na), 180.0);
  EXPECT_EQ(FindAngleVectors3(a, zero), 0.0);
  const double x[3] = {5, 0, 0};
  EXPECT_NEAR(FindAngleVectors3(x, b), 90.0, 1e-12);
  const double line[6] = {0, 0, 0, 1, 0, 1};
  EXPECT_NEAR(LinePlaneNormalAngle(line, b), 45.0, 1e-12);
  const double dead[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(LinePlaneNormalAngle(dead, b), 0.0);
}

TEST_F(DistanceTest, TwoDimensionalSegmentsAndPolygons) {
  double s, t;
  EXPECT_EQ(Intersect2DSegments(0, 0, 2, 2, 0, 2, 2, 0, &s, &t), 1);
  EXPECT_DOUBLE_EQ(s, 0.5);
  EXPECT_DOUBLE_EQ(t, 0.5);
  EXPECT_EQ(Intersect2DSegments(0, 0, 1, 0, 0, 1, 1, 1, &s, &t), 0);
  EXPECT_EQ(IsIntersectLines(0, 0, 2, 2, 0, 2, 2, 0), 1);
  EXPECT_EQ(IsIntersectLines(0, 0, 1, 1, 3, 0, 3, 1), 0);
  // A bow-tie crosses itself; the square does not. One spare slot for the closing point.
  double bx[5] = {0, 2, 0, 2}, by[5] = {0, 2, 2, 0};
  int i = -1, j = -1;
  EXPECT_EQ(IsClosedPoints2DIntersect(bx, by, 4, &i, &j), 1);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(j, 2);
  EXPECT_EQ(bx[4], 0.0);
  double sx[5] = {0, 2, 2, 0}, sy[5] = {0, 0, 2, 2};
  EXPECT_EQ(IsClosedPoints2DIntersect(sx, sy, 4, &i, &j), 0);
  int lo, hi;
  double nlo, nhi;
  EXPECT_EQ(IntersectRange(-1, 5, 0, 3, &lo, &hi, &nlo, &nhi), 1);
  EXPECT_EQ(lo + hi, 2);
  EXPECT_EQ(nhi, 3.0);
  EXPECT_EQ(IntersectRange(3, 5, 0, 3, &lo, &hi, &nlo, &nhi), 0);  // touching only
}

TEST_F(DistanceTest, PlaneFitOfPlanarDataLeavesInputUntouched) {
  const int n = 40;
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    x[i] = static_cast<float>(Uniform(-5, 5));
    y[i] = static_cast<float>(Uniform(-5, 5));
    z[i] = 0.25f * x[i] - 0.5f * y[i] + 2.0f;  // exact in float for these magnitudes
  }
  const std::vector<float> x0 = x, y0 = y, z0 = z;
  PlaneEq plane;
  ASSERT_EQ(PlaneFit(x.data(), y.data(), z.data(), n, plane), 1);
  EXPECT_EQ(std::memcmp(x.data(), x0.data(), n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(y.data(), y0.data(), n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(z.data(), z0.data(), n * sizeof(float)), 0);
  EXPECT_NEAR(VecSize3(plane), 1.0, 1e-12);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(plane[0] * x[i] + plane[1] * y[i] + plane[2] * z[i] + plane[3], 0.0, 1e-5);

  float cx[5] = {0, 1, 2, 3, 4}, cy[5] = {0, 2, 4, 6, 8}, cz[5] = {1, 1, 1, 1, 1};
  PlaneEq keep = {7, 7, 7, 7};
  EXPECT_EQ(PlaneFit(cx, cy, cz, 5, keep), 0);
  EXPECT_EQ(keep[0], 7.0);
}

TEST_F(DistanceTest, PlaneFitsThroughPointAndLine) {
  const int n = 30;
  std::vector<double> x(n), y(n), z(n), w(n);
  const double normal[3] = {2.0 / 3, -2.0 / 3, 1.0 / 3}, P[3] = {1, 2, 3};
  double u[3], v[3], unused[3];
  Vec3To3Vecs(normal, unused, u, v);
  for (int i = 0; i < n; ++i) {
    const double a = Uniform(-4, 4), b = Uniform(-4, 4);
    x[i] = P[0] + a * u[0] + b * v[0];
    y[i] = P[1] + a * u[1] + b * v[1];
    z[i] = P[2] + a * u[2] + b * v[2];
    w[i] = Uniform(0.5, 2.0);
  }
  const std::vector<double> x0 = x;
  PlaneEq plane;
  double residual = -1, maxDist = -1;
  ASSERT_EQ(PlaneFitThroughPoint(x.data(), y.data(), z.data(), n, w.data(), P, plane, &residual, &maxDist), 0);
  EXPECT_NEAR(std::fabs(VecDotProd3(plane, normal)), 1.0, 1e-12);
  EXPECT_NEAR(residual, 0.0, 1e-12);
  EXPECT_NEAR(maxDist, 0.0, 1e-10);
  EXPECT_EQ(x, x0);

  // Two points: the plane through them and P; maxDist is written too.
  maxDist = -1;
  ASSERT_EQ(PlaneFitThroughPoint(x.data(), y.data(), z.data(), 2, nullptr, P, plane, &residual, &maxDist), 0);
  EXPECT_EQ(maxDist, 0.0);
  EXPECT_EQ(PlaneFitThroughPoint(x.data(), y.data(), z.data(), 1, nullptr, P, plane, &residual, &maxDist), -2);

  // The line through P along u lies in the plane.
  ASSERT_EQ(PlaneFitThroughLine(x.data(), y.data(), z.data(), n, nullptr, P, u, plane, &residual), 0);
  EXPECT_NEAR(std::fabs(VecDotProd3(plane, normal)), 1.0, 1e-10);
  EXPECT_NEAR(residual, 0.0, 1e-10);
  EXPECT_NEAR(VecDotProd3(plane, P) + plane[3], 0.0, 1e-12);
  ASSERT_EQ(PlaneFitThroughLine(x.data(), y.data(), z.data(), 1, nullptr, P, u, plane, &residual), 0);
  EXPECT_NEAR(std::fabs(VecDotProd3(plane, normal)), 1.0, 1e-10);
  const double tiny[3] = {1e-8, 0, 0};
  EXPECT_EQ(PlaneFitThroughLine(x.data(), y.data(), z.data(), n, nullptr, P, tiny, plane, &residual), -2);
}

TEST_F(DistanceTest, PlaneFitsFailCleanlyWithoutMemory) {
  std::vector<double> x = {0, 1, 0, 1, 2}, y = {0, 0, 1, 1, 3}, z = {0, 0, 0, 0, 0};
  const double P[3] = {0, 0, 0}, dir[3] = {1, 0, 0};
  for (long skip = 0; skip < 8; ++skip) {
    ClearKernelError();
    PlaneEq plane;
    double residual, maxDist;
    MallocFailAfter(skip, -1);
    const int a = PlaneFitThroughPoint(x.data(), y.data(), z.data(), 5, nullptr, P, plane, &residual, &maxDist);
    ClearKernelError();
    const int b = PlaneFitThroughLine(x.data(), y.data(), z.data(), 5, nullptr, P, dir, plane, &residual);
    MallocFailClear();
    EXPECT_TRUE(a == 0 || a == -2);
    EXPECT_TRUE(b == 0 || b == -2);
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
  }
  ClearKernelError();
}

}  // namespace
