// The grid fit: a surface sampled on a grid and fitted onto its own degrees and knots comes back
// (plain, with derivative matching, at any scale); a fixed boundary ring holds the border curves'
// control points while the interior minimises the squared error; held unknowns solve the rest of
// the band system exactly; curvature values of a sphere; and the refusals (more than one fixed
// line, a singular system).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "quadric/qnurbs.h"
#include "intersect/curvatur.h"
#include "splinefit/sconvert.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class GridFit : public KernelTest {};

struct Grid {
  std::vector<double> u, v, x, y, z;
};

Grid Sample(const Bspline* s, int nu, int nv, double scale = 1.0) {
  Grid g;
  for (int i = 0; i < nu; ++i) g.u.push_back(s->umin + (s->umax - s->umin) * i / (nu - 1));
  for (int j = 0; j < nv; ++j) g.v.push_back(s->vmin + (s->vmax - s->vmin) * j / (nv - 1));
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      double p[3];
      RefEvalSurface(s, g.u[i], g.v[j], p);
      g.x.push_back(p[0] * scale);
      g.y.push_back(p[1] * scale);
      g.z.push_back(p[2] * scale);
    }
  return g;
}

// A copy of the surface's structure (degrees, knots, range) with zeroed control points.
Bspline* Blank(const Bspline* s) {
  std::vector<double> pts(3 * NumCtrlU(s) * NumCtrlV(s), 0.0);
  return BuildSurface(s->degreeU, s->degreeV, NumCtrlU(s), NumCtrlV(s), pts,
                      std::vector<double>(s->knotsU, s->knotsU + NumKnotsU(s)),
                      std::vector<double>(s->knotsV, s->knotsV + NumKnotsV(s)));
}

Bspline* RandomSurface(unsigned seed, int p, int q, int nU, int nV) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-1, 1);
  std::vector<double> pts;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) pts.insert(pts.end(), {double(i), double(j), U(rng)});
  return BuildSurface(p, q, nU, nV, pts, ClampedKnots(p, nU, 0, 1, KnotLayout::Random, seed),
                      ClampedKnots(q, nV, 0, 1, KnotLayout::Random, seed + 1));
}

GridFitParams Plain() {
  GridFitParams g{};
  g.boundaryMode = -1;
  return g;
}

int Fit(const Bspline* old, Bspline* fresh, const Grid& g, const GridFitParams& prm) {
  return FitSurface3DGridData(old, fresh, g.u.data(), g.v.data(), int(g.u.size()),
                              int(g.v.size()), g.x.data(), g.y.data(), g.z.data(), 0.0, &prm);
}

// Same degrees and knots: the samples are exactly representable, so the least-squares solution
// is the surface itself; matching its own derivatives keeps it so. Degrees differ in u and v, so
// the band width pV nCtrlU + pU + 1 is exercised both ways.
TEST_F(GridFit, OwnSpaceReproducesTheSurfaceAtEveryScale) {
  for (auto [p, q] : {std::pair{3, 2}, std::pair{2, 4}}) {
    BsplineKeeper keep;
    Bspline* s = keep(RandomSurface(p * 7 + q, p, q, 7, 6));
    ASSERT_NE(s, nullptr);
    for (double scale : {1e-6, 1.0, 1e6}) {
      // The smoothing and derivative weights grow as 1 / (height span)^2 while the data terms
      // shrink with it, so derivative matching is checked at unit size only.
      for (int derive : {0, 1}) {
        if (derive && scale != 1.0) continue;
        Bspline* f = keep(Blank(s));
        const Grid g = Sample(s, 19, 17, scale);
        GridFitParams prm = Plain();
        prm.deriveFit = derive;
        prm.roughness = 0.5;
        prm.tension = 0.3;
        // The old surface must be at the grid's scale for its derivatives to match.
        Bspline* old = keep(Blank(s));
        for (int j = 0; j < NumCtrlV(s); ++j)
          for (int i = 0; i < NumCtrlU(s); ++i) {
            old->X[j][i] = s->X[j][i] * scale;
            old->Y[j][i] = s->Y[j][i] * scale;
            old->Z[j][i] = s->Z[j][i] * scale;
          }
        ASSERT_EQ(Fit(old, f, g, prm), 1) << p << q << " " << scale << " " << derive;
        for (int j = 0; j < NumCtrlV(s); ++j)
          for (int i = 0; i < NumCtrlU(s); ++i) {
            EXPECT_NEAR(f->X[j][i], old->X[j][i], 1e-9 * scale);
            EXPECT_NEAR(f->Y[j][i], old->Y[j][i], 1e-9 * scale);
            EXPECT_NEAR(f->Z[j][i], old->Z[j][i], 1e-9 * scale);
          }
      }
    }
  }
}

