// Shrink-wrap fits of 3D curves to samples, with and without position and normal constraints,
// on evaluated or precomputed basis values.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "shrinkwrap/cshrink.h"
#include "splinefit/fitsplin.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

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
    double p[3], *q = p;
    s.t.push_back(c->umin + (c->umax - c->umin) * i / (m - 1));
    RefEvalCurve(c, s.t.back(), p);
    for (auto* v : {&s.x, &s.y, &s.z}) v->push_back(*q++ + U(rng));
  }
  return s;
}

ShrnkWrapParams HealingParams(double sigma = 0.01) {
  ShrnkWrapParams p;
  SetDefaultShrnkWrapParams(&p);
  double r = 0.3;
  SmoothnessToRoughness(&r);
  p.Tension = 0.7, p.Roughness = r, p.Sigma = sigma;
  return p;
}

// A constraint record built and released with the kernel's allocator.
struct Constraint {
  Owned<LinearConstraint, FreeWrapConstraint> c{AllocateNullLinearConstraint()};
  // Parameters into the first array, the points (or normals), interleaved x, y, z, into the others.
  static int Fill(const std::vector<double>& t, const std::vector<double>& xyz, std::initializer_list<double**> arrays) {
    int a = 0;
    for (double** arr : arrays) {
      *arr = MallocArray<double>(t.size());
      for (size_t i = 0; i < t.size(); ++i) (*arr)[i] = a ? xyz[3 * i + a - 1] : t[i];
      ++a;
    }
    return static_cast<int>(t.size());
  }
  void Positions(const std::vector<double>& t, const std::vector<double>& p) { c->nPos = Fill(t, p, {&c->posPar, &c->posX, &c->posY, &c->posZ}); }
  void Normals(const std::vector<double>& t, const std::vector<double>& v) { c->nNorm = Fill(t, v, {&c->normPar, &c->normX, &c->normY, &c->normZ}); }
};

// Unit tangent of the curve at t, and two unit normals that together hold its direction.
void TangentAndNormals(const Bspline* c, double t, double T[3], double n0[3], double n1[3]) {
  const double a[3] = {0.3, 1.0, -0.2};
  RefEvalDeriv(c, t, 0.0, 1, 0, T);
  VecNormalize3(T, T);
  VecNormalize3(VecCrossProd3(T, a, n0), n0);
  VecNormalize3(VecCrossProd3(T, n0, n1), n1);
}

// Basis values and spans of the samples, as the healing kernel keeps them.
struct NubVals {
  Owned<double*, matrix_free_ff> values;
  std::vector<int> span;
  std::vector<int*> spans;
  NubVals(const Bspline* c, const Samples& s) : span(s.n(), c->degreeU) {
    values.reset(allocate_matrix_ff(s.n(), c->degreeU + 1));
    for (int k = 0; k < s.n(); ++k) {
      double N[kMaxSplineDegree + 2];
      EvalPointOnObjInit(s.t[k], c->degreeU, c->knotsU, N, &span[k], NumCtrlU(c), 0);
      for (int a = 0; a <= c->degreeU; ++a) values[k][a] = N[a + 1];
      spans.push_back(&span[k]);
    }
  }
};

enum FitKind { kEval, kNub, kNewNub, kPlain, kPlainNub };

// The fit of the given kind; the basis values are computed unless given.
int Fit(FitKind kind, const Bspline* c, const Samples& s, const ShrnkWrapParams& p,
        const LinearConstraint* k, Bspline** out, int insertKnots = 0, const NubVals* given = nullptr) {
  const std::unique_ptr<NubVals> own(given ? nullptr : new NubVals(c, s));
  const NubVals& nv = given ? *given : *own;
  const double *t = s.t.data(), *x = s.x.data(), *y = s.y.data(), *z = s.z.data();
  int** spans = const_cast<int**>(nv.spans.data());
  switch (kind) {
    case kEval: return NewConstrainedShrinkWrapCrv3(c, s.n(), t, x, y, z, &p, k, insertKnots, out);
    case kNub: return ConstrainedShrinkWrapCrv3NubVals(c, s.n(), t, x, y, z, &p, k, nv.values.get(), spans, out);
    case kNewNub: return NewConstrainedShrinkWrapCrv3NubVals(c, s.n(), t, x, y, z, &p, k, nv.values.get(), spans, out);
    case kPlain: return ShrinkWrapCrv3(c, s.n(), t, x, y, z, &p, out);
    default: return ShrinkWrapCrv3NubVals(c, s.n(), t, x, y, z, nv.values.get(), spans, &p, out);
  }
}

