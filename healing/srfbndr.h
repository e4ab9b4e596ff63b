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
  int spare2[3];
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
  int startSet;
  // 1: a crease (continuity 0, within the gap limit) only by a spike at an end: every sample
  // between a tenth and nine tenths of it is within the angle limit it was classified with. The
  // heal takes it as smooth (IsBndrEdgeHealedSmooth); its continuity stays as classified.
  int smoothInside;
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
int FreeBndrStruct(BndrStruct* bs);
// Frees the sample arrays, averaged points and normals and basis tables of every edge.
int FreeBndrStructEdgeSamples(BndrStruct* bs);

int FillUpCrvInfoStruct(BndrStruct* bs, Gsrf* g);
int FillUpBndrInfoStruct(BndrStruct* bs, Gsrf* g);
int AssignBndrStructElementIds(BndrStruct* bs);
int AssignBndrStructCrvBndrIds(BndrStruct* bs);
int AssignCorner2BndrIndices(BndrStruct* bs);
int AssignSrf2BndrCrvIndices(BndrStruct* bs);
// Sorted edge list of a curve (new array); consecutive edges are made to meet at one
// parameter. -2 when no edge uses the curve.
int GetCrvAllBndrElementIndices(BndrStruct* bs, int curve, int** edges, int* n);

// Puts a surface's knot vectors (and its domain and 2D curves with them) onto [0, 1] in each
// direction: the group's structure and heal then do not depend on the knot values an exporter
// wrote (an end a round-off from 0, any offset or scale). -2 for a null or non-surface record
// or a direction without knot range; the record is then as it was.
int NormalizeBndrSrfDomain(Bspline* srf);

// ---- setters used by the heal driver ------------------------------------------------------
// Forgets every edge's recorded start and every corner's flat mark: the next corner set-up
// records the group as it is then.
int ForgetBndrEdgeStarts(BndrStruct* bs);
// Marks flat (once more, at most twice) both corners of every crease (a paired edge beyond the
// angle limit with its start recorded) whose largest angle now exceeds its start by more than
// `rise` degrees; the number of marks made, -2 when memory ran out.
int FlattenRisenCreaseCorners(BndrStruct* bs, double rise);

// Why a paired edge may stay open, for the report of its side `side` (0 A, 1 B), as far as the
// structure can tell, in this order: at one of its ends both surfaces' corners lie on held outer
// sides (outer continuity >= 0) and are further apart than gapTol (kBndrOpenHeldEnd); this
// side's curve, with the knots it has, cannot follow the other side's shape within gapTol
// (kBndrOpenCoarseSide); the other side's cannot follow this one's (kBndrOpenCoarseOther).
// After the held end and before the coarse nets: the last heal put a surface of the edge back
// where it began (keptStart), the first of these its surfaces give: healing it turned its normals
// over (kBndrOpenKeptFold), made a seam worse (kBndrOpenKeptStart), or it closed none of its seams
// beside a neighbour put back (kBndrOpenKeptAlone). 0 when none is found (also for an unpaired
// edge or a side the tests cannot judge, a trim curve). -2 for bad input or a failed allocation.
constexpr int kBndrOpenCoarseSide = 1;
constexpr int kBndrOpenCoarseOther = 2;
constexpr int kBndrOpenHeldEnd = 3;
constexpr int kBndrOpenKeptStart = 4;
constexpr int kBndrOpenKeptFold = 5;
constexpr int kBndrOpenKeptAlone = 6;
int FindBndrEdgeOpenReason(const BndrStruct* bs, int edge, int side, double gapTol);

int SetSkinSrfsOuterContinuity(BndrStruct* bs, int continuity);
int SetSkinSrfsFixedCrvs(BndrStruct* bs);

