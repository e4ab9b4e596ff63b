// The boundary graph of a surface group: every surface, its boundary loops (the natural
// rectangle or its trim loops), the boundary curves of those loops with a sample polyline
// each, the corner vertices where curve ends meet, and the boundary elements (pieces of
// curves between corner vertices, each linked to the piece of another curve running beside
// it within the gap tolerance).
//
// All records live in arrays owned by the Gsrf. Ids are positions in their array, from 0,
// and are global across the group, so the records of one surface, loop or curve occupy a
// consecutive range; the pointer fields point into the same arrays. Samples are float, held
// in flat group arrays, curves one after another in curve-id order; a curve's sample
// pointers are views into them.
//
// Side numbering of a natural boundary curve (kind): 1 u minimum, 2 v minimum, 3 u maximum,
// 4 v maximum; kind 0 is a trim curve. Every curve runs in increasing parameter, so the four
// sides do not all run the same way around their loop.
#pragma once

struct Bspline;
struct BsplineList;
struct TrimList;
struct Gsrf;
struct GsrfLoop;
struct GsrfCrv;
struct GsrfBndrEl;
struct GsrfCornerVert;

struct GsrfSrf {
  int id;
  Bspline* srf;
  Gsrf* owner;
  int nLoop;
  int nCrv;
  int nEl;
  int nSample;
  int firstLoop;
  int firstCrv;
  int firstEl;
  int firstSample;
  GsrfLoop* loops;  // its first loop
  GsrfCrv* crvs;    // its first curve
  GsrfBndrEl* els;  // its first element
};

struct GsrfLoop {
  int id;
  TrimList* trim;  // null for the natural boundary
  Bspline* srf;
  int srfId;
  int nCrv;
  int nEl;
  int nSample;
  int firstCrv;
  int firstEl;
  int firstSample;
  GsrfCrv* crvs;
  GsrfBndrEl* els;
};

struct GsrfCrv {
  int id;
  int kind;          // 0 trim curve, 1..4 natural side (see above)
  BsplineList* node;  // the trim loop's node holding the 2D curve; null for a side
  double t0;         // parameter range: the trim curve's own, v range for sides 1 and 3,
  double t1;         // u range for sides 2 and 4
  int closed;        // 1 when the last and first samples lie within tol
  Bspline* srf;
  int srfId;
  int nEl;
  int nSample;
  int firstEl;
  int firstSample;
  GsrfBndrEl* els;  // first element
  float* x;         // views at the curve's first sample
  float* y;
  float* z;
  float* dev;
  float* t;
  float* closePos;  // closest-sample views (grid search only)
  float* closeT;
  int prev;  // neighbouring curve ids in the loop, cyclic; curves without samples bypassed
  int next;
};

// A sector of one curve between two consecutive break entries.
struct GsrfBndrEl {
  int id;
  GsrfBndrEl* prev;  // neighbours on the same curve, null at the ends
  GsrfBndrEl* next;
  GsrfCrv* crv;
  int srfId;
  double t0;  // curve parameters
  double t1;
  GsrfBndrEl* partner;  // null when unpaired
  double maxDist;       // largest distance to the partner
  int orient;           // 1: partner runs the same way, 0: the opposite way
  int v0;               // vertex id at the start
  int v1;               // vertex id at the end
};

// A corner vertex: a cluster of curve ends.
struct GsrfVertex {
  double c[3];   // centroid of the members
  double lo[3];  // smallest member coordinates
  double hi[3];  // largest member coordinates
  int nMember;
  GsrfCornerVert* members;
  int footSeg[4];                // T-junction feet: start sample of the polyline segment,
  double footFrac[4];            // fraction along it (1 at the start sample, 0 at the end),
  unsigned char footUsed[4];     // 1 once the foot became a break entry
  unsigned char nFoot;
};

struct GsrfCornerVert {
  GsrfCornerVert* next;
  int sample;  // global index of the first or last sample of a curve
};

struct GsrfBreak {
  GsrfBreak* next;  // ascending position
  int vert;
  int state;  // 0 free, 1 the sector starting here is paired, -1 the curve is collapsed
  // While matching: global sample position (index plus fraction; a curve's last sample sits
  // at index + 0.999999). Afterwards: fraction 0..1 of the curve's parameter range.
  double pos;
};

