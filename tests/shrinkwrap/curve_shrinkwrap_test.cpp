#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "shrinkwrap/cshrink.h"
#include "splinefit/fitsplin.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveShrinkWrapTest : public KernelTest {};

struct Samples {
  std::vector<double> t, x, y, z;
  int n() const { return static_cast<int>(t.size()); }
};

// m samples of the curve at evenly spaced parameters, optionally with noise.
Samples SampleCurve(const Bspline* c, int m, double noise = 0.0, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-noise, noise);
  Samples s;
  for (int i = 0; i < m; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / (m - 1);
    double p[3];
    RefEvalCurve(c, t, p);
    s.t.push_back(t);
    s.x.push_back(p[0] + U(rng));
    s.y.push_back(p[1] + U(rng));
    s.z.push_back(p[2] + U(rng));
  }
  return s;
}

ShrnkWrapParams HealingParams(double sigma = 0.01) {
  ShrnkWrapParams p;
  SetDefaultShrnkWrapParams(&p);
  p.Tension = 0.7;
  double r = 0.3;
  SmoothnessToRoughness(&r);
  p.Roughness = r;
  p.Sigma = sigma;
  return p;
}

// A constraint record built and released with the kernel's allocator.
struct Constraint {
  LinearConstraint* c = AllocateNullLinearConstraint();
  ~Constraint() { FreeWrapConstraint(c); }
  static double* Array(const std::vector<double>& v) {
    if (v.empty()) return nullptr;
    auto* a = static_cast<double*>(Malloc(sizeof(double) * v.size()));
    for (size_t i = 0; i < v.size(); ++i) a[i] = v[i];
    return a;
  }
  // Parameters and points (or normals) interleaved x, y, z.
  static int Fill(const std::vector<double>& t, const std::vector<double>& xyz, double** par,
                  double** x, double** y, double** z) {
    std::vector<double> c[3];
    for (size_t i = 0; i < t.size(); ++i)
      for (int q = 0; q < 3; ++q) c[q].push_back(xyz[3 * i + q]);
    *par = Array(t);
    *x = Array(c[0]);
    *y = Array(c[1]);
    *z = Array(c[2]);
    return static_cast<int>(t.size());
  }
  void Positions(const std::vector<double>& t, const std::vector<double>& pts) {
    c->nPos = Fill(t, pts, &c->posPar, &c->posX, &c->posY, &c->posZ);
  }
  void Normals(const std::vector<double>& t, const std::vector<double>& vecs) {
    c->nNorm = Fill(t, vecs, &c->normPar, &c->normX, &c->normY, &c->normZ);
  }
};

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Unit(double v[3]) {
  const double l = std::sqrt(Dot(v, v));
  for (int k = 0; k < 3; ++k) v[k] /= l;
}

void Cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// Two normals at an end that together hold the curve's tangent direction there.
void TangentHoldingNormals(const Bspline* c, double t, double n0[3], double n1[3]) {
  double T[3];
  RefEvalDeriv(c, t, 0.0, 1, 0, T);
  Unit(T);
  const double a[3] = {0.3, 1.0, -0.2};
  Cross(T, a, n0);
  Unit(n0);
  Cross(T, n0, n1);
  Unit(n1);
}

double MaxDeviation(const Bspline* a, const Bspline* b) {
  double worst = 0.0;
  for (int i = 0; i <= 100; ++i) {
    const double t = a->umin + (a->umax - a->umin) * i / 100.0;
    double pa[3], pb[3];
    RefEvalCurve(a, t, pa);
    RefEvalCurve(b, t, pb);
    for (int k = 0; k < 3; ++k) worst = std::max(worst, std::fabs(pa[k] - pb[k]));
  }
  return worst;
}

// Basis values and spans of the samples, as the healing kernel keeps them.
struct NubVals {
  double** values = nullptr;
  std::vector<int> span;
  std::vector<int*> spans;
  NubVals(const Bspline* c, const Samples& s) {
    const int p = c->degreeU;
    values = allocate_matrix_ff(s.n(), p + 1);
    span.resize(s.n());
    for (int k = 0; k < s.n(); ++k) {
      double N[kMaxSplineDegree + 2];
      span[k] = p;
      EvalPointOnObjInit(s.t[k], p, c->knotsU, N, &span[k], NumCtrlU(c), 0);
      for (int a = 0; a <= p; ++a) values[k][a] = N[a + 1];
    }
    for (int& v : span) spans.push_back(&v);
  }
  ~NubVals() { matrix_free_ff(values); }
};

