// Chaining scattered points into one sequence: nearest-neighbour chaining with look-ahead and
// direction-aware chaining, the data they carry, and the perturbation of near-coincident points.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/psort.h"
#include "cloud/psubdiv.h"
#include "foundation/umalloc_hooks.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Chaining : public KernelTest {};

constexpr double kStep = 0.05;  // parameter step between neighbouring curve points

// Point id on an open space curve whose x is the parameter, so the id can be read back from x.
void CurvePoint(int id, float* x, float* y, float* z) {
  const double t = id * kStep;
  *x = float(t), *y = float(std::sin(2 * t)), *z = float(0.3 * t * t);
}
int IdOf(const Cloud* c, int i) { return int(std::lround(c->x[i] / kStep)); }

// n curve points in shuffled order; every per-point datum encodes the point's id, and a few
// triangles join ids.
Cloud* CurveCloud(const std::vector<int>& ids);
Cloud* ShuffledCurveCloud(int n, unsigned seed) {
  std::vector<int> ids(n);
  std::iota(ids.begin(), ids.end(), 0);
  std::mt19937 rng(seed);
  std::shuffle(ids.begin(), ids.end(), rng);
  return CurveCloud(ids);
}
// The curve points of the ids in the given order (an id may repeat: its copies carry the same
// data); ids 0 .. max are all present.
Cloud* CurveCloud(const std::vector<int>& ids) {
  const int n = int(ids.size()), top = *std::max_element(ids.begin(), ids.end()) + 1;
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) CurvePoint(ids[i], &x[i], &y[i], &z[i]);
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
  c->nx = MallocArray<float>(n), c->ny = MallocArray<float>(n), c->nz = MallocArray<float>(n);
  for (float*& col : c->colour) col = MallocArray<float>(n);
  c->colourFlag = 1;
  c->reliability = MallocArray<uint8_t>(n);
  c->labels = MallocArray<char*>(n);
  c->farrays.count = 1;
  c->farrays.arrays = MallocArray<float*>(1);
  c->farrays.types = MallocArray<int32_t>(1);
  c->farrays.arrays[0] = MallocArray<float>(n), c->farrays.types[0] = 7;
  for (int i = 0; i < n; ++i) {
    const int id = ids[i];
    c->nx[i] = float(id), c->ny[i] = 0, c->nz[i] = 1;
    for (int k = 0; k < 3; ++k) c->colour[k][i] = float(id) + 0.25f * k;
    c->reliability[i] = uint8_t(id % 251);
    const std::string label = tagged::Label(id);
    c->labels[i] = MallocArray<char>(int(label.size()) + 1);
    std::copy(label.c_str(), label.c_str() + label.size() + 1, c->labels[i]);
    c->farrays.arrays[0][i] = float(3 * id);
  }
  std::vector<int> where(top, -1);
  for (int i = 0; i < n; ++i)
    if (where[ids[i]] < 0) where[ids[i]] = i;  // a triangle names the first copy
  c->ntri = 3;
  c->tri = MallocArray<CloudTriangle>(3);
  const int corners[3][3] = {{0, 1, 2}, {5, 9, 13}, {top - 1, top / 2, 7}};
  for (int t = 0; t < 3; ++t)
    for (int k = 0; k < 3; ++k) c->tri[t].v[k] = where[corners[t][k]];
  return c;
}

void ExpectDataOnTheirPoints(const Cloud* c) {
  for (int i = 0; i < c->npts; ++i) {
    const int id = IdOf(c, i);
    // (A datum whose new array could not be had is dropped, never misplaced.)
    if (c->nx) { ASSERT_EQ(c->nx[i], float(id)) << i; }
    for (int k = 0; k < 3; ++k)
      if (c->colour[k]) { ASSERT_EQ(c->colour[k][i], float(id) + 0.25f * k); }
    if (c->reliability) { ASSERT_EQ(c->reliability[i], uint8_t(id % 251)); }
    if (c->labels) { ASSERT_EQ(std::string(c->labels[i]), tagged::Label(id)); }
    if (c->farrays.count > 0) { ASSERT_EQ(c->farrays.arrays[0][i], float(3 * id)); }
  }
  int top = 0;  // one past the largest id
  for (int i = 0; i < c->npts; ++i) top = std::max(top, IdOf(c, i) + 1);
  if (!c->tri) return;
  const std::set<int> expect[3] = {{0, 1, 2}, {5, 9, 13}, {top - 1, top / 2, 7}};
  ASSERT_EQ(c->ntri, 3);
  for (int t = 0; t < 3; ++t) {
    std::set<int> got;
    for (int v : c->tri[t].v) got.insert(IdOf(c, v));
    EXPECT_EQ(got, expect[t]) << t;
  }
}

// The ids run 0, 1, ..., n-1 or exactly backwards.
void ExpectCurveOrder(const Cloud* c) {
  const int n = c->npts, first = IdOf(c, 0);
  ASSERT_TRUE(first == 0 || first == n - 1) << first;
  for (int i = 0; i < n; ++i) ASSERT_EQ(IdOf(c, i), first == 0 ? i : n - 1 - i) << i;
}

