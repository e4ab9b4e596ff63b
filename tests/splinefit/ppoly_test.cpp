// Power-basis forms and their way back: the Bezier matrix and its inverse, degree raising of
// Bezier polygons and nets, B-splines written as piecewise polynomials (each piece reproduces
// its span) and piecewise polynomials turned back into B-splines whose removed knots restore
// the continuity the pieces have.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "splinefit/sconvert.h"
#include "splinefit/splutil.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PolyForms : public KernelTest {};

using Matrix = Owned<double*, matrix_free_ff>;

// Horner sum of segment i's coordinate c at local s.
double SegmentValue(const PpolyCurve& pp, int i, int c, double s) {
  const PpolySegment* seg = pp.segments[i];
  double v = 0.0;
  for (int k = seg->degree; k >= 0; --k) v = v * s + seg->coefficients[c][k];
  return v;
}

double PatchValue(const PpolySurface& pp, int iu, int iv, int c, double s, double r) {
  const PpolyPatch* p = pp.patches[iu][iv];
  double v = 0.0;
  for (int k = 0; k <= p->degreeU; ++k)
    for (int l = 0; l <= p->degreeV; ++l)
      v += p->coefficients[k][l][c] * std::pow(s, k) * std::pow(r, l);
  return v;
}

// Which segment holds t, and its local parameter.
int Locate(const double* b, int L, double t, double* s) {
  int i = 0;
  while (i < L - 1 && t >= b[i + 1]) ++i;
  *s = (t - b[i]) / (b[i + 1] - b[i]);
  return i;
}

// Snapshot of everything a conversion could disturb in a record.
std::vector<double> Snapshot(const Bspline* b) {
  std::vector<double> v = {double(b->degreeU), double(b->interiorU), b->umin, b->umax,
                           b->vmin, b->vmax};
  v.insert(v.end(), b->knotsU, b->knotsU + NumKnotsU(b));
  const int rows = b->kind == 2 ? NumCtrlV(b) : 1;
  if (b->kind == 2) v.insert(v.end(), b->knotsV, b->knotsV + NumKnotsV(b));
  double** m[4] = {b->X, b->Y, b->dimension == 3 ? b->Z : nullptr, b->rational ? b->W : nullptr};
  for (auto* M : m)
    if (M)
      for (int j = 0; j < rows; ++j) v.insert(v.end(), M[j], M[j] + NumCtrlU(b));
  return v;
}

bool BitIdentical(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST_F(PolyForms, BezierMatrixTimesItsInverseIsTheIdentity) {
  for (int n = 1; n <= 12; ++n) {
    Matrix M(allocate_matrix_ff(n + 1, n + 1)), Mi(allocate_matrix_ff(n + 1, n + 1));
    ASSERT_EQ(FindBezierMatrix(n, M.get()), 0);
    ASSERT_EQ(FindInvBezierMatrix(n, Mi.get()), 0);
    for (int i = 0; i <= n; ++i)
      for (int j = 0; j <= n; ++j) {
        double s = 0.0;
        for (int k = 0; k <= n; ++k) s += M[i][k] * Mi[k][j];
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-9) << n << " " << i << " " << j;
      }
    if (n == 2) {
      const double rows[3][3] = {{1, 0, 0}, {-2, 2, 0}, {1, -2, 1}};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(M[i][j], rows[i][j]);
    }
  }
}

// De Casteljau on a polygon: the reference for degree raising.
std::vector<double> DeCasteljau(std::vector<std::vector<double>> P, double t) {
  for (size_t r = 1; r < P.size(); ++r)
    for (size_t i = 0; i + r < P.size(); ++i)
      for (size_t c = 0; c < P[i].size(); ++c) P[i][c] = (1 - t) * P[i][c] + t * P[i + 1][c];
  return P[0];
}

TEST_F(PolyForms, DegreeRaisingKeepsTheCurveAndTheNet) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(-1, 1);
  for (int d = 0; d <= 4; ++d) {
    const int p = d + 3;
    Matrix in(allocate_matrix_ff(d + 1, 3)), out(allocate_matrix_ff(p + 1, 3));
    std::vector<std::vector<double>> P(d + 1, std::vector<double>(3));
    for (int i = 0; i <= d; ++i)
      for (int c = 0; c < 3; ++c) in[i][c] = P[i][c] = U(rng);
    ASSERT_EQ(RaiseBezierDegree(p, d, 3, in.get(), out.get()), 0);
    std::vector<std::vector<double>> Q(p + 1, std::vector<double>(3));
    for (int i = 0; i <= p; ++i)
      for (int c = 0; c < 3; ++c) Q[i][c] = out[i][c];
    for (double t : {0.0, 0.13, 0.5, 0.77, 1.0}) {
      const auto a = DeCasteljau(P, t), b = DeCasteljau(Q, t);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[c], b[c], 1e-12) << d << " " << t;
    }
  }
  // A bilinear net raised to bicubic: the same bilinear patch on 4 x 4 points.
  Matrix X(allocate_matrix_ff(2, 2)), Y(allocate_matrix_ff(2, 2)), Z(allocate_matrix_ff(2, 2));
  Matrix OX(allocate_matrix_ff(4, 4)), OY(allocate_matrix_ff(4, 4)), OZ(allocate_matrix_ff(4, 4));
  const double c[2][2][3] = {{{0, 0, 0}, {2, 0, 1}}, {{0, 3, -1}, {2, 3, 5}}};  // [v][u]
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      X[j][i] = c[j][i][0];
      Y[j][i] = c[j][i][1];
      Z[j][i] = c[j][i][2];
    }
  ASSERT_EQ(RaiseBezierSurfDegree(3, 1, 3, 3, 1, X.get(), Y.get(), Z.get(), OX.get(), OY.get(),
                                  OZ.get()),
            0);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      const double s = i / 3.0, r = j / 3.0;
      auto bil = [&](int k) {
        return (1 - r) * ((1 - s) * c[0][0][k] + s * c[0][1][k]) +
               r * ((1 - s) * c[1][0][k] + s * c[1][1][k]);
      };
      EXPECT_NEAR(OX[j][i], bil(0), 1e-12);
      EXPECT_NEAR(OY[j][i], bil(1), 1e-12);
      EXPECT_NEAR(OZ[j][i], bil(2), 1e-12);
    }
}

