#include "platform/host/sample_groups.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>

namespace {

constexpr int kDegree = 3;
constexpr double kPi = 3.14159265358979323846;

// Clamped knot vector on [0, 1] for `ctrl` control points of degree p: uniform interior knots,
// or (rng given) distinct random ones, each gap between 0.4 and 1.6 of the uniform one.
std::vector<double> ClampedKnots(int ctrl, int p = kDegree, std::mt19937* rng = nullptr) {
  std::vector<double> k(ctrl + p + 1);
  const int spans = ctrl - p;
  std::vector<double> cut(spans + 1, 0.0);
  for (int i = 1; i <= spans; ++i)
    cut[i] = cut[i - 1] + (rng ? std::uniform_real_distribution<double>(0.4, 1.6)(*rng) : 1.0);
  for (int i = 0; i < static_cast<int>(k.size()); ++i) k[i] = cut[std::clamp(i - p, 0, spans)] / cut[spans];
  return k;
}

// Greville abscissa of control point i: where the point has most influence. For a non-rational
// patch x = Greville(u) is then exactly linear in the parameter.
double Greville(const std::vector<double>& k, int p, int i) {
  double s = 0;
  for (int j = 1; j <= p; ++j) s += k[i + j];
  return s / p;
}

using Height = std::function<double(double, double)>;
using PointMap = std::function<void(double p[3])>;

struct PatchSpec {
  std::string name;
  double x0, x1, y0, y1;
  int cu, cv;
  Height height;
  PointMap map;         // applied to every control point after sampling (may be empty)
  bool reverseU = false;
  int pu = kDegree, pv = kDegree;
  std::vector<double> knotsU = {}, knotsV = {};  // full clamped vectors (empty: uniform)
  bool swapUV = false;  // the host holds the patch with u and v exchanged
};

int AddPatch(const PatchSpec& desc) {
  std::vector<double> ku = desc.knotsU.empty() ? ClampedKnots(desc.cu, desc.pu) : desc.knotsU;
  std::vector<double> kv = desc.knotsV.empty() ? ClampedKnots(desc.cv, desc.pv) : desc.knotsV;
  // Points of the net in the patch's own (u, v), u fastest.
  std::vector<double> net(3 * static_cast<size_t>(desc.cu) * desc.cv);
  for (int j = 0; j < desc.cv; ++j) {
    for (int i = 0; i < desc.cu; ++i) {
      // Reversed, point i sits where point cu-1-i of the forward patch would.
      const double gu = Greville(ku, desc.pu, desc.reverseU ? desc.cu - 1 - i : i);
      double p[3] = {desc.x0 + gu * (desc.x1 - desc.x0), desc.y0 + Greville(kv, desc.pv, j) * (desc.y1 - desc.y0), 0};
      p[2] = desc.height(p[0], p[1]);
      if (desc.map) desc.map(p);
      std::copy(p, p + 3, &net[3 * (static_cast<size_t>(j) * desc.cu + i)]);
    }
  }
  if (desc.reverseU) {  // a reversed direction runs over the mirrored knots
    std::vector<double> r(ku.size());
    for (size_t i = 0; i < ku.size(); ++i) r[i] = 1.0 - ku[ku.size() - 1 - i];
    ku = r;
  }
  SAAStubSurface s;
  s.name = desc.name;
  s.degreeU = desc.swapUV ? desc.pv : desc.pu;
  s.degreeV = desc.swapUV ? desc.pu : desc.pv;
  s.countU = desc.swapUV ? desc.cv : desc.cu;
  s.countV = desc.swapUV ? desc.cu : desc.cv;
  const std::vector<double>& hu = desc.swapUV ? kv : ku;
  const std::vector<double>& hv = desc.swapUV ? ku : kv;
  s.knotsU.assign(hu.begin() + 1, hu.end() - 1);  // the host drops the outermost knot at each end
  s.knotsV.assign(hv.begin() + 1, hv.end() - 1);
  s.vertices.resize(4 * static_cast<size_t>(desc.cu) * desc.cv);
  for (int j = 0; j < s.countV; ++j) {
    for (int i = 0; i < s.countU; ++i) {
      const int ou = desc.swapUV ? j : i, ov = desc.swapUV ? i : j;
      const double* p = &net[3 * (static_cast<size_t>(ov) * desc.cu + ou)];
      double* v = &s.vertices[4 * (static_cast<size_t>(j) * s.countU + i)];
      std::copy(p, p + 3, v);
      v[3] = 1.0;
    }
  }
  return SAAStubAddSurface(s);
}

void MoveVertex(int element, int i, int j, const double d[3]) {
  SAAStubSurface& s = SAAStubSurfaceAt(element);
  double* v = &s.vertices[4 * (static_cast<size_t>(j) * s.countU + i)];
  for (int k = 0; k < 3; ++k) v[k] += d[k];
}

int FindSpan(const std::vector<double>& k, int p, int c, double t) {
  if (t >= k[c]) return c - 1;
  int lo = p, hi = c;
  while (hi - lo > 1) {
    int mid = (lo + hi) / 2;
    (t < k[mid] ? hi : lo) = mid;
  }
  return lo;
}

// de Boor's algorithm on one coordinate triple array with stride.
void DeBoor(const std::vector<double>& k, int p, int c, double t, const double* pts, int stride, double out[3]) {
  int span = FindSpan(k, p, c, t);
  double d[16][3];
  for (int j = 0; j <= p; ++j)
    for (int m = 0; m < 3; ++m) d[j][m] = pts[(span - p + j) * stride + m];
  for (int r = 1; r <= p; ++r) {
    for (int j = p; j >= r; --j) {
      int i = span - p + j;
      double denom = k[i + p - r + 1] - k[i];
      double a = denom > 0 ? (t - k[i]) / denom : 0.0;
      for (int m = 0; m < 3; ++m) d[j][m] = (1 - a) * d[j - 1][m] + a * d[j][m];
    }
  }
  for (int m = 0; m < 3; ++m) out[m] = d[p][m];
}

double Angle(const double a[3], const double b[3]) {
  double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
  if (la == 0 || lb == 0) return 0;
  double c = std::fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / (la * lb);
  return std::acos(std::min(1.0, c)) * 180.0 / kPi;  // folded: opposite normals count as parallel
}

// (u, v) of parameter t along a side of the domain, each side running in increasing parameter.
void SideParams(const HostSurfaceView& s, int side, double t, double* u, double* v) {
  double u0 = s.knotsU[s.pu], u1 = s.knotsU[s.cu], v0 = s.knotsV[s.pv], v1 = s.knotsV[s.cv];
  switch (side) {
    case 1: *u = u0; *v = v0 + t * (v1 - v0); break;
    case 2: *u = u0 + t * (u1 - u0); *v = v0; break;
    case 3: *u = u1; *v = v0 + t * (v1 - v0); break;
    default: *u = u0 + t * (u1 - u0); *v = v1; break;
  }
}

double Dist(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

double Smooth(double x, double y) { return 0.2 * std::sin(1.1 * x) * std::cos(0.8 * y) + 0.05 * x * y; }

}  // namespace

SampleGroup BuildTwoPatchGroup(double gap, double kinkDegrees, bool reverseSecond, int ctrl) {
  SampleGroup g;
  g.name = "two patches";
  auto height = [](double x, double y) { return 0.1 * (x - 1.0) * (1.0 + 0.3 * y) + 0.04 * std::sin(2.0 * y); };
  const double a = kinkDegrees * kPi / 180.0;
  // The second patch turns about the line x = 1, z = 0 and is lifted by the gap.
  auto turn = [a, gap](double p[3]) {
    double dx = p[0] - 1.0, z = p[2];
    p[0] = 1.0 + dx * std::cos(a) - z * std::sin(a);
    p[2] = dx * std::sin(a) + z * std::cos(a) + gap;
  };
  int e0 = AddPatch({"patchA", 0, 1, 0, 1, ctrl, ctrl, height, nullptr});
  int e1 = AddPatch({"patchB", 1, 2, 0, 1, ctrl, ctrl, height, turn, reverseSecond});
  g.elements = {e0, e1};
  g.seams = {{e0, 3, e1, reverseSecond ? 3 : 1}};
  return g;
}

SampleGroup BuildGridGroup(double perturb, int ctrl) {
  SampleGroup g;
  g.name = "2x2 grid";
  int e[2][2];
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i)
      e[j][i] = AddPatch({"grid" + std::to_string(j) + std::to_string(i), double(i), double(i + 1), double(j),
                          double(j + 1), ctrl, ctrl, Smooth, nullptr});
  // Each patch's copy of the centre corner goes its own way.
  const double d[4][3] = {{1, 0.5, 0.3}, {-0.6, 1, -0.4}, {0.4, -1, 0.8}, {-1, -0.3, -0.6}};
  auto scaled = [perturb](const double* v) {
    std::array<double, 3> r{};
    for (int k = 0; k < 3; ++k) r[k] = v[k] * perturb;
    return r;
  };
  MoveVertex(e[0][0], ctrl - 1, ctrl - 1, scaled(d[0]).data());
  MoveVertex(e[0][1], 0, ctrl - 1, scaled(d[1]).data());
  MoveVertex(e[1][0], ctrl - 1, 0, scaled(d[2]).data());
  MoveVertex(e[1][1], 0, 0, scaled(d[3]).data());
  g.elements = {e[0][0], e[0][1], e[1][0], e[1][1]};
  g.seams = {{e[0][0], 3, e[0][1], 1}, {e[1][0], 3, e[1][1], 1}, {e[0][0], 4, e[1][0], 2}, {e[0][1], 4, e[1][1], 2}};
  return g;
}

