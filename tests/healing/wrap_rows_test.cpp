// Writing a boundary curve into a surface's control net, and replacing a surface's geometry by
// another's: checked through the textbook evaluator, not through the kernel's index maps.
#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/smake.h"
#include "healing/mshrink.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

double Wave(double x, double y) { return 0.2 * std::sin(2.0 * x + 0.3) * std::cos(1.5 * y); }

// A random curve with the knots of the surface along the side.
Bspline* CurveAlongSide(const Bspline* s, int side, unsigned seed) {
  const bool inV = side == 1 || side == 3;
  const int deg = inV ? s->degreeV : s->degreeU;
  const int n = inV ? NumCtrlV(s) : NumCtrlU(s);
  const double* k = inV ? s->knotsV : s->knotsU;
  Bspline* c = BuildRandomCurve(seed, deg, n);
  std::vector<double> pts;
  for (int j = 0; j < n; ++j) pts.insert(pts.end(), {c->X[0][j], c->Y[0][j], c->Z[0][j]});
  FreeBspline(c);
  return BuildCurve(deg, 3, pts, std::vector<double>(k, k + n + deg + 1));
}

PatchOptions Domain(double u0, double u1, double v0, double v1, int nu, int nv, unsigned seed, int degV = 3) {
  return {.degreeV = degV, .nu = nu, .nv = nv, .umin = u0, .umax = u1, .vmin = v0, .vmax = v1,
          .layout = KnotLayout::Random, .seed = seed};
}

using WrapRows = KernelTest;

TEST_F(WrapRows, CurveLandsOnItsSideAndNothingElseMoves) {
  for (int side = 1; side <= 4; ++side) {
    Group own;
    Bspline* s = own.Add(BuildFunctionPatch(Wave, Domain(0, 1, 0, 1, 6, 5, 10 + side)));
    Bspline* c = own.Add(CurveAlongSide(s, side, 30 + side));
    ASSERT_TRUE(s && c);
    const std::vector<double> before = Snapshot(s, false), net = Net(s);
    ASSERT_EQ(UpdateSrfBndryCrvGeom(s, side, c), 0) << side;
    EXPECT_LT(SideVsCurve(s, side, c), 1e-12) << "side " << side;
    // Every control point off the written row is untouched; so are the knots.
    EXPECT_EQ(Snapshot(s, false), before);
    const std::vector<double> after = Snapshot(s), now = Net(s);
    for (int k = 0; k < int(net.size()); ++k) EXPECT_TRUE(OnSideRow(s, side, k) || now[k] == net[k]) << side << " " << k;
    // Side 0 writes nothing; a bad side, a missing curve, a curve for a surface or a curve of
    // another degree than the side's are refused without touching the surface.
    Bspline* quad = own.Add(BuildRandomCurve(5, 2, NumCtrlV(s)));
    EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 0, c), 0);
    EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 5, c), -2);
    EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 1, nullptr), -2);
    EXPECT_EQ(UpdateSrfBndryCrvGeom(c, 1, c), -2);
    EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 1, quad), -2);
    EXPECT_EQ(Snapshot(s), after);
  }
}

// A curve whose counts promise more knots than an int can index, or whose knots decrease, was
// read (its knot count overflowed, the insertion took the knots as given): refused with the
// error state -2, the surface as it was.
TEST_F(WrapRows, ACurveThatCannotBeReadLeavesTheSurface) {
  Group own;
  Bspline* s = own.Add(BuildFunctionPatch(Wave, Domain(0, 1, 0, 1, 6, 5, 12)));
  Bspline* c = own.Add(CurveAlongSide(s, 2, 31));
  ASSERT_TRUE(s && c);
  const std::vector<double> before = Snapshot(s);
  const int interior = c->interiorU;
  c->interiorU = INT_MAX - c->degreeU - 1;
  EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 2, c), -2);
  c->interiorU = interior;
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  std::swap(c->knotsU[c->degreeU + 1], c->knotsU[NumCtrlU(c) - 1]);
  EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 2, c), -2);
  std::swap(c->knotsU[c->degreeU + 1], c->knotsU[NumCtrlU(c) - 1]);
  EXPECT_TRUE(KernelFailed());
  EXPECT_EQ(Snapshot(s), before);
}

