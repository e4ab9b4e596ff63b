// Record functions given records drawn at random (other degrees, counts and weights than the
// suite's fixed set): a structure that cannot be read is refused before the net is read, a
// parameter off the record or not a number ends the call at once, an array handed over
// internally is freed, and a record made is sound.
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/objjoin.h"
#include "bspline/sfree.h"
#include "construct/extend.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "intersect/cntrlpt.h"
#include "quadric/quadrics.h"
#include "splinefit/sconvert.h"
#include "splinefit/splzero.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using RecordEntries = KernelTest;

Bspline* Patch(int nu, int nv, int degree, bool rational = false) {
  PatchOptions o;
  o.nu = nu, o.nv = nv, o.degreeU = o.degreeV = degree, o.rational = rational;
  return BuildFunctionPatch([](double x, double y) { return 0.3 * x * y - 0.1 * y * y; }, o);
}

std::vector<double> Row(const double* p, int n) { return std::vector<double>(p, p + n); }

// A degree past the limit promises a net longer than the one held: every function refuses it
// before reading a weight or coefficient.
TEST_F(RecordEntries, DegreePastTheLimitIsRefusedBeforeTheNetIsRead) {
  BsplineKeeper keep;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Bspline* c = keep(BuildRandomCurve(seed, 1 + seed % 3, 4 + seed % 3, 3, true));
    ASSERT_NE(c, nullptr);
    const std::vector<double> w = Row(c->W[0], NumCtrlU(c));
    const int degree = c->degreeU;
    c->degreeU = kMaxSplineDegree + 1;
    ClearKernelError();
    EXPECT_EQ(ReparametrizeRationalCurve(c), -2);
    EXPECT_TRUE(KernelFailed());
    ClearKernelError();
    EXPECT_EQ(IsBsplFuncConvexHullSameSign(c, 0.0), 0);
    EXPECT_TRUE(KernelFailed());
    c->degreeU = degree;
    EXPECT_EQ(Row(c->W[0], NumCtrlU(c)), w);
    // The same record sound: its end weights become 1, every weight stays positive.
    ClearKernelError();
    EXPECT_EQ(ReparametrizeRationalCurve(c), 0);
    EXPECT_DOUBLE_EQ(c->W[0][0], 1.0);
    EXPECT_DOUBLE_EQ(c->W[0][NumCtrlU(c) - 1], 1.0);
    EXPECT_TRUE(BsplineSound(c));
  }
}

// A control line named past the net, or a source line shorter than the target's, is refused with
// the target as it was; a line inside both is copied exactly.
TEST_F(RecordEntries, ControlLineOutsideTheNetIsRefused) {
  BsplineKeeper keep;
  Bspline* dst = keep(Patch(6, 5, 3));
  Bspline* src = keep(Patch(4, 5, 2));
  ASSERT_TRUE(dst && src);
  const std::vector<double> z = Row(dst->Z[0], NumCtrlU(dst));
  const struct {
    int dstColumn, srcColumn, dstIndex, srcIndex;
  } refused[] = {{0, 0, 5, 0}, {0, 0, 0, -1}, {1, 1, 6, 0}, {0, 0, 0, 0} /* src rows are 4 long */};
  for (const auto& r : refused) {
    ClearKernelError();
    CopyControlLineOfSurf(dst, src, r.dstColumn, r.srcColumn, r.dstIndex, r.srcIndex);
    EXPECT_TRUE(KernelFailed());
    EXPECT_EQ(Row(dst->Z[0], NumCtrlU(dst)), z);
  }
  ClearKernelError();
  CopyControlLineOfSurf(dst, src, 1, 1, 2, 3);  // columns: 5 points in both
  EXPECT_FALSE(KernelFailed());
  for (int j = 0; j < 5; ++j) EXPECT_EQ(dst->Z[j][2], src->Z[j][3]);
  double* knots = src->knotsU;
  src->knotsU = nullptr;
  ClearKernelError();
  CopyControlLineOfSurf(dst, src, 1, 1, 2, 0);
  EXPECT_TRUE(KernelFailed());
  src->knotsU = knots;
}

// A count that overflows an int would wrap the size of every array made from it.
TEST_F(RecordEntries, CountThatOverflowsIsRefused) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch(5, 5, 3));
  ASSERT_NE(s, nullptr);
  const int cont[4] = {0, -1, -1, -1};
  const int interior = s->interiorU;
  s->interiorU = INT_MAX - s->degreeU - 1;
  ClearKernelError();
  EXPECT_EQ(FindEditableRegionsOfBspline(s, cont, nullptr), nullptr);
  EXPECT_TRUE(KernelFailed());
  s->interiorU = interior;
  ClearKernelError();
  int* flags = FindEditableRegionsOfBspline(s, cont, nullptr);
  ASSERT_NE(flags, nullptr);
  Free(flags);
}

