#include "registration/kdtree.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

struct Points {
  std::vector<float> x, y, z;
  int n() const { return int(x.size()); }
  void add(float a, float b, float c) { x.push_back(a), y.push_back(b), z.push_back(c); }
};

// Lowest index among the nearest points, and the squared distance.
int BruteNearest(const Points& p, const double q[3], double* d2) {
  int best = -1;
  *d2 = 3.37e38;
  for (int i = 0; i < p.n(); ++i) {
    const double dx = p.x[i] - q[0], dy = p.y[i] - q[1], dz = p.z[i] - q[2];
    const double d = dx * dx + dy * dy + dz * dz;
    if (d < *d2) *d2 = d, best = i;
  }
  return best;
}

using KdTree = KernelTest;

const KDTreeNode* LargestLeaf(const KDTreeNode* node) {
  if (node->axis < 0) return node;
  const KDTreeNode *l = LargestLeaf(node->left), *r = LargestLeaf(node->right);
  return l->count >= r->count ? l : r;
}

// Every query against a linear scan: equal squared distances (the index may differ on exact ties).
void ExpectMatchesScan(const Points& p, int bucket, std::mt19937& rng, double lo, double hi) {
  KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), bucket);
  ASSERT_NE(t, nullptr);
  std::uniform_real_distribution<double> u(lo, hi);
  for (int k = 0; k < 300; ++k) {
    double q[3] = {u(rng), u(rng), u(rng)};
    if (k % 3 == 0) {  // on a tree point, exactly
      const int i = int(rng() % p.n());
      q[0] = p.x[i], q[1] = p.y[i], q[2] = p.z[i];
    }
    double d2;
    BruteNearest(p, q, &d2);
    int found = -2;
    ASSERT_EQ(SearchKDTreeNearest(t, q, &found), 0);
    ASSERT_GE(found, 0);
    const double dx = p.x[found] - q[0], dy = p.y[found] - q[1], dz = p.z[found] - q[2];
    EXPECT_EQ(dx * dx + dy * dy + dz * dz, d2);
    EXPECT_EQ(t->bestDist, d2);
  }
  FreeKDTree(t);
}

TEST_F(KdTree, NearestEqualsTheLinearScanOnClustersAndCoplanarPoints) {
  std::mt19937 rng(17);
  std::normal_distribution<float> g(0.0f, 0.01f);
  Points clusters;
  const float centres[4][3] = {{0, 0, 0}, {100, 0, 0}, {0, 1000, 5}, {-300, -300, 300}};
  for (int i = 0; i < 2000; ++i) {
    const auto& c = centres[i % 4];
    clusters.add(c[0] + g(rng), c[1] + g(rng), c[2] + g(rng));
  }
  for (int bucket : {0, 1, 10, 40}) ExpectMatchesScan(clusters, bucket, rng, -400.0, 1100.0);

  Points plane;  // z all equal: a zero-spread axis, many exact ties on a grid
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 30; ++j) plane.add(float(i) * 0.5f, float(j) * 0.25f, 2.0f);
  ExpectMatchesScan(plane, 5, rng, -1.0, 21.0);
  ExpectMatchesScan(plane, 1, rng, -1.0, 21.0);
}

