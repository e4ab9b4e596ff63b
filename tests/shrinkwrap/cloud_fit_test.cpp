// Whole and local shrink-wrap fits onto clouds: a surface fitted to a cloud sampled from a
// displaced copy of itself moves onto the cloud with its held rows bit for bit; a flat patch
// fitted to a parallel cloud lands on it at every scale; the offset fit reproduces a constant
// and holds boundary rows at zero; a local fit moves only the control points whose support
// lies in its box, so the surface outside the box stays; a user break in the difference ends
// the fit cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/srfgrid.h"
#include "cloud/makecld.h"
#include "foundation/cloudrec.h"
#include "shrinkwrap/shrink.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/normal_offsets.h"

namespace {

class CloudFit : public KernelTest {};

double Bump(double x, double y) { return 0.25 * std::sin(1.7 * x + 0.3) * std::cos(1.2 * y); }

Bspline* Patch(const std::function<double(double, double)>& f, double x0 = 0.0, double x1 = 1.0,
               int nu = 7, int nv = 6) {
  PatchOptions o;
  o.nu = nu;
  o.nv = nv;
  o.x0 = x0;
  o.x1 = x1;
  return BuildFunctionPatch(f, o);
}

// n x n points of the surface, each moved along z by lift(x, y).
Cloud* SampledCloud(const Bspline* s, int n, const std::function<double(double, double)>& lift) {
  std::vector<float> x, y, z;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      double p[3];
      RefEvalSurface(s, s->umin + (s->umax - s->umin) * (i + 0.5) / n,
                     s->vmin + (s->vmax - s->vmin) * (j + 0.5) / n, p);
      x.push_back(float(p[0])), y.push_back(float(p[1])), z.push_back(float(p[2] + lift(p[0], p[1])));
    }
  return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
}

// Root mean square of the signed distances of the cloud to the surface.
double RmsDistance(Bspline* s, Cloud* c) {
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  Cloud* d = MakeNormalDiffCloud(s, c, &gx, &gy, &gz);
  FreeSurfaceGrid(&gx, &gy, &gz);
  if (!d) return -1.0;
  double sum = 0.0;
  for (int k = 0; k < d->npts; ++k) sum += double(d->z[k]) * d->z[k];
  const double r = std::sqrt(sum / d->npts);
  FreeCloud(d);
  return r;
}

bool SameColumn(const Bspline* a, const Bspline* b, int i) {
  for (int j = 0; j < NumCtrlV(a); ++j)
    if (a->X[j][i] != b->X[j][i] || a->Y[j][i] != b->Y[j][i] || a->Z[j][i] != b->Z[j][i]) return false;
  return true;
}

TEST_F(CloudFit, DisplacedCopyPullsTheSurfaceOntoTheCloudHeldRowsStay) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch(Bump));
  ASSERT_NE(s, nullptr);
  Cloud* cloud = SampledCloud(s, 30, [](double x, double y) { return 0.04 * (1.0 + x * y); });
  ASSERT_NE(cloud, nullptr);
  const double before = RmsDistance(s, cloud);
  const int free4[4] = {-1, -1, -1, -1};
  Bspline* f = nullptr;
  ASSERT_EQ(ShrinkWrapFit(s, cloud, free4, 0, 0.3, 0.7, 0.01, &f), 0);
  keep(f);
  ASSERT_NE(f, nullptr);
  const double free = RmsDistance(f, cloud);
  EXPECT_GT(before, 0.04);
  EXPECT_LT(free, 0.1 * before) << before << " " << free;
  const int fixed[4] = {0, -1, 1, -1};
  Bspline* r = nullptr;
  ASSERT_EQ(ShrinkWrapFit(s, cloud, fixed, 0, 0.3, 0.7, 0.01, &r), 0);
  keep(r);
  ASSERT_NE(r, nullptr);
  const double held = RmsDistance(r, cloud);
  EXPECT_LT(held, 0.5 * before) << before << " " << held;
  // The fit works on s itself (knots for the held rows inserted): the result has its knots
  // and s's held columns, u-min and the two u-max ones, bit for bit.
  ASSERT_EQ(NumCtrlU(r), NumCtrlU(s));
  ASSERT_EQ(NumCtrlV(r), NumCtrlV(s));
  for (int k = 0; k < NumKnotsU(s); ++k) EXPECT_EQ(r->knotsU[k], s->knotsU[k]);
  EXPECT_TRUE(SameColumn(r, s, 0));
  EXPECT_TRUE(SameColumn(r, s, NumCtrlU(s) - 1));
  EXPECT_TRUE(SameColumn(r, s, NumCtrlU(s) - 2));
  EXPECT_FALSE(SameColumn(r, s, 3));
  EXPECT_EQ(r->fitProps.flag, 0);
  FreeCloud(cloud);
  // Too few points: refused, nothing made.
  std::vector<float> one = {0.5f};
  Cloud* single = MakeCld(one.data(), one.data(), one.data(), 1, nullptr);
  Bspline* none = reinterpret_cast<Bspline*>(1);
  EXPECT_EQ(ShrinkWrapFit(s, single, fixed, 0, 0.3, 0.7, 0.01, &none), -2);
  EXPECT_EQ(none, nullptr);
  FreeCloud(single);
  EXPECT_FALSE(KernelFailed());
}

