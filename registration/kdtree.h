// Kd-tree over three caller-owned float arrays, answering nearest-neighbour queries by index.
//
// Built once with an explicit work stack and mean splits on the axis of largest spread (the
// median on the widest axis where the mean overflows or leaves less than a sixteenth on one side,
// as a few points orders of magnitude beyond the rest make it); never changed afterwards. The
// splits do not bound the depth by log n, so neither the build, the query nor the freeing
// recurses. The tree reads the caller's arrays, which must stay alive and
// unchanged until FreeKDTree. A query writes its result into the record: one query at a time.
//
// Queries run on a compact copy of the node tree made by Create3DTree (16-byte nodes in
// depth-first order in one block, the leaves' indices in one array, each node's box of points
// apart; coordinates are not copied) and prune with the distance from the query to the empty gap
// around each split and to the boxes, not only to the splitting plane. They visit cells in the
// order of the node tree's recursive search, so ties go to the same point.
#pragma once

struct KDSearch;  // the query layout, private to kdtree.cpp

struct KDTreeNode {
  KDTreeNode* left;   // coordinate on the split axis <= split
  KDTreeNode* right;  // coordinate > split
  int axis;           // -1 in a leaf
  double split;       // 3.37e38 in a leaf
  int* indices;       // a leaf's point indices, ascending; null in interior nodes
  int count;          // number of indices; 0 in interior nodes
};

struct KDTree {
  int dim;               // 3 when made by Create3DTree
  int n;                 // number of points
  const float** coords;  // dim pointers to the caller's arrays (the pointer array is the tree's)
  KDTreeNode* root;
  int bestIndex;     // the last query's nearest point, -1 for none
  double bestDist;   // its squared distance from the query point; 3.37e38 when none was found
  KDSearch* search;  // made and freed with the record
};

// A new tree over x, y, z (not copied) with leaves of at most `bucket` points, owned by the
// caller (FreeKDTree); a leaf holds more when no split leaves points on both sides (coincident
// points). Every
// reader takes a leaf's count from the leaf. Null for n < 0, a missing array with n > 0, or when
// memory ran out.
KDTree* Create3DTree(const float* x, const float* y, const float* z, int n, int bucket);
// The index of the point nearest to q (dim doubles) into out, -1 for a tree without points (or
// without a finite one: a point that is not finite is never the nearest); ties
// keep the point met first, however far q lies. Returns 0; -2 with -1 in out for a query that is
// not finite (the error state untouched: callers skip such a point).
int SearchKDTreeNearest(KDTree* tree, const double* q, int* out);
// For each of the m query points, the coordinates of its nearest tree point into ox, oy, oz.
// 0; -2 with nothing written for a tree without points, and -2 at the first query that is not
// finite (the points before it written).
int ClosestPntSet3DTree(const float* x, const float* y, const float* z, int m, KDTree* tree, float* ox,
                        float* oy, float* oz);
// Frees the nodes, the pointer array and the record, not the caller's arrays. Returns 0.
int FreeKDTree(KDTree* tree);
// The nodes over coords[0..dim-1]; the blocks are outside every tracking scope. Null for a null
// array, n < 0 or when memory ran out.
KDTreeNode* NewBuildKDTree(const float** coords, int dim, int n, int bucket);
KDTreeNode* BuildKDTree(const float** coords, int dim, int n, int bucket);
// An empty leaf, or null when memory ran out.
KDTreeNode* MallocNullKDTreeNode();
// Frees the node, its index array and both subtrees; null is ignored. Returns 0.
int FreeKDTreeNode(KDTreeNode* node);
