// Surface shrink-wrap onto clouds and the parts the healing drivers share with it: the option
// record of every shrink-wrap fit, snapping or inserting single knots, spreading knots evenly
// over an interval, the knots that held boundary rows need, the block of control points that a
// parameter box moves, and the release of the wrap-constraint record.
//
// Side numbering (two orders are in use and callers rely on both):
//  - ShrnkWrapParams::fixedRows and the surface fits: 0 u-min, 1 v-max, 2 u-max, 3 v-min
//    (the isoparametric boundary index);
//  - GetFreeCntrlPntsInParamBox (and the free-point mask of the control-net smoother):
//    0 u-min, 1 v-min, 2 u-max, 3 v-max.
// A fixed count of -1 leaves a side free; k = 0, 1, 2 holds control rows 0..k from that side
// (position, tangent, curvature contact).
#pragma once

#include <cstdint>

#include "bspline/smake.h"

struct LinearConstraint;
struct Cloud;

// Sixteen 32-bit words, passed by value to the surface fits and by address to the curve fits.
struct ShrnkWrapParams {
  int32_t fixedRows[4];  // per side, isoparametric boundary order (see above)
  int32_t medianFilter;  // surface fits: 3 x 3 median over the fitted offsets
  int32_t insertKnots;   // surface fits: insert the knots that held rows need
  int32_t spare[2];      // read by no shrink-wrap operation
  double Tension;        // first smoothing weight
  double Roughness;      // second smoothing weight
  double Sigma;          // sample weight
  double spareD;         // 0.001; read by no shrink-wrap operation
};

// Defaults: all sides held at 0 rows, both flags off, the weights from Global_Tension,
// Global_Roughness and Global_Sigma as they are now. -2 for null.
int SetDefaultShrnkWrapParams(ShrnkWrapParams* params);

// Makes *t a knot of direction dir (0 u, 1 v; v needs a surface): a value within 1e-6 of the
// range from a bounding knot of its span snaps to it (lower knot tried first), else it is
// inserted once. *t receives the knot's value, *inserted 1 when a knot was added.
int SnapInsertOneKnotToObject(Bspline* obj, int dir, double* t, int* inserted);

// n new knot values in [a, b] of the given knot vector, each the midpoint of the longest
// interval of the list {a, knots strictly inside the spans of a .. b, b} at the time (the first
// of equal ones), in order of creation. *locations is a new array (caller frees it).
int FindUniformKnotLocInInterval(const double* knots, int nKnots, int degree, double a, double b,
                                 int n, double** locations, int* count);
// Inserts n knots spread over [a, b] of direction dir into obj.
int InsertKnotsUniformlyWithinInterval(Bspline* obj, int dir, double a, double b, int n);
// A new surface with nU knots spread over [uLo, uHi] and nV over [vLo, vHi]. -2 (nothing made;
// error state -2 for the refusals) for a null or unsound (bsvalid) surface, a curve, a bound that
// is not finite or lies outside the domain, a box thinner than round-off, more knots than an int
// counts, or a failed insertion.
int LocalUnfrmInsertSrfKnots(Bspline* srf, double uLo, double vLo, double uHi, double vHi, int nU,
                             int nV, Bspline** result);

// Knots needed in u and v so that the held rows (isoparametric order) leave enough free rows.
int ComputeNumSrfShrinkWrapNeededKnots(const Bspline* srf, const int fixed[4], int* nU, int* nV);
// Inserts those knots in place at the longest spans, u first.
int InsertSurfShrinkWrapKnots(Bspline* srf, const int fixed[4]);

// The block of control points that the parameter box moves. fixed is in the free-box order
// (0 u-min, 1 v-min, 2 u-max, 3 v-max) and is limited in place to the degree of its direction.
// 0; -2 (outputs untouched) for a null argument, a record that is not a 3D surface, one that is
// not sound (bsvalid; error state -2), a bound that is not finite (error state -2) or a box
// thinner than round-off.
int GetFreeCntrlPntsInParamBox(const Bspline* srf, double uLo, double vLo, double uHi, double vHi,
                               int fixed[4], int* nU, int* firstU, int* nV, int* firstV);

// Keeps, in place and in order, the points of a normal-difference cloud (x = u, y = v) with
// uLo <= x <= uHi and vLo <= y <= vHi. Returns 0 (-2 for null).
int SelectDiffCloudInParamBox(Cloud* cloud, double uLo, double vLo, double uHi, double vHi);

// The control points of an nU x nV net (index row x nU + column, rows are v) that boundary
// curves hold, each listed once with the value it must take (GetCntrlPtsToFix, stitch/userdef).
// Sides in the isoparametric order (0 column 0, 1 row nV - 1, 2 column nU - 1, 3 row 0); a side
// counts when flags[i] > -1 and pos[i] is given. Its position curve gives the side's line, the
// first row d1[i] the next line inward (points 1 .. len - 2, len > 2), the second row d2[i]
// (with d1[i]) the line after (points 2 .. len - 3, len > 4); the values are the curves' z
// control coordinates. The first side to reach a point gives its value. *values (room for
// 6 (nU + nV)) and *indices (room for nU nV) are new arrays the caller frees, indices
// ascending. -2 with nothing handed out for null outputs, a net below 1 x 1, a curve that is
// not 3D or has fewer control points than its line, or memory failure.
int BoundaryCurvePointsToHold(Bspline* const pos[4], Bspline* const d1[4], Bspline* const d2[4],
                              const int flags[4], double** values, int** indices, int* count,
                              int nU, int nV);