TEST_F(CurveShrinkWrapTest, ACurveFittedToItselfDoesNotMove) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 2 + seed % 3, 8);
    ASSERT_NE(c, nullptr);
    const Samples s = SampleCurve(c, 200);
    double p0[3], p1[3];
    RefEvalCurve(c, c->umin, p0);
    RefEvalCurve(c, c->umax, p1);
    Constraint k;
    k.Positions({c->umin, c->umax}, {p0[0], p0[1], p0[2], p1[0], p1[1], p1[2]});
    const ShrnkWrapParams params = HealingParams();
    Bspline* fit = nullptr;
    ASSERT_EQ(NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                           &params, k.c, 0, &fit),
              0);
    EXPECT_LT(MaxDeviation(c, fit), 1e-4);
    EXPECT_EQ(NumCtrlU(fit), NumCtrlU(c));
    FreeBspline(fit);

    // The unconstrained path weights samples by Sigma itself: give it a sample weight of 1.
    ShrnkWrapParams loose = params;
    loose.Sigma = 1.0;
    loose.Roughness = 1e6;
    ASSERT_EQ(
        ShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(), &loose, &fit), 0);
    EXPECT_LT(MaxDeviation(c, fit), 1e-3);
    FreeBspline(fit);
    FreeBspline(c);
  }
}

TEST_F(CurveShrinkWrapTest, PositionAndNormalConstraintsHold) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 3, 9);
    ASSERT_NE(c, nullptr);
    const Samples s = SampleCurve(c, 120, 0.05, seed);
    Constraint k;
    std::vector<double> pts;
    for (int i = 0; i < 9; ++i) pts.push_back(U(rng));
    k.Positions({0.0, 0.5, 1.0}, pts);
    std::vector<double> nrm;
    for (int i = 0; i < 6; ++i) nrm.push_back(U(rng));
    k.Normals({0.0, 0.7}, nrm);
    const ShrnkWrapParams params = HealingParams();
    Bspline* fit = nullptr;
    ASSERT_EQ(NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                           &params, k.c, 1, &fit),
              0);
    for (int i = 0; i < 3; ++i) {
      double p[3];
      RefEvalCurve(fit, k.c->posPar[i], p);
      for (int q = 0; q < 3; ++q) EXPECT_NEAR(p[q], pts[3 * i + q], 1e-9);
    }
    for (int j = 0; j < 2; ++j) {
      double d[3];
      RefEvalDeriv(fit, k.c->normPar[j], 0.0, 1, 0, d);
      const double n[3] = {nrm[3 * j], nrm[3 * j + 1], nrm[3 * j + 2]};
      EXPECT_NEAR(Dot(d, n) / std::sqrt(Dot(n, n)), 0.0, 1e-9 * (1.0 + std::sqrt(Dot(d, d))));
    }
    // The input is never touched.
    Bspline* again = BuildRandomCurve(seed, 3, 9);
    EXPECT_EQ(MaxDeviation(c, again), 0.0);
    FreeBspline(again);
    FreeBspline(fit);
    FreeBspline(c);
  }
}

