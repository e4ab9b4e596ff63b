// Curve sampling that respects knot spans: per-span samples of 2D curves cut at the surface's
// knot lines, the crossing walk itself, adaptive and chord-length samples of curves on surfaces.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SamplingTest : public KernelTest {};

// A wavy surface with interior knots in both directions (uneven in u).
Bspline* KnottedSurface() {
  PatchOptions o;
  o.nu = 9;
  o.nv = 7;
  o.layout = KnotLayout::Random;
  o.seed = 3;
  return BuildFunctionPatch([](double x, double y) { return 0.2 * std::sin(3 * x) * std::cos(2 * y); }, o);
}

// Span indices of a curve point among the surface's knot lines.
void SpanOf(const Bspline* s, const Bspline* c, double t, int* iu, int* iv) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, c, t, 0, uv);
  GetUVKnotIndices(s->knotsU + s->degreeU, s->knotsV + s->degreeV, s->interiorU + 2, s->interiorV + 2, uv[0],
                   uv[1], iu, iv);
}

// A 2D curve sweeping across many knot lines of its surface, with knots of its own (the walk
// estimates crossings linearly between breakpoints, so the curve bends gently between them),
// its domain [a, a + w].
Bspline* SweepingCurve(Bspline* s, double a = 0.0, double w = 1.0) {
  std::vector<double> knots = {0, 0, 0, 0, 0.2, 0.45, 0.7, 1, 1, 1, 1};
  for (double& k : knots) k = a + w * k;
  return BuildCurveOnSurface(s, 3, {0.02, 0.1, 0.2, 0.3, 0.4, 0.45, 0.6, 0.5, 0.75, 0.7, 0.9, 0.85, 0.97, 0.95},
                             knots);
}

// Every sample interval lies in one polynomial piece of the surface: points strictly inside an
// interval share their span indices. The curve's own knots are among the samples. So also for
// a domain 1e-6 long away from 0, whose breaks lie closer together than the knot merge's fixed
// 1e-6 and were all taken as one.
TEST_F(SamplingTest, IntervalsOfCurvesOnSurfacesStayInOneSurfaceSpan) {
  for (double w : {1.0, 1e-6}) {
    const double a = w == 1.0 ? 0.0 : 0.01;
    SCOPED_TRACE(w);
    Bspline* s = KnottedSurface();
    Bspline* c = SweepingCurve(s, a, w);
    for (int n : {1, 2, 3, 5}) {
      int count = 0;
      double* t = SampleCurvePlateProper(c, n, &count);
      ASSERT_NE(t, nullptr);
      EXPECT_TRUE(std::is_sorted(t, t + count));
      EXPECT_EQ(t[0], c->umin);
      EXPECT_EQ(t[count - 1], c->umax);
      EXPECT_NE(std::find(t, t + count, a + w * 0.45), t + count);
      // n below 2 samples as 2, so an interval never loses its ends.
      const int perInterval = std::max(n, 2) - 1;
      EXPECT_EQ((count - 1) % perInterval, 0);
      int crossings = 0;
      for (int i = 0; i + 1 < count; ++i) {
        if (t[i + 1] == t[i]) continue;
        int iu0, iv0;
        SpanOf(s, c, t[i] + 0.02 * (t[i + 1] - t[i]), &iu0, &iv0);
        for (double f : {0.25, 0.5, 0.75, 0.98}) {
          int iu, iv;
          SpanOf(s, c, t[i] + f * (t[i + 1] - t[i]), &iu, &iv);
          EXPECT_TRUE(iu == iu0 && iv == iv0) << "n " << n << " interval " << i << " at " << f;
        }
        int iu1, iv1;
        SpanOf(s, c, t[i + 1] + 1e-9 * w, &iu1, &iv1);
        crossings += (iu1 != iu0) + (iv1 != iv0);
      }
      EXPECT_GE(crossings, 5) << n;  // the curve really sweeps across the knot lines
      Free(t);
    }
    FreeBspline(s);
  }
}

