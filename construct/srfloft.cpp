#include "construct/srfloft.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/kremove.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "cloud/pchord.h"
#include "construct/crv2srf.h"
#include "curve/crvutil.h"
#include "curve/fitcurve.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "splinefit/sconvert.h"
#include "splinefit/skin.h"
#include "stitch/loftrows.h"
#include "stitch/srfstitc.h"
#include "stitch/userdef.h"
#include "stitch/vcnobj.h"
#include "surface/srfsnip.h"
#include "surface/srfutils.h"

namespace {

bool OnSurface(const Bspline* c) {
  return BsplineShapeSound(c) && c->kind == 1 && c->dimension == 2 && c->owner;
}

// Two rows whose corresponding control points lie this close, summed over the row pair and
// relative to the rows' size, are one row: the parameter step between them would be round-off.
constexpr double kCoincidentRows = 1e-5;

}  // namespace

void FreeCrvArray(Bspline** arr, int nFirst, int nLast, int count) {
  if (!arr) return;
  for (int i = 0; i < nFirst && i < count; ++i) FreeBspline(arr[i]);
  for (int i = std::max(count - nLast, nFirst); i < count; ++i) FreeBspline(arr[i]);
  Free(arr);
}

void MakeParameterAdjustment(Bspline* crv, Bspline* pos, double t[2]) {
  double a[3], b[3];
  EvalCrvOnSrfArray(nullptr, crv, crv->umin, 1, a);
  Eval3DPointOnCurve3Array(pos, pos->umin, 1, b);
  const bool same = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] >= 0.0;
  t[0] = same ? pos->umin : pos->umax;
  t[1] = same ? pos->umax : pos->umin;
}

namespace {

// The derivative curves of one end of the loft: position, and per the condition the first and
// second cross derivatives, cut to where the curve's ends project onto the position curve.
// out[0] is the position curve, out[1], out[2] the derivatives. False on failure (the caller
// frees what out holds).
bool EndDerivatives(Bspline* B, Bspline* neighbour, int cond, int iso, int mode, double value,
                    int samples, double** mags, int* magMode, Bspline* out[3]) {
  Bspline** pos = CreateDerivativeCurves(&B, &neighbour, nullptr, nullptr, mode, value, samples, 0, 1,
                                         iso, nullptr, 0, B->degreeU);
  if (!pos) return false;
  out[0] = pos[0];
  Free(pos);
  const bool exact = iso != -1 && !B->rational && !B->owner->rational;
  double t[2] = {out[0]->umin, out[0]->umax};
  if (exact) {
    double ends[2][3];
    EvalCrvOnSrfArray(nullptr, B, B->umin, 0, ends[0]);
    EvalCrvOnSrfArray(nullptr, B, B->umax, 0, ends[1]);
    ClosestParamsOnCurveOrIso(ends, 2, out[0], -1.0, 0, t, nullptr, nullptr, nullptr, nullptr);
    if (KernelFailed()) return false;
    if (out[0]->closedU) MakeParameterAdjustment(B, out[0], t);
  }
  auto cut = [&](Bspline** c) {
    if (!exact || (t[0] == (*c)->umin && t[1] == (*c)->umax)) return true;
    Bspline* piece = ExtractParamRange(*c, 0, t[0], t[1]);
    FreeBspline(*c);
    *c = piece;
    return piece != nullptr;
  };
  if (!cut(&out[0])) return false;
  for (int order = 1; order <= cond; ++order) {
    Bspline** d = CreateDerivativeCurves(&B, &neighbour, order == 1 ? mags : nullptr,
                                         order == 1 ? magMode : nullptr, mode, value, samples, order,
                                         1, iso, out[0]->knotsU, NumKnotsU(out[0]), out[0]->degreeU);
    if (!d) return false;
    out[order] = d[0];
    Free(d);
    if (!out[order] || !cut(&out[order])) return false;
  }
  // Derivative curves that run against the curve on the surface are turned with it.
  if (exact) {
    Bspline* pair[2] = {B, out[0]};
    if (CheckBsplDirRelToBspl(pair, nullptr) == 1) {
      for (int k = 0; k <= cond; ++k) ReverseDirection(out[k], 0);
      if (mags && *mags) std::reverse(*mags, *mags + NumCtrlU(out[1]));
    }
  }
  return true;
}

}  // namespace

