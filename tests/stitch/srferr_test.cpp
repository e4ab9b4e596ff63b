// Differences between clouds and surfaces: points set at known signed offsets along the normal
// of a surface (some beyond an edge, leaning) against one surface, trimmed or not, at every
// scale; against two transformed copies of one surface; cloud normals; the largest difference of
// two surfaces; the statistics of a difference against sums computed here; user breaks and
// injected failures.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "cloud/psubdiv.h"
#include "foundation/cloudrec.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"
#include "stitch/srferr.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/normal_offsets.h"

namespace {

class SrfErrTest : public KernelTest {};

constexpr double kFiveDegrees = 0.007596123;

Bspline* Wavy(double s = 1.0) {
  PatchOptions o;
  o.x1 = s, o.y1 = s;
  return BuildFunctionPatch(
      [=](double x, double y) {
        const double X = x / s, Y = y / s;
        return s * (0.1 * X + 0.05 * Y * Y + 0.02 * std::sin(3 * X));
      },
      o);
}

// Points S(u, v) + h n(u, v) at random parameters inside [0.1, 0.9]^2, h in [-0.05, 0.05] s.
struct Offsets {
  std::vector<float> x, y, z;
  std::vector<double> h, u, v;
  std::vector<std::array<double, 3>> foot, normal;
  void Add(const Bspline* srf, double uu, double vv, double hh, const double* M = nullptr) {
    const SurfaceFrame f = FrameAt(srf, uu, vv, 1.0);
    double p[3];
    for (int k = 0; k < 3; ++k) p[k] = f.S[k] + hh * f.n[k];
    if (M) VecTrans3(p, M, p);
    x.push_back(static_cast<float>(p[0]));
    y.push_back(static_cast<float>(p[1]));
    z.push_back(static_cast<float>(p[2]));
    h.push_back(hh);
    u.push_back(uu);
    v.push_back(vv);
    foot.push_back({f.S[0], f.S[1], f.S[2]});
    normal.push_back({f.n[0], f.n[1], f.n[2]});
  }
  void Random(const Bspline* srf, int n, double s, unsigned seed, const double* M = nullptr) {
    std::mt19937 rng(seed);
    for (int i = 0; i < n; ++i)
      Add(srf, Uniform(rng, 0.1, 0.9), Uniform(rng, 0.1, 0.9), Uniform(rng, -0.05, 0.05) * s, M);
  }
  Cloud* MakeCloud() const { return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr); }
};

// Output arrays of one difference call.
struct Out {
  std::vector<float> px, py, pz, cx, cy, cz, nx, ny, nz, u, v, dist;
  std::vector<int> index;
  std::vector<int16_t> srf;
  int count = -1;
  explicit Out(size_t n)
      : px(n), py(n), pz(n), cx(n), cy(n), cz(n), nx(n), ny(n), nz(n), u(n), v(n), dist(n),
        index(n, -7), srf(n, -7) {}
  int One(Bspline* s, Cloud* c, int refine, double sinSq, double offset = 0.0, double maxDist = 1e6) {
    return SurfToCloudDifference(s, c, refine, maxDist, sinSq, offset, &count, px.data(), py.data(),
                                 pz.data(), index.data(), cx.data(), cy.data(), cz.data(),
                                 nx.data(), ny.data(), nz.data(), u.data(), v.data(), dist.data());
  }
  int Many(Bspline** s, int n, const Xform* xf, Cloud* c, int refine, double maxDist, int flagFar) {
    return SurfsToCloudDifference(s, n, xf, c, refine, maxDist, 0.0, flagFar, 0, &count, px.data(),
                                  py.data(), pz.data(), index.data(), cx.data(), cy.data(),
                                  cz.data(), nx.data(), ny.data(), nz.data(), u.data(), v.data(),
                                  srf.data(), dist.data());
  }
};

