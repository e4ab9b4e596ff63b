// Writing a boundary curve into a surface's control net, and replacing a surface's geometry by
// another's: checked through the textbook evaluator, not through the kernel's index maps.
#include <cmath>
#include <vector>

#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "healing/mshrink.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

double Wave(double x, double y) { return 0.2 * std::sin(2.0 * x + 0.3) * std::cos(1.5 * y); }

// Everything of a surface that the operations may change, for bit-exact comparison.
struct Snapshot {
  int degU, degV, intU, intV, rational;
  double umin, umax, vmin, vmax;
  std::vector<double> ku, kv, x, y, z, w;
  explicit Snapshot(const Bspline* s)
      : degU(s->degreeU), degV(s->degreeV), intU(s->interiorU), intV(s->interiorV),
        rational(s->rational), umin(s->umin), umax(s->umax), vmin(s->vmin), vmax(s->vmax),
        ku(s->knotsU, s->knotsU + NumKnotsU(s)), kv(s->knotsV, s->knotsV + NumKnotsV(s)) {
    const int n = NumCtrlU(s) * NumCtrlV(s);
    x.assign(s->X[0], s->X[0] + n);
    y.assign(s->Y[0], s->Y[0] + n);
    z.assign(s->Z[0], s->Z[0] + n);
    if (s->rational) w.assign(s->W[0], s->W[0] + n);
  }
  bool operator==(const Snapshot& o) const {
    return degU == o.degU && degV == o.degV && intU == o.intU && intV == o.intV &&
           rational == o.rational && umin == o.umin && umax == o.umax && vmin == o.vmin &&
           vmax == o.vmax && ku == o.ku && kv == o.kv && x == o.x && y == o.y && z == o.z &&
           w == o.w;
  }
};

// (u, v) of a side at curve parameter t.
void SideUV(const Bspline* s, int side, double t, double* u, double* v) {
  *u = side == 1 ? s->umin : side == 3 ? s->umax : t;
  *v = side == 2 ? s->vmin : side == 4 ? s->vmax : t;
}

// A random curve with the knots of the surface along the side.
Bspline* CurveAlongSide(const Bspline* s, int side, unsigned seed) {
  const bool inV = side == 1 || side == 3;
  const int deg = inV ? s->degreeV : s->degreeU;
  const int n = inV ? NumCtrlV(s) : NumCtrlU(s);
  const double* k = inV ? s->knotsV : s->knotsU;
  Bspline* c = BuildRandomCurve(seed, deg, n);
  std::vector<double> knots(k, k + n + deg + 1);
  std::vector<double> pts;
  for (int j = 0; j < n; ++j) pts.insert(pts.end(), {c->X[0][j], c->Y[0][j], c->Z[0][j]});
  FreeBspline(c);
  return BuildCurve(deg, 3, pts, knots);
}

double SideDeviation(const Bspline* s, int side, const Bspline* c) {
  double worst = 0.0;
  for (int i = 0; i <= 40; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 40.0;
    double u, v, p[3], q[3];
    SideUV(s, side, t, &u, &v);
    RefEvalSurface(s, u, v, p);
    RefEvalCurve(c, t, q);
    worst = std::max(worst, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
  }
  return worst;
}

// Runs op with every allocation failing from the k-th on, k = 0, 1, ..., until it succeeds;
// each failure must leave the surface as it was. Returns the number of failed runs.
template <class Op>
int FailEachAllocation(const Bspline* watched, Op op) {
  const Snapshot before(watched);
  int failures = 0;
  for (long k = 0; k < 400; ++k) {
    MallocFailAfter(k, -1);
    const int r = op();
    MallocFailClear();
    if (r == 0) return failures;
    ++failures;
    EXPECT_TRUE(Snapshot(watched) == before) << k;
    ClearKernelError();
  }
  ADD_FAILURE() << "never succeeded";
  return failures;
}

PatchOptions RandomPatch(unsigned seed) {
  PatchOptions o;
  o.nu = 6;
  o.nv = 5;
  o.layout = KnotLayout::Random;
  o.seed = seed;
  return o;
}

using WrapRows = KernelTest;

TEST_F(WrapRows, CurveLandsOnItsSideAndNothingElseMoves) {
  for (int side = 1; side <= 4; ++side) {
    Bspline* s = BuildFunctionPatch(Wave, RandomPatch(10 + side));
    Bspline* c = CurveAlongSide(s, side, 30 + side);
    ASSERT_TRUE(s && c);
    const Snapshot before(s);
    ASSERT_EQ(UpdateSrfBndryCrvGeom(s, side, c), 0) << side;
    EXPECT_LT(SideDeviation(s, side, c), 1e-12) << "side " << side;
    // Every control point off the written row is untouched; knots are untouched.
    const Snapshot after(s);
    EXPECT_EQ(before.ku, after.ku);
    EXPECT_EQ(before.kv, after.kv);
    const int nu = NumCtrlU(s), nv = NumCtrlV(s);
    int changedOff = 0;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const bool onRow = (side == 1 && i == 0) || (side == 3 && i == nu - 1) ||
                           (side == 2 && j == 0) || (side == 4 && j == nv - 1);
        const int k = j * nu + i;
        if (!onRow && (before.x[k] != after.x[k] || before.y[k] != after.y[k] ||
                       before.z[k] != after.z[k]))
          ++changedOff;
      }
    EXPECT_EQ(changedOff, 0) << side;
    FreeBspline(c);
    FreeBspline(s);
  }
}

