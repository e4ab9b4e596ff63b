// Snipping trim curves: overshooting pieces of random polygons are cut back so that they meet
// end to end, each piece on its curve; the parameter nudge off the ends; the self-crossing test
// of a loop polyline and its report; failures midway leave a consistent list and leak nothing.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"
#include "tests/surface/recordviews.h"

namespace {

class TrimSnip : public KernelTest {};

Bspline* Plane() {
  return BuildFunctionPatch([](double, double) { return 0.0; });
}

std::vector<double> At(const Bspline* c, double t) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, c, t, 0, uv);
  return {uv[0], uv[1]};
}
double Start(const Bspline* c) { return c->knotsU[c->degreeU]; }
double End(const Bspline* c) { return c->knotsU[c->degreeU + c->interiorU + 1]; }

// Distance from p to the segment a-b.
double ToSegment(const std::vector<double>& p, const double* a, const double* b) {
  const double du = b[0] - a[0], dv = b[1] - a[1];
  double s = ((p[0] - a[0]) * du + (p[1] - a[1]) * dv) / (du * du + dv * dv);
  s = std::max(0.0, std::min(1.0, s));
  return std::hypot(p[0] - a[0] - s * du, p[1] - a[1] - s * dv);
}

// A polygon of n corners round (0.5, 0.5), each side a straight curve of the given degree
// reaching past both corners by a random overshoot.
struct Polygon {
  std::vector<std::vector<double>> corners;
  std::vector<Bspline*> curves;
  std::vector<std::vector<double>> ends;  // per side: start and end of the overshooting line
};

Polygon Overshooting(Bspline* s, int n, int degree, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> over(0.02, 0.08), jitter(-0.03, 0.03);
  Polygon poly;
  for (int k = 0; k < n; ++k) {
    const double a = 2 * M_PI * k / n + jitter(rng);
    poly.corners.push_back({0.5 + 0.35 * std::cos(a), 0.5 + 0.35 * std::sin(a)});
  }
  for (int k = 0; k < n; ++k) {
    const auto& p = poly.corners[k];
    const auto& q = poly.corners[(k + 1) % n];
    const double len = std::hypot(q[0] - p[0], q[1] - p[1]);
    const double du = (q[0] - p[0]) / len, dv = (q[1] - p[1]) / len;
    const double o0 = over(rng), o1 = over(rng);
    const std::vector<double> e = {p[0] - o0 * du, p[1] - o0 * dv, q[0] + o1 * du, q[1] + o1 * dv};
    std::vector<double> uv;
    for (int i = 0; i <= degree; ++i) {
      const double f = double(i) / degree;
      uv.push_back(e[0] + f * (e[2] - e[0]));
      uv.push_back(e[1] + f * (e[3] - e[1]));
    }
    poly.curves.push_back(BuildCurveOnSurface(s, degree, uv));
    poly.ends.push_back(e);
  }
  return poly;
}

TEST_F(TrimSnip, OvershootingPolygonsComeOutMeetingEndToEnd) {
  for (int n : {3, 4, 6}) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      for (int orient : {0, 1}) {
        Bspline* s = Plane();
        Polygon poly = Overshooting(s, n, 3, seed * 10 + n);
        TrimList* loop = AddLoop(s, poly.curves);
        BsplineList* replaced = nullptr;
        ASSERT_EQ(SnipTrimCurvesAtIntersections(loop->loopCurves, &replaced, 1, orient, 1), 0);
        // The originals are listed as replaced, in order, and stay on the surface.
        EXPECT_EQ(Items(replaced), poly.curves);
        EXPECT_EQ(GetNumCurvePieces(s->curves), 2 * n);
        int k = 0;
        for (const BsplineList* node = loop->loopCurves; node; node = node->next, ++k) {
          const Bspline* piece = node->item;
          EXPECT_EQ(piece->owner, s);
          // The piece runs from corner k to corner k + 1 (meeting its neighbours there) ...
          const std::vector<double> a = At(piece, Start(piece)), b = At(piece, End(piece));
          const auto& p = poly.corners[k];
          const auto& q = poly.corners[(k + 1) % n];
          EXPECT_LT(std::hypot(a[0] - p[0], a[1] - p[1]) + std::hypot(b[0] - q[0], b[1] - q[1]), 1e-5)
              << n << " " << seed << " " << k;
          // ... and keeps the shape of the line it came from.
          const double* e = poly.ends[k].data();
          for (int i = 0; i <= 10; ++i)
            EXPECT_LT(ToSegment(At(piece, Start(piece) + (End(piece) - Start(piece)) * i / 10.0), e, e + 2), 1e-9);
        }
        EXPECT_EQ(IsTrimCurveOpen(loop, 1e-5), 0);
        FreeNodeList(replaced);
        FreeBspline(s);
      }
    }
  }
}

