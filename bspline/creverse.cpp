#include "bspline/creverse.h"

#include <initializer_list>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"

void reverseBspline(Bspline* curve) {
  if (!curve || curve->kind == 2) return;
  if (!RecordShapesSound({curve})) return;
  const int n = NumCtrlU(curve);
  for (double** m : {curve->X, curve->Y, curve->dimension == 3 ? curve->Z : nullptr,
                     curve->rational ? curve->W : nullptr}) {
    if (!m) continue;
    double* row = m[0];
    for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(row[i], row[j]);
  }

  // C(s) becomes C(umin + umax - s): the knots are mirrored about the middle of the domain.
  if (double* t = curve->knotsU) {
    const double s = curve->umin + curve->umax;
    for (int i = 0, j = NumKnotsU(curve) - 1; i <= j; ++i, --j) {
      const double ti = t[i];
      t[i] = s - t[j];
      t[j] = s - ti;
    }
    SpreadOverfullKnotRuns(curve, 0);
    SetDomainFromKnots(curve, 0);
  }

  if (curve->quadricType == 1 && curve->quadric) {
    double* v = curve->quadric->v;  // start xyz, end xyz
    for (int k = 0; k < 3; ++k) std::swap(v[k], v[k + 3]);
  }
}

void reverse_array(float* a, int n) {
  if (!a) return;
  for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(a[i], a[j]);
}