double SquaredError(const Bspline* f, const Grid& g) {
  double e = 0.0;
  for (size_t j = 0; j < g.v.size(); ++j)
    for (size_t i = 0; i < g.u.size(); ++i) {
      double p[3];
      RefEvalSurface(f, g.u[i], g.v[j], p);
      const size_t k = j * g.u.size() + i;
      e += (p[0] - g.x[k]) * (p[0] - g.x[k]) + (p[1] - g.y[k]) * (p[1] - g.y[k]) +
           (p[2] - g.z[k]) * (p[2] - g.z[k]);
    }
  return e;
}

// Boundary mode 0: the ring of boundary control points is that of the four border curves; every
// interior control point sits where the squared error is least (moving it either way costs).
TEST_F(GridFit, FixedRingTakesTheBorderCurvesInteriorIsLeastSquares) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * std::cos(2 * y); }));
  Bspline* f = keep(BuildFunctionPatch([](double, double) { return 0.0; }));
  f->fitProps = {1, 0.0, 1e-3, 0.0};
  const Grid g = Sample(s, 15, 13);
  GridFitParams prm = Plain();
  prm.boundaryMode = 0;
  ASSERT_EQ(Fit(s, f, g, prm), 1);
  Bspline* curves[4];
  ASSERT_EQ(CreateBoundaryCurves(f, g.x.data(), g.y.data(), g.z.data(), 15, 13, curves), 1);
  for (Bspline* c : curves) keep(c);
  const int nU = NumCtrlU(f), nV = NumCtrlV(f);
  for (int i = 0; i < nU; ++i) {
    EXPECT_EQ(f->X[0][i], curves[0]->X[0][i]);
    EXPECT_EQ(f->Z[nV - 1][i], curves[2]->Z[0][i]);
  }
  for (int j = 1; j < nV - 1; ++j) {
    EXPECT_EQ(f->Y[j][0], curves[1]->Y[0][j]);
    EXPECT_EQ(f->Z[j][nU - 1], curves[3]->Z[0][j]);
  }
  const double e0 = SquaredError(f, g);
  for (int j = 1; j < nV - 1; ++j)
    for (int i = 1; i < nU - 1; ++i)
      for (double step : {1e-4, -1e-4}) {
        f->Z[j][i] += step;
        EXPECT_GT(SquaredError(f, g), e0);
        f->Z[j][i] -= step;
      }
  // More than one fixed line per side is refused rather than reported as solved.
  const int N = nU * nV, W = f->degreeV * nU + f->degreeU + 1;
  Owned<double*, matrix_free_ff> M(allocate_matrix_ff(N, W));
  std::vector<double> bx(N), by(N), bz(N);
  EXPECT_EQ(FitSurfaceByFixingBoundaries(f, g.x.data(), g.y.data(), g.z.data(), 15, 13, 1, 0, 0, 0,
                                         M.get(), N, W, bx.data(), by.data(), bz.data()),
            0);
}

