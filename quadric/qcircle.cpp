#include "quadric/qcircle.h"

#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "foundation/geo2.h"
#include "foundation/makemat.h"
#include "platform/tstubs.h"
#include "cloud/princip.h"
#include "quadric/cpoint.h"
#include "quadric/mrqmin.h"
#include "quadric/qnlfit.h"
#include "quadric/quadrics.h"

#include <algorithm>
#include <cmath>

namespace {

// Every point within 1e-10 of the first in x and y: no circle to fit.
bool AllAtTheFirst(const float* x, const float* y, int n) {
  int i = 1;
  while (i < n && std::fabs(x[i] - x[0]) <= 1e-10 && std::fabs(y[i] - y[0]) <= 1e-10) ++i;
  return i == n;
}

// Divides centred points by the power of two at or above their largest coordinate magnitude
// (exactly, so their digits stay) and returns it: the circle estimate's normal equations and the
// solver's steps are then those of a circle of unit size, whatever the points' size.
double ScaleToUnit(float* x, float* y, int n) {
  float largest = 0.0f;
  for (int k = 0; k < n; ++k) largest = std::max({largest, std::fabs(x[k]), std::fabs(y[k])});
  if (!(largest > 0.0f) || !std::isfinite(largest)) return 1.0;
  int exponent = 0;
  std::frexp(static_cast<double>(largest), &exponent);
  const double scale = std::ldexp(1.0, exponent);
  for (int k = 0; k < n; ++k) {
    x[k] = static_cast<float>(x[k] / scale);
    y[k] = static_cast<float>(y[k] / scale);
  }
  return scale;
}

}  // namespace

Bspline* NewCircleBspline(const double centre[3], double radius) {
  // Four quarter arcs, each a rational quadratic Bezier whose middle weight is cos 45 degrees.
  static const double kSquare[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0},
                                       {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  static const double kKnots[12] = {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1};
  constexpr double kMidWeight = 0.7071067811865475;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->rational = 1;
  c->closedU = 2;
  c->degreeU = 2;
  c->interiorU = 6;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  for (int i = 0; i < 12; ++i) c->knotsU[i] = kKnots[i];
  c->umin = c->knotsU[2];
  c->umax = c->knotsU[9];
  for (int k = 0; k < 9; ++k) {
    c->X[0][k] = centre[0] + radius * kSquare[k][0];
    c->Y[0][k] = centre[1] + radius * kSquare[k][1];
    c->Z[0][k] = centre[2];
    c->W[0][k] = k % 2 ? kMidWeight : 1.0;
  }
  const QuadricInfo circle = {{centre[0], centre[1], centre[2], 0.0, 0.0, 1.0, radius}};
  c->quadric = DuplicateQuadricInfo(&circle, QuadricDoubles(2));
  if (!c->quadric || KernelFailed()) return nullptr;
  c->quadricType = 2;
  scope.keep();
  return c.release();
}

Bspline* MakeCircleWGivenAxis(const double centre[3], double r, const double axis[3]) {
  static const double kOrigin[3] = {0.0, 0.0, 0.0};
  Bspline* c = NewCircleBspline(kOrigin, r);
  if (!c) return nullptr;
  // The circle is made about the origin in the xy plane; the inverse of the frame that takes
  // the axis onto +z turns it into the plane normal to the axis, then it moves to the centre.
  Xform M, Minv;
  Get_imat(Minv);
  if (VecSize3(axis) >= 1e-10) {
    TransformToZAxis(kOrigin, axis, M);
    mat_inverse4(M, Minv);
  }
  for (int k = 0; k < NumCtrlU(c); ++k) {
    vector_xform(&c->X[0][k], &c->Y[0][k], &c->Z[0][k], Minv);
    c->X[0][k] += centre[0];
    c->Y[0][k] += centre[1];
    c->Z[0][k] += centre[2];
  }
  for (int k = 0; k < 3; ++k) {
    c->quadric->v[k] = centre[k];
    c->quadric->v[3 + k] = axis[k];
  }
  return c;
}

// ---- least-squares circles -----------------------------------------------------------------

void circle_fit_error(const float* x, const float* y, int n, const double centre[2], double radius, double* error,
                      double* maxDeviation) {
  *error = 0.0;
  *maxDeviation = 0.0;
  if (n < 1 || !x || !y) return;
  const double r = std::fabs(radius);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double dx = x[i] - centre[0], dy = y[i] - centre[1];
    const double dev = std::fabs(std::sqrt(dx * dx + dy * dy) - r);
    sum += dev * dev;
    if (dev > *maxDeviation) *maxDeviation = dev;
  }
  *error = sum / n;
}

