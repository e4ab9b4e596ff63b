#include "splinefit/cylfit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "foundation/convert.h"
#include "foundation/minmax.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/planefit.h"
#include "splinefit/acyleng.h"
#include "splinefit/aspline.h"
#include "registration/qternion.h"
#include "registration/stepreg.h"
#include "splinefit/crvframe.h"
#include "splinefit/fitsplin.h"
#include "splinefit/intrplt.h"

namespace {

constexpr double kTwoPi = 2.0 * M_PI;
constexpr double kDegree = M_PI / 180.0;

void Identity(Xform M) {
  for (int k = 0; k < 16; ++k) M[k] = (k % 5 == 0) ? 1.0 : 0.0;
}

// The rotation part of M (row vectors) applied to p.
void Rotate(const Xform M, const double p[3], double out[3]) {
  for (int c = 0; c < 3; ++c) out[c] = p[0] * M[c] + p[1] * M[4 + c] + p[2] * M[8 + c];
}

}  // namespace

// Truncated whole degrees; angles just below zero count to bin 0.
int CanonicalAngleBin(double theta) {
  const int bin = static_cast<int>(theta / kDegree);
  return std::clamp(bin, 0, 359);
}

void SetCanonicalBox(Cloud* canon) {
  if (!canon) return;
  double lo[3] = {kNoValue, kNoValue, kNoValue}, hi[3] = {-kNoValue, -kNoValue, -kNoValue};
  const float* a[3] = {canon->x, canon->y, canon->z};
  for (int i = 0; i < canon->npts; ++i)
    for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], double(a[c][i])), hi[c] = std::max(hi[c], double(a[c][i]));
  canon->ptsPerRow = 2;
  canon->nscans = 2;
  canon->grid.colOrigin = lo[0];
  canon->grid.colStep = hi[0] - lo[0];
  canon->grid.rowOrigin = lo[1];
  canon->grid.rowStep = hi[1] - lo[1];
  canon->zMin = lo[2];
  canon->zMax = hi[2];
}

// Moves the angular seam into the largest empty sector (at least 18 degrees, and no smaller
// than the empty sector already at the seam): every theta drops by a = the sector's last bin,
// and the returned angle a (0 when nothing moved) is what the back transform must turn back.
double PlaceCanonicalSeam(Cloud* canon, const int* bins) {
  if (!canon) return 0.0;
  int first = 0, last = 0;
  if (FindLargestEmptySlotInArray(bins, 360, 1, &first, &last) != 0) return 0.0;
  // A sector that wraps past 360 degrees is as long as its two ends together.
  const double gap = (last >= first ? last - first + 1 : last + 360 - first + 1) * kDegree;
  const double tmin = canon->grid.colOrigin, tmax = tmin + canon->grid.colStep;
  if (gap < 0.1 * M_PI || std::fabs(kTwoPi - tmax) + std::fabs(tmin) > gap) return 0.0;
  const double a = last * kDegree;
  for (int i = 0; i < canon->npts; ++i) {
    double t = canon->x[i] - a;
    if (t < 0.0) t += kTwoPi;
    canon->x[i] = static_cast<float>(t);
  }
  SetCanonicalBox(canon);
  return a;
}

// back = the inverse of (pre followed by the rotation by -a about z), pre a rotation (the axis
// change) or, with a translation, p - c.
void CanonicalBackTransform(const Xform pre, double a, Xform back) {
  Xform rz;
  Identity(rz);
  rz[0] = std::cos(a), rz[1] = -std::sin(a), rz[4] = std::sin(a), rz[5] = std::cos(a);
  // Forward: q = (p R + t) Rz with R, t from pre. Inverse: p = q Rz^T R^T - t R^T.
  double F[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) F[3 * r + c] = pre[4 * r] * rz[c] + pre[4 * r + 1] * rz[4 + c] + pre[4 * r + 2] * rz[8 + c];
  Identity(back);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) back[4 * r + c] = F[3 * c + r];
  double t[3] = {pre[12], pre[13], pre[14]}, tr[3];
  // The translation of pre is applied before the rotation: q = p R Rz + t Rz, so p = (q - t Rz) F^T.
  for (int c = 0; c < 3; ++c) tr[c] = t[0] * rz[c] + t[1] * rz[4 + c] + t[2] * rz[8 + c];
  for (int c = 0; c < 3; ++c) back[12 + c] = -(tr[0] * back[c] + tr[1] * back[4 + c] + tr[2] * back[8 + c]);
}

