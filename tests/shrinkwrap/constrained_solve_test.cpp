#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "shrinkwrap/cshrink.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
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
    double s = b[r];
    for (int k = r + 1; k < n; ++k) s -= a[r][k] * x[k];
    x[r] = s / a[r][r];
  }
  return x;
}

// A row-pointer copy of a dense matrix, freed by the guard.
struct KMat {
  double** m = nullptr;
  KMat(const Mat& src, int cols) {
    const int rows = static_cast<int>(src.size());
    m = allocate_matrix_ff(rows, cols);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) m[i][j] = src[i][j];
  }
  ~KMat() {
    if (m) matrix_free_ff(m);
  }
};

struct Problem {
  int n, m;
  Mat A, C;
  std::vector<double> b, d;
};

// A symmetric positive definite A (so the constrained minimum exists) and a full-rank C.
Problem RandomProblem(std::mt19937& rng, int n, int m) {
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  Problem p{n,
            m,
            Mat(n, std::vector<double>(n)),
            Mat(m, std::vector<double>(n)),
            std::vector<double>(n),
            std::vector<double>(m)};
  Mat R(n, std::vector<double>(n));
  for (auto& row : R)
    for (double& v : row) v = U(rng);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double s = i == j ? 0.5 : 0.0;
      for (int k = 0; k < n; ++k) s += R[k][i] * R[k][j];
      p.A[i][j] = s;
    }
  for (auto& row : p.C)
    for (double& v : row) v = U(rng);
  for (double& v : p.b) v = U(rng);
  for (double& v : p.d) v = U(rng);
  return p;
}

// Checks C x = d and that A x + b lies in the row space of C (stationarity), with the
// multipliers recovered by least squares.
void ExpectOptimal(const Problem& p, const std::vector<double>& x, double tol) {
  for (int k = 0; k < p.m; ++k) {
    double s = 0.0;
    for (int j = 0; j < p.n; ++j) s += p.C[k][j] * x[j];
    EXPECT_NEAR(s, p.d[k], tol) << "constraint " << k;
  }
  std::vector<double> r(p.n);
  for (int i = 0; i < p.n; ++i) {
    r[i] = p.b[i];
    for (int j = 0; j < p.n; ++j) r[i] += p.A[i][j] * x[j];
  }
  std::vector<double> lambda(p.m, 0.0);
  if (p.m > 0) {
    Mat CCt(p.m, std::vector<double>(p.m));
    std::vector<double> Cr(p.m);
    for (int a = 0; a < p.m; ++a) {
      for (int c = 0; c < p.m; ++c) {
        double s = 0.0;
        for (int j = 0; j < p.n; ++j) s += p.C[a][j] * p.C[c][j];
        CCt[a][c] = s;
      }
      double s = 0.0;
      for (int j = 0; j < p.n; ++j) s += p.C[a][j] * r[j];
      Cr[a] = s;
    }
    lambda = RefSolve(CCt, Cr);
  }
  for (int i = 0; i < p.n; ++i) {
    double s = r[i];
    for (int k = 0; k < p.m; ++k) s -= p.C[k][i] * lambda[k];
    EXPECT_NEAR(s, 0.0, tol) << "stationarity " << i;
  }
}

TEST_F(ConstrainedSolveTest, RandomProblemsMeetConstraintsAndOptimality) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 2 + trial % 7;
    const int m = trial % n;  // 0 .. n - 1 constraints
    Problem p = RandomProblem(rng, n, m);
    KMat A(p.A, n), C(p.C, n);
    std::vector<double> x = p.b, d = p.d;
    ASSERT_EQ(SolveLEQP(A.m, x.data(), n, m > 0 ? C.m : nullptr, d.data(), m), 0) << trial;
    ExpectOptimal(p, x, 1e-8);
    if (m == 0) {
      std::vector<double> minusB(n);
      for (int i = 0; i < n; ++i) minusB[i] = -p.b[i];
      const std::vector<double> ref = RefSolve(p.A, minusB);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], ref[i], 1e-9);
    }
    // The inputs other than b are left alone.
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) EXPECT_EQ(A.m[i][j], p.A[i][j]);
  }
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(ConstrainedSolveTest, ThreeCoordinateFormMatchesThreeSingleSolves) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 10; ++trial) {
    const int n = 3 + trial % 5, m = 1 + trial % 3;
    Problem p[3] = {RandomProblem(rng, n, m), {}, {}};
    p[1] = p[2] = p[0];
    std::uniform_real_distribution<double> U(-1.0, 1.0);
    for (int c = 1; c < 3; ++c) {
      for (double& v : p[c].b) v = U(rng);
      for (double& v : p[c].d) v = U(rng);
    }
    KMat A(p[0].A, n), C(p[0].C, n);
    std::vector<double> b[3] = {p[0].b, p[1].b, p[2].b}, d[3] = {p[0].d, p[1].d, p[2].d};
    ASSERT_EQ(SolveLEQP3(A.m, n, b[0].data(), b[1].data(), b[2].data(), C.m, m, d[0].data(),
                         d[1].data(), d[2].data()),
              0);
    for (int c = 0; c < 3; ++c) {
      std::vector<double> single = p[c].b, dc = p[c].d;
      ASSERT_EQ(SolveLEQP(A.m, single.data(), n, C.m, dc.data(), m), 0);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(b[c][i], single[i], 1e-12);
    }
  }
}

