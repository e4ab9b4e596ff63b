// The record fillers and fit helpers of the surface fits on records they cannot fill: counts
// past an int and a band sized for another net are refused with nothing written, and a new skin
// record is a sound one before the skins fill it.
#include <climits>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "splinefit/acyleng.h"
#include "splinefit/gspline.h"
#include "splinefit/sconvert.h"
#include "splinefit/skin.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Fillers : public KernelTest {};

TEST_F(Fillers, NewSkinRecordIsSoundBeforeItIsFilled) {
  for (int p = 1; p <= 3; ++p)
    for (int q = 1; q <= 3; ++q)
      for (bool rational : {false, true}) {
        BsplineKeeper keep;
        const Bspline* c = keep(BuildRandomCurve(p + 10 * q, p, p + 3, 3, rational));
        Bspline* s = keep(NewSkinSurface(c, q, 2));
        ASSERT_NE(s, nullptr) << p << " " << q;
        EXPECT_TRUE(BsplineSound(s)) << p << " " << q << " " << rational;
        for (int i = 0; i < NumKnotsU(c); ++i) EXPECT_EQ(s->knotsU[i], c->knotsU[i]);
        EXPECT_EQ(s->vmin, 0.0);
        EXPECT_EQ(s->vmax, 1.0);
      }
}

TEST_F(Fillers, CountsPastAnIntAreRefusedWithTheRecordAsItWas) {
  for (int which = 0; which < 3; ++which) {
    Bspline* s = MallocInitSurfaceBspline();
    ASSERT_NE(s, nullptr);
    s->degreeU = s->degreeV = 3;
    s->interiorU = INT_MAX - 5;
    const double h[2] = {0.1, 0.1};
    if (which == 0) InitFillBsplineStruct(s, 0.0, 0.0, 1.0, 1.0);
    if (which == 1) assign_gcar_knots(s, 0.0, 0.0, 1.0, 1.0);
    if (which == 2) assign_acyl_knots(s, 0.0, 0.0, 1.0, 1.0, h);
    EXPECT_TRUE(KernelFailed()) << which;
    EXPECT_EQ(s->knotsU, nullptr);
    EXPECT_EQ(s->X, nullptr);
    ClearKernelError();
    s->interiorU = 0;
    FreeBspline(s);
  }
}

TEST_F(Fillers, DerivativeBandSizedForAnotherNetIsRefused) {
  BsplineKeeper keep;
  PatchOptions o;
  o.nu = 5, o.nv = 4;
  Bspline* fit = keep(BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; }, o));
  Bspline* old = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x - y * y; }, o));
  const int nCU = NumCtrlU(fit), N = nCU * NumCtrlV(fit);
  const int W = fit->degreeV * nCU + fit->degreeU + 1;
  std::vector<double> store(static_cast<size_t>(N) * W, 0.0), bx(N, 0.0), by(N, 0.0), bz(N, 0.0);
  std::vector<double*> M(N);
  for (int i = 0; i < N; ++i) M[i] = store.data() + static_cast<size_t>(i) * W;
  const double u[3] = {0.1, 0.5, 0.9}, v[3] = {0.2, 0.6, 0.8};
  // A band one row short, and one too narrow: refused, nothing added.
  EXPECT_EQ(FitSurfaceWithDerivatives(fit, old, u, v, 3, 3, 1.0, M.data(), N - 1, W, bx.data(),
                                      by.data(), bz.data()),
            0);
  EXPECT_EQ(FitSurfaceWithDerivatives(fit, old, u, v, 3, 3, 1.0, M.data(), N, W - 1, bx.data(),
                                      by.data(), bz.data()),
            0);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  for (double m : store) EXPECT_EQ(m, 0.0);
  // The band of the net: the derivatives' normal equations, symmetric and positive on the
  // diagonal where samples reach.
  ASSERT_EQ(FitSurfaceWithDerivatives(fit, old, u, v, 3, 3, 1.0, M.data(), N, W, bx.data(),
                                      by.data(), bz.data()),
            1);
  double diagonal = 0.0;
  for (int i = 0; i < N; ++i) {
    EXPECT_GE(M[i][0], 0.0);
    diagonal += M[i][0];
  }
  EXPECT_GT(diagonal, 0.0);
}

}  // namespace
