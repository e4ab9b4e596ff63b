#include "construct/srfoffst.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/kremove.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/qnurbs.h"
#include "splinefit/intrplt.h"
#include "stitch/srfcont.h"
#include "surface/srfpick.h"
#include "surface/trimutils.h"

// ---- Principal curvature -------------------------------------------------------------------

// The radius grids of the surface floor need the same curvature: it is computed there.
double FindCurvatureOfSurface(Bspline* srf, double u, double v) {
  return LargerPrincipalCurvature(srf, u, v);
}

int ComputeMaxCurvaNPnts(Bspline* srf, double* u, double* v, double* out, int nu, int nv) {
  LargerPrincipalCurvatureGrid(srf, u, v, out, nu, nv);
  return 0;
}

// ---- Curves carried over ------------------------------------------------------------------

namespace {

// A sphere or cylinder whose offset radius is below this share of its radius has collapsed: such
// a remainder is the round-off of a recognised form's radius (fitted to single-precision samples)
// against the distance meant to reach its centre or axis, not a surface.
constexpr double kCollapsedShare = 1e-6;

bool IsSurface(const Bspline* s) {
  return s && s->kind == 2 && s->dimension == 3 && BsplineShapeSound(s);
}

// Unit normal of srf at (u, v) and the point there.
void PointAndNormal(Bspline* srf, double u, double v, double P[3], double N[3]) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  double D[3][3] = {};
  EvalPointOnGeometryM(srf, u, v, du, dv, 3, 0, D);
  double n[3];
  ComputeSurfaceNormal(srf, u, v, D[1], D[2], n);
  VecNormalize3(n, N);
  for (int c = 0; c < 3; ++c) P[c] = D[0][c];
}

// Appends a node for the curve at the end of the surface's curve list (the list owns nothing;
// the node lives as long as the surface).
bool AppendToCurveList(Bspline* srf, Bspline* curve) {
  BsplineList* node;
  {
    UntrackedScope own;
    node = MallocNullBsplineList();
  }
  if (!node || KernelFailed()) return false;
  node->item = curve;
  BsplineList** tail = &srf->curves;
  while (*tail) tail = &(*tail)->next;
  *tail = node;
  curve->owner = srf;
  return true;
}

// The grid cache of the closest-point searches on one surface, freed with the holder.
struct GridCache {
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  ~GridCache() {
    if (gx) Free(gx);
    if (gy) Free(gy);
    if (gz) Free(gz);
  }
};

}  // namespace

