// Offsets of triangle meshes and of point clouds by a signed distance along their normals, the
// refinement of a mesh's long edges and the concavity test of a mesh edge.
//
// A vertex normal (0, 0, 0) marks a point without a reliable normal (a sharp vertex, or a point a
// cloud offset leaves out); (-1, -1, -1) marks a normal still to be computed. Each of the three
// floats of (0, 0, 0) may be +0 or -0.
#pragma once

#include "foundation/cloudrec.h"
#include "foundation/vec3.h"

// ---- Offset meshes ------------------------------------------------------------------------------

// A new closed shell of the mesh: points 0..n-1 are the source points with their normals, point
// n + i the offset of point i with the negated normal; the source triangles, then each source
// triangle (a, b, c) as (c + n, b + n, a + n), then two wall triangles per boundary edge, split
// along the shorter diagonal. Walls take the orientation of the source triangle on their edge,
// so the shell's triangles agree across every edge. A unit normal moves its point by dist; at a
// vertex without one the point is placed on the offset planes of the vertex's best agreeing
// triangles (their common point when it lies within sqrt(2.1) |dist|, otherwise along their
// area-weighted normal). The source mesh gains vertex normals when it has none and its
// (-1, -1, -1) normals are computed; nothing else of it changes. bbox (may be null) receives the
// shell's box; the shell takes the mesh's sourceRef. Null for a mesh without triangles, when
// memory runs out, and with the error state set for a triangle that names no point, a point or
// dist that is not finite (the mesh then unchanged) or an offset point past the float range.
Cloud* BuildOffsetPolyCloud(Cloud* mesh, double dist, double* bbox);

// Turns the mesh into its offset by dist, in place, and returns it (null on failure, cancel or a
// mesh without triangles; the mesh then keeps the changes made so far). Method: edges longer than
// a tenth of bbox's diagonal (bbox: the mesh's box; null: computed) are halved and degenerate
// triangles repaired (tol); vertices on edges folded by more than 45 degrees become sharp. A
// smooth vertex gets one copy at dist along its normal; a sharp vertex whose closed fan falls
// into several smooth groups gets a hub copy along the angle-weighted mean normal and one copy
// per group, their gaps closed by triangles, except that with mode 1 a fan with a concave edge
// gets one mitred copy at dist / max(s, 0.5) along the mean normal (s: the least |cosine| between
// it and the groups' normals). Copies of the triangles follow; with keepSource and walls, walls
// join the source boundary to its copy. Offset points nearer the source than 0.95 |dist| are
// removed, the edges reaching them cut where the offset crosses that distance (bisection) and
// their triangles split there, facing their parents' way. The source triangles go unless
// keepSource (their points stay, unused), and the result is welded (JoinCldPolys at 0.1 and 0.2
// |dist|); without keepSource, points the weld leaves nearer the source than 0.95 |dist| are
// moved out along their shortest way to it to that distance; then its loops are capped
// (CapAllLoops; a loop it reports, capped over a fold of the mesh or left open, does not fail the
// offset). The gap triangles at sharp vertices run their edges against the copies beside them,
// so the result is oriented as consistently as the source. With mode 1, where a smooth vertex
// lies dist from a mitred crease (to about 1e-3 |dist|) its copy lands on the mitre point, and
// the zero-area slits the cut leaves there are vetoed by the weld and fit no plane for
// CapAllLoops, so the result keeps open edges although it has no gap. A source that is closed and
// consistently oriented (every edge run both ways by its two triangles) is checked to give a
// result that is so too: where two triangles run an edge the same way, the patches between such
// edges are turned over (each connected piece keeping the way most of it faces) or, where a fold
// ends inside a piece, single triangles are; where no turning mends it (a small tent of triangles
// folded over the surface), the triangles on the faulty edges and one to three rings round them
// are taken out and the holes capped (CapAllLoops), kept only when the result is then closed,
// agrees across every edge and has no more pieces than before (an attempt capped without a
// complaint preferred; else one whose cap lies across a fold of the result, which then crosses
// itself there); a result still open or folded is refused with the error state set. Without
// keepSource, the pieces of such a result, when there are several, are weighed against the
// source before and after the mending: a piece facing against it (the area-weighted mean cosine
// between its triangles' normals and those of the source's nearest triangles below 0.5: a shell
// turned inside out or a closed tent) or lying within it (its triangles' centroids on average
// nearer than 0.8 |dist|) is dropped; when every piece is so, the offset is refused with the
// error state set. Colours, reliability bytes and typed arrays are dropped. Shows the
// thermometer and hides it on every way out; polls user_break while cutting edges and refining.
// Failures: no memory, a cancel, a stage that fails or leaves the error state set, a refused trim
// of the arrays, the result of a closed, oriented source left open or folded or with no true
// piece; and, the mesh refused unchanged with the error state set, a non-finite dist, point or
// bbox value, a bbox that does not hold the mesh's points (to 1e-3 of their box's diagonal), or a
// triangle that names no point.
Cloud* CreateOffsetPolyCloud(Cloud* mesh, double dist, double tol, int walls, const double bbox[6], int mode,
                             int keepSource);

