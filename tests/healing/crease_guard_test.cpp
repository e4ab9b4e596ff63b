// The heal's guard on a crease's ends: four patches meeting at one corner, a 45-degree crease along
// x = 1 through it and a smooth seam along y = 1, all closed; the heal's result stood in for by
// the same group with new angles. A crease end at the shared corner that the heal bends away from
// the crease as a whole beyond the 5 degrees a crease may give steps its surfaces back, even where
// the crease's largest angle (a noise spike in its middle) went down; an end the noise had tilted
// that comes back towards the crease, or one that gives less than 5 degrees, keeps its stage.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "bspline/srfclone.h"
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
  std::vector<SurfaceStage> stages(4, SurfaceStage{kPositional, 0, 0});
  StepBackWorsened(g.bs, start, end, 1e-5 * size, 0.1, stages.data());
  for (int i = 0; i < 4; ++i)
    if (stages[i].stage != kPositional) return false;
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

namespace {

// A flat quintic net A (27 x 6, 4 x 1 in z = 0), a bilinear plane B beside its u-min side (a seam
// the heal closed) and a bilinear wall C standing 0.01 off its v-max side (a crease left open, C
// put back where it began), at `size` and 1e4 sizes from the origin. The heal's result stood in for:
// A's two columns at the closed seam and all of B lifted by 0.05 in z, A's two rows at C (but those
// columns) moved halfway towards C.
void CornerBesidePutBack(Group& g, double size) {
  const double far = 1e4 * size;
  auto at = [&](double x, double y, double z) { return std::vector<double>{size * x + far, size * y - far, size * z}; };
  auto join = [](std::vector<std::vector<double>> pts) {
    std::vector<double> out;
    for (const auto& p : pts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  std::vector<std::vector<double>> a;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 27; ++i) a.push_back(at(4.0 * i / 26, j / 5.0, 0.0));
  g.Add(BuildSurface(5, 5, 27, 6, join(a)));
  g.Add(BuildSurface(1, 1, 2, 2, join({at(-1, 0, 0), at(0, 0, 0), at(-1, 1, 0), at(0, 1, 0)})));
  g.Add(BuildSurface(1, 1, 2, 2, join({at(0, 1.01, 0), at(4, 1.01, 0), at(0, 1.01, 1), at(4, 1.01, 1)})));
}

}  // namespace

// Where the rows of A's side across the open crease go back where they came, the corner that closes
// the other seam stays where it met and the rows follow it: along the whole side A's normal stays
// within 3 degrees of its start (rows gone back alone beside the lifted corner kink it), the rows are
// back at their start from 20 lifts off the corner on, and the closed seam's columns keep their lift.
TEST_F(CreaseGuard, RowsTakenBackFollowTheCornerThatClosesAnotherSeam) {
  for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    Group g, start;
    CornerBesidePutBack(g, size);
    for (Bspline* s : g.srfs) start.Add(CopyBsplineSurface(s));
    ASSERT_TRUE(g.Build(0.05 * size, 8.0));
    ASSERT_EQ(g.PairedCount(), 2);
    const double healGap = 1e-5 * size;
    GroupMeasure before, after;
    ASSERT_EQ(MeasureGroup(g.bs, &before), 0);
    Bspline *A = TopologySurface(g.bs, 0), *B = TopologySurface(g.bs, 1);
    for (int j = 0; j < 6; ++j)
      for (int k = 0; k < 27; ++k) {
        if (k < 2) A->Z[j][k] += 0.05 * size;
        if (k >= 2 && j >= 4) A->Y[j][k] += 0.005 * size;
      }
    for (int j = 0; j < 2; ++j)
      for (int k = 0; k < 2; ++k) B->Z[j][k] += 0.05 * size;
    for (int c = 0; c < g.bs->nCrv; ++c) RebuildCurve3Form(&g.bs->crvs[c]);
    ASSERT_EQ(MeasureGroup(g.bs, &after, nullptr, &before), 0);
    std::vector<SurfaceStage> stages = {{kTangential, 0, 0}, {kTangential, 0, 0}, {kStart, 0, 0}};
    std::vector<char> taken(g.bs->nEdge, 0);
    ASSERT_TRUE(TakeBackMovesTowardsPutBack(g.bs, start.data(), after, healGap, stages.data(), taken.data()));
    EXPECT_TRUE(stages[0].changed && !stages[1].changed && !stages[2].changed);
    double worst = 0.0;
    for (int q = 0; q <= 400; ++q) {
      double n[3], n0[3];
      SideNormal(A, 4, A->umin + (A->umax - A->umin) * q / 400.0, n);
      SideNormal(start.srfs[0], 4, A->umin + (A->umax - A->umin) * q / 400.0, n0);
      worst = std::max(worst, std::acos(std::min(1.0, Dot(n, n0) / (Len(n) * Len(n0)))) / kDeg);
    }
    EXPECT_LT(worst, 3.0);
    const Bspline* A0 = start.srfs[0];
    for (int j = 0; j < 6; ++j)
      for (int k = 0; k < 27; ++k) {
        if (k < 2) {
          EXPECT_EQ(A->Z[j][k], A0->Z[j][k] + 0.05 * size) << j << "," << k;
        } else if (k * 4.0 / 26 >= 20 * 0.05 + 4.0 / 26 && j >= 4) {
          EXPECT_TRUE(A->X[j][k] == A0->X[j][k] && A->Y[j][k] == A0->Y[j][k] && A->Z[j][k] == A0->Z[j][k])
              << j << "," << k;
        }
      }
  }
}
