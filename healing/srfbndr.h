// The boundary structure of a surface group: surfaces, boundary curves, edges (pieces of
// boundary curves, each paired with the piece of another curve running beside it or left
// single) and the corners where edges end. It is built once from the boundary graph (Gsrf)
// and then read and updated by every heal stage: edge samples and averaged targets, corner
// geometry, continuity tests and measures.
//
// Conventions every user relies on:
// - Side A of an edge is the curve whose graph element created the edge, side B the curve of
//   the matched partner element. `orient` non-zero: side B runs the same way as side A (B's
//   start meets A's start); 0: B's end meets A's start ("matching end").
// - The four end slots of an edge (parameters, points, normals, tangents) are indexed
//   slot = 2 * end + side (end 0 start, 1 end; side 0 A, 1 B): A start, B start, A end, B end.
//   A slot holds the side's own value at its own start or end, not at the matching end.
// - Natural sides: 1 u-min, 2 v-min, 3 u-max, 4 v-max, each running in increasing parameter
//   (v for sides 1 and 3, u for sides 2 and 4); 0 is a trim curve (a 2D curve on its surface).
// - Normal angles across a seam are folded: a > 90 degrees counts as |180 - a|.
// - Edge continuity: -1 unpaired, 0 paired, 1 paired with the positional and the tangential
//   test passed. After SetSkinSrfsOuterContinuity an unpaired edge holds the outer value.
//
// Results: 0 success, -2 failure unless stated. Arrays hanging off the records are separate
// Malloc blocks owned by the record and kept out of every tracking scope, so a caller's
// FreeTrackedMallocs never frees them under the structure; only FreeBndrStruct (or the
// operation that replaces an array) releases them. "Copies" of edges and corners are shallow
// snapshots whose own arrays are not owned by the copy (only the copy array is freed).
#pragma once

struct Bspline;
struct BsplineList;
struct Gsrf;
struct SrfInfoStruct;
struct CrvInfoStruct;
struct EdgeInfoStruct;
struct CornerInfoStruct;
struct Crv3GramCache;
struct SrfGrpNets;

struct BndrStruct {
  int nSrf;
  int nCrv;
  int nEdge;
  int nCorner;
  SrfInfoStruct* srfs;
  CrvInfoStruct* crvs;
  EdgeInfoStruct* edges;
  CornerInfoStruct* corners;
  double tol;     // 1e-6 when empty; the graph's merge tolerance after the build
  double gapTol;  // the MAXGAP the graph was matched with
  double angleTol;  // the MAXANGLE its seams were classified with (0 when empty)
  double maxDev;  // largest chordal deviation of the graph's samples
  int nSample;    // 100 when empty; the build never changes it
  // The Gram matrices of the boundary rows' fits, owned (made with the structure; null in a
  // structure made otherwise, whose fits then compute their own).
  Crv3GramCache* gram;
  // While the positional stitch runs, its surfaces' nets as it began (the stitch's own, which it
  // clears on every return): the boundary rows' fits keep the points' places along each row as
  // they were there; null otherwise.
  const SrfGrpNets* slideAnchor;
};

// Why the heal's fall-backs put a surface back where it began: healed, it made a seam of it wider
// or steeper than the seam came (kKeptWorse), turned its normals over more sharply than they came
// (kKeptFold), or closed none of its seams beside a neighbour put back (kKeptAlone).
constexpr int kKeptWorse = 1;
constexpr int kKeptFold = 2;
constexpr int kKeptAlone = 3;

struct SrfInfoStruct {
  Bspline* srf;   // the group's surface as the graph holds it (not owned)
  Bspline* work;  // working copy with curves and trims (owned)
  int index;
  int fixed;    // set by the heal driver for surfaces that must not move
  int nCrv;     // boundary curves of the surface
  int nEdge;    // the graph surface's element count
  int nCorner;  // entries of `corners`
  int* crvIds;  // its boundary curves, ascending
  int* aux1;    // owned, never filled by the build
  int* aux2;    // owned, never filled by the build
  // Set by the heal driver: why its fall-backs put the surface back where it began (kKeptWorse,
  // kKeptFold, kKeptAlone), 0 when it was healed, held or not healed yet.
  int keptStart;
  EdgeInfoStruct* edges;      // copies of the edges of its elements, element order
  CornerInfoStruct* corners;  // start corner of the first edge, then end corners of all but the last
};

struct CrvInfoStruct {
  int index;
  int side;       // 0 trim curve, 1..4 natural side
  int outer;      // 1: on the outer boundary of the group
  int fixed;      // 1: must keep its geometry
  int spare;
  int outerCont;  // -1 after the build; the value given to SetSkinSrfsOuterContinuity
  BsplineList* node;  // the graph's trim-loop node (its item is the 2D curve); null for a side
  Bspline* srf;       // the surface it lies on (the graph's surface)
  Bspline* crv3;      // 3D iso-parameter curve of a natural side (owned); null for trim curves
  int closed;         // its last and first graph samples coincide
  int nEdge;
  int nCorner;        // edges + 1 after the build
  SrfInfoStruct* srfInfo;
  EdgeInfoStruct* edgeCopies;      // copies of its elements' edges, element order
  CornerInfoStruct* cornerCopies;  // start corner, then each edge's end corner (last left out
                                   // when closed)
  int* edgeIds;    // its edges sorted by the curve's parameter at the edge start
  int* cornerIds;  // corners along the curve (edges + 1 entries)
  // Why it was left in no seam, found on the sides as they came (FindBndrCrvUnpairedReason's
  // values; 0 when none): the heal may move them together since.
  int unpairedReason;
  int spare2[2];
  // A held outer side: how far the last heal that wrote its surface moved its two end points (the
  // corners a seam ending there closes at), 0 otherwise; the rest of the side stays held.
  double endMove;
  // A free side whose fit to its samples folded it in the current stitch: it follows its corners
  // from then on (each stitch starts with 0).
  int followsCorners;
};

