#include "quadric/quadrics.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "cloud/princip.h"
#include "foundation/algebra.h"
#include "foundation/coreglob.h"
#include "foundation/eigen.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "quadric/planefit.h"
#include "quadric/qcircle.h"
#include "quadric/qnlfit.h"
#include "quadric/qnurbs.h"
#include "quadric/qrevolve.h"
#include "quadric/sphere.h"

namespace {

// Components of a fitted line's ends below this fraction of its length come out as 0.
constexpr double kZeroComponent = 1e-6;

// The object's control points moved into the frame (toUnit) or back out of it.
void MoveControlPoints(Bspline* b, const UnitFrame& frame, bool toUnit) {
  double** m[3] = {b->X, b->Y, b->Z};
  for (int j = 0; j < NumCtrlV(b); ++j)
    for (int i = 0; i < NumCtrlU(b); ++i) {
      double p[3] = {m[0][j][i], m[1][j][i], m[2][j][i]};
      if (toUnit)
        PointToUnitFrame(frame, p, p);
      else
        PointFromUnitFrame(frame, p, p);
      for (int c = 0; c < 3; ++c) m[c][j][i] = p[c];
    }
}

// Cross terms enter the design row times sqrt 2 so that the unit eigenvector is the quadratic
// part's matrix of unit Frobenius norm: the fit then does not depend on the frame.
constexpr double kSqrt2 = 1.4142135623730951;

// Entries of the quadratic part below this are taken as 0 before the eigen-decomposition, so a
// quadric already on its axes keeps exact axes.
constexpr double kCrossZero = 1e-6;

// Relative size below which an eigenvalue of the reduced scatter matrix is round-off: its
// entries are sums of products of up to four coordinates, formed in double from float points.
constexpr double kEigenRoundOff = 1e-9;

void SymmetrisePairs(double** m, int n) {
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) m[i][j] = m[j][i] = 0.5 * (m[i][j] + m[j][i]);
}

}  // namespace

int QuadricsFit(const float* x, const float* y, const float* z, int n, double coef[10], double* eigenvalue) {
  if (!x || !y || !z || n < 1) return 0;
  TrackingScope scope;
  double** S = allocate_matrix_ff(10, 10);
  double** H = allocate_matrix_ff(6, 6);
  double** C = allocate_matrix_ff(4, 6);
  double** E = allocate_matrix_ff(6, 4);
  double** F = allocate_matrix_ff(4, 4);
  int* indx = MallocArray<int>(4);
  if (!S || !H || !C || !E || !F || !indx || KernelFailed()) return 0;
  // Solved on the points moved to their centroid and scaled to unit size: far from the origin
  // the design rows' squares would swamp the shape's digits.
  const UnitFrame frame = UnitFrameOfPointsF(x, y, z, n, false);
  for (int i = 0; i < 10; ++i) std::fill(S[i], S[i] + 10, 0.0);
  for (int k = 0; k < n; ++k) {
    const double p[3] = {x[k], y[k], z[k]};
    double u[3];
    PointToUnitFrame(frame, p, u);
    const double px = u[0], py = u[1], pz = u[2];
    const double v[10] = {px * px, py * py, pz * pz, kSqrt2 * px * py, kSqrt2 * px * pz, kSqrt2 * py * pz,
                          px, py, pz, 1.0};
    for (int i = 0; i < 10; ++i)
      for (int j = i; j < 10; ++j) S[i][j] += v[i] * v[j];
  }
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < i; ++j) S[i][j] = S[j][i];
  // Linear block F (rows and columns 6..9) and mixed block B (rows 6..9, columns 0..5): the
  // linear coefficients are eliminated as l = -F^-1 B q.
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) F[i][j] = S[6 + i][6 + j];
  double parity;
  if (ludcmp_ff(F, 4, indx, &parity) != 0) return 0;
  for (int j = 0; j < 6; ++j) {
    double col[4];
    for (int i = 0; i < 4; ++i) col[i] = S[6 + i][j];
    lubksb_ff(F, 4, indx, col);
    for (int i = 0; i < 4; ++i) C[i][j] = col[i];
  }
  // H = A - B^T C, both products symmetrised by pair means.
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      double e = 0.0;
      for (int k = 0; k < 4; ++k) e += S[6 + k][i] * C[k][j];
      H[i][j] = e;
    }
  SymmetrisePairs(H, 6);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) H[i][j] = S[i][j] - H[i][j];
  SymmetrisePairs(H, 6);
  double lambda[6];
  if (eigensystem(H, 6, lambda) != 0) return 0;
  // The smallest non-negative eigenvalue (a later index wins a tie); none keeps index 0. H is
  // positive semi-definite, so a negative eigenvalue within round-off of the largest is the
  // zero of points lying exactly on a quadric: it counts as 0 rather than being passed over
  // for a worse solution.
  const double roundOff = kEigenRoundOff * std::fabs(lambda[0]);
  int chosen = 0;
  double value = std::fabs(lambda[0]);
  for (int i = 0; i < 6; ++i) {
    const double li = lambda[i] < 0.0 && lambda[i] >= -roundOff ? 0.0 : lambda[i];
    if ((li > 0.0 || (li == 0.0 && lambda[0] > 0.0)) && li <= value) chosen = i, value = li;
  }
  double q[6], unit[10];
  for (int i = 0; i < 6; ++i) q[i] = H[i][chosen];
  for (int i = 0; i < 3; ++i) unit[i] = q[i];
  for (int i = 3; i < 6; ++i) unit[i] = kSqrt2 * q[i];
  for (int i = 0; i < 4; ++i) {
    double l = 0.0;
    for (int j = 0; j < 6; ++j) l += C[i][j] * q[j];
    unit[6 + i] = -l;
  }
  // Back to the model: with u = (p - c) / s, s^2 Q_u(u) = (p - c)^T M (p - c) + s b.(p - c) + s^2 k
  // keeps the quadratic part M (and its unit norm) and residuals in the model's squared units.
  const double* c = frame.centre;
  const double sz = frame.size;
  const double M[3][3] = {{unit[0], unit[3] / 2, unit[4] / 2},
                          {unit[3] / 2, unit[1], unit[5] / 2},
                          {unit[4] / 2, unit[5] / 2, unit[2]}};
  double constant = sz * sz * unit[9];
  for (int i = 0; i < 3; ++i) {
    const double Mc = M[i][0] * c[0] + M[i][1] * c[1] + M[i][2] * c[2];
    coef[6 + i] = sz * unit[6 + i] - 2.0 * Mc;
    constant += c[i] * Mc - sz * unit[6 + i] * c[i];
  }
  for (int i = 0; i < 6; ++i) coef[i] = unit[i];
  coef[9] = constant;
  *eigenvalue = value * sz * sz * sz * sz;
  return 1;
}

