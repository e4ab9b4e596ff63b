#include "stitch/vcnobj.h"

#include "bspline/crvlist.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

void ResetBsplineParamInfo(Bspline* obj, int dir) { SetDomainFromKnots(obj, dir); }

int GetDistinctKnots(Bspline* obj, int dir, int** mults, double** knots, double tol) {
  return DistinctInteriorKnots(obj, dir, mults, knots, tol);
}

void ReverseObj(Bspline* obj, int dir) { ReverseDirection(obj, dir); }

namespace {

// The knot vector of the object's direction and its length.
double* DirKnots(Bspline* obj, bool inV, int* count) {
  if (inV) {
    *count = NumKnotsV(obj);
    return obj->knotsV;
  }
  *count = NumKnotsU(obj);
  return obj->knotsU;
}

}  // namespace

void MakeObjSetCompatible(Bspline** objs, int* dirs, int n, int scaleOther) {
  if (!objs || n < 1) return;
  auto inV = [&](int i) { return objs[i]->kind == 2 && dirs && dirs[i] != 0; };

  for (int i = 0; i < n; ++i) {
    Bspline* obj = objs[i];
    // A knot vector without range cannot be mapped onto [0, 1].
    if (CleanBsplineKnots(obj, 1e-6) < 0 && !KernelFailed()) SetKernelError(-2);
    if (KernelFailed()) return;
    const bool v = inV(i);
    int c;
    double* k = DirKnots(obj, v, &c);
    if (k[0] == 0.0 && k[c - 1] == 1.0) continue;  // already on [0, 1]: exact, so untouched
    const double first = k[0];
    const double s = NormalizeKnotArray(k, c);
    const double shift = -first * s;
    if (obj->kind == 2) {
      PropotionCurveListCoefi(obj->curves, s, shift, v ? 1 : 0);
      ResetBsplineParamInfo(obj, v ? 1 : 0);
      if (scaleOther) {
        int co;
        double* ko = DirKnots(obj, !v, &co);
        for (int j = 0; j < co; ++j) ko[j] *= s;
        PropotionCurveListCoefi(obj->curves, s, 0.0, v ? 0 : 1);
        ResetBsplineParamInfo(obj, v ? 0 : 1);
      }
    } else {
      obj->umin = 0.0;
      obj->umax = 1.0;
    }
  }

  // Fold every vector into one union; each value keeps its largest multiplicity.
  double* U = nullptr;
  int nU = 0;
  {
    int c;
    const double* k = DirKnots(objs[0], inV(0), &c);
    UnionKnotArrays(k, c, nullptr, 0, &U, &nU);
    if (!U || KernelFailed()) return;
  }
  for (int i = 1; i < n; ++i) {
    int c;
    const double* k = DirKnots(objs[i], inV(i), &c);
    double* next = nullptr;
    UnionKnotArrays(U, nU, k, c, &next, &nU);
    Free(U);
    U = next;
    if (!U || KernelFailed()) {
      Free(U);
      return;
    }
  }

  for (int i = 0; i < n; ++i) {
    const bool v = inV(i);
    int c;
    double* k = DirKnots(objs[i], v, &c);
    double* add = nullptr;
    int nAdd = 0;
    if (PutInCKnotsOfBNotInA_changeA(k, c, U, nU, &add, &nAdd) < 0) {
      Free(add);
      Free(U);
      return;
    }
    if (nAdd > 0) InsertNKnotsToObject(1, nAdd, v ? 1 : 0, objs[i], 2, add);
    Free(add);
    if (KernelFailed()) {
      Free(U);
      return;
    }
    k = DirKnots(objs[i], v, &c);
    // A vector that did not reach the union's length cannot take it without overrunning.
    if (c != nU) {
      SetKernelError(-2);
      Free(U);
      return;
    }
    for (int j = 0; j < c; ++j) k[j] = U[j];
    ResetBsplineParamInfo(objs[i], v ? 1 : 0);
  }
  Free(U);
}
