// Continuity along shared edges: gap and normal-angle extremes of two patches set up with a
// known gap and kink, against a brute-force nearest-point reference written in the test; role
// exchange, reversed boundaries, needles, scale invariance; the same edge given as curves on the
// surfaces, and the lean form that reports where the extremes lie.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "stitch/srfcont.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ContinuityTest : public KernelTest {};

constexpr double kPi = 3.14159265358979323846;

double Gap(double y) { return 0.01 + 0.02 * y; }
double KinkDeg(double y) { return 2.0 + 3.0 * y; }

// A: a flat-ish patch over [0, 1]^2; B over [1, 2] x [y0, y1], lying Gap(y) above A's
// continuation and turning away from it by KinkDeg(y) across x = 1. Both scaled by s.
struct Pair {
  Bspline* A = nullptr;
  Bspline* B = nullptr;
  Pair(double s = 1.0, double y0 = 0.0, double y1 = 1.0, int nvB = 5) {
    auto f = [](double x, double y) { return 0.1 * x + 0.05 * y * y; };
    PatchOptions a;
    a.x0 = 0, a.x1 = s, a.y0 = 0, a.y1 = s;
    A = BuildFunctionPatch([=](double x, double y) { return s * f(x / s, y / s); }, a);
    PatchOptions b;
    b.nv = nvB;
    b.x0 = s, b.x1 = 2 * s, b.y0 = y0 * s, b.y1 = y1 * s;
    B = BuildFunctionPatch(
        [=](double x, double y) {
          const double X = x / s, Y = y / s;
          return s * (f(X, Y) + Gap(Y) + std::tan(KinkDeg(Y) * kPi / 180) * (X - 1.0));
        },
        b);
  }
  ~Pair() {
    FreeBspline(A);
    FreeBspline(B);
  }
};

// Unit normal of a surface from the textbook evaluator.
void RefNormal(const Bspline* s, double u, double v, double n[3]) {
  double su[3], sv[3];
  RefEvalDeriv(s, u, v, 1, 0, su);
  RefEvalDeriv(s, u, v, 0, 1, sv);
  VecCrossProd3(su, sv, n);
  const double l = VecSize3(n);
  for (int k = 0; k < 3; ++k) n[k] /= l;
}

// Reference extremes along A's u-max edge against B's u-min edge: every sample of A's edge facing
// B, its nearest point on B's edge by a dense scan refined by golden section, the gap and the
// folded normal angle there.
void BruteForce(const Bspline* A, const Bspline* B, double vlo, double vhi, ObjContInfo* ref) {
  ref->minGap = ref->minAngle = 1e300;
  ref->maxGap = ref->maxAngle = 0;
  const int n = 400, m = 2000;
  std::vector<std::array<double, 3>> edge(m + 1);
  for (int j = 0; j <= m; ++j) RefEvalSurface(B, 0.0, double(j) / m, edge[j].data());
  for (int i = 0; i <= n; ++i) {
    const double v = vlo + (vhi - vlo) * i / n;
    double p[3];
    RefEvalSurface(A, 1.0, v, p);
    int best = 0;
    for (int j = 1; j <= m; ++j)
      if (VecDist3(p, edge[j].data()) < VecDist3(p, edge[best].data())) best = j;
    double a = std::max(0.0, (best - 1.0) / m), b = std::min(1.0, (best + 1.0) / m);
    auto dist = [&](double t) {
      double q[3];
      RefEvalSurface(B, 0.0, t, q);
      return VecDist3(p, q);
    };
    for (int it = 0; it < 60; ++it) {
      const double c = b - 0.618 * (b - a), d = a + 0.618 * (b - a);
      if (dist(c) < dist(d))
        b = d;
      else
        a = c;
    }
    const double t = 0.5 * (a + b), g = dist(t);
    double na[3], nb[3];
    RefNormal(A, 1.0, v, na);
    RefNormal(B, 0.0, t, nb);
    double ang = std::acos(std::min(1.0, std::fabs(VecDotProd3(na, nb)))) * 180 / kPi;
    ref->minGap = std::min(ref->minGap, g);
    ref->maxGap = std::max(ref->maxGap, g);
    ref->minAngle = std::min(ref->minAngle, ang);
    ref->maxAngle = std::max(ref->maxAngle, ang);
  }
}

