#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

#include "cloud/psample.h"
#include "cloud/putil.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace tagged;
class PointSet : public KernelTest {};

TEST_F(PointSet, ConnectivityBreakHoldsEveryPointOnceWithItsData) {
  Cloud* c = Make();
  std::vector<char> keep(kPoints, 1);
  for (int j = 0; j < kPlaces; ++j) keep[3 * kPlaces + j] = 0;  // a gap of 2 between scans 2 and 4
  ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);
  Cloud** pieces = nullptr;
  int count = -1;
  ASSERT_EQ(CloudConnectivityBreak(c, 1.0, &pieces, &count), 1);
  ASSERT_EQ(count, 2);
  std::vector<int> seen;
  for (int k = 0; k < count; ++k) {
    ExpectDataWithPoints(pieces[k], true);
    for (int i = 0; i < pieces[k]->npts; ++i) seen.push_back(IdAt(pieces[k], i));
    FreeCloud(pieces[k]);
  }
  Free(pieces);
  EXPECT_EQ(seen.front(), 0);  // the piece holding point 0 first
  std::sort(seen.begin(), seen.end());
  std::vector<int> all;
  for (int id = 0; id < kPoints; ++id)
    if (keep[id]) all.push_back(id);
  EXPECT_EQ(seen, all);
  // Connected at the gap's length: one component, nothing handed out.
  ASSERT_EQ(CloudConnectivityBreak(c, 2.0, &pieces, &count), 1);
  EXPECT_TRUE(count == 0 && pieces == nullptr);
  FreeCloud(c);

  // A dense cluster polls the user break every 1000 items; a break leaves nothing behind.
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> U(0, 1);
  std::vector<float> x(3000), y(3000), z(3000);
  for (int i = 0; i < 3000; ++i) x[i] = U(rng) + (i % 2) * 10, y[i] = U(rng), z[i] = U(rng);
  Cloud* dense = MakeCld(x.data(), y.data(), z.data(), 3000, nullptr);
  StubBreakAfterPolls(2);
  const long polls = StubUserBreakPolls();
  EXPECT_EQ(CloudConnectivityBreak(dense, 2.0, &pieces, &count), 0);
  EXPECT_GE(StubUserBreakPolls() - polls, 2);
  EXPECT_TRUE(count == 0 && pieces == nullptr);
  EXPECT_EQ(MallocTrackedCount(), 0);
  StubBreakAfterPolls(0);
  ASSERT_EQ(CloudConnectivityBreak(dense, 2.0, &pieces, &count), 1);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(pieces[0]->npts + pieces[1]->npts, 3000);
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < pieces[k]->npts; ++i) EXPECT_EQ(pieces[k]->x[i] >= 10, k == 1);
    FreeCloud(pieces[k]);
  }
  Free(pieces);
  FreeCloud(dense);
}

// The components of a cloud by brute force: the points joined by chains of steps of at most
// dist, each listed ascending, in the order of their first points.
std::vector<std::vector<int>> BruteComponents(const Cloud* c, double dist) {
  const int n = c->npts;
  std::vector<int> root(n);
  std::iota(root.begin(), root.end(), 0);
  std::function<int(int)> find = [&](int i) { return root[i] == i ? i : root[i] = find(root[i]); };
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      const double dx = double(c->x[i]) - c->x[j], dy = double(c->y[i]) - c->y[j], dz = double(c->z[i]) - c->z[j];
      if (dx * dx + dy * dy + dz * dz <= dist * dist) root[std::max(find(i), find(j))] = std::min(find(i), find(j));
    }
  std::vector<std::vector<int>> parts;
  std::vector<int> slot(n, -1);
  for (int i = 0; i < n; ++i) {
    const int r = find(i);
    if (slot[r] < 0) slot[r] = int(parts.size()), parts.emplace_back();
    parts[slot[r]].push_back(i);
  }
  return parts;
}

