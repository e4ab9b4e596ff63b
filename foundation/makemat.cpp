#include "foundation/makemat.h"

#include <cstddef>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

// The matrix allocators decide failure by the flag alone (any non-zero value), not by the
// pointer: a flag left by an earlier failure makes them fail too.
bool AllocFailed() { return MemoryErrorSet(); }

// A request can succeed while the flag is still set from an earlier failure; whatever was
// obtained is freed before giving up, so the sticky failure does not leak.
template <typename T>
T** AllocateRows(int rows, int cols) {
  if (rows <= 0 || cols < 0) return nullptr;
  T** m = MallocArray<T*>(rows);
  if (AllocFailed()) {
    Free(m);
    return nullptr;
  }
  T* data = MallocArray<T>(rows, cols);
  if (AllocFailed()) {
    Free(data);
    Free(m);
    return nullptr;
  }
  for (int i = 0; i < rows; ++i) m[i] = cols > 0 ? data + static_cast<size_t>(i) * cols : nullptr;
  return m;
}

// A null matrix has no rows to free: Free's answer for null, nothing read.
template <typename T>
int FreeRows(T** m) {
  if (!m) return Free(m);
  Free(m[0]);
  return Free(m);
}

// Takes the top array and the data block first, then each lower pointer array in order.
double*** Allocate3(int n1, int n2, int n3) {
  if (n1 <= 0 || n2 <= 0 || n3 < 0) return nullptr;
  double*** top = MallocArray<double**>(n1);
  if (AllocFailed()) {
    Free(top);
    return nullptr;
  }
  double* data = MallocArray<double>(n1, n2, n3);
  if (AllocFailed()) {
    Free(data);
    Free(top);
    return nullptr;
  }
  for (int i = 0; i < n1; ++i) {
    top[i] = MallocArray<double*>(n2);
    if (AllocFailed()) {
      Free(data);
      for (int a = i; a >= 0; --a) Free(top[a]);
      Free(top);
      return nullptr;
    }
    for (int j = 0; j < n2; ++j)
      top[i][j] = n3 > 0 ? data + (static_cast<size_t>(i) * n2 + j) * n3 : nullptr;
  }
  return top;
}

// A failure after top[i] and its first `have` third-level arrays were requested: frees the
// data, the third-level arrays (deepest first), the second-level arrays, then the top.
void FreeUnfinished4(double**** top, double* data, int n2, int i, int have) {
  Free(data);
  for (int a = i; a >= 0; --a)
    for (int b = (a == i ? have : n2) - 1; b >= 0; --b) Free(top[a][b]);
  for (int a = i; a >= 0; --a) Free(top[a]);
  Free(top);
}

double**** Allocate4(int n1, int n2, int n3, int n4) {
  if (n1 <= 0 || n2 <= 0 || n3 <= 0 || n4 < 0) return nullptr;
  double**** top = MallocArray<double***>(n1);
  if (AllocFailed()) {
    Free(top);
    return nullptr;
  }
  double* data = MallocArray<double>(n1, n2, n3, n4);
  if (AllocFailed()) {
    Free(data);
    Free(top);
    return nullptr;
  }
  for (int i = 0; i < n1; ++i) {
    top[i] = MallocArray<double**>(n2);
    if (AllocFailed()) {
      FreeUnfinished4(top, data, n2, i, 0);
      return nullptr;
    }
    for (int j = 0; j < n2; ++j) {
      top[i][j] = MallocArray<double*>(n3);
      if (AllocFailed()) {
        FreeUnfinished4(top, data, n2, i, j + 1);
        return nullptr;
      }
      for (int k = 0; k < n3; ++k)
        top[i][j][k] = n4 > 0 ? data + ((static_cast<size_t>(i) * n2 + j) * n3 + k) * n4 : nullptr;
    }
  }
  return top;
}

int Free3(int n1, double*** m) {
  Free(m[0][0]);
  for (int i = 0; i < n1; ++i) Free(m[i]);
  return Free(m);
}

int Free4(int n1, int n2, double**** m) {
  Free(m[0][0][0]);
  for (int i = 0; i < n1; ++i)
    for (int j = 0; j < n2; ++j) Free(m[i][j]);
  for (int i = 0; i < n1; ++i) Free(m[i]);
  return Free(m);
}

}  // namespace

double** allocate_matrix_ff(int rows, int cols) { return AllocateRows<double>(rows, cols); }
double** allocate_matrix_fh(int rows, int cols) { return AllocateRows<double>(rows, cols); }
int** allocate_matrix_ih(int rows, int cols) { return AllocateRows<int>(rows, cols); }
int** allocate_matrix_ii(int rows, int cols) { return AllocateRows<int>(rows, cols); }
int** allocate_matrix_ll(int rows, int cols) { return AllocateRows<int>(rows, cols); }

double*** allocate_3dim_matrix_ff(int n1, int n2, int n3) { return Allocate3(n1, n2, n3); }
double*** allocate_3dim_matrix_fh(int n1, int n2, int n3) { return Allocate3(n1, n2, n3); }
double**** allocate_4dim_matrix_ff(int n1, int n2, int n3, int n4) { return Allocate4(n1, n2, n3, n4); }
double**** allocate_4dim_matrix_fh(int n1, int n2, int n3, int n4) { return Allocate4(n1, n2, n3, n4); }

int matrix_free_ff(double** m) { return FreeRows(m); }
int matrix_free_fh(double** m) { return FreeRows(m); }
int matrix_free_ih(int** m) { return FreeRows(m); }
int matrix_free_3dim_ff(int n1, double*** m) { return Free3(n1, m); }
int matrix_free_3dim_fh(int n1, double*** m) { return Free3(n1, m); }
int matrix_free_4dim_ff(int n1, int n2, double**** m) { return Free4(n1, n2, m); }
int matrix_free_4dim_fh(int n1, int n2, double**** m) { return Free4(n1, n2, m); }
