// Trim loops and point in trim: the boundary loop turns counter-clockwise and holes are turned
// against the outer loop; the crossing count on sampled loops agrees with an even-odd test on
// dense polylines of the same loops for random points clear of them; grids, gap tests and the
// small loop services; allocation failures leave the surface as it was.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "surface/srfsnip.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class TrimLoops : public KernelTest {};

// The plane x = u, y = v, z = 0 over [0, 1]^2.
Bspline* Plane() {
  return BuildFunctionPatch([](double, double) { return 0.0; });
}

// A wobbly closed curve round (cu, cv) as `pieces` cubic Beziers (counter-clockwise unless
// `clockwise`), on the surface's curve list.
std::vector<Bspline*> Blob(Bspline* s, double cu, double cv, double r, int pieces, bool clockwise,
                           double wobble = 0.15) {
  auto radius = [&](double a) { return r * (1.0 + wobble * std::sin(3 * a)); };
  auto point = [&](double a) {
    return std::vector<double>{cu + radius(a) * std::cos(a), cv + radius(a) * std::sin(a)};
  };
  std::vector<Bspline*> curves;
  const double step = (clockwise ? -2 : 2) * M_PI / pieces;
  for (int k = 0; k < pieces; ++k) {
    const double a0 = k * step, a1 = (k + 1) * step;
    // Inner control points on the chords a third and two thirds of the way, pushed outwards.
    std::vector<double> uv;
    for (int i = 0; i < 4; ++i) {
      const double a = a0 + (a1 - a0) * i / 3.0;
      std::vector<double> p = point(a);
      if (i == 1 || i == 2) {
        const double out = 1.0 + 0.02;
        p[0] = cu + (p[0] - cu) * out;
        p[1] = cv + (p[1] - cv) * out;
      }
      uv.insert(uv.end(), p.begin(), p.end());
    }
    curves.push_back(BuildCurveOnSurface(s, 3, uv));
  }
  return curves;
}

// Dense polyline of a loop's curves.
std::vector<std::pair<double, double>> Dense(const TrimList* loop) {
  std::vector<std::pair<double, double>> pts;
  for (const BsplineList* n = loop->loopCurves; n; n = n->next) {
    const Bspline* c = n->item;
    const double t0 = c->knotsU[c->degreeU], t1 = c->knotsU[c->degreeU + c->interiorU + 1];
    for (int i = 0; i < 400; ++i) {
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, c, t0 + (t1 - t0) * i / 400.0, 0, uv);
      pts.push_back({uv[0], uv[1]});
    }
  }
  return pts;
}

bool EvenOdd(const std::vector<std::pair<double, double>>& poly, double u, double v) {
  bool in = false;
  for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
    const auto [ui, vi] = poly[i];
    const auto [uj, vj] = poly[j];
    if ((vi > v) != (vj > v) && u < (uj - ui) * (v - vi) / (vj - vi) + ui) in = !in;
  }
  return in;
}

double Clearance(const std::vector<std::pair<double, double>>& poly, double u, double v) {
  double best = 1e300;
  for (const auto& [pu, pv] : poly) best = std::min(best, std::hypot(pu - u, pv - v));
  return best;
}

std::vector<double> Corner(const Bspline* c, bool end) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, c, c->knotsU[end ? c->degreeU + c->interiorU + 1 : c->degreeU], 0, uv);
  return {uv[0], uv[1]};
}