Bspline* ProjectCurve2ToOffsetSurf(Bspline* crv, Bspline* offset, double d) {
  if (!crv || crv->kind != 1 || crv->dimension != 2 || !IsSurface(crv->owner) ||
      !IsSurface(offset) || !BsplineShapeSound(crv) || !std::isfinite(d))
    return nullptr;
  Bspline* src = crv->owner;
  TrackingScope scope;
  // The knot-line crossings go into a copy: the source curve keeps its knots.
  Owned<Bspline, FreeBspline> copy(CopyCurveBspline(crv));
  if (!copy || KernelFailed()) return nullptr;
  copy->owner = src;
  Bspline* work = copy.get();
  MakeCrvOnSrfsPlateProper(&work, 1);
  if (KernelFailed()) return nullptr;
  const int p = work->degreeU, spans = work->interiorU + 1;
  const int n = 5 * spans + 1;
  double* us = MallocArray<double>(n);
  double* vs = MallocArray<double>(n);
  if (!us || !vs || KernelFailed()) return nullptr;
  const double* K = work->knotsU;
  const double tolU = 1e-6 * (src->umax - src->umin), tolV = 1e-6 * (src->vmax - src->vmin);
  GridCache cache;
  for (int k = 0; k < n; ++k) {
    const int s = std::min(k / 5, spans - 1);
    const double t = k == n - 1 ? K[p + spans] : K[p + s] + 0.2 * (k % 5) * (K[p + s + 1] - K[p + s]);
    double uv[2] = {0.0, 0.0}, P[3], N[3];
    Eval2DPointOnCurve2Array(src, work, t, 0, uv);
    PointAndNormal(src, uv[0], uv[1], P, N);
    if (KernelFailed()) return nullptr;
    const double Q[3] = {P[0] + d * N[0], P[1] + d * N[1], P[2] + d * N[2]};
    double u = 0.0, v = 0.0, q[3], dist = 0.0, e = 0.0;
    if (GetClosestPointOnSurfaceResult(offset, Q, &u, &v, q, &dist, &cache.gx, &cache.gy,
                                       &cache.gz, &e) != 0)
      return nullptr;
    // On a closed offset the seam has two parameters: take the side the source point is on.
    if (offset->closedU) {
      if (std::fabs(uv[0] - src->umin) <= tolU) u = offset->umin;
      if (std::fabs(uv[0] - src->umax) <= tolU) u = offset->umax;
    }
    if (offset->closedV) {
      if (std::fabs(uv[1] - src->vmin) <= tolV) v = offset->vmin;
      if (std::fabs(uv[1] - src->vmax) <= tolV) v = offset->vmax;
    }
    us[k] = std::clamp(u, offset->umin, offset->umax);
    vs[k] = std::clamp(v, offset->vmin, offset->vmax);
  }
  Bspline* curve = CurveIntrplt(us, vs, nullptr, n - 1, nullptr, 3, 0);
  if (!curve || KernelFailed()) {
    if (curve) FreeBspline(curve);
    return nullptr;
  }
  if (!AppendToCurveList(offset, curve)) {
    FreeBspline(curve);
    return nullptr;
  }
  return curve;
}

int OffsetTrimCurves(Bspline** offset, Bspline* src, double d) {
  if (!offset || !*offset || !src) return -2;
  for (TrimList* loop = src->trims; loop; loop = loop->next) {
    BsplineList* list = nullptr;
    BsplineList** tail = &list;
    for (BsplineList* n = loop->loopCurves; n; n = n->next) {
      Bspline* c = ProjectCurve2ToOffsetSurf(n->item, *offset, d);
      BsplineList* node = nullptr;
      if (c) {
        UntrackedScope own;
        node = MallocNullBsplineList();
      }
      if (!node || KernelFailed()) {
        // The curves made so far stay on the offset's curve list; only the nodes go.
        while (list) {
          BsplineList* next = list->next;
          Free(list);
          list = next;
        }
        if (node) Free(node);
        return -2;
      }
      node->item = c;
      *tail = node;
      tail = &node->next;
    }
    if (!list) continue;
    double cu[4], cv[4];
    TrimList* made = nullptr;
    if (ConstructTrimCurveList(*offset, list, loop->hole, 0, cu, cv, 0, 0, 0, nullptr, &made) != 0)
      return -2;
  }
  return 0;
}

int OffsetOtherCurvesOnSurf(Bspline* offset, Bspline* src, double d) {
  if (!offset || !src) return -2;
  for (BsplineList* n = src->curves; n; n = n->next) {
    if (IsTrimPiece(n->item)) continue;
    if (!ProjectCurve2ToOffsetSurf(n->item, offset, d)) return -2;
  }
  return 0;
}

namespace {

// Both carry-over passes; a failure releases the new surface.
Bspline* WithCurvesCarried(Bspline* made, Bspline* src, double d) {
  Owned<Bspline, FreeBspline> out(made);
  if (OffsetTrimCurves(&made, src, d) != 0 || OffsetOtherCurvesOnSurf(made, src, d) != 0 ||
      KernelFailed())
    return nullptr;
  return out.release();
}

}  // namespace