TEST_F(ConstrainedSolveTest, EmptyOrSingularProblems) {
  double b[2] = {1.0, 2.0};
  EXPECT_EQ(SolveLEQP(nullptr, b, 2, nullptr, nullptr, 0), 0);
  EXPECT_EQ(b[0], 1.0);
  Mat a = {{2.0, 0.0}, {0.0, 4.0}};
  KMat A(a, 2);
  EXPECT_EQ(SolveLEQP(A.m, b, 0, nullptr, nullptr, 0), 0);
  EXPECT_EQ(b[1], 2.0);
  double by[2] = {0.0, 0.0}, bz[2] = {0.0, 0.0};
  EXPECT_EQ(SolveLEQP3(nullptr, 2, b, by, bz, nullptr, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(b[0], 1.0);

  // Two identical constraint rows make the KKT matrix singular.
  Mat c = {{1.0, 1.0}, {1.0, 1.0}};
  KMat C(c, 2);
  double d[2] = {1.0, 1.0};
  EXPECT_EQ(SolveLEQP(A.m, b, 2, C.m, d, 2), -2);
  // Constraint rows promised but missing.
  EXPECT_EQ(SolveLEQP(A.m, b, 2, nullptr, d, 1), -2);
}

TEST_F(ConstrainedSolveTest, AllocationFailuresFreeEveryScope) {
  std::mt19937 rng(3);
  Problem p = RandomProblem(rng, 5, 2);
  KMat A(p.A, 5), C(p.C, 5);
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    std::vector<double> x = p.b, y = p.b, z = p.b, d = p.d, dy = p.d, dz = p.d;
    const int r1 = SolveLEQP(A.m, x.data(), 5, C.m, d.data(), 2);
    if (r1 != 0) {
      EXPECT_TRUE(KernelFailedNow());
    }
    const int r3 =
        SolveLEQP3(A.m, 5, x.data(), y.data(), z.data(), C.m, 2, d.data(), dy.data(), dz.data());
    return r1 != 0 ? r1 : r3;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(ConstrainedSolveTest, RecordsSurviveTheCallersScope) {
  BeginTrackingMallocs();
  LinearConstraint* c = AllocateNullLinearConstraint();
  FreeTrackedMallocs();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->nPos, 0);
  EXPECT_EQ(c->nNorm, 0);
  EXPECT_EQ(c->posPar, nullptr);
  EXPECT_EQ(c->normZ, nullptr);

  double* values = reinterpret_cast<double*>(1);
  int count = -1;
  EXPECT_EQ(GetWrapConstraintParVals(c, &values, &count), 0);
  EXPECT_EQ(values, nullptr);
  EXPECT_EQ(count, 0);

  // Arrays owned by the record, including the spare slots, go with FreeWrapConstraint.
  auto array = [](std::initializer_list<double> v) {
    auto* a = static_cast<double*>(Malloc(sizeof(double) * v.size()));
    int i = 0;
    for (double x : v) a[i++] = x;
    return a;
  };
  c->nPos = 3;
  c->posPar = array({0.7, 0.1, 0.4});
  c->posX = array({0, 0, 0});
  c->posY = array({0, 0, 0});
  c->posZ = array({0, 0, 0});
  c->posSpare = array({1});
  c->nNorm = 2;
  c->normPar = array({0.1, 0.0});
  c->normX = array({1, 1});
  c->normY = array({0, 0});
  c->normZ = array({0, 0});

  BeginTrackingMallocs();
  ASSERT_EQ(GetWrapConstraintParVals(c, &values, &count), 0);
  FreeTrackedMallocs();
  ASSERT_EQ(count, 5);
  const double expect[5] = {0.0, 0.1, 0.1, 0.4, 0.7};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(values[i], expect[i]);
  Free(values);

  EXPECT_EQ(GetWrapConstraintParVals(nullptr, &values, &count), -2);
  EXPECT_EQ(FreeWrapConstraint(c), 0);
  EXPECT_EQ(FreeWrapConstraint(nullptr), 0);
}

// Displacing the control points by the minimum-norm solution of the position row puts the
// curve through the target.
TEST_F(ConstrainedSolveTest, PositionRowPutsTheCurveThroughItsTarget) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Bspline* curve = BuildRandomCurve(seed, 1 + seed % 4, 7);
    ASSERT_NE(curve, nullptr);
    const int n = NumCtrlU(curve);
    const double ts[] = {0.0, 0.37, 0.5, 1.0};
    for (double t : ts) {
      const double target[3] = {0.3, -0.2, 0.9};
      std::vector<double> row(n);
      double d[3];
      ASSERT_EQ(ComputeReshapeCrv3PointConstraint(curve, target[0], target[1], target[2], t,
                                                  row.data(), d),
                0);
      double before[3];
      RefEvalCurve(curve, t, before);
      double rr = 0.0, sum = 0.0;
      for (double v : row) {
        rr += v * v;
        sum += v;
      }
      EXPECT_NEAR(sum, 1.0, 1e-12);  // partition of unity
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(d[c], target[c] - before[c], 1e-12);
      if (t == 0.0) {
        EXPECT_EQ(row[0], 1.0);
        for (int j = 1; j < n; ++j) EXPECT_EQ(row[j], 0.0);
      }
      double** rows[3] = {curve->X, curve->Y, curve->Z};
      std::vector<double> saved[3];
      for (int c = 0; c < 3; ++c) {
        saved[c].assign(rows[c][0], rows[c][0] + n);
        for (int j = 0; j < n; ++j) rows[c][0][j] += row[j] * d[c] / rr;
      }
      double after[3];
      RefEvalCurve(curve, t, after);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(after[c], target[c], 1e-12);
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < n; ++j) rows[c][0][j] = saved[c][j];
    }
    FreeBspline(curve);
  }
  EXPECT_EQ(ComputeReshapeCrv3PointConstraint(nullptr, 0, 0, 0, 0, nullptr, nullptr), -2);
}

