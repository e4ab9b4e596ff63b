#include "registration/kdtree.h"

#include <algorithm>
#include <cmath>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// A pending part of the build: its indices become a child of `parent` on side `left`.
struct KDStack {
  KDStack* next;
  KDTreeNode* parent;
  int left;  // 1: becomes the parent's left child, 0: its right child
  int count;
  int* indices;
};

void Attach(KDTreeNode* parent, int left, KDTreeNode* node) {
  if (left)
    parent->left = node;
  else
    parent->right = node;
}

// Single-precision blocked sums, flushed after every 51 points: the split value is part of the
// tree's shape, so its rounding is too.
void FindMaxSpreadAxis(const float** coords, int dim, const int* idx, int c, int* bestAxis, double* split) {
  float best = -kNoValueF;
  *bestAxis = 0;
  *split = 0.0;
  for (int a = 0; a < dim; ++a) {
    const float* v = coords[a];
    float total = 0.0f, block = 0.0f, totalSq = 0.0f, blockSq = 0.0f;
    int counter = 0;
    for (int i = 0; i < c; ++i) {
      const float x = v[idx[i]];
      block += x;
      blockSq += x * x;
      if (++counter > 50) {
        total += block;
        totalSq += blockSq;
        block = blockSq = 0.0f;
        counter = 0;
      }
    }
    const float mean = (total + block) / static_cast<float>(c);
    const float variance = (totalSq + blockSq) / static_cast<float>(c) - mean * mean;
    if (variance > best) {
      best = variance;
      *bestAxis = a;
      *split = static_cast<double>(mean);
    }
  }
}

// The median along the axis whose finite coordinates spread widest, and the count at or below
// it. A value that is not a number orders after every other, as the split test (<=) sends it
// right.
void MedianSplit(const float** coords, int dim, const int* idx, int c, int* axis, double* split, int* nl) {
  double widest = -1.0;
  *axis = 0;
  for (int a = 0; a < dim; ++a) {
    double lo = INFINITY, hi = -INFINITY;
    for (int i = 0; i < c; ++i) {
      const double v = coords[a][idx[i]];
      if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
    }
    if (hi - lo > widest) widest = hi - lo, *axis = a;
  }
  TrackingScope scope;
  double* v = MallocArray<double>(c);
  if (!v) return;  // the mean split stands; the caller sees the error state
  for (int i = 0; i < c; ++i) {
    const double x = coords[*axis][idx[i]];
    v[i] = x == x ? x : INFINITY;
  }
  std::nth_element(v, v + (c - 1) / 2, v + c);
  *split = v[(c - 1) / 2];
  *nl = 0;
  for (int i = 0; i < c; ++i) *nl += static_cast<double>(coords[*axis][idx[i]]) <= *split;
}

// The split of a node of c > bucket points and the count at or below it. The mean splits points
// spread evenly. Where a few lie orders of magnitude beyond the rest it either overflows the
// float sums or sits among those few and leaves almost all points on one side, and a tree of such
// splits is as deep as it has points: the median splits there instead. False on no memory.
bool ChooseSplit(const float** coords, int dim, const int* a, int c, int* axis, double* split, int* nl) {
  FindMaxSpreadAxis(coords, dim, a, c, axis, split);
  *nl = 0;
  for (int i = 0; i < c; ++i) *nl += static_cast<double>(coords[*axis][a[i]]) <= *split;
  const int least = std::max(1, c / 16);
  if (std::isfinite(*split) && *nl >= least && c - *nl >= least) return true;
  int medianAxis = *axis, medianCount = *nl;
  double median = *split;
  MedianSplit(coords, dim, a, c, &medianAxis, &median, &medianCount);
  if (KernelFailed()) return false;
  // A median shared by the largest values parts nothing: then the mean's split stands.
  if (medianCount > 0 && medianCount < c) *axis = medianAxis, *split = median, *nl = medianCount;
  return true;
}

KDTreeNode* MakeLeaf(int* indices, int count) {
  KDTreeNode* leaf = MallocNullKDTreeNode();
  if (!leaf) return nullptr;
  leaf->indices = indices;
  leaf->count = count;
  return leaf;
}

}  // namespace

