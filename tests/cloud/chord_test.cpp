// Chordal-deviation reduction: which points a greedy walk keeps on lines, corners, scans and
// grids, and that the in-place thinning carries every datum along with its point.
#include <algorithm>
#include <cmath>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/pchord.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ChordalReduction : public KernelTest {};

std::vector<int> Kept(const std::vector<int>& keep) {
  std::vector<int> out;
  for (int i = 0; i < int(keep.size()); ++i)
    if (keep[i]) out.push_back(i);
  return out;
}

TEST_F(ChordalReduction, LinesKeepEveryThirdPointUnderASpanLimitAndCornersAlways) {
  // The chord of a span shorter than 1e-5 counts as a point (an absolute floor), so the
  // scales stop where spans stay longer.
  for (double scale : {1.0, 1e3, 1e6}) {
    SCOPED_TRACE(scale);
    std::vector<float> x(10), y(10, 0.0f), z(10, 0.0f);
    for (int i = 0; i < 10; ++i) x[i] = float(i * scale);
    std::vector<int> keep(10);
    ASSERT_EQ(ChordDevOptArrays(x.data(), y.data(), z.data(), 10, 0.01 * scale, 3.5 * scale, keep.data()), 0);
    EXPECT_EQ(Kept(keep), (std::vector<int>{0, 3, 6, 9}));
    ASSERT_EQ(ChordDevOptArrays(x.data(), y.data(), z.data(), 10, 0.01 * scale, 1e300, keep.data()), 0);
    EXPECT_EQ(Kept(keep), (std::vector<int>{0, 9}));
    // An L: the corner is far from the chord of the ends, every other point on a leg's chord.
    std::vector<float> lx, ly, lz(11, 0.0f);
    for (int i = 0; i <= 5; ++i) lx.push_back(float(i * scale)), ly.push_back(0.0f);
    for (int i = 1; i <= 5; ++i) lx.push_back(float(5 * scale)), ly.push_back(float(i * scale));
    std::vector<int> lkeep(11);
    ASSERT_EQ(ChordDevOptArrays(lx.data(), ly.data(), lz.data(), 11, 0.1 * scale, 1e300, lkeep.data()), 0);
    EXPECT_EQ(Kept(lkeep), (std::vector<int>{0, 5, 10}));
  }
  // Fewer than 6 points keep the ends; none writes nothing at all.
  std::vector<float> x = {0, 0, 5, 9, 0}, y = {0, 3, 3, 0, 4}, z(5, 0.0f);
  std::vector<int> keep(5, 7);
  ASSERT_EQ(ChordDevOptArrays(x.data(), y.data(), z.data(), 5, 0.0, 1e300, keep.data()), 0);
  EXPECT_EQ(keep, (std::vector<int>{1, 0, 0, 0, 1}));
  std::vector<int> untouched = {7};
  EXPECT_EQ(ChordDevOptArrays(x.data(), y.data(), z.data(), 0, 1.0, 1.0, untouched.data()), 0);
  EXPECT_EQ(ChordDevAngOptArrays(x.data(), y.data(), z.data(), 0, 1.0, 1.0, 30.0, untouched.data()), 0);
  EXPECT_EQ(untouched[0], 7);
}

TEST_F(ChordalReduction, CloudFormKeepsScanEndsAndEndsAtAZeroTolerance) {
  // Six straight scans of seven points: every scan is reduced to its two ends.
  Owned<Cloud, FreeCloud> scans(tagged::Make());
  scans->charLength = 10.0;
  Owned<Cloud, FreeCloud> reduced(ChordDevOptCloud(scans.get(), 1e-3, 1e300));
  ASSERT_TRUE(reduced);
  ASSERT_EQ(reduced->npts, 2 * tagged::kScans);
  ASSERT_EQ(reduced->nscans, tagged::kScans);
  for (int s = 0; s < tagged::kScans; ++s) {
    EXPECT_EQ(reduced->scanStart[s], 2 * s);
    EXPECT_EQ(reduced->scanEnd[s], 2 * s + 1);
    EXPECT_EQ(reduced->y[2 * s], 0.0f);
    EXPECT_EQ(reduced->y[2 * s + 1], float(tagged::kPlaces - 1));
  }
  // Points exactly on their chord (every deviation computes as 0) under a zero tolerance: the
  // pull-back has nothing to pull back to and the ends remain.
  std::vector<float> x(9), y(9, 0.0f), z(9, 0.0f);
  for (int i = 0; i < 9; ++i) x[i] = float(i);
  Owned<Cloud, FreeCloud> line(MakeCld(x.data(), y.data(), z.data(), 9, nullptr));
  line->charLength = 10.0;
  Owned<Cloud, FreeCloud> ends(ChordDevOptCloud(line.get(), 0.0, 1e300));
  ASSERT_TRUE(ends);
  EXPECT_EQ(ends->npts, 2);
  // A kink: kept, the rest of both legs within tolerance of their chords.
  x = {0, 1, 2, 3, 3, 3, 3}, y = {0, 0, 0, 0, 1, 2, 3};
  Owned<Cloud, FreeCloud> bent(MakeCld(x.data(), y.data(), z.data(), 7, nullptr));
  bent->charLength = 10.0;
  Owned<Cloud, FreeCloud> kinked(ChordDevOptCloud(bent.get(), 1e-3, 1e300));
  ASSERT_TRUE(kinked);
  EXPECT_EQ(kinked->npts, 3);
  EXPECT_EQ(kinked->x[1], 3.0f);
  EXPECT_EQ(kinked->y[1], 0.0f);
  EXPECT_FALSE(ChordDevOptCloud(nullptr, 1.0, 1.0));
}

