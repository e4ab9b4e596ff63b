// Direct editing: which control points a drag at a parameter moves, the new control-point values
// that make the dragged point (or iso line) move by exactly the asked displacement, the records
// an interactive editor keeps around an edit, and the control points that may move near trims.
//
// Near-knot rule (one direction, clamped knots U, degree p, n control points): for t in span k
// with relative position s, t snaps to a knot within 0.001 of the span; the first affected
// control point is base = k - p + o, o depending on whether k is the first, the last or an
// inner span and on the knot multiplicity at t. A drag moves {base} at s = 0, {base + 1} at
// s = 1 (the last span only), else {base, base + 1}, the second by q = s / (1 - s) times the
// first. Surfaces combine both directions into 1, 2 or 4 points, u fastest.
//
// Control points are numbered j nu + i (u index i, v index j); basis arrays from
// SetupDirectEditing hold the p + 1 non-zero values from element 1 on (element 0 unused), so
// they need p + 2 doubles.
//
// The display-grid record (SurfEditStruct) and the curvature plot record (PlotEditStruct) are
// declared in bspline/editrec.h, on the floor whose evaluators fill them.
//
// Refusals: every function below that takes a record refuses one that is not sound (bsvalid), a
// curve where it reads a surface's two directions (the ...Srf and ...Line forms), a parameter or
// displacement that is not finite, a control-point index outside the net and a null output:
// -2 (null for the arrays) with the error state -2, outputs and record untouched. "Returns 0"
// below means on success.
#pragma once

#include "bspline/editrec.h"
#include "bspline/smake.h"

// Edit points of the edited control points: their Greville parameters' spans and basis rows
// (p + 2 doubles per row, values at 1 .. p + 1) and the object's position there when the
// record was set up, so later edits can be measured against it. v arrays are null for curves.
struct UpdateEditStruct {
  int n;
  double* uBasis;
  double* vBasis;
  int* uSpans;
  int* vSpans;
  double* x;
  double* y;
  double* z;
};

// ---- Affected control points and records ---------------------------------------------------
// Basis values at the parameters clamped into the domain (surfaces both directions, curves u).
// Returns 0.
int SetupDirectEditing(const Bspline* obj, double u, double v, double* uBasis, double* vBasis,
                       int* uSpan, int* vSpan);
// The same in one direction of a surface (0 u, 1 v). Returns 0.
int SetupDirectEditingLine(const Bspline* srf, double t, double* basis, int* span, int dir);
// Parameter box a control point influences: u low, u high, v low, v high (curves: two values).
int GetControlPointEffectExtent(const Bspline* obj, int index, double* extent);
// Union of the boxes of n control points (empty list: +3.37e38 minima, -3.37e38 maxima).
int FindCntPntsEffectExtentParamVals(const Bspline* obj, const int* indices, int n, double* umin,
                                     double* umax, double* vmin, double* vmax);
// The 1, 2 or 4 control points a drag at (u, v) moves (curves read u only). Returns 0.
int FindAffectedCntPntsGivenParVal(const Bspline* obj, double u, double v, int* indices,
                                   int* count);
int FindAffectedCntPntsSrfGivenParVal(const Bspline* srf, double u, double v, int* indices,
                                      int* count);
// The same sets with the parameters first clamped into the domain.
int FindAffectedCntrlPtIndicesPoint(const Bspline* obj, double u, double v, int* indices,
                                    int* count);
int FindAffectedCntrlPtIndicesSrf(const Bspline* srf, double u, double v, int* indices, int* count);
// Control points an edit of the iso line at t moves (dir 0: the u line, 1: the v line): one or
// two rows across the surface. indices must hold 2 max(nu, nv).
int FindAffectedCntrlPtIndicesLineEdit(const Bspline* srf, double t, int* indices, int* count,
                                       int dir);

// Fills *rec (allocated zeroed when null; its old arrays released otherwise) with the edit
// points of the n control points. Returns 0, or -2 on no memory (a record made here is freed
// and *rec nulled; an existing one is left empty).
int SetupUpdateEditStructCPT(const Bspline* obj, const int* indices, int n,
                             UpdateEditStruct** rec);
// One stored point (count 1). Returns 0, or -2 on no memory.
int SetupUpdateEditStructPnt(double x, double y, double z, UpdateEditStruct** rec);
// Largest distance between the object now and the stored positions; -3.37e38 for an empty record.
double ComputeDeviationOfBsplineCPT(const Bspline* obj, const UpdateEditStruct* rec);
// Distance from the first stored position to (x, y, z); -3.37e38 for an empty record.
double ComputeDeviationOfBsplinePnt(const UpdateEditStruct* rec, double x, double y, double z);

