// Capping long loops: a hole hundreds of edges round is closed as a short one is, soundly, at
// every scale and place.
#include <algorithm>
#include <functional>
#include <string>

#include "mesh/cldtrim.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class CapLongLoops : public KernelTest {};

// A box nx x ny x nz with channels cut round it where channel(x) holds for the column of cells
// at x: across the top, down both ends and e cells in along the bottom from each end. Each
// channel w cells wide is one hole over four faces, 2 (ny + 2 nz + 2 e + w) edges round, that
// wraps three quarters round the box, so that it overlaps itself seen along any one direction.
// hole(face, i, j) leaves out more cells (as BoxCells).
Cloud* ChannelBox(int nx, int ny, int nz, int e, const std::function<bool(int)>& channel,
                  const std::function<bool(int, int, int)>& hole, double scale, double shift) {
  BoxCells box{{nx, ny, nz},
               [=](int face, int i, int j) {
                 if (hole(face, i, j)) return false;
                 if (face == 5) return !channel(i);                          // z = nz: x, y
                 if (face == 2 || face == 3) return !channel(j);             // y = c: z, x
                 if (face == 4) return !channel(i) || (j >= e && j < ny - e);  // z = 0: x, y
                 return true;
               },
               nullptr, nullptr};
  box.scale = scale, box.shift = shift;
  return BoxSurface(box);
}

// After CapAllLoops: closed, every edge run both ways, nothing reported.
void ExpectClosedSoundly(Cloud* m, const std::string& messages, size_t from) {
  const MeshSoundness s(m);
  EXPECT_EQ(s.open, 0);
  EXPECT_EQ(s.overused, 0);
  EXPECT_EQ(s.disagreeing, 0);
  EXPECT_FALSE(KernelFailed());
  EXPECT_EQ(messages.find("Hole", from), std::string::npos) << messages.substr(from);
}

TEST_F(CapLongLoops, AHoleOverFourFacesIsClosedAtAnyLength) {
  struct Case {
    int ny, nz, w, e;
  };
  for (const Case& c : {Case{40, 20, 2, 10}, Case{48, 20, 4, 14}}) {
    for (double scale : {1e-6, 1.0, 1e6}) {
      for (double far : {0.0, 1e4}) {
        const int edges = 2 * (c.ny + 2 * c.nz + 2 * c.e + c.w);
        SCOPED_TRACE(testing::Message() << edges << " edges, scale " << scale << ", far " << far);
        Cloud* m = ChannelBox(
            c.w + 4, c.ny, c.nz, c.e, [&](int x) { return x >= 2 && x < 2 + c.w; }, [](int, int, int) { return false; },
            scale, far * c.ny * scale);
        ASSERT_NE(m, nullptr);
        {
          MeshEdgesAndLoops t;
          ASSERT_EQ(t.Build(m), 0);
          ASSERT_EQ(t.nloops, 1);
          ASSERT_EQ(t.sizes[0], edges);
        }
        const int ntri = m->ntri;
        const size_t from = Messages().size();
        EXPECT_EQ(CapAllLoops(m), 1);
        ExpectClosedSoundly(m, Messages(), from);
        EXPECT_EQ(m->ntri - ntri, edges - 2);
        if (scale == 1.0 && far == 0.0) {
          EXPECT_EQ(CrossingPairs(m, ntri), 0);
        }
        FreeCloud(m);
      }
    }
  }
}

// 24 holes, three of them channels 212 edges round beside one another, the rest single cells on
// the sides: every one closed, the long ones beside the short.
TEST_F(CapLongLoops, LongAndShortHolesOfOneMeshAreAllClosed) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "scale " << scale << ", far " << far);
      Cloud* m = ChannelBox(
          20, 60, 12, 10, [](int x) { return x % 6 == 2 || x % 6 == 3; },
          [](int face, int i, int j) {
            return (face == 0 && i % 5 == 2 && i <= 52 && j == 3) || (face == 1 && i % 6 == 3 && j == 6);
          },
          scale, far * 60 * scale);
      ASSERT_NE(m, nullptr);
      {
        MeshEdgesAndLoops t;
        ASSERT_EQ(t.Build(m), 0);
        ASSERT_EQ(t.nloops, 24);
        EXPECT_EQ(*std::max_element(t.sizes, t.sizes + t.nloops), 212);
      }
      const int ntri = m->ntri;
      const size_t from = Messages().size();
      EXPECT_EQ(CapAllLoops(m), 1);
      ExpectClosedSoundly(m, Messages(), from);
      if (scale == 1.0 && far == 0.0) {
        EXPECT_EQ(CrossingPairs(m, ntri), 0);
      }
      FreeCloud(m);
    }
  }
}

}  // namespace
