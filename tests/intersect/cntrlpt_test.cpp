// Direct editing: the control points a drag moves, edits that move the dragged point or iso line
// by exactly the displacement (also with fixed control points and clusters), the deviation of
// the edit points, the display-grid region, and clean failure under injected allocation faults.
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/sfree.h"
#include "intersect/cntrlpt.h"
#include "surface/srfutils.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Edit : public KernelTest {};

// Cubic curve with 7 control points: simple interior knots 0.25, 0.5, 0.75.
Bspline* Cubic7(BsplineKeeper& keep) { return keep(BuildRandomCurve(3, 3, 7, 3, false, KnotLayout::Uniform)); }

Bspline* Patch(BsplineKeeper& keep) {
  PatchOptions o;
  o.nu = 6;
  o.nv = 5;
  return keep(BuildFunctionPatch([](double x, double y) { return std::sin(2 * x) * std::cos(3 * y); }, o));
}

std::vector<int> Affected(const Bspline* b, double u, double v) {
  int idx[4], c = 0;
  FindAffectedCntrlPtIndicesPoint(b, u, v, idx, &c);
  return std::vector<int>(idx, idx + c);
}

// Drags obj at (u, v) by d and checks the point moved by exactly d; returns the moved list.
std::vector<int> DragAndCheck(Bspline* obj, double u, double v, const double d[3],
                              const int* fixed = nullptr) {
  double before[3], after[3];
  auto eval = [&](double* out) {
    if (obj->kind == 2) RefEvalSurface(obj, u, v, out); else RefEvalCurve(obj, u, out);
  };
  eval(before);
  double Nu[26], Nv[26];
  int su = 0, sv = 0, moved[4], c = 0;
  SetupDirectEditing(obj, u, v, Nu, Nv, &su, &sv);
  GetNewCntrlPtVals(obj, u, v, moved, &c, d[0], d[1], d[2], Nu, Nv, su, sv, fixed);
  eval(after);
  if (!fixed) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(after[k] - before[k], d[k], 1e-12) << u << " " << v;
  }
  return std::vector<int>(moved, moved + c);
}

TEST_F(Edit, CurveDragsMoveOneOrTwoPointsAndThePointByExactlyD) {
  BsplineKeeper keep;
  Bspline* c = Cubic7(keep);
  EXPECT_EQ(Affected(c, 0.5, 0), (std::vector<int>{3}));      // simple interior knot
  EXPECT_EQ(Affected(c, 0.5002, 0), (std::vector<int>{3}));   // snaps to it
  EXPECT_EQ(Affected(c, 0.6, 0), (std::vector<int>{3, 4}));   // inside a span
  EXPECT_EQ(Affected(c, 0.0, 0), (std::vector<int>{0}));      // domain start
  EXPECT_EQ(Affected(c, 1.0, 0), (std::vector<int>{6}));      // domain end
  EXPECT_EQ(Affected(c, -3.0, 0), (std::vector<int>{0}));     // clamped into the domain
  const double d[3] = {0.3, -0.2, 0.7};
  for (double t : {0.0, 0.1, 0.25, 0.3, 0.5, 0.6, 0.75, 0.9, 0.999, 1.0}) {
    const std::vector<int> moved = DragAndCheck(c, t, 0, d);
    EXPECT_EQ(moved, Affected(c, t, 0)) << t;
  }
}

