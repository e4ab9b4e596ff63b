// Seeded torture of the B-spline entry points: records and arguments made bad or extreme in
// generated ways (non-finite or huge coordinates, knots and parameters; decreasing, all-equal
// and over-repeated knots; degree 0 and degrees past the limit; negative counts; one-point,
// collapsed and degenerate nets; bad weights) go through evaluation, knot insertion, knot
// removal, degree elevation and the closest-point refiners. Every case must end either in
// success with finite results (a record that was edited is still a sound record) or in a clean
// failure: the error state or status says so and the record, or a point output, is exactly as
// it was. A crash, hang or sanitizer report fails the run as well. The outcome counts per entry
// point are printed.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

enum Defect {
  kSound,
  kNanCoord,
  kInfCoord,
  kHugeCoords,
  kNanKnot,
  kInfKnot,
  kDecreasingKnots,
  kAllEqualKnots,
  kOverRepeatedKnot,
  kHugeKnots,
  kTinyDomain,
  kDegreeZero,
  kDegreeAboveLimit,
  kNegativeInterior,
  kOnePoint,
  kCollapsedNet,
  kCollapsedCorner,
  kBadWeight,
  kBadKind,
  kBadArgument,  // sound record, bad parameter or point (NaN, infinite, 1e300)
  kDefects
};

const char* const kDefectNames[kDefects] = {
    "sound",           "nan coord",        "inf coord",      "1e300 coords",     "nan knot",
    "inf knot",        "decreasing knots", "all-equal knots", "over-repeated knot", "huge knots",
    "tiny domain",     "degree 0",         "degree > limit", "negative interior", "one point",
    "collapsed net",   "collapsed corner", "bad weight",     "bad kind",          "bad argument"};

// A record of the given shape with its arrays from the kernel's allocator, so the kernel can
// free or replace them; counts and degrees may be those the builders refuse (degree 0, degree
// above the limit).
Bspline* NewRecord(int kind, int dim, bool rational, int pu, int nu, int pv, int nv) {
  Bspline* b = MallocNullBspline();
  if (!b) return nullptr;
  b->kind = kind;
  b->dimension = dim;
  b->rational = rational;
  b->degreeU = pu;
  b->interiorU = nu - pu - 1;
  b->degreeV = kind == 2 ? pv : 0;
  b->interiorV = kind == 2 ? nv - pv - 1 : 0;
  if (AllocateBsplineArrays(b) < 0) {
    FreeBspline(b);
    return nullptr;
  }
  return b;
}

int CtrlCount(const Bspline* b) { return NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1); }

// A snapshot of everything an entry point may change, compared bit for bit (NaN included).
struct Snapshot {
  std::vector<int> ints;
  std::vector<double> reals;
  explicit Snapshot(const Bspline* b) {
    ints = {b->kind, b->dimension, b->rational, b->degreeU, b->degreeV, b->interiorU, b->interiorV};
    reals = {b->umin, b->umax, b->vmin, b->vmax};
    const int ku = std::max(NumKnotsU(b), 0), kv = b->kind == 2 ? std::max(NumKnotsV(b), 0) : 0;
    if (b->knotsU) reals.insert(reals.end(), b->knotsU, b->knotsU + ku);
    if (b->knotsV) reals.insert(reals.end(), b->knotsV, b->knotsV + kv);
    const int n = std::max(CtrlCount(b), 0);
    for (double** m : {b->X, b->Y, b->Z, b->W})
      if (m) reals.insert(reals.end(), m[0], m[0] + n);
  }
  bool operator==(const Snapshot& o) const {
    return ints == o.ints && reals.size() == o.reals.size() &&
           std::memcmp(reals.data(), o.reals.data(), reals.size() * sizeof(double)) == 0;
  }
};

