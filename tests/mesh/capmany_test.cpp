// Capping a large open mesh with many holes of mixed kinds at once: every hole a simple hole
// filler closes is closed, whatever holes lie beside it.
#include <cmath>
#include <functional>
#include <string>

#include "mesh/cldtrim.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class CapManyHoles : public KernelTest {};

constexpr int kN = 24, kH = 10;

// The box 24 x 24 x 10 without its bottom face (an open mesh, its border the bottom rim), with
// holes of every kind: single cells, two sharing a corner, long thin slots, an L, holes across
// the crease of two faces and round a corner of the box, a big square, notches in the border,
// eight slits at T-junctions beside a half-width block of the top face, a crack 0.05 wide and a
// checkerboard of holes meeting at their corners. About 3,000 triangles, 32 holes with the
// border.
bool OpenBoxHole(int face, int i, int j) {
  const int N = kN, H = kH;
  if (face == 4) return true;  // the bottom: the border
  if (face == 5) {
    return (i == 3 && j == 3) || (i == 6 && j == 3) || (i == 7 && j == 4) ||  // alone; sharing a corner
           (i == 10 && j >= 2 && j <= 12) ||                                  // a slot
           (i >= 2 && i <= 5 && j == 8) || (i == 2 && j >= 9 && j <= 11) ||  // an L
           (i == N - 1 && j >= 5 && j <= 6) || (i == N - 1 && j == N - 1) ||  // across a crease, a corner
           (i >= 13 && i <= 16 && j >= 2 && j <= 5);                          // a big square
  }
  // x = N (y, z): the crease's other half, the corner; y = N (z, x): the corner's third cell.
  if (face == 1) return (i >= 5 && i <= 6 && j == H - 1) || (i == N - 1 && j == H - 1) || (i == 10 && j == 3);
  if (face == 3) return (i == H - 1 && j == N - 1) || (i >= 2 && i <= 5 && j == 12) || (i == 4 && j == 4);
  // x = 0 (y, z): a border notch, one alone, a slot, and a checkerboard of holes meeting at corners.
  if (face == 0)
    return (i == 7 && j == 0) || (i == 3 && j == 3) || (i == 12 && j >= 1 && j <= 6) ||
           (i >= 16 && i <= 19 && j >= 2 && j <= 5 && (i + j) % 2 == 0);
  return (i == 0 && j == 5) || (i == 3 && j == 9) || (i == 4 && j == 10);  // y = 0; a border notch
}
bool OpenBoxFine(int face, int i, int j) { return face == 5 && i >= 2 && i < 6 && j >= 14 && j < 17; }
// The top's slot narrowed to a crack 0.05 wide, as between faces tessellated apart.
void OpenBoxMove(double* p) {
  if (p[0] == 11 && p[2] == kH && p[1] >= 2 && p[1] <= 13) p[0] = 10.05;
}

// A thin plate 24 x 24, 0.05 thick (one cell high), as a support's wall is: holes facing each
// other across the thickness, holes wrapped round the plate's rim (top, side and bottom cells:
// round a fold of the surface), two of those sharing a corner, a slot along the rim, and slits
// at T-junctions on the bottom.
bool PlateHole(int face, int i, int j) {
  const int N = kN;
  if (face == 5) return (i == 4 && j == 4) || (i == N - 1 && (j == 9 || j == 10 || j == 14)) || (i >= 8 && i <= 15 && j == N - 1);
  if (face == 4) return (i == 4 && j == 4) || (i == N - 1 && (j == 9 || j == 10 || j == 15)) || (i == 12 && j == 12);
  if (face == 1) return i == 9 || i == 10 || i == 14 || i == 15;  // x = N (y, z): the rim's cells
  if (face == 3) return j >= 8 && j <= 15;                        // y = N (z, x): the slot's side
  return false;
}
bool PlateFine(int face, int i, int j) { return face == 4 && i >= 16 && i < 20 && j >= 2 && j < 4; }

// Every hole is closed soundly: no open, overused or disagreeing edge left, no cap crossing the
// mesh, nothing reported, at every scale and place.
TEST_F(CapManyHoles, EveryHoleOfALargeMeshIsClosed) {
  struct Case {
    const char* name;
    int h;
    double zScale;
    bool (*open)(int, int, int);
    bool (*fine)(int, int, int);
    void (*move)(double*);  // null: none
    int least;
    int loops;  // boundary loops as the mesh's loop finder walks them
  };
  for (const Case& c : {Case{"open box", kH, 1.0, OpenBoxHole, OpenBoxFine, OpenBoxMove, 2500, 32},
                        Case{"plate", 1, 0.05, PlateHole, PlateFine, nullptr, 2000, 14}}) {
    for (double scale : {1e-6, 1.0, 1e6}) {
      for (double far : {0.0, 1e4}) {
        SCOPED_TRACE(testing::Message() << c.name << " " << scale << " " << far);
        BoxCells box{{kN, kN, c.h}, [&](int face, int i, int j) { return !c.open(face, i, j); }, c.fine, c.move};
        box.zScale = c.zScale, box.scale = scale, box.shift = far * kN * scale;
        Cloud* m = BoxSurface(box);
        ASSERT_NE(m, nullptr);
        ASSERT_GT(m->ntri, c.least);
        const MeshSoundness before(m);
        ASSERT_GT(before.open, 60);
        ASSERT_EQ(before.overused, 0);
        {
          MeshEdgesAndLoops t;
          ASSERT_EQ(t.Build(m), 0);
          EXPECT_EQ(t.nloops, c.loops);
        }
        const int ntri = m->ntri;
        const size_t from = Messages().size();
        EXPECT_EQ(CapAllLoops(m), 1);
        const MeshSoundness s(m);
        EXPECT_EQ(s.open, 0) << before.open;
        EXPECT_EQ(s.overused, 0);
        EXPECT_EQ(s.disagreeing, 0);
        if (scale == 1.0 && far == 0.0) {
          EXPECT_EQ(CrossingPairs(m, ntri), 0);
        }
        EXPECT_FALSE(KernelFailed());
        EXPECT_EQ(Messages().find("Hole", from), std::string::npos) << Messages().substr(from);
        FreeCloud(m);
      }
    }
  }
}

}  // namespace
