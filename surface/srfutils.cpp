#include "surface/srfutils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/crvlist.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/onelink.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/bnd2crv.h"
#include "surface/railsweep.h"
#include "surface/srfdup.h"
#include "surface/trimutils.h"

int GetCurveOnSurfMinMaxSurfParams(Bspline* curve, double* umin, double* umax, double* vmin,
                                   double* vmax) {
  CurveOnSurfParamBox(curve, umin, umax, vmin, vmax);
  return 0;
}

void GetCPTValueExtent(Bspline* obj, double* xmin, double* xmax, double* ymin, double* ymax,
                       double* zmin, double* zmax) {
  double lo[3], hi[3];
  ControlPointBox(obj, lo, hi);
  *xmin = lo[0];
  *xmax = hi[0];
  *ymin = lo[1];
  *ymax = hi[1];
  *zmin = lo[2];
  *zmax = hi[2];
}

double GetGeometricDiagonalSizeOfObj(Bspline* obj) { return ControlPointDiagonal(obj); }

void FindParamValuesOfCoefiFromKnots(const double* knots, int n, int degree, double* out) {
  GrevilleParams(knots, n, degree, out);
}

double* FindParamValuesOfCoefi(Bspline* obj, int dir) { return ObjectGrevilleParams(obj, dir); }

void GetSrfParExtentOfCrvOnSrf(Bspline* curve, double* umin, double* vmin, double* umax,
                               double* vmax) {
  *umin = *vmin = kEmptyBoxBound;
  *umax = *vmax = -kEmptyBoxBound;
  if (!RecordShapesSound({curve})) return;
  for (int i = 0; i < NumCtrlU(curve); ++i) {
    *umin = std::min(*umin, curve->X[0][i]);
    *umax = std::max(*umax, curve->X[0][i]);
    *vmin = std::min(*vmin, curve->Y[0][i]);
    *vmax = std::max(*vmax, curve->Y[0][i]);
  }
}

void GetParametricExtent(Bspline* obj, double* umin, double* umax, double* vmin, double* vmax) {
  if (obj->kind == 1) {
    *umin = obj->umin;
    *umax = obj->umax;
    return;
  }
  if (obj->kind != 2) return;
  *umin = obj->umin;
  *umax = obj->umax;
  *vmin = obj->vmin;
  *vmax = obj->vmax;
  bool outer = false;
  for (const TrimList* loop = obj->trims; loop; loop = loop->next) outer |= loop->hole == 0;
  if (!outer) return;
  // Holes never widen what the outer loops bound, so only the outer loops are read.
  double u0 = kEmptyBoxBound, u1 = -kEmptyBoxBound, v0 = kEmptyBoxBound, v1 = -kEmptyBoxBound;
  for (const TrimList* loop = obj->trims; loop; loop = loop->next) {
    if (loop->hole != 0) continue;
    for (const BsplineList* node = loop->loopCurves; node; node = node->next) {
      if (!node->item) continue;
      double a, b, c, d;
      GetSrfParExtentOfCrvOnSrf(node->item, &a, &b, &c, &d);
      u0 = std::min(u0, a);
      v0 = std::min(v0, b);
      u1 = std::max(u1, c);
      v1 = std::max(v1, d);
    }
  }
  *umin = std::max(u0, obj->umin);
  *umax = std::min(u1, obj->umax);
  *vmin = std::max(v0, obj->vmin);
  *vmax = std::min(v1, obj->vmax);
}

