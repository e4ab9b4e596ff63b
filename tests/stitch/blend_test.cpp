// Four-sided blends: a loop of 3D curves gives a net whose outer rows are the curves and whose
// inside is the Coons rule of them; curves on surfaces around a hole give a blend that leaves
// each boundary in the neighbour's tangent plane, with single-valued corners; direction curves
// and the refusals of bad orders.
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "stitch/userdef.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Blend : public KernelTest {};

double Dist(const double* a, const double* b) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

void Ctrl(const Bspline* c, int i, double p[3]) {
  p[0] = c->X[0][i], p[1] = c->Y[0][i], p[2] = c->Z[0][i];
}

// Greville abscissae of one direction's knots.
std::vector<double> Greville(const double* knots, int n, int p) {
  std::vector<double> g(n);
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int k = 1; k <= p; ++k) s += knots[i + k];
    g[i] = s / p;
  }
  return g;
}

// A cubic from a to b with five control points on uniform knots: x and y on the chord, z the
// saddle x y plus a bump inside, so the ends are exactly the saddle's corners.
Bspline* SaddleEdge(double ax, double ay, double bx, double by, double bump) {
  std::vector<double> pts;
  for (int i = 0; i < 5; ++i) {
    // The Greville abscissae of the uniform cubic on five points: 0, 1/6, 1/2, 5/6, 1.
    const double g[5] = {0.0, 1.0 / 6, 0.5, 5.0 / 6, 1.0};
    const double x = ax + (bx - ax) * g[i], y = ay + (by - ay) * g[i];
    pts.insert(pts.end(), {x, y, x * y + (i > 0 && i < 4 ? bump * std::sin(3.0 * i) : 0.0)});
  }
  return BuildCurve(3, 3, pts);
}

TEST_F(Blend, LoopOfThreeDCurvesGivesTheCoonsNetOfItsRows) {
  BsplineKeeper keep;
  // Clockwise: up the left side, right along the top, down the right, back along the bottom.
  Bspline* curves[4] = {keep(SaddleEdge(0, 0, 0, 1, 0.1)), keep(SaddleEdge(0, 1, 1, 1, -0.2)),
                        keep(SaddleEdge(1, 1, 1, 0, 0.15)), keep(SaddleEdge(1, 0, 0, 0, 0.05))};
  int orders[4] = {0, 0, 0, 0};
  double scales[4] = {1, 1, 1, 1};
  for (const int threeD : {1, 0}) {
    Bspline** pos = nullptr;
    Bspline** d1 = nullptr;
    Bspline** d2 = nullptr;
    Bspline* s = CreateBlendSurface1(curves, &pos, &d1, &d2, 4, orders, scales, 0.0, 0.0, threeD,
                                     0, 0, 0);
    ASSERT_NE(s, nullptr);
    keep(s);
    ASSERT_TRUE(pos && d1 && d2);
    const int nU = NumCtrlU(s), nV = NumCtrlV(s);
    ASSERT_EQ(nU, 5);
    ASSERT_EQ(nV, 5);
    // The boundary rows are the curves (sides 2 and 3 reversed); the corners are shared.
    for (int k = 0; k < 5; ++k) {
      const double* c[4][2] = {};
      const int rc[4][2] = {{k, 0}, {nV - 1, k}, {k, nU - 1}, {0, k}};
      for (int side = 0; side < 4; ++side) {
        const Bspline* in = curves[side];
        const int idx = side < 2 ? k : 4 - k;
        const int j = rc[side][0], i = rc[side][1];
        EXPECT_NEAR(s->X[j][i], in->X[0][idx], 1e-12);
        EXPECT_NEAR(s->Y[j][i], in->Y[0][idx], 1e-12);
        EXPECT_NEAR(s->Z[j][i], threeD ? in->Z[0][idx] : 0.0, 1e-12);
        (void)c;
      }
    }
    // The inside is the Coons rule of the boundary rows at the normalised Greville parameters.
    const std::vector<double> gu = Greville(s->knotsU, nU, s->degreeU);
    const std::vector<double> gv = Greville(s->knotsV, nV, s->degreeV);
    double** M[3] = {s->X, s->Y, s->Z};
    for (int j = 1; j < nV - 1; ++j)
      for (int i = 1; i < nU - 1; ++i) {
        const double a = (gu[i] - gu[0]) / (gu[nU - 1] - gu[0]);
        const double b = (gv[j] - gv[0]) / (gv[nV - 1] - gv[0]);
        for (double** m : M) {
          const double want = (1 - a) * m[j][0] + a * m[j][nU - 1] + (1 - b) * m[0][i] +
                              b * m[nV - 1][i] - (1 - a) * (1 - b) * m[0][0] -
                              a * (1 - b) * m[0][nU - 1] - (1 - a) * b * m[nV - 1][0] -
                              a * b * m[nV - 1][nU - 1];
          EXPECT_NEAR(m[j][i], want, 1e-12);
        }
        if (!threeD) {
          EXPECT_EQ(s->Z[j][i], 0.0);
        }
      }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d1[i], nullptr);
    FreeDerivBsplineArrays(pos, d1, d2, 4);
  }
}

