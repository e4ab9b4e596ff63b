// Degree elevation on knot vectors with clusters: knots 1e-12 apart, spans of 1e-9 beside
// spans of 0.5, a parameter domain at 1e6 with knots a few units in the last place apart, and
// high degrees, where dividing by short spans amplifies round-off. Every distinct knot gains
// exactly one copy, and the raised curve is the old one to round-off of its size, sampled in
// every span, the shortest included, at several sizes and far from the origin.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/degelev.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Elevation : public KernelTest {};

std::vector<double> KnotsOf(const Bspline* b, int dir) {
  const double* k = dir ? b->knotsV : b->knotsU;
  return std::vector<double>(k, k + (dir ? NumKnotsV(b) : NumKnotsU(b)));
}

// The textbook raised knot vector: every distinct value once more.
std::vector<double> RaisedKnots(const std::vector<double>& k) {
  std::vector<double> out;
  for (std::size_t i = 0; i < k.size(); ++i) {
    out.push_back(k[i]);
    if (i + 1 == k.size() || k[i + 1] != k[i]) out.push_back(k[i]);
  }
  return out;
}

// Diagonal of the box of the control points.
double Size(const Bspline* b) {
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  double** m[3] = {b->X, b->Y, b->Z};
  for (int i = 0; i < NumCtrlU(b) * NumCtrlV(b); ++i)
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], m[c][0][i]);
      hi[c] = std::max(hi[c], m[c][0][i]);
    }
  return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

// Largest distance between a and b at 9 parameters in every span of a's knots (in each
// direction of a surface), the shortest spans included.
double SpanwiseGap(const Bspline* a, const Bspline* b) {
  auto params = [](const double* k, int p, int n) {
    std::vector<double> t;
    for (int s = p; s < n; ++s)
      if (k[s] < k[s + 1])
        for (int j = 0; j <= 8; ++j) t.push_back(k[s] + (k[s + 1] - k[s]) * j / 8.0);
    return t;
  };
  const std::vector<double> tu = params(a->knotsU, a->degreeU, NumCtrlU(a));
  const std::vector<double> tv =
      a->kind == 2 ? params(a->knotsV, a->degreeV, NumCtrlV(a)) : std::vector<double>{0.0};
  double gap = 0.0;
  for (double v : tv)
    for (double u : tu) {
      double pa[3], pb[3];
      if (a->kind == 2) {
        RefEvalSurface(a, u, v, pa);
        RefEvalSurface(b, u, v, pb);
      } else {
        RefEvalCurve(a, u, pa);
        RefEvalCurve(b, u, pb);
      }
      gap = std::max(gap, std::hypot(pa[0] - pb[0], pa[1] - pb[1], pa[2] - pb[2]));
    }
  return gap;
}

// Clamped knots on [a, b] around the given interior ones.
std::vector<double> Clamped(int p, const std::vector<double>& interior, double a, double b) {
  std::vector<double> k(p + 1, a);
  k.insert(k.end(), interior.begin(), interior.end());
  k.insert(k.end(), p + 1, b);
  return k;
}

// A wiggly curve over the knots: scale times points of a helix-like path plus an offset, with
// weights between 0.5 and 2 when rational.
Bspline* CurveOver(int p, const std::vector<double>& knots, bool rational, double scale,
                   double offset) {
  const int n = static_cast<int>(knots.size()) - p - 1;
  std::vector<double> pts, w;
  for (int i = 0; i < n; ++i) {
    pts.insert(pts.end(), {offset + scale * std::cos(1.7 * i), offset + scale * std::sin(2.3 * i),
                           offset + scale * 0.3 * std::cos(0.9 * i * i)});
    if (rational) w.push_back(1.25 + 0.75 * std::sin(1.1 * i + 0.4));
  }
  return BuildCurve(p, 3, pts, knots, w);
}

struct Layout {
  int p;
  std::vector<double> interior;
  double a, b;
};

