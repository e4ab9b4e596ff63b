// Faulty triangles: repeated, degenerate and folded triangles are found exactly, duplicates are
// removed one per group, and the sector test around a shared vertex does not depend on where the
// mesh lies, how it is turned or how large it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "mesh/cldpoly.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class FaultyTriangles : public KernelTest {};

using Pts = std::vector<std::array<double, 3>>;

std::vector<int> Listed(const int32_t* list, int n) {
  std::vector<int> out(list, list + n);
  std::sort(out.begin(), out.end());
  return out;
}

// A planar 5 x 5 grid (32 triangles) with copies of triangles 3, 10 and 20 appended, their corners
// permuted, and triangle 10 copied twice.
Cloud* GridWithCopies() {
  Pts pts;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 5; ++i) pts.push_back({double(i), double(j), 0.0});
  std::vector<TestTriangle> tris;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      const int a = i + 5 * j;
      tris.push_back({a, a + 1, a + 6});
      tris.push_back({a, a + 6, a + 5});
    }
  auto copy = [&](int t, int r0, int r1, int r2) {
    const TestTriangle o = tris[t];
    tris.push_back({o[r0], o[r1], o[r2]});
  };
  copy(3, 1, 2, 0);
  copy(10, 2, 1, 0);
  copy(20, 0, 2, 1);
  copy(10, 0, 1, 2);
  return MakeTestMesh(pts, tris);
}

TEST_F(FaultyTriangles, DuplicatesAreFoundAndRemovedOnePerGroup) {
  Cloud* m = GridWithCopies();
  int32_t* list = nullptr;
  unsigned char* mask = nullptr;
  // Of each group the highest-numbered triangle stays unlisted.
  ASSERT_EQ(FindMultCloudPoly(m, &list, &mask, nullptr), 4);
  EXPECT_EQ(Listed(list, 4), (std::vector<int>{3, 10, 20, 33}));
  for (int t = 0; t < m->ntri; ++t) EXPECT_EQ(mask[t], (t == 3 || t == 10 || t == 20 || t == 33) ? 1 : 0);
  Free(list);
  Free(mask);
  // A vertex mask away from the copies finds none and hands out nothing.
  std::vector<unsigned char> far(m->npts, 0);
  far[24] = 1;
  EXPECT_EQ(FindMultCloudPoly(m, &list, &mask, far.data()), 0);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(mask, nullptr);

  ASSERT_EQ(RemoveMultCloudPoly(m, nullptr), 4);
  ASSERT_EQ(m->ntri, 32);
  std::set<std::array<int, 3>> seen;
  for (int t = 0; t < m->ntri; ++t) {
    std::array<int, 3> v = {m->tri[t].v[0], m->tri[t].v[1], m->tri[t].v[2]};
    std::sort(v.begin(), v.end());
    EXPECT_TRUE(seen.insert(v).second) << t;
  }
  EXPECT_EQ(RemoveMultCloudPoly(m, nullptr), 0);
  FreeCloud(m);
}

// Refused allocations: either every duplicate goes or none does, and a failure reports 0.
TEST_F(FaultyTriangles, RemovalUnderRefusedAllocationsIsAllOrNothing) {
  int failed = 0;
  for (long skip = 0; skip < 12; ++skip) {
    Cloud* m = GridWithCopies();
    ClearKernelError();
    MallocFailAfter(skip, -1);
    const int r = RemoveMultCloudPoly(m, nullptr);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (r == 0) {
      ++failed;
      EXPECT_TRUE(KernelFailed());
      EXPECT_EQ(m->ntri, 36);
    } else {
      EXPECT_EQ(r, 4);
      EXPECT_EQ(m->ntri, 32);
    }
    ClearKernelError();
    FreeCloud(m);
  }
  EXPECT_GT(failed, 0);
}

// A finder whose list runs out of room reports more than it hands out: nothing.
TEST_F(FaultyTriangles, AFinderThatRunsOutOfRoomHandsOutNothing) {
  // 60 triangles all on points (0, 1, 2): 59 duplicates, more than the first 40 entries.
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, std::vector<TestTriangle>(60, {0, 1, 2}));
  int32_t* list = nullptr;
  unsigned char* mask = nullptr;
  ASSERT_EQ(FindMultCloudPoly(m, &list, &mask, nullptr), 59);
  Free(list);
  Free(mask);
  int overflowed = 0;
  for (long skip = 0; skip < 20; ++skip) {
    MallocFailAfter(skip, -1);
    const int n = FindMultCloudPoly(m, &list, &mask, nullptr);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (list) {
      EXPECT_EQ(n, 59);
      Free(list);
      Free(mask);
    } else {
      EXPECT_EQ(mask, nullptr);
      overflowed += n > 0;
    }
    ClearKernelError();
  }
  EXPECT_GT(overflowed, 0);
  ClearKernelError();
  FreeCloud(m);
}