TEST_F(CurveShrinkWrapTest, ACurveFittedToItselfDoesNotMove) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 2 + seed % 3, 8);
    const Samples s = SampleCurve(c, 200);
    double p0[3], p1[3];
    RefEvalCurve(c, c->umin, p0);
    RefEvalCurve(c, c->umax, p1);
    Constraint k;
    k.Positions({c->umin, c->umax}, {p0[0], p0[1], p0[2], p1[0], p1[1], p1[2]});
    Bspline* fit = nullptr;
    ASSERT_EQ(Fit(kEval, c, s, HealingParams(), k.c.get(), &fit), 0);
    EXPECT_LT(ShapeDiff(c, fit), 1e-4);
    EXPECT_EQ(NumCtrlU(fit), NumCtrlU(c));
    FreeBspline(fit);
    // The unconstrained fit weights samples by Sigma itself: give them a weight of 1.
    ShrnkWrapParams loose = HealingParams(1.0);
    loose.Roughness = 1e6;
    ASSERT_EQ(Fit(kPlain, c, s, loose, nullptr, &fit), 0);
    EXPECT_LT(ShapeDiff(c, fit), 1e-3);
    for (Bspline* obj : {fit, c}) FreeBspline(obj);
  }
}

// Random targets and normals on noisy samples, knots inserted as needed; the input is never
// touched.
TEST_F(CurveShrinkWrapTest, PositionAndNormalConstraintsHold) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 3, 9);
    Constraint k;
    std::vector<double> pts(9), nrm(6);
    for (double& v : pts) v = U(rng);
    for (double& v : nrm) v = U(rng);
    k.Positions({0.0, 0.5, 1.0}, pts);
    k.Normals({0.0, 0.7}, nrm);
    Bspline* fit = nullptr;
    ASSERT_EQ(Fit(kEval, c, SampleCurve(c, 120, 0.05, seed), HealingParams(), k.c.get(), &fit, 1), 0);
    for (int i = 0; i < 3; ++i) {
      double p[3];
      RefEvalCurve(fit, k.c->posPar[i], p);
      for (int q = 0; q < 3; ++q) EXPECT_NEAR(p[q], pts[3 * i + q], 1e-9);
    }
    for (int j = 0; j < 2; ++j) {
      double d[3];
      RefEvalDeriv(fit, k.c->normPar[j], 0.0, 1, 0, d);
      EXPECT_NEAR(VecDotProd3(d, &nrm[3 * j]) / VecSize3(&nrm[3 * j]), 0.0, 1e-9 * (1.0 + VecSize3(d)));
    }
    Bspline* again = BuildRandomCurve(seed, 3, 9);
    EXPECT_EQ(ShapeDiff(c, again), 0.0);
    for (Bspline* b : {again, fit, c}) FreeBspline(b);
  }
}

// Two normals at each end that hold the tangent, a moved start point, and samples pulled away
// so the fit has a reason to turn its ends: both fits on basis values keep the end tangents.
TEST_F(CurveShrinkWrapTest, ConstraintsAtBothEndsKeepTheEndTangents) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 3, 8);
    Samples s = SampleCurve(c, 100);
    for (int i = 0; i < s.n(); ++i) s.z[i] += 0.3 * std::sin(7.0 * s.t[i]);
    double p0[3], p1[3], T0[3], a0[3], b0[3], T1[3], a1[3], b1[3];
    RefEvalCurve(c, 0.0, p0);
    RefEvalCurve(c, 1.0, p1);
    TangentAndNormals(c, 0.0, T0, a0, b0);
    TangentAndNormals(c, 1.0, T1, a1, b1);
    Constraint k;
    k.Positions({0.0, 1.0}, {p0[0], p0[1], p0[2] + 0.1, p1[0], p1[1], p1[2]});
    k.Normals({0.0, 0.0, 1.0, 1.0}, {a0[0], a0[1], a0[2], b0[0], b0[1], b0[2], a1[0], a1[1], a1[2], b1[0], b1[1], b1[2]});
    for (FitKind kind : {kNub, kNewNub}) {
      Bspline* fit = nullptr;
      ASSERT_EQ(Fit(kind, c, s, HealingParams(), k.c.get(), &fit), 0);
      for (double t : {0.0, 1.0}) {
        double after[3], cr[3];
        RefEvalDeriv(fit, t, 0.0, 1, 0, after);
        VecNormalize3(after, after);
        VecCrossProd3(t == 0.0 ? T0 : T1, after, cr);
        EXPECT_LT(VecSize3(cr), 1e-8) << seed << " " << t;
        EXPECT_GT(VecDotProd3(t == 0.0 ? T0 : T1, after), 0.0);
      }
      double q[3];
      RefEvalCurve(fit, 0.0, q);
      EXPECT_NEAR(q[2], p0[2] + 0.1, 1e-9);
      FreeBspline(fit);
    }
    FreeBspline(c);
  }
}