int estimate_circle_para(const float* x, const float* y, int n, double coef[4], double centre[2], double* radius) {
  if (n > 0 && (!x || !y)) return -2;
  // Columns (1, x, y) against -(x^2 + y^2): N = A A^T, right-hand side A b, unknowns (F, D, E).
  double rows[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, rhs[3] = {0, 0, 0}, sol[3];
  for (int i = 0; i < n; ++i) {
    const double col[3] = {1.0, x[i], y[i]};
    const double b = -(col[1] * col[1] + col[2] * col[2]);
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) rows[j][k] += col[j] * col[k];
      rhs[j] += col[j] * b;
    }
  }
  double* N[3] = {rows[0], rows[1], rows[2]};
  if (SolveLinearSystem_ff(N, 3, rhs, sol) != 0 || KernelFailed()) return -2;
  coef[0] = sol[0];
  coef[1] = sol[1];
  coef[2] = sol[2];
  coef[3] = 1.0;
  centre[0] = sol[1] * -0.5;
  centre[1] = sol[2] * -0.5;
  const double r2 = centre[1] * centre[1] - sol[0] + centre[0] * centre[0];
  if (r2 < 0.0) {
    *radius = 0.0;
    return -2;
  }
  *radius = std::sqrt(r2);
  return 0;
}

int NewFitCircle(const float* x, const float* y, int n, double centre[3], double* radius, double* error) {
  if (!x || !y || n < 3) return -2;
  if (AllAtTheFirst(x, y, n)) return -2;
  TrackingScope scope;
  float* cx = MallocArray<float>(n);
  float* cy = MallocArray<float>(n);
  if (!cx || !cy || KernelFailed()) return -2;
  // Partial sums keep the mean of long sets accurate: flushed after every 1001 points.
  double totalX = 0.0, totalY = 0.0, sumX = 0.0, sumY = 0.0;
  int run = 0;
  for (int k = 0; k < n; ++k) {
    sumX += x[k];
    sumY += y[k];
    if (++run > 1000) {
      totalX += sumX;
      totalY += sumY;
      sumX = sumY = 0.0;
      run = 0;
    }
  }
  const double mx = (totalX + sumX) / n, my = (totalY + sumY) / n;
  for (int k = 0; k < n; ++k) {
    cx[k] = static_cast<float>(x[k] - mx);
    cy[k] = static_cast<float>(y[k] - my);
  }
  const double scale = ScaleToUnit(cx, cy, n);
  double coef[4], c[2], r = 0.0, maxDev = 0.0, err = 0.0;
  if (estimate_circle_para(cx, cy, n, coef, c, &r) != 0) {
    ClearKernelError();
    return -2;
  }
  if (CircleNonllsqrFitMinpack(cx, cy, n, c, &r, 4e-16, 30, &err, &maxDev) != 0) return -2;
  centre[0] = mx + scale * c[0];
  centre[1] = my + scale * c[1];
  centre[2] = 0.0;
  // The solver may leave the radius negative (the same circle); annulus widths need |r|.
  *radius = scale * std::fabs(r);
  *error = scale * scale * err;
  return 0;
}

void CircleChiSq(float x, float y, const double* a, double* residual, double* dyda, int) {
  if (!a || !residual || !dyda) return;
  const double dx = x - a[0], dy = y - a[1];
  *residual = dx * dx + dy * dy - a[2] * a[2];
  dyda[0] = -2.0 * dx;
  dyda[1] = -2.0 * dy;
  dyda[2] = -2.0 * a[2];
}