// Splits every edge whose length exceeds maxLength at its midpoint (a new point with normal
// (-1, -1, -1)), splitting both triangles on it, sweep after sweep until no edge is longer; then
// the new points' normals are computed. The triangles keep their orientation. 1, or 0 when memory
// runs out or user_break asks to stop (the mesh keeps the splits made so far, whole), or, the mesh
// unchanged, for a maxLength not positive and finite, a triangle that names no point, a point
// that is not finite, or, with the error state set, splits that would add more than 2^24
// triangles or make more than a mesh can count (2^31 - 1), counting for each triangle at least
// its longest edge / maxLength and its area / (sqrt(3) / 4 maxLength^2): a length that small
// beside the mesh asks for more memory and time than a call can spend.
int SubdivideCloudEdgesToTol(Cloud* mesh, double maxLength);

// 1 when the edge shared by triangles t1 and t2 is concave seen from the offset side (t1's
// normal, reversed for a negative dist): the unit vectors u1, u2 from the edge line to the
// vertices off it satisfy ((u1 x u2) x n1) . u1 <= -0.25. 0 otherwise, also when the triangles
// do not share exactly two vertices or one has no vertex off the edge (it names an end twice), or
// when either is no triangle of the mesh or has a corner that names no point.
// shared receives the shared vertices in t1's order (-1 for those not found).
int IsConcaveEdge(const Cloud* mesh, int t1, int t2, double dist, int shared[2]);

// The first vertex of t1, in order, that is not a vertex of t2; -1 when there is none or either
// is no triangle of the mesh.
int VertNotInPoly2(const Cloud* mesh, int t1, int t2);

// ---- Offsets of point clouds --------------------------------------------------------------------
// Each makes a new cloud (the caller's, freed with FreeCloud) of the points with a normal other
// than (0, 0, 0), moved along it, in order. The scan-keeping forms give a scan-ordered source's
// result one scan per scan that keeps a point (the others are dropped) and carry each kept
// point's label (copied) and label-visibility bit to its new number. Nothing of a failed result
// stays allocated.

// Offsets by dist along the cloud's own normals, copied into the result. A cloud without all
// three normal arrays first gets new ones from ComputeCloud2DOffsetNormals(cloud, ..., dist,
// xform) (xform may be null), attached to it. bbox (may be null) receives the new box. Null for
// a null cloud, fewer than 3 points (message "At least 3 points required"), no point kept or no
// memory.
Cloud* CloudScanOffset(Cloud* cloud, double dist, const Xform xform, double* bbox);

// Offsets by dist along copies of the given normals after RmOffsetSelfXsec has blanked those of
// points whose offset segments cross their neighbours'. The result gets the normals only with
// keepNormals non-zero. 1 with *result the new cloud; 1 with *result null for a null cloud or
// when no point keeps a normal (nothing to offset); 0 with *result null for missing normal
// arrays, when RmOffsetSelfXsec fails (fewer than 3 points, a failed grid, a user break) or on no
// memory. bbox (may be null) receives the new box.
int CreateOffsetCloud(Cloud* cloud, const float* nx, const float* ny, const float* nz, double dist, int keepNormals,
                      Cloud** result, double* bbox);

// The points moved by dist against their normals: an unordered cloud without normals or labels.
// Null for a cloud without normals, no point kept or no memory. bbox may be null.
Cloud* CloudOffsetOppositeNorms(Cloud* cloud, double dist, double* bbox);
