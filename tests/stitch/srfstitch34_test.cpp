// Three surfaces (a pair and a third along its side) and a two-by-two grid joined and stitched:
// the parts come back meeting at the shared corner on a knot line, the curves listed on them
// stay on their geometry, and the combine-only flag never outlives a four-surface stitch.
#include <cmath>
#include <functional>
#include <vector>

#include "bspline/sfree.h"
#include "stitch/srfstitc.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class StitchSetTest : public KernelTest {};

double Height(double x, double y) { return 0.3 * x + 0.2 * y + 0.1 * x * y; }

// The patch over [x0, x1] x [y0, y1] with a parameter domain unlike [0, 1], so every
// normalisation of knots is visible to the curves listed on it.
Bspline* Patch(double x0, double x1, double y0, double y1, double scale = 1.0) {
  PatchOptions o;
  o.x0 = x0 * scale;
  o.x1 = x1 * scale;
  o.y0 = y0 * scale;
  o.y1 = y1 * scale;
  o.umin = 2.0;
  o.umax = 2.0 + 3.0 * (x1 - x0);
  o.vmin = -1.0;
  o.vmax = -1.0 + 0.5 * (y1 - y0);
  return BuildFunctionPatch(
      [scale](double x, double y) { return scale * Height(x / scale, y / scale); }, o);
}

void Eval(const Bspline* s, double u, double v, double p[3]) { RefEvalSurface(s, u, v, p); }