int CircleNonlinearFit(const float* x, const float* y, int n, double centre[2], double* radius, double tolerance,
                       int maxIterations, double* error, double* maxDeviation) {
  if (!x || !y || n < 1) return -2;
  TrackingScope scope;
  double* sig = MallocArray<double>(n);
  double** covar = allocate_matrix_ff(3, 3);
  double** alpha = allocate_matrix_ff(3, 3);
  if (!sig || !covar || !alpha || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) sig[i] = 1.0;
  double a[3] = {centre[0], centre[1], *radius}, chisq = 0.0;
  int lista[3] = {0, 1, 2};
  const int r = DriveMrqmin(
      [&](double* alamda) { return mrqmin2D(x, y, sig, n, a, 3, lista, 3, covar, alpha, &chisq, CircleChiSq, alamda); },
      n, tolerance, maxIterations, &chisq);
  if (r < 0) return -2;
  centre[0] = a[0];
  centre[1] = a[1];
  *radius = std::fabs(a[2]);
  circle_fit_error(x, y, n, centre, *radius, error, maxDeviation);
  return 0;
}

// ---- extreme circles ------------------------------------------------------------------------

int IsIncludeCircle(double ax, double ay, double ar2, double ar, double bx, double by, double br2, double br) {
  if (br2 > ar2) return 0;
  const double d2 = (ax - bx) * (ax - bx) + (ay - by) * (ay - by);
  if (1.000001 * ar2 < d2) return 0;
  return 1.000001 * ar >= std::sqrt(d2) + br ? 1 : 0;
}

namespace {

constexpr double kInnerFactor = 1.00000001;  // on squared radii: a point on the circle is not inside
constexpr double kOuterFactor = 0.99999999;
constexpr double kNotFound = 1e20;            // a centre coordinate above this was never found
const char kRestrictiveText[] = "Data set is not restrictive enough.  Use ESC if you want to abort.";

struct Circle2 {
  double cx, cy, r2;
};

// Squared distance of a point from a centre as the candidate tests measure it: single precision.
float FloatDist2(float px, float py, double cx, double cy) {
  const float dx = px - static_cast<float>(cx), dy = py - static_cast<float>(cy);
  return dx * dx + dy * dy;
}

// The state of one extreme-circle computation: the input, the mean circles, the working set
// (marks and scratch copies) and the best circles found.
struct Extremes {
  const float* x;
  const float* y;
  int n;
  char* mark;
  float *wx, *wy;  // working set
  float *sx, *sy;  // sample
  double outerMeanR2, outerMeanR, mx, my, innerMeanR2, innerMeanR;
  Circle2 inner, outer;
  int pollAbove;  // a sample larger than this shows the status text and polls the user break

  // Sample of w working points with step k: 0, k, 2k, .. below w - 1, then w - 1.
  int Sample(int w, int k) {
    int s = 0;
    for (int i = 0; i < w - 1; i += k) {
      sx[s] = wx[i];
      sy[s++] = wy[i];
    }
    if (w > 0) {
      sx[s] = wx[w - 1];
      sy[s++] = wy[w - 1];
    }
    return s;
  }

  // Any other sample point strictly inside (sign 1) or outside (sign -1) the circle.
  bool AnyBeyond(int s, int i, int j, int k, const Circle2& c, int sign) const {
    for (int l = 0; l < s; ++l) {
      if (l == i || l == j || l == k) continue;
      const float d2 = FloatDist2(sx[l], sy[l], c.cx, c.cy);
      if (sign > 0 ? d2 < c.r2 : d2 > c.r2) return true;
    }
    return false;
  }

  // Triple search over the sample for the inner and/or outer role; the outer best is updated
  // before the inner. withCentre: an inner candidate must contain the current inner centre.
  // Returns false on a user break.
  bool Search(int s, bool findInner, bool findOuter, bool withCentre, bool poll) {
    for (int i = 0; i < s; ++i)
      for (int j = i + 1; j < s; ++j) {
        if (poll && user_break()) return false;
        for (int k = j + 1; k < s; ++k) {
          Circle2 c;
          if (!Get2DCircle(sx[i], sy[i], sx[j], sy[j], sx[k], sy[k], &c.cx, &c.cy, &c.r2)) continue;
          const double r = std::sqrt(c.r2);
          if (findOuter && c.r2 <= outer.r2 &&
              IsIncludeCircle(c.cx, c.cy, c.r2, r, mx, my, innerMeanR2, innerMeanR) && !AnyBeyond(s, i, j, k, c, -1))
            outer = c;
          if (findInner && c.r2 >= inner.r2 &&
              IsIncludeCircle(mx, my, outerMeanR2, outerMeanR, c.cx, c.cy, c.r2, r) &&
              (!withCentre ||
               (inner.cx - c.cx) * (inner.cx - c.cx) + (inner.cy - c.cy) * (inner.cy - c.cy) <= c.r2) &&
              !AnyBeyond(s, i, j, k, c, 1))
            inner = c;
        }
      }
    return true;
  }

