// Knot vectors and arrays of the height-field fits: a surface record prepared by the caller
// (degrees, interior counts) gets clamped knot vectors over a box with uniform interior knots
// and its coefficient matrices. Used by the Cartesian, cylindrical and spherical fits.
#pragma once

struct Bspline;

// Allocates the u and v knot vectors and the Z matrix (nV rows x nU columns), and X and Y too
// when the record has no X; the first degree + 1 knots of each direction become umin (vmin),
// the last degree + 1 umax (vmax); interior knots are left unset. A record that already had
// knots or Z gets new ones. On failure (memory, or a record that is not a surface with counts
// in range, BsplineCountsSound) the record keeps what it had and the error state is set.
void InitFillBsplineStruct(Bspline* srf, double umin, double vmin, double umax, double vmax);
// Interior knots evenly spaced: knot[p + k] = knot[p + k - 1] + (umax - umin) / (interior + 1)
// for k = 1 .. interior, the same in v. Nothing (error state -2) for a record that is not a
// surface whose structure is sound (bsvalid).
void auto_gcar_knot_select(Bspline* srf, double umin, double vmin, double umax, double vmax);
// InitFillBsplineStruct, then, unless the error state is set, auto_gcar_knot_select.
void assign_gcar_knots(Bspline* srf, double umin, double vmin, double umax, double vmax);
