#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "foundation/geo2.h"
#include "tests/support/kernel_fixture.h"

namespace {

class HullTest : public KernelTest {};

std::mt19937 rng(4242);

using P2 = std::pair<double, double>;

double Cross(const P2& o, const P2& a, const P2& b) {
  return (a.first - o.first) * (b.second - o.second) - (a.second - o.second) * (b.first - o.first);
}

// Strict hull vertices (no collinear ones) by the monotone chain, as a set of coordinates.
std::set<P2> HullVertices(std::vector<P2> pts) {
  std::sort(pts.begin(), pts.end());
  pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
  if (pts.size() < 3) return std::set<P2>(pts.begin(), pts.end());
  std::vector<P2> h(2 * pts.size());
  size_t k = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    while (k >= 2 && Cross(h[k - 2], h[k - 1], pts[i]) <= 0) --k;
    h[k++] = pts[i];
  }
  for (size_t i = pts.size() - 1, t = k + 1; i > 0; --i) {
    while (k >= t && Cross(h[k - 2], h[k - 1], pts[i - 1]) <= 0) --k;
    h[k++] = pts[i - 1];
  }
  return std::set<P2>(h.begin(), h.begin() + static_cast<long>(k) - 1);
}

// Every strict hull vertex is flagged exactly once (one of its copies); nothing else is.
void ExpectHullFlags(const std::vector<float>& x, const std::vector<float>& y) {
  const int n = static_cast<int>(x.size());
  std::vector<P2> pts;
  for (int i = 0; i < n; ++i) pts.emplace_back(x[i], y[i]);
  const std::set<P2> hull = HullVertices(pts);
  char* flags = GrahamConvexHull(x.data(), y.data(), n);
  ASSERT_NE(flags, nullptr);
  std::multiset<P2> flagged;
  for (int i = 0; i < n; ++i) {
    if (flags[i] != 0) {
      EXPECT_GE(flags[i], 1);
      EXPECT_LE(flags[i], 4);
      flagged.insert(pts[i]);
    }
  }
  Free(flags);
  EXPECT_EQ(flagged.size(), hull.size());
  for (const P2& v : hull) EXPECT_EQ(flagged.count(v), 1u) << "(" << v.first << ", " << v.second << ")";
}

TEST_F(HullTest, SquareWithCentreAndTinySets) {
  std::vector<float> x = {0, 1, 1, 0, 0.5f}, y = {0, 0, 1, 1, 0.5f};
  char* f = GrahamConvexHull(x.data(), y.data(), 5);
  ASSERT_NE(f, nullptr);
  EXPECT_NE(f[0], 0);
  EXPECT_NE(f[1], 0);
  EXPECT_NE(f[2], 0);
  EXPECT_NE(f[3], 0);
  EXPECT_EQ(f[4], 0);
  Free(f);
  std::vector<float> t = {0, 1, 2}, u = {0, 0, 0};
  f = GrahamConvexHull(t.data(), u.data(), 3);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f[0] + f[1] + f[2], 3);
  Free(f);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(HullTest, GridPointsWithCollinearAndRepeatedPoints) {
  // Integer grids make collinear runs along hull edges and exact duplicates common.
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 4 + static_cast<int>(rng() % 40);
    const int span = 2 + static_cast<int>(rng() % 6);
    std::vector<float> x(n), y(n);
    for (int i = 0; i < n; ++i) {
      x[i] = static_cast<float>(rng() % span);
      y[i] = static_cast<float>(rng() % span);
    }
    SCOPED_TRACE(trial);
    ExpectHullFlags(x, y);
  }
}

