// The tangential heal: cross-boundary derivative curves against the textbook surface
// derivative, the second-row round trip and its corner sharing, and the heal loop on a kinked
// seam measured with an independent evaluator.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "tests/healing/bndr_groups.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

using bndr_test::Group;

double Wave(double x, double y) { return 0.2 * std::sin(2.0 * x + 0.3) * std::cos(1.5 * y); }

std::vector<double> Net(const Bspline* s) {
  const int n = NumCtrlU(s) * NumCtrlV(s);
  std::vector<double> v(s->X[0], s->X[0] + n);
  v.insert(v.end(), s->Y[0], s->Y[0] + n);
  v.insert(v.end(), s->Z[0], s->Z[0] + n);
  return v;
}

// A stand-alone boundary-curve record of a surface side (no structure around it).
struct SideCurve {
  CrvInfoStruct crv{};
  SideCurve(Bspline* s, int side) {
    crv.side = side;
    crv.srf = s;
    crv.crv3 = GetBndrCrvCurve3Form(&crv);
  }
  ~SideCurve() { FreeBspline(crv.crv3); }
  SideCurve(const SideCurve&) = delete;
  SideCurve& operator=(const SideCurve&) = delete;
};

Bspline* RandomPatch(unsigned seed, int degU = 3, int nu = 6) {
  PatchOptions o;
  o.degreeU = degU;
  o.nu = nu;
  o.nv = 7;
  o.umin = 0.5;
  o.umax = 2.0;
  o.vmin = -1.0;
  o.vmax = 1.0;
  o.layout = KnotLayout::Random;
  o.seed = seed;
  return BuildFunctionPatch(Wave, o);
}

using TangentHeal = KernelTest;

// The derivative curve is the textbook derivative across the side, and turning it back gives
// the second row.
TEST_F(TangentHeal, CrossDerivativeMatchesSurfaceAndRoundTrips) {
  Bspline* s = RandomPatch(5);
  for (int side = 1; side <= 4; ++side) {
    SideCurve sc(s, side);
    ASSERT_NE(sc.crv.crv3, nullptr);
    Bspline* D = nullptr;
    ASSERT_EQ(GetBndrCrvCrsDerivBspline(&sc.crv, &D), 0);
    const bool inV = side == 1 || side == 3;
    for (int i = 0; i <= 30; ++i) {
      const double t = D->umin + (D->umax - D->umin) * i / 30.0;
      double u, v, ref[3], got[3];
      bndr_test::SideUV(s, side, t, &u, &v);
      RefEvalDeriv(s, u, v, inV ? 1 : 0, inV ? 0 : 1, ref);
      RefEvalCurve(D, t, got);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], ref[k], 1e-10 * (1.0 + std::fabs(ref[k])));
    }
    Bspline* row = nullptr;
    ASSERT_EQ(ConvertCrsBspline2CorBspline(side, D, s, &row), 0);
    Bspline* second = GetBndrCrvCorBspline(&sc.crv);
    ASSERT_NE(second, nullptr);
    for (int j = 0; j < NumCtrlU(row); ++j) {
      EXPECT_NEAR(row->X[0][j], second->X[0][j], 1e-12);
      EXPECT_NEAR(row->Y[0][j], second->Y[0][j], 1e-12);
      EXPECT_NEAR(row->Z[0][j], second->Z[0][j], 1e-12);
    }
    FreeBspline(second);
    FreeBspline(row);
    FreeBspline(D);
  }
  FreeBspline(s);
}

