// Surface-surface intersection by subdivision: both surfaces are sampled once on the grid of
// their refined parameter arrays (intersect/newtrace), split into a tree of parameter patches
// each, and the two trees are descended in parallel; patch pairs whose margin-grown boxes are
// apart are pruned, and at pairs of leaves a seed is refined and its branch traced once.
//
// The driver works on copies moved and scaled to unit size (their common control-point box
// centred at the origin with diagonal 1): its tolerances are shares of the pair's size, so a
// pair gives the same branches at every unit of length; the traces' points are handed back in
// the caller's units.
#pragma once

#include "foundation/vec3.h"
#include "intersect/newtrace.h"

struct Bspline;
struct BsplineList;

// Node of a surface's subdivision tree. Made by Malloc, not zeroed: every field is set.
struct PatchBoxNode {
  PatchBoxNode* child[2];  // null until split
  Xform xform;             // frame of the box (identity for the driver's axis-aligned boxes)
  Bbox box;                // in that frame
  int firstU, firstV;      // first value of the patch in the u and v arrays
  int countU, countV;      // values the patch spans (one box in a direction: 2)
  int split;               // -99 not examined, -1 leaf, 1 split in u, 2 split in v
  int visited;             // 1 once the patch took part in an overlapping pair
  int boxReady;            // 1 once box is computed
  double umin, umax, vmin, vmax;
};

// Grows each axis of the box (minimum x, y, z, maximum x, y, z) by 10 percent of its extent
// plus 1e-6 of size, the size of the objects being intersected (their box diagonal), so that
// pieces touching only at a face, and flat pieces, still overlap at every unit of length.
void NewAddBboxMargins(double box[6], double size = 1.0);
// The eight corners of the box (24 doubles); corner c takes the maximum in x when c has bit 4,
// in y with bit 2, in z with bit 1.
void New1TransformBbox(const double box[6], double corners[24]);
// The same corners, each mapped by the transform.
void NewTransformBbox(const double box[6], const Xform M, double corners[24]);
// Axis-aligned box of n float points (the empty box for n < 1; box untouched for a null array).
void GetBboxMinMax(const float* x, const float* y, const float* z, int n, double box[6]);
// A frame whose third axis is the least-squares plane's normal. 0, or -2 (error state cleared)
// when no plane fits.
int FitPlaneAndGetXform(const float* x, const float* y, const float* z, int n, Xform M);

// A new root-style node over the given ranges: split state -99, no children, not visited, no
// box. Null on no memory.
PatchBoxNode* MallocPatchBoxNode(int firstU, int firstV, int countU, int countV, double umin,
                                 double umax, double vmin, double vmax);
// Frees the node and its subtree.
void FreePatchBoxTree(PatchBoxNode* node);
// Makes a node of 2 x 2 values a leaf, or splits it in the direction of more values (u on a
// tie) into two children sharing the middle value. A node with children is left alone.
// 0, or -2 on no memory.
int newCheckSubdivTree(PatchBoxNode* node, const double* us, const double* vs);
// Axis-aligned box of the patch's samples (grid rows are u, columns v), grown by the margins of
// a unit-size pair; identity frame.
void GetBboxExtremes(PatchBoxNode* node, double*** grid);
// Oriented box of the patch's samples in the frame of their fitted plane. 0, or -2 on no memory
// or when no plane fits.
int NewGetBboxExtremes(PatchBoxNode* node, double*** grid);
// Computes the boxes the nodes lack, then 1 when they overlap, 0 when apart: an edge of box 2
// meets box 1, or a diagonal of box 1 meets box 2 (box 2 enclosing box 1).
int NewIntersectBoxes(double*** grid1, double*** grid2, PatchBoxNode* node1, PatchBoxNode* node2);

// Descends both trees from the pair of nodes; at leaf pairs refines a seed at the patches'
// centres and traces its branch into the list unless its box pair is marked and the seed lies
// on a traced branch (a pair of boxes can hold several). Where the seed does not refine onto both
// surfaces, an isolated touching (see NewIntersect) found from the closest pair of points near it
// and not given yet is added as a trace of its point alone. 0 done, 999 the boxes are apart, -2
// on no memory.
int SubDivideBasedOnArray(Bspline* s1, Bspline* s2, PatchBoxNode* node1, PatchBoxNode* node2,
                          double*** grid1, double*** grid2, const double* us1, const double* vs1,
                          const double* us2, const double* vs2, int** marks,
                          IntersectionTraceList* list, double tolA, double tolB);
// Traces every branch of the two surfaces into the list (made by MallocIntersectionTraceList);
// branches crossing at a singular point are split there, and a trace whose every node lies on
// another branch (a point, or the branch traced twice) is dropped. Where the surfaces touch at an
// isolated point (curving apart every way from it: the difference of their second fundamental
// forms there definite), the traces lying where they meet within tolB about it give way to one
// trace of one node on that point, found where the normals are parallel. tolA (chord height)
// and tolB (point tolerance) are shares of the pair's size; a tolB below the round-off of the
// pair's coordinates (the double epsilon times their largest magnitude, over the size) traces to
// that round-off, and a tolA below tolB traces as tolB. The surfaces are not changed. 0, or
// -2 on no memory (the list keeps what was traced); -2 with the error state set and the list
// untouched for a null list, a tolA that is not positive and finite or a tolB outside (0, 1).
int NewIntersect(Bspline* s1, Bspline* s2, IntersectionTraceList* list, double tolA, double tolB);
// The intersection of two surfaces as curve pairs on them, one pair per branch: *out lists the
// branches in reverse order of tracing, each as the curve on s1 then the curve on s2 (cubic
// interpolants of the branch's parameters in running order, with a corner, a knot of multiplicity
// three, where the branch turns on a crease of a surface; a branch of one point gives point
// curves). Each curve lies within 1e-6 of the pair's size (the diagonal of the box of both
// surfaces' control points) of the other surface everywhere, not only at its nodes: nodes off a
// surface by half of that are pulled onto both, and nodes are added where the interpolants'
// middles between two nodes miss by a tenth of it (the interval cut into as many parts as the
// fourth-power law of the cubic's error asks), until every interval holds. Surface
// 2's knots are first rescaled in place to the parameter speed of surface 1 (within 10 % they
// are left alone) and the curves use its new parameters. Each curve is also put on its surface's
// curve list (owner set), so freeing the surface frees it: free the list's nodes, and the curves
// only when the surfaces are kept. 1 with *out null when the surfaces do not meet; 0 with *out
// null on failure (no memory, a surface that is not one or has a coordinate beyond 1e150 in
// magnitude, where squared sizes overflow), with no curve left on the surfaces. Surfaces
// touching at an isolated point give it once, as a branch of one point, in either order. Where
// the surfaces cross at a small angle (down to a sine of 1e-3 between their normals) the curves
// also keep about that near the branch itself, not that over the sine. Two branches running side
// by side closer than the surfaces' distance tells apart (the surfaces within that share of the
// size of each other over the whole band between them) come as one branch along the band. Two
// faces side by side in one plane meet along the edge they share, one branch.
int CreateSrfSrfIntersectionCurves(Bspline* s1, Bspline* s2, BsplineList** out);
