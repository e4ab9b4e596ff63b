// Planar patches and the start coefficients of height-field fits: a height-field surface maps
// (u, v) to (u, v, z), so its control points' x and y are their own parameters.
#pragma once

struct Bspline;

// Fills X and Y (nV rows x nU columns, usually the surface's own): X[r][c] the Greville
// parameter of column c in u, Y[r][c] that of row r in v. A surface closed in u takes X in
// uniform steps h = (umax - umin) / (interior u + 1) from umin - h instead. When the parameters
// cannot be allocated X and Y are left unfilled and the error state is set; a null record or
// matrix, or a record without knots, is refused with the error state -2.
void FindInitXYCoefi(Bspline* srf, double** X, double** Y);
