#include "splinefit/wrapfit.h"

#include <algorithm>
#include <utility>

#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "surface/srfsnip.h"

int PutWrapedObjToNonWraped(Bspline* obj, int dir, int average) {
  if (!obj || (obj->kind != 1 && obj->kind != 2)) return -2;
  if (obj->kind == 1 && dir != 0) return 0;
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int n = inV ? NumCtrlV(obj) : NumCtrlU(obj);
  const double* K = inV ? obj->knotsV : obj->knotsU;
  if (!K || p < 1) return -2;
  bool startClamped = true, endClamped = true;
  for (int i = 1; i <= p; ++i) startClamped = startClamped && K[i] == K[0];
  for (int i = n + 1; i <= n + p; ++i) endClamped = endClamped && K[i] == K[n];
  if (startClamped && endClamped) return 0;

  // The domain ends at full multiplicity split the net at them; the middle part is the object
  // on its domain, a piece like any other sub-object.
  const double tol = 1e-6 * (K[n] - K[p]);
  double ends[2] = {K[p], K[n]};
  Bspline* work = CopyBsplineStruct(obj);
  if (!work) return -2;
  InsertNKnotsToObject(-1, 2, inV ? 1 : 0, work, 2, ends);
  if (KernelFailed()) {
    FreeBspline(work);
    return -2;
  }
  const double* R = inV ? work->knotsV : work->knotsU;
  const int nR = (inV ? NumKnotsV(work) : NumKnotsU(work));
  // The first copy of the start knot and the first copy of the end knot in the refined vector.
  int first = 0;
  while (first < nR && R[first] < ends[0] - tol) ++first;
  int last = first;
  while (last < nR && R[last] < ends[1] - tol) ++last;
  Bspline* piece = ExtractObjFromObj(work, inV ? 1 : 0, first, last + p);
  work->owner = nullptr;
  FreeBspline(work);
  if (!piece) return -2;

  // Hand the new knots and coefficients to obj; the piece takes obj's old ones to the grave.
  std::swap(inV ? obj->knotsV : obj->knotsU, inV ? piece->knotsV : piece->knotsU);
  std::swap(obj->X, piece->X);
  std::swap(obj->Y, piece->Y);
  std::swap(obj->Z, piece->Z);
  std::swap(obj->W, piece->W);
  if (inV) {
    std::swap(obj->interiorV, piece->interiorV);
    obj->vmin = obj->knotsV[p];
    obj->vmax = obj->knotsV[NumCtrlV(obj)];
  } else {
    std::swap(obj->interiorU, piece->interiorU);
    obj->umin = obj->knotsU[p];
    obj->umax = obj->knotsU[NumCtrlU(obj)];
  }
  piece->owner = nullptr;
  FreeBspline(piece);

  if (average) {
    const int cols = NumCtrlU(obj), rows = obj->kind == 2 ? NumCtrlV(obj) : 1;
    const int lines = inV ? cols : rows, count = inV ? rows : cols;
    for (double** M : {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr}) {
      if (!M) continue;
      for (int l = 0; l < lines; ++l) {
        double& a = inV ? M[0][l] : M[l][0];
        double& b = inV ? M[count - 1][l] : M[l][count - 1];
        a = b = 0.5 * (a + b);
      }
    }
  }
  return 8;
}
