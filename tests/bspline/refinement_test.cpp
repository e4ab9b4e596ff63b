// Knot insertion, knot removal and degree elevation: the shape against the reference
// evaluator, removal as the inverse of insertion, the removal tolerance, the modes and
// refusals of each operation, and objects left bit for bit alone by every failed run.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <tuple>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"

namespace {

class Refinement : public KernelTest {};

std::vector<double> Knots(const Bspline* b, int dir = 0) {
  const double* k = dir ? b->knotsV : b->knotsU;
  return std::vector<double>(k, k + (dir ? NumKnotsV(b) : NumKnotsU(b)));
}

// Largest distance between a and b at a grid of parameters over a's domain.
double MaxShapeGap(const Bspline* a, const Bspline* b, int samples = 41) {
  const bool surf = a->kind == 2;
  auto at = [surf](const Bspline* x, double u, double v, double* p) {
    surf ? RefEvalSurface(x, u, v, p) : RefEvalCurve(x, u, p);
  };
  double gap = 0.0;
  for (int j = 0; j < (surf ? samples : 1); ++j)
    for (int i = 0; i < samples; ++i) {
      const double u = a->umin + (a->umax - a->umin) * i / (samples - 1);
      const double v = surf ? a->vmin + (a->vmax - a->vmin) * j / (samples - 1) : 0.0;
      double pa[3], pb[3];
      at(a, u, v, pa);
      at(b, u, v, pb);
      gap = std::max(gap, std::hypot(pa[0] - pb[0], pa[1] - pb[1], pa[2] - pb[2]));
    }
  return gap;
}

// Largest difference of two coefficient sets of equal counts.
double MaxCoefGap(const Bspline* a, const Bspline* b) {
  double gap = 0.0;
  for (int i = 0; i < NumCtrlU(a) * NumCtrlV(a); ++i)
    for (auto m : {&Bspline::X, &Bspline::Y, &Bspline::Z, &Bspline::W})
      if (a->*m) gap = std::max(gap, std::fabs((a->*m)[0][i] - (b->*m)[0][i]));
  return gap;
}

// Same degrees, knots and coefficients.
bool SameObject(const Bspline* a, const Bspline* b) {
  return a->rational == b->rational && a->dimension == b->dimension && a->degreeU == b->degreeU &&
         a->degreeV == b->degreeV && Knots(a) == Knots(b) &&
         (a->kind != 2 || Knots(a, 1) == Knots(b, 1)) && MaxCoefGap(a, b) == 0.0;
}

// count points drawn in the cube [-1, 1]^3 and put in place pl, each followed by a weight drawn
// in [0.5, 2] when weights is given.
void RandomPlacedPoints(std::mt19937& rng, const Place& pl, int count, std::vector<double>* pts,
                        std::vector<double>* weights) {
  for (int i = 0; i < count; ++i) {
    double q[3] = {Uniform(rng, -1, 1), Uniform(rng, -1, 1), Uniform(rng, -1, 1)};
    pl.Map(q, q);
    pts->insert(pts->end(), q, q + 3);
    if (weights) weights->push_back(Uniform(rng, 0.5, 2));
  }
}

// A wavy surface over random knots on [0, 1]^2, with random weights when rational.
Bspline* BuildRandomSurface(unsigned seed, int pu, int pv, int nu, int nv, bool rational) {
  return BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * std::cos(2 * y); },
                            {pu, pv, nu, nv, 0, 1, 0, 1, 0, 1, 0, 1, KnotLayout::Random, rational, seed});
}

// Runs op(obj) with the k-th allocation failing and every later one too, for k = 0, 1, ...
// until a run succeeds. Each failed run must report failure, leak nothing and leave obj bit
// for bit as it was. Returns the number of failed runs.
template <class Op>
int ExpectCleanFailures(Bspline* obj, Op op) {
  Bspline* before = CopyBsplineStruct(obj);
  bool done = false;
  const int failures = RunWithInjectedFailures(400, 1, [&] {
    if (done) return 0;
    op(obj);
    if (!KernelFailed()) return done = true, 0;
    EXPECT_TRUE(SameObject(obj, before)) << "object changed by a failed run";
    return -2;
  });
  EXPECT_TRUE(done) << "the operation never succeeded";
  FreeBspline(before);
  return failures;
}

// Curves of both dimensions and surfaces in either direction, rational or not. The values
// come out of order (the span search must start again) and 0.31 twice; the surfaces take each
// value twice, 0.31 only up to full multiplicity p + 1.
TEST_F(Refinement, InsertionAndElevationKeepTheShapeAndRemovalRestores) {
  BsplineKeeper keep;
  const std::vector<double> values = {0.05, 0.31, 0.31, 0.93, 0.5, 0.77, 0.2};
  for (bool rational : {false, true})
    for (int c = 0; c < 4; ++c) {
      const int dir = c < 2 ? 0 : c - 2;
      Bspline* b = keep(c < 2 ? BuildRandomCurve(11 + c, 3, 9, 2 + c, rational)
                              : BuildRandomSurface(5 + dir, 3, 2, 7, 5, rational));
      Bspline* ref = keep(CopyBsplineStruct(b));
      std::vector<double> v = values;
      InsertNKnotsToObject(c < 2 ? 1 : 2, 7, dir, b, 2, v.data());
      ASSERT_FALSE(KernelFailedNow());
      const std::vector<double> k = Knots(b, dir), k0 = Knots(ref, dir);
      EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
      EXPECT_EQ(k.size(), k0.size() + (c < 2 ? 7 : 14 - dir));
      EXPECT_LE(MaxShapeGap(ref, b, c < 2 ? 101 : 17), 1e-12 * RefScale(ref)) << rational << c;

      // Removing what went in: first one copy with its bound, then the rest in one call.
      std::vector<double> added;
      std::set_difference(k.begin(), k.end(), k0.begin(), k0.end(), std::back_inserter(added));
      double dev = -1.0;
      EXPECT_EQ(RemoveKnotsOfObjSet(&b, 1, dir, 2, added.data(), 1, 0, 0.0, &dev), 1);
      EXPECT_TRUE(dev >= 0.0 && dev < 1e-12) << dev;
      const int rest = static_cast<int>(added.size()) - 1;
      EXPECT_EQ(RemoveKnotsOfObjSet(&b, 1, dir, 2, added.data() + 1, rest, 0, 0.0, nullptr), rest);
      EXPECT_EQ(Knots(b, dir), k0);
      EXPECT_LE(MaxCoefGap(b, ref), 1e-12) << rational << c;

      // Degree elevation: every distinct knot of the direction gains a copy, the other stays.
      IncrementDegreeOfObject(dir, b);
      ASSERT_FALSE(KernelFailedNow());
      EXPECT_EQ(dir ? b->degreeV : b->degreeU, dir ? 3 : 4);
      EXPECT_EQ(dir ? b->interiorV : b->interiorU, 2 * (dir ? ref->interiorV : ref->interiorU));
      if (c >= 2) {
        EXPECT_EQ(Knots(b, 1 - dir), Knots(ref, 1 - dir));
      }
      EXPECT_LE(MaxShapeGap(ref, b, c < 2 ? 101 : 17), 1e-12 * RefScale(ref)) << rational << c;
    }
}

TEST_F(Refinement, ElevationKeepsTheShapeAtEveryDegree) {
  BsplineKeeper keep;
  for (int p : {1, 2, 5, 21}) {
    // The quadratic is a single Bezier span.
    Bspline* c = keep(
        BuildRandomCurve(10 + p, p, p == 2 ? 3 : p + (p == 21 ? 2 : 6), 3, p < 9 && p % 2 == 1));
    Bspline* ref = keep(CopyBsplineStruct(c));
    IncrementDegreeOfObject(1, c);  // a curve ignores the direction
    ASSERT_FALSE(KernelFailedNow());
    Bspline* once = keep(CopyBsplineStruct(c));
    IncrementDegreeOfObject(0, c);
    if (p == 21) {  // degree 22 is the highest there is
      EXPECT_EQ(zk_error_status, -2);
      EXPECT_TRUE(SameObject(c, once));
      ClearKernelError();
    } else {
      EXPECT_EQ(c->degreeU, p + 2);
      EXPECT_EQ(c->interiorU, 3 * ref->interiorU);
    }
    EXPECT_LE(MaxShapeGap(ref, c, 101), 1e-12 * RefScale(ref)) << p;
  }
  // A rational quarter circle raised as part of a set stays on the circle; a member whose
  // degree is above the target is left alone.
  const double h = std::sqrt(0.5);
  Bspline* set[2] = {keep(BuildCurve(2, 3, {1, 0, 0, 1, 1, 0, 0, 1, 0}, {}, {1, h, 1})),
                     keep(BuildRandomCurve(41, 5, 7))};
  Bspline *arc = set[0], *high = keep(CopyBsplineStruct(set[1]));
  ElevateDegreeOfObjSet(4, nullptr, set, 2);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(arc->degreeU, 4);
  EXPECT_TRUE(SameObject(set[1], high));
  for (int i = 0; i <= 50; ++i) {
    double p[3];
    RefEvalCurve(arc, i / 50.0, p);
    EXPECT_NEAR(std::hypot(p[0], p[1]), 1.0, 1e-13);
  }
}

// Elevation walks Bezier segments where their removal steps stay accurate; repeated knots
// (the removal steps after each segment) and knots 1e-9 apart (the raising matrix) must both
// keep the shape and add one copy per distinct knot.
TEST_F(Refinement, ElevationOverRepeatedAndNearlyEqualKnots) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int i = 0; i < 11; ++i) pts.insert(pts.end(), {double(i), std::sin(1.3 * i), 0.2 * i * i});
  const std::vector<double> weights = {1, 0.8, 1.2, 1, 0.7, 1.1, 1, 0.9, 1.3, 1, 1};
  const std::vector<std::vector<double>> layouts = {
      {0, 0, 0, 0, 0.2, 0.3, 0.3, 0.5, 0.5, 0.5, 0.8, 1, 1, 1, 1},        // multiplicities 1, 2, 3
      {0, 0, 0, 0, 0.2, 0.2 + 1e-9, 0.4, 0.5, 0.6, 0.7, 0.8, 1, 1, 1, 1}};  // two knots within 1e-6
  for (const auto& knots : layouts)
    for (bool rational : {false, true}) {
      Bspline* c = keep(BuildCurve(3, 3, pts, knots, rational ? weights : std::vector<double>{}));
      Bspline* ref = keep(CopyBsplineStruct(c));
      IncrementDegreeOfObject(0, c);
      ASSERT_FALSE(KernelFailedNow());
      EXPECT_EQ(c->degreeU, 4);
      const bool near = knots[5] - knots[4] < 1e-6;
      EXPECT_EQ(NumKnotsU(c), NumKnotsU(ref) + (near ? 9 : 6));
      EXPECT_LE(MaxShapeGap(ref, c, 201), 1e-13 * RefScale(ref)) << rational;
    }
}

TEST_F(Refinement, InsertionModesSnappingAndRangeEnds) {
  BsplineKeeper keep;
  // Mode 1 on uniform knots: every span ties, so the last one is split first.
  Bspline* c = keep(BuildRandomCurve(3, 3, 7, 3, true, KnotLayout::Uniform));
  Bspline* ref = keep(CopyBsplineStruct(c));
  InsertNKnotsToObject(1, 1, 0, c, 1, nullptr);
  EXPECT_DOUBLE_EQ(c->knotsU[NumCtrlU(c) - 1], 0.875);
  InsertNKnotsToObject(1, 5, 0, c, 1, nullptr);
  EXPECT_EQ(c->interiorU, ref->interiorU + 6);
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));

  // The range ends have full multiplicity already: nothing goes in there (nor for values
  // beyond them, which used to gain a copy), and the values after them are still handled.
  // A value within 1e-6 of the range of a knot is snapped to it.
  c = keep(BuildRandomCurve(5, 3, 6));
  std::copy_n(std::vector<double>{0, 0, 0, 0, 0.4, 0.6, 1, 1, 1, 1}.begin(), 10, c->knotsU);
  ref = keep(CopyBsplineStruct(c));
  std::vector<double> v = {-0.5, 0.0, 0.4 + 1e-8, 0.7, 1.0, 1.5};
  InsertNKnotsToObject(1, 6, 0, c, 2, v.data());
  EXPECT_FALSE(KernelFailedNow());  // values outside the domain are its ends, not a failure
  EXPECT_EQ(v, (std::vector<double>{0.0, 0.0, 0.4, 0.7, 1.0, 1.0}));
  EXPECT_EQ(Knots(c), (std::vector<double>{0, 0, 0, 0, 0.4, 0.4, 0.6, 0.7, 1, 1, 1, 1}));
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
}