TEST_F(TangentHeal, TwoRowsAcrossHaveNoSecondRow) {
  Bspline* s = RandomPatch(6, 1, 2);
  for (int side : {1, 3}) {
    SideCurve sc(s, side);
    EXPECT_EQ(GetBndrCrvCorBspline(&sc.crv), nullptr);
  }
  SideCurve along(s, 2);
  Bspline* row = GetBndrCrvCorBspline(&along.crv);
  ASSERT_NE(row, nullptr);  // seven rows across sides 2 and 4
  FreeBspline(row);
  // A row written to a side with two rows across would land on the opposite boundary.
  SideCurve sc(s, 1);
  const std::vector<double> before = Net(s);
  EXPECT_EQ(UpdateSrfWithCorBspl(s, 1, sc.crv.crv3), -2);
  EXPECT_EQ(Net(s), before);
  FreeBspline(s);
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
      Bspline* s1 = RandomPatch(11);
      Bspline* s2 = RandomPatch(11);
      SideCurve ca(s1, a), cb(s1, b);
      Bspline* ra = GetBndrCrvCorBspline(&ca.crv);
      Bspline* rb = GetBndrCrvCorBspline(&cb.crv);
      ASSERT_TRUE(ra && rb);
      for (Bspline* r : {ra, rb})
        for (int j = 0; j < NumCtrlU(r); ++j) {
          r->X[0][j] += jitter(rng);
          r->Y[0][j] += jitter(rng);
          r->Z[0][j] += jitter(rng);
        }
      const std::vector<double> ax(ra->X[0], ra->X[0] + NumCtrlU(ra));
      UpdateTwoHealNormalCorBspls(ra, rb, a, b);
      const bool sameDir = (a % 2) == (b % 2);
      if (sameDir) {
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
        const bool boundary = i == 0 || j == 0 || i == nu - 1 || j == nv - 1;
        if (boundary) {
          EXPECT_EQ(after[k], before[k]) << a << b << " " << i << "," << j;
        }
      }
      FreeBspline(ra);
      FreeBspline(rb);
      FreeBspline(s1);
      FreeBspline(s2);
    }
}

// ---- the heal loop on a two-patch seam ----------------------------------------------------

// Kink across the seam, largest (3 degrees) in the middle; at the seam's ends the outer
// boundary rows fix the tangent planes, which this stage never moves.
double Kink3(double y) { return 3.0 * std::sin(3.14159265358979 * y); }

// A on [0,1]^2 and B on [1,2] x [0,1] over z = 0.1 x + 0.2 y^2, B turned up across the seam
// by kinkDeg(y). Both heights are linear in x, which the control points reproduce exactly, so
// the seam has no gap and no kink of its own.
void KinkedPair(Group& g, double (*kinkDeg)(double), bool reverseB = false, int nuA = 6,
                int degA = 3) {
  auto base = [](double x, double y) { return 0.1 * x + 0.2 * y * y; };
  PatchOptions a;
  a.nu = nuA;
  a.degreeU = degA;
  a.nv = 7;
  g.srfs.push_back(BuildFunctionPatch(base, a));
  PatchOptions b;
  b.nu = 6;
  b.nv = 7;
  b.x0 = 1.0;
  b.x1 = 2.0;
  if (reverseB) std::swap(b.y0, b.y1);
  g.srfs.push_back(BuildFunctionPatch(
      [=](double x, double y) {
        return base(x, y) + std::tan(kinkDeg(y) * bndr_test::kDeg) * (x - 1.0);
      },
      b));
}

bool Prepare(Group& g, double maxAngle = 10.0) {
  return g.Build(0.01, maxAngle) && SetSkinSrfsFixedCrvs(g.bs) == 0 &&
         SetUpBndrEdgeCornerGeometry(g.bs) == 0;
}

// Largest folded normal angle and gap along the seam x = 1, by the textbook evaluator: both
// patches map v linearly onto y, and B's v runs against A's when reversed.
void SeamMeasures(const Group& g, bool reverseB, double* gap, double* angle) {
  *gap = *angle = 0.0;
  for (int i = 0; i <= 200; ++i) {
    const double t = i / 200.0;
    double p[3], q[3], na[3], nb[3];
    bndr_test::SidePoint(g.srfs[0], 3, t, p);
    bndr_test::SidePoint(g.srfs[1], 1, reverseB ? 1.0 - t : t, q);
    bndr_test::SideNormal(g.srfs[0], 3, t, na);
    bndr_test::SideNormal(g.srfs[1], 1, reverseB ? 1.0 - t : t, nb);
    *gap = std::max(*gap, bndr_test::Dist(p, q));
    *angle = std::max(*angle, bndr_test::RefFoldedAngle(na, nb));
  }
}

int Heal(Group& g, double angleTol) {
  return NewHealSrfGrpEdgeG1Continuity(g.bs, 0.001, angleTol, 25, 0.01, 1.0, 0);
}

// Control points allowed to move: the second row next to the seam (A's u-max, B's u-min),
// without its two ends.
bool MayMove(int s, int i, int j, int nu, int nv) {
  const int col = s == 0 ? nu - 2 : 1;
  return i == col && j > 0 && j < nv - 1;
}