TEST_F(SrfErrTest, SignedOffsetsAlongTheNormalAtEveryScale) {
  for (double s : {1e-6, 1.0, 1e6}) {
    Bspline* srf = Wavy(s);
    Offsets pts;
    pts.Random(srf, 60, s, 3);
    const int inside = int(pts.x.size());
    // Beyond the u-max edge, leaning 45 degrees from the edge's normal: dropped by the angle test.
    for (int i = 0; i < 5; ++i) {
      const SurfaceFrame f = FrameAt(srf, 1.0, 0.2 + 0.15 * i, 1.0);
      pts.x.push_back(float(f.S[0] + 0.05 * s));
      pts.y.push_back(float(f.S[1]));
      pts.z.push_back(float(f.S[2] + 0.05 * s));
    }
    Cloud* cloud = pts.MakeCloud();
    Out o(pts.x.size());
    ASSERT_EQ(o.One(srf, cloud, 1, kFiveDegrees), 1) << s;
    ASSERT_EQ(o.count, inside) << s;
    for (int k = 0; k < o.count; ++k) {
      const int i = o.index[k];
      ASSERT_EQ(i, k);
      EXPECT_NEAR(o.dist[k], pts.h[i], 2e-6 * s) << s << " " << i;
      EXPECT_NEAR(o.u[k], pts.u[i], 2e-5);
      EXPECT_NEAR(o.v[k], pts.v[i], 2e-5);
      const double c[3] = {o.cx[k], o.cy[k], o.cz[k]}, n[3] = {o.nx[k], o.ny[k], o.nz[k]};
      ExpectNear3(c, pts.foot[i].data(), 3e-6 * s);
      ExpectNear3(n, pts.normal[i].data(), 2e-5);
    }
    // Every angle accepted: the points beyond the edge come back, their feet on the edge.
    ASSERT_EQ(o.One(srf, cloud, 1, 1.0), 1);
    EXPECT_EQ(o.count, int(pts.x.size()));
    EXPECT_NEAR(o.cx[o.count - 1], s, 1e-5 * s);
    // Unrefined: the nearest grid sample of the point's bin, never nearer than the surface and
    // within about a bin of it; the signs follow the normal.
    ASSERT_EQ(o.One(srf, cloud, 0, 1.0), 1);
    ASSERT_EQ(o.count, int(pts.x.size()));
    for (int k = 0; k < inside; ++k) {
      const double h = pts.h[o.index[k]];
      EXPECT_GE(std::fabs(o.dist[k]), std::fabs(h) - 1e-6 * s);
      EXPECT_LE(std::fabs(o.dist[k]), std::fabs(h) + 0.02 * s);  // a sample of its bin
      if (std::fabs(h) > 0.015 * s) {
        EXPECT_EQ(o.dist[k] > 0, h > 0);
      }
    }
    // An offset moves every point against the normal and shortens the distance by it.
    ASSERT_EQ(o.One(srf, cloud, 1, kFiveDegrees, 0.01 * s), 1);
    ASSERT_EQ(o.count, inside);
    for (int k = 0; k < o.count; ++k) {
      const int i = o.index[k];
      EXPECT_NEAR(o.dist[k], pts.h[i] - 0.01 * s, 3e-6 * s);
      const double p[3] = {o.px[k], o.py[k], o.pz[k]};
      double want[3];
      for (int q = 0; q < 3; ++q) want[q] = pts.foot[i][q] + (pts.h[i] - 0.01 * s) * pts.normal[i][q];
      ExpectNear3(p, want, 3e-6 * s);
    }
    FreeCloud(cloud);
    FreeBspline(srf);
  }
}

// The loop u in [0, 0.5], v in [0, 1], counter-clockwise, of four straight curves on srf.
void TrimLeftHalf(Bspline* srf) {
  const double c[5][2] = {{0, 0}, {0.5, 0}, {0.5, 1}, {0, 1}, {0, 0}};
  std::vector<Bspline*> sides;
  for (int i = 0; i < 4; ++i)
    sides.push_back(BuildCurveOnSurface(srf, 1, {c[i][0], c[i][1], c[i + 1][0], c[i + 1][1]}));
  AddLoop(srf, sides);
}