TEST_F(CloudFit, FlatPatchLandsOnAParallelCloudAtEveryScale) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    BsplineKeeper keep;
    Bspline* s = keep(Patch([](double, double) { return 0.0; }, 0.0, 1.0, 6, 5));
    ASSERT_NE(s, nullptr);
    const double shift[3] = {3.0 * scale, -2.0 * scale, 1.0 * scale};
    ScaleAndMove(s, scale, shift);
    Cloud* cloud = SampledCloud(s, 20, [=](double, double) { return 0.1 * scale; });
    ASSERT_NE(cloud, nullptr);
    const int free4[4] = {-1, -1, -1, -1};
    Bspline* r = nullptr;
    ASSERT_EQ(ShrinkWrapFit(s, cloud, free4, 1, 0.3, 0.7, 0.01, &r), 0) << scale;
    keep(r);
    // A constant offset has no smoothing energy: every control point rises by it.
    for (int j = 0; j < NumCtrlV(r); ++j)
      for (int i = 0; i < NumCtrlU(r); ++i) {
        EXPECT_NEAR(r->Z[j][i], 1.1 * scale, 1e-5 * scale) << scale << " " << i << " " << j;
        EXPECT_NEAR(r->X[j][i], s->X[j][i], 1e-9 * scale);
      }
    FreeCloud(cloud);
    EXPECT_FALSE(KernelFailed());
  }
}

TEST_F(CloudFit, WaveIsFittedAlikeAtEverySize) {
  // A flat 10 x 10 net under 900 points of a wave a tenth of its size high: the smoothing is
  // that of unit size, so the fitted surface lies as far from the points, relative to the size,
  // at every size, and matches the unit fit scaled.
  double atUnit = -1.0;
  for (double scale : {1.0, 1e-6, 1e-3, 1e3, 1e6}) {
    BsplineKeeper keep;
    Bspline* s = keep(Patch([](double, double) { return 0.0; }, 0.0, 1.0, 10, 10));
    ASSERT_NE(s, nullptr);
    const double shift[3] = {-1.0 * scale, 2.0 * scale, 0.5 * scale};
    ScaleAndMove(s, scale, shift);
    Cloud* cloud = SampledCloud(s, 30, [=](double x, double y) {
      return 0.1 * scale * std::sin(2.0 * M_PI * (x - shift[0]) / scale) * std::cos(M_PI * (y - shift[1]) / scale);
    });
    ASSERT_NE(cloud, nullptr);
    const int free4[4] = {-1, -1, -1, -1};
    Bspline* r = nullptr;
    ASSERT_EQ(ShrinkWrapFit(s, cloud, free4, 0, 0.3, 0.7, 0.01, &r), 0) << scale;
    keep(r);
    const double rms = RmsDistance(r, cloud) / scale;
    FreeCloud(cloud);
    if (atUnit < 0.0) {
      atUnit = rms;
      // The wave's own RMS height is 0.05: the fit takes nearly all of it.
      EXPECT_LT(atUnit, 2e-3);
    }
    EXPECT_NEAR(rms, atUnit, 1e-3 * atUnit) << scale;
  }
}

