// Extension of curves and surfaces across a boundary: by extrapolating the end span (curvature
// continuous), by a bridge patch joined on with a chosen continuity, or by a bridge to a target
// curve (surfaces) or point (curves) blended on; and the bridge patches themselves.
//
// Boundary index edge: 0 u-minimum, 1 v-maximum, 2 u-maximum, 3 v-minimum; for a curve 0 is the
// start and 1 or 2 the end. The direction across an edge is u for edges 0 and 2 and for curves,
// v for edges 1 and 3; d is the degree across. Rows are counted from the boundary inward.
// Continuity cont: 0 position, 1 tangent, 2 curvature; only these are valid.
#pragma once

#include "bspline/smake.h"

// ---- Extension ------------------------------------------------------------------------------
// A new object longer than obj across the edge, or null. Without a target: length 0.0 gives a
// copy; cont 2 extrapolates the end span (ExtendObjectByLengthG2; a curve on a surface is cut
// back at the surface's boundary); cont 0 and 1 join a by-length bridge patch (MakeBridgeObject)
// with that continuity, its cross-join derivative scaled by scale. With a target the bridge to
// it is blended on (BlendTwoObjects, the stitch record {cont, 0, 1, 3, -1, -1, 1, scale, 1, 0}).
// A bridge whose mean control-polygon length across is below 0.001 of obj's size (the diagonal
// of its control points' box, in its own coordinates) moves obj's boundary line onto its far
// line instead (a copy of obj, same knots). cont is lowered to d when d < 2 and d < cont. Side
// effects on obj: a surface loses its trim loops and, on the copy, curvature and by-length
// paths, hands its curves over to the result (obj's list empties); in the by-length path obj
// may be left reversed across the edge (the result runs like the input). Null: cont outside
// 0..2, a by-length bridge shorter than 0.001 of obj's size, a surface given only a target
// point, and any failure (allocation, set operations, joining, blending, knot removal); with the
// error state -2 for an obj or target curve that is not sound (bsvalid), a target point, length
// or scale that is not finite, and a result that would not be sound (a rational blend taking a
// weight to zero or below; obj keeps its curves then).
Bspline* ExtendObject(Bspline* obj, Bspline* targetCurve, double* targetPoint, double length,
                      int uniform, int edge, int cont, double scale);
// The end span continued polynomially (for d <= 3 exactly; higher degrees continue linearly
// beyond the third new point), then min(d + 1, 4) copies of the join knot removed. The added
// part is as long as length: for a 3D curve its arc, for a surface the shortest arc across the
// added strip over 2 n + 1 lines along the edge (n control points along it; the mean when the
// shortest is under a thousandth of the longest), met to 1e-6 of the length by matching the
// parameter step; a curve on a surface is continued by the step of its end span's 3D speed (it is
// cut back at the surface's edge). flag plays no part. obj ends as it came in (v edges are
// computed transposed). Null on failure, also when the end span has no length to measure
// against or the added length does not grow to the length (a rational end whose weights vanish),
// and, with the error state -2, for an obj that is not sound (bsvalid) or a length that is not
// finite.
Bspline* ExtendObjectByLengthG2(Bspline* obj, double length, int flag, int edge);
// A copy of obj in u with d + 1 new control points (zero, weight 1) after its end (end nonzero)
// or before its start (end 0), the u knots extended by dt there with d + 1 copies of the new end
// value. Null on failure; null with the error state -2 for a record whose structure is not sound
// (bsvalid) or a dt that is not positive or puts the new end past the largest double.
Bspline* MakeExtendBspline(Bspline* obj, int end, double dt);
// Fills the d + 1 new control points of each row of a MakeExtendBspline record so the new span
// continues the old end span's first three derivatives (rational records in homogeneous form).
// Left as it is (error state -2) when the record's structure, domain or knots are not sound
// (bsvalid) or it has fewer than max(1, min(d, 3)) control points before the new ones.
void FillExtendCoefi(Bspline* ext, int end);
// ext, orig extended at its start (atStart nonzero) or end, cut back where it leaves orig's
// surface past the join: ext itself when it is not a 2D curve; a copy of ext when fewer than
// three crossings are listed or none lies on the required side; else the kept piece, its free
// end snapped onto the boundary. Null on failure.
Bspline* SnipCrvOnSrfAtSrfEdge(Bspline* ext, Bspline* orig, int atStart);
// Shifts each object's knots in its direction (v for a surface whose dirs entry is nonzero) so
// that it starts where the previous one ends; a surface's curves follow.
void CascadeKnotVecOfObjSet(Bspline** objs, int n, int* dirs);