// The domain's end lies in the last span as its right end: a value at the end (or beyond it)
// is that end, not the last interior knot 1e-9 below it, whether the values go in one at a
// time or in one pass. At a clamped end nothing goes in; the values come back as the end.
TEST_F(Refinement, TheDomainsEndIsNotTakenForAKnotJustBelowIt) {
  BsplineKeeper keep;
  const std::vector<double> pts = {0, 0, 0, 1, 1, 0, 2, 0, 0, 3, 1, 0, 4, 0, 0, 5, 1, 0};
  const std::vector<double> knots = {0, 0, 0, 0, 0.5, 1 - 1e-9, 1, 1, 1, 1};
  for (const std::vector<double>& given : {std::vector<double>{1.0}, std::vector<double>{2.0},
                                           std::vector<double>{0.2, 0.3, 0.4, 1.0}}) {
    Bspline* c = keep(BuildCurve(3, 3, pts, knots));
    std::vector<double> values = given;
    InsertNKnotsToObject(1, static_cast<int>(values.size()), 0, c, 2, values.data());
    ASSERT_FALSE(KernelFailedNow());
    EXPECT_EQ(values.back(), 1.0);
    std::vector<double> expect = knots;
    expect.insert(expect.begin() + 4, given.begin(), given.end() - 1);
    std::sort(expect.begin(), expect.end());
    EXPECT_EQ(Knots(c), expect) << given.size();
  }
}

TEST_F(Refinement, FullMultiplicityInterpolatesTheCurvePoint) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(21, 3, 8, 3, true));
  Bspline* ref = keep(CopyBsplineStruct(c));
  std::vector<double> v = {0.37, c->knotsU[5]};  // a new value and an existing simple knot
  InsertNKnotsToObject(-1, 2, 0, c, 2, v.data());
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(c->interiorU, ref->interiorU + 4 + 3);
  for (double t : v) {
    // The first index holding t ends the run of p + 1 copies; lines a - 1 and a meet there.
    const int a =
        static_cast<int>(std::lower_bound(c->knotsU, c->knotsU + NumKnotsU(c), t) - c->knotsU);
    ASSERT_EQ(c->knotsU[a + 3], t);
    double p[3];
    RefEvalCurve(ref, t, p);
    double** m[3] = {c->X, c->Y, c->Z};
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(m[k][0][a - 1], m[k][0][a]);
      EXPECT_NEAR(m[k][0][a], p[k], 1e-12);
    }
  }
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
  // A bad count or multiplicity fails at once; an unknown mode does nothing.
  ref = keep(CopyBsplineStruct(c));
  for (auto [mult, n, mode] : {std::tuple{0, 2, 2}, {-2, 2, 2}, {1, -1, 1}, {1, 2, 7}}) {
    InsertNKnotsToObject(mult, n, 0, c, mode, v.data());
    EXPECT_EQ(zk_error_status, mode == 7 ? 0 : -2);
    EXPECT_TRUE(SameObject(c, ref));
    ClearKernelError();
  }
}

// The middles of the `count` longest spans of a direction, ascending: the values mode 1 of
// InsertOneKnotToObject puts in (brute force over a sorted copy of the span lengths).
std::vector<double> MiddlesOfLongestSpans(const Bspline* b, int dir, int count) {
  const std::vector<double> k = Knots(b, dir);
  const int p = dir ? b->degreeV : b->degreeU;
  std::vector<std::pair<double, int>> spans;
  for (int i = p; i + p + 1 < static_cast<int>(k.size()); ++i) spans.push_back({k[i + 1] - k[i], i});
  std::sort(spans.rbegin(), spans.rend());
  std::vector<double> middles;
  for (int j = 0; j < count && j < static_cast<int>(spans.size()); ++j)
    if (spans[j].first > 0.0) middles.push_back(0.5 * (k[spans[j].second] + k[spans[j].second + 1]));
  std::sort(middles.begin(), middles.end());
  return middles;
}

// The one-pass insertion and the general one agree: one value at a given knot index (inside a
// span, or on an existing knot, which gains a copy) and mode 1's middles of the longest spans
// of the original knots; both keep the shape.
TEST_F(Refinement, OneKnotInsertionEqualsTheGeneralInsertion) {
  BsplineKeeper keep;
  for (bool rational : {false, true})
    for (int c = 0; c < 4; ++c) {
      const int dir = c < 2 ? 0 : c - 2;
      Bspline* b = keep(c < 2 ? BuildRandomCurve(31 + c, 3, 9, 2 + c, rational)
                              : BuildRandomSurface(35 + dir, 3, 2, 7, 6, rational));
      const std::vector<double> k = Knots(b, dir);
      const int p = dir ? b->degreeV : b->degreeU;
      const int position = p + 3;
      for (double value : {0.3 * k[position - 1] + 0.7 * k[position], k[position]}) {
        Bspline* one = keep(CopyBsplineStruct(b));
        Bspline* general = keep(CopyBsplineStruct(b));
        EXPECT_NE(InsertOneKnotToObject(1, dir, one, 0, value, position), 0);
        InsertNKnotsToObject(1, 1, dir, general, 2, &value);
        ASSERT_FALSE(KernelFailedNow());
        EXPECT_EQ(Knots(one, dir), Knots(general, dir));
        EXPECT_LE(MaxCoefGap(one, general), 1e-13) << rational << c;
        EXPECT_LE(MaxShapeGap(b, one, 17), 1e-12 * RefScale(b)) << rational << c;
      }
      for (int count : {1, 3, 50}) {  // 50: more than there are spans, all of them split
        Bspline* one = keep(CopyBsplineStruct(b));
        Bspline* general = keep(CopyBsplineStruct(b));
        std::vector<double> middles = MiddlesOfLongestSpans(b, dir, count);
        EXPECT_NE(InsertOneKnotToObject(count, dir, one, 1, 0.0, 0), 0);
        InsertNKnotsToObject(1, static_cast<int>(middles.size()), dir, general, 2, middles.data());
        ASSERT_FALSE(KernelFailedNow());
        EXPECT_EQ(Knots(one, dir).size(), k.size() + middles.size());
        EXPECT_EQ(Knots(one, dir), Knots(general, dir)) << rational << c << count;
        EXPECT_LE(MaxCoefGap(one, general), 1e-13) << rational << c << count;
        EXPECT_LE(MaxShapeGap(b, one, 17), 1e-12 * RefScale(b)) << rational << c << count;
      }
    }
  // Refusals leave the object alone: a knot index outside p + 1 .. n, a value outside the
  // span before the index; mode 1 without a count has nothing to do and succeeds.
  Bspline* c = keep(BuildRandomCurve(41, 3, 7));
  Bspline* ref = keep(CopyBsplineStruct(c));
  const double* k = ref->knotsU;
  for (auto [value, position] : {std::pair{k[3], 3}, {k[7], 8}, {k[5] + 1e-3, 4}, {k[4] - 1e-3, 5}})
    EXPECT_EQ(InsertOneKnotToObject(1, 0, c, 2, value, position), 0) << position;
  EXPECT_NE(InsertOneKnotToObject(0, 0, c, 1, 0.0, 0), 0);
  EXPECT_TRUE(SameObject(c, ref));
  // Spans of zero length take no knot: a double interior knot leaves 3 spans of 4.
  std::copy_n(std::vector<double>{0, 0, 0, 0, 0.3, 0.3, 0.8, 1, 1, 1, 1}.begin(), 11, c->knotsU);
  ref = keep(CopyBsplineStruct(c));
  EXPECT_NE(InsertOneKnotToObject(4, 0, c, 1, 0.0, 0), 0);
  EXPECT_EQ(Knots(c), (std::vector<double>{0, 0, 0, 0, 0.15, 0.3, 0.3, 0.55, 0.8, 0.9, 1, 1, 1, 1}));
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
}

// The one-value variant inside a cluster of spans 1e-9 long (their windows far below 1e-6 of
// the range) keeps the shape as the general insertion does, at every size and place; a value
// that has p + 1 copies already (the domain's end) is refused, the curve left alone.
TEST_F(Refinement, OneKnotInsertionInsideAClusterKeepsTheShape) {
  std::mt19937 rng(29);
  for (const Place& pl : EveryPlace())
    for (int p : {1, 2, 3, 5})
      for (bool rational : {false, true}) {
        BsplineKeeper keep;
        std::vector<double> k(p + 1, 1e6);
        for (double u : {0.2, 0.5 - 1e-9, 0.5, 0.5 + 1e-9, 0.8}) k.push_back(1e6 + u);
        k.insert(k.end(), p + 1, 1e6 + 1);
        const int n = static_cast<int>(k.size()) - p - 1;
        std::vector<double> pts, w;
        RandomPlacedPoints(rng, pl, n, &pts, rational ? &w : nullptr);
        Bspline* ref = keep(BuildCurve(p, 3, pts, k, w));
        for (int at : {p + 3, p + 4}) {  // the knot 0.5 itself, then inside the span after it
          Bspline* c = keep(CopyBsplineStruct(ref));
          const double value = at == p + 3 ? k[at] : 0.7 * k[at - 1] + 0.3 * k[at];
          EXPECT_NE(InsertOneKnotToObject(1, 0, c, 2, value, at == p + 3 ? at + 1 : at), 0);
          EXPECT_EQ(NumCtrlU(c), n + 1);
          EXPECT_LE(MaxShapeGap(ref, c, 41), 1e-11 * RefScale(ref))
              << Where(pl) << " p " << p << " rational " << rational << " at " << at;
        }
        Bspline* c = keep(CopyBsplineStruct(ref));
        EXPECT_EQ(InsertOneKnotToObject(1, 0, c, 2, k[n], n), 0);
        EXPECT_TRUE(SameObject(c, ref));
      }
}

// The working form one insertion is built of, driven step by step: room for two knots, both
// inserted, the record written back equals two calls of the one-knot insertion; a record that
// is not sound gets no working form (nothing allocated, error state -2).
TEST_F(Refinement, WorkingFormStepsEqualTheOneKnotInsertion) {
  BsplineKeeper keep;
  for (bool rational : {false, true})
    for (int dir : {0, 1}) {
      Bspline* b = keep(BuildRandomSurface(51 + dir, 3, 2, 7, 6, rational));
      const std::vector<double> k = Knots(b, dir);
      const int p = dir ? b->degreeV : b->degreeU;
      const double first = 0.4 * k[p + 1] + 0.6 * k[p + 2], second = 0.5 * (k[p + 3] + k[p + 4]);
      Bspline* stepped = keep(CopyBsplineStruct(b));
      KnotInsertWork* work = nullptr;
      ASSERT_EQ(InitKnotInsertion(stepped, dir, 2, &work), 1);
      ASSERT_NE(InsertAKnotIntoTransposedObject(dir, work, 2, first, p + 2), nullptr);
      // The first knot moved every later index up by one.
      ASSERT_NE(InsertAKnotIntoTransposedObject(dir, work, 2, second, p + 5), nullptr);
      ASSERT_EQ(EndKnotInsertion(stepped, dir, work), 1);
      Bspline* called = keep(CopyBsplineStruct(b));
      ASSERT_NE(InsertOneKnotToObject(1, dir, called, 0, first, p + 2), 0);
      ASSERT_NE(InsertOneKnotToObject(1, dir, called, 0, second, p + 5), 0);
      EXPECT_EQ(Knots(stepped, dir), Knots(called, dir)) << rational << dir;
      EXPECT_EQ(MaxCoefGap(stepped, called), 0.0) << rational << dir;
      EXPECT_LE(MaxShapeGap(b, stepped, 17), 1e-12 * RefScale(b)) << rational << dir;
    }
  Bspline* bad = keep(BuildRandomCurve(53, 3, 7));
  bad->Y[0][2] = std::nan("");
  const long requests = MallocRuntimeRequests();
  KnotInsertWork* work = reinterpret_cast<KnotInsertWork*>(bad);  // must be cleared
  EXPECT_EQ(InitKnotInsertion(bad, 0, 1, &work), 0);
  EXPECT_EQ(work, nullptr);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(MallocRuntimeRequests(), requests);
}