TEST_F(CurveShrinkWrapTest, ConstraintsAtBothEndsKeepTheEndTangents) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 3, 8);
    ASSERT_NE(c, nullptr);
    // Samples pulled away from the curve, so the fit has a reason to turn its ends.
    Samples s = SampleCurve(c, 100, 0.0);
    for (int i = 0; i < s.n(); ++i) s.z[i] += 0.3 * std::sin(7.0 * s.t[i]);
    double p0[3], p1[3], a0[3], b0[3], a1[3], b1[3];
    RefEvalCurve(c, 0.0, p0);
    RefEvalCurve(c, 1.0, p1);
    TangentHoldingNormals(c, 0.0, a0, b0);
    TangentHoldingNormals(c, 1.0, a1, b1);
    Constraint k;
    k.Positions({0.0, 1.0}, {p0[0], p0[1], p0[2] + 0.1, p1[0], p1[1], p1[2]});
    k.Normals({0.0, 0.0, 1.0, 1.0},
              {a0[0], a0[1], a0[2], b0[0], b0[1], b0[2], a1[0], a1[1], a1[2], b1[0], b1[1], b1[2]});
    const ShrnkWrapParams params = HealingParams();
    NubVals nv(c, s);
    Bspline* viaBasis = nullptr;
    ASSERT_EQ(
        ConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                         &params, k.c, nv.values, nv.spans.data(), &viaBasis),
        0);
    Bspline* second = nullptr;
    ASSERT_EQ(NewConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(),
                                                  s.z.data(), &params, k.c, nv.values,
                                                  nv.spans.data(), &second),
              0);
    for (Bspline* fit : {viaBasis, second}) {
      for (double t : {0.0, 1.0}) {
        double before[3], after[3], cr[3];
        RefEvalDeriv(c, t, 0.0, 1, 0, before);
        RefEvalDeriv(fit, t, 0.0, 1, 0, after);
        Unit(before);
        Unit(after);
        Cross(before, after, cr);
        EXPECT_LT(std::sqrt(Dot(cr, cr)), 1e-8) << seed << " " << t;
        EXPECT_GT(Dot(before, after), 0.0);
      }
      double q[3];
      RefEvalCurve(fit, 0.0, q);
      EXPECT_NEAR(q[2], p0[2] + 0.1, 1e-9);
    }
    FreeBspline(viaBasis);
    FreeBspline(second);
    FreeBspline(c);
  }
}

// Samples that start off backwards pull the end tangent round; the first formulation's normal
// rows allow either direction, so the fit on basis values redoes it with the end rows.
TEST_F(CurveShrinkWrapTest, AReversedEndTangentIsRedoneWithEndRows) {
  Bspline* c = BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0});
  ASSERT_NE(c, nullptr);
  Samples s;
  for (int i = 0; i <= 60; ++i) {
    const double t = i / 60.0;
    s.t.push_back(t);
    s.x.push_back(-2.0 * t + 6.0 * t * t);
    s.y.push_back(0.0);
    s.z.push_back(0.0);
  }
  Constraint k;
  k.Positions({0.0, 1.0}, {0, 0, 0, 4, 0, 0});
  k.Normals({0.0, 0.0, 1.0, 1.0}, {0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1});
  const ShrnkWrapParams params = HealingParams();
  Bspline* plain = nullptr;
  ASSERT_EQ(NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                         &params, k.c, 0, &plain),
            0);
  double d[3];
  RefEvalDeriv(plain, 0.0, 0.0, 1, 0, d);
  EXPECT_LT(d[0], 0.0);  // the plain formulation turns the start round
  NubVals nv(c, s);
  Bspline* fit = nullptr;
  ASSERT_EQ(
      ConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                       &params, k.c, nv.values, nv.spans.data(), &fit),
      0);
  RefEvalDeriv(fit, 0.0, 0.0, 1, 0, d);
  EXPECT_GT(d[0], 0.0);
  EXPECT_NEAR(d[1], 0.0, 1e-9);
  EXPECT_NEAR(d[2], 0.0, 1e-9);
  FreeBspline(plain);
  FreeBspline(fit);
  FreeBspline(c);
}