  static int Step(int w, bool first, bool shrank) {
    if (first ? w <= 20 : (w < 16 || !shrank)) return 1;
    const int k = w / 15;
    return k < 3 ? 2 : k;
  }

  double Dist2(int i, const Circle2& c) const {
    const double dx = x[i] - c.cx, dy = y[i] - c.cy;
    return dx * dx + dy * dy;
  }

  // Working set of the role: points inside (inner) or outside (outer) the best circle. rewrite:
  // the marks become exactly that set; otherwise marked points stay and the set only grows.
  // Returns its size; *final when no point lies strictly beyond the circle.
  int Gather(bool innerRole, bool rewrite, bool* final) {
    const Circle2& c = innerRole ? inner : outer;
    int w = 0;
    *final = true;
    for (int i = 0; i < n; ++i) {
      const double d2 = Dist2(i, c);
      const bool in = innerRole ? d2 <= c.r2 : d2 >= c.r2;
      if (rewrite)
        mark[i] = in;
      else if (in)
        mark[i] = 1;
      if (mark[i]) {
        wx[w] = x[i];
        wy[w++] = y[i];
      }
      if (innerRole ? d2 * kInnerFactor < c.r2 : c.r2 < d2 * kOuterFactor) *final = false;
    }
    return w;
  }

