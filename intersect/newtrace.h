// Surface-surface intersection by marching: the records of traced branches, the grid of
// parameter boxes that remembers which pairs of boxes a branch has already passed, and the
// tracer that follows one branch from a seed in both directions.
//
// Parameter arrays: per surface and direction, the Greville parameters of the control points
// refined by k - 1 evenly spaced values in every interval (k = max(1, degree / 2)), so N = n +
// (k - 1)(n - 1) values for n control points. Box i is [p[i], p[i+1]] (N - 1 boxes); a
// surface's box number is j (NU - 1) + i. A value on an interior p[k] belongs to the upper box
// k: membership is p[i] - tol <= u <= p[i+1] - tol with tol = 1e-6 of the parameter range.
//
// Box-pair marks: a matrix with a row per box number of surface 1 and a column per box number
// of surface 2 (NU1 NV1 by NU2 NV2 ints); 1 means a branch has passed that pair.
//
// Lengths: tolA (chord height of a step) and tolB (point tolerance) are lengths in the
// surfaces' units; every other threshold here is a ratio (angles, shares of a parameter range
// or of a vector's own size), so a pair scaled by any factor traces alike with tolerances
// scaled by it.
#pragma once

struct Bspline;

struct IntersectionTraceNode {
  IntersectionTraceNode* next;
  IntersectionTraceNode* prev;
  double x, y, z;       // the point (on surface 1)
  double u1, v1;        // parameters on surface 1
  double u2, v2;        // parameters on surface 2
  double filletParam;   // left alone by the intersection; the fillet trace keeps its ball radius here
};

// One branch. Node order: head (the seed), the forward nodes, the turn node (last forward
// node), then the backward nodes running away from the seed the other way; a closed branch
// ends with a closing node.
struct IntersectionTrace {
  IntersectionTrace* next;
  IntersectionTrace* prev;
  int spare[3];  // not read by the intersection; the fillet trace copies the last two
  int nodeCount;
  IntersectionTraceNode* head;
  IntersectionTraceNode* tail;
  IntersectionTraceNode* turn;  // null until the forward march ends
  int open;                     // 1 open, 0 closed on itself
  int directionStart;           // node count when the current marching direction began
};

// The branches of one surface pair; made with one empty trace at its head, which the first
// seed uses.
struct IntersectionTraceList {
  int count;
  IntersectionTrace* head;
  IntersectionTrace* tail;
};

// ---- Records ---------------------------------------------------------------------------------
// Traces and their nodes belong to their list (and trace) from the moment they are made: they
// live outside every tracking scope and only the frees below release them.
// A zeroed trace, or null with the error state set.
IntersectionTrace* MallocIntersectionTrace();
// A list holding one empty trace at its head (count 0), or null with the error state set.
IntersectionTraceList* MallocIntersectionTraceList();
// Appends a node with the point and the parameters (fillet parameter 0) at the trace's tail.
// The node, or null when memory ran out (error state set, trace unchanged).
IntersectionTraceNode* AppendTraceNode(IntersectionTrace* trace, const double P[3], double u1,
                                       double v1, double u2, double v2);
// Frees every node of the trace and leaves it empty (count 0, no head, tail or turn).
void FreeTraceNodes(IntersectionTrace* trace);
// Frees every trace with its nodes, then the list itself.
void FreeIntersectionTraceList(IntersectionTraceList* list);

// ---- Parameter arrays and boxes --------------------------------------------------------------
// Number of values of the refined parameter array of the surface in dir (0 u, else v).
int BoxArrayCount(const Bspline* srf, int dir);
// Inserts knots into the coarser direction when one direction's average control-polygon length
// per control point is at least ten times the other's. -2 for a degenerate net (an average
// below 1e-10 of the larger one), else 0.
int ModifyParamSpaceBasedOnSpans(Bspline* srf);
// The four refined arrays (new blocks in the caller's scope). -2 on no memory.
int SubDivisionArray(Bspline* s1, Bspline* s2, double** u1, double** v1, double** u2,
                     double** v2);
// Replaces *array (n values) by a new one with k evenly spaced values inserted into every
// interval; nothing for k < 1. 0, or -2 on no memory (*array unchanged).
int AddParamValuesPSpanToArray(double** array, int n, int k);
// 1 when (u, v) lies outside box (i, j), 0 inside; 1 for a null array or a negative index.
int ChkPtNotInBox(const double* us, const double* vs, int i, int j, double u, double v,
                  double tolU, double tolV);
// Box (i, j) of (u, v) on arrays of NU and NV values; i and j untouched for a null array or
// NU or NV < 2.
void GetBoxesRange(const double* us, const double* vs, double u, double v, int NU, int NV, int* i,
                   int* j, double tolU, double tolV);