TEST_F(CurveShrinkWrapTest, BasisValuesGiveTheSameFitAsEvaluation) {
  Bspline* c = BuildRandomCurve(5, 3, 10);
  ASSERT_NE(c, nullptr);
  const Samples s = SampleCurve(c, 80, 0.05, 3);
  Constraint k;
  k.Positions({0.0, 0.4}, {0, 0, 0, 1, 1, 1});
  k.Normals({0.6}, {0, 0, 1});
  const ShrnkWrapParams params = HealingParams(0.03);
  NubVals nv(c, s);
  Bspline *a = nullptr, *b = nullptr;
  ASSERT_EQ(NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                         &params, k.c, 0, &a),
            0);
  ASSERT_EQ(
      ConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                       &params, k.c, nv.values, nv.spans.data(), &b),
      0);
  EXPECT_LT(MaxDeviation(a, b), 1e-10);
  FreeBspline(a);
  FreeBspline(b);

  // A null record and an empty one both give the unconstrained fit.
  Constraint empty;
  ASSERT_EQ(ShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                  nv.values, nv.spans.data(), &params, &a),
            0);
  ASSERT_EQ(
      ConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                       &params, empty.c, nv.values, nv.spans.data(), &b),
      0);
  EXPECT_LT(MaxDeviation(a, b), 1e-10);
  FreeBspline(b);
  ASSERT_EQ(NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                         &params, nullptr, 0, &b),
            0);
  EXPECT_LT(MaxDeviation(a, b), 1e-10);
  FreeBspline(a);
  FreeBspline(b);

  // A span that does not fit the curve is ignored rather than written out of bounds.
  nv.span[3] = 1000;
  nv.span[4] = -5;
  ASSERT_EQ(ShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                  nv.values, nv.spans.data(), &params, &a),
            0);
  FreeBspline(a);
  FreeBspline(c);
}

TEST_F(CurveShrinkWrapTest, FunctionalPartsMatchTheirDefinitions) {
  Bspline* c = BuildRandomCurve(9, 3, 7);
  ASSERT_NE(c, nullptr);
  const int n = NumCtrlU(c);
  // x'Gx = integral of |C^(r)|^2 for each coordinate, by composite Simpson on fine steps.
  for (int r = 0; r <= 2; ++r) {
    double** G = nullptr;
    ASSERT_EQ(ComputeCrv3DiffGramMatrix(c, r, &G), 0);
    double quad = 0.0;
    for (double** m : {c->X, c->Y, c->Z})
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          EXPECT_EQ(G[i][j], G[j][i]);
          quad += m[0][i] * G[i][j] * m[0][j];
        }
    // Five-point Gauss-Legendre on every knot interval: exact for these polynomials.
    const double gx[5] = {-0.9061798459386640, -0.5384693101056831, 0.0, 0.5384693101056831,
                          0.9061798459386640};
    const double gw[5] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889,
                          0.4786286704993665, 0.2369268850561891};
    double integral = 0.0;
    for (int k = 0; k + 1 < NumKnotsU(c); ++k) {
      const double a = c->knotsU[k], b = c->knotsU[k + 1];
      if (b <= a) continue;
      for (int g = 0; g < 5; ++g) {
        double d[3];
        RefEvalDeriv(c, 0.5 * (a + b) + 0.5 * (b - a) * gx[g], 0.0, r, 0, d);
        integral += 0.5 * (b - a) * gw[g] * Dot(d, d);
      }
    }
    EXPECT_NEAR(quad, integral, 1e-9 * (1.0 + integral)) << r;
    matrix_free_ff(G);
  }
  // No energy of an order the degree does not exceed (a cubic's third derivative is dropped).
  double** G3 = nullptr;
  ASSERT_EQ(ComputeCrv3DiffGramMatrix(c, 3, &G3), 0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) EXPECT_EQ(G3[i][j], 0.0);
  matrix_free_ff(G3);

  // Above degree 3 both energies count double.
  Bspline* quartic = BuildRandomCurve(9, 4, 7);
  double q1 = 0, q2 = 0;
  GetCrvThinPlateWeights(quartic, 0.7, 2.0, &q1, &q2);
  double e1 = 0, e2 = 0;
  quartic->degreeU = 3;
  GetCrvThinPlateWeights(quartic, 0.7, 2.0, &e1, &e2);
  quartic->degreeU = 4;
  EXPECT_DOUBLE_EQ(q1, 2.0 * e1);
  EXPECT_DOUBLE_EQ(q2, 2.0 * e2);
  FreeBspline(quartic);

  // The functional: A D = -b is the minimiser of the discrete energy; with only samples (w = 0)
  // and the ridge, b = 2 s sum N (C(t) - q) and A = 2 s sum N N' + 0.1 s I.
  const Samples s = SampleCurve(c, 30, 0.1, 4);
  const double w0[3] = {0.0, 0.0, 0.0};
  double** A = nullptr;
  double *bx = nullptr, *by = nullptr, *bz = nullptr;
  ASSERT_EQ(SetupShrinkWrapCrv3FunctionalMat(c, s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                             s.n(), 2.0, w0, &A, &bx, &by, &bz),
            0);
  std::vector<double> refB(n, 0.0);
  std::vector<std::vector<double>> refA(n, std::vector<double>(n, 0.0));
  for (int k = 0; k < s.n(); ++k) {
    double p[3];
    RefEvalCurve(c, s.t[k], p);
    for (int i = 0; i < n; ++i) {
      const double Ni = RefBasis(c->knotsU, NumKnotsU(c), i, 3, s.t[k]);
      refB[i] += 4.0 * Ni * (p[0] - s.x[k]);
      for (int j = 0; j < n; ++j)
        refA[i][j] += 4.0 * Ni * RefBasis(c->knotsU, NumKnotsU(c), j, 3, s.t[k]);
    }
  }
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(bx[i], refB[i], 1e-12);
    for (int j = 0; j < n; ++j) EXPECT_NEAR(A[i][j], refA[i][j] + (i == j ? 0.2 : 0.0), 1e-12);
  }
  matrix_free_ff(A);
  Free(bx);
  Free(by);
  Free(bz);
  FreeBspline(c);
}

