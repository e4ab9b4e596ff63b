// The tangential heal of smooth seams, and crease sides that keep their start normals.
#include "healing/mshrink.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/mshrink_internal.h"
#include "healing/srfbndr.h"
#include "splinefit/fitsplin.h"

using namespace mshrink_internal;

// =============================================================================================
// Tangential heal
// =============================================================================================

namespace {

// Largest folded normal angle over the G1 edges; edges whose measure fails are left out.
double MaxG1Angle(BndrStruct* bs) {
  double A = 0.0;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (!IsG1Edge(e)) continue;
    double a = 0.0;
    if (BndrEdgeMaxNormalDiff(e, 0.0, &a) != 0) continue;
    if (a > A) A = a;
  }
  return A;
}

// EvalBndrEdgeAvgSampleNormals on every sampled edge of a curve that meets a G1 edge, then
// MaxG1Angle of the nets as they stand. On a G1 edge both read each side's normal at each sample:
// it is evaluated once for the two, those normals being most of the tangential heal's work.
double G1SideAvgNormalsAndMaxAngle(BndrStruct* bs) {
  double A = 0.0;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    const bool avg = e->nSample >= 1 && (IsBndrCrvMeetWithG1Cont(bs, e->crvA) == 1 ||
                                         (e->paired && IsBndrCrvMeetWithG1Cont(bs, e->crvB) == 1));
    const bool g1 = IsG1Edge(e);
    double a = 0.0;
    int avgStatus = 0;
    if (avg && g1) {
      if (EvalBndrEdgeAvgSampleNormalsAndMaxDiff(e, &avgStatus, &a) != 0) continue;
    } else if (avg) {
      EvalBndrEdgeAvgSampleNormals(e);
      continue;
    } else if (!g1 || BndrEdgeMaxNormalDiff(e, 0.0, &a) != 0) {
      continue;
    }
    if (a > A) A = a;
  }
  return A;
}

bool HasG1Edge(const BndrStruct* bs) {
  for (int i = 0; i < bs->nEdge; ++i)
    if (IsG1Edge(&bs->edges[i])) return true;
  return false;
}

}  // namespace

namespace mshrink_internal {

// A side whose second row is a real interior row: at least three control rows across it
// (with two, the second row is the opposite boundary and must stay).
bool HasSecondRow(const CrvInfoStruct* crv) {
  SideFrame f;
  return crv && f.Init(SurfaceOf(crv), crv->side) && f.L >= 2;
}

}  // namespace mshrink_internal

namespace {

// A copy of the curve's 3D form with control point j set by fill(j, out).
template <class Fill>
Bspline* CopyFormWithPoints(const CrvInfoStruct* crv, const SideFrame& f, Fill fill) {
  Bspline* out = CopyCurveBspline(crv->crv3);
  if (!out || KernelFailed()) {
    if (out) FreeBspline(out);
    return nullptr;
  }
  for (int j = 0; j < f.nAlong; ++j) {
    double v[3];
    fill(j, v);
    out->X[0][j] = v[0];
    out->Y[0][j] = v[1];
    out->Z[0][j] = v[2];
  }
  FreeBsplineProperties(out);
  return out;
}

}  // namespace

namespace mshrink_internal {

bool FrameForCurve(const CrvInfoStruct* crv, SideFrame* f) {
  if (!crv || crv->side < 1 || crv->side > 4 || !crv->crv3 || crv->crv3->dimension != 3)
    return false;
  if (!f->Init(SurfaceOf(crv), crv->side)) return false;
  return NumCtrlU(crv->crv3) == f->nAlong;
}

}  // namespace mshrink_internal

int NewHealSrfGrpEdgeG1Continuity(BndrStruct* bs, double gapTol, double angleTol, int maxIter,
                                  double stagnation, double relTol, int flag) {
  const double relMin = std::max(0.01 * relTol, 1e-12);
  if (!bs) return -2;
  if (bs->nSrf < 1 || !bs->srfs || !bs->edges || !HasG1Edge(bs) || maxIter < 1) return 0;
  double prev = DBL_MAX;
  const double target = 0.95 * angleTol;
  const int minIter = 10;
  int worse = 0;
  // The passes need not improve the angle monotonically (two worsening passes in a row end the
  // loop, one is allowed): the loop hands back the second rows of its best pass, by the very
  // angle its stop rule watches, not those of its last.
  SrfGrpNets best{};
  double bestA = DBL_MAX;
  const Owned<SrfGrpNets, FreeSrfGrpNets> ownBest(&best);
  // `now` is the angle of the nets as they stand. Where the loop has just measured it, it is not
  // measured again: it reads the surfaces' own normals, not the averaged ones refreshed here.
  auto finish = [&](double now) {
    if (EvalAllBndrEdgeAvgSampleNormals(bs) != 0) return -2;
    if (now <= bestA) return 0;
    if (RestoreSrfGrpNets(bs, &best) != 0) return -2;
    return EvalAllBndrEdgeAvgSampleNormals(bs) != 0 ? -2 : 0;
  };
  for (int i = 0;; ++i) {
    // Between passes only the normals the passes read and judge by are brought up to date:
    // those of the edges of curves meeting a G1 edge. On a large group with a few smooth seams
    // among creases, all of them would take most of the pass.
    const double A = G1SideAvgNormalsAndMaxAngle(bs);
    if (A < bestA) {
      if (SaveSrfGrpNets(bs, &best) != 0) return -2;
      bestA = A;
    }
    // Nets already within the target are not refined at all: two passes on seams that needed
    // none turned their rows and moved the surfaces for nothing. Once refining, at least two
    // passes run.
    if (A < target && (i == 0 || i > 1)) return finish(A);
    worse = A > prev ? worse + 1 : 0;
    if (worse > 1) return finish(A);
    // prev is 0 only after an angle of 0, which has already met any positive target.
    if (i > minIter && prev > 0.0 && std::fabs((prev - A) / prev) < relMin) return finish(A);
    if (i > minIter && std::fabs(prev - A) < stagnation) return finish(A);
    prev = A;
    if (RefineSrfGrpEdgeG1Continuity(bs, gapTol, angleTol, flag) != 0) return -2;
    if (i + 1 >= maxIter) return finish(MaxG1Angle(bs));
  }
}

