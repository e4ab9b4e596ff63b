// Joining two curves or two surfaces along a shared boundary: the stitch record, the spread
// record, and the steps that prepare a pair before the join (knots of the second surface moved to
// the first's physical places along the seam, knots across the seam that confine the change to a
// share of each object's range, and copies of the control lines the refinement will change).
//
// The pair has been oriented so that the first object ends at the seam (boundary 1 or 2, a
// curve's end) and the second starts there (boundary 0 or 3, a curve's start).
#pragma once

#include "bspline/smake.h"

// Filled by the caller of a stitch; 64 bytes in this order.
struct StitchInfo {
  int continuity;      // 0 position, 1 tangent, 2 curvature; 3, 4 tangent-plane refinement of surfaces
  int positionSide;    // seam row from 0 the first, 1 the second, 2 their average, 3 a given row
  int derivativeSide;  // rows moved: 0 the first's, 1 the second's, 2 both half-way
  int vcnEnds;         // seam ends with the corner treatment: 0 both, 1 start, 2 end, other neither
  double rangeFraction1;  // share of the first's range, back from the seam, the change spreads over
  double rangeFraction2;  // the same for the second, forward from the seam
  double derivScale1;     // factor on the cross-seam derivative of the first's side afterwards
  double derivScale2;     // the same on the second's side
  double vcnWeight;       // divides the seam tangent's factor in the tangent-plane refinement
  double knotRemovalTol;  // knot removal along the seam after joining surfaces
};

// Made only when a range adjustment applies; its owner frees spreadRows and then the record.
struct SpreadRecord {
  int spread1;       // the first object's affected range holds interior knots
  int spread2;       // the same for the second
  int spreadIndex1;  // knot index in the joined object where the first's affected range begins
  int spreadIndex2;  // knot index in the joined object where the second's affected range ends
  double* spreadRows;  // the control lines at distance `continuity` from the seam, before the join
};

// Surfaces only (a curve pair is left alone). Both objects' knots along the seam (along[i]
// nonzero: v) are mapped onto [0, 1] (curves follow; scaleOther scales the other direction
// alike), then the interior knots of the target along its boundary move to the parameters, on
// the reference's boundary line, of the points the old knots give on the target's boundary. The
// reference is the first object unless the first is the one that moves (continuity nonzero with
// derivativeSide 0, or continuity 0 with positionSide 1). Moves that would bring a knot within
// 1e-4 of a range end or that are smaller than 1e-4 are not made, and a result whose
// multiplicity exceeds the degree is undone completely. No result: a failed allocation leaves
// the pair mapped but not moved, with the error state set.
void ReparametrizeSurf(Bspline** objs, const int* bndry, const int* along, int scaleOther,
                       const StitchInfo* info);

// Inserts knots in each object's direction across the seam (across[i]; curves u) so that the
// change of a stitch with info's continuity stays within rangeFraction1 of the first object's
// range (back from the seam) and rangeFraction2 of the second's (forward from it). When an
// affected range already holds interior knots, the change there is spread instead: *spread then
// receives a new record (Malloc, in the caller's scope), else null. A failed insertion returns
// with the error state set and *spread possibly made and partly filled.
void KnotInsertForRangeAdjust(Bspline** objs, const int* across, const StitchInfo* info,
                              SpreadRecord** spread);

// Copies into spread->spreadRows the first object's control line at distance `continuity`
// before the seam and the second's at that distance after it (for the sides spread1, spread2
// mark): per line its x, y (and z) values, then w when the first object is rational. With
// continuity 0 and both sides the first's line alone (the two coincide). Nothing for a null
// spread; a failed allocation leaves spreadRows null with the error state set.
void GetSpreadVals(Bspline** objs, const int* bndry, const StitchInfo* info, SpreadRecord* spread);