TEST_F(SrfErrTest, TrimmedSurfaceFallsBackToItsBoundary) {
  Bspline* srf = Wavy();
  TrimLeftHalf(srf);
  Offsets pts;
  pts.Add(srf, 0.25, 0.5, 0.02);   // inside: as untrimmed
  pts.Add(srf, 0.75, 0.5, 0.02);   // over the cut-away half: measured to the boundary u = 0.5
  Cloud* cloud = pts.MakeCloud();
  Out o(2);
  for (int refine : {0, 1}) {
    ASSERT_EQ(o.One(srf, cloud, refine, 1.0), 1);
    ASSERT_EQ(o.count, 2);
    if (refine) {
      EXPECT_NEAR(o.dist[0], 0.02, 2e-6);
    }
    // The reference: the nearest point of the boundary curve S(0.5, t), densely sampled.
    const double p[3] = {pts.x[1], pts.y[1], pts.z[1]};
    double best = 1e9;
    for (int j = 0; j <= 4000; ++j) {
      double q[3];
      RefEvalSurface(srf, 0.5, j / 4000.0, q);
      best = std::min(best, VecDist3(p, q));
    }
    // Unrefined, the nearest sample may be a grid sample just inside the loop.
    const double tol = refine ? 1e-3 : 6e-3;
    EXPECT_NEAR(std::fabs(o.dist[1]), best, tol) << refine;
    EXPECT_NEAR(o.u[1], 0.5, refine ? 1e-6 : 6e-3) << refine;
    EXPECT_NEAR(o.cx[1], 0.5, tol) << refine;  // x is linear in u
  }
  FreeCloud(cloud);
  FreeBspline(srf);
}

TEST_F(SrfErrTest, NearestOfTwoTransformedCopiesInItsOwnFrame) {
  for (double s : {1e-6, 1.0, 1e6}) {
    Bspline* srf = Wavy(s);
    Bspline* srfs[2] = {srf, srf};
    Xform xf[2];
    Get_imat(xf[0]);
    // A quarter turn about z, lifted by 2 and moved by 3 in x (of the surface's size).
    Get_imat(xf[1]);
    xf[1][0] = 0, xf[1][1] = 1, xf[1][4] = -1, xf[1][5] = 0;
    xf[1][12] = 3 * s, xf[1][14] = 2 * s;
    Offsets pts;
    pts.Random(srf, 30, s, 5);
    const int n0 = int(pts.x.size());
    pts.Random(srf, 30, s, 6, xf[1]);
    pts.x.push_back(float(100 * s)), pts.y.push_back(float(100 * s)), pts.z.push_back(float(100 * s));
    const int n = int(pts.x.size());  // the last point lies far from both
    Cloud* cloud = pts.MakeCloud();
    Out o(n);
    for (int refine : {1, 0}) {
      for (int flagFar : {0, 1}) {
        ASSERT_EQ(o.Many(srfs, 2, xf, cloud, refine, s, flagFar), 1);
        ASSERT_EQ(o.count, flagFar ? n : n - 1);
        for (int k = 0; k < o.count; ++k) {
          const int i = o.index[k];
          if (flagFar) {
            ASSERT_EQ(i, k);  // the arrays keep step with the cloud
          }
          if (i == n - 1) {
            EXPECT_EQ(o.srf[k], -1);
            continue;
          }
          EXPECT_EQ(o.srf[k], i < n0 ? 0 : 1) << s << " " << i;
          // The point as the nearer copy's own frame sees it: on the untransformed surface's side.
          const double p[3] = {o.px[k], o.py[k], o.pz[k]};
          double want[3];
          for (int q = 0; q < 3; ++q) want[q] = pts.foot[i][q] + pts.h[i] * pts.normal[i][q];
          ExpectNear3(p, want, 1e-5 * s);
          if (refine) {
            EXPECT_NEAR(o.dist[k], pts.h[i], 3e-6 * s) << s;
          }
        }
      }
    }
    // Cloud normals: from the nearer copy, in its frame, turned towards the point; none for the
    // far point.
    std::vector<float> nx(n), ny(n), nz(n);
    int count = 0;
    ASSERT_EQ(SurfsGetCloudNorms(srfs, 2, xf, cloud, 1, s, &count, nx.data(), ny.data(), nz.data()), 1);
    EXPECT_EQ(count, n - 1);
    for (int i = 0; i < n - 1; ++i) {
      const double got[3] = {nx[i], ny[i], nz[i]};
      double want[3];
      for (int q = 0; q < 3; ++q) want[q] = (pts.h[i] < 0 ? -1 : 1) * pts.normal[i][q];
      ExpectNear3(got, want, 1e-4);
    }
    EXPECT_EQ(nx[n - 1], 0.0f);
    EXPECT_EQ(nz[n - 1], 0.0f);
    EXPECT_EQ(SurfsGetCloudNorms(srfs, 0, xf, cloud, 1, s, &count, nx.data(), ny.data(), nz.data()), 0);
    EXPECT_EQ(o.Many(srfs, 32001, nullptr, cloud, 1, s, 0), 0);
    FreeCloud(cloud);
    FreeBspline(srf);
  }
}

