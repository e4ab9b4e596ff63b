#include "stitch/vcnobj.h"

#include <algorithm>

#include "bspline/creverse.h"
#include "foundation/coreglob.h"
#include "foundation/dispmat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"

void ResetBsplineParamInfo(Bspline* obj, int dir) {
  if (!obj) return;
  if (obj->kind == 2 && dir) {
    obj->vmin = obj->knotsV[obj->degreeV];
    obj->vmax = obj->knotsV[NumCtrlV(obj)];
  } else {
    obj->umin = obj->knotsU[obj->degreeU];
    obj->umax = obj->knotsU[NumCtrlU(obj)];
  }
}

int GetDistinctKnots(Bspline* obj, int dir, int** mults, double** knots, double tol) {
  *mults = nullptr;
  *knots = nullptr;
  const bool inV = obj->kind == 2 && dir;
  const int degree = inV ? obj->degreeV : obj->degreeU;
  const int interior = inV ? obj->interiorV : obj->interiorU;
  if (interior <= 0) return 0;
  const double range = inV ? obj->vmax - obj->vmin : obj->umax - obj->umin;
  const double absTol = tol * range;

  int* m = static_cast<int*>(Malloc(sizeof(int) * interior));
  double* v = static_cast<double*>(Malloc(sizeof(double) * interior));
  if (!m || !v || KernelFailed()) {
    Free(m);
    Free(v);
    return -2;
  }
  // The interior knots followed by the end run, so a value at the domain end sees the end
  // knots in its run; they are taken off again below.
  const double* a = (inV ? obj->knotsV : obj->knotsU) + degree + 1;
  const int n = interior + degree + 1;
  int count = 0;
  for (int i = 0; i < interior; ++count) {
    int mult = FindMultOfValInArray(a, n, a[i], i, n, 1, absTol);
    if (mult > degree + 1 && i + mult > interior) mult -= degree + 1;
    if (mult < 1) mult = 1;
    v[count] = a[i];
    m[count] = mult;
    i += mult;
  }
  *mults = m;
  *knots = v;
  return count;
}

void ReverseObj(Bspline* obj, int dir) {
  if (!obj) return;
  if (obj->kind != 2) {
    reverseBspline(obj);
    return;
  }
  const bool inV = dir != 0;
  double* t = inV ? obj->knotsV : obj->knotsU;
  const int n = inV ? NumKnotsV(obj) : NumKnotsU(obj);
  const double c = t[0] + t[n - 1];
  const int cols = NumCtrlU(obj), rows = NumCtrlV(obj);
  // Rows of the net are v: reversing u reverses every row, reversing v the order of the rows.
  for (double** M : {obj->X, obj->Y, obj->Z, obj->rational ? obj->W : nullptr})
    if (M) FlipMatrix(M[0], cols, rows, inV ? 1 : 0);
  std::reverse(t, t + n);
  for (int i = 0; i < n; ++i) t[i] = c - t[i];
  ResetBsplineParamInfo(obj, inV ? 1 : 0);
  ReverseCurveListCoefi(obj->curves, c, inV ? 1 : 0);
}