  // Reduction then completion for one role (stages 2-3 or 4-5). resetTo: the inner completion's
  // replacement for a best radius of 0 (negative: kept). pollReduction: the reduction stage also
  // shows the status text and polls. Returns false on a user break.
  bool Refine(bool innerRole, double resetTo, bool pollReduction) {
    Circle2& best = innerRole ? inner : outer;
    const double factor = innerRole ? kInnerFactor : kOuterFactor;
    int prev = n, sampled = 0, lastReduced = 0;
    bool final = false;
    while (prev > 15 && sampled < prev) {
      best.r2 *= factor;
      const int w = Gather(innerRole, true, &final);
      if (final) return true;
      sampled = Sample(w, Step(w, false, w < prev));
      const bool poll = pollReduction && sampled > pollAbove;
      if (poll) StatusMessageFormat("%s", MSGstr(kRestrictiveText));
      best.r2 = innerRole ? 0.0 : kNoValue;
      if (!Search(sampled, innerRole, !innerRole, innerRole, poll)) return false;
      prev = lastReduced = w;
    }
    // The outer completion compares its first working set with 0, the inner one with the last
    // reduction's.
    prev = innerRole ? lastReduced : 0;
    for (;;) {
      if (innerRole && best.r2 == 0.0 && resetTo >= 0.0) best.r2 = resetTo;
      best.r2 *= factor;
      const int w = Gather(innerRole, false, &final);
      if (final || w == prev) return true;
      const int s = Sample(w, 1);
      const bool poll = s > pollAbove;
      if (poll) StatusMessageFormat("%s", MSGstr(kRestrictiveText));
      best.r2 = innerRole ? 0.0 : kNoValue;
      if (!Search(s, innerRole, !innerRole, false, poll)) return false;
      prev = w;
    }
  }
};

// Sets up the scratch arrays, the mean circles (the enclosing one scaled by outerScale) and runs
// stage 1. -1: memory ran out; 0: no candidate; 1: both (or the inner) candidates found.
int StartExtremes(Extremes* e, const float* x, const float* y, int n, double outerScale, bool findOuter) {
  e->x = x;
  e->y = y;
  e->n = n;
  e->mark = MallocArray<char>(n);
  e->wx = MallocArray<float>(n);
  e->wy = MallocArray<float>(n);
  e->sx = MallocArray<float>(n);
  e->sy = MallocArray<float>(n);
  if (!e->mark || !e->wx || !e->wy || !e->sx || !e->sy || KernelFailed()) return -1;
  double sx = 0.0, sy = 0.0;
  for (int i = 0; i < n; ++i) {
    e->mark[i] = 1;
    e->wx[i] = x[i];
    e->wy[i] = y[i];
    sx += x[i];
    sy += y[i];
  }
  e->mx = sx / n;
  e->my = sy / n;
  double dmax2 = 0.0, dmin2 = kNoValue;
  for (int i = 0; i < n; ++i) {
    const double dx = x[i] - e->mx, dy = y[i] - e->my, d2 = dx * dx + dy * dy;
    if (d2 > dmax2) dmax2 = d2;
    if (d2 < dmin2) dmin2 = d2;
  }
  e->outerMeanR = outerScale * std::sqrt(dmax2);
  e->outerMeanR2 = e->outerMeanR * e->outerMeanR;
  e->innerMeanR2 = dmin2;
  e->innerMeanR = std::sqrt(dmin2);
  e->inner = {kNoValue, kNoValue, 0.0};
  e->outer = {kNoValue, kNoValue, kNoValue};
  const int s = e->Sample(n, Extremes::Step(n, true, true));
  e->Search(s, true, findOuter, false, false);
  const bool innerFound = e->inner.cx <= kNotFound && e->inner.cy <= kNotFound;
  const bool outerFound = !findOuter || (e->outer.cx <= kNotFound && e->outer.cy <= kNotFound);
  return innerFound && outerFound ? 1 : 0;
}

// The least-squares centre with the radius of the largest circle about it that holds no point:
// what a user break (or a failed search) leaves as the inscribed circle. 0 when the fit fails.
int LeastSquaresInner(const float* x, const float* y, int n, double centre[2], double* radius) {
  double c[3], r = 0.0, err = 0.0;
  if (NewFitCircle(x, y, n, c, &r, &err) != 0) return 0;
  double least = r * r;
  for (int i = 0; i < n; ++i) {
    const double d2 = FloatDist2(x[i], y[i], c[0], c[1]);
    if (d2 < least) least = d2;
  }
  centre[0] = c[0];
  centre[1] = c[1];
  *radius = std::sqrt(least);
  return 1;
}

}  // namespace

int MakeExtremeCircles(const float* x, const float* y, int n, double innerCentre[2], double* innerRadius,
                       double outerCentre[2], double* outerRadius) {
  if (n < 3 || !x || !y) return 0;
  TrackingScope scope;
  Extremes e;
  e.pollAbove = 100;
  if (StartExtremes(&e, x, y, n, 1.0, true) != 1) return 0;
  bool broken = !e.Refine(true, -1.0, false);
  double inCentre[2] = {e.inner.cx, e.inner.cy}, inRadius = std::sqrt(e.inner.r2);
  if (!broken) broken = !e.Refine(false, -1.0, false);
  const Circle2 outer = e.outer;
  scope.release();
  // A break leaves the least-squares approximation; when even that fails there is no inscribed
  // circle to report.
  if (broken && !LeastSquaresInner(x, y, n, inCentre, &inRadius)) return 0;
  innerCentre[0] = inCentre[0];
  innerCentre[1] = inCentre[1];
  *innerRadius = inRadius;
  if (!MakeOuterCircle(x, y, n, outerCentre, outerRadius)) {
    outerCentre[0] = outer.cx;
    outerCentre[1] = outer.cy;
    *outerRadius = std::sqrt(outer.r2);
  }
  return 1;
}

int MakeInnerCircle(const float* x, const float* y, int n, double centre[2], double* radius) {
  if (n < 3 || !x || !y) return 0;
  {
    TrackingScope scope;
    Extremes e;
    e.pollAbove = 50;
    if (StartExtremes(&e, x, y, n, 1.2, false) == 1 && e.Refine(true, e.outerMeanR2, true)) {
      centre[0] = e.inner.cx;
      centre[1] = e.inner.cy;
      *radius = std::sqrt(e.inner.r2);
      return 1;
    }
  }
  return LeastSquaresInner(x, y, n, centre, radius);
}