// One knot t into u of rational records (a curve, and a surface whose rows all take it): the
// p new points are Boehm's rule in homogeneous coordinates, Q_i = (a_i P_i w_i + (1 - a_i)
// P_(i-1) w_(i-1)) / (a_i w_i + (1 - a_i) w_(i-1)) with a_i = (t - U_i) / (U_(i+p) - U_i),
// and every other point keeps its exact value and weight, only moved up past the new ones.
TEST_F(Refinement, RationalInsertionIsHomogeneousBoehmAndMovesTheRestExactly) {
  BsplineKeeper keep;
  for (Bspline* b : {keep(BuildRandomCurve(71, 3, 10, 3, true)),
                     keep(BuildRandomSurface(72, 3, 2, 8, 5, true))}) {
    const int p = b->degreeU, n = NumCtrlU(b), rows = b->kind == 2 ? NumCtrlV(b) : 1;
    const std::vector<double> U = Knots(b);
    const int k = p + 2;  // U[k] <= t < U[k + 1]
    const double t = 0.6 * U[k] + 0.4 * U[k + 1];
    Bspline* r = keep(CopyBsplineStruct(b));
    double value = t;
    InsertNKnotsToObject(1, 1, 0, r, 2, &value);
    ASSERT_FALSE(KernelFailedNow());
    ASSERT_EQ(NumCtrlU(r), n + 1);
    for (int j = 0; j < rows; ++j)
      for (double** Bspline::*m : {&Bspline::X, &Bspline::Y, &Bspline::Z, &Bspline::W}) {
        const double* P = (b->*m)[j];
        const double* w = b->W[j];
        const double* Q = (r->*m)[j];
        for (int i = 0; i <= n; ++i) {
          if (i <= k - p) {
            EXPECT_EQ(Q[i], P[i]) << i;
          } else if (i > k) {
            EXPECT_EQ(Q[i], P[i - 1]) << i;
          } else {
            const double a = (t - U[i]) / (U[i + p] - U[i]);
            const double wn = a * w[i] + (1 - a) * w[i - 1];
            const double homogeneous = a * P[i] * w[i] + (1 - a) * P[i - 1] * w[i - 1];
            const double want = m == &Bspline::W ? wn : homogeneous / wn;
            EXPECT_NEAR(Q[i], want, 1e-14 * (1 + std::fabs(want))) << i;
          }
        }
      }
    EXPECT_LE(MaxShapeGap(b, r, 17), 1e-12 * RefScale(b));
  }
}

// Mode 0 is the given values spread evenly over the first span; mode 1 splits the currently
// longest span (the last of equals) one knot after another, so a span split once may be split
// again. Both equal the given-values mode fed with those values.
TEST_F(Refinement, EvenAndLongestSpanModesAreGivenValues) {
  BsplineKeeper keep;
  for (int dir : {0, 1}) {
    Bspline* s = keep(BuildRandomSurface(61 + dir, 3, 2, 6, 7, true));
    const int p = dir ? s->degreeV : s->degreeU;
    for (int mode : {0, 1}) {
      const int n = 5;
      Bspline* byMode = keep(CopyBsplineStruct(s));
      Bspline* byValues = keep(CopyBsplineStruct(s));
      InsertNKnotsToObject(1, n, dir, byMode, mode, nullptr);
      ASSERT_FALSE(KernelFailedNow());
      const std::vector<double> k0 = Knots(s, dir);
      std::vector<double> k = k0;
      for (int j = 1; j <= n; ++j) {
        double t = k0[p] + j * ((k0[p + 1] - k0[p]) / (n + 1));
        if (mode == 1) {
          int longest = p;
          for (int i = p; i + p + 1 < static_cast<int>(k.size()); ++i)
            if (k[i + 1] - k[i] >= k[longest + 1] - k[longest]) longest = i;
          t = 0.5 * (k[longest] + k[longest + 1]);
        }
        InsertNKnotsToObject(1, 1, dir, byValues, 2, &t);
        k.insert(std::upper_bound(k.begin(), k.end(), t), t);
      }
      EXPECT_EQ(Knots(byMode, dir), k) << dir << mode;
      EXPECT_EQ(Knots(byMode, 1 - dir), Knots(s, 1 - dir));
      EXPECT_LE(MaxCoefGap(byMode, byValues), 1e-13) << dir << mode;
      EXPECT_LE(MaxShapeGap(s, byMode, 17), 1e-12 * RefScale(s)) << dir << mode;
    }
  }
}

// Many knots in one call go into each line in one pass; the same knots one call at a time
// (mult copies as mult calls of one copy) give the same knot vector, the same snapped values
// written back and the same coefficients to round-off, at parameter and model scales 1e-6 ..
// 1e6. The values include existing knots (single and repeated), values within the snapping
// distance of a knot or of each other, ties, range ends and values beyond them.
TEST_F(Refinement, ManyKnotsInOnePassEqualOneKnotAtATime) {
  BsplineKeeper keep;
  std::mt19937 rng(5);
  for (double scale : {1e-6, 1.0, 1e6})
    for (bool rational : {false, true})
      for (int c = 0; c < 4; ++c) {
        const int dir = c < 2 ? 0 : c - 2;
        Bspline* b = keep(c < 2 ? BuildRandomCurve(81 + c, 2 + c, 12, 2 + c, rational)
                                : BuildRandomSurface(85 + dir, 3, 2, 9, 8, rational));
        // Scale the parameters and the coordinates alike.
        for (double** Bspline::*m : {&Bspline::X, &Bspline::Y, &Bspline::Z})
          if (b->*m)
            for (int i = 0; i < NumCtrlU(b) * NumCtrlV(b); ++i) (b->*m)[0][i] *= scale;
        for (int d = 0; d < (b->kind == 2 ? 2 : 1); ++d) {
          double* k = d ? b->knotsV : b->knotsU;
          for (int i = 0; i < (d ? NumKnotsV(b) : NumKnotsU(b)); ++i) k[i] *= scale;
        }
        b->umin *= scale, b->umax *= scale, b->vmin *= scale, b->vmax *= scale;
        const std::vector<double> k = Knots(b, dir);
        const int p = dir ? b->degreeV : b->degreeU;
        const double lo = k[p], hi = k[k.size() - p - 1], tol = 1e-6 * (hi - lo);
        std::uniform_real_distribution<double> in(lo, hi);
        std::vector<double> v = {lo - 0.5 * scale, lo, k[p + 2], k[p + 2] + 0.3 * tol, hi, hi + scale};
        for (int j = 0; j < 24; ++j) v.push_back(in(rng));
        const double twice = in(rng);
        v.insert(v.end(), {twice, twice, twice + 0.5 * tol, k[p + 4] - 0.2 * tol});
        std::sort(v.begin(), v.end());
        for (int mult : {1, 2, -1}) {
          Bspline* bulk = keep(CopyBsplineStruct(b));
          Bspline* single = keep(CopyBsplineStruct(b));
          std::vector<double> bulkValues = v, singleValues = v;
          InsertNKnotsToObject(mult, static_cast<int>(v.size()), dir, bulk, 2, bulkValues.data());
          ASSERT_FALSE(KernelFailedNow());
          for (double& t : singleValues)
            for (int copy = 0; copy < (mult == -1 ? p + 1 : mult); ++copy)
              InsertNKnotsToObject(1, 1, dir, single, 2, &t);
          ASSERT_FALSE(KernelFailedNow());
          EXPECT_EQ(bulkValues, singleValues) << scale << rational << c << mult;
          EXPECT_EQ(Knots(bulk, dir), Knots(single, dir)) << scale << rational << c << mult;
          EXPECT_LE(MaxCoefGap(bulk, single), 1e-12 * RefScale(b)) << scale << rational << c << mult;
          EXPECT_LE(MaxShapeGap(b, bulk, 17), 1e-12 * RefScale(b)) << scale << rational << c << mult;
        }
        // The longest-span mode over many knots: ties split in the same order (uniform halves).
        Bspline* bulk = keep(CopyBsplineStruct(b));
        Bspline* single = keep(CopyBsplineStruct(b));
        InsertNKnotsToObject(1, 40, dir, bulk, 1, nullptr);
        for (int j = 0; j < 40; ++j) InsertNKnotsToObject(1, 1, dir, single, 1, nullptr);
        ASSERT_FALSE(KernelFailedNow());
        EXPECT_EQ(Knots(bulk, dir), Knots(single, dir)) << scale << rational << c;
        EXPECT_LE(MaxCoefGap(bulk, single), 1e-12 * RefScale(b)) << scale << rational << c;
      }
}

// The supporting operations against brute force: the ranking keeps the longest spans in
// ascending order (empty slots first), the sort orders values with their indices, the merge
// puts each new value right after its index.
TEST_F(Refinement, InsertionSupportAgainstBruteForce) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> uni(0.0, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    const int p = 1 + trial % 4;
    std::vector<double> knots(p + 1, 0.0);
    const int spans = 1 + trial % 9;
    for (int i = 0; i < spans; ++i) knots.push_back(knots.back() + uni(rng));
    knots.insert(knots.end(), p, knots.back());
    const int count = 1 + trial % 6;
    int* ranked = FindNLargestSpanIndices(count, p, static_cast<int>(knots.size()) - p, knots.data());
    ASSERT_NE(ranked, nullptr);
    std::vector<std::pair<double, int>> all;
    for (int i = p; i < p + spans; ++i) all.push_back({knots[i + 1] - knots[i], i});
    std::sort(all.begin(), all.end());
    const int kept = std::min(count, spans);
    for (int j = 0; j < count; ++j)
      EXPECT_EQ(ranked[j], j < count - kept ? -1 : all[all.size() - count + j].second) << trial;

    std::vector<double> values(count);
    for (double& v : values) v = uni(rng) - 0.5;
    auto* vs = MallocArray<double>(count);
    std::copy(values.begin(), values.end(), vs);
    for (int j = 0; j < count; ++j) ranked[j] = j;
    SortIndicesAndValues(count, &vs, &ranked);
    for (int j = 0; j < count; ++j) EXPECT_EQ(values[ranked[j]], vs[j]);
    EXPECT_TRUE(std::is_sorted(vs, vs + count));
    // New values at sorted positions of the knot vector go right after their index.
    std::vector<int> at(count);
    for (int& i : at) i = static_cast<int>(uni(rng) * knots.size());
    std::sort(at.begin(), at.end());
    double* merged = InsertNColsInVectorByIndex(static_cast<int>(knots.size()), knots.data(), count,
                                                vs, at.data());
    ASSERT_NE(merged, nullptr);
    std::vector<double> expect;
    for (int i = 0, j = 0; i < static_cast<int>(knots.size()); ++i) {
      expect.push_back(knots[i]);
      while (j < count && at[j] == i) expect.push_back(vs[j++]);
    }
    EXPECT_EQ(std::vector<double>(merged, merged + expect.size()), expect);
    Free(merged);
    Free(vs);
    Free(ranked);
  }
}

