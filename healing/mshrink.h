// Boundary-curve wraps and tangential healing on the boundary structure of a surface group.
//
// A natural-side boundary curve (side 1 u-min, 2 v-min, 3 u-max, 4 v-max) is the iso-parameter
// curve of its surface along that side, so its control points are exactly the surface's
// boundary row of control points (a column for sides 1 and 3, a row for sides 2 and 4, since
// the matrices are indexed [v][u]). The positional wrap refits that curve to the averaged
// samples of its edges under exact corner positions and corner tangent directions and writes it
// back into the boundary row. The tangential heal moves only the second row next to a boundary
// that meets a smooth (G1) joint: it removes from the cross-boundary derivative its component
// along the averaged normal of the two sides. Knots and degrees never change on either road,
// except through the general wrap with knot insertion.
//
// Results: 0 success, -2 failure. New records handed back to the caller (curves, constraint
// arrays, sample arrays) survive the caller's tracked-scope release; the caller frees them.
#pragma once

#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/shrink.h"

struct Bspline;
struct BndrStruct;
struct CrvInfoStruct;

// ---- positional wrap of a boundary curve ------------------------------------------------------
// Corner constraints of a curve: one position entry per corner (the end of its last edge, then
// the start of each edge in list order), then two normal entries per usable corner that hold
// the curve's tangent there along the corner's tangent direction. Clears the record first; a
// curve without edges gives 0 and no constraint; no usable normal entry left gives -2.
int SetBndrCrvWrapConstraint(BndrStruct* bs, int curve, LinearConstraint* c);
// Its two halves. NewSetBndrCrvWrapConstraint: the position entries alone (the record cleared
// first; a curve without edges gives 0 and none). NewSetBndrCrvWrapTangentConstraint: the normal
// entries alone (none usable: -2, none installed). Each -2 for a bad curve or a failed
// allocation.
int NewSetBndrCrvWrapConstraint(BndrStruct* bs, int curve, LinearConstraint* c);
int NewSetBndrCrvWrapTangentConstraint(BndrStruct* bs, int curve, LinearConstraint* c);
// Keeps, per position entry in order, the entry with its two normal entries while the curve's
// knots still suffice for everything kept, else the position entry alone when that suffices.
// Needs two normal entries per position.
int ReduceWrapConstraint(Bspline* curve, LinearConstraint* c);

// Refit of a natural-side curve to its edges' averaged samples, written into its surface's
// boundary row and installed as its 3D form. Trim and fixed curves: 0, nothing done. The fit
// runs on a copy brought to at most unit size (by a power of two), so the params' weights mean
// for a curve of any size what they mean below unit size.
// *reduced = 1 when the corner constraints had to be reduced (or could not be met at all, in
// which case the curve stays as it was and 0 is returned by the basis-value path). On the
// basis-value path a curve of degree 4 or more whose seams are all smooth (a curve of one span:
// or creases against straight sides of degree 1) and between surfaces that keep rows of their
// own (no shared row, no closed surface's own seam) keeps its points where
// they lie along it (as the structure's slideAnchor holds them, else as they are), but for the
// slide its held positions make: the samples' moves along it are not fitted.
int WrapBndrCrv3ToSamplePoints(BndrStruct* bs, int curve, int insertKnot, int refine,
                               const ShrnkWrapParams* params, int* reduced);
// The basis-value path, which WrapBndrCrv3ToSamplePoints takes with insertKnot and refine 0:
// the fit on the edges' basis tables, with the constraints reduced when the knots do not suffice.
// -2 when the constraints cannot be set or reduced, the fit fails, or it turns back at a corner.
int WrapBndrCrv3ToSamplePointNubVals(BndrStruct* bs, int curve, const ShrnkWrapParams* params,
                                     int* reduced);

// Interior samples of the curve's edges (each edge's first and last left out): the curve's own
// parameters and the averaged points, with pointers into the edges' basis-value tables (degree
// + 1 values) and spans of the curve's side. New arrays; *basis and *spans point into the
// edges' tables, so they are valid while those tables are. No sample: -2.
int SetBndrCrvWrapPointSamplesAndNubVals(BndrStruct* bs, int curve, double** t, double** x,
                                         double** y, double** z, double*** basis, int*** spans,
                                         int* count);
