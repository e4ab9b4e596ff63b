#include "splinefit/fitsplin.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "foundation/convert.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/mathmat.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/planefit.h"
#include "splinefit/acareng.h"
#include "splinefit/cylfit.h"
#include "splinefit/gcareng.h"
#include "splinefit/intrplt.h"
#include "splinefit/sphfit.h"
#include "stitch/vcnobj.h"

int GetDefaultBsplFitParams(BsplFitParams* p) {
  if (!p) return -2;
  p->DegreeU = 3;
  p->DegreeV = 3;
  p->NumCntrlU = 10;
  p->NumCntrlV = 10;
  p->WrapU = 0;
  p->WrapV = 0;
  p->Reserved2 = 0;
  p->ScatteredOnly = 1;
  p->Tension = 0.7;
  double r = 0.3;
  SmoothnessToRoughness(&r);
  p->Roughness = r;
  p->Sigma = 1.0;
  p->Reserved4 = 0.001;
  return 0;
}

int CheckSrfBsplFitParams(BsplFitParams p) {
  if (p.DegreeU < 1 || p.DegreeV < 1) return 0;
  if (p.DegreeU + 1 > p.NumCntrlU || p.DegreeV + 1 > p.NumCntrlV) return 0;
  return 1;
}

void SmoothnessToRoughness(double* value) { *value = std::exp(10.0 * (1.0 - *value)); }

// A roughness of 0 or below is not guarded: callers only hand back values made by the
// conversion above.
double* RoughnessToSmoothness(double* value) {
  *value = (10.0 - std::log(*value)) * 0.1;
  return value;
}

// ---- Front end and dispatch -------------------------------------------------------------------

namespace {

// The arguments every entry checks before it allocates anything.
// The door of every fit: a cloud of finite points, degrees 1 .. 22, and a net that has room for
// the degrees but no more control points than there are points to determine them (past that the
// fit's system grows with nothing to fix it). False with the error state set otherwise.
bool FitArgumentsSound(const Cloud* cloud, int type, int degU, int degV, int numU, int numV) {
  const bool sound = cloud && type >= 0 && degU >= 1 && degV >= 1 && degU <= kMaxSplineDegree &&
                     degV <= kMaxSplineDegree && numU >= degU + 1 && numV >= degV + 1 &&
                     static_cast<long long>(numU) * numV <= cloud->npts && CloudPointsFinite(cloud);
  if (!sound) SetKernelError(-2);
  return sound;
}

// An unordered copy of the cloud's points and its box; the copy is the caller's (FreeCloud).
Cloud* UnorderedCopy(const Cloud* cloud, double box[6]) {
  if (!cloud->x || !cloud->y || !cloud->z || cloud->npts < 1) return nullptr;
  UntrackedScope own;
  return MakeCld(cloud->x, cloud->y, cloud->z, cloud->npts, box);
}

// u gets the control-net parameter speed of v; the status is not used.
void MakeSpeedsProportional(Bspline* srf) {
  Bspline* pair[2] = {srf, srf};
  int dirs[2] = {1, 0};
  MakeParOfTwoObjProptnl(pair, dirs, 0, 1);
}

// The gridded engine only on request, for a grid in the plan (no axis code z) with at least as
// many points per row and rows as the net has spans to fill.
bool GriddedFit(const Cloud* cloud, const Bspline* srf, int scatteredOnly) {
  return scatteredOnly != 1 && cloud->type == 17 && cloud->grid.rowAxis != 2 && cloud->grid.colAxis != 2 &&
         cloud->ptsPerRow - (srf->degreeU + 1) >= srf->interiorU && cloud->nscans - (srf->degreeV + 1) >= srf->interiorV;
}

// A grid in the plan whose counts match its points: both engines read its values from the
// domain's corner by its steps.
bool PlanGrid(const Cloud* cloud) {
  return cloud->type == 17 && cloud->grid.rowAxis != 2 && cloud->grid.colAxis != 2 &&
         static_cast<long>(cloud->ptsPerRow) * cloud->nscans == cloud->npts;
}

// A plan grid's x, y box from its origins and steps, which the gridded engine reads, rather
// than from its points rounded to single precision (far from the origin they lie up to 3e-4 of
// the grid's size off it).
void GridPlanBox(const Cloud* grid, double box[6]) {
  const CloudGrid& g = grid->grid;
  const double colEnd = g.colOrigin + (grid->ptsPerRow - 1) * g.colStep;
  const double rowEnd = g.rowOrigin + (grid->nscans - 1) * g.rowStep;
  box[g.colAxis] = std::min(g.colOrigin, colEnd), box[g.colAxis + 3] = std::max(g.colOrigin, colEnd);
  box[g.rowAxis] = std::min(g.rowOrigin, rowEnd), box[g.rowAxis + 3] = std::max(g.rowOrigin, rowEnd);
}

// The fit itself over the plan box of the cloud (box: its x, y, z box): knots, domain and
// heights in the cloud's units.
bool FitCartesianHeights(Bspline* srf, Cloud* cloud, const double box[6], bool gridded, double tension,
                         double roughness, double sigma) {
  srf->umin = box[0], srf->umax = box[3], srf->vmin = box[1], srf->vmax = box[4];
  if (gridded)
    gcar_spline_fit(srf, cloud);
  else
    acar_spline_fit(srf, nullptr, nullptr, 0, cloud, tension, roughness, sigma);
  return !KernelFailed();
}

// The fit made in the unit frame f back in the data's units: knots mapped as the plan
// coordinates with the clamped ends put exactly on the box, heights as the z coordinates.
void HeightFieldFromUnitFrame(Bspline* srf, const UnitFrame& f, const double box[6]) {
  const int p = srf->degreeU, q = srf->degreeV, nKu = NumKnotsU(srf), nKv = NumKnotsV(srf);
  for (int k = 0; k < nKu; ++k) srf->knotsU[k] = f.centre[0] + f.size * srf->knotsU[k];
  for (int k = 0; k < nKv; ++k) srf->knotsV[k] = f.centre[1] + f.size * srf->knotsV[k];
  for (int k = 0; k <= p; ++k) srf->knotsU[k] = box[0], srf->knotsU[nKu - 1 - k] = box[3];
  for (int k = 0; k <= q; ++k) srf->knotsV[k] = box[1], srf->knotsV[nKv - 1 - k] = box[4];
  srf->umin = box[0], srf->umax = box[3], srf->vmin = box[1], srf->vmax = box[4];
  for (int j = 0; j < NumCtrlV(srf); ++j)
    for (int i = 0; i < NumCtrlU(srf); ++i) srf->Z[j][i] = f.centre[2] + f.size * srf->Z[j][i];
}

}  // namespace

