// Plane patches: control points on the plane for every solved axis at every scale, curves chained
// head to tail, a ring of lines giving a patch trimmed by one outer loop, and lines on one line
// giving no plane.
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "curve/planefit.h"
#include "quadric/planefit.h"
#include "surface/planefit.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"

namespace {

class PlanePatchTest : public KernelTest {};

Bspline* Line(const double a[3], const double b[3]) { return BuildCurve(1, 3, {a[0], a[1], a[2], b[0], b[1], b[2]}); }

void End(const Bspline* c, int last, double p[3]) {
  const int k = last ? NumCtrlU(c) - 1 : 0;
  p[0] = c->X[0][k], p[1] = c->Y[0][k], p[2] = c->Z[0][k];
}

double Gap(const double a[3], const double b[3]) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

TEST_F(PlanePatchTest, EveryControlPointSatisfiesThePlaneForEachSolvedAxisAtEveryScale) {
  // Dominant x, y, z, and the ties that must pick x (|a| = |b|) and y (|b| = |c| > |a|).
  const double normals[][3] = {{3, 1, -1}, {0.5, -4, 2}, {1, 1, 5}, {2, -2, 1}, {0.5, 3, -3}};
  const int solved[] = {0, 1, 2, 0, 1};
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int k = 0; k < 5; ++k) {
      SCOPED_TRACE(::testing::Message() << "scale " << scale << " normal " << k);
      const PlaneEq pl = {normals[k][0], normals[k][1], normals[k][2], -0.7 * scale};
      const Bbox box = {-1 * scale, 2 * scale, 0.5 * scale, 3 * scale, 5 * scale, 4 * scale};
      BsplineKeeper keep;
      Bspline* s = keep(PutPlaneToBsplinePatch(pl, box, 0));
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->quadricType, 25);
      for (int c = 0; c < 4; ++c) EXPECT_EQ(s->quadric->v[c], pl[c]);
      // On the plane: the control points and (the patch being linear) its points; the free
      // coordinates step in exact thirds of the box.
      const double len = std::sqrt(pl[0] * pl[0] + pl[1] * pl[1] + pl[2] * pl[2]);
      const int rowAxis = solved[k] == 1 ? 2 : 1, colAxis = solved[k] == 0 ? 2 : 0;
      double** M[3] = {s->X, s->Y, s->Z};
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
          double p[3] = {s->X[i][j], s->Y[i][j], s->Z[i][j]};
          EXPECT_LT(std::fabs(pl[0] * p[0] + pl[1] * p[1] + pl[2] * p[2] + pl[3]) / len, 1e-12 * scale);
          Eval3DPointOnSurfCoord(s, s->umin + (s->umax - s->umin) * j / 3, s->vmin + (s->vmax - s->vmin) * i / 3, 0, 0, p);
          EXPECT_LT(std::fabs(pl[0] * p[0] + pl[1] * p[1] + pl[2] * p[2] + pl[3]) / len, 1e-12 * scale);
          EXPECT_NEAR(M[rowAxis][i][j], box[rowAxis] + i * (box[3 + rowAxis] - box[rowAxis]) / 3, 1e-15 * scale);
          EXPECT_NEAR(M[colAxis][i][j], box[colAxis] + j * (box[3 + colAxis] - box[colAxis]) / 3, 1e-15 * scale);
        }
    }
  }
  const PlaneEq tiny = {1e-7, 0, 0, 1}, bad = {0, 0, NAN, 1};
  const Bbox square = {0, 0, 0, 3, 3, 0};
  EXPECT_EQ(PutPlaneToBsplinePatch(tiny, square, 1), nullptr);
  EXPECT_EQ(PutPlaneToBsplinePatch(bad, square, 3), nullptr);
}

TEST_F(PlanePatchTest, CurvesInMixedDirectionsComeOutHeadToTail) {
  // A hexagon's sides, each drawn forwards or backwards, the first pair in every combination.
  const int sides = 6;
  std::vector<std::vector<double>> P;
  for (int k = 0; k < sides; ++k) {
    const double t = 6.283185307179586 * k / sides;
    P.push_back({3 * std::cos(t), 2 * std::sin(t), 0.5 * std::cos(2 * t)});
  }
  for (int mask = 0; mask < (1 << sides); mask += 5) {
    SCOPED_TRACE(mask);
    BsplineKeeper keep;
    std::vector<Bspline*> c;
    for (int k = 0; k < sides; ++k) {
      const double *a = P[k].data(), *b = P[(k + 1) % sides].data();
      c.push_back(keep(mask >> k & 1 ? Line(b, a) : Line(a, b)));
    }
    OrderCurves(c.data(), sides);
    for (int k = 1; k < sides; ++k) {
      double e[3], s[3];
      End(c[k - 1], 1, e);
      End(c[k], 0, s);
      EXPECT_LT(Gap(e, s), 1e-12) << k;
    }
  }
  // A closed curve touching the first curve's start: both of the first curve's start pairings
  // tie, and reversing the first curve for each would undo itself.
  BsplineKeeper keep;
  const double p[3] = {0, 0, 0}, q[3] = {2, 0, 0};
  Bspline* pair[2] = {keep(Line(p, q)), keep(BuildCurve(2, 3, {0, 0, 0, 0, 1, 0, -1, 1, 0, -1, 0, 0, 0, 0, 0}))};
  OrderCurves(pair, 2);
  double e[3], s[3];
  End(pair[0], 1, e);
  End(pair[1], 0, s);
  EXPECT_LT(Gap(e, s), 1e-15);
  End(pair[0], 0, s);
  EXPECT_LT(Gap(q, s), 1e-15);
}