bool Finite(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// What a successful edit must leave: a record the evaluators can trust. A forced knot removal
// may leave a weight at or below zero (it recomputes the weights), the other edits may not.
bool SoundRecord(const Bspline* b, std::string* why, bool weightsPositive = true) {
  const bool surf = b->kind == 2;
  auto fail = [why](const char* w) {
    *why = w;
    return false;
  };
  if ((b->kind != 1 && !surf) || (b->dimension != 2 && b->dimension != 3)) return fail("kind");
  if (b->degreeU < 0 || b->degreeU > 22 || (surf && (b->degreeV < 0 || b->degreeV > 22)))
    return fail("degree");
  if (b->interiorU < 0 || (surf && b->interiorV < 0)) return fail("interior");
  for (int dir = 0; dir < (surf ? 2 : 1); ++dir) {
    const double* k = dir ? b->knotsV : b->knotsU;
    const int K = dir ? NumKnotsV(b) : NumKnotsU(b);
    if (!k || !Finite(k, K)) return fail("knots not finite");
    for (int i = 1; i < K; ++i)
      if (k[i] < k[i - 1]) return fail("knots decrease");
  }
  const int n = CtrlCount(b);
  for (double** m : {b->X, b->Y, b->Z, b->W})
    if (m && !Finite(m[0], n)) return fail("coefficients not finite");
  if (weightsPositive && b->rational && b->W)
    for (int i = 0; i < n; ++i)
      if (!(b->W[0][i] > 0.0)) return fail("weight not positive");
  return true;
}

// Outcome counts per entry point.
struct Tally {
  std::map<std::string, std::array<int, 2>> counts;  // success, clean failure
  void Add(const std::string& entry, bool success) { ++counts[entry][success ? 0 : 1]; }
  int Total() const {
    int t = 0;
    for (const auto& [name, c] : counts) t += c[0] + c[1];
    return t;
  }
  void Print(const char* title) const {
    std::printf("%s\n  %-34s %8s %14s\n", title, "entry point", "success", "clean failure");
    for (const auto& [name, c] : counts) std::printf("  %-34s %8d %14d\n", name.c_str(), c[0], c[1]);
  }
};

class Torture : public KernelTest {
 protected:
  std::mt19937 rng_;
  double Uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng_); }
  int Int(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng_); }
  bool Chance(double p) { return Uniform(0.0, 1.0) < p; }

  // A bad or extreme scalar: NaN, an infinity, a huge or tiny value.
  double Extreme() {
    const double v[] = {kNaN, kInf, -kInf, 1e300, -1e300, 1e-300, 0.0, 1e18};
    return v[Int(0, 7)];
  }

  // A record of the kind (1 3D curve, 2 2D curve, 3 surface) with the defect built in.
  Bspline* Make(int shape, Defect defect) {
    const bool surf = shape == 3;
    const int dim = shape == 2 ? 2 : 3;
    const bool rational = defect == kBadWeight || Chance(0.25);
    int pu = Int(1, 4), pv = surf ? Int(1, 4) : 0;
    if (defect == kDegreeZero) (Chance(0.5) || !surf ? pu : pv) = 0;
    if (defect == kDegreeAboveLimit) (Chance(0.5) || !surf ? pu : pv) = Int(23, 26);
    int nu = pu + 1 + Int(0, 4), nv = surf ? pv + 1 + Int(0, 4) : 1;
    if (defect == kOnePoint) pu = pv = 0, nu = 1, nv = 1;
    Bspline* b = NewRecord(surf ? 2 : 1, dim, rational, pu, nu, pv, nv);
    if (!b) return nullptr;
    // Clamped knots on a random domain, control points of a gently curved sheet or curve.
    const double u0 = Uniform(-2.0, 2.0), u1 = u0 + Uniform(0.5, 3.0);
    const double v0 = Uniform(-2.0, 2.0), v1 = v0 + Uniform(0.5, 3.0);
    const std::vector<double> ku = ClampedKnots(pu, nu, u0, u1, KnotLayout::Random, rng_());
    std::copy(ku.begin(), ku.end(), b->knotsU);
    if (surf) {
      const std::vector<double> kv = ClampedKnots(pv, nv, v0, v1, KnotLayout::Random, rng_());
      std::copy(kv.begin(), kv.end(), b->knotsV);
    }
    b->umin = u0, b->umax = u1, b->vmin = surf ? v0 : 0.0, b->vmax = surf ? v1 : 0.0;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const double x = nu > 1 ? double(i) / (nu - 1) : 0.0, y = nv > 1 ? double(j) / (nv - 1) : 0.0;
        const int k = j * nu + i;
        b->X[0][k] = x + Uniform(-0.05, 0.05);
        b->Y[0][k] = surf ? y : std::sin(3.0 * x);
        if (b->Z) b->Z[0][k] = 0.3 * std::sin(2.0 * x + y) + Uniform(-0.05, 0.05);
        if (b->W) b->W[0][k] = Uniform(0.5, 2.0);
      }
    Corrupt(b, defect);
    return b;
  }

  void Corrupt(Bspline* b, Defect defect) {
    const bool surf = b->kind == 2;
    const int n = CtrlCount(b);
    double** coords[3] = {b->X, b->Y, b->Z ? b->Z : b->X};
    const int dir = surf ? Int(0, 1) : 0;
    double* k = dir ? b->knotsV : b->knotsU;
    const int p = dir ? b->degreeV : b->degreeU, K = dir ? NumKnotsV(b) : NumKnotsU(b);
    const int nc = K - p - 1;
    switch (defect) {
      case kNanCoord:
      case kInfCoord:
        coords[Int(0, 2)][0][Int(0, n - 1)] = defect == kNanCoord ? kNaN : (Chance(0.5) ? kInf : -kInf);
        break;
      case kHugeCoords:
        for (int i = 0; i < n; ++i) coords[Int(0, 2)][0][i] = Chance(0.5) ? 1e300 : -1e300 * Uniform(0.5, 1.0);
        break;
      case kNanKnot:
      case kInfKnot:
        k[Int(0, K - 1)] = defect == kNanKnot ? kNaN : (Chance(0.5) ? kInf : -kInf);
        break;
      case kDecreasingKnots: {
        // Two unequal knots swapped, or the whole vector reversed.
        if (Chance(0.3)) {
          std::reverse(k, k + K);
        } else {
          const int a = Int(0, K - 2);
          k[a] = k[K - 1] + Uniform(0.1, 1.0);
        }
        break;
      }
      case kAllEqualKnots:
        for (int i = 0; i < K; ++i) k[i] = k[0];
        break;
      case kOverRepeatedKnot:
        // Interior knots all at one value, or a zero-length domain span at the start.
        if (nc > p + 1) {
          for (int i = p + 1; i < nc; ++i) k[i] = k[p + 1];
        } else {
          for (int i = 0; i < K; ++i) k[i] = i < K / 2 ? k[0] : k[K - 1];
        }
        break;
      case kHugeKnots:
        for (int i = 0; i < K; ++i) k[i] = (i < K / 2 ? -1.0 : 1.0) * 1e308 + 0.0 * i;
        break;
      case kTinyDomain:
        for (int i = 0; i < K; ++i) k[i] = 1e-300 * i;
        break;
      case kNegativeInterior:
        (dir ? b->interiorV : b->interiorU) -= Int(p + 2, p + 5);
        break;
      case kCollapsedNet:
        for (int i = 0; i < n; ++i)
          for (double** c : coords) c[0][i] = c[0][0];
        break;
      case kCollapsedCorner: {
        // A surface's v-min row (a curve's first two points) drawn into one point.
        const int row = surf ? NumCtrlU(b) : 2;
        for (int i = 1; i < row && i < n; ++i)
          for (double** c : coords) c[0][i] = c[0][0];
        break;
      }
      case kBadWeight:
        b->W[0][Int(0, n - 1)] = std::vector<double>{0.0, -1.0, kNaN, kInf, 1e-300}[Int(0, 4)];
        break;
      case kBadKind:
        if (Chance(0.5))
          b->kind = Chance(0.5) ? 0 : 7;
        else
          b->dimension = Chance(0.5) ? 1 : 4;
        break;
      default:
        break;
    }
  }

  // A parameter inside [lo, hi], or with the bad-argument defect sometimes an extreme one.
  double Param(double lo, double hi, Defect defect) {
    if (defect == kBadArgument && Chance(0.5)) return Extreme();
    if (!std::isfinite(lo) || !std::isfinite(hi)) return 0.5;
    return lo + (hi - lo) * Uniform(-0.1, 1.1);
  }

  Tally tally_;
  int faults_ = 0;

  void Fault(int seed, Defect defect, const std::string& entry, const std::string& what) {
    ++faults_;
    ADD_FAILURE() << "seed " << seed << " (" << kDefectNames[defect] << "), " << entry << ": " << what;
  }

  // An edit of the record: success leaves a sound record, failure the record as it was.
  void CheckEdit(int seed, Defect defect, const std::string& entry, const Bspline* b,
                 const Snapshot& before, bool success, bool weightsPositive = true) {
    tally_.Add(entry, success);
    std::string why;
    if (success && !SoundRecord(b, &why, weightsPositive))
      Fault(seed, defect, entry, "success with " + why);
    if (!success && !(Snapshot(b) == before)) Fault(seed, defect, entry, "failure changed the record");
  }

  // A point output: success writes finite values, failure leaves the sentinel in place.
  void CheckPoint(int seed, Defect defect, const std::string& entry, const double* out, int n,
                  bool success) {
    tally_.Add(entry, success);
    if (success && !Finite(out, n)) Fault(seed, defect, entry, "success with a non-finite result");
    if (!success)
      for (int i = 0; i < n; ++i)
        if (out[i] != 12345.0) {
          Fault(seed, defect, entry, "failure wrote its output");
          break;
        }
  }

  void RunCase(int seed);
};