// ---- Bridge patches -------------------------------------------------------------------------
// A patch from the edge to targetCurve (a surface; the pair is made to run alike and made
// compatible along the edge in place) or to targetPoint (a curve), else by length. Null for
// cont outside 0..2, a surface given only a target point (it has one target, not one per
// boundary control point), a length below 0.001 of obj's size without target, and on failure;
// with the error state -2 for an obj or target curve that is not sound (bsvalid), a target point
// that is not finite, or a patch that is not sound.
Bspline* MakeBridgeObject(Bspline* obj, Bspline* targetCurve, double* targetPoint, double length,
                          int uniform, int edge, int cont);
// Lines across from each boundary control point to its target (x, y, z, w per control point
// along the edge; w only for rational obj): degree d across on [0, 1], u across, v along.
void MakeBPatchFromObjEdgeToCurve3(Bspline* obj, int edge, double* x, double* y, double* z,
                                   double* w, Bspline** patch);
// The patch continuing obj across the edge by length: degree min(d, 3) across (v for surfaces,
// u along), rows reflected (cont 0, 1: straight on; cont 2: the Bezier end span's rows 2, 3
// mirrored) and scaled so that the shortest line across (uniform on a surface: every line) has
// the length. obj is not changed. 1, or 0 for |length| below 0.001 of obj's size (the diagonal
// of its control points' box, in 3D for a curve on a surface), cont outside 0..2 or failure.
int MakeBPatchOfCnToObj(Bspline* obj, int edge, double length, int uniform, int cont,
                        Bspline** patch);
// Inserts knots so that obj's span next to the edge (direction dir) is one Bezier span; the
// count inserted (0 without interior knots, <= 0 when none was needed).
int PutEndSpanOfObjToBpatch(Bspline* obj, int dir, int edge);
// o[k] = 2 b[k strideB] - a[k strideA]; z skipped when az is null.
void Reflect3DVector1(double* ax, double* ay, double* az, double* bx, double* by, double* bz,
                      int strideA, int strideB, int n, double* ox, double* oy, double* oz);
// o[k] = c[k] mirrored in the plane through b[k] perpendicular to b[k] - a[k] (c[k] when
// |b - a| <= 1e-10); inputs stride apart, outputs contiguous; z skipped when az is null.
void Reflect3DVector2(double* ax, double* ay, double* az, double* bx, double* by, double* bz,
                      double* cx, double* cy, double* cz, int stride, int n, double* ox,
                      double* oy, double* oz);
// Shortest (out[0]) and longest (out[1]) polyline of `lines` lines; {1.797693e308, 0} for none,
// and for a null x or y or a negative stride.
void FindExtremeLinesInGrid(double* x, double* y, double* z, int pointStride, int lineStride,
                            int pointsPerLine, int lines, double out[2]);
// m[i] = ref[i mod stride] + s (m[i] - ref[i mod stride]); nothing for a null ref or n < 1.
void ScaleMatWithRespectToVec(double* m, double* ref, double s, int n, int stride);
// Lengthens every control column (dir 1) or row (dir 0) of a surface shorter than length (and
// longer than 0.001 length) at its last leg to that length; nothing for curves or length < 1e-6.
void MakeCntrlMatUniformLength(Bspline* srf, double length, int dir);
