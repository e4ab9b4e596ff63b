#include <algorithm>
#include <array>
#include <tuple>
#include <random>

#include "cloud/cldpoly.h"
#include "cloud/pcopy.h"
#include "cloud/psample.h"
#include "cloud/psort.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace tagged;
class KeepMask : public KernelTest {};

// The sampled cloud holds exactly the kept points with their data, the kept triangles in their
// order, and scans and slices that tile the points.
void ExpectSampled(const Cloud* c, const std::vector<char>& keep, const std::vector<std::array<int, 3>>& before) {
  std::vector<int> kept;
  for (int id = 0; id < kPoints; ++id)
    if (keep[id]) kept.push_back(id);
  ASSERT_EQ(c->npts, int(kept.size()));
  EXPECT_EQ(c->nptsBuilt, c->npts);
  for (int i = 0; i < c->npts; ++i) EXPECT_EQ(IdAt(c, i), kept[i]);
  ExpectDataWithPoints(c, true);
  std::vector<std::array<int, 3>> expected;
  for (auto t : before)
    if (keep[t[0]] && keep[t[1]] && keep[t[2]]) expected.push_back(t);
  EXPECT_EQ(TriangleIds(c), expected);
  ExpectScansCoverPoints(c);
  if (const CloudSlice* s = c->slice) {
    for (int j = 0; j < s->nslices; ++j) {
      EXPECT_EQ(s->sliceEnd[j], j + 1 < s->nslices ? s->sliceStart[j + 1] - 1 : c->npts - 1);
      EXPECT_LT(s->sliceNext[j], s->nslices);
    }
    int counted = 0;
    for (int k = 0; k < c->nscans; ++k) counted += s->scanSliceCount[k];
    EXPECT_EQ(counted, s->nslices);
  }
}

TEST_F(KeepMask, RandomMasksKeepEveryDatumWithItsPointInPlaceAndIntoANewCloud) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    std::bernoulli_distribution keepIt(0.25 + 0.7 * (round % 5) / 4.0);
    std::vector<char> keep(kPoints);
    for (char& k : keep) k = keepIt(rng);
    Cloud* c = Make();
    const auto triangles = TriangleIds(c);
    const bool none = std::count(keep.begin(), keep.end(), 1) == 0;
    double box[6];
    Cloud* made = CreateCloudBasedOnArray(c, reinterpret_cast<const unsigned char*>(keep.data()), box);
    ExpectDataWithPoints(c, true);  // the source is untouched
    EXPECT_EQ(c->npts, kPoints);
    if (none) {
      EXPECT_EQ(made, nullptr);
    } else {
      ASSERT_NE(made, nullptr);
      ExpectSampled(made, keep, triangles);
      EXPECT_FLOAT_EQ(box[0], *std::min_element(made->x, made->x + made->npts));
    }
    ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);
    if (!none) ExpectSampled(c, keep, triangles);
    EXPECT_FALSE(KernelFailedNow());
    FreeCloud(made);
    FreeCloud(c);
  }
}

TEST_F(KeepMask, BoundaryMasksAndScanStructure) {
  Cloud* c = Make();
  std::vector<char> keep(kPoints, 1);
  Cloud* copy = CreateCloudBasedOnArray(c, reinterpret_cast<const unsigned char*>(keep.data()), nullptr);
  ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);  // everything kept: nothing changes
  EXPECT_EQ(c->npts, kPoints);
  EXPECT_EQ(c->slice->nslices, 2 * kScans);
  EXPECT_EQ(copy->npts, kPoints);
  ExpectDataWithPoints(copy, true);
  FreeCloud(copy);

  // Two kept scans in a row of one point each: no scan cloud any more, no slices.
  keep.assign(kPoints, 1);
  for (int j = 1; j < kPlaces; ++j) keep[2 * kPlaces + j] = keep[4 * kPlaces + j] = 0;
  for (int j = 0; j < kPlaces; ++j) keep[3 * kPlaces + j] = 0;
  ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);
  EXPECT_EQ(c->type, 0);
  EXPECT_EQ(c->scanStart, nullptr);
  EXPECT_EQ(c->slice, nullptr);
  ExpectDataWithPoints(c, true);

  // Nothing kept: no points, the arrays stay.
  keep.assign(c->npts, 0);
  ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);
  EXPECT_EQ(c->npts, 0);
  EXPECT_NE(c->x, nullptr);
  FreeCloud(c);  // the sanitizer reports label strings the empty cloud lost track of

  // A sampled grid is a scan cloud; its grid block and charLength stay.
  float h[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  Cloud* g = MakeGridCld(0, 0, 1, 1, 4, 3, 0, 1, h, nullptr);
  const Cloud before = *g;
  std::vector<char> m = {1, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 1};
  ASSERT_EQ(SampleCloudBasedOnArray(g, m.data()), 1);
  EXPECT_EQ(g->type, 13);
  EXPECT_EQ(g->nscans, 2);
  EXPECT_EQ(g->ptsPerRow, 3);
  EXPECT_EQ(g->charLength, before.charLength);
  EXPECT_EQ(g->grid.rowStep, before.grid.rowStep);
  EXPECT_EQ(g->sampleMark, 3.37e38);
  FreeCloud(g);
}

