// N-sided holes and caps. A hole bounded by a closed loop of n side curves (3D curves or curves
// on surfaces, side i ending where side i + 1 starts) is filled with n four-sided patches that
// meet at one interior point, the centre: mid curves run from the middle of every side to the
// centre and split the hole, and each patch is bounded by two halves of sides and two mid
// curves, tangent to the surfaces around the hole where asked. A cap closes a loop of any
// number of sides with one surface lofted through radial mid curves.
//
// Index conventions (n sides): sidePos[2i] is the first half of side i (from its start corner
// to its mid point M_i), sidePos[2i + 1] its second half turned to run from its end corner to
// M_i; sideTan[] are their cross-boundary tangent curves (null without a tangent request).
// midPos[i] runs from M_i to the centre; midTan[2i] is the tangent curve along it in the patch
// before it (bounded by the first half of side i), midTan[2i + 1] the one in the patch after.
// The halves facing each other across mid curve i + 1 are 2i + 1 and (2i + 4) mod 2n; at corner
// K_i (end of side i) they are 2i + 1 and (2i + 2) mod 2n.
#pragma once

#include "bspline/smake.h"
#include "foundation/vec3.h"

// ---- Centre point and mid curves ---------------------------------------------------------------
// Orthogonal projection of p onto a x + b y + c z + d = 0 (normal not zero; it need not be unit).
void GetClosestPntOnPlane(const double p[3], const double plane[4], double out[3]);
// The hole's centre and its plane: the mean, over the sides, of the point half-way along a loft
// from the start corner of each side to the middle of the side across the hole (side i + k,
// k = (n - 3) / 2 + 1), each loft tangent to the owners of sides on surfaces; the plane through
// the centre normal to the mean unit loft normal (left zero when those cancel). On failure the
// error state is set and the outputs are incomplete.
void GetHoleCenterNew(Bspline** sides, int n, double centre[3], double plane[4]);
// n new mid curves (a new array; the caller frees both), mid curve i from side i at the fraction
// t of its range to the centre: cubic Bezier curves on [0, 1] leaving a side on a surface in its
// owner's tangent plane (a 3D side straight toward the centre) and arriving at the centre in the
// centre plane, both legs a third of the straight distance. Null on failure.
Bspline** MakeMidCurvesNew(Bspline** sides, int n, double t, const double centre[3],
                           const double plane[4]);
// Mid curves at every distinct knot of the sides (interior knots and the end knot; knots within
// 1e-6 of the side's range of the one before count once; the last side's end closes the loop and
// gets none) written into the caller's out; their number. On failure the curves made are freed
// and the error state is set: callers test the error state, not the count.
int GetAllMidCurves(Bspline** sides, int n, const double centre[3], const double plane[4],
                    Bspline** out);
// Start direction of a mid curve at p = side(t): toward the centre, in the owner's tangent plane
// for a curve on a surface (scaled by |N|^2); not unit.
void GetTanDirFromMidPnt(Bspline* side, const double centre[3], const double p[3], double t,
                         double dir[3]);
// End direction at the centre: p - centre projected into the plane of the normal (scaled by
// |N|^2); not unit.
void GetTanDirFromCenter(const double normal[3], const double centre[3], const double p[3],
                         double dir[3]);
// A new cubic Bezier curve (3D, knots 0, 0, 0, 0, 1, 1, 1, 1) through the four control points.
// Null on allocation failure.
Bspline* ConstructCubicBezeir(const double p0[3], const double p1[3], const double p2[3],
                              const double p3[3]);

// ---- Half-side position and tangent curves ------------------------------------------------------
// None returns a value: failures leave the error state set and the caller unwinds. The steps of
// this section and the next refuse (error state -2, nothing written) records that are not sound
// (bsvalid) in the entries they read, and, where they read or write control points by index,
// curves that are not 3D or have fewer control points than those indices (the mid tangent
// curves four, a tangent curve no more than the curve it is read against).
// The halves of every side (cut at its parameter mid point) and, for sides with sideCont >= 1,
// their cross-boundary tangent curves from the curves on surfaces cosSides, guided between the
// neighbouring half and the mid curve; second halves turned to start at their corner. On
// failure every half and tangent curve made is freed; the entries it writes (every half, the
// tangent curves of sides with sideCont >= 1) are null then, whatever the caller had there.
void GetSidePosAndTanCurves(Bspline** posSides, Bspline** cosSides, Bspline** midPos,
                            int* isoFlags, double tol, int* sideCont, int n, Bspline** sidePos,
                            Bspline** sideTan);
