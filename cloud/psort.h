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
// there are no points, position is no permutation or the coordinates cannot be had.
int ReorderPointsbyIndices(Cloud* cloud, const int* position);
// Moves the typed arrays alone. 1, or 0 when scratch cannot be had: the typed arrays are then
// dropped.
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
// end s's own path. closest -1 and distsq 3.37e38 when none.
void FindClosestScanAndDistsq(const float* sx, const float* sy, const float* sz, const float* ex, const float* ey,
                              const float* ez, int nscans, int s, const int* degree, const int* pathEnd,
                              int* closest, double* distsq);
