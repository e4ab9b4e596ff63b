// Plane patches: control points on the plane for every solved axis at every scale, curves chained
// head to tail, and a ring of lines giving a patch trimmed by one outer loop.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "curve/planefit.h"
#include "quadric/planefit.h"
#include "surface/planefit.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PlanePatchTest : public KernelTest {};

Bspline* Line(const double a[3], const double b[3]) {
  return BuildCurve(1, 3, {a[0], a[1], a[2], b[0], b[1], b[2]});
}

void End(const Bspline* c, int last, double p[3]) {
  const int k = last ? NumCtrlU(c) - 1 : 0;
  p[0] = c->X[0][k], p[1] = c->Y[0][k], p[2] = c->Z[0][k];
}

double Gap(const double a[3], const double b[3]) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

// Largest |a x + b y + c z + d| / |n| over the control points and a grid of surface points,
// relative to size.
double PlaneResidual(const Bspline* s, const PlaneEq pl, double size) {
  const double len = std::sqrt(pl[0] * pl[0] + pl[1] * pl[1] + pl[2] * pl[2]);
  auto res = [&](const double p[3]) { return std::fabs(pl[0] * p[0] + pl[1] * p[1] + pl[2] * p[2] + pl[3]) / len; };
  double worst = 0.0;
  for (int i = 0; i < NumCtrlV(s); ++i)
    for (int j = 0; j < NumCtrlU(s); ++j) {
      const double p[3] = {s->X[i][j], s->Y[i][j], s->Z[i][j]};
      worst = std::max(worst, res(p));
    }
  for (int i = 0; i <= 4; ++i)
    for (int j = 0; j <= 4; ++j) {
      double p[3];
      Eval3DPointOnSurfCoord(s, s->umin + (s->umax - s->umin) * j / 4, s->vmin + (s->vmax - s->vmin) * i / 4, 0, 0, p);
      worst = std::max(worst, res(p));
    }
  return worst / size;
}

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
      EXPECT_LT(PlaneResidual(s, pl, scale), 1e-12);
      // The two free coordinates step in exact thirds of the box.
      double** M[3] = {s->X, s->Y, s->Z};
      const int rowAxis = solved[k] == 1 ? 2 : 1, colAxis = solved[k] == 0 ? 2 : 0;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
          EXPECT_NEAR(M[rowAxis][i][j], box[rowAxis] + i * (box[3 + rowAxis] - box[rowAxis]) / 3, 1e-15 * scale);
          EXPECT_NEAR(M[colAxis][i][j], box[colAxis] + j * (box[3 + colAxis] - box[colAxis]) / 3, 1e-15 * scale);
        }
    }
  }
  // z = 2 over 0..3 in x and y: the net is the grid 0, 1, 2, 3 at height 2.
  const PlaneEq flat = {0, 0, 2, -4};
  const Bbox square = {0, 0, 0, 3, 3, 0};
  BsplineKeeper keep;
  Bspline* s = keep(PutPlaneToBsplinePatch(flat, square, 3));
  ASSERT_NE(s, nullptr);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      EXPECT_DOUBLE_EQ(s->Z[i][j], 2.0);
      EXPECT_DOUBLE_EQ(s->X[i][j], j);
      EXPECT_DOUBLE_EQ(s->Y[i][j], i);
    }
  const PlaneEq tiny = {1e-7, 0, 0, 1};
  EXPECT_EQ(PutPlaneToBsplinePatch(tiny, square, 1), nullptr);
  const PlaneEq bad = {0, 0, NAN, 1};
  EXPECT_EQ(PutPlaneToBsplinePatch(bad, square, 3), nullptr);
}