TEST_F(CurveShrinkWrapTest, KnotsForConstraints) {
  // Uniform cubic with 5 control points: spans [0, 1/2], [1/2, 1].
  Bspline* c = BuildCurve(3, 3, {0, 0, 0, 1, 1, 0, 2, 0, 1, 3, 1, 0, 4, 0, 0});
  ASSERT_NE(c, nullptr);
  int enough = 0;
  Constraint k;
  k.Positions({1.0, 0.1, 0.2, 0.3}, std::vector<double>(12, 0.0));
  ASSERT_EQ(IsEnoughCrv3KnotForWrapConstraint(c, k.c, &enough), 0);
  EXPECT_EQ(enough, 1);  // 3 inside the first span on points 0..3; the end on point 4 only
  k.c->posPar[0] = 0.0;  // now point 0 carries 4
  ASSERT_EQ(IsEnoughCrv3KnotForWrapConstraint(c, k.c, &enough), 0);
  EXPECT_EQ(enough, 0);
  Constraint more;
  more.Positions({0.1, 0.2, 0.3, 0.4}, std::vector<double>(12, 0.0));
  ASSERT_EQ(IsEnoughCrv3KnotForWrapConstraint(c, more.c, &enough), 0);
  EXPECT_EQ(enough, 0);
  Constraint ends;
  ends.Normals({0.0, 0.0, 0.0, 1.0}, std::vector<double>(12, 1.0));
  ends.Positions({0.0, 1e-9}, std::vector<double>(6, 0.0));
  ASSERT_EQ(IsEnoughCrv3KnotForWrapConstraint(c, ends.c, &enough), 0);
  EXPECT_EQ(enough, 0);  // point 0 carries 3 normals and 2 positions
  EXPECT_EQ(IsEnoughCrv3KnotForWrapConstraint(nullptr, k.c, &enough), -2);
  EXPECT_EQ(IsEnoughCrv3KnotForWrapConstraint(c, nullptr, &enough), -2);

  const Samples s = SampleCurve(c, 50, 0.0);
  const ShrnkWrapParams params = HealingParams();
  Bspline* fit = nullptr;
  EXPECT_EQ(NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                         &params, more.c, 0, &fit),
            -2);
  EXPECT_EQ(fit, nullptr);
  ASSERT_EQ(NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                         &params, more.c, 1, &fit),
            0);
  EXPECT_GT(fit->interiorU, c->interiorU);
  for (int i = 0; i < 4; ++i) {
    double p[3];
    RefEvalCurve(fit, more.c->posPar[i], p);
    for (int q = 0; q < 3; ++q) EXPECT_NEAR(p[q], 0.0, 1e-9);
  }
  FreeBspline(fit);

  // A degree-1 curve that needs knots comes back with degree 2.
  Bspline* line = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 2, 1, 0});
  ASSERT_NE(line, nullptr);
  const Samples ls = SampleCurve(line, 20);
  Constraint two;
  two.Positions({0.1, 0.2}, std::vector<double>(6, 0.5));
  ASSERT_EQ(NewConstrainedShrinkWrapCrv3(line, ls.n(), ls.t.data(), ls.x.data(), ls.y.data(),
                                         ls.z.data(), &params, two.c, 1, &fit),
            0);
  EXPECT_EQ(fit->degreeU, 2);
  EXPECT_EQ(line->degreeU, 1);
  FreeBspline(fit);
  FreeBspline(line);

  double u = 0.0;
  const double knots[9] = {0, 0, 0, 0, 0.2, 0.9, 1, 1, 1};
  ASSERT_EQ(FindMidKnotInLongInfluenceSpan(knots, 9, 2, 6, &u), 0);
  EXPECT_DOUBLE_EQ(u, 0.55);
  EXPECT_EQ(FindMidKnotInLongInfluenceSpan(knots, 9, -3, 3, &u), -2);  // only empty intervals
  EXPECT_EQ(FindMidKnotInLongInfluenceSpan(knots, 9, 5, 5, &u), -2);

  int inserted = 0;
  Bspline* d = BuildCurve(3, 3, {0, 0, 0, 1, 1, 0, 2, 0, 1, 3, 1, 0, 4, 0, 0});
  ASSERT_EQ(InsertOneKnotInCrv3Clst(d, 0.75, &inserted), 0);  // middle of the span before
  EXPECT_EQ(inserted, 1);
  EXPECT_DOUBLE_EQ(d->knotsU[4], 0.25);
  ASSERT_EQ(InsertOneKnotInCrv3Span(d, 1.0, 1, &inserted), 0);  // at an end: its own span
  EXPECT_DOUBLE_EQ(d->knotsU[6], 0.75);
  ASSERT_EQ(InsertOneKnotInCrv3Span(d, 0.6, 0, &inserted), 0);
  EXPECT_DOUBLE_EQ(d->knotsU[6], 0.6);
  EXPECT_EQ(InsertOneKnotInCrv3Span(d, 1.5, 0, &inserted), -2);
  EXPECT_LT(MaxDeviation(c, d), 1e-12);
  FreeBspline(d);
  FreeBspline(c);
}