int FindLargestEmptySlotInArray(const int* counts, int n, int wrap, int* first, int* last) {
  if (!counts || n < 2 || !first || !last) return -2;
  int empty = 0;
  for (int i = 0; i < n; ++i) empty += counts[i] == 0;
  if (empty == 0) {
    *first = *last = 0;
    return 0;
  }
  if (empty == n) {
    *first = 0;
    *last = n - 1;
    return 0;
  }
  // Runs of empty bins; the longest wins, the earliest on a tie.
  int bestStart = -1, bestLen = 0, firstRunLen = 0, lastRunStart = -1;
  for (int i = 0; i < n;) {
    if (counts[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < n && counts[j] == 0) ++j;
    if (i == 0) firstRunLen = j;
    if (j == n) lastRunStart = i;
    if (j - i > bestLen) bestStart = i, bestLen = j - i;
    i = j;
  }
  *first = bestStart;
  *last = bestStart + bestLen - 1;
  // Across the ends: the run at the end continues into the run at the start.
  if (wrap == 1 && counts[0] == 0 && counts[n - 1] == 0 && firstRunLen + (n - lastRunStart) > bestLen) {
    *first = lastRunStart;
    *last = firstRunLen - 1;
  }
  return 0;
}

Cloud* ConvertToCylindricalCloud(Cloud* cloud, int axis, Xform back) {
  if (!cloud || cloud->npts < 3 || !cloud->x || !cloud->y || !cloud->z || !back) return nullptr;
  Xform rot;
  Identity(rot);
  if (axis == 0) {  // x becomes the new z
    const double r[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
    for (int k = 0; k < 9; ++k) rot[4 * (k / 3) + k % 3] = r[k];
  } else if (axis == 1) {  // y becomes the new z
    const double r[9] = {1, 0, 0, 0, 0, 1, 0, -1, 0};
    for (int k = 0; k < 9; ++k) rot[4 * (k / 3) + k % 3] = r[k];
  }
  Cloud* canon;
  {
    UntrackedScope own;  // the caller's
    canon = MakeCld(cloud->x, cloud->y, cloud->z, cloud->npts, nullptr);
  }
  if (!canon) return nullptr;
  int bins[360] = {0};
  for (int i = 0; i < canon->npts; ++i) {
    const double p[3] = {canon->x[i], canon->y[i], canon->z[i]};
    double q[3], theta, h, r;
    Rotate(rot, p, q);
    xyz_to_theta_h(q[0], q[1], q[2], &theta, &h, &r);
    canon->x[i] = static_cast<float>(theta);
    canon->y[i] = static_cast<float>(h);
    canon->z[i] = static_cast<float>(r);
    ++bins[CanonicalAngleBin(canon->x[i])];
  }
  SetCanonicalBox(canon);
  CanonicalBackTransform(rot, PlaceCanonicalSeam(canon, bins), back);
  return canon;
}

// The thin-plate weights take the height range of the points as their unit of height (their
// smoothing grows as 1 / range^2). The radii of a round section vary by its ripple and noise
// only, so that unit would smooth a fine ripple away and, as the noise shrinks, make the system
// singular. The canonical fits take the mean radius as the unit instead: the roughness grows
// by (mean radius / range)^2, the fit the weights give to heights whose range is the radius.
double RadialRoughness(const Cloud* canon, double roughness) {
  if (!canon || canon->npts < 1) return roughness;
  double range, mean = 0.0;
  FindUObs(canon->x, canon->y, canon->z, canon->npts, &range);
  for (int i = 0; i < canon->npts; ++i) mean += canon->z[i];
  mean = std::fabs(mean / canon->npts);
  const double scaled = roughness * (mean / range) * (mean / range);
  return mean > 0.0 && std::isfinite(scaled) ? scaled : roughness;
}

Bspline* FitCanonicalSurface(Cloud* canon, const BsplFitParams& params, bool wrapV,
                             void (*engine)(Bspline*, Cloud*, double, double, double)) {
  if (!canon || canon->npts < 3 || CheckSrfBsplFitParams(params) != 1) return nullptr;
  // Points of one height (or one polar angle) span no surface: a failed fit, not a bad call.
  if (std::fabs(canon->grid.rowStep) < 1e-6) {
    SetKernelError(-2);
    return nullptr;
  }
  Owned<Bspline, FreeBspline> srf;
  {
    UntrackedScope own;
    srf.reset(MallocInitSurfaceBspline());
  }
  if (!srf) return nullptr;
  srf->degreeU = params.DegreeU, srf->degreeV = params.DegreeV;
  srf->interiorU = params.NumCntrlU - params.DegreeU - 1;
  srf->interiorV = params.NumCntrlV - params.DegreeV - 1;
  const double tmin = canon->grid.colOrigin, hmin = canon->grid.rowOrigin;
  srf->umin = params.WrapU == 1 ? 0.0 : tmin;
  srf->umax = params.WrapU == 1 ? kTwoPi : tmin + canon->grid.colStep;
  srf->vmin = wrapV ? 0.0 : hmin;
  srf->vmax = wrapV ? kTwoPi : hmin + canon->grid.rowStep;
  engine(srf.get(), canon, params.Tension, RadialRoughness(canon, params.Roughness), params.Sigma);
  // A failed fit is not handed back as a surface.
  if (KernelFailed()) return nullptr;
  FindInitXYCoefi(srf.get(), srf->X, srf->Y);
  if (KernelFailed()) return nullptr;
  return srf.release();
}

Bspline* FitCanonicalCylCldSrfBspline(Cloud* canon, double* box, BsplFitParams params) {
  if (box && canon && canon->npts >= 1) {
    const float* a[3] = {canon->x, canon->y, canon->z};
    for (int c = 0; c < 3; ++c) GetMinMaxF(a[c], canon->npts, &box[c], &box[3 + c]);
  }
  return FitCanonicalSurface(canon, params, params.WrapV == 1, acyl_spline_fit);
}

// Maps every control point of the Cartesian surface by back.
void MapControlPoints(Bspline* srf, const Xform back) {
  for (int j = 0; j < NumCtrlV(srf); ++j) {
    for (int i = 0; i < NumCtrlU(srf); ++i) {
      const double p[3] = {srf->X[j][i], srf->Y[j][i], srf->Z[j][i]};
      double q[3];
      VecTrans3(p, back, q);
      srf->X[j][i] = q[0], srf->Y[j][i] = q[1], srf->Z[j][i] = q[2];
    }
  }
}

void ScaleBackTransform(Xform back, double size) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c) back[4 * r + c] *= size;
}