TEST_F(Chaining, BothSortsOrderAShuffledCurveAndCarryEveryDatum) {
  for (int n : {40, 400}) {
    for (int sort = 0; sort < 2; ++sort) {
      SCOPED_TRACE(std::to_string(n) + (sort ? " by direction" : " by look-ahead"));
      Cloud* c = ShuffledCurveCloud(n, 11u + n);
      ASSERT_EQ(sort ? SortByNearestNborAndDir(c, 0.0, 1) : SortByNearestNbor(c), 1);
      ASSERT_EQ(c->npts, n);
      ExpectCurveOrder(c);
      ExpectDataOnTheirPoints(c);
      EXPECT_TRUE(c->nx && c->labels && c->tri && c->farrays.count == 1);
      FreeCloud(c);
    }
  }
  EXPECT_FALSE(StubGetThermometer().open);
}

TEST_F(Chaining, TooFewPointsStayAsTheyAre) {
  const float x[3] = {2, 0, 1}, y[3] = {0, 0, 0}, z[3] = {0, 0, 0};
  for (int n = 1; n <= 3; ++n) {
    Cloud* c = MakeCld(x, y, z, n, nullptr);
    c->strideU = 2;  // a reordering would exchange the strides
    if (n < 3) { EXPECT_EQ(SortByNearestNbor(c), 1); }
    EXPECT_EQ(SortByNearestNborAndDir(c, 1.0, 0), 1);
    for (int i = 0; i < n; ++i) EXPECT_EQ(c->x[i], x[i]);
    EXPECT_EQ(c->strideU, 2);
    FreeCloud(c);
  }
  int position[3] = {-1, -1, -1};
  float xs[3] = {2, 0, 1}, ys[3] = {}, zs[3] = {};
  EXPECT_EQ(SortArraysByNearestNborAndDir(xs, ys, zs, 3, 1.0, 0, position), 1);
  EXPECT_EQ(std::vector<int>(position, position + 3), (std::vector<int>{0, 1, 2}));
}

// Two runs far apart: each comes out whole, and the sequence starts after the gap between them
// (so it is not cut inside a run).
TEST_F(Chaining, SeparateClustersStayWholeAndTheSequenceStartsAfterTheLargestGap) {
  std::vector<float> x, y, z;
  std::mt19937 rng(5);
  std::vector<int> ids(60);
  std::iota(ids.begin(), ids.end(), 0);
  std::shuffle(ids.begin(), ids.end(), rng);
  for (int id : ids) x.push_back(id < 30 ? id * 0.1f : 100 + id * 0.1f), y.push_back(0), z.push_back(0);
  for (int sort = 0; sort < 2; ++sort) {
    Cloud* c = MakeCld(x.data(), y.data(), z.data(), 60, nullptr);
    ASSERT_EQ(sort ? SortByNearestNborAndDir(c, 0.0, 0) : SortByNearestNbor(c), 1);
    // One step of 100 inside, every other step 0.1: the largest opening is the wrap.
    int big = 0;
    for (int i = 1; i < 60; ++i) {
      const float d = std::fabs(c->x[i] - c->x[i - 1]);
      if (d > 1) ++big;
      else EXPECT_NEAR(d, 0.1f, 1e-4f) << i;
    }
    EXPECT_EQ(big, 1);
    EXPECT_TRUE(std::fabs(c->x[0] - c->x[59]) > 50);
    FreeCloud(c);
  }
}

TEST_F(Chaining, AFailedSortLeavesTheCloudAsItWasAndNothingBehind) {
  Cloud* ref = ShuffledCurveCloud(120, 3);
  const std::vector<float> before(ref->x, ref->x + ref->npts);
  FreeCloud(ref);
  for (int sort = 0; sort < 2; ++sort) {
    int sorted = 0;
    for (long skip = 0; skip < 400; skip += 7) {
      ClearKernelError();
      Cloud* c = ShuffledCurveCloud(120, 3);
      MallocFailAfter(skip, -1);  // the sort meets the failures, not the making of the cloud
      const int r = sort ? SortByNearestNborAndDir(c, 0.0, 1) : SortByNearestNbor(c);
      MallocFailClear();
      EXPECT_EQ(MallocTrackLevel(), 0);
      EXPECT_EQ(MallocTrackedCount(), 0);
      if (r) {
        ++sorted;
        ExpectCurveOrder(c);
        ExpectDataOnTheirPoints(c);
      } else {
        EXPECT_EQ(std::vector<float>(c->x, c->x + c->npts), before) << skip;
      }
      FreeCloud(c);
    }
    ClearKernelError();
    EXPECT_GT(sorted, 0);
  }
  EXPECT_FALSE(StubGetThermometer().open);
}

// Each scan of an ordered cloud is sorted within itself.
TEST_F(Chaining, ScansAreSortedEachOnItsOwn) {
  const int S = 3, P = 25;
  std::vector<float> x, y, z;
  std::vector<int> start, end;
  std::mt19937 rng(9);
  for (int s = 0; s < S; ++s) {
    std::vector<int> ids(P);
    std::iota(ids.begin(), ids.end(), 0);
    std::shuffle(ids.begin(), ids.end(), rng);
    start.push_back(int(x.size()));
    for (int id : ids) x.push_back(float(id * kStep)), y.push_back(float(s)), z.push_back(float(0.1 * id * id * kStep));
    end.push_back(int(x.size()) - 1);
  }
  Cloud* c = MakeScanCld(x.data(), y.data(), z.data(), S * P, start.data(), end.data(), S, nullptr);
  ASSERT_EQ(SortByNearestNborAndDir(c, 0.0, 1), 1);
  for (int s = 0; s < S; ++s) {
    const bool up = c->x[s * P] < c->x[s * P + 1];
    for (int k = 0; k < P; ++k) {
      EXPECT_EQ(c->y[s * P + k], float(s));
      EXPECT_EQ(IdOf(c, s * P + k), up ? k : P - 1 - k);
    }
  }
  FreeCloud(c);
}