TEST_F(TrimLoops, BoundaryLoopTurnsCounterClockwiseAndReversesToClockwise) {
  Bspline* s = Plane();
  TrimList* loop = CreateSurfBoundaryAsTrimCurveBspline(s);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->hole, 0);
  EXPECT_EQ(loop->attached, 1);
  EXPECT_EQ(s->trims, nullptr);
  const std::vector<std::vector<double>> corners = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
  int k = 0;
  for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++k) {
    ASSERT_LT(k, 4);
    EXPECT_EQ(n->item->owner, s);
    const std::vector<double> a = Corner(n->item, false), b = Corner(n->item, true);
    EXPECT_NEAR(a[0], corners[k][0], 1e-12);
    EXPECT_NEAR(a[1], corners[k][1], 1e-12);
    EXPECT_NEAR(b[0], corners[(k + 1) % 4][0], 1e-12);
    EXPECT_NEAR(b[1], corners[(k + 1) % 4][1], 1e-12);
  }
  EXPECT_EQ(k, 4);
  EXPECT_EQ(GetNumCurvePieces(s->curves), 4);
  EXPECT_EQ(FindTrimCurveDirection(s, loop), 2);
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-9), 0);
  ReverseTrimCurveBsplines(loop);
  EXPECT_EQ(FindTrimCurveDirection(s, loop), 1);
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-9), 0);
  EXPECT_EQ(IsTrimPiece(loop->loopCurves->item), 0);  // not hung on the surface yet
  EXPECT_EQ(AddOrderedTrimCurve(s, loop), 1);
  EXPECT_EQ(IsTrimPiece(loop->loopCurves->item), 1);
  EXPECT_EQ(IsOuterTrim(s), 1);
  FreeBspline(s);
}

