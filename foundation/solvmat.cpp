#include "foundation/solvmat.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>

#include "foundation/coreglob.h"
#include "foundation/matview.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

namespace {

// Guards of the general decomposition. Rows whose largest entry is below kTiny switch the
// whole decomposition to measuring pivots against the row maxima directly (a reciprocal
// scale would overflow); there a candidate more than kGrowth times its row maximum means the
// elimination has blown up. Under a pivot below kTiny, a multiplier beyond kMaxMultiplier
// would swamp the later rows.
constexpr double kTiny = 1e-10;
constexpr double kGrowth = 1e11;
constexpr double kMaxMultiplier = 1e10;
// Measures closer than this count as equal, and then the later row wins the pivot.
constexpr double kTieBand = 1e-10;
// A 4 x 4 pivot this small against its row's largest original entry is zero to working
// precision (about 45 ulps): the matrix is singular, whatever rounding left behind.
constexpr double kSingular4 = 1e-14;

// The substitution and elimination sums are the same for row-pointer, fixed-size and flat
// matrices; the accessor hides the layout.
struct Flat4 {
  double* a;
  double& operator()(int i, int j) const { return a[4 * i + j]; }
};

// Step j of Crout's method up to the pivot choice: the column above the diagonal is finished
// and the candidates on and below it get their inner products removed.
template <typename M>
void CroutColumn(M a, int n, int j) {
  for (int i = 0; i < n; ++i) {
    const int kEnd = i < j ? i : j;
    double s = a(i, j);
    for (int k = 0; k < kEnd; ++k) s -= a(i, k) * a(k, j);
    a(i, j) = s;
  }
}

// Largest |entry| of row i; a later entry replaces the maximum only when strictly larger, so a
// NaN is passed over: `finite` is cleared when the row holds one or an infinity.
template <typename M>
double RowAbsMax(M a, int n, int i, bool* finite) {
  double big = 0.0;
  bool nan = false;
  for (int j = 0; j < n; ++j) {
    const double v = std::fabs(a(i, j));
    big = std::max(big, v);  // v only when strictly larger, as a branch would take it
    nan |= v != v;
  }
  if (nan || big > DBL_MAX) *finite = false;
  return big;
}

template <typename M>
void SwapRows(M a, int n, int p, int j) {
  for (int k = 0; k < n; ++k) std::swap(a(p, k), a(j, k));
}

// Forward substitution skipping the leading zeros of the permuted b, then back substitution.
template <typename M>
void LuBackSubstitute(M a, int n, const int* indx, double* b) {
  int first = -1;
  for (int i = 0; i < n; ++i) {
    const int p = indx[i];
    double s = b[p];
    b[p] = b[i];
    if (first >= 0) {
      for (int k = first; k < i; ++k) s -= a(i, k) * b[k];
    } else if (s != 0.0) {
      first = i;
    }
    b[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int k = i + 1; k < n; ++k) s -= a(i, k) * b[k];
    b[i] = s / a(i, i);
  }
}

// The decomposition of ludcmp_ff over any layout, with the caller's scratch: 3 n doubles and
// 2 n ints.
//
// Crout's sums, taken step by step: after the pivot of column j is chosen and the multipliers
// below it are divided by it, every row below takes away its multiplier times row j in the
// columns after j. Each entry so loses the same products in the same order (k increasing) as
// Crout's inner product a(i, j) - sum_k a(i, k) a(k, j) takes them, and each column reaches its
// pivot choice as fully reduced, so the factors are Crout's. Done this way, a product with an
// exact zero factor, a multiplier or an entry of row j, is left out: a finite number times zero
// changes no sum that is not zero (only a zero entry may keep another sign). The KKT systems
// of the constrained curve fits are mostly zeros: the full sums took eleven times the products.
// A matrix with an entry that is not finite has every product taken, so that its NaNs (zero
// times an infinity) spread as they always did.
template <typename M>
int LuDecompose(M a, int n, int* indx, double* d, double* scratch, int* lists) {
  double* rowScale = scratch;
  double* rowMax = scratch + n;
  double* pivotRow = scratch + 2 * n;  // the entries of row j that are taken away, at cols
  int* cols = lists;
  int* rows = lists + n;  // the rows below j with a multiplier
  *d = 1.0;
  bool small = false;  // once set, it holds for the rest of the decomposition
  bool finite = true;
  for (int i = 0; i < n; ++i) {
    const double big = RowAbsMax(a, n, i, &finite);
    if (big == 0.0) return -2;
    if (big < kTiny) small = true;
    rowMax[i] = big;
    rowScale[i] = 1.0 / big;  // read only while no row is tiny
  }
  for (int j = 0; j < n; ++j) {
    double best = 0.0;
    int p = j;
    for (int i = j; i < n; ++i) {
      const double v = std::fabs(a(i, j));
      double measure;
      if (small) {
        if (v > kGrowth * std::fabs(rowMax[i])) return -2;
        measure = v / rowMax[i];
      } else {
        measure = v * rowScale[i];
      }
      if (measure > best || std::fabs(measure - best) <= kTieBand) {
        best = measure;
        p = i;
      }
    }
    if (p != j) {
      SwapRows(a, n, p, j);
      *d = -*d;
      rowScale[p] = rowScale[j];
      rowMax[p] = rowMax[j];
    }
    indx[j] = p;
    const double pivot = a(j, j);
    if (std::fabs(pivot) == 0.0) return -2;
    if (j == n - 1) continue;
    if (std::fabs(pivot) >= kTiny) {
      const double inv = 1.0 / pivot;
      for (int i = j + 1; i < n; ++i) a(i, j) *= inv;
    } else {
      for (int i = j + 1; i < n; ++i) {
        if (std::fabs(a(i, j)) > kMaxMultiplier * std::fabs(pivot)) return -2;
        a(i, j) /= pivot;
      }
    }
    // The lists are filled without branches (a slot is written always and kept when it
    // counts): which entries are zero follows no pattern a branch predictor could learn.
    int count = 0, nRows = 0;
    for (int c = j + 1; c < n; ++c) {
      const double u = a(j, c);
      cols[count] = c;
      pivotRow[count] = u;
      count += u != 0.0 || !finite;
    }
    for (int i = j + 1; i < n; ++i) {
      rows[nRows] = i;
      nRows += a(i, j) != 0.0 || !finite;
    }
    for (int r = 0; r < nRows; ++r) {
      const int i = rows[r];
      const double m = a(i, j);
      for (int c = 0; c < count; ++c) a(i, cols[c]) -= m * pivotRow[c];
    }
  }
  return 0;
}

// The inverse, column by column, from the factors of LuDecompose; col is n doubles of scratch.
template <typename M, typename Out>
void LuInverse(M a, int n, const int* indx, double* col, Out inv) {
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) col[i] = i == j ? 1.0 : 0.0;
    LuBackSubstitute(a, n, indx, col);
    for (int i = 0; i < n; ++i) inv(i, j) = col[i];
  }
}

}  // namespace

