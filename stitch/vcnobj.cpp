#include "stitch/vcnobj.h"

#include <algorithm>
#include <cmath>

#include "bspline/crvlist.h"
#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

void ResetBsplineParamInfo(Bspline* obj, int dir) { SetDomainFromKnots(obj, dir); }

int GetDistinctKnots(Bspline* obj, int dir, int** mults, double** knots, double tol) {
  return DistinctInteriorKnots(obj, dir, mults, knots, tol);
}

void ReverseObj(Bspline* obj, int dir) { ReverseDirection(obj, dir); }

void GetKnotInfo(Bspline* obj, int dir, double* min, double* max) {
  const KnotDirection d = DirectionOf(obj, dir);
  *min = d.lo;
  *max = d.hi;
}

void GetObjBndryPnts(Bspline* obj, int bndry, double start[3], double end[3], int avoidDegenerate) {
  ObjectBoundaryEnds(obj, bndry, start, end, avoidDegenerate);
}

void GetObjBndryVector(Bspline* obj, int bndry, double vec[3]) {
  ObjectBoundaryVector(obj, bndry, vec);
}

int EquateParDirOfObjSet(Bspline** objs, int* bndry, int n) {
  return MatchBoundaryDirections(objs, bndry, n);
}

double GetCurveOnSurf3DLength(Bspline* crv) { return CurveOnSurfaceLength(crv); }

double GetObjSpanInParDir(Bspline* obj, int dir, int curveOnSurf3D) {
  return ControlPolygonSpan(obj, dir, curveOnSurf3D);
}

void CopyVecWOffsetToVec(const double* src, int stride, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] = src[i * stride];
}

void MakeObjSetCompatible(Bspline** objs, int* dirs, int n, int scaleOther) {
  MakeKnotVectorsCompatible(objs, dirs, n, scaleOther);
}

// ---- Degrees, rationality and parameter speed of object sets ------------------------------

int isJustCombine = 0;

void EquateDegOfObjSet(Bspline** objs, int* dirs, int n) { RaiseToCommonDegree(objs, dirs, n); }

void MakeObjSetRational(Bspline** objs, int n) { MakeObjectsRational(objs, n); }

void EquateRationOfObjSet(Bspline** objs, int n) { MatchRationality(objs, n); }

int MakeParOfTwoObjProptnl(Bspline** pair, int* dirs, int join, int keepOther) {
  Bspline* A = pair[0];
  Bspline* B = pair[1];
  if (A == B && A->kind == 1) return -1;
  const int dA = dirs ? dirs[0] : 0, dB = dirs ? dirs[1] : 0;
  const KnotDirection a = DirectionOf(A, dA), b = DirectionOf(B, dB);
  const double eA = a.knots[a.p + a.interior + 1];
  const double rA = eA - a.knots[a.p];
  const double rB = b.knots[b.p + b.interior + 1] - b.knots[b.p];
  const double sA = GetObjSpanInParDir(A, dA, 0), sB = GetObjSpanInParDir(B, dB, 0);
  double k = sA > 1e-6 && sB > 1e-6 ? (sB / rB) / (sA / rA) : 1.0;
  if (isJustCombine || !std::isfinite(k) || k <= 0.0) k = 1.0;
  double* kB = b.knots;
  const int nKnots = b.nCtrl + b.p + 1;
  double scale = 1.0, shift = 0.0;
  const bool scaled = std::fabs(k - 1.0) >= 0.1;
  if (!scaled && !join) return -1;
  if (join) {
    scale = scaled ? k : 1.0;
    shift = eA - kB[0] * scale;
    for (int j = b.p + 1; j < nKnots; ++j) kB[j] = kB[j] * scale + shift;
    for (int j = 0; j <= b.p; ++j) kB[j] = eA;
  } else {
    scale = k;
    for (int j = 0; j < nKnots; ++j) kB[j] *= k;
  }
  if (B->kind == 1) {
    ResetBsplineParamInfo(B, 0);
    return 0;
  }
  PropotionCurveListCoefi(B->curves, scale, shift, b.inV ? 1 : 0);
  ResetBsplineParamInfo(B, b.inV ? 1 : 0);
  if (scaled && B != A && !keepOther) {
    const KnotDirection o = DirectionOf(B, b.inV ? 0 : 1);
    for (int j = 0; j < o.nCtrl + o.p + 1; ++j) o.knots[j] *= k;
    PropotionCurveListCoefi(B->curves, k, 0.0, o.inV ? 1 : 0);
    ResetBsplineParamInfo(B, o.inV ? 1 : 0);
  }
  return 0;
}
