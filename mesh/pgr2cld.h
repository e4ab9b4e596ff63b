// Mesh points, reversal of index arrays, splitting a triangle at a new vertex and compaction of
// a mesh after points and triangles were flagged for deletion. GetCldPoint lives on the cloud
// floor (cloud/pgr2cld.h), which needs it too.
#pragma once

#include "cloud/cldpoly.h"
#include "cloud/pgr2cld.h"

// Reverses the first n entries in place; nothing for n < 2.
void ReverseIntArray(int* array, int n);
// Splits triangle t across its edge a-b at vertex v: t becomes t with a replaced by v, and a
// triangle of t's former vertices with b replaced by v is appended (ntri grows by one); both
// keep t's vertex order, get their planes and take t's place on the vertex-to-triangle lists
// (nodes taken from the store at *nodesUsed, which rises by 6). The caller provides room for
// one more triangle and six more nodes.
void SplitCloudPoly(Cloud* mesh, int t, int a, int b, int v, IndexNode** vertexTriangleHeads, IndexNode* nodeStore,
                    int* nodesUsed);
// Drops the triangles whose flag is exactly 1 (the others keep their order) and then the points
// whose flag is non-zero, renumbering the triangles and dropping those that lose a vertex.
// Either flag array may be null. 1, or 0 when memory runs out (the triangles are then already
// compacted, the points untouched).
int DeleteCldVertsAndPolys(Cloud* mesh, const int* pointFlags, const int* triangleFlags);
