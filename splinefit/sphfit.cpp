#include "splinefit/sphfit.h"

#include <algorithm>
#include <cmath>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "foundation/convert.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "quadric/planefit.h"
#include "splinefit/aspheng.h"
#include "splinefit/cylfit.h"
#include "splinefit/fitsplin.h"

Cloud* ConvertToSphericalCloud(Cloud* cloud, double cx, double cy, double cz, Xform back) {
  if (!cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z || !back) return nullptr;
  Cloud* canon;
  {
    UntrackedScope own;  // the caller's
    canon = MakeCld(cloud->x, cloud->y, cloud->z, cloud->npts, nullptr);
  }
  if (!canon) return nullptr;
  int bins[360] = {0};
  for (int i = 0; i < canon->npts; ++i) {
    double theta, phi, r;
    xyz_to_theta_phi(canon->x[i] - cx, canon->y[i] - cy, canon->z[i] - cz, &theta, &phi, &r);
    canon->x[i] = static_cast<float>(theta);
    canon->y[i] = static_cast<float>(phi);
    canon->z[i] = static_cast<float>(r);
    ++bins[CanonicalAngleBin(canon->x[i])];
  }
  SetCanonicalBox(canon);
  Xform shift;
  for (int k = 0; k < 16; ++k) shift[k] = (k % 5 == 0) ? 1.0 : 0.0;
  shift[12] = -cx, shift[13] = -cy, shift[14] = -cz;
  CanonicalBackTransform(shift, PlaceCanonicalSeam(canon, bins), back);
  return canon;
}

Bspline* FitCanonicalSphCldSrfBspl(Cloud* canon, BsplFitParams params) {
  return FitCanonicalSurface(canon, params, false, asph_spline_fit);
}

Bspline* SphFitBsplSrf(Cloud* cloud, BsplFitParams params, double cx, double cy, double cz) {
  if (!cloud || cloud->npts < 3 || !cloud->x || !cloud->y || !cloud->z) return nullptr;
  // On a copy of unit size, as the cylindrical fit.
  const double size = CloudFitSize(cloud, false);
  Owned<Cloud, FreeCloud> unit(ScaledCloudCopy(cloud, 1.0 / size));
  if (!unit) return nullptr;
  Xform back;
  Owned<Cloud, FreeCloud> canon(ConvertToSphericalCloud(unit.get(), cx / size, cy / size, cz / size, back));
  if (!canon) return nullptr;
  Owned<Bspline, FreeBspline> srf(FitCanonicalSphCldSrfBspl(canon.get(), params));
  if (!srf) return nullptr;
  Bspline* result = ConvertNonCarSplineToCarSpline(srf.get(), canon.get(), 2);
  if (!result) return nullptr;
  ScaleBackTransform(back, size);
  MapControlPoints(result, back);
  return result;
}