// A curve from a to b of the given degree and control count on random knots, x and y on the
// chord at the Greville abscissae and z the saddle plus a bump, so its ends are the corners.
Bspline* SaddleEdgeOf(double ax, double ay, double bx, double by, int degree, int n, unsigned seed) {
  const std::vector<double> knots = ClampedKnots(degree, n, 0.0, 1.0, KnotLayout::Random, seed);
  const std::vector<double> g = Greville(knots.data(), n, degree);
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    const double x = ax + (bx - ax) * g[i], y = ay + (by - ay) * g[i];
    pts.insert(pts.end(), {x, y, x * y + (i > 0 && i < n - 1 ? 0.1 * std::sin(seed + 2.0 * i) : 0.0)});
  }
  return BuildCurve(degree, 3, pts, knots);
}

TEST_F(Blend, MixedDegreesAndKnotsKeepEveryBoundaryCurvesShape) {
  BsplineKeeper keep;
  // Opposite sides of degrees 3 and 5, 2 and 4, each on knots of its own: raising degrees and
  // inserting knots must leave every side's shape as it was.
  Bspline* curves[4] = {keep(SaddleEdgeOf(0, 0, 0, 1, 3, 6, 1)), keep(SaddleEdgeOf(0, 1, 1, 1, 2, 5, 2)),
                        keep(SaddleEdgeOf(1, 1, 1, 0, 5, 7, 3)), keep(SaddleEdgeOf(1, 0, 0, 0, 4, 6, 4))};
  int orders[4] = {0, 0, 0, 0};
  double scales[4] = {1, 1, 1, 1};
  Bspline* s = keep(CreateBlendSurface1(curves, nullptr, nullptr, nullptr, 4, orders, scales, 0.0,
                                        0.0, 1, 0, 0, 0));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->degreeV, 5);
  EXPECT_EQ(s->degreeU, 4);
  for (int side = 0; side < 4; ++side) {
    const Bspline* c = curves[side];
    for (double t = 0.0; t <= 1.0 + 1e-12; t += 0.05) {
      // The boundary runs on [0, 1] with the net (sides 2 and 3 against the loop).
      const double w = side < 2 ? t : 1.0 - t;
      const double u = side == 0 ? s->umin : side == 2 ? s->umax : s->umin + w * (s->umax - s->umin);
      const double v = side == 3 ? s->vmin : side == 1 ? s->vmax : s->vmin + w * (s->vmax - s->vmin);
      double got[3], want[3];
      RefEvalSurface(s, u, v, got);
      RefEvalCurve(c, c->umin + t * (c->umax - c->umin), want);
      EXPECT_LT(Dist(got, want), 1e-12) << side << " " << t;
    }
  }
  // Refits on uniform knots (mode 1) and removal down to a count (mode 2) give nets of the
  // asked control counts that still close at the shared corners.
  for (const int mode : {1, 2}) {
    Bspline* r = keep(CreateBlendSurface1(curves, nullptr, nullptr, nullptr, 4, orders, scales, 0.0,
                                          0.0, 1, mode, mode == 1 ? 8 : 6, mode == 1 ? 7 : 5));
    ASSERT_NE(r, nullptr) << mode;
    EXPECT_EQ(NumCtrlV(r), mode == 1 ? 8 : 6);
    EXPECT_EQ(NumCtrlU(r), mode == 1 ? 7 : 5);
    double corner[3];
    RefEvalSurface(r, r->umax, r->vmax, corner);
    const double want[3] = {1.0, 1.0, 1.0};
    EXPECT_LT(Dist(corner, want), 1e-3) << mode;
  }
}