KDTreeNode* MallocNullKDTreeNode() {
  KDTreeNode* node = MallocArray<KDTreeNode>(1);
  if (!node || KernelFailed()) return nullptr;
  *node = KDTreeNode{nullptr, nullptr, -1, kEmptyBoxBound, nullptr, 0};
  return node;
}

int FreeKDTreeNode(KDTreeNode* node) {
  // Rotations turn the left spine into a right chain as it is freed: no stack, any depth.
  while (node) {
    if (node->left) {
      KDTreeNode* l = node->left;
      node->left = l->right;
      l->right = node;
      node = l;
    } else {
      KDTreeNode* next = node->right;
      Free(node->indices);
      Free(node);
      node = next;
    }
  }
  return 0;
}

KDTreeNode* NewBuildKDTree(const float** coords, int dim, int n, int bucket) {
  if (!coords || n < 0) return nullptr;
  TrackingScope scope;
  int* all = MallocArray<int>(n);
  if (KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) all[i] = i;
  if (n <= bucket) {
    KDTreeNode* root = MakeLeaf(all, n);
    if (!root) return nullptr;
    scope.keep();
    return root;
  }
  KDTreeNode* top = MallocNullKDTreeNode();
  KDStack* stack = MallocArray<KDStack>(1);
  if (!top || !stack || KernelFailed()) return nullptr;
  *stack = KDStack{nullptr, top, 1, n, all};
  while (stack) {
    KDStack* item = stack;
    stack = item->next;
    const int c = item->count;
    int* a = item->indices;
    int axis = 0;
    double split = 0.0;
    int nl = 0;
    if (c > bucket && !ChooseSplit(coords, dim, a, c, &axis, &split, &nl)) return nullptr;
    if (c <= bucket || nl == 0 || nl == c) {
      KDTreeNode* leaf = MakeLeaf(a, c);
      if (!leaf) return nullptr;
      Attach(item->parent, item->left, leaf);
    } else {
      int* la = MallocArray<int>(nl);
      int* ra = MallocArray<int>(c - nl);
      KDTreeNode* node = MallocNullKDTreeNode();
      KDStack* right = MallocArray<KDStack>(1);
      KDStack* left = MallocArray<KDStack>(1);
      if (!la || !ra || !node || !right || !left || KernelFailed()) return nullptr;
      for (int i = 0, l = 0, r = 0; i < c; ++i) {
        if (static_cast<double>(coords[axis][a[i]]) <= split)
          la[l++] = a[i];
        else
          ra[r++] = a[i];
      }
      node->axis = axis;
      node->split = split;
      Attach(item->parent, item->left, node);
      Free(a);
      // Right pushed first, so the left part is built next: depth first, left before right.
      *right = KDStack{stack, node, 0, c - nl, ra};
      *left = KDStack{right, node, 1, nl, la};
      stack = left;
    }
    Free(item);
  }
  KDTreeNode* root = top->left;
  Free(top);
  scope.keep();
  return root;
}

KDTreeNode* BuildKDTree(const float** coords, int dim, int n, int bucket) {
  return NewBuildKDTree(coords, dim, n, bucket);
}

