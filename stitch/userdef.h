// Derivative curves of boundary curves: for curves on surfaces, the position, first or second
// cross-boundary derivative curve of the owner surface along them, and the owner's degree
// across a curve; and the control points that boundary curves fix in a net.
#pragma once

#include "bspline/smake.h"

// A new array of n curves (the caller frees it and the curves), for each input curve the curve
// of the order across its owner along it: a 3D input curve gives a copy for order 0 and a null
// entry otherwise; a curve on a surface that runs along an iso line (isoFlag not -1) of a
// non-rational owner gives the exact iso form (GetIsoDerivOfSurf with unit results, order 2
// the G2 reflection, the derivative turned toward guides[i]'s start and mapped onto the
// curve's own range), any other the sampled form (GetNonIsoDerivOfSurf with guides[i],
// params[i] as magnitude mode, mode, tol, flag as samples, and the knots and degree). With
// order 1, a guide and guideResults, guideResults[i] receives a new array of the magnitudes
// toward the guide. Null (curves made so far released) on failure, and (error state -2) for a
// curve or guide that is not sound (bsvalid).
Bspline** CreateDerivativeCurves(Bspline** curves, Bspline** guides, double** guideResults,
                                 int* params, int mode, double tol, int flag, int order, int n,
                                 int isoFlag, double* knots, int knotCount, int degree);
// The owner's degree across a curve on a surface: its v degree when the curve's ends differ in
// u by 1e-6 or more, else its u degree; -2 for a curve that is not on a surface.
int GetCrossDegreeOfCurveOnSurf(Bspline* curve);

// The control points of an nU x nV net (index row x nU + column, rows are v) that the boundary
// curves fix, once each, indices ascending, with the z control coordinate each must take.
// Sides: 0 column 0 (u-min), 1 row nV - 1 (v-max), 2 column nU - 1 (u-max), 3 row 0 (v-min),
// each curve running with the net (sides 0 and 2 along v, 1 and 3 along u). A side counts when
// flags[i] > -1 and pos[i] is given: pos[i] fixes the side's line, d1[i] the next line inward
// (all but its two end points), d2[i] with d1[i] the line after that (all but two at each end).
// A point reached by two sides takes the first side's value (corners go to side 0, then 1).
// *valuesOut (room for 6 (nU + nV)) and *indicesOut (room for nU nV) are new arrays the caller
// frees; *countOut their length. Failures (-2, nothing handed out): null outputs, nU or nV
// below 1, a curve that is not 3D or has fewer control points than its line, memory.
int GetCntrlPtsToFix(Bspline* pos[4], Bspline* d1[4], Bspline* d2[4], int flags[4],
                     double** valuesOut, int** indicesOut, int* countOut, int nU, int nV);
// ---- Cross-direction curves ------------------------------------------------------------------
// Which ends of two curves lie closest (end control points): *endA and *endB receive 0 (start)
// or 2 (end); a tie goes to the later pair in the order (0,0), (0,2), (2,0), (2,2). Nothing
// written (error state -2) unless both are 3D curves of sound structure (bsvalid) and both
// outputs are given.
void GetClosestCurveEnds(Bspline* curveA, Bspline* curveB, int* endA, int* endB);
// Moves p1 along the segment from p0 so that the segment, now `length` long, gets newLength.
void ScaleLineToGivenLen(const double p0[3], double p1[3], double length, double newLength);
// A new 3D curve running like `curve`: a copy moved into the patch along the first control legs
// of the two side curves that meet its ends (sideA one end, sideB the other), both legs made
// as long as the shorter one but at least 1% of the shortest control polygon of the three.
// Null (error state -2) for a curve that is not 3D or a side whose first leg has no length, and
// when a line, the copy, the sweep or the iso curve failed.
Bspline* GetDirCurve(Bspline* curve, Bspline* sideA, Bspline* sideB);