void QuadricsFitError(const double coef[10], const float* x, const float* y, const float* z, int n,
                      double* meanSquare, double* maxAbs) {
  *meanSquare = 0.0;
  *maxAbs = 0.0;
  // No points have no residuals: a mean of 0 rather than 0 / 0.
  if (n < 1 || !x || !y || !z) return;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double px = x[i], py = y[i], pz = z[i];
    const double r = coef[0] * px * px + coef[1] * py * py + coef[2] * pz * pz + coef[3] * px * py +
                     coef[4] * px * pz + coef[5] * py * pz + coef[6] * px + coef[7] * py + coef[8] * pz + coef[9];
    sum += r * r;
    *maxAbs = std::max(*maxAbs, std::fabs(r));
  }
  *meanSquare = sum / n;
}

void QuadricsOrientation(const double coef[10], double** rot, double diag[10]) {
  std::copy(coef, coef + 10, diag);
  const double m[3][3] = {{coef[0], coef[3] / 2, coef[4] / 2},
                          {coef[3] / 2, coef[1], coef[5] / 2},
                          {coef[4] / 2, coef[5] / 2, coef[2]}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rot[i][j] = std::fabs(m[i][j]) < kCrossZero ? 0.0 : m[i][j];
  double lambda[3];
  if (eigensystem(rot, 3, lambda) != 0) return;
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j) std::swap(rot[i][j], rot[j][i]);
  for (int i = 0; i < 3; ++i) {
    diag[i] = lambda[i];
    diag[3 + i] = 0.0;
    diag[6 + i] = rot[i][0] * coef[6] + rot[i][1] * coef[7] + rot[i][2] * coef[8];
  }
}

int QuadricsGeneralCenter(const double coef[10], double centre[3]) {
  TrackingScope scope;
  double** M = allocate_matrix_ff(3, 3);
  if (!M || KernelFailed()) return -2;
  const double m[3][3] = {{coef[0], coef[3] / 2, coef[4] / 2},
                          {coef[3] / 2, coef[1], coef[5] / 2},
                          {coef[4] / 2, coef[5] / 2, coef[2]}};
  for (int i = 0; i < 3; ++i) std::copy(m[i], m[i] + 3, M[i]);
  const double rhs[3] = {-0.5 * coef[6], -0.5 * coef[7], -0.5 * coef[8]};
  double x[3];
  if (SolveLinearSystem_ff(M, 3, rhs, x) != 0) return -2;
  std::copy(x, x + 3, centre);
  return 0;
}