TEST_F(KeepMask, SlicesBreakFlipAndRebase) {
  Cloud* c = Make();
  std::vector<char> keep(kPoints, 1);
  for (int j = 0; j < kPlaces; ++j) keep[j] = 0;  // scan 0 and its slices 0, 1 go
  keep[7] = keep[8] = 1, keep[9] = 0;             // slice 2 (kind 0) keeps 2 points: broken
  keep[10] = keep[11] = 0;                         // slice 3 (kind 1) keeps 2: broken, kind 0
  ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);
  const CloudSlice* s = c->slice;
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->nslices, 2 * kScans - 2);
  EXPECT_EQ(s->sliceKind[1], 0);          // old slice 3: broken kind 1 becomes kind 0
  EXPECT_EQ(s->sliceNext[0], 2);          // old slice 2 skips broken slice 3 to old slice 4
  EXPECT_EQ(s->sliceFlag[0], 0);          // kind 0: no flip
  EXPECT_EQ(s->sliceNext[1], 2);          // old slice 3 -> old slice 4, none skipped
  EXPECT_EQ(s->scanValue[0], 0.0f);       // re-based on the first kept scan
  EXPECT_EQ(s->scanValue[1], 1.0f);
  double base;
  std::memcpy(&base, &s->header[6], sizeof base);
  EXPECT_EQ(base, -1.0);  // value less base is unchanged for every kept scan
  FreeCloud(c);

  // A kind-1 slice whose chain skips one broken slice flips its flag.
  c = Make();
  keep.assign(kPoints, 1);
  keep[8] = keep[9] = 0;  // slice 2 keeps one point: broken; slice 1 (kind 1) skips it
  ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);
  EXPECT_EQ(c->slice->sliceFlag[1], 1);
  EXPECT_EQ(c->slice->sliceNext[1], 3);
  FreeCloud(c);
}

// Everything a cloud holds, compared exactly.
void ExpectSameCloud(const Cloud* a, const Cloud* b) {
  ASSERT_EQ(a->npts, b->npts);
  ASSERT_EQ(a->nscans, b->nscans);
  ASSERT_EQ(a->ntri, b->ntri);
  EXPECT_EQ(a->type, b->type);
  const int n = a->npts;
  auto same = [](const void* p, const void* q, size_t bytes) { return p ? q && !std::memcmp(p, q, bytes) : !q; };
  for (auto [p, q] : {std::pair{a->x, b->x}, {a->y, b->y}, {a->nx, b->nx}, {a->nz, b->nz}, {a->colour[1], b->colour[1]}})
    EXPECT_TRUE(same(p, q, n * sizeof(float)));
  EXPECT_TRUE(same(a->reliability, b->reliability, n));
  EXPECT_TRUE(same(a->rowNumber, b->rowNumber, 2 * n));
  EXPECT_TRUE(same(a->isShow, b->isShow, CloudBitArrayBytes(n)));
  EXPECT_TRUE(same(a->labelIsShow, b->labelIsShow, CloudBitArrayBytes(n)));
  EXPECT_TRUE(same(a->tri, b->tri, a->ntri * sizeof(CloudTriangle)));
  EXPECT_TRUE(same(a->scanEnd, b->scanEnd, a->nscans * sizeof(int32_t)));
  ASSERT_EQ(a->farrays.count, b->farrays.count);
  for (int k = 0; k < a->farrays.count; ++k) EXPECT_TRUE(same(a->farrays.arrays[k], b->farrays.arrays[k], n * 4));
  ASSERT_EQ(!a->slice, !b->slice);
  if (a->slice) { EXPECT_TRUE(same(a->slice->sliceStart, b->slice->sliceStart, a->slice->nslices * 4)); }
  ASSERT_EQ(!a->labels, !b->labels);
  for (int i = 0; a->labels && i < n; ++i)
    EXPECT_EQ(a->labels[i] ? std::string(a->labels[i]) : "-", b->labels[i] ? std::string(b->labels[i]) : "-");
}