TEST_F(Blend, OneRationalSideMakesTheWholeNetRationalAndKeepsItsArc) {
  BsplineKeeper keep;
  // The top side a single rational span: the quarter circle about (0.5, 1, -0.5) in x-z from
  // (0, 1, 0) to (1, 1, 0).
  Bspline* top = keep(BuildCurve(2, 3, {0, 1, 0, 0.5, 1, 0.5, 1, 1, 0}, {}, {1, 0.7071067811865476, 1}));
  Bspline* curves[4] = {keep(BuildCurve(1, 3, {0, 0, 0, 0, 1, 0})), top,
                        keep(BuildCurve(1, 3, {1, 1, 0, 1, 0, 0})), keep(BuildCurve(1, 3, {1, 0, 0, 0, 0, 0}))};
  int orders[4] = {0, 0, 0, 0};
  double scales[4] = {1, 1, 1, 1};
  Bspline* s = keep(CreateBlendSurface1(curves, nullptr, nullptr, nullptr, 4, orders, scales, 0.0,
                                        0.0, 1, 0, 0, 0));
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->rational);
  // The v-maximum boundary stays on the circle: (x - 0.5)^2 + (z + 0.5)^2 = 0.5 at y = 1.
  for (double t = 0.0; t <= 1.0 + 1e-12; t += 0.1) {
    double P[3];
    RefEvalSurface(s, s->umin + t * (s->umax - s->umin), s->vmax, P);
    EXPECT_NEAR(P[1], 1.0, 1e-12);
    EXPECT_NEAR((P[0] - 0.5) * (P[0] - 0.5) + (P[2] + 0.5) * (P[2] + 0.5), 0.5, 1e-12) << t;
  }
  // The opposite side, straight, keeps weights 1.
  for (int i = 0; i < NumCtrlU(s); ++i) EXPECT_EQ(s->W[0][i], 1.0);
}

TEST_F(Blend, OvershootingSidesAreCutWhereTheyMeet) {
  BsplineKeeper keep;
  // The four edge lines of the saddle z = x y over the unit square, each running 0.2 past both
  // corners: cut where they cross, the blend is the saddle itself.
  Bspline* curves[4] = {keep(BuildCurve(1, 3, {0, -0.2, 0, 0, 1.2, 0})),
                        keep(BuildCurve(1, 3, {-0.2, 1, -0.2, 1.2, 1, 1.2})),
                        keep(BuildCurve(1, 3, {1, 1.2, 1.2, 1, -0.2, -0.2})),
                        keep(BuildCurve(1, 3, {1.2, 0, 0, -0.2, 0, 0}))};
  int orders[4] = {0, 0, 0, 0};
  double scales[4] = {1, 1, 1, 1};
  Bspline* s = keep(CreateBlendSurface1(curves, nullptr, nullptr, nullptr, 4, orders, scales, 0.0,
                                        0.0, 1, 0, 0, 0));
  ASSERT_NE(s, nullptr);
  const double corners[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 1}};
  for (int k = 0; k < 4; ++k) {
    double P[3];
    RefEvalSurface(s, k % 2 ? s->umax : s->umin, k / 2 ? s->vmax : s->vmin, P);
    EXPECT_LT(Dist(P, corners[k]), 1e-9) << k;
  }
  for (double a = 0.0; a <= 1.0 + 1e-12; a += 0.25)
    for (double b = 0.0; b <= 1.0 + 1e-12; b += 0.25) {
      double P[3];
      RefEvalSurface(s, s->umin + a * (s->umax - s->umin), s->vmin + b * (s->vmax - s->vmin), P);
      EXPECT_NEAR(P[2], P[0] * P[1], 1e-9);
    }
}

