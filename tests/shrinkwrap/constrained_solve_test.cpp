// The equality-constrained quadratic solver against an independent KKT solve, and the linear
// rows that position and normal constraints make.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "foundation/vec3.h"
#include "shrinkwrap/cshrink.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ConstrainedSolveTest : public KernelTest {};

using Mat = std::vector<std::vector<double>>;

// Plain Gaussian elimination with partial pivoting, independent of the kernel's solver.
std::vector<double> RefSolve(Mat a, std::vector<double> b) {
  const int n = static_cast<int>(b.size());
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[p], a[c]);
    std::swap(b[p], b[c]);
    for (int r = c + 1; r < n; ++r) {
      const double f = a[r][c] / a[c][c];
      for (int k = c; k < n; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(n);
  for (int r = n - 1; r >= 0; --r) {
    x[r] = b[r];
    for (int k = r + 1; k < n; ++k) x[r] -= a[r][k] * x[k];
    x[r] /= a[r][r];
  }
  return x;
}

// A row-pointer copy of the first `cols` columns of a dense matrix, freed with the guard.
struct KMat {
  double** m;
  KMat(const Mat& src, int cols) : m(allocate_matrix_ff(std::max<int>(src.size(), 1), cols)) {
    for (size_t i = 0; i < src.size(); ++i)
      for (int j = 0; j < cols; ++j) m[i][j] = src[i][j];
  }
  ~KMat() { matrix_free_ff(m); }
};

// min 1/2 x'Ax + b'x subject to C x = d with A = R'R + I/2 (positive definite) and a random C
// (m < n, so of full rank), with three right-hand sides b, d.
struct Problem {
  Mat A, C;
  std::vector<double> b[3], d[3];
};

Problem RandomProblem(std::mt19937& rng, int n, int m) {
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  Problem p{Mat(n, std::vector<double>(n)), Mat(m, std::vector<double>(n)), {}, {}};
  Mat R(n, std::vector<double>(n));
  for (Mat* M : {&R, &p.C})
    for (auto& row : *M)
      for (double& v : row) v = U(rng);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      p.A[i][j] = i == j ? 0.5 : 0.0;
      for (int k = 0; k < n; ++k) p.A[i][j] += R[k][i] * R[k][j];
    }
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < n; ++i) p.b[c].push_back(U(rng));
    for (int k = 0; k < m; ++k) p.d[c].push_back(U(rng));
  }
  return p;
}

// The minimiser for right-hand side c from the KKT system [[A, C'], [C, 0]] [x; l] = [-b; d].
std::vector<double> RefMinimiser(const Problem& p, int c) {
  const int n = int(p.A.size()), m = int(p.C.size());
  Mat K(n + m, std::vector<double>(n + m, 0.0));
  std::vector<double> rhs(n + m);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) K[i][j] = p.A[i][j];
    rhs[i] = -p.b[c][i];
  }
  for (int k = 0; k < m; ++k) {
    for (int j = 0; j < n; ++j) K[n + k][j] = K[j][n + k] = p.C[k][j];
    rhs[n + k] = p.d[c][k];
  }
  std::vector<double> x = RefSolve(K, rhs);
  x.resize(n);
  return x;
}