namespace {

// Index of the point farthest from c (the first of equals).
int Farthest(const float* x, const float* y, int n, double cx, double cy) {
  int best = 0;
  double bestD2 = -1.0;
  for (int i = 0; i < n; ++i) {
    const double dx = x[i] - cx, dy = y[i] - cy, d2 = dx * dx + dy * dy;
    if (d2 > bestD2) {
      bestD2 = d2;
      best = i;
    }
  }
  return best;
}

}  // namespace

int MakeOuterCircle(const float* x, const float* y, int n, double centre[2], double* radius) {
  if (n < 3 || !x || !y) return 0;
  TrackingScope scope;
  const char* hull = GrahamConvexHull(x, y, n);
  if (!hull || KernelFailed()) return 0;
  int h = 0;
  for (int i = 0; i < n; ++i)
    if (hull[i]) ++h;
  const float* px = x;
  const float* py = y;
  if (h < n) {
    float* hx = MallocArray<float>(h);
    float* hy = MallocArray<float>(h);
    if (!hx || !hy || KernelFailed()) return 0;
    for (int i = 0, k = 0; i < n; ++i)
      if (hull[i]) {
        hx[k] = x[i];
        hy[k++] = y[i];
      }
    px = hx;
    py = hy;
    n = h;
  }
  double cx = 0.0, cy = 0.0;
  for (int i = 0; i < n; ++i) {
    cx += px[i];
    cy += py[i];
  }
  cx /= n;
  cy /= n;
  // Walk the centre towards the farthest point until another point becomes the farthest: the
  // two are then far apart, a good start for the enclosing triple.
  const int i1 = Farthest(px, py, n, cx, cy);
  int i2 = i1;
  for (int move = 0; move < 11 && i2 == i1; ++move) {
    cx = (px[i1] + cx) / 2.0;
    cy = (py[i1] + cy) / 2.0;
    i2 = Farthest(px, py, n, cx, cy);
  }
  if (i2 == i1) return 0;
  cx = (static_cast<double>(px[i1]) + px[i2]) / 2.0;
  cy = (static_cast<double>(py[i1]) + py[i2]) / 2.0;
  int i3 = Farthest(px, py, n, cx, cy);
  if (i3 == i1 || i3 == i2) {
    centre[0] = cx;
    centre[1] = cy;
    const double dx = static_cast<double>(px[i1]) - px[i2], dy = static_cast<double>(py[i1]) - py[i2];
    *radius = std::sqrt(dx * dx + dy * dy) / 2.0;
    return 1;
  }
  int idx[3] = {i1, i2, i3};
  for (int iter = 0; iter < 20; ++iter) {
    double ccx, ccy, r2;
    if (!Get2DCircle(px[idx[0]], py[idx[0]], px[idx[1]], py[idx[1]], px[idx[2]], py[idx[2]], &ccx, &ccy, &r2))
      return 0;
    int out = -1;
    double outD2 = r2;
    for (int l = 0; l < n; ++l) {
      if (l == idx[0] || l == idx[1] || l == idx[2]) continue;
      const double dx = px[l] - ccx, dy = py[l] - ccy, d2 = dx * dx + dy * dy;
      if (d2 > outD2) {
        outD2 = d2;
        out = l;
      }
    }
    if (out < 0) {
      centre[0] = ccx;
      centre[1] = ccy;
      *radius = std::sqrt(r2);
      return 1;
    }
    int nearest = 0;
    double nearD2 = kNoValue;
    for (int k = 0; k < 3; ++k) {
      const double dx = px[idx[k]] - px[out], dy = py[idx[k]] - py[out], d2 = dx * dx + dy * dy;
      if (d2 < nearD2) {
        nearD2 = d2;
        nearest = k;
      }
    }
    idx[nearest] = out;
  }
  return 0;
}

int MakeOuterCircle2(const float* x, const float* y, int n, double centre[2], double* radius) {
  double innerCentre[2], innerRadius;
  return MakeExtremeCircles(x, y, n, innerCentre, &innerRadius, centre, radius);
}