// n.(C + D)'(t) = n.C'(t) + row.D for every displacement D, and d = -n.C'(t).
TEST_F(ConstrainedSolveTest, NormalRowIsTheDerivativeAlongTheNormal) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Bspline* curve = BuildRandomCurve(seed, 1 + seed % 4, 6);
    ASSERT_NE(curve, nullptr);
    const int n = NumCtrlU(curve);
    for (double t : {0.0, 0.21, 0.66, 1.0}) {
      const double normal[3] = {3.0 * U(rng), 3.0 * U(rng), 3.0 * U(rng)};
      const double len =
          std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
      std::vector<double> row(3 * n);
      double d = 0.0;
      ASSERT_EQ(ComputeReshapeCrv3NormConstraint(curve, normal, t, row.data(), &d), 0);
      double D0[3];
      RefEvalDeriv(curve, t, 0.0, 1, 0, D0);
      const double nd0 = (normal[0] * D0[0] + normal[1] * D0[1] + normal[2] * D0[2]) / len;
      EXPECT_NEAR(d, -nd0, 1e-9);
      std::vector<double> delta(3 * n);
      for (double& v : delta) v = U(rng);
      double** rows[3] = {curve->X, curve->Y, curve->Z};
      double rowDotDelta = 0.0;
      for (int k = 0; k < 3 * n; ++k) rowDotDelta += row[k] * delta[k];
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < n; ++j) rows[c][0][j] += delta[c * n + j];
      double D1[3];
      RefEvalDeriv(curve, t, 0.0, 1, 0, D1);
      const double nd1 = (normal[0] * D1[0] + normal[1] * D1[1] + normal[2] * D1[2]) / len;
      EXPECT_NEAR(nd1, nd0 + rowDotDelta, 1e-9);
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < n; ++j) rows[c][0][j] -= delta[c * n + j];
    }
    const double tiny[3] = {0.0005, 0.0, 0.0};
    std::vector<double> row(3 * n);
    double d = 0.0;
    EXPECT_EQ(ComputeReshapeCrv3NormConstraint(curve, tiny, 0.5, row.data(), &d), -2);
    FreeBspline(curve);
  }
  Bspline* flat = BuildRandomCurve(1, 3, 5, 2);
  ASSERT_NE(flat, nullptr);
  const double nrm[3] = {1, 0, 0};
  double row[15], d;
  EXPECT_EQ(ComputeReshapeCrv3NormConstraint(flat, nrm, 0.5, row, &d), -2);
  FreeBspline(flat);
}

}  // namespace