SampleGroup BuildTJunctionGroup(double gap) {
  SampleGroup g;
  g.name = "T-junction";
  auto lift = [gap](double p[3]) { p[2] += gap; };
  int base = AddPatch({"long", 0, 2, 0, 1, 8, 5, Smooth, nullptr});
  int left = AddPatch({"shortL", 0, 1, 1, 2, 5, 5, Smooth, lift});
  int right = AddPatch({"shortR", 1, 2, 1, 2, 5, 5, Smooth, lift});
  g.elements = {base, left, right};
  // Measured from the short sides onto the long one, which the junction cuts in two.
  g.seams = {{left, 2, base, 4}, {right, 2, base, 4}};
  return g;
}

namespace {

// Shared seams of an n x n grid of elements e[j * n + i] over unit cells: u runs with x, v with y.
std::vector<SampleSeam> GridSeams(const std::vector<int>& e, int n) {
  std::vector<SampleSeam> seams;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      if (i + 1 < n) seams.push_back({e[j * n + i], 3, e[j * n + i + 1], 1});
      if (j + 1 < n) seams.push_back({e[j * n + i], 4, e[(j + 1) * n + i], 2});
    }
  return seams;
}

// Moves every control point in the boundary rows of the given sides of an element by its own
// random offset within +-jitter per coordinate, so each patch's copy of a shared row differs.
// With jitterZ >= 0, z gets its own range (x and y keep jitter).
void JitterSides(int element, const std::vector<int>& sides, double jitter, std::mt19937& rng,
                 double jitterZ = -1.0) {
  if (jitterZ < 0.0) jitterZ = jitter;
  if (jitter <= 0.0 && jitterZ <= 0.0) return;
  SAAStubSurface& s = SAAStubSurfaceAt(element);
  std::uniform_real_distribution<double> dxy(-jitter, jitter), dz(-jitterZ, jitterZ);
  std::vector<char> hit(static_cast<size_t>(s.countU) * s.countV, 0);
  for (int side : sides)
    for (int j = 0; j < s.countV; ++j)
      for (int i = 0; i < s.countU; ++i)
        if ((side == 1 && i == 0) || (side == 3 && i == s.countU - 1) || (side == 2 && j == 0) ||
            (side == 4 && j == s.countV - 1))
          hit[static_cast<size_t>(j) * s.countU + i] = 1;
  for (size_t k = 0; k < hit.size(); ++k)
    if (hit[k])
      for (int c = 0; c < 3; ++c) s.vertices[4 * k + c] += c == 2 ? dz(rng) : dxy(rng);
}

