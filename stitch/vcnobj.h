// Elementary operations on objects (one Bspline, curve or surface) and object sets. A
// direction flag is 0 for u and nonzero for v; curves always use u.
#pragma once

#include "bspline/smake.h"

// Sets one direction's domain again from its knots: v (vmin, vmax) for a surface with dir
// nonzero, else u. Called after every in-place change of a knot vector.
void ResetBsplineParamInfo(Bspline* obj, int dir);

// The same two knots of the direction, returned instead of stored; nothing written (error state
// -2) for a record whose structure is not sound (bsvalid) or a null output.
void GetKnotInfo(Bspline* obj, int dir, double* min, double* max);

// The end points of a boundary (0 u-minimum from (umin, vmin) to (umin, vmax), 1 v-maximum from
// (umin, vmax) to (umax, vmax), 2 u-maximum from (umax, vmin) to (umax, vmax), 3 v-minimum from
// (umin, vmin) to (umax, vmin)) or of a curve (start to end, bndry ignored), in 3D: a 2D curve
// with an owner through its owner, without one its (u, v) with z 0. With avoidDegenerate, ends
// that agree within 0.001 per coordinate (a pole) give way to the point 5% along the boundary
// as end. A curve of another dimension leaves both outputs untouched.
void GetObjBndryPnts(Bspline* obj, int bndry, double start[3], double end[3], int avoidDegenerate);
// End minus start of the boundary, avoiding degenerate ends, so a pole still has a direction.
void GetObjBndryVector(Bspline* obj, int bndry, double vec[3]);

// Makes n objects run the same way along their boundaries (bndry null: boundary 0 of each).
// Each boundary vector is compared with its neighbour's, so the signs chain along the set; the
// smaller group of the two signs is reversed (a tie reverses the objects running against the
// first), each in the direction along its boundary: v for boundaries 0 and 2 and for a null
// boundary array, u for 1 and 3. Returns the number reversed, 0 for n < 2, -2 on failure
// (objects already reversed stay reversed).
int EquateParDirOfObjSet(Bspline** objs, int* bndry, int n);

// Mean length of the control-polygon lines that run in direction dir: a curve's one line, a
// surface's rows (u) or columns (v); x, y, z for 3D objects, (u, v) for a 2D curve; weights
// ignored. With curveOnSurf3D a 2D curve gives its 3D length (GetCurveOnSurf3DLength) instead.
double GetObjSpanInParDir(Bspline* obj, int dir, int curveOnSurf3D);

// 3D length of a curve on a surface: the chords between its points at two samples per interval
// of its knots and of its crossings with the surface's knot lines. -2.0 when memory ran out, and
// for a 2D curve without owner or a surface.
double GetCurveOnSurf3DLength(Bspline* crv);

// dst[i] = src[i * stride] for i < n: one column (stride = row length) or row of a flat
// coefficient block. Does nothing for a null array or a negative stride.
void CopyVecWOffsetToVec(const double* src, int stride, double* dst, int n);

// The distinct interior knots of one direction (u for curves) with their multiplicities;
// values within tol x the direction's parameter range count as one. Both outputs start null;
// with no interior knots the result is 0 and nothing is allocated. Otherwise two arrays are
// allocated for the caller (who frees both) and the number of distinct values is returned;
// -2, with both outputs null, on allocation failure. Knots equal to the domain end within the
// tolerance do not count the end knots in their multiplicity.
int GetDistinctKnots(Bspline* obj, int dir, int** mults, double** knots, double tol);

// Reverses the parametrisation in place: a curve by reverseBspline; a surface in u (dir 0) or
// v (dir nonzero): coefficients flipped in that direction, every knot t becomes c - t with c
// the sum of the first and last knot, the domain reset, and the u (v) coordinate of every
// curve on the surface mapped to c - value.
void ReverseObj(Bspline* obj, int dir);