// A refused allocation leaves the cloud as it was (0), or samples it and at most drops the
// triangles when their new array was refused (1, no failure reported); a refusal after that is
// reported but costs no triangle.
TEST_F(KeepMask, FailuresLeaveTheCloudAsItWasOrOnlyLoseTriangles) {
  std::vector<char> keep(kPoints);
  for (int id = 0; id < kPoints; ++id) keep[id] = id % 4 != 1;
  Cloud* full = Make();
  const auto triangles = TriangleIds(full);
  FreeCloud(full);
  int failed = 0, withoutTriangles = 0, done = 0, reported = 0;
  Cloud* probe = Make();
  const long before = MallocRuntimeRequests();
  SampleCloudBasedOnArray(probe, keep.data());
  const long requests = MallocRuntimeRequests() - before;
  FreeCloud(probe);
  for (long skip = 0; skip <= requests; ++skip) {
    Cloud* c = Make();
    Cloud* snapshot = CopyCloud(c);
    MallocFailAfter(skip, -1);
    const int r = SampleCloudBasedOnArray(c, keep.data());
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    if (r == 0) {
      ++failed;
      ExpectSameCloud(c, snapshot);
    } else if (KernelFailedNow()) {
      ++reported;
      ExpectSampled(c, keep, triangles);
    } else {
      ExpectDataWithPoints(c, true);
      ExpectScansCoverPoints(c);
      (c->ntri == 0 ? withoutTriangles : done)++;
    }
    ClearKernelError();
    FreeCloud(snapshot);
    FreeCloud(c);
  }
  EXPECT_GT(failed, 0);
  EXPECT_GT(withoutTriangles, 0);
  EXPECT_GT(done, 0);
  EXPECT_GT(reported, 0);

  // The new-cloud form and the copy leave nothing tracked and nothing leaked on any failure.
  Cloud* c = Make();
  RunWithInjectedFailures(120, 1, [&] {
    Cloud* made = CreateCloudBasedOnArray(c, reinterpret_cast<const unsigned char*>(keep.data()), nullptr);
    Cloud* copy = CopyCloud(c);
    const int r = made && copy ? 0 : -2;
    FreeCloud(made);
    FreeCloud(copy);
    return r;
  });
  ExpectDataWithPoints(c, true);
  FreeCloud(c);
}

// Scans that name no points (a last scan running past the points, or a scan that begins inside
// the one before) are refused by the samplers and the reordering that walk them, the cloud kept
// as it was.
TEST_F(KeepMask, ScansThatNameNoPointsAreRefusedAndTheCloudKept) {
  std::vector<char> keep(kPoints);
  std::vector<int> same(kPoints);
  for (int id = 0; id < kPoints; ++id) keep[id] = id % 3 != 1, same[id] = id;
  Cloud* c = Make();
  Cloud* snapshot = CopyCloud(c);
  ASSERT_TRUE(c && snapshot && c->nscans > 2);
  for (int fault = 0; fault < 2; ++fault) {
    int32_t& end = fault == 0 ? c->scanEnd[c->nscans - 1] : c->scanStart[1];
    const int32_t sound = end;
    end = fault == 0 ? c->npts + 7 : c->scanEnd[0];
    EXPECT_EQ(CloudScansNamePoints(c), 0);
    EXPECT_EQ(sample_scan_cloud(c, 2, 2), 0);
    EXPECT_EQ(SampleCloudBasedOnArray(c, keep.data()), 0);
    EXPECT_EQ(ReorderPointsbyIndices(c, same.data()), 0);
    end = sound;
    ExpectSameCloud(c, snapshot);
  }
  EXPECT_EQ(CloudScansNamePoints(c), 1);
  FreeCloud(snapshot);
  FreeCloud(c);
}

