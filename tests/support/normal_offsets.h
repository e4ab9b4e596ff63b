// Points at known normal offsets from known feet, for closest-point checks: the frame of a
// surface point (unit normal and the larger principal curvature towards a side) and of a space
// curve point (curvature towards a direction across the tangent), from the textbook evaluator;
// and a record scaled and moved, for checks at every scale.
#pragma once

#include <cmath>

#include "bspline/smake.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"

// v / |v| at any length (VecNormalize3 leaves vectors shorter than 1e-10 short).
inline void UnitVector(const double v[3], double out[3]) {
  const double len = VecSize3(v);
  for (int k = 0; k < 3; ++k) out[k] = v[k] / len;
}

// Control points scaled by `scale` about the origin and moved by `shift` (in the scaled units).
// A curve on a surface goes with its surface.
inline void ScaleAndMove(Bspline* b, double scale, const double shift[3]) {
  const int n =
      (b->degreeU + 1 + b->interiorU) * (b->kind == 2 ? b->degreeV + 1 + b->interiorV : 1);
  for (int i = 0; i < n; ++i) {
    b->X[0][i] = b->X[0][i] * scale + shift[0];
    b->Y[0][i] = b->Y[0][i] * scale + shift[1];
    b->Z[0][i] = b->Z[0][i] * scale + shift[2];
  }
}

// S(u, v), its partials, unit normal and the larger principal curvature k towards side * normal
// (the larger eigenvalue of I^-1 II): the foot of S + side h n is a minimum of the distance
// while h k < 1.
struct SurfaceFrame {
  double S[3], Su[3], Sv[3], n[3], k;
};
inline SurfaceFrame FrameAt(const Bspline* s, double u, double v, double side) {
  SurfaceFrame f;
  double Suu[3], Suv[3], Svv[3];
  RefEvalSurface(s, u, v, f.S);
  RefEvalDeriv(s, u, v, 1, 0, f.Su);
  RefEvalDeriv(s, u, v, 0, 1, f.Sv);
  RefEvalDeriv(s, u, v, 2, 0, Suu);
  RefEvalDeriv(s, u, v, 1, 1, Suv);
  RefEvalDeriv(s, u, v, 0, 2, Svv);
  UnitVector(VecCrossProd3(f.Su, f.Sv, f.n), f.n);
  const double E = VecDotProd3(f.Su, f.Su), F = VecDotProd3(f.Su, f.Sv),
               G = VecDotProd3(f.Sv, f.Sv);
  const double L = side * VecDotProd3(Suu, f.n), M = side * VecDotProd3(Suv, f.n),
               N = side * VecDotProd3(Svv, f.n);
  const double det = E * G - F * F, mean = (E * N - 2 * F * M + G * L) / (2 * det);
  f.k = mean + std::sqrt(std::fmax(mean * mean - (L * N - M * M) / det, 0.0));
  return f;
}

// C(t) and the unit direction n across the tangent at `angle` from the principal normal about
// the tangent, with the curvature towards n (the foot of C + h n is a minimum while h k < 1).
struct CurveFrame {
  double C[3], n[3], k;
};
inline CurveFrame CurveFrameAt(const Bspline* c, double t, double angle) {
  CurveFrame f;
  double D1[3], D2[3], T[3], N[3], B[3];
  RefEvalCurve(c, t, f.C);
  RefEvalDeriv(c, t, 0.0, 1, 0, D1);
  RefEvalDeriv(c, t, 0.0, 2, 0, D2);
  UnitVector(D1, T);
  const double a = VecDotProd3(D2, T);
  for (int k = 0; k < 3; ++k) N[k] = D2[k] - a * T[k];
  const double kappa = VecSize3(N) / VecDotProd3(D1, D1);
  UnitVector(N, N);
  VecCrossProd3(T, N, B);
  for (int k = 0; k < 3; ++k) f.n[k] = std::cos(angle) * N[k] + std::sin(angle) * B[k];
  f.k = kappa * std::cos(angle);
  return f;
}