// Blocks, a lone point and a pair cut out of a scan cloud with triangles and slices: every
// component is the brute-force one and comes out as the keep-mask rule builds it from its mask
// (data, triangles and scans alike); and lone points among a sheet at 1e-6 and 1e6, 1e4 sizes
// from the origin, each make a cloud of their own.
TEST_F(PointSet, ConnectivityBreakGivesTheBruteForceComponents) {
  Cloud* c = Make();
  std::vector<char> keep(kPoints, 1);
  for (int id = 0; id < kPoints; ++id) {
    const int scan = id / kPlaces, place = id % kPlaces;
    keep[id] = scan != 2 && place != 3 && !(scan == 4 && (place == 4 || place == 6)) && !(scan == 5 && place == 5) &&
               !(scan == 0 && place == 5);
  }
  ASSERT_EQ(SampleCloudBasedOnArray(c, keep.data()), 1);
  const std::vector<std::vector<int>> want = BruteComponents(c, 1.0);
  ASSERT_GE(want.size(), 5u);
  Cloud** pieces = nullptr;
  int count = 0;
  ASSERT_EQ(CloudConnectivityBreak(c, 1.0, &pieces, &count), 1);
  ASSERT_EQ(count, int(want.size()));
  for (int k = 0; k < count; ++k) {
    SCOPED_TRACE("component " + std::to_string(k));
    std::vector<unsigned char> mask(c->npts, 0);
    for (int i : want[k]) mask[i] = 1;
    Cloud* ref = CreateCloudBasedOnArray(c, mask.data(), nullptr);
    ASSERT_NE(ref, nullptr);
    ASSERT_EQ(pieces[k]->npts, int(want[k].size()));
    for (int i = 0; i < pieces[k]->npts; ++i) EXPECT_EQ(IdAt(pieces[k], i), IdAt(c, want[k][i]));
    ExpectDataWithPoints(pieces[k], true);
    EXPECT_EQ(TriangleIds(pieces[k]), TriangleIds(ref));
    EXPECT_EQ(pieces[k]->type, ref->type);
    EXPECT_EQ(pieces[k]->nscans, ref->nscans);
    for (int s = 0; s < ref->nscans && s < pieces[k]->nscans; ++s)
      EXPECT_TRUE(pieces[k]->scanStart[s] == ref->scanStart[s] && pieces[k]->scanEnd[s] == ref->scanEnd[s]);
    EXPECT_EQ(pieces[k]->slice != nullptr, ref->slice != nullptr);
    FreeCloud(ref);
    FreeCloud(pieces[k]);
  }
  Free(pieces);
  FreeCloud(c);

  std::mt19937 rng(9);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (double s : {1e-6, 1e6}) {
    const double o = 1e4 * s;
    std::vector<float> x, y, z;
    for (int i = 0; i < 400; ++i) {
      const bool lone = i % 4 == 0;  // scattered over a box 30 times the sheet's
      x.push_back(float(o + s * (lone ? 30 * U(rng) : U(rng)))), y.push_back(float(o + s * (lone ? 30 * U(rng) : U(rng))));
      z.push_back(float(o + s * (lone ? 30 * U(rng) : 0.0)));
    }
    Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), 400, nullptr);
    const double dist = 0.2 * s;
    const std::vector<std::vector<int>> parts = BruteComponents(cloud, dist);
    ASSERT_GT(parts.size(), 60u);
    ASSERT_EQ(CloudConnectivityBreak(cloud, dist, &pieces, &count), 1);
    ASSERT_EQ(count, int(parts.size())) << s;
    for (int k = 0; k < count; ++k) {
      ASSERT_EQ(pieces[k]->npts, int(parts[k].size())) << s << " " << k;
      for (int i = 0; i < pieces[k]->npts; ++i)
        EXPECT_TRUE(pieces[k]->x[i] == x[parts[k][i]] && pieces[k]->y[i] == y[parts[k][i]] && pieces[k]->z[i] == z[parts[k][i]]);
      FreeCloud(pieces[k]);
    }
    Free(pieces);
    FreeCloud(cloud);
  }
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(PointSet, ClosestPointsBoxesAndCoincidence) {
  // A tilted plane sampled on a grid, at several scales: the foot of a query point is its
  // projection on the plane, wherever the cloud sits.
  for (double scale : {1e-6, 1.0, 1e6}) {
    std::vector<float> x, y, z;
    for (int i = 0; i < 10; ++i)
      for (int j = 0; j < 10; ++j)
        x.push_back(float(scale * i)), y.push_back(float(scale * j)), z.push_back(float(scale * (0.5 * i + 100)));
    Cloud* c = MakeCld(x.data(), y.data(), z.data(), 100, nullptr);
    double normal[3], foot[3];
    ASSERT_EQ(FindCloudPointNormal(c, scale * 4, scale * 4, scale * 102, normal), 0);
    EXPECT_NEAR(std::fabs(normal[0] * 0.5 - normal[2]) / std::sqrt(1.25), 1.0, 1e-5);
    const double q[3] = {scale * 4.2, scale * 5.1, scale * 104};  // 1.9 above the plane along z
    ASSERT_EQ(GetClosestPointOnCloud(c, q[0], q[1], q[2], foot), 0);
    const double along = 1.9 / 1.25;  // distance 1.9 / sqrt(1.25) along the normal (-0.5, 0, 1) / sqrt(1.25)
    EXPECT_NEAR(foot[0], q[0] + scale * 0.5 * along, 1e-4 * scale);
    EXPECT_NEAR(foot[1], q[1], 1e-4 * scale);
    EXPECT_NEAR(foot[2], q[2] - scale * along, 1e-4 * scale);
    double box[6];
    ASSERT_EQ(ComputeCloudBbox(c, box), 0);
    EXPECT_TRUE(box[0] == 0 && box[3] == float(9 * scale) && box[5] == float(scale * 104.5));
    const double inner[6] = {box[0], box[1], box[2], box[3] / 2, box[4], box[5]};
    EXPECT_EQ(BboxInBbox(inner, box), 1);
    EXPECT_EQ(BboxInBbox(box, inner), 0);
    EXPECT_EQ(BboxInBbox(box, box), 0);
    FreeCloud(c);
  }
  EXPECT_EQ(ComputeCloudBbox(nullptr, nullptr), -2);
  const float a[3] = {1, 1, 1}, b[3] = {1, 1, 1.001f};
  EXPECT_EQ(IsAllPointsTheSame(a, a, a, 3), 1);
  EXPECT_EQ(IsAllPointsTheSame(a, a, b, 3), 0);
}

TEST_F(PointSet, CoordinateListsOutliveTheCallersScope) {
  BeginTrackingMallocs();
  CoordList* list = nullptr;
  CoordQueue* queue = AllocateNullCoordQueue();
  for (int i = 0; i < 5; ++i) {
    list = AppendCoordList(list, i, 2 * i, 3 * i);
    ASSERT_EQ(InsertCoordQueue(queue, i, -i, 0), 0);
  }
  FreeTrackedMallocs();
  EndTrackingMallocs();
  EXPECT_EQ(CountCoordList(list), 5);
  EXPECT_EQ(CountCoordQueue(queue), 5);
  EXPECT_EQ(list->next->next->y, 4);
  EXPECT_EQ(queue->tail->y, -4);
  EXPECT_EQ(FreeCoordList(list), 0);
  EXPECT_EQ(FreeCoordQueue(queue), 0);
  EXPECT_EQ(FreeCoordQueue(nullptr), -2);
  EXPECT_EQ(CountCoordQueue(nullptr), 0);
  EXPECT_EQ(InsertCoordQueue(nullptr, 0, 0, 0), -2);
}

}  // namespace
