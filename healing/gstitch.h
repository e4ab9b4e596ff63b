// The stored boundary topology of a surface group and the heal driver that works against it,
// and the positional stitch loop that closes the gaps along the paired edges of a topology.
//
// One topology is kept for the whole process (srfsTopology): it is built once from a group
// (MakeTopologyZK), every heal starts from the caller's current control points on that
// topology's pairing (HealTopologyZK), and CleanupTopology drops it. The topology owns its own
// copies of the caller's surfaces (field srf of every SrfInfoStruct); the stitch moves those
// copies and the heal copies the result back into the caller's records. Nothing is guarded:
// calls must not overlap.
//
// Per-side result codes (row = surface in caller order, column = side - 1 with side 1 u-min,
// 2 v-min, 3 u-max, 4 v-max): 0 healed, -1 memory error, -2 topology error, -3 fixed outer
// boundary, -4 neither target reached, -5 only the gap target, -6 only the angle target.
//
// Results: 0 success, -2 failure.
#pragma once

#include "shrinkwrap/shrink.h"

struct Bspline;
struct BndrStruct;
struct Cloud;

// Options of one stitch, passed by value.
struct GlobalStitchInfo {
  int continuity;      // given to the outer boundary: >= 0 held, -1 free
  double gapTol;       // positional target of the stitch: half the user's HEALGAP in a heal
  double angleTol;     // angular target of the tangential heal, degrees: 0.75 (0.5 above 2) of HEALANGLE
  int insertKnot;      // the wraps may insert knots
  int bFixedSamples;   // 1: the edge samples taken at the start serve the loop until it stalls
  int maxIter;
  int samples;         // per edge
  double stagnation;   // smallest absolute gain of one iteration that still counts
  double relTol;       // smallest relative gain of one iteration that still counts
};

extern BndrStruct* srfsTopology;  // null when no topology is stored
extern int SIbInsertKnot;
// Set: the older positional loop keeps the samples it starts with (never set by the kernel).
extern int bParamFixed;         // copied into every heal's options; 0 on the plug-in's road
// Sets SIbInsertKnot, the knot insertion every heal's stitch options start from; always 0.
int SISetbInsertKnot(int value);

// ---- topology API and heal driver ---------------------------------------------------------
// Forgets (and frees) the stored topology and builds a new one from the group; surfaces must
// be non-rational 3D surfaces. Negative tolerances count as 0.
int MakeTopologyZK(Bspline** srfs, int n, double maxGap, double maxAngle);
// Heals the group against the stored topology (built from the same number of surfaces):
// stitch, tangential heal, healed control points copied into every surface with fixed[i] = 0.
// A surface on a seam that would end with a larger gap or normal angle than it began with (a
// crease: more than a degree steeper over its whole length and, where it closes or each of its
// surfaces that moved closes another seam, between a tenth and nine tenths too), or whose normals
// would turn over anywhere (but where they come back in line with their
// neighbours at a fold the surface came with), steps back to its positional stitch (before a
// one-row crease's angle is solved for), then to that with
// its crease sides turned back to their start normals nearer the corners, then keeps its control
// points (repeated until no seam is worse); the topology's surface records say which kept them
// (keptStart) until the next heal.
// With report = 1 the n x 4 result matrix gets the per-side codes of the geometry written. The
// stitch takes SetHealStitchInfo's options, its iteration count judged as for
// the group brought to unit size (healGap over the largest control-point box diagonal of the
// surfaces), so that a group heals alike at every size. 0 says the heal ran; on -2 no caller
// surface has changed.
int HealTopologyZK(Bspline** srfs, int n, const int* fixed, int continuity, int bFixedSamples, double healGap,
                   double healAngle, int report, int** result);
// Per-side codes of the group as the caller will hold it: held[i] (surface i of the stored
// topology with the control points the caller will keep) goes into the topology, every seam is
// measured anew with the heal's samples and the codes are written as HealTopologyZK's report
// writes them. The topology keeps these surfaces (a report's reasons are found on them). 0, or -2
// for bad input or no memory.
int MeasureGroupAsHeldZK(Bspline* const* held, int n, double healGap, double healAngle, int** codes);
// Frees the stored topology with its surface copies. Always 0.
int CleanupTopology();

// The heal's stitch options from the user's targets: gap target half of healGap, angle target
// 0.75 of healAngle (0.5 of it above 2 degrees), 30 iterations (25 above 10 surfaces), half as
// many again plus one for gap targets below 0.1.
int SetHealStitchInfo(int n, int continuity, int bFixedSamples, double healGap, double healAngle,
                      GlobalStitchInfo* info);

// A new topology of copies of the surfaces in *out (the copies belong to it).
int SetupStitchSrfsTopology(Bspline** srfs, int n, double tol, double gapTol, double angleTol, int continuity,
                            BndrStruct** out);
// Loads the caller's control points into the topology's surfaces, stitches and heals them.
// *healed: a new array of n new copies of the topology's surfaces (null entries possible),
// freed with FreeBsplineArray. *state 1 while running and on failure, 0 on success.
int StitchSrfsWithGivenTopology(BndrStruct* bs, Bspline** srfs, int n, const int* fixed, GlobalStitchInfo info,
                                Bspline*** healed, int* state);
