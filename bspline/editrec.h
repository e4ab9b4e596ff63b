// The records of direct editing: the display-grid record of a control-point edit and the plot
// record of the curvature display. They are declared here, on the lowest floor that fills them
// (the partial-grid evaluators of bspline/ctrlnubs); the editing and curvature operations that
// own them include them through intersect/cntrlpt.h. Basis tables hold, per parameter value, 3
// rows (value, first and second derivative) of degree + 1 doubles; spans are the knot spans of
// those values.
#pragma once

// Display-grid record of an edit. The per-edit part (the inside lists, the position arrays
// and the region) is rebuilt for every edit; the basis tables are built once and reused.
// Table entries: the nuGrid (nvGrid) grid values first, then the extraPairs extra values,
// then the trailingCount trailing values.
struct SurfEditStruct {
  int* inside;        // grid points inside the edit region, index j nuGrid + i
  int insideCount;
  int* extraInside;   // extra parameter pairs inside the region, index k of the pair
  int extraInsideCount;
  int trailingCount;  // trailing parameter values: evaluated, never tested against the region
  double* uBasis;     // per u value 3 (degreeU + 1) doubles
  double* vBasis;     // per v value 3 (degreeV + 1) doubles; null for a curve
  int* uSpans;
  int* vSpans;        // null for a curve
  int nuGrid;
  int nvGrid;
  int extraPairs;
  // Positions for the caller to fill: one entry per point inside (grid points, then extra
  // points) followed by one per trailing value.
  float* x;
  float* y;
  float* z;
  double uMax;  // the edit region
  double vMax;
  double uMin;
  double vMin;
};

// Plot record of the curvature display; fields 1 to 14 in the order the curvature operations
// read them. uOffset and vOffset are the grid width and height for the value update, and the
// offsets of the needle entries in the basis tables and span arrays for the needle update.
struct PlotEditStruct {
  int* gridIdx;      // grid indices of the points an edit affects
  int gridCount;
  int* needleIdx;    // needle indices affected
  int needleCount;
  double* uPar;
  double* vPar;
  double* uBasis;    // per parameter 3 (degreeU + 1) doubles
  double* vBasis;
  double* unread;    // an array the curvature operations do not read (released with the record)
  int* uSpan;
  int* vSpan;
  int uOffset;
  int vOffset;
  int needleLimit;
  // Positions written by the partial re-evaluation when its caller passes no arrays: one entry
  // per affected grid point, then one per affected needle entry.
  float* x;
  float* y;
  float* z;
};