TEST_F(Edit, SurfaceDragsMoveOneTwoOrFourPoints) {
  BsplineKeeper keep;
  Bspline* s = Patch(keep);  // u knots 1/3, 2/3; v knot 1/2
  EXPECT_EQ(Affected(s, 0.5, 0.3).size(), 4u);
  EXPECT_EQ(Affected(s, 1.0 / 3, 0.5), (std::vector<int>{6 * 2 + 2}));
  EXPECT_EQ(Affected(s, 1.0 / 3, 0.3).size(), 2u);
  EXPECT_EQ(Affected(s, 0.0, 0.0), (std::vector<int>{0}));
  EXPECT_EQ(Affected(s, 1.0, 1.0), (std::vector<int>{29}));
  const std::vector<int> a = Affected(s, 0.5, 0.3);
  EXPECT_EQ(a[1], a[0] + 1);
  EXPECT_EQ(a[2], a[0] + 6);
  std::mt19937 rng(4);
  for (int k = 0; k < 40; ++k) {
    const double u = Uniform(rng, 0, 1), v = Uniform(rng, 0, 1);
    const double d[3] = {Uniform(rng, -1, 1), Uniform(rng, -1, 1), Uniform(rng, -1, 1)};
    EXPECT_EQ(DragAndCheck(s, u, v, d), Affected(s, u, v));
  }
  for (double u : {0.0, 1.0 / 3, 0.5, 1.0})
    for (double v : {0.0, 0.5, 0.8, 1.0}) {
      const double d[3] = {0.1, 0.2, 0.3};
      DragAndCheck(s, u, v, d);
    }
}

TEST_F(Edit, FixedFirstPointLeavesTheSecondItsOwnShare) {
  BsplineKeeper keep;
  Bspline* c = Cubic7(keep);
  const double t = 0.6, d[3] = {1.0, 2.0, -1.0};
  // Span [0.5, 0.75): s = 0.4, base 3 is N(3), base + 1 is N(4).
  const double* U = c->knotsU;
  const double s = (t - 0.5) / 0.25, q = s / (1 - s);
  const double N0 = RefBasis(U, 11, 3, 3, t), N1 = RefBasis(U, 11, 4, 3, t);
  std::vector<int> fixed(7, 0);
  fixed[3] = 1;
  const double x3 = c->X[0][3], x4 = c->X[0][4], z4 = c->Z[0][4];
  const std::vector<int> moved = DragAndCheck(c, t, 0, d, fixed.data());
  EXPECT_EQ(moved, (std::vector<int>{4}));
  EXPECT_EQ(c->X[0][3], x3);
  EXPECT_NEAR(c->X[0][4] - x4, q * d[0] / (N0 + q * N1), 1e-12);
  EXPECT_NEAR(c->Z[0][4] - z4, q * d[2] / (N0 + q * N1), 1e-12);
}

TEST_F(Edit, LineEditMovesTheWholeIsoLineAndKeepsFixedPairs) {
  BsplineKeeper keep;
  for (int dir = 0; dir < 2; ++dir)
    for (double t : {0.0, 0.4, 0.5, 1.0}) {
      Bspline* s = Patch(keep);
      std::vector<double> before;
      const double d[3] = {0.2, -0.4, 0.5};
      auto at = [&](double w, double* out) {
        dir == 0 ? RefEvalSurface(s, t, w, out) : RefEvalSurface(s, w, t, out);
      };
      for (int k = 0; k <= 10; ++k) {
        double p[3];
        at(k / 10.0, p);
        before.insert(before.end(), p, p + 3);
      }
      double N[26];
      int span = 0, moved[24], c = 0, listed[24], lc = 0;
      SetupDirectEditingLine(s, t, N, &span, dir);
      FindAffectedCntrlPtIndicesLineEdit(s, t, listed, &lc, dir);
      GetNewCntrlPtValsLineEdit(s, t, moved, &c, nullptr, d[0], d[1], d[2], N, span, dir);
      EXPECT_EQ(std::vector<int>(moved, moved + c), std::vector<int>(listed, listed + lc));
      for (int k = 0; k <= 10; ++k) {
        double p[3];
        at(k / 10.0, p);
        for (int e = 0; e < 3; ++e) EXPECT_NEAR(p[e] - before[3 * k + e], d[e], 1e-12) << dir << t;
      }
    }
  // A fixed first point keeps its pair; the other pairs still move.
  Bspline* s = Patch(keep);
  std::vector<int> fixed(30, 0);
  int listed[24], lc = 0, moved[24], c = 0;
  FindAffectedCntrlPtIndicesLineEdit(s, 0.5, listed, &lc, 0);
  ASSERT_EQ(lc, 10);
  fixed[listed[2]] = 1;
  const double keepX = s->X[1][listed[3] % 6];
  double N[26];
  int span = 0;
  SetupDirectEditingLine(s, 0.5, N, &span, 0);
  GetNewCntrlPtValsLineEdit(s, 0.5, moved, &c, fixed.data(), 1, 1, 1, N, span, 0);
  EXPECT_EQ(c, 8);
  EXPECT_EQ(s->X[1][listed[3] % 6], keepX);
}

