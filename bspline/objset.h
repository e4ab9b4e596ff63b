// Boundary ends of objects and one knot vector for a set of objects: the B-spline work behind
// GetObjBndryPnts, GetObjBndryVector and MakeObjSetCompatible (stitch/vcnobj), here so that the
// floors below stitch/ (surface tools, shrink-wrap nets) call it too. A direction flag is 0 for u
// and nonzero for v; curves always use u.
#pragma once

#include "bspline/smake.h"

// The 3D end points of a boundary of a surface or of a curve, as GetObjBndryPnts documents them.
void ObjectBoundaryEnds(const Bspline* obj, int bndry, double start[3], double end[3],
                        int avoidDegenerate);
// End minus start of the boundary, avoiding degenerate ends (GetObjBndryVector).
void ObjectBoundaryVector(const Bspline* obj, int bndry, double vec[3]);

// Maps one direction's knots (dir nonzero: v of a surface; curves u) onto [0, 1] unless they are
// exactly there already or have no range: a surface's curves follow and its domain is reset,
// with scaleOther the other direction is scaled by the same factor (not shifted); a curve's
// domain becomes [0, 1]. Copies beyond p + 1 that the round-off makes are set apart again
// (SpreadOverfullKnotRuns). A record whose structure is not sound (bsvalid) is left as it is,
// error state -2.
void MapDirectionOntoUnitRange(Bspline* obj, int dir, int scaleOther);

// One identical knot vector for the n objects, each in its direction, by knot insertion, as
// MakeObjSetCompatible documents it.
void MakeKnotVectorsCompatible(Bspline** objs, const int* dirs, int n, int scaleOther);

// ---- Directions, degrees and rationality of object sets -------------------------------------
// The work behind EquateParDirOfObjSet, EquateDegOfObjSet, MakeObjSetRational and
// EquateRationOfObjSet (stitch/vcnobj documents them), here for the sweeps of the surface tools.
int MatchBoundaryDirections(Bspline** objs, int* bndry, int n);
void RaiseToCommonDegree(Bspline** objs, int* dirs, int n);
void MakeObjectsRational(Bspline** objs, int n);
void MatchRationality(Bspline** objs, int n);
// Mean control-polygon length of the lines of dir (a curve: its one line), x, y and z of a 3D
// object, x and y of a 2D one: the measure behind GetObjSpanInParDir. 0 with the error state -2
// for a record whose structure is not sound (bsvalid).
double ControlNetSpan(const Bspline* obj, int dir);
// The parameter-speed matching of MakeParOfTwoObjProptnl (stitch/vcnobj, which documents it);
// shiftOnly stands for its isJustCombine.
int ProportionPairParams(Bspline** pair, const int* dirs, int join, int keepOther, int shiftOnly);