TEST_F(HullTest, RandomCloudsAndDegenerateSets) {
  for (int trial = 0; trial < 50; ++trial) {
    const int n = 4 + static_cast<int>(rng() % 200);
    std::vector<float> x(n), y(n);
    for (int i = 0; i < n; ++i) {
      x[i] = std::uniform_real_distribution<float>(-10, 10)(rng);
      y[i] = std::uniform_real_distribution<float>(-10, 10)(rng);
    }
    SCOPED_TRACE(trial);
    ExpectHullFlags(x, y);
  }
  // All on one slanted line, all equal, and a doubled hull corner.
  ExpectHullFlags({0, 1, 2, 3, 4}, {0, 2, 4, 6, 8});
  ExpectHullFlags({1, 1, 1, 1, 1}, {2, 2, 2, 2, 2});
  ExpectHullFlags({0, 4, 4, 0, 0, 2}, {0, 0, 4, 4, 0, 1});
}

TEST_F(HullTest, NoMemoryGivesNullAndNoLeak) {
  std::vector<float> x = {0, 1, 1, 0, 0.5f}, y = {0, 0, 1, 1, 0.5f};
  for (long skip = 0; skip < 6; ++skip) {
    ClearKernelError();
    BeginTrackingMallocs();
    MallocFailAfter(skip, -1);
    char* f = GrahamConvexHull(x.data(), y.data(), 5);
    MallocFailClear();
    if (f != nullptr) {
      EXPECT_FALSE(KernelFailedNow());
      Free(f);
    } else {
      EXPECT_TRUE(KernelFailedNow());
    }
    EXPECT_EQ(MallocTrackedCount(), 0);
    FreeTrackedMallocs();
  }
  ClearKernelError();
}

TEST_F(HullTest, PseudoAngleAndSideTests) {
  const double o[2] = {0, 0};
  const double p1[2] = {1, 1}, p2[2] = {-1, 0}, p3[2] = {0, -1}, p4[2] = {1, -1};
  EXPECT_DOUBLE_EQ(ThetaOrder(o, p1), 45.0);
  EXPECT_DOUBLE_EQ(ThetaOrder(o, p2), 180.0);
  EXPECT_DOUBLE_EQ(ThetaOrder(o, p3), 270.0);
  EXPECT_DOUBLE_EQ(ThetaOrder(o, p4), 315.0);
  EXPECT_EQ(ThetaOrder(o, o), 0.0);
  // Monotonic in the true angle.
  double last = -1.0;
  for (int k = 0; k < 360; ++k) {
    const double a = k * M_PI / 180.0;
    const double p[2] = {std::cos(a), std::sin(a)};
    const double t = ThetaOrder(o, p);
    EXPECT_GT(t, last);
    last = t;
  }
  const double a[2] = {0, 0}, b[2] = {1, 0}, up[2] = {0, 1}, up2[2] = {5, 2}, down[2] = {0, -1};
  EXPECT_EQ(SameSide2D(a, b, up, up2), 2);
  EXPECT_EQ(SameSide2D(a, b, up, b), 1);
  EXPECT_EQ(SameSide2D(a, b, up, down), 0);
}

TEST_F(HullTest, PointInTriangleAndOnDegenerateTriangle) {
  const double a[2] = {0, 0}, b[2] = {4, 0}, c[2] = {0, 4};
  const double vtx[2] = {4, 0}, edge[2] = {2, 2}, in[2] = {1, 1}, out[2] = {3, 3};
  EXPECT_EQ(IsPointInTriangle2D(a, b, c, vtx), 1);
  EXPECT_EQ(IsPointInTriangle2D(a, b, c, edge), 1);
  EXPECT_EQ(IsPointInTriangle2D(a, b, c, out), 0);
  double wa = -1, wb = -1;
  EXPECT_EQ(IsPointInTriangle2Dw(a, b, c, in, &wa, &wb), 1);
  EXPECT_DOUBLE_EQ(wa, 0.5);
  EXPECT_DOUBLE_EQ(wb, 0.25);
  // A triangle collapsed to the segment (0,0)-(40,20).
  const double u[2] = {0, 0}, w[2] = {40, 20}, on[2] = {20, 10}, off[2] = {20, 12};
  EXPECT_EQ(IsPointInLine(u, u, w, on), 1);
  EXPECT_EQ(IsPointInLine(u, w, u, off), 0);
  EXPECT_EQ(IsPointInLine(u, b, c, on), 0);  // not degenerate
}