TEST_F(SrfErrTest, ManyTrimSamplesGrowTheSharedGrid) {
  // One loop of a single straight-sided curve with 20000 interior knots: 100006 trim samples,
  // more than the grid's first capacity doubled once.
  Bspline* srf = Wavy();
  const int m = 20002;
  std::vector<double> uv;
  for (int i = 0; i < m; ++i) {
    const double a = 2 * M_PI * (i == m - 1 ? 0 : i) / (m - 1);
    uv.push_back(0.5 + 0.4 * std::cos(a));
    uv.push_back(0.5 + 0.4 * std::sin(a));
  }
  AddLoop(srf, {BuildCurveOnSurface(srf, 1, uv)});
  Offsets pts;
  pts.Add(srf, 0.5, 0.5, 0.01);
  pts.Add(srf, 0.5, 0.95, 0.01);  // outside the loop: its nearest sample lies on the boundary
  Cloud* cloud = pts.MakeCloud();
  Out o(2);
  Bspline* srfs[1] = {srf};
  ASSERT_EQ(o.Many(srfs, 1, nullptr, cloud, 0, 1.0, 0), 1);
  ASSERT_EQ(o.count, 2);
  EXPECT_EQ(o.srf[1], 0);
  EXPECT_NEAR(std::hypot(o.u[1] - 0.5, o.v[1] - 0.5), 0.4, 1e-3);
  FreeCloud(cloud);
  FreeBspline(srf);
}