// Gives the n objects one identical knot vector in each object's direction (dirs null: u):
// each is cleaned (CleanBsplineKnots at 1e-6) and mapped onto [0, 1] (a surface's curves
// follow; with scaleOther the surface's other direction is scaled by the same factor), the
// vectors are merged keeping the larger multiplicity of every value, every object gets the
// knots it lacks by knot insertion (its shape does not change), and the merged vector is
// copied over each, so the vectors are bit-identical. A stretch of knots that the cleaning
// would merge into more than p copies (or into a range end), cutting control lines from it, is
// first collapsed to one knot where the object runs no farther than 1e-6 of its size across it;
// where it runs farther, or the merge would cut one of two unequal lines at a break of p + 1
// equal knots, the set is refused (error state -2); so it is where merging close knots would move
// an object by more than 1e-6 of its size (a rational one with weights spread widely may run that
// far across a cluster of knots). No result: a failure shows in the error
// state, and objects already changed stay changed.
void MakeObjSetCompatible(Bspline** objs, int* dirs, int n, int scaleOther);

// ---- Degrees, rationality and parameter speed of object sets ------------------------------
// While set (a four-surface stitch is running) MakeParOfTwoObjProptnl only shifts, never scales.
extern int isJustCombine;

// Raises every object to the highest degree in the set, each in its direction (dirs[i] nonzero:
// v; curves and a null dirs: u), in place. Nothing for n < 2; a failure stops with the error
// state set (objects before it stay raised).
void EquateDegOfObjSet(Bspline** objs, int* dirs, int n);
// When any object is rational, every non-rational one gets weights 1.0 (MakeObjSetRational).
// Nothing for n < 2 or when none is rational.
void EquateRationOfObjSet(Bspline** objs, int n);
// Gives every non-rational object a weight matrix of 1.0 and sets its rational flag; an
// allocation failure stops the loop with the error state set.
void MakeObjSetRational(Bspline** objs, int n);
// Makes the parameter speed (average control-polygon length per unit parameter) of pair[1] in
// dirs[1] equal to that of pair[0] in dirs[0] by scaling pair[1]'s knots there (dirs null: u);
// with join its range also moves to start where pair[0]'s ends; without keepOther a surface
// pair[1] other than pair[0] has its other direction scaled alike. Speeds within 10 % (or a
// polygon of no length, 1e-9 of the pair's control-point box diagonal or less, or
// isJustCombine) leave the scale alone: -1 without join.
// -1 also for a curve given as both objects; -2 (error state set) for a record that is not
// sound (bsvalid); otherwise 0. One surface as both objects with dirs
// (1, 0) gives u the control-net speed of v. The curves on a surface follow its knots.
int MakeParOfTwoObjProptnl(Bspline** pair, int* dirs, int join, int keepOther);

// ---- Tangent-plane refinement of a joined surface -------------------------------------------
struct StitchInfo;
struct SpreadRecord;

// Copies one control line of src over one of dst (X, Y, Z and, when dst is rational, W). A
// column (flag nonzero) is the line of fixed u index running in v, a row the line of fixed v
// index. dst's line length is copied. Nothing is copied (error state -2) when either record's
// structure is not sound (bsvalid), src's line is shorter or an index names no line.
void SetCntrlLineFromSurf(Bspline* dst, const Bspline* src, int dstIsColumn, int srcIsColumn,
                          int dstIndex, int srcIndex);

// Makes the surface srf, joined at t of the joining direction (u when along is nonzero, else v),
// tangent-plane continuous along the seam: the cross-seam derivative after the seam equals the
// one before it plus a multiple of the seam's tangent that varies linearly along the seam
// (divided by info->vcnWeight, taken absolute and clamped to [0.001, 1000]). Only the seam line
// and its two neighbours change (those info->derivativeSide names); srf's knot vectors are the
// same afterwards. With continuity 0 nothing happens; a degree below 2 across the seam lowers
// info->continuity to it. 0, or -2 for a curve or a failure (srf may keep extra knots then).
int RefineObjVCn(Bspline* srf, double t, int along, StitchInfo* info, const SpreadRecord* spread);