TEST_F(CurveShrinkWrapTest, EndRowsOfTheSecondFormulation) {
  Bspline* c = BuildRandomCurve(7, 3, 8);
  ASSERT_NE(c, nullptr);
  const int n = NumCtrlU(c);
  double a0[3], b0[3];
  TangentHoldingNormals(c, 0.0, a0, b0);
  Constraint k;
  k.Positions({0.0}, {1.0, 2.0, 3.0});
  k.Normals({0.0, 1.0}, {a0[0], a0[1], a0[2], 0.0, 0.0, 1.0});
  double** posC = nullptr;
  double *dx, *dy, *dz, **normC = nullptr, *normD = nullptr;
  int nPos = 0, nNorm = 0;
  ASSERT_EQ(
      ComputeReshapeCrv3ConstraintMat(c, k.c, &posC, &nPos, &dx, &dy, &dz, &normC, &nNorm, &normD),
      0);
  ASSERT_EQ(nPos, 1);
  // Start: three rows moving control point 1; end: no position target, so an ordinary row.
  ASSERT_EQ(nNorm, 4);
  double P[3], T[3];
  RefEvalCurve(c, 0.0, P);
  RefEvalDeriv(c, 0.0, 0.0, 1, 0, T);
  Unit(T);
  double moved[3];
  for (int q = 0; q < 3; ++q) {
    for (int col = 0; col < 3 * n; ++col) EXPECT_EQ(normC[q][col], col == q * n + 1 ? 1.0 : 0.0);
    double** m = q == 0 ? c->X : (q == 1 ? c->Y : c->Z);
    moved[q] = m[0][1] + normD[q];
  }
  // The new control point 1, shifted back by the start's displacement, lies on the tangent line.
  const double target[3] = {1.0, 2.0, 3.0};
  double rel[3], cr[3];
  for (int q = 0; q < 3; ++q) rel[q] = moved[q] - (target[q] - P[q]) - P[q];
  Cross(rel, T, cr);
  EXPECT_LT(std::sqrt(Dot(cr, cr)), 1e-12);
  // The end normal's row is the plain normal row.
  std::vector<double> row(3 * n);
  double d = 0.0;
  const double ez[3] = {0, 0, 1};
  ASSERT_EQ(ComputeReshapeCrv3NormConstraint(c, ez, 1.0, row.data(), &d), 0);
  for (int col = 0; col < 3 * n; ++col) EXPECT_EQ(normC[3][col], row[col]);
  EXPECT_EQ(normD[3], d);
  matrix_free_ff(posC);
  matrix_free_ff(normC);
  Free(dx);
  Free(dy);
  Free(dz);
  Free(normD);

  // Position constraints all outside the domain: no row, -2.
  Constraint outside;
  outside.Positions({-0.5, 1.5}, std::vector<double>(6, 0.0));
  EXPECT_EQ(ComputeReshapeCrv3ConstraintMat(c, outside.c, &posC, &nPos, &dx, &dy, &dz, &normC,
                                            &nNorm, &normD),
            -2);
  EXPECT_EQ(posC, nullptr);
  FreeBspline(c);
}