// A chain end at p running along +x: a candidate straight ahead keeps its distance, one at
// right angles counts three times it and one straight behind five times (factor 4).
TEST_F(Chaining, AChainEndPrefersTheCandidateStraightAhead) {
  // 0: the chain's other point, 1: p, 2: ahead, 3: at right angles, 4: behind, beyond point 0.
  const float x[5] = {-1, 0, 1, 0, -2}, y[5] = {0, 0, 0, 1, 0}, z[5] = {0, 0, 0, 0, 0};
  for (int far : {0, 1}) {
    SCOPED_TRACE(far ? "ahead farther than the side point" : "equal distances");
    float xs[5] = {x[0], x[1], far ? 1.2f : 1.0f, x[3], x[4]};
    ChainLink links[5];
    Chain chains[5];
    for (int i = 0; i < 5; ++i) links[i] = ChainLink{nullptr, nullptr, i, i}, chains[i] = Chain{&links[i], &links[i]};
    JoinChains(0, 1, chains, links);  // 0 -> 1: p ends the chain heading along +x
    // Key order along x: 4, 0, 1 and 3 (equal keys), 2.
    KeyLink list[5];
    list[4] = {-1, 0}, list[0] = {4, 1}, list[1] = {0, 3}, list[3] = {1, 2}, list[2] = {3, -1};
    float d1[5], d2[5];
    int n1[5], n2[5];
    FindClosest2AvailInLink2(1, links, d1, d2, n1, n2, xs, y, z, xs, list, 4.0);
    EXPECT_EQ(n1[1], 2);
    EXPECT_FLOAT_EQ(d1[1], xs[2] * xs[2]);
    EXPECT_EQ(n2[1], 3);
    EXPECT_FLOAT_EQ(d2[1], 3.0f);
    // Without the point at right angles the one behind is second, at five times its distance.
    list[1].next = 2, list[2].prev = 1, list[3] = {-2, -2};
    FindClosest2AvailInLink2(1, links, d1, d2, n1, n2, xs, y, z, xs, list, 4.0);
    EXPECT_EQ(n2[1], 4);
    EXPECT_FLOAT_EQ(d2[1], 5.0f * 4.0f);
  }
}

// An acute triangle has no point lying between its two neighbours: the seeding runs down to
// threshold 0 without a seed and the sort still finishes (under the sanitizers: no division by
// 0); the near-duplicate of a corner ends next to it.
TEST_F(Chaining, ASeedlessSetFinishesWithTheNearDuplicateBesideItsCorner) {
  float x[4] = {0, 1, 0.5f, 1.0002f}, y[4] = {0, 0, 0.8f, 0.0003f}, z[4] = {0, 0, 0, 0};
  int position[4];
  ASSERT_EQ(SortArraysByNearestNborAndDir(x, y, z, 4, 1.0, 1, position), 1);
  std::vector<int> place(position, position + 4);
  std::vector<int> sorted = place;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<int>{0, 1, 2, 3}));
  const int gap = std::abs(place[3] - place[1]);
  EXPECT_TRUE(gap == 1 || gap == 3) << place[1] << " " << place[3];
  EXPECT_EQ(x[3], 1.0002f);  // the arrays come back as given
  EXPECT_FALSE(StubGetThermometer().open);
}

TEST_F(Chaining, OpenAndClosedSequencesAreTold) {
  for (int half = 0; half < 2; ++half) {
    std::vector<float> x, y, z;
    const int n = 48;
    std::mt19937 rng(2);
    std::vector<int> ids(n);
    std::iota(ids.begin(), ids.end(), 0);
    std::shuffle(ids.begin(), ids.end(), rng);
    for (int id : ids) {
      const double a = (half ? M_PI : 2 * M_PI) * id / (half ? n - 1 : n);
      x.push_back(float(3 * std::cos(a))), y.push_back(float(3 * std::sin(a))), z.push_back(0);
    }
    Cloud* c = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
    EXPECT_EQ(CloudTypeAfterSort(c), half) << half;
    FreeCloud(c);
  }
}

TEST_F(Chaining, PerturbationSeparatesOnlyNearCoincidentPoints) {
  const double tol = 0.01;
  const float x[3] = {1, 1, 5}, y[3] = {2, 2, 5}, z[3] = {3, 3, 5};
  Cloud* c = MakeCld(x, y, z, 3, nullptr);
  ASSERT_EQ(PerturbeCloud(c, tol, 0.0), 1);
  int moved = 0;
  for (int i = 0; i < 2; ++i) {
    const double d = std::sqrt(std::pow(c->x[i] - 1.0, 2) + std::pow(c->y[i] - 2.0, 2) + std::pow(c->z[i] - 3.0, 2));
    if (d > 0) {
      ++moved;
      EXPECT_GE(d, 2 * tol * (1 - 1e-6));
    }
  }
  EXPECT_EQ(moved, 1);
  const double dx = c->x[0] - c->x[1], dy = c->y[0] - c->y[1], dz = c->z[0] - c->z[1];
  EXPECT_GE(dx * dx + dy * dy + dz * dz, tol * tol);
  EXPECT_EQ(c->x[2], 5.0f);
  // Nothing near-coincident left: nothing moves.
  const std::vector<float> after(c->x, c->x + 3);
  ASSERT_EQ(PerturbeCloud(c, tol, 1.0), 1);
  EXPECT_EQ(std::vector<float>(c->x, c->x + 3), after);
  FreeCloud(c);
}

}  // namespace