TEST_F(KdTree, DegenerateTreesAnswerLikeTheScan) {
  // All points identical: one leaf whatever the bucket; the lowest index wins the tie.
  Points same;
  for (int i = 0; i < 50; ++i) same.add(1, 2, 3);
  KDTree* t = Create3DTree(same.x.data(), same.y.data(), same.z.data(), same.n(), 2);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->root->left, nullptr);
  EXPECT_EQ(t->root->count, 50);
  const double q[3] = {0, 0, 0};
  int found = -1;
  SearchKDTreeNearest(t, q, &found);
  EXPECT_EQ(found, 0);
  FreeKDTree(t);

  // n <= bucket: one leaf scanned in index order, ties to the lowest index.
  Points few;
  few.add(1, 0, 0), few.add(-1, 0, 0), few.add(0, 1, 0), few.add(1, 0, 0);
  t = Create3DTree(few.x.data(), few.y.data(), few.z.data(), few.n(), 10);
  SearchKDTreeNearest(t, q, &found);
  EXPECT_EQ(found, 0);
  FreeKDTree(t);

  // A query on the splitting plane searches left first and still finds the nearest on the right.
  Points two;
  two.add(0, 0, 0), two.add(2, 0, 0), two.add(2.5f, 0, 0), two.add(-3, 0, 0);
  t = Create3DTree(two.x.data(), two.y.data(), two.z.data(), two.n(), 1);
  ASSERT_EQ(t->root->axis, 0);
  const double onPlane[3] = {t->root->split, 0.0, 0.0};
  SearchKDTreeNearest(t, onPlane, &found);
  double d2;
  EXPECT_EQ(found, BruteNearest(two, onPlane, &d2));
  FreeKDTree(t);

  // Points a float step apart, two at each step: the float mean rounds onto the largest and
  // parts none of them, the median does, so only a coincident pair shares a leaf; the search
  // still finds the nearest.
  Points steps;
  float v = 1.0f;
  for (int i = 0; i < 50; ++i, v = i % 2 ? v : std::nextafter(v, 2.0f)) steps.add(v, 0, 0);
  t = Create3DTree(steps.x.data(), steps.y.data(), steps.z.data(), steps.n(), 1);
  ASSERT_NE(t, nullptr);
  const KDTreeNode* leaf = LargestLeaf(t->root);
  EXPECT_EQ(leaf->count, 2);
  EXPECT_EQ(steps.x[leaf->indices[0]], steps.x[leaf->indices[leaf->count - 1]]);
  FreeKDTree(t);
  std::mt19937 rng(4);
  ExpectMatchesScan(steps, 1, rng, 1.0 - 1e-5, 1.0 + 1e-5);

  // No point: every query answers -1, and the set query refuses without writing.
  t = Create3DTree(nullptr, nullptr, nullptr, 0, 10);
  ASSERT_NE(t, nullptr);
  SearchKDTreeNearest(t, q, &found);
  EXPECT_EQ(found, -1);
  const float qx = 1, qy = 2, qz = 3;
  float ox = 9, oy = 9, oz = 9;
  EXPECT_EQ(ClosestPntSet3DTree(&qx, &qy, &qz, 1, t, &ox, &oy, &oz), -2);
  EXPECT_EQ(ox, 9.0f);
  FreeKDTree(t);
  EXPECT_EQ(Create3DTree(nullptr, nullptr, nullptr, -1, 10), nullptr);
  EXPECT_EQ(Create3DTree(few.x.data(), nullptr, few.z.data(), few.n(), 10), nullptr);
  EXPECT_EQ(NewBuildKDTree(nullptr, 3, 5, 1), nullptr);
}

TEST_F(KdTree, SkewedPointsMakeUnbalancedTreesThatStillAnswerExactly) {
  // Growing gaps put each mean split near the far end: a lopsided, deep tree.
  Points chain;
  double v = 1.0;
  for (int i = 0; i < 120; ++i, v *= 1.4) chain.add(float(v), 0, 0);
  KDTree* t = Create3DTree(chain.x.data(), chain.y.data(), chain.z.data(), chain.n(), 0);
  ASSERT_NE(t, nullptr);
  int depth = 0;
  for (const KDTreeNode* n = t->root; n->left || n->right; n = n->left) ++depth;
  EXPECT_GT(depth, 12);
  for (int i = 0; i < chain.n(); i += 7) {
    const double q[3] = {chain.x[i] * 1.01, 0.5, 0};
    int found = -1;
    double d2;
    SearchKDTreeNearest(t, q, &found);
    EXPECT_EQ(found, BruteNearest(chain, q, &d2));
  }
  FreeKDTree(t);
}

int Depth(const KDTreeNode* node) {
  return node->axis < 0 ? 0 : 1 + std::max(Depth(node->left), Depth(node->right));
}