namespace {

// The node tree of Create3DTree in two blocks: the nodes in depth-first order (left before
// right) and the leaves' indices (each leaf a range of one array). The shape is NewBuildKDTree's:
// the same split of the same index list in the same order at every node (the stable partition
// keeps each side's indices ascending), but a node and each part of the indices no longer take an
// allocation of their own (a bucket-1 tree over 100,000 points made 600,000 of them, and they
// took most of the build's time). FreeKDTree frees the blocks.
struct PooledTree {
  KDTreeNode* nodes;
  int* indices;
};

bool BuildPooledTree(const float** coords, int n, int bucket, PooledTree* out) {
  // While building, children are node numbers: the node block grows and may move.
  struct Node {
    int left, right, axis, begin, count;
    double split;
  };
  struct Item {
    int begin, count, parent;  // parent -1: the root
    bool left;
  };
  TrackingScope scope;
  const int room = n > 0 ? n : 1;
  int* idx = MallocArray<int>(room);
  int* scratch = MallocArray<int>(room);
  Item* stack = MallocArray<Item>(room + 1);  // a part waits per level, and there are at most n levels
  int capacity = 2 * (n / (bucket > 1 ? bucket : 1)) + 2, used = 0;
  Node* nodes = MallocArray<Node>(capacity);
  if (!idx || !scratch || !stack || !nodes || KernelFailed()) return false;
  for (int i = 0; i < n; ++i) idx[i] = i;
  int top = 0;
  stack[top++] = Item{0, n, -1, true};
  while (top > 0) {
    const Item it = stack[--top];
    int* a = idx + it.begin;
    const int c = it.count;
    int axis = 0, nl = 0;
    double split = 0.0;
    if (c > bucket && !ChooseSplit(coords, 3, a, c, &axis, &split, &nl)) return false;
    if (used == capacity) {
      capacity *= 2;
      Node* grown = ReallocArray(nodes, capacity);
      if (!grown || KernelFailed()) return false;
      nodes = grown;
    }
    const int me = used++;
    if (it.parent >= 0) (it.left ? nodes[it.parent].left : nodes[it.parent].right) = me;
    if (c <= bucket || nl == 0 || nl == c) {
      nodes[me] = Node{-1, -1, -1, it.begin, c, kEmptyBoxBound};
      continue;
    }
    const float* v = coords[axis];
    int l = 0, r = 0;
    for (int i = 0; i < c; ++i) {
      const int k = a[i];
      if (static_cast<double>(v[k]) <= split)
        a[l++] = k;
      else
        scratch[r++] = k;
    }
    for (int i = 0; i < r; ++i) a[l + i] = scratch[i];
    nodes[me] = Node{-1, -1, axis, 0, 0, split};
    // Right pushed first, so the left part is built next: depth first, left before right.
    stack[top++] = Item{it.begin + nl, c - nl, me, false};
    stack[top++] = Item{it.begin, nl, me, true};
  }
  KDTreeNode* tree = MallocArray<KDTreeNode>(used);
  if (!tree || KernelFailed()) return false;
  for (int i = 0; i < used; ++i) {
    const Node& b = nodes[i];
    const bool leaf = b.axis < 0;
    tree[i] = KDTreeNode{leaf ? nullptr : tree + b.left, leaf ? nullptr : tree + b.right, b.axis, b.split,
                         leaf && b.count > 0 ? idx + b.begin : nullptr, leaf ? b.count : 0};
  }
  Free(nodes);
  Free(scratch);
  Free(stack);
  scope.keep();
  *out = PooledTree{tree, idx};
  return true;
}

}  // namespace

namespace {

// A node of the query layout, 16 bytes (four per cache line). Interior cells: the left child
// follows at index + 1; lowMax and highMin are the largest coordinate of the left subtree and the
// smallest of the right one on the split axis (the empty gap around the split). Leaves: their
// indices' first slot in KDSearch::order and their count. The boxes of the cells' points are kept
// apart: the descent needs only the gaps.
struct Cell {
  unsigned word;  // interior: right child's index * 4 + split axis; leaf: 3
  union {
    struct {
      float split;  // the node's split value (a float mean, exactly)
      float lowMax, highMin;
    } inner;
    struct {
      int begin, count;
    } leaf;
  };
};
static_assert(sizeof(Cell) == 16);

struct Box {
  float lo[3], hi[3];
};

// A region still to visit: its cell, the squared distance bound and the squared per-axis offsets
// of the query from the region.
struct Pending {
  int cell;
  double bound;
  double off[3];
};

}  // namespace

struct KDSearch {
  Cell* cells;
  Box* boxes;        // every cell's box of points, read before a waiting region is entered
  int* order;        // the leaves' indices, leaf after leaf
  Pending* pending;  // room for one pending region per level: the query's stack
  PooledTree pool;   // the blocks of the record's node tree
};

