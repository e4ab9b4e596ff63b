// Merge (bridge) and fillet surfaces between two curves on surfaces: a bridge of bicubic
// Hermite (Coons) patches per span that leaves each surface in its tangent plane, refined where
// a patch misses the surfaces; lofts between boundaries or curves on surfaces; and the smoothing
// of one control line.
//
// Hermite matrices: rows for t^3, t^2, t, 1 and columns for P0, P1, T0, T1 (H[1] the transpose
// of H[0]). Power-to-Bezier matrices: rows for the control points, columns t^3 .. 1. A patch's
// geometry matrix per coordinate (G[k], 4 x 4): row 0 P1(a), P1(b), T1(a), T1(b); row 1 the same
// of the second curve; rows 2, 3 the bridge vectors D1(a), D1(b) and D2(a), D2(b), then zero
// twists. u runs across the bridge (0 on the first curve), v along the span.
#pragma once

#include "bspline/smake.h"

// ---- Hermite bridge ---------------------------------------------------------------------------
// The bridge from c1 to c2 (curves on surfaces with one parameter range and knot vector): one
// patch per span between c1's distinct knots, refined (at most six passes) where a patch's edge
// misses its surface by more than 0.001 in position (of the curves' size: the bridge is made on
// copies scaled by the power of two at or below the longest side of the curves' box and moved to
// its centre, then mapped back) or 0.5 degrees in normal, joined into one
// bicubic surface on u [0, 1] with double interior v knots, its normal agreeing with c1's
// surface at the start. flip1 -1 negates the bridge vectors on c1, flip2 1 those on c2; scale1,
// scale2 multiply their magnitudes; perp1, perp2 choose directions perpendicular to the curve.
// opt1, opt2 are not read. Null on failure, also when a continuity check fails.
Bspline* FindMergeSurfFrom2Curve2s(Bspline* c1, Bspline* c2, int opt1, int opt2, int flip1,
                                   int flip2, double scale1, double scale2, int perp1, int perp2);
// The Hermite matrix pair (a new 2 x 4 x 4 block; matrix_free_3dim_ff(2, *H) frees it).
void FindHermiteFunctions(double**** H);
// The power-to-Bezier pair for flag 1 (both members the same symmetric matrix), or the flag-0
// pair; a new 2 x 4 x 4 block.
void FindBsplineFunctions(double**** B, int flag);
// C[k] = H[0] G[k] H[1] for x, y, z, G from FindCoonsInfoFrom2Curve2s over the spans.
void Find3DCoonsPatchFrom2Curve2s(Bspline* c1, Bspline* c2, double*** H, double*** C, double*** G,
                                  double*** scratch, const double span1[2], const double span2[2],
                                  int opt1, int opt2, int flip1, int flip2, double scale1,
                                  double scale2, int perp1, int perp2);
// The geometry matrices of the spans [span1] of c1 and [span2] of c2.
void FindCoonsInfoFrom2Curve2s(Bspline* c1, Bspline* c2, const double span1[2],
                               const double span2[2], int opt1, int opt2, double*** G, int flip1,
                               int flip2, double scale1, double scale2, int perp1, int perp2);
// The unit bridge direction at p toward q: q - p projected into the tangent plane of srf at uv
// (perp 1: the tangent-plane perpendicular N x T of the curve tangent T, turned toward that
// projection); the zero vector when shorter than 1e-10 of |q - p| (of |q - p| |T| with perp), so
// that the direction is the same at every size.
void FindBridgeDirection(Bspline* srf, const double uv[2], const double p[3], const double q[3],
                         const double Su[3], const double Sv[3], const double T[3], int perp,
                         double D[3]);
// D scaled to 2 scale |W|^2 / (|W| + D . W), W = q - p: scale |W| toward q, twice it across.
// The zero vector for |W| < 1e-10 and for a D pointing straight away from q (no arc reaches q).
void FindBridgeMagnitude(const double p[3], const double q[3], double D[3], double scale);
// coef (4 x 4, [v][u]) = (B[0] C B[1])^T.
void PutCoonsInfoToSplineCoefi(double** C, double*** B, double*** scratch, double** coef);
// A new bicubic Bezier surface on [umin, umax] x [vmin, vmax] from the patch C (x, y, z).
Bspline* PutCoonsPatchToBsplinePatch(double*** C, double*** B, double*** scratch, double umin,
                                     double umax, double vmin, double vmax);
// n new Bezier surfaces, patch j on [u0, u1] x [spans[2j], spans[2j + 1]]; null on failure.
Bspline** PutNCoonsPatchesToNBsplineSurfs(double**** C, int n, double*** B, const double* spans,
                                          double u0, double u1);
// One surface through the n patches over t_0 .. t_n: rows of neighbouring patches averaged at
// each joint and two of the four copies of every joint knot removed. Null on failure.
Bspline* PutNCoonsPatchesToABsplinePatch(double**** C, int n, double*** B, const double* t,
                                         double u0, double u1);
// The same; null when the error state is set afterwards.
Bspline* PutNCoonsPatchesToABsplineSurf(double**** C, int n, double*** B, const double* t,
                                        double u0, double u1);
// Gaussian smoothing (half width min((count - 1) / 2, halfWidth, 10)) of one control line: a
// surface's column index (alongV) or row index, a curve's whole polygon (alongV 0, index 0).
// 0, or -2 for another line of a curve or on allocation failure.
int SmoothControlLine(Bspline* obj, int alongV, int index, int halfWidth);

// ---- Merge and fillet front ends ------------------------------------------------------------
// A cubic loft between boundary side1 of s1 (or c1) and side2 of s2 (or c2), position only, into
// *out. 1 when attempted (*out null when the loft failed: the error state tells why); 0 when
// refused (the same boundary twice) or when a boundary curve could not be made.
int CreateMergeSurface(Bspline* s1, int side1, Bspline* c1, Bspline* s2, int side2, Bspline* c2,
                       Bspline** out);
// A loft between two curves on surfaces, tangent to both (end spans scale1, scale2), with
// proportional parameters. opt1..opt4 are not read. Null on failure.
Bspline* FindFilletSurfFrom2Curve2s(Bspline* c1, Bspline* c2, int opt1, int opt2, int opt3,
                                    int opt4, double scale1, double scale2);
// The Hermite bridge between copies of the two curves on surfaces given one parametrisation
// (GetMergeCurve2s; the copies stay listed on the surfaces), with proportional parameters.
Bspline* CreateMergeSurfaceGivenCurve2s(Bspline* c1, Bspline* c2);
// New curves m1 on s1 and m2 on s2 (at the heads of their curve lists) copied from c1 and c2,
// mapped onto [0, 1] unless their ranges already agree (round-off runs beyond p + 1 set apart
// again), with knots where they cross their surface's knot lines and one common knot vector. On
// failure both null (removed and freed).
void GetMergeCurve2s(Bspline* s1, Bspline* c1, Bspline* s2, Bspline* c2, Bspline** m1,
                     Bspline** m2);
// Cubic curves on s1 and s2 (appended to their curve lists) through the n (u, v) points of each;
// a failed interpolation leaves both null, nothing linked.
void GetFilletCurve2s(Bspline* s1, const double* uA, const double* vA, Bspline* s2,
                      const double* uB, const double* vB, int n, Bspline** c1, Bspline** c2);