TEST_F(SrfErrTest, EstimatesFindTheNearestSampleWithinTheBinLength) {
  // 2000 samples in the unit cube, two ranges of 1000 (two "surfaces"); the bins guarantee every
  // sample within their length of a point to be in the point's own bin.
  std::mt19937 rng(17);
  const int m = 2000;
  std::vector<float> x(m), y(m), z(m), u(m), v(m);
  for (int k = 0; k < m; ++k) {
    x[k] = float(Uniform(rng, 0, 1)), y[k] = float(Uniform(rng, 0, 1)), z[k] = float(Uniform(rng, 0, 1));
    u[k] = float(k), v[k] = float(-k);
  }
  const double len = 0.08;
  Subdiv* grid = SubdivideArrays(x.data(), y.data(), z.data(), m, 0, 0, 0, 1, 1, 1, len, 64);
  ASSERT_NE(grid, nullptr);
  const double size[3] = {std::max(grid->sizeX, 1e-10), std::max(grid->sizeY, 1e-10),
                          std::max(grid->sizeZ, 1e-10)};
  const int starts[2] = {0, 1000}, ends[2] = {999, 1999};
  int checked = 0;
  for (int trial = 0; trial < 300; ++trial) {
    double p[3];
    for (double& c : p) c = Uniform(rng, 0, 1);
    int b[3];
    const int n[3] = {grid->ncellsX, grid->ncellsY, grid->ncellsZ};
    for (int a = 0; a < 3; ++a) b[a] = std::min(int(p[a] / size[a]), n[a] - 1);
    int best[2] = {-1, -1};
    double bestD[2] = {1e300, 1e300};
    for (int k = 0; k < m; ++k) {
      const double d = (p[0] - x[k]) * (p[0] - x[k]) + (p[1] - y[k]) * (p[1] - y[k]) + (p[2] - z[k]) * (p[2] - z[k]);
      const int r = k < 1000 ? 0 : 1;
      if (d < bestD[r]) bestD[r] = d, best[r] = k;
    }
    int cell = b[0] + b[1] * n[0] + b[2] * n[0] * n[1], at = -1;
    double C[3], uu, vv;
    const double d = FindClosestPointEstimate(p, grid, b[0], b[1], b[2], &cell, 1e30, x.data(), y.data(),
                                              z.data(), u.data(), v.data(), C, &uu, &vv, &at);
    const int nearest = bestD[0] <= bestD[1] ? best[0] : best[1];
    const double nearestD = std::min(bestD[0], bestD[1]);
    ASSERT_GE(at, 0);
    EXPECT_GE(d, nearestD);  // never nearer than the nearest
    if (nearestD < len * len) {
      ++checked;
      EXPECT_EQ(at, nearest);
      EXPECT_EQ(uu, double(nearest));
      EXPECT_EQ(C[0], double(x[nearest]));
    }
    int idx[2];
    double dd[2];
    cell = b[0] + b[1] * n[0] + b[2] * n[0] * n[1];
    FindNClosestPointEstimates(p, grid, b[0], b[1], b[2], &cell, 1e30, x.data(), y.data(), z.data(),
                               starts, ends, 2, idx, dd);
    for (int r = 0; r < 2; ++r)
      if (bestD[r] < len * len) {
        EXPECT_EQ(idx[r], best[r]);
      }
  }
  EXPECT_GT(checked, 50);
  FreeSubdiv(grid);
  // The weed-out distance of a 3 x 2 grid: the largest squared steps of the first row and the
  // first column, and four times the cut-off.
  const float gx[6] = {0, 1, 3, 0, 1, 3}, gy[6] = {0, 0, 0, 2, 2, 2}, gz[6] = {0, 0, 0, 0, 0, 0};
  EXPECT_DOUBLE_EQ(EstimateWeedOutDistSq(0.5, 3, 2, gx, gy, gz), 4.0 + 4.0 + 2.0);
  // The nearest point on a sampled loop: the foot on the segment, (u, v) interpolated there.
  float sx[3] = {0, 1, 1}, sy[3] = {0, 0, 1}, sz[3] = {0, 0, 0};
  double su[3] = {0, 0.5, 0.5}, sv[3] = {0, 0, 0.5};
  float* cx[1] = {sx};
  float* cy[1] = {sy};
  float* cz[1] = {sz};
  double* cu[1] = {su};
  double* cv[1] = {sv};
  float** lx[1] = {cx};
  float** ly[1] = {cy};
  float** lz[1] = {cz};
  double** lu[1] = {cu};
  double** lv[1] = {cv};
  int counts[1] = {3}, curves[1] = {1};
  int* pc[1] = {counts};
  const double q[3] = {0.25, -0.5, 0.0};
  double bu = -1, bv = -1, foot[3];
  EXPECT_NEAR(FindClosestPointOnBndr(q, lx, ly, lz, lu, lv, 1, curves, pc, &bu, &bv, foot), 0.25, 1e-12);
  EXPECT_NEAR(bu, 0.125, 1e-12);
  EXPECT_NEAR(foot[0], 0.25, 1e-12);
}

