// Evaluation with derivative requests (basis derivatives instead of derivative nets): against
// the net-based evaluators and the textbook reference, on grids and on edit records.
#include <cmath>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "intersect/cntrlpt.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class EvalDerivsTest : public KernelTest {};

double Bumpy(double x, double y) { return std::exp(-x * x) * std::sin(2 * y) + x * x * y; }

double Scale(const double* r) {
  double m = 1.0;
  for (int k = 0; k < 3; ++k) m = std::max(m, std::fabs(r[k]));
  return m;
}

const int kDu[9] = {0, 1, 0, 1, 2, 0, 2, 1, 2};
const int kDv[9] = {0, 0, 1, 1, 0, 2, 1, 2, 2};

TEST_F(EvalDerivsTest, RequestsMatchNetEvaluationAndReference) {
  for (int trial = 0; trial < 6; ++trial) {
    PatchOptions o;
    o.degreeU = 1 + trial % 4;
    o.degreeV = 2 + trial % 3;
    o.nu = o.degreeU + 4;
    o.nv = o.degreeV + 3;
    o.layout = KnotLayout::Random;
    o.rational = trial % 2 == 1;
    o.seed = 70 + trial;
    Bspline* s = BuildFunctionPatch(Bumpy, o);
    for (double u : {0.0, 0.31, 0.5, 1.0})
      for (double v : {0.0, 0.64, 1.0}) {
        double out[9][3];
        ASSERT_EQ(EvalPointOnGeometryM(s, u, v, kDu, kDv, 9, 0, out), 0);
        for (int k = 0; k < 9; ++k) {
          double r[3], net[3];
          RefEvalDeriv(s, u, v, kDu[k], kDv[k], r);
          Eval3DPointOnSurfArray(s, u, v, kDu[k], kDv[k], net);
          for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(out[k][c], r[c], 1e-9 * Scale(r)) << "request " << k << " trial " << trial;
            EXPECT_NEAR(out[k][c], net[c], 1e-9 * Scale(r)) << "request " << k;
          }
        }
      }
    FreeBspline(s);
  }
}

TEST_F(EvalDerivsTest, OrdersAboveTwoAreRefusedBeforeAnythingIsWritten) {
  Bspline* s = BuildFunctionPatch(Bumpy);
  const int du[2] = {0, 3}, dv[2] = {0, 0};
  double out[2][3] = {{8, 8, 8}, {8, 8, 8}};
  EXPECT_EQ(EvalPointOnGeometryM(s, 0.5, 0.5, du, dv, 2, 0, out), -2);
  EXPECT_EQ(out[0][0], 8.0);
  std::vector<double> block(2 * 2 * 3, 8.0);
  double* rows[4] = {&block[0], &block[3], &block[6], &block[9]};
  const double us[2] = {0.1, 0.9}, vs[2] = {0.2, 0.8};
  EXPECT_EQ(EvalGridOnGeometryM(s, us, vs, 2, 2, du, dv, 2, 0, rows), -2);
  EXPECT_EQ(block[0], 8.0);
  FreeBspline(s);
}

TEST_F(EvalDerivsTest, RationalCurveOfDimensionTwoMapsThroughItsOwner) {
  PatchOptions o;
  o.rational = true;
  o.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch(Bumpy, o);
  Bspline* c = BuildCurveOnSurface(s, 2, {0.1, 0.1, 0.9, 0.3, 0.5, 0.95}, {}, {1.0, 2.0, 0.7});
  const int du[3] = {0, 1, 2}, dv[3] = {0, 0, 0};
  for (double t : {0.0, 0.35, 0.8, 1.0}) {
    double flat[3][3], mapped[3][3];
    ASSERT_EQ(EvalPointOnGeometryM(c, t, 0.0, du, dv, 3, 0, flat), 0);
    ASSERT_EQ(EvalPointOnGeometryM(c, t, 0.0, du, dv, 3, 1, mapped), 0);
    for (int k = 0; k < 3; ++k) {
      double r[3], m[3];
      RefEvalDeriv(c, t, 0.0, k, 0, r);
      EXPECT_NEAR(flat[k][0], r[0], 1e-9 * Scale(r));
      EXPECT_NEAR(flat[k][1], r[1], 1e-9 * Scale(r));
      EXPECT_EQ(flat[k][2], 0.0);
      EvalCrvOnSrfArray(s, c, t, k, m);
      for (int q = 0; q < 3; ++q) EXPECT_NEAR(mapped[k][q], m[q], 1e-9 * Scale(m)) << k;
    }
  }
  FreeBspline(s);
}

