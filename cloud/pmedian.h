// The exact median of the nine values r0[0..2], r1[0..2], r2[0..2].
double median3x3(const double* r0, const double* r1, const double* r2);

// Median filters.
#pragma once

// The median of the m values; v is left sorted ascending.
double getmedian(double* v, int m);

// The exact median of the nine values r0[0..2], r1[0..2], r2[0..2].
double median3x3(const double* r0, const double* r1, const double* r2);

// Median filter of a row-pointer grid rows[r][c] in place. w = 3: every sample, border
// included, becomes the 3 x 3 median over the grid with its border replicated once. Other w:
// the window shrinks near the border (border samples keep their values). On no memory the grid
// is left unchanged.
void MedianFilterGriddedArray_d(double** rows, int ncols, int nrows, int w);