TEST_F(HullTest, LinearityOfPointSets) {
  float x[5] = {1, 1, 1, 1, 1}, y[5] = {2, 2, 2, 2, 2}, z[5] = {0, 0, 0, 0, 0};
  EXPECT_EQ(IsLinear(x, y, z, 5), 1);
  float lx[5] = {0, 1, 2, 3, 4}, ly[5] = {0, 2, 4, 6, 8}, lz[5] = {1, 0, -1, -2, -3};
  EXPECT_EQ(IsLinear(lx, ly, lz, 5), 1);
  ly[3] = 6.5f;
  EXPECT_EQ(IsLinear(lx, ly, lz, 5), 0);
}

TEST_F(HullTest, CirclesAndSpheresThroughPoints) {
  const double p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, p2[3] = {0, 1, 0};
  double c[3];
  ASSERT_EQ(FindCircle3Pts(p0, p1, p2, c), 1);
  EXPECT_NEAR(c[0], 0.5, 1e-15);
  EXPECT_NEAR(c[1], 0.5, 1e-15);
  EXPECT_NEAR(c[2], 0.0, 1e-15);
  const double p3[3] = {2, 0, 0};
  EXPECT_EQ(FindCircle3Pts(p0, p1, p3, c), 0);
  EXPECT_EQ(c[0], 0.0);

  std::uniform_real_distribution<double> U(-3, 3);
  for (int trial = 0; trial < 30; ++trial) {
    double a[3], b[3], d[3], e[3];
    for (int k = 0; k < 3; ++k) a[k] = U(rng), b[k] = U(rng), d[k] = U(rng), e[k] = U(rng);
    double centre[3], radius;
    if (FitSphereFourPts(a, b, d, e, centre, &radius) == 1) {
      for (const double* q : {a, b, d, e}) EXPECT_NEAR(VecDist3(q, centre), radius, 1e-6 * (1 + radius));
    }
    if (FindCircle3Pts(a, b, d, c) == 1) {
      EXPECT_NEAR(VecDist3(a, c), VecDist3(b, c), 1e-8);
      EXPECT_NEAR(VecDist3(a, c), VecDist3(d, c), 1e-8);
      const double r = VecDist3(a, c);
      double c1[3], c2[3];
      ASSERT_EQ(FitSphere3PtsAndRadius(a, b, d, r + 1.0, c1, c2), 1);
      for (const double* q : {a, b, d}) {
        EXPECT_NEAR(VecDist3(q, c1), r + 1.0, 1e-8);
        EXPECT_NEAR(VecDist3(q, c2), r + 1.0, 1e-8);
      }
      // A radius below the circle's has no sphere: a failure, not NaN centres.
      EXPECT_EQ(FitSphere3PtsAndRadius(a, b, d, 0.5 * r, c1, c2), 0);
    }
    double cx, cy, r2;
    if (Get2DCircle(a[0], a[1], b[0], b[1], d[0], d[1], &cx, &cy, &r2) == 1) {
      EXPECT_NEAR((b[0] - cx) * (b[0] - cx) + (b[1] - cy) * (b[1] - cy), r2, 1e-6 * (1 + r2));
      EXPECT_NEAR((d[0] - cx) * (d[0] - cx) + (d[1] - cy) * (d[1] - cy), r2, 1e-6 * (1 + r2));
    }
  }
  double cx = 7, cy = 7, r2 = 7;
  EXPECT_EQ(Get2DCircle(0, 0, 1, 1, 2, 2, &cx, &cy, &r2), 0);
  EXPECT_EQ(cx, 7.0);
  const double q[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
  double centre[3], radius;
  EXPECT_EQ(FitSphereFourPts(q[0], q[1], q[2], q[3], centre, &radius), 0);
  EXPECT_EQ(radius, 0.0);
}

TEST_F(HullTest, CircleThroughAPointFromSamplesLeavesSamplesUntouched) {
  // Samples on a tilted circle of radius 2 through the point P.
  const double centre[3] = {1, -1, 2}, axis[3] = {1.0 / 3, 2.0 / 3, 2.0 / 3};
  double u[3], v[3], w[3];
  Vec3To3Vecs(axis, w, u, v);
  double P[3];
  for (int k = 0; k < 3; ++k) P[k] = centre[k] + 2.0 * u[k];
  const int n = 12;
  std::vector<double> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double a = 0.3 + 0.4 * i;
    for (int k = 0; k < 3; ++k) {
      const double q = centre[k] + 2.0 * (std::cos(a) * u[k] + std::sin(a) * v[k]);
      (k == 0 ? x : k == 1 ? y : z)[i] = q;
    }
  }
  const std::vector<double> x0 = x, y0 = y, z0 = z;
  double normal[3], c[3], radius, tangentPoint[3], residual = -1;
  ASSERT_EQ(CircleFitThroughPnt(P, n, x.data(), y.data(), z.data(), normal, c, &radius, tangentPoint, &residual), 1);
  EXPECT_EQ(x, x0);
  EXPECT_EQ(y, y0);
  EXPECT_EQ(z, z0);
  EXPECT_NEAR(radius, 2.0, 1e-9);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], centre[k], 1e-9);
  EXPECT_NEAR(std::fabs(VecDotProd3(normal, axis)), 1.0, 1e-9);
  EXPECT_NEAR(residual, 0.0, 1e-12);
  // The tangent point is radius away from P along the circle's tangent at P, towards the samples.
  double t[3];
  VecDiff3(tangentPoint, P, t);
  EXPECT_NEAR(VecSize3(t), 2.0, 1e-9);
  EXPECT_NEAR(VecDotProd3(t, u), 0.0, 1e-9);
  EXPECT_GT(VecDotProd3(t, v), 0.0);
  EXPECT_EQ(CircleFitThroughPnt(P, 1, x.data(), y.data(), z.data(), normal, c, &radius, tangentPoint, &residual), 0);
}

