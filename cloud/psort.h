// Point reordering: the one step that carries every per-point datum of a cloud to its point's
// new place, and the orderings built on it (rotation, transposition, scan ordering).
// A position array holds, at index k, the new index of the point now at k.
#pragma once

#include "cloud/makecld.h"

// Moves every point k to position[k] with all its data; triangles are renumbered, a slice
// record is freed. A gridded cloud becomes a scan cloud; scans stay (direction then 0) unless a
// point leaves its scan's range, which drops them with the row numbers. A datum whose new array
// cannot be had is dropped (isShow: strides become 1), not failed. The strides exchange values
// (a legacy quirk of the transposition that shares this step). 1, or 0 (cloud unchanged) when
// there are no points, scans that name no points (CloudScansNamePoints), position is no
// permutation or the coordinates cannot be had.
int ReorderPointsbyIndices(Cloud* cloud, const int* position);
// Moves the typed arrays alone. 1, or 0 when scratch cannot be had: the typed arrays are then
// dropped; 0 with nothing changed for a null cloud, or a null position with typed arrays.
int SortCldFarraysByIndices(Cloud* cloud, const int* position);
// Rotates the points so that point start comes first; nothing for fewer than 2 points, start 0,
// start out of range or no memory.
void RearrangeCloudByStart(Cloud* cloud, int start);
// Transposes a gridded cloud (rows become columns; the grid block follows) or a row-numbered
// one (its rows become scans, every point's row number its old scan), writing the position
// array used (npts entries). 1, or 0 (cloud unchanged) for a null or empty cloud, one neither
// gridded nor row-numbered, or no memory.
int TransposeCloud(Cloud* cloud, int* position);
// Chains the scans end to end into one path and turns scans so that neighbours run the same way.
// order: nscans old scan indices in their new order; reversed: nscans bytes by old scan. 1 (also
// when nothing changes), 0 (cloud unchanged) for a null cloud, no scans, no memory, or scans that
// do not join into one path.
int OrderCloudScans(Cloud* cloud, int* order, char* reversed);
// The scan nearest to scan s by end points among those with a free end (degree < 2) that do not
// end s's own path. closest -1 and distsq 3.37e38 when none, or when s is not in 0 .. nscans - 1.
void FindClosestScanAndDistsq(const float* sx, const float* sy, const float* sz, const float* ex, const float* ey,
                              const float* ez, int nscans, int s, const int* degree, const int* pathEnd,
                              int* closest, double* distsq);

// ---- Chaining scattered points into one sequence ------------------------------------------
// Both chaining sorts grow chains of points by joining chain ends. Their records are scratch of
// one call, in arrays indexed by point.
struct Subdiv;

// One per point. next runs toward the chain's tail, prev toward its head. chain (the chain's
// slot) is right at both ends of every chain; interior links may hold stale slots. A point is
// single with neither link, an end with one, interior with both: only single points and ends
// are available for joins.
struct ChainLink {
  ChainLink* next;
  ChainLink* prev;
  int32_t point;
  int32_t chain;
};
// One slot per point at the start; a slot emptied by a join holds two nulls.
struct Chain {
  ChainLink* head;
  ChainLink* tail;
};
// Entry of a reverse list: nearOf1[q] lists the points whose first candidate is q, nearOf2[q]
// those whose second candidate is q. Each point owns two entries (refs1[p], refs2[p]), pushed at
// the head of its candidates' lists.
struct NearRef {
  NearRef* next;
  int32_t point;
};
// The kept points of a direction-aware sort, doubly linked in ascending key order; -1 past the
// ends, -2 in both for a point out of the list.
struct KeyLink {
  int32_t prev;
  int32_t next;
};

// Orders the cloud's points into one sequence of near neighbours, starting after its largest
// gap, and carries every per-point datum along. 1 (also unchanged for fewer than 3 points), or 0
// (cloud unchanged) for a null cloud, a point that is not finite, no grid, no memory or a failed
// reordering. Shows "Sort Cloud:  %d%%" on the status line and clears it on success. Where a
// few points lie far beyond the rest (a grid cell holding thousands of points) and among the
// chain ends, candidates come from balanced trees, ties broken as the plain scans break them.
int SortByNearestNbor(Cloud* cloud);
// The point available point p is best joined to, or -1: the nearest options weighed by what each
// choice takes from the other options' partners.
int GetBestOption(int p, const ChainLink* links, const Chain* chains, const int* nearest1, const int* nearest2,
                  NearRef* const* nearOf1, NearRef* const* nearOf2, const float* x, const float* y, const float* z);
