#include "registration/kdtree.h"

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

constexpr double kInfinity = static_cast<double>(3.37e38f);

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
  float best = -3.37e38f;
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
  *node = KDTreeNode{nullptr, nullptr, -1, kInfinity, nullptr, 0};
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
    if (c > bucket) {
      FindMaxSpreadAxis(coords, dim, a, c, &axis, &split);
      for (int i = 0; i < c; ++i)
        if (static_cast<double>(coords[axis][a[i]]) <= split) ++nl;
    }
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

// A node of the query layout, 32 bytes (two per cache line). Interior cells: the left child
// follows at index + 1, `link` is the right child's index; lowMax and highMin are the largest
// coordinate of the left subtree and the smallest of the right one on the split axis (the empty
// gap around the split). Leaves: `link` is the first slot of their indices in KDSearch::order,
// and the box of their points sits in the cell, read before the points are.
struct Cell {
  int tag;  // interior: the split axis 0..2; leaf: -1 - count
  int link;
  union {
    struct {
      float split;  // the node's split value (a float mean, exactly)
      float lowMax, highMin;
    } inner;
    struct {
      float lo[3], hi[3];
    } box;
  };
};
static_assert(sizeof(Cell) == 32);

// A region still to visit: its cell, the squared distance bound and the per-axis offsets of the
// query from the region.
struct Pending {
  int cell;
  double bound;
  double off[3];
};

}  // namespace

struct KDSearch {
  void* block;       // the cells' allocation; cells start at its first 32-byte boundary
  Cell* cells;
  int* order;        // the leaves' indices, leaf after leaf
  Pending* pending;  // room for one pending region per level: the query's stack
  float lo[3], hi[3];  // bounding box of all points
};

