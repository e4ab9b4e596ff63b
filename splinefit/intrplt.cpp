#include "splinefit/intrplt.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "curve/pntintrp.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"
#include "shrinkwrap/gridintp.h"
#include "splinefit/skin.h"
#include "stitch/vcnobj.h"

// ---- Curves through points: the work is on the curve floor (curve/pntintrp) ------------------

Bspline* CurveIntrplt(double* x, double* y, double* z, int n, double* knots, int degree,
                      int anyDegree) {
  return SoundRecordOrFailed(InterpolatePoints(x, y, z, n, knots, degree, anyDegree));
}

Bspline* CurveIntrplt_f(const float* x, const float* y, const float* z, int n, double* knots,
                        int degree, int anyDegree) {
  return SoundRecordOrFailed(InterpolatePoints_f(x, y, z, n, knots, degree, anyDegree));
}

Bspline* MakeCurveZero(const double* x, const double* y, const double* z, int degree) {
  return MadeOrFailed(PointCurve(x, y, z, degree));
}

Bspline* IntrpltWithDegree1(double* x, double* y, double* z, int m, double* knots) {
  return SoundRecordOrFailed(InterpolateDegree1(x, y, z, m, knots));
}

int FixDuplicates(double* x, double* y, double* z, int count, double tol) {
  return SeparateDuplicates(x, y, z, count, tol);
}

void NewAssignKnots(const double* x, const double* y, const double* z, int m, int p, double* out) {
  PaddedChordParams(x, y, z, m, p, out);
}

void AssignKnots(const double* x, const double* y, const double* z, int m, double* out) {
  PaddedChordParams(x, y, z, m, 3, out);
}

void AssignKnotsForDegree1(const double* x, const double* y, const double* z, int m, double* out) {
  PaddedChordParams(x, y, z, m, 1, out);
}

void setup_system(const double* knots, int m, double* lower, double* diag, double* upper, int p,
                  int endStart, int endEnd) {
  TridiagCollocation(knots, m, lower, diag, upper, p, endStart, endEnd);
}

void bessel_ends(const double* d, const double* knots, int m, double* first, double* last) {
  BesselEnds(d, knots, m, first, last);
}

void LUD_tridiag(const double* lower, const double* diag, const double* upper, double* d,
                 double* l, int m) {
  FactorTridiag(lower, diag, upper, d, l, m);
}

void solve_tridiag(const double* d, const double* l, const double* upper, int m,
                   const double* rhs, double* out) {
  SolveTridiag(d, l, upper, m, rhs, out);
}

double* RemoveByAveKnotsForInterpolate(const double* params, int m, int p) {
  return AveragedKnotVector(params, m, p);
}

void Newsetup_system(const double* knots, const double* params, int m, double** A, int* idx, int w,
                     int p) {
  BandCollocation(knots, params, m, A, idx, w, p);
}

int LUD_BandMatrix(double** A, int n, int ml, int mu, int* idx) {
  return FactorBandRows(A, n, ml, mu, idx);
}

int solve_BandMatrix(double** A, int n, const double* b, double* x, int w, const int* idx) {
  return SolveBandRows(A, n, b, x, w, idx);
}

Bspline* NewCurveIntrplt(double* x, double* y, double* z, int n, double* params, int p) {
  return SoundRecordOrFailed(InterpolatePointsAnyDegree(x, y, z, n, params, p));
}

int AddPointsIfLessThanOrder(double** x, double** y, double** z, int* count, int p) {
  return AddPointsToOrder(x, y, z, count, p);
}

double* InsertSymmetricKnots(const double* knots, int len, int p, int count) {
  return InsertMidpointsSymmetric(knots, len, p, count);
}

double* GetNewKnotsAfterInsert(const double* params, int len, int p, int* count) {
  return InsertParamsSymmetric(params, len, p, count);
}

double* GetLargestSpanAndInsert(double* knots, int len, int p, int count) {
  return InsertInLargestSpans(knots, len, p, count);
}