// Needle i's start and end out of the three-plane layout.
void Needle(const double* nd, int count, int i, double a[3], double b[3]) {
  for (int k = 0; k < 3; ++k) {
    a[k] = nd[2 * (k * count + i)];
    b[k] = nd[2 * (k * count + i) + 1];
  }
}

TEST_F(ContinuityTest, ExtremesAgreeWithBruteForceAtEveryScale) {
  for (double s : {1e-3, 1.0, 1e3}) {
    Pair pr(s);
    ObjContInfo ref;
    BruteForce(pr.A, pr.B, 0.0, 1.0, &ref);
    Bspline* objs[2] = {pr.A, pr.B};
    Bspline* curves[2] = {nullptr, nullptr};
    int bndry[2] = {2, 0};
    ObjContInfo info = {-1, -1, -7, -7};
    double* needles = nullptr;
    int count = 0;
    ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 1, &info, 0, &needles, &count, 1), 0) << s;
    EXPECT_NEAR(info.minGap, ref.minGap, 1e-7 * s) << s;
    EXPECT_NEAR(info.maxGap, ref.maxGap, 1e-7 * s) << s;
    EXPECT_NEAR(info.minAngle, ref.minAngle, 1e-4) << s;
    EXPECT_NEAR(info.maxAngle, ref.maxAngle, 1e-4) << s;
    EXPECT_NEAR(ref.maxAngle, 5.0, 0.3);  // the kink set in the test shows through
    // Equal boundaries end to end: no sample dropped, (k + 1)(2p + 1) + 1 of them.
    EXPECT_EQ(count, (NumCtrlV(pr.A) - 3) * 7 + 1);
    // Scaled needles: the largest angle's needle has the display length, none is longer.
    const double scale = (GetAvgLengthOfBspline(pr.B) + GetAvgLengthOfBspline(pr.A)) * 0.125;
    double longest = 0;
    for (int i = 0; i < count; ++i) {
      double a[3], b[3];
      Needle(needles, count, i, a, b);
      longest = std::max(longest, VecDist3(a, b));
      EXPECT_NEAR(a[0], s, 1e-9 * s);  // needles stand on A's edge x = s
    }
    EXPECT_NEAR(longest, scale, 1e-3 * scale) << s;
    Free(needles);
  }
}