TEST_F(CloudFit, GriddedCloudFitsLikeTheSamePointsUnordered) {
  // A grid cloud's x and y are places, not surface parameters: its difference cloud must not
  // keep the grid organisation, or the fit would read the points at the grid's steps.
  BsplineKeeper keep;
  Bspline* s = keep(Patch(Bump, 0.0, 3.0, 6, 5));
  ASSERT_NE(s, nullptr);
  std::vector<float> h, x, y;
  for (int j = 0; j < 12; ++j)
    for (int i = 0; i < 12; ++i) {
      const double px = 0.1 + 0.25 * i, py = 0.05 + 0.08 * j;
      h.push_back(float(Bump(px, py) + 0.03));
      x.push_back(float(px)), y.push_back(float(py));
    }
  Cloud* grid = MakeGridCld(0.1, 0.05, 0.25, 0.08, 12, 12, 0, 1, h.data(), nullptr);
  Cloud* loose = MakeCld(x.data(), y.data(), h.data(), 144, nullptr);
  ASSERT_TRUE(grid && loose);
  ASSERT_EQ(grid->type, 17);
  const int free4[4] = {-1, -1, -1, -1};
  Bspline* a = keep(CopyBsplineSurface(s));
  Bspline* ra = nullptr;
  Bspline* rb = nullptr;
  ASSERT_EQ(ShrinkWrapFit(a, grid, free4, 0, 0.3, 0.7, 0.01, &ra), 0);
  keep(ra);
  ASSERT_EQ(ShrinkWrapFit(s, loose, free4, 0, 0.3, 0.7, 0.01, &rb), 0);
  keep(rb);
  for (int j = 0; j < NumCtrlV(ra); ++j)
    for (int i = 0; i < NumCtrlU(ra); ++i) EXPECT_EQ(ra->Z[j][i], rb->Z[j][i]) << i << " " << j;
  FreeCloud(grid);
  FreeCloud(loose);
  EXPECT_FALSE(KernelFailed());
}

TEST_F(CloudFit, OffsetFitReproducesAConstantAndHoldsRowsAtZero) {
  BsplineKeeper keep;
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  std::vector<float> u, v, w;
  for (int k = 0; k < 300; ++k) {
    u.push_back(float(U(rng))), v.push_back(float(U(rng))), w.push_back(0.2f);
  }
  Cloud* diff = MakeCld(u.data(), v.data(), w.data(), int(u.size()), nullptr);
  ASSERT_NE(diff, nullptr);
  Bspline* ws = keep(Patch(Bump, 0.0, 1.0, 7, 6));
  ws->fitProps = {1, 0.7, 0.3, 0.01};
  const int free4[4] = {-1, -1, -1, -1};
  ASSERT_EQ(FitWCoefiToCloud(ws, diff, free4), 0);
  // A constant has no membrane or bending energy: the fit is that constant.
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(ws->Z[j][i], double(0.2f), 1e-9) << i << " " << j;
  // Side 0 (u-min) two columns, side 1 (v-max) one row, side 3 (v-min) three rows held.
  const int held[4] = {1, 0, -1, 2};
  ASSERT_EQ(FitWCoefiToCloud(ws, diff, held), 0);
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 7; ++i) {
      // Inner rows leave their two (or four) end points to the neighbouring sides, free here.
      const bool isHeld = i == 0 || (i == 1 && j >= 1 && j <= 4) || j == 5 || j == 0 ||
                          (j == 1 && i <= 5) || (j == 2 && i >= 2 && i <= 4);
      if (isHeld) {
        EXPECT_EQ(ws->Z[j][i], 0.0) << i << " " << j;
      } else {
        EXPECT_NE(ws->Z[j][i], 0.0) << i << " " << j;
      }
    }
  EXPECT_GT(ws->Z[4][4], 0.05);  // the free block still follows the data
  FreeCloud(diff);
  EXPECT_FALSE(KernelFailed());
}

