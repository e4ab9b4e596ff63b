// Curves on surfaces split where they cross their surface's knot lines (the rest of recognition
// is in quadric/, curve/ and construct/quadrics).
#pragma once

struct Bspline;

// Splits the curve, which lies on a surface, at the parameters where it crosses the surface's u
// and v knot lines and that are not knots of its own already. The curve is not changed and the
// pieces are released (no caller wants them). Returns 1.
int MyFunc(Bspline* curve);