// Samples that start off backwards pull the end tangent round; the first formulation's normal
// rows allow either direction, so the fit on basis values redoes it with the end rows.
TEST_F(CurveShrinkWrapTest, AReversedEndTangentIsRedoneWithEndRows) {
  Bspline* c = BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0});
  Samples s;
  for (int i = 0; i <= 60; ++i) {
    s.t.push_back(i / 60.0);
    s.x.push_back(-2.0 * s.t.back() + 6.0 * s.t.back() * s.t.back());
  }
  s.y = s.z = std::vector<double>(61, 0.0);
  Constraint k;
  k.Positions({0.0, 1.0}, {0, 0, 0, 4, 0, 0});
  k.Normals({0.0, 0.0, 1.0, 1.0}, {0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1});
  Bspline *plain = nullptr, *fit = nullptr;
  ASSERT_EQ(Fit(kEval, c, s, HealingParams(), k.c.get(), &plain), 0);
  ASSERT_EQ(Fit(kNub, c, s, HealingParams(), k.c.get(), &fit), 0);
  double d[3], e[3];
  RefEvalDeriv(plain, 0.0, 0.0, 1, 0, d);
  RefEvalDeriv(fit, 0.0, 0.0, 1, 0, e);
  EXPECT_LT(d[0], 0.0);  // the plain formulation turns the start round
  EXPECT_GT(e[0], 0.0);
  EXPECT_NEAR(e[1], 0.0, 1e-9);
  EXPECT_NEAR(e[2], 0.0, 1e-9);
  for (Bspline* b : {plain, fit, c}) FreeBspline(b);
}

TEST_F(CurveShrinkWrapTest, BasisValuesGiveTheSameFitAsEvaluation) {
  Bspline* c = BuildRandomCurve(5, 3, 10);
  const Samples s = SampleCurve(c, 80, 0.05, 3);
  const ShrnkWrapParams params = HealingParams(0.03);
  Constraint k, empty;
  k.Positions({0.0, 0.4}, {0, 0, 0, 1, 1, 1});
  k.Normals({0.6}, {0, 0, 1});
  Bspline *a = nullptr, *b = nullptr, *e = nullptr;
  ASSERT_EQ(Fit(kEval, c, s, params, k.c.get(), &a), 0);
  ASSERT_EQ(Fit(kNub, c, s, params, k.c.get(), &b), 0);
  EXPECT_LT(ShapeDiff(a, b), 1e-10);
  for (Bspline* obj : {a, b}) FreeBspline(obj);
  // A null record and an empty one both give the unconstrained fit.
  ASSERT_EQ(Fit(kPlainNub, c, s, params, nullptr, &a), 0);
  ASSERT_EQ(Fit(kNub, c, s, params, empty.c.get(), &b), 0);
  ASSERT_EQ(Fit(kEval, c, s, params, nullptr, &e), 0);
  EXPECT_LT(ShapeDiff(a, b), 1e-10);
  EXPECT_LT(ShapeDiff(a, e), 1e-10);
  for (Bspline* x : {a, b, e}) FreeBspline(x);
  // The quadratic built on given basis values is the one built by evaluation.
  NubVals nv(c, s);
  const double w[3] = {0.3, 0.2, 0.1};
  double **A[2], *r[2][3];
  ASSERT_EQ(SetupShrinkWrapCrv3FunctionalMat(c, s.t.data(), s.x.data(), s.y.data(), s.z.data(), s.n(), 2.0, w, &A[0],
                                             &r[0][0], &r[0][1], &r[0][2]),
            0);
  ASSERT_EQ(SetupShrinkWrapCrv3FunctionalMatNubVals(c, s.t.data(), s.x.data(), s.y.data(), s.z.data(), nv.values.get(),
                                                    nv.spans.data(), s.n(), 2.0, w, &A[1], &r[1][0], &r[1][1], &r[1][2]),
            0);
  const int nc = NumCtrlU(c);
  for (int i = 0; i < nc; ++i) {
    for (int j = 0; j < nc; ++j) EXPECT_NEAR(A[1][i][j], A[0][i][j], 1e-12 * (1 + std::fabs(A[0][i][j])));
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(r[1][a][i], r[0][a][i], 1e-12 * (1 + std::fabs(r[0][a][i])));
  }
  for (int f = 0; f < 2; ++f) {
    matrix_free_ff(A[f]);
    for (double* v : r[f]) Free(v);
  }
  // A span that does not fit the curve is ignored rather than written out of bounds.
  nv.span[3] = 1000;
  nv.span[4] = -5;
  ASSERT_EQ(Fit(kPlainNub, c, s, params, nullptr, &a, 0, &nv), 0);
  for (Bspline* obj : {a, c}) FreeBspline(obj);
}

