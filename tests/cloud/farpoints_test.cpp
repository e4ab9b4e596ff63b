// Neighbour searches where a few points lie orders of magnitude beyond the rest (garbage records
// near 1e38 beside a scan) or the points spread over every magnitude a float holds: the balanced
// tree finds what brute force finds, and the cloud tools give a scan the answers it gets alone.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/poffset.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/cloudrec.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "quadric/pinspect.h"
#include "quadric/premove.h"
#include "quadric/sphere.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FarPoints : public KernelTest {};

struct Pts {
  std::vector<float> x, y, z;
  void Add(double a, double b, double c) { x.push_back(float(a)), y.push_back(float(b)), z.push_back(float(c)); }
  int n() const { return int(x.size()); }
};

// Floats from random bits: magnitudes spread evenly over 1e-38..3e38, with the odd NaN and
// infinity, as a file read in the wrong layout gives them.
float Bits(std::mt19937& rng) {
  const uint32_t b = rng();
  float f;
  std::memcpy(&f, &b, sizeof f);
  return f;
}

double Dist2(const Pts& p, int j, const double q[3]) {
  const double d[3] = {q[0] - p.x[j], q[1] - p.y[j], q[2] - p.z[j]};
  return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
}

// Every radius query and every eight-nearest query the tree answers is brute force's answer:
// over random-bit garbage, over a heap of coincident points, and over a small sheet far from
// the origin beside points near the float range.
TEST_F(FarPoints, TreeFindsWhatBruteForceFinds) {
  std::mt19937 rng(70);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  std::vector<Pts> sets(3);
  for (int i = 0; i < 1500; ++i) sets[0].Add(Bits(rng), Bits(rng), Bits(rng));
  for (int i = 0; i < 700; ++i) i < 600 ? sets[1].Add(2.5, -1.0, 7.0) : sets[1].Add(U(rng), U(rng), U(rng));
  const double s = 1e-6, o = 1e4 * s;
  for (int i = 0; i < 900; ++i) sets[2].Add(o + s * U(rng), o + s * U(rng), o + 0.1 * s * U(rng));
  for (double big : {3e38, -3e38, 1e30}) sets[2].Add(big, o, -big);
  for (const Pts& p : sets) {
    NearTree* tree = BuildNearTree(p.x.data(), p.y.data(), p.z.data(), p.n());
    ASSERT_NE(tree, nullptr);
    int finite = 0;
    for (int j = 0; j < p.n(); ++j) finite += std::isfinite(p.x[j] + p.y[j] + p.z[j]);
    EXPECT_EQ(tree->count, finite);
    for (int k = 0; k < 150; ++k) {
      const int at = int(rng() % p.n());
      const double q[3] = {p.x[at], p.y[at], p.z[at]};
      if (!std::isfinite(q[0] + q[1] + q[2])) continue;
      std::vector<double> all;
      for (int j = 0; j < p.n(); ++j)
        if (std::isfinite(p.x[j] + p.y[j] + p.z[j])) all.push_back(Dist2(p, j, q));
      std::sort(all.begin(), all.end());
      // Radius: the 20th distance, so that the set is neither empty nor everything.
      const double r2 = all[std::min<size_t>(20, all.size() - 1)];
      std::vector<int> want, got;
      for (int j = 0; j < p.n(); ++j)
        if (std::isfinite(p.x[j] + p.y[j] + p.z[j]) && Dist2(p, j, q) <= r2) want.push_back(j);
      SearchNearTree(*tree, q, [r2] { return r2; }, [&](int j, double d2) {
        EXPECT_EQ(d2, Dist2(p, j, q));
        if (d2 <= r2) got.push_back(j);
      });
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, want);
      // Eight nearest, the bound narrowing as the list fills.
      std::vector<double> best;
      SearchNearTree(*tree, q, [&] { return best.size() == 8 ? best.back() : INFINITY; }, [&](int, double d2) {
        if (best.size() == 8 && d2 >= best.back()) return;
        if (best.size() == 8) best.pop_back();
        best.insert(std::upper_bound(best.begin(), best.end(), d2), d2);
      });
      EXPECT_EQ(best, std::vector<double>(all.begin(), all.begin() + 8));
    }
    FreeNearTree(tree);
  }
  EXPECT_EQ(MallocTrackLevel(), 0);
}