Bspline* CreateOffsetSurfaceBspline(Bspline* src, double* x, double* y, double* z, double* normals,
                                    int nu, int nv, double d, double tol) {
  if (!IsSurface(src) || !x || !y || !z || !normals || nu < 2 || nv < 2) return nullptr;
  Bspline* made = nullptr;
  {
    TrackingScope scope;
    const int n = nu * nv;
    double* qx = MallocArray<double>(n);
    double* qy = MallocArray<double>(n);
    double* qz = MallocArray<double>(n);
    if (!qx || !qy || !qz || KernelFailed()) return nullptr;
    for (int k = 0; k < n; ++k) {
      qx[k] = x[k] + d * normals[3 * k];
      qy[k] = y[k] + d * normals[3 * k + 1];
      qz[k] = z[k] + d * normals[3 * k + 2];
    }
    made = SurfaceInterpolate(qx, qy, qz, nu, nv, nullptr, nullptr, 3, 3);
    if (!made) return nullptr;
    if (KernelFailed()) {
      FreeBspline(made);
      return nullptr;
    }
  }
  Owned<Bspline, FreeBspline> out(made);
  Bspline* set[1] = {made};
  double dev = 0.0;
  if (made->interiorU > 0) RemoveKnotsOfObjSet(set, 1, 0, 3, nullptr, 0, 0, tol, &dev);
  if (made->interiorV > 0) RemoveKnotsOfObjSet(set, 1, 1, 3, nullptr, 0, 0, tol, &dev);
  if (KernelFailed()) return nullptr;
  return WithCurvesCarried(out.release(), src, d);
}

// ---- Exact offsets of quadrics ----------------------------------------------------------------

namespace {

// 1 when the quadric's normal points toward its axis or centre (D . N < 0), 0 when away; -1 when
// the surface cannot be evaluated.
int Inward(Bspline* src) {
  const double* q = src->quadric->v;
  double u = src->umin, v = src->vmin;
  if (src->quadricType == 21) {
    u = 0.5 * (src->umin + src->umax);
    v = 0.5 * (src->vmin + src->vmax);
  }
  double P[3], N[3];
  PointAndNormal(src, u, v, P, N);
  if (KernelFailed()) return -1;
  double base[3];
  if (src->quadricType == 21) {
    for (int c = 0; c < 3; ++c) base[c] = q[1 + c];
  } else {
    double axis[3];
    VecNormalize3(q + 3, axis);
    // The cone's point on the axis whose circle passes through the start row's point.
    const double t = std::tan(q[6]);
    const double h = src->quadricType == 22 ? q[7] : q[7] * (1.0 + t * t);
    for (int c = 0; c < 3; ++c) base[c] = q[c] + h * axis[c];
  }
  double D[3];
  VecDiff3(P, base, D);
  return VecDotProd3(D, N) < 0.0 ? 1 : 0;
}

bool IsExactQuadric(const Bspline* src) {
  return IsSurface(src) && src->quadric &&
         (src->quadricType == 21 || src->quadricType == 22 || src->quadricType == 23);
}

// A new record filled by one of the quadric fillers, or null.
template <class Fill>
Bspline* FilledRecord(Fill fill) {
  TrackingScope scope;
  Bspline* s = MallocInitSurfaceBspline();
  if (!s || KernelFailed()) return nullptr;
  if (fill(s) != 0 || KernelFailed()) {
    FreeBspline(s);
    return nullptr;
  }
  scope.keep();
  return s;
}

}  // namespace

