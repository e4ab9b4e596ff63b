// The equality-constrained quadratic solver against an independent KKT solve, and the linear
// rows that position and normal constraints make.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/cshrink.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ConstrainedSolveTest : public KernelTest {};

using Mat = std::vector<std::vector<double>>;

// A row-pointer copy of the first `cols` columns of a dense matrix, freed with the guard.
struct KMat {
  Owned<double*, matrix_free_ff> m;
  KMat(const Mat& src, int cols) : m(allocate_matrix_ff(std::max<int>(src.size(), 1), cols)) {
    for (size_t i = 0; i < src.size(); ++i)
      for (int j = 0; j < cols; ++j) m[i][j] = src[i][j];
  }
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

// The minimiser for right-hand side c from the KKT system [[A, C'], [C, 0]] [x; l] = [-b; d], by
// plain Gaussian elimination with partial pivoting, independent of the kernel's solver.
std::vector<double> RefMinimiser(const Problem& p, int c) {
  const int n = int(p.A.size()), N = n + int(p.C.size());
  Mat K(N, std::vector<double>(N + 1, 0.0));  // the right-hand side in column N
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < N; ++j) K[i][j] = i < n ? (j < n ? p.A[i][j] : p.C[j - n][i]) : (j < n ? p.C[i - n][j] : 0.0);
    K[i][N] = i < n ? -p.b[c][i] : p.d[c][i - n];
  }
  for (int col = 0; col < N; ++col) {
    int piv = col;
    for (int r = col + 1; r < N; ++r)
      if (std::fabs(K[r][col]) > std::fabs(K[piv][col])) piv = r;
    std::swap(K[piv], K[col]);
    for (int r = col + 1; r < N; ++r)
      for (int k = N; k >= col; --k) K[r][k] -= K[r][col] / K[col][col] * K[col][k];  // K[r][col] last
  }
  std::vector<double> x(N);
  for (int r = N - 1; r >= 0; --r) {
    x[r] = K[r][N];
    for (int k = r + 1; k < N; ++k) x[r] -= K[r][k] * x[k];
    x[r] /= K[r][r];
  }
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
      ASSERT_EQ(SolveLEQP(A.m.get(), x.data(), n, m > 0 ? C.m.get() : nullptr, d.data(), m), 0) << trial;
      const std::vector<double> ref = RefMinimiser(p, c);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], ref[i], 1e-9) << trial;
      for (int k = 0; k < m; ++k)
        EXPECT_NEAR(std::inner_product(x.begin(), x.end(), p.C[k].begin(), 0.0), p.d[c][k], 1e-9) << trial;
      single[c] = x;
    }
    ASSERT_EQ(SolveLEQP3(A.m.get(), n, p.b[0].data(), p.b[1].data(), p.b[2].data(), C.m.get(), m, p.d[0].data(),
                         p.d[1].data(), p.d[2].data()), 0);
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < n; ++i) EXPECT_NEAR(p.b[c][i], single[c][i], 1e-12);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) EXPECT_EQ(A.m[i][j], p.A[i][j]);
  }
  EXPECT_FALSE(KernelFailedNow());
}