TEST_F(TrimLoops, BoundaryLoopFailuresLeaveTheCurveListAsItWas) {
  Bspline* s = Plane();
  const int failures = RunWithInjectedFailures(400, 3, [&] {
    TrimList* loop = CreateSurfBoundaryAsTrimCurveBspline(s);
    if (!loop) {
      EXPECT_EQ(s->curves, nullptr);
      return 1;
    }
    AddOrderedTrimCurve(s, loop);
    FreeTrimCurveBsplines(loop);
    EXPECT_EQ(s->curves, nullptr);
    EXPECT_EQ(s->trims, nullptr);
    return 0;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(s);
}

TEST_F(TrimLoops, HolesAreTurnedAgainstTheOuterLoop) {
  for (bool outerClockwise : {false, true}) {
    Bspline* s = Plane();
    TrimList* outer = AddLoop(s, Blob(s, 0.5, 0.5, 0.4, 8, outerClockwise));
    TrimList* same = AddLoop(s, Blob(s, 0.4, 0.5, 0.05, 3, outerClockwise), 1);
    TrimList* opposite = AddLoop(s, Blob(s, 0.6, 0.5, 0.05, 2, !outerClockwise), 1);
    const int dir = FindTrimCurveDirection(s, outer);
    EXPECT_EQ(dir, outerClockwise ? 1 : 2);
    EXPECT_EQ(FindTrimCurveDirection(s, same), dir);
    ReverseInnerRelToOuter(s);
    EXPECT_EQ(FindTrimCurveDirection(s, outer), dir);
    EXPECT_EQ(FindTrimCurveDirection(s, same), 3 - dir);
    EXPECT_EQ(FindTrimCurveDirection(s, opposite), 3 - dir);
    EXPECT_EQ(IsTrimCurveOpen(same, 1e-9), 0);  // still end to end after the reversal
    FreeBspline(s);
  }
}

TEST_F(TrimLoops, ALoopWhoseRightmostCornerEndsAHorizontalSideTurnsTheWayItsAreaDoes) {
  // Triangles whose rightmost corner ends a horizontal side shorter across than the slanted side
  // there, so that the horizontal side holds the rightmost interior sample: the side runs along
  // the bottom or the top of the corner, the loop either way round from each corner, on domains
  // of size 1e-6, 1 and 1e6, at the origin and 1e4 sizes from it. The direction is the sign of
  // the triangle's area.
  const std::vector<std::vector<double>> shapes = {{0.5, 0.0, 1.0, 0.0, 0.0, 0.5}, {0.0, 0.5, 1.0, 1.0, 0.5, 1.0}};
  for (const auto& shape : shapes)
    for (bool clockwise : {false, true})
      for (int start = 0; start < 3; ++start)
        for (double size : {1e-6, 1.0, 1e6})
          for (double far : {0.0, 1e4}) {
            SCOPED_TRACE(::testing::Message() << "shape " << (&shape - shapes.data()) << " clockwise " << clockwise
                                              << " start " << start << " size " << size << " far " << far);
            PatchOptions o;
            o.umin = o.vmin = far * size, o.umax = o.vmax = (far + 1) * size;
            Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, o);
            ASSERT_NE(s, nullptr);
            std::vector<double> uv;
            for (int k = 0; k < 3; ++k) {
              const int at = clockwise ? (start + 3 - k) % 3 : (start + k) % 3;
              uv.insert(uv.end(), {o.umin + shape[2 * at] * size, o.vmin + shape[2 * at + 1] * size});
            }
            double twice = 0.0;
            for (int k = 0; k < 3; ++k) {
              const int n = (k + 1) % 3;
              twice += (uv[2 * k] - o.umin) * (uv[2 * n + 1] - o.vmin) - (uv[2 * n] - o.umin) * (uv[2 * k + 1] - o.vmin);
            }
            std::vector<Bspline*> sides;
            for (int k = 0; k < 3; ++k) {
              const int n = (k + 1) % 3;
              sides.push_back(BuildCurveOnSurface(s, 1, {uv[2 * k], uv[2 * k + 1], uv[2 * n], uv[2 * n + 1]}));
            }
            TrimList* loop = AddLoop(s, sides);
            EXPECT_EQ(FindTrimCurveDirection(s, loop), twice > 0 ? 2 : 1);
            FreeBspline(s);
          }
}

// Mended: a loop without curves has no direction, and says so instead of answering 1.
TEST_F(TrimLoops, LoopWithoutCurvesHasNoDirection) {
  Bspline* s = Plane();
  TrimList* empty = CreateTrimList(s, nullptr, nullptr);
  ASSERT_NE(empty, nullptr);
  FreeTrimCurve(empty, s);
  TrimList bare{};
  EXPECT_EQ(FindTrimCurveDirection(s, &bare), -2);
  FreeBspline(s);
}

TEST_F(TrimLoops, PointInTrimAgreesWithEvenOddOnDensePolylines) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Bspline* s = Plane();
  AddLoop(s, Blob(s, 0.5, 0.5, 0.4, 8, false));
  AddLoop(s, Blob(s, 0.35, 0.45, 0.1, 3, true), 1);
  AddLoop(s, Blob(s, 0.65, 0.6, 0.08, 4, false), 1);  // a hole's own direction plays no part
  std::vector<std::vector<std::pair<double, double>>> dense;
  for (const TrimList* l = s->trims; l; l = l->next) dense.push_back(Dense(l));
  const int loops = CountTrimCurves(s);
  ASSERT_EQ(loops, 3);
  std::vector<double**> us(loops), vs(loops);
  BeginTrackingMallocs();
  GetAllTrimArrays(s, us.data(), vs.data());
  int tested = 0, inside = 0;
  for (int i = 0; i < 3000; ++i) {
    const double u = -0.1 + 1.2 * unit(rng), v = -0.1 + 1.2 * unit(rng);
    bool clear = true;
    for (const auto& d : dense) clear = clear && Clearance(d, u, v) > 0.01;
    if (!clear) continue;
    const bool expect = EvenOdd(dense[0], u, v) && !EvenOdd(dense[1], u, v) && !EvenOdd(dense[2], u, v);
    ASSERT_EQ(IsPointInTrimArrays(s, u, v, nullptr, us.data(), vs.data()), expect ? 1 : 0) << u << " " << v;
    // Each loop on its own is even-odd on its polyline, the parity of its curves' crossings.
    int l = 0;
    for (const TrimList* loop = s->trims; loop; loop = loop->next, ++l) {
      const int in = IsInTrimcurveArrays(loop, 0, u, v, nullptr, us[l], vs[l]);
      ASSERT_EQ(in, EvenOdd(dense[l], u, v) ? 1 : 0) << l << " " << u << " " << v;
      int crossings = 0, k = 0;
      for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++k)
        crossings += Curve2VertIntersectArraysCount(n->item, 0, u, v, us[l][k], vs[l][k]);
      ASSERT_EQ(crossings % 2, in) << l;
    }
    ++tested;
    inside += expect;
  }
  FreeTrackedMallocs();
  EXPECT_GT(tested, 2000);
  EXPECT_GT(inside, 500);
  EXPECT_EQ(IsPointInTrim(s, 0.35, 0.45), 0);  // in the first hole
  EXPECT_EQ(IsPointInTrim(s, 0.5, 0.2), 1);    // between the loops
  EXPECT_EQ(IsPointInTrim(s, 0.02, 0.02), 0);  // outside the outer loop

  // The grid of flags is the same test at the grid points; one column sits at umin.
  std::vector<int> flags(7 * 5, -1);
  SetInOutTrim(s, flags.data(), 7, 5);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 7; ++i) EXPECT_EQ(flags[j * 7 + i], IsPointInTrim(s, i / 6.0, j / 4.0));
  std::vector<int> column(3, -1);
  SetInOutTrim(s, column.data(), 1, 3);
  EXPECT_EQ(column[1], IsPointInTrim(s, 0.0, 0.5));
  EXPECT_EQ(MallocTrackedCount(), 0);
  FreeBspline(s);
}