// JitterSides that draws the offsets in the order of the canonical patch (u fastest in its own
// u, v) when the host holds it with u and v exchanged or u reversed, so the same offsets land
// on the same points.
void JitterRows(int element, const std::vector<int>& sides, double jitter, std::mt19937& rng, bool swapped,
                bool reversed) {
  if (!swapped && !reversed) return JitterSides(element, sides, jitter, rng);
  if (jitter <= 0.0) return;
  SAAStubSurface& s = SAAStubSurfaceAt(element);
  std::uniform_real_distribution<double> d(-jitter, jitter);
  const int cu = swapped ? s.countV : s.countU, cv = swapped ? s.countU : s.countV;  // canonical counts
  auto hostIndex = [&](int i, int j) {
    if (swapped) return static_cast<size_t>(i) * s.countU + j;
    return static_cast<size_t>(j) * s.countU + (cu - 1 - i);
  };
  auto onSide = [&](int i, int j) {  // host side numbers, seen from canonical (i, j)
    const size_t k = hostIndex(i, j);
    const int hi = static_cast<int>(k % s.countU), hj = static_cast<int>(k / s.countU);
    for (int side : sides)
      if ((side == 1 && hi == 0) || (side == 3 && hi == s.countU - 1) || (side == 2 && hj == 0) ||
          (side == 4 && hj == s.countV - 1))
        return true;
    return false;
  };
  for (int j = 0; j < cv; ++j)
    for (int i = 0; i < cu; ++i)
      if (onSide(i, j))
        for (int c = 0; c < 3; ++c) s.vertices[4 * hostIndex(i, j) + c] += d(rng);
}

// The sides of grid cell (i, j) that it shares with a neighbour.
std::vector<int> SharedSides(int i, int j, int n) {
  std::vector<int> sides;
  if (i > 0) sides.push_back(1);
  if (j > 0) sides.push_back(2);
  if (i + 1 < n) sides.push_back(3);
  if (j + 1 < n) sides.push_back(4);
  return sides;
}

double Rolling(double x, double y) { return 0.25 * std::sin(1.3 * x + 0.2) * std::cos(0.9 * y) + 0.04 * x * y; }

}  // namespace