TEST_F(EvalDerivsTest, GridEqualsPointEvaluationAndSkipsHighTotalOrders) {
  PatchOptions o;
  o.layout = KnotLayout::Random;
  for (int rational = 0; rational <= 1; ++rational) {
    o.rational = rational;
    Bspline* s = BuildFunctionPatch(Bumpy, o);
    const double us[4] = {0.9, 0.0, 0.45, 1.0}, vs[3] = {0.5, 1.0, 0.1};
    // (2, 1) goes beyond second order in total: on a grid it takes no slot.
    const int du[4] = {1, 2, 0, 1}, dv[4] = {0, 1, 2, 1};
    double** out = allocate_matrix_ff(12, 12);
    ASSERT_EQ(EvalGridOnGeometryM(s, us, vs, 4, 3, du, dv, 4, 0, out), 0);
    const int keptU[3] = {1, 0, 1}, keptV[3] = {0, 2, 1};
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 4; ++i) {
        double p[3][3];
        EvalPointOnGeometryM(s, us[i], vs[j], keptU, keptV, 3, 0, p);
        for (int k = 0; k < 3; ++k)
          for (int c = 0; c < 3; ++c) EXPECT_EQ(out[j * 4 + i][3 * k + c], p[k][c]);
      }
    matrix_free_ff(out);
    FreeBspline(s);
  }
}

TEST_F(EvalDerivsTest, UniformGridOfOnePointIsTheDomainStart) {
  PatchOptions o;
  o.umin = 2.0;
  o.umax = 5.0;
  Bspline* s = BuildFunctionPatch(Bumpy, o);
  const int du[1] = {0}, dv[1] = {0};
  double** out = allocate_matrix_ff(3, 3);
  ASSERT_EQ(EvalUniformGridOnGeometryM(s, 1, 3, du, dv, 1, 0, out), 0);
  for (int j = 0; j < 3; ++j) {
    double r[3];
    RefEvalSurface(s, 2.0, j * 0.5, r);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[j][c], r[c], 1e-12);
  }
  matrix_free_ff(out);
  FreeBspline(s);
}

TEST_F(EvalDerivsTest, GridTablesUnderAllocationFailureLeakNothing) {
  Bspline* s = BuildFunctionPatch(Bumpy);
  const double us[3] = {0.1, 0.5, 0.9}, vs[2] = {0.2, 0.7};
  const int du[2] = {0, 1}, dv[2] = {0, 0};
  double** out = allocate_matrix_ff(6, 6);
  out[0][0] = -1.0;
  int failures = 0;
  for (int skip = 0; skip < 20; ++skip) {
    const int before = MallocTrackedCount();
    MallocFailAfter(skip, -1);
    const int r = EvalGridOnGeometryM(s, us, vs, 3, 2, du, dv, 2, 0, out);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), before);
    if (r == 0) break;
    ++failures;
    EXPECT_EQ(r, -2);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_EQ(out[0][0], -1.0);
    ClearKernelError();
  }
  EXPECT_GT(failures, 0);
  double p[3];
  Eval3DPointOnSurfArray(s, 0.1, 0.2, 0, 0, p);
  EXPECT_EQ(out[0][0], p[0]);
  matrix_free_ff(out);
  FreeBspline(s);
}

TEST_F(EvalDerivsTest, PartialGridOfAnEditRecordEqualsTheFullGrid) {
  PatchOptions o;
  o.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch(Bumpy, o);
  // Grid 4 x 3, then two extra pairs, then one trailing value per direction.
  const double us[7] = {0.0, 0.3, 0.6, 1.0, 0.15, 0.85, 0.5};
  const double vs[6] = {0.0, 0.5, 1.0, 0.25, 0.75, 0.9};
  const int d0[1] = {0};
  double *ut, *vt;
  int *usp, *vsp;
  ASSERT_EQ(EvalNubValsOnGridM(s, us, vs, 7, 6, d0, d0, 1, &ut, &vt, &usp, &vsp), 0);
  int inside[3] = {0, 5, 11}, extra[1] = {1};
  SurfEditStruct rec{};
  rec.inside = inside;
  rec.insideCount = 3;
  rec.extraInside = extra;
  rec.extraInsideCount = 1;
  rec.trailingCount = 1;
  rec.uBasis = ut;
  rec.vBasis = vt;
  rec.uSpans = usp;
  rec.vSpans = vsp;
  rec.nuGrid = 4;
  rec.nvGrid = 3;
  rec.extraPairs = 2;
  float fx[5], fy[5], fz[5];
  rec.x = fx;
  rec.y = fy;
  rec.z = fz;
  double x[5], y[5], z[5];
  ASSERT_EQ(EvalPartialBsplineGridIndices_d(s, &rec, 1, 0, x, y, z, 7), 0);
  ASSERT_EQ(EvalPartialBsplineGridIndices(s, &rec, 1, 0, nullptr, nullptr, nullptr, 7), 0);
  const double pu[5] = {0.0, 0.3, 1.0, 0.85, 0.5}, pv[5] = {0.0, 0.5, 1.0, 0.75, 0.9};
  for (int k = 0; k < 5; ++k) {
    double r[3];
    Eval3DPointOnSurfArray(s, pu[k], pv[k], 1, 0, r);
    EXPECT_NEAR(x[k], r[0], 1e-10) << k;
    EXPECT_NEAR(z[k], r[2], 1e-10) << k;
    EXPECT_NEAR(fz[k], r[2], 1e-5) << k;
  }
  Free(ut);
  Free(vt);
  Free(usp);
  Free(vsp);
  FreeBspline(s);
}

}  // namespace