Bspline** GetSnippedDerivativeCurves(Bspline** in, int ends[2], int n, int* count, int* nStart,
                                     int* nEnd, int iso0, int iso1, int modes[2],
                                     double ignoredValue, int samples, double* mags[2],
                                     int magModes[2]) {
  mags[0] = mags[1] = nullptr;
  const bool first = OnSurface(in[0]), last = OnSurface(in[n - 1]);
  *nStart = first ? ends[0] + 1 : 0;
  *nEnd = last ? ends[1] + 1 : 0;
  *count = n + (first ? ends[0] : 0) + (last ? ends[1] : 0);
  const int total = *count;
  Bspline** arr;
  {
    UntrackedScope kept;  // the array is the caller's
    arr = CallocArray<Bspline*>(total);
  }
  if (!arr) return nullptr;
  for (int i = first ? 1 : 0; i < (last ? n - 1 : n); ++i) arr[*nStart + i - (first ? 1 : 0)] = in[i];
  bool ok = true;
  if (first) {
    Bspline* made[3] = {};
    ok = EndDerivatives(in[0], in[1], ends[0], iso0, modes[0], ignoredValue, samples, &mags[0],
                        &magModes[0], made);
    for (int k = 0; k <= ends[0]; ++k) arr[k] = made[k];
  }
  if (ok && last) {
    Bspline* made[3] = {};
    ok = EndDerivatives(in[n - 1], in[n - 2], ends[1], iso1, modes[1], ignoredValue, samples,
                        &mags[1], &magModes[1], made);
    for (int k = 0; k <= ends[1]; ++k) arr[total - 1 - k] = made[k];
  }
  if (!ok) {
    // The caller's curves in the middle are not ours to free.
    FreeCrvArray(arr, *nStart, *nEnd, total);
    FreeAndNull(mags[0]);
    FreeAndNull(mags[1]);
    return nullptr;
  }
  return arr;
}

int ComputeVKnotVecOfSurf(Bspline** curves, int m, int n, double* knots, int k, int c0, int c1) {
  // The data rows: the control-row entries next to the ends are left out.
  const int first = c0 > 0 ? c0 + 1 : 1;  // the data row after row 0
  const int rows = n - c0 - c1;
  int status = 0;
  int w = 0;
  for (int i = 0; i < k; ++i) knots[w++] = 0.0;
  if (c0 == 2) knots[w++] = 0.0;  // placeholder, set by the loft
  double s = 0.0;
  auto entry = [&](int row) { return row == 0 ? 0 : (row == rows - 1 ? n - 1 : first + row - 1); };
  double total = 0.0;
  const double coincident = kCoincidentRows * ControlPointSetDiagonal(curves, n * m);
  for (int r = 1; r < rows; ++r) {
    double d = 0.0;
    int points = 0;
    for (int j = 0; j < m; ++j) {
      const Bspline* a = curves[(entry(r - 1)) * m + j];
      const Bspline* b = curves[(entry(r)) * m + j];
      const int np = std::min(NumCtrlU(a), NumCtrlU(b));
      for (int i = 0; i < np; ++i) {
        d += std::hypot(a->X[0][i] - b->X[0][i], a->Y[0][i] - b->Y[0][i], a->Z[0][i] - b->Z[0][i]);
        ++points;
      }
    }
    if (!(d >= coincident) || d == 0.0) status = -9;
    s += points > 0 ? d / points : 0.0;
    if (r < rows - 1) knots[w++] = s;
    total = s;
  }
  if (c1 == 2) knots[w++] = 0.0;  // placeholder
  for (int i = 0; i < k; ++i) knots[w++] = total;
  return status;
}

int CleanLoftCurves(Bspline** curves, double* knots, int nKnots, int n, int ends[2], double tol,
                    double angle) {
  return CleanCurveRowKnots(curves, knots, nKnots, n, ends, tol, angle);
}

Bspline* ReparametrizeCurveUniform(Bspline* crv, int nCtrl) { return RefitCurveUniform(crv, nCtrl); }