// Display-grid record of an edit: with *rec null a record is made and the basis tables of all
// nuGrid + extra + trailing u values (and v values for surfaces) are built; then the region the
// edited control points influence and the grid points and extra pairs strictly inside it
// (within 1e-6 of the range) are listed, and position arrays for them and the trailing values
// allocated. Returns 0, or -2 on no memory (a record made here is freed and *rec nulled).
int SetupEvalPartialGridCntPnt(const Bspline* obj, const int* indices, int n, const double* u,
                               const double* v, int nuGrid, int nvGrid, int extra, int trailing,
                               SurfEditStruct** rec);
// Basis tables (3 rows of degree + 1 doubles per value: value, first, second derivative) and
// spans of nuGrid + extra + trailing u values (and v values for surfaces). New blocks owned by
// the caller; -2 on no memory with nothing allocated.
int Eval3DGridNubVals(const Bspline* obj, const double* u, const double* v, int nuGrid, int nvGrid,
                      int extra, int trailing, double** uTable, double** vTable, int** uSpans,
                      int** vSpans);
// Release everything and null the pointer; null records are ignored. Return 0.
int FreeSurfEditStruct(SurfEditStruct** rec);
int FreePlotEditStruct(PlotEditStruct** rec);
// Release the per-edit arrays and zero their fields and counts; the record stays. Return 0.
int FreePartialSurfEditStruct(SurfEditStruct* rec);
int FreePartialPlotEditStruct(PlotEditStruct* rec);
int FreeUpdateEditStruct(UpdateEditStruct* rec);

// ---- New control-point values --------------------------------------------------------------
// Moves the chosen control points (in place, weights untouched) so that the object's point at
// (u, v) moves by (dx, dy, dz). fixed (may be null) flags control points that must not move:
// they are skipped and the point then moves less than asked (callers rely on that). The moved
// indices are listed in order (room for 4). Basis values and spans come from
// SetupDirectEditing. Returns 0.
int GetNewCntrlPtVals(Bspline* obj, double u, double v, int* moved, int* count, double dx,
                      double dy, double dz, const double* uBasis, const double* vBasis, int uSpan,
                      int vSpan, const int* fixed);
int GetNewCntrlPtValsSrf(Bspline* srf, double u, double v, int* moved, int* count, double dx,
                         double dy, double dz, const double* uBasis, const double* vBasis,
                         int uSpan, int vSpan, const int* fixed);
// Moves the whole iso line at t (dir 0 u, 1 v) by d; a pair whose first moving control point is
// fixed stays. moved needs room for two per control point along the line. Returns 0.
int GetNewCntrlPtValsLineEdit(Bspline* srf, double t, int* moved, int* count, const int* fixed,
                              double dx, double dy, double dz, const double* basis, int span,
                              int dir);
// One displacement at n parameter pairs (uv[2k], uv[2k + 1]), each control point moved at most
// once (at the first pair that reaches it). moved (room for every control point) lists the
// moved points in index order. Returns 0, or -2 on no memory with nothing moved.
int GetNewCntrlPtValsClusterEdit(Bspline* obj, const double* uv, int n, int* moved, int* count,
                                 const int* fixed, double dx, double dy, double dz);

// ---- Editable control points near trims -----------------------------------------------------
// cont[4] is the continuity request per boundary (0 u minimum, 1 v maximum, 2 u maximum, 3 v
// minimum): -1 free, c >= 0 keeps order c (c + 1 rows of control points). loopFlags holds one
// int per trim loop in list order: -1 lets the loop's neighbourhood be edited, anything else
// keeps it fixed. Knot-grid points are numbered j Ku + i over the distinct knots (Ku = interior
// u + 2; Kv likewise, 1 for a curve). Every array returned is new (Malloc) and the caller's;
// null on no memory (error state set) with nothing left allocated.

// Control points that may move, ascending.
int* FindEditableCntPntsBspline(Bspline* obj, const int cont[4], const int* loopFlags, int* count);
// Control points the boundary request fixes, ascending.
int* GetFixCntrlPtIndicesNonTrim(const Bspline* obj, const int cont[4], int* count);
// Control points whose support a trim loop's curves pass through (first-seen order); flag unused.
int* GetFixCntrlPtIndicesTrimCurve(const Bspline* obj, BsplineList* loop, int flag, int* count);
// One flag per knot span (curve) or span rectangle j (Ku - 1) + i (surface): 1 editable. Null
// (error state -2) for a record that is not sound (bsvalid) or a null cont.
int* FindEditableRegionsOfBspline(Bspline* obj, const int cont[4], const int* loopFlags);
// Knot-grid points the boundary request fixes (even degrees fix one line more on the high side).
int* GetFixKnotIndicesNonTrim(const Bspline* obj, const int cont[4], int* count);
// Knot-grid points near a trim loop's curves; flag unused.
int* GetFixKnotIndicesTrimCurve(const Bspline* obj, BsplineList* loop, int flag, int* count);