// Method: the thin-plate weights and the engines' thresholds are set for data of unit size near
// the origin, and the gridded engine reads its abscissae in single precision: both fits run on
// a copy moved to the points' centroid with its plan box of unit longer side, and the surface
// is mapped back.
Bspline* FitCartisianSpline(Cloud* cloud, double* box, int degU, int degV, int numCntrlU, int numCntrlV,
                            int scatteredOnly, double tension, double roughness, double sigma) {
  if (!FitArgumentsSound(cloud, 0, degU, degV, numCntrlU, numCntrlV) || cloud->npts < 3 || !box || !cloud->x ||
      !cloud->y || !cloud->z)
    return nullptr;
  Owned<Bspline, FreeBspline> srf;
  {
    UntrackedScope own;
    srf.reset(MallocInitSurfaceBspline());
  }
  if (!srf) return nullptr;
  srf->degreeU = degU, srf->degreeV = degV;
  srf->interiorU = numCntrlU - degU - 1, srf->interiorV = numCntrlV - degV - 1;
  GetMinMaxF(cloud->x, cloud->npts, &box[0], &box[3]);
  GetMinMaxF(cloud->y, cloud->npts, &box[1], &box[4]);
  GetMinMaxF(cloud->z, cloud->npts, &box[2], &box[5]);
  const bool gridded = GriddedFit(cloud, srf.get(), scatteredOnly);
  const UnitFrame frame = UnitFrameOfPointsF(cloud->x, cloud->y, cloud->z, cloud->npts, true);
  Owned<Cloud, FreeCloud> unit(UnitFrameCloudCopy(cloud, frame));
  if (!unit) return nullptr;
  double unitBox[6] = {0, 0, 0, 0, 0, 0};  // the plan box is all the fit reads
  GetMinMaxF(unit->x, unit->npts, &unitBox[0], &unitBox[3]);
  GetMinMaxF(unit->y, unit->npts, &unitBox[1], &unitBox[4]);
  if (PlanGrid(cloud)) {
    GridPlanBox(cloud, box);
    GridPlanBox(unit.get(), unitBox);
  }
  if (!FitCartesianHeights(srf.get(), unit.get(), unitBox, gridded, tension, roughness, sigma)) return nullptr;
  HeightFieldFromUnitFrame(srf.get(), frame, box);
  FindInitXYCoefi(srf.get(), srf->X, srf->Y);
  if (KernelFailed()) return nullptr;
  return srf.release();
}