namespace {

// Every curve of the array reduced by itself to nCtrl control points, then the set made
// compatible again: the skin reads every row as long as the first.
bool ReduceEachCurve(Bspline** arr, int n, int nCtrl) {
  for (int i = 0; i < n; ++i) {
    const int keep = nCtrl - arr[i]->degreeU - 1;
    if (arr[i]->interiorU > keep && keep >= 0) {
      double dev = 0.0;
      RemoveKnotsOfObjSet(&arr[i], 1, 0, 4, nullptr, 0, keep, 0.001, &dev);
      if (KernelFailed()) return false;
    }
  }
  MakeKnotVectorsCompatible(arr, nullptr, n, 0);
  if (KernelFailed()) return false;
  for (int i = 1; i < n; ++i)
    if (NumCtrlU(arr[i]) != NumCtrlU(arr[0])) {
      SetKernelError(-2);
      return false;
    }
  return true;
}

}  // namespace

namespace {

// The loft's working array, shared by both lofts: the caller's curves validated, the end
// conditions lowered to what the ends carry (c), the ends expanded into their position and
// derivative curves, every entry owned (the 3D curves copied), the derivative rows turned into
// control rows, and one degree and rationality for all. *nStart, *nEnd: the entries made from
// the first and last curve. Negative tolerances become 0, an angle outside 0..90 becomes 0.
// Empty on refusal or failure (nothing left).
OwnedArray<Bspline, FreeBspline> LoftWorkingCurves(int n, Bspline** curves, int ends[2],
                                                   double spans[2], int samples, int modes[2],
                                                   int vdegree, double tols[3], int* nStart,
                                                   int* nEnd, int c[2]) {
  using Work = OwnedArray<Bspline, FreeBspline>;
  for (int i = 0; i < 2; ++i) tols[i] = std::max(tols[i], 0.0);
  if (tols[2] < 0 || tols[2] > 90) tols[2] = 0;
  if (n < 2 || !curves || !ends || ends[0] < 0 || ends[0] > 2 || ends[1] < 0 || ends[1] > 2 ||
      vdegree < 1 || vdegree > 22)
    return Work();
  for (int i = 0; i < n; ++i)
    if (!BsplineShapeSound(curves[i]) || curves[i]->kind != 1) return Work();
  if ((ends[0] && !OnSurface(curves[0])) || (ends[1] && !OnSurface(curves[n - 1]))) return Work();
  for (int i = 1; i < n - 1; ++i)
    if (curves[i]->dimension != 3) return Work();

  // End conditions the ends can carry: curvature needs an iso line of a non-rational owner with
  // a cross degree of 2 or more.
  c[0] = ends[0];
  c[1] = ends[1];
  int iso[2] = {-1, -1};
  for (int e = 0; e < 2; ++e) {
    Bspline* B = curves[e == 0 ? 0 : n - 1];
    if (!OnSurface(B)) continue;
    iso[e] = IsoParameterKind(B, 0);
    if (c[e] == 2 && (iso[e] == -1 || GetCrossDegreeOfCurveOnSurf(B) < 2 || B->rational ||
                      B->owner->rational))
      c[e] = 1;
  }

  double* mags[2] = {nullptr, nullptr};
  int magModes[2] = {1, 1};
  int zeroModes[2] = {0, 0};
  int count = 0;
  Bspline** arr = GetSnippedDerivativeCurves(curves, c, n, &count, nStart, nEnd, iso[0], iso[1],
                                             modes ? modes : zeroModes, 0.0, samples, mags, magModes);
  if (!arr) return Work();
  // The working array owns every entry: the caller's 3D curves are copied.
  Work work(arr, count);
  for (int i = *nStart; i < count - *nEnd; ++i) {
    if ((arr[i] = CopyBsplineStruct(arr[i]))) continue;
    // The entries after it are still the caller's curves.
    for (int j = i + 1; j < count - *nEnd; ++j) arr[j] = nullptr;
    Free(mags[0]);
    Free(mags[1]);
    return Work();
  }
  ComputeDerivCntrlPts(arr, count, c, mags, spans);
  Free(mags[0]);
  Free(mags[1]);

  RaiseToCommonDegree(arr, nullptr, count);
  if (KernelFailed()) return Work();
  MatchRationality(arr, count);
  if (KernelFailed()) return Work();
  return work;
}

// Makes the inner rows [first, first + count) compatible and removes their knots within tol.
bool CompatibleInnerRows(Bspline** rows, int count, double tol) {
  if (count <= 0) return true;
  MakeKnotVectorsCompatible(rows, nullptr, count, 0);
  if (KernelFailed()) return false;
  if (tol > 0) {
    double dev = 0.0;
    RemoveKnotsOfObjSet(rows, count, 0, 3, nullptr, 0, 0, tol, &dev);
    if (KernelFailed()) return false;
  }
  return true;
}

// The boundary rows (the first c0 + 1 and last c1 + 1 of count) made compatible among
// themselves; their interior knots, in a new block of the open scope, are the cleaning's
// candidates (*nCand of them). False on failure.
bool BoundaryCandidates(Bspline** rows, int count, const int c[2], double** cand, int* nCand) {
  const int nb = c[0] + 1 + c[1] + 1;
  Bspline** bset = MallocArray<Bspline*>(nb);
  if (!bset) return false;
  for (int i = 0; i <= c[0]; ++i) bset[i] = rows[i];
  for (int i = 0; i <= c[1]; ++i) bset[c[0] + 1 + i] = rows[count - 1 - i];
  MakeKnotVectorsCompatible(bset, nullptr, nb, 0);
  if (KernelFailed()) return false;
  *nCand = bset[0]->interiorU;
  *cand = MallocArray<double>(std::max(*nCand, 1));
  if (!*cand) return false;
  std::memcpy(*cand, bset[0]->knotsU + bset[0]->degreeU + 1, sizeof(double) * *nCand);
  Free(bset);
  return true;
}

// The v knots of the skin (a block of the open scope) for count rows of m curves each, with the
// curvature conditions' placeholders set. Null on failure; -9 set for coincident rows.
double* LoftVKnots(Bspline** rows, int m, int count, int vdegree, const int c[2]) {
  const int k = vdegree + 1;
  const int len = (count - c[0] - c[1]) + 2 * k - 2 + (c[0] == 2) + (c[1] == 2);
  double* K = MallocArray<double>(len);
  if (!K) return nullptr;
  if (ComputeVKnotVecOfSurf(rows, m, count, K, k, c[0], c[1]) == -9) {
    SetKernelError(-9);
    return nullptr;
  }
  const int d = vdegree;
  if (c[0] == 2) K[d + 1] = K[d + 2] == 0.0 ? (2 * K[d] + K[d + 3]) / 3 : 0.5 * (K[d] + K[d + 2]);
  if (c[1] == 2)
    K[len - k - 1] = K[len - k - 2] == 0.0 ? (2 * K[len - k] + K[len - k - 3]) / 3
                                           : 0.5 * (K[len - k] + K[len - k - 2]);
  return K;
}

}  // namespace