TEST_F(FaultyTriangles, DegenerateTrianglesAreFoundWithinTheTolerance) {
  // Triangle 1 has its apex 1e-4 off the base, triangle 2 one of 1e-2; triangle 0 is fine.
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.5, 1e-4, 0}, {0.3, -1e-2, 0}},
                          {{0, 1, 2}, {0, 3, 1}, {1, 0, 4}});
  int32_t* list = nullptr;
  unsigned char* mask = nullptr;
  ASSERT_EQ(FindDegenerateCloudPoly(m, 1e-3, &list, &mask, nullptr), 1);
  EXPECT_EQ(list[0], 1);
  Free(list);
  Free(mask);
  ASSERT_EQ(FindDegenerateCloudPoly(m, 0.1, &list, &mask, nullptr), 2);
  EXPECT_EQ(Listed(list, 2), (std::vector<int>{1, 2}));
  Free(list);
  Free(mask);
  EXPECT_EQ(FindDegenerateCloudPoly(m, 0.0, &list, &mask, nullptr), 0);
  EXPECT_EQ(list, nullptr);
  // The vertex mask limits the search to triangles with a marked corner.
  const unsigned char only4[5] = {0, 0, 0, 0, 1};
  ASSERT_EQ(FindDegenerateCloudPoly(m, 0.1, &list, &mask, only4), 1);
  EXPECT_EQ(list[0], 2);
  Free(list);
  Free(mask);
  FreeCloud(m);
}

// A fan of six triangles around the origin, and a seventh folded back over triangles 0 and 1,
// moved by a random rotation, scale and translation.
Cloud* Fan(std::mt19937& rng, double scale, bool fold) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double axis[3] = {u(rng), u(rng), u(rng)};
  const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  for (double& a : axis) a /= len;
  const double ang = 3.0 * u(rng), c = std::cos(ang), s = std::sin(ang);
  const double shift[3] = {5 * scale * u(rng), 5 * scale * u(rng), 5 * scale * u(rng)};
  auto place = [&](double x, double y, double z) {
    const double p[3] = {x * scale, y * scale, z * scale};
    const double d = axis[0] * p[0] + axis[1] * p[1] + axis[2] * p[2];
    const double cr[3] = {axis[1] * p[2] - axis[2] * p[1], axis[2] * p[0] - axis[0] * p[2],
                          axis[0] * p[1] - axis[1] * p[0]};
    std::array<double, 3> out;
    for (int k = 0; k < 3; ++k) out[k] = p[k] * c + cr[k] * s + axis[k] * d * (1 - c) + shift[k];
    return out;
  };
  Pts pts = {place(0, 0, 0)};
  for (int k = 0; k < 6; ++k) pts.push_back(place(std::cos(k * M_PI / 3), std::sin(k * M_PI / 3), 0.0));
  std::vector<TestTriangle> tris;
  for (int k = 0; k < 6; ++k) tris.push_back({0, 1 + k, 1 + (k + 1) % 6});
  if (fold) {
    // Corners at 20 and 80 degrees, slightly above the plane: it covers parts of triangles 0, 1.
    pts.push_back(place(0.8 * std::cos(0.35), 0.8 * std::sin(0.35), 0.01));
    pts.push_back(place(0.8 * std::cos(1.4), 0.8 * std::sin(1.4), 0.01));
    tris.push_back({0, 8, 7});
  }
  return MakeTestMesh(pts, tris);
}

TEST_F(FaultyTriangles, FoldedTrianglesAreFoundWhereverTheMeshLies) {
  std::mt19937 rng(7);
  for (double scale : {1e-4, 1.0, 1e4}) {
    for (int trial = 0; trial < 6; ++trial) {
      SCOPED_TRACE(testing::Message() << scale << " " << trial);
      Cloud* flat = Fan(rng, scale, false);
      // Side by side around the centre, and around a rim vertex: no overlap.
      for (int a = 0; a < 6; ++a)
        for (int b = a + 1; b < 6; ++b) EXPECT_EQ(PolysOverlap(flat, a, b, 0), 0) << a << " " << b;
      EXPECT_EQ(PolysOverlap(flat, 0, 1, 2), 0);
      // Triangle 3 does not have vertex 2: reported as overlapping.
      EXPECT_EQ(PolysOverlap(flat, 0, 3, 2), 1);
      int32_t* list = nullptr;
      unsigned char* mask = nullptr;
      EXPECT_EQ(FindOverlapCloudPoly(flat, 10.0, &list, &mask), 0);
      EXPECT_EQ(list, nullptr);
      FreeCloud(flat);

      Cloud* folded = Fan(rng, scale, true);
      EXPECT_EQ(PolysOverlap(folded, 6, 0, 0), 1);
      EXPECT_EQ(PolysOverlap(folded, 1, 6, 0), 1);
      EXPECT_EQ(PolysOverlap(folded, 6, 3, 0), 0);
      ASSERT_EQ(FindOverlapCloudPoly(folded, 10.0, &list, &mask), 3);
      EXPECT_EQ(Listed(list, 3), (std::vector<int>{0, 1, 6}));
      Free(list);
      Free(mask);
      FreeCloud(folded);
    }
  }
}