namespace {

// ---- Cell-based sorting, restarts and reversals ---------------------------------------------

TEST_F(Chaining, CellSortRestartsAndReversalsKeepDataOnTheirPoints) {
  const int n = 30;
  Cloud* c = ShuffledCurveCloud(n, 4);
  SortCloudByNearest(c);
  ExpectCurveOrder(c);
  ExpectDataOnTheirPoints(c);
  EXPECT_TRUE(c->nx && c->labels && c->tri);
  // Rotated by 11 the largest opening (the one between the ends) lies inside: the restart
  // brings the ends back to the ends.
  RearrangeCloudByStart(c, 11);
  ChangeStartCloudToLargestOpening(c);
  ExpectCurveOrder(c);
  ExpectDataOnTheirPoints(c);
  // A sequence whose closing gap is the largest stays.
  const std::vector<float> before(c->x, c->x + n);
  ChangeStartCloudToLargestOpeningNoDle(c);
  EXPECT_EQ(std::vector<float>(c->x, c->x + n), before);
  const int first = IdOf(c, 0);
  ReverseCloud(c);
  EXPECT_EQ(IdOf(c, n - 1), first);
  ExpectCurveOrder(c);
  ExpectDataOnTheirPoints(c);
  ReverseCloudKeepFirst(c);
  EXPECT_EQ(IdOf(c, 0), first == 0 ? n - 1 : 0);
  EXPECT_EQ(IdOf(c, 1), first);
  EXPECT_EQ(c->ntri, 0);
  EXPECT_EQ(c->type, 0);
  ExpectDataOnTheirPoints(c);
  const float lastNormal = c->nx[n - 1];
  ReverseCloudArrays(c);  // the coordinates alone
  EXPECT_EQ(IdOf(c, n - 1), first == 0 ? n - 1 : 0);
  EXPECT_EQ(c->nx[n - 1], lastNormal);
  FreeCloud(c);
}

// Pairs whose chains face each other head to head and tail to tail: the joins turn one chain
// round and the line comes out whole, each normal still on its point.
TEST_F(Chaining, CellSortJoinsChainsFacingEitherWay) {
  const float lines[2][8] = {{1, 0, 10, 11, 21, 20, 30, 31}, {0, 1, 10, 11, 20, 21, 30, 31}}, y[8] = {}, z[8] = {};
  for (const float* x : lines) {
    Cloud* c = MakeCld(x, y, z, 8, nullptr);
    c->nx = MallocArray<float>(8), c->ny = CallocArray<float>(8), c->nz = CallocArray<float>(8);
    for (int i = 0; i < 8; ++i) c->nx[i] = x[i];
    SortCloudByNearest(c);
    std::vector<float> got(c->x, c->x + 8), sorted(x, x + 8);
    std::sort(sorted.begin(), sorted.end());
    if (got.front() > got.back()) std::reverse(got.begin(), got.end());
    EXPECT_EQ(got, sorted);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(c->nx[i], c->x[i]);
    FreeCloud(c);
  }
}

TEST_F(Chaining, CellSortLeavesOrderedAndTinyCloudsAndRefusesNoMutualChoice) {
  const float x[4] = {0, 1, 3, 7}, y[4] = {}, z[4] = {};
  const int start[2] = {0, 2}, end[2] = {1, 3};
  Cloud* scans = MakeScanCld(x, y, z, 4, start, end, 2, nullptr);
  ASSERT_NE(scans->type, 0);
  const float x2[4] = {7, 0, 3, 1};
  for (int i = 0; i < 4; ++i) scans->x[i] = x2[i];
  SortCloudByNearest(scans);
  EXPECT_EQ(std::vector<float>(scans->x, scans->x + 4), std::vector<float>(x2, x2 + 4));
  FreeCloud(scans);
  Cloud* one = MakeCld(x, y, z, 1, nullptr);
  SortCloudByNearestNoDle(one);
  EXPECT_EQ(one->x[0], 0.0f);
  FreeCloud(one);
  // Two points: one chain, both gaps equal, nothing rotated.
  const float x3[2] = {5, 2};
  Cloud* two = MakeCld(x3, y, z, 2, nullptr);
  SortCloudByNearest(two);
  EXPECT_EQ(two->x[0], 5.0f);
  FreeCloud(two);
}

TEST_F(Chaining, ReversingTwiceRestoresEverythingButSlices) {
  using namespace tagged;
  Cloud* c = Make();
  const auto triangles = TriangleIds(c);
  ReverseCloud(c);
  EXPECT_EQ(c->slice, nullptr);
  EXPECT_EQ(IdAt(c, 0), kPoints - 1);
  ExpectDataWithPoints(c, false);
  ExpectScansCoverPoints(c);
  EXPECT_EQ(c->rowNumber[0], kPoints - 1);
  ReverseCloud(c);
  ExpectDataWithPoints(c, true);
  ExpectScansCoverPoints(c);
  EXPECT_EQ(TriangleIds(c), triangles);
  for (int i = 0; i < kPoints; ++i) EXPECT_EQ(Bit(c->isShow, i), i % 5 == 0);
  FreeCloud(c);
  // Scans [0,3] and [4,9] of 10 points become [0,5] and [6,9]; a grid's steps turn.
  float x[10], y[10] = {}, z[10] = {};
  for (int i = 0; i < 10; ++i) x[i] = float(i);
  const int start[2] = {0, 4}, end[2] = {3, 9};
  Cloud* s = MakeScanCld(x, y, z, 10, start, end, 2, nullptr);
  s->grid.rowStep = 2, s->grid.colStep = 3, s->grid.heightAxis[2] = 1;
  ReverseCloud(s);
  EXPECT_EQ(std::vector<int>(s->scanStart, s->scanStart + 2), (std::vector<int>{0, 6}));
  EXPECT_EQ(std::vector<int>(s->scanEnd, s->scanEnd + 2), (std::vector<int>{5, 9}));
  EXPECT_EQ(s->x[0], 9.0f);
  EXPECT_EQ(s->grid.rowStep, -2.0);
  EXPECT_EQ(s->grid.heightAxis[2], -1.0);
  FreeCloud(s);
}

}  // namespace