// The tree over boxes answers the three questions the mesh searches ask of it as brute force
// does: which boxes hold a point, the least distance of a point from a box (the bound narrowing
// as it goes), and every box within a ball; over small boxes of size s 1e4 sizes from the
// origin beside boxes reaching to the float range, boxes with bounds that are not finite (left
// out) and a heap of one box repeated.
TEST_F(FarPoints, BoxTreeFindsWhatBruteForceFinds) {
  std::mt19937 rng(71);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (double s : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(s);
    const double o = 1e4 * s;
    std::vector<double> boxes;
    auto add = [&](double x0, double y0, double z0, double x1, double y1, double z1) {
      for (double v : {x0, y0, z0, x1, y1, z1}) boxes.push_back(v);
    };
    for (int i = 0; i < 2500; ++i) {
      const double c[3] = {o + s * U(rng), o + s * U(rng), o + 0.1 * s * U(rng)}, e = 0.02 * s * U(rng);
      add(c[0] - e, c[1] - e, c[2], c[0] + e, c[1] + 2 * e, c[2] + e);
    }
    for (int i = 0; i < 300; ++i) add(o + 0.3 * s, o + 0.6 * s, o, o + 0.31 * s, o + 0.61 * s, o);
    add(o, o, o, 3e38, o + s, 3e38);
    add(-3e38, o + 0.5 * s, -1e30, o + 0.5 * s, o + 0.5 * s, 1e30);
    add(-3e38, -3e38, -3e38, -2e38, -2e38, -2e38);
    add(o, o, o, INFINITY, o, o);
    add(o, NAN, o, o + s, o + s, o + s);
    const int n = int(boxes.size() / 6);
    auto finite = [&](int i) {
      for (int a = 0; a < 6; ++a)
        if (!std::isfinite(boxes[6 * i + a])) return false;
      return true;
    };
    TrackingScope scope;
    NearTree* tree = BuildBoxTree(boxes.data(), n);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->count, n - 2);
    for (int k = 0; k < 200; ++k) {
      const double q[3] = {o + s * (1.2 * U(rng) - 0.1), o + s * (1.2 * U(rng) - 0.1), o + s * (0.2 * U(rng) - 0.05)};
      std::vector<int> holding, within, got;
      double least = INFINITY;
      const double r = 0.05 * s, c[3] = {q[0], q[1], q[2]};
      for (int i = 0; i < n; ++i) {
        if (!finite(i)) continue;
        const double g = NearBoxGap2(&boxes[6 * i], q);
        if (g == 0) holding.push_back(i);
        if (g <= r * r) within.push_back(i);
        least = std::min(least, g);
      }
      SearchNearTree(*tree, q, [] { return 0.0; }, [&](int i, double) {
        if (NearBoxGap2(&boxes[6 * i], q) == 0) got.push_back(i);
      });
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, holding);
      double best = INFINITY;
      SearchNearTree(*tree, q, [&] { return best; }, [&](int i, double) {
        best = std::min(best, NearBoxGap2(&boxes[6 * i], q));
      });
      EXPECT_EQ(best, least);
      got.clear();
      SearchNearTree(*tree, c, [r] { return r * r; }, [&](int i, double) {
        if (NearBoxGap2(&boxes[6 * i], c) <= r * r) got.push_back(i);
      });
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, within);
    }
  }
  EXPECT_EQ(MallocTrackLevel(), 0);
}

// A wavy sheet of m x m jittered points of size s, 1e4 sizes from the origin; and the same with
// garbage records spread through it: lone points near the float range and a pair at 1e30.
Pts Sheet(int m, double s) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> J(-0.3, 0.3);
  Pts p;
  const double o = 1e4 * s;
  for (int k = 0; k < m * m; ++k) {
    const double u = k % m + J(rng), v = k / m + J(rng);
    p.Add(o + u * s / m, o - v * s / m, o + 0.02 * s * std::sin(u / 7) * std::cos(v / 5));
  }
  return p;
}
const double kGarbage[][3] = {{3e38, 0, 0}, {-3e38, 1e37, 0}, {0, 3e38, -2e38}, {1e30, 1e30, 1e30},
                              {1e30, 1e30, 1e30}, {-2e20, 5e25, 1e15}, {3e38, 3e38, 3e38}};
