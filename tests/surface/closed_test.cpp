// Closed flags from control points and the small queries on objects: a curve closes when its
// ends meet (a 2D curve also when its ends map onto one point of its surface), a surface per
// direction when its first and last lines meet; control-point boxes and the parameter box of a
// curve on a surface against brute force; Greville parameters by linear precision.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "surface/srfutils.h"
#include "surface/startpnt.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ClosedAndExtents : public KernelTest {};

// A tube: nu points round a circle (the last repeats the first) on nv rings along z.
Bspline* Tube(int nu, int nv, bool rational) {
  std::vector<double> pts, w;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double a = 2 * M_PI * i / (nu - 1);
      pts.insert(pts.end(), {std::cos(a), std::sin(a), double(j)});
      w.push_back(rational ? 1.0 + 0.1 * ((i % (nu - 1)) + j) : 1.0);
    }
  return BuildSurface(3, 2, nu, nv, pts, {}, {}, rational ? w : std::vector<double>{});
}

TEST_F(ClosedAndExtents, ClosedFlagsFollowTheEndsAndTheFirstAndLastLines) {
  BsplineKeeper keep;
  for (bool rational : {false, true}) {
    Bspline* tube = keep(Tube(7, 4, rational));
    SetObjClosed(tube);
    EXPECT_TRUE(tube->closedU == 1 && tube->closedV == 0) << rational;
    // One row's end moved by more than the tolerance opens u; a weight as well.
    tube->X[2][6] += 2e-6;
    SetObjClosed(tube);
    EXPECT_EQ(tube->closedU, 0);
    tube->X[2][6] -= 2e-6;
    if (rational) {
      tube->W[1][6] *= 1.001;
      SetObjClosed(tube);
      EXPECT_EQ(tube->closedU, 0);
      tube->W[1][6] /= 1.001;
    }
    // 2D curves: ends on the two sides of the seam map onto one point of the tube.
    Bspline* across = BuildCurveOnSurface(tube, 2, {0.0, 0.3, 0.5, 0.9, 1.0, 0.3});
    Bspline* open = BuildCurveOnSurface(tube, 2, {0.0, 0.3, 0.5, 0.9, 1.0, 0.6});
    // Ends beyond the domain are clamped onto the same parameter point.
    Bspline* beyond = BuildCurveOnSurface(tube, 2, {-0.5, 0.2, 0.5, 0.9, 0.0, 0.2});
    for (Bspline* c : {across, open, beyond}) SetObjClosed(c);
    EXPECT_EQ(across->closedU, 3);
    EXPECT_EQ(open->closedU, 0);
    EXPECT_EQ(beyond->closedU, 3);
  }
  // A 3D curve closes on its unweighted end coordinates; a 2D curve without a surface on its
  // ends as they are.
  Bspline* loop = keep(BuildCurve(2, 3, {1, 2, 3, 4, 0, 1, 1, 2, 3 + 5e-7}));
  Bspline* loose = keep(BuildCurve(2, 3, {1, 2, 3, 4, 0, 1, 1, 2, 3 + 5e-6}));
  Bspline* flat = keep(BuildCurve(2, 2, {0.1, 0.2, 0.9, 0.5, 0.1, 0.2}));
  for (Bspline* c : {loop, loose, flat}) SetObjClosed(c);
  EXPECT_TRUE(loop->closedU == 3 && loose->closedU == 0 && flat->closedU == 3);
  SetObjClosed(nullptr);
}

TEST_F(ClosedAndExtents, BoxesAndGrevilleParameters) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return std::sin(4 * x) * y; },
                                       {.nu = 7, .nv = 5, .layout = KnotLayout::Random, .rational = true}));
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  for (double** M : {s->X, s->Y, s->Z}) {
    const int k = M == s->X ? 0 : M == s->Y ? 1 : 2;
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int i = 0; i < NumCtrlU(s); ++i) lo[k] = std::min(lo[k], M[j][i]), hi[k] = std::max(hi[k], M[j][i]);
  }
  double b[6];
  GetCPTValueExtent(s, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(b[2 * k] == lo[k] && b[2 * k + 1] == hi[k]) << k;
  EXPECT_NEAR(GetGeometricDiagonalSizeOfObj(s), std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]), 1e-15);

  // A 2D curve on the surface: its control points mapped onto the surface make the box.
  const std::vector<double> uv = {0.1, 0.2, 0.7, 0.1, 0.9, 0.8, 0.3, 0.9};
  Bspline* c = BuildCurveOnSurface(s, 2, uv);
  std::fill(lo, lo + 3, 1e300), std::fill(hi, hi + 3, -1e300);
  for (int i = 0; i < 4; ++i) {
    double p[3];
    Eval3DPointOnSurfArray(s, uv[2 * i], uv[2 * i + 1], 0, 0, p);
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
  }
  GetCPTValueExtent(c, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(b[2 * k], lo[k], 1e-12) << k;
    EXPECT_NEAR(b[2 * k + 1], hi[k], 1e-12) << k;
  }
  // The parameter box of the curve is within the dense-sampled range and close to it.
  double umin, umax, vmin, vmax, du[2] = {1e300, -1e300}, dv[2] = {1e300, -1e300};
  EXPECT_EQ(GetCurveOnSurfMinMaxSurfParams(c, &umin, &umax, &vmin, &vmax), 0);
  for (int i = 0; i <= 2000; ++i) {
    double p[3];
    RefEvalCurve(c, i / 2000.0, p);
    du[0] = std::min(du[0], p[0]), du[1] = std::max(du[1], p[0]);
    dv[0] = std::min(dv[0], p[1]), dv[1] = std::max(dv[1], p[1]);
  }
  EXPECT_TRUE(umin >= du[0] - 1e-12 && umax <= du[1] + 1e-12 && vmin >= dv[0] - 1e-12 && vmax <= dv[1] + 1e-12);
  EXPECT_TRUE(umin - du[0] < 0.02 && du[1] - umax < 0.02 && vmin - dv[0] < 0.02 && dv[1] - vmax < 0.02);

  // Linear precision: control points at the Greville parameters make the identity map.
  for (int dir : {0, 1}) {
    double* g = FindParamValuesOfCoefi(s, dir);
    ASSERT_NE(g, nullptr);
    const int n = dir ? NumCtrlV(s) : NumCtrlU(s);
    const double* k = dir ? s->knotsV : s->knotsU;
    const int p = dir ? s->degreeV : s->degreeU;
    EXPECT_TRUE(g[0] == k[p] && g[n - 1] == k[n]);
    std::vector<double> fromKnots(n);
    FindParamValuesOfCoefiFromKnots(k, n, p, fromKnots.data());
    EXPECT_EQ(fromKnots, std::vector<double>(g, g + n));
    std::vector<double> pts;
    for (int i = 0; i < n; ++i) pts.insert(pts.end(), {g[i], 0.0, 0.0});
    Bspline* line = keep(BuildCurve(p, 3, pts, std::vector<double>(k, k + n + p + 1)));
    for (double t : {0.0, 0.17, 0.5, 0.93, 1.0}) {
      double q[3];
      RefEvalCurve(line, t, q);
      EXPECT_NEAR(q[0], t, 1e-14) << dir;
    }
    Free(g);
  }
}

}  // namespace