// Floats from random bits (magnitudes spread evenly from 1e-38 to 3e38, the odd NaN and
// infinity, as a file read in the wrong layout gives them), and a grid with ten points near
// 1e38: a mean split sits among the few largest or overflows the float sums, and a tree of such
// splits was as deep as it had points (every query read a leaf of all of them). The median splits
// there: shallow trees, answers as the scan's.
TEST_F(KdTree, PointsSpreadOverEveryMagnitudeMakeShallowTreesThatAnswerExactly) {
  std::mt19937 rng(70);
  auto bits = [&] {
    const uint32_t b = rng();
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
  };
  Points garbage, grid;
  for (int i = 0; i < 3000; ++i) garbage.add(bits(), bits(), bits());
  for (int i = 0; i < 3000; ++i) grid.add(float(i % 60), float(i / 60), 0.5f * float(i % 7));
  for (int k = 0; k < 10; ++k) grid.x[k * 297] = (k % 2 ? 1.0f : -1.0f) * 1e38f, grid.y[k * 297] = 3e37f * k;
  for (const Points* p : {&garbage, &grid}) {
    KDTree* t = Create3DTree(p->x.data(), p->y.data(), p->z.data(), p->n(), 8);
    ASSERT_NE(t, nullptr);
    EXPECT_LT(Depth(t->root), 40);
    EXPECT_LE(LargestLeaf(t->root)->count, 8);  // the points are distinct: every leaf within the bucket
    for (int k = 0; k < 200; ++k) {
      const int i = int(rng() % p->n());
      double q[3] = {p->x[i], p->y[i], p->z[i]};
      if (k % 2) q[0] = bits(), q[1] = bits(), q[2] = bits();
      if (!std::isfinite(q[0] + q[1] + q[2])) continue;
      // Squared distances here pass 3.37e38, the scan's usual start.
      auto dist2 = [&](int j) {
        const double dx = p->x[j] - q[0], dy = p->y[j] - q[1], dz = p->z[j] - q[2];
        return dx * dx + dy * dy + dz * dz;
      };
      double d2 = INFINITY;
      for (int j = 0; j < p->n(); ++j) d2 = std::min(d2, dist2(j));  // NaN never wins
      int found = -2;
      ASSERT_EQ(SearchKDTreeNearest(t, q, &found), 0);
      ASSERT_GE(found, 0);
      EXPECT_EQ(dist2(found), d2);
    }
    FreeKDTree(t);
  }
}

TEST_F(KdTree, SetQueryWritesNearestCoordinatesAndFailedBuildsLeakNothing) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> u(0, 1);
  Points p, q;
  for (int i = 0; i < 500; ++i) p.add(u(rng), u(rng), u(rng));
  for (int i = 0; i < 50; ++i) q.add(u(rng), u(rng), u(rng));
  KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), 8);
  std::vector<float> ox(50), oy(50), oz(50);
  ASSERT_EQ(ClosestPntSet3DTree(q.x.data(), q.y.data(), q.z.data(), 50, t, ox.data(), oy.data(), oz.data()), 0);
  for (int i = 0; i < 50; ++i) {
    const double qq[3] = {q.x[i], q.y[i], q.z[i]};
    double d2;
    const int k = BruteNearest(p, qq, &d2);
    EXPECT_EQ(ox[i], p.x[k]);
    EXPECT_EQ(oy[i], p.y[k]);
    EXPECT_EQ(oz[i], p.z[k]);
  }
  FreeKDTree(t);

  const int failures = RunWithInjectedFailures(400, 3, [&] {
    KDTree* tree = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), 8);
    if (!tree) return -2;
    FreeKDTree(tree);
    return 0;
  });
  EXPECT_GT(failures, 0);
  // A tree made inside a scope survives the scope's release.
  BeginTrackingMallocs();
  t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), 8);
  FreeTrackedMallocs();
  ASSERT_NE(t, nullptr);
  int found;
  const double qq[3] = {0.5, 0.5, 0.5};
  SearchKDTreeNearest(t, qq, &found);
  EXPECT_GE(found, 0);
  FreeKDTree(t);
}