// A fit does not depend on the unit of length below unit size: a curve of unit extent, its
// samples and its targets scaled down by 1e-3 or 1e-6 give the fit scaled down alike, for every
// kind of fit. The derivative energies were weighted per squared extent while the samples were
// not, so a curve a thousandth of a unit long was smoothed a million times harder and hardly
// followed its samples.
TEST_F(CurveShrinkWrapTest, FitsScaleWithTheirInput) {
  auto scaled = [](const Bspline* c, double f) {
    Bspline* s = CopyBsplineStruct(const_cast<Bspline*>(c));
    for (double** m : {s->X, s->Y, s->Z})
      for (int i = 0; i < NumCtrlU(s); ++i) m[0][i] *= f;
    return s;
  };
  double lo[3], hi[3];
  Bspline* raw = BuildRandomCurve(7, 3, 9);
  ControlPointBox(raw, lo, hi);
  Bspline* c = scaled(raw, 1.0 / std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]}));
  FreeBspline(raw);
  const Samples s = SampleCurve(c, 90, 0.2, 4);
  for (FitKind kind : {kEval, kNub, kNewNub, kPlain, kPlainNub}) {
    const bool constrained = kind == kEval || kind == kNub || kind == kNewNub;
    const ShrnkWrapParams params = HealingParams(constrained ? 0.01 : 1.0);
    Bspline* unit = nullptr;
    {
      Constraint k;
      k.Positions({0.0, 1.0}, {0, 0, 0, 0.5, 0.2, 0});
      k.Normals({0.5}, {0, 0, 1});
      ASSERT_EQ(Fit(kind, c, s, params, constrained ? k.c.get() : nullptr, &unit), 0) << kind;
    }
    for (double f : {1e-6, 1e-3}) {
      Bspline* cs = scaled(c, f);
      Samples ss = s;
      for (auto* v : {&ss.x, &ss.y, &ss.z})
        for (double& a : *v) a *= f;
      Constraint k;
      k.Positions({0.0, 1.0}, {0, 0, 0, 0.5 * f, 0.2 * f, 0});
      k.Normals({0.5}, {0, 0, 1});
      Bspline* fit = nullptr;
      ASSERT_EQ(Fit(kind, cs, ss, params, constrained ? k.c.get() : nullptr, &fit), 0) << kind << " " << f;
      Bspline* back = scaled(fit, 1.0 / f);
      EXPECT_LT(ShapeDiff(back, unit), 1e-9) << "kind " << kind << " scale " << f;
      for (Bspline* b : {back, fit, cs}) FreeBspline(b);
    }
    FreeBspline(unit);
  }
  FreeBspline(c);
}

