#include "bspline/bsvalid.h"

#include <cmath>


bool KnotVectorSound(const double* knots, int p, int nCtrl) {
  const int count = nCtrl + p + 1;
  if (!std::isfinite(knots[0])) return false;
  int copies = 1;
  for (int i = 1; i < count; ++i) {
    // Written so that a NaN fails too.
    if (!(knots[i] >= knots[i - 1]) || !std::isfinite(knots[i])) return false;
    // More than p + 1 copies of a value leave a basis function without support.
    copies = knots[i] == knots[i - 1] ? copies + 1 : 1;
    if (copies > p + 1) return false;
  }
  const double length = knots[nCtrl] - knots[p];
  return length > 0.0 && std::isfinite(length);
}

bool BsplineSound(const Bspline* b) {
  if (!BsplineShapeSound(b)) return false;
  const bool surf = b->kind == 2;
  const int nu = NumCtrlU(b), nv = surf ? NumCtrlV(b) : 1;
  if (!KnotVectorSound(b->knotsU, b->degreeU, nu)) return false;
  if (surf && !KnotVectorSound(b->knotsV, b->degreeV, nv)) return false;
  double** const coefficients[4] = {b->X, b->Y, b->dimension == 3 ? b->Z : nullptr,
                                    b->rational ? b->W : nullptr};
  for (double** m : coefficients) {
    if (!m) continue;
    for (int j = 0; j < nv; ++j)
      if (!AllFinite(m[j], nu)) return false;
  }
  if (b->rational)
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i)
        if (!(b->W[j][i] > 0.0)) return false;
  return true;
}
