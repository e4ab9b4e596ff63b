// Release of B-spline records with everything they own, keeping an owner surface's curve list
// and trim loops consistent, and invalidation of derived data. Freeing never fails; null
// arguments are ignored throughout.
#pragma once

#include "bspline/smake.h"

// Three float arrays of a sampled polyline, owned by the record.
struct HighResLines {
  float* x;
  float* y;
  float* z;
};

// Frees the record's curves and trim loops, dissolves every trim loop of its owner that holds
// it, takes it off its owner's curve list, frees its arrays, properties and the record.
void FreeBspline(Bspline* b);
// Frees the knot vectors, coefficient matrices and properties; the record stays, its array
// pointers null. Returns 0.
int FreeBsplineStruct(Bspline* b);
// For each node: clears the curve's owner (so its release leaves the surface alone), frees the
// curve and the node.
void FreeChildrenGeometry(BsplineList* list);
// For each node: frees the curve (taking it off its owner's curve list, as FreeBspline does) and
// the node.
void FreeCurvesAndNodes(BsplineList* list);
// FreeTrimCurve on every loop of the list.
void FreeTrimList(TrimList* loops, Bspline* surface);
// When the loop is one of the surface's trims: unlinks it and frees it with its list nodes;
// the curves stay. Otherwise nothing.
void FreeTrimCurve(TrimList* loop, Bspline* surface);
// Frees every curve of the loop. An attached loop is dissolved with its first curve and an
// unattached one is left holding no nodes, so the caller must not walk it afterwards.
void FreeTrimCurveBsplines(TrimList* loop);
// The first loop of the surface that holds the curve; null when none.
TrimList* FindTrimCurve(Bspline* curve, Bspline* surface);
// Dissolves the first loop of the curve's owner that holds the curve: 1, or 0 when none.
int DeleteTrimSegment(Bspline* curve);
// Unlinks the curve's node from its owner's curve list (the owner field stays): the curve, or
// null when it has no owner or is not listed.
Bspline* RemoveCurveFromBsplineList(Bspline* curve);
// Clears both property blocks and drops the exact-form description. Operations that reshape an
// object (control points or knots) call it afterwards.
void FreeBsplineProperties(Bspline* b);
void FreeQuadricInfo(Bspline* b);
// FreeBspline on each non-null entry, then the array itself.
void FreeBsplineArray(Bspline** a, int n);
// FreeBspline on each of the n entries, which are set to null; the array stays.
void FreeBsplineArrayContents(Bspline** a, int n);
void FreeHighResLines(HighResLines* rec);
