// The heal's guard on a crease's ends: four patches meeting at one corner, a 45-degree crease along
// x = 1 through it and a smooth seam along y = 1, all closed; the heal's result stood in for by
// the same group with new angles. A crease end at the shared corner that the heal bends away from
// the crease as a whole beyond the 5 degrees a crease may give steps its surfaces back, even where
// the crease's largest angle (a noise spike in its middle) went down; an end the noise had tilted
// that comes back towards the crease, or one that gives less than 5 degrees, keeps its stage.
#include <cmath>
#include <functional>
#include <vector>

#include "healing/gstitch_internal.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;
using namespace gstitch_internal;

class CreaseGuard : public KernelTest {};

// A bump of height 1 at y = at, flat within a twentieth each way and falling off over the next tenth
// (the rows on both sides of a seam at y = at keep one angle there, so the seam stays smooth).
double Bump(double y, double at) {
  const double d = std::max(0.0, std::fabs(y - at) - 0.05) / 0.1;
  return std::pow(std::max(0.0, 1.0 - d * d), 2);
}

// The crease's angle (degrees) along y: 45, a spike of `middle` degrees in the middle of each half
// (y = 0.5, 1.5) and the ends at the shared corner y = 1 tilted by `end` near it (the rows above it alike, so that the
// smooth seam stays closed and smooth).
std::function<double(double)> Crease(double middle, double end) {
  return [=](double y) { return 45.0 + middle * (Bump(y, 0.5) + Bump(y, 1.5)) + end * Bump(y, 1.0); };
}

// Patches A, B below y = 1 and C, D above it, B and D turned up about x = 1 by angle(y), at `size`
// and `far` x size from the origin.
void FourWayCorner(Group& g, const std::function<double(double)>& angle, double size, double far) {
  for (int q = 0; q < 4; ++q) {
    const int col = q % 2, row = q / 2;
    PatchOptions o;
    o.nu = 4, o.nv = 160;
    o.x0 = (col + far) * size, o.x1 = (col + 1.0 + far) * size;
    o.y0 = (row + far) * size, o.y1 = (row + 1.0 + far) * size;
    g.Add(BuildFunctionPatch(
        [&, col](double x, double y) {
          const double u = x / size - far, v = y / size - far;
          return (far + (col ? std::tan(angle(v) * kDeg) * (u - 1.0) : 0.0)) * size;
        },
        o));
  }
}

// Heals nothing: measures the group, puts the control points of `after` into the topology's
// surfaces, measures again and runs the guard with every surface at its positional stage. Whether
// every surface stayed at that stage.
bool KeptStage(const std::function<double(double)>& before, const std::function<double(double)>& after, double size,
               double far) {
  Group g, now;
  FourWayCorner(g, before, size, far);
  FourWayCorner(now, after, size, far);
  EXPECT_TRUE(g.Build(1e-3 * size, 8.0));
  if (!g.bs) return false;
  GroupMeasure start, end;
  EXPECT_EQ(MeasureGroup(g.bs, &start), 0);
  for (int i = 0; i < 4; ++i) {
    Bspline* s = TopologySurface(g.bs, i);
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int k = 0; k < NumCtrlU(s); ++k)
        s->X[j][k] = now.srfs[i]->X[j][k], s->Y[j][k] = now.srfs[i]->Y[j][k], s->Z[j][k] = now.srfs[i]->Z[j][k];
  }
  for (int c = 0; c < g.bs->nCrv; ++c) RebuildCurve3Form(&g.bs->crvs[c]);
  EXPECT_EQ(MeasureGroup(g.bs, &end, nullptr, &start), 0);
  std::vector<char> stage(4 * 4, 0);
  for (int i = 0; i < 4; ++i) stage[i] = kPositional;
  StepBackWorsened(g.bs, start, end, 1e-5 * size, 0.1, stage.data());
  for (int i = 0; i < 4; ++i)
    if (stage[i] != kPositional) return false;
  return true;
}

TEST_F(CreaseGuard, ACreaseEndBentAwayFromTheCreaseStepsBack) {
  struct Place {
    double size, far;
  };
  for (const Place& p : {Place{1.0, 0.0}, Place{1e-6, 1e4}, Place{1e6, 1e4}}) {
    SCOPED_TRACE(testing::Message() << "size " << p.size << " far " << p.far);
    // The spike in the middle went down from 60 to 50 degrees (the largest angle fell) while the
    // end was bent from 45 to 30.
    EXPECT_FALSE(KeptStage(Crease(15.0, 0.0), Crease(5.0, -15.0), p.size, p.far));
    EXPECT_FALSE(KeptStage(Crease(15.0, 0.0), Crease(5.0, 12.0), p.size, p.far));
    // An end the noise had steepened to 60 degrees brought back to 46, and one that gives 4.
    EXPECT_TRUE(KeptStage(Crease(15.0, 15.0), Crease(5.0, 1.0), p.size, p.far));
    EXPECT_TRUE(KeptStage(Crease(15.0, 0.0), Crease(5.0, -4.0), p.size, p.far));
  }
}

}  // namespace