struct EdgeInfoStruct {
  int index;
  int continuity;  // -1 unpaired, 0 paired, 1 paired G0 + G1 (see above)
  int paired;
  int crvA;  // curve indices; crvB -1 when unpaired
  int crvB;
  CrvInfoStruct* infoA;
  CrvInfoStruct* infoB;  // null when unpaired
  double par[4];  // end parameters by slot: A start, B start (B's own start), A end, B end
  int nSample;
  double* sampleA;  // side-A sample parameters, ascending; first/last = par[0], par[2]
  double* sampleB;  // side-B parameters matched one to one (descending when orient is 0);
                    // null when unpaired
  int bDrives;      // side B's samples are the uniform ones and side A's the matched
  int spare[2];
  // Basis values of each side's 3D curve form at its samples (EvalNubValsOnGridM for
  // position): per side the u tables, the v tables (null for a curve) and the spans. All null
  // for a side without a 3D curve form. Index [side].
  double* nubTabU[2];
  double* nubTabV[2];
  int* nubSpan[2];
  void* nubSpare[2];
  double* avgX;  // averaged sample points, one per sample
  double* avgY;
  double* avgZ;
  double* avgNx;  // averaged unit sample normals, one per sample
  double* avgNy;
  double* avgNz;
  int orient;         // non-zero: side B runs the same way as side A
  double pnt[4][3];   // end points by slot
  double nrm[4][3];   // unit end normals by slot (zero vector where the normal vanishes)
  double tan[4][3];   // unit end tangents by slot
  double gapParA;     // side-A parameter at the largest gap
  double gapParB;     // side-B parameter at the largest gap
  double maxGap;
  double maxAngle;    // largest folded normal angle, degrees
  int nCornerCopy;    // 2
  CornerInfoStruct* cornerCopies;  // start and end corner as they stood when the edge was made
  int corner0;  // start corner index
  int corner1;  // end corner index
  EdgeInfoStruct* next;  // the edge of the next / previous element on the same curve
  EdgeInfoStruct* prev;
  // The seam as the heal found it (paired edges, while startSet is non-zero; the first corner
  // set-up after startSet was cleared records it), degrees: at each end the angle between the
  // two sides' own normals, signed by the way the seam folds there (as one fold with the rest of
  // the edge), and the largest angle along the edge; signed so too, the angle at the sample
  // nearest a tenth of the edge from each end, where its inside begins (the ends themselves carry
  // the spikes of jittered corner copies); and the flattest of the angles from a twentieth to a
  // tenth of the edge from each end, signed so too, which a crease's corners aim back at.
  double startEndAngle[2];
  double startMaxAngle;
  double startInsideAngle[2];
  double startCornerAim[2];
  // Recorded with the angles above: each side's own unit end tangent by slot and the edge's
  // largest gap, from which the heal measures how far it turns a side's end. An unpaired edge
  // records its side's end tangents only (its gap 0), with startSet.
  double startTan[4][3];
  // The sides' own unit end normals by slot as the heal found them, recorded with startTan.
  double startNrm[4][3];
  double startGap;
  int startSet;
  // 1: a crease (continuity 0, within the gap limit) only by a spike at an end: every sample
  // between a tenth and nine tenths of it is within the angle limit it was classified with. The
  // heal takes it as smooth (IsBndrEdgeHealedSmooth); its continuity stays as classified.
  int smoothInside;
  // 1: the last positional stitch stopped with this paired edge still at or above the gap target,
  // its passes no longer narrowing the gaps; 2: it ended so otherwise (out of iterations, the
  // gaps growing); 3: it ended with the edge below the gap target; 0 otherwise.
  int stalled;
};

struct CornerInfoStruct {
  int index;
  int spare;
  double pos[3];  // the graph vertex's centroid; later the common corner point
  void* spare2;
  EdgeInfoStruct* edgeCopies;  // the distinct edges starting or ending here, as they stood
  int nEdge;
  int* edgeIds;  // edges starting or ending here, ascending
  int* srfIds;   // surfaces at the corner (only the per-surface normal averaging fills it)
  int nSrfId;
  // How often keeping this corner's creases' angles made one of them rise: once, the heal
  // aims them at 0.4 of their angles there, twice, it lays the corner's seam ends into one plane;
  // cleared with the edges' start.
  int flat;
};

// A half-edge at a corner: one side of one edge at one of its ends (side 0 A, 1 B; end 0
// start, 1 end). An unpaired edge has side A only.
struct BndrHalfEdge {
  int edge;
  int side;
  int end;
};