int GetCleanKnotsFromKnots(const double* knots, int total, int order, int* mult, double* vals,
                           double tol) {
  // Both end runs of order copies must fit.
  if (!knots || !mult || !vals || order < 1 || total < 2 * order) return 0;
  const int d = order - 1;
  int n = 0;
  for (int i = 0; i < d; ++i) vals[n++] = knots[i];
  // The window runs from the last copy of the start knot to the knot before the last; the
  // scan stops once only the end run is left in it.
  const double* w = knots + d;
  const int len = total - order;
  int m = 0;
  for (int i = 0; i < total - 2 * d && i < len;) {
    int run = FindMultOfValInArray(w, len, w[i], i, len - i, 1, tol);
    if (run < 1) run = 1;
    vals[n++] = w[i];
    mult[m] = m == 0 ? d + run : run;
    ++m;
    i += run;
  }
  const double end = knots[total - order];
  if (n > d && std::fabs(vals[n - 1] - end) <= tol) vals[n - 1] = end;
  for (int i = 0; i < d; ++i) vals[n++] = end;
  return n;
}

int GetCleanKnots(Bspline* obj, int dir, int** mult, double** vals, double factor) {
  *mult = nullptr;
  *vals = nullptr;
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int total = (inV ? obj->interiorV : obj->interiorU) + 2 * (p + 1);
  const double tol = factor * (inV ? obj->vmax - obj->vmin : obj->umax - obj->umin);
  TrackingScope scope;
  int* m = MallocArray<int>(total);
  double* v = MallocArray<double>(total);
  if (!m || !v || KernelFailed()) return -2;
  scope.keep();
  *mult = m;
  *vals = v;
  return GetCleanKnotsFromKnots(inV ? obj->knotsV : obj->knotsU, total, p + 1, m, v, tol);
}

namespace {

// The span of the normalised parameter s in direction dir: its bounding knots, the parameter
// and the direction's start and range.
struct KnotSpan {
  double t, lo, hi, min, range;
};

KnotSpan SpanOf(const Bspline* obj, int dir, double s) {
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int nCtrl = inV ? NumCtrlV(obj) : NumCtrlU(obj);
  const double* k = inV ? obj->knotsV : obj->knotsU;
  KnotSpan out;
  out.min = inV ? obj->vmin : obj->umin;
  out.range = (inV ? obj->vmax : obj->umax) - out.min;
  out.t = out.min + s * out.range;
  int span = p;
  FindLowKnotIndex(k, p, out.t, &span, nCtrl);
  out.lo = k[span];
  out.hi = k[span + 1];
  return out;
}

}  // namespace

double FindNearestKnot(Bspline* obj, int dir, double s) {
  if (!RecordsSound({obj})) return s;
  const KnotSpan k = SpanOf(obj, dir, s);
  const double knot = k.t - k.lo < k.hi - k.t ? k.lo : k.hi;
  return (knot - k.min) / k.range;
}

double FindNextKnot(Bspline* obj, int dir, double s, double r) {
  if (!RecordsSound({obj})) return s;
  const KnotSpan k = SpanOf(obj, dir, s);
  std::printf("\n par %lf", k.t);
  std::printf("\n lowKnotVal before %lf", k.lo);
  std::printf("\n highKnotVal before %lf", k.hi);
  if (r - k.t <= 0.0) {
    const double out = (k.hi - k.min) / k.range;
    std::printf("\n highKnotVal %lf", out);
    return out;
  }
  const double out = (k.lo - k.min) / k.range;
  std::printf("\n lowKnotVal %lf", out);
  return out;
}

// ---- Boundary samples and small surface utilities -------------------------------------------

int SampleSurfaceBndry(Bspline* srf, int n, double** u, double** v, int* count) {
  if (!srf || n < 1) return -2;
  const int m = 4 * n - 3;
  double* us = MallocArray<double>(m);
  double* vs = MallocArray<double>(m);
  if (!us || !vs || KernelFailed()) {
    Free(us);
    Free(vs);
    return -2;
  }
  const double corner[5][2] = {{srf->umin, srf->vmin}, {srf->umax, srf->vmin}, {srf->umax, srf->vmax},
                               {srf->umin, srf->vmax}, {srf->umin, srf->vmin}};
  int k = 0;
  for (int side = 0; side < 4; ++side)
    for (int i = 0; i < n - 1; ++i) {
      const double f = double(i) / (n - 1);
      us[k] = corner[side][0] + f * (corner[side + 1][0] - corner[side][0]);
      vs[k++] = corner[side][1] + f * (corner[side + 1][1] - corner[side][1]);
    }
  us[k] = srf->umin;
  vs[k] = srf->vmin;
  *u = us;
  *v = vs;
  *count = m;
  return 0;
}

