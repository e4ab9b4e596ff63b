// Uniform 3D bin grid over a point set (three float arrays), for neighbour searches.
//
// Every cell is at least 2 len wide along each axis with more than one cell, and holds its own
// points plus the points of neighbouring cells lying in the half of their cell facing it. So
// every point within len of a point p is among the items of p's own cell; callers test the
// true distances themselves.
#pragma once

#include <cstdint>

struct SubdivCell {
  int32_t count;     // items in use
  int32_t capacity;  // allocated length of items (and isOwn); 0: no arrays
  int32_t* items;    // point indices ascending, then ids added later
  int32_t* isOwn;    // parallel to the point items: 1 in the point's own cell
};

struct NearTree;

struct Subdiv {
  SubdivCell* cells;  // cell (ix, iy, iz) at ix + iy ncellsX + iz ncellsX ncellsY
  int32_t ncellsX;
  int32_t ncellsY;
  int32_t ncellsZ;
  double sizeX;  // extent / cells; 0 along an axis of zero extent
  double sizeY;
  double sizeZ;
  double minX;
  double minY;
  double minZ;
  double maxX;
  double maxY;
  double maxZ;
  int32_t* ownCell;  // per point: index of its own cell
  NearTree* tree;    // searched where a cell crowds, as InitPolycldStructs builds it; null else
};

// A grid over the n points for neighbourhood length len with at most about maxDiv divisions in
// all (most callers pass 96); a len not above a millionth of the box, or not a number, leaves
// the grid to maxDiv. Points outside the box are held to the border cells. Polls the user break
// every 50 cells and points. Null on no memory (more cells than memory can hold too) or a user
// break (no message), and for a null array with n > 0 (a refused argument: error state set).
Subdiv* SubdivideArrays(const float* x, const float* y, const float* z, int n, double minX,
                        double minY, double minZ, double maxX, double maxY, double maxZ,
                        double len, int maxDiv);

// The divisions to pass SubdivideArrays for n points in the box (minimum x, y, z, maximum x, y, z)
// so that the grid may grow with the points: the most for which the grid has no more than about
// four cells per point, and never fewer than 96. A search that reads a cell then reads about as
// many points whatever the cloud's size, where a fixed limit lets every cell fill as the cloud
// grows.
int SubdivDivisionsFor(int n, const double box[6]);

// As SubdivideArrays with a length per axis: along every axis with more than one cell, the cells
// are at least twice that axis' length wide. Never polls the user break; null on no memory, and
// for a null array with n > 0 (a refused argument: error state set).
Subdiv* SubdivideArraysMax(const float* x, const float* y, const float* z, int n, double minX,
                           double minY, double minZ, double maxX, double maxY, double maxZ,
                           double lenX, double lenY, double lenZ, int maxDiv);

// Frees the grid and its tree; null is ignored.
void FreeSubdiv(Subdiv* grid);

// Frees the cell's arrays when its capacity is not 0 (the cell record belongs to the grid).
void FreeSubdivCell(SubdivCell* cell);

// Trims every cell to its count; 1, or 0 on no memory.
int OptimizeSubdiv(Subdiv* grid);

// Empties every cell (cells that held items keep arrays of 32, empty ones lose theirs) and frees
// ownCell; the geometry stays. AddLineTo3DSubdivToo needs ownCell and must not follow.
void ClearSubdiv(Subdiv* grid);

// Appends id to the cell's items (isOwn is neither grown nor written); a cell without arrays
// gets them first. A cell index outside the grid is ignored. On no memory the error state is set
// and the grid is only fit to be freed.
void AddAnElementToBin(Subdiv* grid, int cell, int id);

// cellLists[p][0 .. cellCounts[p] - 1] = the cells that hold point p (p < n), in cell order.
// Every list needs room for 8 cells; items that are no point index below n are skipped.
void SetSubdivArrays(const Subdiv* grid, int n, int** cellLists, int* cellCounts);

