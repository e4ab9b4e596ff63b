#include "splinefit/splutil.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/kremove.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathutil.h"
#include "foundation/umalloc.h"
#include "splinefit/sconvert.h"

double Dist(const double* a, const double* b, int n) {
  if (!a || !b) return 0.0;
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(s);
}

namespace {

// One control line of n points in `dims` coordinates, points at line[c][i].
// Knot removal (the inverse of Boehm's insertion): with K' = K less entry r (u = K[r]), the
// insertion of u into K' gives P(i) = (1 - a) Q(i-1) + a Q(i) for i = r-p .. r-1, where
// 1 - a = (K'[i+p] - u) / (K'[i+p] - K'[i]); solved from the left for Q(r-p) .. Q(r-1), the
// removal is exact when Q(r-1) meets P(r), which the insertion leaves unchanged. On success
// Kout (n + p values) and Q (n - 1 points) hold the shorter line.
bool TryRemove(const double* K, int p, int n, double* const* line, int dims, int r, double tol,
               double* Kout, double* const* Q) {
  if (r <= p || r >= n) return false;
  while (r > p + 1 && K[r - 1] == K[r]) --r;  // the first copy of the run
  const double u = K[r];
  for (int i = 0, k = 0; i < n + p + 1; ++i)
    if (i != r) Kout[k++] = K[i];
  for (int c = 0; c < dims; ++c) {
    for (int i = 0; i < r - p; ++i) Q[c][i] = line[c][i];
    for (int i = r - p; i <= r - 1; ++i) {
      const double den = Kout[i + p] - Kout[i];
      const double alpha = den != 0.0 ? (Kout[i + p] - u) / den : 0.0;
      if (1.0 - alpha == 0.0) {
        Q[c][i] = line[c][i];
        continue;
      }
      Q[c][i] = (line[c][i] - alpha * Q[c][i - 1]) / (1.0 - alpha);
    }
  }
  double a[3] = {}, b[3] = {};
  for (int c = 0; c < dims; ++c) a[c] = Q[c][r - 1], b[c] = line[c][r];
  const double d = Dist(a, b, dims);
  if (!(d <= tol)) return false;
  for (int c = 0; c < dims; ++c)
    for (int k = 0; r + k < n; ++k) Q[c][r - 1 + k] = line[c][r + k];
  return true;
}

int RemoveFromCurve(Bspline* curve, int r, double tol) {
  if (!curve || curve->kind != 1 || curve->rational || !BsplineShapeSound(curve)) return 0;
  const int p = curve->degreeU, n = NumCtrlU(curve), dims = curve->dimension;
  TrackingScope scope;
  double* work = MallocArray<double>(n + p + 1 + 3 * n);
  if (!work || KernelFailed()) return -2;
  double* Q[3] = {work + n + p + 1, work + n + p + 1 + n, work + n + p + 1 + 2 * n};
  double* line[3] = {curve->X[0], curve->Y[0], dims == 3 ? curve->Z[0] : nullptr};
  if (!TryRemove(curve->knotsU, p, n, line, dims, r, tol, work, Q)) return 0;
  std::memcpy(curve->knotsU, work, sizeof(double) * (n + p));
  for (int c = 0; c < dims; ++c) std::memcpy(line[c], Q[c], sizeof(double) * (n - 1));
  curve->interiorU -= 1;
  FreeBsplineProperties(curve);
  return 1;
}

// The interior entries left to right, a removed one replaced by the next.
template <class Remove>
void RemoveEveryKnot(int p, const int* interior, Remove remove) {
  for (int i = p + 1; i < p + 1 + *interior;)
    if (remove(i) != 1) ++i;
}

}  // namespace

int RemoveKnotFromCurve(Bspline* curve, int r, double tol) { return RemoveFromCurve(curve, r, tol); }

int RemoveCurveKnot(Bspline* curve, int r, double tol) {
  return RemoveKnotFromCurve(curve, r, tol) == 1 ? 1 : 0;
}

int RemoveKnot(Bspline* curve, int r, double tol) { return RemoveFromCurve(curve, r, tol); }

int RemoveAllCurveKnots(Bspline* curve, double tol) {
  if (!RecordsSound({curve}) || curve->kind != 1) return -2;
  RemoveEveryKnot(curve->degreeU, &curve->interiorU,
                  [&](int i) { return RemoveCurveKnot(curve, i, tol); });
  return 0;
}