constexpr int kLone = 5;  // the garbage records with no neighbour at any scan-sized distance
Pts WithGarbage(const Pts& sheet, std::vector<int>* where) {
  Pts p;
  const int every = sheet.n() / 7;
  for (int i = 0, g = 0; i < sheet.n(); ++i) {
    if (i % every == every / 2 && g < 7) {
      where->push_back(p.n());
      p.Add(kGarbage[g][0], kGarbage[g][1], kGarbage[g][2]);
      ++g;
    }
    p.Add(sheet.x[i], sheet.y[i], sheet.z[i]);
  }
  return p;
}

using Owner = Owned<Cloud, FreeCloud>;
Cloud* CloudOf(const Pts& p) { return MakeCld(p.x.data(), p.y.data(), p.z.data(), p.n(), nullptr); }

// Garbage that puts the whole sheet into one cell of a grid over its extent changes nothing of
// what the sheet's points get: the same survivors of outlier removal (the lone records go), the
// same normals and offset flags up to one sign, one component holding the sheet.
TEST_F(FarPoints, GarbageFarAwayLeavesTheScansAnswersAlone) {
  const int m = 48;  // more points than one crowded neighbourhood may hold for a grid search
  for (double s : {1e-3, 1e3}) {
    const Pts sheet = Sheet(m, s);
    std::vector<int> where;
    const Pts mixed = WithGarbage(sheet, &where);
    auto isSheet = [&](int i) { return std::find(where.begin(), where.end(), i) == where.end(); };
    const double r = 2.5 * s / m, tol = 0.01 * s / m;

    Owner a(CloudOf(sheet)), b(CloudOf(mixed));
    ASSERT_EQ(OutlierRemove(a.get(), r, tol, 0), 1);
    ASSERT_EQ(OutlierRemove(b.get(), r, tol, 0), 1);
    ASSERT_EQ(b->npts, a->npts + 7 - kLone) << s;
    for (int i = 0, j = 0; i < a->npts; ++i, ++j) {
      while (!std::isfinite(b->x[j]) || std::fabs(b->x[j]) > 1e20) ++j;
      ASSERT_TRUE(a->x[i] == b->x[j] && a->y[i] == b->y[j] && a->z[i] == b->z[j]) << s << " " << i;
    }

    a.reset(CloudOf(sheet)), b.reset(CloudOf(mixed));
    const int n = sheet.n();
    std::vector<float> na(3 * n), nb(3 * mixed.n());
    ASSERT_EQ(ComputeCloud3DNormals(a.get(), &na[0], &na[n], &na[2 * n], nullptr), 1);
    const int M = mixed.n();
    ASSERT_EQ(ComputeCloud3DNormals(b.get(), &nb[0], &nb[M], &nb[2 * M], nullptr), 1);
    // Among the garbage the sheet is searched with a tree bounded like the grid's cells around
    // a point, not with the grid's own cells: the same neighbours but here and there one at the
    // bound, a normal turned by a degree or two, none by more than 5; all facing one way.
    int both = 0, up = 0, down = 0, same = 0;
    for (int i = 0, j = 0; j < M; ++j) {
      if (!isSheet(j)) continue;
      const double va[3] = {na[i], na[n + i], na[2 * n + i]}, vb[3] = {nb[j], nb[M + j], nb[2 * M + j]};
      ++i;
      if ((va[0] == 0 && va[1] == 0 && va[2] == 0) || (vb[0] == 0 && vb[1] == 0 && vb[2] == 0)) continue;
      ++both;
      const double dot = va[0] * vb[0] + va[1] * vb[1] + va[2] * vb[2];
      up += dot > std::cos(5 * M_PI / 180), down += dot < -std::cos(5 * M_PI / 180);
      same += va[0] == vb[0] && va[1] == vb[1] && va[2] == vb[2];
    }
    EXPECT_GT(both, n * 9 / 10) << s;
    EXPECT_EQ(std::max(up, down), both) << s;
    EXPECT_GT(same, both * 9 / 10) << s;

    Cloud** parts = nullptr;
    int count = 0;
    ASSERT_EQ(CloudConnectivityBreak(b.get(), r, &parts, &count), 1);
    EXPECT_EQ(count, 1 + kLone + 1) << s;  // the sheet, the lone records, the pair
    if (count > 0) {
      EXPECT_EQ(parts[0]->npts, n) << s;
    }
    for (int k = 0; k < count; ++k) FreeCloud(parts[k]);
    Free(parts);

    // Nearest points of the sheet moved by a fraction of its spacing: the same as without the
    // garbage (indices shifted past the records), each within reach.
    {
      Pts moved = sheet;
      for (float& v : moved.z) v += float(0.3 * s / m);
      Owner q(CloudOf(moved));
      std::vector<int> ia(n), ib(n);
      int ha = 0, hb = 0;
      double boxA[6], boxB[6];
      ComputeCloudBbox(a.get(), boxA), ComputeCloudBbox(b.get(), boxB);
      ASSERT_EQ(CloudCloudDiffIndex(a.get(), q.get(), r, ia.data(), &ha, boxA), 0);
      ASSERT_EQ(CloudCloudDiffIndex(b.get(), q.get(), r, ib.data(), &hb, boxB), 0);
      EXPECT_EQ(ha, n) << s;
      EXPECT_EQ(hb, ha) << s;
      std::vector<int> sheetIndex;  // mixed index of each sheet point
      for (int j = 0; j < M; ++j)
        if (isSheet(j)) sheetIndex.push_back(j);
      int same = 0;
      for (int k = 0; k < n; ++k) same += ia[k] >= 0 && ib[k] == sheetIndex[ia[k]];
      EXPECT_EQ(same, n) << s;
    }

    // Completion: every point of the sheet gets a normal across the sheet, all one way.
    b.reset(CloudOf(mixed));
    AssureCloudNormals(b.get());
    ASSERT_NE(b->nx, nullptr);
    up = down = 0;
    for (int j = 0; j < M; ++j) {
      if (!isSheet(j)) continue;
      up += b->nz[j] > 0.9f, down += b->nz[j] < -0.9f;
    }
    EXPECT_EQ(std::max(up, down), n) << s;
  }
  EXPECT_EQ(MallocTrackLevel(), 0);
}