// The documented search on the node tree, recursive: near side first, the far side only when its
// plane is nearer than the best so far, ties to the point met first. The fast query must give
// the same index, ties included.
void RecursiveNearest(const KDTree* t, const KDTreeNode* node, const double q[3], int* best, double* d2) {
  if (!node->left) {
    for (int i = 0; i < node->count; ++i) {
      const int k = node->indices[i];
      const double dx = t->coords[0][k] - q[0], dy = t->coords[1][k] - q[1], dz = t->coords[2][k] - q[2];
      const double d = dx * dx + dy * dy + dz * dz;
      if (d < *d2) *d2 = d, *best = k;
    }
    return;
  }
  const double delta = q[node->axis] - node->split;
  RecursiveNearest(t, delta > 0.0 ? node->right : node->left, q, best, d2);
  if (delta * delta < *d2) RecursiveNearest(t, delta > 0.0 ? node->left : node->right, q, best, d2);
}

// Seeded sets the fast query must answer exactly: uniform, tight clusters of very different
// spreads, and a duplicate-heavy set (every point repeated, many on a coarse grid, so that exact
// distance ties between leaves are common).
std::vector<Points> QuerySets() {
  std::mt19937 rng(29);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::normal_distribution<float> g(0.0f, 1.0f);
  Points uniform, clustered, duplicates;
  for (int i = 0; i < 3000; ++i) uniform.add(u(rng), u(rng), u(rng));
  float c[12][4];
  for (auto& k : c) k[0] = u(rng), k[1] = u(rng), k[2] = u(rng), k[3] = 0.0005f + 0.05f * u(rng) * u(rng);
  for (int i = 0; i < 3000; ++i) {
    const float* k = c[rng() % 12];
    clustered.add(k[0] + k[3] * g(rng), k[1] + k[3] * g(rng), k[2] + k[3] * g(rng));
  }
  for (int i = 0; i < 1000; ++i) {
    const float a = float(rng() % 8) * 0.125f, b = float(rng() % 8) * 0.125f, h = float(rng() % 3) * 0.25f;
    for (int r = 0; r < 1 + int(rng() % 3); ++r) duplicates.add(a, b, h);
  }
  return {uniform, clustered, duplicates};
}

TEST_F(KdTree, NearestEqualsTheRecursiveSearchIndexIncluded) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> u(-0.2, 1.2);
  for (const Points& p : QuerySets())
    for (int bucket : {1, 8, 16}) {
      KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), bucket);
      ASSERT_NE(t, nullptr);
      for (int k = 0; k < 400; ++k) {
        double q[3] = {u(rng), u(rng), u(rng)};
        if (k % 4 == 0) {  // on the grid's planes and points: exact ties
          q[0] = double(rng() % 9) * 0.0625, q[1] = double(rng() % 9) * 0.0625, q[2] = double(rng() % 5) * 0.125;
        } else if (k % 4 == 1) {  // on a tree point
          const int i = int(rng() % p.n());
          q[0] = p.x[i], q[1] = p.y[i], q[2] = p.z[i];
        }
        int expect = -1;
        double d2 = 3.37e38;
        RecursiveNearest(t, t->root, q, &expect, &d2);
        double scan;
        BruteNearest(p, q, &scan);
        ASSERT_EQ(d2, scan);
        int found = -2;
        SearchKDTreeNearest(t, q, &found);
        ASSERT_EQ(found, expect) << bucket << " " << k;
        ASSERT_EQ(t->bestDist, d2);
      }
      FreeKDTree(t);
    }
}

TEST_F(KdTree, AQueryThatIsNotANumberFindsNoPoint) {
  Points p;
  p.add(0, 0, 0), p.add(1, 0, 0);
  KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), 1);
  const double nanQuery[3] = {std::nan(""), 0, 0};
  int found = 5;
  SearchKDTreeNearest(t, nanQuery, &found);
  EXPECT_EQ(found, -1);
  FreeKDTree(t);
}

