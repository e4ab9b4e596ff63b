// Harmonised orientation of a surface group: the half of the surface normals module that walks
// the group's boundary graph, which lives on this floor (the point and boundary vectors it
// compares are in surface/srfnorm). Boundary sides here use the graph's numbering 1 u-min,
// 2 v-min, 3 u-max, 4 v-max.
#pragma once

struct Bspline;
struct Gsrf;

// Reverses (in v) the surfaces among the n objects whose normals disagree with those of ref,
// walking from ref across shared edges (within gapTol; tol merges samples); surfaces that share
// no edge with the walk keep their orientation. With at least one reversed, *out receives a new
// array (one slot per surface of the group; the caller frees it with Free) listing the reversed
// objects, and their count is returned; with none, *out is null and the result 0. -2, nothing
// reversed and *out null: ref null, not among the objects or not a surface; n < 1; a negative
// tolerance; a group of fewer than two surfaces; a failed copy, graph or allocation.
int HarmonizeSrfNormals(Bspline** objs, int n, Bspline* ref, double tol, double gapTol,
                        Bspline*** out);

// The surfaces of the graph to reverse so that all agree with ref (index 0 when ref is not in
// the graph), appended to out (room for one per graph surface). Their count, or -2 when memory
// runs out (for the walk or for a projection deciding an edge).
int GetFlippedSurfaces(Gsrf* g, Bspline* ref, Bspline** out);

// Pushes above stack[top - 1] every not yet reached neighbour (state 2) of surface srf, in the
// order of its boundary elements, marking it waiting (state 1). Returns the number pushed.
int AddIdsToStack(Gsrf* g, int srf, int* stack, int top, int* state);

// 1 when surfaces i and j are oriented alike along the first edge they share, 0 when not or
// when they share none.
int IsTwoSurfsHarmonized(Gsrf* g, int i, int j);