int FitFakeOuterCircle(const float* x, const float* y, int n, double centre[2], double* radius) {
  if (!x || !y || n < 3) return -2;
  double c[3], r, err;
  if (NewFitCircle(x, y, n, c, &r, &err) != 0) return -2;
  double far2 = 0.0;
  for (int i = 0; i < n; ++i) {
    const double dx = x[i] - c[0], dy = y[i] - c[1];
    far2 = std::fmax(far2, dx * dx + dy * dy);
  }
  const double far = std::sqrt(far2);
  if (far < 1e-10) return -2;
  centre[0] = c[0];
  centre[1] = c[1];
  *radius = far;
  return 0;
}

// ---- circles of known radius -----------------------------------------------------------------

int CircleHoughTransWithRadius(const float* x, const float* y, int n, double r, int g, int m, double centre[2]) {
  // Fewer than two cells or angles leave no cell size or angle step (a division by zero).
  if (!x || !y || n < 2 || g < 2 || m < 2) return -2;
  TrackingScope scope;
  int** votes = allocate_matrix_ii(g, g);
  double* ox = MallocArray<double>(m);
  double* oy = MallocArray<double>(m);
  if (!votes || !ox || !oy || KernelFailed()) return -2;
  for (int i = 0; i < g; ++i)
    for (int j = 0; j < g; ++j) votes[i][j] = 0;
  const double step = 6.283185307179586 / (m - 1);
  double angle = 0.0;
  for (int k = 0; k < m; ++k, angle += step) ox[k] = r * std::cos(angle), oy[k] = r * std::sin(angle);
  double xmin = x[0], xmax = x[0], ymin = y[0], ymax = y[0];
  for (int i = 1; i < n; ++i) {
    xmin = std::fmin(xmin, x[i]), xmax = std::fmax(xmax, x[i]);
    ymin = std::fmin(ymin, y[i]), ymax = std::fmax(ymax, y[i]);
  }
  xmin -= r, xmax += r, ymin -= r, ymax += r;
  // A box of no width (r = 0 on points of one line) still gets cells: a floor relative to the
  // coordinates' size keeps the divisions finite.
  const double floor = 1e-12 * std::fmax(1.0, std::fmax(std::fabs(xmin) + std::fabs(xmax), std::fabs(ymin) + std::fabs(ymax)));
  const double dx = std::fmax((xmax - xmin) / (g - 1), floor), dy = std::fmax((ymax - ymin) / (g - 1), floor);
  auto cell = [g](double t) { return !(t > 0.0) ? 0 : (t >= g - 1 ? g - 1 : static_cast<int>(t)); };
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < m; ++k) ++votes[cell((oy[k] + y[i] - ymin) / dy)][cell((ox[k] + x[i] - xmin) / dx)];
  int row = 0, col = 0;
  for (int i = 0; i < g; ++i)
    for (int j = 0; j < g; ++j)
      if (votes[i][j] > votes[row][col]) row = i, col = j;
  centre[0] = (col + 0.5) * dx + xmin;
  centre[1] = (row + 0.5) * dy + ymin;
  return 0;
}

int FitCircleWithGivenRadius(const float* x, const float* y, int n, double r, double centre[2], double* error) {
  if (!x || !y || n < 3) return -2;
  if (AllAtTheFirst(x, y, n)) return -2;
  TrackingScope scope;
  float* cx = MallocArray<float>(n);
  float* cy = MallocArray<float>(n);
  if (!cx || !cy || KernelFailed()) return -2;
  double mean[2];
  ComputeCenterOfMass2D_f(x, y, n, mean);
  for (int k = 0; k < n; ++k) {
    cx[k] = static_cast<float>(x[k] - mean[0]);
    cy[k] = static_cast<float>(y[k] - mean[1]);
  }
  const double scale = ScaleToUnit(cx, cy, n);
  r /= scale;
  double c1[2], e1, maxDev;
  if (CircleHoughTransWithRadius(cx, cy, n, r, n < 100 ? 40 : 50, n < 1000 ? 180 : 100, c1) != 0) return -2;
  if (CircleNonllsqrFitWithRadiusMinpack(cx, cy, n, c1, r, 5e-16, n < 1000 ? 100 : 50, &e1, &maxDev) != 0) return -2;
  centre[0] = mean[0] + scale * c1[0], centre[1] = mean[1] + scale * c1[1];
  *error = scale * scale * e1;
  double c2[3], r2, e2;
  if (NewFitCircle(cx, cy, n, c2, &r2, &e2) != 0) {
    // The free circle is only a second opinion: its failure leaves the first fit standing, but
    // exhausted memory is the caller's to see.
    if (memory_error == 1) return -2;
    ClearKernelError();
    return 0;
  }
  if (CircleNonllsqrFitWithRadiusMinpack(cx, cy, n, c2, r, 5e-16, n < 1000 ? 50 : 25, &e2, &maxDev) != 0) return 0;
  if (e2 < e1) {
    centre[0] = mean[0] + scale * c2[0], centre[1] = mean[1] + scale * c2[1];
    *error = scale * scale * e2;
  }
  return 0;
}

