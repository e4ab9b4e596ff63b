// The tangential heal: cross-boundary derivative curves against the textbook surface
// derivative, the second-row round trip and its corner sharing, and the heal loop on a kinked
// seam measured with an independent evaluator.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

double Wave(double x, double y) { return 0.2 * std::sin(2.0 * x + 0.3) * std::cos(1.5 * y); }

// A stand-alone boundary-curve record of a surface side (no structure around it).
struct SideCurve {
  CrvInfoStruct crv{};
  Owned<Bspline, FreeBspline> form;  // the record's curve form
  SideCurve(Bspline* s, int side) {
    crv.side = side;
    crv.srf = s;
    form.reset(crv.crv3 = GetBndrCrvCurve3Form(&crv));
  }
};

// Random knots on the domain [0.5, 2] x [-1, 1], seven rows in v.
Bspline* RandomPatch(unsigned seed, int degU = 3, int nu = 6) {
  return BuildFunctionPatch(Wave, {.degreeU = degU, .nu = nu, .nv = 7, .umin = 0.5, .umax = 2.0, .vmin = -1.0,
                                   .vmax = 1.0, .layout = KnotLayout::Random, .seed = seed});
}

using TangentHeal = KernelTest;

// The derivative curve is the textbook derivative across the side, and turning it back gives
// the second row; a side with only two rows across has none.
TEST_F(TangentHeal, CrossDerivativeRoundTripsAndThinSidesHaveNoSecondRow) {
  Group own;
  Bspline* s = own.Add(RandomPatch(5));
  for (int side = 1; side <= 4; ++side) {
    SideCurve sc(s, side);
    ASSERT_NE(sc.crv.crv3, nullptr);
    Bspline* D = nullptr;
    ASSERT_EQ(GetBndrCrvCrsDerivBspline(&sc.crv, &D), 0);
    own.Add(D);
    const bool inV = side == 1 || side == 3;
    for (int i = 0; i <= 30; ++i) {
      const double t = D->umin + (D->umax - D->umin) * i / 30.0;
      double u, v, ref[3], got[3];
      SideUV(s, side, t, &u, &v);
      RefEvalDeriv(s, u, v, inV ? 1 : 0, inV ? 0 : 1, ref);
      RefEvalCurve(D, t, got);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], ref[k], 1e-10 * (1.0 + std::fabs(ref[k])));
    }
    Bspline* row = nullptr;
    ASSERT_EQ(ConvertCrsBspline2CorBspline(side, D, s, &row), 0);
    own.Add(row);
    const Bspline* second = own.Add(GetBndrCrvCorBspline(&sc.crv));
    ASSERT_NE(second, nullptr);
    for (int j = 0; j < NumCtrlU(row); ++j)
      for (double** Bspline::*M : {&Bspline::X, &Bspline::Y, &Bspline::Z})
        EXPECT_NEAR((row->*M)[0][j], (second->*M)[0][j], 1e-12);
  }

  Bspline* thin = own.Add(RandomPatch(6, 1, 2));
  for (int side : {1, 3}) {
    SideCurve sc(thin, side);
    EXPECT_EQ(GetBndrCrvCorBspline(&sc.crv), nullptr);
  }
  SideCurve along(thin, 2);
  EXPECT_NE(own.Add(GetBndrCrvCorBspline(&along.crv)), nullptr);  // seven rows across sides 2 and 4
  // A row written to a side with two rows across would land on the opposite boundary.
  SideCurve sc(thin, 1);
  const std::vector<double> before = Net(thin);
  EXPECT_EQ(UpdateSrfWithCorBspl(thin, 1, sc.crv.crv3), -2);
  EXPECT_EQ(Net(thin), before);
}