std::vector<Layout> ClusteredLayouts() {
  const double M = 1e6;
  return {
      {3, {0.3, 0.3 + 1e-12, 0.6}, 0.0, 1.0},                           // knots 1e-12 apart
      {3, {1e-9, 2e-9, 0.5}, 0.0, 1.0},                                 // spans of 1e-9 beside 0.5
      {3, {0.2, 0.5, 0.5 + 1e-9, 0.5 + 2e-9, 0.8}, 0.0, 1.0},           // a cluster inside
      {3, {M + 0.3, M + 0.3 + 2.5e-10, M + 0.3 + 5e-10, M + 0.6}, M, M + 1},  // ulps apart at 1e6
      {5, {0.4, 0.4 + 1e-10, 0.4 + 2e-10, 0.4 + 3e-10, 0.7}, 0.0, 1.0},  // a quintic cluster
      {5, {0.4, 0.4, 0.4 + 1e-10, 0.4 + 1e-10, 0.4 + 1e-10, 0.7}, 0.0, 1.0},  // with multiplicities
      {8, {1e-5, 2e-5, 0.5}, 0.0, 1.0},  // short spans at a high degree
  };
}

TEST_F(Elevation, ClusteredKnotsKeepTheShapeWithOneMoreCopyOfEachKnot) {
  BsplineKeeper keep;
  for (const Layout& l : ClusteredLayouts())
    for (bool rational : {false, true})
      for (double scale : {1e-6, 1.0, 1e6})
        for (double away : {0.0, 1e4}) {
          const std::vector<double> knots = Clamped(l.p, l.interior, l.a, l.b);
          Bspline* c = keep(CurveOver(l.p, knots, rational, scale, away * scale));
          ASSERT_NE(c, nullptr);
          Bspline* ref = keep(CopyBsplineStruct(c));
          IncrementDegreeOfObject(0, c);
          ASSERT_FALSE(KernelFailedNow()) << l.p << " " << l.interior[0];
          const std::vector<double> raised = RaisedKnots(knots);
          EXPECT_EQ(c->degreeU, l.p + 1);
          EXPECT_EQ(KnotsOf(c, 0), raised);
          EXPECT_EQ(NumCtrlU(c), static_cast<int>(raised.size()) - l.p - 2);
          // Far from the origin the coordinates themselves carry round-off of 1e4 sizes.
          const double tol = (away > 0.0 ? 1e-11 : 1e-14) * Size(ref);
          EXPECT_LE(SpanwiseGap(ref, c), tol)
              << "p " << l.p << " first " << l.interior[0] << " rational " << rational << " scale "
              << scale << " away " << away;
        }
}

// Spans 1e-9 beside 0.5 give the textbook count: 9 control points and 7 distinct knots make
// 15, not the 13 of knots merged by a tolerance.
TEST_F(Elevation, CountsAreTheTextbookOnes) {
  BsplineKeeper keep;
  Bspline* c = keep(CurveOver(3, Clamped(3, {0.2, 0.5, 0.5 + 1e-9, 0.5 + 2e-9, 0.8}, 0, 1), false, 1, 0));
  ASSERT_EQ(NumCtrlU(c), 9);
  IncrementDegreeOfObject(0, c);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(NumCtrlU(c), 15);
  EXPECT_EQ(c->interiorU, 10);
}