// Removal by its documented steps, brute force: neighbours within radius in index order; none:
// dropped; 1 to 3: kept; else the fitted plane, or in sphere mode, unless more than half of them
// lie within 1e-6 radius of their coordinate-wise median (a heap: kept), the fitted sphere
// decides (a failed fit keeps).
std::vector<char> KeepByBruteForce(const Pts& p, double radius, double tol, bool sphere) {
  std::vector<char> keep(p.n());
  for (int i = 0; i < p.n(); ++i) {
    const double q[3] = {p.x[i], p.y[i], p.z[i]};
    std::vector<float> nx, ny, nz;
    for (int j = 0; j < p.n(); ++j)
      if (j != i && Dist2(p, j, q) <= radius * radius) nx.push_back(p.x[j]), ny.push_back(p.y[j]), nz.push_back(p.z[j]);
    const int m = int(nx.size());
    keep[i] = m > 0;
    if (m < 4) continue;
    if (!sphere) {
      PlaneEq plane;
      if (!PlaneFit(nx.data(), ny.data(), nz.data(), m, plane)) continue;
      double foot[3], d2;
      PlaneMinDistSq(q, plane[0], plane[1], plane[2], plane[3], foot, &d2);
      keep[i] = d2 <= tol * tol;
      continue;
    }
    double median[3];
    for (const auto& [a, k] : {std::pair{&nx, 0}, std::pair{&ny, 1}, std::pair{&nz, 2}}) {
      std::vector<float> v = *a;
      std::nth_element(v.begin(), v.begin() + m / 2, v.end());
      median[k] = v[m / 2];
    }
    int heap = 0;
    for (int k = 0; k < m; ++k) {
      const double d[3] = {nx[k] - median[0], ny[k] - median[1], nz[k] - median[2]};
      heap += d[0] * d[0] + d[1] * d[1] + d[2] * d[2] <= (1e-6 * radius) * (1e-6 * radius);
    }
    if (2 * heap > m) continue;
    double centre[3], r, err;
    if (FitSphere(nx.data(), ny.data(), nz.data(), m, centre, &r, &err) != 0) continue;
    const double d[3] = {q[0] - centre[0], q[1] - centre[1], q[2] - centre[2]};
    keep[i] = std::fabs(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) - r) <= tol;
  }
  return keep;
}