int RemoveSurfKnot(Bspline* surface, int dir, int r, double tol) {
  if (!surface || surface->kind != 2 || surface->rational || !BsplineShapeSound(surface)) return 0;
  const bool inV = dir != 0;
  const int nu = NumCtrlU(surface), nv = NumCtrlV(surface);
  const int p = inV ? surface->degreeV : surface->degreeU, n = inV ? nv : nu;
  const int lines = inV ? nu : nv;
  double* K = inV ? surface->knotsV : surface->knotsU;
  TrackingScope scope;
  // Every line shortened into the work block first: the surface changes only when all pass.
  double* Kout = MallocArray<double>(n + p + 1);
  double* lineBuf = MallocArray<double>(3, n);
  double* out = MallocArray<double>(3, lines, n);
  if (!Kout || !lineBuf || !out || KernelFailed()) return -2;
  double** M[3] = {surface->X, surface->Y, surface->Z};
  for (int l = 0; l < lines; ++l) {
    double* line[3] = {lineBuf, lineBuf + n, lineBuf + 2 * n};
    double* Q[3];
    for (int c = 0; c < 3; ++c) {
      Q[c] = out + (c * lines + l) * n;
      for (int i = 0; i < n; ++i) line[c][i] = inV ? M[c][i][l] : M[c][l][i];
    }
    if (!TryRemove(K, p, n, line, 3, r, tol, Kout, Q)) return 0;
  }
  std::memcpy(K, Kout, sizeof(double) * (n + p));
  for (int c = 0; c < 3; ++c)
    for (int l = 0; l < lines; ++l)
      for (int i = 0; i < n - 1; ++i) {
        const double v = out[(c * lines + l) * n + i];
        (inV ? M[c][i][l] : M[c][l][i]) = v;
      }
  (inV ? surface->interiorV : surface->interiorU) -= 1;
  FreeBsplineProperties(surface);
  return 1;
}

int RemoveAllSurfKnots(Bspline* surface, double tol) {
  if (!RecordsSound({surface}) || surface->kind != 2) return -2;
  RemoveEveryKnot(surface->degreeU, &surface->interiorU,
                  [&](int i) { return RemoveSurfKnot(surface, 0, i, tol); });
  RemoveEveryKnot(surface->degreeV, &surface->interiorV,
                  [&](int i) { return RemoveSurfKnot(surface, 1, i, tol); });
  return 0;
}

void GetMaxCurveDeviation(const Bspline* curve, int i, double d, double* out) {
  if (!out) return;
  *out = 0.0;
  if (!RecordShapesSound({curve}) || i < 0 || i >= NumCtrlU(curve)) return;
  *out = GrevilleDeviation(curve->knotsU, curve->degreeU, NumCtrlU(curve), i, d);
}

int IsKnotVectorUniform(const Bspline* obj, int dir, double tol) {
  if (!RecordShapesSound({obj})) return 0;
  const bool inV = obj->kind == 2 && dir != 0;
  const double* K = inV ? obj->knotsV : obj->knotsU;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int interior = inV ? obj->interiorV : obj->interiorU;
  if (interior < 1) return 1;
  const double s = K[p + 1] - K[p];
  for (int j = p; j <= p + interior - 1; ++j) {
    const double span = K[j + 1] - K[j];
    if (span < s - tol || span > s + tol) return 0;
  }
  return 1;
}

void BenchBsplEval(const Bspline* surface, const double* u, const double* v, int nu, int nv,
                   const int* requests, double* out, double*** outGrid, int useGeneric) {
  const bool derivs = requests[1] || requests[2];
  static const int kDu[3] = {0, 1, 0}, kDv[3] = {0, 0, 1};
  if (nu == 1 && nv == 1) {
    double r[3][3] = {};
    for (int k = 0; k < 100000; ++k) {
      if (derivs && useGeneric)
        EvalPointOnGeometryM(surface, u[0], v[0], kDu, kDv, 3, 0, r);
      else
        Eval3DPointOnSurfArrayM(surface, u[0], v[0], requests, r);
    }
    if (out) std::memcpy(out, r, sizeof(r));
    return;
  }
  if (!derivs) {
    Eval3DGridOnBsplArray(surface, u, nu, v, nv, out, out + nu * nv, out + 2 * nu * nv);
  } else if (useGeneric && outGrid) {
    EvalGridOnGeometryM(surface, u, v, nu, nv, kDu, kDv, 3, 0, *outGrid);
  }
}

// ---- Piecewise polynomials back to B-splines ----------------------------------------------------

int FindBezierMatrix(int n, double** M) {
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      if (j > i) {
        M[i][j] = 0.0;
        continue;
      }
      const double sign = (i - j) % 2 ? -1.0 : 1.0;
      M[i][j] = sign * GetFactorial(n) / (GetFactorial(j) * GetFactorial(n - i) * GetFactorial(i - j));
    }
  return 0;
}