// Surfaces with a cluster in each direction, raised in u and in v, and a set raised by several
// degrees at once.
TEST_F(Elevation, SurfacesAndSetsOverClusters) {
  BsplineKeeper keep;
  const std::vector<double> ku = Clamped(3, {0.25, 0.25 + 1e-11, 0.7}, 0, 1);
  const std::vector<double> kv = Clamped(2, {1e-9, 0.5}, 0, 1);
  const int nu = static_cast<int>(ku.size()) - 4, nv = static_cast<int>(kv.size()) - 3;
  for (bool rational : {false, true})
    for (int dir : {0, 1}) {
      std::vector<double> pts, w;
      for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
          pts.insert(pts.end(), {double(i), double(j), std::sin(1.3 * i + 0.7 * j * j)});
          w.push_back(1.0 + 0.5 * std::cos(i + 2.0 * j));
        }
      Bspline* s = keep(BuildSurface(3, 2, nu, nv, pts, ku, kv, rational ? w : std::vector<double>{}));
      Bspline* ref = keep(CopyBsplineStruct(s));
      IncrementDegreeOfObject(dir, s);
      ASSERT_FALSE(KernelFailedNow());
      EXPECT_EQ(KnotsOf(s, dir), RaisedKnots(dir ? kv : ku));
      EXPECT_EQ(KnotsOf(s, 1 - dir), dir ? ku : kv);
      EXPECT_LE(SpanwiseGap(ref, s), 1e-14 * Size(ref)) << rational << dir;
    }
  Bspline* set[2] = {keep(CurveOver(3, Clamped(3, {1e-9, 2e-9, 0.5}, 0, 1), true, 1, 0)),
                     keep(CurveOver(5, Clamped(5, {0.4, 0.4 + 1e-10, 0.7}, 0, 1), false, 1, 0))};
  Bspline* before[2] = {keep(CopyBsplineStruct(set[0])), keep(CopyBsplineStruct(set[1]))};
  ElevateDegreeOfObjSet(7, nullptr, set, 2);
  ASSERT_FALSE(KernelFailedNow());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(set[i]->degreeU, 7);
    std::vector<double> k = KnotsOf(before[i], 0);
    for (int d = before[i]->degreeU; d < 7; ++d) k = RaisedKnots(k);
    EXPECT_EQ(KnotsOf(set[i], 0), k);
    EXPECT_LE(SpanwiseGap(before[i], set[i]), 1e-14 * Size(before[i])) << i;
  }
}

// One weight far above the others (a point the object is pulled onto): the raised weights are
// those of the same object, all positive, and the shape is kept to round-off wherever the light
// points rule, in each direction of a surface and on a curve.
TEST_F(Elevation, AHeavyWeightAmongLightOnesStaysAWeight) {
  BsplineKeeper keep;
  const std::vector<double> ku = Clamped(5, {0.2, 0.45, 0.7}, 0, 1), kv = Clamped(5, {0.3, 0.6}, 0, 1);
  const int nu = static_cast<int>(ku.size()) - 6, nv = static_cast<int>(kv.size()) - 6;
  for (double heavy : {1e8, 1e20})
    for (int dir : {0, 1, 2}) {
      Bspline* b;
      if (dir < 2) {
        std::vector<double> pts, w;
        for (int j = 0; j < nv; ++j)
          for (int i = 0; i < nu; ++i) {
            pts.insert(pts.end(), {double(i), double(j), std::sin(1.3 * i + 0.7 * j * j)});
            w.push_back(1.0 + 0.5 * std::cos(i + 2.0 * j));
          }
        w[nu + 2] = heavy;
        b = keep(BuildSurface(5, 5, nu, nv, pts, ku, kv, w));
      } else {
        b = keep(CurveOver(5, ku, true, 1, 0));
        b->W[0][2] = heavy;
      }
      ASSERT_TRUE(b);
      Bspline* ref = keep(CopyBsplineStruct(b));
      IncrementDegreeOfObject(dir & 1, b);
      ASSERT_FALSE(KernelFailedNow());
      EXPECT_TRUE(BsplineSound(b)) << heavy << " " << dir;
      EXPECT_LE(SpanwiseGap(ref, b), 1e-13 * Size(ref)) << heavy << " " << dir;
    }
}