TEST_F(CurveShrinkWrapTest, KnotsForConstraints) {
  // Uniform cubic with 5 control points: four positions in its first span are too many.
  Bspline* c = BuildCurve(3, 3, {0, 0, 0, 1, 1, 0, 2, 0, 1, 3, 1, 0, 4, 0, 0});
  Constraint k;
  k.Positions({0.0, 0.1, 0.2, 0.3}, std::vector<double>(12, 0.0));
  int enough = -1;
  ASSERT_EQ(IsEnoughCrv3KnotForWrapConstraint(c, k.c.get(), &enough), 0);
  EXPECT_EQ(enough, 0);
  EXPECT_EQ(IsEnoughCrv3KnotForWrapConstraint(nullptr, k.c.get(), &enough), -2);
  // Too few knots: refused unless knots may be inserted, then the constraints hold.
  const Samples s = SampleCurve(c, 50);
  Bspline* fit = nullptr;
  EXPECT_EQ(Fit(kEval, c, s, HealingParams(), k.c.get(), &fit), -2);
  EXPECT_EQ(fit, nullptr);
  ASSERT_EQ(Fit(kEval, c, s, HealingParams(), k.c.get(), &fit, 1), 0);
  EXPECT_GT(fit->interiorU, c->interiorU);
  for (int i = 0; i < 4; ++i) {
    double p[3];
    RefEvalCurve(fit, k.c->posPar[i], p);
    EXPECT_LT(VecSize3(p), 1e-9);
  }
  FreeBspline(fit);
  // A degree-1 curve that needs knots comes back with degree 2.
  Bspline* line = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 2, 1, 0});
  Constraint two;
  two.Positions({0.1, 0.2}, std::vector<double>(6, 0.5));
  ASSERT_EQ(Fit(kEval, line, SampleCurve(line, 20), HealingParams(), two.c.get(), &fit, 1), 0);
  EXPECT_TRUE(fit->degreeU == 2 && line->degreeU == 1);
  for (Bspline* obj : {fit, line}) FreeBspline(obj);
  // Position constraints all outside the domain make no row: -2 and nothing handed back.
  Constraint outside;
  outside.Positions({-0.5, 1.5}, std::vector<double>(6, 0.0));
  double **posC = nullptr, **normC = nullptr, *dx, *dy, *dz, *normD;
  int nPos, nNorm;
  EXPECT_EQ(ComputeReshapeCrv3ConstraintMat(c, outside.c.get(), &posC, &nPos, &dx, &dy, &dz, &normC, &nNorm, &normD), -2);
  EXPECT_EQ(posC, nullptr);
  FreeBspline(c);
}