// Half the width of box i; 0 for a null array or i < 0.
double FindMinimumStep(int i, const double* array);
// The box-line crossings of the step (u0, v0) in box (i0, j0) to (u1, v1) in box (i1, j1),
// ordered by the fraction of the step (u lines before v lines at equal fractions): dirs 1 for
// a u line, 2 for a v line, idx the box index after the crossing. The arrays need room for
// NU NV entries.
void GetAllBoxesBetweenPoints(const double* us, const double* vs, double u0, double v0, double u1,
                              double v1, int i0, int j0, int i1, int j1, int* dirs, int* idx,
                              double* frac, int* count);
// Applies the crossings of both surfaces in the order of their fractions (surface 1 first at
// equal ones) from the boxes before the step, marking every pair of boxes passed.
void MarkAllBoxesBetweenPoints(const int* idx1, const int* dirs1, const int* idx2,
                               const int* dirs2, const double* frac1, const double* frac2, int i1,
                               int j1, int i2, int j2, int NU1, int NV1, int NU2, int NV2, int n1,
                               int n2, int** marks);

// ---- The tracer ------------------------------------------------------------------------------
// Predicts the next point of the branch through (u1, v1, u2, v2) in direction +1 or -1 from the
// intersection curve's tangent and curvature: the chord whose height is tolA, at most one
// average knot span per parameter and a turn of the branch's tangent of 29 degrees; from a point
// on a seam (a closed direction's end) a step heading into the domain is shortened until it ends
// inside it (the branch dips across the seam for less than a step and back). 0 with the
// parameters moved; 100 when the normals are parallel (nothing written); -2 (error state -2,
// nothing written) for surfaces that are not sound (bsvalid) 3D surfaces, a null parameter or a
// number given that is not finite.
int NewSrfSrfStepSize(Bspline* s1, Bspline* s2, double* u1, double* v1, double* u2, double* v2,
                      const double* us1, const double* vs1, const double* us2, const double* vs2,
                      int NU1, int NV1, int NU2, int NV2, int dir, double tolA, double tolB);
// Pulls the parameters onto both surfaces by intersecting their tangent planes. P receives the
// point on surface 1; *boundary is 1 when a parameter ended clamped to its domain. A previous
// node pulls a step that left the domain back to its edge first. 0 when the points meet
// within tol; -2 when they do not within the iterations (the best iterate is kept) or the
// planes are parallel.
int NewRefineIntrPoint(Bspline* s1, Bspline* s2, double* u1, double* v1, double* u2, double* v2,
                       double P[3], int iterations, int* boundary,
                       const IntersectionTraceNode* previous, double tol);
// Pulls the parameters q (u1, v1, u2, v2) onto both surfaces with q[k] held (Gauss-Newton on
// the other three): where a surface's parameters are ill-conditioned (near a pole a free pull
// may swing round it). True when the points meet within tol; P is then the point on surface 1.
// False (error state -2, q untouched) for surfaces that are not sound (bsvalid) 3D surfaces, a
// k outside 0..3, a null q or P, or a value of q or tol that is not finite.
bool PullWithParamHeld(Bspline* s1, Bspline* s2, double q[4], int k, double P[3], double tol);
// Clamps each parameter within 1e-6 of its range of a domain end onto it; 1 when any moved. 0
// with nothing moved (error state -2) for records whose structure is not sound (bsvalid), a
// record that is no surface or a null parameter.
int CheckIfBndryReached(Bspline* s1, Bspline* s2, double* u1, double* v1, double* u2, double* v2);
// 1 when (u1, v1) lies on the end (turn node, else tail) of a trace before the list's last.
int ChkCrvTouchAnotherCrv(Bspline* s1, Bspline* s2, const IntersectionTraceList* list,
                          const double* u1, const double* v1);
// 1 when the tail's distances to the first and sixth node before it differ by less than
// 1000 tolB and less than half the first (the branch circles), 0 otherwise or with fewer than
// six.
int CheckIfPointsRepeat(const IntersectionTrace* trace, double tolB);
// The chord (a node and the one after it along the branch, or the last node alone; the first
// backward node's chord runs to the seed, not to the turn node before it) of a trace of the list
// other than skip (null: any) nearest to X within reach: its first node, with the fraction of
// the chord at X's foot and the chord's other node (fraction and partner may be null); null when
// none lies within reach.
const IntersectionTraceNode* NearestChord(const IntersectionTraceList* list,
                                          const IntersectionTrace* skip, const double X[3],
                                          double reach, double* fraction,
                                          const IntersectionTraceNode** partner = nullptr);