// Lowering the degree inserts knots in the largest spans; the vector that insertion hands over
// is freed (the sanitizer's leak check fails the run otherwise), and the knots returned are
// interior knots of the domain, in order.
TEST_F(RecordEntries, ReducedKnotsLeaveNothingAllocated) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch(8, 5, 3));
  ASSERT_NE(s, nullptr);
  for (int dir = 0; dir < 2; ++dir) {
    int count = 0;
    double* knots = GetReducedInternalKnots(s, 1, dir, 0.0, &count);
    ASSERT_NE(knots, nullptr);
    EXPECT_GT(count, dir ? s->interiorV : s->interiorU);
    const double lo = dir ? s->vmin : s->umin, hi = dir ? s->vmax : s->umax;
    for (int i = 0; i < count; ++i) {
      EXPECT_GT(knots[i], lo);
      EXPECT_LT(knots[i], hi);
      if (i) {
        EXPECT_LE(knots[i - 1], knots[i]);
      }
    }
    Free(knots);
  }
}

// An extension made of a rational record is a sound record before its new points are filled, and
// the filled one keeps the old curve's points; a step that is not a positive number is refused.
TEST_F(RecordEntries, ExtensionOfRationalRecordIsSound) {
  BsplineKeeper keep;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    ClearKernelError();
    Bspline* c = keep(BuildRandomCurve(seed, 3, 6, 3, true));
    ASSERT_NE(c, nullptr);
    Bspline* e = keep(MakeExtendBspline(c, 1, 0.25));
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(BsplineSound(e));
    FillExtendCoefi(e, 1);
    const double t = c->umin + 0.3 * (c->umax - c->umin);
    double a[3], b[3];
    Eval3DPointOnCurve3Array(c, t, 0, a);
    Eval3DPointOnCurve3Array(e, t, 0, b);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-9);
    for (double dt : {0.0, -0.5, kNaN, kInf}) {
      ClearKernelError();
      EXPECT_EQ(keep(MakeExtendBspline(c, 1, dt)), nullptr) << dt;
      EXPECT_TRUE(KernelFailed()) << dt;
    }
  }
}

// Curvature at a parameter that is not a number, of a curve, or of a surface with a weight not
// positive ends at once with 0 and the error state; a sphere's curvature is exact.
TEST_F(RecordEntries, CurvatureRefusesWhatItCannotEvaluate) {
  BsplineKeeper keep;
  Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 2.0));
  ASSERT_NE(sphere, nullptr);
  const double u = 0.5 * (sphere->umin + sphere->umax), v = 0.37 * (sphere->vmin + sphere->vmax);
  ClearKernelError();
  EXPECT_NEAR(std::fabs(LargerPrincipalCurvature(sphere, u, v)), 0.5, 1e-9);
  EXPECT_FALSE(KernelFailed());
  for (double bad : {kNaN, kInf, -kInf}) {
    ClearKernelError();
    EXPECT_EQ(LargerPrincipalCurvature(sphere, bad, v), 0.0);
    EXPECT_TRUE(KernelFailed());
    const double us[2] = {u, bad}, vs[1] = {v};
    double out[2] = {7.0, 7.0};
    ClearKernelError();
    LargerPrincipalCurvatureGrid(sphere, us, vs, out, 2, 1);
    EXPECT_TRUE(KernelFailed());
    EXPECT_EQ(out[0], 7.0);
  }
  ClearKernelError();
  Bspline* c = keep(BuildRandomCurve(3, 2, 5, 3, true));
  ASSERT_NE(c, nullptr);
  ClearKernelError();
  EXPECT_EQ(LargerPrincipalCurvature(c, 0.5, 0.5), 0.0);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  Bspline* s = keep(Patch(5, 4, 2, true));
  ASSERT_NE(s, nullptr);
  s->W[1][1] = -0.5;
  ClearKernelError();
  EXPECT_EQ(LargerPrincipalCurvature(s, 0.5, 0.5), 0.0);
  EXPECT_TRUE(KernelFailed());
  s->W[1][1] = 1.0;
}

// An iso line off the surface (or at a parameter not a number) shows nothing; one across it
// shows points on the surface.
TEST_F(RecordEntries, IsoLineOffTheSurfaceShowsNothing) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch(5, 4, 3));
  ASSERT_NE(s, nullptr);
  for (double c : {1e300, -1e300, kNaN, s->umax + 0.5}) {
    float *x = nullptr, *y = nullptr, *z = nullptr;
    EXPECT_EQ(CreateIsoPlineArraysGivenPar(s, c, 1, s->vmin, s->vmax, &x, &y, &z), 0) << c;
    EXPECT_TRUE(!x && !y && !z);
  }
  float *x = nullptr, *y = nullptr, *z = nullptr;
  const double c = 0.5 * (s->umin + s->umax);
  const int n = CreateIsoPlineArrays(s, c, 1, &x, &y, &z);
  ASSERT_GT(n, 0);
  static const int du[1] = {0}, dv[1] = {0};
  double P[1][3];
  ASSERT_EQ(EvalPointOnGeometryM(s, c, s->vmin, du, dv, 1, 0, P), 0);
  EXPECT_NEAR(x[0], P[0][0], 1e-5);
  EXPECT_NEAR(y[0], P[0][1], 1e-5);
  EXPECT_NEAR(z[0], P[0][2], 1e-5);
  Free(x), Free(y), Free(z);
}

}  // namespace
