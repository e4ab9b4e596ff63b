#include "bspline/refines2.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "bspline/smake.h"
#include "foundation/geometry.h"
#include "foundation/vec3.h"

namespace {

// The start value of every "previous distance": larger than any squared distance met.

double DistSq3(const double a[3], const double b[3]) {
  const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

// A curve seen in 3D: a space curve directly, a curve in a parameter plane through its owner.
struct Curve3View {
  Bspline* crv;
  bool onSurface;

  explicit Curve3View(Bspline* c) : crv(c), onSurface(c->dimension == 2) {}
  void Eval(double t, int order, double out[3]) const {
    if (onSurface)
      EvalCrvOnSrfArray(crv->owner, crv, t, order, out);
    else
      Eval3DPointOnCurve3Array(crv, t, order, out);
  }
};

// ---- Feet of points: safeguarded Newton on the squared distance -------------------------------
//
// Method. f(x) = |X(x) - P|^2 / 2 over the parameter box, x = t on a curve, (u, v) on a surface.
// With r = X - P, first partials D_i and second partials D_ij:
//   gradient g_i = r . D_i,   Hessian H_ij = D_i . D_j + r . D_ij.
// Each iteration takes the Newton step -H^-1 g on the parameters free to move. A parameter on an
// end of its range whose gradient points out of the range is held there: the constrained minimum
// lies on that edge, and the other parameter runs a 1D Newton along it. Where H is not positive
// definite (far from the foot, or beyond a centre of curvature) the Gauss-Newton step
// -(D^T D)^-1 g replaces it, a descent direction whatever the curvature. A step, no longer than
// the parameter range, is clamped into the box and halved until the distance falls (or, with the
// distance equal within round-off, the gradient shrinks); a Gauss-Newton step that helps at once
// is doubled while it keeps helping; where the step had to be cut, the step in each parameter
// alone is tried as well (a crease of the parameterization along a knot line blocks the joint
// step). The iteration ends when the gradient is round-off, when a step is below kStepFloor of
// the parameter range (of the stretch the object turns over, where shorter), or when steps in the
// round-off regime stop shrinking.
// Quadratic convergence from a good start takes a handful of iterations; the caller's count is
// only the least number allowed.

constexpr double kEps = std::numeric_limits<double>::epsilon();
// A step below this fraction of the parameter range (of the stretch the object turns over, where
// shorter: see RegimeLength) moves the point by round-off only.
constexpr double kStepFloor = 1e-14;
// Steps below this fraction of the range (of the stretch the object turns over, where shorter:
// see RegimeLength) are in the round-off regime of a far-off or far-moved object: there a step that
// does not halve is noise, and the foot is as good as it gets.
constexpr double kNoiseRegime = 1e-8;
// Round-off of a computed point relative to the lengths it is made of (the object's
// control-point diagonal, the point's coordinates, the distance): a B-spline point sums up to
// (p + 1)^2 products, each good to a unit in the last place, and r = X - P adds one more.
constexpr double kRoundOff = 64.0 * kEps;
// A partial whose squared length is below this share of the other's vanishes against it, as
// ComputeSurfaceNormal judges (1e-9 of the other): on or beside a pole it is round-off in a
// direction of its own, which the first fundamental form would take for the surface's.
constexpr double kPartialVanishesSq = 1e-18;
// However few iterations a caller asks for, the refiner may run this many: line searches from a
// far start take a few dozen.
constexpr int kIterationBound = 100;
// A point where the distance curves down along some direction, and P lies within this angle of
// the normal, lies beside a ridge of the distance (see OffARidge).
constexpr double kBesideRidge = 1e-3;

// The least eigenvalue of the symmetric 2 x 2 matrix H (a Hessian of the distance): the
// eigenvalues are *mean -+ *half. e: an eigenvector of the least, unnormalised, from the row of
// H - least farther from nil (nil only where H is a multiple of the unit).
double LeastEigenOf2(const double H[2][2], double* mean, double* half, double e[2]) {
  *mean = 0.5 * (H[0][0] + H[1][1]);
  *half = std::hypot(0.5 * (H[0][0] - H[1][1]), H[0][1]);
  const double least = *mean - *half;
  if (std::fabs(H[0][0] - least) < std::fabs(H[1][1] - least)) e[0] = least - H[1][1], e[1] = H[0][1];
  else e[0] = H[0][1], e[1] = least - H[0][0];
  return least;
}

// A point of the object with its first and second partials (a curve uses D[0] and DD[0]).
struct Jet {
  double X[3];
  double D[2][3];
  double DD[3][3];  // uu, uv, vv
};

void SurfaceJet(const Bspline* srf, double u, double v, Jet& j) {
  static const int du[6] = {0, 1, 0, 2, 1, 0}, dv[6] = {0, 0, 1, 0, 1, 2};
  double out[6][3];
  EvalPointOnGeometryM(srf, u, v, du, dv, 6, 0, out);
  for (int k = 0; k < 3; ++k) {
    j.X[k] = out[0][k];
    j.D[0][k] = out[1][k];
    j.D[1][k] = out[2][k];
    j.DD[0][k] = out[3][k];
    j.DD[1][k] = out[4][k];
    j.DD[2][k] = out[5][k];
  }
}

// SurfaceJet with the net taken relative to the point O: S - O = sum N N w (P - O) / sum N N w.
// Beside a pole (O its point) the pole's row drops out exactly, and the partial round it, as
// short as the distance to the pole, comes from terms as small as itself; the evaluator sums
// the row's whole coordinates (and their weights' slopes) to cancel down to it, which leaves it
// round-off of the coordinates long, in the normal's direction too: within some 1e-8 of the
// size of the pole the gradient of the distance round it is that noise.
void SurfaceJetFrom(const Bspline* srf, const double O[3], double u, double v, Jet& j) {
  static const int orders[3] = {0, 1, 2};
  const int p = srf->degreeU, q = srf->degreeV;
  double tu[3 * (kMaxSplineDegree + 1)], tv[3 * (kMaxSplineDegree + 1)];
  int su = p, sv = q;
  ComputeNubValDerivativesM(srf->knotsU, u, NumKnotsU(srf), p, orders, 3, &su, tu);
  ComputeNubValDerivativesM(srf->knotsV, v, NumKnotsV(srf), q, orders, 3, &sv, tv);
  // Homogeneous sums A(a, b) of the a-th u and b-th v derivatives, a + b <= 2, laid out as
  // ApplyQuotientRule reads a table of orders (2, 2).
  double A[9][4] = {};
  for (int r = 0; r <= q; ++r)
    for (int c = 0; c <= p; ++c) {
      const int row = sv - q + r, col = su - p + c;
      const double w = srf->rational && srf->W ? srf->W[row][col] : 1.0;
      const double h[4] = {w * (srf->X[row][col] - O[0]), w * (srf->Y[row][col] - O[1]),
                           w * (srf->Z[row][col] - O[2]), w};
      for (int a = 0; a <= 2; ++a)
        for (int b = 0; a + b <= 2; ++b) {
          const double n = tu[a * (p + 1) + c] * tv[b * (q + 1) + r];
          for (int k = 0; k < 4; ++k) A[a * 3 + b][k] += n * h[k];
        }
    }
  static const int du[6] = {0, 1, 0, 2, 1, 0}, dv[6] = {0, 0, 1, 0, 1, 2};
  double out[6][3];
  for (int m = 0; m < 6; ++m) {
    // The entries (a, b) up to the request's orders, in the request's own layout.
    double sub[9][4];
    for (int a = 0; a <= du[m]; ++a)
      for (int b = 0; b <= dv[m]; ++b)
        for (int k = 0; k < 4; ++k) sub[a * (dv[m] + 1) + b][k] = A[a * 3 + b][k];
    if (srf->rational && srf->W)
      ApplyQuotientRule(&sub[0][0], du[m], dv[m], 3, out[m]);
    else
      for (int k = 0; k < 3; ++k) out[m][k] = A[du[m] * 3 + dv[m]][k];
  }
  for (int k = 0; k < 3; ++k) {
    j.X[k] = O[k] + out[0][k];
    j.D[0][k] = out[1][k];
    j.D[1][k] = out[2][k];
    j.DD[0][k] = out[3][k];
    j.DD[1][k] = out[4][k];
    j.DD[2][k] = out[5][k];
  }
}

// A curve in space; a curve on a surface by the chain rule through its owner:
// C' = Su u' + Sv v',  C'' = Suu u'^2 + 2 Suv u' v' + Svv v'^2 + Su u'' + Sv v''.
void CurveJet(const Curve3View& curve, double t, Jet& j) {
  static const int du[3] = {0, 1, 2}, dv[3] = {0, 0, 0};
  double c[3][3];
  EvalPointOnGeometryM(curve.crv, t, 0.0, du, dv, 3, 0, c);
  if (!curve.onSurface) {
    for (int k = 0; k < 3; ++k) {
      j.X[k] = c[0][k];
      j.D[0][k] = c[1][k];
      j.DD[0][k] = c[2][k];
    }
    return;
  }
  Jet s;
  SurfaceJet(curve.crv->owner, c[0][0], c[0][1], s);
  const double u1 = c[1][0], v1 = c[1][1], u2 = c[2][0], v2 = c[2][1];
  for (int k = 0; k < 3; ++k) {
    j.X[k] = s.X[k];
    j.D[0][k] = s.D[0][k] * u1 + s.D[1][k] * v1;
    j.DD[0][k] = s.DD[0][k] * u1 * u1 + 2.0 * s.DD[1][k] * u1 * v1 + s.DD[2][k] * v1 * v1 +
                 s.D[0][k] * u2 + s.D[1][k] * v2;
  }
}

enum class FootKind { Interior, OnEdge, NotConverged, Degenerate };

// The iteration's state at one parameter.
template <int N>
struct FootState {
  double x[N];
  Jet jet;
  double r[3];   // X - P
  double f;      // |r|^2 / 2
  double g[N];   // gradient of f
  double noise;  // round-off of a length here (see kRoundOff)
};

template <int N, class Eval>
class FootSearch {
 public:
  // reach: the longest step per parameter (null: the parameter range).
  FootSearch(const Eval& eval, const double P[3], const double lo[N], const double hi[N],
             const double range[N], double size, const double* reach)
      : eval_(eval), P_(P), lo_(lo), hi_(hi), range_(range), reach_(reach ? reach : range), size_(size) {}

  // Runs from result.x (clamped into the box) for at least `iterations`; result receives the
  // last state.
  FootKind Run(FootState<N>& result, int iterations) const {
    FootState<N> spare;
    FootState<N>* s = &result;
    FootState<N>* trial = &spare;
    const FootKind kind = Iterate(s, trial, iterations);
    if (s != &result) result = *s;
    return kind;
  }

 private:
  // The states are swapped, not copied, as the iteration moves on.
  FootKind Iterate(FootState<N>*& s, FootState<N>*& trial, int iterations) const {
    for (int i = 0; i < N; ++i) s->x[i] = Clamp(s->x[i], i);
    Measure(*s);
    const int bound = iterations > kIterationBound ? iterations : kIterationBound;
    double lastStep = 1.0;
    bool ridgeSearched = false;
    for (int it = 0; it < bound; ++it) {
      if (N == 1 && Norm(s->jet.D[0]) * range_[0] <= s->noise) {
        if (!OffVanishingTangent(*s, *trial)) return FootKind::Degenerate;
        std::swap(s, trial);
        lastStep = 1.0;
        continue;
      }
      bool free[N];
      for (int i = 0; i < N; ++i) free[i] = !Held(*s, i) && !Vanishing(*s, i);
      // Beside a ridge, and at every stop, the way down off it is looked for first: there the
      // iteration goes on from below it. Once one gives no way down (a box's edge cuts it off,
      // or the distance has no ridge there but a wild bend in a cluster of knots) the search
      // is not repeated.
      auto offRidge = [&]() {
        bool searched = false;
        if (!OffARidge(*s, *trial, &searched)) {
          ridgeSearched = ridgeSearched || searched;
          return false;
        }
        std::swap(s, trial);
        lastStep = 1.0;
        return true;
      };
      if (!ridgeSearched && offRidge()) continue;
      if (Settled(*s, free)) {
        if (!ridgeSearched && offRidge()) continue;
        return Outcome(*s);
      }
      double d[2][N];
      bool firstOrder[2];
      int directions = 0;
      for (bool withCurvature : {true, false})
        if (Direction(*s, free, withCurvature, d[directions]))
          firstOrder[directions++] = !withCurvature;
      bool moved = false, tiny = false, cut = false;
      for (int k = 0; k < directions && !moved && !tiny; ++k)
        moved = LineSearch(*s, d[k], firstOrder[k], *trial, &tiny, &cut);
      if (N == 2 && (!moved || cut)) {
        FootState<N> alone;
        if (AlongOneParameter(*s, alone) && (!moved || alone.f < trial->f)) {
          *trial = alone;
          moved = true;
        }
      }
      if (!moved) {
        if (!ridgeSearched && offRidge()) continue;
        return Outcome(*s);
      }
      double regimeStep = 0.0;
      // A step clamped onto an end of the box is no measure of convergence: from there the
      // other parameter may still have its whole way to go along the edge.
      bool landed = false;
      for (int i = 0; i < N; ++i) {
        regimeStep = std::fmax(regimeStep, std::fabs(trial->x[i] - s->x[i]) / RegimeLength(*s, i));
        landed = landed || (trial->x[i] != s->x[i] && (trial->x[i] == lo_[i] || trial->x[i] == hi_[i]));
      }
      std::swap(s, trial);
      if (landed) {
        lastStep = 1.0;
        continue;
      }
      if (regimeStep < kStepFloor || (regimeStep < kNoiseRegime && regimeStep > 0.5 * lastStep)) {
        if (!ridgeSearched && offRidge()) continue;
        return Outcome(*s);
      }
      lastStep = regimeStep;
    }
    return FootKind::NotConverged;
  }

  // Where a curve's tangent vanishes (a control point repeated at an end, a cusp) the distance
  // is stationary whether or not it is least there, and a step clamped onto an end can land
  // right on such a point. The distance leaves it along C'' (h^2 / 2 C''): steps of either sign
  // inside the range, from the one that moves the point by about the distance, halved until the
  // distance falls by more than round-off. trial, true; false where it falls nowhere (the foot
  // is on the point).
  bool OffVanishingTangent(const FootState<N>& s, FootState<N>& trial) const {
    const double bend = Norm(s.jet.DD[0]), fNoise = s.noise * (std::sqrt(2.0 * s.f) + s.noise);
    // A bend at round-off too (a curve collapsed to a point) moves the point nowhere.
    if (!(bend * range_[0] * range_[0] > s.noise)) return false;
    for (double h = std::fmin(reach_[0], std::sqrt(2.0 * std::sqrt(2.0 * s.f) / bend)); h >= kStepFloor * range_[0];
         h *= 0.5)
      for (double sign : {1.0, -1.0}) {
        trial.x[0] = Clamp(s.x[0] + sign * h, 0);
        if (trial.x[0] == s.x[0]) continue;
        Measure(trial);
        if (trial.f < s.f - fNoise) return true;
      }
    return false;
  }

  // At a stationary point where the distance curves down along some direction of the free
  // parameters (a ridge: the start on the far side of a tube, a cone or a torus from a point in
  // the plane of symmetry through it, or on the far pole from a point near the axis; on a curve
  // the farthest point, as on a circle the point opposite P, or an end of an arc opposite it)
  // the gradient is round-off, Newton's step nil, and the iteration would stop on the
  // farthest line; a round-off off it, the steps double from round-off, look like noise, and
  // points no nearer within round-off wander about it. The distance falls off it either way
  // along the eigenvector of the Hessian's negative eigenvalue (in parameters scaled to unit
  // partials): a search along it, from a step as long as the distance, finds the way down.
  // It is looked for only where the tangential part of X - P along the free parameters is
  // below kBesideRidge of the distance. trial, true; false where the Hessian is positive
  // definite beyond round-off, or the distance falls nowhere along it by more than round-off
  // (*searched then set). The search halves its step no further than where the fall that the
  // curvature gives would be round-off.
  bool OffARidge(const FootState<N>& s, FootState<N>& trial, bool* searched) const {
    // A parameter held on an end of its range is free to leave it too: on a ridge along a
    // closed seam its gradient is round-off, whichever way it points, and the search clamps the
    // way beyond the end and takes only a point nearer by more than round-off.
    // The tangential part first, without a root: the iteration asks at every stop, and far from
    // a stationary point that is all it takes.
    const Jet& j = s.jet;
    // A curve bending away from P, or not at all (a polyline), curves the distance up.
    if (N == 1 && !(Dot(s.r, j.DD[0]) < 0.0)) return false;
    double dd[2] = {0.0, 0.0}, tangentialSq = 0.0;
    for (int i = 0; i < N; ++i) {
      dd[i] = Dot(j.D[i], j.D[i]);
      // Not Vanishing: the partial is more than round-off.
      if (!(dd[i] * range_[i] * range_[i] > s.noise * s.noise)) {
        dd[i] = 0.0;
        continue;
      }
      // Held on its end by a slope out of the range that is no round-off (a cone's rim nearest
      // a far point): the ridge, if any, runs along that edge, and only the other parameter
      // may leave it.
      const double along = s.g[i] * s.g[i] / dd[i];
      if (Held(s, i) && !(along < kBesideRidge * kBesideRidge * 2.0 * s.f)) dd[i] = 0.0;
      else tangentialSq += along;
    }
    if (!(tangentialSq < kBesideRidge * kBesideRidge * 2.0 * s.f)) return false;
    const double length = std::sqrt(2.0 * s.f), fNoise = s.noise * (length + s.noise);
    if (!(length > 0.0)) return false;
    double scale[2] = {0.0, 0.0}, H[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
    int m = 0;
    for (int i = 0; i < N; ++i)
      if (dd[i] > 0.0) scale[i] = 1.0 / std::sqrt(dd[i]), ++m;
    if (m == 0) return false;
    // The curvature terms take the normal part of r only: at a stationary point r is normal and
    // H is the Hessian itself, and beside it the tangential part, whose product with the second
    // partials of a parameter barely moving the point (round a pole) is no geometry but grows
    // as that partial vanishes, would make a nearest point look like a ridge.
    double rn[3] = {s.r[0], s.r[1], s.r[2]};
    if (m == 2) {
      const double n[3] = {j.D[0][1] * j.D[1][2] - j.D[0][2] * j.D[1][1], j.D[0][2] * j.D[1][0] - j.D[0][0] * j.D[1][2],
                           j.D[0][0] * j.D[1][1] - j.D[0][1] * j.D[1][0]};
      const double nn = Dot(n, n);
      if (!(nn > 0.0)) return false;
      const double along = Dot(s.r, n) / nn;
      for (int k = 0; k < 3; ++k) rn[k] = along * n[k];
    }
    for (int a = 0; a < N; ++a)
      for (int b = 0; b < N; ++b) H[a][b] = (Dot(j.D[a], j.D[b]) + Dot(rn, j.DD[a + b])) * scale[a] * scale[b];
    // With one parameter free (a curve, a surface along a pole) its own curvature is the least:
    // the nil row of the other is no curvature.
    const int only = scale[0] > 0.0 ? 0 : 1;
    // p[0]: the eigenvector of the least eigenvalue; p[1], p[2]: each parameter alone.
    double p[3][2] = {{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}}, mean = H[only][only], half = 0.0, least = mean;
    if (m == 2) least = LeastEigenOf2(H, &mean, &half, p[0]);
    else p[0][0] = only == 0, p[0][1] = only == 1;
    // H's round-off: its terms are the unit metric and r . D_ij scaled. A least curvature nil
    // within it (which takes the round-off of r too, times the second partials: far from the
    // origin that outweighs the terms') may still be a peak: from the far side of a curve's
    // centre of curvature where the curvature is least (an ellipse's minor vertex) the distance
    // falls at fourth order, and the search finds that way down as well.
    const double hessianNoise = 1e3 * kEps * (1.0 + std::fabs(mean) + half);
    double curvatureNoise = hessianNoise;
    for (int i = 0; i < N; ++i) curvatureNoise += s.noise * Norm(j.DD[2 * i]) * scale[i] * scale[i];
    if (!(least <= curvatureNoise)) return false;
    *searched = true;
    // The shortest step worth trying: its fall along the least eigenvalue, least a^2 L^2 / 2,
    // at round-off (with nil curvature the fall at fourth order, as a^4 L^2).
    const double shortest = least < -curvatureNoise ? std::sqrt(2.0 * fNoise / -least) / length
                                                    : std::sqrt(std::sqrt(fNoise) / length);
    // The eigenvector of the least eigenvalue, and each parameter alone where the distance
    // curves down along it: near a pole the cross term of the barely moving parameter round it
    // turns the eigenvector towards that one, and the step along it, cut to its reach, leaves
    // the point where it was.
    for (int k = 0; k < 3; ++k) {
      if (k > 0 && !(N == 2 && scale[k - 1] > 0.0 && H[k - 1][k - 1] < -hessianNoise)) continue;
      const double len = std::hypot(p[k][0], p[k][1]);
      if (!(len > 0.0)) continue;
      for (double sign : {1.0, -1.0}) {
        double d[N], first = 1.0;
        for (int i = 0; i < N; ++i) {
          d[i] = sign * length * p[k][i] / len * scale[i];
          if (std::fabs(d[i]) * first > reach_[i]) first = reach_[i] / std::fabs(d[i]);
        }
        // Halved until the distance falls by more than round-off: a step clamped away to
        // nothing in one parameter and round-off in the other is no way down.
        for (double a = first; a >= shortest; a *= 0.5) {
          double step = 0.0;
          for (int i = 0; i < N; ++i) {
            trial.x[i] = Clamp(s.x[i] + a * d[i], i);
            step = std::fmax(step, std::fabs(trial.x[i] - s.x[i]) / range_[i]);
          }
          if (!(step >= kStepFloor)) break;
          Measure(trial);
          if (trial.f < s.f - fNoise) return true;
        }
      }
    }
    return false;
  }

  // Where the parameterization bends at a knot (a rational surface whose weights jump across a
  // double knot is only G1 there) the distance has a crease along the knot line: a step across
  // it overshoots, the line search cuts it back, and the iteration creeps up to the crease,
  // crossing and recrossing it, while the gradient along the crease stays far from zero. So
  // where the line search had to cut the step, the step in each parameter alone (along the
  // crease or off it) is tried too, and the lowest point of all is taken: trial, true; false
  // when no such step helps.
  bool AlongOneParameter(const FootState<N>& s, FootState<N>& trial) const {
    bool free[N];
    for (int i = 0; i < N; ++i) free[i] = !Held(s, i) && !Vanishing(s, i);
    bool found = false;
    for (int i = 0; i < N; ++i) {
      if (!free[i] || Flat(s, i)) continue;
      bool one[N];
      for (int k = 0; k < N; ++k) one[k] = k == i;
      for (bool withCurvature : {true, false}) {
        double d[N];
        bool tiny = false, cut = false;
        FootState<N> next;
        if (!Direction(s, one, withCurvature, d) || !LineSearch(s, d, !withCurvature, next, &tiny, &cut)) continue;
        if (!found || next.f < trial.f) trial = next;
        found = true;
        break;
      }
    }
    return found;
  }

  // The length of parameter i that the round-off regime's steps are measured against: the range,
  // or the stretch of that parameter over which the tangent along it turns, |X_i| / |X_ii|, where
  // that is shorter. Within a cluster of knots a curve (a surface along the parameter) turns a
  // corner over a stretch far below kNoiseRegime of the range, and steps that are noise against
  // the range are its whole way there; the noise of a step is no larger against that stretch
  // (the distance's curvature there is the object's).
  double RegimeLength(const FootState<N>& s, int i) const {
    const double bend = Norm(s.jet.DD[2 * i]), speed = Norm(s.jet.D[i]);
    return speed > 0.0 && bend * range_[i] > speed ? speed / bend : range_[i];
  }

  static double Dot(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  }
  static double Norm(const double a[3]) { return std::sqrt(Dot(a, a)); }

  double Clamp(double x, int i) const { return x < lo_[i] ? lo_[i] : (x > hi_[i] ? hi_[i] : x); }

  void Measure(FootState<N>& s) const {
    eval_(s.x, s.jet);
    double big = 0.0;
    for (int k = 0; k < 3; ++k) {
      s.r[k] = s.jet.X[k] - P_[k];
      big = std::fmax(big, std::fabs(s.jet.X[k]));
    }
    const double rr = Dot(s.r, s.r);
    s.f = 0.5 * rr;
    s.noise = kRoundOff * (size_ + std::sqrt(rr) + big);
    for (int i = 0; i < N; ++i) s.g[i] = Dot(s.r, s.jet.D[i]);
  }

  // On an end of its range with the gradient pointing out: the parameter stays there.
  bool Held(const FootState<N>& s, int i) const {
    return (s.x[i] <= lo_[i] && s.g[i] > 0.0) || (s.x[i] >= hi_[i] && s.g[i] < 0.0);
  }
  // The partial of parameter i is round-off (on a pole): the parameter moves no point, its
  // gradient is noise, and a step in it would wander along the pole.
  bool Vanishing(const FootState<N>& s, int i) const { return Norm(s.jet.D[i]) * range_[i] <= s.noise; }
  // The gradient of parameter i is round-off.
  bool Flat(const FootState<N>& s, int i) const {
    return std::fabs(s.g[i]) <= s.noise * Norm(s.jet.D[i]);
  }
  bool Settled(const FootState<N>& s, const bool free[N]) const {
    for (int i = 0; i < N; ++i)
      if (free[i] && !Flat(s, i)) return false;
    return true;
  }
  FootKind Outcome(const FootState<N>& s) const {
    for (int i = 0; i < N; ++i)
      if (Held(s, i) && !Flat(s, i)) return FootKind::OnEdge;
    return FootKind::Interior;
  }
  // The tangential part of r over the free parameters, squared: the merit that must shrink
  // when the distance is equal within round-off.
  double FreeGradient(const FootState<N>& s) const {
    double sum = 0.0;
    for (int i = 0; i < N; ++i) {
      const double dd = Dot(s.jet.D[i], s.jet.D[i]);
      if (!Held(s, i) && dd > 0.0) sum += s.g[i] * s.g[i] / dd;
    }
    return sum;
  }

  // Newton (withCurvature) or Gauss-Newton step on the free parameters; false when the matrix
  // is not positive definite there. With no usable Gauss-Newton matrix (a vanishing partial),
  // steepest descent scaled by the partials stands in.
  bool Direction(const FootState<N>& s, const bool free[N], bool withCurvature, double d[N]) const {
    double H[2][2];
    const Jet& j = s.jet;
    for (int a = 0; a < N; ++a)
      for (int b = a; b < N; ++b) {
        H[a][b] = Dot(j.D[a], j.D[b]) + (withCurvature ? Dot(s.r, j.DD[a + b]) : 0.0);
        H[b][a] = H[a][b];
      }
    for (int i = 0; i < N; ++i) d[i] = 0.0;
    int idx[2], m = 0;
    for (int i = 0; i < N; ++i)
      if (free[i]) idx[m++] = i;
    if (m == 0) return false;
    if (m == 1) {
      const int i = idx[0];
      if (!(H[i][i] > kEps * Dot(j.D[i], j.D[i])))
        return !withCurvature && SteepestDescent(s, free, d);
      d[i] = -s.g[i] / H[i][i];
      return true;
    }
    if (N != 2) return false;  // two free parameters are a surface's
    const double det = H[0][0] * H[1][1] - H[0][1] * H[1][0];
    if (!(H[0][0] > 0.0 && det > 1e3 * kEps * H[0][0] * H[1][1])) {
      if (withCurvature) return N == 2 && SaddleFree(s, H, d);
      return SteepestDescent(s, free, d);
    }
    d[0] = (-s.g[0] * H[1][1] + s.g[1] * H[0][1]) / det;
    d[1] = (-s.g[1] * H[0][0] + s.g[0] * H[1][0]) / det;
    return true;
  }
  // Where the distance curves down along one direction (beyond a centre of curvature, or far
  // along a nearly flat valley round a tube) the Gauss-Newton step is as short as the gradient
  // along the valley and the iteration zigzags across it. So the Newton step is taken with each
  // eigenvalue of H replaced by its magnitude: downhill along both eigenvectors, Newton's step
  // across the valley and a long one along it, which the line search halves. The eigenvectors
  // are those of H in parameters scaled to unit partials; an eigenvalue below round-off of the
  // larger one counts as that round-off.
  bool SaddleFree(const FootState<N>& s, const double H[2][2], double d[N]) const {
    double scale[2];
    for (int i = 0; i < 2; ++i) {
      const double dd = Dot(s.jet.D[i], s.jet.D[i]);
      if (!(dd > 0.0)) return false;
      scale[i] = 1.0 / std::sqrt(dd);
    }
    const double a = H[0][0] * scale[0] * scale[0], b = H[0][1] * scale[0] * scale[1];
    const double c = H[1][1] * scale[1] * scale[1];
    const double g[2] = {s.g[0] * scale[0], s.g[1] * scale[1]};
    const double mean = 0.5 * (a + c), half = std::hypot(0.5 * (a - c), b);
    const double lambda[2] = {mean + half, mean - half};
    const double floor = 1e3 * kEps * std::fmax(std::fabs(lambda[0]), std::fabs(lambda[1]));
    if (!(floor > 0.0)) return false;
    // Unit eigenvector of the larger eigenvalue; the other is its perpendicular.
    double q[2] = {b, lambda[0] - a};
    if (std::fabs(a - lambda[0]) < std::fabs(c - lambda[0])) {
      q[0] = lambda[0] - c;
      q[1] = b;
    }
    double len = std::hypot(q[0], q[1]);
    if (!(len > 0.0)) q[0] = 1.0, q[1] = 0.0, len = 1.0;
    q[0] /= len;
    q[1] /= len;
    const double p[2] = {-q[1], q[0]};
    const double gq = g[0] * q[0] + g[1] * q[1], gp = g[0] * p[0] + g[1] * p[1];
    const double sq = -gq / std::fmax(std::fabs(lambda[0]), floor), sp = -gp / std::fmax(std::fabs(lambda[1]), floor);
    d[0] = (sq * q[0] + sp * p[0]) * scale[0];
    d[1] = (sq * q[1] + sp * p[1]) * scale[1];
    return std::isfinite(d[0]) && std::isfinite(d[1]);
  }
  bool SteepestDescent(const FootState<N>& s, const bool free[N], double d[N]) const {
    double dd = 0.0;
    for (int i = 0; i < N; ++i) dd += Dot(s.jet.D[i], s.jet.D[i]);
    if (!(dd > 0.0)) return false;
    for (int i = 0; i < N; ++i) d[i] = free[i] ? -s.g[i] / dd : 0.0;
    return true;
  }

  // Halves the clamped step along d until it helps; *tiny when even the whole step is below
  // the step floor (nothing left to gain in any direction), *cut when the step taken is shorter
  // than the whole one. A first-order step (expand) that helps at once is doubled while the
  // distance keeps falling: where the distance is nearly flat (a point near a centre of
  // curvature) the Gauss-Newton step is far too short.
  bool LineSearch(const FootState<N>& s, const double d[N], bool expand, FootState<N>& trial,
                  bool* tiny, bool* cut) const {
    const double fNoise = s.noise * (std::sqrt(2.0 * s.f) + s.noise);
    // A point no nearer within round-off is taken only where its gradient is at most half as
    // steep: two points equally far either side of a foot (on a shape symmetric about it) have
    // equal gradients, and a step from either to the other would be taken forever.
    const double merit = 0.25 * FreeGradient(s);
    // No step longer than the parameter range: beyond it the clamp would repeat one point (and
    // round a closed direction no longer than a quarter of it: the foot is at most half a period
    // away, and a step of half a period from where the distance round a thin tube is steepest
    // lands where it is as steep the other way, so the iteration would swing between the two
    // while the whole step, the other parameter's part too, is cut to that length).
    double first = 1.0;
    for (int i = 0; i < N; ++i)
      if (std::fabs(d[i]) * first > reach_[i]) first = reach_[i] / std::fabs(d[i]);
    for (double a = first;; a *= 0.5) {
      double step = 0.0;
      for (int i = 0; i < N; ++i) {
        trial.x[i] = Clamp(s.x[i] + a * d[i], i);
        step = std::fmax(step, std::fabs(trial.x[i] - s.x[i]) / RegimeLength(s, i));
      }
      if (!(step >= kStepFloor)) {
        *tiny = a == first;
        return false;
      }
      Measure(trial);
      if (trial.f < s.f || (trial.f <= s.f + fNoise && FreeGradient(trial) < merit)) {
        if (expand && a == first) Expand(s, d, trial, a);
        *cut = a < first;
        return true;
      }
    }
  }
  void Expand(const FootState<N>& s, const double d[N], FootState<N>& trial, double from) const {
    FootState<N> next;
    for (double a = 2.0 * from; a < 1e18 * from; a *= 2.0) {
      bool same = true;
      for (int i = 0; i < N; ++i) {
        next.x[i] = Clamp(s.x[i] + a * d[i], i);
        same = same && next.x[i] == trial.x[i];
      }
      if (same) return;
      Measure(next);
      if (!(next.f < trial.f)) return;
      trial = next;
    }
  }

  const Eval& eval_;
  const double* P_;
  const double* lo_;
  const double* hi_;
  const double* range_;
  const double* reach_;
  double size_;
};

template <int N, class Eval>
FootKind FindFoot(const Eval& eval, const double P[3], const double lo[N], const double hi[N],
                  const double range[N], double size, int iterations, FootState<N>& s,
                  const double* reach = nullptr) {
  return FootSearch<N, Eval>(eval, P, lo, hi, range, size, reach).Run(s, iterations);
}

// An interior knot of full multiplicity (at least the degree p) of the m knots k is where a
// curve may turn a corner and a surface have a crease. So is each end of a cluster: a run of at
// least p knots each closer than kNoiseRegime of the domain to the next, where the curve turns
// within a stretch of parameters below the steps the iteration can tell from noise. The nearest
// break of [lo, hi] strictly after t (dir > 0) or strictly before it (dir < 0), or that end of
// [lo, hi] when there is none.
double NextBreak(const double* k, int p, int m, double t, int dir, double lo, double hi) {
  const double gap = kNoiseRegime * (k[m - p - 1] - k[p]);
  // The first and the last index of the run of knots holding index i.
  auto runStart = [&](int i) {
    while (i > 0 && k[i] - k[i - 1] <= gap) --i;
    return i;
  };
  auto runEnd = [&](int i) {
    while (i + 1 < m && k[i + 1] - k[i] <= gap) ++i;
    return i;
  };
  // The value held by indices [i, e) of the run [s, f] is a break.
  auto isBreak = [p](int i, int e, int s, int f) {
    return e - i >= p || ((i == s || e == f + 1) && f - s + 1 >= p);
  };
  auto inside = [&](double c) { return (dir > 0 ? c > t : c < t) && c > lo && c < hi; };
  // Knots are non-decreasing: the first one past t, then run by run and value by value in the
  // direction asked (the first run may begin on the near side of t).
  int a = 0, b = m;
  while (a < b) {
    const int mid = a + (b - a) / 2;
    if (dir > 0 ? !(t < k[mid]) : k[mid] < t) a = mid + 1;
    else b = mid;
  }
  if (dir > 0) {
    for (int s = a < m ? runStart(a) : m; s < m && k[s] < hi;) {
      const int f = runEnd(s);
      for (int i = s; i <= f;) {
        int e = i;
        while (e <= f && k[e] == k[i]) ++e;
        if (isBreak(i, e, s, f) && inside(k[i])) return k[i];
        i = e;
      }
      s = f + 1;
    }
    return hi;
  }
  for (int f = a > 0 ? runEnd(a - 1) : -1; f >= 0 && k[f] > lo;) {
    const int s = runStart(f);
    for (int e = f; e >= s;) {
      int i = e;
      while (i >= s && k[i] == k[e]) --i;
      if (isBreak(i + 1, e + 1, s, f) && inside(k[e])) return k[e];
      e = i;
    }
    f = s - 1;
  }
  return lo;
}

double NextBreak(const Bspline* c, double t, int dir, double lo, double hi) {
  return NextBreak(c->knotsU, c->degreeU, NumKnotsU(c), t, dir, lo, hi);
}

// Foot on a curve; the results as FindClosestPointCurve3 documents them. A foot held at an end
// of [tmin, tmax] by a gradient pointing out of it is the constrained minimum and keeps the
// "not converged" result its callers know. The tolerances are relative to `size`, the
// control-point box diagonal of the curve (of its owner for a curve on a surface), taken here
// when negative.
// Method: Newton converges on each smooth piece, not towards a corner (at a corner the
// distance has no stationary point, and every step overshoots it and is halved). So the
// iteration runs on the piece between the corners around the start; a foot held on a corner
// goes on from there into the piece beyond, downhill, so a walk never turns back and visits
// each piece once. A corner that neither of its pieces descends from is the foot, exactly. A
// curve without corners is one piece.
int ClosestPointOnCurve(const Curve3View& curve, double size, const double P[3], double C[3], double tmin,
                        double tmax, double* t, double* distSq, double* stepSq, int iterations) {
  const Bspline* c = curve.crv;
  if (size < 0.0) size = ControlPointDiagonal(curve.onSurface ? c->owner : c);
  // A range reaching beyond the domain is cut to it (one wholly beyond it to its nearer end):
  // no parameter handed back lies outside the domain.
  tmin = std::fmin(std::fmax(tmin, c->umin), c->umax);
  tmax = std::fmin(std::fmax(tmax, c->umin), c->umax);
  if (tmax < tmin) tmax = tmin;
  const double range[1] = {c->umax > c->umin ? c->umax - c->umin : 1.0};
  FootState<1> s;
  s.x[0] = *t < tmin ? tmin : (*t > tmax ? tmax : *t);
  auto search = [&](double lo, double hi) {
    const double pieceLo[1] = {lo}, pieceHi[1] = {hi};
    // On a corner the piece's own derivatives: the evaluator would take one side's, whichever
    // piece asks. They are those a parameter's last place inside the piece gives. An end of
    // [tmin, tmax] may be a corner of the curve too.
    auto jet = [&curve, c, lo, hi](const double* x, Jet& j) {
      const bool onLo = x[0] == lo && lo > c->umin, onHi = x[0] == hi && hi < c->umax;
      if (!onLo && !onHi) return CurveJet(curve, x[0], j);
      Jet at;
      CurveJet(curve, x[0], at);
      CurveJet(curve, std::nextafter(x[0], onLo ? hi : lo), j);
      for (int k = 0; k < 3; ++k) j.X[k] = at.X[k];
    };
    return FindFoot<1>(jet, P, pieceLo, pieceHi, range, size, iterations, s);
  };
  // The piece [lo, hi) holding x: on a corner, the piece after it.
  auto pieceAt = [&](double x, double* lo, double* hi) {
    *hi = NextBreak(c, x, 1, tmin, tmax);
    *lo = NextBreak(c, *hi, -1, tmin, tmax);
  };
  // The walk from s.x over the pieces, downhill from corner to corner.
  auto walk = [&]() {
    double lo, hi;
    pieceAt(s.x[0], &lo, &hi);
    FootKind kind = search(lo, hi);
    int dir = 0;
    if (s.x[0] == lo && lo > tmin) {  // no descent after the corner started on: the piece before
      hi = lo;
      lo = NextBreak(c, hi, -1, tmin, tmax);
      kind = search(lo, hi);
      dir = -1;
    }
    // Each move lowers the distance; the bound only guards against a distance flat at round-off.
    for (int moves = NumKnotsU(c) + 8; moves > 0 && (kind == FootKind::Interior || kind == FootKind::OnEdge); --moves) {
      const bool atHi = s.x[0] == hi && hi < tmax && dir >= 0, atLo = s.x[0] == lo && lo > tmin && dir <= 0;
      if (!atHi && !atLo) break;
      const double corner = s.x[0];
      const FootState<1> before = s;
      dir = atHi ? 1 : -1;
      lo = dir > 0 ? corner : NextBreak(c, corner, -1, tmin, tmax);
      hi = dir > 0 ? NextBreak(c, corner, 1, tmin, tmax) : corner;
      // Far from the foot, piece after piece would be slow: the foot on the tangent line there, if
      // it lies beyond the next piece and nearer P, is taken as a new start, as Newton would.
      const double dd = VecDotProd3(s.jet.D[0], s.jet.D[0]);
      if (dd > 0.0) {
        double to = corner - s.g[0] / dd;
        to = to < tmin ? tmin : (to > tmax ? tmax : to);
        if (dir > 0 ? to > hi : to < lo) {
          s.x[0] = to;
          Jet j;
          CurveJet(curve, to, j);
          const double r[3] = {j.X[0] - P[0], j.X[1] - P[1], j.X[2] - P[2]};
          if (0.5 * VecDotProd3(r, r) < before.f) pieceAt(to, &lo, &hi), dir = 0;
          else s.x[0] = corner;
        }
      }
      kind = search(lo, hi);
      if (s.x[0] == corner || !(s.f <= before.f)) {
        s = before;
        kind = FootKind::OnEdge;
        break;
      }
    }
    // Held on a corner that neither side descends from: the foot is on it.
    if (kind == FootKind::OnEdge && s.x[0] > tmin && s.x[0] < tmax) kind = FootKind::Interior;
    return kind;
  };
  FootKind kind = walk();
  // A closed curve searched over its whole domain has no ends: a foot held on one (the
  // distance still falling across the seam) goes on from the other, as the surface refiner
  // crosses a closed seam.
  if (c->closedU && kind == FootKind::OnEdge && tmin == c->umin && tmax == c->umax && tmax > tmin &&
      (s.x[0] == tmin || s.x[0] == tmax)) {
    const FootState<1> before = s;
    s.x[0] = s.x[0] == tmin ? tmax : tmin;
    const double otherEnd = s.x[0];
    const FootKind across = walk();
    if (s.f < before.f) {
      kind = across;
    } else {
      // Neither side descends from the seam: the foot is on it.
      if (s.x[0] == otherEnd) kind = FootKind::Interior;
      s = before;
    }
  }
  *t = s.x[0];
  for (int k = 0; k < 3; ++k) C[k] = s.jet.X[k];
  *distSq = 2.0 * s.f;
  // The last step: from C to the foot of P on the tangent line.
  const double dd = VecDotProd3(s.jet.D[0], s.jet.D[0]);
  *stepSq = kind == FootKind::Degenerate || !(dd > 0.0) ? kNoValue : s.g[0] * s.g[0] / dd;
  return kind == FootKind::Interior ? 0 : -2;
}

// A side whose control points lie this close together, relative to the surface's size (and to
// round-off of their coordinates), is one point: a pole or an apex.
constexpr double kCollapsedSide = 1e-12;

// Whether the side of srf where parameter dir (0 u, 1 v) is at its low (end 0) or high end is
// collapsed to one point.
bool CollapsedSide(const Bspline* srf, int dir, int end, double size) {
  const int nu = NumCtrlU(srf), nv = NumCtrlV(srf);
  const int n = dir == 0 ? nv : nu, fixed = end ? (dir == 0 ? nu - 1 : nv - 1) : 0;
  auto at = [&](int k, double q[3]) {
    const int i = dir == 0 ? fixed : k, j = dir == 0 ? k : fixed;
    q[0] = srf->X[j][i];
    q[1] = srf->Y[j][i];
    q[2] = srf->Z[j][i];
  };
  double first[3], q[3];
  at(0, first);
  const double tol = kCollapsedSide * size + kRoundOff * (std::fabs(first[0]) + std::fabs(first[1]) + std::fabs(first[2]));
  for (int k = 1; k < n; ++k) {
    at(k, q);
    if (!(DistSq3(first, q) <= tol * tol)) return false;
  }
  return true;
}

// A point within round-off of a collapsed side's point (as CollapsedSide measures), and the
// share of the parameter range from the side within which a point is looked at so.
bool OnCollapsedSide(const Bspline* srf, int dir, int end, double size, const double X[3]) {
  const int i = dir == 0 && end ? NumCtrlU(srf) - 1 : 0, j = dir == 1 && end ? NumCtrlV(srf) - 1 : 0;
  const double q[3] = {srf->X[j][i], srf->Y[j][i], srf->Z[j][i]};
  const double tol = kCollapsedSide * size + kRoundOff * (std::fabs(q[0]) + std::fabs(q[1]) + std::fabs(q[2]));
  return DistSq3(X, q) <= tol * tol;
}
constexpr double kBesideSide = 1e-6;
// A result within this share of the parameter range of a crease may have stalled beside it.
constexpr double kBesideCrease = 1e-4;

// Samples of a collapsed side searched for the best way off it, per control point along it (at
// least kLeastSideSamples): enough to bracket the least slope between two neighbours.
constexpr int kSideSamplesPerPoint = 4;
constexpr int kLeastSideSamples = 32;

// At a foot on a collapsed side every parameter along the side gives the same point, and the
// iteration stops wherever along it it arrived; but the distance may fall off the side in the
// direction another parameter leads. The slope of the distance off the side along parameter
// dir, per unit length, is sign (X - P) . D_dir / |D_dir| (sign + at the low end, - at the high
// end). Its least value over the side (in [lo, hi] of the other parameter) is found by samples
// and a golden-section search between the best one's neighbours: it is returned, *along set
// where it is taken.
double LeastSlopeOffCollapsedSide(const Bspline* srf, const double P[3], int dir, int end, double lo,
                                  double hi, double* along) {
  const int other = 1 - dir;
  const double side = end ? (dir == 0 ? srf->umax : srf->vmax) : (dir == 0 ? srf->umin : srf->vmin);
  const double sign = end ? -1.0 : 1.0;
  const int du[2] = {0, dir == 0 ? 1 : 0}, dv[2] = {0, dir == 1 ? 1 : 0};
  auto slope = [&](double a) {
    double out[2][3];
    const double uu = other == 0 ? a : side, vv = other == 0 ? side : a;
    if (EvalPointOnGeometryM(srf, uu, vv, du, dv, 2, 0, out) != 0) return 0.0;
    const double len = std::sqrt(VecDotProd3(out[1], out[1]));
    if (!(len > 0.0)) return 0.0;
    const double r[3] = {out[0][0] - P[0], out[0][1] - P[1], out[0][2] - P[2]};
    return sign * VecDotProd3(r, out[1]) / len;
  };
  const int points = other == 0 ? NumCtrlU(srf) : NumCtrlV(srf);
  const int n = std::max(kLeastSideSamples, kSideSamplesPerPoint * points);
  const double h = (hi - lo) / n;
  int best = 0;
  double bestSlope = slope(lo);
  for (int k = 1; k <= n; ++k) {
    const double s = slope(k == n ? hi : lo + k * h);
    if (s < bestSlope) bestSlope = s, best = k;
  }
  double a = best > 0 ? lo + (best - 1) * h : lo, b = best < n ? lo + (best + 1) * h : hi;
  double x = best == n ? hi : lo + best * h;
  // Golden section on [a, b] about x, to a parameter step at round-off of the range.
  const double g = 0.5 * (3.0 - std::sqrt(5.0));
  for (int it = 0; it < 200 && b - a > kStepFloor * (hi - lo); ++it) {
    const double y = x - a > b - x ? x - g * (x - a) : x + g * (b - x);
    const double sy = slope(y);
    if (sy < bestSlope) {
      (y < x ? b : a) = x;
      x = y;
      bestSlope = sy;
    } else {
      (y < x ? a : b) = y;
    }
  }
  *along = x;
  return bestSlope;
}

// With P on the axis of a pole (the least slope off the side a round-off from zero) the first
// derivative of the distance off the side vanishes along every parameter of it, and only the
// second tells a nearest point (P beyond the pole) from a farthest one (P towards the far pole
// or the centre): the search then starts again this share of the range off the side, far
// enough for the distance's second-order fall there to stand well above round-off.
constexpr double kOffSideTrial = 1e-3;
// Within this share of the parameter range of a pole the partial round it is short enough for
// the evaluator's round-off to swamp the gradient round the pole (see SurfaceJetFrom).
constexpr double kBesidePole = 1e-2;

// Whether x lies within kBesidePole of the range from the side (dir, end).
bool BesideSide(const Bspline* srf, int dir, int end, const double x[2]) {
  const double lo = dir == 0 ? srf->umin : srf->vmin, hi = dir == 0 ? srf->umax : srf->vmax;
  return std::fabs(x[dir] - (end ? hi : lo)) <= kBesidePole * (hi - lo);
}

// The squared tangential part of X - P at a surface state, along each partial but those within
// round-off of nil (round a pole) and those held on an end of [lo, hi] by a slope out of it.
double TangentialSq(const FootState<2>& s, const double lo[2], const double hi[2]) {
  double sum = 0.0;
  for (int i = 0; i < 2; ++i) {
    const double dd = VecDotProd3(s.jet.D[i], s.jet.D[i]);
    const bool held = (s.x[i] <= lo[i] && s.g[i] > 0.0) || (s.x[i] >= hi[i] && s.g[i] < 0.0);
    if (dd > s.noise * s.noise && !held) sum += s.g[i] * s.g[i] / dd;
  }
  return sum;
}

// Foot on a surface; the results as FindClosestUVPointGuessDist documents them. A foot on a
// collapsed side of the domain is an answer only when the distance rises off the side in every
// direction: otherwise the search starts again from the side, along the way down.
int ClosestPointOnSurface(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                          double* dist, double* stepSq, int iterations, double normal[3],
                          const double* box = nullptr) {
  // A box reaching beyond the domain is cut to it (one wholly beyond it to its nearest edge
  // or corner): no parameter handed back lies outside the domain.
  const double dlo[2] = {srf->umin, srf->vmin}, dhi[2] = {srf->umax, srf->vmax};
  double lo[2], hi[2];
  for (int i = 0; i < 2; ++i) {
    lo[i] = box ? std::fmin(std::fmax(box[2 * i], dlo[i]), dhi[i]) : dlo[i];
    hi[i] = box ? std::fmin(std::fmax(box[2 * i + 1], dlo[i]), dhi[i]) : dhi[i];
  }
  const double range[2] = {srf->umax > srf->umin ? srf->umax - srf->umin : 1.0,
                           srf->vmax > srf->vmin ? srf->vmax - srf->vmin : 1.0};
  const double size = ControlPointDiagonal(srf);
  bool whole[2];
  double reach[2];
  for (int i = 0; i < 2; ++i) {
    whole[i] = lo[i] == (i == 0 ? srf->umin : srf->vmin) && hi[i] == (i == 0 ? srf->umax : srf->vmax);
    reach[i] = whole[i] && (i == 0 ? srf->closedU : srf->closedV) ? 0.25 * range[i] : range[i];
  }
  FootState<2> s;
  s.x[0] = *u;
  s.x[1] = *v;
  // The box searched: the caller's, or one piece of it between creases (below).
  double boxLo[2] = {lo[0], lo[1]}, boxHi[2] = {hi[0], hi[1]};
  // On an edge of the box inside the domain the box's own derivatives: the evaluator takes
  // those of the span beyond a knot line, which on a crease (a knot of full multiplicity) are
  // another piece's. They are those a parameter's last place inside the box gives.
  auto jet = [srf, &boxLo, &boxHi, &dlo, &dhi](const double* x, Jet& j) {
    double inside[2] = {x[0], x[1]};
    bool onEdge = false;
    for (int i = 0; i < 2; ++i)
      if (boxLo[i] < boxHi[i] &&
          ((x[i] == boxLo[i] && boxLo[i] > dlo[i]) || (x[i] == boxHi[i] && boxHi[i] < dhi[i]))) {
        inside[i] = std::nextafter(x[i], x[i] == boxLo[i] ? boxHi[i] : boxLo[i]);
        onEdge = true;
      }
    if (!onEdge) return SurfaceJet(srf, x[0], x[1], j);
    Jet at;
    SurfaceJet(srf, x[0], x[1], at);
    SurfaceJet(srf, inside[0], inside[1], j);
    for (int k = 0; k < 3; ++k) j.X[k] = at.X[k];
  };
  FindFoot<2>(jet, P, lo, hi, range, size, iterations, s, reach);
  // A start on the far side of a closed seam or a pole ends held on that edge: from there the
  // search goes on across the seam (when the whole period is searched) or off the pole. Each
  // restart lowers the distance, so there are few.
  for (int restarts = 0; restarts < 8; ++restarts) {
    bool moved = false;
    for (int dir = 0; dir < 2 && !moved; ++dir)
      for (int end = 0; end < 2 && !moved; ++end) {
        const double edge = end ? (dir == 0 ? srf->umax : srf->vmax) : (dir == 0 ? srf->umin : srf->vmin);
        // Beside a collapsed side the partial along it vanishes, and the iteration may stop a
        // round-off short of the side, on its point all the same.
        const bool atEdge = s.x[dir] == edge;
        if (!atEdge && !(std::fabs(s.x[dir] - edge) <= kBesideSide * range[dir])) continue;
        // The search from (x0 along dir, x1 across): taken where it ends nearer.
        auto searchFrom = [&](double x0, double x1) {
          FootState<2> t;
          t.x[dir] = x0;
          t.x[1 - dir] = x1;
          FindFoot<2>(jet, P, lo, hi, range, size, iterations, t, reach);
          if (t.f < s.f) {
            s = t;
            moved = true;
          }
        };
        const bool closed = dir == 0 ? srf->closedU : srf->closedV;
        if (atEdge && closed && whole[dir] && (end ? s.g[dir] < 0.0 : s.g[dir] > 0.0)) {
          searchFrom(end ? lo[dir] : hi[dir], s.x[1 - dir]);
          continue;
        }
        if (!CollapsedSide(srf, dir, end, size) || (!atEdge && !OnCollapsedSide(srf, dir, end, size, s.jet.X)))
          continue;
        double along;
        const double slope = LeastSlopeOffCollapsedSide(srf, P, dir, end, lo[1 - dir], hi[1 - dir], &along);
        if (slope < 0.0) searchFrom(edge, along);
        if (!moved && slope <= s.noise) {
          const double off = edge + (end ? -kOffSideTrial : kOffSideTrial) * range[dir];
          searchFrom(std::fmin(std::fmax(off, lo[dir]), hi[dir]), along);
        }
      }
    if (!moved) break;
  }
  // Across a crease (an interior knot line of full multiplicity) the distance has a kink that
  // Newton steps, taking one piece's derivatives, cross and recross: the iteration stalls
  // beside it, up to some 1e-9 of the range off and further along it. So a result beside a
  // crease is searched again on each piece it borders (the four pieces round two crossing
  // creases), whose edge on the crease takes that piece's derivatives: a foot on the crease is
  // held on it, the other parameter running along the crease, and lands on the knot exactly.
  // The lowest of these is the foot. The stalled result is not among them: beside a crease the
  // distance falls by no more than round-off over a stretch along it where the gradient is far
  // from round-off.
  // A cluster of knots has a break at either end (see NextBreak): beside it the pieces are the
  // one before it, the stretch within it and the one after it.
  double near[2][5], crease[2];
  int ranges[2];
  for (int i = 0; i < 2; ++i) {
    const double* k = i == 0 ? srf->knotsU : srf->knotsV;
    const int p = i == 0 ? srf->degreeU : srf->degreeV, m = i == 0 ? NumKnotsU(srf) : NumKnotsV(srf);
    const double after = NextBreak(k, p, m, s.x[i], 1, lo[i], hi[i]);
    const double before = NextBreak(k, p, m, after, -1, lo[i], hi[i]);
    double& c = crease[i];
    c = kNoValue;
    if (after < hi[i] && after - s.x[i] <= kBesideCrease * range[i]) c = after;
    if (before > lo[i] && s.x[i] - before <= kBesideCrease * range[i]) c = before;
    if (c == kNoValue) {
      ranges[i] = 1;
      near[i][0] = lo[i];
      near[i][1] = hi[i];
      continue;
    }
    // A stretch this short between two breaks is a cluster's (its knots each kNoiseRegime apart).
    const double cluster = p * kNoiseRegime * range[i];
    const double below = NextBreak(k, p, m, c, -1, lo[i], hi[i]), above = NextBreak(k, p, m, c, 1, lo[i], hi[i]);
    double* edge = near[i];
    int count = 0;
    if (below > lo[i] && c - below <= cluster) edge[count++] = NextBreak(k, p, m, below, -1, lo[i], hi[i]);
    edge[count++] = below;
    edge[count++] = c;
    edge[count++] = above;
    if (above < hi[i] && above - c <= cluster) edge[count++] = NextBreak(k, p, m, above, 1, lo[i], hi[i]);
    ranges[i] = count - 1;
  }
  if (ranges[0] > 1 || ranges[1] > 1) {
    const double from[2] = {s.x[0], s.x[1]};
    FootState<2> best;
    bool first = true;
    for (int a = 0; a < ranges[0]; ++a)
      for (int b = 0; b < ranges[1]; ++b) {
        boxLo[0] = near[0][a], boxHi[0] = near[0][a + 1];
        boxLo[1] = near[1][b], boxHi[1] = near[1][b + 1];
        // From the crease itself (the piece's end nearest it): there the gradient tells at once
        // whether the piece descends from it, and a foot on it is held there from the first step.
        FootState<2> t;
        for (int i = 0; i < 2; ++i)
          t.x[i] = ranges[i] > 1 ? std::fmin(std::fmax(crease[i], boxLo[i]), boxHi[i]) : from[i];
        FindFoot<2>(jet, P, boxLo, boxHi, range, size, iterations, t, reach);
        if (first || t.f < best.f) best = t;
        first = false;
      }
    // A piece within a cluster may be narrower than the steps the search tells from noise, and
    // its search stop at once where it began, on the cluster's far knot: the result it started
    // from stays when it is nearer by more than round-off.
    if (!(std::sqrt(2.0 * s.f) + s.noise < std::sqrt(2.0 * best.f))) s = best;
  }
  // Beside a pole the foot is taken again from the surface seen from the pole's point (see
  // SurfaceJetFrom), where the gradient round it is no longer noise. The distance there changes
  // round the pole by less than its round-off, so feet are told apart by their tangential
  // residual instead; the foot found stays where its distance is within round-off of the first.
  for (int dir = 0; dir < 2; ++dir)
    for (int end = 0; end < 2; ++end) {
      if (!BesideSide(srf, dir, end, s.x) || !CollapsedSide(srf, dir, end, size)) continue;
      const int i = dir == 0 && end ? NumCtrlU(srf) - 1 : 0, j = dir == 1 && end ? NumCtrlV(srf) - 1 : 0;
      const double O[3] = {srf->X[j][i], srf->Y[j][i], srf->Z[j][i]};
      auto fromPole = [srf, &O](const double* x, Jet& jt) { SurfaceJetFrom(srf, O, x[0], x[1], jt); };
      // Held on a closed seam round the pole with the way down across it: on from the other
      // side (the restarts above compare distances, which cannot tell so near the pole).
      const int round = 1 - dir;
      auto polish = [&](FootState<2>& t) {
        for (int crossings = 0; crossings < 2; ++crossings) {
          FindFoot<2>(fromPole, P, lo, hi, range, size, iterations, t, reach);
          if (!(round == 0 ? srf->closedU : srf->closedV) || !whole[round]) return;
          if (t.x[round] == hi[round] && t.g[round] < 0.0) t.x[round] = lo[round];
          else if (t.x[round] == lo[round] && t.g[round] > 0.0) t.x[round] = hi[round];
          else return;
        }
      };
      FootState<2> t = s;
      polish(t);
      // Not settled (a start more than a quarter turn round the pole from the foot, where the
      // distance curves down round it), or on the pole (where the partial round it vanishes and
      // a meridian square to the way down is stationary): from the pole along the meridian the
      // distance falls off it most steeply, where the iteration starts on the foot's side.
      // (Only where the box reaches the pole.)
      const double edge = end ? dhi[dir] : dlo[dir];
      double along;
      const bool reaches = (end ? hi[dir] : lo[dir]) == edge;
      const bool onPole = reaches && (t.x[dir] == edge || OnCollapsedSide(srf, dir, end, size, t.jet.X));
      if (reaches && (onPole || !(TangentialSq(t, lo, hi) <= t.noise * t.noise)) &&
          LeastSlopeOffCollapsedSide(srf, P, dir, end, lo[round], hi[round], &along) < -s.noise) {
        FootState<2> w;
        w.x[dir] = edge;
        w.x[round] = along;
        polish(w);
        const double dw = std::sqrt(2.0 * w.f), dt = std::sqrt(2.0 * t.f);
        // A pole with a way down off it is no foot, whatever round-off says of the distances.
        if (dw + t.noise < dt || (dw <= dt + t.noise && (onPole || TangentialSq(w, lo, hi) < TangentialSq(t, lo, hi))))
          t = w;
      }
      if (std::sqrt(2.0 * t.f) <= std::sqrt(2.0 * s.f) + s.noise) s = t;
    }
  *u = s.x[0];
  *v = s.x[1];
  for (int k = 0; k < 3; ++k) S[k] = s.jet.X[k];
  double n[3];
  ComputeSurfaceNormal(srf, *u, *v, s.jet.D[0], s.jet.D[1], n);
  const double nn = VecDotProd3(n, n);
  // Signed distance: negative when P lies behind the normal.
  *dist = std::sqrt(2.0 * s.f);
  if (VecDotProd3(s.r, n) > 0.0) *dist = -*dist;
  // The convergence value: |F - S|^2 for the foot F of P on the tangent plane, less 1e-10 (a
  // legacy bias of the reported step; callers compare it). F - S is the projection of -r onto
  // the span of the partials: g^T I^-1 g with the first fundamental form I; the normal, whose
  // small components are cleaned, stands in only where I is singular.
  const double E = VecDotProd3(s.jet.D[0], s.jet.D[0]), F = VecDotProd3(s.jet.D[0], s.jet.D[1]);
  const double G = VecDotProd3(s.jet.D[1], s.jet.D[1]), det = E * G - F * F;
  double tangentialSq;
  if (det > 1e3 * kEps * E * G && E > kPartialVanishesSq * G && G > kPartialVanishesSq * E) {
    tangentialSq = (G * s.g[0] * s.g[0] - 2.0 * F * s.g[0] * s.g[1] + E * s.g[1] * s.g[1]) / det;
  } else {
    double tangential[3];
    const double along = nn > 0.0 ? VecDotProd3(s.r, n) / nn : 0.0;
    for (int k = 0; k < 3; ++k) tangential[k] = s.r[k] - along * n[k];
    tangentialSq = VecDotProd3(tangential, tangential);
  }
  *stepSq = tangentialSq - 1e-10;
  if (normal)
    for (int k = 0; k < 3; ++k) normal[k] = n[k];
  return nn > 0.0 ? 0 : -2;
}

// Closest pair of two curves by Levenberg-Marquardt on the squared gap f = |C2(t2) - C1(t1)|^2.
// Method: the Gauss-Newton system of the linearised gap r + s2 C2' - s1 C1' with the curvature
// terms of the Hessian added (Newton) where that keeps it positive definite, the diagonal
// raised by lambda times the Gauss-Newton one; a step is taken only when f falls, else lambda
// grows tenfold (a trust region that shrinks towards a gradient step); parameters are clamped
// to their ranges, and one pinned at a range end whose step points outwards is held there while
// the other solves alone (so a foot on an end is the constrained minimum). Crossing curves
// converge quadratically. The count the caller gives is the least number of iterations; past
// it the iteration goes on while the step shrinks or is above kNoiseRegime of the range, and
// stops at a step below kStepRound of the parameter range or a gap at round-off of the curves'
// size.
const double kStepRound = 1e-14;   // relative parameter step at which nothing more is gained
const double kGapRound = 1e-15;    // gap relative to the curves' size that is round-off
const int kPairIterationBound = 200;

int PairDescent(const Curve3View& c1, const Curve3View& c2, double* t1, double* t2, double* distSq,
                int iterations, bool parallelStop) {
  const double lo[2] = {c1.crv->umin, c2.crv->umin}, hi[2] = {c1.crv->umax, c2.crv->umax};
  double t[2] = {*t1, *t2};
  ClampRefinerParam(t[0], lo[0], hi[0]);
  ClampRefinerParam(t[1], lo[1], hi[1]);
  const double range[2] = {hi[0] - lo[0], hi[1] - lo[1]};
  const double size = std::fmax(ControlPointDiagonal(c1.crv), ControlPointDiagonal(c2.crv));
  const double roundSq = (kGapRound * size) * (kGapRound * size);
  const Curve3View* curve[2] = {&c1, &c2};

  double P[2][3], D[2][3], r[3];
  auto gapAt = [&](const double at[2], double pts[2][3]) {
    curve[0]->Eval(at[0], 0, pts[0]);
    curve[1]->Eval(at[1], 0, pts[1]);
    return DistSq3(pts[0], pts[1]);
  };
  double f = gapAt(t, P);
  double lambda = 0.0, lastStep[2] = {range[0], range[1]};
  const int bound = iterations > kPairIterationBound ? iterations : kPairIterationBound;
  int status = 0;
  for (int it = 0; it < bound; ++it) {
    *distSq = f;
    if (f <= roundSq) break;
    c1.Eval(t[0], 1, D[0]);
    c2.Eval(t[1], 1, D[1]);
    const double n1 = VecSize3(D[0]), n2 = VecSize3(D[1]);
    // A tangent this short against the curve's size over its range has no direction.
    if (n1 < 1e-10 * size / range[0] || n2 < 1e-10 * size / range[1]) {
      status = -2;
      break;
    }
    const double c = VecDotProd3(D[0], D[1]) / (n1 * n2);
    if (parallelStop && c * c > 0.99999695) break;  // locally parallel: any pair is as good
    VecDiff3(P[1], P[0], r);
    // Normal equations A s = b of min |r - s1 D1 + s2 D2|^2.
    const double a11 = n1 * n1, a22 = n2 * n2, a12 = -VecDotProd3(D[0], D[1]);
    const double b[2] = {VecDotProd3(D[0], r), -VecDotProd3(D[1], r)};
    // The second-order terms of the Hessian of |r|^2 / 2, -r . C1'' and r . C2'': where the gap
    // is not small against a curve's radius of curvature, the Gauss-Newton model (which drops
    // them) overshoots round the bend by the ratio of the two, and the iteration swings across
    // the foot, falling a little each time. With them the step is Newton's wherever that
    // matrix is positive definite.
    double DD[2][3];
    c1.Eval(t[0], 2, DD[0]);
    c2.Eval(t[1], 2, DD[1]);
    double h11 = a11 - VecDotProd3(r, DD[0]), h22 = a22 + VecDotProd3(r, DD[1]);
    if (!(h11 > 0.0 && h22 > 0.0 && h11 * h22 - a12 * a12 > 1e-14 * h11 * h22)) h11 = a11, h22 = a22;
    bool accepted = false;
    double s[2] = {0.0, 0.0}, next[2] = {t[0], t[1]}, Q[2][3], fNext = f;
    while (!accepted) {
      const double m11 = h11 + lambda * a11, m22 = h22 + lambda * a22;
      const double det = m11 * m22 - a12 * a12;
      // Held parameters: at a range end with the gradient pointing out of the range.
      bool held[2] = {false, false};
      for (int k = 0; k < 2; ++k) held[k] = (t[k] <= lo[k] && b[k] < 0.0) || (t[k] >= hi[k] && b[k] > 0.0);
      if (held[0] && held[1]) break;
      if (held[0] || held[1] || det <= 1e-14 * m11 * m22) {
        s[0] = held[0] ? 0.0 : b[0] / m11;
        s[1] = held[1] ? 0.0 : b[1] / m22;
        if (!held[0] && !held[1]) {
          // Nearly parallel tangents: the two one-sided steps, halved so they do not add up.
          s[0] *= 0.5;
          s[1] *= 0.5;
        }
      } else {
        s[0] = (b[0] * m22 - a12 * b[1]) / det;
        s[1] = (m11 * b[1] - a12 * b[0]) / det;
      }
      // A step at round-off of the ranges gains nothing: the pair has converged.
      if (std::fabs(s[0]) <= kStepRound * range[0] && std::fabs(s[1]) <= kStepRound * range[1]) break;
      for (int k = 0; k < 2; ++k) {
        next[k] = t[k] + s[k];
        ClampRefinerParam(next[k], lo[k], hi[k]);
      }
      if (next[0] == t[0] && next[1] == t[1]) break;
      fNext = gapAt(next, Q);
      if (fNext < f) {
        accepted = true;
        lambda *= 0.1;
        if (lambda < 1e-12) lambda = 0.0;
      } else {
        lambda = lambda == 0.0 ? 1e-3 : 10.0 * lambda;
        if (lambda > 1e16) break;  // no descent left at round-off: a stationary pair
      }
    }
    if (!accepted) break;
    const double step[2] = {std::fabs(next[0] - t[0]), std::fabs(next[1] - t[1])};
    t[0] = next[0];
    t[1] = next[1];
    for (int k = 0; k < 3; ++k) {
      P[0][k] = Q[0][k];
      P[1][k] = Q[1][k];
    }
    f = fNext;
    *distSq = f;
    const bool tiny = step[0] <= kStepRound * range[0] && step[1] <= kStepRound * range[1];
    // Past the caller's count a step that no longer shrinks ends the refinement only in the
    // round-off regime (below kNoiseRegime of the ranges): a longer one is still on its way
    // along a shallow valley (curves near each other's centres of curvature).
    const bool shrinking = step[0] + step[1] < lastStep[0] + lastStep[1];
    const bool noise = step[0] <= kNoiseRegime * range[0] && step[1] <= kNoiseRegime * range[1];
    if (tiny || (it + 1 >= iterations && !shrinking && noise)) break;
    lastStep[0] = step[0];
    lastStep[1] = step[1];
  }
  *t1 = t[0];
  *t2 = t[1];
  *distSq = f;
  return status;
}

// Where the descent stops with the gradient of the gap at round-off but its Hessian (in
// parameters scaled to unit tangents) not positive definite beyond round-off, the pair sits on a
// peak or saddle of the gap (two concentric circles from opposite points, a circle's far side
// against a line across its plane), and Newton's step is nil there. The gap falls either way
// along the eigenvector of the least eigenvalue: from a step as long as the gap, halved until the
// gap falls by more than round-off, the descent goes on from each side, and the nearer pair is
// taken. At a true minimum this costs one evaluation of the second derivatives.
bool PairPeakDirection(const Curve3View& c1, const Curve3View& c2, const double t[2], double size,
                       double dir[2], double* noise) {
  double P[2][3], D[2][3], DD[2][3], r[3];
  c1.Eval(t[0], 0, P[0]);
  c2.Eval(t[1], 0, P[1]);
  c1.Eval(t[0], 1, D[0]);
  c2.Eval(t[1], 1, D[1]);
  c1.Eval(t[0], 2, DD[0]);
  c2.Eval(t[1], 2, DD[1]);
  VecDiff3(P[1], P[0], r);
  const double n1 = VecSize3(D[0]), n2 = VecSize3(D[1]), fSq = VecDotProd3(r, r);
  if (!(n1 > 0.0 && n2 > 0.0 && fSq > 0.0)) return false;
  const double length = std::sqrt(fSq);
  double far = 0.0;
  for (int k = 0; k < 3; ++k) far = std::fmax(far, std::fmax(std::fabs(P[0][k]), std::fabs(P[1][k])));
  *noise = kRoundOff * (size + far);
  // Only at a stationary pair: the tangential parts of the gap are below kBesideRidge of it.
  const double g1 = VecDotProd3(D[0], r) / n1, g2 = VecDotProd3(D[1], r) / n2;
  if (!(g1 * g1 + g2 * g2 < kBesideRidge * kBesideRidge * fSq)) return false;
  const double H[2][2] = {{1.0 - VecDotProd3(r, DD[0]) / (n1 * n1), -VecDotProd3(D[0], D[1]) / (n1 * n2)},
                          {-VecDotProd3(D[0], D[1]) / (n1 * n2), 1.0 + VecDotProd3(r, DD[1]) / (n2 * n2)}};
  double mean, half, e[2];
  const double least = LeastEigenOf2(H, &mean, &half, e);
  const double curvatureNoise = 1e3 * kEps * (1.0 + std::fabs(mean) + half) +
                                *noise * (VecSize3(DD[0]) / (n1 * n1) + VecSize3(DD[1]) / (n2 * n2));
  if (!(least <= curvatureNoise)) return false;
  // The eigenvector of the least eigenvalue, in the curves' own parameters, a unit of the
  // scaled ones moving each point by the gap's length.
  const double en = std::hypot(e[0], e[1]);
  if (!(en > 0.0)) e[0] = 1.0, e[1] = 0.0;
  else e[0] /= en, e[1] /= en;
  dir[0] = e[0] * length / n1;
  dir[1] = e[1] * length / n2;
  return true;
}

int ClosestPairOfCurves(const Curve3View& c1, const Curve3View& c2, double* t1, double* t2,
                        double* distSq, int iterations, bool parallelStop) {
  int status = PairDescent(c1, c2, t1, t2, distSq, iterations, parallelStop);
  const double lo[2] = {c1.crv->umin, c2.crv->umin}, hi[2] = {c1.crv->umax, c2.crv->umax};
  const double size = std::fmax(ControlPointDiagonal(c1.crv), ControlPointDiagonal(c2.crv));
  // Each leave lands strictly lower, so a few are enough; the bound only guards round-off.
  for (int leave = 0; leave < 4 && status == 0; ++leave) {
    const double t[2] = {*t1, *t2};
    double dir[2], noise;
    if (!PairPeakDirection(c1, c2, t, size, dir, &noise)) break;
    const double f = *distSq, fNoise = noise * (std::sqrt(f) + noise);
    double best[3] = {t[0], t[1], f};
    for (double sign : {1.0, -1.0}) {
      for (double a = sign; std::fabs(a) > 1e-9; a *= 0.5) {
        double s[2] = {t[0] + a * dir[0], t[1] + a * dir[1]};
        ClampRefinerParam(s[0], lo[0], hi[0]);
        ClampRefinerParam(s[1], lo[1], hi[1]);
        double A[3], B[3];
        c1.Eval(s[0], 0, A);
        c2.Eval(s[1], 0, B);
        if (!(DistSq3(A, B) < f - fNoise)) continue;
        double d;
        if (PairDescent(c1, c2, &s[0], &s[1], &d, iterations, parallelStop) == 0 && d < best[2])
          best[0] = s[0], best[1] = s[1], best[2] = d;
        break;
      }
    }
    if (!(best[2] < f - fNoise)) break;
    *t1 = best[0];
    *t2 = best[1];
    *distSq = best[2];
  }
  return status;
}

// The refiners' input: a sound 3D curve, or a sound curve in the parameter plane of a sound
// owner; a sound surface; finite points and parameters. Anything else is refused with -2
// before the first evaluation, and a converged result must be finite too (huge coordinates
// can overflow the squared distances): otherwise it is reported as not converged.
bool SoundCurve(const Bspline* c) {
  return BsplineSound(c) && c->kind == 1 && (c->dimension == 3 || BsplineSound(c->owner));
}

bool SoundSurface(const Bspline* s) { return BsplineSound(s) && s->kind == 2; }

int CheckedResult(int r, std::initializer_list<double> outputs) {
  return r == 0 && !AllFinite(outputs) ? -2 : r;
}

// A surface foot written to the caller's outputs only when every one of them is finite: a point
// so far away that its squared distances overflow leaves them as they were, with -2.
int CheckedSurfaceFoot(Bspline* srf, const double P[3], double S[3], double* u, double* v, double* dist,
                       double* stepSq, int iterations, double normal[3], const double* box) {
  double foot[3], fu = *u, fv = *v, d = 0.0, e = 0.0, n[3] = {0.0, 0.0, 0.0};
  const int r = ClosestPointOnSurface(srf, P, foot, &fu, &fv, &d, &e, iterations, normal ? n : nullptr, box);
  if (!AllFinite({foot[0], foot[1], foot[2], fu, fv, d, e, n[0], n[1], n[2]})) return -2;
  for (int k = 0; k < 3; ++k) {
    S[k] = foot[k];
    if (normal) normal[k] = n[k];
  }
  *u = fu;
  *v = fv;
  *dist = d;
  *stepSq = e;
  return r;
}

}  // namespace

int SurfaceSideCollapsed(const Bspline* srf, int dir, int end) {
  if (!SoundSurface(srf) || dir < 0 || dir > 1 || end < 0 || end > 1) return 0;
  return CollapsedSide(srf, dir, end, ControlPointDiagonal(srf)) ? 1 : 0;
}

int SurfaceBesidePole(const Bspline* srf, double u, double v) {
  if (!SoundSurface(srf)) return 0;
  const double x[2] = {u, v};
  double size = -1.0;  // taken only beside a side: most feet are not
  for (int dir = 0; dir < 2; ++dir)
    for (int end = 0; end < 2; ++end) {
      if (!BesideSide(srf, dir, end, x)) continue;
      if (size < 0.0) size = ControlPointDiagonal(srf);
      if (CollapsedSide(srf, dir, end, size)) return 1;
    }
  return 0;
}

int FindClosestPointCurve3(Bspline* crv, const double P[3], double C[3], double tmin, double tmax,
                           double* t, double* distSq, double* stepSq, int iterations) {
  return FindClosestPointCurve3OfSize(crv, -1.0, P, C, tmin, tmax, t, distSq, stepSq, iterations);
}

int FindClosestPointCurve3OfSize(Bspline* crv, double size, const double P[3], double C[3], double tmin,
                                 double tmax, double* t, double* distSq, double* stepSq, int iterations) {
  if (!SoundCurve(crv) || !AllFinite({size, P[0], P[1], P[2], tmin, tmax, *t})) return -2;
  const int r = ClosestPointOnCurve(Curve3View(crv), size, P, C, tmin, tmax, t, distSq, stepSq, iterations);
  return CheckedResult(r, {C[0], C[1], C[2], *t, *distSq, *stepSq});
}

int FindClosestPointCurveOnSurf(Bspline* crv, const double P[3], double C[3], double tmin,
                                double tmax, double* t, double* distSq, double* stepSq,
                                int iterations) {
  if (!SoundCurve(crv) || !AllFinite({P[0], P[1], P[2], tmin, tmax, *t})) return -2;
  const int r = ClosestPointOnCurve(Curve3View(crv), -1.0, P, C, tmin, tmax, t, distSq, stepSq, iterations);
  return CheckedResult(r, {C[0], C[1], C[2], *t, *distSq, *stepSq});
}

int FindClosestUVPointGuessDist(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations) {
  if (!SoundSurface(srf) || !AllFinite({P[0], P[1], P[2], *u, *v})) return -2;
  return CheckedSurfaceFoot(srf, P, S, u, v, dist, stepSq, iterations, nullptr, nullptr);
}

int FindClosestUVPointWithin(Bspline* srf, const double P[3], const double box[4], double S[3], double* u,
                             double* v, double* dist, double* stepSq, int iterations) {
  if (!SoundSurface(srf) || !AllFinite({P[0], P[1], P[2], *u, *v, box[0], box[1], box[2], box[3]}) ||
      !(box[0] <= box[1] && box[2] <= box[3]))
    return -2;
  return CheckedSurfaceFoot(srf, P, S, u, v, dist, stepSq, iterations, nullptr, box);
}

int FindClosestUVPointGuessNorm(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations, double normal[3]) {
  if (!SoundSurface(srf) || !AllFinite({P[0], P[1], P[2], *u, *v})) return -2;
  return CheckedSurfaceFoot(srf, P, S, u, v, dist, stepSq, iterations, normal, nullptr);
}

int RefineCurve3sClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                              int iterations) {
  if (!SoundCurve(crv1) || !SoundCurve(crv2) || !AllFinite({*t1, *t2})) return -2;
  const int r = ClosestPairOfCurves(Curve3View(crv1), Curve3View(crv2), t1, t2, distSq, iterations, true);
  return CheckedResult(r, {*t1, *t2, *distSq});
}

int RefineCurvesClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                             int iterations) {
  if (!SoundCurve(crv1) || !SoundCurve(crv2) || !AllFinite({*t1, *t2})) return -2;
  const int r = ClosestPairOfCurves(Curve3View(crv1), Curve3View(crv2), t1, t2, distSq, iterations, false);
  return CheckedResult(r, {*t1, *t2, *distSq});
}
