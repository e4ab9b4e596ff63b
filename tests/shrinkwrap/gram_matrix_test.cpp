// The derivative Gram matrices of a curve's basis, G_r[i][j] = integral of N_i^(r) N_j^(r) over the
// domain, against Gauss quadrature of the textbook basis and the identities of a partition of unity.
#include <cmath>
#include <vector>

#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "shrinkwrap/cshrink.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class GramMatrix : public KernelTest {};

// Integral over the curve's domain of N_i^(r) N_j^(r), five Gauss points per knot span: exact for
// the products of degree up to 9 that cubic and quartic bases give.
double Quadrature(const Bspline* c, int r, int i, int j) {
  static const double x[5] = {-0.9061798459386640, -0.5384693101056831, 0.0, 0.5384693101056831,
                              0.9061798459386640};
  static const double w[5] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889, 0.4786286704993665,
                              0.2369268850561891};
  const int nk = NumKnotsU(c), p = c->degreeU;
  double sum = 0.0;
  for (int s = p; s < nk - p - 1; ++s) {
    const double a = c->knotsU[s], b = c->knotsU[s + 1];
    if (!(b > a)) continue;
    for (int q = 0; q < 5; ++q) {
      // Inside the span, so that the one-sided derivatives at its knots do not matter.
      const double t = 0.5 * (a + b) + 0.5 * (b - a) * x[q];
      sum += 0.5 * (b - a) * w[q] * RefBasisDeriv(c->knotsU, nk, i, p, r, t) * RefBasisDeriv(c->knotsU, nk, j, p, r, t);
    }
  }
  return sum;
}

TEST_F(GramMatrix, EntriesAreTheIntegralsOfTheBasisDerivatives) {
  for (int degree : {3, 4})
    for (unsigned seed : {1u, 2u}) {
      Bspline* c = BuildRandomCurve(seed, degree, 9);
      for (int r = 0; r <= 2; ++r) {
        double** G = nullptr;
        ASSERT_EQ(ComputeCrv3DiffGramMatrix(c, r, &G), 0);
        const int n = NumCtrlU(c);
        double rowSums = 0.0, total = 0.0, scale = 0.0;
        for (int i = 0; i < n; ++i) {
          double row = 0.0;
          for (int j = 0; j < n; ++j) {
            const double q = Quadrature(c, r, i, j);
            scale = std::fmax(scale, std::fabs(q));
            EXPECT_NEAR(G[i][j], q, 1e-10 * std::fmax(1.0, std::fabs(q))) << degree << " r " << r << " " << i << "," << j;
            EXPECT_EQ(G[i][j], G[j][i]);
            row += G[i][j];
          }
          rowSums = std::fmax(rowSums, std::fabs(row));
          total += row;
        }
        if (r == 0) {
          // The basis sums to one, so its Gram matrix sums to the length of the domain.
          EXPECT_NEAR(total, c->umax - c->umin, 1e-12);
        } else {
          // Its derivatives sum to zero, so every row does.
          EXPECT_LT(rowSums, 1e-9 * scale) << degree << " r " << r;
        }
        matrix_free_ff(G);
      }
      FreeBspline(c);
    }
}

// A degree at most r has no r-th derivative energy in this matrix (a quadratic curve gets no
// second-derivative term, a line none at all); a curve in a surface's parameter plane is refused.
TEST_F(GramMatrix, DegreeAtMostTheOrderGivesZerosAndPlaneCurvesAreRefused) {
  Bspline* c = BuildRandomCurve(3, 2, 6);
  double** G = nullptr;
  ASSERT_EQ(ComputeCrv3DiffGramMatrix(c, 2, &G), 0);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) EXPECT_EQ(G[i][j], 0.0);
  matrix_free_ff(G);
  FreeBspline(c);
  Bspline* uv = BuildRandomCurve(3, 3, 6, 2);
  G = nullptr;
  EXPECT_EQ(ComputeCrv3DiffGramMatrix(uv, 1, &G), -2);
  EXPECT_EQ(G, nullptr);
  FreeBspline(uv);
}

}  // namespace
