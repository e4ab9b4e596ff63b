// In-place reversal of a curve's direction and of float arrays.
#pragma once

#include "bspline/smake.h"

// Reverses a curve in place: control points in reverse order, knots t -> umin + umax - t over
// the stored domain (copies beyond p + 1 that its round-off makes set apart again,
// SpreadOverfullKnotRuns), domain reset from the knots, a line's start and end exchanged.
// Property blocks and other exact forms stay. Null and surfaces are ignored; a curve whose
// structure is not sound (bsvalid) is left as it is, error state -2.
void reverseBspline(Bspline* curve);
void reverse_array(float* a, int n);
