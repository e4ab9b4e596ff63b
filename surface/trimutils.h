// Trim loops of a surface: closed chains of 2D curves on its parameter plane that bound the part
// of the surface that exists. A loop's nodes are its own; its curves also stand in the surface's
// curve list, which owns them. Directions are 1 clockwise and 2 counter-clockwise, u to the
// right and v upwards. Point-in-trim tests count crossings of the upward vertical ray with the
// loops sampled as polylines (5 samples per knot span plus each curve's start).
#pragma once

#include "bspline/smake.h"

// ---- Loops ----------------------------------------------------------------------------------
// The counter-clockwise loop of the four sides (u-min down, v-min right, u-max up, v-max left),
// hole 0, attached 1, not put in the trim list; its curves are pushed on the surface's curve
// list. Null on failure, the curve list as before.
TrimList* CreateSurfBoundaryAsTrimCurveBspline(Bspline* srf);
// Pushes the loop on the front of the trim list and sets its attached flag; a null loop changes
// nothing. Always 1.
int AddOrderedTrimCurve(Bspline* srf, TrimList* loop);
// With a null loop a new empty one (flags 0) is pushed on the front of the trim list; the curve
// is then appended to the loop unless the loop holds it already. The loop, null on failure.
TrimList* CreateTrimList(Bspline* srf, Bspline* curve, TrimList* loop);
// A straight 2D piece from (p0[0], p0[1]) to (p1[0], p1[1]) inserted in a loop after `node`
// and pushed on the surface's curve list. The first argument is not used. Null on failure,
// nothing changed.
Bspline* AddCurve2CurveList(int unused, const double p0[3], const double p1[3], BsplineList* node,
                            Bspline* srf);
// 1 when the trim list holds an attached loop that is not a hole.
int IsOuterTrim(const Bspline* srf);
// Of the outer loops after the first loop of the trim list, the last loses its attached flag
// and is handed back: 1; none: 0.
int IsPrevOutTrimInvalid(Bspline* srf, TrimList** out);
// 1 when a loop of the curve's owner holds this curve.
int IsTrimPiece(const Bspline* crv);
// 1 and the first loop (from `loops` on) holding this very node; else 0.
int GetTrimCurveOfTrimPiece(const BsplineList* node, TrimList* loops, TrimList** out);
int CountTrimCurves(const Bspline* srf);
// Direction of the loop by its rightmost interior sample (50 per curve): 1 or 2; -2 on an
// allocation failure or a loop without curves.
int FindTrimCurveDirection(Bspline* srf, TrimList* loop);
// Reverses every curve and the order of the loop, so it runs the other way.
void ReverseTrimCurveBsplines(TrimList* loop);
// Turns every hole (hole flag exactly 1) that runs the way of the first non-hole loop.
void ReverseInnerRelToOuter(Bspline* srf);
// 1 when the 3D gap between successive curves (the last and the first included) exceeds tol.
int IsTrimCurveOpen(TrimList* loop, double tol);
// nu x nv inside flags of the uniform grid over the domain, u fastest.
void SetInOutTrim(Bspline* srf, int* flags, int nu, int nv);
// Frees the loop's nodes and the loop (not the curves).
void FreeUnattachedTrimcurve(TrimList* loop);
void FreeNewTrimcurve(TrimList* loop);

// ---- Point in trim --------------------------------------------------------------------------
// Samples of one curve: 5 (interior knots) + 6.
int TrimCurveSampleCount(const Bspline* crv);
// 1 inside or untrimmed, 0 outside (also when the samples could not be allocated, error set).
int IsPointInTrim(Bspline* srf, double u, double v);
// The same on samples of GetAllTrimArrays; `far` is not used.
int IsPointInTrimArrays(const Bspline* srf, double u, double v, const double* far, double*** us,
                        double*** vs);
// 1 when the upward ray from (u, v) crosses the loop's polyline an odd number of times.
int IsInTrimcurveArrays(const TrimList* loop, int count, double u, double v, const double* far,
                        double** us, double** vs);
int Curve2VertIntersectArraysCount(const Bspline* crv, int count, double u, double v,
                                   const double* us, const double* vs);
// Fills us[l], vs[l] for each loop l with per-curve sample arrays (Malloc, the caller's scope),
// each loop's polyline exactly closed. On failure the error state is set and later entries stay
// null.
void GetAllTrimArrays(const Bspline* srf, double*** us, double*** vs);
// Number of segments of the curve's polyline meeting the segment q0-q1.
int Curve2IntersectCount(const Bspline* crv, int count, const double q0[2], const double q1[2]);
// Number of polyline segments meeting the ray from q0 through q1.
int Curve2IntersectArraysCount(const Bspline* crv, int count, const double q0[2], const double q1[2],
                               const double* us, const double* vs);