// A failure half-way through the one-pass insertion leaves the object as it was, in both
// modes and directions; the run that succeeds keeps the shape.
TEST_F(Refinement, OneKnotInsertionFailuresLeaveTheObjectUnchanged) {
  BsplineKeeper keep;
  for (int dir : {0, 1})
    for (int mode : {0, 1}) {
      Bspline* s = keep(BuildRandomSurface(71 + dir, 3, 2, 6, 5, true));
      Bspline* ref = keep(CopyBsplineStruct(s));
      const double* k = dir ? ref->knotsV : ref->knotsU;
      const int p = dir ? ref->degreeV : ref->degreeU;
      const double value = 0.5 * (k[p + 1] + k[p + 2]);
      const int failures = ExpectCleanFailures(s, [&](Bspline* obj) {
        const int r = InsertOneKnotToObject(3, dir, obj, mode, value, p + 2);
        EXPECT_EQ(r == 0, KernelFailed());
      });
      EXPECT_GT(failures, 3) << dir << mode;
      EXPECT_EQ(Knots(s, dir).size(), Knots(ref, dir).size() + (mode ? 3 : 1));
      EXPECT_LE(MaxShapeGap(ref, s, 13), 1e-12 * RefScale(ref)) << dir << mode;
    }
}

// A rational record whose homogeneous coordinates overflow is refused before any line is
// edited, whichever point and coordinate it is and on a curve or a surface refined in u; the
// same point at a size the homogeneous form still holds refines as Boehm's rule says.
TEST_F(Refinement, HomogeneousOverflowAtEveryPointIsRefusedUntouched) {
  BsplineKeeper keep;
  Bspline* curve = keep(BuildRandomCurve(5, 3, 7, 3, true));
  Bspline* surface = keep(BuildRandomSurface(9, 3, 2, 5, 4, true));
  for (Bspline* b : {curve, surface}) {
    const int count = NumCtrlU(b) * NumCtrlV(b);
    for (int at = 0; at < count; ++at)
      for (auto m : {&Bspline::X, &Bspline::Y, &Bspline::Z}) {
        for (double size : {1e300, 1e290}) {
          Bspline* c = CopyBsplineStruct(b);
          (c->*m)[0][at] = size;
          c->W[0][at] = 1e10;  // 1e310 overflows, 1e300 does not
          Bspline* before = CopyBsplineStruct(c);
          double t = 0.37;
          InsertNKnotsToObject(1, 1, 0, c, 2, &t);
          if (size == 1e300) {
            EXPECT_TRUE(KernelFailed()) << at;
            EXPECT_TRUE(SameObject(c, before)) << at;
          } else {
            EXPECT_FALSE(KernelFailed()) << at;
            EXPECT_EQ(Knots(c).size(), Knots(before).size() + 1) << at;
          }
          ClearKernelError();
          FreeBspline(before);
          FreeBspline(c);
        }
      }
  }
}

// The line-level steps of degree elevation give the elevated object's coefficients: every
// distinct knot gains a copy, the lines are raised together, and one control point of a line
// is the mean of its blossoms; also on knots 1e-12 apart (the last case, a cubic).
TEST_F(Refinement, ElevationStepsGiveTheElevatedCoefficients) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int i = 0; i < 7; ++i) pts.insert(pts.end(), {std::cos(1.7 * i), std::sin(2.3 * i), 0.1 * i});
  for (int which : {1, 2, 3, 4}) {
    Bspline* c = keep(which < 4 ? BuildRandomCurve(80 + which, which, which + 5)
                                : BuildCurve(3, 3, pts, {0, 0, 0, 0, 0.3, 0.3 + 1e-12, 0.6, 1, 1, 1, 1}));
    const int p = c->degreeU;
    Bspline* up = keep(CopyBsplineStruct(c));
    IncrementDegreeOfObject(0, up);
    ASSERT_FALSE(KernelFailedNow());
    const int n = NumCtrlU(c), count = NumKnotsU(c);
    std::vector<double> knots(2 * count);
    const int distinct = AddUniqueKnotsToArray(c->knotsU, knots.data(), count);
    knots.resize(count + distinct);
    EXPECT_EQ(knots, Knots(up));
    std::vector<double> src, dst(3 * (n + distinct - 1));
    for (double** m : {c->X, c->Y, c->Z}) src.insert(src.end(), m[0], m[0] + n);
    FindCoefiOfDegRaisedNCurves(src.data(), dst.data(), c->knotsU, knots.data(), n, 3, p + 1, distinct);
    const int m = NumCtrlU(up);
    ASSERT_EQ(m, n + distinct - 1);
    int span = p;
    for (int j = 0; j < m; ++j) {
      EXPECT_NEAR(dst[j], up->X[0][j], 1e-12) << p << " " << j;
      EXPECT_NEAR(dst[2 * m + j], up->Z[0][j], 1e-12) << p << " " << j;
      EXPECT_NEAR(Find1CoefiOf1DegRaisedCurve(src.data() + n, c->knotsU, knots.data(), p + 1, n, j, &span),
                  up->Y[0][j], 1e-12) << p << " " << j;
    }
  }
}

// The steps behind raising and insertion, and the span searches of the basis, given a count,
// index or degree that reaches outside their arrays: refused with the error state -2, outputs
// untouched. On a quadratic of four points, knots 0 0 0 0.5 1 1 1, the sound calls still give
// Boehm's points and a basis row that sums to 1.
TEST_F(Refinement, StepsRefuseIndicesOutsideTheirArrays) {
  const double U[7] = {0, 0, 0, 0.5, 1, 1, 1};
  const double line[4] = {1, 2, 4, 8};
  double V[14];
  const int distinct = AddUniqueKnotsToArray(U, V, 7);
  ASSERT_EQ(distinct, 3);
  auto refused = [] {
    const bool failed = KernelFailedNow();
    ClearKernelError();
    return failed;
  };
  const std::vector<double> untouched(6, -7.0);
  std::vector<double> raised = untouched;
  FindCoefiOfDegRaisedNCurves(line, raised.data(), U, V, 4, 1, 3, distinct + 1);
  EXPECT_TRUE(refused());
  FindCoefiOfDegRaisedNCurves(line, raised.data(), U, V, 2, 1, 3, distinct);  // n below the order
  EXPECT_TRUE(refused());
  EXPECT_EQ(raised, untouched);
  int span = 2;
  EXPECT_EQ(Find1CoefiOf1DegRaisedCurve(line, U, V, 3, 4, 6, &span), 0.0);  // raised points 0..5
  EXPECT_TRUE(refused());
  EXPECT_EQ(Find1CoefiOf1DegRaisedCurve(line, U, V, 0, 4, 0, &span), 0.0);
  EXPECT_TRUE(refused());
  FindCoefiOfDegRaisedNCurves(line, raised.data(), U, V, 4, 1, 3, distinct);
  ASSERT_FALSE(refused());
  EXPECT_EQ(raised.front(), 1.0);
  EXPECT_NEAR(raised.back(), 8.0, 1e-15);

  // 0.75 goes into span 3: new points 2 and 3 with alphas 0.75 / 1 and 0.25 / 0.5.
  double alpha[2] = {0.75, 0.5};
  double* weights[1] = {alpha};
  std::vector<double> inserted(5, -7.0);
  for (int first : {0, 3}) {  // before the line, past its end
    FindNewCoefiValues(1, 4, line, inserted.data(), &first, weights, 2, 1);
    EXPECT_TRUE(refused()) << first;
  }
  const int none = 1;
  FindNewCoefiValues(1, -1, line, inserted.data(), &none, weights, 2, 0);  // a line of -1 points
  EXPECT_TRUE(refused());
  EXPECT_EQ(inserted, std::vector<double>(5, -7.0));
  const int first = 2;
  FindNewCoefiValues(1, 4, line, inserted.data(), &first, weights, 2, 1);
  EXPECT_EQ(inserted, (std::vector<double>{1, 2, 3.5, 6, 8}));

  // The searches run over knots[deg .. hi]: hi at or below the degree (plus the shift) reads
  // outside the vector.
  std::vector<double> N(kMaxSplineDegree + 3, -7.0);
  EXPECT_EQ(EvalPointOnObjInit(0.75, 2, U, N.data(), &span, 2, 0), -2);
  EXPECT_EQ(EvalPointOnObjInit(0.75, 1, U, N.data(), &span, 4, 3), -2);
  EXPECT_EQ(EvalPointOnObjInitM(0.75, -1, U, N.data(), &span, 4), -2);
  const int orders[1] = {0};
  EXPECT_EQ(ComputeNubValDerivativesM(U, 0.75, 5, 2, orders, 1, &span, N.data()), -2);
  EXPECT_EQ(N, std::vector<double>(kMaxSplineDegree + 3, -7.0));
  ASSERT_EQ(ComputeNubValDerivativesM(U, 0.75, 7, 2, orders, 1, &span, N.data()), 0);
  EXPECT_EQ(span, 3);
  EXPECT_NEAR(N[0] + N[1] + N[2], 1.0, 1e-15);
}

TEST_F(Refinement, RemovalBoundOfAGivenKnotIsTheChange) {
  BsplineKeeper keep;
  for (int p : {1, 2, 3, 4}) {
    Bspline* c = keep(BuildRandomCurve(30 + p, p, p + 5, 3, false));
    Bspline* ref = keep(CopyBsplineStruct(c));
    double t = c->knotsU[p + 2], dev = -1.0;
    ASSERT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, &t, 1, 0, 0.0, &dev), 1);
    const double gap = MaxShapeGap(ref, c, 401);
    EXPECT_GT(dev, 0.0);
    // The bound is the change at the dropped point's edit point; the change peaks near there
    // (it is |D| times one basis function).
    EXPECT_LE(gap, 1.5 * dev) << "p " << p;
    EXPECT_GE(gap, 0.98 * dev) << "p " << p;
  }
}