TEST_F(HullTest, SmallPlaneAndRootHelpers) {
  double r1, r2;
  SolveQuadratic(1, 0, 1, &r1, &r2);
  EXPECT_DOUBLE_EQ(r1, 1.0);
  EXPECT_DOUBLE_EQ(r2, -1.0);
  SolveQuadratic(1, -3, 2, &r1, &r2);
  EXPECT_DOUBLE_EQ(r1, 2.0);
  EXPECT_DOUBLE_EQ(r2, 1.0);
  const PlaneEq pl = {1, 2, 2, -6};
  double out[3];
  ASSERT_EQ(GetPointOnPlane(pl, out), 0);  // tie between y and z goes to y
  EXPECT_EQ(out[1], 3.0);
  EXPECT_EQ(out[2], 0.0);
  const PlaneEq none = {0, 0, 0, 1};
  double keep[3] = {9, 9, 9};
  EXPECT_EQ(GetPointOnPlaneCoord(none, keep), -2);
  EXPECT_EQ(keep[0], 9.0);
  const double v[3] = {1, 1, 0}, axis[3] = {1, 0, 0};
  double s[3];
  GetSymetryDir(v, axis, s);
  EXPECT_EQ(s[0], 1.0);
  EXPECT_EQ(s[1], -1.0);
  const double a[3] = {0, 0, 0}, b[3] = {3, 0, 0}, c[3] = {0, 4, 0};
  EXPECT_DOUBLE_EQ(AreaOfTriangle(a, b, c), 6.0);
  const Bbox box = {0, 0, 0, 4, 2, 1};
  const double inside[2] = {1, 1.5}, outside[2] = {6, 5};
  EXPECT_DOUBLE_EQ(Distance2DBetPtAndBbox(inside, box), 0.25);
  EXPECT_DOUBLE_EQ(Distance2DBetPtAndBbox(outside, box), 13.0);
}

}  // namespace