// Held unknowns: the free rows of A x = b hold exactly, the held ones keep their values.
TEST_F(GridFit, HeldUnknownsSolveTheRestOfTheBandSystem) {
  const int N = 12, W = 4;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(-1, 1);
  std::vector<std::vector<double>> A(N, std::vector<double>(N, 0.0));
  for (int r = 0; r < N; ++r)
    for (int c = r; c < std::min(N, r + W); ++c) A[r][c] = A[c][r] = c == r ? 8.0 + U(rng) : U(rng);
  Owned<double*, matrix_free_ff> M(allocate_matrix_ff(N, W));
  for (int r = 0; r < N; ++r)
    for (int c = 0; c < W; ++c) M[r][c] = r + c < N ? A[r][r + c] : 0.0;
  std::vector<double> b[3];
  for (auto& v : b)
    for (int i = 0; i < N; ++i) v.push_back(U(rng));
  const std::vector<double> b0[3] = {b[0], b[1], b[2]};
  int idx[3] = {0, 5, 11};
  double fx[3] = {1, 2, 3}, fy[3] = {-1, 0, 1}, fz[3] = {0.5, 0.5, 0.5};
  // A band of no width, or held values missing, is refused with b as it was.
  EXPECT_EQ(FixBoundaryDerivativesAndSolve(M.get(), 3, idx, fx, fy, fz, N, 0, b[0].data(), b[1].data(), b[2].data()), -2);
  EXPECT_EQ(FixBoundaryDerivativesAndSolve(M.get(), 3, idx, fx, nullptr, fz, N, W, b[0].data(), b[1].data(), b[2].data()),
            -2);
  EXPECT_EQ(b[0], b0[0]);
  // Holding x0 of the symmetric [[1, 1], [1, 0]] leaves 0 x1 = b1 - x0: singular, and b is left
  // as it was.
  {
    Owned<double*, matrix_free_ff> S(allocate_matrix_ff(2, 2));
    S[0][0] = S[0][1] = 1.0;
    S[1][0] = S[1][1] = 0.0;  // the diagonal of row 1, then an entry past the matrix
    double sx[2] = {3, 4}, sy[2] = {3, 4}, sz[2] = {3, 4};
    int first = 0;
    EXPECT_EQ(FixBoundaryDerivativesAndSolve(S.get(), 1, &first, fx, fy, fz, 2, 2, sx, sy, sz), -2);
    EXPECT_EQ(sx[1], 4.0);
  }
  ASSERT_EQ(FixBoundaryDerivativesAndSolve(M.get(), 3, idx, fx, fy, fz, N, W, b[0].data(),
                                           b[1].data(), b[2].data()),
            0);
  const double* held[3] = {fx, fy, fz};
  for (int d = 0; d < 3; ++d) {
    for (int k = 0; k < 3; ++k) EXPECT_EQ(b[d][idx[k]], held[d][k]);
    for (int r = 0; r < N; ++r) {
      if (r == 0 || r == 5 || r == 11) continue;
      double s = 0.0;
      for (int c = 0; c < N; ++c) s += A[r][c] * b[d][c];
      EXPECT_NEAR(s, b0[d][r], 1e-12);
    }
  }
}

TEST_F(GridFit, SingularSystemsAndFlatHeightsAreHandled) {
  BsplineKeeper keep;
  Bspline* s = keep(RandomSurface(5, 3, 3, 8, 8));
  Bspline* f = keep(Blank(s));
  // Three samples a direction cannot hold eight control points: a zero pivot, refused.
  const Grid g = Sample(s, 3, 3);
  const double before = f->X[2][2];
  EXPECT_EQ(Fit(s, f, g, Plain()), 0);
  EXPECT_EQ(f->X[2][2], before);
  // Derivative matching needs a positive roughness for its weight.
  GridFitParams prm = Plain();
  prm.deriveFit = 1;
  EXPECT_EQ(Fit(s, f, Sample(s, 20, 20), prm), 0);
  std::vector<double> flat(10, 2.0);
  double hz = 0.0;
  FindUObs_d(flat.data(), flat.data(), flat.data(), 10, &hz);
  EXPECT_EQ(hz, 0.1);
}

