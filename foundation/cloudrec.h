// The point-cloud record. It is declared here, on the lowest floor that reads it (the frame
// conversions and extents of foundation/); its constructors, copies and freers are the cloud
// modules' (cloud/makecld.h includes this header).
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