namespace {

// ---- Neighbour-consistency reordering ----------------------------------------------------------

std::vector<int> Ids(const Cloud* c) {
  std::vector<int> ids;
  for (int i = 0; i < c->npts; ++i) ids.push_back(IdOf(c, i));
  return ids;
}

TEST_F(Chaining, RepairMovesACutOutRunBackAndDropsDuplicatesWithTheirData) {
  const int n = 30;
  std::vector<int> inOrder(n);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  Cloud* c = CurveCloud(inOrder);
  ASSERT_EQ(NrNbrFullConsistency(c), 0);
  EXPECT_EQ(Ids(c), inOrder);
  ExpectDataOnTheirPoints(c);
  FreeCloud(c);
  // Points 10, 11, 12 cut out and appended (backwards, as a chaining pass leaves such a run),
  // and point 5 doubled: the run goes back into its gap, the copy goes, and every datum stays
  // with its point.
  std::vector<int> cut;
  for (int id = 0; id < n; ++id)
    if (id < 10 || id > 12) cut.push_back(id);
  cut.insert(cut.begin() + 6, 5);
  for (int id : {12, 11, 10}) cut.push_back(id);
  c = CurveCloud(cut);
  ASSERT_EQ(NrNbrFullConsistency(c), 0);
  EXPECT_EQ(c->npts, n);
  EXPECT_EQ(Ids(c), inOrder);
  ExpectDataOnTheirPoints(c);
  EXPECT_EQ(c->ntri, 3);
  FreeCloud(c);
  // Fewer than 3 points: nothing to do.
  const float x2[2] = {1, 0}, yz[2] = {0, 0};
  c = MakeCld(x2, yz, yz, 2, nullptr);
  EXPECT_EQ(NrNbrFullConsistency(c), 0);
  EXPECT_EQ(c->x[0], 1.0f);
  FreeCloud(c);
}

TEST_F(Chaining, ARepairThatRunsOutOfMemoryLeavesACountThatMatchesTheArrays) {
  std::vector<int> ids;
  for (int id = 0; id < 20; ++id) ids.push_back(id), ids.push_back(id);  // every point doubled
  int done = 0;
  for (long skip = 0; skip < 600; skip += 7) {
    ClearKernelError();
    Cloud* c = CurveCloud(ids);
    MallocFailAfter(skip, -1);
    const int r = NrNbrFullConsistency(c);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    ASSERT_TRUE(c->npts == 20 || c->npts == 40) << skip;
    ExpectDataOnTheirPoints(c);
    if (r == 0) {
      ++done;
      EXPECT_EQ(c->npts, 20);
    }
    FreeCloud(c);
  }
  ClearKernelError();
  EXPECT_GT(done, 0);
}

// IsNextDistLessThanCurrent on a line 0 1 2 | 6 7 | 3 4 5: putting 3..5 between 2 and 6 shortens
// the path (8 against 2 in order, 6 reversed); moving point 2 between 0 and 1 does not (6
// against 8 with the gap it leaves closed).
TEST_F(Chaining, MovingARunIsWorthItOnlyWhenThePathShortens) {
  const float x[8] = {0, 1, 2, 6, 7, 3, 4, 5}, y[8] = {}, z[8] = {};
  EXPECT_EQ(IsNextDistLessThanCurrent(2, 3, 5, 7, 8, x, y, z, 1), 1);
  EXPECT_EQ(IsNextDistLessThanCurrent(2, 3, 5, 7, 8, x, y, z, 0), 1);
  EXPECT_EQ(IsNextDistLessThanCurrent(0, 1, 2, 2, 8, x, y, z, 1), 0);
}

}  // namespace

