#include "shrinkwrap/smooth.h"

#include <cmath>
#include <initializer_list>

#include "bspline/bsvalid.h"
#include "bspline/crvlist.h"
#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/csmooth.h"

namespace {

// The staged schedule: iterations at amount 1, the stage factors (four are used) and the
// neighbour weighting of the grid fairing (uniform).
int maxIter = 200;
const double factor[5] = {0.1, 0.15, 0.2, 0.25, 0.4};
int weightType = 0;

const double kIsoStageFactor[6] = {0.02, 0.05, 0.1, 0.2, 0.3, 0.4};

// Every entry point asks this before it reads the surface: a sound (bsvalid) 3D surface.
bool IsSurface(const Bspline* b) { return BsplineSound(b) && b->kind == 2 && b->dimension == 3; }

// Transposes the surface's matrices and exchanges every per-direction field. The new matrices
// are made first, so a failure leaves the surface as it was.
int FlipSurfaceCore(Bspline* s) {
  const int nU = NumCtrlU(s), nV = NumCtrlV(s);
  double** old[4] = {s->X, s->Y, s->Z, s->rational ? s->W : nullptr};
  double** fresh[4] = {nullptr, nullptr, nullptr, nullptr};
  TrackingScope scope;
  for (int c = 0; c < 4; ++c) {
    if (!old[c]) continue;
    fresh[c] = allocate_matrix_fh(nU, nV);
    if (!fresh[c] || KernelFailed()) return -2;
    transpose_matrix_ff(old[c], fresh[c], nV, nU);
  }
  scope.keep();
  for (double** m : old)
    if (m) matrix_free_fh(m);
  s->X = fresh[0];
  s->Y = fresh[1];
  s->Z = fresh[2];
  if (s->rational) s->W = fresh[3];
  auto swap = [](auto& a, auto& b) {
    auto t = a;
    a = b;
    b = t;
  };
  swap(s->closedU, s->closedV);
  swap(s->degreeU, s->degreeV);
  swap(s->interiorU, s->interiorV);
  swap(s->knotsU, s->knotsV);
  swap(s->umin, s->vmin);
  swap(s->umax, s->vmax);
  // The exchange reverses the normal S_u x S_v, so a plane's equation changes sign; a copy
  // that kept the old sign would describe the other side.
  if (s->quadricType == 25 && s->quadric)
    for (int i = 0; i < 4; ++i) s->quadric->v[i] = -s->quadric->v[i];
  return 0;
}

// Clears what a change of control points invalidates: property blocks and exact form.
void ControlPointsChanged(Bspline* srf) { FreeBsplineProperties(srf); }

}  // namespace

int FindSrfFreeCntrlPntsGivenBndry(Bspline* srf, const int fixed[4], int* nFree, int*** mask) {
  if (!IsSurface(srf) || !fixed || !nFree || !mask) return -2;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  for (int side = 0; side < 4; ++side) {
    const int k = fixed[side];
    const int lines = side % 2 == 0 ? nU : nV;  // sides 0, 2 hold columns, 1, 3 rows
    if (k < 0 || k > 2 || lines < k + 1) return -2;
  }
  TrackingScope scope;
  int** m = allocate_matrix_ii(nV, nU);
  if (!m || KernelFailed()) return -2;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) m[j][i] = 1;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      if (i <= fixed[0] || i >= nU - 1 - fixed[2] || j <= fixed[1] || j >= nV - 1 - fixed[3])
        m[j][i] = 0;
    }
  int count = 0;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) count += m[j][i];
  scope.keep();
  *nFree = count;
  *mask = m;
  return 0;
}

int SmoothSrfCntrlPntsLambdaGamma(Bspline* srf, int fixedRows, double lambda, double mu, int iterations) {
  if (!IsSurface(srf) || srf->dimension != 3) return -2;
  if (fixedRows < 0) fixedRows = -1;  // refused by the mask
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  TrackingScope scope;
  double** g[3];
  double** src[3] = {srf->X, srf->Y, srf->Z};
  for (int c = 0; c < 3; ++c) {
    g[c] = allocate_matrix_ff(nV, nU);
    if (!g[c] || KernelFailed()) return -2;
    for (int j = 0; j < nV; ++j)
      for (int i = 0; i < nU; ++i) g[c][j][i] = src[c][j][i];
  }
  const int fixed[4] = {fixedRows, fixedRows, fixedRows, fixedRows};
  int nFree = 0;
  int** mask = nullptr;
  if (FindSrfFreeCntrlPntsGivenBndry(srf, fixed, &nFree, &mask) != 0 || !mask) return -2;
  const Owned<int*, matrix_free_ih> ownMask(mask);
  if (nFree < 1) return -2;
  if (FairGridPntsLambdaGamma(g[0], g[1], g[2], nV, nU, mask, 1, weightType, lambda, mu, iterations) != 0)
    return -2;
  // Held points are copied from nowhere: they keep their exact bits.
  for (int c = 0; c < 3; ++c)
    for (int j = 0; j < nV; ++j)
      for (int i = 0; i < nU; ++i)
        if (mask[j][i]) src[c][j][i] = g[c][j][i];
  ControlPointsChanged(srf);
  return 0;
}