// Smallest distance from q to a corner of s.
double CornerDist(const Bspline* s, const double q[3]) {
  double best = INFINITY;
  for (double u : {s->umin, s->umax})
    for (double v : {s->vmin, s->vmax}) {
      double p[3];
      Eval(s, u, v, p);
      best = std::fmin(best, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
    }
  return best;
}

// A short curve in the surface's parameter plane, and its 3D points there.
std::vector<double> ListCurve(Bspline* s, std::vector<double>* uv) {
  const double du = s->umax - s->umin, dv = s->vmax - s->vmin;
  *uv = {s->umin + 0.2 * du, s->vmin + 0.3 * dv, s->umin + 0.5 * du, s->vmin + 0.6 * dv,
         s->umin + 0.7 * du, s->vmin + 0.4 * dv};
  BuildCurveOnSurface(s, 2, *uv);
  std::vector<double> pts;
  for (int i = 0; i < 3; ++i) {
    double p[3];
    Eval(s, (*uv)[2 * i], (*uv)[2 * i + 1], p);
    pts.insert(pts.end(), p, p + 3);
  }
  return pts;
}

// Largest distance between the listed curve's control points, evaluated on its owner, and pts.
double CurveOffGeometry(const Bspline* s, const std::vector<double>& pts) {
  if (!s->curves || !s->curves->item) return INFINITY;
  const Bspline* c = s->curves->item;
  double worst = 0.0;
  for (int i = 0; i < 3; ++i) {
    double p[3];
    Eval(s, c->X[0][i], c->Y[0][i], p);
    worst = std::fmax(worst, std::hypot(p[0] - pts[3 * i], p[1] - pts[3 * i + 1],
                                        p[2] - pts[3 * i + 2]));
  }
  return worst;
}

// A 2 x 2 grid at scales 1e-3 .. 1e3: four surfaces come back, each with a corner at the
// common interior point, the stitched pairs meeting along their seams, the curve listed on the
// first still on its geometry (knots normalised and scaled on the way), and isJustCombine 0.
TEST_F(StitchSetTest, FourSurfacesMeetAtTheInteriorCorner) {
  for (double scale : {1e-3, 1.0, 1e3}) {
    BsplineKeeper keep;
    Bspline* objs[4] = {keep(Patch(0, 1, 0, 1, scale)), keep(Patch(1, 2, 0, 1, scale)),
                        keep(Patch(0, 1, 1, 2, scale)), keep(Patch(1, 2.5, 1, 2, scale))};
    std::vector<double> uv;
    const std::vector<double> pts = ListCurve(objs[0], &uv);
    int bndry[4] = {2, 0, 2, 0};
    Bspline* out[4] = {nullptr, nullptr, nullptr, nullptr};
    ASSERT_EQ(StitchFourSurfs(bndry, objs, 0, out), 0);
    for (Bspline* o : out) keep(o);
    EXPECT_EQ(isJustCombine, 0);
    const double corner[3] = {scale, scale, scale * Height(1, 1)};
    for (Bspline* o : out) {
      ASSERT_NE(o, nullptr);
      EXPECT_LT(CornerDist(o, corner), 1e-9 * scale) << scale;
    }
    EXPECT_LT(CurveOffGeometry(out[0], pts), 1e-9 * scale) << scale;
    // The far corners keep their places: nothing moved under a position-only stitch.
    const double far[3] = {2.5 * scale, 2 * scale, scale * Height(2.5, 2)};
    EXPECT_LT(CornerDist(out[3], far), 1e-9 * scale) << scale;
  }
}

// Knot normalisation and the proportional scale move the listed curves with their surfaces.
TEST_F(StitchSetTest, ProportionedKnotsCarryTheListedCurves) {
  BsplineKeeper keep;
  Bspline* objs[4] = {keep(Patch(0, 1, 0, 1)), keep(Patch(1, 3, 0, 1)), keep(Patch(0, 1, 1, 2)),
                      keep(Patch(1, 3, 1, 2))};
  std::vector<std::vector<double>> pts(4);
  for (int i = 0; i < 4; ++i) {
    std::vector<double> uv;
    pts[i] = ListCurve(objs[i], &uv);
  }
  const int bndry[4] = {2, 0, 2, 0};
  PropotionSurfKnots(objs, bndry);
  for (int i = 0; i < 4; ++i) {
    EXPECT_LT(CurveOffGeometry(objs[i], pts[i]), 1e-12) << i;
    EXPECT_DOUBLE_EQ(objs[i]->vmin, 0.0) << i;
    EXPECT_DOUBLE_EQ(objs[i]->vmax, 1.0) << i;
  }
  EXPECT_DOUBLE_EQ(objs[0]->umax, 1.0);
  EXPECT_GT(std::fabs(objs[1]->umax - 1.0) + std::fabs(objs[2]->umax - 1.0), 0.1);
}

// Three surfaces: a pair side by side and a third along both their upper sides. The pair's
// halves share the corner over their seam and the third spans the whole upper side.
TEST_F(StitchSetTest, ThreeSurfacesStitchAndBlend) {
  for (int blend = 0; blend < 2; ++blend) {
    BsplineKeeper keep;
    Bspline* objs[3] = {keep(Patch(0, 1, 0, 1)), keep(Patch(1, 2, 0, 1)),
                        keep(Patch(0, 2, 1, 1.5))};
    std::vector<double> uv;
    const std::vector<double> pts = ListCurve(objs[0], &uv);
    int bndry[3] = {2, 0, 3};
    const double mid[3] = {1, 1, Height(1, 1)}, far[3] = {2, 1.5, Height(2, 1.5)};
    const double start[3] = {0, 0, Height(0, 0)};
    if (blend) {
      Bspline* j = keep(BlendThreeSurfs(bndry, objs, 0));
      ASSERT_NE(j, nullptr);
      EXPECT_LT(CornerDist(j, far), 1e-9);
      EXPECT_LT(CornerDist(j, start), 1e-9);
      continue;
    }
    Bspline* out[3] = {nullptr, nullptr, nullptr};
    ASSERT_EQ(StitchThreeSurfs(bndry, objs, 0, out), 0);
    for (Bspline* o : out) keep(o);
    EXPECT_LT(CornerDist(out[0], mid), 1e-9);
    EXPECT_LT(CornerDist(out[1], mid), 1e-9);
    EXPECT_LT(CornerDist(out[0], start), 1e-9);
    EXPECT_LT(CornerDist(out[2], far), 1e-9);
    EXPECT_LT(CurveOffGeometry(out[0], pts), 1e-9);
  }
}

// The blended grid is one surface over the whole rectangle.
TEST_F(StitchSetTest, FourSurfacesBlendIntoOne) {
  BsplineKeeper keep;
  Bspline* objs[4] = {keep(Patch(0, 1, 0, 1)), keep(Patch(1, 2, 0, 1)), keep(Patch(0, 1, 1, 2)),
                      keep(Patch(1, 2, 1, 2))};
  int bndry[4] = {2, 0, 2, 0};
  Bspline* j = keep(BlendFourSurfs(bndry, objs, 1));
  ASSERT_NE(j, nullptr);
  for (double x : {0.0, 2.0})
    for (double y : {0.0, 2.0}) {
      const double q[3] = {x, y, Height(x, y)};
      EXPECT_LT(CornerDist(j, q), 1e-9) << x << " " << y;
    }
}

// A boundary of b given: a's candidate nearer to it wins; with none given the nearest pair of
// candidates.
TEST_F(StitchSetTest, PairBoundariesAreTheNearest) {
  BsplineKeeper keep;
  Bspline* a = keep(Patch(0, 1, 0, 1));
  Bspline* above = keep(Patch(0, 1, 1, 2));
  Bspline* below = keep(Patch(0, 1, -1, 0));
  int bA = -5, bB = 3;
  GetSurfPairBndries(a, &bA, 0, above, &bB, 0);
  EXPECT_EQ(bA, 1);
  bB = 1;
  GetSurfPairBndries(a, &bA, 0, below, &bB, 0);
  EXPECT_EQ(bA, 3);
  bB = -1;
  GetSurfPairBndries(a, &bA, 0, below, &bB, 0);
  EXPECT_EQ(bA, 3);
  EXPECT_EQ(bB, 1);
}

// Every allocation refused in turn: -2 with nothing left over, and isJustCombine is 0 again.
TEST_F(StitchSetTest, RefusedAllocationsLeaveNothingAndResetTheFlag) {
  const int failures = RunWithInjectedFailures(900, 11, [] {
    Bspline* objs[4] = {Patch(0, 1, 0, 1), Patch(1, 2, 0, 1), Patch(0, 1, 1, 2),
                        Patch(1, 2, 1, 2)};
    int r = -2;
    if (objs[0] && objs[1] && objs[2] && objs[3]) {
      int bndry[4] = {2, 0, 2, 0};
      Bspline* out[4] = {nullptr, nullptr, nullptr, nullptr};
      r = StitchFourSurfs(bndry, objs, 1, out);
      EXPECT_EQ(isJustCombine, 0);
      if (r == 0) FreeBsplineArrayContents(out, 4);
      else for (Bspline* o : out) EXPECT_EQ(o, nullptr);
    }
    FreeBsplineArrayContents(objs, 4);
    return r;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace

namespace {

// A grid with a curve (or a surface without its v knots) in a surface's place: the knot
// proportioning read the curve's missing v knots. Refused with -2 before any knot changes, the
// surfaces as they were and isJustCombine 0.
TEST_F(StitchSetTest, AGridWithARecordThatIsNoSurfaceIsLeftAsItWas) {
  BsplineKeeper keep;
  Bspline* objs[4] = {keep(Patch(0, 1, 0, 1)), keep(Patch(1, 2, 0, 1)), keep(Patch(0, 1, 1, 2)),
                      keep(BuildRandomCurve(2, 3, 5, 3))};
  const std::vector<double> knots(objs[0]->knotsU, objs[0]->knotsU + NumKnotsU(objs[0]));
  int bndry[4] = {2, 0, 2, 0};
  Bspline* out[4] = {nullptr, nullptr, nullptr, nullptr};
  EXPECT_EQ(StitchFourSurfs(bndry, objs, 0, out), -2);
  EXPECT_EQ(isJustCombine, 0);
  PropotionSurfKnots(objs, bndry);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  objs[3] = keep(Patch(1, 2.5, 1, 2));
  double* v = objs[3]->knotsV;
  objs[3]->knotsV = nullptr;
  PropotionSurfKnots(objs, bndry);
  objs[3]->knotsV = v;
  EXPECT_TRUE(KernelFailed());
  EXPECT_EQ(std::vector<double>(objs[0]->knotsU, objs[0]->knotsU + NumKnotsU(objs[0])), knots);
  for (Bspline* o : out) EXPECT_EQ(o, nullptr);
}

}  // namespace