TEST_F(CloudFit, LocalFitMovesOnlyTheBoxAndKeepsTheSurfaceOutsideIt) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch(Bump, 0.0, 1.0, 8, 8));
  ASSERT_NE(s, nullptr);
  Cloud* cloud = SampledCloud(s, 40, [](double, double) { return 0.03; });
  ASSERT_NE(cloud, nullptr);
  ShrnkWrapParams params;
  SetDefaultShrnkWrapParams(&params);
  for (int k = 0; k < 4; ++k) params.fixedRows[k] = -1;
  const double box[4] = {0.3, 0.25, 0.7, 0.75};
  Cloud* diff = nullptr;
  Bspline* r = nullptr;
  ASSERT_EQ(LocalSrfShrinkWrapFit(s, cloud, box, 1.0, params, 4, 4, &diff, &r), 0);
  keep(r);
  ASSERT_NE(diff, nullptr);
  ASSERT_NE(r, nullptr);
  // Only points of the box came into the difference cloud.
  for (int k = 0; k < diff->npts; ++k) {
    EXPECT_GE(diff->x[k], 0.3f);
    EXPECT_LE(diff->x[k], 0.7f);
    EXPECT_GE(diff->y[k], 0.25f);
    EXPECT_LE(diff->y[k], 0.75f);
  }
  EXPECT_GT(diff->npts, 100);
  // Outside the box the surface is the one it was; inside it rose towards the cloud.
  for (int j = 0; j <= 20; ++j)
    for (int i = 0; i <= 20; ++i) {
      const double u = i / 20.0, v = j / 20.0;
      double p[3], q[3];
      RefEvalSurface(s, u, v, p);
      RefEvalSurface(r, u, v, q);
      const bool inside = u > box[0] && u < box[2] && v > box[1] && v < box[3];
      if (!inside) {
        EXPECT_NEAR(q[2], p[2], 1e-12) << u << " " << v;
        EXPECT_NEAR(q[0], p[0], 1e-12) << u << " " << v;
      }
    }
  double pc[3], qc[3];
  RefEvalSurface(s, 0.5, 0.5, pc);
  RefEvalSurface(r, 0.5, 0.5, qc);
  EXPECT_NEAR(qc[2] - pc[2], 0.03, 0.01);
  FreeCloud(diff);
  // A box the cloud does not reach: an unchanged copy and no difference cloud.
  std::vector<float> x = {0.05f, 0.06f, 0.07f}, y = {0.05f, 0.05f, 0.05f}, z = {0.2f, 0.2f, 0.2f};
  Cloud* corner = MakeCld(x.data(), y.data(), z.data(), 3, nullptr);
  Bspline* same = nullptr;
  ASSERT_EQ(LocalSrfShrinkWrapFit(s, corner, box, 1.0, params, 4, 4, &diff, &same), 0);
  keep(same);
  EXPECT_EQ(diff, nullptr);
  ASSERT_EQ(NumCtrlU(same), NumCtrlU(s));
  EXPECT_TRUE(SameColumn(same, s, 3));
  FreeCloud(corner);
  FreeCloud(cloud);
  EXPECT_FALSE(KernelFailed());
}


TEST_F(CloudFit, UserBreakInTheDifferenceEndsTheFitCleanly) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch(Bump));
  Cloud* cloud = SampledCloud(s, 30, [](double, double) { return 0.02; });
  ASSERT_TRUE(s && cloud);
  const int free4[4] = {-1, -1, -1, -1};
  // A clean run counts the polls; the break then comes inside the pass over the points (the
  // last polls of the run, one every tenth point).
  Bspline* copy = keep(CopyBsplineSurface(s));
  Bspline* clean = nullptr;
  StubBreakAfterPolls(0);
  ASSERT_EQ(ShrinkWrapFit(copy, cloud, free4, 0, 0.3, 0.7, 0.01, &clean), 0);
  keep(clean);
  const long polls = StubUserBreakPolls();
  ASSERT_GT(polls, 10);
  const StubThermometer before = StubGetThermometer();
  StubBreakAfterPolls(polls - 20);
  Bspline* r = nullptr;
  EXPECT_EQ(ShrinkWrapFit(s, cloud, free4, 0, 0.3, 0.7, 0.01, &r), -2);
  EXPECT_EQ(r, nullptr);
  const StubThermometer t = StubGetThermometer();
  EXPECT_EQ(StubUserBreakPolls(), polls - 20);
  StubBreakAfterPolls(0);
  EXPECT_EQ(t.displays, before.displays + 1);
  EXPECT_EQ(t.open, 0);
  EXPECT_EQ(MallocTrackLevel(), 0);
  EXPECT_EQ(MallocTrackedCount(), 0);
  FreeCloud(cloud);
  ClearKernelError();
}

TEST_F(CloudFit, InjectedFailuresLeaveNothingBehind) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch(Bump, 0.0, 1.0, 6, 5));
  Cloud* cloud = SampledCloud(s, 10, [](double, double) { return 0.02; });
  ASSERT_TRUE(s && cloud);
  ShrnkWrapParams params;
  SetDefaultShrnkWrapParams(&params);
  const double box[4] = {0.2, 0.2, 0.8, 0.8};
  auto run = [&] {
    Cloud* diff = nullptr;
    Bspline* r = nullptr;
    const int rc = LocalSrfShrinkWrapFit(s, cloud, box, 1.0, params, 3, 3, &diff, &r);
    if (rc != 0) {
      EXPECT_EQ(r, nullptr);
      EXPECT_EQ(diff, nullptr);
    }
    FreeBspline(r);
    if (diff) FreeCloud(diff);
    return rc;
  };
  // A clean run sizes the loop: failures spread over the whole fit.
  const long r0 = MallocRuntimeRequests();
  ASSERT_EQ(run(), 0);
  const long requests = MallocRuntimeRequests() - r0;
  const int failures = RunWithInjectedFailures(requests, requests / 40 + 1, run);
  EXPECT_GT(failures, 30);
  FreeCloud(cloud);
}

}  // namespace