// ---- Derivative curves of a boundary loop ----------------------------------------------------
// The loop's n clockwise curves (3D or on surfaces) as n new 3D position curves cut where
// neighbours meet; *startParams and *endParams receive new arrays of each curve's cut
// parameters. Where two curves meet, a 3D curve's end control point moves onto the curve on a
// surface; two of the same kind meet at their midpoint. Null (nothing left behind) when a
// position curve or the cuts failed, and (error state -2) for null arguments, n below 1, a curve
// that is not sound (bsvalid) or a tol that is not finite.
Bspline** GetAllClockWiseSnippedPosCrvLoop(Bspline** curves, int n, int* isoFlags, double tol,
                                           int flag, double** startParams, double** endParams);
// The n stretches of the curves between their cut parameters (each keeps its owner). Null on
// failure (nothing left behind), and (error state -2) for null arguments, n below 1, a curve that
// is not sound (bsvalid) or a cut parameter that is not finite.
Bspline** GetAllClockWiseSnippedCrvOnSrf(Bspline** curves, int n, int* isoFlags,
                                         double* startParams, double* endParams);
// Four sides: a new array holding, side after side, the position curve and the derivative
// curves of orders 1 .. orders[i], each turned toward the inside of the loop. A 3D side of order
// 4 leaves along the mean of its neighbours' end directions and its orders[i] becomes 1. Null on
// failure (an order outside 0..4, a cut, a direction or a derivative that failed).
Bspline** GetAllSnippedDerivativeCurves(Bspline** curves, int* orders, int* isoFlags, double tol,
                                        int flag);
// Makes the end control point of pos[i] and the start of pos[i + 1] (cyclically) equal: their
// midpoint when the loop curves are of one kind, else the one of the curve on a surface. Null
// arrays, or a pos[i] that is not a 3D curve of sound structure (bsvalid), leave every curve as
// it was (error state -2).
void MakePosCurvesTouch(Bspline** pos, Bspline** loopCurves, int n);
// Frees the curves of the three arrays (null entries and null arrays skipped) and the arrays.
void FreeDerivBsplineArrays(Bspline** pos, Bspline** d1, Bspline** d2, int n);

// ---- Linear blend ----------------------------------------------------------------------------
// Sides: 0 the u-minimum column, 1 the v-maximum row, 2 the u-maximum column, 3 the v-minimum
// row, all running in +u or +v. pos[i] the side's curve, d1[i] and d2[i] its second and third
// control rows or null (d1, d2 may be null arrays). A new surface with pos[1]'s u knots and
// pos[0]'s v knots whose outer rows are the curves and rows, the rest filled by the Coons rule
// on the net; without threeD every z is 0. Null (error state -2) when the curves are not 3D or
// their control counts do not fit the net, or on failure.
Bspline* LinearBlendSurface(Bspline** pos, Bspline** d1, Bspline** d2, int threeD);
// Fills srf's net: the outer rows (MakeSurfBndry) and the Coons rule between them; also refused
// (error state -2) when srf's knots are not knot vectors (bsvalid).
void BlendSurface(Bspline** pos, Bspline** d1, Bspline** d2, Bspline* srf, int threeD);
// Writes the outer rows, then the outer columns (where both write, the column stands). d1 and d2
// may be null arrays. srf is left as it was (error state -2) unless it is a 3D surface of sound
// structure (bsvalid) whose net the curves fit as LinearBlendSurface asks.
void MakeSurfBndry(Bspline* srf, Bspline** pos, Bspline** d1, Bspline** d2, int threeD);

// ---- Derivative control rows and corners (four sides, as for LinearBlendSurface) --------------
// Turns each side's derivative curves into control rows whose ends reach its neighbours' second
// and third control points; corners[i] keeps those points (d1's then d2's). 0.
int GetControlPtsForAllCurves(Bspline** pos, Bspline** d1, Bspline** d2, int n, int* orders,
                              double* scales, double corners[][12]);
// After knots changed: the rows back to derivatives and scaled again, varying between the ends;
// a third row only when a neighbour's third point moved by 0.001 or more. 0.
int RescaleDerivativeCurves(Bspline** pos, Bspline** d1, Bspline** d2, int n, int* orders,
                            double* scales, double corners[][12]);