// ---- Surface fits onto clouds ---------------------------------------------------------------
// A normal-difference cloud holds per point the parameters (x = u, y = v) of its closest
// surface point and the signed distance (z) along the unit normal there. fixed[4] below is in
// the isoparametric order (0 u-min, 1 v-max, 2 u-max, 3 v-min); -1 frees a side, k = 0, 1, 2
// holds control rows 0..k from it.

// A fit's result no longer matches a sphere, cylinder or cone description (dropped, type 0) or
// the property blocks of the surface it came from (cleared).
void DropShrinkWrapForms(Bspline* s);

// Normal-difference cloud of the points against srf, each closest point found from a grid
// estimate (renewed only when the point lies farther than 1/65 of the surface's diagonal from
// the previous one) refined on the surface; gx, gy, gz are the estimate grid's cache (filled
// when empty, left filled: FreeSurfaceGrid). The thermometer shows the progress; zMin and zMax
// hold the range of the distances. Null for a bad surface or cloud, an estimate that
// fails, or memory.
Cloud* MakeNormalDiffCloud(Bspline* srf, Cloud* cloud, double** gx, double** gy, double** gz);
// Normal-difference cloud from the surface-to-cloud difference (search distance 1e6, points
// within 5 degrees of the normal): an unordered cloud of the points that obtained a closest
// point. Null when the analysis or memory fails or no point is kept.
Cloud* MakeNormalDiffCloudNew(Bspline* srf, Cloud* cloud);
// One normal-difference cloud per surface from the closest points over all surfaces at once
// (maxDistance the search distance): a point goes to the surface it is nearest, when its
// normal is not degenerate and its difference is shorter than 1e-6 or within 5 degrees of the
// normal. clouds[s] is null for a surface that received no point; the caller frees the others
// (FreeCloud). 0, or -2 for a missing argument, nSrfs < 1, a failed analysis or memory (no
// cloud handed out).
int MakeSrfsNormalDiffClouds(Cloud* cloud, Bspline** srfs, int nSrfs, double maxDistance,
                             Cloud** clouds);

// Fits wsrf's z coefficients (the offset function over its own knots) to a normal-difference
// cloud by the thin-plate fit with the weights of wsrf's fit block; the control points of held
// rows stay at offset 0. The weights mean what they mean for a net of unit size: the offsets
// are fitted divided by the longest side of wsrf's control-point box (read before its z
// coefficients are replaced) and multiplied back. -2 for a bad surface or cloud or a failed fit.
int FitWCoefiToCloud(Bspline* wsrf, Cloud* diffCloud, const int fixed[4]);
// The surface of srf's knots and degrees through S + w N / |N| at the Greville parameters of
// its control points, w the z of the offset surface wsrf there; grid points on held rows stay
// at S, and the held control rows are copied from srf. a, b, c are not read. The result keeps
// srf's knot vectors exactly. Null on failure.
Bspline* MakeShrinkWrapSurf(Bspline* srf, Bspline* wsrf, double a, double b, double c,
                            const int fixed[4]);
// A copy of srf whose free control points move by offsets[j][i] (row j = v index, column i = u
// index) along the unit normal at their Greville parameters; held rows stay. Null on failure.
Bspline* ShrinkWrapSurfCoefi(Bspline* srf, double** offsets, const int fixed[4]);
// Whole-surface fit of srf onto the cloud: srf itself loses its trims and gains the knots the
// held rows need (at least one interior knot per direction); the fitted offsets (3 x 3 median
// with medianFilter) rebuild it into *result, a new surface without exact form or property
// blocks. The weights mean at every size what they mean for a surface of unit size
// (FitWCoefiToCloud). 0, or -2 for fewer than 2 points or a failed step (*result null).
int ShrinkWrapFit(Bspline* srf, Cloud* cloud, const int fixed[4], int medianFilter,
                  double roughness, double tension, double sigma, Bspline** result);
// Fit confined to the parameter box {uLo, vLo, uHi, vHi} (null: the domain) of a copy of srf:
// only the control points whose support lies in the box move, at least nKnotsU x nKnotsV of
// them (knots are added over the box when fewer). *diffCloud receives the box's difference
// cloud (the caller frees it), *result the new surface. With fewer than 2 difference points in
// the box *result is an unchanged copy and *diffCloud null. 0, or -2 for a bad surface, fewer
// than 2 cloud points, a box outside the domain or a failed step.
int LocalSrfShrinkWrapFit(Bspline* srf, Cloud* cloud, const double* box, double maxDistance,
                          ShrnkWrapParams params, int nKnotsU, int nKnotsV, Cloud** diffCloud,
                          Bspline** result);

// Releases a wrap-constraint record and every array it holds; null is accepted. Always 0.
int FreeWrapConstraint(LinearConstraint* constraint);

// m rows of n keys with parallel coordinates; each row (dir 1: contiguous runs of n; dir 0:
// stride n, so the rows are the columns of an n-wide grid) is sorted ascending by key. The keys
// may be one of the coordinate arrays (that array is sorted by itself). Null arrays, counts
// below 1 and grids of more than INT_MAX points leave everything as it was.
void Sort3DPointsUsing1DPoints(double* x, double* y, double* z, double* keys, int n, int m,
                               int dir);
// Sorts an n x m grid by the u keys along its rows, then by the v keys along its columns.
void Sort3DPointsUsing2DPoints(double* x, double* y, double* z, double* uKeys, double* vKeys, int n,
                               int m);