int FindInvBezierMatrix(int n, double** Minv) {
  TrackingScope scope;
  double** M = allocate_matrix_ff(n + 1, n + 1);
  if (!M || KernelFailed()) return -2;
  FindBezierMatrix(n, M);
  for (int i = 0; i <= n; ++i) {
    for (int j = 0; j <= n; ++j) Minv[i][j] = 0.0;
    Minv[i][i] = 1.0 / M[i][i];
    for (int j = 0; j < i; ++j) {
      double s = 0.0;
      for (int k = j; k < i; ++k) s += M[i][k] * Minv[k][j];
      Minv[i][j] = -s / M[i][i];
    }
  }
  return 0;
}

int FindBezierCoeffs(const PpolyCurve* pp, int i, double** Minv, double** B) {
  if (!pp || i < 0 || i >= pp->segmentCount || !pp->segments[i]) return -2;
  const PpolySegment* s = pp->segments[i];
  const int d = s->degree;
  for (int r = 0; r <= d; ++r)
    for (int c = 0; c < s->dim; ++c) {
      double sum = 0.0;
      for (int k = 0; k <= r; ++k) sum += Minv[r][k] * s->coefficients[c][k];
      B[r][c] = sum;
    }
  return 0;
}

int FindBezierSurfCoeffs(const PpolySurface* pp, int iv, int iu, double** MinvU, double** MinvV,
                         double** BX, double** BY, double** BZ) {
  if (!pp || iu < 0 || iv < 0 || iu >= pp->segmentCountU || iv >= pp->segmentCountV ||
      !pp->patches[iu] || !pp->patches[iu][iv])
    return -2;
  const PpolyPatch* patch = pp->patches[iu][iv];
  const int du = patch->degreeU, dv = patch->degreeV;
  TrackingScope scope;
  double** T = allocate_matrix_ff(dv + 1, du + 1);
  if (!T || KernelFailed()) return -2;
  double** out[3] = {BX, BY, BZ};
  for (int c = 0; c < 3; ++c) {
    // T = Minv(dv) A with A[j][i] the coefficient of s^i r^j, then B = T Minv(du)^T.
    for (int j = 0; j <= dv; ++j)
      for (int i = 0; i <= du; ++i) {
        double sum = 0.0;
        for (int k = 0; k <= j; ++k) sum += MinvV[j][k] * patch->coefficients[i][k][c];
        T[j][i] = sum;
      }
    for (int j = 0; j <= dv; ++j)
      for (int i = 0; i <= du; ++i) {
        double sum = 0.0;
        for (int k = 0; k <= i; ++k) sum += T[j][k] * MinvU[i][k];
        out[c][j][i] = sum;
      }
  }
  return 0;
}

namespace {

void RepeatBreakpoints(const double* b, int segments, int p, double* out) {
  for (int i = 0, k = 0; i <= segments; ++i)
    for (int r = 0; r <= p; ++r) out[k++] = b[i];
}

// Breakpoints must rise, or the knot vector would not be one.
bool Increasing(const double* b, int segments) {
  if (!b || segments < 1) return false;
  for (int i = 0; i < segments; ++i)
    if (!(b[i + 1] > b[i]) || !std::isfinite(b[i])) return false;
  return std::isfinite(b[segments]);
}

// A surface record of the degrees and interior counts with its arrays, outside every scope (the
// caller's to free), or null.
Bspline* NewSurfaceRecord(int p, int q, int nIu, int nIv) {
  TrackingScope scope;
  Bspline* s = MallocInitSurfaceBspline();
  if (!s || KernelFailed()) return nullptr;
  s->degreeU = p;
  s->degreeV = q;
  s->interiorU = nIu;
  s->interiorV = nIv;
  if (AllocateBsplineArrays(s) < 0 || KernelFailed()) return nullptr;
  scope.keep();
  return s;
}

}  // namespace

int FindKnots(const PpolyCurve* pp, double* out) {
  RepeatBreakpoints(pp->breakpoints, pp->segmentCount, pp->degree, out);
  return 0;
}

int FindSurfKnots(const PpolySurface* pp, double* outU, double* outV) {
  RepeatBreakpoints(pp->breakpointsU, pp->segmentCountU, pp->degreeU, outU);
  RepeatBreakpoints(pp->breakpointsV, pp->segmentCountV, pp->degreeV, outV);
  return 0;
}