TEST_F(SrfErrTest, ShowMaskLimitsThePoints) {
  Bspline* srf = Wavy();
  Offsets pts;
  pts.Random(srf, 20, 1.0, 21);
  Cloud* cloud = pts.MakeCloud();
  cloud->isShow = CallocArray<uint8_t>(20 / 8 + 1);
  for (int i = 0; i < 20; i += 2) cloud->isShow[i >> 3] |= uint8_t(1 << (i & 7));
  Out o(20);
  int count = 0;
  ASSERT_EQ(SurfToCloudDifferenceLow(srf, cloud, 1, 1e6, 1.0, 0.0, 1, &count, o.px.data(), o.py.data(),
                                     o.pz.data(), o.index.data(), o.cx.data(), o.cy.data(),
                                     o.cz.data(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     o.dist.data()),
            1);
  ASSERT_EQ(count, 10);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(o.index[k], 2 * k);
    EXPECT_NEAR(o.dist[k], pts.h[2 * k], 2e-6);
  }
  // Without the mask flag every point counts.
  ASSERT_EQ(o.One(srf, cloud, 1, 1.0), 1);
  EXPECT_EQ(o.count, 20);
  FreeCloud(cloud);
  FreeBspline(srf);
}

TEST_F(SrfErrTest, RangeSearchAfterASearchOverMoreRanges) {
  std::vector<int> starts, ends;
  for (int r = 0; r < 10; ++r) {
    starts.push_back(10 * r);
    ends.push_back(10 * r + 9);
  }
  for (int value : {0, 35, 99, 80, 9, 10}) EXPECT_EQ(FindArrayIndexSEfn(starts.data(), ends.data(), 10, value), value / 10);
  // Three ranges after the last search found range 1 or more of ten: never reads past them.
  const int s3[3] = {0, 5, 6}, e3[3] = {4, 5, 20};
  EXPECT_EQ(FindArrayIndexSEfn(starts.data(), ends.data(), 10, 95), 9);
  for (int value : {20, 0, 5, 4, 6}) EXPECT_EQ(FindArrayIndexSEfn(s3, e3, 3, value), value < 5 ? 0 : value == 5 ? 1 : 2) << value;
}

TEST_F(SrfErrTest, LargestDifferenceOfTwoSurfaces) {
  PatchOptions o;
  Bspline* A = BuildFunctionPatch([](double x, double) { return 0.1 * x; }, o);
  Bspline* B = BuildFunctionPatch([](double x, double) { return 0.1 * x + 0.05; }, o);
  double d = -1;
  ASSERT_EQ(SimpleSrfToSrfMaxDifference(A, A, &d), 0);
  EXPECT_LT(d, 1e-6);
  ASSERT_EQ(SimpleSrfToSrfMaxDifference(A, B, &d), 0);
  EXPECT_NEAR(d, 0.05 / std::sqrt(1.01), 1e-6);
  // A trimmed B counts as untrimmed and keeps its loops.
  TrimLeftHalf(B);
  TrimList* loops = B->trims;
  double t = -1;
  ASSERT_EQ(SimpleSrfToSrfMaxDifference(A, B, &t), 0);
  EXPECT_EQ(B->trims, loops);
  EXPECT_DOUBLE_EQ(t, d);
  Bspline* curve = BuildRandomCurve(1, 3, 5);
  t = -3;
  EXPECT_EQ(SimpleSrfToSrfMaxDifference(A, curve, &t), -2);
  EXPECT_EQ(SimpleSrfToSrfMaxDifference(nullptr, B, &t), -2);
  EXPECT_EQ(t, -3);
  FreeBspline(curve);
  FreeBspline(A);
  FreeBspline(B);
}