int HealSrfGrpEdgeG1Continuity(BndrStruct* bs, double gapTol, double angleTol) {
  if (!bs) return -2;
  if (bs->nSrf < 2 || !bs->srfs || !bs->edges || !HasG1Edge(bs)) return 0;
  double prev = DBL_MAX;
  int grown = 0;
  for (int i = 0; i < 10; ++i) {
    if (EvalAllBndrEdgeAvgSampleNormals(bs) != 0) return -2;
    const double A = MaxG1Angle(bs);
    if (A < 0.9 * angleTol && i > 2) return 0;
    grown = A > prev ? grown + 1 : 0;
    if (grown > 3) return 0;
    prev = A;
    if (RefineSrfGrpEdgeG1Continuity(bs, gapTol, angleTol, 0) != 0) return -2;
  }
  return 0;
}

int RefineSrfGrpEdgeG1Continuity(BndrStruct* bs, double, double, int) {
  if (!bs || bs->nSrf < 1 || !bs->srfs) return -2;
  bool any = false;
  for (int i = 0; i < bs->nEdge && bs->edges; ++i)
    if (IsG1Edge(&bs->edges[i])) any = true;
  if (!any) return 0;
  for (int s = 0; s < bs->nSrf; ++s) {
    const SrfInfoStruct* si = &bs->srfs[s];
    bool meets = false;
    for (int k = 0; k < si->nCrv && si->crvIds && !meets; ++k)
      meets = IsBndrCrvMeetWithG1Cont(bs, si->crvIds[k]) == 1;
    if (meets && UpdateBsrfNormalsAlongBndrCrvs(bs, s) != 0) return -2;
  }
  return 0;
}

int UpdateBsrfNormalsAlongBndrCrvs(BndrStruct* bs, int surface) {
  if (!bs || !bs->srfs || surface < 0 || surface >= bs->nSrf) return -2;
  SrfInfoStruct* si = &bs->srfs[surface];
  if (si->fixed) return 0;
  TrackingScope scope;
  // At most four natural sides carry a second row.
  int ids[4];
  int n = 0;
  for (int k = 0; k < si->nCrv && si->crvIds && n < 4; ++k) {
    const int id = si->crvIds[k];
    if (!ValidCurve(bs, id)) continue;
    const CrvInfoStruct* crv = &bs->crvs[id];
    if (crv->side < 1 || crv->side > 4 || crv->fixed || IsBndrCrvDegenerate(crv)) continue;
    if (IsBndrCrvMeetWithG1Cont(bs, id) != 1 || !HasSecondRow(crv)) continue;
    ids[n++] = id;
  }
  if (n == 0) return 0;
  Bspline* rows[4] = {};
  int sides[4];
  int kept = 0;
  for (int k = 0; k < n; ++k) {
    Bspline* row = nullptr;
    if (GetBndrCrvHealedNormalsCorBspl(bs, ids[k], &row) == 0 && row) {
      rows[kept] = row;
      sides[kept++] = bs->crvs[ids[k]].side;
    }
  }
  if (kept == 0) return -2;
  for (int i = 0; i < kept; ++i)
    for (int j = i + 1; j < kept; ++j)
      UpdateTwoHealNormalCorBspls(rows[i], rows[j], sides[i], sides[j]);
  int status = 0;
  for (int k = 0; k < kept && status == 0; ++k)
    if (UpdateSrfWithCorBspl(si->srf, sides[k], rows[k]) != 0) status = -2;
  for (int k = 0; k < kept; ++k) FreeBspline(rows[k]);
  return status;
}

int GetBndrCrvHealedNormalsCorBspl(BndrStruct* bs, int curve, Bspline** out) {
  if (!out) return -2;
  *out = nullptr;
  if (!ValidCurve(bs, curve)) return -2;
  CrvInfoStruct* crv = &bs->crvs[curve];
  if (IsBndrCrvMeetWithG1Cont(bs, curve) != 1) {
    *out = GetBndrCrvCorBspline(crv);
    return *out ? 0 : -2;
  }
  TrackingScope scope;
  Bspline* d = nullptr;
  if (GetBndrCrvCrsDerivBspline(crv, &d) != 0 || !d) return -2;
  BsplinePtr D(d);
  ConstraintPtr c(AllocateNullLinearConstraint());
  if (!c) return -2;
  if (SetBndrCrvCrsDerivConstraints(bs, curve, c.get()) != 0) return -2;
  double *t = nullptr, *nx = nullptr, *ny = nullptr, *nz = nullptr;
  int count = 0;
  if (SetBndrCrvWrapNormalSamples(bs, curve, &t, &nx, &ny, &nz, &count) != 0) return -2;
  Bspline* r = nullptr;
  {
    const Samples ownT(t), ownX(nx), ownY(ny), ownZ(nz);
    const ShrnkWrapParams options = CrossDerivOptions();
    if (ConstrainedWrapCrossDerivBspline(D.get(), count, t, nx, ny, nz, &options, c.get(), &r, 1,
                                         bs->gram) != 0 ||
        !r)
      return -2;
  }
  BsplinePtr R(r);
  Bspline* row = nullptr;
  if (ConvertCrsBspline2CorBspline(crv->side, R.get(), SurfaceOf(crv), &row) != 0 || !row)
    return -2;
  *out = row;
  return 0;
}

