// Boundary vectors and the inward test of surfaces: the vectors of all four sides and of a trim
// loop circulate one way around a patch and turn with it; a vector into the trimmed region is
// told from one out of it; normals on a grid are those of the batch evaluation.
#include <gtest/gtest.h>

#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "foundation/vec3.h"
#include "surface/srfnorm.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SrfNormTest : public KernelTest {};

Bspline* Gentle() {
  return BuildFunctionPatch([](double x, double y) { return 0.1 * x * y; }, {.nu = 5, .nv = 4});
}

// The z of (p - centre) x out: its sign tells which way out turns around the centre.
double Turn(const double p[3], const double out[3]) {
  const double r[3] = {p[0] - 0.5, p[1] - 0.5, 0.0};
  double c[3];
  VecCrossProd3(r, out, c);
  return c[2];
}

// The square [a, b]^2 as four straight 2D curves, counter-clockwise, as one loop of s.
std::vector<Bspline*> SquareLoop(Bspline* s, double a, double b) {
  const double c[5][2] = {{a, a}, {b, a}, {b, b}, {a, b}, {a, a}};
  std::vector<Bspline*> curves;
  for (int k = 0; k < 4; ++k)
    curves.push_back(BuildCurveOnSurface(s, 1, {c[k][0], c[k][1], c[k + 1][0], c[k + 1][1]}));
  AddLoop(s, curves);
  return curves;
}

TEST_F(SrfNormTest, BoundaryVectorsCirculateOneWayAndTurnWithTheSurface) {
  for (int reversed = 0; reversed < 2; ++reversed) {
    Bspline* s = Gentle();
    std::vector<Bspline*> loop = SquareLoop(s, 0.25, 0.75);
    if (reversed) ReverseDirection(s, 1);  // the loop's v values follow
    const double want = reversed ? 1.0 : -1.0;
    for (int side = 1; side <= 4; ++side) {
      for (double t : {0.0, 0.3, 1.0}) {
        const double u = side == 1 ? 0.0 : side == 3 ? 1.0 : t;
        const double v = side == 2 ? 0.0 : side == 4 ? 1.0 : t;
        double p[3], out[3];
        Eval3DPointOnSurfArray(s, u, v, 0, 0, p);
        GetSurfBndryVector(out, s, nullptr, t, side);
        EXPECT_GT(Turn(p, out) * want, 0.0) << side << " " << t << " " << reversed;
        EXPECT_NEAR(out[2], 0.0, 0.2 * VecSize3(out));
      }
    }
    // An outer loop has the region left on the same side as the sides have the domain: it
    // turns the same way.
    for (Bspline* c : loop) {
      double uv[2], p[3], out[3];
      Eval2DPointOnCurve2Array(s, c, 0.5, 0, uv);
      Eval3DPointOnSurfArray(s, uv[0], uv[1], 0, 0, p);
      GetSurfBndryVector(out, s, c, 0.5, 0);
      EXPECT_GT(Turn(p, out) * want, 0.0) << reversed;
    }
    EXPECT_EQ(GetTrimCurveOfTrimBspline(loop[2]), s->trims);
    FreeBspline(s);
  }
}

TEST_F(SrfNormTest, VectorGoesInOnlyTowardsTheTrimmedRegion) {
  Bspline* s = Gentle();
  std::vector<Bspline*> loop = SquareLoop(s, 0.25, 0.75);
  const double Su[3] = {1, 0, 0}, Sv[3] = {0, 1, 0}, N[3] = {0, 0, 1};
  const double in[3] = {0.2, 1, 0}, out[3] = {0.2, -1, 0};
  EXPECT_EQ(CheckIfVectorGoesIn(loop[0], 0.5, 0.25, in, Su, Sv, N), 1);
  EXPECT_EQ(CheckIfVectorGoesIn(loop[0], 0.5, 0.25, out, Su, Sv, N), 0);
  const double left[3] = {-1, 0, 0}, right[3] = {1, 0, 0};
  EXPECT_EQ(CheckIfVectorGoesIn(loop[1], 0.75, 0.5, left, Su, Sv, N), 1);
  EXPECT_EQ(CheckIfVectorGoesIn(loop[1], 0.75, 0.5, right, Su, Sv, N), 0);

  // A normal the solver cannot use: the displacement counts as none (the point itself), not as
  // whatever the unset parameters held; in the domain of a curve in no loop that is inside.
  Bspline* loose = BuildCurveOnSurface(s, 1, {0.1, 0.1, 0.9, 0.2});
  const double zero[3] = {0, 0, 0};
  EXPECT_EQ(GetTrimCurveOfTrimBspline(loose), nullptr);
  EXPECT_EQ(CheckIfVectorGoesIn(loose, 0.5, 0.15, in, Su, Sv, zero), 1);
  EXPECT_EQ(CheckIfVectorGoesIn(loose, 0.5, 0.15, out, Su, Sv, zero), 1);
  EXPECT_EQ(CheckIfVectorGoesIn(loose, 0.5, 0.0, out, Su, Sv, N), 0);
  FreeBspline(s);
}

TEST_F(SrfNormTest, GridNormalsAreThoseOfTheBatchAtEveryPoint) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x - 0.5 * y * x; },
                                  {.nu = 6, .nv = 5, .rational = true});
  const double u[3] = {0.0, 0.4, 1.0}, v[2] = {0.1, 0.9};
  double pos[6][3], nrm[6][3];
  ASSERT_EQ(ComputeSurfGridPositionAndNormal(s, u, v, 3, 2, pos, nrm), 0);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i) {
      double p[3], n[1][3];
      Eval3DPointOnSurfArray(s, u[i], v[j], 0, 0, p);
      ComputeSurfNormalNPnts(s, &u[i], &v[j], n, 1);
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(pos[j * 3 + i][c], p[c], 1e-12);
        EXPECT_NEAR(nrm[j * 3 + i][c], n[0][c], 1e-12);
      }
    }
  FreeBspline(s);
}

}  // namespace