// 1 when the rational flag is 1 and some weight differs from 1 by more than 0.001, else 0.
int IsRationalBspline(const Bspline* b);
// Per-side result codes from fresh samples against the user's healGap and healAngle (entries
// of sides without a natural-side curve are left as they are).
int ComputeSrfsGrpCrvGapStats(BndrStruct* bs, double healGap, double healAngle, int samples, int** result);

// ---- positional stitch loop ---------------------------------------------------------------
// reason: 0 no wrap trouble, 1 some wrap had to reduce its corner constraints, 2 the last
// iteration had wrap failures (also on failure). finalGap: the largest gap at the end. With
// bFixedSamples the samples of the start serve until the gap stops falling; from there on side
// B's parameters are matched again at every iteration (the sides' parametrisations may slide).
// An iteration's gain counts as none below `stagnation` or below 0.3 of gapTol, whichever is less.
int G0GlobalStitchSrfGrp(BndrStruct* bs, int continuity, double gapTol, double angleTol, int insertKnot,
                         int bFixedSamples, int maxIter, int samples, double stagnation, double relTol, int* reason,
                         double* finalGap);
// The same stitch on the stored topology with caller-chosen options. The first word is not read.
int GlobalStitchSrfTopology(int unused, Bspline** srfs, int n, const int* fixed, int continuity, int insertKnot,
                            int bFixedSamples, double gapTol, double angleTol, int samples, int maxIter);
// The stitch's defaults: no outer continuity held (-1), gap 0.001, angle 0.5 degrees, no knot
// insertion, samples taken anew, 30 iterations of 100 samples per edge, gains below 5e-5 or 1%
// not counted. -2 for null.
int SetDefaultGlobalStitchInfo(GlobalStitchInfo* info);
// Wraps every movable natural-side curve to its averaged samples; -2 when some wrap failed.
int WrapAllBndrCrv3ToSamplePoints(BndrStruct* bs, int insertKnot, int refine, ShrnkWrapParams params,
                                  int* wrapped, int* failed, int* reduced);
// Fixes the natural-side curves whose corner constraints cannot be met with their knots.
int SetCrvWnotEnoughKnotsTobeFixed(BndrStruct* bs);
// Lambda/mu fairing of every edge's averaged sample points, end samples held.
int RefineAllEdgeSamples(BndrStruct* bs, int iterations, double lambda, double mu);
// One knot into the worst span of every movable natural side farther than half the gap target
// from its averaged samples.
int InsertKnotsToSrfGrpWrtEdgeGap(BndrStruct* bs, double gapTol);

// ---- group fit to a cloud, then stitch ------------------------------------------------------
// Fits every surface of the group to the cloud by shrink-wrap (held rows per outer side from
// the outer continuity) and stitches the fitted copies: positional loop, tangential heal. The
// caller's surfaces take the result only at the end, all or none. options carries the fit's
// insert-knots flag and weights (its fixed rows and median flag are set here: rows held at
// `continuity`, median on). graphTol and topoGap build the topology, fitDist limits the cloud
// split. *state: 1 running and on failure, 2 fewer surfaces fitted than given (0 returned,
// nothing changed), 3 a wrap had to reduce its corner constraints (-2), 4 a target missed (gap
// at or above gapTol after the positional loop, or a failed tangential heal), 0 done. -2 for
// n < 1, a null cloud or array, a surface that is not a 3D surface, or a failed step: every
// copy, graph and topology made is released and the caller's surfaces stay as they were.
int MultiSrfsShrinkWrapGeom(Cloud* cloud, Bspline** srfs, int n, ShrnkWrapParams options,
                            double graphTol, double fitDist, double topoGap, int continuity,
                            double gapTol, double angleTol, int insertKnot, int* state);
// The older positional loop: the sides' curves are wrapped to their edges' averaged samples
// with a sample weight falling from 0.05 to 0.01, corners set up anew below iteration 20,
// knots added (with insertKnot) every third iteration from the fourth. Stops below 0.95 gapTol,
// on two stagnant or two slow iterations, three growing ones, a failed wrap or a reduced corner
// constraint in the first sweep. reason: 0 clean, 1 reduced in the first sweep, 2 the last sweep
// had failures (also on failure); finalGap the largest gap at the end. tol and continuity are
// not read. -2 for a null topology or a failed sampling or set-up.
int HealSrfGrpEdgeG0Continuity(BndrStruct* bs, double tol, int continuity, double gapTol,
                               int maxIter, double stagnation, double relScale, int insertKnot,
                               int* reason, double* finalGap);
// One shrink-wrap fit per surface of the topology to its share of the cloud (points within
// fitDist, split by nearest surface). *fitted: a new array of bs->nSrf new surfaces (free with
// FreeBsplineArray), a fitted surface or, for a surface with fewer than 2 points, its plain
// copy; *count the surfaces done (a surface lacking knots for its held rows without the
// insert-knots option, or whose fit failed, is not). -2 for a null topology, no surfaces, a
// cloud of fewer than 3 points, a non-surface or memory (nothing handed out).
int ShrinkWrapFitSkinSrfs(BndrStruct* bs, Cloud* cloud, double fitDist, ShrnkWrapParams options,
                          Bspline*** fitted, int* count);