TEST_F(Edit, ClusterEditMovesASharedPointOnce) {
  BsplineKeeper keep;
  Bspline* c = Cubic7(keep);
  Bspline* ref = Cubic7(keep);  // the same curve, dragged at the first parameter alone
  const double d[3] = {0.5, 0.0, 0.0};
  const double uv[4] = {0.55, 0, 0.7, 0};  // {3, 4} and {3, 4}... in one span: shared both
  const double uv2[4] = {0.45, 0, 0.6, 0};  // {2, 3} then {3, 4}: 3 shared
  std::vector<int> moved(7);
  int count = 0;
  ASSERT_EQ(GetNewCntrlPtValsClusterEdit(c, uv2, 2, moved.data(), &count, nullptr, d[0], d[1], d[2]), 0);
  EXPECT_EQ(std::vector<int>(moved.begin(), moved.begin() + count), (std::vector<int>{2, 3, 4}));
  DragAndCheck(ref, 0.45, 0, d);
  EXPECT_EQ(c->X[0][3], ref->X[0][3]);  // moved at the first parameter only
  EXPECT_EQ(c->X[0][2], ref->X[0][2]);
  EXPECT_NE(c->X[0][4], ref->X[0][4]);
  // Both parameters on the same pair: the second edit finds nothing left to move.
  Bspline* e = Cubic7(keep);
  ASSERT_EQ(GetNewCntrlPtValsClusterEdit(e, uv, 2, moved.data(), &count, nullptr, 1, 0, 0), 0);
  EXPECT_EQ(count, 2);
}

TEST_F(Edit, DeviationMeasuresTheEditPointsMovement) {
  BsplineKeeper keep;
  Bspline* s = Patch(keep);
  const int pts[4] = {7, 8, 13, 14};
  UpdateEditStruct* rec = nullptr;
  ASSERT_EQ(SetupUpdateEditStructCPT(s, pts, 4, &rec), 0);
  EXPECT_EQ(ComputeDeviationOfBsplineCPT(s, rec), 0.0);
  std::vector<double> before;
  auto greville = [&](int i, double* out) {
    const double* U = s->knotsU; const double* V = s->knotsV;
    const int a = i % 6, b = i / 6;
    const double u = (U[a + 1] + U[a + 2] + U[a + 3]) / 3, v = (V[b + 1] + V[b + 2] + V[b + 3]) / 3;
    RefEvalSurface(s, u, v, out);
  };
  for (int i : pts) {
    double p[3];
    greville(i, p);
    before.insert(before.end(), p, p + 3);
  }
  const double d[3] = {0.3, 0.1, -0.2};
  DragAndCheck(s, 0.45, 0.35, d);
  double worst = 0;
  for (int k = 0; k < 4; ++k) {
    double p[3];
    greville(pts[k], p);
    worst = std::max(worst, std::hypot(p[0] - before[3 * k], p[1] - before[3 * k + 1], p[2] - before[3 * k + 2]));
  }
  EXPECT_GT(worst, 0.01);
  EXPECT_NEAR(ComputeDeviationOfBsplineCPT(s, rec), worst, 1e-12);
  FreeUpdateEditStruct(rec);
  EXPECT_EQ(ComputeDeviationOfBsplineCPT(s, rec), -3.37e38);
  ASSERT_EQ(SetupUpdateEditStructPnt(1, 2, 3, &rec), 0);
  EXPECT_DOUBLE_EQ(ComputeDeviationOfBsplinePnt(rec, 1, 2, 5), 2.0);
  FreeUpdateEditStruct(rec);
  Free(rec);
}