Bspline* GetBndrCrvCorBspline(const CrvInfoStruct* crv) {
  SideFrame f;
  if (!FrameForCurve(crv, &f) || f.L < 2) return nullptr;
  return CopyFormWithPoints(crv, f, [&](int j, double v[3]) { f.Get(1, j, v); });
}

int GetBndrCrvCrsDerivBspline(const CrvInfoStruct* crv, Bspline** out) {
  if (!out) return -2;
  *out = nullptr;
  SideFrame f;
  if (!FrameForCurve(crv, &f) || f.L < 1) return -2;
  const double step = f.Step();
  if (std::fabs(step) < kTiny) return -2;
  Bspline* D = CopyFormWithPoints(crv, f, [&](int j, double v[3]) {
    double p0[3], p1[3];
    f.Get(0, j, p0);
    f.Get(1, j, p1);
    // Sides 3 and 4 measure inward against increasing parameter: (P[L] - P[L-1]) / f.
    const double sgn = (f.side == 1 || f.side == 2) ? 1.0 : -1.0;
    for (int i = 0; i < 3; ++i) v[i] = sgn * (p1[i] - p0[i]) / step;
  });
  if (!D) return -2;
  *out = D;
  return 0;
}

int SetBndrCrvCrsDerivConstraints(BndrStruct* bs, int curve, LinearConstraint* c) {
  if (!ValidCurve(bs, curve) || !c) return -2;
  const CrvInfoStruct* crv = &bs->crvs[curve];
  double tmin = 0.0, tmax = 0.0;
  if (GetBndrCrvParamMinMax(crv, &tmin, &tmax) != 0) return -2;
  ClearConstraint(c);
  if (crv->nEdge < 1 || !crv->edgeIds) return 0;
  const int room = 2 * crv->nEdge;
  TrackingScope scope;
  double* raw[4];
  double* v[4];
  for (double*& a : raw) a = MallocArray<double>(std::max(room, 1));
  for (double*& a : v) a = MallocArray<double>(std::max(room, 1));
  auto* idx = MallocArray<int>(room);
  if (KernelFailed() || !idx) return -2;
  for (int i = 0; i < 4; ++i)
    if (!raw[i] || !v[i]) return -2;
  int n = 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    if (!IsG1Edge(e)) return;
    for (int end = 0; end < 2; ++end, ++n) {
      const int slot = BndrSlot(side, end);
      raw[0][n] = e->par[slot];
      raw[1][n] = e->nrm[slot][0];
      raw[2][n] = e->nrm[slot][1];
      raw[3][n] = e->nrm[slot][2];
    }
  });
  if (n > 0) HeapSortWithIndexing(n, raw[0], idx);
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const int r = idx[i];
    const double t = raw[0][r];
    const double nv[3] = {raw[1][r], raw[2][r], raw[3][r]};
    const double len = VecSize3(nv);
    // The domain ends are held by the fixed end control points; an interior corner shared by
    // two edges would give the same row twice.
    if (t <= tmin + kParTol || t >= tmax - kParTol || len < kTiny) continue;
    if (m > 0 && std::fabs(t - v[0][m - 1]) <= kParTol) continue;
    v[0][m] = t;
    v[1][m] = nv[0] / len;
    v[2][m] = nv[1] / len;
    v[3][m] = nv[2] / len;
    ++m;
  }
  return InstallEntries(c, false, m, v[0], v[1], v[2], v[3]);
}

int SetBndrCrvWrapNormalSamples(BndrStruct* bs, int curve, double** t, double** nx, double** ny,
                                double** nz, int* count) {
  if (!ValidCurve(bs, curve) || !t || !nx || !ny || !nz || !count) return -2;
  *t = *nx = *ny = *nz = nullptr;
  *count = 0;
  const CrvInfoStruct* crv = &bs->crvs[curve];
  if (crv->nEdge < 1 || !crv->edgeIds) return -2;
  auto usable = [&](const EdgeInfoStruct* e, int side) {
    return SideSamples(e, side) && e->avgNx && e->avgNy && e->avgNz;
  };
  int n = 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    if (usable(e, side)) n += e->nSample;
  });
  if (n < 1) return -2;
  TrackingScope scope;
  double* v[4];
  for (double*& a : v) a = MallocArray<double>(std::max(n, 1));
  if (KernelFailed() || !v[0] || !v[1] || !v[2] || !v[3]) return -2;
  int m = 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    if (!usable(e, side)) return;
    const double* par = SideSamples(e, side);
    for (int i = 0; i < e->nSample; ++i) {
      const double nv[3] = {e->avgNx[i], e->avgNy[i], e->avgNz[i]};
      const double len = VecSize3(nv);
      if (len < kTiny) continue;
      v[0][m] = par[i];
      v[1][m] = nv[0] / len;
      v[2][m] = nv[1] / len;
      v[3][m] = nv[2] / len;
      ++m;
    }
  });
  if (m < 1) return -2;
  scope.keep();
  *t = v[0];
  *nx = v[1];
  *ny = v[2];
  *nz = v[3];
  *count = m;
  return 0;
}

