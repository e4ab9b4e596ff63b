// What the stages of the group heal (gstitch*.cpp) share: the measure of seams and normals a heal
// may not make worse, the T-junction and shared-row seam steps, and the positional stitch loop.
// Internal to healing/.
#pragma once

#include "foundation/umalloc.h"
#include "healing/mshrink_internal.h"
#include "healing/srfbndr.h"

namespace gstitch_internal {

// The side and seam tests the tangential heal below shares.
using mshrink_internal::CoveredFraction;
using mshrink_internal::MovableSide;
using mshrink_internal::SharedRowSeam;
using mshrink_internal::SidesOnOneKnotVector;

constexpr int kMeasureSamples = 100;  // per seam, as ComputeSrfsGrpContinuity takes them
constexpr int kProfileStride = kMeasureSamples + 2;  // the count, then every sample of a seam measured so
// Share of the other side's covered fraction below which a side's curve runs on past the edge
// (a T-junction), as KeptSide judges it.
constexpr double kRunsOnShare = 0.9;

// Lives outside every tracking scope (the topology's records made while it is held must not
// be tied to one), so its blocks have owners.
struct GroupMeasure {
  Owned<double, Free> gap;      // per edge
  Owned<double, Free> angle;    // per edge
  Owned<double, Free> inside;   // per edge, at the start only: a crease's largest angle between a tenth and nine tenths
  Owned<double, Free> ends;     // 2 per edge: the angle (degrees) at its first and last sample
  Owned<double, Free> least;    // per edge, at the start only: the least angle at its samples
  // Per edge, at the start only: the largest gap across the seam and the same with each side's
  // end measured to the other's line (GapAcross).
  Owned<double, Free> across;
  Owned<double, Free> acrossLine;
  // Per edge kProfileStride: how many samples it keeps, then the angle (degrees) at each (the
  // last at the seam's end), -1 where a side has no normal.
  Owned<double, Free> profile;
  Owned<double, Free> normals;  // 3 per site of every surface: unit normals (0 where none)
  // Per surface three grids (the inside, the u-running boundaries, the v-running ones), each
  // its u sites, v sites, first site and first normal; the sites are each grid's u, then v.
  Owned<double, Free> sites;
  Owned<int, Free> layout;
};

// The stages a surface's geometry can be in after a heal, best first: the one-row creases'
// angle solve and the tangential heal on top of the positional stitch, the positional stitch
// alone, the positional stitch with its crease sides turned back to their start normals nearer
// their corners, the same with the rows' points diagonal to the corners free too, and the
// surface as it came. The point diagonal to a corner,
// set by the corner rules, rules a crease's first tenth: next to a corner laid into one plane it
// can leave a crease steeper a tenth in than it began, whatever the rest of the row does. Freed,
// it tilts the ends of the neighbouring sides' normals too, so it comes only after the rows that
// keep it, and only where those failed: in their place it would leave open sides the rows close.
// Above them all, the tangential heal taken back to the surface's move bound where it went beyond
// (BoundMoves in gstitch.cpp).
enum HealStage : char { kStart = 0, kRowsFree = 1, kCornersKept = 2, kPositional = 3, kTangential = 4, kBounded = 5 };

// What the fall-backs know of one surface while they step surfaces back, one record per surface
// in the caller's order.
struct SurfaceStage {
  char stage;    // the HealStage its geometry is at
  char changed;  // stepped back or held back in the current round: its seams and normals are measured anew
  char why;      // why it last stepped back (kKeptWorse, kKeptFold, kKeptAlone), 0 before it did
};
// Whether the heal writes the surface: a surface back at its start keeps the caller's geometry.
inline bool Written(const SurfaceStage& s) { return s.stage != kStart; }

// The dot product of two 3-vectors.
inline double Dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// A surface the stitch can read: a sound 3D record of degree 1 or more both ways.
bool IsStitchableSurface(const Bspline* b);
// The topology's own copy of surface i.
Bspline* TopologySurface(BndrStruct* bs, int i);
// Rebuilds a curve's 3D form outside every open scope.
void RebuildCurve3Form(CrvInfoStruct* crv);
// Holds the outer boundary (continuity >= 0) and the fixed surfaces with all their curves.
int MarkHeldGeometry(BndrStruct* bs, int n, const int* fixed, int continuity);
// Healed geometry into every caller surface not fixed (and, with `stages`, Written), all or nothing.
int CopyHealedBack(Bspline** srfs, int n, const int* fixed, Bspline** healed, const SurfaceStage* stages = nullptr);

// The largest control-point box diagonal of the group's surfaces.
double GroupSize(const BndrStruct* bs);
// Seams and normals of the topology's surfaces (with `stages`, of those marked changed) into m.
int MeasureGroup(BndrStruct* bs, GroupMeasure* m, const SurfaceStage* stages = nullptr,
                 const GroupMeasure* like = nullptr);
// Takes back, on every surface that moved, the moves it made towards a neighbour the guard put back
// where it began (stage kStart) across a seam left open: the boundary row and the second row of its
// side there go back to where they came (`srfs`), but for the points on the rows of the seams it
// closes, which stay where they met and carry the rows' points near them along: the part of their
// move along the row spread linearly to the row's far end or the next such point, the part across
// it fading within 20 times its size, so that the normals there turn by less than 3 degrees. Those
// moves closed nothing, and they bent the side towards a place the neighbour never went, turning a
// crease there or tilting the side by the gap. The surfaces taken back are flagged changed
// (flags already set stay), the seams in `taken`; whether there were any.
bool TakeBackMovesTowardsPutBack(BndrStruct* bs, Bspline* const* srfs, const GroupMeasure& after, double healGap,
                                 SurfaceStage* stages, char* taken);
// Steps back the surfaces on seams that got worse or whose normals turned over; the number stepped back.
// The seams flagged in `takenBack` (one flag per edge; none when null) with a surface back at its
// start are not judged: the other surface's rows there are where they came.
int StepBackWorsened(const BndrStruct* bs, const GroupMeasure& before, const GroupMeasure& after, double healGap,
                     double healAngle, SurfaceStage* stages, const char* takenBack = nullptr);
// Puts back at its start, after StepBackWorsened's round (`stages` as it leaves them), every
// surface not held that had no gap to close (each seam of it came within healGap) and either came
// within both targets on all its seams or does not end so (a smooth seam within healAngle too): its
// moves would only turn it within its bound, and a group healed again would move by that bound at
// every heal without end. Its report names no reason. The number put back.
int KeepIdleSurfaces(const BndrStruct* bs, const GroupMeasure& before, const GroupMeasure& after, double healGap,
                     double healAngle, SurfaceStage* stages);

// Puts corners inside a side, and samples of edges covering part of a longer side, onto that side.
int OntoLongerSides(BndrStruct* bs);
// Control point k of a side's boundary row (row 0) or of the row beside it (row 1).
double* SideRowPoint(Bspline* s, int side, int row, int k, int coord);
// Whether the two sides of such a seam have one boundary row, point for point.
bool OneRow(const EdgeInfoStruct* e);
// Lays each one-row seam's last row steps in line with the steps before; the number of ends laid.
int StraightenSharedRowEnds(BndrStruct* bs, Bspline** start);
// Whether every seam above the gap target is one whose rows can be shared.
bool OnlySharedRowSeamsOpen(const BndrStruct* bs, double gapTol);
// Gives both rows of shared-row seams their mean; the number of seams changed, -1 on a failure.
int ShareSeamRows(BndrStruct* bs, double gapTol, bool afterFits);
// Gives the inner points of both rows of open seams on one knot vector whose rows' ends already
// meet their mean; the number of seams changed, -1 on a failure.
int ShareSeamRowInsides(BndrStruct* bs, double gapTol);
// Gives the inner points of closed one-row seams on one knot vector the mean of their rows as they
// came where a point went beyond its surface's move bound (those are flagged changed); whether any
// surface changed.
bool MeanClosedRowsBeyondBound(BndrStruct* bs, Bspline* const* start, const GroupMeasure& after, double healGap,
                               const double* bound, SurfaceStage* stages);
// Turns the normals of two-row sides (or, where they can, of finer sides through a free side) at
// the ends of smooth seams steeper than `target` degrees.
int TurnTwoRowCornersOntoSmoothSeams(BndrStruct* bs, double target);
// `solve` on every crease whose sides keep their own rows; -2 on a failure.
int SolveSplitRowCreases(BndrStruct* bs, Bspline** srfs, int (*solve)(BndrStruct*, Bspline* const*, int));

// The edges sampled anew (the old samples dropped), or only side B's parameters matched again.
int SampleEdges(BndrStruct* bs, bool anew, int samples);
// G0GlobalStitchSrfGrp; with `pairedSampled` the paired edges keep the samples they have, taken
// as its first sampling would take them (on the same geometry and curve forms).
int PositionalStitch(BndrStruct* bs, int continuity, double gapTol, double angleTol, int insertKnot, int bFixedSamples,
                     int maxIter, int samples, double stagnation, double relTol, int* reason, double* finalGap,
                     bool pairedSampled);

}  // namespace gstitch_internal