// Long fits have a band functional (control points couple within a degree); the solver's band
// road must give the dense minimiser: symmetric bands of width 2..4 on 60..240 unknowns, positive
// definite or (`indefinite`) with negative diagonal entries that no band factorisation without
// pivoting may be trusted with, 0 to 9 constraints, and twice the same constraint row (a
// singular system, refused as on the dense road).
TEST_F(ConstrainedSolveTest, BandProblemsGiveTheDenseMinimiser) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (int trial = 0; trial < 12; ++trial) {
    const int n = 60 + 20 * trial % 181, m = trial % 10, w = 2 + trial % 3;
    const bool indefinite = trial % 4 == 3;
    Problem p = RandomProblem(rng, 2, 0);  // right-hand sides resized below
    p.A.assign(n, std::vector<double>(n, 0.0));
    p.C.assign(m, std::vector<double>(n));
    for (int i = 0; i < n; ++i) {
      p.A[i][i] = indefinite && i % 7 == 0 ? -2.0 : 2.0 * w + 0.5;
      for (int j = i + 1; j < std::min(n, i + w); ++j) p.A[i][j] = p.A[j][i] = U(rng);
    }
    for (auto& row : p.C)
      for (double& v : row) v = U(rng);
    for (int c = 0; c < 3; ++c) {
      p.b[c].resize(n);
      p.d[c].resize(m);
      for (double& v : p.b[c]) v = U(rng);
      for (double& v : p.d[c]) v = U(rng);
    }
    KMat A(p.A, n), C(p.C, n);
    std::vector<double> ref[3];
    auto expectRef = [&](const std::vector<double>& x, int c) {
      double scale = 1.0;
      for (double v : ref[c]) scale = std::max(scale, std::fabs(v));
      for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], ref[c][i], 1e-9 * scale) << trial << " " << i;
    };
    for (int c = 0; c < 3; ++c) {
      ref[c] = RefMinimiser(p, c);
      std::vector<double> x = p.b[c], d = p.d[c];
      ASSERT_EQ(SolveLEQP(A.m.get(), x.data(), n, m > 0 ? C.m.get() : nullptr, d.data(), m), 0) << trial;
      expectRef(x, c);
    }
    ASSERT_EQ(SolveLEQP3(A.m.get(), n, p.b[0].data(), p.b[1].data(), p.b[2].data(), C.m.get(), m, p.d[0].data(),
                         p.d[1].data(), p.d[2].data()),
              0);
    for (int c = 0; c < 3; ++c) expectRef(p.b[c], c);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) ASSERT_EQ(A.m[i][j], p.A[i][j]);
    if (m >= 2) {
      p.C[1] = p.C[0];
      KMat twice(p.C, n);
      std::vector<double> x = p.b[0], d = p.d[0];
      EXPECT_EQ(SolveLEQP(A.m.get(), x.data(), n, twice.m.get(), d.data(), m), -2) << trial;
    }
  }
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(ConstrainedSolveTest, EmptySingularAndFailingProblems) {
  double b[2] = {1.0, 2.0}, d[2] = {1.0, 1.0};
  KMat A({{2.0, 0.0}, {0.0, 4.0}}, 2), C({{1.0, 1.0}, {1.0, 1.0}}, 2);
  EXPECT_EQ(SolveLEQP(nullptr, b, 2, nullptr, nullptr, 0), 0);
  EXPECT_EQ(SolveLEQP(A.m.get(), b, 0, nullptr, nullptr, 0), 0);
  EXPECT_EQ(SolveLEQP3(nullptr, 2, b, b, b, nullptr, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(b[0] == 1.0 && b[1] == 2.0);
  EXPECT_EQ(SolveLEQP(A.m.get(), b, 2, C.m.get(), d, 2), -2);  // identical rows: a singular KKT matrix
  EXPECT_EQ(SolveLEQP(A.m.get(), b, 2, nullptr, d, 1), -2);  // constraint rows promised but missing
  ClearKernelError();

  std::mt19937 rng(3);
  const Problem p = RandomProblem(rng, 5, 2);
  KMat A5(p.A, 5), C5(p.C, 5);
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    std::vector<double> x(5, 0.5), y = x, z = x, dx(2, 0.1), dy = dx, dz = dx;
    const int r1 = SolveLEQP(A5.m.get(), x.data(), 5, C5.m.get(), dx.data(), 2);
    EXPECT_TRUE(r1 == 0 || KernelFailedNow());
    const int r3 = SolveLEQP3(A5.m.get(), 5, x.data(), y.data(), z.data(), C5.m.get(), 2, dx.data(), dy.data(), dz.data());
    return r1 != 0 ? r1 : r3;
  });
  EXPECT_TRUE(failures > 0 && failures < 40) << failures;
}

}  // namespace
