// Where lines meet a trimmed surface: an infinite line against a triangulated 25 x 25 parameter
// grid with each hit refined onto the surface, and iso lines (u = value or v = value) against
// the curves of the trim loops, the hits kept in a list ordered along the line so that the line
// can be cut into the segments inside the trimmed region.
//
// Side codes follow the boundary numbering: side 0 is the line u = value (along it v runs and
// orders the hits), side 3 the line v = value (ordered by u). A box is four doubles umin, umax,
// vmin, vmax.
//
// Failure causes: memory (status -2 or 0 as each operation says, error state set); a crossing
// search that fails.
#pragma once

#include "bspline/smake.h"

// The up to 20 parameter pairs where the line point + s dir meets the surface inside its trims,
// in grid order, in new arrays *us, *vs of *count entries for the caller (null when none). Every
// hit lies on the line within round-off (1e-10) of the surface's size: a line passing close by
// has none, and a line grazing the surface finds both crossings. Hits within 1e-6 in both u and
// v of an earlier one are dropped. 0; -2 with no result when the trim samples or the grid cannot
// be made.
int FindAllSurfLineIntersections(Bspline* srf, const double dir[3], const double point[3],
                                 double** us, double** vs, int* count);
// Parameter vectors of a grid over the surface in new arrays for the caller. Mode 0: a values
// per u knot span and b per v knot span from each span's start, then the domain end
// (nu = (interior u + 1) a + 1); mode 1: a and b values evenly from the domain start to its end.
// 1; 0 for a count below 1, another mode or memory.
int GetInitialUVArrays(Bspline* srf, int mode, int a, int b, double** us, double** vs, int* nu,
                       int* nv);

// One hit of an iso line with a trim curve: the surface point, its (u, v) and the trim curve's
// parameter (0 for an end of the line). The list is the caller's; nodes come from Malloc.
struct IsoHit {
  IsoHit* next;
  IsoHit* prev;
  double point[3];
  double u;
  double v;
  double t;
};

// For every loop the box of each curve into curveBoxes (4 doubles per curve, loop after loop)
// and the loop's box, their union, into loopBoxes (4 per loop). The last loop node; null for no
// loops.
TrimList* FindMinMaxofTrimCurve(TrimList* loops, double* loopBoxes, double* curveBoxes);
// 1 when the line can meet the box: its value lies more than 1e-6 inside the box's u pair
// (side 0) or v pair (side 3).
int CheckTrimCurveBBoxIntersect(const double box[4], double value, int side);
// 1 when value lies within 1e-10 of either of the two doubles of range.
int IsBoundaryPoint(double value, const double range[2]);
// 1 when the curve with this box runs along the line (its u extent, side 0, or v extent,
// side 3, below 1e-10 and within 1e-6 of value): its start and end parameters are then
// appended to out and *count grows by 2.
int CheckCrvCoincidence(const double box[4], double value, int side, double* out, int* count,
                        const Bspline* curve);
// Adds the hits of one trim curve to the list, ordered along the line, a hit within 1e-6 of
// the node it would precede dropped; *count follows the list. 1; 0 when the value lies on the
// loop box's edge across the line (a tangent touch) or the crossing search fails.
int FindAllTrimBsplIsoIntersects(double value, Bspline* curve, IsoHit** list, int* count, int side,
                                 const double curveBox[4], const double loopBox[4]);
// The list holds the single hit of a loop met once: the line's end on the surface's domain that
// lies inside the loop's box (outside it for a hole) joins it so that the two bound a segment.
// With both ends on the same side of the box an outer loop's hit is doubled and a hole's hit
// dropped (the list emptied). 2 when the list holds a segment, 0 otherwise.
int CutIntersectLine(IsoHit** list, TrimList* loop, int side, double value, const double loopBox[4]);
// Parameter values for iso lines in new arrays *us, *vs (*nus, *nvs values) for the caller.
// Mode 0: the distinct knots of each direction with both domain ends (spans shorter than 1e-6
// of the range merged); mode 1: the nu (nv) given break values, each interval between
// successive breaks cut into one more equal part than there are distinct knots strictly inside
// it. 1; 0 for another mode, fewer than 2 breaks or memory.
int GetSampledUVVectors(Bspline* srf, double** us, double** vs, int* nus, int* nvs, int mode,
                        const double* uBreaks, const double* vBreaks, int nu, int nv);