namespace {

// One direction of ComputeParamArraysForEval.
void ParamsForEval(int mode, int per, const double* knots, int degree, int interior, double lo,
                   double hi, double* out, int n) {
  if (n < 1) return;
  if (mode == 1) {
    for (int i = 0; i < n; ++i) out[i] = lo + i * (hi - lo) / (n > 1 ? n - 1 : 1);
    out[n - 1] = hi;
  } else if (mode == 0) {
    int k = 0;
    for (int s = 0; s <= interior && k < n; ++s) {
      const double a = knots[degree + s], b = knots[degree + s + 1];
      for (int j = 0; j < per && k < n; ++j) out[k++] = a + j * (b - a) / per;
    }
    out[n - 1] = hi;
  }
}

}  // namespace

void ComputeParamArraysForEval(Bspline* srf, int mode, int pu, int pv, double* u, double* v, int nu,
                               int nv) {
  if (!srf) return;
  ParamsForEval(mode, pu, srf->knotsU, srf->degreeU, srf->interiorU, srf->umin, srf->umax, u, nu);
  ParamsForEval(mode, pv, srf->knotsV, srf->degreeV, srf->interiorV, srf->vmin, srf->vmax, v, nv);
}

int GetSurfArbitraryParamVal(Bspline* srf, double* u, double* v) {
  double u0 = srf->umin, u1 = srf->umax, v0 = srf->vmin, v1 = srf->vmax;
  if (srf->trims && IsOuterTrim(srf))
    for (TrimList* l = srf->trims; l; l = l->next)
      if (!l->hole) {
        GetCurveListExtremes(l->loopCurves, &u0, &u1, &v0, &v1);
        break;
      }
  *u = 0.5 * (u0 + u1);
  *v = 0.5 * (v0 + v1);
  return 0;
}

void GetSurfBoundaryMidPoints(Bspline* srf, double p0[3], double p1[3], double p2[3], double p3[3]) {
  const double um = 0.5 * (srf->umin + srf->umax), vm = 0.5 * (srf->vmin + srf->vmax);
  Eval3DPointOnSurfCoord(srf, srf->umin, vm, 0, 0, p0);
  Eval3DPointOnSurfCoord(srf, um, srf->vmax, 0, 0, p1);
  Eval3DPointOnSurfCoord(srf, srf->umax, vm, 0, 0, p2);
  Eval3DPointOnSurfCoord(srf, um, srf->vmin, 0, 0, p3);
}

double EstLenSurfEdge(Bspline* srf, int side) {
  if (!RecordShapesSound({srf}) || srf->kind != 2 || side < 0 || side > 3) return 0.0;
  const int nu = NumCtrlU(srf), nv = NumCtrlV(srf);
  const bool column = side == 0 || side == 2;
  const int fixed = side == 0 || side == 3 ? 0 : (column ? nu - 1 : nv - 1);
  const int n = column ? nv : nu;
  double len = 0.0;
  for (int k = 1; k < n; ++k) {
    const int j0 = column ? k - 1 : fixed, i0 = column ? fixed : k - 1;
    const int j1 = column ? k : fixed, i1 = column ? fixed : k;
    const double a[3] = {srf->X[j0][i0], srf->Y[j0][i0], srf->Z[j0][i0]};
    const double b[3] = {srf->X[j1][i1], srf->Y[j1][i1], srf->Z[j1][i1]};
    len += VecDist3(a, b);
  }
  return len;
}