// A set refused for one object that cannot be raised (here a surface whose v knots leave its
// ends open, last in the set) is refused before any is raised: the curve before it keeps its
// degree, knots and points, and the surface is as it was.
TEST_F(Elevation, ASetWithAnOpenEndIsRefusedWhole) {
  BsplineKeeper keep;
  Bspline* c = keep(CurveOver(3, Clamped(3, {1e-9, 2e-9, 0.5}, 0, 1), true, 1, 0));
  const std::vector<double> ku = Clamped(2, {0.5}, 0, 1), kv = {-0.5, -0.2, 0, 0.4, 0.7, 1, 1, 1};
  std::vector<double> pts;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 4; ++i) pts.insert(pts.end(), {double(i), double(j), std::sin(1.3 * i + 0.7 * j)});
  Bspline* s = keep(BuildSurface(2, 2, 4, 5, pts, ku, kv));
  ASSERT_TRUE(c && s);
  Bspline* before[2] = {keep(CopyBsplineStruct(c)), keep(CopyBsplineStruct(s))};
  Bspline* set[2] = {c, s};
  int dirs[2] = {0, 1};
  ElevateDegreeOfObjSet(5, dirs, set, 2);
  EXPECT_TRUE(KernelFailedNow());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(set[i]->degreeU, before[i]->degreeU) << i;
    EXPECT_EQ(KnotsOf(set[i], 0), KnotsOf(before[i], 0)) << i;
    EXPECT_EQ(SpanwiseGap(before[i], set[i]), 0.0) << i;
  }
  EXPECT_EQ(s->degreeV, 2);
  EXPECT_EQ(KnotsOf(s, 1), kv);
}

// Degrees, knots and every coefficient equal.
bool Identical(const Bspline* a, const Bspline* b) {
  if (a->degreeU != b->degreeU || KnotsOf(a, 0) != KnotsOf(b, 0)) return false;
  if (a->kind == 2 && (a->degreeV != b->degreeV || KnotsOf(a, 1) != KnotsOf(b, 1))) return false;
  const int n = NumCtrlU(a) * (a->kind == 2 ? NumCtrlV(a) : 1);
  for (auto m : {&Bspline::X, &Bspline::Y, &Bspline::Z, &Bspline::W})
    if (a->*m && !std::equal((a->*m)[0], (a->*m)[0] + n, (b->*m)[0])) return false;
  return true;
}

// A set raised with every allocation from the k-th on failing, k = 0, 1, ...: a rational
// surface in v, a curve, the same surface again in u. A run that fails part way leaves every
// object as it was, the ones it had raised too, and leaks nothing; the first run that succeeds
// raises them all.
TEST_F(Elevation, ASetFailingPartWayIsLeftAsItWas) {
  BsplineKeeper keep;
  const std::vector<double> ku = Clamped(2, {0.4, 0.4 + 1e-12, 0.7}, 0, 1), kv = Clamped(3, {1e-9, 0.5}, 0, 1);
  std::vector<double> pts, w;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) {
      pts.insert(pts.end(), {double(i), double(j), std::sin(1.3 * i + 0.7 * j * j)});
      w.push_back(1.0 + 0.5 * std::cos(i + 2.0 * j));
    }
  Bspline* s = keep(BuildSurface(2, 3, 6, 6, pts, ku, kv, w));
  Bspline* c = keep(CurveOver(3, Clamped(3, {0.3, 0.3 + 1e-12, 0.6}, 0, 1), false, 1, 0));
  ASSERT_TRUE(s && c);
  Bspline* before[2] = {keep(CopyBsplineStruct(s)), keep(CopyBsplineStruct(c))};
  Bspline* set[3] = {s, c, s};
  int dirs[3] = {1, 0, 0};
  bool done = false;
  const int failures = RunWithInjectedFailures(2000, 1, [&] {
    if (done) return 0;
    ElevateDegreeOfObjSet(5, dirs, set, 3);
    if (!KernelFailed()) return done = true, 0;
    EXPECT_TRUE(Identical(s, before[0]) && Identical(c, before[1])) << "changed by a failed run";
    return -2;
  });
  ASSERT_TRUE(done);
  EXPECT_GT(failures, 10);
  EXPECT_TRUE(s->degreeU == 5 && s->degreeV == 5 && c->degreeU == 5);
  EXPECT_LE(SpanwiseGap(before[0], s), 1e-14 * Size(before[0]));
  EXPECT_LE(SpanwiseGap(before[1], c), 1e-14 * Size(before[1]));
}

}  // namespace