void Torture::RunCase(int seed) {
  rng_.seed(0x5eed0000u + seed);
  const Defect defect = static_cast<Defect>(seed % kDefects);
  const int entry = (seed / kDefects) % 7;
  const int shape = Int(1, 3);
  ClearKernelError();
  BsplineKeeper keep;
  Bspline* b = keep(Make(shape, defect));
  ASSERT_NE(b, nullptr);
  const bool surf = b->kind == 2;
  const int dir = surf ? Int(0, 1) : 0;
  const Snapshot before(b);
  const double u = Param(b->umin, b->umax, defect), v = Param(b->vmin, b->vmax, defect);

  switch (entry) {
    case 0: {  // one point or derivative
      double out[4] = {12345.0, 12345.0, 12345.0, 12345.0};
      const int du = Int(0, 3), dv = surf ? Int(0, 2) : 0;
      std::string name;
      int nOut = 3;
      if (shape == 3 && Chance(0.5)) {
        name = "Eval3DPointOnSurfArray";
        Eval3DPointOnSurfArray(b, u, v, du, dv, out);
      } else if (shape == 3) {
        name = "Eval4DPointOnRSurfArray";
        const int type = GetEvalType(b->rational, du + dv);
        nOut = type == 0 || type == 2 ? 4 : 3;
        Eval4DPointOnRSurfArray(b, u, v, du, dv, type, out);
      } else if (shape == 1) {
        name = "Eval3DPointOnCurve3Array";
        Eval3DPointOnCurve3Array(b, u, du, out);
      } else {
        name = "Eval2DPointOnCurve2Array";
        nOut = 2;
        Eval2DPointOnCurve2Array(nullptr, b, u, du, out);
      }
      CheckPoint(seed, defect, name, out, nOut, !KernelFailedNow());
      break;
    }
    case 1: {  // a grid or n evenly spaced points
      const int n = Int(1, 6), m = surf ? Int(1, 4) : 1;
      std::vector<double> us(n), vs(m);
      for (double& x : us) x = Param(b->umin, b->umax, defect);
      for (double& x : vs) x = Param(b->vmin, b->vmax, defect);
      std::vector<double> x(n * m, 12345.0), y(n * m, 12345.0), z(n * m, 12345.0), w(n * m, 12345.0);
      std::string name;
      int r;
      if (shape == 2) {
        name = "Eval3DNpntsOnRCurve2Array";
        r = Eval3DNpntsOnRCurve2Array(b, 0, Int(0, 2), n, x.data(), y.data(), w.data());
        z.assign(n * m, 0.0);
        if (!b->rational) w.assign(n * m, 0.0);
      } else if (shape == 1 && Chance(0.5)) {
        name = "Eval4DNpntsOnRCurve3Array";
        r = Eval4DNpntsOnRCurve3Array(b, 0, Int(0, 2), n, x.data(), y.data(), z.data(), w.data());
        if (!b->rational) w.assign(n * m, 0.0);
      } else {
        name = "Eval3DGridOnBsplArray";
        r = Eval3DGridOnBsplArray(b, us.data(), n, vs.data(), m, x.data(), y.data(), z.data());
        w.assign(n * m, 0.0);
      }
      std::vector<double> all = x;
      all.insert(all.end(), y.begin(), y.end());
      all.insert(all.end(), z.begin(), z.end());
      all.insert(all.end(), w.begin(), w.end());
      if (r != 0) std::replace(all.begin(), all.end(), 0.0, 12345.0);  // the columns not asked for
      CheckPoint(seed, defect, name, all.data(), static_cast<int>(all.size()), r == 0 && !KernelFailedNow());
      break;
    }
    case 2: {  // knot insertion
      const int mode = Int(0, 2), n = Int(1, 4), mult = std::vector<int>{1, 2, -1, 3}[Int(0, 3)];
      std::vector<double> values(n);
      const double lo = dir ? b->vmin : b->umin, hi = dir ? b->vmax : b->umax;
      for (double& x : values) x = Param(lo, hi, defect);
      std::sort(values.begin(), values.end());
      InsertNKnotsToObject(mult, n, dir, b, mode, values.data());
      CheckEdit(seed, defect, "InsertNKnotsToObject mode " + std::to_string(mode), b, before,
                !KernelFailedNow());
      break;
    }
    case 3: {  // knot removal
      const int mode = Int(2, 4);
      const int p = dir ? b->degreeV : b->degreeU;
      const int interior = dir ? b->interiorV : b->interiorU;
      const double* k = dir ? b->knotsV : b->knotsU;
      std::vector<double> knots;
      if (mode == 2) {
        // Some of the record's own interior knots (as far as its counts tell), or extremes.
        for (int i = 0; i < std::min(interior, 3); ++i) knots.push_back(k[p + 1 + i]);
        if (knots.empty() || defect == kBadArgument) knots.push_back(Extreme());
      }
      double dev = Chance(0.3) ? -1.0 : 0.0;
      const double tol = defect == kBadArgument ? Extreme() : Uniform(0.0, 0.1);
      const int r = RemoveKnotsOfObjSet(&b, 1, dir, mode, knots.empty() ? nullptr : knots.data(),
                                        static_cast<int>(knots.size()), Int(0, 2), tol, &dev);
      const bool success = r > 0 && !KernelFailedNow();
      CheckEdit(seed, defect, "RemoveKnotsOfObjSet mode " + std::to_string(mode), b, before, success,
                false);
      if (success && !std::isfinite(dev)) Fault(seed, defect, "RemoveKnotsOfObjSet", "deviation not finite");
      break;
    }
    case 4: {  // degree elevation
      IncrementDegreeOfObject(dir, b);
      CheckEdit(seed, defect, "IncrementDegreeOfObject", b, before, !KernelFailedNow());
      break;
    }
    case 5: {  // closest points
      double P[3] = {Uniform(-0.5, 1.5), Uniform(-0.5, 1.5), Uniform(-0.5, 0.5)};
      if (defect == kBadArgument) P[Int(0, 2)] = Extreme();
      double out[8] = {};
      std::string name;
      int r, nOut;
      double t = u, uu = u, vv = v, distSq = 0.0, stepSq = 0.0, C[3] = {};
      if (shape == 3) {
        if (Chance(0.5)) {
          name = "FindClosestUVPointGuessDist";
          r = FindClosestUVPointGuessDist(b, P, C, &uu, &vv, &distSq, &stepSq, Int(1, 30));
        } else {
          name = "FindClosestUVPointGuess";
          r = FindClosestUVPointGuess(b, P, C, &uu, &vv, &distSq, &stepSq, Int(1, 30));
        }
        const double o[] = {C[0], C[1], C[2], uu, vv, distSq};
        nOut = 6;
        std::copy(o, o + nOut, out);
      } else if (shape == 1 && Chance(0.5)) {
        name = "FindClosestPointCurve3";
        r = FindClosestPointCurve3(b, P, C, b->umin, b->umax, &t, &distSq, &stepSq, Int(1, 30));
        const double o[] = {C[0], C[1], C[2], t, distSq};
        nOut = 5;
        std::copy(o, o + nOut, out);
      } else if (shape == 1) {
        name = "RefineCurve3sClosestPoint";
        BsplineKeeper other;
        Bspline* c = other(Make(1, kSound));
        double t2 = Param(c->umin, c->umax, defect);
        r = RefineCurve3sClosestPoint(b, c, &t, &t2, &distSq, Int(1, 30));
        const double o[] = {t, t2, distSq};
        nOut = 3;
        std::copy(o, o + nOut, out);
      } else {
        name = "FindXorYIntersectCurve2";
        double point[2] = {}, residual = 0.0;
        r = FindXorYIntersectCurve2(b, Param(0.0, 1.0, defect), Int(0, 1), point, &t, &residual, Int(1, 30));
        const double o[] = {point[0], point[1], t, residual};
        nOut = 4;
        std::copy(o, o + nOut, out);
      }
      const bool success = r == 0 && !KernelFailedNow();
      tally_.Add(name, success);
      if (success && !Finite(out, nOut)) Fault(seed, defect, name, "success with a non-finite result");
      if (!(Snapshot(b) == before)) Fault(seed, defect, name, "the record changed");
      break;
    }
    case 6: {  // the less used forms: derivative grids, pairs of surfaces, projections
      BsplineKeeper other;
      std::string name;
      int r = 0, nOut = 0;
      double out[8] = {};
      if (shape == 3) {
        Bspline* t = other(Make(3, kSound));
        double u1 = u, v1 = v, u2 = 0.5 * (t->umin + t->umax), v2 = 0.5 * (t->vmin + t->vmax), P[3];
        int clamped = 0;
        if (Chance(0.5)) {
          name = "NewRefineSrfSrfIntrPoint";
          r = NewRefineSrfSrfIntrPoint(b, t, &u1, &v1, &u2, &v2, P, Int(1, 20), &clamped, 1e-6);
          const double o[] = {u1, v1, u2, v2, P[0], P[1], P[2]};
          nOut = 7;
          std::copy(o, o + nOut, out);
        } else {
          name = "FindProjectionUVPointGuess";
          double Q[3] = {0.5, 0.5, 1.0}, D[3] = {0.0, 0.0, -1.0};
          if (defect == kBadArgument) D[Int(0, 2)] = Extreme();
          r = FindProjectionUVPointGuess(b, Q, D, &u1, &v1, Int(1, 20));
          const double o[] = {u1, v1};
          nOut = 2;
          std::copy(o, o + nOut, out);
        }
      } else if (shape == 2) {
        // The curve on a sound surface's parameter plane, through the surface.
        Bspline* owner = other(Make(3, kSound));
        b->owner = owner;
        double C[3] = {}, t = u, distSq = 0.0, stepSq = 0.0;
        const double P[3] = {0.5, 0.5, defect == kBadArgument ? Extreme() : 0.2};
        name = "FindClosestPointCurveOnSurf";
        r = FindClosestPointCurveOnSurf(b, P, C, b->umin, b->umax, &t, &distSq, &stepSq, Int(1, 20));
        const double o[] = {C[0], C[1], C[2], t, distSq};
        nOut = 5;
        std::copy(o, o + nOut, out);
        b->owner = nullptr;
      } else {
        name = "InsertOneKnotToObject";
        const int mode = Int(0, 1);
        const int position = b->degreeU + 1 + Int(0, 2);
        const int ok = InsertOneKnotToObject(Int(1, 3), 0, b, mode, u, position);
        CheckEdit(seed, defect, name + " mode " + std::to_string(mode), b, before, ok != 0);
        break;
      }
      const bool success = r == 0 && !KernelFailedNow();
      tally_.Add(name, success);
      if (success && !Finite(out, nOut)) Fault(seed, defect, name, "success with a non-finite result");
      if (!(Snapshot(b) == before)) Fault(seed, defect, name, "the record changed");
      break;
    }
  }
  ClearKernelError();
}

TEST_F(Torture, EveryEntryPointEndsInSuccessWithFiniteResultsOrCleanFailure) {
  const int cases = 1400;
  for (int seed = 0; seed < cases; ++seed) {
    RunCase(seed);
    if (HasFatalFailure()) return;
  }
  tally_.Print("B-spline entry points under bad and extreme input");
  EXPECT_GE(tally_.Total(), cases);
  EXPECT_EQ(faults_, 0);
}

}  // namespace