// True when X lies within reach of a chord (two successive nodes) of a trace of the list other
// than skip (null: any).
bool NearTracedBranch(const IntersectionTraceList* list, const IntersectionTrace* skip,
                      const double X[3], double reach);
// True when X, the point of the surfaces at q (u1, v1, u2, v2), lies within reach of a chord of
// a trace of the list other than skip (null: any) along which the branch runs X's way: the
// tangents n1 x n2 at X and at the chord's nearer node within a right angle of each other, or
// either undefined (normals within a sine of 1e-3 of parallel). Two branches near a tangency run
// side by side the opposite ways; two arcs near a crossing face each other at an obtuse angle.
// False for a null list, q or X.
bool NearTracedBranchAlike(Bspline* s1, Bspline* s2, const IntersectionTraceList* list,
                           const IntersectionTrace* skip, const double q[4], const double X[3],
                           double reach);
// Traces the branch through the seed into the list's tail trace (the caller appended it). A
// step is kept only when its chord runs along the branch's tangent at both ends; a march ends on
// a singular point (the normals parallel where the surfaces meet, branches crossing there) that
// it reaches, and a closed loop ends on its turn node, on the side of a seam it arrives from. A
// march running along a closed surface's seam goes on (the seam is no edge there); one arriving
// at a seam ends on it.
// 0 traced; -2 no memory; -20 a dead seed (parallel normals at the seed: the trace keeps its
// head only) or a duplicate (the branch reached a marked box pair before leaving its seed
// pair, at a point on a branch already traced: the trace is left empty).
int NewIntersectTrace(Bspline* s1, Bspline* s2, double u1, double v1, double u2, double v2,
                      const double* us1, const double* vs1, const double* us2, const double* vs2,
                      int** marks, IntersectionTraceList* list, double tolA, double tolB);

// Follows a curve along which the surfaces touch tangentially (normals parallel all along it)
// from near the parameters q (u1, v1, u2, v2), first along dir (in space, taken within the
// tangent plane), into a new trace appended to the list: the contact located near q as its
// seed, the nodes forward (chords of tolA's height turning by 29 degrees at most), and
// when that march ends on a domain's edge rather than back at the seed, the nodes the other
// way after the turn node, as the tracer's traces hold them. Every node lies on both surfaces
// within tolB with the normals parallel to round-off. 1 traced; 0 when no contact curve passes
// near q (an ordinary crossing, a touching point, the edge of a region where the surfaces
// coincide: nothing appended); -2 on no memory.
int TraceTangentialContact(Bspline* s1, Bspline* s2, const double q[4], const double dir[3],
                           IntersectionTraceList* list, double tolA, double tolB);

// The point where the surfaces touch tangentially (normals parallel to round-off) in the plane
// through X normal to the unit vector t, from the parameters q (u1, v1, u2, v2) into q, with its
// point on surface 1 into P: both surfaces met within tolB, the plane within tolB. False (q as
// given) when no such point is found from q, and (error state -2) for a record that is not a
// sound (bsvalid) 3D surface; false for values that are not finite or a tolB that is not positive.
bool LocateContactInPlane(Bspline* s1, Bspline* s2, double q[4], const double X[3], const double t[3],
                          double tolB, double P[3]);
// A point where the surfaces touch tangentially (normals parallel to round-off), found from the
// parameters q (u1, v1, u2, v2) by Gauss-Newton, into q, with its point on surface 1 into P: both
// surfaces met within tolB. A parameter of a closed direction within a tenth of its range of an
// end may have the touching across the seam from it: the search is then also run from the seam's
// far side, and, for a touching on the seam itself, over the other surface's parameters alone.
// Where one surface's parameters lie within a tenth of their range of a pole (a collapsed side),
// it is also run over the other surface's parameters alone. Over one surface's parameters, the
// feet of its points on the other are found in space, round poles and across seams. The normals
// count as parallel within 1e-7, or within 8 times the round-off of the coordinates over the
// smaller surface's size where that is more (at most 1e-5): the round-off of the surfaces' own
// largest coordinate, or `rounding` where that is larger (copies moved and scaled from far off
// the origin carry the round-off of where they were made, in their own units). False (q as
// given) when none is found from q (the surfaces cross at an angle there, or have no normal), and
// (error state -2) for a record that is not a sound (bsvalid) 3D surface; false for values that
// are not finite or a tolB that is not positive.
bool LocateTouchingPoint(Bspline* s1, Bspline* s2, double q[4], double tolB, double P[3], double rounding = 0.0);
// Where the surfaces' tangent planes at q (u1, v1, u2, v2) coincide, the gap between them along
// the common normal grows as d^T H d / 2 for a step d = x e[0] + y e[1] in surface 1's tangent
// plane (e orthonormal, e[0] along S1u): H is the difference of the surfaces' second fundamental
// forms, surface 2's less surface 1's, each against its own normal turned to surface 1's. Beside
// a pole (a partial below 1e-4 of the other) a surface's forms are taken 1e-4 of its ranges
// toward the domain's middle. False where they cannot be evaluated, and (error state -2) for a
// record that is not a sound (bsvalid) 3D surface; false for parameters that are not finite.
bool GapSecondForm(Bspline* s1, Bspline* s2, const double q[4], double e[2][3], double H[2][2]);