// p's candidates, then the points naming p in its reverse lists (first list first), at most
// maxOptions, without repeating a candidate.
void GetAllOptions(int p, int maxOptions, int* count, int* options, const int* nearest1, const int* nearest2,
                   NearRef* const* nearOf1, NearRef* const* nearOf2);
// The options of GetAllOptions with their squared distances, ascending.
void GetAllOptDists(int p, int maxOptions, int* count, int* options, double* dists, const int* nearest1,
                    const int* nearest2, NearRef* const* nearOf1, NearRef* const* nearOf2, const float* x,
                    const float* y, const float* z);
// Refreshes p's two candidates (entries p of the arrays) from the items of p's own grid cell: no
// interior point and none of p's chain; with farEnd >= 0 none nearer to farEnd than to p.
void FindClosest2AvailInCell(int p, int farEnd, const ChainLink* links, float* dist1, float* dist2, int* nearest1,
                             int* nearest2, const float* x, const float* y, const float* z, const Subdiv* subdiv);
// The same over the ends of chain slots 0..nchains-1, never nearer to the other end of p's chain.
void FindClosest2AvailInChains(int p, const ChainLink* links, const Chain* chains, int nchains, float* dist1,
                               float* dist2, int* nearest1, int* nearest2, const float* x, const float* y,
                               const float* z);
// Refreshes p's candidates (an interior p has none) and moves p's two reverse-list entries to
// its new candidates' lists; by grid cell, or by chain ends.
void UpdateAllLinks(int p, const ChainLink* links, const Chain* chains, NearRef* refs1, NearRef* refs2,
                    NearRef** nearOf1, NearRef** nearOf2, float* dist1, float* dist2, int* nearest1, int* nearest2,
                    const float* x, const float* y, const float* z, const Subdiv* subdiv);
void UpdateAllChains(int p, const ChainLink* links, const Chain* chains, int nchains, NearRef* refs1,
                     NearRef* refs2, NearRef** nearOf1, NearRef** nearOf2, float* dist1, float* dist2,
                     int* nearest1, int* nearest2, const float* x, const float* y, const float* z);
// Joins the chain ending in a with the one ending in b (a and b become neighbours). The merged
// chain keeps a's slot and direction; b's slot is emptied.
void JoinChains(int a, int b, Chain* chains, ChainLink* links);

// Direction-aware chaining of n points: position[k] receives the new place of point k, the
// sequence starting after its largest gap. Points closer than 0.001 to another are set aside and
// linked in beside their nearest point at the end. factor is not read (the direction weight
// starts at 4). The arrays are sorted while it runs and given back exactly. 1 (the identity for
// fewer than 4 points or fewer than 2 apart), or 0 on no memory or a user break.
int SortArraysByNearestNborAndDir(float* x, float* y, float* z, int n, double factor, int showProgress,
                                  int* position);
// p's two candidates from the key-ordered list, distances weighted by p's chain direction (a
// candidate straight ahead at its distance, at right angles 1 + factor / 2 times it, behind
// 1 + factor times); without a direction the pair p lies between.
void FindClosest2AvailInLink2(int p, const ChainLink* links, float* dist1, float* dist2, int* nearest1,
                              int* nearest2, const float* x, const float* y, const float* z, const float* key,
                              const KeyLink* sortedList, double factor);
void UpdateAllLinksLink2(int p, const ChainLink* links, NearRef* refs1, NearRef* refs2, NearRef** nearOf1,
                         NearRef** nearOf2, float* dist1, float* dist2, int* nearest1, int* nearest2,
                         const float* x, const float* y, const float* z, const float* key,
                         const KeyLink* sortedList, double factor);
