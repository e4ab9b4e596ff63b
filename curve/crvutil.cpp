#include "curve/crvutil.h"

#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfutils.h"

double NormalizeKnotArray(double* knots, int n) { return NormalizeKnots(knots, n); }

int PutInCKnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
  return KnotsOfBNotInA(A, nA, B, nB, C, nC, nullptr);
}

int PutInCKnotsOfBNotInA_changeA(double* A, int nA, const double* B, int nB, double** C, int* nC) {
  return KnotsOfBNotInA(A, nA, B, nB, C, nC, A);
}

int PutAllKnotsWithinTolOfValToVal(double* knots, int n, int idx, double value, double tol) {
  return SnapKnotsToValue(knots, n, idx, value, tol);
}

void UnionKnotArrays(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
  MergeKnotVectors(A, nA, B, nB, C, nC);
}

int FindClosestCPT3paramValue(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  TrackingScope scope;
  double* g1 = FindParamValuesOfCoefi(crv1, 0);
  double* g2 = FindParamValuesOfCoefi(crv2, 0);
  const int n1 = NumCtrlU(crv1), n2 = NumCtrlU(crv2);
  double* p1 = MallocArray<double>(3, n1 + n2);
  if (!g1 || !g2 || !p1 || KernelFailed()) return -2;
  double* p2 = p1 + 3 * n1;
  // The polygons run through the curve points at the Greville parameters, which follow the
  // curve far closer than the control polygon.
  for (int i = 0; i < n1; ++i) Eval3DPointOnCurve3Array(crv1, g1[i], 0, p1 + 3 * i);
  for (int j = 0; j < n2; ++j) Eval3DPointOnCurve3Array(crv2, g2[j], 0, p2 + 3 * j);
  *t1 = g1[0];
  *t2 = g2[0];
  double best = kEmptyBoxBound;
  for (int i = 0; i + 1 < n1; ++i) {
    for (int j = 0; j + 1 < n2; ++j) {
      double d2, a, b;
      // Near-parallel segment pairs report failure and are skipped.
      if (LineSegsMinDistsq(p1 + 3 * i, p1 + 3 * i + 3, p2 + 3 * j, p2 + 3 * j + 3, &d2, &a, &b) != 0)
        continue;
      if (d2 < best) {
        best = d2;
        *t1 = (1.0 - a) * g1[i] + a * g1[i + 1];
        *t2 = (1.0 - b) * g2[j] + b * g2[j + 1];
      }
    }
  }
  return 0;
}