TEST_F(WrapRows, SideZeroAndBadInputs) {
  Bspline* s = BuildFunctionPatch(Wave, RandomPatch(3));
  Bspline* c = CurveAlongSide(s, 1, 4);
  const Snapshot before(s);
  EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 0, c), 0);
  EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 5, c), -2);
  EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 1, nullptr), -2);
  EXPECT_EQ(UpdateSrfBndryCrvGeom(c, 1, c), -2);
  // A curve of another degree than the side's is refused without touching the surface.
  Bspline* quad = BuildRandomCurve(5, 2, NumCtrlV(s));
  EXPECT_EQ(UpdateSrfBndryCrvGeom(s, 1, quad), -2);
  EXPECT_TRUE(Snapshot(s) == before);
  FreeBspline(quad);
  FreeBspline(c);
  FreeBspline(s);
}

// A curve with one knot more: the surface gains it (shape elsewhere unchanged) and its side
// then is the curve.
TEST_F(WrapRows, ExtraCurveKnotGoesIntoTheSurface) {
  for (int side : {2, 3}) {
    Bspline* s = BuildFunctionPatch(Wave, RandomPatch(7));
    Bspline* c = CurveAlongSide(s, side, 8);
    double t = 0.37;
    InsertNKnotsToObject(1, 1, 0, c, 2, &t);
    ASSERT_FALSE(KernelFailedNow());
    const bool inV = side == 1 || side == 3;
    const int before = inV ? s->interiorV : s->interiorU;
    // The opposite side keeps its shape through the refinement.
    const int opposite = side <= 2 ? side + 2 : side - 2;
    std::vector<double> far;
    for (int i = 0; i <= 20; ++i) {
      double u, v, p[3];
      SideUV(s, opposite, i / 20.0, &u, &v);
      RefEvalSurface(s, u, v, p);
      far.insert(far.end(), p, p + 3);
    }
    ASSERT_EQ(UpdateSrfBndryCrvGeom(s, side, c), 0);
    EXPECT_EQ(inV ? s->interiorV : s->interiorU, before + 1);
    EXPECT_LT(SideDeviation(s, side, c), 1e-12);
    for (int i = 0; i <= 20; ++i) {
      double u, v, p[3];
      SideUV(s, opposite, i / 20.0, &u, &v);
      RefEvalSurface(s, u, v, p);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], far[3 * i + k], 1e-12);
    }
    FreeBspline(c);
    FreeBspline(s);
  }
}

TEST_F(WrapRows, FailedKnotInsertionLeavesTheSurface) {
  Bspline* s = BuildFunctionPatch(Wave, RandomPatch(9));
  Bspline* c = CurveAlongSide(s, 4, 11);
  double t = 0.61;
  InsertNKnotsToObject(1, 1, 0, c, 2, &t);
  EXPECT_GT(FailEachAllocation(s, [&] { return UpdateSrfBndryCrvGeom(s, 4, c); }), 3);
  FreeBspline(c);
  FreeBspline(s);
}

// ---- ReplaceSrfBsplineGeometry --------------------------------------------------------------

PatchOptions Domain(double u0, double u1, double v0, double v1, int nu, int nv, unsigned seed) {
  PatchOptions o;
  o.umin = u0;
  o.umax = u1;
  o.vmin = v0;
  o.vmax = v1;
  o.nu = nu;
  o.nv = nv;
  o.degreeU = 3;
  o.degreeV = 2;
  o.layout = KnotLayout::Random;
  o.seed = seed;
  return o;
}

