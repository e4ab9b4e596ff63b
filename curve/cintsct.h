// The single intersection (or closest approach) of two curves that meet once near their
// polygons: a start pair from the polygon estimate, polished by the closest-pair refiner. On it
// rest the trimming of a closed chain of curves and the extraction of sub-curves. Also where a
// 2D curve crosses its surface's knot lines, and exact iso-parametric pieces.
#pragma once

#include "bspline/smake.h"

// t1 on crv1 and t2 on crv2 where the two 3D curves come closest: refined from the polygon
// estimate; where that leaves a gap and the curves meet elsewhere, their meeting nearest the
// estimate (CrvIntersect). The refiner's result (0 converged); -2 when the estimate failed (t1,
// t2 untouched) or memory ran out, and for a curve that is not a sound (bsvalid) 3D curve
// (error state set, t1, t2 untouched).
int Intersect2Curve3(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
// The same for two 2D curves (measured in 3D through an owner where a curve has one), refined as
// a crossing; where that fails (parallel tangents: curves that touch) or leaves a gap, the
// meeting nearest the estimate of two curves in one parameter plane (one owner or none), with 0.
// -2 with the error state set for curves that are not sound 2D curves.
int Intersect2Curve2(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
// The same for two curves each 3D or on a surface (the meeting searched for when both are 3D or
// both lie on one surface); -2 with the error state set for records that are not sound curves.
int Intersect2Curves(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
// Whether the point of crv1 at t1 and that of crv2 at t2 (in 3D, through an owner for a curve on
// a surface) meet as the three searches above count a meeting: within 1e-7 of the larger
// control-point box diagonal of the two (an owner's for a curve on one). False for a record
// whose structure is broken (BsplineShapeSound).
bool CurvesMeetAt(const Bspline* crv1, double t1, const Bspline* crv2, double t2);

// Cuts each curve of a closed chain of n >= 2 3D curves back to the stretch between its
// neighbours (for n = 2 the two curves meet twice, and each runs from the meeting first along
// it, also where the two meetings are alike): curves[i] is replaced by that piece (the old
// curve freed), dirs[i] is 1 when the piece runs with the curve and -1 when reversed, and the
// cut parameters go to *starts and *ends. The three arrays are new (the caller frees them).
// 0; -2 for n < 2 or when an intersection failed (its parameters still cut); -5 (error state
// -5) when two cuts of a curve coincide, then nothing is output and curves already replaced
// stay replaced; -2 also when a piece could not be made.
int FindAllCurve3Intersections(Bspline** curves, int n, int** dirs, double** starts, double** ends);

// The piece of the curve from t0 to t1 (falling parameters: the piece reversed, running from t0)
// into *piece; the curve is never changed. Parameters within 1e-6 (within 1e-6 of the domain's
// length for a domain shorter than 1): *piece null, error state -2.
// On another failure *piece is left as it was.
void SubCurveBspline(Bspline* curve, double t0, double t1, Bspline** piece);

// Where the 2D curve crosses the knot lines of its owner (the domain's edges too): its breakpoints
// (knots from index degree on, repeated ones included) and, between them, every crossing in order
// (a line crossed twice within one span twice; a touching is no crossing), as new arrays of curve
// parameters and (u, v). A crossing is refined to round-off: its crossed coordinate is the knot
// value exactly, the other the curve's, clamped into the surface's range. 0; -2 without owner, for
// a degree outside 1 .. kMaxSplineDegree or when memory ran out (nothing allocated).
int GetCurve2DSurfParamSect(Bspline* curve, int* count, double** params, double** us,
                            double** vs);

// Span indices of (u, v) among knot lines: iu is -1 when u does not exceed uKnots[0], else the
// index i - 1 of the first knot uKnots[i] (1 <= i < nu) above u, or nu - 1 when none is; iv alike.
// Both untouched for a null knot array or a count below 1.
void GetUVKnotIndices(const double* uKnots, const double* vKnots, int nu, int nv, double u,
                      double v, int* iu, int* iv);

// The piece of the iso curve `iso` of srf that the 2D curve on srf runs along, from the point
// nearest the curve's start to the point nearest its end (running the curve's way), or null
// when an end lies more than 0.001 away or the piece would be too short (the error state is then
// clear: the caller keeps its own curve). iso is a 2D curve on srf. Null with the error state -2
// for a srf, curve or iso that is not sound (bsvalid).
Bspline* ExtractIsoparCurve2(Bspline* srf, Bspline* curve, Bspline* iso);
// The same for a 3D iso curve; when the end lies too far away or the ends coincide, a degenerate
// cubic at the first sample point of iso instead of null.
Bspline* ExtractIsoparCurve3(Bspline* srf, Bspline* curve, Bspline* iso);
