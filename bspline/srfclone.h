// Deep copies of B-spline records: a surface alone, any object alone, and a surface with its
// curves and trim loops. Every copy is all-or-nothing: on failure whatever it allocated is
// freed, the error state is set and the result is null (-2 for the Given forms); the source
// never changes. A copy drops spare, propsB and list membership (a copied 2D curve keeps its
// owner but is in no list, except in CopyBsplineStructAndChildren, which re-links its copies).
#pragma once

#include "bspline/smake.h"

// Without curves and trim loops: CopyBsplineSurface for a surface, else CopyCurveBspline.
Bspline* CopyBsplineStruct(Bspline* src);
Bspline* CopyBsplineSurface(Bspline* src);
// Fills a surface record made by MallocInitSurfaceBspline: fitProps, counts, degrees, closed
// and rational flags, domain, fresh knot vectors and X, Y, Z (and W when rational) matrices.
// dst is expected to hold no arrays. 0, or -2 with dst unchanged.
int CopyBsplineSurfaceGivenBspline(Bspline* src, Bspline* dst);
// Copies the type code and, for a sphere, cylinder, cone or plane, the description block
// (dst's block is null for other types). 0, or -2 when the block cannot be allocated.
int CopyQuadricStruct(Bspline* src, Bspline* dst);
// A new list in the same order whose items are CopyBsplineStruct copies; null for null.
BsplineList* CopyBsplineListGeometry(BsplineList* list);
// New loops in the same order, hole and attached flags copied, each loop's curves replaced by
// the copies found at the same position of newCurves as the originals in oldCurves. A loop
// curve missing from oldCurves (a broken record) fails the copy with error state -2.
TrimList* CopyTrimLists(TrimList* loops, BsplineList* oldCurves, BsplineList* newCurves);
// The new loop curves of one loop, as above.
BsplineList* CopyATrimList(BsplineList* loop, BsplineList* oldCurves, BsplineList* newCurves);
// A surface with its curves (owned by and listed on the copy) and its trim loops (over the
// copied curves). Null for a null source or on failure.
// Every copy refuses (-2) a source whose structure is not sound (bsvalid's BsplineShapeSound),
// and the surface forms one that is not a surface, before reading it.
Bspline* CopyBsplineStructAndChildren(Bspline* src);
// CopyBsplineStructAndChildren (trim loops only when the surface has curves), then every curve
// of the copy is broken at the boundary of the parameter domain (BreakAllCurvesOnSurface).
// Null when the copy or a break failed; the copy is then freed.
Bspline* CopySurfaceAndBreakCurves(Bspline* src);
// Replaces the target's degrees, knots and control points by the source's; knots are mapped
// onto the target's own parameter range, which stays, and an exact form the target has follows
// the source's. The source does not change. -2 with the target unchanged when either is not a 3D
// surface, the source lacks an array (HasSurface3Arrays, the weights of a rational one) or has a
// collapsed parameter range, or memory ran out; -2 with the error state set for a source that is
// not sound (bsvalid).
int ReplaceSrfBsplineGeometry(Bspline* target, const Bspline* source);
// Exchanges the two records' degrees, knot counts and vectors, rational flags and control point
// matrices (weights too), so that a result built in a scratch record is handed over, or an
// object given back as it was from a copy, without an allocation that could fail. Domains,
// flags and everything else stay. Nothing for a null record or records of another kind or
// dimension.
void SwapKnotsAndNet(Bspline* a, Bspline* b);