// The same samples without the basis tables; the outputs are cleared first. -2 for a bad
// argument, no sample or a failed allocation.
int SetBndrCrvWrapPointSample(BndrStruct* bs, int curve, double** t, double** x, double** y,
                              double** z, int* count);
// Keeps the samples inside the curve's domain, their parameters moved to the closest points
// of the curve's 3D form; the arrays are compacted in place.
int RefineBndrCrvWrapPointParams(CrvInfoStruct* crv, double* t, double* x, double* y, double* z,
                                 int* count);

// Writes the curve's control points into the surface's boundary row of the side (0: nothing),
// first making the curve's knots knots of the surface in that direction. 0; -2 (the surface as it
// was) for a null or non-3D surface, a null curve, a side outside 0..4, records that are not
// sound (bsvalid; error state -2), a curve that is not a 3D curve (error state -2), a degree or
// control count that does not fit the side, or a failed knot insertion.
int UpdateSrfBndryCrvGeom(Bspline* surface, int side, const Bspline* curve);

// After boundary rows moved (before: the surface's earlier control points, x y z per point, u
// fastest, nu x nv of them), the second row next to each boundary takes its boundary's
// displacement, so the derivative across every boundary stays as it was; the point diagonal to
// a corner, in two second rows, takes the mean of the two sides' displacements, or, where its
// legs to the two boundaries differ in length more than 4 times or the mean would leave one of
// them with half its length or less along where it pointed, the blend that turns both legs alike
// (each side's displacement weighted by the other side's leg). Other counts than the surface's
// now: 0, nothing done.
int CarrySecondRows(Bspline* surface, int nu, int nv, const double* before);

// The control points of every surface of a topology (x y z per point, u fastest, nu x nv of
// them), to go back to or to follow. The arrays live outside every tracking scope, made on the
// first save (start from a zero record) and again when a surface's counts change;
// FreeSrfGrpNets releases them.
struct SrfGrpNets {
  int n;
  int* nu;
  int* nv;
  double** pts;
};
// Copies every surface's control points into nets. -2 for a bad argument, a record saved for
// another number of surfaces, a surface that is not a 3D surface, or a failed allocation.
int SaveSrfGrpNets(BndrStruct* bs, SrfGrpNets* nets);
// Puts the saved points back into every movable surface whose counts are still the saved ones.
int RestoreSrfGrpNets(BndrStruct* bs, const SrfGrpNets* nets);
// CarrySecondRows on every movable surface since the save.
int CarrySrfGrpSecondRows(BndrStruct* bs, const SrfGrpNets* before);
// Frees the arrays and zeroes the record; null is ignored.
void FreeSrfGrpNets(SrfGrpNets* nets);

// ---- tangential heal ----------------------------------------------------------------------
// Repeats correction passes until the largest folded normal angle over the G1 edges is below
// 0.95 angleTol (never in the first two iterations), worsens twice in a row, or stops
// improving. gapTol and flag are accepted for the callers' sake and not read.
int NewHealSrfGrpEdgeG1Continuity(BndrStruct* bs, double gapTol, double angleTol, int maxIter,
                                  double stagnation, double relTol, int flag);