// A point a twentieth of the domain below a loop's slanted side is inside, at every size of the
// parameter domain: a polyline segment narrower than 1e-6 in u was met by the ray at its middle's
// height, not at the point's, so on a domain 1e-6 wide points up to a tenth of it from a side
// were put on the wrong side of it.
TEST_F(TrimLoops, PointsBesideASlantedSideAreInsideOnDomainsOfAnySize) {
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4}) {
      PatchOptions o;
      o.umin = o.vmin = far * size, o.umax = o.vmax = (far + 1) * size;
      Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, o);
      ASSERT_NE(s, nullptr);
      const double a = o.umin, b = o.umax;
      AddLoop(s, {BuildCurveOnSurface(s, 1, {a, a, b, a}), BuildCurveOnSurface(s, 1, {b, a, a, b}),
                  BuildCurveOnSurface(s, 1, {a, b, a, a})});
      for (double x : {0.21, 0.41, 0.59, 0.79}) {
        const double u = a + x * size, side = 1.0 - x;  // the side's height above u, as a share
        EXPECT_EQ(IsPointInTrim(s, u, a + (side - 0.05) * size), 1) << size << " " << far << " " << x;
        EXPECT_EQ(IsPointInTrim(s, u, a + (side + 0.05) * size), 0) << size << " " << far << " " << x;
      }
      FreeBspline(s);
    }
}

TEST_F(TrimLoops, SurfacePointsOfTheLoopSamples) {
  Bspline* s = Plane();
  AddLoop(s, Blob(s, 0.5, 0.5, 0.4, 5, false));
  std::vector<Bspline*> hole = Blob(s, 0.5, 0.5, 0.1, 2, true);
  AddLoop(s, hole, 1);
  std::vector<double**> u(2), v(2), su(2), sv(2);
  std::vector<float**> x(2), y(2), z(2);
  std::vector<int*> counts(2);
  int perLoop[2] = {}, total = 0, curves = 0, loops = 0;
  {
    TrackingScope scope;
    ASSERT_EQ(GetAllTrimXYZArrays(s, u.data(), v.data(), x.data(), y.data(), z.data(), &total, &curves,
                                  &loops, perLoop, counts.data()),
              1);
    GetAllTrimArrays(s, su.data(), sv.data());
    EXPECT_EQ(loops, 2);
    EXPECT_EQ(curves, 7);
    EXPECT_EQ(perLoop[0], 5);
    EXPECT_EQ(perLoop[1], 2);
    EXPECT_EQ(total, 7 * 6);
    for (int l = 0; l < 2; ++l)
      for (int c = 0; c < perLoop[l]; ++c) {
        ASSERT_EQ(counts[l][c], 6);
        for (int i = 0; i < 6; ++i) {
          // The plane maps (u, v) to (u, v, 0); the closed polyline differs only at curve joins.
          EXPECT_NEAR(x[l][c][i], u[l][c][i], 1e-6);
          EXPECT_NEAR(y[l][c][i], v[l][c][i], 1e-6);
          EXPECT_NEAR(z[l][c][i], 0.0f, 1e-6);
          EXPECT_NEAR(su[l][c][i], u[l][c][i], 1e-12);
          EXPECT_NEAR(sv[l][c][i], v[l][c][i], 1e-12);
        }
      }
  }
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    TrackingScope scope;
    return 1 - GetAllTrimXYZArrays(s, u.data(), v.data(), x.data(), y.data(), z.data(), &total,
                                   &curves, &loops, perLoop, counts.data());
  });
  EXPECT_GT(failures, 0);
  FreeBspline(s);
}