// The rows' end points from the neighbours: position curves over first rows over second. 0; -2
// (error state -2, nothing moved) when n is at least 1 and a side's curve or row (null arrays
// of rows mean none) is not a 3D curve of sound structure (bsvalid).
int MakeCurvesCompatibleByPrecedence(Bspline** pos, Bspline** d1, Bspline** d2, int n);
// At every corner the corner, twist and (2, 2) points of the two sides averaged. 0.
int MakeCurvesTwistCompatible(Bspline** pos, Bspline** d1, Bspline** d2, int n);
// One corner: ends[k] is 1 where side k meets it with its end, 0 with its start. 0; -2 (error
// state -2, nothing moved) when a pair used is not two 3D curves of sound structure (bsvalid).
int MakeCurvesTwistCompatibleCorner(Bspline** posPair, Bspline** d1Pair, Bspline** d2Pair,
                                    int* ends);

// ---- Four-sided blend ------------------------------------------------------------------------
// Steps on the three arrays of a blend; each 0 or -2 (error state set). EquateRationalityOfAllCurves
// refuses null arrays, a null position curve and any curve or row not sound (bsvalid).
int EquateRationalityOfAllCurves(Bspline** pos, Bspline** d1, Bspline** d2);
int MakeDegreeOfAllCurvesCompatible(Bspline** pos, Bspline** d1, Bspline** d2);
int MakeParOfAllCurvesCompatible(Bspline** pos, Bspline** d1, Bspline** d2);
int InsertAdditionalKnotsIfNeeded(Bspline** pos, Bspline** d1, Bspline** d2, int* orders);
// CleanBlendCurves refuses null arrays, a tol or angle that is not finite, and a side's curve or
// row that is not a sound (bsvalid) 3D curve of the degree and knot count of its side pair's
// first position curve (sides 0 and 2 take side 0's, 1 and 3 side 1's).
int CleanBlendCurves(Bspline** pos, Bspline** d1, Bspline** d2, int* orders, double tol,
                     double angle);
// A new surface filling the clockwise loop of four curves (3D or on surfaces) that meets the
// surfaces under the curves with orders[i] (0 position, 1 and 2 cross derivatives; 3 is taken as
// 2; 4 is an implied tangent on a 3D curve and 1 on a curve on a surface). An order above 1 needs
// an iso curve of a non-rational surface of cross degree 2 or more, else 1 is used. scales[i]
// scales the side's rows; tol and angle clean the knots (reparamMode 0), reparamMode 1 refits
// every curve on countA (sides 0, 2) or countB (sides 1, 3) uniform control points, other modes
// remove knots down to those counts. Without threeD every z is 0. *posOut, *d1Out, *d2Out (when
// given) receive the curve arrays (FreeDerivBsplineArrays). Null when n is not 4, an order is
// outside 0..4, a 3D curve has an order other than 0 and 4, or a step failed.
Bspline* CreateBlendSurface1(Bspline** curves, Bspline*** posOut, Bspline*** d1Out,
                             Bspline*** d2Out, int n, int* orders, double* scales, double tol,
                             double angle, int threeD, int reparamMode, int countA, int countB);

// ---- Cloud points to surface parameters ------------------------------------------------------
struct Cloud;
// Rewrites the cloud as (u, v, z): each point's x and y replaced by the parameters where the
// surface's x and y equal them; points that cannot be mapped are dropped, the z range
// recomputed, the type 0. Only box's x and y extents are read. 0; -2 with zk_error_status -100
// when no point was mapped, or 100 when the mapped u or v range is below 1% of the domain's (the
// cloud rewritten in both); -2 with the cloud untouched for a bad surface or no memory.
int xy2uv(Bspline* srf, Cloud* cloud, const double box[6]);
// Start values: the Greville parameters gu, gv of the control point nearest (x, y) in x-y.
// Nothing written (error state -2) for a record that is no surface of sound structure (bsvalid)
// or a null array.
void FindInitU(Bspline* srf, double x, double y, double* u, double* v, double* gu, double* gv);
// Newton's method on the surface's x and y, clamped into the domain, at most 7 steps. 0 when
// (u, v) maps within 1e-7 (squared, in units of the larger x-y extent of the control net),
// else -2; -2 (error state -2, u and v untouched) as well for a record that is not a sound
// (bsvalid) 3D surface, a null u or v, or a point or start that is not finite.
int SolveForUV(Bspline* srf, double x, double y, double* u, double* v);