TEST_F(Blend, LinearBlendFixesTheInnerRowsAndBlendsBetweenThem) {
  BsplineKeeper keep;
  // A planar 7 x 7 rectangle net from straight lines; sides 0 and 2 carry two inner rows each,
  // sides 1 and 3 none: only columns 3 .. 3 (between 2 and nU - 3) are blended.
  auto line = [&](double ax, double ay, double bx, double by, double z) {
    std::vector<double> pts;
    for (int i = 0; i < 7; ++i) {
      const double t = i / 6.0;
      pts.insert(pts.end(), {ax + (bx - ax) * t, ay + (by - ay) * t, z});
    }
    return keep(BuildCurve(1, 3, pts));
  };
  Bspline* pos[4] = {line(0, 0, 0, 1, 0), line(0, 1, 1, 1, 0), line(1, 0, 1, 1, 0), line(0, 0, 1, 0, 0)};
  Bspline* d1[4] = {line(1.0 / 6, 0, 1.0 / 6, 1, 0.5), nullptr, line(5.0 / 6, 0, 5.0 / 6, 1, 0.5), nullptr};
  Bspline* d2[4] = {line(2.0 / 6, 0, 2.0 / 6, 1, 0.7), nullptr, line(4.0 / 6, 0, 4.0 / 6, 1, 0.7), nullptr};
  Bspline* s = keep(LinearBlendSurface(pos, d1, d2, 1));
  ASSERT_NE(s, nullptr);
  for (int j = 1; j < 6; ++j) {
    EXPECT_EQ(s->Z[j][1], 0.5);
    EXPECT_EQ(s->Z[j][2], 0.7);
    EXPECT_EQ(s->Z[j][4], 0.7);
    // Between columns 2 and 4 (z 0.7, also at rows 0 and 6, where the columns stand) and rows 0
    // and 6 (z 0 in column 3) the Coons rule gives 0.7 + 0 - 0.7.
    EXPECT_NEAR(s->Z[j][3], 0.0, 1e-12);
    EXPECT_NEAR(s->X[j][3], 0.5, 1e-12);
    EXPECT_NEAR(s->Y[j][3], j / 6.0, 1e-12);
  }
  EXPECT_EQ(s->Z[0][2], 0.7);
  EXPECT_EQ(s->Z[6][4], 0.7);
  // Rows that do not fit the net are refused.
  Bspline* shortRow[4] = {line(0.1, 0, 0.1, 1, 0), nullptr, nullptr, nullptr};
  shortRow[0]->interiorU -= 1;  // six control points against seven
  EXPECT_EQ(LinearBlendSurface(pos, shortRow, nullptr, 1), nullptr);
  shortRow[0]->interiorU += 1;
}

// Four bicubic patches of one function around the hole [0, 1]^2, and the loop of their edges
// facing it, clockwise: x = 0 upward, y = 1 rightward, x = 1 downward, y = 0 leftward.
struct HoleLoop {
  BsplineKeeper keep;
  Bspline* patch[4];
  Bspline* curves[4];
  HoleLoop() {
    // A saddle the patches reproduce exactly (bilinear), so they meet with one tangent plane.
    auto f = [](double x, double y) { return 0.4 * x * y + 0.1 * x - 0.2 * y; };
    const double box[4][4] = {{-1, 0, 0, 1}, {0, 1, 1, 2}, {1, 2, 0, 1}, {0, 1, -1, 0}};
    for (int k = 0; k < 4; ++k) {
      PatchOptions o;
      o.nu = 6, o.nv = 6;
      o.x0 = box[k][0], o.x1 = box[k][1], o.y0 = box[k][2], o.y1 = box[k][3];
      patch[k] = keep(BuildFunctionPatch(f, o));
    }
    curves[0] = BuildCurveOnSurface(patch[0], 1, {1, 0, 1, 1});
    curves[1] = BuildCurveOnSurface(patch[1], 1, {0, 0, 1, 0});
    curves[2] = BuildCurveOnSurface(patch[2], 1, {0, 1, 0, 0});
    curves[3] = BuildCurveOnSurface(patch[3], 1, {1, 1, 0, 1});
  }
};