int SimpleSmoothSrfLambdaGamma(Bspline* srf, double amount, Bspline** result) {
  if (!IsSurface(srf) || !result) return -2;
  Owned<Bspline, FreeBspline> copy(CopyBsplineStruct(srf));
  if (!copy || KernelFailed()) return -2;
  int total = static_cast<int>(maxIter * amount) + 1;
  if (total < 2) total = 2;
  int perStage = total / 5 + 1;
  if (perStage < 2) perStage = 2;
  const double kPB = (1.0 - amount) * 0.2 + 0.08;
  double m = 0.0;
  MaxShrinkFactorlambda(kPB, &m);
  if (m > 0.75) m = 0.75;
  for (int s = 0; s < 4; ++s) {
    const double lambda = factor[s] * m;
    double mu = 0.0;
    ComputeLambdaGammaFromPassbandFqncy(kPB, lambda, &mu);
    if (std::fabs(mu) > lambda) mu = -lambda;
    if (SmoothSrfCntrlPntsLambdaGamma(copy.get(), 0, lambda, mu, perStage) != 0) return -2;
    if (s == 3) {
      int extra = total / 10;
      extra = extra < 1 ? 1 : (extra > 4 ? 4 : extra);
      if (SmoothSrfCntrlPntsLambdaGamma(copy.get(), 0, 0.02, 0.0, extra) != 0) return -2;
    }
  }
  if (SmoothSrfCntrlPntsLambdaGamma(copy.get(), 0, 0.02, 0.0, 2) != 0) return -2;
  *result = copy.release();
  return 0;
}

int IsEnoughSrfCntrlPntsForSmoothing(Bspline* srf, int fixed[4], int* enough, int* addU, int* addV) {
  if (!IsSurface(srf) || !fixed || !enough || !addU || !addV) return -2;
  for (int s = 0; s < 4; ++s)
    if (fixed[s] < 0) fixed[s] = -1;
  // Control points minus the held rows on both sides.
  const int freeU = srf->degreeU + srf->interiorU - 1 - fixed[0] - fixed[2];
  const int freeV = srf->degreeV + srf->interiorV - 1 - fixed[1] - fixed[3];
  *addU = freeU < 2 ? 2 - freeU : 0;
  *addV = freeV < 2 ? 2 - freeV : 0;
  *enough = (*addU == 0 && *addV == 0) ? 1 : 0;
  return 0;
}

int SimpleSmoothSurface(Bspline* srf, int fixed[4], double amount, int insertKnots, Bspline** result) {
  if (!IsSurface(srf) || !fixed || !result) return -2;
  int enough = 0, addU = 0, addV = 0;
  if (IsEnoughSrfCntrlPntsForSmoothing(srf, fixed, &enough, &addU, &addV) != 0) return -2;
  if (!enough && !insertKnots) return -2;
  Bspline* copy = CopyBsplineStruct(srf);
  if (!copy || KernelFailed()) return -2;
  if (addU > 0) InsertNKnotsToObject(1, addU, 0, copy, 1, nullptr);
  if (addV > 0 && !KernelFailed()) InsertNKnotsToObject(1, addV, 1, copy, 1, nullptr);
  int nFree = 0;
  int** mask = nullptr;
  int r = KernelFailed() ? -2 : FindSrfFreeCntrlPntsGivenBndry(copy, fixed, &nFree, &mask);
  if (mask) matrix_free_ih(mask);
  if (r == 0 && nFree > 0) r = SimpleSmoothSrfLambdaGamma(copy, amount, result);
  else r = -2;
  FreeBspline(copy);
  return r;
}