// A curve with one knot more: the surface gains it (shape elsewhere unchanged) and its side
// then is the curve; every refused allocation on the way leaves the surface as it was.
TEST_F(WrapRows, ExtraCurveKnotGoesIntoTheSurface) {
  for (int side : {2, 3, 4}) {
    Group own;
    Bspline* s = own.Add(BuildFunctionPatch(Wave, Domain(0, 1, 0, 1, 6, 5, 7)));
    Bspline* c = own.Add(CurveAlongSide(s, side, 8));
    double t = 0.37;
    InsertNKnotsToObject(1, 1, 0, c, 2, &t);
    ASSERT_FALSE(KernelFailedNow());
    const bool inV = side == 1 || side == 3;
    const int before = inV ? s->interiorV : s->interiorU;
    // The opposite side keeps its shape through the refinement.
    const int opposite = side <= 2 ? side + 2 : side - 2;
    std::vector<double> far(63);
    for (int i = 0; i <= 20; ++i) SidePoint(s, opposite, i / 20.0, &far[3 * i]);
    EXPECT_GT(FailUntilSuccess([&] { return UpdateSrfBndryCrvGeom(s, side, c); }, [&] { return Snapshot(s); }), 3);
    EXPECT_EQ(inV ? s->interiorV : s->interiorU, before + 1);
    EXPECT_LT(SideVsCurve(s, side, c), 1e-12);
    for (int i = 0; i <= 20; ++i) {
      double p[3];
      SidePoint(s, opposite, i / 20.0, p);
      EXPECT_LT(Dist(p, &far[3 * i]), 1e-12);
    }
  }
}

// The target keeps its domain and its curves; the source's shape arrives under the affine
// parameter map; knots within the tolerance of the target's ends are copied, not mapped.
TEST_F(WrapRows, ReplaceMapsKnotsOntoTheTargetsRange) {
  Group own;
  Bspline* src = own.Add(BuildFunctionPatch(Wave, Domain(0.0, 1.0, 0.0, 1.0, 7, 6, 21, 2)));
  Bspline* dst = own.Add(BuildFunctionPatch([](double x, double y) { return x * y; }, Domain(2, 4, -1, 3, 4, 4, 22)));
  Bspline* trim = BuildCurveOnSurface(dst, 1, {2.5, 0.0, 3.5, 0.0, 3.5, 2.0, 2.5, 0.0});
  ASSERT_TRUE(src && dst && trim);
  const std::vector<double> srcBefore = Snapshot(src);
  ASSERT_EQ(ReplaceSrfBsplineGeometry(dst, src), 0);
  EXPECT_EQ(Snapshot(src), srcBefore);
  EXPECT_TRUE(dst->umin == 2.0 && dst->umax == 4.0 && dst->vmin == -1.0 && dst->vmax == 3.0);
  EXPECT_EQ(dst->degreeV, 2);
  EXPECT_EQ(NumCtrlU(dst), 7);
  EXPECT_EQ(dst->knotsU[0], 2.0);
  EXPECT_EQ(dst->knotsU[NumKnotsU(dst) - 1], 4.0);
  ASSERT_TRUE(dst->curves && dst->curves->item == trim);
  EXPECT_EQ(trim->owner, dst);
  for (int i = 0; i <= 10; ++i)
    for (int j = 0; j <= 10; ++j) {
      double p[3], q[3];
      RefEvalSurface(src, i / 10.0, j / 10.0, p);
      RefEvalSurface(dst, 2.0 + 0.2 * i, -1.0 + 0.4 * j, q);
      EXPECT_LT(Dist(p, q), 1e-12);
    }
  dst = own.Add(BuildFunctionPatch(Wave, Domain(1e-7, 1.0 + 1e-7, 0.0, 1.0, 5, 5, 32, 2)));
  ASSERT_EQ(ReplaceSrfBsplineGeometry(dst, src), 0);
  const int n = NumKnotsU(src), p = src->degreeU;
  for (int i = 0; i < n; ++i) {
    const double expect = i <= p ? 1e-7 : i >= n - p - 1 ? 1.0 + 1e-7 : src->knotsU[i];
    EXPECT_EQ(dst->knotsU[i], expect) << i;
  }
}