struct GsrfPair {
  int crvA;
  int crvB;  // -1 dropped, -2 curve A unpaired over its whole sample range
  double a0;  // positions on A
  double a1;
  double b0;  // positions on B, matching a0 and a1
  double b1;
  int v0;  // vertex at A's start
  int v1;  // vertex at A's end
  int elA;  // element ids, filled at the end (-1: none)
  int elB;
  int spare;  // -1 at creation
};

struct Gsrf {
  int spare;  // 0 at construction
  int nSrf;
  int nLoop;
  int nCrv;
  int nEl;      // 0 until corner matching has run
  int nSample;  // 0 once the samples are freed
  GsrfSrf* srfs;
  GsrfLoop* loops;
  GsrfCrv* crvs;
  GsrfBndrEl* els;
  float* x;
  float* y;
  float* z;
  float* dev;  // 1.1 x the chordal deviation of the span starting at the sample
  float* t;    // curve parameter
  float* closePos;  // grid search only; null otherwise
  float* closeT;
  double tol;     // sample-merge distance
  double gapTol;  // largest distance at which two boundaries run side by side
  double maxDev;  // largest chordal deviation (starts at -3.37e38)
  GsrfVertex* verts;
  int nVert;
  int nPair;
  GsrfCornerVert* members;
  GsrfBreak** breakHeads;  // one per curve, null for a curve without samples
  GsrfBreak* breaks;       // pool of break entries
  GsrfPair* pairs;
  // The single-precision samples are measured from here (the centre of the surfaces' control
  // box), so that they keep their precision far from the world's origin.
  double origin[3];
};

// ---- building and freeing ------------------------------------------------------------------
// Builds the graph of the surfaces (kind 2) among objs. The objects are modified (their trim
// curves are split at tangent breaks): pass copies. status: 0, or -2 with null returned (error
// state -2 as well, nothing changed, for a null objs, a negative n, an object that is not sound
// (bsvalid) and a tolerance that is not finite). n = 0 gives null with status 0.
Gsrf* MakeGSrfBndrStructCore(Bspline** objs, int n, double tol, double gapTol, int* status);
// 1 on success; 0 when n < 1, no object is a surface, or memory failed.
int MakeGSrfSurfsCore(Gsrf* g, Bspline** objs, int n);
// Steps of MakeGSrfBndrStructCore after MakeGSrfSurfsCore. MakeGSrfLoops: a loop per trim loop
// of every surface, the natural rectangle's first unless a trim loop is an outer one.
// MakeGSrfTcurves: the loops' curves (four natural sides, or the trim loop's curves) linked
// around each loop, and each surface's range of them. 1 on success; 0 for a graph without
// surfaces (loops) or a failed allocation.
int MakeGSrfLoops(Gsrf* g);
int MakeGSrfTcurves(Gsrf* g);
// Frees the per-sample arrays and clears every sample count; null is ignored.
void FreeGsrfSamples(Gsrf* g);
// Frees every array of the graph and the record (not the surfaces); null is ignored.
void FreeGsrfBndr(Gsrf* g);
// Curve holding a global sample index, -1 outside 0..samples-1. hint < 0: bisection;
// otherwise a walk from curve hint.
int GetCrvIdFromIndex(Gsrf* g, int sample, int hint);

// ---- sampling and closest samples ----------------------------------------------------------
// max(n, 3) samples per curve, merged within g->tol. 1 on success, 0 on failure.
int SampleGsrfBndr(Gsrf* g, int n);
// Fills the curve's views (which must have room for n samples), count, closed flag and
// parameter range; raises *maxDev to the largest span deviation. 0, or -2 when the
// evaluation was refused.
int SampleCrvBndr(GsrfCrv* c, int n, double tol, double* maxDev);
// Distance of m from the line through a and b; 1e-6 x size when a and b lie within 1e-5 x size
// (size: the extent of the object the points lie on, 1 for unit-size objects).
double GetChordalDev3Pts(const float a[3], const float m[3], const float b[3], double size = 1.0);
// Projects p on the curve: *t in the start parameter, out the foot's. The projection's
// status (0 converged), or the kind itself when it is outside 0..4. A side is projected on
// its surface from the side, and the foot's parameter along the side is taken.
int ClosestPointOnBndrCrv(GsrfCrv* c, const double p[3], double* t);
// The same projection; returns the distance from p to the curve's point at the foot's
// parameter (-1 for a kind outside 0..4).
double ClosestDistOnBndrCrv(GsrfCrv* c, const double p[3], double* t);
// Grid search of the nearest other-curve sample position per sample (into closePos/closeT).
// 1 or 0.
int ClosestSampleGsrf(Gsrf* g);
// Elements from the grid search's results; 0 without them. 1 or 0.
int MakeGsrfBndrEl(Gsrf* g);
// Puts el into its curve's element list, ordered by parameter.
void InsertBndrEl(GsrfCrv* c, GsrfBndrEl* el);