// Reverses every second half and its tangent curve.
void ReverseNI1Curves(Bspline** sidePos, Bspline** sideTan, int n);
// The halves facing each other across each mid curve, with their tangent curves, raised to one
// degree; and given one knot vector.
void MakeSideCrvsDegreeCompatible(Bspline** sidePos, Bspline** sideTan, int n);
void MakeSideCrvsKnotCompatible(Bspline** sidePos, Bspline** sideTan, int n);
// Tangent curves to control form (position + m derivative) with one factor per side: the mean
// of the two halves' corner ratios |corner leg of the neighbour| / |first derivative|. scratch
// receives the two reference points of each side (6 doubles per side).
void PutSideTanVecToTanCurves(Bspline** sidePos, Bspline** sideTan, int n, double* scratch);
// One side: tangent curves tan0, tan1 of the halves pos0, pos1 (both starting at a corner) to
// control form scaled by s times the mean corner ratio (pts: the reference points A, B), or with
// vary set and ratios 1 % or more apart, by a factor running linearly from each half's own
// ratio at its corner to the mean at the mid point. Nothing for a curve on a surface.
void GetSideScaledDerivCntrl(Bspline* tan0, Bspline* tan1, Bspline* pos0, Bspline* pos1,
                             const double pts[6], double s, int vary);
// Knot removal within tol and angle over each pair of facing halves and their tangent curves,
// the first half's interior knots the candidates.
void CleanSideCrvs(Bspline** sidePos, Bspline** sideTan, int n, double tol, double angle);
// Tangent curves back to derivative form and scaled again with the varying factor.
void RescaleSideTanCurves(Bspline** sidePos, Bspline** sideTan, int n);
// At each corner the second control points of the two tangent curves set to their average.
void TwistCompatibleAtCornerJoints(Bspline** sideTan, int n);

// ---- Mid tangent curves, centre twist and tangent-plane condition ------------------------------
// The second control point of each mid curve from the first half's tangent curve at M_i,
// stretched by the first span of the half the mid curve takes its knots from.
void MidCurveCurvatureCorrection(Bspline** midPos, Bspline** sidePos, Bspline** sideTan, int n);
// The 2n tangent curves along the mid curves (nothing when centreCont[0] is 0): design
// parameters, end points, centre twists, the tangent-plane condition and the scaling. On
// failure the tangent curves are freed (entries null).
void GetMidTanCurves(Bspline** midPos, Bspline** sidePos, int* centreCont, int n,
                     Bspline** midTan);
// a = 0, d = 1, c[i] the ratio of the two handles of side i at M_i (w = c v in least squares;
// 1 where a handle has no length or the two are perpendicular), b[i] from the neighbouring mid
// curves at the centre (in least squares along the mid curve's end leg): ratios that do not
// change when the hole is turned.
// *handles: a new block of the 2n handle points (the caller frees it). On failure nothing is
// handed out and the error state is set.
void GetDesignParams(Bspline** midPos, Bspline** sidePos, int n, double* a, double* b, double* c,
                     double* d, double** handles);
// T0 (the handle), T3 (the neighbouring mid curve's point next to the centre), T1 their middle,
// then the centre twists.
void FillMidTanCurves(Bspline** midPos, int n, double* a, double* b, double* c, double* d,
                      const double* handles, Bspline** midTan);
// The n centre twist points from the cyclic system, written as T2 of the two tangent curves of
// each patch. zk_error_status -2 when the system is singular (T2 left as it was).
void GetCenterTwistPoints(Bspline** midPos, int n, double* a, double* b, double* c, double* d,
                          Bspline** midTan);