// Non-surfaces are refused; every refused allocation leaves the target as it was; the run that
// goes through carries the weights over, and a later non-rational source takes them (and the
// target's exact form) away.
TEST_F(WrapRows, ReplaceCarriesWeightsAndExactFormAndSurvivesFailures) {
  PatchOptions ro = Domain(0.0, 1.0, 0.0, 1.0, 5, 5, 41, 2);
  ro.rational = true;
  Group own;
  Bspline* rat = own.Add(BuildFunctionPatch(Wave, ro));
  Bspline* plain = own.Add(BuildFunctionPatch(Wave, Domain(0.0, 2.0, 0.0, 2.0, 4, 6, 42, 2)));
  Bspline* crv = own.Add(BuildRandomCurve(53, 3, 5));
  EXPECT_EQ(ReplaceSrfBsplineGeometry(plain, crv), -2);
  EXPECT_EQ(ReplaceSrfBsplineGeometry(crv, rat), -2);
  EXPECT_EQ(ReplaceSrfBsplineGeometry(nullptr, rat), -2);
  EXPECT_GT(FailUntilSuccess([&] { return ReplaceSrfBsplineGeometry(plain, rat); }, [&] { return Snapshot(plain); }),
            3);
  ASSERT_TRUE(plain->rational && plain->W);
  EXPECT_EQ(NumCtrlU(plain), 5);
  for (int i = 0; i <= 8; ++i) {
    double p[3], q[3];
    RefEvalSurface(rat, i / 8.0, 0.3, p);
    RefEvalSurface(plain, 2.0 * i / 8.0, 0.6, q);
    EXPECT_LT(Dist(p, q), 1e-12);
  }
  Bspline* again = own.Add(BuildFunctionPatch(Wave, Domain(0.0, 1.0, 0.0, 1.0, 5, 5, 43, 2)));
  const double plane[4] = {0.0, 0.0, 1.0, 0.0};
  plain->quadricType = 25;
  plain->quadric = DuplicateQuadricInfo(reinterpret_cast<const QuadricInfo*>(plane), 4);
  ASSERT_EQ(ReplaceSrfBsplineGeometry(plain, again), 0);
  EXPECT_EQ(plain->rational, 0);
  EXPECT_EQ(plain->W, nullptr);
  EXPECT_EQ(plain->quadricType, 0);
  EXPECT_EQ(plain->quadric, nullptr);
}

}  // namespace

// Boundary rows moved at random, the second rows carried: the derivative across every side is
// kept wherever one side alone owns the second-row point, the point diagonal to every corner
// moves by the mean of its two boundary neighbours,
// a rigid shift of the whole boundary ring shifts the second ring with it, and nothing deeper
// in the net moves. Two rows across have no second row; three share the middle one.
TEST_F(WrapRows, SecondRowsFollowTheirBoundaryRows) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> d(-0.01, 0.01);
  for (int nu : {2, 3, 4, 7})
    for (bool rigid : {false, true}) {
      SCOPED_TRACE(testing::Message() << nu << " columns, rigid " << rigid);
      PatchOptions o = Domain(0, 1, 0, 1, nu, 6, 3);
      o.degreeU = std::min(3, nu - 1);
      Bspline* s = BuildFunctionPatch(Wave, o);
      const int nv = NumCtrlV(s);
      std::vector<double> before;
      for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) before.insert(before.end(), {s->X[j][i], s->Y[j][i], s->Z[j][i]});
      const double shift[3] = {d(rng), d(rng), d(rng)};
      auto ring = [&](int i, int j) { return i == 0 || j == 0 || i == nu - 1 || j == nv - 1; };
      for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i)
          if (ring(i, j)) {
            s->X[j][i] += rigid ? shift[0] : d(rng);
            s->Y[j][i] += rigid ? shift[1] : d(rng);
            s->Z[j][i] += rigid ? shift[2] : d(rng);
          }
      ASSERT_EQ(CarrySecondRows(s, nu, nv, before.data()), 0);
      auto P = [&](int i, int j, int c) { return (c == 0 ? s->X : c == 1 ? s->Y : s->Z)[j][i]; };
      auto B = [&](int i, int j, int c) { return before[3 * (j * nu + i) + c]; };
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < nv; ++j)
          for (int i = 0; i < nu; ++i) {
            const bool second = !ring(i, j) && (i == 1 || j == 1 || i == nu - 2 || j == nv - 2);
            if (ring(i, j)) continue;
            if (!second || nu < 3) {
              EXPECT_EQ(P(i, j, c), B(i, j, c)) << i << " " << j;  // deeper rows stay
              continue;
            }
            if (rigid) {
              EXPECT_NEAR(P(i, j, c) - B(i, j, c), shift[c], 1e-14);
            }
            if (nu == 3) continue;
            // Across side 1 (and 3) away from the corners, and the twist at the corners.
            if (i == 1 && j > 1 && j < nv - 2) {
              EXPECT_NEAR(P(1, j, c) - P(0, j, c), B(1, j, c) - B(0, j, c), 1e-14);
            }
            if (i == nu - 2 && j > 1 && j < nv - 2) {
              EXPECT_NEAR(P(nu - 2, j, c) - P(nu - 1, j, c), B(nu - 2, j, c) - B(nu - 1, j, c), 1e-14);
            }
            for (int ci : {0, nu - 1})
              for (int cj : {0, nv - 1}) {
                const int di = ci == 0 ? 1 : -1, dj = cj == 0 ? 1 : -1;
                if (i != ci + di || j != cj + dj) continue;
                // The point diagonal to the corner lies in both second rows and moves by the
                // mean of its two boundary neighbours' moves.
                auto moved = [&](int a, int b) { return P(a, b, c) - B(a, b, c); };
                EXPECT_NEAR(moved(ci + di, cj + dj), 0.5 * (moved(ci, cj + dj) + moved(ci + di, cj)), 1e-14);
              }
          }
      EXPECT_EQ(CarrySecondRows(s, nu + 1, nv, before.data()), 0);  // other counts: nothing
      FreeBspline(s);
    }
}