int ComputeReshapeCrsBsplConstraint(const Bspline* curve, const double normal[3], double t,
                                    double* row, double rhs[3]) {
  if (!curve || curve->kind != 1 || curve->dimension != 3 || !normal || !row || !rhs) return -2;
  const double len = VecSize3(normal);
  if (len < 0.001) return -2;
  const double n[3] = {normal[0] / len, normal[1] / len, normal[2] / len};
  double d[3];
  Eval3DPointOnCurve3Array(curve, t, 0, d);
  const double dn = VecDotProd3(d, n);
  // Position row for the target d - (d.n) n: the displacement there is -(d.n) n.
  return ComputeReshapeCrv3PointConstraint(curve, d[0] - dn * n[0], d[1] - dn * n[1],
                                           d[2] - dn * n[2], t, row, rhs);
}

int ConstrainedWrapCrossDerivBspline(Bspline* D, int count, const double* t, const double* nx,
                                     const double* ny, const double* nz,
                                     const ShrnkWrapParams* params, const LinearConstraint* c,
                                     Bspline** out, int held, Crv3GramCache* gram) {
  if (!out) return -2;
  *out = nullptr;
  if (!D || D->kind != 1 || D->dimension != 3 || !params || count < 1 || !t || !nx || !ny || !nz ||
      held < 1)
    return -2;
  const int nc = NumCtrlU(D);
  if (nc < 2 * held || !(params->Sigma > 0.0)) return -2;
  BsplinePtr E(CopyBsplineStruct(D));
  if (!E || KernelFailed()) return -2;
  // Fitted at most at unit size, as the wraps are: the same at every size.
  const double f = BelowUnitSize(E.get());
  ScaleCurvePoints(E.get(), f);

  TrackingScope scope;
  double* q[4];
  for (double*& a : q) a = MallocArray<double>(std::max(count, 1));
  if (KernelFailed() || !q[0] || !q[1] || !q[2] || !q[3]) return -2;
  int m = 0;
  for (int k = 0; k < count; ++k) {
    const double nv[3] = {nx[k], ny[k], nz[k]};
    const double len = VecSize3(nv);
    if (len < kTiny) continue;
    const double n[3] = {nv[0] / len, nv[1] / len, nv[2] / len};
    double d[3];
    Eval3DPointOnCurve3Array(E.get(), t[k], 0, d);
    const double dn = VecDotProd3(d, n);
    q[0][m] = t[k];
    q[1][m] = d[0] - dn * n[0];
    q[2][m] = d[1] - dn * n[1];
    q[3][m] = d[2] - dn * n[2];
    ++m;
  }
  if (m < 1) return -2;

  double w1 = 0.0, w2 = 0.0;
  if (GetCrvThinPlateWeightsBelowUnitSize(E.get(), params->Tension, params->Roughness, &w1, &w2) != 0)
    return -2;
  const double s = 1.0 / params->Sigma;
  w1 = std::min(w1, 0.001 * s);
  w2 = std::min(w2, 1e-6 * s);
  const double w[3] = {0.0, w1, w2};
  double** A = nullptr;
  double *bx = nullptr, *by = nullptr, *bz = nullptr;
  const int built =
      SetupShrinkWrapCrv3FunctionalMat(E.get(), q[0], q[1], q[2], q[3], m, s, w, &A, &bx, &by, &bz, gram);
  // The functional lives outside every scope; tie it to this one.
  const Owned<double*, matrix_free_ff> ownA(A);
  const Samples ownBx(bx), ownBy(by), ownBz(bz);
  if (built != 0 || !A) return -2;

  const int nRows = (c ? std::max(c->nNorm, 0) : 0) + 2 * held;
  double** C = allocate_matrix_ff(nRows, nc);
  double* dv[3];
  for (double*& a : dv) a = MallocArray<double>(std::max(nRows, 1));
  if (KernelFailed() || !C || !dv[0] || !dv[1] || !dv[2]) return -2;
  int r = 0;
  const double lo = E->umin, hi = E->umax;
  for (int j = 0; c && j < c->nNorm; ++j) {
    const double tj = c->normPar[j];
    if (tj <= lo + kParTol || tj >= hi - kParTol) continue;
    const double nv[3] = {c->normX[j], c->normY[j], c->normZ[j]};
    double rhs[3];
    if (ComputeReshapeCrsBsplConstraint(E.get(), nv, tj, C[r], rhs) != 0) continue;
    dv[0][r] = rhs[0];
    dv[1][r] = rhs[1];
    dv[2][r] = rhs[2];
    ++r;
  }
  // The end control points stay: they belong to the neighbouring sides' boundary rows (and
  // the next ones in, when held, to the neighbouring sides' second rows).
  for (int end = 0; end < 2; ++end)
    for (int h = 0; h < held; ++h) {
      for (int i = 0; i < nc; ++i) C[r][i] = 0.0;
      C[r][end == 0 ? h : nc - 1 - h] = 1.0;
      dv[0][r] = dv[1][r] = dv[2][r] = 0.0;
      ++r;
    }
  if (SolveLEQP3(A, nc, bx, by, bz, C, r, dv[0], dv[1], dv[2]) != 0 || KernelFailed()) return -2;
  for (int i = 1; i < nc - 1; ++i) {
    E->X[0][i] += bx[i];
    E->Y[0][i] += by[i];
    E->Z[0][i] += bz[i];
  }
  ScaleCurvePoints(E.get(), 1.0 / f);
  FreeBsplineProperties(E.get());
  *out = E.release();
  return 0;
}

