// Surface shrink-wrap onto clouds and the parts the healing drivers share with it: the option
// record of every shrink-wrap fit, snapping or inserting single knots, spreading knots evenly
// over an interval, the knots that held boundary rows need, the block of control points that a
// parameter box moves, and the release of the wrap-constraint record.
//
// Side numbering (two orders are in use and callers rely on both):
//  - ShrnkWrapParams::fixedRows and the surface fits: 0 u-min, 1 v-max, 2 u-max, 3 v-min
//    (the isoparametric boundary index);
//  - GetFreeCntrlPntsInParamBox (and the free-point mask of the control-net smoother):
//    0 u-min, 1 v-min, 2 u-max, 3 v-max.
// A fixed count of -1 leaves a side free; k = 0, 1, 2 holds control rows 0..k from that side
// (position, tangent, curvature contact).
#pragma once

#include <cstdint>

#include "bspline/smake.h"

struct LinearConstraint;
struct Cloud;

// Sixteen 32-bit words, passed by value to the surface fits and by address to the curve fits.
struct ShrnkWrapParams {
  int32_t fixedRows[4];  // per side, isoparametric boundary order (see above)
  int32_t medianFilter;  // surface fits: 3 x 3 median over the fitted offsets
  int32_t insertKnots;   // surface fits: insert the knots that held rows need
  int32_t spare[2];      // read by no shrink-wrap operation
  double Tension;        // first smoothing weight
  double Roughness;      // second smoothing weight
  double Sigma;          // sample weight
  double spareD;         // 0.001; read by no shrink-wrap operation
};

// Defaults: all sides held at 0 rows, both flags off, the weights from Global_Tension,
// Global_Roughness and Global_Sigma as they are now. -2 for null.
int SetDefaultShrnkWrapParams(ShrnkWrapParams* params);

// Makes *t a knot of direction dir (0 u, 1 v; v needs a surface): a value within 1e-6 of the
// range from a bounding knot of its span snaps to it (lower knot tried first), else it is
// inserted once. *t receives the knot's value, *inserted 1 when a knot was added.
int SnapInsertOneKnotToObject(Bspline* obj, int dir, double* t, int* inserted);

// n new knot values in [a, b] of the given knot vector, each the midpoint of the longest
// interval of the list {a, knots strictly inside the spans of a .. b, b} at the time (the first
// of equal ones), in order of creation. *locations is a new array (caller frees it).
int FindUniformKnotLocInInterval(const double* knots, int nKnots, int degree, double a, double b,
                                 int n, double** locations, int* count);
// Inserts n knots spread over [a, b] of direction dir into obj.
int InsertKnotsUniformlyWithinInterval(Bspline* obj, int dir, double a, double b, int n);
// A new surface with nU knots spread over [uLo, uHi] and nV over [vLo, vHi].
int LocalUnfrmInsertSrfKnots(Bspline* srf, double uLo, double vLo, double uHi, double vHi, int nU,
                             int nV, Bspline** result);

// Knots needed in u and v so that the held rows (isoparametric order) leave enough free rows.
int ComputeNumSrfShrinkWrapNeededKnots(const Bspline* srf, const int fixed[4], int* nU, int* nV);
// Inserts those knots in place at the longest spans, u first.
int InsertSurfShrinkWrapKnots(Bspline* srf, const int fixed[4]);

// The block of control points that the parameter box moves. fixed is in the free-box order
// (0 u-min, 1 v-min, 2 u-max, 3 v-max) and is limited in place to the degree of its direction.
int GetFreeCntrlPntsInParamBox(const Bspline* srf, double uLo, double vLo, double uHi, double vHi,
                               int fixed[4], int* nU, int* firstU, int* nV, int* firstV);

// Keeps, in place and in order, the points of a normal-difference cloud (x = u, y = v) with
// uLo <= x <= uHi and vLo <= y <= vHi. Returns 0 (-2 for null).
int SelectDiffCloudInParamBox(Cloud* cloud, double uLo, double vLo, double uHi, double vHi);

// Releases a wrap-constraint record and every array it holds; null is accepted. Always 0.
int FreeWrapConstraint(LinearConstraint* constraint);

// m rows of n keys with parallel coordinates; each row (dir 1: contiguous runs of n; dir 0:
// stride n, so the rows are the columns of an n-wide grid) is sorted ascending by key.
void Sort3DPointsUsing1DPoints(double* x, double* y, double* z, double* keys, int n, int m,
                               int dir);
// Sorts an n x m grid by the u keys along its rows, then by the v keys along its columns.
void Sort3DPointsUsing2DPoints(double* x, double* y, double* z, double* uKeys, double* vKeys, int n,
                               int m);
