// Which mesh triangles capping sets its caps against: a triangle reaching over a hole from far
// outside every loop's box is seen however many loops there are.
#include <array>
#include <vector>

#include "mesh/cldtrim.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class CapNear : public KernelTest {};

// A box 21 x 21 x 2 with unit holes in its top at cells (i, j), i and j one more than a multiple
// of three, i below 3 * rows; with a blade, a closed thin tetrahedron standing in the plane
// x = 1.5 through the holes of the first column, its corners beyond the loops' span on different
// sides (below them, and beyond their y and z on either hand), so that no corner is near a loop.
// The holes with a closed thin tetrahedron of the given corners added (none: the holes alone).
Cloud* HolesAndTetrahedron(int rows, const std::vector<std::array<double, 3>>& corners, double scale) {
  const auto keep = [rows](int face, int i, int j) { return face != 5 || i % 3 != 1 || j % 3 != 1 || i >= 3 * rows; };
  Cloud* box = BoxSurface(21, 21, 2, keep, scale);
  if (!box || corners.empty()) return box;
  std::vector<std::array<double, 3>> pts;
  for (int v = 0; v < box->npts; ++v) pts.push_back({box->x[v], box->y[v], box->z[v]});
  std::vector<TestTriangle> tris;
  for (int t = 0; t < box->ntri; ++t) tris.push_back({box->tri[t].v[0], box->tri[t].v[1], box->tri[t].v[2]});
  FreeCloud(box);
  const int a = int(pts.size());
  for (const auto& p : corners) pts.push_back({scale * p[0], scale * p[1], scale * p[2]});
  for (const TestTriangle& t : std::vector<TestTriangle>{{0, 1, 2}, {0, 3, 1}, {1, 3, 2}, {0, 2, 3}})
    tris.push_back({a + t[0], a + t[1], a + t[2]});
  return MakeTestMesh(pts, tris);
}

Cloud* HolesAndBlade(int rows, bool blade, double scale) {
  if (!blade) return HolesAndTetrahedron(rows, {}, scale);
  return HolesAndTetrahedron(rows, {{1.5, -100, 1}, {1.5, 100, 1}, {1.5, 10.5, 100}, {1.7, 0, 1}}, scale);
}

// Every cap of a hole the blade stands in crosses it, so capping reports those holes; without the
// blade all caps are sound. With seven holes the capper tries each loop's box, with 49 a grid of
// them: both must see the blade.
TEST_F(CapNear, ABladeFromFarOutsideTheLoopsIsSeenWithFewAndManyLoops) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (int rows : {1, 7})
      for (bool blade : {false, true}) {
        Cloud* m = HolesAndBlade(rows, blade, scale);
        ASSERT_NE(m, nullptr);
        const int before = m->ntri;
        ClearKernelError();
        EXPECT_EQ(CapAllLoops(m), 1);
        EXPECT_EQ(KernelFailedNow(), blade) << rows << " rows at " << scale;
        const MeshSoundness s(m);
        EXPECT_EQ(s.open, 0);
        EXPECT_EQ(m->ntri - before, 2 * 7 * rows);
        if (!blade) {
          EXPECT_EQ(CrossingPairs(m, before), 0);
        }
        FreeCloud(m);
        ClearKernelError();
      }
}

// A thin closed tetrahedron under the hole at cell (1, 1), its top face lying in the hole's plane
// inside the loop, its apex a tenth below: the cap lies over that face, in its plane, and crosses
// it there. Mesh triangles whose boxes only touch a cap's are not tried for crossing, but not
// across the plane both lie in: the face must be seen, with few loops and with many.
TEST_F(CapNear, AFaceLyingInTheHolesPlaneUnderTheCapIsSeen) {
  const std::vector<std::array<double, 3>> flat = {{1.2, 1.2, 2}, {1.4, 1.8, 2}, {1.8, 1.3, 2}, {1.5, 1.5, 1.9}};
  for (double scale : {1e-6, 1.0, 1e6})
    for (int rows : {1, 7}) {
      Cloud* m = HolesAndTetrahedron(rows, flat, scale);
      ASSERT_NE(m, nullptr);
      const int before = m->ntri;
      ClearKernelError();
      EXPECT_EQ(CapAllLoops(m), 1);
      EXPECT_TRUE(KernelFailedNow()) << rows << " rows at " << scale;
      EXPECT_EQ(MeshSoundness(m).open, 0);
      EXPECT_EQ(m->ntri - before, 2 * 7 * rows);
      FreeCloud(m);
      ClearKernelError();
    }
}

}  // namespace