// Largest sine of the angle between the blend's cross derivative and the neighbour's tangent
// plane, over the middle of each side.
double WorstTangentPlaneDeparture(const Bspline* s, const HoleLoop& h) {
  double worst = 0.0;
  for (int side = 0; side < 4; ++side)
    for (double t = 0.0; t <= 1.0 + 1e-9; t += 0.05) {
      const double u = side == 0 ? s->umin : side == 2 ? s->umax : s->umin + t * (s->umax - s->umin);
      const double v = side == 3 ? s->vmin : side == 1 ? s->vmax : s->vmin + t * (s->vmax - s->vmin);
      double P[3], D[3];
      Eval3DPointOnSurfArray(s, u, v, 0, 0, P);
      Eval3DPointOnSurfArray(s, u, v, side % 2 == 0 ? 1 : 0, side % 2 == 0 ? 0 : 1, D);
      // The neighbour's parameters from x and y (its x is linear in u, y in v).
      const Bspline* n = h.patch[side];
      const double x0 = n->X[0][0], x1 = n->X[0][NumCtrlU(n) - 1];
      const double y0 = n->Y[0][0], y1 = n->Y[NumCtrlV(n) - 1][0];
      const double nu = (P[0] - x0) / (x1 - x0), nv = (P[1] - y0) / (y1 - y0);
      double Su[3], Sv[3];
      Eval3DPointOnSurfArray(n, std::clamp(nu, 0.0, 1.0), std::clamp(nv, 0.0, 1.0), 1, 0, Su);
      Eval3DPointOnSurfArray(n, std::clamp(nu, 0.0, 1.0), std::clamp(nv, 0.0, 1.0), 0, 1, Sv);
      const double N[3] = {Su[1] * Sv[2] - Su[2] * Sv[1], Su[2] * Sv[0] - Su[0] * Sv[2],
                           Su[0] * Sv[1] - Su[1] * Sv[0]};
      const double dot = N[0] * D[0] + N[1] * D[1] + N[2] * D[2];
      worst = std::max(worst, std::fabs(dot) / (std::hypot(N[0], N[1], N[2]) * std::hypot(D[0], D[1], D[2])));
    }
  return worst;
}

