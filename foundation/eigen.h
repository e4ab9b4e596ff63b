// Eigenvalues and eigenvectors of small real symmetric matrices (row-pointer, 0-based):
// Householder reduction to tridiagonal form, then QL with implicit shifts.
#pragma once

// a (n x n, symmetric) is replaced by the eigenvectors, eigenvector k in column k; d receives
// the eigenvalues in descending order. Returns 0, or -2 when its scratch was not obtained
// (a and d are then untouched).
int eigensystem(double** a, int n, double* d);
// eigensystem of a 3 x 3 to the last bit, with no allocation.
void eigensystem3(double a[3][3], double d[3]);
// Householder reduction: d the diagonal, e the sub-diagonal (e[0] = 0); a becomes the
// accumulated orthogonal transformation.
void tred2(double** a, int n, double* d, double* e);
// Eigenvalues of the tridiagonal (d, e) into d, the rotations accumulated into z's columns;
// e is destroyed. After 30 steps on one eigenvalue it moves on to the next with the value
// reached so far.
void tqli(double* d, double* e, int n, double** z);
// Sorts d descending and permutes the columns of v the same way.
void eigsrt(double* d, double** v, int n);
// The eigenvalues of the symmetric 3 x 3 matrix a in ascending order into w (closed form) and
// the unit eigenvector of the smallest into v, its sign unspecified. 0, or -2 (v undefined)
// when the smallest is not apart from the middle one, where no single direction is its own.
int SymEigen3Smallest(const double a[3][3], double w[3], double v[3]);