// The slot of side `side` (0 A, 1 B) at its own end `end` (0 start, 1 end).
inline int BndrSlot(int side, int end) { return 2 * end + side; }
// Slot of side `side` (0 A, 1 B) at the end of the edge that meets side A's end `end`: side B
// runs the other way when the edge is not oriented.
inline int BndrMatchedSlot(const EdgeInfoStruct* e, int side, int end) {
  return side == 0 ? BndrSlot(0, end) : e->orient ? BndrSlot(1, end) : BndrSlot(1, 1 - end);
}

// ---- building and freeing -----------------------------------------------------------------
// An empty structure with an empty Gram cache; null when memory ran out.
BndrStruct* MallocNullBndrStruct();
// The structure of a finished graph: records, indices, samples (nSamples, 2 when below 2) and
// continuity of every paired edge against maxGap / maxAngle; outer continuity as given.
// Null on failure, also for a null graph.
BndrStruct* ConvertGsrfBndrToBndrStruct(Gsrf* g, int nSamples, double maxGap, double maxAngle,
                                        int outerContinuity);
// Frees the structure with every array its records own, the surfaces' work copies, the sides'
// 3D curves and the Gram cache. -2 for null.
int FreeBndrStruct(BndrStruct* bs);
// Frees the sample arrays, averaged points and normals and basis tables of every edge.
int FreeBndrStructEdgeSamples(BndrStruct* bs);

// The build's steps. FillUpCrvInfoStruct: one record per graph curve (not outer, not fixed,
// outerCont -1) linked to its surface's record, with each natural side's 3D curve.
// FillUpBndrInfoStruct: an edge per graph element and its partner (paired while the partner has no
// edge yet), a corner per graph vertex, and the surfaces' and curves' copies of them. Each -2 for
// a null argument, a failed allocation, a curve whose surface has no record, a side whose curve
// could not be made, or element ranges outside the graph.
int FillUpCrvInfoStruct(BndrStruct* bs, Gsrf* g);
int FillUpBndrInfoStruct(BndrStruct* bs, Gsrf* g);
// The three index steps below in turn; -2 when one fails.
int AssignBndrStructElementIds(BndrStruct* bs);
// Per curve its edges sorted along it (edgeIds) and its corners in its own running direction
// (cornerIds, edges + 1); per edge crvA / crvB from its sides. The old arrays are replaced.
// -2 for null or a failed allocation.
int AssignBndrStructCrvBndrIds(BndrStruct* bs);
// Per corner the edges starting or ending there, ascending (edgeIds, replaced). 0 for a
// structure without surfaces; -2 for null, surfaces without corners or a failed allocation.
int AssignCorner2BndrIndices(BndrStruct* bs);
// Per surface its boundary curves, ascending (crvIds, replaced). -2 for null or a failed
// allocation.
int AssignSrf2BndrCrvIndices(BndrStruct* bs);
// Sorted edge list of a curve (new array); consecutive edges are made to meet at one
// parameter. -2 when no edge uses the curve.
int GetCrvAllBndrElementIndices(BndrStruct* bs, int curve, int** edges, int* n);

// Puts a surface's knot vectors (and its domain and 2D curves with them) onto [0, 1] in each
// direction: the group's structure and heal then do not depend on the knot values an exporter
// wrote (an end a round-off from 0, any offset or scale). Copies beyond p + 1 that the map's
// round-off makes are set apart again (SpreadOverfullKnotRuns). -2 for a null or non-surface
// record, one whose structure is not sound (bsvalid; error state -2) or a direction without
// knot range; the record is then as it was.
int NormalizeBndrSrfDomain(Bspline* srf);

// ---- setters used by the heal driver ------------------------------------------------------
// Forgets every edge's recorded start and every corner's flat mark: the next corner set-up
// records the group as it is then.
int ForgetBndrEdgeStarts(BndrStruct* bs);
// Marks flat (once more, at most twice) both corners of every crease (a paired edge beyond the
// angle limit with its start recorded) whose largest angle now exceeds its start by more than
// `rise` degrees, except corners where a smooth seam ends; the number of marks made, -2 when
// memory ran out.
int FlattenRisenCreaseCorners(BndrStruct* bs, double rise);