SampleGroup BuildMixedDegreeGroup(unsigned seed, double jitter, int swapped, int reversed) {
  SampleGroup g;
  g.name = "mixed degrees";
  std::mt19937 rng(seed);
  const int degrees[3] = {2, 3, 5};
  // Every degree appears in both directions; the order over the cells changes with the seed.
  std::vector<int> pick = {0, 1, 2, 0, 1, 2, 0, 1, 2};
  std::vector<int> pickV = pick;
  std::shuffle(pick.begin(), pick.end(), rng);
  std::shuffle(pickV.begin(), pickV.end(), rng);
  std::vector<int> e;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      PatchSpec p{"mixed" + std::to_string(j) + std::to_string(i), double(i), double(i + 1), double(j), double(j + 1),
                  0, 0, Rolling, nullptr};
      p.pu = degrees[pick[j * 3 + i]];
      p.pv = degrees[pickV[j * 3 + i]];
      p.cu = p.pu + 1 + std::uniform_int_distribution<int>(1, 4)(rng);
      p.cv = p.pv + 1 + std::uniform_int_distribution<int>(1, 4)(rng);
      p.knotsU = ClampedKnots(p.cu, p.pu, &rng);
      p.knotsV = ClampedKnots(p.cv, p.pv, &rng);
      p.swapUV = j * 3 + i == swapped;
      p.reverseU = j * 3 + i == reversed;
      e.push_back(AddPatch(p));
    }
  // A patch held with u and v exchanged has its sides exchanged likewise (1 and 2, 3 and 4); one
  // with u reversed has its u sides exchanged (1 and 3). Its rows get the same offsets in the
  // same order, so the group is the same surface by surface.
  auto own = [&](int k, int side) {
    if (k == swapped) return side == 1 ? 2 : side == 2 ? 1 : side == 3 ? 4 : 3;
    if (k == reversed && side % 2 == 1) return 4 - side;
    return side;
  };
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      std::vector<int> sides = SharedSides(i, j, 3);
      for (int& sd : sides) sd = own(j * 3 + i, sd);
      JitterRows(e[j * 3 + i], sides, jitter, rng, j * 3 + i == swapped, j * 3 + i == reversed);
    }
  g.elements = e;
  g.seams = GridSeams(e, 3);
  for (SampleSeam& sm : g.seams) {
    sm.sideA = own(sm.elemA - e[0], sm.sideA);
    sm.sideB = own(sm.elemB - e[0], sm.sideB);
  }
  return g;
}

SampleGroup BuildJitteredGrid(int n, int ctrl, double jitter, unsigned seed) {
  return BuildRoughGrid(n, ctrl, jitter, jitter, seed);
}

SampleGroup BuildRoughGrid(int n, int ctrl, double jitterZ, double jitterXY, unsigned seed) {
  SampleGroup g;
  g.name = std::to_string(n) + "x" + std::to_string(n) + " grid";
  std::mt19937 rng(seed);
  std::vector<int> e;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      // Built by appending: g++ 12 misreads "literal" + std::string here as an overlapping copy (-Wrestrict).
      std::string name = "g";
      name += std::to_string(j);
      name += '_';
      name += std::to_string(i);
      e.push_back(AddPatch({name, double(i), double(i + 1), double(j), double(j + 1), ctrl, ctrl, Rolling, nullptr}));
    }
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) JitterSides(e[j * n + i], SharedSides(i, j, n), jitterXY, rng, jitterZ);
  g.elements = e;
  g.seams = GridSeams(e, n);
  return g;
}

SampleGroup BuildStarGroup(int valence, double jitter, unsigned seed, int ctrl) {
  SampleGroup g;
  g.name = "valence " + std::to_string(valence);
  std::mt19937 rng(seed);
  const double step = 2.0 * kPi / valence, R = 1.0, Rout = R / std::cos(0.5 * step);
  std::vector<int> e;
  for (int k = 0; k < valence; ++k) {
    // Sector k is the kite centre, M_k, O_k, M_k+1; u runs from the centre to M_k, v to M_k+1.
    const double a0 = k * step, a1 = (k + 1) * step, am = (k + 0.5) * step;
    const double c[2] = {0, 0}, m0[2] = {R * std::cos(a0), R * std::sin(a0)};
    const double m1[2] = {R * std::cos(a1), R * std::sin(a1)}, o[2] = {Rout * std::cos(am), Rout * std::sin(am)};
    // The unit square's x, y are the parameters; the map puts them on the kite bilinearly.
    auto map = [=](double p[3]) {
      const double u = p[0], v = p[1];
      double q[2];
      for (int t = 0; t < 2; ++t)
        q[t] = (1 - u) * (1 - v) * c[t] + u * (1 - v) * m0[t] + u * v * o[t] + (1 - u) * v * m1[t];
      p[0] = q[0];
      p[1] = q[1];
      p[2] = Rolling(q[0] + 1.5, q[1] + 1.5);
    };
    e.push_back(AddPatch({"sector" + std::to_string(k), 0, 1, 0, 1, ctrl, ctrl, [](double, double) { return 0.0; },
                          map}));
  }
  for (int k = 0; k < valence; ++k) JitterSides(e[k], {1, 2}, jitter, rng);
  g.elements = e;
  for (int k = 0; k < valence; ++k) g.seams.push_back({e[k], 1, e[(k + 1) % valence], 2});
  return g;
}