int ConvertCrsBspline2CorBspline(int side, const Bspline* D, const Bspline* surface,
                                 Bspline** out) {
  if (!out) return -2;
  *out = nullptr;
  if (!RecordsSound({D, surface})) return -2;
  SideFrame f;
  if (D->kind != 1 || D->dimension != 3 || !f.Init(const_cast<Bspline*>(surface), side) || f.L < 1)
    return -2;
  if (NumCtrlU(D) != f.nAlong) return -2;
  const double step = f.Step();
  if (std::fabs(step) < kTiny) return -2;
  Bspline* R = CopyCurveBspline(const_cast<Bspline*>(D));
  if (!R || KernelFailed()) {
    if (R) FreeBspline(R);
    return -2;
  }
  const double sgn = (side == 1 || side == 2) ? 1.0 : -1.0;
  for (int j = 0; j < f.nAlong; ++j) {
    double p0[3];
    f.Get(0, j, p0);
    R->X[0][j] = p0[0] + sgn * step * D->X[0][j];
    R->Y[0][j] = p0[1] + sgn * step * D->Y[0][j];
    R->Z[0][j] = p0[2] + sgn * step * D->Z[0][j];
  }
  FreeBsplineProperties(R);
  *out = R;
  return 0;
}

int UpdateTwoHealNormalCorBspls(Bspline* a, Bspline* b, int sideA, int sideB) {
  if (!a || !b || sideA < 1 || sideA > 4 || sideB < 1 || sideB > 4) return 0;
  const bool aInV = (sideA == 1 || sideA == 3), bInV = (sideB == 1 || sideB == 3);
  if (aInV == bInV) return 0;
  const int na = NumCtrlU(a), nb = NumCtrlU(b);
  if (na < 3 || nb < 3) return 0;
  // The minimum side of the other direction: v-min (2) for a side running in v, u-min (1) else.
  const int ia = sideB == (aInV ? 2 : 1) ? 1 : na - 2;
  const int ib = sideA == (bInV ? 2 : 1) ? 1 : nb - 2;
  const double x = 0.5 * (a->X[0][ia] + b->X[0][ib]);
  const double y = 0.5 * (a->Y[0][ia] + b->Y[0][ib]);
  const double z = 0.5 * (a->Z[0][ia] + b->Z[0][ib]);
  a->X[0][ia] = b->X[0][ib] = x;
  a->Y[0][ia] = b->Y[0][ib] = y;
  a->Z[0][ia] = b->Z[0][ib] = z;
  return 0;
}

int UpdateSrfWithCorBspl(Bspline* surface, int side, const Bspline* row) {
  SideFrame f;
  if (!row || !row->X || !row->Y || !row->Z || !f.Init(surface, side)) return -2;
  if (row->degreeU != f.degAlong || NumCtrlU(row) != f.nAlong) return -2;
  // With two rows across, the second row is the opposite boundary.
  if (f.L < 2) return -2;
  // The row's end points lie on the neighbouring sides' boundary rows, which this heal keeps;
  // writing them back would only add rounding from the derivative round trip.
  for (int j = 1; j < f.nAlong - 1; ++j) {
    const double v[3] = {row->X[0][j], row->Y[0][j], row->Z[0][j]};
    f.Set(1, j, v);
  }
  FreeBsplineProperties(surface);
  return 0;
}

// ---- crease sides keep their normals ----------------------------------------------------------

