// Isoparametric curves are the surface along the line, exactly and without touching the
// surface; closure flags follow the control points.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "surface/bnd2crv.h"
#include "surface/startpnt.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class IsoparTest : public KernelTest {};

// Makes the curve at u (dir 1) or v (dir 0) = `given` and checks it against the surface along
// the line at `meant`. False when the curve could not be made.
bool ExpectIsoCurve(Bspline* s, double given, double meant, int dir) {
  Bspline* c = MakeIsoparCurve3(s, dir ? given : 0.3, dir ? 0.9 : given, dir);
  if (!c) return false;
  EXPECT_EQ(c->rational, s->rational);
  EXPECT_EQ(c->umax, dir ? s->vmax : s->umax);
  for (int i = 0; i <= 20; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 20.0;
    double p[3], q[3];
    RefEvalCurve(c, t, p);
    RefEvalSurface(s, dir ? meant : t, dir ? t : meant, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-11 * RefScale(s)) << meant << " " << t;
  }
  for (int j = 0; dir && meant == s->umin && j < NumCtrlV(s); ++j)  // a side is the boundary column exactly
    EXPECT_EQ(c->Y[0][j], s->Y[j][0]);
  FreeBspline(c);
  return true;
}

TEST_F(IsoparTest, CurvesFollowTheSurfaceOnSidesAndInside) {
  for (bool rational : {false, true}) {
    const PatchOptions o{.degreeV = 2, .nu = 7, .umin = -1.0, .umax = 2.0, .vmin = 0.5, .vmax = 1.5,
                         .layout = KnotLayout::Random, .rational = rational};
    Bspline* s = BuildFunctionPatch([](double x, double y) { return std::cos(2 * x) + x * y; }, o);
    const std::vector<double> before = Snapshot(s);
    // {given, meant, dir}: sides (one a hair inside, one beyond the domain), interior lines, a
    // knot, and values a hair beside a knot, which count as the knot (closer than 1e-6 of the
    // range).
    const double lines[][3] = {{-1.0 + 2e-6, -1.0, 1}, {7.0, 2.0, 1}, {1.37, 1.37, 1},
                               {s->knotsU[4], s->knotsU[4], 1}, {s->knotsU[5] + 1e-6, s->knotsU[5], 1},
                               {1.5, 1.5, 0}, {0.77, 0.77, 0}, {s->knotsV[3] - 5e-7, s->knotsV[3], 0}};
    for (const auto& l : lines) EXPECT_TRUE(ExpectIsoCurve(s, l[0], l[1], int(l[2])));
    const int failures = RunWithInjectedFailures(100, 1, [&] {
      const bool made = ExpectIsoCurve(s, 0.43, 0.43, 1);
      EXPECT_TRUE(made || KernelFailedNow());
      return made ? 0 : -2;
    });
    EXPECT_TRUE(failures > 3 && failures < 100) << failures;
    EXPECT_EQ(Snapshot(s), before);
    FreeBspline(s);
  }
}

// A control line is the curve of that row or column of the net, knots of its direction.
TEST_F(IsoparTest, ControlLinesReproduceTheNet) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x - y; },
                                  {.degreeV = 2, .nu = 6, .nv = 5, .vmin = 1.0, .vmax = 2.0,
                                   .layout = KnotLayout::Random, .rational = true});
  for (int dir : {0, 1}) {
    const int lines = dir ? NumCtrlU(s) : NumCtrlV(s);
    for (int l = 0; l < lines; ++l) {
      Bspline* c = ExtractCrvFromSrfCntrlLine(s, l, dir);
      ASSERT_TRUE(c);
      EXPECT_TRUE(c->kind == 1 && c->dimension == 3 && c->rational == 1);
      EXPECT_EQ(c->degreeU, dir ? s->degreeV : s->degreeU);
      EXPECT_TRUE(c->umin == (dir ? s->vmin : s->umin) && c->umax == (dir ? s->vmax : s->umax));
      for (int i = 0; i < NumCtrlU(c); ++i) {
        const int r = dir ? i : l, col = dir ? l : i;
        EXPECT_TRUE(c->X[0][i] == s->X[r][col] && c->Z[0][i] == s->Z[r][col] && c->W[0][i] == s->W[r][col]);
        EXPECT_EQ(c->knotsU[i], dir ? s->knotsV[i] : s->knotsU[i]);
      }
      FreeBspline(c);
    }
    EXPECT_EQ(ExtractCrvFromSrfCntrlLine(s, lines, dir), nullptr);
    EXPECT_EQ(ExtractCrvFromSrfCntrlLine(s, -1, dir), nullptr);
    EXPECT_TRUE(KernelFailedNow());
    ClearKernelError();
  }
  Bspline* c = BuildRandomCurve(1u, 3, 5);
  EXPECT_EQ(ExtractCrvFromSrfCntrlLine(c, 0, 0), nullptr);
  FreeBspline(c);
  FreeBspline(s);
}