// Moves the control points next to the seam knot t (multiplicity = degree in the joining
// direction; along nonzero: the seam runs in v, so the join is in u; curves join in u) so the
// object becomes tangent (continuity 1) or curvature (2) continuous there: derivativeSide 0 moves
// the rows before t, 1 those after, 2 both half-way. Rational objects are refined in homogeneous
// form. A degree below the continuity (and below 2) lowers info->continuity to the degree. A
// control line whose equations have no solution (a vanishing divisor) is left as it was.
void RefineObjStitch(Bspline* obj, double t, int along, StitchInfo* info);

// Spreads the change the refinement made to the control line at distance `continuity` from the
// seam back (spread1) to spread->spreadIndex1 and forward (spread2) to spread->spreadIndex2,
// falling linearly in the Greville parameter. Nothing for a null spread. A failed allocation
// returns with the error state set and nothing changed.
void ExtendEffectOfStitch(Bspline* obj, int along, double t, const StitchInfo* info,
                          const SpreadRecord* spread);

// Adds w * delta to the control points strictly between from and to (point i at start + i *
// stride), w falling linearly in g from 1 at `from` to 0 at `to`. Nothing when they are fewer
// than two apart or share a parameter.
void DampChangeAlongCntrlLine(Bspline* obj, const double* g, const double delta[4], int stride,
                              int start, int from, int to);

// Scales the derivative of the given order (1 or 2) across the knot t (dir: the joining
// direction, nonzero v) on the side before it (before = 1) or after it, by moving the next one or
// two control points of every control line across t. Nothing for a factor below 1e-7 or within
// 1e-7 of 1, inside a span, for the side after at the object's end, at the object's start (no
// rows before it), or where a line has too few points on that side. An order-2 line whose
// equation has a vanishing denominator is left as it was.
void ScaleObjectDerivative(Bspline* obj, double t, int dir, double factor, int before, int order);

// Stitches the first surface (objs[0], boundary bndry[0]) onto a section of the second's
// boundary bndry[1]: mode 2 the section between fractions a and b of that boundary's range
// (exchanged when b < a), mode 1 the part S1's boundary covers. Section ends within 1e-6 of the
// range of a range end need no cut; ends that close to a knot are cut at it. objs[2] is the
// optional seam-row curve. The second surface is not changed; the first and objs[2] are
// changed as StitchTwoObjects changes them. The stitched first surface (the caller owns it), or
// null on failure and for any other mode.
Bspline* StitchTwoSurfsPartial(int* bndry, Bspline** objs, StitchInfo* info, int mode, double a,
                               double b);

// Stitches a section of each surface's boundary (a[i] to b[i] as fractions of surface i's
// boundary range) to the other's, then joins each stitched section with the rest of its surface
// again (curvature continuous, seam row averaged): out[0], out[1] are new surfaces. The caller's
// surfaces and bndry are not changed. 0, or -2 on any failure with nothing left in out.
int StitchTwoSurfsBothPartial(int* bndry, Bspline** objs, StitchInfo* info, const double* a,
                              const double* b, Bspline** out);

// Direction editing along a curve on a surface (crv: a 2D curve with its owner). Returns a new
// line from the surface point at crv's point nearest to `point` across the curve in the tangent
// plane (tangent x normal); xform takes that point to the origin and the normal onto the z axis,
// inverse undoes it. Null when the nearest point cannot be found or memory ran out.
Bspline* GetClosestCrvAndDirection(Bspline* crv, const double point[3], double xform[4][4],
                                   double inverse[4][4]);

// Rotates the control points of the 3D curve crv by angle degrees about the z axis of the frame
// xform maps to (inverse maps back); weights are not touched. Returns 0.
int RotateCurveByAngle(Bspline* crv, const double xform[4][4], const double inverse[4][4],
                       double angle);

// Normalises a stitch record in place: the object that neither moves its rows (continuity
// nonzero) nor gives the seam row (continuity 0) gets no spread range; continuity 3 and 4 are
// lowered by 2. Returns 1 when the tangent-plane refinement was asked for (3 or 4), else 0.
int MakeStitchInfoConsistent(StitchInfo* info);