// A scan of a sphere with points pushed off it, beside a file's worth of garbage: thousands of
// records of tiny values (a heap at the origin, which the fits would each spend thousands of
// points on), lone records near 1e30. At 1e-6 and 1e6, the scan 1e4 sizes from the origin, the
// removal keeps exactly what its steps keep: the scan's answers are the fits', the heap stays,
// the lone records go. Plane mode fits the heap's points too (their thousands of neighbours put
// in the cloud's order by marks, not by a sort): again exactly the steps' answers.
TEST_F(FarPoints, SphereRemovalKeepsHeapsAndGivesTheScanTheFitsAnswers) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (double s : {1e-6, 1e6}) {
    const double o = 1e4 * s;
    Pts p;
    const int scan = 500;
    for (int i = 0; i < scan; ++i) {
      const double h = 1 - 2 * (i + 0.5) / scan, r = std::sqrt(1 - h * h), a = i * 2.399963229728653;
      const double R = s * (i % 61 == 7 ? 11.0 : 10.0);  // every 61st pushed off by a tenth
      p.Add(o + R * r * std::cos(a), o + R * r * std::sin(a), o + R * h);
      if (i % 5 == 0)
        for (int k = 0; k < 16; ++k) p.Add(1e-20 * U(rng), 1e-25 * U(rng), 0.0);
      if (i % 100 == 50) p.Add(1e30 * (2 + U(rng)), 1e30, 1e30 * (2 + U(rng)));
    }
    const double radius = 6 * s, tol = 0.2 * s;  // about 55 neighbours: more than n / 64
    {
      // The lone records beyond put the scan and the heap into one crowded cell: the tree's path.
      Owned<Cloud, FreeCloud> c(CloudOf(p));
      double box[6];
      ComputeCloudBbox(c.get(), box);
      Owned<Subdiv, FreeSubdiv> grid(
          SubdivideArrays(c->x, c->y, c->z, p.n(), box[0], box[1], box[2], box[3], box[4], box[5], radius, 96));
      ASSERT_GT(grid->cells[grid->ownCell[1]].count, kCrowdedCells);
      ASSERT_EQ(grid->ownCell[1], grid->ownCell[0]);
    }
    const std::vector<char> plane = KeepByBruteForce(p, radius, tol, false);
    Owned<Cloud, FreeCloud> c(CloudOf(p));
    ASSERT_EQ(OutlierRemove(c.get(), radius, tol, 0), 1);
    ASSERT_EQ(c->npts, std::count(plane.begin(), plane.end(), 1)) << s;
    for (int i = 0, j = 0; i < p.n(); ++i)
      if (plane[i]) {
        ASSERT_TRUE(c->x[j] == p.x[i] && c->y[j] == p.y[i] && c->z[j] == p.z[i]) << s << " " << i;
        ++j;
      }
    const std::vector<char> want = KeepByBruteForce(p, radius, tol, true);
    c.reset(CloudOf(p));
    ASSERT_EQ(OutlierRemove(c.get(), radius, tol, 1), 1);
    Pts kept;
    int pushedOff = 0, heap = 0;
    for (int i = 0; i < p.n(); ++i) {
      if (want[i]) kept.Add(p.x[i], p.y[i], p.z[i]);
      const double d = std::hypot(p.x[i] - o, p.y[i] - o, p.z[i] - o);
      pushedOff += !want[i] && std::fabs(d - 11 * s) < 1e-3 * s;
      heap += want[i] && std::fabs(p.x[i]) < 1e-10;
    }
    EXPECT_EQ(pushedOff, 9) << s;  // every one pushed off goes (some of its neighbours too)
    EXPECT_EQ(heap, p.n() - scan - 5) << s;
    ASSERT_EQ(c->npts, kept.n()) << s;
    for (int i = 0; i < kept.n(); ++i)
      ASSERT_TRUE(c->x[i] == kept.x[i] && c->y[i] == kept.y[i] && c->z[i] == kept.z[i]) << s << " " << i;
  }
  EXPECT_EQ(MallocTrackLevel(), 0);
}

}  // namespace