// One degree step of the Bezier polygon: b'_i = (i / (n + 1)) b_i-1 + (1 - i / (n + 1)) b_i.
void RaiseBezierCurveDegreeBy1(int n, int dim, double** in, double** out) {
  if (!in || !out || n < 0 || dim < 0) return;
  for (int c = 0; c < dim; ++c) {
    out[0][c] = in[0][c];
    out[n + 1][c] = in[n][c];
  }
  for (int i = 1; i <= n; ++i) {
    const double a = static_cast<double>(i) / (n + 1);
    for (int c = 0; c < dim; ++c) out[i][c] = a * in[i - 1][c] + (1.0 - a) * in[i][c];
  }
}

int RaiseBezierDegree(int p, int d, int dim, double** in, double** out) {
  if (!in || !out || d < 0 || dim < 0) return -2;
  for (int i = 0; i <= d; ++i)
    for (int c = 0; c < dim; ++c) out[i][c] = in[i][c];
  if (p <= d) return 0;
  TrackingScope scope;
  double** tmp = allocate_matrix_ff(p + 1, dim);
  if (!tmp || KernelFailed()) return -2;
  for (int n = d; n < p; ++n) {
    for (int i = 0; i <= n; ++i)
      for (int c = 0; c < dim; ++c) tmp[i][c] = out[i][c];
    RaiseBezierCurveDegreeBy1(n, dim, tmp, out);
  }
  return 0;
}

int RaiseBezierSurfDegree(int pu, int du, int dim, int pv, int dv, double** inX, double** inY,
                          double** inZ, double** outX, double** outY, double** outZ) {
  if (du < 0 || dv < 0 || !inX || !inY || !inZ || !outX || !outY || !outZ) return -2;
  const int nu = std::max(pu, du), nv = std::max(pv, dv);
  TrackingScope scope;
  // Work lines of three coordinates, as long as the longer direction needs.
  const int len = std::max(nu, nv) + 1;
  double** a = allocate_matrix_ff(len, 3);
  double** b = allocate_matrix_ff(len, 3);
  if (!a || !b || KernelFailed()) return -2;
  double** in[3] = {inX, inY, inZ};
  double** out[3] = {outX, outY, outZ};
  (void)dim;  // the nets are always x, y, z
  // Rows (along u) first: net row j of du + 1 points becomes nu + 1 points.
  for (int j = 0; j <= dv; ++j) {
    for (int i = 0; i <= du; ++i)
      for (int c = 0; c < 3; ++c) a[i][c] = in[c][j][i];
    if (RaiseBezierDegree(nu, du, 3, a, b) != 0) return -2;
    for (int i = 0; i <= nu; ++i)
      for (int c = 0; c < 3; ++c) out[c][j][i] = b[i][c];
  }
  // Then the columns of the u-raised net in v (in place in out: rows dv + 1 .. nv are free).
  for (int i = 0; i <= nu; ++i) {
    for (int j = 0; j <= dv; ++j)
      for (int c = 0; c < 3; ++c) a[j][c] = out[c][j][i];
    if (RaiseBezierDegree(nv, dv, 3, a, b) != 0) return -2;
    for (int j = 0; j <= nv; ++j)
      for (int c = 0; c < 3; ++c) out[c][j][i] = b[j][c];
  }
  return 0;
}

