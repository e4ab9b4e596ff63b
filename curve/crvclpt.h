// Parameters of control points.
#pragma once

// The Greville abscissa of control point i of a clamped knot vector of the given order
// (degree + 1, at least 2): the mean of knots[i + 1 .. i + order - 1], not below knots[0].
double GetEditPoint(const double* knots, int order, int i);