namespace {

// How far from an end the stitch left flatter than its crease began the fall-back's targets ease
// back to the start normals, as a share of the edge's length: the end span of a side of five
// spans and half the next. Eased over the end span alone, the row can still overshoot next to
// it, and its surfaces then close only with the rows' points diagonal to the corners freed as
// well (gstitch.cpp), which tilts their neighbours.
constexpr double kEasedEnd = 0.3;

// How far from an end the stitch left with less than half the angle its crease began with there
// the turn beside smooth seams sets no target, as a share of the edge's length (none has one
// within a tenth of its ends). Such an end is a corner whose other half of the grid line was
// healed smooth, the two sharing a flatter angle; aimed at the start normals right after it, the
// row's first free point turns past them to make up for the held diagonal one, and the crease
// gets more than a degree steeper further in. Left free to 0.14 of the length or beyond, or with
// targets eased towards what the end kept, a crease that kept its largest angle ends a degree
// flatter next to the end; freed next to ends that kept more than half, a crease can rise by more
// than the degree allowed near its other end and send its surface back to its positional stitch.
constexpr double kFreeNextToFlatEnd = 0.13;
constexpr double kFlatEndShare = 0.5;

// The unit mean of the seam's two normals now at sample i (the second turned to the first's
// side); false where either vanishes.
bool SeamMeanNormal(const EdgeInfoStruct* e, int i, double out[3]) {
  double a[3], b[3];
  if (EvalNormalOnBndryCrv(e->infoA, e->sampleA[i], a) != 0 || EvalNormalOnBndryCrv(e->infoB, e->sampleB[i], b) != 0)
    return false;
  const double la = VecSize3(a), lb = VecSize3(b);
  if (!(la > 0.0) || !(lb > 0.0)) return false;
  const double s = VecDotProd3(a, b) < 0.0 ? -1.0 : 1.0;
  for (int c = 0; c < 3; ++c) out[c] = a[c] / la + s * b[c] / lb;
  const double len = VecSize3(out);
  if (!(len > kTiny)) return false;
  for (int c = 0; c < 3; ++c) out[c] /= len;
  return true;
}

// At each end of a crease, the share of the angle it began with where its inside begins that the
// seam keeps up to `margin` of its length from the end now, where the row's end points rule (1
// where it kept it all): a corner laid into one plane keeps none, one softened 0.4.
void EndShares(const EdgeInfoStruct* e, double margin, double share[2]) {
  share[0] = share[1] = 1.0;
  if (!e->startSet || e->nSample < 2 || !e->sampleA || !e->sampleB) return;
  const double a0 = e->sampleA[0], a1 = e->sampleA[e->nSample - 1];
  if (!(a1 != a0)) return;
  for (int i = 0; i < e->nSample; ++i) {
    const double fa = (e->sampleA[i] - a0) / (a1 - a0);
    const int end = fa <= margin + kParTol ? 0 : fa >= 1.0 - margin - kParTol ? 1 : -1;
    const double inside = end < 0 ? 0.0 : std::fabs(e->startInsideAngle[end]);
    double a[3], b[3];
    if (!(inside > 0.0) || EvalNormalOnBndryCrv(e->infoA, e->sampleA[i], a) != 0 ||
        EvalNormalOnBndryCrv(e->infoB, e->sampleB[i], b) != 0 || !(VecSize3(a) > 0.0) || !(VecSize3(b) > 0.0))
      continue;
    const double angle = FindAngleVectors3(a, b);
    share[end] = std::min(share[end], (angle > 90.0 ? 180.0 - angle : angle) / inside);
  }
}

// Whether the corner at end `end` (0 where side A's samples begin, 1) of edge e ends another
// paired edge too.
bool EndMeetsAnotherSeam(const BndrStruct* bs, const EdgeInfoStruct* e, int end) {
  const int c = end ? e->corner1 : e->corner0;
  if (c < 0 || c >= bs->nCorner || !bs->corners[c].edgeIds) return false;
  for (int j = 0; j < bs->corners[c].nEdge; ++j) {
    const int id = bs->corners[c].edgeIds[j];
    if (id >= 0 && id < bs->nEdge && &bs->edges[id] != e && bs->edges[id].paired) return true;
  }
  return false;
}

// Samples of a curve's crease edges from `margin` of each edge's length to 1 - margin, with the
// normal its surface had there at the start (`start`: on the surface's own knots), laid square
// to the curve's tangent now. An end whose corner ends no other seam has no corner rule to leave
// its tenth to (the crease runs into free or held sides there, as at a sphere's pole): its
// samples are aimed at up to the end. With easeEnds, next to an end the stitch left flatter than the
// crease began there, the start normal is blended with the seam's mean normal now, from the share
// the end kept at the end to all of it kEasedEnd away: the two sides' targets part by no more
// than their start angle there and meet the end as it is. Aimed at the start normals there, the
// row (whose two points at the end stay) overshoots within the next spans, the crease rises by
// more than a degree a tenth of its length in and its surfaces go back to where they began.
// Within freeNextToFlat of an end that kept less than kFlatEndShare of its angle there is no
// target. New arrays; none when the curve has no such sample.
int CreaseSideTargets(BndrStruct* bs, int curve, Bspline* start, double margin, bool easeEnds, double freeNextToFlat,
                      double** t, double** nx, double** ny, double** nz, int* count) {
  *t = *nx = *ny = *nz = nullptr;
  *count = 0;
  const CrvInfoStruct* crv = &bs->crvs[curve];
  Bspline* srf = SurfaceOf(crv);
  int room = 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    if (e->paired && !IsG1Edge(e) && SideSamples(e, side)) room += e->nSample;
  });
  if (room < 1) return 0;
  TrackingScope scope;
  double* v[7];
  for (double*& a : v) a = MallocArray<double>(room);
  auto* n = MallocArray<double[3]>(room);
  auto* mean = MallocArray<double[3]>(room);
  if (KernelFailed() || !n || !mean) return -2;
  for (double* a : v)
    if (!a) return -2;
  // The samples' (u, v) first: the start's normals come in one call.
  const bool inV = crv->side == 1 || crv->side == 3;
  int m = 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    const double* par = SideSamples(e, side);
    if (!e->paired || IsG1Edge(e) || !par) return;
    const double lo = std::min(par[0], par[e->nSample - 1]), hi = std::max(par[0], par[e->nSample - 1]);
    // The margins at the low and the high end of the side's parameter.
    const bool rising = par[0] <= par[e->nSample - 1];
    const double m0 = EndMeetsAnotherSeam(bs, e, 0) ? margin : 0.0, m1 = EndMeetsAnotherSeam(bs, e, 1) ? margin : 0.0;
    const double lowMargin = rising ? m0 : m1, highMargin = rising ? m1 : m0;
    double share[2] = {1.0, 1.0};
    if (easeEnds || freeNextToFlat > margin) EndShares(e, margin, share);
    // Distances from the edge's ends along side A, whose samples run from end 0 to end 1.
    const double a0 = e->sampleA ? e->sampleA[0] : 0.0, a1 = e->sampleA ? e->sampleA[e->nSample - 1] : 0.0;
    for (int i = 0; i < e->nSample; ++i) {
      const double f = hi > lo ? (par[i] - lo) / (hi - lo) : 0.0;
      if (f < lowMargin - kParTol || f > 1.0 - highMargin + kParTol) continue;
      const double fa = a1 != a0 ? (e->sampleA[i] - a0) / (a1 - a0) : 0.5;
      if ((share[0] < kFlatEndShare && fa < freeNextToFlat) || (share[1] < kFlatEndShare && 1.0 - fa < freeNextToFlat))
        continue;
      v[0][m] = par[i];
      v[4][m] = inV ? (crv->side == 1 ? srf->umin : srf->umax) : par[i];
      v[5][m] = inV ? par[i] : (crv->side == 2 ? srf->vmin : srf->vmax);
      v[6][m] = 1.0;  // the share of the start normal aimed at
      if (easeEnds && (share[0] < 1.0 || share[1] < 1.0)) {
        for (int end = 0; end < 2; ++end) {
          const double d = std::clamp((end ? 1.0 - fa : fa) / kEasedEnd, 0.0, 1.0);
          v[6][m] = std::min(v[6][m], share[end] + (1.0 - share[end]) * d);
        }
        if (v[6][m] < 1.0 && !SeamMeanNormal(e, i, mean[m])) v[6][m] = 1.0;
      }
      ++m;
    }
  });
  if (KernelFailed()) return -2;
  if (m < 1) return 0;
  SurfaceNormalsAtAnySize(start, v[4], v[5], n, m);
  if (KernelFailed()) return -2;
  int kept = 0;
  for (int k = 0; k < m; ++k) {
    double d[3];
    Eval3DPointOnCurve3Array(crv->crv3, v[0][k], 1, d);
    const double dl = VecSize3(d);
    if (KernelFailed() || dl <= 0.0) continue;
    // The start's normal is the partials' cross product: judged against its own length, so that
    // a part a millionth of a unit across keeps its targets.
    double was = VecSize3(n[k]);
    if (v[6][k] < 1.0 && was > 0.0) {
      const double w = v[6][k], s = VecDotProd3(mean[k], n[k]) < 0.0 ? -1.0 : 1.0;
      for (int c = 0; c < 3; ++c) n[k][c] = w * n[k][c] / was + (1.0 - w) * s * mean[k][c];
      was = VecSize3(n[k]);
    }
    const double along = VecDotProd3(n[k], d) / (dl * dl);
    for (int c = 0; c < 3; ++c) n[k][c] -= along * d[c];
    const double len = VecSize3(n[k]);
    if (!(len >= kTiny * was) || !(len > 0.0)) continue;
    v[0][kept] = v[0][k];
    v[1][kept] = n[k][0] / len;
    v[2][kept] = n[k][1] / len;
    v[3][kept] = n[k][2] / len;
    ++kept;
  }
  if (kept < 1) return 0;
  scope.keep();
  *t = v[0];
  *nx = v[1];
  *ny = v[2];
  *nz = v[3];
  *count = kept;
  Free(v[4]);
  Free(v[5]);
  Free(v[6]);
  Free(n);
  Free(mean);
  return 0;
}

}  // namespace