// T1 of the two tangent curves along each mid curve adjusted so that Te.T1 + c To.T1 equals the
// mid curve's combination; with c = 0 the whole residual goes to Te.
void ForceTangnetPlaneCondition(Bspline** midPos, int n, double* a, double* b, double* c,
                                double* d, Bspline** midTan);
// Tangent curves scaled about their mid curve by the last-span fraction of the half next to it.
void ScaleMidTanCurves(Bspline** sidePos, Bspline** midPos, int n, Bspline** midTan);
// Each mid curve, the halves opposite it and all their tangent curves raised to one degree; the
// mid curve and its tangent curves given the knots of the half opposite it.
void MakeMidAndSideDegreeCompatible(Bspline** midPos, Bspline** midTan, Bspline** sidePos,
                                    Bspline** sideTan, int n);
void MakeMidAndSideKnotCompatible(Bspline** midPos, Bspline** midTan, Bspline** sidePos, int n);
// The centre twist point of each patch, and the twist points at each M_i, set to the average of
// the two tangent curves that carry them.
void TwistCompatibleAtCenterJoints(Bspline** midTan, int n);
void TwistCompatibleAtMiddleJoints(Bspline** sideTan, Bspline** midTan, int n);

// ---- N-sided hole filling -----------------------------------------------------------------------
// The working arrays of one hole fill (index conventions above); every curve they hold has
// exactly one owner among them. boundaries[4i .. 4i + 3] and derivatives[4i .. 4i + 3] are the
// four sides of patch i and their control-row curves: a copy of midPos[i], midPos[i + 1],
// sidePos[2i + 2], sidePos[2i + 1] and midTan[2i + 1], midTan[2i + 2], sideTan[2i + 2],
// sideTan[2i + 1].
struct BlendArrays {
  Bspline** midPos;       // n
  Bspline** midTan;       // 2n
  Bspline** sidePos;      // 2n
  Bspline** sideTan;      // 2n
  Bspline** boundaries;   // 4n
  Bspline** derivatives;  // 4n
  double* scratch;        // 6 doubles per side
};
// All seven blocks, pointer entries null, kept outside every scope. 0, or -2 with nothing made.
int MallocBlendArrays(BlendArrays* arr, int n);
// Frees every curve the arrays still hold, each once, and the blocks.
void FreeBlendArrays(BlendArrays* arr, int n);

// A new array of n patches (n 3 or 5) filling the hole bounded by the loop of sides: per side
// sideCont 0 position, 1 or 3 tangent to the side's surface, 4 an implied tangent strip from the
// neighbours' end directions on a 3D side (1 on a curve on a surface); centreCont (all equal) 0
// or not for tangent curves along the mid curves. tol (negative: 0) and angle (degrees; outside
// 0..90: 0) clean the knots; samples goes to the cross derivatives (-1 automatic). Refused
// (null, error state untouched): n other than 3 and 5, a value below 0, 2 or above 4, unequal
// centre values. Null on failure (error state set).
Bspline** FillNSidedHole(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                         double angle, int samples);
// The first step of the two-step fill: the snipped position curves and curves on surfaces, the
// virtual surfaces with their boundary curves, the centre plane and the 2n flags (iso flags,
// then effective continuity), all the caller's; returns a new centre. An implied-tangent side is
// replaced in the caller's sides by its strip curve (the caller owns it and its strip). Null on
// refusal (as FillNSidedHole) or failure.
double* FillNSidedHoleInit(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                           double angle, int samples, Bspline*** posSides, Bspline*** cosSides,
                           Bspline*** virtualCurves, Bspline*** virtualSurfs, double plane[4],
                           int** flags);
// The second step: the patches around the given centre and plane. On failure the position and
// surface-curve arrays (with their curves) are freed; on success they stay the caller's.
Bspline** FillNSidedHoleWCenter(Bspline** posSides, Bspline** cosSides, int n, double* centre,
                                double* plane, int* isoFlags, int* sideCont, int* centreCont,
                                double tol, double angle, int clean);