int ludcmp_ff(double** a, int n, int* indx, double* d) {
  if (n <= 0) return 0;
  const Owned<double, Free> scratch(MallocArray<double>(3, n));
  const Owned<int, Free> lists(MallocArray<int>(2, n));
  if (MemoryErrorSet()) return -2;
  return LuDecompose(RowPtrView{a}, n, indx, d, scratch.get(), lists.get());
}

void lubksb_ff(double** a, int n, const int* indx, double* b) {
  if (!a || !indx || !b) return;
  LuBackSubstitute(RowPtrView{a}, n, indx, b);
}

int inverse_matrix_ff(double** A, double** Ainv, int n) {
  const Owned<double, Free> col(MallocArray<double>(n));
  if (MemoryErrorSet()) return -1;
  const Owned<int, Free> indx(MallocArray<int>(n));
  if (MemoryErrorSet()) return -1;
  double d;
  if (ludcmp_ff(A, n, indx.get(), &d) != 0) return -2;
  LuInverse(RowPtrView{A}, n, indx.get(), col.get(), RowPtrView{Ainv});
  return 0;
}

int inverse_matrix3(double A[3][3], double Ainv[3][3]) {
  // The very arithmetic of inverse_matrix_ff on a 3 x 3, with its scratch on the stack.
  double scratch[9], col[3], d;
  int indx[3], lists[6];
  const Fixed3View a{A};
  if (LuDecompose(a, 3, indx, &d, scratch, lists) != 0) return -2;
  LuInverse(a, 3, indx, col, Fixed3View{Ainv});
  return 0;
}