int QuadricsCenter(const double diag[10], double centre[3], double canon[10]) {
  std::fill(canon, canon + 10, 0.0);
  double k = diag[9];
  for (int i = 0; i < 3; ++i) {
    canon[i] = diag[i];
    centre[i] = std::fabs(diag[i]) <= 1e-8 ? 0.0 : -diag[6 + i] / (2.0 * diag[i]);
    k -= diag[i] * centre[i] * centre[i];
  }
  if (std::fabs(k) < 1e-8) return 0;
  for (int i = 0; i < 10; ++i) canon[i] /= -k;
  canon[9] = -1.0;
  return 0;
}

int QuadricsPrincAxis(const double diag[10], double* const* rot, double axis[3], int* index) {
  constexpr double kZero = 1e-6;
  const double a[3] = {std::fabs(diag[0]), std::fabs(diag[1]), std::fabs(diag[2])};
  if (std::max({a[0], a[1], a[2]}) < kZero) return -2;
  int s[3];
  for (int i = 0; i < 3; ++i) s[i] = a[i] < kZero ? 0 : (diag[i] > 0.0 ? 1 : -1);
  int k = -1;
  for (int i = 0; i < 3; ++i)
    if (s[i] == 0) k = i;
  if (k < 0) {
    if (s[0] != s[1] || s[0] != s[2])
      k = s[0] * s[1] > 0 ? 2 : (s[0] * s[2] > 0 ? 1 : 0);
    else
      k = a[1] < a[0] ? (a[2] < a[1] ? 2 : 1) : (a[2] < a[0] ? 2 : 0);
  }
  double v[3] = {rot[k][0], rot[k][1], rot[k][2]};
  const double len = VecSize3(v);
  for (int i = 0; i < 3; ++i) axis[i] = len > 0.0 ? v[i] / len : v[i];
  *index = k;
  return 0;
}

Bspline* CreateSphereBspline(double cx, double cy, double cz, double r) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed() || SphereNurbs(cx, cy, cz, r, s.get()) != 0 || KernelFailed()) return nullptr;
  scope.keep();
  return s.release();
}

namespace {

// A new surface filled by one of the exact fillers, u then given the control-net speed of v.
Bspline* ExactSurface(const QuadricInfo* info, int (*fill)(const QuadricInfo*, Bspline*)) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed() || fill(info, s.get()) != 0 || KernelFailed()) return nullptr;
  Bspline* pair[2] = {s.get(), s.get()};
  static const int kVThenU[2] = {1, 0};
  ProportionPairParams(pair, kVThenU, 0, 1, 0);
  scope.keep();
  return s.release();
}

}  // namespace

Bspline* CreateCylinderBspline(const QuadricInfo* cyl) { return ExactSurface(cyl, CylinderNurbs); }

Bspline* CreateConeBspline(const QuadricInfo* cone) { return ExactSurface(cone, ConeNurbs); }

Bspline* FitSphereBspline(const float* x, const float* y, const float* z, int n) {
  double c[3], r, error;
  if (FitSphere(x, y, z, n, c, &r, &error) != 0) return MadeOrFailed<Bspline>(nullptr);
  return SoundRecordOrFailed(CreateSphereBspline(c[0], c[1], c[2], r));
}

Bspline* FitSphereBsplineGivenRadius(const float* x, const float* y, const float* z, int n, double r) {
  double c[3], error;
  if (FitSphereWithGivenRadius(x, y, z, n, r, c, &error) != 0) return MadeOrFailed<Bspline>(nullptr);
  return SoundRecordOrFailed(CreateSphereBspline(c[0], c[1], c[2], r));
}

Bspline* MakeBsplParabolaCrv(double p, double h) {
  if (!(p > 0.0) || !(h > 0.0)) return nullptr;
  const double s = std::sqrt(4.0 * p * h);
  // The middle control point is where the tangents at the vertex (along x) and at the rim meet.
  double a, b;
  if (SolveLin2(-4.0 * p, 4.0 * p, s, 0.0, 2.0 * s, h, &a, &b) != 0) return nullptr;
  const double m = -4.0 * p * a;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = 2;
  c->interiorU = 0;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  static const double kKnots[6] = {0, 0, 0, 1, 1, 1};
  std::copy(kKnots, kKnots + 6, c->knotsU);
  c->umin = 0.0;
  c->umax = 1.0;
  const double px[3] = {0.0, m, s}, pz[3] = {0.0, 0.0, h};
  for (int k = 0; k < 3; ++k) {
    c->X[0][k] = px[k];
    c->Y[0][k] = 0.0;
    c->Z[0][k] = pz[k];
  }
  scope.keep();
  return c.release();
}