// The weights and thresholds of the canonical fit are set for data of unit size: the fit runs
// on a copy scaled to it, and the scale goes into the back transform.
Bspline* CylFitBsplSrf(Cloud* cloud, BsplFitParams params, int axis) {
  if (!cloud || cloud->npts < 3 || !cloud->x || !cloud->y || !cloud->z) return nullptr;
  const double size = CloudFitSize(cloud, false);
  Owned<Cloud, FreeCloud> unit(ScaledCloudCopy(cloud, 1.0 / size));
  if (!unit) return nullptr;
  Xform back;
  Owned<Cloud, FreeCloud> canon(ConvertToCylindricalCloud(unit.get(), axis, back));
  if (!canon) return nullptr;
  double box[6];
  Owned<Bspline, FreeBspline> srf(FitCanonicalCylCldSrfBspline(canon.get(), box, params));
  if (!srf) return nullptr;
  Bspline* result = ConvertNonCarSplineToCarSpline(srf.get(), canon.get(), 1);
  if (!result) return nullptr;
  ScaleBackTransform(back, size);
  MapControlPoints(result, back);
  return result;
}

// ---- Cylindrical fit around a spine curve -------------------------------------------------

namespace {

// The spine's points at its parameters t0 .. t1, the chord length over 199 equal steps.
double SpineLength(const Bspline* spine, double t0, double t1) {
  double prev[3], L = 0.0;
  Eval3DPointOnCurve3Array(spine, t0, 0, prev);
  for (int k = 1; k <= 199; ++k) {
    double q[3];
    Eval3DPointOnCurve3Array(spine, t0 + (t1 - t0) * k / 199, 0, q);
    L += std::sqrt((q[0] - prev[0]) * (q[0] - prev[0]) + (q[1] - prev[1]) * (q[1] - prev[1]) +
                   (q[2] - prev[2]) * (q[2] - prev[2]));
    std::memcpy(prev, q, sizeof q);
  }
  return L;
}

// v turned about the unit axis by the angle a (right-handed).
void TurnAbout(const double axis[3], double a, double v[3]) {
  const RegVec q = {{std::cos(a / 2), axis[0] * std::sin(a / 2), axis[1] * std::sin(a / 2), axis[2] * std::sin(a / 2)},
                    {0, 0, 0}};
  double out[3];
  if (VecRotWquaternion(v, &q, out) == 0) std::memcpy(v, out, sizeof out);
}

}  // namespace

