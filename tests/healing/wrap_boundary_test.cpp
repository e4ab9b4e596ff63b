// The positional wrap of a boundary curve onto the averaged samples of its edges: the corner
// constraints it builds, their reduction, and the refit written into the right side of the
// surface's control net, for every side and both edge orientations.
#include <cmath>
#include <functional>
#include <vector>

#include "bspline/sfree.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "splinefit/fitsplin.h"
#include "tests/healing/bndr_groups.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

using bndr_test::Group;

// Bicubic patch whose control points sit at the Greville abscissae (a, b) of uniform knots,
// mapped to x, y = o + a eU + b eV, with z = f(x, y). Mirrored maps (eU, eV) give the sides
// any orientation and any numbering against a neighbour.
Bspline* MappedPatch(int nu, int nv, const double o[2], const double eU[2], const double eV[2],
                     const std::function<double(double, double)>& f) {
  const int p = 3;
  const std::vector<double> ku = ClampedKnots(p, nu), kv = ClampedKnots(p, nv);
  auto grev = [&](const std::vector<double>& k, int i) {
    double s = 0.0;
    for (int r = 1; r <= p; ++r) s += k[i + r];
    return s / p;
  };
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double a = grev(ku, i), b = grev(kv, j);
      const double x = o[0] + a * eU[0] + b * eV[0], y = o[1] + a * eU[1] + b * eV[1];
      pts.insert(pts.end(), {x, y, f(x, y)});
    }
  return BuildSurface(p, p, nu, nv, pts);
}

// Second patch of a pair: which side of it meets A and in which orientation.
struct Layout {
  int sideA;  // 3: B lies at x in [1, 2]; 4: B lies at y in [1, 2]
  int sideB;
  bool same;  // B's side runs the same way as A's
  double o[2], eU[2], eV[2];
};

// A is [0, 1]^2 with the identity map; these cover sides 1 to 4 of B in both orientations.
const Layout kLayouts[] = {
    {3, 1, true, {1, 0}, {1, 0}, {0, 1}},   {3, 1, false, {1, 1}, {1, 0}, {0, -1}},
    {3, 3, true, {2, 0}, {-1, 0}, {0, 1}},  {3, 3, false, {2, 1}, {-1, 0}, {0, -1}},
    {4, 2, true, {0, 1}, {1, 0}, {0, 1}},   {4, 2, false, {1, 1}, {-1, 0}, {0, 1}},
    {4, 4, true, {0, 2}, {1, 0}, {0, -1}},  {4, 4, false, {1, 2}, {-1, 0}, {0, -1}},
};

double Hill(double x, double y) { return 0.1 * std::sin(1.7 * x + 0.2) * std::cos(1.1 * y); }

void BuildPair(Group& g, const Layout& L, const std::function<double(double, double)>& fa,
               const std::function<double(double, double)>& fb, int nu = 6, int nv = 5) {
  const double o[2] = {0, 0}, eu[2] = {1, 0}, ev[2] = {0, 1};
  g.srfs.push_back(MappedPatch(nu, nv, o, eu, ev, fa));
  g.srfs.push_back(MappedPatch(nu, nv, L.o, L.eU, L.eV, fb));
}

// Ready for a wrap: sampled, with corner geometry, basis tables and averaged samples.
bool Prepare(Group& g) {
  return g.Build(0.05, 30.0) && SetSkinSrfsFixedCrvs(g.bs) == 0 &&
         SetUpBndrEdgeCornerGeometry(g.bs) == 0 && EvalAllBndrEdgeAvgSampleNormals(g.bs) == 0;
}

// The natural-side curve of surface s on the given side.
int CurveOf(const BndrStruct* bs, int s, int side) {
  for (int c = 0; c < bs->nCrv; ++c)
    if (bs->crvs[c].srfInfo == &bs->srfs[s] && bs->crvs[c].side == side) return c;
  return -1;
}