// Why a paired edge may stay open, for the report of its side `side` (0 A, 1 B), as far as the
// structure can tell, in this order: the last heal put a surface of the edge back where it began
// (keptStart), the first of these its surfaces give: healing it turned its normals over
// (kBndrOpenKeptFold), made a seam worse (kBndrOpenKeptStart), or it closed none of its seams
// beside a neighbour put back (kBndrOpenKeptAlone); at one of its ends both surfaces' corners lie
// on held outer sides (outer continuity >= 0) and are still further apart than gapTol
// (kBndrOpenHeldEnd: the heal brings such corners together where it moves both surfaces); this
// side's curve, with the knots it has, cannot follow the other side's shape within gapTol
// (kBndrOpenCoarseSide); the other side's cannot follow this one's (kBndrOpenCoarseOther); the
// last positional stitch stopped, no longer narrowing the gaps, with it still open (its `stalled`
// mark 1: kBndrOpenStalled), or ended otherwise short of the target with it open (mark 2:
// kBndrOpenPassesEnded), or closed it and the passes after it opened it again (mark 3:
// kBndrOpenReopened). 0 when none is found (also for an unpaired edge or a side the tests cannot judge, a trim
// curve). -2 for bad input or a failed allocation.
constexpr int kBndrOpenCoarseSide = 1;
constexpr int kBndrOpenCoarseOther = 2;
constexpr int kBndrOpenHeldEnd = 3;
constexpr int kBndrOpenKeptStart = 4;
constexpr int kBndrOpenKeptFold = 5;
constexpr int kBndrOpenKeptAlone = 6;
constexpr int kBndrOpenStalled = 11;
constexpr int kBndrOpenPassesEnded = 12;
constexpr int kBndrOpenReopened = 13;
int FindBndrEdgeOpenReason(const BndrStruct* bs, int edge, int side, double gapTol);

// Where parameter t lies on side curve c: 0 at its start, 1 at its end, -1 partway (a
// T-junction: farther from both ends than the graph's largest gap, which no damage the heal
// closes moves an end by, or twice that on a side shorter than eight gaps, where the damage
// splits corners that far; in a structure without a gap, more than a hundredth of the curve
// from both ends), -2 when the curve cannot tell.
int BndrCrvEndAt(const BndrStruct* bs, const CrvInfoStruct* c, double t);

// Why a paired edge may be open at one of its ends, for the report of its side `side` (0 A, 1 B),
// in this order: this side ends partway along the other side (a T-junction, as BndrCrvEndAt
// tells) in a point that now lies more than gapTol from where the edge's corner began; the heal
// closes such a seam up to where that end lies, and where the end stood along the other side
// before the surfaces moved is not known to it (kBndrOpenMovedEnd). Both sides end at their
// curves' ends there (BndrCrvEndAt), and the curves' ends (the surfaces' corners) lie more than
// gapTol apart: one surface ends short of the other (kBndrOpenEndsApart).
// 0 when neither holds; -2 for bad input.
constexpr int kBndrOpenMovedEnd = 7;
constexpr int kBndrOpenEndsApart = 8;
int FindBndrEdgeEndReason(const BndrStruct* bs, int edge, int side, double gapTol);

// Why natural side `curve`, in no seam, was not paired with another surface's natural side that
// is in no seam either and runs beside it (the middle of either lies within the structure's largest
// gap of the other): an end of it lies farther than that gap from both ends of the other, so their
// corners never met as a seam's (kBndrOpenCornersApart); or its ends lie within that gap of the
// other's but not at the same corners of the structure, as where the corners of more surfaces
// there spread so wide that no point lies within the gap of them all (kBndrOpenCornersSplit). 0 when no such side is found
// (also for a paired side or a trim curve); -2 for bad input.
constexpr int kBndrOpenCornersApart = 9;
constexpr int kBndrOpenCornersSplit = 10;
int FindBndrCrvUnpairedReason(const BndrStruct* bs, int curve);
// FindBndrCrvUnpairedReason of every curve at once into reasons[nCrv], judged at `gap` (the
// structure's own largest gap when not above 0), the sides sampled once for all. -2 for bad input
// or no memory.
int FindBndrCrvUnpairedReasons(const BndrStruct* bs, double gap, int* reasons);
// Stores FindBndrCrvUnpairedReason's answer in every curve's unpairedReason, at the cost of one
// search for all: the pairing is decided on the sides as they come, so its reasons are too. -2 for
// bad input or no memory.
int KeepBndrCrvUnpairedReasons(BndrStruct* bs);

// Gives every curve and every unpaired edge the outer continuity `continuity` (any negative
// value: -1, nothing held) and marks the curves of unpaired edges outer; a natural side with a
// paired edge is then not outer, a trim curve with any unpaired edge stays so. -2 for null.
int SetSkinSrfsOuterContinuity(BndrStruct* bs, int continuity);
// Marks fixed the curves of the surfaces the driver marked fixed and clears the others. -2 for
// null.
int SetSkinSrfsFixedCrvs(BndrStruct* bs);