// The clamped column (ix, iy) of the position in x and y; 1 when it lies inside the box in both,
// else 0. Along an axis of zero extent the column is 0.
int FindSubDivXYGridIndex(const Subdiv* grid, double x, double y, int* ix, int* iy);

// Appends id to the non-empty cells of the box one cell wider than the own cells of points a
// and b. 1, or 0 on no memory (the grid is then only fit to be freed).
int AddLineTo3DSubdivToo(Subdiv* grid, int a, int b, int id);

// ---- Balanced neighbour tree ---------------------------------------------------------------
// A uniform grid has a bounded number of cells, so where a few points lie orders of magnitude
// beyond the rest (garbage records near 1e38 beside a scan of a part, values spread from 1e-30
// to 1e38) nearly every point shares one cell and each search reads them all. This tree splits
// every node at the median along the widest side of its points' box, down to leaves of at most
// kNearLeaf points, so its depth stays about log2(n / kNearLeaf) however the points spread and a
// search reads few leaves. Points that are not finite are left out (they are nobody's
// neighbour). Nodes are stored children after parents; a node's points are
// order[first .. last - 1].
constexpr int kNearLeaf = 8;
struct NearNode {
  double box[6];  // low corner, high corner of the node's points
  int32_t first, last;
  int32_t child;  // the first of the two children (the second follows), -1 in a leaf
};
struct NearTree {
  const float* xyz[3];  // the caller's arrays, read until FreeNearTree
  int32_t* order;
  NearNode* nodes;
  int32_t count;      // finite points in the tree
  int32_t nodeCount;  // nodes in use
  float* own;         // a copy of the points the tree reads, freed with it; null on the caller's
};

// A tree over the finite ones of the n points (the arrays must outlive it), left outside every
// tracking scope for the caller to free with FreeNearTree; null on no memory (error state set),
// for n < 0 or a missing array.
NearTree* BuildNearTree(const float* x, const float* y, const float* z, int n);
// Frees the tree, not the caller's arrays; null is ignored.
void FreeNearTree(NearTree* tree);

// Squared distance from p to the box (6 doubles: low corner, high corner); 0 inside.
inline double NearBoxGap2(const double* box, const double p[3]) {
  double s = 0.0;
  for (int a = 0; a < 3; ++a) {
    const double g = p[a] < box[a] ? box[a] - p[a] : p[a] > box[a + 3] ? p[a] - box[a + 3] : 0.0;
    s += g * g;
  }
  return s;
}

// visit(j, d2) for the tree's points j whose node lies within the squared bound of p, bound2()
// read again before every node (a nearest-neighbour list narrows it as it fills); nearer child
// first, so the list narrows early. A node whose box lies exactly at the bound is still read.
// SearchNearTreeIf also passes over every node for which enter(node index) is false.
template <class Bound, class Enter, class Visit>
void SearchNearTreeIf(const NearTree& t, const double p[3], Bound bound2, Enter enter, Visit visit) {
  if (t.count < 1) return;
  int32_t stack[96];  // two per level: the depth is at most log2(n) + 1 <= 33
  int top = 0;
  stack[top++] = 0;
  while (top > 0) {
    const int at = stack[--top];
    const NearNode& node = t.nodes[at];
    if (NearBoxGap2(node.box, p) > bound2() || !enter(at)) continue;
    if (node.child >= 0) {
      const int a = node.child, b = node.child + 1;
      const bool aFirst = NearBoxGap2(t.nodes[a].box, p) <= NearBoxGap2(t.nodes[b].box, p);
      stack[top++] = aFirst ? b : a;
      stack[top++] = aFirst ? a : b;
      continue;
    }
    for (int k = node.first; k < node.last; ++k) {
      const int j = t.order[k];
      const double d0 = p[0] - t.xyz[0][j], d1 = p[1] - t.xyz[1][j], d2 = p[2] - t.xyz[2][j];
      visit(j, d0 * d0 + d1 * d1 + d2 * d2);
    }
  }
}
template <class Bound, class Visit>
void SearchNearTree(const NearTree& t, const double p[3], Bound bound2, Visit visit) {
  SearchNearTreeIf(t, p, bound2, [](int) { return true; }, visit);
}