TEST_F(WrapRows, ReplaceMapsKnotsOntoTheTargetsRange) {
  Bspline* src = BuildFunctionPatch(Wave, Domain(0.0, 1.0, 0.0, 1.0, 7, 6, 21));
  PatchOptions t = Domain(2.0, 4.0, -1.0, 3.0, 4, 4, 22);
  t.degreeV = 3;
  Bspline* dst = BuildFunctionPatch([](double x, double y) { return x * y; }, t);
  // A trim curve on the target: the record's structure must survive the replacement.
  Bspline* trim = BuildCurveOnSurface(dst, 1, {2.5, 0.0, 3.5, 0.0, 3.5, 2.0, 2.5, 0.0});
  ASSERT_TRUE(src && dst && trim);
  const Snapshot srcBefore(src);
  ASSERT_EQ(ReplaceSrfBsplineGeometry(dst, src), 0);
  EXPECT_TRUE(Snapshot(src) == srcBefore);
  EXPECT_EQ(dst->umin, 2.0);
  EXPECT_EQ(dst->umax, 4.0);
  EXPECT_EQ(dst->vmin, -1.0);
  EXPECT_EQ(dst->vmax, 3.0);
  EXPECT_EQ(dst->degreeV, 2);
  EXPECT_EQ(NumCtrlU(dst), 7);
  EXPECT_EQ(dst->knotsU[0], 2.0);
  EXPECT_EQ(dst->knotsU[NumKnotsU(dst) - 1], 4.0);
  ASSERT_TRUE(dst->curves && dst->curves->item == trim);
  EXPECT_EQ(trim->owner, dst);
  // Same shape under the affine parameter map.
  for (int i = 0; i <= 10; ++i)
    for (int j = 0; j <= 10; ++j) {
      const double u = i / 10.0, v = j / 10.0;
      double p[3], q[3];
      RefEvalSurface(src, u, v, p);
      RefEvalSurface(dst, 2.0 + 2.0 * u, -1.0 + 4.0 * v, q);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-12);
    }
  FreeBspline(dst);
  FreeBspline(src);
}

TEST_F(WrapRows, ReplaceCopiesKnotsWithinTolerance) {
  Bspline* src = BuildFunctionPatch(Wave, Domain(0.0, 1.0, 0.0, 1.0, 6, 6, 31));
  Bspline* dst = BuildFunctionPatch(Wave, Domain(1e-7, 1.0 + 1e-7, 0.0, 1.0, 5, 5, 32));
  ASSERT_EQ(ReplaceSrfBsplineGeometry(dst, src), 0);
  const int n = NumKnotsU(src), p = src->degreeU;
  for (int i = 0; i < n; ++i) {
    const double expect = i <= p ? 1e-7 : i >= n - p - 1 ? 1.0 + 1e-7 : src->knotsU[i];
    EXPECT_EQ(dst->knotsU[i], expect) << i;
  }
  FreeBspline(dst);
  FreeBspline(src);
}

TEST_F(WrapRows, ReplaceCarriesWeightsAndExactForm) {
  PatchOptions ro = Domain(0.0, 1.0, 0.0, 1.0, 5, 5, 41);
  ro.rational = true;
  Bspline* rat = BuildFunctionPatch(Wave, ro);
  Bspline* plain = BuildFunctionPatch(Wave, Domain(0.0, 2.0, 0.0, 2.0, 4, 6, 42));
  ASSERT_EQ(ReplaceSrfBsplineGeometry(plain, rat), 0);
  ASSERT_TRUE(plain->rational && plain->W);
  for (int i = 0; i <= 8; ++i) {
    double p[3], q[3];
    RefEvalSurface(rat, i / 8.0, 0.3, p);
    RefEvalSurface(plain, 2.0 * i / 8.0, 0.6, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-12);
  }
  // Back to a non-rational source: the weights go.
  Bspline* again = BuildFunctionPatch(Wave, Domain(0.0, 1.0, 0.0, 1.0, 5, 5, 43));
  // A target with an exact form takes the source's (here: none).
  const double plane[4] = {0.0, 0.0, 1.0, 0.0};
  plain->quadricType = 25;
  plain->quadric = DuplicateQuadricInfo(reinterpret_cast<const QuadricInfo*>(plane), 4);
  ASSERT_EQ(ReplaceSrfBsplineGeometry(plain, again), 0);
  EXPECT_EQ(plain->rational, 0);
  EXPECT_EQ(plain->W, nullptr);
  EXPECT_EQ(plain->quadricType, 0);
  EXPECT_EQ(plain->quadric, nullptr);
  FreeBspline(again);
  FreeBspline(plain);
  FreeBspline(rat);
}

TEST_F(WrapRows, ReplaceRefusesNonSurfacesAndSurvivesAllocationFailures) {
  Bspline* src = BuildFunctionPatch(Wave, Domain(0.0, 1.0, 0.0, 1.0, 6, 5, 51));
  Bspline* dst = BuildFunctionPatch(Wave, Domain(0.0, 3.0, 0.0, 1.0, 4, 4, 52));
  Bspline* crv = BuildRandomCurve(53, 3, 5);
  EXPECT_EQ(ReplaceSrfBsplineGeometry(dst, crv), -2);
  EXPECT_EQ(ReplaceSrfBsplineGeometry(crv, src), -2);
  EXPECT_EQ(ReplaceSrfBsplineGeometry(nullptr, src), -2);
  EXPECT_GT(FailEachAllocation(dst, [&] { return ReplaceSrfBsplineGeometry(dst, src); }), 3);
  EXPECT_EQ(NumCtrlU(dst), 6);
  FreeBspline(crv);
  FreeBspline(dst);
  FreeBspline(src);
}

}  // namespace