Bspline* NewFitSplineSurfaceGeometry(const Cloud* cloud, int type, BsplFitParams params) {
  if (!FitArgumentsSound(cloud, type, params.DegreeU, params.DegreeV, params.NumCntrlU, params.NumCntrlV))
    return nullptr;
  double box[6];
  Owned<Cloud, FreeCloud> copy(UnorderedCopy(cloud, box));
  if (!copy) return nullptr;
  Bspline* result = nullptr;
  if (type == 0)
    result = FitCartisianSpline(copy.get(), box, params.DegreeU, params.DegreeV, params.NumCntrlU, params.NumCntrlV,
                                params.ScatteredOnly, params.Tension, params.Roughness, params.Sigma);
  else if (type == 1)
    result = CylFitBsplSrf(copy.get(), params, 2);
  else if (type == 2)
    result = SphFitBsplSrf(copy.get(), params, 0.0, 0.0, 0.0);
  if (result) MakeSpeedsProportional(result);
  return result;
}

Bspline* FitSplineSurfaceGeometry(const Cloud* cloud, int type, int degU, int degV, int numCntrlU, int numCntrlV,
                                  int scatteredOnly, double tension, double roughness, double sigma) {
  if (!FitArgumentsSound(cloud, type, degU, degV, numCntrlU, numCntrlV)) return nullptr;
  double box[6];
  Owned<Cloud, FreeCloud> copy(UnorderedCopy(cloud, box));
  if (!copy) return nullptr;
  Bspline* result = nullptr;
  if (type == 0) {
    result = FitCartisianSpline(copy.get(), box, degU, degV, numCntrlU, numCntrlV, scatteredOnly, tension,
                                roughness, sigma);
  } else {
    // The older entry: every type but 0 is the cylindrical fit about z.
    BsplFitParams params;
    GetDefaultBsplFitParams(&params);
    params.DegreeU = degU, params.DegreeV = degV, params.NumCntrlU = numCntrlU, params.NumCntrlV = numCntrlV;
    params.ScatteredOnly = scatteredOnly, params.Tension = tension, params.Roughness = roughness;
    params.Sigma = sigma;
    result = CylFitBsplSrf(copy.get(), params, 2);
  }
  if (result) MakeSpeedsProportional(result);
  return result;
}

Bspline* SimpleFitSplineSurface(const Cloud* cloud, int degU, int degV, int numCntrlU, int numCntrlV, int type) {
  if (!FitArgumentsSound(cloud, type, degU, degV, numCntrlU, numCntrlV)) return nullptr;
  if (type > 2) return MadeOrFailed<Bspline>(nullptr);
  double roughness = 0.3;
  SmoothnessToRoughness(&roughness);
  return FitSplineSurfaceGeometry(cloud, type, degU, degV, numCntrlU, numCntrlV, 1, 0.7, roughness, 1.0);
}