// Segment p0-p1 against q0-q1 (OK) or the ray from q0 through q1; each polyline vertex belongs
// to the segment ending there; parallel segments never meet.
int IsIntersectPlineOK(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v,
                       double q1u, double q1v);
int IsIntersectPline(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v,
                     double q1u, double q1v);

// ---- Snipping and self-intersection ---------------------------------------------------------
// Cuts each curve of a loop-ordered list back to the stretch between its intersections with
// its two neighbours (the last curve's next is the first); pieces replace the curves in the
// list and are appended to the owner's curve list, the replaced curves appended to *replaced.
// `orient` makes each piece start at the end next to the previous piece; `snapEnds` takes
// curves that do not meet to their nearer ends. 0 (also when `enable` is 0); -2 on failure
// (before any extraction the list is unchanged); -5 when a piece would be of zero length (the
// error state cleared).
int SnipTrimCurvesAtIntersections(BsplineList* list, BsplineList** replaced, int enable, int orient,
                                  int snapEnds);
// Moves a parameter lying closer than 1e-6 of the range to an end (but not at it) to 1.5 times
// that distance from the end. Always 0.
int AdjustSnipParameter(const Bspline* crv, double* t);
// The loop as one closed polyline (degree + 1 samples per span of each curve): 1 no crossing;
// -1 crossing, with the end points of the two crossing edges in u[4], v[4]; -2 on failure or
// when all four of those points are curve ends.
int IsTrimCurveLinearSelfIntersectPoints(TrimList* loop, double u[4], double v[4]);
// 1 when the loop's polyline crosses itself or is empty, 0 when not or memory ran out.
int IsTrimCurveLinearSelfIntersect(TrimList* loop);

// ---- Closing loops --------------------------------------------------------------------------
// Joins or bridges the gaps of the loop (MakeTrimCurveContinuous), then drops pieces shorter
// than tol (RemoveTrimPiecesToTol): the bridges and the dropped curves into the two out lists
// (new nodes, newest first, the caller's); returns the dropped list.
BsplineList* TrimCurveMerge(Bspline* srf, TrimList* loop, BsplineList** inserted,
                            BsplineList** removed, double tol);
// Joins A's end and B's start at their mean (u, v) when their 3D gap on srf is at most tol: 1;
// else 0 with the two ends (clamped into the domain) in endA and startB.
int IsTwoCurvePiecesMerged(Bspline* srf, Bspline* a, Bspline* b, double endA[3], double startB[3],
                           double tol);
// Bridges every gap wider than tol (the closing one too) by a straight piece: the list of the
// bridges, null when none or on failure (then nothing inserted).
BsplineList* MakeTrimCurveContinuous(Bspline* srf, TrimList* loop, double tol);
// Drops every curve shorter than tol in 3D that does not lie along a side; the next curve
// starts where the dropped one did. The list of the dropped curves.
BsplineList* RemoveTrimPiecesToTol(Bspline* srf, TrimList* loop, double tol);
// 1 when the curve is to be dropped (the next curve's start moved to its start), else 0.
int CheckObjSpanAndBlend(Bspline* srf, Bspline* crv, Bspline* next, double tol);
// Snaps ends closer than tol (but not coinciding) in every loop from `loops` on; the last loop.
TrimList* RemoveSelfIntersectionToTol(Bspline* srf, TrimList* loops, double tol);

// Makes a loop of the curves (snipped first when `snip` is non-zero, tested for self-crossing
// when `selfTest` is set), closes it within GlobalTrimGapTol and pushes it on the trim list: 0
// with *out. -1 (crossing, edges in cu, cv) or -2 refuse with *out null; a refused loop uses up
// the given list's nodes.
int ConstructTrimCurveList(Bspline* srf, BsplineList* curves, int hole, int selfTest, double cu[4],
                           double cv[4], int snip, int orient, int snapEnds, BsplineList** replaced,
                           TrimList** out);
// Chains loose curves from curves[start] by nearest ends in (u, v), within GlobalTrimGapTol:
// a new list of the chain when it closes back on the start curve, else null. The chain's two
// ends go to endA and endB (the open end when it stops); used[] marks the curves taken.
BsplineList* GetSiblingTrimCurveList(Bspline** curves, int start, int count, double endA[2],
                                     double endB[2], int* used);
// The loops' samples (as GetAllTrimArrays, without the closing replacements) with their surface
// points: per loop l, u[l], v[l], x[l], y[l], z[l] point at the loop's first curve's entry of
// per-curve arrays, each entry at the curve's first sample in flat arrays, and counts[l] at its
// per-curve sample counts; curvesPerLoop[l] and the totals are written. Blocks come from Malloc
// in the caller's scope. 1, or 0 when an allocation failed.
int GetAllTrimXYZArrays(const Bspline* srf, double*** u, double*** v, float*** x, float*** y,
                        float*** z, int* total, int* nCurves, int* nLoops, int* curvesPerLoop,
                        int** counts);
