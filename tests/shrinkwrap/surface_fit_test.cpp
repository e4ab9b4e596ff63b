// Shrink-wrap pieces of surfaces onto clouds: normal-difference clouds recover the parameters
// and signed offsets of points set along the normal; the rebuild interpolates S + w N at the
// Greville parameters on the surface's own knots and copies held rows unchanged; moving control
// points along the normal leaves held rows alone; a cloud over two surfaces is split between
// them, points leaving the normal dropped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "cloud/makecld.h"
#include "foundation/cloudrec.h"
#include "foundation/makemat.h"
#include "shrinkwrap/shrink.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/normal_offsets.h"

namespace {

class SurfaceFit : public KernelTest {};

Bspline* Dome(int nu = 6, int nv = 5) {
  PatchOptions o;
  o.nu = nu;
  o.nv = nv;
  return BuildFunctionPatch([](double x, double y) { return 0.3 * std::sin(2 * x) * std::cos(y); },
                            o);
}

// Greville parameters of a knot vector, textbook form.
std::vector<double> Greville(const double* K, int n, int p) {
  std::vector<double> g(n);
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int k = 1; k <= p; ++k) s += K[i + k];
    g[i] = s / p;
  }
  return g;
}

bool SameKnots(const Bspline* a, const Bspline* b) {
  return NumKnotsU(a) == NumKnotsU(b) && NumKnotsV(a) == NumKnotsV(b) &&
         std::memcmp(a->knotsU, b->knotsU, sizeof(double) * NumKnotsU(a)) == 0 &&
         std::memcmp(a->knotsV, b->knotsV, sizeof(double) * NumKnotsV(a)) == 0;
}

bool SameColumn(const Bspline* a, const Bspline* b, int i) {
  for (int j = 0; j < NumCtrlV(a); ++j)
    if (a->X[j][i] != b->X[j][i] || a->Y[j][i] != b->Y[j][i] || a->Z[j][i] != b->Z[j][i])
      return false;
  return true;
}

bool SameRow(const Bspline* a, const Bspline* b, int j) {
  for (int i = 0; i < NumCtrlU(a); ++i)
    if (a->X[j][i] != b->X[j][i] || a->Y[j][i] != b->Y[j][i] || a->Z[j][i] != b->Z[j][i])
      return false;
  return true;
}

TEST_F(SurfaceFit, DifferenceCloudRecoversParametersAndSignedOffsets) {
  BsplineKeeper keep;
  Bspline* s = keep(Dome());
  ASSERT_NE(s, nullptr);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(0.1, 0.9), H(-0.05, 0.05);
  std::vector<float> x, y, z;
  std::vector<double> us, vs, hs;
  for (int k = 0; k < 60; ++k) {
    const double u = U(rng), v = U(rng), h = H(rng);
    const SurfaceFrame f = FrameAt(s, u, v, h < 0 ? -1.0 : 1.0);
    us.push_back(u), vs.push_back(v), hs.push_back(h);
    x.push_back(float(f.S[0] + h * f.n[0]));
    y.push_back(float(f.S[1] + h * f.n[1]));
    z.push_back(float(f.S[2] + h * f.n[2]));
  }
  Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
  ASSERT_NE(cloud, nullptr);
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  Cloud* d = MakeNormalDiffCloud(s, cloud, &gx, &gy, &gz);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->npts, 60);
  double lo = 1e9, hi = -1e9;
  for (int k = 0; k < 60; ++k) {
    // Float input: the points themselves carry about 1e-7 of error.
    EXPECT_NEAR(d->x[k], us[k], 2e-5) << k;
    EXPECT_NEAR(d->y[k], vs[k], 2e-5) << k;
    EXPECT_NEAR(d->z[k], hs[k], 1e-6) << k;
    lo = std::fmin(lo, d->z[k]), hi = std::fmax(hi, d->z[k]);
  }
  EXPECT_FLOAT_EQ(d->zMin, lo);
  EXPECT_FLOAT_EQ(d->zMax, hi);
  const StubThermometer t = StubGetThermometer();
  EXPECT_EQ(t.open, 0);
  EXPECT_EQ(t.displays, t.undisplays);
  FreeSurfaceGrid(&gx, &gy, &gz);
  FreeCloud(d);
  FreeCloud(cloud);
  EXPECT_FALSE(KernelFailed());
}