// Largest gap between two curves at the parameters the removal samples: p + 1 per span of
// ref's knot vector, both ends included.
double SampledGap(const Bspline* ref, const Bspline* c) {
  const int p = ref->degreeU;
  double gap = 0.0;
  for (int i = p; i < NumCtrlU(ref); ++i)
    for (int j = 0; j <= p; ++j) {
      const double t = ref->knotsU[i] + j * (ref->knotsU[i + 1] - ref->knotsU[i]) / p;
      double a[3], b[3];
      RefEvalCurve(ref, t, a);
      RefEvalCurve(c, t, b);
      gap = std::max(gap, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
    }
  return gap;
}

// Multiplying every weight of a rational curve by one factor leaves the curve as it is, so the
// removal's bound and what the maximal removal takes away must not change with the factor: the
// costs are moves of the curve, not of its homogeneous points.
TEST_F(Refinement, RationalRemovalDoesNotDependOnTheScaleOfTheWeights) {
  BsplineKeeper keep;
  Bspline* base = keep(BuildRandomCurve(5, 3, 6, 3, true));
  std::vector<double> values = {0.1, 0.25, 0.4, 0.55, 0.7, 0.85};
  InsertNKnotsToObject(1, 6, 0, base, 2, values.data());
  std::mt19937 rng(3);
  for (int i = 0; i < NumCtrlU(base); ++i) base->X[0][i] += 1e-3 * Uniform(rng, -1, 1);
  std::vector<double> bounds;
  std::vector<int> counts;
  for (double factor : {1e-3, 1.0, 1e3}) {
    Bspline* c = keep(CopyBsplineStruct(base));
    for (int i = 0; i < NumCtrlU(c); ++i) c->W[0][i] *= factor;
    Bspline* one = keep(CopyBsplineStruct(c));
    double t = c->knotsU[6], dev = -1.0;
    ASSERT_EQ(RemoveKnotsOfObjSet(&one, 1, 0, 2, &t, 1, 0, 0.0, &dev), 1);
    const double gap = MaxShapeGap(base, one, 401);
    EXPECT_LE(gap, 1.5 * dev) << factor;
    EXPECT_GE(gap, 0.9 * dev) << factor;
    bounds.push_back(dev);
    double spent = 0.0;
    counts.push_back(RemoveAMaximalKnotSetOfObjSet(&c, 1, 0, nullptr, 0, 3, 0, 3e-3, &spent));
    EXPECT_LE(MaxShapeGap(base, c, 401), 3e-3 * 1.01) << factor;
  }
  EXPECT_NEAR(bounds[0], bounds[1], 1e-12);
  EXPECT_NEAR(bounds[2], bounds[1], 1e-12);
  EXPECT_EQ(counts, std::vector<int>(3, counts[1]));
  EXPECT_GE(counts[1], 5);
  // Two rational cubic pieces meeting at a break with a jump of 1 from (3, 0) to (3, 1):
  // removing a copy of the break moves the left piece's end onto the right piece's start.
  const std::vector<double> pts = {0, 0, 0, 1, 1, 0, 2, 1, 0, 3, 0, 0, 3, 1, 0, 4, 2, 0, 5, 1, 0, 6, 0, 0};
  const std::vector<double> knots = {0, 0, 0, 0, 0.5, 0.5, 0.5, 0.5, 1, 1, 1, 1};
  for (double factor : {1e-3, 1.0, 1e3}) {
    std::vector<double> weights = {1, 2, 1, 1.5, 0.8, 0.7, 1, 1};
    for (double& w : weights) w *= factor;
    Bspline* c = keep(BuildCurve(3, 3, pts, knots, weights));
    double t = 0.5, dev = -1.0;
    ASSERT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, &t, 1, 0, 0.0, &dev), 1);
    EXPECT_NEAR(dev, 1.0, 1e-12) << factor;
    double end[3];
    RefEvalCurve(c, 0.5 - 1e-13, end);
    EXPECT_NEAR(end[1], 1.0, 1e-9) << factor;
  }
}

// A removal's bound and what the maximal removal takes are moves of the curve: the same curve
// scaled by 1e-300 .. 1e300 (polynomial or rational) gives the same bound and removes the same
// knots, in its own units, where the squares of its coordinates would underflow or overflow.
// A knot that is not a number is refused with the error state set and the curve as it was.
TEST_F(Refinement, RemovalAtEveryMagnitudeAndRefusalOfANaNKnot) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int i = 0; i < 7; ++i) pts.insert(pts.end(), {std::cos(1.7 * i), std::sin(2.3 * i), 0.3 * i});
  const std::vector<double> knots = {0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1};
  for (const std::vector<double>& weights : {std::vector<double>{}, {1, 0.5, 2, 1, 3, 1, 1}}) {
    std::vector<double> unitBounds;
    for (double scale : {1.0, 1e-300, 1e-6, 1e6, 1e300}) {
      std::vector<double> q(pts);
      for (double& x : q) x *= scale;
      Bspline* c = keep(BuildCurve(3, 3, q, knots, weights));
      Bspline* ref = keep(CopyBsplineStruct(c));
      double dev = 0.0;
      EXPECT_EQ(RemoveSpecifiedKnotOfObject(c, NAN, 0, &dev), -2);
      EXPECT_EQ(zk_error_status, -2);
      EXPECT_TRUE(SameObject(c, ref));
      ClearKernelError();
      ASSERT_EQ(RemoveSpecifiedKnotOfObject(c, 0.5, 0, &dev), 0) << scale;
      EXPECT_TRUE(BsplineSound(c));
      unitBounds.push_back(dev / scale);
      // Inserted back, a knot costs nothing: all three go again at a tolerance of 1e-9.
      Bspline* smooth = keep(CopyBsplineStruct(ref));
      std::vector<double> extra = {0.3, 0.6, 0.9};
      InsertNKnotsToObject(1, 3, 0, smooth, 2, extra.data());
      double spent = 0.0;
      EXPECT_EQ(RemoveAMaximalKnotSetOfObjSet(&smooth, 1, 0, nullptr, 0, 3, 0, 1e-9 * scale, &spent), 3) << scale;
      EXPECT_EQ(Knots(smooth), knots) << scale;
      EXPECT_LE(spent, 1e-12 * scale) << scale;
    }
    for (double b : unitBounds) EXPECT_NEAR(b, unitBounds[0], 1e-14) << weights.size();
  }
}

// The maximal removal's 0 means "nothing could go" too, so a record or candidate it cannot
// work on (a point or knot that is not a number, an infinite weight) must also set the error
// state, the records left as they were.
TEST_F(Refinement, MaximalRemovalOfBadNumbersFails) {
  BsplineKeeper keep;
  for (int bad = 0; bad < 4; ++bad)
    for (int mode : {3, 4}) {
      Bspline* c = keep(BuildRandomCurve(61, 3, 9, 3, true));
      if (bad == 0) c->X[0][4] = NAN;
      if (bad == 1) c->knotsU[5] = NAN;
      if (bad == 2) c->W[0][2] = INFINITY;
      Bspline* ref = keep(CopyBsplineStruct(c));
      std::vector<double> cands(c->knotsU + 4, c->knotsU + 9);
      if (bad == 3) cands[1] = NAN;
      double dev = 0.0;
      EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, mode, cands.data(), bad == 3 ? 5 : 0, 1, 1e-3, &dev), 0);
      EXPECT_EQ(zk_error_status, -2) << "bad " << bad << " mode " << mode;
      ClearKernelError();
      EXPECT_TRUE(SameObject(c, ref) || bad == 1) << bad;
    }
}

// Knots closer than 1e-6 of the range are merged before the maximal removal chooses, but moving
// a knot moves the curve (by up to its control polygon's size across a cluster): the merge is
// spent from the tolerance, or left out, so the curve stays within tol of where it was and the
// deviation handed back counts it. Knots 1e-9 and 3e-7 of the range beside others, curves and a
// rational surface in v, at every size and place.
TEST_F(Refinement, MaximalRemovalCountsTheMergeOfCloseKnots) {
  std::mt19937 rng(31);
  for (const Place& pl : EveryPlace())
    for (double gap : {1e-9, 3e-7})
      for (bool surface : {false, true}) {
        BsplineKeeper keep;
        std::vector<double> k(4, -1e6);
        for (double u : {0.2, 0.5, 0.5 + gap, 0.8}) k.push_back(-1e6 + u);
        k.insert(k.end(), 4, -1e6 + 1);
        const int n = static_cast<int>(k.size()) - 4, lines = surface ? 3 : 1;
        std::vector<double> pts, w;
        RandomPlacedPoints(rng, pl, n * lines, &pts, &w);
        Bspline* ref = keep(surface ? BuildSurface(2, 3, lines, n, pts, {}, k, w) : BuildCurve(3, 3, pts, k));
        Bspline* c = keep(CopyBsplineStruct(ref));
        const double tol = 1e-9 * pl.size;
        double dev = -1.0;
        RemoveKnotsOfObjSet(&c, 1, surface, 3, nullptr, 0, 0, tol, &dev);
        ASSERT_FALSE(KernelFailedNow());
        EXPECT_LE(dev, tol) << Where(pl);
        EXPECT_LE(MaxShapeGap(ref, c, surface ? 41 : 401), tol * (1 + 1e-6) + 1e-15 * RefScale(ref))
            << Where(pl) << " gap " << gap << " surface " << surface;
      }
}

TEST_F(Refinement, MaximalRemovalStaysWithinTheTolerance) {
  BsplineKeeper keep;
  // Smooth curves on uneven knots with a little noise: part of the knots can go. Orders of
  // removal that differ between the ranking and the final removal used to break the bound.
  for (unsigned seed = 1; seed <= 24; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-1e-4, 1e-4);
    const int p = 2 + seed % 4, n = 30 + seed % 11;
    std::vector<double> knots = ClampedKnots(p, n, 0.0, 1.0, KnotLayout::Random, seed), pts;
    for (int i = 0; i < n; ++i) {
      double g = 0.0;
      for (int k = 1; k <= p; ++k) g += knots[i + k] / p;
      pts.insert(pts.end(),
                 {g, std::sin((2.0 + seed % 5) * g), 0.3 * std::cos(3.0 * g) + noise(rng)});
    }
    Bspline* c = keep(BuildCurve(p, 3, pts, knots));
    Bspline* ref = keep(CopyBsplineStruct(c));
    const double tol = std::pow(10.0, -2.0 - seed % 3);
    double dev = 0.0;
    const int removed = RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, tol, &dev);
    EXPECT_TRUE(removed > 0 && removed < ref->interiorU) << removed;
    EXPECT_EQ(c->interiorU, ref->interiorU - removed);
    EXPECT_LE(dev, tol);
    EXPECT_LE(SampledGap(ref, c), tol * (1 + 1e-9)) << "seed " << seed;
    // Between the samples the change may peak a little higher.
    EXPECT_LE(MaxShapeGap(ref, c, 1001), 1.1 * tol) << "seed " << seed;
  }
  for (int dir : {0, 1}) {
    Bspline* s = keep(BuildFunctionPatch(
        [](double x, double y) { return std::sin(2 * x + 0.3) * std::cos(3 * y); },
        {.nu = 20, .nv = 20, .layout = KnotLayout::Random, .seed = 3u + dir}));
    Bspline* ref = keep(CopyBsplineStruct(s));
    double dev = 0.0;
    EXPECT_GT(RemoveKnotsOfObjSet(&s, 1, dir, 3, nullptr, 0, 0, 1e-2, &dev), 0) << dir;
    EXPECT_LE(dev, 1e-2);
    EXPECT_LE(MaxShapeGap(ref, s, 61), 1.1e-2);
  }
  // A generous bound on rational curves (weights 0.5 .. 2) removes what it can while every weight
  // stays positive: the result is a record the kernel accepts, within the bound.
  int rationalRemoved = 0;
  for (unsigned seed = 1; seed <= 60; ++seed) {
    Bspline* c = keep(BuildRandomCurve(seed, 3, 9, 3, true));
    Bspline* ref = keep(CopyBsplineStruct(c));
    const double tol = 0.5 + seed % 4;
    double dev = 0.0;
    const int removed = RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, tol, &dev);
    EXPECT_TRUE(BsplineSound(c)) << seed;
    EXPECT_EQ(c->interiorU, ref->interiorU - removed);
    if (removed > 0) {
      EXPECT_LE(SampledGap(ref, c), tol * (1 + 1e-9)) << seed;
    }
    rationalRemoved += removed;
  }
  EXPECT_GT(rationalRemoved, 60);
  // No bound is no tolerance: every knot of a rational curve would go, its weights with them.
  for (double tol : {HUGE_VAL, std::nan(""), -1.0}) {
    Bspline* c = keep(BuildRandomCurve(7, 3, 9, 3, true));
    Bspline* ref = keep(CopyBsplineStruct(c));
    double dev = 42.0;
    EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, tol, &dev), 0) << tol;
    EXPECT_TRUE(SameObject(c, ref)) << tol;
  }
}