TEST_F(TrimLoops, RayConventionsOnASquareOfLines) {
  Bspline* s = Plane();
  // The square (0.2, 0.2) .. (0.8, 0.8) as four straight pieces, counter-clockwise.
  const double c[5][2] = {{0.2, 0.2}, {0.8, 0.2}, {0.8, 0.8}, {0.2, 0.8}, {0.2, 0.2}};
  std::vector<Bspline*> sides;
  for (int k = 0; k < 4; ++k)
    sides.push_back(BuildCurveOnSurface(s, 1, {c[k][0], c[k][1], c[k + 1][0], c[k + 1][1]}));
  AddLoop(s, sides);
  EXPECT_EQ(IsPointInTrim(s, 0.5, 0.5), 1);
  // Below the vertical line through a corner: the loop passes across that line twice.
  EXPECT_EQ(IsPointInTrim(s, 0.2, 0.1), 0);
  EXPECT_EQ(IsPointInTrim(s, 0.8, 0.1), 0);
  // On the vertical sides: samples with u equal to the point's lie to its left, so the left
  // side belongs to the region and the right side does not.
  EXPECT_EQ(IsPointInTrim(s, 0.2, 0.5), 1);
  EXPECT_EQ(IsPointInTrim(s, 0.8, 0.5), 0);
  // Segment tests: a chord across the square meets the bottom and top sides once each; the
  // vertex shared by two samples counts once; parallel segments never meet.
  const double q0[2] = {0.5, 0.0}, q1[2] = {0.5, 1.0};
  EXPECT_EQ(Curve2IntersectCount(sides[0], 0, q0, q1), 1);
  EXPECT_EQ(Curve2IntersectCount(sides[1], 0, q0, q1), 0);
  const double h0[2] = {0.0, 0.2}, h1[2] = {1.0, 0.2};
  EXPECT_EQ(Curve2IntersectCount(sides[0], 0, h0, h1), 0);
  const double w0[2] = {0.32, 0.0}, w1[2] = {0.32, 1.0};  // through a sample of the bottom
  EXPECT_EQ(Curve2IntersectCount(sides[0], 0, w0, w1), 1);
  EXPECT_EQ(Curve2IntersectCount(sides[0], 0, w1, w0), 1);
  // On the loop's samples the ray from the centre upward meets only the top side, which the
  // segment to a point below it never reaches.
  std::vector<double**> us(1), vs(1);
  BeginTrackingMallocs();
  GetAllTrimArrays(s, us.data(), vs.data());
  const double r0[2] = {0.5, 0.5}, r1[2] = {0.5, 0.6};
  const int expect[4] = {0, 0, 1, 0};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(Curve2IntersectArraysCount(sides[k], 0, r0, r1, us[0][k], vs[0][k]), expect[k]) << k;
    EXPECT_EQ(Curve2IntersectCount(sides[k], 0, r0, r1), 0) << k;
    EXPECT_EQ(Curve2IntersectArraysCount(sides[k], 0, q0, q1, us[0][k], vs[0][k]),
              Curve2IntersectCount(sides[k], 0, q0, q1)) << k;
  }
  FreeTrackedMallocs();
  EXPECT_EQ(IsIntersectPline(0, 0, 1, 0, 0.5, 0.5, 0.5, 0.4), 1);   // ray beyond q1
  EXPECT_EQ(IsIntersectPlineOK(0, 0, 1, 0, 0.5, 0.5, 0.5, 0.4), 0);  // segment short of it
  FreeBspline(s);
}