TEST_F(KeepMask, SamplersAndNearCoincidence) {
  float x[10], y[10], z[10];
  for (int i = 0; i < 10; ++i) x[i] = float(i), y[i] = 0, z[i] = 0;
  Cloud* c = MakeCld(x, y, z, 10, nullptr);
  ASSERT_EQ(sample_scattered_cloud(c, 4), 1);
  ASSERT_EQ(c->npts, 4);
  EXPECT_TRUE(c->x[0] == 0 && c->x[1] == 4 && c->x[2] == 8 && c->x[3] == 9);
  FreeCloud(c);

  c = Make();
  ASSERT_EQ(sample_scan_cloud(c, 3, 4), 1);  // scans 0, 4 and the last; places 0, 3, 6
  ASSERT_EQ(c->nscans, 3);
  for (int s = 0; s < 3; ++s) EXPECT_EQ(c->scanEnd[s] - c->scanStart[s], 2);
  EXPECT_EQ(IdAt(c, c->npts - 1), kPoints - 1);
  ExpectDataWithPoints(c, true);
  FreeCloud(c);

  // Random points with many near neighbours: the caller's arrays come back bit-identical, and a
  // point goes exactly when it lies strictly within tol of a kept point before it in x, y, z order.
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> U(0, 1);
  for (double scale : {1e-6, 1.0, 1e6}) {
    const int n = 400;
    std::vector<float> px(n), py(n), pz(n);
    for (int i = 0; i < n; ++i) px[i] = float(scale * U(rng)), py[i] = float(scale * U(rng)), pz[i] = float(scale * 0.1 * U(rng));
    px[5] = px[4], py[5] = py[4], pz[5] = pz[4];  // an exact duplicate
    const auto ox = px, oy = py, oz = pz;
    std::vector<char> mask(n);
    const double tol = 0.06 * scale;
    ASSERT_EQ(DuplicatePointsIndices(px.data(), py.data(), pz.data(), n, tol, mask.data()), 1);
    EXPECT_TRUE(px == ox && py == oy && pz == oz);
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](int a, int b) {
      return std::tie(ox[a], oy[a], oz[a], a) < std::tie(ox[b], oy[b], oz[b], b);
    });
    std::vector<int> keptSoFar;
    for (int i : order) {
      bool near = false;
      for (int k : keptSoFar) {
        const double dx = double(ox[i]) - ox[k], dy = double(oy[i]) - oy[k], dz = double(oz[i]) - oz[k];
        near = near || dx * dx + dy * dy + dz * dz < tol * tol;
      }
      if (i != 4 && i != 5) { EXPECT_EQ(mask[i], near ? 0 : 1) << i; }  // equal points: either goes
      if (!near) keptSoFar.push_back(i);
    }
    EXPECT_LE(mask[4] + mask[5], 1);
    // Sampling twice by spheres: the second pass finds nothing to drop.
    Cloud* s = MakeCld(ox.data(), oy.data(), oz.data(), n, nullptr);
    ASSERT_EQ(sample_spheres_cloud(s, tol), 1);
    EXPECT_EQ(s->npts, int(keptSoFar.size()));
    std::vector<float> once(s->x, s->x + s->npts);
    ASSERT_EQ(sample_spheres_cloud(s, tol), 1);
    EXPECT_EQ(std::vector<float>(s->x, s->x + s->npts), once);
    FreeCloud(s);
  }

  // Display bits: strides 1 show everything (no bits); stride 3 on a scan cloud shows every
  // third point of every scan, its ends, and every scan (strideV 1).
  c = Make();
  ASSERT_EQ(UpdateCloudIsShow(c), 1);
  EXPECT_EQ(c->isShow, nullptr);
  c->strideU = 3;
  ASSERT_EQ(UpdateCloudIsShow(c), 1);
  for (int i = 0; i < kPoints; ++i) EXPECT_EQ(Bit(c->isShow, i), i % kPlaces % 3 == 0 || i % kPlaces == kPlaces - 1) << i;
  FreeCloud(c);

  // Every second value of every third row of a 4 x 5 grid.
  int grid[20], picked[6];
  for (int i = 0; i < 20; ++i) grid[i] = i;
  SampleGridArray(grid, 4, 5, 2, 3, picked);
  EXPECT_TRUE(picked[0] == 0 && picked[2] == 4 && picked[3] == 15 && picked[5] == 19);
}

}  // namespace