namespace {

// ---- Candidate records --------------------------------------------------------------------------

// Fresh single points: each point's candidates are the two nearest items of its own grid cell
// (the first of equal distances kept), and after a refresh of every point each reverse list
// names exactly the points that chose its owner.
TEST_F(Chaining, CellCandidatesAreTheTwoNearestAndTheReverseListsAgree) {
  const int n = 200;
  std::mt19937 rng(21);
  std::uniform_int_distribution<int> U(0, 12);  // a lattice: many equal distances
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) x[i] = float(U(rng)), y[i] = float(U(rng)), z[i] = float(U(rng) % 3);
  Subdiv* grid = SubdivideArrays(x.data(), y.data(), z.data(), n, 0, 0, 0, 12, 12, 2, 1e-6, 7);
  ASSERT_NE(grid, nullptr);
  std::vector<ChainLink> links(n);
  std::vector<Chain> chains(n);
  std::vector<NearRef> refs1(n), refs2(n);
  std::vector<NearRef*> nearOf1(n, nullptr), nearOf2(n, nullptr);
  std::vector<float> d1(n, 3.37e38f), d2(n, 3.37e38f);
  std::vector<int> n1(n, -1), n2(n, -1);
  for (int i = 0; i < n; ++i) {
    links[i] = ChainLink{nullptr, nullptr, i, i}, chains[i] = Chain{&links[i], &links[i]};
    refs1[i] = NearRef{nullptr, i}, refs2[i] = NearRef{nullptr, i};
  }
  for (int p = 0; p < n; ++p) {
    UpdateAllLinks(p, links.data(), chains.data(), refs1.data(), refs2.data(), nearOf1.data(), nearOf2.data(),
                   d1.data(), d2.data(), n1.data(), n2.data(), x.data(), y.data(), z.data(), grid);
    // The brute force over the cell's items.
    const SubdivCell& cell = grid->cells[grid->ownCell[p]];
    int b1 = -1, b2 = -1;
    float e1 = 3.37e38f, e2 = 3.37e38f;
    for (int k = 0; k < cell.count; ++k) {
      const int j = cell.items[k];
      if (j == p) continue;
      const double dx = double(x[p]) - x[j], dy = double(y[p]) - y[j], dz = double(z[p]) - z[j];
      const float d = float(dx * dx + dy * dy + dz * dz);
      if (d < e1) b2 = b1, e2 = e1, b1 = j, e1 = d;
      else if (d < e2) b2 = j, e2 = d;
    }
    ASSERT_EQ(n1[p], b1) << p;
    ASSERT_EQ(n2[p], b2) << p;
  }
  for (int q = 0; q < n; ++q) {
    std::multiset<int> named1, named2, listed1, listed2;
    for (int p = 0; p < n; ++p) {
      if (n1[p] == q) named1.insert(p);
      if (n2[p] == q) named2.insert(p);
    }
    for (const NearRef* r = nearOf1[q]; r; r = r->next) listed1.insert(r->point);
    for (const NearRef* r = nearOf2[q]; r; r = r->next) listed2.insert(r->point);
    ASSERT_EQ(listed1, named1) << q;
    ASSERT_EQ(listed2, named2) << q;
  }
  // Joining a point's nearest to it: refreshed, neither names the other any more (one chain),
  // and the direct cell search agrees with the refresh.
  const int p = 0, q = n1[0];
  JoinChains(p, q, chains.data(), links.data());
  for (int s : {p, q})
    UpdateAllLinks(s, links.data(), chains.data(), refs1.data(), refs2.data(), nearOf1.data(), nearOf2.data(),
                   d1.data(), d2.data(), n1.data(), n2.data(), x.data(), y.data(), z.data(), grid);
  EXPECT_TRUE(n1[p] != q && n2[p] != q && n1[q] != p && n2[q] != p);
  const int kept1 = n1[p], kept2 = n2[p];
  FindClosest2AvailInCell(p, q, links.data(), d1.data(), d2.data(), n1.data(), n2.data(), x.data(), y.data(),
                          z.data(), grid);
  EXPECT_EQ(n1[p], kept1);
  EXPECT_EQ(n2[p], kept2);
  FreeSubdiv(grid);
}

}  // namespace

namespace {

// The same curve at 1e-6 and 1e6 of its size comes out in the same order from the sorts whose
// lengths are all relative (the direction-aware sort sets aside points within an absolute
// 0.001 and the repair drops points within an absolute 1e-6, so they are left out at 1e-6).
TEST_F(Chaining, SortsDoNotDependOnTheScale) {
  for (double scale : {1e-6, 1e6}) {
    for (int sort = 0; sort < 3; ++sort) {
      if (sort == 1 && scale < 1) continue;
      SCOPED_TRACE(std::to_string(scale) + " sort " + std::to_string(sort));
      Cloud* c = ShuffledCurveCloud(sort == 2 ? 40 : 300, 17);
      for (int i = 0; i < c->npts; ++i) c->x[i] *= float(scale), c->y[i] *= float(scale), c->z[i] *= float(scale);
      if (sort == 0) { ASSERT_EQ(SortByNearestNbor(c), 1); }
      if (sort == 1) {
        ASSERT_EQ(SortByNearestNbor(c), 1);
        ASSERT_EQ(NrNbrFullConsistency(c), 0);
      }
      if (sort == 2) SortCloudByNearest(c);
      const int n = c->npts;
      const int first = int(std::lround(c->x[0] / (kStep * scale)));
      ASSERT_TRUE(first == 0 || first == n - 1) << first;
      for (int i = 0; i < n; ++i) ASSERT_EQ(int(std::lround(c->x[i] / (kStep * scale))), first == 0 ? i : n - 1 - i);
      FreeCloud(c);
    }
  }
}

}  // namespace