// A difference cloud of the layout the statistics read: point, closest point, direction, d.
Cloud* DifferenceCloud(const std::vector<double>& a, const std::vector<double>& b) {
  const int n = int(a.size());
  Cloud* c = MallocNullCloud();
  c->npts = n;
  c->x = MallocArray<float>(3 * n);
  c->y = MallocArray<float>(3 * n);
  c->z = MallocArray<float>(4 * n);
  for (int i = 0; i < n; ++i) {
    // Closest point (i, 0, 0), direction +z, deviation a along it and b across (along x).
    const double d = (a[i] < 0 ? -1 : 1) * std::hypot(a[i], b[i]);
    c->x[n + i] = float(i), c->y[n + i] = 0, c->z[n + i] = 0;
    c->x[i] = float(i + b[i]), c->y[i] = 0, c->z[i] = float(a[i]);
    c->x[2 * n + i] = 0, c->y[2 * n + i] = 0, c->z[3 * n + i] = 1;
    c->z[2 * n + i] = float(d);
  }
  return c;
}

double Mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / v.size();
}
double Std(const std::vector<double>& v) {
  const double m = Mean(v);
  double s = 0;
  for (double x : v) s += (x - m) * (x - m);
  return v.empty() ? 0 : std::sqrt(s / v.size());
}