TEST_F(TangentHeal, KinkedSeamHealsWhileBoundaryAndInnerRowsStay) {
  for (bool reverseB : {false, true}) {
    Group g;
    KinkedPair(g, Kink3, reverseB);
    ASSERT_TRUE(Prepare(g));
    ASSERT_EQ(g.PairedCount(), 1);
    ASSERT_EQ(g.FirstPaired()->continuity, 1);
    double gap0, angle0;
    SeamMeasures(g, reverseB, &gap0, &angle0);
    ASSERT_GT(angle0, 2.5);
    const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
    const double angleTol = 1.0;
    ASSERT_EQ(Heal(g, angleTol), 0);
    double gap1, angle1;
    SeamMeasures(g, reverseB, &gap1, &angle1);
    EXPECT_LT(angle1, angleTol) << "reverse " << reverseB;
    EXPECT_LT(gap1, 1e-9);
    for (int s = 0; s < 2; ++s) {
      const std::vector<double>& before = s == 0 ? a0 : b0;
      const std::vector<double> after = Net(g.srfs[s]);
      const int nu = NumCtrlU(g.srfs[s]), nv = NumCtrlV(g.srfs[s]), n = nu * nv;
      int moved = 0;
      for (int k = 0; k < 3 * n; ++k) {
        const int i = k % n % nu, j = k % n / nu;
        if (MayMove(s, i, j, nu, nv)) {
          moved += after[k] != before[k];
        } else {
          EXPECT_EQ(after[k], before[k]) << "surface " << s << " at " << i << "," << j;
        }
      }
      EXPECT_GT(moved, 0);
    }
  }
}

TEST_F(TangentHeal, ThinSideIsSkipped) {
  Group g;
  KinkedPair(g, Kink3, false, 2, 1);
  ASSERT_TRUE(Prepare(g));
  ASSERT_EQ(g.FirstPaired()->continuity, 1);
  const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
  ASSERT_EQ(Heal(g, 1.0), 0);
  EXPECT_EQ(Net(g.srfs[0]), a0);
  EXPECT_NE(Net(g.srfs[1]), b0);
}

TEST_F(TangentHeal, NoSmoothJointOrFixedSurfaceChangesNothing) {
  {
    // A 20-degree kink is no smooth joint at a 10-degree tolerance.
    Group g;
    KinkedPair(g, [](double) { return 20.0; });
    ASSERT_TRUE(Prepare(g));
    ASSERT_EQ(g.FirstPaired()->continuity, 0);
    const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
    EXPECT_EQ(Heal(g, 1.0), 0);
    EXPECT_EQ(Net(g.srfs[0]), a0);
    EXPECT_EQ(Net(g.srfs[1]), b0);
  }
  {
    Group g;
    KinkedPair(g, Kink3);
    ASSERT_TRUE(Prepare(g));
    g.bs->srfs[0].fixed = 1;
    ASSERT_EQ(SetSkinSrfsFixedCrvs(g.bs), 0);
    const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
    EXPECT_EQ(Heal(g, 1.0), 0);
    EXPECT_EQ(Net(g.srfs[0]), a0);
    EXPECT_NE(Net(g.srfs[1]), b0);
  }
  EXPECT_EQ(NewHealSrfGrpEdgeG1Continuity(nullptr, 0.001, 1.0, 25, 0.01, 1.0, 0), -2);
}

TEST_F(TangentHeal, AllocationFailuresFreeEverything) {
  // One pass on one surface, failing at every allocation in turn until a pass goes through.
  long k = 0;
  int failures = 0;
  bool corrected = false;
  for (; k < 3000 && !corrected; ++k) {
    Group g;
    KinkedPair(g, Kink3);
    ASSERT_TRUE(Prepare(g));
    ASSERT_EQ(EvalAllBndrEdgeAvgSampleNormals(g.bs), 0);
    const std::vector<double> before = Net(g.srfs[0]);
    MallocFailAfter(k, -1);
    const int r = UpdateBsrfNormalsAlongBndrCrvs(g.bs, 0);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (r != 0) {
      ++failures;
      EXPECT_EQ(Net(g.srfs[0]), before) << k;
    }
    corrected = r == 0 && Net(g.srfs[0]) != before;
    ClearKernelError();
    k += k / 8;  // denser at the start, sparser later
  }
  EXPECT_TRUE(corrected);
  EXPECT_GT(failures, 3);
  // The whole loop, failing somewhere in its later passes.
  for (long skip : {50L, 400L, 2000L, 8000L}) {
    Group g;
    KinkedPair(g, Kink3);
    ASSERT_TRUE(Prepare(g));
    MallocFailAfter(skip, -1);
    const int r = Heal(g, 1.0);
    MallocFailClear();
    EXPECT_TRUE(r == 0 || r == -2);
    EXPECT_EQ(MallocTrackedCount(), 0);
    ClearKernelError();
  }
}

}  // namespace