// A random cubic with a double interior knot: every piece reproduces its span exactly, the
// breakpoints are the distinct knots, the curve is bit-identical afterwards, and the way back
// gives the same curve with the single knots removed again (C2 joins) and the double one kept
// as far as its C1 join allows.
TEST_F(PolyForms, CurveRoundTripThroughPiecewisePolynomials) {
  for (int dim : {3, 2}) {
    BsplineKeeper keep;
    const std::vector<double> K = {0, 0, 0, 0, 0.2, 0.5, 0.5, 0.8, 1, 1, 1, 1};
    std::mt19937 rng(dim);
    std::uniform_real_distribution<double> U(-1, 1);
    std::vector<double> pts(8 * dim);
    for (double& x : pts) x = U(rng);
    Bspline* c = keep(BuildCurve(3, dim, pts, K));
    ASSERT_NE(c, nullptr);
    const auto before = Snapshot(c);
    PpolyCurve pp{};
    ASSERT_EQ(bspline2ppolyCurve(c, &pp), 0);
    EXPECT_TRUE(BitIdentical(before, Snapshot(c)));
    ASSERT_EQ(pp.segmentCount, 4);
    EXPECT_EQ(pp.dim, dim);
    const double bp[5] = {0, 0.2, 0.5, 0.8, 1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(pp.breakpoints[i], bp[i]);
    for (int k = 0; k <= 50; ++k) {
      const double t = k / 50.0;
      double ref[3], s;
      RefEvalCurve(c, t, ref);
      const int i = Locate(pp.breakpoints, pp.segmentCount, t, &s);
      for (int a = 0; a < dim; ++a) EXPECT_NEAR(SegmentValue(pp, i, a, s), ref[a], 1e-12) << t;
    }
    Owned<Bspline, FreeBspline> back(Ppoly2Bspline(&pp, 1e-9));
    FreePpolyCurve(&pp);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->degreeU, 3);
    // Knots 0.2 and 0.8 go down to one copy, 0.5 to two: the original vector.
    ASSERT_EQ(back->interiorU, 4) << dim;
    for (int i = 0; i < NumKnotsU(back.get()); ++i) EXPECT_NEAR(back->knotsU[i], K[i], 1e-15);
    for (int k = 0; k <= 40; ++k) {
      double a[3], b[3];
      RefEvalCurve(c, k / 40.0, a);
      RefEvalCurve(back.get(), k / 40.0, b);
      for (int q = 0; q < dim; ++q) EXPECT_NEAR(a[q], b[q], 1e-9);
    }
  }
}

// A line of degree 1 in a cubic record is raised to four evenly spaced points; a segment above
// the record's degree cannot be placed.
TEST_F(PolyForms, LowerDegreeSegmentsAreRaisedHigherOnesRefused) {
  double b[3] = {0.0, 1.0, 3.0};
  Matrix c0(allocate_matrix_ff(3, 4)), c1(allocate_matrix_ff(3, 2));
  // Segment 0: a cubic; segment 1: the line from its end point onward.
  const double cub[3][4] = {{0, 1, 0, 1}, {0, 0, 1, -1}, {1, 0, 0, 0.5}};
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 4; ++k) c0[c][k] = cub[c][k];
  double end[3];
  for (int c = 0; c < 3; ++c) end[c] = cub[c][0] + cub[c][1] + cub[c][2] + cub[c][3];
  const double dir[3] = {2, -1, 0.5};
  for (int c = 0; c < 3; ++c) {
    c1[c][0] = end[c];
    c1[c][1] = dir[c];
  }
  PpolySegment s0{3, 3, 4, c0.get()}, s1{1, 3, 2, c1.get()};
  PpolySegment* segs[2] = {&s0, &s1};
  PpolyCurve pp{3, 2, 3, b, segs};
  Owned<Bspline, FreeBspline> cv(Ppoly2Bspline(&pp, 0.0));
  ASSERT_TRUE(cv);
  ASSERT_EQ(cv->interiorU, 4);  // nothing removable within 0: the join is only C0
  for (int k = 0; k < 4; ++k) {
    const double f = k / 3.0;
    EXPECT_NEAR(cv->X[0][4 + k], end[0] + f * dir[0], 1e-12);
    EXPECT_NEAR(cv->Y[0][4 + k], end[1] + f * dir[1], 1e-12);
    EXPECT_NEAR(cv->Z[0][4 + k], end[2] + f * dir[2], 1e-12);
  }
  s1.degree = 4;  // above the record's 3
  EXPECT_EQ(Ppoly2Bspline(&pp, 0.0), nullptr);
  s1.degree = 1;
  b[1] = 0.0;  // breakpoints that do not rise
  EXPECT_EQ(Ppoly2Bspline(&pp, 0.0), nullptr);
}