namespace {

// Knots of m + p + 2 values from the padded parameters with p - 1 of them removed in pairs:
// pair j removes the original positions start + p + j step at the front and
// len - p - start - 1 - j step at the back, the end with the smaller span first.
double* RemoveParamsInPairs(const double* params, int m, int p, int start, int step) {
  const int len = m + 2 * p + 1, removals = p - 1;
  if (!params || m < p || p < 1 || step < 1) return nullptr;
  double* K = MallocArray<double>(m + p + 2);
  if (!K || KernelFailed()) return nullptr;
  TrackingScope scope;
  char* gone = CallocArray<char>(len);
  if (!gone || KernelFailed()) {
    Free(K);
    return nullptr;
  }
  int done = 0;
  for (int j = 0; done < removals; ++j) {
    int f = start + p + j * step, b = len - p - start - 1 - j * step;
    if (f > b) std::swap(f, b);
    if (f <= p || b >= len - p - 1) break;  // ran out of interior parameters
    const double fs = params[f] - params[f - 1], bs = params[b + 1] - params[b];
    const int order[2] = {fs <= bs ? f : b, fs <= bs ? b : f};
    for (int pos : order) {
      if (done < removals && !gone[pos]) {
        gone[pos] = 1;
        ++done;
      }
    }
  }
  if (done < removals) {
    Free(K);
    return nullptr;
  }
  int n = 0;
  for (int i = 0; i < len; ++i)
    if (!gone[i]) K[n++] = params[i];
  return K;
}

}  // namespace

double* RemoveKnotsForInterpolate(const double* params, int m, int p) {
  return RemoveParamsInPairs(params, m, p, 1, 1);
}

double* TestRemoveKnotsForInterpolate(const double* params, int m, int p) {
  const int q = p >= 1 ? (m + 1) / p : 0;
  return RemoveParamsInPairs(params, m, p, q, q);
}

// ---- Surfaces through grids -----------------------------------------------------------------

double* CreateKnotVectorForNVectors(const double* x, const double* y, const double* z, int nu,
                                    int nv, int p) {
  if (!x || !y || !z || nu < 1 || nv < 1 || p < 0) {
    SetKernelError(-2);
    return nullptr;
  }
  double* out = MallocArray<double>(nu + 2 * p);
  if (!out || KernelFailed()) return nullptr;
  for (int i = 0; i <= p; ++i) out[i] = 0.0;
  for (int i = 1; i < nu; ++i) {
    double sum = 0.0;
    for (int j = 0; j < nv; ++j) {
      const int a = j * nu + i - 1, b = a + 1;
      const double pa[3] = {x[a], y[a], z[a]}, pb[3] = {x[b], y[b], z[b]};
      sum += VecDist3(pa, pb);
    }
    out[p + i] = out[p + i - 1] + sum / nv;
  }
  for (int i = 1; i <= p; ++i) out[p + nu - 1 + i] = out[p + nu - 1];
  return out;
}

namespace {

// Copies of a point array of n points, the slots after them free for added points.
double* CopyPoints(const double* src, int n, int capacity) {
  double* a = MallocArray<double>(capacity);
  if (a) std::memcpy(a, src, sizeof(double) * n);
  return a;
}

}  // namespace