QuadricInfo* ConeOffset(Bspline* src, QuadricInfo* cone, double d, double* limit) {
  if (!IsSurface(src) || !cone || !limit) return nullptr;
  const double* q = cone->v;
  const double alpha = q[6], s = std::sin(alpha);
  if (std::fabs(s) < 1e-6) return nullptr;
  double delta = d;
  const double A = std::fabs(delta / s), B = std::fabs(delta * s);
  double axis[3];
  VecNormalize3(q + 3, axis);
  double start = q[7], end = q[8];
  const int in = Inward(src);
  if (in < 0) return nullptr;
  if (in) {
    const double lim = start * std::tan(alpha) / std::cos(alpha);
    if (lim < delta) {
      *limit = lim;
      return nullptr;
    }
  } else {
    delta = -delta;
  }
  double apex[3];
  if (start >= 0.0 && end >= 0.0) {
    // The axis is turned round so the offset cone's heights come out negative.
    for (double& a : axis) a = -a;
    const double shift = delta >= 0.0 ? -A : A;
    for (int c = 0; c < 3; ++c) apex[c] = q[c] + axis[c] * shift;
    const double terms = (delta >= 0.0 ? -B : B) + (delta < 0.0 ? -A : A);
    start = -start + terms;
    end = -end + terms;
  } else {
    // Below the apex the surface runs the other way along the axis, so an offset to the same
    // side moves the apex and the heights the other way: the rule of the positive heights with
    // delta turned round (taken as written, the offset landed on the opposite side).
    const double shift = delta < 0.0 ? A : -A;
    for (int c = 0; c < 3; ++c) apex[c] = q[c] + axis[c] * shift;
    const double terms = (delta < 0.0 ? B : -B) + (delta < 0.0 ? -A : A);
    start += terms;
    end += terms;
  }
  QuadricInfo* out = MallocArray<QuadricInfo>(1);
  if (!out || KernelFailed()) return nullptr;
  const double v[9] = {apex[0], apex[1], apex[2], axis[0], axis[1], axis[2], alpha, start, end};
  for (int k = 0; k < 9; ++k) out->v[k] = v[k];
  return out;
}

int CheckForQuadricSurface(Bspline* src, double d, double* limit) {
  if (limit) *limit = 100000.0;
  if (!IsExactQuadric(src) || !limit) return 0;
  const int in = Inward(src);
  if (in < 0) return 0;
  const double* q = src->quadric->v;
  // A sphere or cylinder made with a negative radius is the same surface turned round.
  double lim = std::fabs(q[0]);
  if (src->quadricType == 22) lim = std::fabs(q[6]);
  if (!in) {
    // Outward normals reach the centre or axis of a sphere or cylinder with d = -radius.
    if (src->quadricType == 23 || d > -lim * (1.0 - kCollapsedShare)) return -10;
    *limit = -lim;
    return -100;
  }
  if (src->quadricType == 23) {
    lim = q[7] * std::tan(q[6]) / std::cos(q[6]);
    *limit = lim;
    return lim >= d ? -10 : -100;
  }
  // Reaching the centre or axis collapses the sphere or cylinder as passing it does.
  *limit = lim;
  return lim * (1.0 - kCollapsedShare) > d ? -10 : -100;
}

Bspline* OffsetQuadricSurface(Bspline* src, double d, double* limit) {
  if (!IsExactQuadric(src) || !limit || !std::isfinite(d)) return nullptr;
  const double* q = src->quadric->v;
  Bspline* made = nullptr;
  if (src->quadricType == 21 || src->quadricType == 22) {
    // A negative stored radius describes the same surface turned round: the offset keeps the
    // sign so it keeps the orientation.
    const double stored = src->quadricType == 21 ? q[0] : q[6];
    const double r = std::fabs(stored), sign = stored < 0.0 ? -1.0 : 1.0;
    const int in = Inward(src);
    if (in < 0) return nullptr;
    // Reaching the centre or axis leaves a point or a line, passing it a surface turned inside
    // out: both collapse. Inward normals move toward it with positive d, outward ones with
    // negative d, so the limit is +r or -r.
    const double moved = in ? r - d : r + d;
    if (!(moved > kCollapsedShare * r)) {
      *limit = in ? r : -r;
      return nullptr;
    }
    const double r2 = sign * moved;
    if (src->quadricType == 21) {
      made = FilledRecord([&](Bspline* s) { return SphereNurbs(q[1], q[2], q[3], r2, s); });
    } else {
      QuadricInfo cyl = *src->quadric;
      cyl.v[6] = r2;
      made = FilledRecord([&](Bspline* s) { return CylinderNurbs(&cyl, s); });
    }
  } else {
    QuadricInfo* cone = ConeOffset(src, src->quadric, d, limit);
    if (!cone) return nullptr;
    made = FilledRecord([&](Bspline* s) {
      s->kind = 2;
      s->dimension = 3;
      return ConeNurbs(cone, s);
    });
    Free(cone);
  }
  if (!made) return nullptr;
  return WithCurvesCarried(made, src, d);
}