TEST_F(Edit, PartialGridListsThePointsInsideTheRegionEdgeIncluded) {
  BsplineKeeper keep;
  Bspline* s = Patch(keep);
  const int pts[1] = {2 + 6 * 2};  // an inner point of this small net reaches every span
  double e[4];
  GetControlPointEffectExtent(s, pts[0], e);
  EXPECT_DOUBLE_EQ(e[0], 0.0);
  EXPECT_DOUBLE_EQ(e[1], 1.0);
  EXPECT_DOUBLE_EQ(e[2], 0.0);
  EXPECT_DOUBLE_EQ(e[3], 1.0);
  const int corner[1] = {0};
  GetControlPointEffectExtent(s, corner[0], e);  // u [0, 1/3], v [0, 1/2]
  // Grid values: on the edge, just outside by 2e-6 of the range, well inside and outside.
  const double u[5] = {1.0 / 3, 1.0 / 3 + 2e-6, 0.1, 0.9, 0.2};  // last: an extra pair
  const double v[4] = {0.5, 0.2, 0.9, 0.4};
  SurfEditStruct* rec = nullptr;
  ASSERT_EQ(SetupEvalPartialGridCntPnt(s, corner, 1, u, v, 4, 3, 1, 0, &rec), 0);
  std::set<int> inside(rec->inside, rec->inside + rec->insideCount);
  EXPECT_EQ(inside, (std::set<int>{0, 2, 4, 6}));  // u 0 and 2 with v 0 and 1
  EXPECT_EQ(rec->extraInsideCount, 1);
  // A second edit reuses the tables and lists afresh.
  const int far[1] = {29};
  ASSERT_EQ(SetupEvalPartialGridCntPnt(s, far, 1, u, v, 4, 3, 1, 0, &rec), 0);
  std::set<int> inside2(rec->inside, rec->inside + rec->insideCount);
  EXPECT_EQ(inside2, (std::set<int>{3, 11}));  // u 0.9 with v 0.5 (the edge) and 0.9
  ASSERT_EQ(EvalPartialBsplineGridIndices_d(s, rec, 0, 0, nullptr, nullptr, nullptr, 1), 0);
  FreeSurfEditStruct(&rec);
  EXPECT_EQ(rec, nullptr);
}