HostSurfaceView ViewHostSurface(int element) {
  const SAAStubSurface& h = SAAStubSurfaceAt(element);
  HostSurfaceView s;
  s.pu = h.degreeU;
  s.pv = h.degreeV;
  s.cu = h.countU;
  s.cv = h.countV;
  s.knotsU.push_back(h.knotsU.front());
  s.knotsU.insert(s.knotsU.end(), h.knotsU.begin(), h.knotsU.end());
  s.knotsU.push_back(h.knotsU.back());
  s.knotsV.push_back(h.knotsV.front());
  s.knotsV.insert(s.knotsV.end(), h.knotsV.begin(), h.knotsV.end());
  s.knotsV.push_back(h.knotsV.back());
  s.pts.resize(3 * static_cast<size_t>(s.cu) * s.cv);
  const float* m = h.matrix;
  for (int k = 0; k < s.cu * s.cv; ++k) {
    const double* v = &h.vertices[4 * static_cast<size_t>(k)];
    for (int c = 0; c < 3; ++c) s.pts[3 * k + c] = m[c] * v[0] + m[4 + c] * v[1] + m[8 + c] * v[2] + m[12 + c];
  }
  return s;
}

void EvalHostSurface(const HostSurfaceView& s, double u, double v, double out[3]) {
  // Each row of the net in u at u, then the resulting column in v. Only the rows of v's span
  // reach the column's point, so only they are evaluated.
  std::vector<double> column(3 * static_cast<size_t>(s.cv));
  const int span = FindSpan(s.knotsV, s.pv, s.cv, v);
  for (int j = span - s.pv; j <= span; ++j)
    DeBoor(s.knotsU, s.pu, s.cu, u, &s.pts[3 * static_cast<size_t>(j) * s.cu], 3, &column[3 * j]);
  DeBoor(s.knotsV, s.pv, s.cv, v, column.data(), 3, out);
}

void HostSurfaceNormal(const HostSurfaceView& s, double u, double v, double n[3]) {
  double u0 = s.knotsU[s.pu], u1 = s.knotsU[s.cu], v0 = s.knotsV[s.pv], v1 = s.knotsV[s.cv];
  double hu = 1e-6 * (u1 - u0), hv = 1e-6 * (v1 - v0);
  double ua = std::max(u0, u - hu), ub = std::min(u1, u + hu), va = std::max(v0, v - hv), vb = std::min(v1, v + hv);
  double a[3], b[3], c[3], d[3];
  EvalHostSurface(s, ua, v, a);
  EvalHostSurface(s, ub, v, b);
  EvalHostSurface(s, u, va, c);
  EvalHostSurface(s, u, vb, d);
  double su[3], sv[3];
  for (int k = 0; k < 3; ++k) {
    su[k] = (b[k] - a[k]) / (ub - ua);
    sv[k] = (d[k] - c[k]) / (vb - va);
  }
  n[0] = su[1] * sv[2] - su[2] * sv[1];
  n[1] = su[2] * sv[0] - su[0] * sv[2];
  n[2] = su[0] * sv[1] - su[1] * sv[0];
}

void HostSidePoint(const HostSurfaceView& s, int side, double t, double out[3]) {
  double u, v;
  SideParams(s, side, t, &u, &v);
  EvalHostSurface(s, u, v, out);
}

SeamMeasure MeasureSeam(const SampleSeam& seam, int samples) {
  HostSurfaceView a = ViewHostSurface(seam.elemA), b = ViewHostSurface(seam.elemB);
  SeamMeasure m{};
  constexpr int kCoarse = 400;
  std::vector<std::array<double, 3>> coarse(kCoarse + 1);
  for (int k = 0; k <= kCoarse; ++k) {
    double u, v;
    SideParams(b, seam.sideB, double(k) / kCoarse, &u, &v);
    EvalHostSurface(b, u, v, coarse[k].data());
  }
  for (int i = 0; i < samples; ++i) {
    double ua, va, pa[3];
    SideParams(a, seam.sideA, samples > 1 ? double(i) / (samples - 1) : 0.0, &ua, &va);
    EvalHostSurface(a, ua, va, pa);
    int best = 0;
    for (int k = 1; k <= kCoarse; ++k)
      if (Dist(pa, coarse[k].data()) < Dist(pa, coarse[best].data())) best = k;
    // The squared distance minimised on the bracket round the best coarse sample.
    const double lo = std::max(0, best - 1) / double(kCoarse), hi = std::min(kCoarse, best + 1) / double(kCoarse);
    auto dist = [&](double t) {
      double u, v, p[3];
      SideParams(b, seam.sideB, t, &u, &v);
      EvalHostSurface(b, u, v, p);
      return Dist(pa, p);
    };
    const double d0 = Dist(pa, coarse[best].data());
    const double t = BrentMinimum([&](double s) { const double d = dist(s); return d * d; }, lo, hi,
                                  double(best) / kCoarse, d0 * d0, 1e-15);
    double ub, vb;
    SideParams(b, seam.sideB, t, &ub, &vb);
    const double gap = dist(t);
    if (i == 0 || gap > m.maxGap) {
      m.maxGap = gap;
      std::copy(pa, pa + 3, m.gapOnA);
      EvalHostSurface(b, ub, vb, m.gapOnB);
    }
    double na[3], nb[3];
    HostSurfaceNormal(a, ua, va, na);
    HostSurfaceNormal(b, ub, vb, nb);
    m.angles.push_back(Angle(na, nb));
    m.maxAngle = std::max(m.maxAngle, m.angles.back());
  }
  return m;
}