TEST_F(Blend, CurvesOnSurfacesLeaveEachSideInItsNeighboursTangentPlane) {
  HoleLoop h;
  double scales[4] = {1, 1, 1, 1};
  Bspline** pos = nullptr;
  Bspline** d1 = nullptr;
  Bspline** d2 = nullptr;
  int orders[4] = {1, 1, 1, 1};
  Bspline* s = h.keep(CreateBlendSurface1(h.curves, &pos, &d1, &d2, 4, orders, scales, 0.0, 0.0,
                                          1, 0, 0, 0));
  ASSERT_NE(s, nullptr);
  EXPECT_LT(WorstTangentPlaneDeparture(s, h), 2e-3);
  // Every corner, twist point, is single-valued: the two sides' rows agree there.
  const int ends[4][4] = {{0, 1, 1, 0}, {1, 2, 1, 1}, {2, 3, 0, 1}, {3, 0, 0, 0}};
  for (const auto& c : ends) {
    for (int k = 0; k < 2; ++k) {
      Bspline* a = k == 0 ? pos[c[0]] : d1[c[0]];
      Bspline* b = k == 0 ? pos[c[1]] : d1[c[1]];
      double p[3], q[3];
      Ctrl(a, c[2] ? NumCtrlU(a) - 1 - k : k, p);
      Ctrl(b, c[3] ? NumCtrlU(b) - 1 - k : k, q);
      EXPECT_LT(Dist(p, q), 1e-12) << c[0] << " " << c[1] << " " << k;
    }
  }
  // Orders 2 and 3 give the same blend: the net holds at most two derivative rows.
  int two[4] = {2, 2, 2, 2}, three[4] = {3, 3, 3, 3};
  Bspline* s2 = h.keep(CreateBlendSurface1(h.curves, nullptr, nullptr, nullptr, 4, two, scales,
                                           0.0, 0.0, 1, 0, 0, 0));
  Bspline* s3 = h.keep(CreateBlendSurface1(h.curves, nullptr, nullptr, nullptr, 4, three, scales,
                                           0.0, 0.0, 1, 0, 0, 0));
  ASSERT_TRUE(s2 && s3);
  ASSERT_EQ(NumCtrlU(s2), NumCtrlU(s3));
  ASSERT_EQ(NumCtrlV(s2), NumCtrlV(s3));
  for (int j = 0; j < NumCtrlV(s2); ++j)
    for (int i = 0; i < NumCtrlU(s2); ++i) EXPECT_EQ(s2->Z[j][i], s3->Z[j][i]);
  EXPECT_EQ(three[0], 3);  // the caller's orders stay
  EXPECT_LT(WorstTangentPlaneDeparture(s2, h), 2e-3);
  FreeDerivBsplineArrays(pos, d1, d2, 4);
  // With second rows on every side the (2, 2) points are single-valued too.
  Bspline* s2b = h.keep(CreateBlendSurface1(h.curves, &pos, &d1, &d2, 4, two, scales, 0.0, 0.0, 1,
                                            0, 0, 0));
  ASSERT_NE(s2b, nullptr);
  for (const auto& c : ends) {
    Bspline* a = d2[c[0]];
    Bspline* b = d2[c[1]];
    ASSERT_TRUE(a && b);
    double p[3], q[3];
    Ctrl(a, c[2] ? NumCtrlU(a) - 3 : 2, p);
    Ctrl(b, c[3] ? NumCtrlU(b) - 3 : 2, q);
    EXPECT_LT(Dist(p, q), 1e-12) << c[0] << " " << c[1];
  }
  FreeDerivBsplineArrays(pos, d1, d2, 4);
}

TEST_F(Blend, BadOrdersAndCountsAreRefused) {
  HoleLoop h;
  double scales[4] = {1, 1, 1, 1};
  int bad[4] = {1, 5, 1, 1}, negative[4] = {-1, 1, 1, 1}, ok[4] = {1, 1, 1, 1};
  EXPECT_EQ(CreateBlendSurface1(h.curves, nullptr, nullptr, nullptr, 4, bad, scales, 0, 0, 1, 0, 0, 0), nullptr);
  ClearKernelError();
  EXPECT_EQ(CreateBlendSurface1(h.curves, nullptr, nullptr, nullptr, 4, negative, scales, 0, 0, 1, 0, 0, 0), nullptr);
  ClearKernelError();
  EXPECT_EQ(CreateBlendSurface1(h.curves, nullptr, nullptr, nullptr, 3, ok, scales, 0, 0, 1, 0, 0, 0), nullptr);
  ClearKernelError();
  // A 3D curve takes only position or an implied tangent.
  Bspline* line = h.keep(SaddleEdge(0, 0, 0, 1, 0.0));
  Bspline* mixed[4] = {line, h.curves[1], h.curves[2], h.curves[3]};
  EXPECT_EQ(CreateBlendSurface1(mixed, nullptr, nullptr, nullptr, 4, ok, scales, 0, 0, 1, 0, 0, 0), nullptr);
  ClearKernelError();
}