// A net of four rows along a seam and many across it (a half-cylinder as exporters write it), its
// seam row moved along the surface by three times its short first leg while the held sides' rows
// stay: every second-row point is diagonal to a corner, and each keeps its short leg pointing the
// way it did (the mean of the two moves left it a leg reversed, the surface folded along the
// seam), whatever the net's size and place.
TEST_F(WrapRows, ShortLegsBesideAMovedSeamRowDoNotTurnOver) {
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " at " << far << " sizes");
      const int nu = 4, nv = 40;
      std::vector<double> pts;
      for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
          const double a = 3.14159265358979 * j / (nv - 1);  // half a circle across, the axis along u
          pts.insert(pts.end(), {size * (far + i / 3.0), size * (far + 0.1 * std::cos(a)), size * (far + 0.1 * std::sin(a))});
        }
      Bspline* s = BuildSurface(3, 3, nu, nv, pts);
      ASSERT_NE(s, nullptr);
      const std::vector<double> before = [&] {
        std::vector<double> b;
        for (int j = 0; j < nv; ++j)
          for (int i = 0; i < nu; ++i) b.insert(b.end(), {s->X[j][i], s->Y[j][i], s->Z[j][i]});
        return b;
      }();
      auto B = [&](int i, int j, int c) { return before[3 * (j * nu + i) + c]; };
      // The seam row j = nv - 1 slides towards the second row by three first legs; its ends stay.
      double slide[3];
      for (int c = 0; c < 3; ++c) slide[c] = 3.0 * (B(1, nv - 2, c) - B(1, nv - 1, c));
      for (int i = 1; i < nu - 1; ++i) {
        s->X[nv - 1][i] += slide[0];
        s->Y[nv - 1][i] += slide[1];
        s->Z[nv - 1][i] += slide[2];
      }
      ASSERT_EQ(CarrySecondRows(s, nu, nv, before.data()), 0);
      for (int i = 1; i < nu - 1; ++i) {
        const double now[3] = {s->X[nv - 2][i] - s->X[nv - 1][i], s->Y[nv - 2][i] - s->Y[nv - 1][i],
                               s->Z[nv - 2][i] - s->Z[nv - 1][i]};
        const double was[3] = {B(i, nv - 2, 0) - B(i, nv - 1, 0), B(i, nv - 2, 1) - B(i, nv - 1, 1),
                               B(i, nv - 2, 2) - B(i, nv - 1, 2)};
        const double dot = now[0] * was[0] + now[1] * was[1] + now[2] * was[2];
        const double len2 = was[0] * was[0] + was[1] * was[1] + was[2] * was[2];
        EXPECT_GT(dot, 0.5 * len2) << "column " << i;
      }
      FreeBspline(s);
    }
}