// The curve network of a hole fill: new boundary and derivative arrays of 4n entries (the
// caller frees them and their curves), or both null on failure.
void GetAllBlendCurves(Bspline** posSides, Bspline** cosSides, Bspline** midCurves, int* isoFlags,
                       int* sideCont, int* centreCont, int n, double tol, double angle,
                       Bspline*** boundaries, Bspline*** derivatives, int clean);
// A new array of the n patches blended from the network (LinearBlendSurface). Null on failure.
Bspline** BlendNHole(Bspline** boundaries, Bspline** derivatives, int n);
// A new array of n virtual surfaces (null for sides without a tangent condition) skinned between
// each side's position curve and its cross-derivative curve, and through curves n new curves:
// each virtual surface's boundary 3 as a curve on it, else a copy of the position curve. Null on
// failure (nothing left).
Bspline** CreateVirtualSurfs(Bspline** posSides, Bspline** cosSides, int n, int* isoFlags,
                             int* sideCont, Bspline*** curves, double tol, double angle);
// CreateBlendSurface1 without its curve arrays (freed here), the surface's u given the control
// net's speed of v. Null on failure.
Bspline* CreateBlendSurface1Proptnl(Bspline** curves, int n, int* orders, double* scales,
                                    double tol, double angle, int threeD, int reparamMode,
                                    int countA, int countB);
// midPos[i] = a copy of mid curve i. On failure the copies made are freed (error state set).
void GetMidPosCurves(Bspline** midCurves, int n, Bspline** midPos);
// Moves the network into the boundary and derivative arrays (the layout of BlendArrays); the
// only copy made is that of midPos[i] for entry 4i. On failure the error state is set.
void FillCurveArrays(BlendArrays* arr, int n);
// Entries 4i + 1 and 4i + 3 of both arrays reversed, so that opposite sides run alike.
void ReverseUCurves(Bspline** boundaries, Bspline** derivatives, int n);
// All curves rational when one is, then end weights 1. Refused (error state -2, nothing changed)
// for n < 1, null arrays, a boundary that is not a sound 3D curve, an unsound derivative (bsvalid).
void EquateRationalityOfBlendCurves(Bspline** boundaries, Bspline** derivatives, int n);

// ---- Cap boundaries: splitting, cross-boundary directions, three-way division -------------------
// The knots of curve obj (past the span of t, up to but not including the last interior knot)
// where its first derivative has turned by angle degrees or more since t or the last knot
// recorded: a new array in *knots (null without any), *count of them. Surfaces have none; a
// record that is not sound (bsvalid) none either, with the error state -2.
void GetKnotsOutOfTanTol(Bspline* obj, int dir, double t, double angle, double** knots,
                         int* count);
// The loop with every side split at its turns of 90 degrees or more: new arrays (the caller's)
// of *newN position curves, curves on surfaces (new pieces, or copies of unsplit sides) and the
// three per-side values repeated for each piece. On failure nothing is handed out.
void GetNewBndryArrays(Bspline** pos, Bspline** cos, int n, int* a, int* b, int* c,
                       Bspline*** newPos, Bspline*** newCos, int* newN, int** newA, int** newB,
                       int** newC);
// A new array of n cross-derivative curves on the position curves' knots, guided between the
// cross lines at each side's ends (null for sides with sideCont < 1). The lines and the vectors
// are as long as a mean side of the loop (its length over n), so that the strips they make keep
// their shape at every size. Null on failure.
Bspline** Get3DDerivativeVectors(Bspline** pos, Bspline** cos, int n, int* isoFlags,
                                 int* sideCont);
// Each present derivative curve becomes position minus derivative, control point by control
// point.
// Refused (error state -2, nothing changed) for curves that are not sound 3D curves (bsvalid) or
// a derivative curve with more control points than its position curve.
void Get3DDerivativeCurves(Bspline** pos, Bspline** deriv, int n);
// The unit cross lines at the start and end of a side, each averaged with the neighbouring curve
// on a surface there. On failure both are null.
void GetCrossCurves(Bspline* cos, Bspline** lineStart, Bspline** lineEnd, Bspline* prevCos,
                    Bspline* nextCos);