// A Gram cache hands the fits the very matrices they would compute: the same fits and the same
// quadratics bit for bit, over more knot vectors than the cache keeps (each met twice, so that
// entries are replaced and found again) and degrees 2 to 4, where the second derivatives of
// degree 2 have no Gram matrix. A cache that cannot be made, or cannot take a knot vector,
// leaves nothing behind.
TEST_F(CurveShrinkWrapTest, AGramCacheGivesTheFitsTheirOwnMatrices) {
  Owned<Crv3GramCache, FreeCrv3GramCache> gram(NewCrv3GramCache());
  ASSERT_TRUE(gram);
  const ShrnkWrapParams params = HealingParams();
  auto same = [](const Bspline* a, const Bspline* b) {
    const size_t bytes = sizeof(double) * NumCtrlU(a);
    return NumCtrlU(a) == NumCtrlU(b) && std::memcmp(a->X[0], b->X[0], bytes) == 0 &&
           std::memcmp(a->Y[0], b->Y[0], bytes) == 0 && std::memcmp(a->Z[0], b->Z[0], bytes) == 0;
  };
  for (int round = 0; round < 2; ++round)
    for (unsigned seed = 1; seed <= 12; ++seed) {
      Bspline* c = BuildRandomCurve(seed, 2 + seed % 3, 8 + seed % 4);
      const Samples s = SampleCurve(c, 60, 0.03, seed);
      double p0[3], p1[3];
      RefEvalCurve(c, c->umin, p0);
      RefEvalCurve(c, c->umax, p1);
      Constraint k;
      k.Positions({c->umin, c->umax}, {p0[0], p0[1], p0[2], p1[0], p1[1], p1[2]});
      k.Normals({0.5 * (c->umin + c->umax)}, {0.0, 0.0, 1.0});
      const NubVals nv(c, s);
      Bspline *own = nullptr, *kept = nullptr;
      ASSERT_EQ(ConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(), &params,
                                                 k.c.get(), nv.values.get(), const_cast<int**>(nv.spans.data()), &own),
                0);
      ASSERT_EQ(ConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(), &params,
                                                 k.c.get(), nv.values.get(), const_cast<int**>(nv.spans.data()), &kept,
                                                 gram.get()),
                0);
      EXPECT_TRUE(same(own, kept)) << round << " " << seed;
      const double w[3] = {0.3, 0.2, 0.1};
      double **A[2], *r[2][3];
      for (int f = 0; f < 2; ++f)
        ASSERT_EQ(SetupShrinkWrapCrv3FunctionalMat(c, s.t.data(), s.x.data(), s.y.data(), s.z.data(), s.n(), 2.0, w,
                                                   &A[f], &r[f][0], &r[f][1], &r[f][2], f ? gram.get() : nullptr),
                  0);
      const int nc = NumCtrlU(c);
      EXPECT_EQ(std::memcmp(A[0][0], A[1][0], sizeof(double) * nc * nc), 0) << round << " " << seed;
      for (int a = 0; a < 3; ++a) EXPECT_EQ(std::memcmp(r[0][a], r[1][a], sizeof(double) * nc), 0);
      for (int f = 0; f < 2; ++f) {
        matrix_free_ff(A[f]);
        for (double* v : r[f]) Free(v);
      }
      for (Bspline* obj : {own, kept, c}) FreeBspline(obj);
    }
  EXPECT_GT(RunWithInjectedFailures(10, 1, [] {
              Crv3GramCache* made = NewCrv3GramCache();
              FreeCrv3GramCache(made);
              return made ? 0 : -2;
            }),
            0);
  // Every run starts with a cache that lacks the knots: the failed fills are dropped.
  Bspline* c = BuildRandomCurve(3, 3, 9);
  const Samples s = SampleCurve(c, 40, 0.02);
  const NubVals nv(c, s);
  Constraint k;
  k.Positions({0.0}, {0.0, 0.0, 0.0});
  EXPECT_GT(RunMakerWithInjectedFailures(120, 2, [&](Bspline** fit) {
              Owned<Crv3GramCache, FreeCrv3GramCache> fresh(NewCrv3GramCache());
              if (!fresh) return -2;
              return ConstrainedShrinkWrapCrv3NubVals(c, s.n(), s.t.data(), s.x.data(), s.y.data(), s.z.data(),
                                                      &params, k.c.get(), nv.values.get(),
                                                      const_cast<int**>(nv.spans.data()), fit, fresh.get());
            }),
            0);
  FreeBspline(c);
}

TEST_F(CurveShrinkWrapTest, AllocationFailuresFreeEveryScope) {
  Bspline* c = BuildRandomCurve(4, 3, 8);
  const Samples s = SampleCurve(c, 40, 0.02);
  double T[3], a0[3], b0[3], p0[3];
  TangentAndNormals(c, 0.0, T, a0, b0);
  RefEvalCurve(c, 0.0, p0);
  Constraint k;
  k.Positions({0.0, 0.1, 0.2, 0.3, 0.35}, {p0[0], p0[1], p0[2], 0, 0, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1});
  k.Normals({0.0, 0.0, 0.6}, {a0[0], a0[1], a0[2], b0[0], b0[1], b0[2], 0, 0, 1});
  const ShrnkWrapParams params = HealingParams();
  const NubVals nv(c, s);
  for (FitKind kind : {kEval, kNewNub})
    EXPECT_GT(RunMakerWithInjectedFailures(300, 3, [&](Bspline** fit) { return Fit(kind, c, s, params, k.c.get(), fit, 1, &nv); }), 0);
  FreeBspline(c);
}

}  // namespace