TEST_F(PolyForms, SurfaceRoundTripThroughPatches) {
  BsplineKeeper keep;
  PatchOptions o;
  o.nu = 5;
  o.nv = 6;
  o.degreeV = 2;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y * y; }, o));
  ASSERT_NE(s, nullptr);
  const auto before = Snapshot(s);
  PpolySurface pp{};
  ASSERT_EQ(bsurf2ppoly(s, &pp), 0);
  EXPECT_TRUE(BitIdentical(before, Snapshot(s)));
  ASSERT_EQ(pp.segmentCountU, 2);
  ASSERT_EQ(pp.segmentCountV, 4);
  for (int a = 0; a <= 10; ++a)
    for (int b = 0; b <= 10; ++b) {
      const double u = a / 10.0, v = b / 10.0;
      double ref[3], su, sv;
      RefEvalSurface(s, u, v, ref);
      const int iu = Locate(pp.breakpointsU, pp.segmentCountU, u, &su);
      const int iv = Locate(pp.breakpointsV, pp.segmentCountV, v, &sv);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(PatchValue(pp, iu, iv, c, su, sv), ref[c], 1e-12);
    }
  Owned<Bspline, FreeBspline> back(Ppoly2Bsurf(&pp, 1e-9));
  FreePpolySurface(&pp);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->interiorU, s->interiorU);
  // The v control values of y^2 differ from y^2 by one constant on the middle spans, so the
  // middle v knot goes entirely; no join is less smooth than the original's.
  EXPECT_LE(back->interiorV, s->interiorV);
  for (int a = 0; a <= 8; ++a)
    for (int b = 0; b <= 8; ++b) {
      double p[3], q[3];
      RefEvalSurface(s, a / 8.0, b / 8.0, p);
      RefEvalSurface(back.get(), a / 8.0, b / 8.0, q);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], q[c], 1e-9);
    }
}

TEST_F(PolyForms, FailedAllocationsLeaveNothingBehind) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(3, 3, 9));
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x * y; }));
  ASSERT_NE(c, nullptr);
  ASSERT_NE(s, nullptr);
  const auto cb = Snapshot(c), sb = Snapshot(s);
  int failed = RunWithInjectedFailures(400, 3, [&] {
    PpolyCurve pp{};
    const int r = bspline2ppolyCurve(c, &pp);
    if (r != 0) {
      EXPECT_EQ(pp.segments, nullptr);
      return -1;
    }
    Bspline* back = Ppoly2Bspline(&pp, 1e-9);
    FreePpolyCurve(&pp);
    if (!back) return -1;
    FreeBspline(back);
    return 0;
  });
  EXPECT_GT(failed, 0);
  failed = RunWithInjectedFailures(600, 5, [&] {
    PpolySurface pp{};
    if (bsurf2ppoly(s, &pp) != 0) return -1;
    Bspline* back = Ppoly2Bsurf(&pp, 1e-9);
    FreePpolySurface(&pp);
    if (!back) return -1;
    FreeBspline(back);
    return 0;
  });
  EXPECT_GT(failed, 0);
  EXPECT_TRUE(BitIdentical(cb, Snapshot(c)));
  EXPECT_TRUE(BitIdentical(sb, Snapshot(s)));
}

// A negative degree names rows before the polygon: refused, the output as it was (the polygon is
// the tail of a larger matrix, so a row before it is readable and a read would show in out).
TEST_F(PolyForms, NegativeDegreesAreRefused) {
  Matrix in(allocate_matrix_ff(4, 3)), out(allocate_matrix_ff(4, 3));
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c) in[i][c] = 1.0 + i, out[i][c] = -7.0;
  double** tail = in.get() + 1;
  RaiseBezierCurveDegreeBy1(-1, 3, tail, out.get());
  EXPECT_EQ(RaiseBezierDegree(2, -1, 3, tail, out.get()), -2);
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out[i][c], -7.0) << i;
  // Degree 0 is a point: raising it repeats the point.
  EXPECT_EQ(RaiseBezierDegree(2, 0, 3, tail, out.get()), 0);
  for (int i = 0; i <= 2; ++i) EXPECT_EQ(out[i][1], 2.0) << i;
}

}  // namespace
