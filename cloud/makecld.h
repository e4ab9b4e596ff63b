// The point-cloud record (declared in foundation/cloudrec.h) and its basic constructors and
// freers.
#pragma once

#include "foundation/cloudrec.h"

// Bytes of a per-point bit array.
inline int CloudBitArrayBytes(int npts) { return npts / 8 + 1; }

// A new zeroed cloud, or null when memory ran out.
Cloud* MallocNullCloud();

// A new unordered cloud holding copies of the n points; bbox (may be null) receives the box
// {xmin, ymin, zmin, xmax, ymax, zmax}. Null for n < 1, a null coordinate array or when memory
// ran out.
Cloud* MakeCld(const float* x, const float* y, const float* z, int n, double* bbox);

// As MakeCld, but the cloud adopts the three arrays (from Malloc; they leave the caller's
// innermost tracking scope). On failure (n < 1, no memory) they stay the caller's.
Cloud* MakeCldNoAlloc(float* x, float* y, float* z, int n, double* bbox);

// A new unordered cloud of the first k points of the cloud, then the m given points, then the
// rest; only coordinates are carried over and the source is not changed. Null when k is not in
// 0..npts, m < 0, npts + m < 1, a null coordinate array with m > 0 or memory ran out.
Cloud* InsertNPtsCld(const Cloud* cloud, const float* x, const float* y, const float* z, int m, int k,
                     double* bbox);

// Replaces the cloud's normals by copies of the arrays. 1, or 0 (cloud unchanged) when n is not
// npts or memory ran out.
int CopyCloudNormals(Cloud* cloud, const float* nx, const float* ny, const float* nz, int n);

// Gives the cloud a labelIsShow array, every bit clear, unless it has one. 1, or 0 on no memory
// or a null cloud.
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
// grid.colAxis (z for codes it cannot place); null for a null cloud.
float* GetGridArray(const Cloud* cloud);

// Frees the cloud and everything it owns; null is ignored. sourceRef is not freed.
void FreeCloud(Cloud* cloud);

// The parts FreeCloud releases; each leaves its fields zeroed.
void FreeCloudPolygons(Cloud* cloud);  // tri and isVert
void FreeCloudSlice(Cloud* cloud);     // the slice record and its arrays
void FreeCloudFarrays(Cloud* cloud);   // typed arrays and their type codes
void FreeCloudLabels(Cloud* cloud);    // label strings, the label array and labelIsShow

// ---- Triangle clouds and vertex normals ------------------------------------------------------
// A triangle's plane: n = (p2 - p0) x (p1 - p0) of its points in vertex order, normalised; a
// degenerate triangle (|n| < 1e-30) gets (sqrt 1/3, sqrt 1/3, sqrt 1/3). Angles are degrees.
// Vertex normals are angle-weighted sums of the planes' normals around the vertex, rejected to
// (0, 0, 0) where they stray more than 45 degrees from one of those triangles.

void MakeCldPolyPlane(const Cloud* cloud, CloudTriangle* tri);
// verts: float triples; writes the unit normal of triangle v (nothing for a null verts).
void FindPolyNormal(const float* verts, const int v[3], double normal[3]);

// idx: 3 ntri vertex indices into verts (nverts float triples); its first nidx entries name the
// vertices in use, which become the points in table order. Triangles with three equal indices,
// and those naming a vertex out of range or not in use, are dropped. Null for ntri < 1,
// nverts < 1 or no memory, and with the error state set for a vertex in use that is not finite
// or counts whose corners or coordinates overflow an int; when only the triangle array fails the cloud comes without
// triangles and the error state stays set.
Cloud* MakePolyCld(int ntri, const int* idx, int nidx, const float* verts, int nverts, double* bbox);
// As MakePolyCld; norms (null or nverts float triples) gives the used vertices' normals, those
// given as (-1, -1, -1) being computed.
Cloud* MakePolyCldWithNorms(int ntri, const int* idx, int nidx, const float* verts, const float* norms,
                            int nverts, double* bbox);
// A soup of ntri triangles, corners 3t, 3t + 1, 3t + 2; exactly equal corners merge into one
// point (numbered in x, y, z order). No triangle is dropped. Null on ntri < 1, a null coordinate
// array or no memory.
Cloud* MakePolyCldXYZ(const float* x, const float* y, const float* z, int ntri, double* bbox);
Cloud* MakeSinglePolyCld(const double p0[3], const double p1[3], const double p2[3], double* bbox);
// The m listed triangles with only the points they use, numbered by first use. Null for m < 1,
// a null cloud or list, an index out of range, a listed triangle that names no point or no memory.
Cloud* MakePartPolyCld(const Cloud* cloud, const int* list, int m, double* bbox);
// Gives target the source triangles whose vertices all survive in map (source point -> target
// index, negative: dropped). When their array cannot be had, the error state is cleared and
// target stays without triangles; so it does, untouched, when a source triangle names no point.
// Does nothing for a null argument.
void AddoptPartialCloudPoly(const Cloud* source, const int* map, Cloud* target);

// A cloud with a triangle that names no point (cloud/cldpoly.h, CornersNamePoints) is refused by
// the members below with 0, the cloud unchanged.
// Every plane recomputed, then CloudSetNormVerts.
int RefreshCloudPolys(Cloud* cloud);
// The vertex-normal family: 1, or 0 on no memory (normals and isVert then absent) or for a null
// cloud (CloudSetNormsSpec, CloudSetIsVerts and RefreshCloudPolys too).
int CloudSetNormVerts(Cloud* cloud);       // all normals, isVert rebuilt
int CloudSetSomeNormVerts(Cloud* cloud);   // only normals (-1, -1, -1), turned to face their triangles
int CloudResetZeroNormsIsVerts(Cloud* cloud);  // only normals (0, 0, 0); isVert rebuilt
int CloudSetOnlyNormVertsAfterIndx(Cloud* cloud, int k);  // points k.., no rejection
// All normals, rejected beyond angle degrees (converted with 3.14/180, a factor callers' angles
// were tuned with); isVert untouched.
int CloudSetNormsSpec(Cloud* cloud, double angle);
// isVert from the triangles, null when every point is a vertex. 1, or 0 on no memory.
int CloudSetIsVerts(Cloud* cloud);
// The stored normal of point i, or the angle-weighted one of its triangles. 0 when the cloud has
// neither normals nor triangles (or i is out of range, or the cloud is null), or when the normal would come from the
// triangles and one of them names no point.
int GetVertexNormal(const Cloud* cloud, int i, double normal[3]);
// The angles of triangle t at its three corners: 1, or 0 with angles 0 when t is no triangle of
// the cloud or one of its corners names no point.
int FindTriangleAngles(const Cloud* cloud, int t, double angles[3]);
// Angle of triangle t at its vertex v: 1, or 0 with angle 0 when v is not a vertex of it, t is
// no triangle of the cloud or one of its corners names no point.
int FindTriangleAngleAtVert(const Cloud* cloud, int t, int v, double* angle);
// The area of triangle t; 0 when t is no triangle of the cloud or a corner names no point.
double FindCldTriangleArea(const Cloud* cloud, int t);