void ReverseTrimOrder(BsplineList* list) {
  const int n = GetNumCurvePieces(list);
  auto at = [list](int k) {
    BsplineList* node = list;
    while (k-- > 0) node = node->next;
    return node;
  };
  for (int i = 0; i < n / 2; ++i) std::swap(at(i)->item, at(n - 1 - i)->item);
}

int CheckBsplDirRelToBspl(Bspline** pair, const int* sides) {
  if (!pair || !pair[0] || !pair[1]) return 0;
  double a[3], b[3];
  ObjectBoundaryVector(pair[0], sides ? sides[0] : 0, a);
  ObjectBoundaryVector(pair[1], sides ? sides[1] : 0, b);
  return VecDotProd3(a, b) < 0.0 ? 1 : 0;
}

void ScaleControlPointsInTanDir(Bspline* srf, double f, int flag) {
  if (!RecordShapesSound({srf}) || srf->kind != 2 || NumCtrlV(srf) < 2) return;
  const int last = NumCtrlV(srf) - 1;
  const int edge = flag ? 0 : last, next = flag ? 1 : last - 1;
  for (double** M : {srf->X, srf->Y, srf->Z})
    for (int i = 0; i < NumCtrlU(srf); ++i) M[next][i] = M[edge][i] + f * (M[next][i] - M[edge][i]);
}

// The grouping wants n list heads and a pool of n nodes; the flags are read off its groups: every
// member of a group other than its head (its smallest index) is redundant.
int FindRedundantSurfacesCore(Bspline** srfs, int n, int* flags, double tol) {
  if (n < 0) return -2;
  TrackingScope scope;
  double(*boxes)[6] = MallocArray<double[6]>(n);
  OneLink** heads = MallocArray<OneLink*>(n);
  OneLink* pool = MallocArray<OneLink>(n);
  if (n > 0 && (!boxes || !heads || !pool)) return -2;
  for (int k = 0; k < n; ++k) {
    flags[k] = 0;
    ControlPointBox(srfs[k], boxes[k], boxes[k] + 3);
  }
  if (n > 0 && !GroupDuplicateSurfaces(srfs, n, boxes, heads, pool, tol)) return -2;
  for (int k = 0; k < n; ++k)
    for (const OneLink* m = heads[k]; m; m = m->next) flags[m->value] = m->value != k ? 1 : 0;
  return 0;
}

Bspline* CreateImpliedTangentBndryCrv(Bspline* crv, double tx, double ty, double tz) {
  if (!crv || crv->kind != 1 || crv->dimension != 3) return nullptr;
  double p0[3], p1[3], e0[3], e1[3];
  Eval3DPointOnCurve3Array(crv, crv->umin, 0, p0);
  Eval3DPointOnCurve3Array(crv, crv->umax, 0, p1);
  const double o[3] = {-tx, -ty, -tz};
  for (int k = 0; k < 3; ++k) {
    e0[k] = p0[k] + o[k];
    e1[k] = p1[k] + o[k];
  }
  // The sweep reorients and raises what it is given: it works on a copy of the caller's curve.
  Owned<Bspline, FreeBspline> rail0(MkLine3(p0, e0, nullptr)), rail1(MkLine3(p1, e1, nullptr));
  Owned<Bspline, FreeBspline> profile(CopyBsplineStruct(crv));
  if (!rail0 || !rail1 || !profile) return nullptr;
  // The rails start at the curve's evaluated ends, its end control points to round-off: they
  // touch within the round-off of the curves' size, whatever the size and wherever they lie.
  Bspline* const three[3] = {profile.get(), rail0.get(), rail1.get()};
  const double touch = 1e-10 * ControlPointSetDiagonal(three, 3);
  Owned<Bspline, FreeBspline> strip(SweepProfileAlongRails(profile.get(), rail0.get(), rail1.get(), touch));
  if (!strip) return nullptr;
  Bspline* side = MakeIsoparCurve2(strip.get(), 3, strip->vmin);
  if (!side) return nullptr;
  strip.release();
  return side;
}
