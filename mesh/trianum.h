// Triangulation of loops, capping of holes, and the even-odd point-in-polygon tests beside them.
//
// A loop is a vertex count n, an array of vertex indices (mesh point numbers or any labels) and
// parallel coordinate arrays; the first vertex follows the last. Triangles are written as triples
// of the loop's index values into the caller's array, triangle k at tri[3k..3k+2], starting at
// position 3 * (*count); *count grows by one per triangle. A loop of n vertices gives n - 2
// triangles (a merged loop counts its bridge vertices twice), so tri needs room for that many
// after *count. Counter-clockwise means counter-clockwise in the (x, y) plane, x to the right and
// y upwards.
//
// The triangulators only read the caller's loop arrays (exactly n entries of each) and work in
// scratch of their own; out of memory they return 0.
#pragma once


// ---- Planar loops -----------------------------------------------------------------------------

// Triangulates the closed planar polygon (x, y) by clipping ears at its leftmost vertex: the ear
// (prev, m, next) at the vertex m of least x (the first on ties) is written when no vertex lies
// strictly inside it or on its edges m-prev and m-next (where the loop touches itself); otherwise the polygon is split along the diagonal from m to the blocking
// vertex of least x and the part between the two (in loop order) is triangulated before the
// rest. A vertex that repeats the index value of one of the ear's corners (as at a bridge to a
// hole) never blocks. A polygon that crosses itself is triangulated without any check.
// 1 done; 0 for n < 3, a non-finite coordinate or no memory (triangles already written stay).
int BreakPolyToTriangle(int n, const int* idx, const double* x, const double* y, int* count, int* tri);

// Puts the loop into counter-clockwise order: when it runs clockwise all three arrays are
// reversed (entry i exchanged with n - 1 - i) and *flag is set to 1, else 0. A loop whose x
// values are all equal is left as it is.
void SetCounterClock2DPoly(int n, int* idx, double* x, double* y, int* flag);

// 1 when the segment from p (px, py) to the far point q (qx, qy), which the caller chooses
// outside the polygon, crosses the closed polygon x, y of n points (the last joined to the
// first) an odd number of times: p is inside. A crossing through a polygon vertex is counted
// once, on the edge that ends there.
int IsPoint2DInList(double px, double py, double qx, double qy, const double* x, const double* y,
                    int n);

// 1 when strictly more of the loop's first min(n, 21) points are inside the polygon (X, Y, N)
// than outside it (by IsPoint2DInList with the far point q); 0 otherwise, also for n < 1.
int IsList2DInList(const double* x, const double* y, int n, double qx, double qy, const double* X,
                   const double* Y, int N);

// ---- Loops in space ---------------------------------------------------------------------------

// Compacts the loop in place, keeping in order the first entry of every index value; *n becomes
// the number kept.
void RemoveDuplicateVertices(int* n, int* idx, double* x, double* y, double* z);

// Triangulates a loop in space on its least-squares plane: later repeats of an index are dropped,
// the rest is projected along the plane's normal and triangulated by BreakPolyToTriangle; the
// triangles follow the loop's order as seen from the side the normal points to. Points that fit
// no plane (collinear, coincident) give a fan from the first vertex. 1 done; 0 for fewer than
// three distinct indices, a non-finite coordinate or no memory.
int BreakPoly3DToTriangle(int n, const int* idx, const double* x, const double* y, const double* z,
                          int* count, int* tri);

// Triangulates a loop in space by clipping its sharpest convex corner first: the corner value of
// a vertex runs from 0 (straight on) to 2 (full turn back) by the angle between its two edges in
// space, negative where the projected loop turns clockwise. When a vertex lies strictly inside
// the projected ear, the loop is split from the corner to the nearest such vertex in space and
// each part is fitted, projected and oriented afresh (the part between them in loop order first).
// The triangles follow the loop's own order. 1 done; 0 for fewer than three distinct indices, a
// loop or a part that fits no plane, a non-finite coordinate or no memory (triangles already
// written stay).
int BreakPoly3DToTriangleToo(int n, const int* idx, const double* x, const double* y, const double* z,
                             int* count, int* tri);