int SolveLinearSystem_ff(double** A, int n, const double* b, double* x) {
  if (!A || (n > 0 && (!b || !x))) return -2;
  if (n <= 0) return 0;
  TrackingScope scope;
  auto* indx = MallocArray<int>(n);
  double** work = allocate_matrix_ff(n, n);
  double* solution = MallocArray<double>(n);
  if (KernelFailed() || !indx || !work || !solution) return -2;
  if (x != b) std::memcpy(x, b, sizeof(double) * n);
  std::memcpy(solution, b, sizeof(double) * n);
  for (int i = 0; i < n; ++i) std::memcpy(work[i], A[i], sizeof(double) * n);
  double d;
  if (ludcmp_ff(work, n, indx, &d) != 0) return -2;
  lubksb_ff(work, n, indx, solution);
  // A system of finite numbers can still overflow on the way (or hold a NaN): no solution then.
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(solution[i])) return -2;
  std::memcpy(x, solution, sizeof(double) * n);
  return 0;
}

int ludcmp4(double* a, int n, int* indx, double* d) {
  if (n < 0 || n > 4) return -2;
  double rowScale[4];
  bool singular = false;
  *d = 1.0;
  const Flat4 m{a};
  for (int i = 0; i < n; ++i) {
    bool finite = true;  // not asked here
    const double big = RowAbsMax(m, n, i, &finite);
    if (big == 0.0) {
      DebugMessageFormat("%s", MSGstr("Singular matrix in LUDMP()"));
      singular = true;
      rowScale[i] = 1.0;  // keeps the arithmetic finite; the result is reported singular
      continue;
    }
    rowScale[i] = 1.0 / big;
  }
  for (int j = 0; j < n; ++j) {
    CroutColumn(m, n, j);
    double best = 0.0;
    int p = j;
    for (int i = j; i < n; ++i) {
      const double measure = std::fabs(a[4 * i + j]) * rowScale[i];
      if (measure >= best) {
        best = measure;
        p = i;
      }
    }
    if (p != j) {
      SwapRows(m, n, p, j);
      *d = -*d;
      rowScale[p] = rowScale[j];
    }
    indx[j] = p;
    if (best < kSingular4) singular = true;
    if (a[4 * j + j] == 0.0) a[4 * j + j] = 1e-20;
    if (j != n - 1) {
      const double inv = 1.0 / a[4 * j + j];
      for (int i = j + 1; i < n; ++i) a[4 * i + j] *= inv;
    }
  }
  return singular ? -2 : 0;
}

void lubksb4(const double* a, int n, const int* indx, double* b) {
  if (!a || !indx || !b) return;
  // The accessor only reads here.
  LuBackSubstitute(Flat4{const_cast<double*>(a)}, n, indx, b);
}

int mat_inverse4(const double* M, double* Minv) {
  if (!M || !Minv) return -2;
  double lu[16];
  int indx[4];
  double d;
  std::memcpy(lu, M, sizeof lu);
  if (ludcmp4(lu, 4, indx, &d) != 0) return -2;
  double inv[16];
  for (int j = 0; j < 4; ++j) {
    double col[4] = {0.0, 0.0, 0.0, 0.0};
    col[j] = 1.0;
    lubksb4(lu, 4, indx, col);
    for (int i = 0; i < 4; ++i) inv[4 * i + j] = col[i];
  }
  std::memcpy(Minv, inv, sizeof inv);  // Minv may be M: written only at the end
  return 0;
}