double ShortestBoundaryCurve(const SampleGroup& g, int* element, int* side) {
  double shortest = HUGE_VAL;
  for (int e : g.elements) {
    const HostSurfaceView s = ViewHostSurface(e);
    for (int sd = 1; sd <= 4; ++sd) {
      constexpr int kSamples = 2000;
      double length = 0.0, prev[3] = {0, 0, 0};
      for (int k = 0; k <= kSamples; ++k) {
        double u, v, p[3];
        SideParams(s, sd, double(k) / kSamples, &u, &v);
        EvalHostSurface(s, u, v, p);
        if (k) length += Dist(p, prev);
        std::copy(p, p + 3, prev);
      }
      if (length < shortest) {
        shortest = length;
        if (element) *element = e;
        if (side) *side = sd;
      }
    }
  }
  return shortest;
}

int CountFlippedNormals(int element, int samples) {
  HostSurfaceView s = ViewHostSurface(element);
  const double u0 = s.knotsU[s.pu], u1 = s.knotsU[s.cu], v0 = s.knotsV[s.pv], v1 = s.knotsV[s.cv];
  std::vector<std::array<double, 3>> normals;
  double mean[3] = {0, 0, 0};
  for (int j = 0; j <= samples; ++j)
    for (int i = 0; i <= samples; ++i) {
      std::array<double, 3> n;
      HostSurfaceNormal(s, u0 + (u1 - u0) * i / samples, v0 + (v1 - v0) * j / samples, n.data());
      const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      if (len == 0.0) continue;
      for (int c = 0; c < 3; ++c) {
        n[c] /= len;
        mean[c] += n[c];
      }
      normals.push_back(n);
    }
  int flipped = 0;
  for (const auto& n : normals) flipped += n[0] * mean[0] + n[1] * mean[1] + n[2] * mean[2] < 0.0;
  return flipped;
}

namespace {

using Vec3 = std::array<double, 3>;

Vec3 Lerp(const Vec3& a, const Vec3& b, double t) {
  return {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]), a[2] + t * (b[2] - a[2])};
}

// A net whose point (i, j) is at(i, j), over uniform clamped knots.
CadPatch GridPatch(const std::string& name, int pu, int pv, int cu, int cv, const std::function<Vec3(int, int)>& at) {
  CadPatch c;
  c.name = name;
  c.pu = pu, c.pv = pv, c.cu = cu, c.cv = cv;
  c.knotsU = ClampedKnots(cu, pu);
  c.knotsV = ClampedKnots(cv, pv);
  for (int j = 0; j < cv; ++j)
    for (int i = 0; i < cu; ++i) {
      const Vec3 p = at(i, j);
      c.pts.insert(c.pts.end(), p.begin(), p.end());
    }
  return c;
}

// The plane through four corners as exporters write it: degree 1, 2 x 2 points.
CadPatch Bilinear(const std::string& name, const Vec3& p00, const Vec3& p10, const Vec3& p01, const Vec3& p11) {
  const Vec3 corner[2][2] = {{p00, p10}, {p01, p11}};
  return GridPatch(name, 1, 1, 2, 2, [&](int i, int j) { return corner[j][i]; });
}

// The cubic Bezier arc of radius r about c from angle a0 through `sweep` in the plane of the unit
// axes e1, e2 (tangent exactly at both ends, radius off by 2.7e-4 of r for a quarter), refined by
// Boehm's knot insertion to `count` points over uniform knots: the same curve.
std::vector<Vec3> ArcPoints(const Vec3& c, const Vec3& e1, const Vec3& e2, double r, double a0, double sweep,
                            int count) {
  auto at = [&](double a, double s, double t) {  // c + s (cos a e1 + sin a e2) + t (-sin a e1 + cos a e2)
    Vec3 p;
    for (int k = 0; k < 3; ++k)
      p[k] = c[k] + s * (std::cos(a) * e1[k] + std::sin(a) * e2[k]) + t * (-std::sin(a) * e1[k] + std::cos(a) * e2[k]);
    return p;
  };
  const double h = 4.0 / 3.0 * std::tan(sweep / 4.0) * r, a1 = a0 + sweep;
  std::vector<Vec3> pts = {at(a0, r, 0), at(a0, r, h), at(a1, r, -h), at(a1, r, 0)};
  std::vector<double> k = {0, 0, 0, 0, 1, 1, 1, 1};
  const int p = 3;
  for (int n = 1; n <= count - 4; ++n) {
    const double t = double(n) / (count - 3);
    int span = p;
    while (k[span + 1] <= t) ++span;
    std::vector<Vec3> q(pts.size() + 1);
    for (int i = 0; i <= static_cast<int>(pts.size()); ++i) {
      if (i <= span - p) {
        q[i] = pts[i];
      } else if (i > span) {
        q[i] = pts[i - 1];
      } else {
        const double a = (t - k[i]) / (k[i + p] - k[i]);
        q[i] = Lerp(pts[i - 1], pts[i], a);
      }
    }
    k.insert(k.begin() + span + 1, t);
    pts = q;
  }
  return pts;
}