Bspline* NonFeatureMatchedLoft(int n, Bspline** curves, double innerTol, int vdegree, int ends[2],
                               double spans[2], void*, double boundaryTol, double angle,
                               int samples, int modes[2], int cleanMode, int nCtrl) {
  double tols[3] = {innerTol, boundaryTol, angle};
  int nStart = 0, nEnd = 0, c[2];
  OwnedArray<Bspline, FreeBspline> work =
      LoftWorkingCurves(n, curves, ends, spans, samples, modes, vdegree, tols, &nStart, &nEnd, c);
  if (!work) return nullptr;
  const int count = work.count();
  innerTol = tols[0], boundaryTol = tols[1], angle = tols[2];
  Bspline** arr = work.get();
  if (!CompatibleInnerRows(arr + c[0] + 1, count - c[0] - c[1] - 2, innerTol)) return nullptr;
  TrackingScope scope;
  double* cand = nullptr;
  int nCand = 0;
  if (!BoundaryCandidates(arr, count, c, &cand, &nCand)) return nullptr;
  MakeKnotVectorsCompatible(arr, nullptr, count, 0);
  if (KernelFailed()) return nullptr;

  double* vknots = nullptr;
  if (c[0] || c[1]) {
    vknots = LoftVKnots(arr, 1, count, vdegree, c);
    if (!vknots) return nullptr;
  }
  if (cleanMode == 0) {
    if (CleanLoftCurves(arr, cand, nCand, count, c, boundaryTol, angle) != 0) return nullptr;
  } else if (cleanMode == 1) {
    for (int i = 0; i < count; ++i) {
      Bspline* r = ReparametrizeCurveUniform(arr[i], nCtrl);
      if (!r) return nullptr;
      FreeBspline(arr[i]);
      arr[i] = r;
    }
  } else if (cleanMode == 2) {
    if (!ReduceEachCurve(arr, count, nCtrl)) return nullptr;
  }
  int skinEnds[2] = {c[0], c[1]};
  return SkinCurveRows(count, arr, vknots, vdegree, skinEnds);
}

