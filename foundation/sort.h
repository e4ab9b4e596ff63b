// Sorting: one in-place heap sort in many variants (key type, companion arrays carried along),
// a quicksort of doubles, a lexicographic point sort, a sort of several typed arrays by the
// first, and a closest-pair search over items with two end points.
//
// Every sort is ascending and not stable: equal keys end in whatever order the heap leaves
// them, and callers depend on that exact order (it is deterministic). Sorts with n < 2 do
// nothing.
#pragma once

// The heap sorts: the keys ascend in place and every further array is permuted with them.
void HeapSort(int n, double* a);                                     // doubles
void HeapSort3(int n, double* keys, double* b, double* c);           // doubles, two doubles carried
void HeapSort2FloatInt4(int n, double* keys, int* ids);              // doubles, ids carried
void HeapSortFloatInt(int n, float* keys, int* ids);                 // floats, ids carried
void HeapIntSort(int n, int* a);                                     // ints
void HeapUIntSort(int n, unsigned* a);                               // unsigned ints
void HeapSort2Int(int n, int* keys, int* ids);                       // ints, ids carried
void HeapSortInt3F(int n, int* keys, float* a, float* b, float* c);  // ints, three floats carried
// Key = x dir.x + y dir.y + z dir.z, in double.
void HeapSortByDirectionIndices_Float(int n, float* x, float* y, float* z, int* ids, const double dir[3]);
// Lexicographic by x, then y, then z (exact comparisons); count last, as callers pass it.
void SortXYZIndex_f(float* x, float* y, float* z, int* ids, int n);
// idx receives 0..n-1 ordered so that keys[idx[i]] ascend; keys are not touched. Does nothing
// for a null array.
void HeapSortWithIndexing(int n, const double* keys, int* idx);
// a[lo..hi], inclusive bounds. Does nothing for a null array or lo < 0.
void quicksort(double* a, int lo, int hi);

// types[k]: 0 float, 1 int, 2 double. Sorts arrays[0] and permutes arrays[1..narrays-1] alike.
// 0, or -2 for an unknown type or missing scratch. Legacy: its messages go to standard output.
int VariableHeapSort(int n, void** arrays, const int* types, int narrays);

// 1 when point 1 is lexicographically greater (x, then y, then z), -1 when smaller, 0 equal.
int CompareXYZ(double x1, double y1, double z1, double x2, double y2, double z2);

// Items with two end points: P_j = (x0, y0, z0)[j], Q_j = (x1, y1, z1)[j]. match0/match1 hold the
// items already joined to each end (negative: none). Gives the closest unmatched neighbours of
// item i in out0/out1 (-1: none; also for a null array or i outside 0..n-1).
void FindClosestInTwoArraysRestrict(const float* x0, const float* y0, const float* z0, const float* x1,
                                    const float* y1, const float* z1, int n, const int* match0,
                                    const int* match1, int i, int* out0, int* out1);
// Smallest squared distance (in float) between the end points of items a and b; kNoValueF for a
// null array or a negative item.
float GetMinDistBetweenPointsIn2Arrays(const float* x0, const float* y0, const float* z0, const float* x1,
                                       const float* y1, const float* z1, int a, int b);