TEST_F(PlanePatchTest, CloudPatchLiesOnThePointsPlaneAndRefusesCollinearPoints) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-1, 1);
  const double n[3] = {0.36, -0.48, 0.8};  // unit
  for (double scale : {1e-6, 1.0, 1e6}) {
    std::vector<float> x, y, z;
    Bbox box = {1e300, 1e300, 1e300, -1e300, -1e300, -1e300};
    for (int i = 0; i < 40; ++i) {
      // u, v in the plane n . p = 2 scale.
      const double u = U(rng), v = U(rng);
      const double e1[3] = {0.8, 0.6, 0.0}, e2[3] = {-0.48, 0.64, 0.6};
      double p[3];
      for (int k = 0; k < 3; ++k) p[k] = scale * (2 * n[k] + u * e1[k] + v * e2[k]);
      x.push_back(p[0]), y.push_back(p[1]), z.push_back(p[2]);
      for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], p[k]), box[3 + k] = std::max(box[3 + k], p[k]);
    }
    BsplineKeeper keep;
    Bspline* s = keep(CreatePlaneBsplineFromCloud(x.data(), y.data(), z.data(), 40, box));
    ASSERT_NE(s, nullptr);
    const PlaneEq truth = {n[0], n[1], n[2], -2 * scale};
    EXPECT_LT(PlaneResidual(s, truth, scale), 1e-6);  // float points
  }
  const float lx[4] = {0, 1, 2, 3}, ly[4] = {0, 1, 2, 3}, lz[4] = {1, 1, 1, 1};
  const Bbox box = {0, 0, 1, 3, 3, 1};
  EXPECT_EQ(CreatePlaneBsplineFromCloud(lx, ly, lz, 4, box), nullptr);
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
      const double* a = P[k].data();
      const double* b = P[(k + 1) % sides].data();
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
  Bspline* first = keep(Line(p, q));
  Bspline* ring = keep(BuildCurve(2, 3, {0, 0, 0, 0, 1, 0, -1, 1, 0, -1, 0, 0, 0, 0, 0}));
  Bspline* pair[2] = {first, ring};
  OrderCurves(pair, 2);
  double e[3], s[3];
  End(first, 1, e);
  End(ring, 0, s);
  EXPECT_LT(Gap(e, s), 1e-15);
  End(first, 0, s);
  EXPECT_LT(Gap(q, s), 1e-15);
}

TEST_F(PlanePatchTest, FourLinesOfASquareGiveAPatchTrimmedByOneOuterLoop) {
  for (double scale : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(scale);
    // A tilted square whose sides are drawn in mixed directions.
    const double e1[3] = {0.6, 0.0, 0.8}, e2[3] = {0.0, 1.0, 0.0}, o[3] = {1, 2, 3};
    double C[4][3];
    const double uv[4][2] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
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
    EXPECT_EQ(patch->trims->attached, 1);
    // The loop runs round the square: each curve on the patch, consecutive ends meeting in 3D,
    // every square corner an end.
    int count = 0;
    int corners = 0;
    std::vector<std::vector<double>> ends;
    for (BsplineList* n = patch->trims->loopCurves; n; n = n->next, ++count) {
      EXPECT_EQ(n->item->owner, patch);
      double a[3], b[3];
      Eval3DPointOnBsplOnSurfCoord(patch, n->item, n->item->umin, 0, 0, a);
      Eval3DPointOnBsplOnSurfCoord(patch, n->item, n->item->umax, 0, 0, b);
      ends.push_back({a[0], a[1], a[2], b[0], b[1], b[2]});
      for (auto& corner : C) corners += Gap(a, corner) < 1e-5 * scale;
    }
    EXPECT_GE(count, 4);
    EXPECT_EQ(corners, 4);
    for (int k = 0; k < count; ++k) {
      const double* b = ends[k].data() + 3;
      const double* a = ends[(k + 1) % count].data();
      EXPECT_LT(Gap(a, b), 1e-5 * scale) << k;
    }
    // Every curve the loop holds sits on the patch's curve list.
    for (BsplineList* n = patch->trims->loopCurves; n; n = n->next) {
      bool listed = false;
      for (BsplineList* m = patch->curves; m; m = m->next) listed = listed || m->item == n->item;
      EXPECT_TRUE(listed);
    }
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
  Bspline* patch = reinterpret_cast<Bspline*>(1);
  EXPECT_EQ(CreatePlaneBsplineTrimmedToCurves(straight, 2, &patch), -2);
  EXPECT_EQ(patch, nullptr);
  EXPECT_EQ(BsplinePlaneFrom3DLines(straight, 2), nullptr);
}

}  // namespace