// Whether two neighbours meet is a question of the part's own size: on a plane of any size, at
// the origin or turned and moved 1e4 sizes away, overshooting polygons are cut at their corners
// (far out, where the meeting points' round-off passes any fixed length, they were left
// overshooting), and a square one of whose sides stops 0.05 short of the next is cut at the other
// three corners only: the short side keeps its end, its neighbour its start (on a small part any
// fixed length spans the gap, and the neighbour was cut at the short side's foot).
TEST_F(TrimSnip, LoopsAreSnippedAlikeAtEverySizeAndPlace) {
  const std::vector<std::vector<double>> square = {{0.15, 0.2, 0.85, 0.2}, {0.9, 0.15, 0.9, 0.85},
                                                   {0.95, 0.8, 0.15, 0.8}, {0.2, 0.85, 0.2, 0.1}};
  const std::vector<std::vector<double>> cut = {{0.2, 0.2, 0.85, 0.2}, {0.9, 0.15, 0.9, 0.8},
                                                {0.9, 0.8, 0.2, 0.8}, {0.2, 0.8, 0.2, 0.2}};
  for (const Place& pl : EveryPlace()) {
    for (int n : {4, 6}) {
      Bspline* s = Plane();
      pl.Map(s);
      Polygon poly = Overshooting(s, n, 3, 10 + n);
      TrimList* loop = AddLoop(s, poly.curves);
      BsplineList* replaced = nullptr;
      ASSERT_EQ(SnipTrimCurvesAtIntersections(loop->loopCurves, &replaced, 1, 1, 1), 0) << Where(pl);
      int k = 0;
      for (const BsplineList* node = loop->loopCurves; node; node = node->next, ++k) {
        const std::vector<double> a = At(node->item, Start(node->item)), b = At(node->item, End(node->item));
        const auto& p = poly.corners[k];
        const auto& q = poly.corners[(k + 1) % n];
        EXPECT_LT(std::hypot(a[0] - p[0], a[1] - p[1]) + std::hypot(b[0] - q[0], b[1] - q[1]), 1e-9)
            << Where(pl) << " " << n << " " << k;
      }
      FreeNodeList(replaced);
      FreeBspline(s);
    }
    Bspline* s = Plane();
    pl.Map(s);
    std::vector<Bspline*> sides;
    for (const auto& e : square) sides.push_back(BuildCurveOnSurface(s, 1, e));
    TrimList* loop = AddLoop(s, sides);
    BsplineList* replaced = nullptr;
    ASSERT_EQ(SnipTrimCurvesAtIntersections(loop->loopCurves, &replaced, 1, 1, 1), 0) << Where(pl);
    int k = 0;
    for (const BsplineList* node = loop->loopCurves; node; node = node->next, ++k) {
      const std::vector<double> a = At(node->item, Start(node->item)), b = At(node->item, End(node->item));
      const double* e = cut[k].data();
      EXPECT_LT(std::hypot(a[0] - e[0], a[1] - e[1]) + std::hypot(b[0] - e[2], b[1] - e[3]), 1e-9) << Where(pl) << " " << k;
    }
    FreeNodeList(replaced);
    FreeBspline(s);
  }
}

TEST_F(TrimSnip, SwitchedOffChangesNothing) {
  Bspline* s = Plane();
  Polygon poly = Overshooting(s, 4, 3, 5);
  TrimList* loop = AddLoop(s, poly.curves);
  BsplineList* replaced = nullptr;
  EXPECT_EQ(SnipTrimCurvesAtIntersections(loop->loopCurves, &replaced, 0, 1, 1), 0);
  EXPECT_EQ(replaced, nullptr);
  EXPECT_EQ(Items(loop->loopCurves), poly.curves);
  EXPECT_EQ(GetNumCurvePieces(s->curves), 4);
  FreeBspline(s);
}