TEST_F(SurfaceFit, RebuildInterpolatesTheOffsetPointsOnTheSurfacesOwnKnots) {
  BsplineKeeper keep;
  // Parameter speeds far apart in u and v: a rebuild that re-scaled one direction's knots would
  // move every parameter the offsets were fitted at.
  PatchOptions o;
  o.nu = 7;
  o.nv = 5;
  o.x1 = 8.0;
  o.layout = KnotLayout::Random;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; }, o));
  Bspline* ws = keep(BuildFunctionPatch([](double x, double y) { return 0.05 * (1 + x + y); }, o));
  ASSERT_TRUE(s && ws);
  const int free4[4] = {-1, -1, -1, -1};
  Bspline* r = keep(MakeShrinkWrapSurf(s, ws, 0, 0, 0, free4));
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(SameKnots(r, s));
  const std::vector<double> gu = Greville(s->knotsU, 7, 3), gv = Greville(s->knotsV, 5, 3);
  for (double gj : gv)
    for (double gi : gu) {
      const SurfaceFrame f = FrameAt(s, gi, gj, 1.0);
      double w[3], p[3];
      RefEvalSurface(ws, gi, gj, w);
      RefEvalSurface(r, gi, gj, p);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], f.S[k] + w[2] * f.n[k], 1e-10);
    }
  // Held rows: columns 0 and 1 (side 0 at 1), the v-max row (side 1 at 0) and three v-min rows
  // (side 3 at 2) are srf's control points, bit for bit.
  const int held[4] = {1, 0, -1, 2};
  Bspline* h = keep(MakeShrinkWrapSurf(s, ws, 0, 0, 0, held));
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(SameKnots(h, s));
  EXPECT_TRUE(SameColumn(h, s, 0));
  EXPECT_TRUE(SameColumn(h, s, 1));
  EXPECT_TRUE(SameRow(h, s, 4));
  for (int j = 0; j < 3; ++j) EXPECT_TRUE(SameRow(h, s, j));
  EXPECT_FALSE(SameColumn(h, s, 6));
  EXPECT_FALSE(KernelFailed());
}

TEST_F(SurfaceFit, ControlPointsMoveAlongTheNormalExceptHeldRows) {
  BsplineKeeper keep;
  Bspline* s = keep(Dome(6, 5));
  ASSERT_NE(s, nullptr);
  double** off = allocate_matrix_ff(5, 6);
  ASSERT_NE(off, nullptr);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 6; ++i) off[j][i] = 0.01 * (i - j);
  const int held[4] = {-1, 1, 0, -1};  // two v-max rows, the u-max column
  Bspline* r = keep(ShrinkWrapSurfCoefi(s, off, held));
  ASSERT_NE(r, nullptr);
  const std::vector<double> gu = Greville(s->knotsU, 6, 3), gv = Greville(s->knotsV, 5, 3);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 6; ++i) {
      const double d[3] = {r->X[j][i] - s->X[j][i], r->Y[j][i] - s->Y[j][i],
                           r->Z[j][i] - s->Z[j][i]};
      if (j >= 3 || i == 5) {
        EXPECT_EQ(d[0], 0.0);
        EXPECT_EQ(d[1], 0.0);
        EXPECT_EQ(d[2], 0.0);
        continue;
      }
      const SurfaceFrame f = FrameAt(s, gu[i], gv[j], 1.0);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(d[k], off[j][i] * f.n[k], 1e-12) << i << " " << j;
    }
  matrix_free_ff(off);
  EXPECT_FALSE(KernelFailed());
}

// A patch of the bump over [x0, x1] x [0, 1].
Bspline* SplitPatch(double x0, double x1) {
  PatchOptions o;
  o.nu = 6;
  o.nv = 5;
  o.x0 = x0;
  o.x1 = x1;
  return BuildFunctionPatch([](double x, double y) { return 0.25 * std::sin(1.7 * x + 0.3) * std::cos(1.2 * y); },
                            o);
}

TEST_F(SurfaceFit, CloudOverTwoSurfacesIsSplitBetweenThem) {
  BsplineKeeper keep;
  Bspline* a = keep(SplitPatch(0.0, 1.0));
  Bspline* b = keep(SplitPatch(1.0, 2.0));
  ASSERT_TRUE(a && b);
  // 12 x 12 points over each surface, 0.02 above it.
  std::vector<float> x, y, z;
  for (Bspline* s : {a, b})
    for (int j = 0; j < 12; ++j)
      for (int i = 0; i < 12; ++i) {
        double p[3];
        RefEvalSurface(s, (i + 0.5) / 12.0, (j + 0.5) / 12.0, p);
        x.push_back(float(p[0])), y.push_back(float(p[1])), z.push_back(float(p[2] + 0.02));
      }
  // Beyond b's far edge and well above it: its difference does not follow b's normal.
  x.push_back(2.6f), y.push_back(0.5f), z.push_back(0.3f);
  Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
  ASSERT_NE(cloud, nullptr);
  Bspline* srfs[2] = {a, b};
  Cloud* parts[2] = {nullptr, nullptr};
  ASSERT_EQ(MakeSrfsNormalDiffClouds(cloud, srfs, 2, 10.0, parts), 0);
  ASSERT_TRUE(parts[0] && parts[1]);
  EXPECT_EQ(parts[0]->npts, 144);
  EXPECT_EQ(parts[1]->npts, 144);
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < parts[s]->npts; ++k) {
      // Each point is its surface's point at (u, v) moved by the signed distance.
      const SurfaceFrame f = FrameAt(srfs[s], parts[s]->x[k], parts[s]->y[k], 1.0);
      const double d = parts[s]->z[k];
      EXPECT_NEAR(d, 0.02 * f.n[2], 2e-3);
      EXPECT_GT(d, 0.0);
    }
  FreeCloud(parts[0]);
  FreeCloud(parts[1]);
  FreeCloud(cloud);
  EXPECT_FALSE(KernelFailed());
}

}  // namespace
