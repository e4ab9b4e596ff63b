// Cleaning of point arrays: consecutive duplicates removed in place.
#pragma once

// Compacts the arrays in place, dropping every point that lies within tol on every axis of its
// predecessor in the input (even when that one was dropped); z null: points in the plane.
// Returns the new count; n <= 1 returns n; -2 when memory ran out (arrays unchanged).
int RemoveDuplicates_d(double* x, double* y, double* z, int n, double tol);