// Method: each segment's power coefficients become Bezier points (B = M^-1 A), raised to the
// common degree and laid side by side on breakpoints of full multiplicity p + 1, which gives
// the exact piecewise curve with no continuity at the joins; knot removal within tol then
// takes out what the pieces' real continuity allows.
Bspline* Ppoly2Bspline(const PpolyCurve* pp, double tol) {
  if (!pp || !pp->segments || pp->degree < 1 || pp->degree > kMaxSplineDegree ||
      (pp->dim != 2 && pp->dim != 3) || !Increasing(pp->breakpoints, pp->segmentCount))
    return nullptr;
  const int p = pp->degree, L = pp->segmentCount, dim = pp->dim;
  for (int i = 0; i < L; ++i) {
    const PpolySegment* s = pp->segments[i];
    // A piece above the common degree has no place among p + 1 control points.
    if (!s || !s->coefficients || s->degree < 0 || s->degree > p || s->dim != dim) return nullptr;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> curve(MallocCurveBspline(dim, p, L * (p + 1)));
  double** Minv = allocate_matrix_ff(p + 1, p + 1);
  double** B = allocate_matrix_ff(p + 1, dim);
  double** R = allocate_matrix_ff(p + 1, dim);
  if (!curve || !Minv || !B || !R || KernelFailed()) return nullptr;
  FindKnots(pp, curve->knotsU);
  double** rows[3] = {curve->X, curve->Y, curve->Z};
  for (int i = 0; i < L; ++i) {
    const int d = pp->segments[i]->degree;
    if (FindInvBezierMatrix(d, Minv) != 0 || FindBezierCoeffs(pp, i, Minv, B) != 0 ||
        RaiseBezierDegree(p, d, dim, B, R) != 0)
      return nullptr;
    for (int k = 0; k <= p; ++k)
      for (int c = 0; c < dim; ++c) rows[c][0][i * (p + 1) + k] = R[k][c];
  }
  curve->umin = curve->knotsU[p];
  curve->umax = curve->knotsU[curve->interiorU + p + 1];
  if (curve->interiorU > 0) {
    if (dim == 2) {
      RemoveAllCurveKnots(curve.get(), tol);
    } else {
      const int nI = curve->interiorU;
      double* cands = MallocArray<double>(nI);
      if (!cands || KernelFailed()) return nullptr;
      std::memcpy(cands, curve->knotsU + p + 1, sizeof(double) * nI);
      Bspline* set[1] = {curve.get()};
      double dev = 0.0;
      RemoveKnotsOfObjSet(set, 1, 0, 3, cands, nI, 0, tol, &dev);
    }
    if (KernelFailed()) return nullptr;
  }
  return curve.release();
}

Bspline* Ppoly2Bsurf(const PpolySurface* pp, double tol) {
  if (!pp || !pp->patches || pp->dim != 3 || pp->degreeU < 1 || pp->degreeV < 1 ||
      pp->degreeU > kMaxSplineDegree || pp->degreeV > kMaxSplineDegree ||
      !Increasing(pp->breakpointsU, pp->segmentCountU) ||
      !Increasing(pp->breakpointsV, pp->segmentCountV))
    return nullptr;
  const int p = pp->degreeU, q = pp->degreeV;
  const int Lu = pp->segmentCountU, Lv = pp->segmentCountV;
  for (int iu = 0; iu < Lu; ++iu) {
    if (!pp->patches[iu]) return nullptr;
    for (int iv = 0; iv < Lv; ++iv) {
      const PpolyPatch* patch = pp->patches[iu][iv];
      if (!patch || !patch->coefficients || patch->degreeU < 0 || patch->degreeV < 0 ||
          patch->degreeU > p || patch->degreeV > q)
        return nullptr;
    }
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> srf(
      NewSurfaceRecord(p, q, (Lu - 1) * (p + 1), (Lv - 1) * (q + 1)));
  if (!srf) return nullptr;
  const int n = std::max(p, q) + 1;
  double** MinvU = allocate_matrix_ff(p + 1, p + 1);
  double** MinvV = allocate_matrix_ff(q + 1, q + 1);
  double** B[3];
  double** R[3];
  for (int c = 0; c < 3; ++c) {
    B[c] = allocate_matrix_ff(n, n);
    R[c] = allocate_matrix_ff(n, n);
  }
  if (!MinvU || !MinvV || !B[0] || !B[1] || !B[2] || !R[0] || !R[1] || !R[2] || KernelFailed())
    return nullptr;
  FindSurfKnots(pp, srf->knotsU, srf->knotsV);
  double** net[3] = {srf->X, srf->Y, srf->Z};
  for (int iu = 0; iu < Lu; ++iu)
    for (int iv = 0; iv < Lv; ++iv) {
      const PpolyPatch* patch = pp->patches[iu][iv];
      const int du = patch->degreeU, dv = patch->degreeV;
      if (FindInvBezierMatrix(du, MinvU) != 0 || FindInvBezierMatrix(dv, MinvV) != 0 ||
          FindBezierSurfCoeffs(pp, iv, iu, MinvU, MinvV, B[0], B[1], B[2]) != 0)
        return nullptr;
      double*** src = B;
      if (du < p || dv < q) {
        if (RaiseBezierSurfDegree(p, du, 3, q, dv, B[0], B[1], B[2], R[0], R[1], R[2]) != 0)
          return nullptr;
        src = R;
      }
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j <= q; ++j)
          for (int i = 0; i <= p; ++i) net[c][iv * (q + 1) + j][iu * (p + 1) + i] = src[c][j][i];
    }
  srf->umin = srf->knotsU[p];
  srf->umax = srf->knotsU[srf->interiorU + p + 1];
  srf->vmin = srf->knotsV[q];
  srf->vmax = srf->knotsV[srf->interiorV + q + 1];
  RemoveAllSurfKnots(srf.get(), tol);
  if (KernelFailed()) return nullptr;
  return srf.release();
}