namespace {

// ---- The look-ahead chaining against its documented steps ----------------------------------

// The documented chaining run step by step on its public pieces, every candidate search a plain
// scan (of the point's own grid cell, then of every chain end): the place each point must get.
std::vector<int> ReferencePlaces(const std::vector<float>& x, const std::vector<float>& y,
                                 const std::vector<float>& z) {
  const int n = int(x.size());
  const auto [xlo, xhi] = std::minmax_element(x.begin(), x.end());
  const auto [ylo, yhi] = std::minmax_element(y.begin(), y.end());
  const auto [zlo, zhi] = std::minmax_element(z.begin(), z.end());
  Subdiv* grid = SubdivideArrays(x.data(), y.data(), z.data(), n, *xlo, *ylo, *zlo, *xhi, *yhi, *zhi, 1e-6,
                                 int(std::min(0.5 * std::sqrt(double(n)), 96.0)));
  std::vector<ChainLink> links(n);
  std::vector<Chain> chains(n);
  std::vector<NearRef> refs1(n), refs2(n);
  std::vector<NearRef*> of1(n, nullptr), of2(n, nullptr);
  std::vector<float> d1(n, 3.37e38f), d2(n, 3.37e38f);
  std::vector<int> n1(n, -1), n2(n, -1);
  for (int i = 0; i < n; ++i) {
    links[i] = ChainLink{nullptr, nullptr, i, i}, chains[i] = Chain{&links[i], &links[i]};
    refs1[i] = NearRef{nullptr, i}, refs2[i] = NearRef{nullptr, i};
  }
  auto interior = [&](int p) { return links[p].next && links[p].prev; };
  auto farEnd = [&](int p) {
    if (!links[p].next == !links[p].prev) return -1;
    const Chain& c = chains[links[p].chain];
    return (links[p].next ? c.tail : c.head)->point;
  };
  auto push = [&](int p) {
    if (n1[p] >= 0) refs1[p].next = of1[n1[p]], of1[n1[p]] = &refs1[p];
    if (n2[p] >= 0) refs2[p].next = of2[n2[p]], of2[n2[p]] = &refs2[p];
  };
  auto best = [&](int p) {
    const int q = GetBestOption(p, links.data(), chains.data(), n1.data(), n2.data(), of1.data(), of2.data(),
                                x.data(), y.data(), z.data());
    return q >= 0 && q != p && !interior(q) && links[q].chain != links[p].chain ? q : -1;
  };
  // Joins p and q, calls joined() (the slot bookkeeping), then refreshes; the walk's next point.
  auto join = [&](int p, int q, auto joined, auto update) {
    const int fp = farEnd(p), fq = farEnd(q);
    JoinChains(p, q, chains.data(), links.data());
    joined();
    if (fp >= 0) update(fp);
    if (fq >= 0) update(fq);
    for (int s : {p, q}) {
      if (interior(s)) {
        std::vector<int> named;
        for (NearRef** list : {&of1[s], &of2[s]}) {
          for (NearRef* r = *list; r;) {
            NearRef* following = r->next;
            named.push_back(r->point), r->next = nullptr, r = following;
          }
          *list = nullptr;
        }
        for (int v : named) update(v);
      }
      update(s);
    }
    return fq >= 0 ? fq : q;
  };
  for (int i = 0; i < n; ++i) {
    FindClosest2AvailInCell(i, -1, links.data(), d1.data(), d2.data(), n1.data(), n2.data(), x.data(), y.data(),
                            z.data(), grid);
    push(i);
  }
  auto byCell = [&](int p) {
    UpdateAllLinks(p, links.data(), chains.data(), refs1.data(), refs2.data(), of1.data(), of2.data(), d1.data(),
                   d2.data(), n1.data(), n2.data(), x.data(), y.data(), z.data(), grid);
  };
  int c = n;
  for (int before = c + 1; c < before && c >= 2;) {
    before = c;
    for (int s = 0, p = 0; p < n && c >= 2;) {
      const int q = p < 0 || interior(p) ? -1 : best(p);
      if (p < 0) p = ++s;
      else if (q < 0) p = -1;
      else p = join(p, q, [&] { --c; }, byCell);
    }
  }
  FreeSubdiv(grid);
  int slots = 0;
  for (int s = 0; s < n; ++s)
    if (chains[s].head) {
      chains[slots] = chains[s];
      chains[slots].head->chain = chains[slots].tail->chain = slots;
      ++slots;
    }
  c = slots;
  for (int s = 0; s < c; ++s)
    for (ChainLink* e : {chains[s].head, chains[s].tail}) {
      const int p = e->point;
      n1[p] = n2[p] = -1, d1[p] = d2[p] = 3.37e38f;
      of1[p] = of2[p] = nullptr, refs1[p].next = refs2[p].next = nullptr;
    }
  for (int s = 0; s < c; ++s)
    for (ChainLink* e : {chains[s].head, chains[s].tail}) {
      FindClosest2AvailInChains(e->point, links.data(), chains.data(), c, d1.data(), d2.data(), n1.data(),
                                n2.data(), x.data(), y.data(), z.data());
      push(e->point);
      if (chains[s].tail == chains[s].head) break;
    }
  auto byChains = [&](int p) {
    UpdateAllChains(p, links.data(), chains.data(), c, refs1.data(), refs2.data(), of1.data(), of2.data(),
                    d1.data(), d2.data(), n1.data(), n2.data(), x.data(), y.data(), z.data());
  };
  for (int before = c + 1; c < before && c >= 2;) {
    before = c;
    for (int s = 0; s < c; ++s)
      for (int side = 0; side < 2 && s < c && c >= 2; ++side) {
        const int p = (side == 0 ? chains[s].head : chains[s].tail)->point;
        const int q = best(p);
        if (q < 0) continue;
        const int slotQ = links[q].chain;
        join(p, q, [&] {
          // The last chain fills the emptied slot.
          if (slotQ != --c) {
            chains[slotQ] = chains[c];
            chains[slotQ].head->chain = chains[slotQ].tail->chain = slotQ;
            chains[c] = Chain{nullptr, nullptr};
          }
        }, byChains);
      }
  }
  std::vector<int> sequence;
  for (int s = 0; s < c; ++s)
    for (const ChainLink* l = chains[s].head; l; l = l->next) sequence.push_back(l->point);
  auto gap = [&](int a, int b) {
    const double dx = double(x[a]) - x[b], dy = double(y[a]) - y[b], dz = double(z[a]) - z[b];
    return dx * dx + dy * dy + dz * dz;
  };
  double largest = gap(sequence[n - 1], sequence[0]);
  int start = 0;
  for (int i = 1; i < n; ++i)
    if (gap(sequence[i - 1], sequence[i]) > largest) largest = gap(sequence[i - 1], sequence[i]), start = i;
  std::vector<int> place(n);
  for (int k = 0; k < n; ++k) place[sequence[(start + k) % n]] = k;
  return place;
}

// Points a file read in the wrong layout gives: finite floats from random bits, magnitudes
// spread over 1e-38..3e38.
float FiniteBits(std::mt19937& rng) {
  for (;;) {
    const uint32_t b = rng();
    float f;
    std::memcpy(&f, &b, sizeof f);
    if (std::isfinite(f)) return f;
  }
}

// Garbage beside a curve puts thousands of points into one grid cell (searched with a tree), a
// heap of points 1e-25 apart gives float distances of 0 that only the scan order breaks, and a
// file of random bits leaves thousands of chains for the end-to-end joining (searched with a
// tree over the chain ends): every point gets the place the plain scans give it.
TEST_F(Chaining, LookAheadSortGivesThePlacesOfThePlainScans) {
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    std::mt19937 rng(70 + kind);
    std::uniform_real_distribution<double> U(-1.0, 1.0);
    std::vector<float> x, y, z;
    auto add = [&](double a, double b, double c) { x.push_back(float(a)), y.push_back(float(b)), z.push_back(float(c)); };
    if (kind < 3) {
      // A shuffled curve of size s, 1e4 sizes from the origin (or at 1e6), with far records.
      const double s = kind == 2 ? 1e6 : 1e-6, o = kind == 2 ? 0.0 : 1e4 * s;
      const int m = kind == 1 ? 300 : 2200;  // kind 1: cells small enough for the sorted walk
      for (int i = 0; i < m; ++i) {
        const double t = (i * 7919 % m) * 6.0 / m;
        add(o + s * t, o + s * std::sin(3 * t), o + s * 0.01 * U(rng));
      }
      for (int i = 0; i < 60; ++i) add(1e-25 * U(rng), 1e-25 * U(rng), 1e-25 * U(rng));
      for (int i = 0; i < 20; ++i) add(0, 0, 0);
      if (kind != 1) add(3e37, -1e30, 2e36), add(-3e37, 5e29, 1e20);
    } else {
      for (int i = 0; i < 2600; ++i) add(FiniteBits(rng), FiniteBits(rng), FiniteBits(rng));
    }
    const int n = int(x.size());
    const std::vector<int> want = ReferencePlaces(x, y, z);
    auto make = [&] {
      Cloud* made = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
      made->nx = MallocArray<float>(n), made->ny = MallocArray<float>(n), made->nz = MallocArray<float>(n);
      for (int i = 0; i < n; ++i) made->nx[i] = float(i), made->ny[i] = 0, made->nz[i] = 1;  // the id travels
      return made;
    };
    Cloud* c = make();
    if (kind == 0) {
      // A failure at any request (the trees' among them) leaves the cloud as it was and nothing
      // behind.
      Cloud* probe = make();
      const long before = MallocRuntimeRequests();
      ASSERT_EQ(SortByNearestNbor(probe), 1);
      const long requests = MallocRuntimeRequests() - before;
      FreeCloud(probe);
      for (long skip = 0; skip < requests; ++skip) {
        MallocFailAfter(skip, -1);
        const int r = SortByNearestNbor(c);
        MallocFailClear();
        ClearKernelError();
        EXPECT_EQ(MallocTrackLevel(), 0);
        EXPECT_EQ(MallocTrackedCount(), 0);
        if (r == 1) break;
        for (int i = 0; i < n; ++i) ASSERT_EQ(c->x[i], x[i]) << skip;
      }
      FreeCloud(c);
      c = make();
    }
    ASSERT_EQ(SortByNearestNbor(c), 1);
    int wrong = 0;
    for (int k = 0; k < n; ++k) wrong += want[int(c->nx[k])] != k;
    EXPECT_EQ(wrong, 0);
    FreeCloud(c);
  }
}

}  // namespace
