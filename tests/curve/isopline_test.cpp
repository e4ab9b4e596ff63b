// Iso-parameter crossings and visible iso polylines. Crossings agree with a dense scan of the
// curve's coordinate, lie on the line to 1e-6 and come in order, however many there are; a
// touch is no crossing. Polylines of trimmed planes (x = u, y = v) lie on their iso line, inside
// the trim, and cover the inside part of the line up to the cut-back precision.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "curve/trimpoly.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class IsoLines : public KernelTest {};

double Coord(const Bspline* c, double t, int d) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, c, t, 0, uv);
  return d ? uv[0] : uv[1];
}

TEST_F(IsoLines, CrossingsMatchADenseScan) {
  std::mt19937 rng(3);
  for (unsigned seed = 1; seed <= 40; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 1 + seed % 3, 6 + seed % 9, 2);
    const int d = seed % 2;
    const double value = std::uniform_real_distribution<double>(-0.6, 0.6)(rng);
    std::vector<double> out(5 * c->interiorU + 5);
    int n = -1;
    ASSERT_EQ(FindCurve2IsoParamIntersections(c, d, value, out.data(), &n), 0);
    // A fine scan counts the sign changes; the samples of the search are far coarser, so a pair
    // of changes closer than a sample step can hide: the count never exceeds the scan's.
    int changes = 0;
    double prev = Coord(c, 0.0, d) - value;
    for (int i = 1; i <= 5000; ++i) {
      const double w = Coord(c, i / 5000.0, d) - value;
      changes += (w > 1e-10) != (prev > 1e-10);
      prev = w;
    }
    EXPECT_LE(n, changes);
    EXPECT_GE(n, changes % 2);  // an odd number of changes always shows
    for (int k = 0; k < n; ++k) {
      EXPECT_LE(std::fabs(Coord(c, out[k], d) - value), 1e-6) << seed;
      if (k) {
        EXPECT_GT(out[k], out[k - 1]);
      }
    }
    FreeBspline(c);
  }
}

TEST_F(IsoLines, StraightLineTouchAndManyCrossings) {
  // The diagonal (0, 0)-(1, 1) over uneven knots meets u = 0.5 once, where u = 0.5.
  Bspline* diag = BuildCurve(2, 2, {0, 0, 0.2, 0.2, 0.7, 0.7, 1, 1}, {0, 0, 0, 0.3, 1, 1, 1});
  double out[64];
  int n = 0;
  ASSERT_EQ(FindCurve2IsoParamIntersections(diag, 1, 0.5, out, &n), 0);
  ASSERT_EQ(n, 1);
  EXPECT_NEAR(Coord(diag, out[0], 1), 0.5, 1e-6);
  const double tDiag = out[0];
  // The same diagonal in a parameter domain a millionth as large crosses where it should too.
  Bspline* small = BuildCurve(2, 2, {0, 0, 0.2e-6, 0.2e-6, 0.7e-6, 0.7e-6, 1e-6, 1e-6}, {0, 0, 0, 0.3, 1, 1, 1});
  ASSERT_EQ(FindCurve2IsoParamIntersections(small, 1, 0.5e-6, out, &n), 0);
  ASSERT_EQ(n, 1);
  EXPECT_NEAR(Coord(small, out[0], 1), 0.5e-6, 1e-12);
  EXPECT_NEAR(out[0], tDiag, 1e-6);
  FreeBspline(small);
  // A parabola touching v = 0 from above never changes side: no crossing.
  Bspline* touch = BuildCurve(2, 2, {0, 1, 0.5, -1, 1, 1});
  ASSERT_EQ(FindCurve2IsoParamIntersections(touch, 0, 0.0, out, &n), 0);
  EXPECT_EQ(n, 0);
  // A zigzag of 81 vertices crosses u = 0.5 eighty times: more than any fixed buffer held.
  std::vector<double> zig;
  for (int i = 0; i <= 80; ++i) zig.insert(zig.end(), {i % 2 ? 0.6 : 0.4, i / 80.0});
  Bspline* z = BuildCurve(1, 2, zig);
  std::vector<double> many(5 * z->interiorU + 5);
  ASSERT_EQ(FindCurve2IsoParamIntersections(z, 1, 0.5, many.data(), &n), 0);
  EXPECT_EQ(n, 80);
  FreeBspline(diag);
  FreeBspline(touch);
  FreeBspline(z);
}