TEST_F(ContinuityTest, RolesOrientationAndLevels) {
  Pair pr;
  Bspline* curves[2] = {nullptr, nullptr};
  ObjContInfo want = {0, 0, 0, 0};
  {
    Bspline* objs[2] = {pr.A, pr.B};
    int bndry[2] = {2, 0};
    double* nd = nullptr;
    int count = 0;
    ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 1, &want, 0, &nd, &count, 1), 0);
    Free(nd);
  }
  // B's boundary running against A's: the copy is turned, its normals turned back, and the
  // extremes are those of the pair running alike.
  Bspline* R = CopyBsplineStruct(pr.B);
  ReverseObj(R, 1);
  Bspline* objs[2] = {pr.A, R};
  int bndry[2] = {2, 0};
  ObjContInfo info;
  double* nd = nullptr;
  int count = 0;
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 1, &info, 0, &nd, &count, 1), 0);
  EXPECT_NEAR(info.minGap, want.minGap, 1e-9);
  EXPECT_NEAR(info.maxGap, want.maxGap, 1e-9);
  EXPECT_NEAR(info.minAngle, want.minAngle, 1e-6);
  EXPECT_NEAR(info.maxAngle, want.maxAngle, 1e-6);
  Free(nd);
  // Levels 2 and 4 are refused before anything is made; the fields stay.
  ObjContInfo keep = {1, 2, 3, 4};
  for (int level : {2, 4, -1}) {
    EXPECT_EQ(ComputeObjCont(objs, curves, bndry, level, &keep, 0, &nd, &count, 1), -2);
    EXPECT_EQ(keep.maxAngle, 4);
  }
  int beyond[2] = {2, 4};
  EXPECT_EQ(ComputeObjCont(objs, curves, beyond, 0, &keep, 0, &nd, &count, 1), -2);
  EXPECT_EQ(keep.maxGap, 2);
  // Level 1 unscaled leaves the angle fields alone, each needle starting on A's edge and ending
  // at the bare vector, the mean normal times the angle in radians.
  ObjContInfo bare = {0, 0, -5, -5};
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 1, &bare, 0, &nd, &count, 0), 0);
  EXPECT_EQ(bare.maxAngle, -5);
  double longest = 0;
  for (int i = 0; i < count; ++i) {
    double a[3], b[3];
    Needle(nd, count, i, a, b);
    EXPECT_NEAR(a[0], 1.0, 1e-12);
    longest = std::max(longest, VecSize3(b));
    EXPECT_GT(b[2], 0.0);  // along the mean normal, which points up
  }
  EXPECT_NEAR(longest, want.maxAngle * kPi / 180, 1e-6);
  Free(nd);
  // A curve's surface normal: the owner's normal at the curve's point.
  Bspline* along = BuildCurveOnSurface(pr.A, 1, {0.2, 0.3, 0.7, 0.9});
  double n[3], ref[3];
  GetCurveOnSurfaceNorm(n, along, 0.5);
  RefNormal(pr.A, 0.45, 0.6, ref);
  EXPECT_NEAR(VecDotProd3(n, ref) / VecSize3(n), 1.0, 1e-12);
  // Level 3 on surfaces gives needles of length 0 at the samples on the first edge.
  ObjContInfo g = {0, 0, -5, -5};
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 3, &g, 0, &nd, &count, 0), 0);
  EXPECT_EQ(g.minAngle, -5);
  EXPECT_NEAR(g.maxGap, want.maxGap, 1e-9);
  for (int i = 0; i < count; ++i) {
    double a[3], b[3];
    Needle(nd, count, i, a, b);
    EXPECT_EQ(VecDist3(a, b), 0.0);
    EXPECT_NEAR(a[0], 1.0, 1e-12);
  }
  Free(nd);
  FreeBspline(R);
}

// Level 0 on A's u-max edge and B's u-min edge, passed in both orders: check(info, count,
// bndry after the call, order).
template <class Check>
void BothOrders(const Pair& pr, Check check) {
  for (int order = 0; order < 2; ++order) {
    Bspline* objs[2] = {order ? pr.B : pr.A, order ? pr.A : pr.B};
    int bndry[2] = {order ? 0 : 2, order ? 2 : 0};
    Bspline* curves[2] = {nullptr, nullptr};
    ObjContInfo info;
    double* nd = nullptr;
    int count = 0;
    ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 0, &info, 0, &nd, &count, 0), 0);
    check(info, count, bndry, order);
    Free(nd);
  }
}

