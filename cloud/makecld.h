// The point-cloud record and its basic constructors and freers.
//
// Every pointer field owns its array (Malloc) except sourceRef. Per-point arrays have npts
// entries; bit arrays have npts / 8 + 1 bytes, bit i being bit (i mod 8), least significant
// first, of byte i / 8. Normals are present all three or none: (-1, -1, -1) marks a normal still
// to be computed, (0, 0, 0) a rejected one.
#pragma once

#include <cstdint>

struct CloudTriangle {
  int32_t v[3];    // vertex indices into the cloud's points
  float plane[4];  // a x + b y + c z + d = 0, (a, b, c) the unit normal
};

struct CloudSlice {
  int32_t header[8];  // slicing parameters; words 6 and 7 hold a double base value
  float* scanValue;   // one value per scan (one entry on an unordered cloud)
  int32_t nslices;
  int32_t* scanFirstSlice;  // per scan, like scanValue
  int32_t* scanSliceCount;  // per scan, like scanValue
  int32_t* sliceStart;      // per slice: first and last point index
  int32_t* sliceEnd;
  uint8_t* sliceKind;
  uint8_t* sliceFlag;
  int32_t* sliceNext;  // next slice, -1 for none
};

// Typed per-point float arrays; a type-0 entry occupies four consecutive arrays.
struct CloudFarrays {
  float** arrays;  // count arrays of npts floats
  int32_t* types;  // count type codes
  int32_t count;
};

// Organisation of a gridded (or cylindrical-grid) cloud. On the canonical clouds of the
// cylindrical and spherical fits, rowAxis and cylCentre are the axis code and the origin that
// TransformArraysToXYZSpace adds back.
struct CloudGrid {
  double heightAxis[3];  // unit axis of the heights (or the cylinder axis); 0 otherwise
  double rowOrigin;
  double colOrigin;  // cylinder: first angle, radians
  double rowStep;
  double colStep;    // cylinder: angle step, radians
  int32_t rowAxis;   // axis code 0 x, 1 y, 2 z
  int32_t colAxis;
  double cylCentre[3];  // a point on the axis of a cylindrical grid
};

struct Cloud {
  int32_t type;  // 0 unordered, 13 scan-ordered, 17 gridded
  int32_t npts;  // at least 1 after every constructor
  float* x;
  float* y;
  float* z;
  float* nx;
  float* ny;
  float* nz;
  int32_t scanOrder;   // 0 undetermined, 1 closed scans, 2 open scans, 3 mixed
  int32_t* scanStart;  // per scan, inclusive first and last point; ordered clouds only
  int32_t* scanEnd;
  int32_t nptsBuilt;  // a second copy of npts; nothing reads it
  int32_t nscans;
  int32_t ptsPerRow;
  int32_t direction;  // 0 undetermined, 1 alternating scans, 2 scans run the same way
  CloudGrid grid;
  double zMin;
  double zMax;
  void* sourceRef;  // borrowed: never owned, freed or read here
  int32_t ntri;
  CloudTriangle* tri;
  uint8_t* isVert;  // bit per point; null: every point is a vertex (or no mesh)
  int32_t strideU;
  int32_t strideV;
  double sampleMark;
  uint8_t* isShow;  // bit per point
  double charLength;
  uint8_t* reliability;
  int16_t* rowNumber;
  uint8_t colourFlag;
  float* colour[3];
  CloudSlice* slice;
  CloudFarrays farrays;
  char** labels;  // per point, each null or an owned string
  uint8_t* labelIsShow;
};

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