// The plane x = u, y = v, z = 0 with a clockwise square hole and a many-times crossed outer loop.
struct TrimmedPlane {
  Bspline* s;
  explicit TrimmedPlane(bool zigzag) : s(BuildFunctionPatch([](double, double) { return 0.0; })) {
    auto line = [&](std::vector<double> uv) { return BuildCurveOnSurface(s, 1, uv); };
    std::vector<Bspline*> outer;
    if (zigzag) {
      // Up the left side in a zigzag across u = 0.5 (60 crossings), then round the right.
      std::vector<double> zig;
      for (int i = 0; i <= 60; ++i) zig.insert(zig.end(), {i % 2 ? 0.55 : 0.45, 0.05 + 0.9 * i / 60.0});
      outer.push_back(BuildCurveOnSurface(s, 1, zig));
      outer.push_back(line({0.45, 0.95, 0.95, 0.95}));
      outer.push_back(line({0.95, 0.95, 0.95, 0.05}));
      outer.push_back(line({0.95, 0.05, 0.45, 0.05}));
    } else {
      outer = SquareCurves(s, 0.05, 0.05, 0.95, 0.95);
    }
    AddLoop(s, outer);
    AddLoop(s, SquareCurves(s, 0.4, 0.4, 0.6, 0.6, true), 1);
  }
  ~TrimmedPlane() { FreeBspline(s); }
};

// Point in trim on loops sampled once.
struct Inside {
  TrackingScope scope;
  TrimPolylines trims;
  explicit Inside(Bspline* s) { EXPECT_EQ(SampleTrimPolylines(s, 0.0, &trims), 0); }
  int operator()(double u, double v) const { return InsideTrimPolylines(&trims, u, v); }
};

// Checks every segment of the polyline of the line (u = c for d, else v = c) and returns the
// visible length.
double CheckPolyline(Bspline* s, int d, double c, int n, const float* x, const float* y, const float* z) {
  const Inside IsPointInTrim(s);
  double length = 0.0;
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(d ? x[i] : y[i], c, 1e-6);
    EXPECT_EQ(z[i], 0.0f);
  }
  for (int i = 0; i + 1 < n; i += 2) {
    // Both ends and the middle are inside the trim (ends that lie on a trim curve tested a hair
    // towards the middle, clear of the float rounding of the output).
    for (double f : {1e-4, 0.5, 1.0 - 1e-4}) {
      const double u = x[i] + f * (x[i + 1] - x[i]), v = y[i] + f * (y[i + 1] - y[i]);
      EXPECT_EQ(IsPointInTrim(u, v), 1) << u << " " << v;
    }
    EXPECT_GT(std::hypot(x[i + 1] - x[i], y[i + 1] - y[i]), 0.0) << x[i] << " " << y[i] << " d " << d;
    length += std::hypot(x[i + 1] - x[i], y[i + 1] - y[i]);
  }
  return length;
}

double InsideLength(Bspline* s, int d, double c, double t0, double t1) {
  const Inside IsPointInTrim(s);
  int in = 0;
  const int steps = 20000;
  for (int i = 0; i < steps; ++i) {
    const double t = t0 + (t1 - t0) * (i + 0.5) / steps;
    in += IsPointInTrim(d ? c : t, d ? t : c);
  }
  return (t1 - t0) * in / steps;
}