// ---- queries ------------------------------------------------------------------------------
// 1 when the edge starts (ends) at the corner; 0 otherwise, also for null or an index out of
// range.
int IsBndrEdgeStartAtCorner(const BndrStruct* bs, int edge, int corner);
int IsBndrEdgeEndAtCorner(const BndrStruct* bs, int edge, int corner);
// 1 for an unpaired edge on an outer curve whose outer continuity is held (>= 0), else 0.
int IsOuterFixedBndrEdge(const EdgeInfoStruct* e);
// 1 for an outer curve that is a single edge, else 0 (also for null).
int IsBndrCrvOnlyOuterEdge(const CrvInfoStruct* crv);
// 1 when one of the curve's edges is healed smooth (IsBndrEdgeHealedSmooth), else 0 (also for a
// bad index).
int IsBndrCrvMeetWithG1Cont(const BndrStruct* bs, int curve);
// The surface indices of sides A and B (-1 for B when unpaired). -2 for a null argument or a
// side without its surface record.
int GetBndrEdgeAdjSrfIds(const EdgeInfoStruct* e, int* srfA, int* srfB);
// Sorted, duplicate-free surfaces of the edges at the corner (new array); none for corners
// with fewer than 2 edges.
int BndrSrfIndexAtCorner(const BndrStruct* bs, int corner, int** ids, int* n);
// cons[0] side 1 (u-min), [1] side 4 (v-max), [2] side 3 (u-max), [3] side 2 (v-min).
// Per slot the outer continuity held on the surface's natural side there, -1 where that side is
// not outer. -2 for null or a bad index.
int GetSkinSrfBndrCons(const BndrStruct* bs, int srf, int cons[4]);
// The curve's parameter range: its 2D curve's for a trim curve, the surface's v range for sides
// 1 and 3, its u range for sides 2 and 4. -2 for null or another side value.
int GetBndrCrvParamMinMax(const CrvInfoStruct* crv, double* tmin, double* tmax);
// New 3D curve along a natural side; null for trim curves or missing links.
Bspline* GetBndrCrvCurve3Form(const CrvInfoStruct* crv);
// Makes every curve's 3D curve form (crv3) anew. -2 when a natural side's form could not be
// made for lack of memory.
int EvalAllBndrCrvCurve3Form(BndrStruct* bs);
// 1 when every control point of the 3D curve lies within 2e-4 x size of its first one: a side
// collapsed to a point of an object of that size (size 1 for IsCrv3Degenerate).
int IsCrv3Degenerate(const Bspline* crv);
int IsCrv3DegenerateAtSize(const Bspline* crv, double size);
// A natural side's curve is judged against its surface's control box diagonal, so that a side of
// a surface a millionth of a unit wide is still a curve.
int IsBndrCrvDegenerate(const CrvInfoStruct* crv);

// ---- edge sampling and averaged samples ---------------------------------------------------
// Samples every edge anew (parameters and basis tables): a paired edge with n samples (2 when
// n < 3), an unpaired one with a quarter of n, at least 50. -2 at the first edge that fails.
int SampleNewBndryStruct(BndrStruct* bs, int n);
// The same for the unpaired edges alone: the paired ones keep the samples they have (taken
// by ComputeBndrEdgeParamSamplesAndNubVals(e, 1, n) on the geometry and curve forms as they are).
int SampleNewBndryStructUnpaired(BndrStruct* bs, int n);
// ReSampleBndrEdgeParams on every edge; -2 at the first that fails.
int ReSampleNewBndryStruct(BndrStruct* bs);
// ComputeBndrEdgeParamSamples (at least 2 samples), then ComputeBndrEdgeNubVals; -2 when either
// fails.
int ComputeBndrEdgeParamSamplesAndNubVals(EdgeInfoStruct* e, int uniform, int n);
// Samples the edge anew: n uniform parameters on side A (a curve that is one edge gets at least
// its control points x degree + 1, + 4 on a paired edge as on side B), side B matched to them
// (ComputeBndrEdgeCorParVals); when side B's count is the larger, or the counts tie and side B's
// points over the seam make the shorter polyline (then: its first point comes first by
// coordinates), side A is matched to B's samples instead (bDrives), so that the samples do not
// depend on which side the group lists first. `uniform` is not used.
// The averaged arrays and basis tables of the old samples are freed. -2 on failure; a failed
// match leaves the edge without samples.
int ComputeBndrEdgeParamSamples(EdgeInfoStruct* e, int uniform, int n);
// n evenly spaced parameters (2 when n < 3) from t0 to t1, clamped into the curve's range,
// ascending; a new owned array with room for a few more. -2 for a null output, a bad curve or a
// failed allocation.
int GetBndrCrvUniformSamplesInIntervals(const CrvInfoStruct* crv, double t0, double t1, int n,
                                        double** params, int* count);
// Matches side B to side A's samples: each inner sample of A gets B's closest point, kept only
// where B's parameters stay monotone along the edge and off the interval's ends (a dropped sample
// leaves the edge one fewer); the ends match the ends. Replaces sampleA and sampleB. 0 with
// nothing done for an unpaired edge; -2 for an unsampled edge or a failed evaluation or
// allocation, the samples then kept.
int ComputeBndrEdgeCorParVals(EdgeInfoStruct* e);
// Matches side B anew to side A's samples (side A to side B's where side B drove) and retakes
// the basis tables. 0 with nothing done for an unpaired edge; -2 for an unsampled edge or a
// failure.
int ReSampleBndrEdgeParams(EdgeInfoStruct* e);
// n evenly spaced parameters from t0 to t1 (clamped into the curve's range, at least 2) and the
// curve's points there, in new arrays. -2 for a null output, a bad curve or a failed evaluation
// or allocation.
// points: count x 3 doubles, interleaved.
int EvalSamplePntsOnBndryCrvInterval(const CrvInfoStruct* crv, double t0, double t1, int n,
                                     double** params, double** points, int* count);
// Closest point of the curve to (x, y, z) within [lo, hi], started from the nearest of the n
// dense samples (params, points interleaved x 3).
int FindBndrCrvClosestPntSearch(CrvInfoStruct* crv, double x, double y, double z, int n,
                                const double* params, const double* points, double lo, double hi,
                                double point[3], double* t);