// Second rows meet at the control point diagonal to a corner: after the pairwise averaging
// both rows hold the same value there, so writing them in either order gives one net; the
// boundary rows never change.
TEST_F(TangentHeal, SecondRowsAgreeAtSharedCorners) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> jitter(-0.05, 0.05);
  for (int a = 1; a <= 4; ++a)
    for (int b = 1; b <= 4; ++b) {
      if (a == b) continue;
      Group own;
      Bspline* s1 = own.Add(RandomPatch(11));
      Bspline* s2 = own.Add(RandomPatch(11));
      SideCurve ca(s1, a), cb(s1, b);
      Bspline* ra = own.Add(GetBndrCrvCorBspline(&ca.crv));
      Bspline* rb = own.Add(GetBndrCrvCorBspline(&cb.crv));
      ASSERT_TRUE(ra && rb);
      for (Bspline* r : {ra, rb})
        for (double** c : {r->X, r->Y, r->Z})
          for (int j = 0; j < NumCtrlU(r); ++j) c[0][j] += jitter(rng);
      const std::vector<double> ax(ra->X[0], ra->X[0] + NumCtrlU(ra));
      UpdateTwoHealNormalCorBspls(ra, rb, a, b);
      if (a % 2 == b % 2) {
        EXPECT_EQ(std::vector<double>(ra->X[0], ra->X[0] + NumCtrlU(ra)), ax);
      }
      const std::vector<double> before = Net(s1);
      ASSERT_EQ(UpdateSrfWithCorBspl(s1, a, ra), 0);
      ASSERT_EQ(UpdateSrfWithCorBspl(s1, b, rb), 0);
      ASSERT_EQ(UpdateSrfWithCorBspl(s2, b, rb), 0);
      ASSERT_EQ(UpdateSrfWithCorBspl(s2, a, ra), 0);
      // Opposite sides with seven rows across write different rows, perpendicular ones share
      // one point that now agrees.
      EXPECT_EQ(Net(s1), Net(s2)) << a << " " << b;
      const std::vector<double> after = Net(s1);
      const int nu = NumCtrlU(s1), nv = NumCtrlV(s1), n = nu * nv;
      for (int k = 0; k < 3 * n; ++k) {
        const int i = k % n % nu, j = k % n / nu;
        if (i > 0 && j > 0 && i < nu - 1 && j < nv - 1) continue;
        EXPECT_EQ(after[k], before[k]) << a << b << " " << i << "," << j;
      }
    }
}

// ---- the heal loop on a two-patch seam ----------------------------------------------------

// Kink across the seam, largest (3 degrees) in the middle; at the seam's ends the outer
// boundary rows fix the tangent planes, which this stage never moves.
double Kink3(double y) { return 3.0 * std::sin(3.14159265358979 * y); }

// A on [0,1]^2 and B on [1,2] x [0,1] over z = 0.1 x + 0.2 y^2, B turned up across the seam
// by kinkDeg(y). Both heights are linear in x, which the control points reproduce exactly, so
// the seam has no gap and no kink of its own. `a`: A's options (6 x 7 bicubic by default).
void GaplessPair(Group& g, double (*kinkDeg)(double), bool reverseB = false, PatchOptions a = {3, 3, 6, 7}) {
  TwoPatches(
      g, kinkDeg, reverseB, [](double) { return 0.0; }, [](double x, double y) { return 0.1 * x + 0.2 * y * y; }, a);
}

int Heal(Group& g, double angleTol) {
  return NewHealSrfGrpEdgeG1Continuity(g.bs, 0.001, angleTol, 25, 0.01, 1.0, 0);
}

// The older loop, without the improvement tests, heals the seam the same way.
TEST_F(TangentHeal, KinkedSeamHealsWhileBoundaryAndInnerRowsStay) {
  for (int run = 0; run < 3; ++run) {
    const bool reverseB = run == 1, older = run == 2;
    Group g;
    GaplessPair(g, Kink3, reverseB);
    ASSERT_TRUE(g.Prepare(0.01, 10.0));
    ASSERT_EQ(g.PairedCount(), 1);
    ASSERT_EQ(g.FirstPaired()->continuity, 1);
    double gap0, angle0;
    ParamSeamMeasures(g.srfs[0], 3, g.srfs[1], 1, reverseB, &gap0, &angle0);  // along x = 1
    ASSERT_GT(angle0, 2.5);
    const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
    const double angleTol = 1.0;
    ASSERT_EQ(older ? HealSrfGrpEdgeG1Continuity(g.bs, 0.001, angleTol) : Heal(g, angleTol), 0);
    double gap1, angle1;
    ParamSeamMeasures(g.srfs[0], 3, g.srfs[1], 1, reverseB, &gap1, &angle1);
    EXPECT_LT(angle1, angleTol) << "run " << run;
    EXPECT_LT(gap1, 1e-9);
    // Only the second row next to the seam (A's u-max, B's u-min) moves, without its ends.
    for (int s = 0; s < 2; ++s) {
      const std::vector<double>& before = s == 0 ? a0 : b0;
      const std::vector<double> after = Net(g.srfs[s]);
      const int nu = NumCtrlU(g.srfs[s]), nv = NumCtrlV(g.srfs[s]), n = nu * nv;
      int moved = 0;
      for (int k = 0; k < 3 * n; ++k) {
        const int i = k % n % nu, j = k % n / nu;
        if (i == (s == 0 ? nu - 2 : 1) && j > 0 && j < nv - 1)
          moved += after[k] != before[k];
        else
          EXPECT_EQ(after[k], before[k]) << "surface " << s << " at " << i << "," << j;
      }
      EXPECT_GT(moved, 0);
    }
  }
}