// After the positional stitch: the second row of every movable side that meets creases (paired
// edges that are not G1) and no G1 edge turns so that, between a tenth and nine tenths of each
// crease, its surface's normal is the one `start` (the group's surfaces as the heal found them,
// indexed as the topology's) had there, laid square to the seam's tangent now. The row's first
// two and last two points stay, and no second-row point ends farther from where it came than
// 1.5 times the farthest the side's two rows went before the turn (the turn is cut short so).
// Sides it cannot judge are left as they are. With besideSmooth,
// only the sides next to (across a corner of their surface from) a side that meets a G1 edge:
// after the tangential heal, those whose rows' second points it moved.
int KeepCreaseSideNormals(BndrStruct* bs, Bspline* const* start, int besideSmooth = 0);
// The same turn on the surfaces marked in `which` (one flag per surface; all when null), aiming
// at the start normals from a twentieth to nineteen twentieths of each crease: the heal's second
// try for a surface whose crease got steeper next to a corner after the first. Within three
// tenths of an end the stitch left flatter than its crease began there (a corner laid into one
// plane or softened), the targets ease from the share of the angle the end kept to the start
// normals, so both sides' targets part by no more than they began. The row's `held` points at
// each end stay: 2 keeps the points diagonal to the corners as the corner rules set them (shared
// with the neighbouring sides' second rows), 1 frees them too (the heal's third try); -2 for
// another count.
int KeepCreaseSideNormalsNearCorners(BndrStruct* bs, Bspline* const* start, const char* which, int held = 2);
// After KeepCreaseSideNormals, on a crease edge whose two sides the stitch gave one boundary row
// (the caller's test): the turn above keeps each side's normal only as a fit, and on long noisy
// nets the angle between the sides still ended up to 14 degrees off its start between a tenth and
// nine tenths of the seam. When the start angle (`start` as above, the mean of the angle read from
// each side: its point at the sample's fraction against the other side's closest point) is
// beyond the topology's angle limit at every sample there and the rows now leave it more than a
// degree off somewhere, both second rows (along their normals) and the shared row (across the
// seam, never along it) are solved for the start angles at 8 samples a knot span, each point
// within 2 x the seam's start gap of where it began (or of where the stitch took it, if further)
// and no sample 0.8 degree above the largest angle the topology recorded at its start (where a
// sample still ends more than 0.9 degree off, what lies beyond that weighs more in a last round,
// kept unless it leaves more samples a degree off); the first two and last two points of each row
// stay, both sides keep one row. Returns 1 when the
// rows changed (the sides' curve forms are then the caller's to rebuild); 0 when the edge is not
// such a crease or holds its angle already, or when the solve made its worst sample no better,
// raised the edge's largest angle by 0.9 degree from its start and its largest between a tenth
// and nine tenths by 0.9 from the start's there (the fall-backs undo a degree on both) or
// turned a normal over at a sample (rows left as they were); -2 for a bad edge index or a memory
// failure.
int KeepSharedRowCreaseAngle(BndrStruct* bs, Bspline* const* start, int edge);
// The same solve on a crease whose sides keep their own boundary rows (a seam meeting others at a
// corner), run after the tangential heal: only the second rows move, each along its side's
// normal, B's read where its boundary comes closest to A's samples (the two sides' knots along
// the seam must match), so that every gap stays as the heal left it. It takes every real crease
// (beyond the angle limit somewhere between a tenth and nine tenths at its start), at 5 samples a
// knot span, for the fold signed about the seam (where the rows fold by half a degree or more,
// in the sense they fold now). No sample may end steeper than its start plus 0.8 degree or than
// it was, nor with either side's new row against the other's old one (either surface may fall
// back alone). At an end where the seams around the corner hold its angle (every other seam
// there healed smooth, or one other crease at a right angle: a side of one of its surfaces) the
// end's knot span is aimed at what the rows have there, not at the start. The solve is also
// left undone when it lowers the crease's largest angle inside below its start's less a degree.
// Returns as KeepSharedRowCreaseAngle.
int KeepSplitRowCreaseAngle(BndrStruct* bs, Bspline* const* start, int edge);
// The heal's solve of such a crease: where its two boundary rows, on matching knots, lie within
// half the row's mean step of each other point for point (rows the stitch closed, each point slid
// along the common curve by the noise), they are solved as one row, as KeepSharedRowCreaseAngle
// solves it from half way between them (both sides' rows then take the solved points, inside the
// first and last two); where that leaves the rows as they were, or the rows do not meet,
// KeepSplitRowCreaseAngle. Returns as KeepSharedRowCreaseAngle.
int KeepClosedSplitRowCreaseAngle(BndrStruct* bs, Bspline* const* start, int edge);
// Last, after KeepCornerSharedFolds, on such a crease that is beyond the angle limit over only part
// of its length between a tenth and nine tenths at its start (a smooth seam's jitter, flatter being
// no fault there): where a sample there (8 a knot span from each knot on, and one between two
// where the start's fold changes its sense) ends more than 0.9 degree steeper than its start, the
// second rows are solved as above, aimed at the start's angle where a sample is steeper and at
// what it has where it is flatter, no sample there above its start by 0.8 degree (nor above what
// it has where the start's fold changes its sense next to it). Where the largest rise lies in an
// end span and the other seam of a side at that corner is a crease too, that side's second-row
// point diagonal to the corner is solved as well, kept only where that seam rises
// nowhere within half its length of the corner above its start by more than 0.8 degree (or than
// it was), nor, beyond the limit along all its length, gets flatter there by more than a degree,
// nor moves its largest angle inside further off its start's than a degree (or than it was); else
// the solve is done again with it held. A crease still more than a degree steeper is solved once
// more with that last rule dropped. Kept only when the largest rise falls; the crease may then
// lose its largest angle inside only with no sample left above its start by 0.8 degree. Returns as
// KeepSharedRowCreaseAngle.
int KeepJitterCreaseFromRising(BndrStruct* bs, Bspline* const* start, int edge);
// At each four-way corner of two or three creases, the creases share folds a row in (two at a
// right angle one fold; two halves of one grid line between smooth seams one size of it): the
// points of the second rows diagonal to the corner that set them without touching a smooth seam
// (of each surface whose two sides there are creases; for a line, the two surfaces either side of
// a smooth seam, turned about it as one) are moved along their normals so that neither crease they
// set rises from its start between a tenth of its length and as far as they reach (a search for
// the least rise), none gets more than a degree flatter there where it was not, none loses its
// largest angle inside where it kept it, and the smooth seam between two moved points gets no
// steeper.
// start: the surfaces as they came. The number of corners changed; -2 on bad input or a kernel
// failure.
int KeepCornerSharedFolds(BndrStruct* bs, Bspline* const* start);
// Older loop without the improvement tests.
int HealSrfGrpEdgeG1Continuity(BndrStruct* bs, double gapTol, double angleTol);
// One pass over every surface with a curve meeting a G1 edge.
int RefineSrfGrpEdgeG1Continuity(BndrStruct* bs, double gapTol, double angleTol, int flag);
// Corrects the second rows of one surface along its G1 boundaries; a fixed surface: 0.
int UpdateBsrfNormalsAlongBndrCrvs(BndrStruct* bs, int surface);
// The corrected second-row curve of a boundary curve (its unchanged second row when it meets
// no G1 edge). New curve in *out.
int GetBndrCrvHealedNormalsCorBspl(BndrStruct* bs, int curve, Bspline** out);
// A copy of the curve's 3D form carrying the surface's second row along the side; null for a
// trim curve, missing links, or fewer than three control rows across the side (then the
// second row is the opposite boundary row and must not move).
Bspline* GetBndrCrvCorBspline(const CrvInfoStruct* crv);
// The first-derivative control points across the boundary as a curve with the 3D form's knots.
int GetBndrCrvCrsDerivBspline(const CrvInfoStruct* crv, Bspline** out);
// Normal entries at the interior ends of the curve's G1 edges (no position entries).
int SetBndrCrvCrsDerivConstraints(BndrStruct* bs, int curve, LinearConstraint* c);
// Every sample of the curve's edges with a usable averaged normal: the curve's parameter and
// the unit normal. New arrays.
int SetBndrCrvWrapNormalSamples(BndrStruct* bs, int curve, double** t, double** nx, double** ny,
                                double** nz, int* count);