// The curve's 3D point at t. -2 for null, t outside the curve's range or a failed evaluation.
int EvalPntOnBndryCrv(const CrvInfoStruct* crv, double t, double point[3]);
// The surface's unit normal at the curve's point t. Where it vanishes the zero vector, with 0 on
// a natural side (a collapsed side) and -2 on a trim curve. -2 also for null, t out of range or a
// failed evaluation.
int EvalNormalOnBndryCrv(const CrvInfoStruct* crv, double t, double normal[3]);
// EvalNormalOnBndryCrv at each of ts[0 .. n): normals[i] and its result status[i]; a natural
// side's fixed parameter has its basis taken once for many samples (the same normals).
void EvalNormalsOnBndryCrv(const CrvInfoStruct* crv, const double* ts, int n, double (*normals)[3], int* status);
// The curve's unit tangent at t. Zero vector and 0 on a collapsed natural side or where a natural
// side's derivative vanishes; -2 where a trim curve's vanishes, for null, t out of range or a
// failed evaluation.
int EvalTangentOnBndryCrv(const CrvInfoStruct* crv, double t, double tangent[3]);
// Retakes the basis tables of each side with a 3D curve form at its samples (other sides get
// none). -2 for null or a failed evaluation, all tables then freed.
int ComputeBndrEdgeNubVals(EdgeInfoStruct* e);
// Frees the edge's basis tables; -2 for null and, after freeing, for an edge without samples or
// side A.
int FreeBndrEdgeNubVals(EdgeInfoStruct* e);
// ComputeBndrEdgeNubVals on every edge; -2 for null, no edges, or when one failed (the others
// are still done).
int SetAllEdgesNubVals(BndrStruct* bs);
// The averaged sample points (avgX/Y/Z, replaced; both calls are the same): at inner samples the
// mean of the two sides, or the one side that keeps its place (side A of an unpaired edge, a trim
// curve, a fixed or outer side, A before B); at the ends the stored end points. -2 for an
// unsampled edge or a failed evaluation or allocation.
int ComputeBndrEdgeAvgSamplePnts(EdgeInfoStruct* e);
int ComputeBndrEdgeAvgSamplePntsWithNubVals(EdgeInfoStruct* e);
// ComputeBndrEdgeAvgSamplePnts on every edge; -2 when one failed (the others are still done).
int ComputeAllBndrEdgesAvgSamplePnts(BndrStruct* bs);
// The averaged unit sample normals (avgNx/y/z, replaced; both calls are the same): side A's, on
// an edge healed smooth (side A neither fixed nor outer-held) the mean with side B's turned to
// A's side, or B's alone where B is fixed; at the ends the stored end normals, with B's on such an
// edge. -2 for fewer than 2 samples, a failed evaluation or allocation, or a vanished start
// normal.
int EvalBndrEdgeAvgSampleNormals(EdgeInfoStruct* e);
int NewEvalBndrEdgeAvgSampleNormals(EdgeInfoStruct* e);
// NewEvalBndrEdgeAvgSampleNormals (its status in *avgStatus) and then BndrEdgeMaxNormalDiff
// (returned) on one edge, each side's normal at each sample evaluated once for the two: the same
// averages and angle. -2 also for a null argument or no memory for the shared normals.
int EvalBndrEdgeAvgSampleNormalsAndMaxDiff(EdgeInfoStruct* e, int* avgStatus, double* angle);
// EvalBndrEdgeAvgSampleNormals on every sampled edge, an edge that fails keeping its arrays;
// -2 only for null.
int EvalAllBndrEdgeAvgSampleNormals(BndrStruct* bs);