// Sorts a scattered cloud, or each scan of an ordered one within the scan, and carries every
// datum along. factor is not read. 1 (also unchanged for fewer than 4 points), or 0 (cloud
// unchanged) for a null cloud, no memory, a user break or a failed reordering.
int SortByNearestNborAndDir(Cloud* cloud, double factor, int showProgress);
// Sorts the cloud as above and answers 1 when the sequence is open (its closing gap at least a
// tenth of the box diagonal), 0 when closed; 1 for fewer than 2 points.
int CloudTypeAfterSort(Cloud* cloud);
// Moves points closer than tol to another apart by random steps of at least |2 tol| (growing by
// half each round) until no such pair is left. 1, or 0 for a null cloud, no memory or steps that
// stop being finite.
int PerturbeCloud(Cloud* cloud, double tol, double step);

// ---- Cell-based sorting and reversal ---------------------------------------------------------
// One per point of a cell sort. A chain runs from its head along nextSide to its tail. A free
// point's nextSide and prevSide are its nearest and second-nearest candidates; an end's side
// away from its chain holds its candidate.
struct SortCell {
  SortCell* prevSide;
  SortCell* nextSide;
  SortCell* headCell;  // at a tail, its chain's head (else the cell itself)
  SortCell* tailCell;  // at a head, its chain's tail (else the cell itself)
  uint8_t state;       // 0 free, 1 head, 2 tail, 3 interior
  int32_t point;
  float x, y, z;
};

// Orders a scattered cloud (type 0, 2 points or more) into chains joined where two ends choose
// each other, chains in the order of their first points, started after the largest gap; every
// datum follows its point. Anything else, or no memory, leaves the cloud as it was.
void SortCloudByNearest(Cloud* cloud);
void SortCloudByNearestNoDle(Cloud* cloud);
// Refreshes the candidates on the free side(s) of cell c over all n cells (nothing for a null or
// interior cell).
void FindClosestUnusedCell(SortCell** cells, int n, SortCell* c);
// Joins c1 and c2 when each is the other's candidate: 1 joined, 0 not.
int CombineCells(SortCell** cells, SortCell* c1, SortCell* c2);
// Rotates the cloud, every datum with its point, to start after its largest gap when the
// closing gap (last point to first) is smaller; scans are left as they are. Unchanged on no
// memory.
void ChangeStartCloudToLargestOpening(Cloud* cloud);
void ChangeStartCloudToLargestOpeningNoDle(Cloud* cloud);
// Point k becomes point n-1-k with every datum; scans are reversed and renumbered, a grid's
// origins move to the opposite corner and its steps and height axis change sign; slices are
// freed. Unchanged on no memory.
void ReverseCloud(Cloud* cloud);
// Reverses points 1..n-1 with every datum, point 0 staying first; the cloud becomes scattered
// and loses its triangles. Unchanged on no memory.
void ReverseCloudKeepFirst(Cloud* cloud);
// Reverses x, y and z alone.
void ReverseCloudArrays(Cloud* cloud);

// ---- Scan starts at a polyline ---------------------------------------------------------------
// The place where the closed scan of count points (its last point followed by its first) comes
// nearest to the polyline of npl vertices: a sweep over both sorted by x (or y, the longer
// extent of their joint box) finds the nearest vertex and scan segment, refined against the
// polyline segments at that vertex. i = j: the place is scan point i; else it lies at t inside
// the segment from i to j = i + 1 (cyclic), target the point there. The four scratch arrays have
// count or npl entries. 1, or 0 for fewer than 2 points, a null array or no vertex.
int FindClosestSpanToPline(int count, const float* x, const float* y, const float* z, int* scanIdx, float* scanKey,
                           int npl, const double* plx, const double* ply, const double* plz, int* plIdx,
                           float* plKey, int* i, int* j, double* t, double target[3]);

// ---- Neighbour-consistency reordering --------------------------------------------------------
// Repairs a nearly ordered sequence: consecutive near-duplicates (1e-6 on every axis) go, each
// point's two nearest neighbours are found, and the old order is walked moving runs that sit
// elsewhere into the gap they belong to when that shortens the path. Every datum follows its
// point (triangles losing a corner go). 0 (also unchanged for fewer than 3 points), or -2 on no
// memory or when no pair of neighbours follows the order (the duplicates are then already out).
int NrNbrFullConsistency(Cloud* cloud);
// 1 when putting the run of points s..e (in order, or reversed) between a and b shortens the
// path, the gap the run leaves behind closed, else 0 (also when a, b, s or e is not in
// 0 .. n - 1).
int IsNextDistLessThanCurrent(int a, int b, int s, int e, int n, const float* x, const float* y, const float* z,
                              int inOrder);