TEST_F(TrimSnip, ParametersNearAnEndMoveOffIt) {
  Bspline* s = Plane();
  Bspline* c = BuildCurveOnSurface(s, 1, {0.1, 0.1, 0.9, 0.1});
  const double cases[][2] = {{1e-13, 1e-13},       {5e-7, 1.5e-6},  {2e-6, 2e-6},  {1 - 5e-7, 1 - 1.5e-6},
                             {1 - 1e-13, 1 - 1e-13}, {1 - 2e-6, 1 - 2e-6}, {0.5, 0.5}, {0.0, 0.0}};
  for (const auto& [in, out] : cases) {
    double t = in;
    EXPECT_EQ(AdjustSnipParameter(c, &t), 0);
    EXPECT_NEAR(t, out, 1e-15) << in;
  }
  FreeBspline(s);
}

TEST_F(TrimSnip, SelfCrossingLoopsAreReported) {
  // A bow tie: its first and third sides cross at (0.5, 0.5).
  const double c[5][2] = {{0.2, 0.2}, {0.8, 0.8}, {0.8, 0.2}, {0.2, 0.8}, {0.2, 0.2}};
  const double sq[5][2] = {{0.2, 0.2}, {0.8, 0.2}, {0.8, 0.8}, {0.2, 0.8}, {0.2, 0.2}};
  PatchOptions bezier;  // no knot lines inside: a curve's samples are its own spans'
  bezier.nu = bezier.nv = 4;
  for (int degree : {1, 3}) {
    Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, bezier);
    auto side = [&](const double (*pts)[2], int k) {
      std::vector<double> uv;
      for (int i = 0; i <= degree; ++i) {
        const double f = double(i) / degree;
        uv.push_back(pts[k][0] + f * (pts[k + 1][0] - pts[k][0]));
        uv.push_back(pts[k][1] + f * (pts[k + 1][1] - pts[k][1]));
      }
      return BuildCurveOnSurface(s, degree, uv);
    };
    std::vector<Bspline*> bow, square;
    for (int k = 0; k < 4; ++k) {
      bow.push_back(side(c, k));
      square.push_back(side(sq, k));
    }
    TrimList* crossing = AddLoop(s, bow);
    TrimList* clean = AddLoop(s, square);
    double u[4] = {}, v[4] = {};
    EXPECT_EQ(IsTrimCurveLinearSelfIntersectPoints(clean, u, v), 1);
    EXPECT_EQ(IsTrimCurveLinearSelfIntersect(clean), 0);
    EXPECT_EQ(IsTrimCurveLinearSelfIntersect(crossing), 1);
    // Straight lines of degree 1 are sampled at their ends only: a crossing of curve ends.
    const int r = IsTrimCurveLinearSelfIntersectPoints(crossing, u, v);
    EXPECT_EQ(r, degree == 1 ? -2 : -1);
    // The two reported edges cross at the bow tie's middle.
    const double d = (u[1] - u[0]) * (v[3] - v[2]) - (v[1] - v[0]) * (u[3] - u[2]);
    ASSERT_NE(d, 0.0);
    const double t = ((u[2] - u[0]) * (v[3] - v[2]) - (v[2] - v[0]) * (u[3] - u[2])) / d;
    EXPECT_NEAR(u[0] + t * (u[1] - u[0]), 0.5, 1e-12);
    EXPECT_NEAR(v[0] + t * (v[1] - v[0]), 0.5, 1e-12);
    FreeBspline(s);
  }
}

TEST_F(TrimSnip, FailuresMidwayLeaveAConsistentListAndLeakNothing) {
  int failures = 0;
  for (long skip = 0; skip < 400; skip += 7) {
    Bspline* s = Plane();
    Polygon poly = Overshooting(s, 4, 3, 9);
    TrimList* loop = AddLoop(s, poly.curves);
    BsplineList* replaced = nullptr;
    ClearKernelError();
    MallocFailAfter(skip, -1);
    const int r = SnipTrimCurvesAtIntersections(loop->loopCurves, &replaced, 1, 1, 1);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), 0);
    // Every curve of the list is either its original or a piece listed on the surface, and
    // exactly the replaced originals are in the replaced list.
    const int pieces = GetNumCurvePieces(replaced);
    EXPECT_EQ(GetNumCurvePieces(s->curves), 4 + pieces);
    int k = 0, changed = 0;
    for (const BsplineList* node = loop->loopCurves; node; node = node->next, ++k)
      changed += node->item != poly.curves[k];
    EXPECT_EQ(changed, pieces);
    if (r != 0) {
      EXPECT_EQ(r, -2);
      ++failures;
    }
    ClearKernelError();
    FreeNodeList(replaced);
    FreeBspline(s);
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