// Where the stage must not act: a 20-degree kink is no smooth joint at a 10-degree tolerance;
// a fixed surface, and a side two rows thick (no second row to turn), keep their points while
// the other side still turns.
TEST_F(TangentHeal, KinkedFixedAndThinSidesAreLeftAlone) {
  const struct {
    double (*kink)(double);
    PatchOptions a;
    bool fixA, movesB;
  } cases[] = {{[](double) { return 20.0; }, {3, 3, 6, 7}, false, false},
               {Kink3, {3, 3, 6, 7}, true, true},
               {Kink3, {1, 3, 2, 7}, false, true}};
  for (const auto& c : cases) {
    Group g;
    GaplessPair(g, c.kink, false, c.a);
    ASSERT_TRUE(g.Prepare(0.01, 10.0));
    ASSERT_EQ(g.FirstPaired()->continuity, c.movesB ? 1 : 0);
    g.bs->srfs[0].fixed = c.fixA;
    ASSERT_EQ(SetSkinSrfsFixedCrvs(g.bs), 0);
    const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
    EXPECT_EQ(Heal(g, 1.0), 0);
    EXPECT_EQ(Net(g.srfs[0]), a0);
    EXPECT_EQ(Net(g.srfs[1]) != b0, c.movesB);
  }
  EXPECT_EQ(NewHealSrfGrpEdgeG1Continuity(nullptr, 0.001, 1.0, 25, 0.01, 1.0, 0), -2);
}

// The normal both sides of a smooth seam turn to divides their angle inversely to how far each
// must move its row inside to turn: plane A (rows 0.5 apart across the seam x = 0) and plane B
// tilted by theta about the seam, its rows `legB` apart. With w = legB / (legA + legB), the
// target lies phi from A's normal, tan phi = w sin theta / (1 - w + w cos theta): equal legs
// halve the angle, a fine net beside a coarse one takes nearly all of it, and a side with no row
// inside (a bilinear plane) keeps its own normal while the other takes the whole turn.
TEST_F(TangentHeal, SeamNormalTargetFavoursTheNetThatMovesLess) {
  const double theta = 4.0 * kDeg;
  const struct {
    int nuA;        // rows of A across the seam (2: none inside)
    double widthB;  // B's width across, three rows
  } cases[] = {{3, 1.0}, {3, 0.1}, {3, 10.0}, {2, 0.1}};
  for (const auto& c : cases) {
    Group g;
    PatchOptions a = {c.nuA - 1, 3, c.nuA, 5};
    a.x0 = -1.0, a.x1 = 0.0;
    g.Add(BuildFunctionPatch([](double, double) { return 0.0; }, a));
    PatchOptions b = {2, 3, 3, 5};
    b.x0 = 0.0, b.x1 = c.widthB;
    g.Add(BuildFunctionPatch([=](double x, double) { return std::tan(theta) * x; }, b));
    ASSERT_TRUE(g.Prepare(0.01, 8.0));
    const EdgeInfoStruct* e = g.FirstPaired();
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->continuity, 1);
    const double legA = 1.0 / (c.nuA - 1), legB = 0.5 * c.widthB / std::cos(theta);
    const double w = c.nuA == 2 ? 0.0 : legB / (legA + legB);
    const double phi = std::atan2(w * std::sin(theta), 1.0 - w + w * std::cos(theta));
    const double nA[3] = {0.0, 0.0, 1.0};
    const bool aIsFirst = e->infoA->srf == g.srfs[0];
    for (int i = 1; i + 1 < e->nSample; ++i) {
      const double n[3] = {e->avgNx[i], e->avgNy[i], e->avgNz[i]};
      const double fromA = std::acos(std::clamp(Dot(n, nA) / Len(n), -1.0, 1.0));
      EXPECT_NEAR(fromA, phi, 1e-9) << "rows " << c.nuA << " width " << c.widthB << " sample " << i << " A first "
                                    << aIsFirst;
    }
  }
}

// One pass on one surface, failing at every allocation in turn until a pass goes through: a
// failed pass leaves the surface as it was, the one that goes through corrects it.
TEST_F(TangentHeal, AllocationFailuresLeaveTheSurface) {
  Group g;
  GaplessPair(g, Kink3);
  ASSERT_TRUE(g.Prepare(0.01, 10.0));
  const std::vector<double> before = Net(g.srfs[0]);
  EXPECT_GT(FailUntilSuccess([&] { return UpdateBsrfNormalsAlongBndrCrvs(g.bs, 0); }, [&] { return Net(g.srfs[0]); },
                             3000),
            3);
  EXPECT_NE(Net(g.srfs[0]), before);
}

}  // namespace