// Knot vector on the exporter's domain: ends pinned to the written values exactly.
std::vector<double> ExporterKnots(const std::vector<double>& unit, double a, double b) {
  std::vector<double> k(unit.size());
  for (size_t i = 0; i < unit.size(); ++i)
    k[i] = unit[i] == 0.0 ? a : unit[i] == 1.0 ? b : a + (b - a) * unit[i];
  return k;
}

void ApplyKnotStyle(CadGroup& g, const CadOptions& o) {
  // Domains as exporters wrote them on the parts this group stands for: one end a tiny value off
  // 0 (a round-off of the exporter's own arithmetic) where the other is far from it.
  static const double kDomains[][2] = {{-0.2, 1e-16}, {-5.8e-16, 0.35}, {0.5, 1.7}, {-3.3e-32, 2.4},
                                       {-1.3, 5.8e-16}, {0.25, 0.45}};
  int pick = 0;
  for (CadPatch& c : g.patches)
    for (std::vector<double>* k : {&c.knotsU, &c.knotsV}) {
      if (o.knots == CadKnots::Exporter) {
        const double* d = kDomains[pick++ % std::size(kDomains)];
        *k = ExporterKnots(*k, d[0], d[1]);
      }
      for (double& t : *k) t = o.knotShift + o.knotScale * t;
    }
}

double Diagonal(const CadGroup& g) {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const CadPatch& c : g.patches)
    for (size_t k = 0; k < c.pts.size(); ++k) {
      lo[k % 3] = std::min(lo[k % 3], c.pts[k]);
      hi[k % 3] = std::max(hi[k % 3], c.pts[k]);
    }
  return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

void AddNoise(CadGroup& g, const CadOptions& o) {
  if (o.noise <= 0.0) return;
  std::mt19937 rng(o.seed);
  std::uniform_real_distribution<double> d(-o.noise * g.diagonal, o.noise * g.diagonal);
  for (CadPatch& c : g.patches)
    for (int j = 0; j < c.cv; ++j)
      for (int i = 0; i < c.cu; ++i) {
        const bool boundary = i == 0 || j == 0 || i == c.cu - 1 || j == c.cv - 1;
        if (o.boundaryRowsOnly && !boundary) continue;
        for (int k = 0; k < 3; ++k) c.pts[3 * (static_cast<size_t>(j) * c.cu + i) + k] += d(rng);
      }
}

void BoxCorner(CadGroup& g) {
  // Floor z = 0, wall y = 0 (u up, v along x) and wall x = 0 (u along -y): three creases of 90
  // degrees meeting at the origin, each face parametrised its own way.
  g.patches = {Bilinear("floor", {0, 0, 0}, {1, 0, 0}, {0, 0.8, 0}, {1, 0.8, 0}),
               Bilinear("wallFront", {0, 0, 0}, {0, 0, 0.6}, {1, 0, 0}, {1, 0, 0.6}),
               Bilinear("wallSide", {0, 0.8, 0}, {0, 0, 0}, {0, 0.8, 0.6}, {0, 0, 0.6})};
  g.seams = {{0, 2, 1, 1}, {0, 1, 2, 2}, {1, 2, 2, 3}};
}

void TangentStrip(CadGroup& g, const CadOptions& o) {
  // The strip z = 0, -w <= y <= 0 meets the quarter-cylinder about (y, z) = (0, r) tangentially
  // at y = 0; the cylinder ends tangent to the plane y = r going up.
  const double L = 0.22, w = 0.011, r = 0.02, h = 0.03;
  const std::vector<Vec3> arc = ArcPoints({0, 0, r}, {0, 0, -1}, {0, 1, 0}, r, 0.0, 0.5 * kPi, o.arcCount);
  g.patches = {Bilinear("strip", {0, -w, 0}, {L, -w, 0}, {0, 0, 0}, {L, 0, 0}),
               GridPatch("quarterCylinder", 3, 3, o.arcCount, 4,
                         [&](int i, int j) { return Vec3{L * j / 3.0, arc[i][1], arc[i][2]}; }),
               Bilinear("wall", {0, r, r}, {0, r, r + h}, {L, r, r}, {L, r, r + h})};
  g.seams = {{0, 4, 1, 1}, {1, 3, 2, 1}};
}