// The walk lists the breakpoints and, between them, the crossings in order; a crossing lies on
// its knot line.
TEST_F(SamplingTest, CrossingWalkLandsOnTheKnotLines) {
  Bspline* s = KnottedSurface();
  Bspline* c = SweepingCurve(s);
  int n = 0;
  double *t, *u, *v;
  ASSERT_EQ(GetCurve2DSurfParamSect(c, &n, &t, &u, &v), 0);
  EXPECT_TRUE(std::is_sorted(t, t + n));
  const std::vector<double> ku(s->knotsU + s->degreeU, s->knotsU + s->degreeU + s->interiorU + 2),
      kv(s->knotsV + s->degreeV, s->knotsV + s->degreeV + s->interiorV + 2);
  int lines = 0;
  for (int i = 0; i < n; ++i) {
    double uv[2];
    Eval2DPointOnCurve2Array(nullptr, c, t[i], 0, uv);
    const bool onU = std::count(ku.begin(), ku.end(), u[i]) > 0, onV = std::count(kv.begin(), kv.end(), v[i]) > 0;
    if (std::count(c->knotsU, c->knotsU + NumKnotsU(c), t[i]) == 0) {
      ++lines;
      EXPECT_TRUE(onU || onV) << i;
      if (onU) {
        EXPECT_NEAR(uv[0], u[i], 1e-6) << i;
      }
      if (onV) {
        EXPECT_NEAR(uv[1], v[i], 1e-6) << i;
      }
    }
  }
  EXPECT_GE(lines, 8);
  for (double* a : {t, u, v}) Free(a);
  // Without an owner there is no surface to cross.
  Bspline* loose = BuildCurve(2, 2, {0, 0, 0.5, 1, 1, 0});
  EXPECT_EQ(GetCurve2DSurfParamSect(loose, &n, &t, &u, &v), -2);
  FreeBspline(loose);

  // Under failing memory: -2 with nothing left behind, or the full walk.
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    double *a = nullptr, *b = nullptr, *d = nullptr;
    int k = 0;
    const int r = GetCurve2DSurfParamSect(c, &k, &a, &b, &d);
    if (r == 0) {
      EXPECT_EQ(k, n);
      for (double* x : {a, b, d}) Free(x);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(s);
}

TEST_F(SamplingTest, SpanLookupAndUniformArrays) {
  const double k[4] = {0.0, 0.3, 0.3, 1.0};
  int iu, iv;
  GetUVKnotIndices(k, k, 4, 4, 0.0, 1.5, &iu, &iv);
  EXPECT_EQ(iu, -1);
  EXPECT_EQ(iv, 3);
  GetUVKnotIndices(k, k, 4, 4, 0.3, 0.2, &iu, &iv);
  EXPECT_EQ(iu, 2);  // an interior knot gives the index of its (last) knot
  EXPECT_EQ(iv, 0);

  Bspline* bezier = BuildCurve(3, 3, {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 0, 0});
  int count = 0;
  double* t = SampleCurvePlateProper(bezier, 4, &count);
  ASSERT_EQ(count, 4);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(t[i], i / 3.0, 1e-15);
  Free(t);
  Bspline* one = BuildCurve(3, 3, std::vector<double>(15, 0.0), {0, 0, 0, 0, 0.4, 1, 1, 1, 1});
  double m1[5];
  ComputeCrvParamArraysForEval(one, 1, 2, m1, 5);
  const double want[5] = {0, 0.2, 0.4, 0.7, 1.0};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(m1[i], want[i], 1e-15);
  double m0[5];
  ComputeCrvParamArraysForEval(one, 0, 5, m0, 5);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(m0[i], 0.25 * i, 1e-15);
  FreeBspline(bezier);
  FreeBspline(one);
}

// A straight line across a flat surface bends nowhere: only the quarter samples of the crossing
// intervals are kept.
TEST_F(SamplingTest, AngularSamplesRefineOnlyWhereTheCurveBends) {
  PatchOptions o;
  o.nu = 6;
  Bspline* flat = BuildFunctionPatch([](double, double) { return 0.0; }, o);
  Bspline* line = BuildCurveOnSurface(flat, 1, {0.05, 0.5, 0.95, 0.5});
  int k = 0;
  double *t, *u, *v;
  ASSERT_EQ(GetCurve2DSurfParamSect(line, &k, &t, &u, &v), 0);
  for (double* a : {t, u, v}) Free(a);
  float *x, *y, *z;
  EXPECT_EQ(SampleCurveWithAngTol(line, 1.0, &x, &y, &z), 4 * k - 3);
  for (float* a : {x, y, z}) Free(a);

  Bspline* wavy = KnottedSurface();
  Bspline* arc = BuildCurveOnSurface(wavy, 2, {0.1, 0.1, 0.9, 0.1, 0.9, 0.9});
  const int coarse = SampleCurveWithAngTol(arc, 10.0, &x, &y, &z);
  for (float* a : {x, y, z}) Free(a);
  const int fine = SampleCurveWithAngTol(arc, 0.5, &x, &y, &z);
  EXPECT_GT(fine, coarse);
  // Consecutive chords turn by little more than the tolerance's scale.
  for (int i = 1; i + 1 < fine; ++i) {
    const double a[3] = {x[i] - x[i - 1], y[i] - y[i - 1], z[i] - z[i - 1]};
    const double b[3] = {x[i + 1] - x[i], y[i + 1] - y[i], z[i + 1] - z[i]};
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    const double na = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    if (na > 1e-4 && nb > 1e-4) {
      EXPECT_LT(std::acos(std::min(1.0, dot / (na * nb))) * 180 / M_PI, 3.0) << i;
    }
  }
  for (float* a : {x, y, z}) Free(a);
  EXPECT_EQ(SampleCurveWithAngTol(BsplineKeeper()(BuildCurve(1, 2, {0, 0, 1, 1})), 1.0, &x, &y, &z), 0);
  FreeBspline(flat);
  FreeBspline(wavy);
}

// The trim curves of a surface, every curve sampled per span, in loop order.
TEST_F(SamplingTest, TrimCurveSamplesFollowTheLoops) {
  Bspline* s = KnottedSurface();
  Bspline* a = BuildCurveOnSurface(s, 1, {0.2, 0.2, 0.8, 0.2});
  Bspline* b = BuildCurveOnSurface(s, 2, {0.8, 0.2, 0.8, 0.8, 0.2, 0.2});
  AddLoop(s, {a, b});
  float *x, *y, *z;
  const int n = SampleTrimCurvePlate(s, 3, &x, &y, &z);
  int ca = 0, cb = 0;
  double* ta = SampleCurvePlateProper(a, 3, &ca);
  double* tb = SampleCurvePlateProper(b, 3, &cb);
  ASSERT_EQ(n, ca + cb);
  double P[3];
  Eval3DPointOnBsplOnSurfArray(nullptr, b, tb[cb / 2], 0, 0, P);
  EXPECT_NEAR(x[ca + cb / 2], P[0], 1e-6);
  EXPECT_NEAR(z[ca + cb / 2], P[2], 1e-6);
  for (void* p : {(void*)x, (void*)y, (void*)z, (void*)ta, (void*)tb}) Free(p);
  FreeBspline(s);
}

// Chord-length samples of a loop: evenly spaced in 3D; n below 2 is refused (the step divides
// by n - 1); more slots than fine intervals leave the rest at the loop's end, never unset.
TEST_F(SamplingTest, ChordLengthSamplesOfATrimLoop) {
  PatchOptions o;
  Bspline* flat = BuildFunctionPatch([](double, double) { return 0.0; }, o);
  Bspline* a = BuildCurveOnSurface(flat, 1, {0.1, 0.1, 0.9, 0.1});
  Bspline* b = BuildCurveOnSurface(flat, 1, {0.9, 0.1, 0.9, 0.5});
  TrimList* loop = AddLoop(flat, {a, b});
  double *u = nullptr, *v = nullptr;
  EXPECT_EQ(SampleTrimCurveUniformChordLength(loop, 1, &u, &v), -2);
  EXPECT_EQ(u, nullptr);
  ASSERT_EQ(SampleTrimCurveUniformChordLength(loop, 7, &u, &v), 0);
  // Total length 1.2, step 0.2: sample k at arc length 0.2 k, within one fine interval.
  for (int k = 0; k < 7; ++k) {
    const double s = 0.2 * k, eu = s <= 0.8 ? 0.1 + s : 0.9, ev = s <= 0.8 ? 0.1 : 0.1 + (s - 0.8);
    EXPECT_NEAR(u[k], eu, 0.01) << k;
    EXPECT_NEAR(v[k], ev, 0.01) << k;
  }
  Free(u);
  Free(v);
  ASSERT_EQ(SampleTrimCurveUniformChordLength(loop, 400, &u, &v), 0);
  for (int k = 1; k < 400; ++k) EXPECT_TRUE(u[k] >= u[k - 1] - 1e-12 && v[k] >= v[k - 1] - 1e-12) << k;
  EXPECT_EQ(u[399], 0.9);
  EXPECT_EQ(v[399], 0.5);
  EXPECT_EQ(u[300], 0.9);
  EXPECT_EQ(v[300], 0.5);
  Free(u);
  Free(v);
  FreeBspline(flat);
}

}  // namespace