// Curvature values of a sphere of radius R: Gaussian 1/R^2, mean -+1/R, |k1| + |k2| = 2/R, the
// poles included (their derivatives come from the neighbouring grid point).
TEST_F(GridFit, CurvatureValuesOfASphere) {
  Bspline* s = MallocInitSurfaceBspline();
  ASSERT_EQ(SphereNurbs(0, 0, 0, 2.0, s), 0);
  BsplineKeeper keep;
  keep(s);
  std::vector<double> u = {0.0, 0.2, 0.45, 0.7}, v = {0.0, 0.3, 0.6, 1.0}, out(16);
  CurvatureOnParameterGrid(s, out.data(), u.data(), v.data(), 4, 4, 7);
  for (double k : out) EXPECT_NEAR(k, 0.25, 1e-9);
  CurvatureOnParameterGrid(s, out.data(), u.data(), v.data(), 4, 4, 8);
  for (double k : out) EXPECT_NEAR(std::fabs(k), 0.5, 1e-9);
  ComputeCurvatureGivenArrays(s, out.data(), u.data(), v.data(), 4, 4, 9);
  for (double k : out) EXPECT_NEAR(k, 1.0, 1e-9);
  for (double R : {2e-6, 2e6}) {
    Bspline* t = keep(MallocInitSurfaceBspline());
    ASSERT_EQ(SphereNurbs(R, 2 * R, 3 * R, R, t), 0);
    CurvatureOnParameterGrid(t, out.data(), u.data(), v.data(), 4, 4, 7);
    for (double k : out) EXPECT_NEAR(k * R * R, 1.0, 1e-6) << R;
    CurvatureOnParameterGrid(t, out.data(), u.data(), v.data(), 4, 4, 9);
    for (double k : out) EXPECT_NEAR(k * R, 2.0, 1e-6) << R;
  }
  // Constant curvature gives every sample the low weight.
  std::vector<double> w(16);
  SetWeightsToDataPoints(s, u.data(), 4, v.data(), 4, 5.0, 2.0, w.data());
  for (double x : w) EXPECT_EQ(x, 2.0);
}

double Extent(double** M, int rows, int cols) {
  double lo = 1e300, hi = -1e300;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < cols; ++i) {
      lo = std::min(lo, M[j][i]);
      hi = std::max(hi, M[j][i]);
    }
  return hi - lo;
}

// The smoothing slots: tension 1 leaves only the membrane energy along u, which shrinks the net
// along u (x) and leaves y (constant along u) exact; tension 0 weighs membrane along v, bending
// and twist, which shrink y and leave x (linear in u, constant in v) exact. Equal curvature
// weights of 1 give the plain fit; a control-net penalty pulls the net together.
TEST_F(GridFit, SmoothingSlotsPenaltyAndCurvatureWeights) {
  BsplineKeeper keep;
  PatchOptions o;
  o.x1 = 6.0;
  o.y1 = 4.0;
  Bspline* s = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
  const Grid g = Sample(s, 15, 13);
  const int nU = NumCtrlU(s), nV = NumCtrlV(s);
  for (double tension : {1.0, 0.0}) {
    Bspline* f = keep(Blank(s));
    f->fitProps = {1, tension, 1.0, 0.0};
    GridFitParams prm = Plain();
    prm.smooth = 1;
    prm.roughness = 1.0;
    prm.tension = tension;
    ASSERT_EQ(Fit(s, f, g, prm), 1);
    const double ex = Extent(f->X, nV, nU), ey = Extent(f->Y, nV, nU);
    if (tension == 1.0) {
      EXPECT_LT(ex, 0.99 * 6.0);
      EXPECT_NEAR(ey, 4.0, 1e-9);
    } else {
      EXPECT_NEAR(ex, 6.0, 1e-9);
      EXPECT_LT(ey, 0.99 * 4.0);
    }
  }
  Bspline* plain = keep(Blank(s));
  Bspline* weighted = keep(Blank(s));
  GridFitParams prm = Plain();
  ASSERT_EQ(Fit(s, plain, g, prm), 1);
  prm.weightByCurvature = 1;
  prm.curvWeightHigh = prm.curvWeightLow = 1.0;
  ASSERT_EQ(Fit(s, weighted, g, prm), 1);
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) EXPECT_NEAR(weighted->X[j][i], plain->X[j][i], 1e-12);
  prm.weightByCurvature = 0;
  prm.usePenalty = 1;
  prm.penalty = 10.0;
  ASSERT_EQ(Fit(s, weighted, g, prm), 1);
  EXPECT_LT(Extent(weighted->X, nV, nU), 0.99 * 6.0);
}

}  // namespace