// The sine of a tenth of a degree.
constexpr double kKeptTurn = 1.745e-3;

namespace {

// Whether a side of the curve's surface across one of its corners meets a G1 edge.
bool NextToG1Side(const BndrStruct* bs, const CrvInfoStruct* crv) {
  const SrfInfoStruct* si = crv->srfInfo;
  for (int k = 0; si->crvIds && k < si->nCrv; ++k) {
    const int id = si->crvIds[k];
    if (id < 0 || id >= bs->nCrv) continue;
    const int side = bs->crvs[id].side;
    if (side >= 1 && side <= 4 && side % 2 != crv->side % 2 && IsBndrCrvMeetWithG1Cont(bs, id) == 1) return true;
  }
  return false;
}

// The farthest a turn of a crease side's second row may take its points from where they came,
// as a multiple of the farthest its two rows went before the turn. Restoring the start's normals
// on rows moved by d moves the second row by about d. Where the noise turned the start normals by
// tens of degrees (points along the side as close as the noise), a net coarse across the side,
// its second row far from the boundary row, would swing that row its distance times the turn:
// several times the gap the side closes.
constexpr double kTurnedRowReach = 1.5;

// Cuts back, by one share for the whole row, the turn just written to `side` of `srf` (whose
// second row was `before`'s) where it takes a second-row point farther from where it came (`start`,
// on the heal's knots) than kTurnedRowReach times the farthest its boundary row or its second row
// went from there. Nets of another layout are left as they are.
void HoldTurnedRowNearStart(Bspline* srf, const Bspline* before, const Bspline* start, int side) {
  SideFrame now, was, st;
  if (!now.Init(srf, side) || !was.Init(const_cast<Bspline*>(before), side) ||
      !st.Init(const_cast<Bspline*>(start), side) || NumCtrlU(srf) != NumCtrlU(start) ||
      NumCtrlV(srf) != NumCtrlV(start) || NumCtrlU(srf) != NumCtrlU(before) || NumCtrlV(srf) != NumCtrlV(before))
    return;
  double reach = 0.0;
  for (int a = 0; a < 2; ++a)
    for (int j = 0; j < now.nAlong; ++j) {
      double p[3], o[3];
      (a == 0 ? now : was).Get(a, j, p);
      st.Get(a, j, o);
      reach = std::max(reach, VecDist3(p, o));
    }
  reach *= kTurnedRowReach;
  double share = 1.0;
  for (int j = 1; j < now.nAlong - 1; ++j) {
    double p[3], q[3], o[3];
    now.Get(1, j, p);
    was.Get(1, j, q);
    st.Get(1, j, o);
    const double from[3] = {q[0] - o[0], q[1] - o[1], q[2] - o[2]}, step[3] = {p[0] - q[0], p[1] - q[1], p[2] - q[2]};
    const double ss = VecDotProd3(step, step), fs = VecDotProd3(from, step), ff = VecDotProd3(from, from);
    if (!(ss > 0.0)) continue;
    const double rest = std::max(reach * reach, ff) - ff;
    share = std::min(share, std::max(0.0, (-fs + std::sqrt(std::max(0.0, fs * fs + ss * rest))) / ss));
  }
  if (!(share < 1.0)) return;
  for (int j = 1; j < now.nAlong - 1; ++j) {
    double p[3], q[3];
    now.Get(1, j, p);
    was.Get(1, j, q);
    const double v[3] = {q[0] + share * (p[0] - q[0]), q[1] + share * (p[1] - q[1]), q[2] + share * (p[2] - q[2])};
    now.Set(1, j, v);
  }
  FreeBsplineProperties(srf);
}

// The turn of KeepCreaseSideNormals over the crease samples from `margin` of each edge's length
// to 1 - margin, on the surfaces marked in `which` (all when null); with besideSmooth, only on
// the sides next to one that meets a G1 edge, free up to kFreeNextToFlatEnd next to an end laid
// flat; with easeEnds, aiming next to the ends the stitch left flatter than their creases began
// at what those ends kept (CreaseSideTargets). The row's `held` points at each end stay (1 or 2).
int KeepCreaseSideNormalsWithin(BndrStruct* bs, Bspline* const* start, const char* which, double margin,
                                bool besideSmooth, bool easeEnds, int held) {
  if (!bs || !start || (bs->nCrv > 0 && !bs->crvs)) return -2;
  for (int c = 0; c < bs->nCrv; ++c) {
    CrvInfoStruct* crv = &bs->crvs[c];
    const SrfInfoStruct* si = crv->srfInfo;
    if (!si || si->fixed || si->index < 0 || si->index >= bs->nSrf || !HasSurface3Arrays(start[si->index])) continue;
    if (which && !which[si->index]) continue;
    if (crv->side < 1 || crv->side > 4 || crv->fixed || IsBndrCrvDegenerate(crv)) continue;
    // A side that also meets a smooth seam has its second row from the tangential heal.
    if (IsBndrCrvMeetWithG1Cont(bs, c) == 1 || !HasSecondRow(crv)) continue;
    if (besideSmooth && !NextToG1Side(bs, crv)) continue;
    SideFrame f;
    // The first two and last two points of the row stay (corners and points shared with the
    // neighbouring sides' second rows), or with one held the first and last only: it needs a
    // free one between them.
    if (!FrameForCurve(crv, &f) || f.nAlong < 5) continue;
    TrackingScope scope;
    // The start evaluated on the knots the heal works on, so that the caller's knot values
    // change nothing.
    BsplinePtr was(CopyBsplineSurface(SurfaceOf(crv)));
    if (!was || KernelFailed() || ReplaceSrfBsplineGeometry(was.get(), start[si->index]) != 0) return -2;
    double *t = nullptr, *nx = nullptr, *ny = nullptr, *nz = nullptr;
    int count = 0;
    const double freeNextToFlat = besideSmooth ? kFreeNextToFlatEnd : 0.0;
    if (CreaseSideTargets(bs, c, was.get(), margin, easeEnds, freeNextToFlat, &t, &nx, &ny, &nz, &count) != 0)
      return -2;
    const Samples ownT(t), ownX(nx), ownY(ny), ownZ(nz);
    if (count < 1) continue;
    Bspline* d = nullptr;
    if (GetBndrCrvCrsDerivBspline(crv, &d) != 0 || !d) continue;
    BsplinePtr D(d);
    // A row the stitch left turned by less than a tenth of a degree anywhere is not fitted
    // again: on long nets the fit is most of the time.
    double turned = 0.0;
    for (int k = 0; k < count; ++k) {
      double v[3];
      Eval3DPointOnCurve3Array(D.get(), t[k], 0, v);
      const double n[3] = {nx[k], ny[k], nz[k]}, len = VecSize3(v);
      if (len > 0.0) turned = std::max(turned, std::fabs(VecDotProd3(v, n)) / len);
    }
    if (KernelFailed()) return -2;
    if (turned < kKeptTurn) continue;
    const ShrnkWrapParams options = CrossDerivOptions();
    Bspline* r = nullptr;
    if (ConstrainedWrapCrossDerivBspline(D.get(), count, t, nx, ny, nz, &options, nullptr, &r, held) != 0 || !r)
      continue;
    BsplinePtr R(r);
    Bspline* row = nullptr;
    if (ConvertCrsBspline2CorBspline(crv->side, R.get(), SurfaceOf(crv), &row) != 0 || !row) continue;
    BsplinePtr Row(row);
    BsplinePtr before(CopyBsplineSurface(SurfaceOf(crv)));
    if (!before || KernelFailed() || UpdateSrfWithCorBspl(SurfaceOf(crv), crv->side, Row.get()) != 0) return -2;
    HoldTurnedRowNearStart(SurfaceOf(crv), before.get(), was.get(), crv->side);
  }
  return KernelFailed() ? -2 : 0;
}

}  // namespace

int KeepCreaseSideNormals(BndrStruct* bs, Bspline* const* start, int besideSmooth) {
  // The tenth next to each end belongs to the corner rules, which set the seams' end tangents.
  return KeepCreaseSideNormalsWithin(bs, start, nullptr, 0.1, besideSmooth != 0, false, 2);
}

int KeepCreaseSideNormalsNearCorners(BndrStruct* bs, Bspline* const* start, const char* which, int held) {
  // Up to a twentieth of each end: the row's last points still stay as the corner rules left
  // them, the next ones now also answer for the start normals where a sharp crease peaks next to
  // its corner, eased towards what an end laid flatter kept.
  if (held < 1 || held > 2) return -2;
  return KeepCreaseSideNormalsWithin(bs, start, which, 0.05, false, true, held);
}