namespace {

void FreeSearch(KDSearch* s) {
  if (!s) return;
  Free(s->cells);
  Free(s->boxes);
  Free(s->order);
  Free(s->pending);
  Free(s->pool.nodes);
  Free(s->pool.indices);
  Free(s);
}

// The node tree in depth-first order (left before right), built without recursion. Boxes are
// filled from the back: children come after their parent.
KDSearch* MakeSearch(const KDTree* tree) {
  struct Item {
    const KDTreeNode* node;
    int level;   // counting pass: depth of the node, root 1
    int parent;  // layout pass: the cell whose right link this node is, -1 for a left child or the root
  };
  // A node tree has fewer than 2n + 2 nodes, and its stack never holds more.
  Item* stack = MallocArray<Item>(2 * tree->n + 2);
  if (!stack || KernelFailed()) {
    Free(stack);
    return nullptr;
  }
  int cells = 0, depth = 0, top = 0;
  stack[top++] = Item{tree->root, 1, -1};
  while (top > 0) {
    const Item it = stack[--top];
    ++cells;
    depth = it.level > depth ? it.level : depth;
    if (it.node->left) {
      stack[top++] = Item{it.node->right, it.level + 1, -1};
      stack[top++] = Item{it.node->left, it.level + 1, -1};
    }
  }
  KDSearch* s = MallocArray<KDSearch>(1);
  // Cell numbers travel in 30 bits: a larger tree is refused like one that does not fit.
  if (!s || cells >= (1 << 29) || KernelFailed()) {
    Free(stack);
    Free(s);
    return nullptr;
  }
  *s = KDSearch{MallocArray<Cell>(cells), MallocArray<Box>(cells), MallocArray<int>(tree->n > 0 ? tree->n : 1),
                MallocArray<Pending>(depth + 1), PooledTree{nullptr, nullptr}};
  if (!s->cells || !s->boxes || !s->order || !s->pending || KernelFailed()) {
    Free(stack);
    FreeSearch(s);
    return nullptr;
  }
  const float *x = tree->coords[0], *y = tree->coords[1], *z = tree->coords[2];
  int next = 0, slot = 0;
  stack[top++] = Item{tree->root, 0, -1};
  while (top > 0) {
    const Item it = stack[--top];
    const int c = next++;
    if (it.parent >= 0) s->cells[it.parent].word += 4u * static_cast<unsigned>(c);
    const KDTreeNode* node = it.node;
    Cell& cell = s->cells[c];
    if (node->left) {
      cell.word = static_cast<unsigned>(node->axis);
      cell.inner.split = static_cast<float>(node->split);
      stack[top++] = Item{node->right, 0, c};
      stack[top++] = Item{node->left, 0, -1};
      continue;
    }
    cell.word = 3u;
    cell.leaf.begin = slot;
    cell.leaf.count = node->count;
    // An empty leaf (only the root of an empty tree) gets an inverted box: nothing is near it.
    Box& b = s->boxes[c];
    for (int a = 0; a < 3; ++a) b.lo[a] = kNoValueF, b.hi[a] = -kNoValueF;
    for (int i = 0; i < node->count; ++i) {
      const int k = node->indices[i];
      s->order[slot++] = k;
      const float p[3] = {x[k], y[k], z[k]};
      for (int a = 0; a < 3; ++a) {
        b.lo[a] = p[a] < b.lo[a] ? p[a] : b.lo[a];
        b.hi[a] = p[a] > b.hi[a] ? p[a] : b.hi[a];
      }
    }
  }
  // Children come after their parent: from the back, every child's box is ready.
  for (int c = cells - 1; c >= 0; --c) {
    Cell& cell = s->cells[c];
    const unsigned axis = cell.word & 3u;
    if (axis == 3u) continue;
    const Box &l = s->boxes[c + 1], &r = s->boxes[cell.word >> 2];
    Box& b = s->boxes[c];
    for (int a = 0; a < 3; ++a) {
      b.lo[a] = l.lo[a] < r.lo[a] ? l.lo[a] : r.lo[a];
      b.hi[a] = l.hi[a] > r.hi[a] ? l.hi[a] : r.hi[a];
    }
    cell.inner.lowMax = l.hi[axis];
    cell.inner.highMin = r.lo[axis];
  }
  Free(stack);
  return s;
}

}  // namespace