void TJunctionFaces(CadGroup& g) {
  // Top face 2.4 x 1; beyond its far side two coplanar faces (1 and 1.4 long); along its near side
  // three walls going down at 90 degrees (0.35, 1.15 and 0.9 long).
  auto flat = [](const std::string& n, double x0, double x1, double y0, double y1) {
    return Bilinear(n, {x0, y0, 0}, {x1, y0, 0}, {x0, y1, 0}, {x1, y1, 0});
  };
  auto wall = [](const std::string& n, double x0, double x1) {
    return Bilinear(n, {x0, 0, -0.5}, {x1, 0, -0.5}, {x0, 0, 0}, {x1, 0, 0});
  };
  g.patches = {flat("top", 0, 2.4, 0, 1),  flat("farA", 0, 1.0, 1, 1.6), flat("farB", 1.0, 2.4, 1, 1.6),
               wall("wallA", 0, 0.35), wall("wallB", 0.35, 1.5),   wall("wallC", 1.5, 2.4)};
  // Measured from the shorter sides onto the long one.
  g.seams = {{1, 2, 0, 4}, {2, 2, 0, 4}, {3, 4, 0, 2}, {4, 4, 0, 2}, {5, 4, 0, 2},
             {1, 3, 2, 1}, {3, 3, 4, 1}, {4, 3, 5, 1}};
}

void Tube(CadGroup& g, const CadOptions& o) {
  // Radius 0.1 about the x axis, length 1: u runs round each half, v along the axis.
  const double r = 0.1, L = 1.0;
  const std::vector<double> kv = ClampedKnots(o.longCount, 3);
  for (int half = 0; half < 2; ++half) {
    const std::vector<Vec3> arc = ArcPoints({0, 0, 0}, {0, 1, 0}, {0, 0, 1}, r, half * kPi, kPi, o.arcCount);
    g.patches.push_back(GridPatch(half ? "lowerHalf" : "upperHalf", 3, 3, o.arcCount, o.longCount, [&](int i, int j) {
      return Vec3{L * Greville(kv, 3, j), arc[i][1], arc[i][2]};
    }));
  }
  g.seams = {{0, 3, 1, 1}, {1, 3, 0, 1}};
}

void StripChain(CadGroup& g, const CadOptions& o) {
  // Strips 0.1 wide and 2 long, u along the length with a gentle wave; half of them turn up by 45
  // degrees about the middle seam.
  const double width = 0.1, L = 2.0, crease = 0.5 * o.strips * width, c = std::cos(kPi / 4), s = std::sin(kPi / 4);
  const std::vector<double> ku = ClampedKnots(o.longCount, 3);
  auto point = [&](double x, double across) {
    const double wave = 0.05 * std::sin(2.0 * x);
    if (across <= crease) return Vec3{x, across, wave};
    return Vec3{x, crease + (across - crease) * c, wave + (across - crease) * s};
  };
  for (int k = 0; k < o.strips; ++k) {
    g.patches.push_back(GridPatch("strip" + std::to_string(k), 3, 3, o.longCount, 4, [&](int i, int j) {
      return point(L * Greville(ku, 3, i), width * (k + j / 3.0));
    }));
    if (k) g.seams.push_back({k - 1, 4, k, 2});
  }
}

}  // namespace

CadGroup MakeCadGroup(CadShape shape, const CadOptions& o) {
  CadGroup g;
  switch (shape) {
    case CadShape::BoxCorner: g.name = "box corner"; BoxCorner(g); break;
    case CadShape::TangentStrip: g.name = "tangent strip"; TangentStrip(g, o); break;
    case CadShape::TJunction: g.name = "T-junction faces"; TJunctionFaces(g); break;
    case CadShape::Tube: g.name = "tube"; Tube(g, o); break;
    case CadShape::StripChain: g.name = "strip chain"; StripChain(g, o); break;
  }
  for (CadPatch& c : g.patches)
    for (double& x : c.pts) x *= o.size;
  ApplyKnotStyle(g, o);
  g.diagonal = Diagonal(g);
  AddNoise(g, o);
  return g;
}

SampleGroup AddCadGroup(const CadGroup& group) {
  SampleGroup g;
  g.name = group.name;
  for (const CadPatch& c : group.patches) {
    SAAStubSurface s;
    s.name = c.name;
    s.degreeU = c.pu, s.degreeV = c.pv, s.countU = c.cu, s.countV = c.cv;
    s.knotsU.assign(c.knotsU.begin() + 1, c.knotsU.end() - 1);  // the host drops the outermost knot at each end
    s.knotsV.assign(c.knotsV.begin() + 1, c.knotsV.end() - 1);
    for (size_t k = 0; k < c.pts.size(); k += 3) s.vertices.insert(s.vertices.end(), {c.pts[k], c.pts[k + 1], c.pts[k + 2], 1.0});
    g.elements.push_back(SAAStubAddSurface(s));
  }
  for (const SampleSeam& sm : group.seams) g.seams.push_back({g.elements[sm.elemA], sm.sideA, g.elements[sm.elemB], sm.sideB});
  return g;
}