// A loop never put on its surface goes with its nodes alone: its curves stay usable and are
// freed once, with the surface.
TEST_F(TrimLoops, AnUnattachedLoopIsFreedWithoutItsCurves) {
  Bspline* s = Plane();
  std::vector<Bspline*> a = Blob(s, 0.5, 0.5, 0.3, 3, false);
  TrimList* loop = CreateTrimList(s, a[0], nullptr);
  ASSERT_NE(loop, nullptr);
  for (Bspline* c : a) ASSERT_EQ(CreateTrimList(s, c, loop), loop);
  ASSERT_EQ(GetNumCurvePieces(loop->loopCurves), 3);
  s->trims = loop->next;
  FreeNewTrimcurve(loop);
  EXPECT_EQ(s->trims, nullptr);
  int onList = 0;
  for (const BsplineList* n = s->curves; n; n = n->next) onList += n->item->owner == s;
  EXPECT_EQ(onList, 3);
  for (Bspline* c : a) EXPECT_EQ(c->owner, s);
  FreeNewTrimcurve(nullptr);
  FreeBspline(s);
}

TEST_F(TrimLoops, OnlyHolesAndNoLoops) {
  Bspline* s = Plane();
  EXPECT_EQ(IsPointInTrim(s, 0.3, 0.3), 1);
  std::vector<int> flags(4, 0);
  SetInOutTrim(s, flags.data(), 2, 2);
  EXPECT_EQ(flags, std::vector<int>(4, 1));
  AddLoop(s, Blob(s, 0.5, 0.5, 0.2, 4, false), 1);
  EXPECT_EQ(IsOuterTrim(s), 0);
  EXPECT_EQ(IsPointInTrim(s, 0.5, 0.5), 0);
  EXPECT_EQ(IsPointInTrim(s, 0.05, 0.9), 1);
  const TrimList* before = s->trims;
  ReverseInnerRelToOuter(s);  // no outer loop: nothing to turn against
  EXPECT_EQ(s->trims, before);
  FreeBspline(s);
}

TEST_F(TrimLoops, LoopServices) {
  Bspline* s = Plane();
  std::vector<Bspline*> a = Blob(s, 0.5, 0.5, 0.3, 3, false);
  // CreateTrimList appends once, whether the curve is the last of the loop or an earlier one.
  TrimList* loop = CreateTrimList(s, a[0], nullptr);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(s->trims, loop);
  EXPECT_EQ(loop->attached, 0);
  EXPECT_EQ(CreateTrimList(s, a[1], loop), loop);
  EXPECT_EQ(CreateTrimList(s, a[1], loop), loop);
  EXPECT_EQ(CreateTrimList(s, a[0], loop), loop);
  EXPECT_EQ(CreateTrimList(s, a[2], loop), loop);
  EXPECT_EQ(GetNumCurvePieces(loop->loopCurves), 3);
  EXPECT_EQ(IsOuterTrim(s), 0);  // not attached
  EXPECT_EQ(AddOrderedTrimCurve(s, nullptr), 1);
  EXPECT_EQ(CountTrimCurves(s), 1);
  loop->attached = 1;
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-9), 0);
  TrimList* found = nullptr;
  EXPECT_EQ(GetTrimCurveOfTrimPiece(loop->loopCurves->next, s->trims, &found), 1);
  EXPECT_EQ(found, loop);
  BsplineList stranger{nullptr, a[1]};  // same curve, another node
  EXPECT_EQ(GetTrimCurveOfTrimPiece(&stranger, s->trims, &found), 0);

  // A bridging piece after the first curve opens a gap the gap test sees, in 3D on the plane.
  const double p0[3] = {0.1, 0.1, 0}, p1[3] = {0.15, 0.1, 0};
  Bspline* piece = AddCurve2CurveList(0, p0, p1, loop->loopCurves, s);
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(s->curves->item, piece);
  EXPECT_EQ(loop->loopCurves->next->item, piece);
  EXPECT_EQ(IsTrimPiece(piece), 1);
  EXPECT_EQ(IsTrimCurveOpen(loop, 0.01), 1);
  EXPECT_EQ(IsTrimCurveOpen(loop, 1.0), 0);

  // Of the outer loops behind the first, the last in list order loses its attached flag.
  TrimList* older = AddLoop(s, {a[0]});
  TrimList* oldest = AddLoop(s, {a[1]});
  TrimList* out = nullptr;
  EXPECT_EQ(IsPrevOutTrimInvalid(s, &out), 1);
  EXPECT_EQ(out, oldest);
  EXPECT_EQ(oldest->attached, 0);
  EXPECT_EQ(older->attached, 1);
  EXPECT_EQ(loop->attached, 1);
  FreeBspline(s);
}