// A copy of D whose inner control points move so that D loses its component along the sample
// normals, exactly at the constraint entries; the `held` first and last control points stay.
// Fitted, as the wraps are, on a copy of D at most of unit size; the Gram matrices from `gram`
// when set.
int ConstrainedWrapCrossDerivBspline(Bspline* D, int count, const double* t, const double* nx,
                                     const double* ny, const double* nz,
                                     const ShrnkWrapParams* params, const LinearConstraint* c,
                                     Bspline** out, int held = 1, Crv3GramCache* gram = nullptr);
// The row of the curve's basis values at t (count of control points, zeros outside the span)
// and the displacement -(C(t) . n) n with n normalised; -2 for a vector shorter than 0.001.
int ComputeReshapeCrsBsplConstraint(const Bspline* curve, const double normal[3], double t,
                                    double* row, double rhs[3]);
// Turns a cross-derivative curve back into second-row positions of the surface's side. 0, or -2
// with *out null; the error state -2 too when D or surface is not sound (bsvalid).
int ConvertCrsBspline2CorBspline(int side, const Bspline* D, const Bspline* surface,
                                 Bspline** out);
// Two second rows of different directions share the control point diagonal to their common
// corner: both get the average. Nothing for sides of the same direction or out of range.
int UpdateTwoHealNormalCorBspls(Bspline* a, Bspline* b, int sideA, int sideB);
// Writes the curve's control points into the surface's second row along the side.
int UpdateSrfWithCorBspl(Bspline* surface, int side, const Bspline* row);