// A new straight line from cos(t) one unit along its cross-boundary direction, averaged with the
// neighbour's at tn when the neighbour is a curve on a surface. Null for a curve without owner
// (error state -2) and on failure.
Bspline* GetUnitCrossBoundaryBspl(Bspline* cos, double t, Bspline* neighbour, double tn);
// The unit direction in the owner's tangent plane, across the curve at t, pointing away from the
// owner's trimmed material (the side is read at the curve's middle). Zero for a curve without
// owner.
void GetUnitCrossBoundaryDeriv(Bspline* cos, double t, double dir[3]);
// Three points dividing the closed loop into arcs of equal length: side indices and parameters,
// the first at the start of side 0; a point within 1 % of the loop's length of a side's end moves
// to the next side's start, within 1 % of its start to the start. 0, or -2 with zk_error_status
// -12 when two consecutive sides are more than 1 % of the length apart; -2 (error state -2) for
// sides that are not sound 3D curves (bsvalid).
int GetBndryDivisionPoints(Bspline** pos, int n, int div[3], double par[3]);
// A new array of the three arcs of the loop between the division points, the curves of each
// joined into one; three nulls when curves[0] is null. Null on failure.
Bspline** GetBndryDivisionCurves(Bspline** curves, int n, int div[3], double par[3]);

// ---- N-boundary caps ----------------------------------------------------------------------------
// FillNBoundaryCapNew.
Bspline** FillNBoundaryCap(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                           double angle);
// A new one-entry array holding a cap over the closed loop of n sides (3D curves or curves on
// surfaces): sides split at sharp turns, the loop divided into three arcs, a centre as for a
// three-sided hole, and one surface lofted through radial curves from every distinct knot of the
// boundary to the centre, between the two mid-curve lofts at the first division point. Side and
// centre values 0 (position) or 1 (tangent); the least of each applies to all (a 3D side counts
// 0). Null for n < 1 or a value outside 0..1 (error state untouched), -12 for an open loop, null
// on failure.
Bspline** FillNBoundaryCapNew(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                              double angle);
// A new array of three surfaces skinned between each arc and its derivative curve (null without
// one) and through curves three new curves: each surface's boundary 3 on it, else a copy of the
// arc (the caller frees the curves before the surfaces). Null on failure.
Bspline** Get3LoftSurfAroundCap(Bspline** arcs, Bspline** arcDerivs, Bspline*** curves);
// A new array of the six tangent curves along the three mid curves (all null for a centre value
// of 0). Null on failure.
Bspline** GetMidTanCurvesCap(Bspline** mids, Bspline** arcs, int* centreCont);
// Rotates the array right by k mod n places. Nothing for n < 2.
void ShiftBsplInArray(Bspline** a, int n, int k);
// A new array of six surfaces skinned between mid curve j / 2 and tangent curve j, and through
// curves each one's boundary 3 on it; without the tangent curve a null surface and a copy of the
// mid curve. Null on failure.
Bspline** GetMidLoftSurf(Bspline** mids, Bspline** midTans, Bspline*** curves);
// The cap lofted through the first mid-loft curve, the radial curves of the n sides (cleaned
// within tol and angle, against their derivative curves when cont is 1) and the second mid-loft
// curve: a new one-entry array. Null on failure.
Bspline** FillCapHoleNew(Bspline** midLoftCurves, Bspline** pos, Bspline** derivs, int n,
                         double* centre, double* plane, int cont, double tol, double angle);
// Knot removal from the set within tol (0 when angle is 0; with useDeviation at most the
// boundary deviation of set[0] against set[1] at the angle). 0, or -2 after a failure, and (error
// state -2) for a set of fewer than two curves or with a record that is not sound (bsvalid).
int CleanLoftCurvesOneSide(Bspline** set, double* knots, int count, int setSize, int useDeviation,
                           double tol, double angle);
// An older cap: three three-sided hole fills, hole k bounded by outer[2k + 1], inner[k] and
// outer[(2k + 2) mod 6]; a new array of the nine patches. Null on failure.
Bspline** FillCapHole(Bspline** outer, Bspline** inner, int contB, int contA, double tol,
                      double angle);
