// Dense linear solves: LU decomposition with partial pivoting and implicit row scaling
// (Crout), forward and back substitution, inverses, and a fixed-size form for 4 x 4
// transforms (flat, row-major, row stride 4).
//
// After a decomposition the matrix holds L below the diagonal (unit diagonal implied) and U
// on and above it, of the row-permuted matrix; indx[j] is the row swapped into row j at step
// j and d the parity of the swaps, so d times the product of the diagonal is the determinant.
// Rows are swapped by value: the row pointers of a row-pointer matrix keep their order.
#pragma once

// 0, or -2 for missing scratch (memory_error set, also by an earlier failure), an all-zero
// row, a zero pivot, or a pivot too small for its column to be divided safely. On failure a
// is partly overwritten and indx, d are not meaningful.
int ludcmp_ff(double** a, int n, int* indx, double* d);
// b (n doubles) is replaced by the solution for the factors of ludcmp_ff. Does nothing for a
// null array.
void lubksb_ff(double** a, int n, const int* indx, double* b);
// A is overwritten by its factors. 0; -1 when its scratch was not obtained; -2 when the
// decomposition fails. Ainv is untouched on failure.
int inverse_matrix_ff(double** A, double** Ainv, int n);
// inverse_matrix_ff's factors and inverse of a 3 x 3 to the last bit, with no allocation: 0, or
// -2 when the decomposition fails (Ainv then untouched).
int inverse_matrix3(double A[3][3], double Ainv[3][3]);
// A and b untouched; x may be b. 0, or -2 (null A, b or x, no memory, failed decomposition, a solution
// that is not finite; x then holds b when the decomposition or the solution failed).
int SolveLinearSystem_ff(double** A, int n, const double* b, double* x);

// n at most 4; a has row stride 4. Returns 0, or -2 when n is out of range (nothing done) or
// the matrix is singular to working precision (an all-zero row also shows "Singular matrix in
// LUDMP()"); a zero pivot is replaced by 1e-20 so the factors stay finite.
int ludcmp4(double* a, int n, int* indx, double* d);
// Solves with the factors of ludcmp4: b holds the right-hand side and receives the solution.
// Does nothing for a null array.
void lubksb4(const double* a, int n, const int* indx, double* b);
// Minv may be M. 0, or -2 for a singular or null M or a null Minv, which leaves Minv as it was.
int mat_inverse4(const double* M, double* Minv);