// Random problems with 0 to n - 1 constraints: the constraints hold, the solution is the
// reference minimiser, A is left alone, and the three-coordinate form agrees with three single
// solves.
TEST_F(ConstrainedSolveTest, RandomProblemsMeetConstraintsAndOptimality) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 2 + trial % 7, m = trial % n;
    Problem p = RandomProblem(rng, n, m);
    KMat A(p.A, n), C(p.C, n);
    std::vector<double> single[3];
    for (int c = 0; c < 3; ++c) {
      std::vector<double> x = p.b[c], d = p.d[c];
      ASSERT_EQ(SolveLEQP(A.m, x.data(), n, m > 0 ? C.m : nullptr, d.data(), m), 0) << trial;
      const std::vector<double> ref = RefMinimiser(p, c);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], ref[i], 1e-9) << trial;
      for (int k = 0; k < m; ++k)
        EXPECT_NEAR(std::inner_product(x.begin(), x.end(), p.C[k].begin(), 0.0), p.d[c][k], 1e-9) << trial;
      single[c] = x;
    }
    ASSERT_EQ(SolveLEQP3(A.m, n, p.b[0].data(), p.b[1].data(), p.b[2].data(), C.m, m, p.d[0].data(),
                         p.d[1].data(), p.d[2].data()), 0);
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < n; ++i) EXPECT_NEAR(p.b[c][i], single[c][i], 1e-12);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) EXPECT_EQ(A.m[i][j], p.A[i][j]);
  }
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(ConstrainedSolveTest, EmptySingularAndFailingProblems) {
  double b[2] = {1.0, 2.0}, d[2] = {1.0, 1.0};
  KMat A({{2.0, 0.0}, {0.0, 4.0}}, 2), C({{1.0, 1.0}, {1.0, 1.0}}, 2);
  EXPECT_EQ(SolveLEQP(nullptr, b, 2, nullptr, nullptr, 0), 0);
  EXPECT_EQ(SolveLEQP(A.m, b, 0, nullptr, nullptr, 0), 0);
  EXPECT_EQ(SolveLEQP3(nullptr, 2, b, b, b, nullptr, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(b[0] == 1.0 && b[1] == 2.0);
  EXPECT_EQ(SolveLEQP(A.m, b, 2, C.m, d, 2), -2);  // identical rows: a singular KKT matrix
  EXPECT_EQ(SolveLEQP(A.m, b, 2, nullptr, d, 1), -2);  // constraint rows promised but missing
  ClearKernelError();

  std::mt19937 rng(3);
  const Problem p = RandomProblem(rng, 5, 2);
  KMat A5(p.A, 5), C5(p.C, 5);
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    std::vector<double> x(5, 0.5), y = x, z = x, dx(2, 0.1), dy = dx, dz = dx;
    const int r1 = SolveLEQP(A5.m, x.data(), 5, C5.m, dx.data(), 2);
    EXPECT_TRUE(r1 == 0 || KernelFailedNow());
    const int r3 = SolveLEQP3(A5.m, 5, x.data(), y.data(), z.data(), C5.m, 2, dx.data(), dy.data(), dz.data());
    return r1 != 0 ? r1 : r3;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 40);
}

// The parameters of all constraints (positions, then normals) sorted, duplicates kept, in an
// array that survives the caller's scope, as does the record.
TEST_F(ConstrainedSolveTest, ConstraintParametersSurviveTheCallersScope) {
  BeginTrackingMallocs();
  LinearConstraint* c = AllocateNullLinearConstraint();
  FreeTrackedMallocs();
  double* values = reinterpret_cast<double*>(1);
  int count = -1;
  ASSERT_EQ(GetWrapConstraintParVals(c, &values, &count), 0);
  EXPECT_TRUE(values == nullptr && count == 0);
  auto array = [](std::vector<double> v) {
    auto* a = static_cast<double*>(Malloc(sizeof(double) * v.size()));
    std::copy(v.begin(), v.end(), a);
    return a;
  };
  c->nPos = 3, c->posPar = array({0.7, 0.1, 0.4}), c->posSpare = array({1});
  c->nNorm = 2, c->normPar = array({0.1, 0.0});
  BeginTrackingMallocs();
  ASSERT_EQ(GetWrapConstraintParVals(c, &values, &count), 0);
  FreeTrackedMallocs();
  EXPECT_EQ(std::vector<double>(values, values + count), (std::vector<double>{0.0, 0.1, 0.1, 0.4, 0.7}));
  Free(values);
  EXPECT_EQ(GetWrapConstraintParVals(nullptr, &values, &count), -2);
  EXPECT_EQ(FreeWrapConstraint(c), 0);  // with every array it holds, the spare one too
  EXPECT_EQ(FreeWrapConstraint(nullptr), 0);
}

// A normal row is the derivative along the unit normal: n.(C + D)'(t) = n.C'(t) + row.D for
// every displacement D, with d = -n.C'(t).
TEST_F(ConstrainedSolveTest, NormalRowIsTheDerivativeAlongTheNormal) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Bspline* curve = BuildRandomCurve(seed, 1 + seed % 4, 6);
    const int n = NumCtrlU(curve);
    for (double t : {0.0, 0.21, 0.66, 1.0}) {
      const double normal[3] = {3 * U(rng), 3 * U(rng), 3 * U(rng)}, len = VecSize3(normal);
      std::vector<double> row(3 * n);
      double d = 0.0, rowD = 0.0, d0[3], d1[3];
      ASSERT_EQ(ComputeReshapeCrv3NormConstraint(curve, normal, t, row.data(), &d), 0);
      RefEvalDeriv(curve, t, 0.0, 1, 0, d0);
      EXPECT_NEAR(d, -VecDotProd3(normal, d0) / len, 1e-9);
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < n; ++j) {
          const double delta = U(rng);
          rowD += row[c * n + j] * delta;
          (c == 0 ? curve->X : c == 1 ? curve->Y : curve->Z)[0][j] += delta;
        }
      RefEvalDeriv(curve, t, 0.0, 1, 0, d1);
      EXPECT_NEAR(VecDotProd3(normal, d1) / len, VecDotProd3(normal, d0) / len + rowD, 1e-9);
    }
    const double tiny[3] = {0.0005, 0.0, 0.0};
    std::vector<double> row(3 * n);
    double d = 0.0;
    EXPECT_EQ(ComputeReshapeCrv3NormConstraint(curve, tiny, 0.5, row.data(), &d), -2);
    FreeBspline(curve);
  }
  Bspline* flat = BuildRandomCurve(1, 3, 5, 2);
  const double nrm[3] = {1, 0, 0};
  double row[15], d;
  EXPECT_EQ(ComputeReshapeCrv3NormConstraint(flat, nrm, 0.5, row, &d), -2);  // not a 3D curve
  FreeBspline(flat);
}

}  // namespace