namespace {

// The loft's parameter lengths: u gets the control net's speed of v.
Bspline* ProportionalParameters(Bspline* s) {
  if (!s) return nullptr;
  Bspline* pair[2] = {s, s};
  int dirs[2] = {1, 0};
  MakeParOfTwoObjProptnl(pair, dirs, 0, 0);
  return s;
}

}  // namespace

Bspline* FeatureMatchedLoft(Bspline** curves, int n, double* features, int m, double innerTol,
                            int vdegree, int ends[2], double spans[2], void* ignored,
                            double boundaryTol, double angle, int samples, int modes[2]) {
  if (m <= 0)
    return ProportionalParameters(NonFeatureMatchedLoft(n, curves, innerTol, vdegree, ends, spans,
                                                        ignored, boundaryTol, angle, samples,
                                                        modes, 0, 0));
  if (!features) return nullptr;
  double tols[3] = {innerTol, boundaryTol, angle};
  int nStart = 0, nEnd = 0, c[2];
  OwnedArray<Bspline, FreeBspline> work =
      LoftWorkingCurves(n, curves, ends, spans, samples, modes, vdegree, tols, &nStart, &nEnd, c);
  if (!work) return nullptr;
  const int count = work.count();
  innerTol = tols[0], boundaryTol = tols[1], angle = tols[2];
  const int cols = m + 1;
  // pieces[row * cols + j]: piece j of working row `row`, the layout ComputeVKnotVecOfSurf reads.
  OwnedArray<Bspline, FreeBspline> pieces = OwnedArray<Bspline, FreeBspline>::Zeroed(count * cols);
  if (!pieces) return nullptr;
  for (int r = 0; r < count; ++r) {
    // Rows made from the first curve take its feature row, those from the last curve the last.
    const int src = r < nStart ? 0 : (r >= count - nEnd ? n - 1 : r - nStart + (nStart > 0));
    Bspline** row = pieces.get() + r * cols;
    if (SplitObjectToNObjects(work[r], m, features + src * m, 0, row) != 0) return nullptr;
    // A feature the split dropped (at an end, or repeating the one before) leaves a gap, and the
    // columns would pair pieces that do not correspond.
    for (int j = 0; j < cols; ++j)
      if (!row[j]) {
        SetKernelError(-2);
        return nullptr;
      }
  }
  work.reset();
  // Outlives the scratch scope: the joins come after it.
  OwnedArray<Bspline, FreeBspline> patches = OwnedArray<Bspline, FreeBspline>::Zeroed(cols);
  if (!patches) return nullptr;

  TrackingScope scope;
  Bspline** column = MallocArray<Bspline*>(count);
  double** cand = CallocArray<double*>(cols);
  int* nCand = CallocArray<int>(cols);
  if (!column || !cand || !nCand) return nullptr;
  auto gather = [&](int j) {
    for (int r = 0; r < count; ++r) column[r] = pieces[r * cols + j];
  };
  for (int j = 0; j < cols; ++j) {
    gather(j);
    if (!CompatibleInnerRows(column + c[0] + 1, count - c[0] - c[1] - 2, innerTol)) return nullptr;
    if (!BoundaryCandidates(column, count, c, &cand[j], &nCand[j])) return nullptr;
    MakeKnotVectorsCompatible(column, nullptr, count, 0);
    if (KernelFailed()) return nullptr;
    for (int r = 0; r < count; ++r) pieces[r * cols + j] = column[r];
  }
  double* vknots = LoftVKnots(pieces.get(), cols, count, vdegree, c);
  if (!vknots) return nullptr;

  for (int j = 0; j < cols; ++j) {
    gather(j);
    if (CleanLoftCurves(column, cand[j], nCand[j], count, c, boundaryTol, angle) != 0)
      return nullptr;
    int skinEnds[2] = {c[0], c[1]};
    patches[j] = Curve3ToSurf(count, column, vknots, vdegree, skinEnds);
    if (!patches[j]) return nullptr;
  }
  // Joined with continuity one below the degree, both sides moved half-way. The joined object
  // is made in the caller's scope, so the scratch scope closes first.
  StitchInfo info{pieces[0]->degreeU - 1, 2, 2, 3, -1.0, -1.0, 1.0, 1.0, 1.0, 0.0};
  pieces.reset();
  scope.release();
  Owned<Bspline, FreeBspline> result(patches[0]);
  patches[0] = nullptr;
  for (int j = 1; j < cols; ++j) {
    Bspline* pair[3] = {result.get(), patches[j], nullptr};
    int bndry[2] = {2, 0};
    Bspline* joined = BlendTwoObjects(bndry, pair, nullptr, nullptr, nullptr, &info);
    if (!joined) return nullptr;
    result.reset(joined);
    FreeBspline(patches[j]);
    patches[j] = nullptr;
  }
  return ProportionalParameters(result.release());
}