TEST_F(IsoLines, PolylinesStayOnTheLineAndInsideTheTrim) {
  for (bool zigzag : {false, true}) {
    TrimmedPlane plane(zigzag);
    for (int d : {0, 1})
      for (double c : {0.3, 0.505, 0.52, 0.705}) {  // clear of the zigzag's vertices
        float *x, *y, *z;
        const int n = CreateIsoPlineArrays(plane.s, c, d, &x, &y, &z);
        const double inside = InsideLength(plane.s, d, c, 0.0, 1.0);
        if (inside == 0.0) {
          EXPECT_EQ(n, 0);
          EXPECT_EQ(x, nullptr);
          continue;
        }
        ASSERT_GT(n, 0) << zigzag << d << c;
        ASSERT_EQ(n % 2, 0);
        const double length = CheckPolyline(plane.s, d, c, n, x, y, z);
        // Each cut-back ends within 1/128 of its segment's step of the trim; steps are a
        // quarter of the span at most.
        EXPECT_NEAR(length, inside, 0.01) << zigzag << d << c;
        Free(x);
        Free(y);
        Free(z);
      }
  }
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(IsoLines, UntrimmedAndRestrictedRanges) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; },
                                  PatchOptions{3, 3, 4, 6});
  float *x, *y, *z;
  // Degree 3 and no interior knots in u: one span in 4 segments along v = 0.25.
  ASSERT_EQ(CreateIsoPlineArrays(s, 0.25, 0, &x, &y, &z), 8);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(y[i], 0.25, 1e-12);
  for (int i = 1; i + 1 < 8; i += 2) EXPECT_EQ(x[i], x[i + 1]);  // segments join
  EXPECT_EQ(x[0], 0.0f);
  EXPECT_EQ(x[7], 1.0f);
  Free(x);
  Free(y);
  Free(z);
  // Along u = 0.5 over v in [0.2, 0.9]: 2 interior knots of v inside, 3 spans of 4 segments.
  ASSERT_EQ(CreateIsoPlineArraysGivenPar(s, 0.5, 1, 0.2, 0.9, &x, &y, &z), 24);
  EXPECT_FLOAT_EQ(y[0], 0.2f);
  EXPECT_FLOAT_EQ(y[23], 0.9f);
  for (int i = 0; i < 24; ++i) EXPECT_NEAR(x[i], 0.5, 1e-12);
  Free(x);
  Free(y);
  Free(z);
  EXPECT_EQ(CreateIsoPlineArraysGivenPar(s, 0.5, 1, 0.9, 0.2, &x, &y, &z), 0);
  EXPECT_EQ(x, nullptr);
  EXPECT_EQ(CreateIsoPlineArraysGivenPar(s, 0.5, 1, -0.1, 0.5, &x, &y, &z), 0);
  // A trim that leaves nothing of the line: no points, null arrays.
  AddLoop(s, {BuildCurveOnSurface(s, 1, {0.6, 0.6, 0.9, 0.6}), BuildCurveOnSurface(s, 1, {0.9, 0.6, 0.9, 0.9}),
              BuildCurveOnSurface(s, 1, {0.9, 0.9, 0.6, 0.6})});
  EXPECT_EQ(CreateIsoPlineArrays(s, 0.1, 1, &x, &y, &z), 0);
  EXPECT_EQ(x, nullptr);
  EXPECT_EQ(y, nullptr);
  EXPECT_EQ(z, nullptr);
  FreeBspline(s);
}

// Memory running out anywhere gives no arrays and leaves nothing behind; a run that gets through
// draws the line as usual.
TEST_F(IsoLines, FailedAllocationsLeaveNothing) {
  TrimmedPlane plane(true);
  const int failed = RunWithInjectedFailures(400, 3, [&] {
    float *x, *y, *z;
    const int n = CreateIsoPlineArrays(plane.s, 0.505, 1, &x, &y, &z);
    if (n == 0) {
      EXPECT_EQ(x, nullptr);
      return -2;
    }
    Free(x);
    Free(y);
    Free(z);
    return 0;
  });
  EXPECT_GT(failed, 0);
}

}  // namespace
