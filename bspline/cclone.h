// Deep copies of curves, and the polyline layout of sampled points.
#pragma once

#include "bspline/smake.h"

// A new curve record (kind 1) filled by CopyCurveGivenBspline; it keeps the source's owner but
// is in no curve list. Null, with the error state set, on failure; the source never changes.
Bspline* CopyCurveBspline(Bspline* src);
// Fills a new curve record: owner, fitProps, kind 1, dimension, degreeU, closedU, rational,
// interiorU, fresh knots (the domain recomputed from them), one-row X and Y, Z when
// dimension 3, W when rational, and the curve's exact form. dst is expected to hold no arrays.
// 0, or -2 with dst unchanged and nothing left allocated (also, error state set, for a source
// whose structure is not sound: bsvalid's BsplineShapeSound).
int CopyCurveGivenBspline(Bspline* src, Bspline* dst);
// Copies the exact-form block of a line, circle or arc (types 1, 2, 3); for other types dst's
// block is left as it is. 0, or -2 when the block cannot be allocated.
int CopyCurveQuadrics(Bspline* src, Bspline* dst);
// Writes the n points as the end points of their n - 1 segments: o[0] = p[0], each inner point
// twice at o[2i - 1] and o[2i], the last at o[2n - 3] (2n - 2 values). A null coordinate
// array (a 2D polyline's z) is skipped.
void copy_array2polyline(const float* x, const float* y, const float* z, int n, float* ox, float* oy,
                         float* oz);