Bspline* MakeBsplParabolicSrf(double p, double t0, double h, const double base[3], const double axis[3]) {
  if (!base || !axis || !(t0 >= 0.0 && t0 < h) || VecSize3(axis) == 0.0) return nullptr;
  Owned<Bspline, FreeBspline> profile(MakeBsplParabolaCrv(p, h));
  if (!profile) return nullptr;
  if (t0 != 0.0) {
    Owned<Bspline, FreeBspline> piece(ExtractParamRange(profile.get(), 0, t0 / h, 1.0));
    if (!piece) return nullptr;
    profile.reset(piece.release());
  }
  static const double kOrigin[3] = {0.0, 0.0, 0.0}, kUp[3] = {0.0, 0.0, 1.0};
  Owned<Bspline, FreeBspline> s(RevolveProfile(profile.get(), kOrigin, kUp, 0.0, 360.0, 0));
  if (!s) return nullptr;
  double P0[3], P1[3];
  for (int k = 0; k < 3; ++k) P0[k] = base[k] + t0 * axis[k], P1[k] = base[k] + h * axis[k];
  Xform T, Tinv;
  TransformToZAxis(P0, P1, T);
  if (not_identity_xform(T)) {
    if (mat_inverse4(T, Tinv) != 0) return nullptr;
    const int nu = NumCtrlU(s.get()), nv = NumCtrlV(s.get());
    for (int j = 0; j < nv; ++j) Transform3DArrays(s->X[j], s->Y[j], s->Z[j], nu, Tinv);
  }
  return s.release();
}

void FitALinePts(const double* x, const double* y, const double* z, int n, double start[3], double end[3]) {
  if (FitALineOfPoints(x, y, z, n, start, end) != 0 || n == 2) return;
  // Components at round-off of the line's length are taken as exact zeros (a line along a
  // coordinate plane stays on it); relative to the length, so that a short line keeps its ends.
  const double tiny = kZeroComponent * VecDist3(start, end);
  for (double* p : {start, end})
    for (int k = 0; k < 3; ++k)
      if (std::fabs(p[k]) < tiny) p[k] = 0.0;
}

Bspline* FitCirclePts(const double* x, const double* y, const double* z, int n) {
  if (!x || !y || !z || n < 3) return nullptr;
  // The fit runs in single precision on copies in the unit frame of the points (their centroid,
  // the longest side of their box): a circle far from the origin keeps its digits, and the
  // collinearity test measures the points against their own size.
  const UnitFrame frame = UnitFrameOfPoints(x, y, z, n, false);
  TrackingScope scope;
  float* fx = MallocArray<float>(n);
  float* fy = MallocArray<float>(n);
  float* fz = MallocArray<float>(n);
  float* u = MallocArray<float>(n);
  float* v = MallocArray<float>(n);
  float* w = MallocArray<float>(n);
  if (!fx || !fy || !fz || !u || !v || !w || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    fx[i] = static_cast<float>((x[i] - frame.centre[0]) / frame.size);
    fy[i] = static_cast<float>((y[i] - frame.centre[1]) / frame.size);
    fz[i] = static_cast<float>((z[i] - frame.centre[2]) / frame.size);
  }
  // Coincident points are collinear too: one test refuses both.
  if (IsPointsCollinear_f(fx, fy, fz, n)) return nullptr;
  Xform M;
  if (ProjectPointsToBestFitPlane_f(fx, fy, fz, n, u, v, w, M) != 0 || KernelFailed()) return nullptr;
  double coefs[4], centre[2], r, error, maxDeviation;
  if (estimate_circle_para(u, v, n, coefs, centre, &r) != 0) return nullptr;
  if (CircleNonllsqrFitMinpack(u, v, n, centre, &r, 1e-16, 40, &error, &maxDeviation) != 0 || KernelFailed())
    return nullptr;
  // The circle is kept out of this scope; only the scratch goes.
  Bspline* circle = CircleFromPlaneFrame(centre, r, M);
  if (circle) ObjectFromUnitFrame(circle, frame);
  return circle;
}

