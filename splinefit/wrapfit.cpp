#include "splinefit/wrapfit.h"

#include "bspline/subobj.h"
#include "curve/pntintrp.h"

int PutWrapedObjToNonWraped(Bspline* obj, int dir, int average) {
  return ClampWrappedDirection(obj, dir, average);
}

void MakeWrapedArrays(const Cloud* cloud, float* x, float* y, float* z, int nHead, int nTail,
                      int closed, int* count) {
  WrapCloudArrays(cloud, x, y, z, nHead, nTail, closed, count);
}

int InitClosedCurve(Cloud* cloud, int degree, int ncoef, double** params) {
  return WrapCloudForClosedFit(cloud, degree, ncoef, params);
}

int EndClosedCurve(Bspline* curve, int nWrap, int closed) {
  return UnwrapClosedFit(curve, nWrap, closed);
}