TEST_F(ContinuityTest, OnlyTheStretchTheEdgesFaceCounts) {
  // B's edge runs over y in [-0.5, 1.5], A's over [0, 1]: only A's stretch counts, whichever is
  // passed first (beyond A's ends B's gap would run from 0 to 0.04).
  Pair inside(1.0, -0.5, 1.5, 9);
  ObjContInfo ref;
  BruteForce(inside.A, inside.B, 0.0, 1.0, &ref);
  BothOrders(inside, [&](const ObjContInfo& info, int, const int* bndry, int order) {
    EXPECT_EQ(bndry[0], 2) << order;  // A's edge is the first one afterwards
    EXPECT_NEAR(info.minGap, ref.minGap, 1e-7) << order;
    EXPECT_NEAR(info.maxGap, ref.maxGap, 1e-7) << order;
  });
  // B's edge covers y in [0.5, 1.5]: the samples of either beyond the other's end are dropped
  // (A's start is 0.5 away from B, which would be the largest gap).
  Pair part(1.0, 0.5, 1.5, 5);
  BruteForce(part.A, part.B, 0.5, 1.0, &ref);
  BothOrders(part, [&](const ObjContInfo& info, int count, const int*, int order) {
    EXPECT_LT(count, 15);
    EXPECT_NEAR(info.maxGap, ref.maxGap, 2e-3) << order;
    EXPECT_GE(info.minGap, ref.minGap - 1e-9) << order;
  });
}

TEST_F(ContinuityTest, GapNeedlesAlongTheMeanNormal) {
  Pair pr;
  Bspline* objs[2] = {pr.A, pr.B};
  Bspline* curves[2] = {nullptr, nullptr};
  int bndry[2] = {2, 0};
  ObjContInfo info, gaps;
  double *nd = nullptr, *raw = nullptr;
  int count = 0, rawCount = 0;
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 0, &gaps, 0, &raw, &rawCount, 0), 0);
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 0, &info, 1, &nd, &count, 0), 0);
  ASSERT_EQ(count, rawCount);
  for (int i = 0; i < count; ++i) {
    double p0[3], p1[3], a[3], b[3];
    Needle(raw, count, i, p0, p1);  // the gap itself
    Needle(nd, count, i, a, b);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], 0.5 * (p0[k] + p1[k]), 1e-12);
    EXPECT_NEAR(VecDist3(a, b), VecDist3(p0, p1), 1e-12);
    EXPECT_GT(b[2] - a[2], 0.9 * VecDist3(p0, p1));  // along the normals, which point up
  }
  Free(nd);
  // With scaled too: the angle needles (before, every needle had length 0) and the angle fields.
  ObjContInfo both = {0, 0, -1, -1};
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 0, &both, 1, &nd, &count, 1), 0);
  EXPECT_GT(both.maxAngle, 4.0);
  double longest = 0;
  for (int i = 0; i < count; ++i) {
    double a[3], b[3];
    Needle(nd, count, i, a, b);
    longest = std::max(longest, VecDist3(a, b));
  }
  EXPECT_GT(longest, 0.0);
  Free(nd);
  Free(raw);
}

