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
  *tree = KDTree{3, n, coords, root, -1, kInfinity};
  return tree;
}

int FreeKDTree(KDTree* tree) {
  if (!tree) return 0;
  FreeKDTreeNode(tree->root);
  Free(tree->coords);
  Free(tree);
  return 0;
}

namespace {

// A node still to visit and the squared distance to its splitting plane that the best distance
// must beat when it is reached (negative: visit unconditionally).
struct Pending {
  const KDTreeNode* node;
  double gate;
};

// A point is abandoned as soon as its partial sum exceeds the best; a complete sum strictly
// below the best wins, so on equal distances the point met first stays.
void SearchLeaf(KDTree* tree, const KDTreeNode* leaf, const double* q) {
  double best = tree->bestDist;
  int bestIndex = tree->bestIndex;
  const int* idx = leaf->indices;
  if (tree->dim == 3) {
    const float *x = tree->coords[0], *y = tree->coords[1], *z = tree->coords[2];
    const double q0 = q[0], q1 = q[1], q2 = q[2];
    for (int i = 0; i < leaf->count; ++i) {
      const int k = idx[i];
      const double dx = x[k] - q0;
      double d2 = dx * dx;
      if (d2 > best) continue;
      const double dy = y[k] - q1;
      d2 += dy * dy;
      if (d2 > best) continue;
      const double dz = z[k] - q2;
      d2 += dz * dz;
      if (d2 < best) best = d2, bestIndex = k;
    }
  } else {
    for (int i = 0; i < leaf->count; ++i) {
      const int k = idx[i];
      double d2 = 0.0;
      for (int a = 0; a < tree->dim && d2 <= best; ++a) {
        const double d = static_cast<double>(tree->coords[a][k]) - q[a];
        d2 += d * d;
      }
      if (d2 < best) best = d2, bestIndex = k;
    }
  }
  tree->bestDist = best;
  tree->bestIndex = bestIndex;
}

}  // namespace

int SearchKDTreeNearest(KDTree* tree, const double* q, int* out) {
  tree->bestDist = kInfinity;
  tree->bestIndex = -1;
  // The visit order of the recursive search: near side first, the far side afterwards only when
  // its plane is nearer than the best point found by then. The stack holds at most one entry per
  // level; deep trees move it to the heap.
  Pending local[128];
  Pending* stack = local;
  int capacity = 128, top = 0;
  stack[top++] = Pending{tree->root, -1.0};
  while (top > 0) {
    const Pending p = stack[--top];
    if (!p.node || (p.gate >= 0.0 && !(p.gate < tree->bestDist))) continue;
    // Down the near side at once; each far side waits on the stack with its plane distance.
    const KDTreeNode* node = p.node;
    bool complete = true;
    while (node->left || node->right) {
      if (top + 1 > capacity) {
        Pending* grown = MallocArray<Pending>(2, capacity);
        if (!grown) {  // out of memory: the answer so far
          complete = false;
          break;
        }
        for (int i = 0; i < top; ++i) grown[i] = stack[i];
        if (stack != local) Free(stack);
        stack = grown;
        capacity *= 2;
      }
      const double delta = q[node->axis] - node->split;
      if (delta > 0.0) {
        stack[top++] = Pending{node->left, delta * delta};
        node = node->right;
      } else {
        stack[top++] = Pending{node->right, delta * delta};
        node = node->left;
      }
    }
    if (!complete) break;
    SearchLeaf(tree, node, q);
  }
  if (stack != local) Free(stack);
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