int SamplePosCurveChordalDev(Bspline* crv, double tol, double** params, int* count) {
  *params = nullptr;
  *count = 0;
  if (!OnSurface(crv)) return 0;
  const Bspline* srf = crv->owner;
  const int m = (srf->degreeU + srf->degreeV) * crv->degreeU;
  TrackingScope scope;
  int c = 0;
  Owned<double, Free> t(SampleCurvePlateProper(crv, 2 * m + 2, &c));
  if (!t || c < 1) return 0;
  float* f = MallocArray<float>(6 * c);
  double* P = MallocArray<double>(3 * c);  // x, then y, then z
  int* keep3 = MallocArray<int>(c);
  int* keep2 = MallocArray<int>(c);
  if (!f || !P || !keep3 || !keep2) return 0;
  float *x = f, *y = f + c, *z = f + 2 * c, *u = f + 3 * c, *v = f + 4 * c, *w = f + 5 * c;
  for (int i = 0; i < c; ++i) {
    double p[3], uv[2];
    EvalCrvOnSrfArray(nullptr, crv, t[i], 0, p);
    Eval2DPointOnCurve2Array(nullptr, crv, t[i], 0, uv);
    P[i] = p[0], P[c + i] = p[1], P[2 * c + i] = p[2];
    u[i] = static_cast<float>(uv[0]), v[i] = static_cast<float>(uv[1]), w[i] = 0.0f;
  }
  // The 3D points are narrowed to single precision in their unit frame (and tol with them):
  // narrowed where the curve lies, far from the origin, their rounding would decide which stay.
  const UnitFrame frame = UnitFrameOfPoints(P, P + c, P + 2 * c, c, false);
  PointsToUnitFrame(frame, P, P + c, P + 2 * c, c);
  for (int i = 0; i < 3 * c; ++i) f[i] = static_cast<float>(P[i]);
  const double uvTol = 0.0005 * std::min(srf->umax - srf->umin, srf->vmax - srf->vmin);
  if (ChordDevAngOptArrays(x, y, z, c, tol / frame.size, kNoValue, 45.0, keep3) != 0 ||
      ChordDevAngOptArrays(u, v, w, c, uvTol, kNoValue, 45.0, keep2) != 0 || KernelFailed())
    return 0;
  int kept = 0;
  for (int i = 0; i < c; ++i) kept += keep3[i] || keep2[i];
  double* out;
  {
    UntrackedScope mine;  // the parameters are the caller's
    out = MallocArray<double>(kept);
  }
  if (!out) return 0;
  for (int i = 0, k = 0; i < c; ++i)
    if (keep3[i] || keep2[i]) out[k++] = t[i];
  *params = out;
  *count = kept;
  return 1;
}