TEST_F(ChordalReduction, GridKeepsItsBorder) {
  // A flat 5 x 6 grid as a scan cloud whose row numbers name each point's column.
  const int R = 5, C = 6;
  std::vector<float> x, y, z;
  std::vector<int> start, end;
  for (int r = 0; r < R; ++r) {
    start.push_back(r * C), end.push_back(r * C + C - 1);
    for (int c = 0; c < C; ++c) x.push_back(float(c)), y.push_back(float(r)), z.push_back(0.0f);
  }
  Owned<Cloud, FreeCloud> grid(MakeScanCld(x.data(), y.data(), z.data(), R * C, start.data(), end.data(), R, nullptr));
  ASSERT_TRUE(grid);
  EXPECT_EQ(MatrixChordalSample(grid.get(), 0.01, 1e300), 0);  // no row numbers
  grid->rowNumber = MallocArray<int16_t>(R * C);
  for (int k = 0; k < R * C; ++k) grid->rowNumber[k] = int16_t(k % C);
  ASSERT_EQ(MatrixChordalSample(grid.get(), 0.01, 1e300), 1);
  ASSERT_EQ(grid->npts, 2 * C + 2 * (R - 2));
  for (int i = 0; i < grid->npts; ++i) {
    const bool border = grid->x[i] == 0 || grid->x[i] == C - 1 || grid->y[i] == 0 || grid->y[i] == R - 1;
    EXPECT_TRUE(border) << grid->x[i] << " " << grid->y[i];
  }
}

TEST_F(ChordalReduction, ControlledSamplingCarriesEveryDatumWithItsPoint) {
  Owned<Cloud, FreeCloud> c(tagged::Make());
  int changed = -1;
  DoControlledSampling(c.get(), 0.01, 1e300, &changed);
  EXPECT_EQ(changed, 1);
  // Every scan keeps its ends; of each straight triple the middle point goes.
  ASSERT_EQ(c->nscans, tagged::kScans);
  for (int s = 0; s < c->nscans; ++s) {
    EXPECT_EQ(c->y[c->scanStart[s]], 0.0f);
    EXPECT_EQ(c->y[c->scanEnd[s]], float(tagged::kPlaces - 1));
    EXPECT_LT(c->scanEnd[s] - c->scanStart[s] + 1, tagged::kPlaces);
  }
  EXPECT_LT(c->npts, tagged::kPoints);
  tagged::ExpectDataWithPoints(c.get(), true);
  tagged::ExpectScansCoverPoints(c.get());
  // A zero tolerance on bent points drops nothing.
  std::vector<float> x = {0, 1, 1, 2, 2, 3}, y = {0, 0, 1, 1, 2, 2}, z(6, 0.0f);
  Owned<Cloud, FreeCloud> stairs(MakeCld(x.data(), y.data(), z.data(), 6, nullptr));
  DoControlledSampling(stairs.get(), 0.0, 1e300, &changed);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(stairs->npts, 6);
}

TEST_F(ChordalReduction, RunsOfALineIdAreReducedApart) {
  // Two straight runs end to end on one line: each keeps its own ends.
  std::vector<float> x(12), y(12, 0.0f), z(12, 0.0f);
  std::vector<int> line(12);
  for (int i = 0; i < 12; ++i) x[i] = float(i), line[i] = i / 6;
  std::vector<char> mask(12, 0);
  mask[3] = 1;  // bytes already set stay set
  DoChordalIndex(x.data(), y.data(), z.data(), 12, line.data(), mask.data(), 0.01, 1e300);
  EXPECT_EQ(mask, (std::vector<char>{1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 1}));
  // Out of memory: nothing is dropped and the caller sees no error.
  MallocFailAfter(0, -1);
  std::vector<char> all(12, 0);
  DoChordalIndex(x.data(), y.data(), z.data(), 12, line.data(), all.data(), 0.01, 1e300);
  MallocFailClear();
  EXPECT_EQ(all, std::vector<char>(12, 1));
  EXPECT_FALSE(KernelFailedNow());
}

}  // namespace

