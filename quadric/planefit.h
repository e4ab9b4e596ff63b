// Planar patches and the start coefficients of height-field fits: a height-field surface maps
// (u, v) to (u, v, z), so its control points' x and y are their own parameters.
//
// A plane patch is a non-rational bicubic surface without interior knots (4 x 4 control points)
// spanning a box: two coordinates step in thirds of the box, the third (the one of the largest
// normal component) is solved from the plane. It carries quadric type 25 with the plane's a, b,
// c, d as given. The plane through curves (curve/planefit) and the patch trimmed by them
// (surface/planefit) build on these.
#pragma once

#include "foundation/vec3.h"

struct Bspline;

// Fills X and Y (nV rows x nU columns, usually the surface's own): X[r][c] the Greville
// parameter of column c in u, Y[r][c] that of row r in v. A surface closed in u takes X in
// uniform steps h = (umax - umin) / (interior u + 1) from umin - h instead. When the parameters
// cannot be allocated X and Y are left unfilled and the error state is set; a null record or
// matrix, or a record without knots, is refused with the error state -2.
void FindInitXYCoefi(Bspline* srf, double** X, double** Y);

// The plane patch of plane over box. Rows are v, columns u: with the x coordinate solved, y
// steps along the rows and z along the columns; with y solved z along the rows and x along the
// columns; with z solved y along the rows and x along the columns. The u parameter range is then
// scaled to the control-net speed of v. axisHint (1 x, 2 y, 3 z) is not read: the solved
// coordinate is always the one of the largest component of the unit normal (x before y before
// z on ties). Null for a normal shorter than 1e-6, a plane or box that is not finite, or
// exhausted memory.
Bspline* PutPlaneToBsplinePatch(const PlaneEq plane, const Bbox box, int axisHint);
// The least-squares plane of the points as a plane patch over box. Null with the error state set
// when the plane cannot be fitted (fewer than 3, coincident or collinear points: spread across
// their best line by at most 16 times the single-precision rounding of their largest
// coordinate) or the patch cannot be made.
Bspline* CreatePlaneBsplineFromCloud(const float* x, const float* y, const float* z, int n, const Bbox box);
// Reverses curves in place (their end points are their first and last control points) so that
// each starts where the one before it ends: the first pair by the closest of its four end
// pairs, each later curve by which of its ends lies nearer the previous curve's end. A curve is
// reversed at most once. Nothing happens for n < 2 or a null entry.
void OrderCurves(Bspline** curves, int n);