namespace {

// A straight cubic of 12 control points from (0, 0, 0) to (size, 0, 0), moved by `move` x the
// size along (1e4, -6e3, 3.5e3) / 1e4, and 200 samples of a sine arc over it (a tenth of the size
// high), at the curve's parameters.
struct SineArc {
  Owned<Bspline, FreeBspline> start;
  Samples s;
  double o[3];
  SineArc(double size, double move) : o{move * size, -0.6 * move * size, 0.35 * move * size} {
    std::vector<double> pts;
    for (int i = 0; i < 12; ++i) pts.insert(pts.end(), {o[0] + size * i / 11, o[1], o[2]});
    start.reset(BuildCurve(3, 3, pts));
    for (int k = 0; k < 200; ++k) {
      const double u = double(k) / 199;
      s.t.push_back(start->umin + (start->umax - start->umin) * u);
      s.x.push_back(o[0] + size * u);
      s.y.push_back(o[1] + 0.1 * size * std::sin(M_PI * u));
      s.z.push_back(o[2] + 0.02 * size * std::cos(3 * u));
    }
  }
};

}  // namespace

// The unconstrained fit of the sine arc gives the same control points relative to the size at
// sizes 1e-6 .. 1e6, at the origin and moved 10 and 1e4 x the size away, evaluated basis or given.
TEST_F(CurveShrinkWrapTest, FitsAreTheSameAnywhereAndAtEverySize) {
  const ShrnkWrapParams params = HealingParams(1.0);
  for (FitKind kind : {kPlain, kPlainNub}) {
    std::vector<double> ref;
    for (double size : {1.0, 1e-6, 1e6})
      for (double move : {0.0, 10.0, 1e4}) {
        SineArc a(size, move);
        Bspline* fit = nullptr;
        ASSERT_EQ(Fit(kind, a.start.get(), a.s, params, nullptr, &fit), 0) << size << " " << move;
        std::vector<double> rel;
        for (int i = 0; i < 12; ++i)
          rel.insert(rel.end(), {(fit->X[0][i] - a.o[0]) / size, (fit->Y[0][i] - a.o[1]) / size, (fit->Z[0][i] - a.o[2]) / size});
        FreeBspline(fit);
        if (ref.empty()) ref = rel;
        double worst = 0.0;
        for (size_t k = 0; k < rel.size(); ++k) worst = std::max(worst, std::fabs(rel[k] - ref[k]));
        // Moved 1e4 x the size, the data carry 1e-12 of it less.
        EXPECT_LT(worst, 1e-9) << "kind " << kind << " size " << size << " move " << move;
      }
    // The fit follows the arc's bulge.
    EXPECT_NEAR(ref[3 * 5 + 1] + ref[3 * 6 + 1], 0.2 * 1.0, 0.05);
  }
}

namespace {

// The constrained fits of the sine arc, its ends held on the first and last samples and its
// middle held across (0, 0, 1), give the same control points relative to the size at sizes 1e-6
// and 1 (their weights scale below unit size), at the origin and moved 10 and 1e4 x the size away.
TEST_F(CurveShrinkWrapTest, ConstrainedFitsAreTheSameAnywhere) {
  const ShrnkWrapParams params = HealingParams(0.01);
  for (FitKind kind : {kEval, kNub, kNewNub}) {
    std::vector<double> ref;
    for (double size : {1.0, 1e-6})
      for (double move : {0.0, 10.0, 1e4}) {
        SineArc a(size, move);
        Constraint k;
        const int last = a.s.n() - 1;
        k.Positions({a.s.t[0], a.s.t[last]}, {a.s.x[0], a.s.y[0], a.s.z[0], a.s.x[last], a.s.y[last], a.s.z[last]});
        k.Normals({0.5}, {0, 0, 1});
        Bspline* fit = nullptr;
        ASSERT_EQ(Fit(kind, a.start.get(), a.s, params, k.c.get(), &fit), 0) << size << " " << move;
        std::vector<double> rel;
        for (int i = 0; i < NumCtrlU(fit); ++i)
          rel.insert(rel.end(), {(fit->X[0][i] - a.o[0]) / size, (fit->Y[0][i] - a.o[1]) / size, (fit->Z[0][i] - a.o[2]) / size});
        FreeBspline(fit);
        if (ref.empty()) ref = rel;
        ASSERT_EQ(rel.size(), ref.size());
        double worst = 0.0;
        for (size_t i = 0; i < rel.size(); ++i) worst = std::max(worst, std::fabs(rel[i] - ref[i]));
        EXPECT_LT(worst, 1e-9) << "kind " << kind << " size " << size << " move " << move;
      }
  }
}

}  // namespace