// ---- recognition ------------------------------------------------------------------------------

int AttachQuadricOf(Bspline* obj, const Bspline* trial) {
  if (!obj || !trial || !trial->quadric || QuadricDoubles(trial->quadricType) == 0) return 0;
  QuadricInfo* q;
  {
    UntrackedScope owned;  // the object owns its form from the start
    q = DuplicateQuadricInfo(trial->quadric, QuadricDoubles(trial->quadricType));
  }
  if (!q) return 0;
  FreeQuadricInfo(obj);
  obj->quadric = q;
  obj->quadricType = trial->quadricType;
  return 1;
}

Bspline* UnitSizeCopy(Bspline* obj, UnitFrame* frame) {
  if (!obj || !frame) return nullptr;
  double lo[3], hi[3];
  ControlPointBox(obj, lo, hi);
  double size = 0.0;
  for (int c = 0; c < 3; ++c) {
    size = std::fmax(size, hi[c] - lo[c]);
    frame->centre[c] = 0.5 * lo[c] + 0.5 * hi[c];
  }
  if (!(size > 0.0) || !std::isfinite(size)) return nullptr;
  frame->size = std::ldexp(1.0, std::ilogb(size));
  Bspline* copy = CopyBsplineStruct(obj);
  if (!copy) return nullptr;
  MoveControlPoints(copy, *frame, true);
  return copy;
}

void QuadricFormFromUnitFrame(Bspline* obj, const UnitFrame& frame) {
  if (!obj || !obj->quadric) return;
  double* v = obj->quadric->v;
  switch (obj->quadricType) {
    case 1:  // start, end
      PointFromUnitFrame(frame, v, v);
      PointFromUnitFrame(frame, v + 3, v + 3);
      break;
    case 2:  // centre, normal, radius
    case 3:  // centre, normal, radius, sweep angle
      PointFromUnitFrame(frame, v, v);
      v[6] *= frame.size;
      break;
    case 21:  // radius, centre
      v[0] *= frame.size;
      PointFromUnitFrame(frame, v + 1, v + 1);
      break;
    case 22:  // axis point, axis, radius, start and end heights
    case 23:  // apex, axis, half angle, start and end heights
      PointFromUnitFrame(frame, v, v);
      for (int k : {7, 8}) v[k] *= frame.size;
      if (obj->quadricType == 22) v[6] *= frame.size;
      break;
    case 25:  // a x + b y + c z + d = 0 with x = (X - centre) / size
      v[3] = v[3] * frame.size - (v[0] * frame.centre[0] + v[1] * frame.centre[1] + v[2] * frame.centre[2]);
      break;
    default:
      break;
  }
}

void ObjectFromUnitFrame(Bspline* obj, const UnitFrame& frame) {
  if (!obj) return;
  MoveControlPoints(obj, frame, false);
  QuadricFormFromUnitFrame(obj, frame);
}

int CopyDcoord(double dst[3], double x, double y, double z) {
  dst[0] = x, dst[1] = y, dst[2] = z;
  return 1;
}

int GetSphereFromPts(const float* x, const float* y, const float* z, int n, Bspline* surface) {
  if (!surface || !surface->rational || !surface->closedU) return 0;
  double centre[3], r, error;
  if (FitSphere(x, y, z, n, centre, &r, &error) != 0) return 0;
  // Mean squared error against 2e-6 radius, units as they have always been (see the header).
  if (!(error <= 2e-6 * r)) return 0;
  Bspline trial{};
  QuadricInfo info = {{r, centre[0], centre[1], centre[2]}};
  trial.quadricType = 21;
  trial.quadric = &info;
  return AttachQuadricOf(surface, &trial);
}

int GetPlaneFromPts(const float* x, const float* y, const float* z, int n, const Bbox box, Bspline* surface) {
  if (!surface || !x || !y || !z) return 0;
  PlaneEq plane;
  if (!PlaneFit(x, y, z, n, plane)) return 0;
  double diag2 = 0.0;
  for (int k = 0; k < 3; ++k) diag2 += (box[3 + k] - box[k]) * (box[3 + k] - box[k]);
  const double tol2 = 1e-6 * diag2;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    double foot[3], d;
    PlaneMinDist(p, plane[0], plane[1], plane[2], plane[3], foot, &d);
    if (!(d * d <= tol2)) return 0;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> patch(PutPlaneToBsplinePatch(plane, box, 0));
  if (!patch || KernelFailed()) return 0;
  return AttachQuadricOf(surface, patch.get());
}