namespace {

// The plane-aligned fit: the cloud turned so that its least-squares plane is the xy plane, fitted
// by `fit`, and the surface turned back; any failure on the way gives the plain fit of the
// caller's cloud.
template <class Fit>
Bspline* AlignedFit(const Cloud* cloud, Fit fit) {
  PlaneEq plane;
  double n[3];
  bool ok = cloud->npts >= 3 && PlaneFit(cloud->x, cloud->y, cloud->z, cloud->npts, plane) == 1;
  if (ok) {
    n[0] = plane[0], n[1] = plane[1], n[2] = plane[2];
    ok = NormalizeVector(n, 3, 1e-6) == 0;
  }
  double xh[3] = {0, 0, 0}, yh[3];
  if (ok) {
    int k = 0, j = 0;
    for (int i = 1; i < 3; ++i) {
      if (std::fabs(n[i]) > std::fabs(n[k])) k = i;
      if (std::fabs(n[i]) < std::fabs(n[j])) j = i;
    }
    // A plane within about 25 degrees of a coordinate plane is taken as that plane.
    if (std::fabs(n[k]) > 0.9) {
      n[0] = n[1] = n[2] = 0.0;
      n[k] = 1.0;
      j = k == 0 ? 1 : 0;
    }
    xh[j] = 1.0;
    VectorCrossProduct(n, xh, yh);
    ok = NormalizeVector(yh, 3, 1e-6) == 0;
    if (ok) VectorCrossProduct(yh, n, xh);
  }
  if (ok) {
    Owned<Cloud, FreeCloud> copy;
    {
      UntrackedScope own;
      copy.reset(CopyCloud(cloud));
    }
    if (copy && !KernelFailed()) {
      for (int i = 0; i < copy->npts; ++i) {
        const double p[3] = {copy->x[i], copy->y[i], copy->z[i]};
        copy->x[i] = static_cast<float>(p[0] * xh[0] + p[1] * xh[1] + p[2] * xh[2]);
        copy->y[i] = static_cast<float>(p[0] * yh[0] + p[1] * yh[1] + p[2] * yh[2]);
        copy->z[i] = static_cast<float>(p[0] * n[0] + p[1] * n[1] + p[2] * n[2]);
      }
      Bspline* srf = fit(copy.get());
      if (srf) {
        // Back: p = X xh + Y yh + Z n (the frame is orthonormal).
        Xform back;
        for (int k = 0; k < 16; ++k) back[k] = (k % 5 == 0) ? 1.0 : 0.0;
        for (int c = 0; c < 3; ++c) back[c] = xh[c], back[4 + c] = yh[c], back[8 + c] = n[c];
        MapControlPoints(srf, back);
        return srf;
      }
    }
    if (memory_error == 1) return nullptr;
    ClearKernelError();
  }
  return fit(cloud);
}

}  // namespace

Bspline* SimpleFitSplineSurfaceZAlignFree(const Cloud* cloud, int degU, int degV, int numCntrlU, int numCntrlV,
                                          int type) {
  if (!FitArgumentsSound(cloud, type, degU, degV, numCntrlU, numCntrlV) || !cloud->x || !cloud->y || !cloud->z)
    return nullptr;
  return AlignedFit(cloud, [&](const Cloud* c) { return SimpleFitSplineSurface(c, degU, degV, numCntrlU, numCntrlV, type); });
}

Bspline* FitSplineSurfaceZAlignFree(const Cloud* cloud, int degU, int degV, int numCntrlU, int numCntrlV, int type,
                                    int scatteredOnly, double tension, double roughness, double sigma) {
  if (!FitArgumentsSound(cloud, type, degU, degV, numCntrlU, numCntrlV) || !cloud->x || !cloud->y || !cloud->z)
    return nullptr;
  return AlignedFit(cloud, [&](const Cloud* c) {
    return FitSplineSurfaceGeometry(c, type, degU, degV, numCntrlU, numCntrlV, scatteredOnly, tension, roughness,
                                    sigma);
  });
}

Bspline* ConvertNonCarSplineToCarSpline(Bspline* canonSrf, Cloud* canon, int mode) {
  if (!RecordsSound({canonSrf}) || canonSrf->kind != 2 || (mode != 1 && mode != 2)) return nullptr;
  const int nU = NumCtrlU(canonSrf), nV = NumCtrlV(canonSrf), n = nU * nV;
  TrackingScope scope;
  double* values = MallocArray<double>(3, n);
  double** out = MallocArray<double*>(n);
  double* a = MallocArray<double>(3, n);
  if (KernelFailed() || !values || !out || !a) return nullptr;
  for (int k = 0; k < n; ++k) out[k] = values + 3 * k;
  const int du = 0, dv = 0;
  if (EvalUniformGridOnGeometryM(canonSrf, nU, nV, &du, &dv, 1, 0, out) != 0 || KernelFailed()) return nullptr;
  double* b = a + n;
  double* c = a + 2 * n;
  for (int k = 0; k < n; ++k) a[k] = out[k][0], b[k] = out[k][1], c[k] = out[k][2];
  TransformArraysToXYZSpace(a, b, c, n, mode, canon);
  return NewSurfaceInterpolate(a, b, c, nU, nV, nullptr, nullptr, canonSrf->degreeU, canonSrf->degreeV);
}