TEST_F(Edit, InjectedFailuresLeaveNoRecordAndNothingTracked) {
  BsplineKeeper keep;
  Bspline* s = Patch(keep);
  const int pts[4] = {7, 8, 13, 14};
  const double u[3] = {0.1, 0.5, 0.9}, v[3] = {0.1, 0.5, 0.9};
  const int failures = RunWithInjectedFailures(80, 1, [&] {
    SurfEditStruct* g = nullptr;
    UpdateEditStruct* r = nullptr;
    int rc = SetupEvalPartialGridCntPnt(s, pts, 4, u, v, 3, 3, 0, 0, &g);
    if (rc != 0) {
      EXPECT_EQ(g, nullptr);
    }
    if (rc == 0) rc = SetupUpdateEditStructCPT(s, pts, 4, &r);
    if (rc != 0) {
      EXPECT_EQ(r, nullptr);
    }
    std::vector<int> moved(30);
    int count = 0;
    const double uv[2] = {0.5, 0.5};
    if (rc == 0) rc = GetNewCntrlPtValsClusterEdit(s, uv, 1, moved.data(), &count, nullptr, 0, 0, 0);
    FreeSurfEditStruct(&g);
    if (r) {
      FreeUpdateEditStruct(r);
      Free(r);
    }
    return rc;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 80);
}

// A flat 10 x 10 bicubic (knot lines at sevenths) with the square hole [a, b]^2 as a loop of
// four straight cubic sides.
Bspline* HoledPlane(BsplineKeeper& keep, double a, double b) {
  PatchOptions o;
  o.nu = o.nv = 10;
  Bspline* s = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
  const double c[5][2] = {{a, a}, {b, a}, {b, b}, {a, b}, {a, a}};
  std::vector<Bspline*> sides;
  for (int k = 0; k < 4; ++k) {
    std::vector<double> uv;
    for (int i = 0; i < 4; ++i)
      for (int e = 0; e < 2; ++e) uv.push_back(c[k][e] + (c[k + 1][e] - c[k][e]) * i / 3.0);
    sides.push_back(BuildCurveOnSurface(s, 3, uv));
  }
  AddLoop(s, sides, 1);
  return s;
}

// n by reference: it is read after the call that fills it.
std::vector<int> Vec(int* a, const int& n) {
  std::vector<int> v(a, a + n);
  Free(a);
  return v;
}

TEST_F(Edit, BoundaryRequestFixesRowsAndKnotLines) {
  BsplineKeeper keep;
  Bspline* s = Patch(keep);  // 6 x 5 bicubic, knot grid 4 x 3
  int n = 0;
  const int left[4] = {1, -1, -1, -1}, none[4] = {-1, -1, -1, -1}, all[4] = {0, 0, 0, 0};
  std::vector<int> fixedLeft;
  for (int j = 0; j < 5; ++j) fixedLeft.insert(fixedLeft.end(), {6 * j, 6 * j + 1});
  EXPECT_EQ(Vec(GetFixCntrlPtIndicesNonTrim(s, left, &n), n), fixedLeft);
  std::vector<int> editable = Vec(FindEditableCntPntsBspline(s, left, nullptr, &n), n);
  EXPECT_EQ(editable.size(), 20u);
  for (int i : editable) EXPECT_GE(i % 6, 2);
  EXPECT_EQ(Vec(FindEditableCntPntsBspline(s, none, nullptr, &n), n).size(), 30u);
  // Order 0 on every side leaves the inner 4 x 3 block.
  EXPECT_EQ(Vec(FindEditableCntPntsBspline(s, all, nullptr, &n), n).size(), 12u);
  // Knot lines: order 1 on u minimum fixes line i = 0; spans touching it are not editable.
  EXPECT_EQ(Vec(GetFixKnotIndicesNonTrim(s, left, &n), n), (std::vector<int>{0, 4, 8}));
  int* regions = FindEditableRegionsOfBspline(s, left, nullptr);
  EXPECT_EQ(std::vector<int>(regions, regions + 6), (std::vector<int>{0, 1, 1, 0, 1, 1}));
  Free(regions);
  // Even degree, order 2: the high side fixes one line more than the low side.
  PatchOptions o;
  o.degreeU = o.degreeV = 2;
  o.nu = o.nv = 8;
  Bspline* q = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
  const int lowU[4] = {2, -1, -1, -1}, highU[4] = {-1, -1, 2, -1};
  EXPECT_EQ(Vec(GetFixKnotIndicesNonTrim(q, lowU, &n), n).size(), 2u * 7);
  EXPECT_EQ(Vec(GetFixKnotIndicesNonTrim(q, highU, &n), n).size(), 3u * 7);
  // Requests that leave no free line fix the whole grid.
  const int greedy[4] = {3, -1, 3, -1};
  EXPECT_EQ(Vec(GetFixKnotIndicesNonTrim(s, greedy, &n), n).size(), 12u);
}

TEST_F(Edit, PointsInAHoleStayUnlessTheirLoopMayBeEdited) {
  BsplineKeeper keep;
  Bspline* s = HoledPlane(keep, 0.25, 0.75);
  const int none[4] = {-1, -1, -1, -1};
  int n = 0;
  std::vector<int> nearLoop = Vec(GetFixCntrlPtIndicesTrimCurve(s, s->trims->loopCurves, 0, &n), n);
  ASSERT_FALSE(nearLoop.empty());
  const int editableFlag = -1, fixedFlag = 0;
  const std::vector<int> open = Vec(FindEditableCntPntsBspline(s, none, &editableFlag, &n), n);
  const std::vector<int> shut = Vec(FindEditableCntPntsBspline(s, none, &fixedFlag, &n), n);
  const std::set<int> openSet(open.begin(), open.end()), shutSet(shut.begin(), shut.end());
  double* gu = FindParamValuesOfCoefi(s, 0);
  double* gv = FindParamValuesOfCoefi(s, 1);
  const std::set<int> near(nearLoop.begin(), nearLoop.end());
  for (int k = 0; k < 100; ++k) {
    const bool inHole = gu[k % 10] > 0.25 && gu[k % 10] < 0.75 && gv[k / 10] > 0.25 && gv[k / 10] < 0.75;
    const bool isNear = near.count(k) > 0;
    EXPECT_EQ(shutSet.count(k) > 0, !isNear && !inHole) << k;
    EXPECT_EQ(openSet.count(k) > 0, isNear || !inHole) << k;
  }
  Free(gu);
  Free(gv);
  // A loop that may be edited leaves its knot spans editable; a fixed one closes those it
  // surrounds.
  int* openRegions = FindEditableRegionsOfBspline(s, none, &editableFlag);
  int* shutRegions = FindEditableRegionsOfBspline(s, none, &fixedFlag);
  int openCount = 0, shutCount = 0;
  for (int r = 0; r < 49; ++r) {
    openCount += openRegions[r];
    shutCount += shutRegions[r];
    EXPECT_LE(shutRegions[r], openRegions[r]);
  }
  EXPECT_EQ(openCount, 49);
  EXPECT_LT(shutCount, 49);
  Free(openRegions);
  Free(shutRegions);
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    int c = 0;
    int* e = FindEditableCntPntsBspline(s, none, &fixedFlag, &c);
    int* r = FindEditableRegionsOfBspline(s, none, &fixedFlag);
    int* k = GetFixKnotIndicesTrimCurve(s, s->trims->loopCurves, 0, &c);
    const int rc = e && r && k ? 0 : -2;
    Free(e);
    Free(r);
    Free(k);
    return rc;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace

namespace {

class EditRefusal : public KernelTest {};

// Every coordinate of the record's net, to tell that a refused edit moved nothing.
std::vector<double> Net(const Bspline* b) {
  const int n = NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1);
  std::vector<double> v(b->X[0], b->X[0] + n);
  v.insert(v.end(), b->Y[0], b->Y[0] + n);
  v.insert(v.end(), b->Z[0], b->Z[0] + n);
  return v;
}

// A degree past the evaluators' limit, a curve where a surface's two directions are read and a
// drag that is not a number: each refused with -2 and the error state, nothing written, where
// the degree read past the knots and the curve's missing v knots were read as a surface's.
TEST_F(EditRefusal, RecordsAndDragsTheEditCannotUseAreRefused) {
  BsplineKeeper keep;
  Bspline* srf = Patch(keep);
  Bspline* crv = Cubic7(keep);
  int idx[4] = {-7, -7, -7, -7}, count = -7;

  const int degree = srf->degreeV;
  srf->degreeV = 23;
  EXPECT_EQ(FindAffectedCntrlPtIndicesSrf(srf, 0.4, 0.6, idx, &count), -2);
  EXPECT_TRUE(KernelFailed());
  EXPECT_EQ(count, -7);
  EXPECT_EQ(FindAffectedCntPntsGivenParVal(srf, 0.4, 0.6, idx, &count), -2);
  EXPECT_EQ(count, -7);
  srf->degreeV = degree;
  ClearKernelError();

  double basis[kMaxSplineDegree + 2] = {};
  int span = -7;
  EXPECT_EQ(SetupDirectEditingLine(crv, 0.5, basis, &span, 1), -2);
  EXPECT_EQ(FindAffectedCntrlPtIndicesLineEdit(crv, 0.5, idx, &count, 1), -2);
  EXPECT_EQ(span, -7);
  EXPECT_EQ(count, -7);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();

  const std::vector<double> before = Net(srf);
  const double nan = std::nan("");
  int moved[4];
  EXPECT_EQ(GetNewCntrlPtVals(srf, 0.4, 0.6, moved, &count, nan, 0.0, 0.0, nullptr, nullptr, -1, -1, nullptr),
            -2);
  EXPECT_EQ(GetNewCntrlPtValsLineEdit(srf, nan, moved, &count, nullptr, 0.1, 0.0, 0.0, nullptr, -1, 0), -2);
  const double uv[2] = {0.4, nan};
  EXPECT_EQ(GetNewCntrlPtValsClusterEdit(srf, uv, 1, moved, &count, nullptr, 0.1, 0.0, 0.0), -2);
  EXPECT_EQ(Net(srf), before);
  EXPECT_EQ(count, -7);
  EXPECT_TRUE(KernelFailed());
}

}  // namespace