// ---- corner matching -----------------------------------------------------------------------
// Corner vertices, paired sectors, T-junction cuts and the elements; frees the samples at the
// end. 1 on success, 0 on failure.
int ClosestCornersGsrf(Gsrf* g);
// The same call as ClosestCornersGsrf.
int ClosestSampleGsrfBySort(Gsrf* g);
// Flags (one per sample) the first and last samples of every curve with samples; returns
// twice the number of such curves.
int GetCornerVertsGsrf(Gsrf* g, unsigned char* flags);
// 1 when the polyline segments at samples i and j of the curve make at most 45 degrees in
// either sense (or one of them is degenerate).
int isSameDirection(Gsrf* g, int i, int j, int curve);
// Largest distance between the pair's two sectors (sample positions), capped at 2 x gap
// tolerance; -1 when the pair has no curve B. refine: distances above the gap tolerance that
// would raise the result are replaced by exact distances to the other curve.
double FindMaxDistPair(Gsrf* g, const GsrfPair* pair, int refine);
// How far from a side's end a corner may lie and still be that end, for a side whose ends lie
// sideChord apart under the largest gap gapTol: the gap, which no damage the heal closes moves a
// corner by; on a side shorter than eight gaps (hardly longer than the plug-in's limit on the
// gap allows) twice the gap, as far apart as the corners of one vertex, each within the gap of
// its centre, may lie. Farther, the corner lies partway along the side (a T-junction).
double CornerEndReach(double sideChord, double gapTol);
// Fraction of the curve's parameter range at the projection of point, started from the
// global sample position pos.
double FindCrvParamValueTjunct(Gsrf* g, const double point[3], int curve, double pos);
// 1 when curve runs beside the part of the cut sector after the cut (the cut's parameter is
// below the projection of the sector's middle sample on curve), else 0.
int GetClosestSectorOnCrv(Gsrf* g, const GsrfBreak* cut, const GsrfBreak* sector, int curve);

// ---- redundant and duplicate surfaces (the work is in surface/srfdup) ------------------------
struct OneLink;

// Sorts the n surfaces into groups of mutual duplicates (a surface lying inside another within
// tol counts). The caller gives one list head per surface and a pool of n nodes; on return the
// head of index k holds the group whose smallest index is k, every other head null. boxes: one
// box {xmin, ymin, zmin, xmax, ymax, zmax} per surface; only surfaces whose boxes lie inside one
// another within tol are compared. 1; 0 when memory runs out before anything was changed (heads
// untouched), or later or on a user break (the heads hold the groups joined so far).
int FindRedundantSurfaces(Bspline** surfs, int n, const double boxes[][6], OneLink** groups,
                          OneLink* pool, double tol);
// 1 when a lies on b within tol, gx, gy, gz being b's closest-point grid cache (filled on first
// use, freed by the caller); 0 otherwise and when a projection or a sampling fails, and (error
// state -2) for records that are not sound (bsvalid) 3D surfaces, a null cache or a tol that is
// not finite.
int DuplicateSurfaces(Bspline* a, Bspline* b, double** gx, double** gy, double** gz, double tol);
// 1 when either box lies inside the other widened by tol; boxes that merely intersect: 0.
int BboxesOverlap(const double b0[6], const double b1[6], double tol);
// The point of the trimmed surface nearest to its point at (u, v): the nearest of the feet on
// the curves of the first hole loop whose box holds (u, v), else of the first outer loop (the
// point itself untrimmed). 0, or -2 when a curve projection fails.
int GetClosestPntInTrim(double u, double v, Bspline* s, double out[3]);
