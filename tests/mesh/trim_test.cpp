// Trimming a mesh to a curve, and the loop and polygon helpers it stands on.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshTrimHelpers : public KernelTest {};

TEST_F(MeshTrimHelpers, TheTriangleOnAnEdgeSkipsFlaggedOnes) {
  // A fan of three triangles round vertex 0, and a fourth on edge 0-2 (a fin).
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 1, 1}},
                          {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 2, 4}});
  ASSERT_NE(m, nullptr);
  std::vector<IndexNode*> heads(m->npts);
  std::vector<IndexNode> nodes(3 * m->ntri);
  MakePolyPointers(m, heads.data(), nodes.data());
  int t = -1;
  // Edge 0-2 has triangles 0, 1 and 3; the list runs from the highest number down.
  ASSERT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 0, 2, nullptr, &t), 1);
  EXPECT_EQ(t, 3);
  std::vector<int> flags = {0, 1, 0, 1};
  ASSERT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 2, 0, flags.data(), &t), 1);
  EXPECT_EQ(t, 0);
  flags[0] = 1;
  t = -7;
  EXPECT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 0, 2, flags.data(), &t), 0);
  EXPECT_EQ(t, -7);
  // Not an edge, and an edge of one vertex.
  EXPECT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 1, 3, nullptr, &t), 0);
  EXPECT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 2, 2, nullptr, &t), 0);
  FreeCloud(m);
}

TEST_F(MeshTrimHelpers, InsertionAndCompactionShiftsAgreeWithAPlainVector) {
  std::mt19937 rng(5);
  for (int round = 0; round < 50; ++round) {
    const int n = int(rng() % 12);
    std::vector<int> a(n + 1), ref(n);
    for (int i = 0; i < n; ++i) a[i] = ref[i] = int(rng() % 100);
    const int position = int(rng() % (n + 1)) - 1;  // -1 inserts at the front
    InsertPtInArray(555, a.data(), position, n);
    ref.insert(ref.begin() + (position + 1), 555);
    EXPECT_EQ(a, ref);
    // Shifts: every kept entry lands where erasing the flagged ones puts it.
    std::vector<int> flags(n), shift(n), kept;
    for (int i = 0; i < n; ++i) flags[i] = rng() % 3 == 0;
    SetIndexTable(flags.data(), shift.data(), n);
    for (int i = 0; i < n; ++i) {
      if (flags[i]) {
        EXPECT_EQ(shift[i], 0);
        continue;
      }
      EXPECT_EQ(i + shift[i], int(kept.size()));
      kept.push_back(i);
    }
  }
}

TEST_F(MeshTrimHelpers, PointInPolygonIsZeroOnTheBoundaryAtEveryScale) {
  // An L-shaped hexagon, with a reflex corner at (1, 1).
  const std::vector<double> X = {0, 2, 2, 1, 1, 0}, Y = {0, 0, 1, 1, 2, 2};
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (double dx : {0.0, 1e3 * scale}) {
      std::vector<double> x(6), y(6);
      for (int i = 0; i < 6; ++i) x[i] = scale * X[i] + dx, y[i] = scale * Y[i] - dx;
      auto in = [&](double px, double py) { return IsPointInPoly2D(scale * px + dx, scale * py - dx, 6, x.data(), y.data()); };
      EXPECT_EQ(in(0.5, 0.5), 1) << scale;
      EXPECT_EQ(in(1.5, 0.5), 1) << scale;
      EXPECT_EQ(in(0.5, 1.5), 1) << scale;
      EXPECT_EQ(in(1.5, 1.5), 0) << scale;  // in the notch
      EXPECT_EQ(in(3.0, 0.5), 0) << scale;
      // On an edge, on a vertex, on the reflex corner.
      EXPECT_EQ(in(1.0, 0.0), 0) << scale;
      EXPECT_EQ(in(2.0, 1.0), 0) << scale;
      EXPECT_EQ(in(1.0, 1.0), 0) << scale;
      EXPECT_EQ(in(1.0, 1.5), 0) << scale;
      // Level with a vertex, the ray passing through it: still counted once.
      EXPECT_EQ(in(0.5, 1.0), 1) << scale;
    }
  }
}

}  // namespace