int AddPointsInGridIfLessThanOrder(double** x, double** y, double** z, int* nu, int* nv, int pu,
                                   int pv) {
  int Nu = *nu, Nv = *nv;
  if (Nu >= pu + 1 && Nv >= pv + 1) return 0;
  // The grid arrays that survive belong to the caller's scope; the work here has its own.
  const int capU = Nu < pu + 1 ? pu + 2 : Nu, capV = Nv < pv + 1 ? pv + 2 : Nv;
  double* grid = MallocArray<double>(3, capU, capV + 1);
  if (!grid || KernelFailed()) return -2;
  const int cap = capU * (capV + 1);
  double* G[3] = {grid, grid + cap, grid + 2 * cap};
  const double* in[3] = {*x, *y, *z};
  bool ok = true;
  {
    TrackingScope work;
    // Rows too short: each row gets its points added; every row gets the same count, since
    // the insertion depends only on the counts.
    if (Nu < pu + 1) {
      int newNu = -1;
      for (int j = 0; ok && j < Nv; ++j) {
        double* r[3];
        for (int c = 0; c < 3; ++c) r[c] = CopyPoints(in[c] + j * Nu, Nu, Nu);
        if (!r[0] || !r[1] || !r[2] || KernelFailed()) {
          ok = false;
          break;
        }
        int count = Nu;
        ok = AddPointsIfLessThanOrder(&r[0], &r[1], &r[2], &count, pu) == 0 &&
             (newNu < 0 || newNu == count) && count <= capU;
        newNu = count;
        for (int c = 0; ok && c < 3; ++c)
          std::memcpy(G[c] + j * count, r[c], sizeof(double) * count);
      }
      Nu = newNu;
    } else {
      for (int c = 0; c < 3; ++c) std::memcpy(G[c], in[c], sizeof(double) * Nu * Nv);
    }
    // Columns too short: rows are added where column 0 took its added points; each column's
    // added values go into those rows.
    if (ok && Nv < pv + 1) {
      double* added = MallocArray<double>(3, Nu, capV + 1);
      int* isAdded = CallocArray<int>(capV + 1);
      if (!added || !isAdded || KernelFailed()) {
        ok = false;
      }
      int newNv = -1;
      for (int i = 0; ok && i < Nu; ++i) {
        double* col[3];
        for (int c = 0; c < 3; ++c) {
          col[c] = MallocArray<double>(Nv);
          if (!col[c] || KernelFailed()) break;
          for (int j = 0; j < Nv; ++j) col[c][j] = G[c][j * Nu + i];
        }
        if (KernelFailed()) {
          ok = false;
          break;
        }
        const double* given[3] = {col[0], col[1], col[2]};
        int count = Nv;
        ok = AddPointsIfLessThanOrder(&col[0], &col[1], &col[2], &count, pv) == 0 &&
             (newNv < 0 || newNv == count) && count <= capV + 1;
        newNv = count;
        int g = 0, a = 0;
        for (int k = 0; ok && k < count; ++k) {
          const bool isGiven = g < Nv && col[0][k] == given[0][g] && col[1][k] == given[1][g] &&
                               col[2][k] == given[2][g];
          if (i == 0) isAdded[k] = !isGiven;
          if (isGiven != !isAdded[k]) {
            ok = false;
            break;
          }
          if (isGiven) {
            ++g;
          } else {
            for (int c = 0; c < 3; ++c) added[(c * (capV + 1) + a) * Nu + i] = col[c][k];
            ++a;
          }
        }
      }
      if (ok) {
        // Rebuild from the back so that given rows move up before they are overwritten.
        int g = Nv - 1, a = newNv - Nv - 1;
        for (int k = newNv - 1; k >= 0; --k) {
          for (int c = 0; c < 3; ++c) {
            double* dst = G[c] + k * Nu;
            if (isAdded[k])
              std::memcpy(dst, added + (c * (capV + 1) + a) * Nu, sizeof(double) * Nu);
            else
              std::memmove(dst, G[c] + g * Nu, sizeof(double) * Nu);
          }
          isAdded[k] ? --a : --g;
        }
        Nv = newNv;
      }
    }
  }
  if (!ok || KernelFailed()) {
    Free(grid);
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  *x = G[0];
  *y = G[1];
  *z = G[2];
  *nu = Nu;
  *nv = Nv;
  return 0;
}

namespace {

// The last step of every grid interpolation: u gets v's control-net speed (unless within
// 10 %), and both domains follow the knots.
Bspline* FinishGridSurface(Bspline* s) {
  if (!s) return nullptr;
  Bspline* pair[2] = {s, s};
  int dirs[2] = {1, 0};
  MakeParOfTwoObjProptnl(pair, dirs, 0, 1);
  SetDomainFromKnots(s, 0);
  SetDomainFromKnots(s, 1);
  return s;
}

// The common steps of the two surface interpolators: rows of the grid interpolated (cubic or
// degree 1, or any degree), skinned across (tridiagonal or band), u made proportional to v.
Bspline* InterpolateGrid(double* x, double* y, double* z, int nu, int nv, double* uknots,
                         double* vknots, int pu, int pv, bool anyDegree) {
  if (!x || !y || !z || nu < 1 || nv < 1 || pu < 1 || pv < 1) return MadeOrFailed<Bspline>(nullptr);
  TrackingScope scope;
  double *gx = x, *gy = y, *gz = z;
  int gnu = nu, gnv = nv;
  if ((nu < pu + 1 || nv < pv + 1) &&
      AddPointsInGridIfLessThanOrder(&gx, &gy, &gz, &gnu, &gnv, pu, pv) < 0)
    return nullptr;
  double* uparams = uknots && gnu == nu ? uknots : CreateKnotVectorForNVectors(gx, gy, gz, gnu, gnv, pu);
  if (!uparams || KernelFailed()) return nullptr;
  // Given v data fit the given row count only.
  double* vgiven = gnv == nv ? vknots : nullptr;
  Bspline** rows = CallocArray<Bspline*>(gnv);
  if (!rows || KernelFailed()) return nullptr;
  Bspline* s = nullptr;
  bool ok = true;
  for (int j = 0; ok && j < gnv; ++j) {
    const int o = j * gnu;
    rows[j] = CurveIntrplt(gx + o, gy + o, gz + o, gnu - 1, uparams, pu, anyDegree ? 1 : 0);
    ok = rows[j] && !KernelFailed();
  }
  if (ok) {
    int ends[2] = {0, 0};
    s = anyDegree ? SkinCurveRowsBanded(gnv, rows, vgiven, pv)
                  : SkinCurveRows(gnv, rows, vgiven, pv, ends);
  }
  FreeBsplineArrayContents(rows, gnv);
  return SoundRecordOrFailed(FinishGridSurface(s));
}

// The float grid as one block of doubles for the double forms.
Bspline* InterpolateGrid_f(const float* x, const float* y, const float* z, int nu, int nv,
                           double* uknots, double* vknots, int pu, int pv, bool anyDegree) {
  if (!x || !y || !z || nu < 1 || nv < 1) return nullptr;
  TrackingScope scope;
  const int n = nu * nv;
  double* block = MallocArray<double>(3, nu, nv);
  if (!block || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    block[i] = x[i];
    block[n + i] = y[i];
    block[2 * n + i] = z[i];
  }
  return InterpolateGrid(block, block + n, block + 2 * n, nu, nv, uknots, vknots, pu, pv,
                         anyDegree);
}

}  // namespace

Bspline* SurfaceInterpolate(double* x, double* y, double* z, int nu, int nv, double* uknots,
                            double* vknots, int pu, int pv) {
  return InterpolateGrid(x, y, z, nu, nv, uknots, vknots, pu, pv, false);
}

Bspline* SurfaceInterpolate_f(const float* x, const float* y, const float* z, int nu, int nv,
                              double* uknots, double* vknots, int pu, int pv) {
  return InterpolateGrid_f(x, y, z, nu, nv, uknots, vknots, pu, pv, false);
}

Bspline* NewSurfaceInterpolate(double* x, double* y, double* z, int nu, int nv, double* uparams,
                               double* vparams, int pu, int pv) {
  return InterpolateGrid(x, y, z, nu, nv, uparams, vparams, pu, pv, true);
}

Bspline* NewSurfaceInterpolate_f(const float* x, const float* y, const float* z, int nu, int nv,
                                 double* uparams, double* vparams, int pu, int pv) {
  return InterpolateGrid_f(x, y, z, nu, nv, uparams, vparams, pu, pv, true);
}

// ---- Given parameters and knots --------------------------------------------------------------

void SetupSystemShrink(const double* knots, const double* params, int m, double** A, int* idx,
                       int w, int p) {
  CollocationRowsAtParams(knots, params, m, A, idx, w, p);
}

Bspline* CurveIntrpltShrink(double* x, double* y, double* z, const double* params, int count,
                            const double* knots, int p) {
  return CurveAtParams(x, y, z, params, count, knots, p);
}

Bspline* Curve3ToSurfShrink(int n, Bspline** curves, const double* vparams, const double* vknots,
                            int pv) {
  return SkinAtParams(n, curves, vparams, vknots, pv);
}

Bspline* SurfaceInterpolateShrink(double* x, double* y, double* z, int nu, int nv,
                                  const double* uparams, const double* vparams,
                                  const double* uknots, const double* vknots, int pu, int pv) {
  return FinishGridSurface(
      GridAtParams(x, y, z, nu, nv, uparams, vparams, uknots, vknots, pu, pv));
}