// Boundary lines in the parameter plane: the side's line over the domain, owned but not
// listed; a listed copy by GetSurfBoundary; a side outside 0..3 gives nothing.
TEST_F(IsoparTest, BoundaryLinesOfTheParameterBox) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x + y; },
                                  {.umin = -1.0, .umax = 2.0, .vmin = 3.0, .vmax = 5.0});
  const double ends[4][4] = {{-1, 3, -1, 5}, {-1, 5, 2, 5}, {2, 3, 2, 5}, {-1, 3, 2, 3}};
  for (int side = 0; side < 4; ++side) {
    Bspline* c = MakeIsoparCurve2(s, side, -1.0);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->owner == s && c->dimension == 2 && c->degreeU == 3 && ListItems(s).empty());
    double a[3], b[3], m[3];
    RefEvalCurve(c, c->umin, a);
    RefEvalCurve(c, c->umax, b);
    RefEvalCurve(c, 0.5 * (c->umin + c->umax), m);
    EXPECT_TRUE(a[0] == ends[side][0] && a[1] == ends[side][1] && b[0] == ends[side][2] && b[1] == ends[side][3]);
    EXPECT_NEAR(m[side % 2], 0.5 * (ends[side][side % 2] + ends[side][2 + side % 2]), 1e-12);
    EXPECT_EQ(c->umin, side % 2 ? -1.0 : 3.0);  // parameter = the coordinate along the side
    EXPECT_EQ(c->closedU, 0);
    FreeBspline(c);
  }
  for (int side : {-1, 4, 7}) {
    EXPECT_EQ(MakeIsoparCurve2(s, side, 0.5), nullptr);
    EXPECT_TRUE(KernelFailedNow());
    ClearKernelError();
  }
  Bspline* line = MakeIsoparCurve2(s, 1, 4.0);  // a given value
  EXPECT_TRUE(line->X[0][0] == -1.0 && line->Y[0][0] == 4.0 && line->Y[0][3] == 4.0);
  FreeBspline(line);

  EXPECT_EQ(GetSurfBoundary(nullptr, 4, s), nullptr);
  ClearKernelError();  // the refusal of side 4 sets it
  Bspline* b = GetSurfBoundary(nullptr, 2, s);
  ASSERT_TRUE(b);
  EXPECT_EQ(ListItems(s), std::vector<Bspline*>{b});
  Bspline* copy = GetSurfBoundary(b, 0, nullptr);  // a copy of a curve, on the curve's owner
  ASSERT_TRUE(copy);
  EXPECT_EQ(ListItems(s), (std::vector<Bspline*>{copy, b}));
  EXPECT_EQ(Snapshot(copy), Snapshot(b));
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    const size_t before = ListItems(s).size();
    Bspline* c = GetSurfBoundary(nullptr, 3, s);
    EXPECT_EQ(ListItems(s).size(), before + (c ? 1 : 0));
    FreeBspline(c);  // off the list again
    return c ? 0 : -2;
  });
  EXPECT_TRUE(failures > 1 && failures < 40) << failures;
  FreeBspline(s);  // its listed curves with it
}

// ObjectClosed codes: 1 for u (a curve's flag), 2 for a surface's v, 3 for both.
TEST_F(IsoparTest, ClosureCodes) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; });
  Bspline* c = BuildRandomCurve(3u, 3, 6);
  for (int u = 0; u < 2; ++u)
    for (int v = 0; v < 2; ++v) {
      s->closedU = u;
      s->closedV = v;
      EXPECT_EQ(ObjectClosed(s), u + 2 * v);
      c->closedU = 3 * u;
      c->closedV = v;  // not read for a curve
      EXPECT_EQ(ObjectClosed(c), u);
    }
  // Close the surface in v: the side curves running in v take the surface's flag.
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  for (int i = 0; i < nu; ++i)
    for (double** M : {s->X, s->Y, s->Z}) M[nv - 1][i] = M[0][i];
  SetObjClosed(s);
  EXPECT_EQ(ObjectClosed(s), 2);
  for (int side : {0, 2}) {
    Bspline* b = MakeIsoparCurve2(s, side, -1.0);
    EXPECT_EQ(ObjectClosed(b), 1);
    FreeBspline(b);
  }
  FreeBspline(c);
  FreeBspline(s);
}

}  // namespace