// The number of point entries the grid's cell c and the cells around it hold: what a search
// from a point of c that reads its neighbouring cells reads.
long SubdivBlockCount(const Subdiv* grid, int c);
// Point entries beyond which a search reads a balanced tree rather than grid cells: a well-spread
// cloud never gets near it, while a few points far beyond the rest put almost all others into
// one cell.
constexpr long kCrowdedCells = 2048;

// For a tree built over the centres of boxes (6 doubles per point of the tree: low corner, high
// corner): every node's box becomes the box holding the boxes of its points, so that the bound
// of SearchNearTree prunes by the distance of p from the boxes themselves (a visit's d2 is still
// the centre's). The tree then finds boxes near p however unequal their sizes: a few boxes
// spanning the float range widen only the nodes on their way from the root.
void WidenNearTree(NearTree* tree, const double* boxes);
// Such a tree over n boxes, boxes with a bound that is not finite left out. The tree and the
// centres it reads (3 n floats) live in the caller's tracking scope, so that search records
// made in a scope can hold one. Null on no memory, and for null boxes with n > 0 (a refused
// argument: error state set).
NearTree* BuildBoxTree(const double* boxes, int n);

// ---- Scans, breaking and grids of clouds ---------------------------------------------------
struct Cloud;
typedef double Bbox[6];

// The scan lines of the cloud's point sequence, as (first, last) pairs (inclusive) in point
// order: an ordered cloud's own scans; fewer than 6 points: one scan of all; otherwise the path
// is cut at sharp turns (more than 130 degrees, or more than 35 degrees where the path also
// turned by more than 120 degrees over the last 6 to 8 points; turns of 10 degrees or less
// never cut, repeated points are passed over), runs of fewer than 5 points belong to no scan
// and two consecutive scans running on in one direction (three angles below 60 degrees) merge.
// scans needs room for max(nscans, npts / 5 + 1) pairs. Returns 0; count 0 when no scan was
// found.
int FindCloudScans(const Cloud* cloud, int* scans, int* count);
// The scan holding the seed, by the same cuts walked forward and backward from it (no merging):
// first and last inclusive. Fewer than 6 points: the whole cloud. A seed outside the cloud
// reads and writes nothing.
void ExtractTheScan(const Cloud* cloud, int seed, int* first, int* last);

// Cuts the sequence into new unordered clouds wherever consecutive points lie farther apart
// than sqrt(gap2); each piece carries its points' normals, labels and label visibility. pieces
// and boxes (either may be null; count then too when both are) receive arrays the caller frees
// (Free, each piece with FreeCloud). 1, or 0 with every output empty on no memory.
int BreakCloud(const Cloud* cloud, double gap2, int* count, Cloud*** pieces, Bbox** boxes);

// Bin grids over a cloud's points in the given box, left in the caller's tracking scope with
// cells keeping their spare room. 3DCore: as SubdivideArrays with at most 128 divisions, a point
// also entering the neighbouring cell across the outer quarter of its own; 3DTooCore: across
// the nearer half; RequestCore: nx, ny, nz cells whose centres span the box (which widens by half
// a cell at both ends of every axis of 2 cells or more). Null for a null or empty cloud or on
// no memory (nothing of the grid left).
Subdiv* CloudSubdivide3DCore(const Cloud* cloud, double len, const Bbox box);
Subdiv* CloudSubdivide3DTooCore(const Cloud* cloud, double len, const Bbox box);
Subdiv* CloudSubdivideRequestCore(const Cloud* cloud, int nx, int ny, int nz, const Bbox box);