// ---- continuity classification and measures ----------------------------------------------
// Classifies a paired edge: continuity 1 when the G0 and G1 tests pass, else 0, and (G0 passed)
// smoothInside when only its ends exceed angleTol. An unpaired edge is left as it is. -2 for null.
int SetBndrEdgeContinuity(EdgeInfoStruct* e, double gapTol, double angleTol);
// 1 when the matching ends and every sample pair of a paired, sampled edge lie within gapTol
// (G0), and for G1 also their folded normal angles within angleTol degrees; 0 otherwise, also
// for a failed evaluation or a vanished end normal.
int IsBndrEdgeG0Continuity(const EdgeInfoStruct* e, double gapTol);
int IsBndrEdgeG1Continuity(const EdgeInfoStruct* e, double gapTol, double angleTol);
// 1 for a paired edge the heal works on as smooth (tangential heal, corner normals and tangents,
// the fall-backs' judge): continuity 1, or a crease only by a spike at an end (smoothInside).
int IsBndrEdgeHealedSmooth(const EdgeInfoStruct* e);
// The share of side A's normal in the normal both sides of a smooth seam turn to (0..1): the side
// whose rows lie the farther apart across it keeps the more of its own; 0.5 for nets alike.
double SmoothSeamShareA(const EdgeInfoStruct* e);
// The largest distance between a paired edge's sides over its matching ends and sample pairs and
// the parameters where it lies (also written to maxGap, gapParA, gapParB); null outputs are
// skipped. An unpaired edge gives gap 0 and tA its start, with -2 from ComputeMaxBndrEdgeGap and
// 0 from the NubVals form, which reads the samples through the basis tables and is -2 for a
// trim-curve side or missing tables. -2 also for a failed evaluation.
int ComputeMaxBndrEdgeGap(EdgeInfoStruct* e, double* gap, double* tA, double* tB);
int ComputeMaxBndrEdgeGapNubVals(EdgeInfoStruct* e, double* gap, double* tA, double* tB);
// ComputeMaxBndrEdgeGap over the paired edges: the largest gap, its edge (-1 and gap 0 when none
// is paired) and its parameters. -2 for null or when an edge fails.
int ComputeBndrInfoMaxEdgeGap(BndrStruct* bs, double* gap, int* edge, double* tA, double* tB);
// The largest folded normal angle (degrees) of a paired edge over its matching ends and sample
// pairs (a pair with a vanished normal skipped), also written to maxAngle; 0 for an unpaired or
// unsampled edge. `ignored` is not used. -2 for null, a failed evaluation or a vanished end
// normal.
int BndrEdgeMaxNormalDiff(EdgeInfoStruct* e, double ignored, double* angle);
// Largest folded normal angle over the samples between a tenth and nine tenths of a paired edge
// (0 for an unpaired or unsampled edge). -2 for a null argument or a failed evaluation.
int BndrEdgeInsideNormalDiff(const EdgeInfoStruct* e, double* angle);
// Largest angle (degrees) between the two sides' slopes across a paired edge over the same samples,
// each slope taken eight knot spans into its surface and carried back to the seam (0 where the
// sides run on into each other), so that the first legs of dense nets do not count. 1 with angle
// 0 where a sample cannot be measured so (a trim curve, a collapsed side, a net of fewer than 32
// spans across a side, no sample inside); 0 for an unpaired or unsampled edge; -2 for a null
// argument or a failed evaluation.
int BndrEdgeInsideSlopeDiff(const EdgeInfoStruct* e, double* angle);
// BndrEdgeMaxNormalDiff over the paired edges (an unpaired one gets maxAngle 0): the largest
// angle among the edges with continuity 1 and its edge (angle 0 and edge 0 when there is none).
// -2 for null or when an edge fails.
int ComputeBndrInfoMaxNormalDiff(BndrStruct* bs, double ignored, double* angle, int* edge);
// The group's largest gap (paired edges) and normal angle (edges with continuity 1), null outputs
// skipped. -2 for null, another mode or a failure.
// mode 0 present samples, 1 rematch side B, 2 sample anew with nSamples.
int ComputeSrfsGrpContinuity(BndrStruct* bs, int mode, int nSamples, double* maxGap,
                             double* maxAngle);
// The largest distance between the curve and its paired edges' averaged inner sample points, and
// the curve's parameter there; 0 at the range's start for a curve without a paired edge. -2 for a
// null argument, a failed evaluation, or paired edges none of which has averaged points.
int ComputeMaxBndrCrvToEdgeSampleDiff(const CrvInfoStruct* crv, const EdgeInfoStruct* edges,
                                      int nEdge, double* dist, double* t);
// The edge's stored end normals at the corner; count 1 for an unpaired edge. -2 for a bad
// argument or a corner the edge does not end at.
// normals[0..2] side A's end normal at the corner; normals[3..5] side B's (count 2).
int GetBndrEdgeNormalAtCorner(const BndrStruct* bs, int edge, int corner, double normals[6],
                              int* count);

// ---- end and corner geometry --------------------------------------------------------------
// The corner set-up of an iteration: 3D curve forms; each edge's end points, tangents and normals
// (recording the seam's start when none is recorded); common corner positions and normals; end
// tangents laid in their end planes and shared across seams; basis tables and averaged sample
// points. -2 when a step fails.
int SetUpBndrEdgeCornerGeometry(BndrStruct* bs);
// The edge's end points, unit tangents or unit normals (zero where they vanish) by slot; an
// unpaired edge's B slots copy A's. -2 for null or a failed evaluation.
int EvalBndrEdgeEndPoints(EdgeInfoStruct* e);
int EvalBndrEdgeEndTangents(EdgeInfoStruct* e);
int EvalBndrEdgeEndNormals(EdgeInfoStruct* e);
// Gives each paired edge's matching ends one point (SetBndrEdgeAvgEndPoints), then each corner the
// mean of its edges' end points (of the held ones alone when any: outer-held, trim curve, fixed),
// written to the corner and its edges (SetBndrInfoCornerPosition). -2 for null or a corner whose
// edge list does not fit.
int SetUpBndrCornerPositions(BndrStruct* bs);
// Gives both sides of a paired edge, at each end, one point: their mean, or the side that keeps
// its place (outer, overridden by trim curve, overridden by fixed). 0 with nothing done for an
// unpaired edge; -2 for null.
int SetBndrEdgeAvgEndPoints(EdgeInfoStruct* e);
// Every corner's G1-adjacent half-edges one normal, as SIAverageBndrTopoCornerNormals gives it,
// but at a corner of the nets where only paired smooth seams meet and a side of one span and
// degree 4 or more starts: there it is the normal of the plane the surfaces' first legs lie
// closest to, each leg's direction weighted by its length, so that a fine net turns to a coarse
// one rather than the reverse. -2 for null, no corners or a failed allocation.
int SetUpBndrAllCornerNormals(BndrStruct* bs);
// Lays each end tangent into its end normal's plane (zero where it cannot be), copies an unpaired
// edge's A tangents into its B slots, and gives a paired edge's matching ends a common tangent
// (FindEdgeCommonTangent). -2 for null or when that fails.
int ProjectBndrEdgeEndTangents(EdgeInfoStruct* e);
// On a paired edge between a trim curve and a fixed side: side A when it is a free natural side,
// else side B, takes the other's end tangents at the matching ends, and its normals turned to its
// own side (side B on an edge not healed smooth only lays its normals square to the new tangent).
// 0 otherwise; -2 for null.
int SetG1EdgeWithtrimCurveEndTangents(EdgeInfoStruct* e);
// Along a natural side of several edges, an end of an edge not healed smooth next to one healed
// smooth (IsBndrEdgeHealedSmooth) takes that edge's tangent there, so that the side has one
// tangent across the break. -2 for null or a bad index.
int ModifyBndrCrvG0EdgesEndTangents(BndrStruct* bs, int curve);
// Fairs every edge's averaged sample points (ends held), then moves each corner of 3 or more
// edges half way to the mean of its edges' next averaged points. -2 for null or a failed
// fairing.
int RefineBndrCornerPositions(BndrStruct* bs);
// Sets the corner's position and, on both sides, the end point (and end averaged point) of every
// edge there. -2 for null or a bad index.
int SetBndrInfoCornerPosition(BndrStruct* bs, int corner, double x, double y, double z);