TEST_F(PlanePatchTest, FourLinesOfASquareGiveAPatchTrimmedByOneOuterLoop) {
  for (double scale : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(scale);
    // A tilted square whose sides are drawn in mixed directions.
    const double e1[3] = {0.6, 0.0, 0.8}, e2[3] = {0.0, 1.0, 0.0}, o[3] = {1, 2, 3};
    const double uv[4][2] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    double C[4][3];
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 3; ++c) C[k][c] = scale * (o[c] + uv[k][0] * e1[c] + uv[k][1] * e2[c]);
    BsplineKeeper keep;
    Bspline* c[4] = {keep(Line(C[0], C[1])), keep(Line(C[2], C[1])), keep(Line(C[2], C[3])), keep(Line(C[0], C[3]))};
    Bspline* patch = nullptr;
    ASSERT_EQ(CreatePlaneBsplineTrimmedToCurves(c, 4, &patch), 0);
    keep(patch);
    ASSERT_NE(patch->trims, nullptr);
    EXPECT_EQ(patch->trims->next, nullptr);
    EXPECT_EQ(patch->trims->hole, 0);
    // The loop runs round the square on the patch: consecutive ends meet in 3D, every corner is
    // a start.
    std::vector<std::vector<double>> ends;
    int corners = 0;
    for (BsplineList* n = patch->trims->loopCurves; n; n = n->next) {
      EXPECT_EQ(n->item->owner, patch);
      double a[3], b[3];
      Eval3DPointOnBsplOnSurfCoord(patch, n->item, n->item->umin, 0, 0, a);
      Eval3DPointOnBsplOnSurfCoord(patch, n->item, n->item->umax, 0, 0, b);
      ends.push_back({a[0], a[1], a[2], b[0], b[1], b[2]});
      for (auto& corner : C) corners += Gap(a, corner) < 1e-5 * scale;
    }
    EXPECT_EQ(corners, 4);
    for (size_t k = 0; k < ends.size(); ++k)
      EXPECT_LT(Gap(ends[(k + 1) % ends.size()].data(), ends[k].data() + 3), 1e-5 * scale) << k;
  }
}

TEST_F(PlanePatchTest, TrimmedPatchUnderInjectedFailuresLeavesNothing) {
  const double C[4][3] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
  BsplineKeeper keep;
  Bspline* c[4] = {keep(Line(C[0], C[1])), keep(Line(C[1], C[2])), keep(Line(C[3], C[2])), keep(Line(C[3], C[0]))};
  const int failures = RunMakerWithInjectedFailures(3400, 11, [&](Bspline** out) {
    return CreatePlaneBsplineTrimmedToCurves(c, 4, out);
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 3400 / 11 + 1);  // the last runs get every allocation
  // Collinear curves have no plane.
  const double a[3] = {0, 0, 0}, b[3] = {1, 1, 1}, d[3] = {3, 3, 3};
  Bspline* straight[2] = {keep(Line(a, b)), keep(Line(b, d))};
  Bspline* patch = c[0];
  EXPECT_EQ(CreatePlaneBsplineTrimmedToCurves(straight, 2, &patch), -2);
  EXPECT_EQ(patch, nullptr);
}

}  // namespace

// Three chained straight lines through four points in the plane z = 0 of a unit-size case,
// placed at every size and place: a kink of 0.2 across the line fixes the plane; without it every
// plane through the line fits the six samples, and none is returned.
TEST_F(PlanePatchTest, ChainedLinesGiveTheirPlaneOrNoneAtEverySizeAndPlace) {
  for (const Place& pl : EveryPlace())
    for (double kink : {0.2, 0.0}) {
      SCOPED_TRACE(Where(pl) << " kink " << kink);
      const double unit[4][3] = {{-0.5, 0.1, 0}, {0.2, 0.3, 0}, {0.55, 0.4, 0}, {0.9, 0.5 + kink, 0}};
      double P[4][3];
      for (int k = 0; k < 4; ++k) pl.Map(unit[k], P[k]);
      BsplineKeeper keep;
      Bspline* c[3] = {keep(Line(P[0], P[1])), keep(Line(P[1], P[2])), keep(Line(P[2], P[3]))};
      Bspline* patch = keep(BsplinePlaneFrom3DLines(c, 3));
      if (kink == 0.0) {
        EXPECT_EQ(patch, nullptr);
        EXPECT_TRUE(KernelFailedNow());
        ClearKernelError();
        continue;
      }
      ASSERT_NE(patch, nullptr);
      ASSERT_EQ(patch->quadricType, 25);
      const double up[3] = {0, 0, 1};
      double n[3];
      pl.MapDirection(up, n);
      const double* plane = patch->quadric->v;
      const double dot = plane[0] * n[0] + plane[1] * n[1] + plane[2] * n[2];
      // The samples' single-precision rounding, 1e4 sizes away 6e-4 of the size, over the kink.
      EXPECT_GT(std::fabs(dot), 1 - (pl.far ? 1e-5 : 1e-12));
      for (const auto& p : P)
        EXPECT_LT(std::fabs(plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3]) / pl.size,
                  pl.far ? 2e-3 : 1e-6);
    }
}