// A weight of 1e4 two points before one of 1e-4 makes a rational curve turn from one to the other
// over a small share of a span, and a removal's change peak there: measured at a span's p + 1
// points it reached up to 87 times the tolerance between them.
TEST_F(Refinement, MaximalRemovalHoldsWidelyWeightedCurvesBetweenTheirSamples) {
  BsplineKeeper keep;
  std::mt19937 rng(17);
  int removedInAll = 0;
  for (int p : {2, 3, 5}) {
    for (unsigned seed = 1; seed <= 8; ++seed) {
      const int n = p + 6;
      std::vector<double> pts, weights(n, 1.0);
      RandomPlacedPoints(rng, Place(1.0, false), n, &pts, nullptr);
      weights[n - 4] = 1e4;
      weights[n - 2] = 1e-4;
      const std::vector<double> knots = ClampedKnots(p, n, 0, 1, KnotLayout::Random, seed);
      Bspline* curve = keep(BuildCurve(p, 3, pts, knots, weights));
      // Knots put in and the points stirred by a tenth of the tolerance: each knot costs about
      // as much as may be spent.
      std::vector<double> more = {Uniform(rng, 0.1, 0.3), Uniform(rng, 0.4, 0.6), Uniform(rng, 0.7, 0.9)};
      InsertNKnotsToObject(1, 3, 0, curve, 2, more.data());
      for (auto m : {&Bspline::X, &Bspline::Y})
        for (int i = 0; i < NumCtrlU(curve); ++i) (curve->*m)[0][i] += Uniform(rng, -1e-4, 1e-4);
      Bspline* c = keep(CopyBsplineStruct(curve));
      double dev = 0.0;
      removedInAll += RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, 1e-3, &dev);
      EXPECT_LE(MaxShapeGap(curve, c, 4001), 1.1e-3) << "degree " << p << " seed " << seed;
    }
  }
  EXPECT_GT(removedInAll, 24);
}

// A set loses its knots from every object, so every object is held to the tolerance, not the
// first alone: beside a plane (whose knots could all go) a wavy surface keeps its shape, and
// knots inserted into both surfaces of a set are what goes, each surface kept within tol.
TEST_F(Refinement, MaximalRemovalHoldsEveryObjectOfASet) {
  BsplineKeeper keep;
  const std::vector<double> k = ClampedKnots(3, 7);
  std::vector<double> flat, wavy;
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < 7; ++i) {
      flat.insert(flat.end(), {double(i), double(j), 0.0});
      wavy.insert(wavy.end(), {double(i), double(j), std::sin(1.3 * i + 0.9 * j)});
    }
  for (int dir : {0, 1}) {
    Bspline* plane = keep(BuildSurface(3, 3, 7, 7, flat, k, k));
    Bspline* waves = keep(BuildSurface(3, 3, 7, 7, wavy, k, k));
    Bspline* ref = keep(CopyBsplineStruct(waves));
    Bspline* set[2] = {plane, waves};
    double dev = 0.0;
    RemoveKnotsOfObjSet(set, 2, dir, 3, nullptr, 0, 0, 1e-6, &dev);
    EXPECT_LE(MaxShapeGap(ref, waves, 61), 1e-6) << dir;

    Bspline* pair[2] = {keep(BuildSurface(3, 3, 7, 7, wavy, k, k)), keep(BuildSurface(3, 3, 7, 7, flat, k, k))};
    Bspline* refs[2] = {keep(CopyBsplineStruct(pair[0])), keep(CopyBsplineStruct(pair[1]))};
    for (Bspline* b : pair) {
      double extra[2] = {0.3, 0.6};
      InsertNKnotsToObject(1, 2, dir, b, 2, extra);
    }
    const int removed = RemoveKnotsOfObjSet(pair, 2, dir, 3, nullptr, 0, 0, 1e-9, &dev);
    EXPECT_EQ(removed, 2) << dir;
    for (int i = 0; i < 2; ++i) EXPECT_LE(MaxShapeGap(refs[i], pair[i], 61), 1e-9) << dir << " " << i;
  }
}

TEST_F(Refinement, RemovalKeepModeAndLinesThatNeedAKnot) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(60, 3, 10, 3, true));
  double cands[6];
  std::copy(c->knotsU + 4, c->knotsU + 10, cands);
  const std::vector<double> all(cands, cands + 6);
  EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 4, cands, 6, 2, 0.001, nullptr), 4);
  EXPECT_EQ(c->interiorU, 2);
  // The removed values come back ascending, and the two kept ones are original knots.
  EXPECT_TRUE(std::is_sorted(cands, cands + 4));
  for (int i = 4; i <= 5; ++i)
    EXPECT_NE(std::find(all.begin(), all.end(), c->knotsU[i]), all.end());
  // A surface keeps a knot as soon as one of its lines needs it.
  for (bool spoil : {false, true}) {
    Bspline* s = keep(BuildRandomSurface(70, 3, 3, 6, 5, false));
    const int interior = s->interiorU;
    double t = 0.55;
    InsertNKnotsToObject(1, 1, 0, s, 2, &t);
    if (spoil) s->Z[2][5] += 0.1;  // a point of row 2 that the new knot's removal recomputes
    EXPECT_EQ(RemoveKnotsOfObjSet(&s, 1, 0, 3, nullptr, 0, 0, 1e-6, nullptr), spoil ? 0 : 1);
    EXPECT_EQ(s->interiorU, spoil ? interior + 1 : interior);
  }
}

TEST_F(Refinement, RemovalAsksBeforeEndKnotsAndRefusesKnotsTheObjectLacks) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(80, 3, 7, 3, false));
  Bspline* ref = keep(CopyBsplineStruct(c));
  const double interior = c->knotsU[5];
  for (std::vector<double> bad :
       {std::vector<double>{0.123456}, {interior, interior}, {0.0}, {1.0}}) {
    EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, bad.data(), int(bad.size()), 0, 0.0, nullptr), 0);
    EXPECT_EQ(zk_error_status, -2);
    EXPECT_TRUE(SameObject(c, ref));
    ClearKernelError();
  }
  EXPECT_NE(Messages().find("Cannot remove knots which are not knots of the object."),
            std::string::npos);
  const double firstInterior = c->knotsU[4];
  StubSetYesNoAnswer(0);
  double dev = 0.0;
  EXPECT_EQ(RemoveSpecifiedKnotOfObject(c, 0.01, 0, &dev), -2);
  EXPECT_TRUE(SameObject(c, ref));
  StubSetYesNoAnswer(1);
  EXPECT_EQ(RemoveSpecifiedKnotOfObject(c, 0.01, 0, &dev), 0);
  EXPECT_GT(dev, 0.0);
  EXPECT_EQ(c->interiorU, ref->interiorU - 1);
  EXPECT_EQ(std::count(c->knotsU, c->knotsU + NumKnotsU(c), firstInterior), 0);
}

// A forced removal recomputes a rational curve's weights, and with weights spread 20 to 1 that
// takes one below zero, which no record may hold: refused with the curve as it was, by the
// single removal and by the set's; a forced maximal removal takes only what leaves it sound.
TEST_F(Refinement, ForcedRemovalThatWouldTurnAWeightNegativeIsRefused) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int i = 0; i < 6; ++i) pts.insert(pts.end(), {std::cos(1.7 * i), std::sin(2.3 * i), 0.3 * i});
  Bspline* c = keep(BuildCurve(3, 3, pts, {0, 0, 0, 0, 0.3, 0.6, 1, 1, 1, 1}, {20, 3, 1, 12, 5, 1}));
  const Bspline* ref = keep(CopyBsplineStruct(c));
  double t = 0.3;
  EXPECT_EQ(RemoveNKnotsOfObj(c, 0, &t, 1, nullptr), -2);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  EXPECT_EQ(MaxCoefGap(c, ref), 0.0);
  EXPECT_EQ(Knots(c), Knots(ref));
  Bspline* set[1] = {c};
  EXPECT_EQ(RemoveKnotsOfObjSet(set, 1, 0, 2, &t, 1, 0, 0.0, nullptr), 0);
  ClearKernelError();
  EXPECT_EQ(MaxCoefGap(c, ref), 0.0);
  double dev = 0.0;
  RemoveKnotsOfObjSet(set, 1, 0, 4, nullptr, 0, 0, 1.0, &dev);
  EXPECT_TRUE(BsplineSound(c));
}

// Knots 1e-9 and 2e-9 lie within the matching tolerance of the range start and of each other,
// yet each is a knot of its own: 0.5 and a just-inserted 0.4 are found and removed (restoring
// the curve), and so is 1e-9, without the end-knot question.
TEST_F(Refinement, RemovalBesideAClusterOfShortSpans) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int i = 0; i < 6; ++i) pts.insert(pts.end(), {std::cos(1.7 * i), std::sin(2.3 * i), 0.3 * i});
  const std::vector<double> k0 = {0, 0, 0, 0, 1e-9, 2e-9, 1, 1, 1, 1};
  for (bool rational : {false, true}) {
    Bspline* ref =
        keep(BuildCurve(3, 3, pts, k0, rational ? std::vector<double>{1, 0.7, 1.3, 1, 0.8, 1.1}
                                                : std::vector<double>{}));
    Bspline* c = keep(CopyBsplineStruct(ref));
    std::vector<double> add = {0.4, 0.5};
    InsertNKnotsToObject(1, 2, 0, c, 2, add.data());
    ASSERT_FALSE(KernelFailedNow());
    Bspline* with5 = nullptr;
    for (double t : {0.4, 0.5}) {
      double dev = -1.0;
      ASSERT_EQ(RemoveNKnotsOfObj(c, 0, &t, 1, &dev), 0) << t << " " << rational;
      EXPECT_LT(dev, 1e-13) << t;
      EXPECT_EQ(std::count(c->knotsU, c->knotsU + NumKnotsU(c), t), 0);
      EXPECT_LE(MaxShapeGap(ref, c, 201), 1e-14 * RefScale(ref));
      if (t == 0.4) with5 = keep(CopyBsplineStruct(c));
    }
    EXPECT_EQ(Knots(c), k0);
    EXPECT_LE(MaxCoefGap(c, ref), 1e-13) << rational;
    // A value that is no knot is still refused, with the object as it was.
    double off = 0.45;
    EXPECT_EQ(RemoveNKnotsOfObj(with5, 0, &off, 1, nullptr), -2);
    ClearKernelError();
    // The first interior knot is not the range start: removed without asking.
    StubSetYesNoAnswer(0);
    double dev = 0.0;
    EXPECT_EQ(RemoveSpecifiedKnotOfObject(c, 1.2e-9, 0, &dev), 0);
    EXPECT_EQ(Knots(c), (std::vector<double>{0, 0, 0, 0, 2e-9, 1, 1, 1, 1}));
  }
}