namespace {

void FreeSearch(KDSearch* s) {
  if (!s) return;
  Free(s->block);
  Free(s->order);
  Free(s->pending);
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
  float* box = MallocArray<float>(6, cells);  // every cell's box, for its parent's gap
  if (!s || !box || KernelFailed()) {
    Free(stack);
    Free(box);
    Free(s);
    return nullptr;
  }
  *s = KDSearch{MallocArray<Cell>(cells + 1), nullptr, MallocArray<int>(tree->n > 0 ? tree->n : 1),
                MallocArray<Pending>(depth + 1), {}, {}};
  if (!s->block || !s->order || !s->pending || KernelFailed()) {
    Free(stack);
    Free(box);
    FreeSearch(s);
    return nullptr;
  }
  const auto address = reinterpret_cast<unsigned long long>(s->block);
  s->cells = reinterpret_cast<Cell*>(static_cast<char*>(s->block) + ((32 - address % 32) % 32));
  const float *x = tree->coords[0], *y = tree->coords[1], *z = tree->coords[2];
  int next = 0, slot = 0;
  stack[top++] = Item{tree->root, 0, -1};
  while (top > 0) {
    const Item it = stack[--top];
    const int c = next++;
    if (it.parent >= 0) s->cells[it.parent].link = c;
    const KDTreeNode* node = it.node;
    Cell& cell = s->cells[c];
    float* b = box + 6 * c;
    if (node->left) {
      cell.tag = node->axis;
      cell.inner.split = static_cast<float>(node->split);
      stack[top++] = Item{node->right, 0, c};
      stack[top++] = Item{node->left, 0, -1};
      continue;
    }
    cell.tag = -1 - node->count;
    cell.link = slot;
    // An empty leaf (only the root of an empty tree) gets an inverted box: nothing is near it.
    for (int a = 0; a < 3; ++a) b[a] = 3.37e38f, b[3 + a] = -3.37e38f;
    for (int i = 0; i < node->count; ++i) {
      const int k = node->indices[i];
      s->order[slot++] = k;
      const float p[3] = {x[k], y[k], z[k]};
      for (int a = 0; a < 3; ++a) {
        b[a] = p[a] < b[a] ? p[a] : b[a];
        b[3 + a] = p[a] > b[3 + a] ? p[a] : b[3 + a];
      }
    }
    for (int a = 0; a < 3; ++a) cell.box.lo[a] = b[a], cell.box.hi[a] = b[3 + a];
  }
  for (int c = cells - 1; c >= 0; --c) {
    Cell& cell = s->cells[c];
    if (cell.tag < 0) continue;
    const float *l = box + 6 * (c + 1), *r = box + 6 * cell.link;
    float* b = box + 6 * c;
    for (int a = 0; a < 3; ++a) {
      b[a] = l[a] < r[a] ? l[a] : r[a];
      b[3 + a] = l[3 + a] > r[3 + a] ? l[3 + a] : r[3 + a];
    }
    cell.inner.lowMax = l[3 + cell.tag];
    cell.inner.highMin = r[cell.tag];
  }
  for (int a = 0; a < 3; ++a) s->lo[a] = box[a], s->hi[a] = box[3 + a];
  Free(stack);
  Free(box);
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
  KDTreeNode* root = NewBuildKDTree(coords, 3, n, bucket);
  if (!root) {
    Free(coords);
    Free(tree);
    return nullptr;
  }
  *tree = KDTree{3, n, coords, root, -1, kInfinity, nullptr};
  tree->search = MakeSearch(tree);
  if (!tree->search) {
    FreeKDTree(tree);
    return nullptr;
  }
  return tree;
}

int FreeKDTree(KDTree* tree) {
  if (!tree) return 0;
  FreeKDTreeNode(tree->root);
  FreeSearch(tree->search);
  Free(tree->coords);
  Free(tree);
  return 0;
}

namespace {

// Squared distance bounds are sums of squared per-axis offsets in axis order: every point of a
// region is at least as far in the same rounded arithmetic (each coordinate difference is at
// least the offset, and rounding keeps order), so a region whose bound is not below the best
// holds no better point.
inline double Offset(double lo, double hi, double q) {
  const double below = lo - q, above = q - hi;
  return below > 0.0 ? below : (above > 0.0 ? above : 0.0);
}

// Method: depth-first from the root, near side first (the right child when the query lies
// beyond the split, else the left), the far side pushed with its region's bound: the offset on
// the split axis grows to the gap's far edge. A region is entered only while its bound is below
// (nearest) or within (radius) the limit, a leaf's points are read only when its own box passes
// the same test. The limit is the best squared distance so far (nearest) or radius squared
// (radius); the visitor receives each leaf's index range and returns the new limit. The pruning
// drops no point that would have won, and the visiting order is that of the recursive search on
// the node tree, so ties go to the same point.
template <class Visit>
void Descend(const KDTree* tree, const double q[3], double limit, Visit& visit) {
  const KDSearch* s = tree->search;
  const Cell* cells = s->cells;
  Pending* stack = s->pending;
  auto within = [&limit](double bound) { return Visit::inclusive ? bound <= limit : bound < limit; };
  const double q0 = q[0], q1 = q[1], q2 = q[2];
  double o0 = Offset(s->lo[0], s->hi[0], q0), o1 = Offset(s->lo[1], s->hi[1], q1), o2 = Offset(s->lo[2], s->hi[2], q2);
  double bound = o0 * o0 + o1 * o1 + o2 * o2;
  int c = 0, top = 0;
  for (;;) {
    if (within(bound)) {
      int tag;
      while ((tag = cells[c].tag) >= 0) {
        const Cell& cell = cells[c];
        const double qa = tag == 0 ? q0 : (tag == 1 ? q1 : q2);
        const double delta = qa - static_cast<double>(cell.inner.split);
        const double lowGap = qa - static_cast<double>(cell.inner.lowMax);
        const double highGap = static_cast<double>(cell.inner.highMin) - qa;
        int far;
        double edge, nearEdge;
        if (delta > 0.0) {
          far = c + 1, edge = lowGap, nearEdge = highGap;
          c = cell.link;
        } else {
          far = cell.link, edge = highGap, nearEdge = lowGap;
          c = c + 1;
        }
        const double f0 = tag == 0 ? edge : o0, f1 = tag == 1 ? edge : o1, f2 = tag == 2 ? edge : o2;
        const double fb = f0 * f0 + f1 * f1 + f2 * f2;
        // A region beyond the limit now never comes back within it: leave it off the stack.
        if (within(fb)) stack[top++] = Pending{far, fb, {f0, f1, f2}};
        // A query in the gap lies outside the near side too.
        double& oa = tag == 0 ? o0 : (tag == 1 ? o1 : o2);
        if (nearEdge > oa) {
          oa = nearEdge;
          bound = o0 * o0 + o1 * o1 + o2 * o2;
          if (!within(bound)) break;
        }
      }
      if (tag < 0) {  // reached a leaf (else a near side fell beyond the limit)
        const Cell& leaf = cells[c];
        const double b0 = Offset(leaf.box.lo[0], leaf.box.hi[0], q0);
        const double b1 = Offset(leaf.box.lo[1], leaf.box.hi[1], q1);
        const double b2 = Offset(leaf.box.lo[2], leaf.box.hi[2], q2);
        if (within(b0 * b0 + b1 * b1 + b2 * b2)) limit = visit(s->order + leaf.link, -1 - tag, limit);
      }
    }
    if (top == 0) return;
    const Pending& p = stack[--top];
    c = p.cell, bound = p.bound, o0 = p.off[0], o1 = p.off[1], o2 = p.off[2];
  }
}

struct NearestVisit {
  static constexpr bool inclusive = false;
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

struct RadiusVisit {
  static constexpr bool inclusive = true;
  const float *x, *y, *z;
  double q0, q1, q2;
  int capacity;
  int* out;
  int found;
  double operator()(const int* idx, int count, double limit) {
    for (int i = 0; i < count; ++i) {
      const int k = idx[i];
      const double dx = x[k] - q0, dy = y[k] - q1, dz = z[k] - q2;
      if (dx * dx + dy * dy + dz * dz <= limit) {
        if (found < capacity) out[found] = k;
        ++found;
      }
    }
    return limit;
  }
};

}  // namespace

int SearchKDTreeNearest(KDTree* tree, const double* q, int* out) {
  tree->bestDist = kInfinity;
  tree->bestIndex = -1;
  if (tree->n > 0 && tree->search) {
    NearestVisit v{tree->coords[0], tree->coords[1], tree->coords[2], q[0], q[1], q[2], -1, kInfinity};
    Descend(tree, q, kInfinity, v);
    tree->bestDist = v.bestDist;
    tree->bestIndex = v.best;
  }
  *out = tree->bestIndex;
  return 0;
}

int SearchKDTreeRadius(KDTree* tree, const double* q, double radius, int capacity, int* indices, int* count) {
  if (!tree || !q || !count || capacity < 0 || (capacity > 0 && !indices)) return -2;
  RadiusVisit v{tree->coords ? tree->coords[0] : nullptr, tree->coords ? tree->coords[1] : nullptr,
                tree->coords ? tree->coords[2] : nullptr, q[0], q[1], q[2], capacity, indices, 0};
  if (tree->n > 0 && tree->search && radius >= 0.0) Descend(tree, q, radius * radius, v);
  *count = v.found;
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