// Orients a pair so that objs[0] meets the seam at its end (boundary 1 or 2; a curve's end 2)
// and objs[1] at its start (0 or 3; a curve's start 0), reversing objects as needed and
// rewriting bndry.
void MakeStartAndEndObj(int* bndry, Bspline** objs);

// Joins the oriented, compatible pair (objs[0] ends at the seam, objs[1] starts there) into a
// new object (null scope: the caller owns it) with the seam knot at multiplicity degree. The seam
// row comes from positionSide: 0 the first, 1 the second, 2 their average, 3 seamPoint (a curve:
// x, y, z when 3D, w when rational) or objs[2]'s coefficients (surfaces). When the along flags
// differ the second surface is read transposed and its curve list flipped. *seamPar receives the
// seam parameter. Null on failure, also for positionSide 3 without its row and for pieces whose
// joined record would not be sound (bsvalid: objs[1]'s knots do not follow on from objs[0]'s),
// the error state set.
Bspline* MakeObjFromTwoObj(Bspline** objs, const double* seamPoint, const int* along,
                           double* seamPar, int positionSide);

// Joins objs[0] at boundary bndry[0] and objs[1] at bndry[1] (objs[2]: an optional curve giving
// the seam row of surfaces) with info's continuity across the seam; the pair is changed in place
// (oriented, elevated, reparametrised, knots inserted) and two surfaces hand their curve lists to
// the result. seamPar (when non-null) receives the seam parameter in the result and seamDir
// the seam's direction flag (0 for curves). Null on any failure, also for positionSide 3
// without its row.
Bspline* BlendTwoObjects(int* bndry, Bspline** objs, const double* seamPoint, int* seamDir,
                         double* seamPar, StitchInfo* info);

// BlendTwoObjects split back at the seam: out[0] and out[1] are new objects meeting with the
// record's continuity, in the caller's order. 0, or -2 on failure (nothing left in out).
int StitchTwoObjects(int* bndry, Bspline** objs, const double* seamPoint, StitchInfo* info,
                     Bspline** out);

// ---- three and four surfaces ----------------------------------------------------------------
// Three surfaces: the first two meet at bndry[0], bndry[1]; the third meets the pair at bndry[2].
// Four in a two-by-two arrangement: the first two meet at bndry[0..1], the last two at
// bndry[2..3], and the two pairs along a common boundary. bndry is rewritten; the caller's
// surfaces may be oriented, elevated and refined in place.

// Which boundaries of a and b meet. A boundary index in *bndryB picks a's candidate (0 and 2
// with acrossA, else 3 and 1) whose end points lie nearer, the second on a tie; *bndryB -1
// picks the nearest pair of candidates of both.
void GetSurfPairBndries(Bspline* a, int* bndryA, int acrossA, Bspline* b, int* bndryB, int acrossB);

// Maps every knot vector of the four surfaces onto [0, 1] and scales two of them so that the
// parameter lengths across the common boundary are in proportion to the control-polygon spans;
// the curves listed on the surfaces follow their surface's new parameters, and copies beyond
// p + 1 that the round-off makes are set apart again (SpreadOverfullKnotRuns). Four objects that
// are not all sound (bsvalid) 3D surfaces, or a null bndry, are left as they are, error state -2.
void PropotionSurfKnots(Bspline** objs, const int* bndry);

// out receives three (four) new surfaces meeting with the continuity; 0, or -2 on failure
// (nothing left in out), StitchFourSurfs also for objects refused as PropotionSurfKnots refuses
// them (nothing changed) or a null out. isJustCombine is 0 at every return of StitchFourSurfs.
int StitchThreeSurfs(int* bndry, Bspline** objs, int continuity, Bspline** out);
int StitchFourSurfs(int* bndry, Bspline** objs, int continuity, Bspline** out);

// The surfaces joined into one new surface (their trim lists deleted); null on failure.
Bspline* BlendThreeSurfs(int* bndry, Bspline** objs, int continuity);
Bspline* BlendFourSurfs(int* bndry, Bspline** objs, int continuity);