ShrnkWrapParams StitchOptions(double sigma) {
  ShrnkWrapParams o;
  SetDefaultShrnkWrapParams(&o);
  for (int& r : o.fixedRows) r = -1;
  o.Tension = 0.7;
  double rough = 0.3;
  SmoothnessToRoughness(&rough);
  o.Roughness = rough;
  o.Sigma = sigma;
  return o;
}

std::vector<double> Net(const Bspline* s) {
  const int n = NumCtrlU(s) * NumCtrlV(s);
  std::vector<double> v(s->X[0], s->X[0] + n);
  v.insert(v.end(), s->Y[0], s->Y[0] + n);
  v.insert(v.end(), s->Z[0], s->Z[0] + n);
  return v;
}

bool OnSideRow(const Bspline* s, int side, int k) {
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  const int i = k % (nu * nv) % nu, j = k % (nu * nv) / nu;
  return (side == 1 && i == 0) || (side == 3 && i == nu - 1) || (side == 2 && j == 0) ||
         (side == 4 && j == nv - 1);
}

// Largest distance between the surface's side (textbook evaluator) and a curve.
double SideVsCurve(const Bspline* s, int side, const Bspline* c) {
  double worst = 0.0;
  for (int i = 0; i <= 50; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 50.0;
    double p[3], q[3];
    bndr_test::SidePoint(s, side, t, p);
    RefEvalCurve(c, t, q);
    worst = std::max(worst, bndr_test::Dist(p, q));
  }
  return worst;
}

// Largest distance between A's side and B's side at matching parameters: both patches map
// their parameters linearly onto x and y, so the seam's points correspond at t or 1 - t.
double SeamGap(const Group& g, const Layout& L) {
  double worst = 0.0;
  for (int i = 0; i <= 100; ++i) {
    const double t = i / 100.0;
    double p[3], q[3];
    bndr_test::SidePoint(g.srfs[0], L.sideA, t, p);
    bndr_test::SidePoint(g.srfs[1], L.sideB, L.same ? t : 1.0 - t, q);
    worst = std::max(worst, bndr_test::Dist(p, q));
  }
  return worst;
}

// Residuals of the corner constraints on a curve: positions, and the tangent's component
// along each normal entry relative to the tangent's length.
void ConstraintResiduals(const Bspline* c, const LinearConstraint* k, double* pos, double* tan) {
  *pos = *tan = 0.0;
  for (int i = 0; i < k->nPos; ++i) {
    double p[3];
    RefEvalCurve(c, k->posPar[i], p);
    const double q[3] = {k->posX[i], k->posY[i], k->posZ[i]};
    *pos = std::max(*pos, bndr_test::Dist(p, q));
  }
  for (int i = 0; i < k->nNorm; ++i) {
    double d[3];
    RefEvalDeriv(c, k->normPar[i], 0.0, 1, 0, d);
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double dot = d[0] * k->normX[i] + d[1] * k->normY[i] + d[2] * k->normZ[i];
    *tan = std::max(*tan, std::fabs(dot) / len);
  }
}

using WrapBoundary = KernelTest;

// Two patches of one plane meeting exactly: the averaged samples are the curve's own points,
// the corners its own ends and tangents, and a straight, evenly parametrised curve is already
// the smoothest one through them; the wrap must not move it. Only the fit's small order-0
// energy (0.001 against sample weights of 1 / Sigma) pulls at it, by about 1e-6 here; the
// corners are exact.
TEST_F(WrapBoundary, WrapOntoItsOwnSamplesDoesNotMove) {
  auto plane = [](double x, double y) { return 0.3 * x - 0.2 * y + 1.0; };
  Group g;
  BuildPair(g, kLayouts[0], plane, plane);
  ASSERT_TRUE(Prepare(g));
  const ShrnkWrapParams opt = StitchOptions(0.02);
  for (int s = 0; s < 2; ++s) {
    const int side = s == 0 ? 3 : 1;
    const int c = CurveOf(g.bs, s, side);
    ASSERT_GE(c, 0);
    const std::vector<double> before = Net(g.srfs[s]);
    int reduced = -1;
    ASSERT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced), 0);
    EXPECT_EQ(reduced, 0);
    const std::vector<double> after = Net(g.srfs[s]);
    double worst = 0.0;
    for (size_t k = 0; k < before.size(); ++k)
      worst = std::max(worst, std::fabs(after[k] - before[k]));
    EXPECT_LT(worst, 1e-5);
    const Bspline* W = g.bs->crvs[c].crv3;
    for (double t : {W->umin, W->umax}) {
      double p[3], q[3];
      RefEvalCurve(W, t, p);
      bndr_test::SidePoint(g.srfs[1 - s], s == 0 ? 1 : 3, t, q);
      EXPECT_LT(bndr_test::Dist(p, q), 1e-12);
    }
  }
}

