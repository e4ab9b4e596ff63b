// The one record for every B-spline curve and surface, its list nodes, the exact-form
// descriptions, and their allocators and small curve-list operations.
#pragma once

struct Bspline;

// A node of a surface's curve list, of a trim loop or of an object set. A node never owns its
// item: the curves of a surface are freed through the surface.
struct BsplineList {
  BsplineList* next;
  Bspline* item;
};

// A trim loop: its own nodes over curves that are also in the surface's curve list.
struct TrimList {
  TrimList* next;
  int hole;      // nonzero: the loop bounds a removed region
  int attached;  // 1 once the loop has been put on its surface
  BsplineList* loopCurves;
};

// Exact form attached to an object; the layout of the doubles depends on quadricType:
//  1 line      start xyz, end xyz (6)
//  2 circle    centre xyz, normal xyz, radius (7)
//  3 arc       centre xyz, normal xyz, radius, sweep in degrees with 0 meaning 360 (8)
// 21 sphere    radius, centre xyz (4)
// 22 cylinder  axis point xyz, axis direction xyz, radius, start height, end height (9)
// 23 cone      apex xyz, axis direction xyz, half angle in radians, start height, end height (9)
// 25 plane     a, b, c, d (4)
struct QuadricInfo {
  double v[9];
};

// Property block A: the weights of the smoothing fit that produced the object.
struct BsplineFitProps {
  int flag;  // nonzero: the three weights below are set
  double tension;
  double roughness;
  double sigma;
};

// Property block B: a second cached block, zero in new records and copies.
struct BsplinePropsB {
  int flag;
  int words[5];
};

// Control points per direction = degree + interior knots + 1 (1 row for a curve). Knot vectors
// are clamped and hold interior + 2 (degree + 1) values; the domain is
// [knots[degree], knots[control points]]. Coefficient matrices are row-pointer matrices
// indexed [v][u]; rational coefficients are stored unweighted with the weights in W.
struct Bspline {
  int spare;
  int kind;       // 1 curve, 2 surface
  int dimension;  // 3 xyz; 2 a curve in its owner's parameter plane (X holds u, Y holds v)
  int closedU;
  int closedV;
  int rational;
  int degreeU;
  int degreeV;
  int interiorU;
  int interiorV;
  double umin;
  double vmin;
  double umax;
  double vmax;
  double* knotsU;
  double* knotsV;
  double** X;
  double** Y;
  double** Z;  // only when dimension is 3
  double** W;  // only when rational
  Bspline* owner;
  BsplineList* curves;
  TrimList* trims;
  int quadricType;  // 0 none, 1 line, 2 circle, 3 arc, 21 sphere, 22 cylinder, 23 cone, 25 plane
  QuadricInfo* quadric;
  BsplineFitProps fitProps;
  BsplinePropsB propsB;
};

// Record with no user in this system, kept for the old interface.
struct Dle {
  int words[142];
};

inline int NumCtrlU(const Bspline* b) { return b->degreeU + b->interiorU + 1; }
inline int NumCtrlV(const Bspline* b) { return b->degreeV + b->interiorV + 1; }
inline int NumKnotsU(const Bspline* b) { return b->interiorU + 2 * (b->degreeU + 1); }
inline int NumKnotsV(const Bspline* b) { return b->interiorV + 2 * (b->degreeV + 1); }

// Allocators: each returns null with the error state set (foundation/coreglob.h) when the
// allocation failed. Blocks come from the caller's current tracking scope.
Bspline* MallocNullBspline();        // zeroed, degreeU 3; the caller sets kind, dimension, counts
Bspline* MallocInitSurfaceBspline();  // zeroed surface: kind 2, dimension 3, degrees 3
// Knot vector(s) and coefficient matrices for the record's kind, dimension, rational flag,
// degrees and interior counts; the new arrays are not initialised and survive the caller's
// scope. Returns the kept block count (>= 0), or -2 with the record untouched on failure:
// memory, or a negative degree or interior count (a knot vector too short for its degree;
// error state -2).
int AllocateBsplineArrays(Bspline* b);
// Frees the record's knot vectors and coefficient matrices (those it has) and stores the given
// ones in their place, null for the ones the record no longer has. Nothing is allocated.
void InstallBsplineArrays(Bspline* b, double* knotsU, double* knotsV, double** X, double** Y,
                          double** Z, double** W);
// A new curve record of the dimension and degree with its arrays (not initialised) for nCtrl
// control points; it lives outside every tracking scope, so only its own free releases it.
// Null with the error state set: a negative degree or nCtrl below degree + 1 (-2), counts that
// overflow an int or no memory (out of memory), or an error state already set (see
// docs/errors.md).
Bspline* MallocCurveBspline(int dimension, int degree, int nCtrl);
// The point curve at (x[0], y[0], z[0]) (z null: a 2D curve), degree + 1 equal control points on
// [0, 1], as MakeCurveZero (splinefit/intrplt) documents it: a degree below 1 is taken as 3; null
// with the error state set above the highest degree, for a null or non-finite point and when
// memory runs out.
Bspline* PointCurve(const double* x, const double* y, const double* z, int degree);
BsplineList* MallocNullBsplineList();
TrimList* MallocNullTrimList();
Dle* MallocNullDle();
// Doubles of the exact-form layout of a quadric type (table at QuadricInfo); 0 for other codes.
int QuadricDoubles(int type);
// A new, zero-filled exact-form block holding the first `count` doubles of src (the layouts
// differ in length; the block always has room for the longest). Null on failure.
QuadricInfo* DuplicateQuadricInfo(const QuadricInfo* src, int count);

// The curve-list operations live in their own module; most users of the record want them.
#include "bspline/crvlist.h"