// ---- queries ------------------------------------------------------------------------------
int IsBndrEdgeStartAtCorner(const BndrStruct* bs, int edge, int corner);
int IsBndrEdgeEndAtCorner(const BndrStruct* bs, int edge, int corner);
int IsOuterFixedBndrEdge(const EdgeInfoStruct* e);
int IsBndrCrvOnlyOuterEdge(const CrvInfoStruct* crv);
int IsBndrCrvMeetWithG1Cont(const BndrStruct* bs, int curve);
int GetBndrEdgeAdjSrfIds(const EdgeInfoStruct* e, int* srfA, int* srfB);
// Sorted, duplicate-free surfaces of the edges at the corner (new array); none for corners
// with fewer than 2 edges.
int BndrSrfIndexAtCorner(const BndrStruct* bs, int corner, int** ids, int* n);
// cons[0] side 1 (u-min), [1] side 4 (v-max), [2] side 3 (u-max), [3] side 2 (v-min).
int GetSkinSrfBndrCons(const BndrStruct* bs, int srf, int cons[4]);
int GetBndrCrvParamMinMax(const CrvInfoStruct* crv, double* tmin, double* tmax);
// New 3D curve along a natural side; null for trim curves or missing links.
Bspline* GetBndrCrvCurve3Form(const CrvInfoStruct* crv);
int EvalAllBndrCrvCurve3Form(BndrStruct* bs);
// 1 when every control point of the 3D curve lies within 2e-4 x size of its first one: a side
// collapsed to a point of an object of that size (size 1 for IsCrv3Degenerate).
int IsCrv3Degenerate(const Bspline* crv);
int IsCrv3DegenerateAtSize(const Bspline* crv, double size);
// A natural side's curve is judged against its surface's control box diagonal, so that a side of
// a surface a millionth of a unit wide is still a curve.
int IsBndrCrvDegenerate(const CrvInfoStruct* crv);

// ---- edge sampling and averaged samples ---------------------------------------------------
int SampleNewBndryStruct(BndrStruct* bs, int n);
// The same for the unpaired edges alone: the paired ones keep the samples they have (taken
// by ComputeBndrEdgeParamSamplesAndNubVals(e, 1, n) on the geometry and curve forms as they are).
int SampleNewBndryStructUnpaired(BndrStruct* bs, int n);
int ReSampleNewBndryStruct(BndrStruct* bs);
int ComputeBndrEdgeParamSamplesAndNubVals(EdgeInfoStruct* e, int uniform, int n);
int ComputeBndrEdgeParamSamples(EdgeInfoStruct* e, int uniform, int n);
int GetBndrCrvUniformSamplesInIntervals(const CrvInfoStruct* crv, double t0, double t1, int n,
                                        double** params, int* count);
int ComputeBndrEdgeCorParVals(EdgeInfoStruct* e);
int ReSampleBndrEdgeParams(EdgeInfoStruct* e);
// points: count x 3 doubles, interleaved.
int EvalSamplePntsOnBndryCrvInterval(const CrvInfoStruct* crv, double t0, double t1, int n,
                                     double** params, double** points, int* count);
// Closest point of the curve to (x, y, z) within [lo, hi], started from the nearest of the n
// dense samples (params, points interleaved x 3).
int FindBndrCrvClosestPntSearch(CrvInfoStruct* crv, double x, double y, double z, int n,
                                const double* params, const double* points, double lo, double hi,
                                double point[3], double* t);
int EvalPntOnBndryCrv(const CrvInfoStruct* crv, double t, double point[3]);
int EvalNormalOnBndryCrv(const CrvInfoStruct* crv, double t, double normal[3]);
// EvalNormalOnBndryCrv at each of ts[0 .. n): normals[i] and its result status[i]; a natural
// side's fixed parameter has its basis taken once for many samples (the same normals).
void EvalNormalsOnBndryCrv(const CrvInfoStruct* crv, const double* ts, int n, double (*normals)[3], int* status);
int EvalTangentOnBndryCrv(const CrvInfoStruct* crv, double t, double tangent[3]);
int ComputeBndrEdgeNubVals(EdgeInfoStruct* e);
int FreeBndrEdgeNubVals(EdgeInfoStruct* e);
int SetAllEdgesNubVals(BndrStruct* bs);
int ComputeBndrEdgeAvgSamplePnts(EdgeInfoStruct* e);
int ComputeBndrEdgeAvgSamplePntsWithNubVals(EdgeInfoStruct* e);
int ComputeAllBndrEdgesAvgSamplePnts(BndrStruct* bs);
int EvalBndrEdgeAvgSampleNormals(EdgeInfoStruct* e);
int NewEvalBndrEdgeAvgSampleNormals(EdgeInfoStruct* e);
// NewEvalBndrEdgeAvgSampleNormals (its status in *avgStatus) and then BndrEdgeMaxNormalDiff
// (returned) on one edge, each side's normal at each sample evaluated once for the two: the same
// averages and angle. -2 also for a null argument or no memory for the shared normals.
int EvalBndrEdgeAvgSampleNormalsAndMaxDiff(EdgeInfoStruct* e, int* avgStatus, double* angle);
int EvalAllBndrEdgeAvgSampleNormals(BndrStruct* bs);