TEST_F(ContinuityTest, CurvesAndCurveAgainstSurface) {
  // Two lines meeting at a known gap and angle: 30 degrees, folded.
  Bspline* c0 = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0});
  const double c = std::cos(150 * kPi / 180), s = std::sin(150 * kPi / 180);
  Bspline* c1 = BuildCurve(1, 3, {1, 0, 0.2, 1 + c, s, 0.2});
  Bspline* objs[2] = {c0, c1};
  Bspline* curves[2] = {nullptr, nullptr};
  int bndry[2] = {2, 0};
  ObjContInfo info = {0, 0, -1, -1};
  double* nd = reinterpret_cast<double*>(0x1);
  int count = 0;
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 1, &info, 0, &nd, &count, 1), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(nd, reinterpret_cast<double*>(0x1));  // no needles for curves
  EXPECT_NEAR(info.minGap, 0.2, 1e-12);
  EXPECT_NEAR(info.maxAngle, 30.0, 1e-9);
  ObjContInfo gapOnly = {0, 0, -1, -1};
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 3, &gapOnly, 0, &nd, &count, 1), 0);
  EXPECT_EQ(gapOnly.maxAngle, -1);
  // A line leaving A's u-max edge at 20 degrees to its tangent plane (A's slope in x is 0.1).
  Pair pr;
  const double slope = std::atan(0.1), a = slope + 20 * kPi / 180;
  double e[3];
  RefEvalSurface(pr.A, 1.0, 0.5, e);
  Bspline* line = BuildCurve(1, 3, {e[0], e[1], e[2] + 0.01, e[0] + std::cos(a), e[1], e[2] + 0.01 + std::sin(a)});
  Bspline* sc[2] = {pr.A, line};
  int sb[2] = {2, 0};
  ObjContInfo t;
  ASSERT_EQ(ComputeObjCont(sc, curves, sb, 3, &t, 0, &nd, &count, 0), 0);
  EXPECT_NEAR(t.maxGap, 0.01, 1e-4);
  EXPECT_NEAR(t.maxAngle, 20.0, 0.05);
  ASSERT_EQ(ComputeObjCont(sc, curves, sb, 1, &t, 0, &nd, &count, 0), 0);
  EXPECT_NEAR(t.maxAngle, 20.0, 0.05);  // against the surface's u derivative
  // The edge given as a curve on A instead: the same gap and angle.
  Bspline* edge[2] = {BuildCurveOnSurface(pr.A, 1, {1, 0, 1, 1}), nullptr};
  ObjContInfo g;
  ASSERT_EQ(ComputeObjCont(sc, edge, sb, 1, &g, 0, &nd, &count, 0), 0);
  EXPECT_NEAR(g.maxGap, t.maxGap, 1e-9);
  EXPECT_NEAR(g.maxAngle, t.maxAngle, 1e-9);
  FreeBspline(line);
  FreeBspline(c0);
  FreeBspline(c1);
}

TEST_F(ContinuityTest, TrimmedEdgesAgreeWithBoundariesAndReportWhere) {
  Pair pr;
  Bspline* objs[2] = {pr.A, pr.B};
  Bspline* none[2] = {nullptr, nullptr};
  int bndry[2] = {2, 0};
  ObjContInfo want;
  double* nd = nullptr;
  int count = 0;
  ASSERT_EQ(ComputeObjCont(objs, none, bndry, 1, &want, 0, &nd, &count, 1), 0);
  Free(nd);
  // The lean form on the boundaries: the same extremes, the largest gap and angle near v = 1 on
  // B (both grow with y; the foot of A's corner lies a little short of B's, as B rises in y); at
  // level 0 atMax[1] stays as it was.
  for (int level : {0, 1}) {
    ObjContInfo info = {0, 0, -1, -1};
    double at[2] = {-3, -3};
    ASSERT_EQ(ComputeObjContTrimSurfs2(objs, none, bndry, level, &info, at), 0);
    EXPECT_NEAR(info.maxGap, want.maxGap, 1e-8);
    EXPECT_NEAR(info.minGap, want.minGap, 1e-8);
    EXPECT_NEAR(at[0], 1.0, 0.005);
    if (level == 1) {
      EXPECT_NEAR(info.maxAngle, want.maxAngle, 1e-4);
      EXPECT_NEAR(at[1], 1.0, 0.005);
    } else {
      EXPECT_EQ(at[1], -3);
      EXPECT_EQ(info.maxAngle, -1);
    }
  }
  // The same edges given as curves on the surfaces (B's running against A's, on a parameter
  // range of its own): same extremes; the lean form leaves the curves alone, the needle form
  // makes them run one way on [0, 1].
  Bspline* ca = BuildCurveOnSurface(pr.A, 2, {1, 0, 1, 0.4, 1, 1}, {0, 0, 0, 3, 3, 3});
  Bspline* cb = BuildCurveOnSurface(pr.B, 1, {0, 1, 0, 0}, {-1, -1, 1, 1});
  Bspline* curves[2] = {ca, cb};
  ObjContInfo info;
  double at[2];
  ASSERT_EQ(ComputeObjContTrimSurfs2(objs, curves, bndry, 1, &info, at), 0);
  EXPECT_NEAR(info.maxGap, want.maxGap, 1e-8);
  EXPECT_NEAR(info.maxAngle, want.maxAngle, 1e-4);
  EXPECT_NEAR(at[0], -1.0, 0.01);  // y = 1 lies at cb's start
  EXPECT_EQ(cb->knotsU[0], -1.0);
  EXPECT_EQ(ca->knotsU[5], 3.0);
  ASSERT_EQ(ComputeObjCont(objs, curves, bndry, 1, &info, 0, &nd, &count, 1), 0);
  EXPECT_NEAR(info.minGap, want.minGap, 1e-8);
  EXPECT_NEAR(info.maxGap, want.maxGap, 1e-8);
  EXPECT_NEAR(info.maxAngle, want.maxAngle, 1e-4);
  EXPECT_EQ(ca->knotsU[NumKnotsU(ca) - 1], 1.0);
  double p[3], q[3];
  Eval3DPointOnBsplOnSurfArray(nullptr, cb, 0.0, 0, 0, p);
  Eval3DPointOnBsplOnSurfArray(nullptr, ca, 0.0, 0, 0, q);
  EXPECT_LT(p[1], 0.5);  // runs with ca now
  EXPECT_LT(q[1], 0.5);
  Free(nd);
  EXPECT_EQ(ComputeObjContTrimSurfs2(objs, curves, bndry, 2, &info, at), -2);
  EXPECT_EQ(ComputeObjContTrimSurfs(objs, curves, bndry, 3, &info, &nd, &count, 0, 0), -2);
}