// Removal undoes insertion inside a cluster: beside knots 1e-12 apart the sweeps of the
// textbook elimination, meeting in the middle, divide by shares of the cluster's width. A copy
// of each knot of the cluster, or two, inserted into curves of degree 2 to 5 (rational or not)
// and removed again, gives back the control points to round-off of the size, with a bound of
// round-off, at sizes 1e-6 .. 1e6 and turned 1e4 sizes away.
TEST_F(Refinement, RemovalRestoresTheCurveInsideAClusterOfKnots) {
  for (const Place& pl : {Place(1e-6, true), Place(1.0, false), Place(1e6, true)})
    for (int p = 2; p <= 5; ++p)
      for (bool rational : {false, true}) {
        BsplineKeeper keep;
        const int n = p + 7;
        std::vector<double> pts, w, k(p + 1, 0.0);
        for (int i = 0; i < n; ++i) {
          double q[3] = {std::cos(1.7 * i), std::sin(2.3 * i), 0.3 * i};
          pl.Map(q, q);
          pts.insert(pts.end(), q, q + 3);
          w.push_back(1.0 + 0.5 * std::sin(1.1 * i));
        }
        for (double x : {0.1, 0.2, 0.3, 0.3 + 1e-12, 0.3 + 2e-12, 0.8}) k.push_back(x);
        k.insert(k.end(), p + 1, 1.0);
        Bspline* ref = keep(BuildCurve(p, 3, pts, k, rational ? w : std::vector<double>{}));
        const double size = ControlPointDiagonal(ref);
        for (const double v : {0.3, 0.3 + 1e-12, 0.3 + 2e-12})
          for (const int copies : {1, 2}) {
            Bspline* c = keep(CopyBsplineStruct(ref));
            double values[2] = {v, v};
            InsertNKnotsToObject(1, copies, 0, c, 2, values);
            ASSERT_FALSE(KernelFailedNow());
            double dev = copies == 1 ? -1.0 : 0.0;
            ASSERT_EQ(RemoveNKnotsOfObj(c, 0, values, copies, &dev), 0) << Where(pl) << " " << p << " " << v;
            ASSERT_EQ(Knots(c), k) << Where(pl) << " " << p << " " << v;
            if (copies == 1) {
              EXPECT_LT(dev, 1e-12 * size) << Where(pl) << " " << p << " " << v;
            }
            double gap = 0.0;
            for (int i = 0; i < n; ++i) {
              const double a[3] = {c->X[0][i], c->Y[0][i], c->Z[0][i]};
              const double b[3] = {ref->X[0][i], ref->Y[0][i], ref->Z[0][i]};
              gap = std::max(gap, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
            }
            EXPECT_LT(gap, (pl.far ? 1e-11 : 1e-14) * size) << Where(pl) << " " << p << " " << v << " " << copies << " " << rational;
            EXPECT_TRUE(BsplineSound(c));
          }
      }
}

// A knot inserted among spans of 1e-5 and 1e-9 (of a unit range, the others up to 0.5) is
// removable exactly, and the maximal removal must see that: with a tolerance of 1e-9 of the
// size it takes the knot out again, the knots as they were, the points and the deviation it
// reports at round-off. Quintic and degree 7 curves, and a rational surface in v, at every
// size and placement.
TEST_F(Refinement, MaximalRemovalTakesOutAKnotInsertedBesideShortSpans) {
  for (const Place& pl : {Place(1e-6, true), Place(1.0, false), Place(1e6, true)})
    for (int p : {5, 7})
      for (double shortSpan : {1e-5, 1e-9})
        for (bool surface : {false, true}) {
          BsplineKeeper keep;
          std::vector<double> k(p + 1, 0.0);
          for (double x : {shortSpan, 2 * shortSpan, 3 * shortSpan, 0.5}) k.push_back(x);
          k.insert(k.end(), p + 1, 1.0);
          const int n = static_cast<int>(k.size()) - p - 1, rows = surface ? 4 : 1;
          std::vector<double> pts, w;
          for (int j = 0; j < rows; ++j)
            for (int i = 0; i < n; ++i) {
              double q[3] = {std::cos(1.7 * i + 0.4 * j), std::sin(2.3 * i), 0.3 * std::cos(0.9 * i * i) + 0.5 * j};
              pl.Map(q, q);
              pts.insert(pts.end(), q, q + 3);
              w.push_back(1.0 + 0.5 * std::sin(1.1 * i + j));
            }
          // A surface's v holds the knots: its points run down the columns.
          std::vector<double> spts(pts.size());
          for (int j = 0; j < rows; ++j)
            for (int i = 0; i < n; ++i)
              for (int c = 0; c < 3; ++c) spts[3 * (i * rows + j) + c] = pts[3 * (j * n + i) + c];
          Bspline* ref = keep(surface ? BuildSurface(1, p, rows, n, spts, {0, 0, 1, 2, 3, 3}, k, w)
                                      : BuildCurve(p, 3, pts, k));
          ASSERT_NE(ref, nullptr);
          const double size = ControlPointDiagonal(ref);
          for (double at : {1.5 * shortSpan, 2.5 * shortSpan}) {
            Bspline* c = keep(CopyBsplineStruct(ref));
            double value = at;
            InsertNKnotsToObject(1, 1, 1, c, 2, &value);
            ASSERT_FALSE(KernelFailedNow());
            double dev = -1.0;
            EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 1, 3, nullptr, 0, 0, 1e-9 * size, &dev), 1)
                << Where(pl) << " p " << p << " short " << shortSpan << " at " << at << " surface " << surface;
            EXPECT_EQ(Knots(c, surface), k);
            EXPECT_LT(dev, (pl.far ? 1e-11 : 1e-13) * size);
            double gap = 0.0;
            for (int i = 0; i < n * rows; ++i)
              gap = std::max(gap, std::hypot(c->X[0][i] - ref->X[0][i], c->Y[0][i] - ref->Y[0][i], c->Z[0][i] - ref->Z[0][i]));
            EXPECT_LT(gap, (pl.far ? 1e-11 : 1e-13) * size)
                << Where(pl) << " p " << p << " short " << shortSpan << " at " << at << " surface " << surface;
          }
        }
}

// Making a set compatible merges knots closer than 1e-6 of the range. A cubic's triple knot
// beside one 1e-9 away would merge into four copies, cutting a control line: where the curve
// runs a fifth of its size across that stretch no merge keeps it, and the set is refused with
// the curve's shape as it was; where the stretch is short in space too (knots inserted into a smooth curve), it is
// collapsed, the shapes kept to round-off at every size and placement, the vectors identical.
TEST_F(Refinement, CompatibleSetsMergeAStretchOnlyWhereItIsShort) {
  BsplineKeeper keep;
  const std::vector<double> cluster = {0, 0, 0, 0, 0.3, 0.3, 0.3, 0.3 + 1e-9, 1, 1, 1, 1};
  std::vector<double> pts;
  for (int i = 0; i < 8; ++i) pts.insert(pts.end(), {std::cos(1.7 * i), std::sin(2.3 * i), 0.3 * i});
  Bspline* steep = keep(BuildCurve(3, 3, pts, cluster));
  Bspline* ref = keep(CopyBsplineStruct(steep));
  Bspline* set[2] = {steep, keep(BuildRandomCurve(3u, 3, 5))};
  MakeKnotVectorsCompatible(set, nullptr, 2, 0);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_LE(MaxShapeGap(ref, steep, 201), 1e-14 * RefScale(ref));
  ClearKernelError();
  // A break of four equal knots beside a short stretch: the merge would also cut one of the two
  // lines that meet at the break. Where they are one line that costs nothing; where the curve
  // jumps there the set is refused.
  for (const double jump : {0.0, 0.5}) {
    const std::vector<double> k = {0, 0, 0, 0, 0.2, 0.2, 0.2, 0.2, 0.6, 0.6 + 1e-9, 1, 1, 1, 1};
    std::vector<double> net;
    for (int i = 0; i < 10; ++i) {
      const double g = (k[i + 1] + k[i + 2] + k[i + 3]) / 3;  // 0.2 for both lines at the break
      net.insert(net.end(), {g + (i >= 4 ? jump : 0.0), std::sin(3 * g), std::cos(2 * g)});
    }
    Bspline* broken = keep(BuildCurve(3, 3, net, k));
    Bspline* was = keep(CopyBsplineStruct(broken));
    Bspline* two[2] = {broken, keep(BuildRandomCurve(3u, 3, 5))};
    MakeKnotVectorsCompatible(two, nullptr, 2, 0);
    EXPECT_EQ(KernelFailedNow(), jump > 0.0);
    EXPECT_LE(MaxShapeGap(was, broken, 201), 1e-8 * RefScale(was)) << jump;
    ClearKernelError();
  }

  for (const Place& pl : EveryPlace()) {
    Bspline* a = keep(BuildRandomCurve(5u, 3, 6));
    Bspline* b = keep(BuildRandomCurve(6u, 3, 7));
    pl.Map(a);
    pl.Map(b);
    for (auto [t, m] : {std::pair{0.3, 3}, {0.3 + 1e-9, 1}, {1 - 1e-9, 2}}) InsertNKnotsToObject(m, 1, 0, a, 2, &t);
    Bspline* before[2] = {keep(CopyBsplineStruct(a)), keep(CopyBsplineStruct(b))};
    Bspline* pair[2] = {a, b};
    MakeKnotVectorsCompatible(pair, nullptr, 2, 0);
    ASSERT_FALSE(KernelFailedNow()) << Where(pl);
    EXPECT_EQ(Knots(a), Knots(b));
    EXPECT_TRUE(BsplineSound(a));
    // Far away the coordinates carry round-off of 1e4 sizes.
    for (int i = 0; i < 2; ++i)
      EXPECT_LE(MaxShapeGap(before[i], pair[i], 201), (pl.far ? 1e-11 : 1e-13) * RefScale(before[i])) << Where(pl);
  }
}

// Three knots within 3e-9 of a cubic: merged, they move a curve of even weights by far less than
// 1e-6 of its size, but one whose weights alternate 1e-4 and 1e4 runs 0.4 of its size across
// them, so the merge would bend it there and the set is refused with the curve as it was.
TEST_F(Refinement, CompatibleSetsRefuseAMergeThatWouldBendAFastRationalCurve) {
  BsplineKeeper keep;
  const std::vector<double> k = {0, 0, 0, 0, 0.2, 0.5, 0.5 + 1e-9, 0.5 + 3e-9, 0.8, 1, 1, 1, 1};
  std::vector<double> pts, heavy, even(9, 1.0);
  for (int i = 0; i < 9; ++i) {
    pts.insert(pts.end(), {std::cos(1.7 * i), std::sin(2.3 * i), 0.3 * i});
    heavy.push_back(i % 2 ? 1e4 : 1e-4);
  }
  for (const auto* w : {&even, &heavy}) {
    Bspline* c = keep(BuildCurve(3, 3, pts, k, *w));
    Bspline* was = keep(CopyBsplineStruct(c));
    Bspline* pair[2] = {c, keep(BuildRandomCurve(3u, 3, 5, 3, true))};
    MakeKnotVectorsCompatible(pair, nullptr, 2, 0);
    EXPECT_EQ(KernelFailedNow(), w == &heavy);
    EXPECT_LE(MaxShapeGap(was, c, 201), (w == &heavy ? 0.0 : 1e-6) * RefScale(was));
    ClearKernelError();
  }
}

// Knots a few units in the last place apart stay knots of their own: a value inside a cluster
// goes in over windows shorter than the snapping tolerance, and only knots equal to it count as
// its copies (counting the cluster stopped a break short and closed it over unequal lines).
TEST_F(Refinement, InsertionInsideAClusterCountsOnlyEqualKnots) {
  BsplineKeeper keep;
  std::mt19937 rng(17);
  for (int p : {2, 3, 4})
    for (double e : {1e-15, 1e-9})
      for (bool rational : {false, true}) {
        std::vector<double> k(p + 1, 0.0);
        k.insert(k.end(), {0.2, 0.5 - e, 0.5, 0.5 + e, 0.8});
        k.insert(k.end(), p + 1, 1.0);
        const int n = static_cast<int>(k.size()) - p - 1;
        std::vector<double> pts, w;
        for (int i = 0; i < 3 * n; ++i) pts.push_back(Uniform(rng, -1, 1));
        for (int i = 0; rational && i < n; ++i) w.push_back(Uniform(rng, 0.1, 10));
        Bspline* ref = keep(BuildCurve(p, 3, pts, k, w));
        for (double t : {0.5 - e, 0.5, 0.5 + e})
          for (int mult : {1, -1}) {
            Bspline* c = keep(CopyBsplineStruct(ref));
            double v = t;
            InsertNKnotsToObject(mult, 1, 0, c, 2, &v);
            ASSERT_FALSE(KernelFailedNow());
            EXPECT_EQ(v, t);
            EXPECT_EQ(std::count(c->knotsU, c->knotsU + NumKnotsU(c), t), mult == 1 ? 2 : p + 1);
            EXPECT_EQ(NumCtrlU(c), n + (mult == 1 ? 1 : p));
            EXPECT_TRUE(BsplineSound(c));
            EXPECT_LE(MaxShapeGap(ref, c, 401), 1e-12 * RefScale(ref))
                << "p " << p << " e " << e << " rational " << rational << " mult " << mult;
          }
      }
}