// ---- corner normals -----------------------------------------------------------------------
// Gives the half-edges at the corner that are G1 adjacent (IsHalfEdgeG1Adjacent, closed over one
// pass) one normal: the mean of theirs, or of the held ones (IsHalfEdgeNormalFixed) when any,
// each keeping its own orientation. Both calls are the same. 0 for a corner with one half-edge;
// -2 for null, a bad index, a corner without edges or a failed allocation.
int AverageBndrTopoCornerNormals(BndrStruct* bs, int corner);
int SIAverageBndrTopoCornerNormals(BndrStruct* bs, int corner);
// The per-surface form: each surface at the corner (recorded in srfIds) gets its mean normal
// there (GetAverageSrfNormalsAtCorner), surfaces joined by seams healed smooth the mean of
// their group's, a held side's normal passed on to its partner; written to every half-edge,
// keeping its orientation. 0 for a corner of fewer than 2 edges; -2 for null, a bad index, no
// surfaces or a failed allocation.
int NewAverageBndrTopoCornerNormals(BndrStruct* bs, int corner);
// normals[s] for each surface srfIds[s] at the corner: the unit mean of its sides' end normals
// there (of the held ones alone when any: trim curve, fixed, or outer with continuity >= 1), each
// turned to the first's side; zero when it has none. -2 for a bad argument.
int GetAverageSrfNormalsAtCorner(BndrStruct* bs, int corner, double (*normals)[3]);
// 1 when two half-edges' normals must agree at a corner: sides of one surface on different
// edges, the two ends of one side, or the two sides of an edge healed smooth; else 0.
int IsHalfEdgeG1Adjacent(const BndrStruct* bs, const BndrHalfEdge* h, const BndrHalfEdge* k);
// The half-edge's unit end normal (zero where it vanishes). -2 for a bad argument or a half-edge
// not ending at the corner.
int GetHalfEdgeNormalAtVertex(const BndrStruct* bs, const BndrHalfEdge* h, int corner,
                              double normal[3]);
// 1 when the half-edge's side must keep its normal (a trim curve or a fixed curve), else 0.
int IsHalfEdgeNormalFixed(const BndrStruct* bs, const BndrHalfEdge* h);
// Sets the half-edge's end normal to the unit `normal`, turned to the side of the one it had;
// nothing is done (0) when `normal` vanishes. -2 for null.
int SetHalfEdgeNormal(BndrStruct* bs, const BndrHalfEdge* h, const double normal[3]);

// ---- vector helpers of the corner steps ---------------------------------------------------
// Adds v's unit vector, turned to ref's side, to sum and counts it; -2, nothing added, when v
// vanishes.
int AddOneNormalizedVecToSumVec(const double ref[3], const double v[3], double sum[3], int* count);
// Replaces v by w's unit vector turned to v's side; -2, v kept, when either vanishes.
int SetUnitVecOnSameSide(double v[3], const double w[3]);
// dst = src, reversed unless it points the way dst did (units' dot product at least 0.001).
// Always 0.
int VecProjectReverse3(const double src[3], double dst[3]);
// Gives the tangents of a seam's two sides at a matching end one direction, each keeping its
// sense: the tangent planes' common line when the normals differ by a kink about it (within
// kCommonTangentCos of the tangents' mean), else the mean tangent in the plane of the mean
// normal, which both normals then take. Where one tangent vanishes it stays zero and the other
// is laid along the common line or only made unit. 0 with nothing done when a normal vanishes;
// -2 for null or tangents that cancel.
int FindEdgeCommonTangent(double nA[3], double nB[3], double tA[3], double tB[3]);