// Every side of B in both orientations: after the wrap the surface's side is the new curve,
// no control point off that side moved, and the corners hold exactly.
TEST_F(WrapBoundary, RowGoesToTheRightSideAndCornersHold) {
  for (const Layout& L : kLayouts) {
    Group g;
    BuildPair(g, L, Hill, [](double x, double y) { return Hill(x, y) + 0.01 + 0.01 * x * y; });
    ASSERT_TRUE(Prepare(g));
    const EdgeInfoStruct* e = g.FirstPaired();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->orient != 0, L.same) << L.sideB;
    const ShrnkWrapParams opt = StitchOptions(0.02);
    const double gap0 = SeamGap(g, L);
    EXPECT_GT(gap0, 0.01);
    for (int s = 0; s < 2; ++s) {
      const int side = s == 0 ? L.sideA : L.sideB;
      const int c = CurveOf(g.bs, s, side);
      ASSERT_GE(c, 0);
      LinearConstraint* k = AllocateNullLinearConstraint();
      ASSERT_EQ(SetBndrCrvWrapConstraint(g.bs, c, k), 0);
      // One edge: its end, then its start, each with two normal entries.
      EXPECT_EQ(k->nPos, 2);
      EXPECT_EQ(k->nNorm, 4);
      const std::vector<double> before = Net(g.srfs[s]);
      int reduced = -1;
      ASSERT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced), 0) << L.sideB << s;
      const Bspline* W = g.bs->crvs[c].crv3;
      EXPECT_LT(SideVsCurve(g.srfs[s], side, W), 1e-12) << "layout " << L.sideB << L.same;
      const std::vector<double> after = Net(g.srfs[s]);
      int off = 0, moved = 0;
      for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        if (OnSideRow(g.srfs[s], side, static_cast<int>(i)))
          ++moved;
        else
          ++off;
      }
      EXPECT_EQ(off, 0);
      EXPECT_GT(moved, 0);
      double pos = 0.0, tan = 0.0;
      ConstraintResiduals(W, k, &pos, &tan);
      EXPECT_LT(pos, 1e-9);
      EXPECT_LT(tan, 1e-9);
      FreeWrapConstraint(k);
    }
    EXPECT_LT(SeamGap(g, L), 0.2 * gap0) << L.sideB << L.same;
  }
}

TEST_F(WrapBoundary, TrimFixedAndBadCurvesAreLeftAlone) {
  Group g;
  BuildPair(g, kLayouts[0], Hill, Hill);
  ASSERT_TRUE(Prepare(g));
  const ShrnkWrapParams opt = StitchOptions(0.02);
  int reduced = 0;
  EXPECT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, -1, &opt, &reduced), -2);
  EXPECT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, g.bs->nCrv, &opt, &reduced), -2);
  EXPECT_EQ(WrapBndrCrv3ToSamplePointNubVals(nullptr, 0, &opt, &reduced), -2);
  const int c = CurveOf(g.bs, 0, 3);
  g.bs->crvs[c].fixed = 1;
  const std::vector<double> before = Net(g.srfs[0]);
  EXPECT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced), 0);
  EXPECT_EQ(WrapBndrCrv3ToSamplePoints(g.bs, c, 1, 1, &opt, &reduced), 0);
  EXPECT_EQ(Net(g.srfs[0]), before);
}