TEST_F(Blend, ImpliedTangentAndOrderFourOnSurfacesGiveFirstRows) {
  HoleLoop h;
  double scales[4] = {1, 1, 1, 1};
  // An order 4 on a curve on a surface is an order 1.
  int four[4] = {4, 4, 4, 4}, one[4] = {1, 1, 1, 1};
  Bspline* s4 = h.keep(CreateBlendSurface1(h.curves, nullptr, nullptr, nullptr, 4, four, scales, 0, 0, 1, 0, 0, 0));
  Bspline* s1 = h.keep(CreateBlendSurface1(h.curves, nullptr, nullptr, nullptr, 4, one, scales, 0, 0, 1, 0, 0, 0));
  ASSERT_TRUE(s4 && s1);
  ASSERT_EQ(NumCtrlU(s4), NumCtrlU(s1));
  ASSERT_EQ(NumCtrlV(s4), NumCtrlV(s1));
  for (int j = 0; j < NumCtrlV(s1); ++j)
    for (int i = 0; i < NumCtrlU(s1); ++i) EXPECT_EQ(s4->Z[j][i], s1->Z[j][i]);
  // A 3D side with order 4 leaves along the mean T of its neighbours' end directions (the
  // saddle's slopes 0.5 along the top and 0.1 along the bottom): the blend's cross derivative
  // leaves into the hole, midway in the plane of T and the straight side (toward the corners it
  // turns to the neighbours' legs, which the corner steps give precedence).
  std::vector<double> pts;
  for (int i = 0; i < 4; ++i) pts.insert(pts.end(), {0.0, i / 3.0, -0.2 * i / 3.0});
  Bspline* side0 = h.keep(BuildCurve(3, 3, pts));
  Bspline* mixed[4] = {side0, h.curves[1], h.curves[2], h.curves[3]};
  int implied[4] = {4, 1, 1, 1};
  Bspline** pos = nullptr;
  Bspline** d1 = nullptr;
  Bspline** d2 = nullptr;
  Bspline* s = h.keep(CreateBlendSurface1(mixed, &pos, &d1, &d2, 4, implied, scales, 0, 0, 1, 0, 0, 0));
  ASSERT_NE(s, nullptr);
  EXPECT_NE(d1[0], nullptr);
  EXPECT_EQ(implied[0], 4);
  for (double t = 0.1; t <= 0.9 + 1e-9; t += 0.1) {
    double D[3];
    Eval3DPointOnSurfArray(s, s->umin, s->vmin + t * (s->vmax - s->vmin), 1, 0, D);
    const double a = 1.0 / std::hypot(1.0, 0.5), b = 1.0 / std::hypot(1.0, 0.1);
    const double T[3] = {0.5 * (a + b), 0.0, 0.5 * (0.5 * a + 0.1 * b)};
    const double N[3] = {T[1] * -0.2 - T[2], T[2] * 0.0 - T[0] * -0.2, T[0]};  // T x (0, 1, -0.2)
    EXPECT_GT(D[0], 0.0);
    if (std::fabs(t - 0.5) < 1e-9) {
      EXPECT_LT(std::fabs(N[0] * D[0] + N[1] * D[1] + N[2] * D[2]) /
                    (std::hypot(N[0], N[1], N[2]) * std::hypot(D[0], D[1], D[2])),
                1e-2);
    }
  }
  FreeDerivBsplineArrays(pos, d1, d2, 4);
}