KDTree* Create3DTree(const float* x, const float* y, const float* z, int n, int bucket) {
  if (n < 0 || (n > 0 && (!x || !y || !z))) return nullptr;
  UntrackedScope untracked;
  const float** coords = MallocArray<const float*>(3);
  KDTree* tree = MallocArray<KDTree>(1);
  if (!coords || !tree || KernelFailed()) {
    Free(coords);
    Free(tree);
    return nullptr;
  }
  coords[0] = x;
  coords[1] = y;
  coords[2] = z;
  PooledTree pool;
  if (!BuildPooledTree(coords, n, bucket, &pool)) {
    Free(coords);
    Free(tree);
    return nullptr;
  }
  *tree = KDTree{3, n, coords, pool.nodes, -1, kEmptyBoxBound, nullptr};
  tree->search = MakeSearch(tree);
  if (!tree->search) {
    Free(pool.nodes);
    Free(pool.indices);
    Free(coords);
    Free(tree);
    return nullptr;
  }
  tree->search->pool = pool;
  return tree;
}

int FreeKDTree(KDTree* tree) {
  if (!tree) return 0;
  FreeSearch(tree->search);  // with the node tree's blocks
  Free(tree->coords);
  Free(tree);
  return 0;
}

namespace {

// A region's squared distance bound is the sum, in axis order, of the squared per-axis offsets
// of the query from it: every point of the region is at least as far in the same rounded
// arithmetic (each coordinate difference is at least the offset, and rounding keeps order), so a
// region whose bound is not below the best holds no better point.
inline double Offset(double lo, double hi, double q) {
  const double below = lo - q, above = q - hi;
  return below > 0.0 ? below : (above > 0.0 ? above : 0.0);
}

inline double BoxBound(const Box& box, const double q[3]) {
  double sum = 0.0;
  for (int a = 0; a < 3; ++a) {
    const double d = Offset(box.lo[a], box.hi[a], q[a]);
    sum += d * d;
  }
  return sum;
}

// Method: depth-first from the root, near side first (the right child when the query lies
// beyond the split, else the left); the far side waits on the stack with its region's bound, the
// offset on the split axis grown to the gap's far edge, and a query inside the gap is outside the
// near side as well. Once a leaf has set a limit, a region is also checked against the box of its
// points before it is entered: that prunes whole subtrees for queries out in empty space
// (clustered points), while the first way down, which cannot prune, reads no boxes. A region is
// entered only while its bound is below the limit, the best squared distance so far. The visitor
// receives each leaf's index range and returns the new limit. The pruning drops no point that
// would have won and the visiting order is that of the recursive search on the node tree, so ties
// go to the same point.
template <class Visit>
void Descend(const KDTree* tree, const double q[3], double limit, Visit& visit) {
  const KDSearch* s = tree->search;
  const Cell* cells = s->cells;
  Pending* stack = s->pending;
  auto within = [&limit](double bound) { return bound < limit; };
  const double qv[3] = {q[0], q[1], q[2]};
  // Squared offsets per axis; a bound is their sum in axis order.
  double o[3];
  for (int a = 0; a < 3; ++a) {
    const double d = Offset(s->boxes[0].lo[a], s->boxes[0].hi[a], qv[a]);
    o[a] = d * d;
  }
  double bound = o[0] + o[1] + o[2];
  int c = 0, top = 0;
  bool again = false;  // a leaf has been visited: the limit can prune
  for (;;) {
    if (within(bound)) {
      unsigned word;
      // Selections rather than branches: which side is near is a coin toss for the predictor.
      while (((word = cells[c].word) & 3u) != 3u) {
        const Cell& cell = cells[c];
        const unsigned axis = word & 3u;
        const double qa = qv[axis];
        const bool toRight = qa - static_cast<double>(cell.inner.split) > 0.0;
        const double lowGap = qa - static_cast<double>(cell.inner.lowMax);
        const double highGap = static_cast<double>(cell.inner.highMin) - qa;
        const int right = static_cast<int>(word >> 2);
        const double edge = toRight ? lowGap : highGap;
        Pending& far = stack[top];  // written always, kept only when within the limit
        far.cell = toRight ? c + 1 : right;
        c = toRight ? right : c + 1;
        far.off[0] = o[0], far.off[1] = o[1], far.off[2] = o[2];
        far.off[axis] = edge * edge;
        far.bound = far.off[0] + far.off[1] + far.off[2];
        top += within(far.bound) ? 1 : 0;
        // A query in the gap lies outside the near side too.
        const double nearEdge = toRight ? highGap : lowGap;
        if (nearEdge > 0.0 && nearEdge * nearEdge > o[axis]) {
          o[axis] = nearEdge * nearEdge;
          bound = o[0] + o[1] + o[2];
          if (!within(bound)) break;
        }
        if (again && !within(BoxBound(s->boxes[c], qv))) break;
      }
      if ((word & 3u) == 3u) limit = visit(s->order + cells[c].leaf.begin, cells[c].leaf.count, limit);
    }
    if (top == 0) return;
    again = true;
    const Pending& p = stack[--top];
    c = p.cell, bound = p.bound, o[0] = p.off[0], o[1] = p.off[1], o[2] = p.off[2];
    // The box lies inside the region: its bound is at least the region's.
    if (within(bound)) bound = BoxBound(s->boxes[c], qv);
  }
}

struct NearestVisit {
  const float *x, *y, *z;
  double q0, q1, q2;
  int best;
  double bestDist;
  double operator()(const int* idx, int count, double) {
    // Whole sums: a point whose partial sum already exceeds the best cannot win either way.
    for (int i = 0; i < count; ++i) {
      const int k = idx[i];
      const double dx = x[k] - q0, dy = y[k] - q1, dz = z[k] - q2;
      const double d2 = dx * dx + dy * dy + dz * dz;
      if (d2 < bestDist) bestDist = d2, best = k;
    }
    return bestDist;
  }
};

}  // namespace