// ---- continuity classification and measures ----------------------------------------------
int SetBndrEdgeContinuity(EdgeInfoStruct* e, double gapTol, double angleTol);
int IsBndrEdgeG0Continuity(const EdgeInfoStruct* e, double gapTol);
int IsBndrEdgeG1Continuity(const EdgeInfoStruct* e, double gapTol, double angleTol);
// 1 for a paired edge the heal works on as smooth (tangential heal, corner normals and tangents,
// the fall-backs' judge): continuity 1, or a crease only by a spike at an end (smoothInside).
int IsBndrEdgeHealedSmooth(const EdgeInfoStruct* e);
int ComputeMaxBndrEdgeGap(EdgeInfoStruct* e, double* gap, double* tA, double* tB);
int ComputeMaxBndrEdgeGapNubVals(EdgeInfoStruct* e, double* gap, double* tA, double* tB);
int ComputeBndrInfoMaxEdgeGap(BndrStruct* bs, double* gap, int* edge, double* tA, double* tB);
int BndrEdgeMaxNormalDiff(EdgeInfoStruct* e, double ignored, double* angle);
// Largest folded normal angle over the samples between a tenth and nine tenths of a paired edge
// (0 for an unpaired or unsampled edge). -2 for a null argument or a failed evaluation.
int BndrEdgeInsideNormalDiff(const EdgeInfoStruct* e, double* angle);
int ComputeBndrInfoMaxNormalDiff(BndrStruct* bs, double ignored, double* angle, int* edge);
// mode 0 present samples, 1 rematch side B, 2 sample anew with nSamples.
int ComputeSrfsGrpContinuity(BndrStruct* bs, int mode, int nSamples, double* maxGap,
                             double* maxAngle);
int ComputeMaxBndrCrvToEdgeSampleDiff(const CrvInfoStruct* crv, const EdgeInfoStruct* edges,
                                      int nEdge, double* dist, double* t);
// normals[0..2] side A's end normal at the corner; normals[3..5] side B's (count 2).
int GetBndrEdgeNormalAtCorner(const BndrStruct* bs, int edge, int corner, double normals[6],
                              int* count);

// ---- end and corner geometry --------------------------------------------------------------
int SetUpBndrEdgeCornerGeometry(BndrStruct* bs);
int EvalBndrEdgeEndPoints(EdgeInfoStruct* e);
int EvalBndrEdgeEndTangents(EdgeInfoStruct* e);
int EvalBndrEdgeEndNormals(EdgeInfoStruct* e);
int SetUpBndrCornerPositions(BndrStruct* bs);
int SetBndrEdgeAvgEndPoints(EdgeInfoStruct* e);
int SetUpBndrAllCornerNormals(BndrStruct* bs);
int ProjectBndrEdgeEndTangents(EdgeInfoStruct* e);
int SetG1EdgeWithtrimCurveEndTangents(EdgeInfoStruct* e);
int ModifyBndrCrvG0EdgesEndTangents(BndrStruct* bs, int curve);
int RefineBndrCornerPositions(BndrStruct* bs);
int SetBndrInfoCornerPosition(BndrStruct* bs, int corner, double x, double y, double z);

// ---- corner normals -----------------------------------------------------------------------
int AverageBndrTopoCornerNormals(BndrStruct* bs, int corner);
int SIAverageBndrTopoCornerNormals(BndrStruct* bs, int corner);
int NewAverageBndrTopoCornerNormals(BndrStruct* bs, int corner);
int GetAverageSrfNormalsAtCorner(BndrStruct* bs, int corner, double (*normals)[3]);
int IsHalfEdgeG1Adjacent(const BndrStruct* bs, const BndrHalfEdge* h, const BndrHalfEdge* k);
int GetHalfEdgeNormalAtVertex(const BndrStruct* bs, const BndrHalfEdge* h, int corner,
                              double normal[3]);
int IsHalfEdgeNormalFixed(const BndrStruct* bs, const BndrHalfEdge* h);
int SetHalfEdgeNormal(BndrStruct* bs, const BndrHalfEdge* h, const double normal[3]);

// ---- vector helpers of the corner steps ---------------------------------------------------
int AddOneNormalizedVecToSumVec(const double ref[3], const double v[3], double sum[3], int* count);
int SetUnitVecOnSameSide(double v[3], const double w[3]);
int VecProjectReverse3(const double src[3], double dst[3]);
int FindEdgeCommonTangent(double nA[3], double nB[3], double tA[3], double tB[3]);
