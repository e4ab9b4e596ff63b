// The point-cloud record (declared in foundation/cloudrec.h) and its basic constructors and
// freers.
#pragma once

#include "foundation/cloudrec.h"

// Bytes of a per-point bit array.
inline int CloudBitArrayBytes(int npts) { return npts / 8 + 1; }

// A new zeroed cloud, or null when memory ran out.
Cloud* MallocNullCloud();

// A new unordered cloud holding copies of the n points; bbox (may be null) receives the box
// {xmin, ymin, zmin, xmax, ymax, zmax}. Null for n < 1 or when memory ran out.
Cloud* MakeCld(const float* x, const float* y, const float* z, int n, double* bbox);

// As MakeCld, but the cloud adopts the three arrays (from Malloc; they leave the caller's
// innermost tracking scope). On failure (n < 1, no memory) they stay the caller's.
Cloud* MakeCldNoAlloc(float* x, float* y, float* z, int n, double* bbox);

// A new unordered cloud of the first k points of the cloud, then the m given points, then the
// rest; only coordinates are carried over and the source is not changed. Null when k is not in
// 0..npts, m < 0, npts + m < 1 or memory ran out.
Cloud* InsertNPtsCld(const Cloud* cloud, const float* x, const float* y, const float* z, int m, int k,
                     double* bbox);

// Replaces the cloud's normals by copies of the arrays. 1, or 0 (cloud unchanged) when n is not
// npts or memory ran out.
int CopyCloudNormals(Cloud* cloud, const float* nx, const float* ny, const float* nz, int n);

// Gives the cloud a labelIsShow array, every bit clear, unless it has one. 1, or 0 on no memory.
int AllocateIsShowLabels(Cloud* cloud);

// An ordered cloud becomes unordered: type, scanOrder, nscans and ptsPerRow 0, scans, row
// numbers and slice freed; points and their order stay. An unordered cloud is left alone.
void MakeCloudArbitrary(Cloud* cloud);

// Renumbers rowNumber densely 0, 1, 2, ... keeping the order of the rows. 1 (also without row
// numbers), 0 on no memory (numbers unchanged).
int ResetRowIndex(Cloud* cloud);

// ---- Ordered clouds ----------------------------------------------------------------------
// Axis codes are 0 x, 1 y, 2 z; bbox is required where named. A grid holds its heights row
// after row: point j ncol + k is column k of row j, and scan j is row j.

// A grid cloud (type 17) of ncol x nrow heights: column coordinates on colAxis, row
// coordinates on rowAxis, heights on the third axis. One row or one column gives an unordered
// cloud (the grid block stays). Null for equal or out-of-range axis codes, an empty grid or no
// memory.
Cloud* MakeGridCld(double colOrigin, double rowOrigin, double colStep, double rowStep, int ncol, int nrow,
                   int colAxis, int rowAxis, const float* heights, double* bbox);

// A cylindrical grid cloud (type 13) of ncol x nrow radii about the axis through centre along
// the axis code; columns are angles (radians), rows heights. Null for an empty grid, an axis
// code outside 0..2 or no memory.
Cloud* MakeCylCld(double angleOrigin, double heightOrigin, double angleStep, double heightStep, int ncol,
                  int nrow, int axis, const double centre[3], const float* radii, double* bbox);

// Scan clouds (type 13) of n points copied scan after scan, scan k from scanStart[k] to
// scanEnd[k] inclusive. The scans must start at 0 and follow each other without gap or overlap;
// points after the last scan are cut off when fewer than 10 (with strict set: always). Bad
// scans give null when strict is set, else the unordered cloud of all n points, as does a
// single scan or too many trailing points. Null for n < 1 or no memory.
Cloud* MakeScanCld(const float* x, const float* y, const float* z, int n, const int* scanStart,
                   const int* scanEnd, int nscans, double* bbox);
Cloud* MakeScanCldNew(const float* x, const float* y, const float* z, int n, const int* scanStart,
                      const int* scanEnd, int nscans, double* bbox, int strict);
// The same adopting x, y, z (from Malloc) in every successful case, the unordered fallbacks
// too; on null they stay the caller's. The scan arrays are copied.
Cloud* MakeScanCldNoAlloc(float* x, float* y, float* z, int n, const int* scanStart, const int* scanEnd,
                          int nscans, double* bbox);
Cloud* MakeScanCldNoAllocNew(float* x, float* y, float* z, int n, const int* scanStart, const int* scanEnd,
                             int nscans, double* bbox, int strict);

// The coordinate array that holds a grid's heights: the axis that is neither grid.rowAxis nor
// grid.colAxis (z for codes it cannot place).
float* GetGridArray(const Cloud* cloud);

// Frees the cloud and everything it owns; null is ignored. sourceRef is not freed.
void FreeCloud(Cloud* cloud);

// The parts FreeCloud releases; each leaves its fields zeroed.
void FreeCloudPolygons(Cloud* cloud);  // tri and isVert
void FreeCloudSlice(Cloud* cloud);     // the slice record and its arrays
void FreeCloudFarrays(Cloud* cloud);   // typed arrays and their type codes
void FreeCloudLabels(Cloud* cloud);    // label strings, the label array and labelIsShow