// Beyond this a query's squared distances to float points may overflow a double.
constexpr double kFarQuery = 1e150;

int SearchKDTreeNearest(KDTree* tree, const double* q, int* out) {
  tree->bestDist = kEmptyBoxBound;
  tree->bestIndex = -1;
  if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2])) {
    *out = -1;
    return -2;
  }
  if (tree->n > 0 && std::max({std::fabs(q[0]), std::fabs(q[1]), std::fabs(q[2])}) > kFarQuery) {
    // So far out that squared distances overflow: every point is compared on differences scaled
    // down by a power of two (exact), a scan as long as the tree.
    constexpr double kScale = 0x1p-600;
    double best = HUGE_VAL;
    for (int i = 0; i < tree->n; ++i) {
      const double dx = (tree->coords[0][i] - q[0]) * kScale, dy = (tree->coords[1][i] - q[1]) * kScale,
                   dz = (tree->coords[2][i] - q[2]) * kScale;
      const double d2 = dx * dx + dy * dy + dz * dz;
      if (d2 < best) best = d2, tree->bestIndex = i;
    }
    *out = tree->bestIndex;
    return 0;
  }
  if (tree->n > 0 && tree->search) {
    // No limit at the start: a query farther than the float range from every point still has a
    // nearest one (its squared distance passes kEmptyBoxBound).
    NearestVisit v{tree->coords[0], tree->coords[1], tree->coords[2], q[0], q[1], q[2], -1, HUGE_VAL};
    Descend(tree, q, HUGE_VAL, v);
    tree->bestDist = v.bestDist;
    tree->bestIndex = v.best;
  }
  *out = tree->bestIndex;
  return 0;
}

int ClosestPntSet3DTree(const float* x, const float* y, const float* z, int m, KDTree* tree, float* ox,
                        float* oy, float* oz) {
  if (!tree || tree->n < 1 || !tree->root) return -2;
  for (int i = 0; i < m; ++i) {
    const double q[3] = {x[i], y[i], z[i]};
    int k = -1;
    SearchKDTreeNearest(tree, q, &k);
    if (k < 0) return -2;
    ox[i] = tree->coords[0][k];
    oy[i] = tree->coords[1][k];
    oz[i] = tree->coords[2][k];
  }
  return 0;
}
