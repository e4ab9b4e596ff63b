// Loop sets capped in place over a mesh: caps that reuse no mesh edge and cross no sheet near the
// hole, where the cap on the loops' common plane would.
#include <array>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "mesh/cldpoly.h"
#include "mesh/trianum.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class SoundLoopSetCaps : public KernelTest {};

// Caps the mesh's loops with CapModel, all in one set or one loop at a time, and checks the result
// closed, oriented, without an edge of three triangles or a cap crossing the mesh (frees the mesh).
// With foldsReported, a loop the mesh folds over at may be capped with the error state set.
void ExpectCappedSoundly(Cloud* m, bool oneByOne, const testing::Message& what, bool foldsReported = false) {
  ASSERT_NE(m, nullptr);
  const int before = m->ntri;
  MeshEdgesAndLoops loops;
  ASSERT_EQ(loops.Build(m), 0);
  // Only a fold of the mesh at a loop may be reported, and only where allowed; a report set before
  // a call would fail it.
  auto reported = [&] {
    EXPECT_TRUE(!KernelFailedNow() || (foldsReported && zk_error_status == -2 && !MemoryErrorSet())) << what;
    ClearKernelError();
  };
  if (oneByOne) {
    for (int l = 0; l < loops.nloops; ++l) {
      EXPECT_EQ(CapModel(m, loops.edges, 1, &loops.loops[l]), 1) << what;
      reported();
    }
  } else {
    EXPECT_EQ(CapModel(m, loops.edges, loops.nloops, loops.loops), 1) << what;
    reported();
  }
  const MeshSoundness s(m);
  EXPECT_EQ(s.open, 0) << what;
  EXPECT_EQ(s.overused, 0) << what;
  EXPECT_EQ(s.disagreeing, 0) << what;
  EXPECT_EQ(CrossingPairs(m, before), 0) << what;
  FreeCloud(m);
}

// Holes wrapped round a thin slab's end or its edges: seen along their loops' mean plane the
// loops lie over themselves, and the cap cut on that plane lays chords on the side faces' edges.
TEST_F(SoundLoopSetCaps, LoopsRoundASlabsEndReuseNoEdge) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    const auto band = [](int face, int i, int) { return face != 0 && (face < 4 || i >= 2); };
    ExpectCappedSoundly(BoxSurface(8, 4, 1, band, scale), false, testing::Message() << "band " << scale);
    const auto end = [](int face, int i, int) { return !((face == 5 && i >= 4) || face == 1 || (face == 4 && i >= 3)); };
    ExpectCappedSoundly(BoxSurface(6, 2, 1, end, scale), false, testing::Message() << "end " << scale);
  }
}

// Random cells gone from every face of slabs one and two cells thick: holes across edges and
// corners, touching at vertices, wrapping round the thin sides.
TEST_F(SoundLoopSetCaps, RandomHolesInThinSlabsAreEachCappedSoundly) {
  for (int seed = 0; seed < 16; ++seed) {
    std::mt19937 rng(seed);
    std::set<std::array<int, 3>> gone;
    for (int face = 0; face < 6; ++face)
      for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
          if (std::uniform_int_distribution<int>(0, 99)(rng) < 25) gone.insert({face, i, j});
    ExpectCappedSoundly(BoxSurface(6, 6, 1 + seed % 2, [&](int face, int i, int j) { return !gone.count({face, i, j}); }),
                        true, testing::Message() << "seed " << seed, true);
  }
}

// Holes on one face touching at vertices, capped as one set on their common plane.
TEST_F(SoundLoopSetCaps, PinchedHolesOnAFaceAreCappedAsOneSet) {
  for (const auto& cells : std::vector<std::set<std::pair<int, int>>>{
           {{1, 1}, {2, 2}}, {{1, 1}, {2, 2}, {1, 3}, {3, 1}}, {{1, 1}, {2, 1}, {3, 1}, {3, 2}, {3, 3}, {2, 3}, {1, 3}, {0, 2}}})
    ExpectCappedSoundly(BoxSurface(6, 6, 2, [&](int face, int i, int j) { return face != 5 || !cells.count({i, j}); }),
                        false, testing::Message() << cells.size() << " cells");
}

}  // namespace