Bspline* CircleFromPlaneFrame(const double centre[2], double r, const Xform M) {
  Xform Minv;
  if (mat_inverse4(M, Minv) != 0) return nullptr;
  const double c3[3] = {centre[0], centre[1], 0.0};
  Bspline* circle = NewCircleBspline(c3, r);
  if (!circle) return nullptr;
  for (int k = 0; k < NumCtrlU(circle); ++k) {
    const double p[3] = {circle->X[0][k], circle->Y[0][k], circle->Z[0][k]};
    double q[3];
    VecTrans3(p, Minv, q);
    circle->X[0][k] = q[0], circle->Y[0][k] = q[1], circle->Z[0][k] = q[2];
  }
  static const double kUp[3] = {0.0, 0.0, 1.0};
  double centreW[3], normal[3];
  VecTrans3(c3, Minv, centreW);
  VecReduceSmallToZero3(centreW);
  VecRot3(kUp, Minv, normal);
  UnitDirReduceSmallToZero3(normal);
  for (int k = 0; k < 3; ++k) circle->quadric->v[k] = centreW[k], circle->quadric->v[3 + k] = normal[k];
  return circle;
}

Bspline* FitCircleBsplineWithKnownRadius(const Cloud* cloud, double r, double* error) {
  *error = kEmptyBoxBound;
  if (!cloud || cloud->npts < 3) return nullptr;
  const int n = cloud->npts;
  // The fit runs in single precision on copies in the unit frame of the points, the radius with
  // them: a circle far from the origin keeps its digits, and the collinearity test measures the
  // points against their own size.
  const UnitFrame frame = UnitFrameOfPointsF(cloud->x, cloud->y, cloud->z, n, false);
  double c[2];
  Xform M;
  {
    TrackingScope scope;
    float* fx = MallocArray<float>(n);
    float* fy = MallocArray<float>(n);
    float* fz = MallocArray<float>(n);
    float* u = MallocArray<float>(n);
    float* v = MallocArray<float>(n);
    float* w = MallocArray<float>(n);
    if (!fx || !fy || !fz || !u || !v || !w || KernelFailed()) return nullptr;
    for (int i = 0; i < n; ++i) {
      fx[i] = static_cast<float>((cloud->x[i] - frame.centre[0]) / frame.size);
      fy[i] = static_cast<float>((cloud->y[i] - frame.centre[1]) / frame.size);
      fz[i] = static_cast<float>((cloud->z[i] - frame.centre[2]) / frame.size);
    }
    // Coincident points are collinear too: one test refuses both.
    if (IsPointsCollinear_f(fx, fy, fz, n)) return nullptr;
    if (ProjectPointsToBestFitPlane_f(fx, fy, fz, n, u, v, w, M) != 0 || KernelFailed()) return nullptr;
    if (FitCircleWithGivenRadius(u, v, n, r / frame.size, c, error) != 0) return nullptr;
  }
  Bspline* circle = CircleFromPlaneFrame(c, r / frame.size, M);
  if (!circle) return nullptr;
  ObjectFromUnitFrame(circle, frame);
  circle->quadric->v[6] = r;  // as given, not as it came back through the frame
  *error *= frame.size * frame.size;
  return circle;
}