// The curves of a loop, in order.
std::vector<Bspline*> LoopItems(const TrimList* loop) {
  std::vector<Bspline*> items;
  for (const BsplineList* n = loop->loopCurves; n; n = n->next) items.push_back(n->item);
  return items;
}

TEST_F(TrimLoops, ACurveReplacedByItsPiecesKeepsTheLoopClosedAndInOrder) {
  Bspline* s = Plane();
  std::vector<Bspline*> a = Blob(s, 0.5, 0.5, 0.3, 3, false);
  TrimList* loop = AddLoop(s, a);
  // The middle curve cut in three at a third and two thirds of its range, the pieces on the
  // surface's list (so the surface frees them).
  const double lo = a[1]->umin, hi = a[1]->umax;
  const double cut[4] = {lo, lo + (hi - lo) / 3, lo + 2 * (hi - lo) / 3, hi};
  Bspline* pieces[3];
  for (int k = 0; k < 3; ++k) {
    pieces[k] = ExtractObjFromObjGivenPar(a[1], 0, cut[k], cut[k + 1]);
    ASSERT_NE(pieces[k], nullptr);
    PutBsplToSurfCrvList(pieces[k], s);
  }
  const std::vector<Bspline*> before = LoopItems(loop);

  // Refusals leave the loop as it was: a piece of no surface, an allocation that fails.
  Bspline* owner = pieces[2]->owner;
  pieces[2]->owner = nullptr;
  EXPECT_EQ(ReplaceTrimCurveWithNSubs(a[1], 3, pieces), -2);
  pieces[2]->owner = owner;
  for (long skip : {0L, 1L}) {
    MallocFailAfter(skip, -1);
    EXPECT_EQ(ReplaceTrimCurveWithNSubs(a[1], 3, pieces), -2) << skip;
    MallocFailClear();
    ClearKernelError();
    EXPECT_EQ(LoopItems(loop), before) << skip;
  }
  EXPECT_EQ(LoopItems(loop), before);
  EXPECT_EQ(ReplaceTrimCurveWithNSubs(pieces[0], 3, pieces), 0);  // no loop holds it: nothing
  EXPECT_EQ(LoopItems(loop), before);

  EXPECT_EQ(ReplaceTrimCurveWithNSubs(a[1], 3, pieces), 0);
  EXPECT_EQ(LoopItems(loop), (std::vector<Bspline*>{a[0], pieces[0], pieces[1], pieces[2], a[2]}));
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-9), 0);  // still end to end
  EXPECT_EQ(IsTrimPiece(a[1]), 0);
  EXPECT_EQ(IsTrimPiece(pieces[1]), 1);
  FreeBspline(s);
}

TEST_F(TrimLoops, SmallServicesUnderInjectedFailures) {
  Bspline* s = Plane();
  std::vector<Bspline*> a = Blob(s, 0.5, 0.5, 0.3, 3, false);
  AddLoop(s, a);
  const int failures = RunWithInjectedFailures(200, 1, [&] {
    const int before = GetNumCurvePieces(s->curves);
    const double p0[3] = {0.1, 0.1, 0}, p1[3] = {0.2, 0.1, 0};
    Bspline* piece = AddCurve2CurveList(0, p0, p1, s->trims->loopCurves, s);
    if (!piece) {
      EXPECT_EQ(GetNumCurvePieces(s->curves), before);
      EXPECT_EQ(GetNumCurvePieces(s->trims->loopCurves), 3);
      return 1;
    }
    BsplineList* node = s->trims->loopCurves->next;
    EXPECT_EQ(node->item, piece);
    s->trims->loopCurves->next = node->next;
    Free(node);
    FreeBspline(piece);
    std::vector<int> flags(4, -1);
    SetInOutTrim(s, flags.data(), 2, 2);
    return KernelFailed() ? 1 : 0;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(s);
}

}  // namespace