int SimpleSmoothSrfIsoCrvU(Bspline* srf, double u, double amount, int iterations) {
  if (!IsSurface(srf) || srf->dimension != 3) return -2;
  const int p = srf->degreeU;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  if (u < srf->umin) u = srf->umin;
  if (u > srf->umax) u = srf->umax;
  double N[kMaxSplineDegree + 2];
  int span = p;
  EvalPointOnObjInit(u, p, srf->knotsU, N, &span, nU, 0);
  const int first = span - p;  // N[a + 1] weighs column first + a

  TrackingScope scope;
  double* q = MallocArray<double>(6, nV);
  if (!q || KernelFailed()) return -2;
  double* Q[3] = {q, q + nV, q + 2 * nV};
  double* Q0[3] = {q + 3 * nV, q + 4 * nV, q + 5 * nV};
  double** P[3] = {srf->X, srf->Y, srf->Z};
  for (int c = 0; c < 3; ++c)
    for (int j = 0; j < nV; ++j) {
      double s = 0.0;
      for (int a = 0; a <= p; ++a) s += N[a + 1] * P[c][j][first + a];
      Q[c][j] = Q0[c][j] = s;
    }

  double kPB = amount < 0.001 ? 0.001 : (amount > 1.0 ? 1.0 : amount);
  if (iterations < 6) iterations = 6;
  const int perStage = iterations / 6 + 1;
  double m = 0.0;
  MaxShrinkFactorlambda(kPB, &m);
  int ends[2] = {0, nV - 1};
  for (double f : kIsoStageFactor) {
    const double lambda = f * m < m ? f * m : m;
    double mu = 0.0;
    ComputeLambdaGammaFromPassbandFqncy(kPB, lambda, &mu);
    if (FairPolylineLambdaGamma(Q[0], Q[1], Q[2], nV, ends, 2, 1, 0, lambda, mu, perStage, 0.0) != 0)
      return -2;
  }
  if (FairPolylineLambdaGamma(Q[0], Q[1], Q[2], nV, ends, 2, 1, 0, 0.02, 0.0, 4, 0.0) != 0) return -2;

  if (std::fabs(u - srf->umin) < 1e-6 || std::fabs(u - srf->umax) < 1e-6) return 0;
  // The net's first and last columns are boundaries; columns with a tiny weight would need
  // huge moves to matter.
  double sum2 = 0.0;
  int candidates = 0;
  for (int a = 0; a <= p; ++a) {
    const int col = first + a;
    if (col == 0 || col == nU - 1 || std::fabs(N[a + 1]) < 0.001) continue;
    sum2 += N[a + 1] * N[a + 1];
    ++candidates;
  }
  // The least-norm change of the candidates' points that reproduces the curve's change d[j];
  // with a single candidate that is d[j] / b.
  if (candidates >= 1) {
    for (int a = 0; a <= p; ++a) {
      const int col = first + a;
      if (col == 0 || col == nU - 1 || std::fabs(N[a + 1]) < 0.001) continue;
      const double w = N[a + 1] / sum2;
      for (int c = 0; c < 3; ++c)
        for (int j = 1; j <= nV - 2; ++j) P[c][j][col] += (Q[c][j] - Q0[c][j]) * w;
    }
  }
  ControlPointsChanged(srf);
  return 0;
}

int SimpleSmoothSrfIsoCrvV(Bspline* srf, double v, double amount, int iterations) {
  if (!IsSurface(srf) || srf->dimension != 3) return -2;
  Bspline* t = GetSrfBsplineTranspose(srf);
  if (!t) return -2;
  int r = SimpleSmoothSrfIsoCrvU(t, v, amount, iterations);
  if (r == 0) {
    transpose_matrix_ff(t->X, srf->X, NumCtrlV(t), NumCtrlU(t));
    transpose_matrix_ff(t->Y, srf->Y, NumCtrlV(t), NumCtrlU(t));
    transpose_matrix_ff(t->Z, srf->Z, NumCtrlV(t), NumCtrlU(t));
    ControlPointsChanged(srf);
  }
  FreeBspline(t);
  return r;
}

int SimpleSmoothSrfIsoCrv(Bspline* srf, double u, double v, int dir, double amount, int iterations,
                          Bspline** result) {
  if (!IsSurface(srf) || !result) return -2;
  Bspline* copy = CopyBsplineStruct(srf);
  if (!copy || KernelFailed()) return -2;
  int r;
  if (dir) {
    r = SimpleSmoothSrfIsoCrvV(copy, v < copy->vmin ? copy->vmin : v, amount, iterations);
  } else {
    r = SimpleSmoothSrfIsoCrvU(copy, u < copy->umin ? copy->umin : u, amount, iterations);
  }
  if (r != 0) {
    FreeBspline(copy);
    return -2;
  }
  *result = copy;
  return 0;
}

int FlipBspline(Bspline* obj) {
  if (!obj) return -2;
  if (obj->kind == 1 && obj->dimension == 2) {
    double** t = obj->X;
    obj->X = obj->Y;
    obj->Y = t;
    return 0;
  }
  if (!IsSurface(obj)) return -2;
  if (FlipSurfaceCore(obj) != 0) return -2;
  FlipCurveList(obj->curves);
  return 0;
}

Bspline* GetSrfBsplineTranspose(Bspline* srf) {
  if (!IsSurface(srf)) return nullptr;
  Bspline* copy = CopyBsplineStruct(srf);
  if (!copy || KernelFailed()) return nullptr;
  if (FlipSurfaceCore(copy) != 0) {
    FreeBspline(copy);
    return nullptr;
  }
  return copy;
}

int SearchVector(const double* a, double x, int n) {
  if (!a || n < 1 || x < a[0]) return -1;
  int lo = 0, hi = n - 1;  // a[lo] <= x holds throughout
  while (lo < hi) {
    const int mid = (lo + hi + 1) / 2;
    if (a[mid] <= x)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

int SearchVectorSeeded(const double* a, double x, int n, int seed) {
  if (!a || n < 1) return -1;
  int i = seed < 0 ? 0 : (seed > n - 1 ? n - 1 : seed);
  if (a[i] > x) {
    while (i >= 0 && a[i] > x) --i;
    return i;
  }
  while (i + 1 < n && a[i + 1] <= x) ++i;
  return i;
}