TEST_F(CurveShrinkWrapTest, TangentProjection) {
  const double v[3] = {1.0, 1.0, 0.0};
  const double one[1][3] = {{0.0, 1.0, 0.0}};
  double out[3];
  ASSERT_EQ(ProjectVecWrtNormals(v, one, 1, out), 0);
  EXPECT_NEAR(out[0], 1.0, 1e-15);
  EXPECT_NEAR(out[1], 0.0, 1e-15);
  const double two[2][3] = {{0.0, 0.0, 1.0}, {0.0, 1.0, 0.0}};
  ASSERT_EQ(ProjectVecWrtNormals(v, two, 2, out), 0);
  EXPECT_NEAR(out[0], 1.0, 1e-15);      // z x y = -x, turned to agree with v
  const double w[3] = {0.0, 1.0, 0.0};  // perpendicular to the cross product: its opposite
  ASSERT_EQ(ProjectVecWrtNormals(w, two, 2, out), 0);
  EXPECT_NEAR(out[0], 1.0, 1e-15);
  const double parallel[2][3] = {{0.0, 1.0, 0.0}, {0.0, 2.0, 0.0}};
  ASSERT_EQ(ProjectVecWrtNormals(v, parallel, 2, out), 0);
  EXPECT_NEAR(out[0], 1.0, 1e-15);
  const double zero[3] = {0.0, 0.0, 0.0};
  ASSERT_EQ(ProjectVecWrtNormals(zero, one, 1, out), 0);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(ProjectVecWrtNormals(v, one, 0, out), -2);
}

TEST_F(CurveShrinkWrapTest, AllocationFailuresFreeEveryScope) {
  Bspline* c = BuildRandomCurve(4, 3, 8);
  ASSERT_NE(c, nullptr);
  const Samples s = SampleCurve(c, 40, 0.02);
  double a0[3], b0[3];
  TangentHoldingNormals(c, 0.0, a0, b0);
  double p0[3];
  RefEvalCurve(c, 0.0, p0);
  Constraint k;
  k.Positions({0.0, 0.1, 0.2, 0.3, 0.35},
              {p0[0], p0[1], p0[2], 0, 0, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1});
  k.Normals({0.0, 0.0, 0.6}, {a0[0], a0[1], a0[2], b0[0], b0[1], b0[2], 0, 0, 1});
  const ShrnkWrapParams params = HealingParams();
  NubVals nv(c, s);
  const int failures = RunMakerWithInjectedFailures(300, 3, [&](Bspline** fit) {
    return NewConstrainedShrinkWrapCrv3(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                        &params, k.c, 1, fit);
  });
  const int nubFailures = RunMakerWithInjectedFailures(300, 3, [&](Bspline** fit) {
    return NewConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(),
                                               s.z.data(), &params, k.c, nv.values, nv.spans.data(),
                                               fit);
  });
  EXPECT_GT(nubFailures, 0);
  EXPECT_GT(failures, 0);
  FreeBspline(c);
}

}  // namespace