// A curve with a corner inside (a T-junction) on a patch without interior knots: the
// basis-value wrap has to drop that corner, the general wrap with knot insertion keeps all
// three and passes the new knots on to the surface.
TEST_F(WrapBoundary, TooFewKnotsReduceOrInsert) {
  for (int insert = 0; insert < 2; ++insert) {
    Group g;
    const double o[2] = {0, 0}, eu[2] = {1, 0}, ev[2] = {0, 2};
    g.srfs.push_back(MappedPatch(6, 4, o, eu, ev, Hill));
    for (int k = 0; k < 2; ++k) {
      const double ob[2] = {1, double(k)}, eub[2] = {1, 0}, evb[2] = {0, 1};
      g.srfs.push_back(MappedPatch(5, 5, ob, eub, evb, [](double x, double y) {
        return Hill(x, y) + 0.01 * (1.0 + y);
      }));
    }
    ASSERT_TRUE(Prepare(g));
    const int c = CurveOf(g.bs, 0, 3);
    ASSERT_GE(c, 0);
    ASSERT_EQ(g.bs->crvs[c].nEdge, 2);
    LinearConstraint* k = AllocateNullLinearConstraint();
    ASSERT_EQ(SetBndrCrvWrapConstraint(g.bs, c, k), 0);
    EXPECT_EQ(k->nPos, 3);
    const int interiorBefore = g.srfs[0]->interiorV;
    const ShrnkWrapParams opt = StitchOptions(0.02);
    int reduced = -1;
    ASSERT_EQ(WrapBndrCrv3ToSamplePoints(g.bs, c, insert, insert, &opt, &reduced), 0);
    Bspline* W = g.bs->crvs[c].crv3;
    EXPECT_LT(SideVsCurve(g.srfs[0], 3, W), 1e-12);
    double pos = 0.0, tan = 0.0;
    if (insert) {
      EXPECT_EQ(reduced, 0);
      EXPECT_GT(g.srfs[0]->interiorV, interiorBefore);
      ConstraintResiduals(W, k, &pos, &tan);
    } else {
      EXPECT_EQ(reduced, 1);
      EXPECT_EQ(g.srfs[0]->interiorV, interiorBefore);
      // The corners the reduction kept still hold.
      ASSERT_EQ(ReduceWrapConstraint(W, k), 0);
      EXPECT_EQ(k->nPos, 2);
      EXPECT_EQ(k->nNorm, 4);
      ConstraintResiduals(W, k, &pos, &tan);
      // Reduction needs two normal entries per position entry.
      k->nNorm = 3;
      EXPECT_EQ(ReduceWrapConstraint(W, k), -2);
      k->nNorm = 4;
    }
    EXPECT_LT(pos, 1e-9);
    EXPECT_LT(tan, 1e-9);
    FreeWrapConstraint(k);
  }
}

TEST_F(WrapBoundary, FailedWrapLeavesSurfaceAndCurveForm) {
  Group g;
  BuildPair(g, kLayouts[3], Hill, [](double x, double y) { return Hill(x, y) + 0.02; });
  ASSERT_TRUE(Prepare(g));
  const ShrnkWrapParams opt = StitchOptions(0.02);
  const int c = CurveOf(g.bs, 1, 3);
  ASSERT_GE(c, 0);
  const std::vector<double> before = Net(g.srfs[1]);
  const Bspline* formBefore = g.bs->crvs[c].crv3;
  bool succeeded = false;
  int failures = 0;
  for (long k = 0; k < 2000 && !succeeded; ++k) {
    MallocFailAfter(k, -1);
    int reduced = 0;
    const int r = WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced);
    MallocFailClear();
    if (r == 0) {
      succeeded = true;
    } else {
      ++failures;
      EXPECT_EQ(Net(g.srfs[1]), before) << k;
      EXPECT_EQ(g.bs->crvs[c].crv3, formBefore) << k;
      ClearKernelError();
    }
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(failures, 5);
}

}  // namespace