// Walks the nodes: every point lies on its side of each split above it, leaves hold at most
// `bucket` ascending indices (more only where no split parts them: for these well-spread points,
// coincident ones), and together they name every point exactly once.
void CheckNodes(const KDTreeNode* node, const float** coords, int dim, int bucket, std::vector<int>& seen,
                std::vector<const KDTreeNode*>& path, std::vector<bool>& wentLeft) {
  ASSERT_NE(node, nullptr);
  if (node->axis < 0) {
    for (int k = 0; k < node->count; ++k) {
      const int i = node->indices[k];
      if (k > 0) {
        EXPECT_LT(node->indices[k - 1], i);
      }
      if (node->count > bucket) {
        for (int d = 0; d < dim; ++d) EXPECT_EQ(coords[d][i], coords[d][node->indices[0]]);
      }
      ++seen[i];
      for (size_t d = 0; d < path.size(); ++d) {
        const double c = coords[path[d]->axis][i];
        if (wentLeft[d])
          EXPECT_LE(c, path[d]->split);
        else
          EXPECT_GT(c, path[d]->split);
      }
    }
    return;
  }
  ASSERT_LT(node->axis, dim);
  path.push_back(node);
  for (bool left : {true, false}) {
    wentLeft.push_back(left);
    CheckNodes(left ? node->left : node->right, coords, dim, bucket, seen, path, wentLeft);
    wentLeft.pop_back();
  }
  path.pop_back();
}

TEST_F(KdTree, NodesPartitionThePointsBySplitsInTwoAndThreeDimensions) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-5.0f, 5.0f);
  for (int dim : {2, 3})
    for (int n : {0, 1, 7, 200})
      for (int bucket : {1, 4, 16}) {
        std::vector<float> c[3];
        for (auto& a : c)
          for (int i = 0; i < n; ++i) a.push_back(i % 5 == 0 ? 1.0f : u(rng));  // with repeats
        const float* coords[3] = {c[0].data(), c[1].data(), c[2].data()};
        KDTreeNode* root = BuildKDTree(coords, dim, n, bucket);
        ASSERT_NE(root, nullptr);
        std::vector<int> seen(n, 0);
        std::vector<const KDTreeNode*> path;
        std::vector<bool> wentLeft;
        CheckNodes(root, coords, dim, bucket, seen, path, wentLeft);
        for (int i = 0; i < n; ++i) EXPECT_EQ(seen[i], 1) << dim << " " << n << " " << bucket << " " << i;
        FreeKDTreeNode(root);
      }
  EXPECT_EQ(BuildKDTree(nullptr, 3, 4, 2), nullptr);
}

// Whether two node trees have the same shape: splits, leaves and each leaf's indices in order.
bool SameNodes(const KDTreeNode* a, const KDTreeNode* b) {
  if (a->axis != b->axis || a->split != b->split || a->count != b->count) return false;
  if (a->axis < 0) return std::equal(a->indices, a->indices + a->count, b->indices);
  return SameNodes(a->left, b->left) && SameNodes(a->right, b->right);
}

// The search tree's node tree (made in two blocks) is the one the documented build makes, on
// clustered points with repeats and exact ties, for leaves of 0 to 40 points; and every allocation
// refused in turn fails cleanly.
TEST_F(KdTree, SearchTreeHasTheShapeOfTheDocumentedBuild) {
  std::mt19937 rng(5);
  std::normal_distribution<float> g(0.0f, 1.0f);
  Points p;
  for (int i = 0; i < 3000; ++i) {
    const float s = i % 3 == 0 ? 0.001f : 10.0f;
    if (i % 7 == 0)
      p.add(1.0f, 2.0f, float(i % 4));
    else
      p.add(s * g(rng) + float(i % 5) * 20.0f, s * g(rng), s * g(rng));
  }
  const float* coords[3] = {p.x.data(), p.y.data(), p.z.data()};
  for (int n : {0, 1, 2, 100, 3000})
    for (int bucket : {0, 1, 2, 10, 40}) {
      KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), n, bucket);
      KDTreeNode* plain = NewBuildKDTree(coords, 3, n, bucket);
      ASSERT_NE(t, nullptr);
      ASSERT_NE(plain, nullptr);
      EXPECT_TRUE(SameNodes(t->root, plain)) << n << " " << bucket;
      FreeKDTree(t);
      FreeKDTreeNode(plain);
    }
  const int failed = RunWithInjectedFailures(14, 1, [&] {
    KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), 500, 1);
    if (!t) {
      EXPECT_TRUE(KernelFailed());
      return 1;
    }
    FreeKDTree(t);
    return 0;
  });
  EXPECT_GT(failed, 8);
}

}  // namespace