TEST_F(Blend, DirectionCurveIsTheBoundaryMovedAlongTheShorterLeg) {
  BsplineKeeper keep;
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, up1[3] = {2, 3, 0}, up0[3] = {0, 1.5, 0};
  Bspline* boundary = keep(MkLine3(a, b, nullptr));
  Bspline* sideA = keep(MkLine3(b, up1, nullptr));   // first leg 1
  Bspline* sideB = keep(MkLine3(up0, a, nullptr));   // ends at the boundary's start, leg 0.5
  Bspline* dir = keep(GetDirCurve(boundary, sideA, sideB));
  ASSERT_NE(dir, nullptr);
  for (double t = 0.0; t <= 1.0 + 1e-12; t += 0.125) {
    double P[3];
    Eval3DPointOnCurve3Array(dir, dir->umin + t * (dir->umax - dir->umin), 0, P);
    EXPECT_NEAR(P[1], 0.5, 1e-12);
    EXPECT_NEAR(P[2], 0.0, 1e-12);
  }
  double s[3], e[3];
  Ctrl(dir, 0, s), Ctrl(dir, NumCtrlU(dir) - 1, e);
  EXPECT_NEAR(s[0], 0.0, 1e-12);  // runs like the boundary
  EXPECT_NEAR(e[0], 2.0, 1e-12);
  // Sides whose first legs are tiny still give an offset of 1% of the shortest control polygon
  // (the boundary's, 2).
  Bspline* tinyA = keep(BuildCurve(3, 3, {2, 0, 0, 2, 1e-5, 0, 2, 2, 0, 2, 3, 0}));
  Bspline* tinyB = keep(BuildCurve(3, 3, {0, 3, 0, 0, 2, 0, 0, 1e-5, 0, 0, 0, 0}));
  Bspline* near = keep(GetDirCurve(boundary, tinyA, tinyB));
  ASSERT_NE(near, nullptr);
  for (int i = 0; i < NumCtrlU(near); ++i) EXPECT_NEAR(near->Y[0][i], 0.02, 1e-12);
  // A side whose first leg has no length gives no direction.
  Bspline* flat = keep(MkLine3(b, up1, nullptr));
  flat->X[0][1] = flat->X[0][0], flat->Y[0][1] = flat->Y[0][0], flat->Z[0][1] = flat->Z[0][0];
  EXPECT_EQ(GetDirCurve(boundary, flat, sideB), nullptr);
  ClearKernelError();
  // Two closed curves through one point tie at every pair: the last pair wins.
  Bspline* ring = keep(SaddleEdge(0, 0, 0, 1, 0.2));
  ring->X[0][4] = ring->X[0][0], ring->Y[0][4] = ring->Y[0][0], ring->Z[0][4] = ring->Z[0][0];
  int ea = -1, eb = -1;
  GetClosestCurveEnds(ring, ring, &ea, &eb);
  EXPECT_EQ(ea, 2);
  EXPECT_EQ(eb, 2);
}

TEST_F(Blend, FailedAllocationsLeaveNothingBehind) {
  HoleLoop h;
  double scales[4] = {1, 1, 1, 1};
  RunMakerWithInjectedFailures(4000, 37, [&](Bspline** out) {
    int orders[4] = {2, 1, 2, 0};
    Bspline** pos = nullptr;
    Bspline** d1 = nullptr;
    Bspline** d2 = nullptr;
    *out = CreateBlendSurface1(h.curves, &pos, &d1, &d2, 4, orders, scales, 0.01, 5.0, 1, 0, 0, 0);
    if (*out) FreeDerivBsplineArrays(pos, d1, d2, 4);
    return *out && !KernelFailed() ? 0 : -2;
  });
}


}  // namespace

// A net written from boundary curves whose control counts are not the surface's (a 5 x 5 net
// against 7-point sides) is refused with the net as it was; the writes ran past its rows. Null
// arrays of inner rows mean none, as for the linear blend.
TEST_F(Blend, ANetTheSidesDoNotFitIsLeftAsItWas) {
  BsplineKeeper keep;
  auto line = [&](double ax, double ay, double bx, double by) {
    std::vector<double> pts;
    for (int i = 0; i < 7; ++i) {
      const double t = i / 6.0;
      pts.insert(pts.end(), {ax + (bx - ax) * t, ay + (by - ay) * t, 1.0});
    }
    return keep(BuildCurve(1, 3, pts));
  };
  Bspline* pos[4] = {line(0, 0, 0, 1), line(0, 1, 1, 1), line(1, 0, 1, 1), line(0, 0, 1, 0)};
  PatchOptions o;
  o.nu = 5, o.nv = 5;
  Bspline* small = keep(BuildFunctionPatch([](double x, double y) { return x * y; }, o));
  const std::vector<double> z(small->Z[0], small->Z[0] + 25);
  MakeSurfBndry(small, pos, nullptr, nullptr, 1);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  BlendSurface(pos, nullptr, nullptr, small, 1);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  EXPECT_EQ(std::vector<double>(small->Z[0], small->Z[0] + 25), z);

  o.nu = 7, o.nv = 7;
  Bspline* fits = keep(BuildFunctionPatch([](double x, double y) { return x * y; }, o));
  BlendSurface(pos, nullptr, nullptr, fits, 1);
  EXPECT_FALSE(KernelFailed());
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(fits->Z[j][i], 1.0, 1e-12);
}