// Values just below a knot (within the snapping distance) all go in as that knot, several in
// one call: the run they raise to full multiplicity lies after the knots below the value, so
// the two lines made equal there are the two that meet at the break, wherever the knot's old
// copies sit. Several old copies, curves and surfaces in v, at every size and place.
TEST_F(Refinement, ValuesSnappedUpToAKnotCloseTheBreakThere) {
  std::mt19937 rng(23);
  for (const Place& pl : EveryPlace())
    for (int p : {2, 3, 5})
      for (int old : {1, 2})
        for (bool surface : {false, true}) {
          BsplineKeeper keep;
          std::vector<double> k(p + 1, -1e6);
          k.push_back(-1e6 + 0.25);
          k.insert(k.end(), old, -1e6 + 0.5);
          k.push_back(-1e6 + 0.75);
          k.insert(k.end(), p + 1, -1e6 + 1.0);
          const int n = static_cast<int>(k.size()) - p - 1, lines = surface ? 3 : 1;
          std::vector<double> pts, w;
          RandomPlacedPoints(rng, pl, n * lines, &pts, &w);
          Bspline* ref = keep(surface ? BuildSurface(2, p, lines, n, pts, {}, k, w)
                                      : BuildCurve(p, 3, pts, k));
          Bspline* c = keep(CopyBsplineStruct(ref));
          const double knot = -1e6 + 0.5;
          std::vector<double> v = {-1e6 + 0.1};
          for (int j = p + 1 - old; j >= 1; --j) v.push_back(knot - j * 1e-9);
          InsertNKnotsToObject(1, static_cast<int>(v.size()), surface, c, 2, v.data());
          ASSERT_FALSE(KernelFailedNow());
          const double* kc = surface ? c->knotsV : c->knotsU;
          EXPECT_EQ(std::count(kc, kc + (surface ? NumKnotsV(c) : NumKnotsU(c)), knot), p + 1);
          EXPECT_LE(MaxShapeGap(ref, c, 41), 1e-11 * RefScale(ref))
              << Where(pl) << " p " << p << " old copies " << old << " surface " << surface;
        }
}

// A knot of multiplicity p + 1 lets the curve jump; removing one copy joins the pieces, and the
// bound handed back is the jump the end of the left piece makes (it used to be 0).
TEST_F(Refinement, RemovingACopyOfABreakBoundsTheJump) {
  BsplineKeeper keep;
  std::mt19937 rng(5);
  const std::vector<double> k = {0, 0, 0, 0, 0.3, 0.5, 0.5, 0.5, 0.5, 0.7, 1, 1, 1, 1};
  std::vector<double> pts;
  for (int i = 0; i < 30; ++i) pts.push_back(Uniform(rng, -1, 1));
  Bspline* ref = keep(BuildCurve(3, 3, pts, k));
  Bspline* c = keep(CopyBsplineStruct(ref));
  double t = 0.5, dev = -1.0;
  ASSERT_EQ(RemoveNKnotsOfObj(c, 0, &t, 1, &dev), 0);
  // Points 4 and 5 meet at the break: the end of the left piece and the start of the right.
  const double jump = std::hypot(pts[12] - pts[15], pts[13] - pts[16], pts[14] - pts[17]);
  EXPECT_NEAR(dev, jump, 1e-15 * jump);
  double a[3], b[3];
  RefEvalCurve(ref, 0.5 - 1e-12, a);
  RefEvalCurve(c, 0.5 - 1e-12, b);
  EXPECT_NEAR(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), dev, 1e-9 * jump);
}

// A polyline that jumps at a break (0.5 twice) or climbs a step over a span of 1e-9: straight
// on either side, so the knots 0.25 and 0.75 go at no cost, but the break's copy and the step
// stay. Removing a copy of the break used to cost nothing (the samples read the curve from the
// right there), and merging the step's two knots deleted a control line uncounted: the curve
// moved by 0.3 or 0.15 within a tolerance of 1e-3.
TEST_F(Refinement, MaximalRemovalKeepsBreaksAndSteps) {
  BsplineKeeper keep;
  const std::vector<double> pts = {0, 0, 0, 0.25, 0, 0, 0.5, 0, 0, 0.5, 0.3, 0, 0.75, 0.3, 0, 1, 0.3, 0};
  for (double step : {0.0, 1e-9}) {
    Bspline* ref = keep(BuildCurve(1, 3, pts, {0, 0, 0.25, 0.5, 0.5 + step, 0.75, 1, 1}));
    Bspline* c = keep(CopyBsplineStruct(ref));
    double dev = 0.0;
    EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, 1e-3, &dev), 2) << step;
    EXPECT_LE(dev, 1e-3);
    EXPECT_EQ(Knots(c), (std::vector<double>{0, 0, 0.5, 0.5 + step, 1, 1})) << step;
    // The step's short span moves the right-hand vertex off its place in parameter by 5e-10.
    EXPECT_LE(MaxShapeGap(ref, c, 401), 1e-9) << step;
  }
}

TEST_F(Refinement, RemovalDropsDerivedDataWithoutLeaking) {
  BsplineKeeper keep;
  for (int type : {2, 25}) {
    Bspline* b =
        keep(type == 2 ? BuildRandomCurve(100, 3, 7) : BuildRandomSurface(101, 2, 2, 5, 5, false));
    b->quadricType = type;  // a circle no longer fits once knots go; a plane stays a plane
    b->quadric = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
    const int dir = b->kind == 2;
    double t = (dir ? b->knotsV : b->knotsU)[4];
    EXPECT_EQ(RemoveKnotsOfObjSet(&b, 1, dir, 2, &t, 1, 0, 0.0, nullptr), 1);
    EXPECT_EQ(b->quadricType, type == 2 ? 0 : 25);
    EXPECT_EQ(b->quadric == nullptr, type == 2);  // freed, not dropped: the sanitizer sees a leak
  }
}

TEST_F(Refinement, TangentPlaneCleaningWithinAParameterWindow) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildRandomSurface(120, 3, 3, 6, 5, false));
  const int interior = s->interiorU;
  double t[2] = {0.3, 0.7};
  InsertNKnotsToObject(1, 2, 0, s, 2, t);
  // Only knots above 0.5 are candidates: the inserted 0.7 goes, 0.3 stays.
  double dev = 0.0;
  EXPECT_EQ(CleanSurfaceToTangentPlaneTol(s, nullptr, 0, 0.5, 2.0, 1e-6, 0.0, 0, &dev), 1);
  EXPECT_EQ(s->interiorU, interior + 1);
  EXPECT_EQ(std::count(s->knotsU, s->knotsU + NumKnotsU(s), 0.3), 1);
  EXPECT_EQ(CleanSurfaceToTangentPlaneTol(s, nullptr, 0, 0.95, 0.99, 1e-6, 0.0, 0, &dev), 0);
}

// One sweep per operation, on rational surfaces in either direction (the removal also on a
// curve, maximally): a failed run changes nothing, and the run that succeeds keeps the shape.
TEST_F(Refinement, AllocationFailuresLeaveTheObjectUnchanged) {
  BsplineKeeper keep;
  for (auto [op, dir] : {std::pair{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}}) {
    Bspline* s = keep(op == 3 ? BuildRandomCurve(111, 3, 6, 3, true)
                              : BuildRandomSurface(51 + dir, 3, 2, 6, 5, true));
    if (op == 3) InsertNKnotsToObject(1, 4, 0, s, 1, nullptr);
    Bspline* ref = keep(CopyBsplineStruct(s));
    const double knot = (dir ? s->knotsV : s->knotsU)[4];
    const int failures = ExpectCleanFailures(s, [&](Bspline* obj) {
      double v[3] = {0.2, 0.45, 0.9}, t = knot;
      if (op == 0) InsertNKnotsToObject(1, 3, dir, obj, 2, v);
      if (op == 1) IncrementDegreeOfObject(dir, obj);
      if (op == 2) RemoveKnotsOfObjSet(&obj, 1, dir, 2, &t, 1, 0, 0.0, nullptr);
      if (op == 3) RemoveKnotsOfObjSet(&obj, 1, 0, 3, nullptr, 0, 0, 1e-6, nullptr);
    });
    EXPECT_GT(failures, 2) << op;
    if (op < 2) {
      EXPECT_LE(MaxShapeGap(ref, s, 13), 1e-12 * RefScale(ref)) << op;
    } else {
      EXPECT_EQ(dir ? s->interiorV : s->interiorU,
                op == 2 ? (dir ? ref->interiorV : ref->interiorU) - 1 : 2);
    }
  }
  // Inside a caller's scope the new arrays belong to the object, not to the scope.
  Bspline* c = keep(BuildRandomCurve(52, 2, 5, 3, false));
  BeginTrackingMallocs();
  InsertNKnotsToObject(1, 2, 0, c, 1, nullptr);
  IncrementDegreeOfObject(0, c);
  FreeTrackedMallocs();
  EXPECT_TRUE(c->interiorU == 8 && c->degreeU == 3);
  double p[3];
  RefEvalCurve(c, 0.5, p);  // the sanitizer objects if the arrays were freed
}

// The exact sphere's quarter arcs meet at double knots with their joint on the sphere: taking a
// copy of one out keeps that point and bends the arcs beside it. The bound of a given removal is
// the move of the surface, wherever along the dropped point's support it is largest.
TEST_F(Refinement, RationalRemovalBoundSeesTheMoveBesideAPointItKeeps) {
  BsplineKeeper keep;
  for (const Place& pl : {Place(1.0, false), Place(1e-6, true), Place(1e6, true)})
    for (int dir : {0, 1}) {
      const double axis[3] = {0, 0, 1}, seam[3] = {1, 0, 0};
      Bspline* s = keep(shapes::Sphere(axis, seam, 1.0, shapes::Place{}));
      pl.Map(s);
      Bspline* ref = keep(CopyBsplineStruct(s));
      double t = 0.5, dev = -1.0;
      ASSERT_EQ(RemoveKnotsOfObjSet(&s, 1, dir, 2, &t, 1, 0, 0.0, &dev), 1);
      const double gap = MaxShapeGap(ref, s, 81);
      EXPECT_GT(gap, 1e-3 * pl.size) << Where(pl) << " dir " << dir;
      EXPECT_LE(gap, 1.5 * dev) << Where(pl) << " dir " << dir;
      EXPECT_GE(gap, 0.98 * dev) << Where(pl) << " dir " << dir;
    }
}

// A knot of one surface 9e-7 of the range beside another's takes the other's value when the set
// is made compatible: the same merge as one of a surface's own close knots, so the set is
// refused where it would move a surface by more than 1e-6 of its size. With weights spread
// 1e-4 .. 1e4 the surface moves 3.6e-6 of its size; with even ones 3e-7.
TEST_F(Refinement, CompatibleSetsRefuseAKnotMovedOntoAnothersThatWouldBendASurface) {
  BsplineKeeper keep;
  const std::vector<double> kv = {0, 0, 0, 0, 0.3, 0.5 + 9e-7, 0.7, 1, 1, 1, 1};
  for (const int spread : {0, 4}) {
    std::vector<double> pts, w;
    for (int j = 0; j < 7; ++j)
      for (int i = 0; i < 4; ++i) {
        pts.insert(pts.end(), {i / 3.0, j / 6.0, 0.3 * std::cos(1.7 * i + 1.3 * j)});
        w.push_back(std::pow(10.0, spread * std::sin(1.3 * j + 1.3 * i)));
      }
    Bspline* s = keep(BuildSurface(3, 3, 4, 7, pts, {}, kv, w));
    Bspline* was = keep(CopyBsplineStruct(s));
    // Its one interior knot in u is 0.5.
    Bspline* pair[2] = {keep(BuildFunctionPatch([](double x, double y) { return x * y; }, {3, 3, 5, 5})), s};
    const int dirs[2] = {0, 1};
    MakeKnotVectorsCompatible(pair, dirs, 2, 0);
    EXPECT_EQ(KernelFailedNow(), spread > 0);
    EXPECT_LE(MaxShapeGap(was, s, 201), (spread > 0 ? 0.0 : 1e-6) * RefScale(was)) << spread;
    ClearKernelError();
  }
}

}  // namespace