TEST_F(ContinuityTest, CurvesMadePlateProperKeepTheirShape) {
  Pair pr;
  // A diagonal across A's knot lines (u at 1/3, 2/3; v at 1/2), and its twin on a copy.
  Bspline* c = BuildCurveOnSurface(pr.A, 2, {0.05, 0.1, 0.5, 0.2, 0.95, 0.9});
  Bspline* ref = CopyBsplineStruct(c);
  Bspline* list[1] = {c};
  MakeCrvOnSrfsPlateProper(list, 1);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(c->interiorU, 3);  // one knot per line crossed
  for (int i = 0; i <= 20; ++i) {
    double a[2], b[2];
    Eval2DPointOnCurve2Array(nullptr, c, i / 20.0, 0, a);
    Eval2DPointOnCurve2Array(nullptr, ref, i / 20.0, 0, b);
    EXPECT_NEAR(a[0], b[0], 1e-12);
    EXPECT_NEAR(a[1], b[1], 1e-12);
  }
  Bspline* d = BuildCurveOnSurface(pr.A, 1, {0, 0, 1, 1});
  Bspline* copy = CopyBsplineStructAndChildren(pr.A);
  EXPECT_EQ(GetMatchingBsplineOnSrf(pr.A, copy, c)->interiorU, c->interiorU);
  EXPECT_EQ(GetMatchingBsplineOnSrf(pr.A, copy, d)->degreeU, 1);
  EXPECT_EQ(GetMatchingBsplineOnSrf(pr.A, copy, ref), nullptr);  // not on A's list
  EXPECT_EQ(GetMatchingBsplineOnSrf(pr.B, copy, c), nullptr);    // B has no list
  FreeBspline(copy);
  FreeBspline(ref);
}

TEST_F(ContinuityTest, InjectedFailuresLeakNothing) {
  Pair pr;
  Bspline* objs[2] = {pr.A, pr.B};
  Bspline* none[2] = {nullptr, nullptr};
  const int failures = RunWithInjectedFailures(400, 7, [&] {
    int bndry[2] = {2, 0};
    ObjContInfo info;
    double* nd = nullptr;
    int count = 0;
    int r = ComputeObjCont(objs, none, bndry, 1, &info, 0, &nd, &count, 1);
    if (r == 0) Free(nd);
    double at[2];
    const int r2 = ComputeObjContTrimSurfs2(objs, none, bndry, 1, &info, at);
    return r != 0 || r2 != 0 ? -2 : 0;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
