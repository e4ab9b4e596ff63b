// Row-pointer matrices: an array of row pointers into one contiguous data block, so m[i][j]
// indexes naturally, a row can be handed on as a plain array and the whole block copied in
// one move. m[0] is the data block itself; that is how the block is freed and how whole-matrix
// copies address it, so callers may rely on it.
//
// Every allocator returns null when memory_error is set after any of its requests, freeing
// what it got. The flag is tested rather than the pointer, so once an allocation has failed
// anywhere the allocators keep returning null until the error state is cleared; callers rely
// on that. A zero-row request gives null and sets no error; zero columns give null row pointers.
#pragma once

using RowPtrMatrix = double**;

// rows x cols, not initialised; null on failure. The _ff and _fh
// forms are one function (their suffixes name old memory models); _ih, _ii and _ll hold ints.
double** allocate_matrix_ff(int rows, int cols);
double** allocate_matrix_fh(int rows, int cols);
int** allocate_matrix_ih(int rows, int cols);
int** allocate_matrix_ii(int rows, int cols);
int** allocate_matrix_ll(int rows, int cols);

// [n1][n2][n3]: top array, n1 arrays of n2 row pointers, one block; row (i, j) starts at
// element (i n2 + j) n3.
double*** allocate_3dim_matrix_ff(int n1, int n2, int n3);
double*** allocate_3dim_matrix_fh(int n1, int n2, int n3);
// [n1][n2][n3][n4]: one more level of pointer arrays over one block of n1 n2 n3 n4 doubles.
double**** allocate_4dim_matrix_ff(int n1, int n2, int n3, int n4);
double**** allocate_4dim_matrix_fh(int n1, int n2, int n3, int n4);

// Take a matrix from the matching allocator (null is ignored); each returns the last Free's
// result (0 for success).
int matrix_free_ff(double** m);
int matrix_free_fh(double** m);
int matrix_free_ih(int** m);
int matrix_free_3dim_ff(int n1, double*** m);
int matrix_free_3dim_fh(int n1, double*** m);
int matrix_free_4dim_ff(int n1, int n2, double**** m);
int matrix_free_4dim_fh(int n1, int n2, double**** m);
