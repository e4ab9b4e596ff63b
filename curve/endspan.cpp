#include "curve/endspan.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"

int DirectionAcrossEdge(const Bspline* obj, int edge) {
  return obj->kind == 2 && (edge == 1 || edge == 3) ? 1 : 0;
}

bool EdgeAtMinimum(int edge) { return edge == 0 || edge == 3; }

namespace {

// The interior knot next to the edge, its index in the knot vector and its multiplicity there.
struct EndKnot {
  double value;
  int mult;
};

bool FindEndKnot(const KnotDirection& d, int edge, EndKnot* k) {
  if (d.interior < 1) return false;
  const double tol = 1e-6 * (d.hi - d.lo);
  const bool atMin = EdgeAtMinimum(edge);
  const int idx = atMin ? d.p + 1 : d.nCtrl - 1;
  k->value = d.knots[idx];
  k->mult = FindMultOfValInArray(d.knots, d.nCtrl + d.p + 1, k->value, idx, d.p, atMin ? 1 : 0, tol);
  return true;
}

}  // namespace

int InsertEndSpanKnots(Bspline* obj, int dir, int edge) {
  if (!BsplineShapeSound(obj)) {
    SetKernelError(-2);
    return 0;
  }
  const KnotDirection d = DirectionOf(obj, obj->kind == 2 ? dir : 0);
  EndKnot k;
  if (!FindEndKnot(d, edge, &k)) return 0;
  const int count = d.p - k.mult;
  if (count < 1) return count;
  TrackingScope scope;
  double* values = MallocArray<double>(count);
  if (!values) return 0;
  for (int i = 0; i < count; ++i) values[i] = k.value;
  InsertNKnotsToObject(1, count, obj->kind == 2 ? dir : 0, obj, 2, values);
  return KernelFailed() ? 0 : count;
}

Bspline* BezierEndSpan(Bspline* obj, int edge, bool* owned) {
  *owned = false;
  if (!HasPieceableForm(obj)) {
    SetKernelError(-2);
    return nullptr;
  }
  const int dir = DirectionAcrossEdge(obj, edge);
  const KnotDirection d = DirectionOf(obj, dir);
  EndKnot k;
  // The span is Bezier already when its inner knot has the degree's multiplicity: its rows are
  // obj's own, and so are the rows beyond it.
  if (!FindEndKnot(d, edge, &k) || k.mult >= d.p) return obj;
  Bspline* piece = EdgeAtMinimum(edge) ? ExtractParamRange(obj, dir, d.lo, k.value)
                                       : ExtractParamRange(obj, dir, k.value, d.hi);
  if (!piece) return nullptr;
  *owned = true;
  return piece;
}

void ReflectPointsThrough(const double* ax, const double* ay, const double* az, const double* bx,
                          const double* by, const double* bz, int strideA, int strideB, int n,
                          double* ox, double* oy, double* oz) {
  if (!ax || !ay || !bx || !by || !ox || !oy || (az && (!bz || !oz)) || strideA < 0 || strideB < 0) return;
  for (int k = 0; k < n; ++k) {
    ox[k] = 2.0 * bx[k * strideB] - ax[k * strideA];
    oy[k] = 2.0 * by[k * strideB] - ay[k * strideA];
    if (az) oz[k] = 2.0 * bz[k * strideB] - az[k * strideA];
  }
}

void MirrorInNormalPlanes(const double* ax, const double* ay, const double* az, const double* bx,
                          const double* by, const double* bz, const double* cx, const double* cy,
                          const double* cz, int stride, int n, double* ox, double* oy,
                          double* oz) {
  if (!ax || !ay || !bx || !by || !cx || !cy || !ox || !oy || (az && (!bz || !cz || !oz)) || stride < 0) return;
  for (int k = 0; k < n; ++k) {
    const int i = k * stride;
    double e[3] = {bx[i] - ax[i], by[i] - ay[i], az ? bz[i] - az[i] : 0.0};
    const double c[3] = {cx[i], cy[i], az ? cz[i] : 0.0};
    const double len = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
    double o[3] = {c[0], c[1], c[2]};
    if (len > 1e-10) {
      for (double& v : e) v /= len;
      const double s = (c[0] - bx[i]) * e[0] + (c[1] - by[i]) * e[1] +
                       (az ? (c[2] - bz[i]) * e[2] : 0.0);
      for (int q = 0; q < 3; ++q) o[q] = c[q] - 2.0 * s * e[q];
    }
    ox[k] = o[0];
    oy[k] = o[1];
    if (az) oz[k] = o[2];
  }
}

Bspline* EdgeReflectionCurve(Bspline* obj, int edge, double out[3]) {
  bool owned = false;
  Bspline* span = BezierEndSpan(obj, edge, &owned);
  if (!span) return nullptr;
  Owned<Bspline, FreeBspline> hold(owned ? span : nullptr);
  const int dir = DirectionAcrossEdge(span, edge);
  const bool surface = span->kind == 2;
  const int nAcross = dir ? NumCtrlV(span) : NumCtrlU(span);
  if (nAcross < 3) {
    SetKernelError(-2);
    return nullptr;
  }
  const int nU = NumCtrlU(span);
  const int nAlong = surface ? (dir ? nU : NumCtrlV(span)) : 1;
  // Row r counted from the edge inward; a row's points lie `along` apart in the flat block.
  const bool atMin = EdgeAtMinimum(edge);
  const int stepAcross = dir ? nU : 1, along = dir ? 1 : nU;
  const int first = atMin ? 0 : (nAcross - 1) * stepAcross;
  const int inward = atMin ? stepAcross : -stepAcross;
  const bool has3 = span->dimension == 3;
  const double* X = span->X[0];
  const double* Y = span->Y[0];
  const double* Z = has3 ? span->Z[0] : nullptr;
  const int r0 = first, r1 = first + inward, r2 = first + 2 * inward;

  TrackingScope scope;
  double* m = MallocArray<double>(3 * nAlong);
  if (!m) return nullptr;
  double *mx = m, *my = m + nAlong, *mz = m + 2 * nAlong;
  MirrorInNormalPlanes(X + r1, Y + r1, Z ? Z + r1 : nullptr, X + r0, Y + r0, Z ? Z + r0 : nullptr,
                       X + r2, Y + r2, Z ? Z + r2 : nullptr, along, nAlong, mx, my, mz);
  for (int k = 0; k < nAlong; ++k) {
    mx[k] -= X[r0 + k * along];
    my[k] -= Y[r0 + k * along];
    mz[k] = Z ? mz[k] - Z[r0 + k * along] : 0.0;
  }
  if (!surface) {
    out[0] = mx[0], out[1] = my[0], out[2] = mz[0];
    return nullptr;
  }
  const int pAlong = dir ? span->degreeU : span->degreeV;
  Bspline* c = MallocCurveBspline(3, pAlong, nAlong);
  if (!c) return nullptr;
  const double* knots = dir ? span->knotsU : span->knotsV;
  for (int i = 0; i < nAlong + pAlong + 1; ++i) c->knotsU[i] = knots[i];
  for (int k = 0; k < nAlong; ++k) c->X[0][k] = mx[k], c->Y[0][k] = my[k], c->Z[0][k] = mz[k];
  SetDomainFromKnots(c, 0);
  return c;
}