Cloud* ConvertToCylCldWithCurve(Cloud* cloud, Bspline* spine, CurveParallelFrame* frame, int wrapU, double** tOut,
                                double** tangentsOut, double** normalsOut) {
  if (!cloud || cloud->npts < 3 || !cloud->x || !cloud->y || !cloud->z || !spine || spine->kind != 1 ||
      spine->dimension != 3 || !frame || !tOut || !tangentsOut || !normalsOut)
    return nullptr;
  const int n = cloud->npts;
  Owned<Cloud, FreeCloud> canon;
  double *ts = nullptr, *Ts = nullptr, *Ns = nullptr;
  {
    UntrackedScope own;  // all four are the caller's
    canon.reset(MakeCld(cloud->x, cloud->y, cloud->z, n, nullptr));
    ts = MallocArray<double>(n);
    Ts = MallocArray<double>(n, 3);
    Ns = MallocArray<double>(n, 3);
  }
  Owned<double, Free> ownT(ts), ownTs(Ts), ownNs(Ns);
  if (!canon || !ts || !Ts || !Ns || KernelFailed()) return nullptr;
  int bins[360] = {0};
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]}, t, theta, r, T[3], N[3];
    // A point whose foot cannot be found, or that lies off its foot's normal plane, is left out.
    if (CartisianToCurveFrameCoord(p, frame, &t, &theta, &r, T, N) != 0) continue;
    canon->x[kept] = static_cast<float>(theta);
    canon->y[kept] = static_cast<float>(t);
    canon->z[kept] = static_cast<float>(r);
    ts[kept] = t;
    VecNormalize3(T, Ts + 3 * kept);
    VecNormalize3(N, Ns + 3 * kept);
    ++bins[CanonicalAngleBin(theta)];
    ++kept;
  }
  if (KernelFailed() || kept < 3) return nullptr;
  canon->npts = kept;
  SetCanonicalBox(canon.get());
  int first = 0, last = 0;
  if (FindLargestEmptySlotInArray(bins, 360, 1, &first, &last) == 0) {
    if (last < first) last += 360;
    const double gap = (last - first + 1) * kDegree;
    const double tmin = canon->grid.colOrigin, tmax = tmin + canon->grid.colStep;
    if (gap >= 0.0349 && std::fabs(tmin) + std::fabs(kTwoPi - tmax) <= gap) {
      // The seam moves to the end of the empty sector: angles drop by a, and every normal the
      // angles are measured from turns by a about its tangent, so the frame agrees.
      const double a = last * kDegree;
      for (int i = 0; i < kept; ++i) {
        double t = canon->x[i] - a;
        if (t < 0.0) t += kTwoPi;
        canon->x[i] = static_cast<float>(t);
        TurnAbout(Ts + 3 * i, a, Ns + 3 * i);
      }
      if (frame->useGivenFrame == 1) {
        double g[3];
        VecNormalize3(frame->givenTangent, g);
        TurnAbout(g, a, frame->givenNormal);
      }
      for (int s = 0; s < frame->numSamples; ++s) TurnAbout(frame->tangents + 3 * s, a, frame->normals + 3 * s);
      SetCanonicalBox(canon.get());
    }
  }
  if (wrapU == 1) {
    canon->grid.colOrigin = 0.0;
    canon->grid.colStep = kTwoPi;
  }
  *tOut = ownT.release();
  *tangentsOut = ownTs.release();
  *normalsOut = ownNs.release();
  return canon.release();
}

// A t range or a spine length over the data below this fraction of the spine's is none.
constexpr double kNoSpan = 1e-6;