// A branch of a closed surface crosses its seam: a traced branch that ends on a seam (a
// parameter at an end of a direction its surface is closed in) with no node of another trace
// there goes on from the seam's far side, traced (NewIntersectTrace) from that end with the
// seam's parameters moved to the other end of their ranges into new traces of the list, whose
// own ends are followed alike; a march from the far side that only turns back onto the branch
// (which arrived along the seam) is dropped. One that comes along the branch's own trace past
// that trace's other end (stopped short of the seam) ends on that end; one passing close beside
// another branch where the surfaces nearly touch goes on. 0, or -2 on no memory.
int ContinueAcrossSeams(Bspline* s1, Bspline* s2, const double* us1, const double* vs1,
                        const double* us2, const double* vs2, int** marks,
                        IntersectionTraceList* list, double tolA, double tolB);

// (du, dv) with d = du Su + dv Sv by Cramer's rule in the coordinate plane of the largest
// component of Su x Sv (ties to z, then x). false when the surface has no tangent plane there
// (Su x Sv vanishes against |Su| |Sv|). Shared by the tracer and the rolling ball.
bool ResolveInTangentPlane(const double d[3], const double Su[3], const double Sv[3], double* du,
                           double* dv);
// Clears the components of v below 1e-6 of its largest one: noise that would pick the wrong
// coordinate plane, cleared alike at every unit of length.
void ReduceSmallComponents(double v[3]);

// ---- Intersections of trimmed surfaces --------------------------------------------------------
struct BsplineList;
struct TArrayList;
struct CrvIntrList;

// One branch (curve c1 on s1, c2 on s2, of one trace) cut to the parts inside both trimmed
// surfaces: the crossings of each curve with its surface's trim curves are ordered along the
// branch (curve 2's parameters carried proportionally onto curve 1's range), both curves cut at
// each, and the pairs of parts whose midpoints lie inside both kept, prepended to *out (curve
// 1's part, then curve 2's, which so comes first). With crossings, c1 and c2 are consumed.
// Without any, both are prepended whole when their midpoints lie inside, else left to the
// caller. With an even number of crossings on both surfaces, both trimmed, the part after the
// last crossing is not kept (the parity rule). A surface with holes only is bounded by its sides meanwhile. 0, or -2 when an
// intersection, cut or allocation failed (parts already prepended stay).
int GetIntersectionsOfTrimmedSurface(Bspline* s1, Bspline* s2, Bspline* c1, Bspline* c2,
                                     BsplineList** out, double tol);
// The crossings of curve with every trim curve of surface as entries of `kind`. 0, or -2.
int GetInterCrvIntrList(Bspline* surface, Bspline* curve, TArrayList** list, CrvIntrList* hits,
                        int kind, double start1, double end1, double start2, double end2,
                        double tol);
// One trim curve's hits sorted by the curve's parameter and inserted. 0, or -2 on no memory.
int InsertIntoInterArrayList(CrvIntrList* hits, BsplineList* trimNode, Bspline* curve,
                             TArrayList** list, int kind, double start1, double end1,
                             double start2, double end2);
// The ordered insertion of the fillet lists without side codes (trimParam -100: a curve end).
void InsertIntoOrderedInterArrayList(const double* params, const double* trimParams,
                                     BsplineList* trimNode, int n, TArrayList** list, int kind,
                                     double start1, double end1, double start2, double end2);
// Walks the list cutting both curves and keeping the pairs of parts inside both surfaces.
// Consumes c1 and c2. 0, or -2.
int GetInterCurves(Bspline* c1, Bspline* c2, TArrayList* list, int even1, int even2,
                   BsplineList** out);
// Drops the entries that consecutive-duplicate removal (tol) drops from (a1, b1) or from
// (a2, b2), keeping the four arrays parallel. The number kept.
int RemoveDuplicatesFromBothArrays(double* a1, double* b1, double* a2, double* b2, int n,
                                   double tol);