namespace {

// 660 points along two turns of a helix of radius 0.3 rising 0.4 (units of size), moved by offset
// x size.
void Helix(double size, const double offset[3], std::vector<float>* x, std::vector<float>* y,
           std::vector<float>* z) {
  x->clear(), y->clear(), z->clear();
  for (int i = 0; i < 660; ++i) {
    const double t = 4 * 3.141592653589793 * i / 659;
    x->push_back(float(size * (offset[0] + 0.3 * std::cos(t))));
    y->push_back(float(size * (offset[1] + 0.3 * std::sin(t))));
    z->push_back(float(size * (offset[2] + 0.4 * t / (4 * 3.141592653589793))));
  }
}

// Largest distance of the points from the polyline through the kept ones (in order), over size.
double WorstDeviation(const std::vector<float>& x, const std::vector<float>& y, const std::vector<float>& z,
                      const std::vector<double>& kx, const std::vector<double>& ky, const std::vector<double>& kz) {
  double worst = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    double best = 1e300;
    for (size_t k = 0; k + 1 < kx.size(); ++k) {
      const double a[3] = {kx[k], ky[k], kz[k]}, b[3] = {kx[k + 1], ky[k + 1], kz[k + 1]};
      const double d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
      const double q[3] = {x[i] - a[0], y[i] - a[1], z[i] - a[2]};
      const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
      const double t = dd > 0 ? std::clamp((q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / dd, 0.0, 1.0) : 0.0;
      const double r[3] = {q[0] - t * d[0], q[1] - t * d[1], q[2] - t * d[2]};
      best = std::min(best, std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]));
    }
    worst = std::max(worst, best);
  }
  return worst;
}

TEST_F(ChordalReduction, SmallAndFarPartsAreReducedAsAtUnitSize) {
  const double origin[3] = {0, 0, 0}, far[3] = {1e4, -6e3, 3.5e3};
  std::vector<float> x, y, z;
  Helix(1.0, origin, &x, &y, &z);
  std::vector<int> ref(660);
  ASSERT_EQ(ChordDevOptArrays(x.data(), y.data(), z.data(), 660, 2e-3, 1.0, ref.data()), 0);
  Owned<Cloud, FreeCloud> refSource(MakeCld(x.data(), y.data(), z.data(), 660, nullptr));
  Owned<Cloud, FreeCloud> refCloud(ChordDevOptCloud(refSource.get(), 2e-3, 1.0));
  ASSERT_TRUE(refCloud);
  const int refCount = refCloud->npts;
  EXPECT_GT(refCount, 20);
  EXPECT_LT(refCount, 100);
  for (double size : {1e-6, 1e-3, 1e3, 1e6})
    for (const double* offset : {origin, far}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << (offset == far));
      Helix(size, offset, &x, &y, &z);
      const double tol = 2e-3 * size;
      std::vector<int> keep(660);
      ASSERT_EQ(ChordDevOptArrays(x.data(), y.data(), z.data(), 660, tol, size, keep.data()), 0);
      Owned<Cloud, FreeCloud> source(MakeCld(x.data(), y.data(), z.data(), 660, nullptr));
      Owned<Cloud, FreeCloud> out(ChordDevOptCloud(source.get(), tol, size));
      ASSERT_TRUE(out);
      // The points are rounded to single precision relative to the size (near the origin) or to
      // 6e-4 of it (far away); a point whose chord passes at the tolerance may go either way.
      const double slack = offset == origin ? 0.05 : 0.1;
      EXPECT_NEAR(double(Kept(keep).size()), double(Kept(ref).size()), slack * Kept(ref).size());
      EXPECT_NEAR(double(out->npts), double(refCount), slack * refCount);
      // Every source point lies within the tolerance of the reduced polylines.
      std::vector<double> kx, ky, kz;
      for (int i : Kept(keep)) kx.push_back(x[i]), ky.push_back(y[i]), kz.push_back(z[i]);
      EXPECT_LE(WorstDeviation(x, y, z, kx, ky, kz), tol * (1 + 1e-6));
      kx.clear(), ky.clear(), kz.clear();
      for (int i = 0; i < out->npts; ++i) kx.push_back(out->x[i]), ky.push_back(out->y[i]), kz.push_back(out->z[i]);
      EXPECT_LE(WorstDeviation(x, y, z, kx, ky, kz), tol * (1 + 1e-6));
    }
}

}  // namespace