int ScaleCylCloudWithCurve(Cloud* canon, Bspline* spine, double size, double* tScale, double* tOffset,
                           double* rScale) {
  if (!canon || canon->npts < 1 || !spine || !tScale || !tOffset || !rScale) return -2;
  double tmin, tmax;
  GetMinMaxF(canon->y, canon->npts, &tmin, &tmax);
  // Both tests relative to the spine: its parameter range and its size (the diagonal of its
  // control points' box), so that the same data of any size, anywhere, scale alike.
  if (std::fabs(tmax - tmin) < kNoSpan * (spine->umax - spine->umin)) {
    *tScale = 1.0, *tOffset = 0.0, *rScale = 1.0;
    return 0;
  }
  const double L = SpineLength(spine, tmin, tmax);
  if (!(std::fabs(L) >= kNoSpan * ControlPointDiagonal(spine))) return -2;
  // t onto [0, size] and the radius in units of L / size: both directions of comparable size.
  const double ts = size / std::fabs(tmax - tmin), rs = size / L;
  for (int i = 0; i < canon->npts; ++i) {
    canon->y[i] = static_cast<float>((canon->y[i] - tmin) * ts);
    canon->z[i] = static_cast<float>(canon->z[i] * rs);
  }
  *tScale = ts, *tOffset = tmin, *rScale = rs;
  double lo, hi;
  GetMinMaxF(canon->y, canon->npts, &lo, &hi);
  canon->grid.rowOrigin = lo, canon->grid.rowStep = hi - lo;
  GetMinMaxF(canon->z, canon->npts, &canon->zMin, &canon->zMax);
  canon->nscans = 2;
  return 0;
}

namespace {

// Steps 2 to 6 of the spine fit on a frame already set up: the grid of x, y, z the final
// surface interpolates (3 nU nV doubles into *grid), nU, nV and the degrees.
bool SpineFitGrid(Cloud* cloud, Bspline* spine, const BsplFitParams& params, CurveParallelFrame* frame,
                  double** grid, int* nU, int* nV, int* p, int* q) {
  double *ts = nullptr, *Ts = nullptr, *Ns = nullptr;
  Owned<Cloud, FreeCloud> canon(ConvertToCylCldWithCurve(cloud, spine, frame, params.WrapU, &ts, &Ts, &Ns));
  Free(ts);
  Free(Ts);
  Free(Ns);
  if (!canon) return false;
  double tScale, tOffset, rScale;
  if (ScaleCylCloudWithCurve(canon.get(), spine, 10.0, &tScale, &tOffset, &rScale) != 0) return false;
  double box[6];
  Owned<Bspline, FreeBspline> srf(FitCanonicalCylCldSrfBspline(canon.get(), box, params));
  canon.reset();
  if (!srf) return false;
  *nU = NumCtrlU(srf.get()), *nV = NumCtrlV(srf.get()), *p = srf->degreeU, *q = srf->degreeV;
  const int n = *nU * *nV;
  double* g = MallocArray<double>(3, n);
  double* values = MallocArray<double>(3, n);
  double** out = MallocArray<double*>(n);
  if (KernelFailed() || !g || !values || !out) return false;
  for (int k = 0; k < n; ++k) out[k] = values + 3 * k;
  const int du = 0, dv = 0;
  if (EvalUniformGridOnGeometryM(srf.get(), *nU, *nV, &du, &dv, 1, 0, out) != 0 || KernelFailed()) return false;
  for (int k = 0; k < n; ++k) {
    g[k] = out[k][0];
    g[n + k] = out[k][1] / tScale + tOffset;
    g[2 * n + k] = out[k][2] / rScale;
  }
  if (TransformCylPntsToXYZSpaceWCurve(g, g + n, g + 2 * n, n, frame) != 0) return false;
  *grid = g;
  return true;
}

}  // namespace

Bspline* CylFitBsplSrfWCurve(Cloud* cloud, Bspline* spine, BsplFitParams params, int useGivenFrame,
                             const double givenTangent[3], const double givenNormal[3]) {
  if (!cloud || cloud->npts < 3 || !spine || spine->kind != 1) return nullptr;
  if (useGivenFrame == 1 && (!givenTangent || !givenNormal)) return nullptr;
  TrackingScope scope;
  CurveParallelFrame frame = {};
  frame.samplesPerSpan = 20;
  frame.useGivenFrame = useGivenFrame == 1 ? 1 : 0;
  if (frame.useGivenFrame) {
    std::memcpy(frame.givenTangent, givenTangent, sizeof frame.givenTangent);
    std::memcpy(frame.givenNormal, givenNormal, sizeof frame.givenNormal);
  }
  if (SetUpCurveParallelFrame(spine, &frame) != 0) return nullptr;
  double* grid = nullptr;
  int nU = 0, nV = 0, p = 0, q = 0;
  const bool ok = SpineFitGrid(cloud, spine, params, &frame, &grid, &nU, &nV, &p, &q);
  CleanUpCurveParallelFrame(&frame);
  if (!ok) return nullptr;
  const int n = nU * nV;
  return NewSurfaceInterpolate(grid, grid + n, grid + 2 * n, nU, nV, nullptr, nullptr, p, q);
}
