// The scattered engine of the spherical fit on canonical clouds (x theta, y the polar angle phi
// from +z, z the radius, radians): wrapped in theta over a full turn, and with one radius for
// the points at a pole, where every theta meets in one point.
#pragma once

struct Bspline;
struct Cloud;

// Wrapped when |umin - umax + 2 pi| < 0.01 (the surface is then marked closed in u); a pole
// at vmin when |vmin| < 0.01, at vmax when |pi - vmax| < 0.01. Neither: acar_spline_fit.
// Otherwise the property flag is set, the poles are equalised (equalize_sparse_pole), and the
// fit is acar_spline_fit, or wrap_in_theta_sparse with WRAP_SPAN = 2 p + 1 when wrapped. No
// result: failures show in the error state.
void asph_spline_fit(Bspline* srf, Cloud* canon, double tension, double roughness, double sigma);

// For each requested pole, the points whose canonical y lies within 0.01 of vmin (vmax) all get
// the mean radius of those points; without such points nothing changes.
void equalize_sparse_pole(int atVmin, int atVmax, Bspline* srf, Cloud* canon);