TEST_F(FaultyTriangles, SectorsAndTouchingTriangles) {
  // Pseudo-angles rise with the true angle all the way round.
  double prev = -1.0;
  for (int k = 0; k < 64; ++k) {
    const double p[3] = {std::cos(k * M_PI / 32), std::sin(k * M_PI / 32), 0.0};
    double a = 0.0;
    FindQuadAndSin(p, &a);
    EXPECT_GT(a, prev);
    EXPECT_LT(a, 4.0);
    prev = a;
  }
  // A sector across +x wraps: it holds 0.1 and 3.9 but not 2.
  double s[3] = {0.3, 0.0, 3.7};
  ArrangeCCW(s);
  EXPECT_GT(s[0], s[2]);
  for (double b : {0.1, 3.9, 2.0}) {
    const double t[3] = {b, b, b};
    EXPECT_EQ(PolyOverlapExists(s, t), b != 2.0) << b;
  }
  const double c[3] = {0, 0, 0}, a1[3] = {1, 0, 0}, b1[3] = {0, 1, 0};
  const double in[3] = {0.3, 0.3, 0.05}, out[3] = {-0.3, 0.3, 0}, edge[3] = {0.5, 0.5, 0}, far[3] = {2, 2, 0};
  EXPECT_EQ(IsOverlapTouchTriangles(c, a1, b1, in, out), 1);
  // On the far edge counts as inside; beyond it (where clamped weights would pass) does not.
  EXPECT_EQ(IsOverlapTouchTriangles(c, a1, b1, edge, out), 1);
  EXPECT_EQ(IsOverlapTouchTriangles(c, a1, b1, far, out), 0);
  EXPECT_EQ(IsOverlapTouchTriangles(c, a1, b1, out, b1), 0);
}

TEST_F(FaultyTriangles, PointSortGroupsEqualPointsAndMeasuresHold) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> pick(0, 9);
  std::vector<CloudSortPoint> p;
  std::set<std::array<float, 3>> distinct;
  for (int i = 0; i < 200; ++i) {
    // Values differing in the last bit of x must stay apart.
    const float x = pick(rng) == 0 ? std::nextafter(1.0f, 2.0f) : float(pick(rng) % 3);
    const float y = float(pick(rng) % 2), z = float(pick(rng) % 2);
    p.push_back({x, y, z, i});
    distinct.insert({x, y, z});
  }
  const std::vector<CloudSortPoint> input = p;
  SortCoordXYZ(int(p.size()), p.data());
  p.push_back({1e30f, 0, 0, -1});
  std::vector<int32_t> map(200);
  std::vector<float> unique(3 * 200);
  int count = 0;
  Compare(200, p.data(), map.data(), unique.data(), &count);
  EXPECT_EQ(count, int(distinct.size()));
  for (int i = 0; i < 200; ++i) {
    const float* u = &unique[3 * map[i]];
    EXPECT_EQ(u[0], input[i].x);
    EXPECT_EQ(u[1], input[i].y);
    EXPECT_EQ(u[2], input[i].z);
  }

  Cloud* grid = MakeGridMesh(4, 3, [](int, int) { return true; }, 0.5);
  MeshEdgesAndLoops el;
  ASSERT_EQ(el.Build(grid), 0);
  double dx = 0, dy = 0, dz = 0;
  EXPECT_DOUBLE_EQ(FindMaxCloudEdgeDims(grid, el.edges, el.nedges, &dx, &dy, &dz), 0.5 * std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(dx, 0.5);
  EXPECT_DOUBLE_EQ(dz, 1e-6);
  double box[6];
  Cloud* centres = MakePolyCenterCloud(grid, box);
  ASSERT_NE(centres, nullptr);
  ASSERT_EQ(centres->npts, grid->ntri);
  for (int t = 0; t < grid->ntri; ++t) {
    double sx = 0;
    for (int k = 0; k < 3; ++k) sx += grid->x[grid->tri[t].v[k]];
    EXPECT_EQ(centres->x[t], float(sx * 0.3333333333333));
  }
  EXPECT_NEAR(box[3], 1.5 - 0.5 / 3, 1e-6);
  FreeCloud(centres);
  FreeCloud(grid);
}

}  // namespace