TEST_F(SrfErrTest, StatisticsEqualSumsTakenHere) {
  const std::vector<double> a = {0.5, -0.25, 0.125, -1.0, 0.75, 0.0}, b = {0.0, 0.5, 0.25, 0.0, 0.5, 0.0};
  Cloud* c = DifferenceCloud(a, b);
  ErrorStatistics s{};
  s.data = c;
  ComputeErrorStatistics(&s);
  std::vector<double> abs, nrm, tan, pos, neg, posN, negN;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = std::hypot(a[i], b[i]);
    abs.push_back(d), nrm.push_back(std::fabs(a[i])), tan.push_back(std::fabs(b[i]));
    if (a[i] > 0) pos.push_back(d), posN.push_back(a[i]);
    if (a[i] < 0) neg.push_back(d), negN.push_back(-a[i]);
  }
  const double tol = 1e-6;
  EXPECT_EQ(s.kind, 4);
  EXPECT_EQ(s.countPositive, 3);
  EXPECT_EQ(s.countNegative, 2);
  EXPECT_NEAR(s.meanAbs, Mean(abs), tol);
  EXPECT_NEAR(s.stdDev, Std(abs), tol);
  EXPECT_NEAR(s.maxPositive, *std::max_element(pos.begin(), pos.end()), tol);
  EXPECT_NEAR(s.minPositive, *std::min_element(pos.begin(), pos.end()), tol);
  EXPECT_NEAR(s.maxNegative, -*std::max_element(neg.begin(), neg.end()), tol);
  EXPECT_NEAR(s.minNegative, -*std::min_element(neg.begin(), neg.end()), tol);
  EXPECT_NEAR(s.meanPositive, Mean(pos), tol);
  EXPECT_NEAR(s.meanNegative, -Mean(neg), tol);
  EXPECT_NEAR(s.maxNormal, 1.0, tol);
  EXPECT_NEAR(s.meanNormal, Mean(nrm), tol);
  EXPECT_NEAR(s.stdNormal, Std(nrm), tol);
  EXPECT_NEAR(s.meanTangential, Mean(tan), tol);
  EXPECT_NEAR(s.stdTangential, Std(tan), tol);
  EXPECT_NEAR(s.maxTangential, 0.5, tol);
  EXPECT_NEAR(s.meanNormalPositive, Mean(posN), tol);
  EXPECT_NEAR(s.stdNormalPositive, Std(posN), tol);
  EXPECT_NEAR(s.meanNormalNegative, -Mean(negN), tol);
  EXPECT_NEAR(s.stdNormalNegative, Std(negN), tol);
  EXPECT_NEAR(s.maxNormalNegative, -1.0, tol);
  EXPECT_NEAR(c->zMin, 0.0, tol);
  EXPECT_NEAR(c->zMax, *std::max_element(abs.begin(), abs.end()), tol);
  // The curve statistics of the same cloud (distances taken as they are, all positive).
  ComputeCurveErrorStatistics(&s);
  EXPECT_EQ(s.kind, 7);
  EXPECT_EQ(s.countPositive, 6);
  EXPECT_EQ(s.countNegative, 0);
  EXPECT_EQ(s.maxNegative, 0.0);
  EXPECT_NEAR(s.stdNormalPositive, s.stdNormal, 1e-15);
  EXPECT_NEAR(s.maxTangential, 1.0, tol);  // along the reference, the tangent here
  FreeCloud(c);
  // Only negative points: nothing positive anywhere, negatives negative.
  Cloud* n = DifferenceCloud({-0.5, -0.25}, {0, 0});
  ErrorStatistics t{};
  t.data = n;
  ComputeErrorStatistics(&t);
  EXPECT_EQ(t.countPositive, 0);
  EXPECT_EQ(t.maxPositive, 0.0);
  EXPECT_EQ(t.meanPositive, 0.0);
  EXPECT_EQ(t.minPositive, 0.0);
  EXPECT_NEAR(t.maxNegative, -0.5, tol);
  EXPECT_NEAR(t.meanNegative, -0.375, tol);
  EXPECT_NEAR(t.minNegative, -0.25, tol);
  FreeCloud(n);
  // No data: untouched; an empty cloud: kind set, zeros, the minimum pair kept.
  ErrorStatistics u{};
  u.kind = 99;
  ComputeErrorStatistics(&u);
  EXPECT_EQ(u.kind, 99);
  Cloud* e = MallocNullCloud();
  u.data = e;
  u.meanAbs = 5, u.minPositive = 7;
  ComputeErrorStatistics(&u);
  EXPECT_EQ(u.kind, 4);
  EXPECT_EQ(u.meanAbs, 0.0);
  EXPECT_EQ(u.minPositive, 7.0);
  FreeCloud(e);
  // The tolerances: unset until set.
  double t4[4] = {-1, -1, -1, -1};
  EXPECT_EQ(GetCurrentSoftHardTols(&t4[0], &t4[1], &t4[2], &t4[3]), 0);
  EXPECT_EQ(t4[0], -1);
  SetCurrentSoftHardTols(0.1, 0.2, -0.1, -0.3);
  EXPECT_EQ(GetCurrentSoftHardTols(&t4[0], &t4[1], &t4[2], &t4[3]), 1);
  EXPECT_EQ(t4[3], -0.3);
}

TEST_F(SrfErrTest, UserBreakAndInjectedFailuresLeaveNothing) {
  Bspline* srf = Wavy();
  Offsets pts;
  pts.Random(srf, 40, 1.0, 9);
  Cloud* cloud = pts.MakeCloud();
  Out o(40);
  Bspline* srfs[2] = {srf, srf};
  for (int which = 0; which < 2; ++which) {
    StubReset();
    StubBreakAfterPolls(2);
    const int r = which ? o.Many(srfs, 2, nullptr, cloud, 1, 1.0, 0) : o.One(srf, cloud, 1, 1.0);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(StubGetThermometer().open, 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
  }
  StubReset();
  const int failures = RunWithInjectedFailures(300, 3, [&] {
    const int a = o.One(srf, cloud, 1, 1.0);
    const int b = o.Many(srfs, 2, nullptr, cloud, 1, 1.0, 0);
    return a == 1 && b == 1 ? 0 : -2;
  });
  EXPECT_GT(failures, 0);
  FreeCloud(cloud);
  FreeBspline(srf);
}

}  // namespace
