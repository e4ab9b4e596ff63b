// Constrained shrink-wrap of 3D curves: the constraint record handed over by the healing
// kernel, the builders of its linear rows and the equality-constrained quadratic solver.
//
// The fits solve for control-point displacements D, never for the points: the energy is
// 1/2 D'AD + b'D (so A D = -b at the free minimum) subject to C D = d. The solution vector of
// a curve with nCtrl control points is all x displacements, then all y, then all z; a
// position row has nCtrl entries and serves x, y and z alike, a normal row has 3 nCtrl.
// Every function taking a curve refuses (-2) one that is not sound (bsvalid); those that fit or
// constrain it, one that is not 3D as well.
#pragma once

#include "bspline/smake.h"
#include "shrinkwrap/shrink.h"

// Position and normal constraints of one curve fit. Every array of one kind has that kind's
// count and is owned by the record; nPos + nNorm < 1 means no constraint at all.
struct LinearConstraint {
  int nPos;
  double* posPar;    // curve parameter of each position constraint
  double* posSpare;  // never written; released with the record when set
  double* posX;      // target point of each position constraint
  double* posY;
  double* posZ;
  int nNorm;
  double* normPar;    // curve parameter of each normal constraint
  double* normSpare;  // never written; released with the record when set
  double* normX;      // normal of each normal constraint, any length of at least 0.001
  double* normY;
  double* normZ;
};

// A new all-zero record outside every open scope (release it with FreeWrapConstraint), or
// null when memory ran out.
LinearConstraint* AllocateNullLinearConstraint();

// The parameters of all constraints (positions, then normals) sorted ascending, duplicates
// kept, in a new array the caller frees. No constraint: 0 with a null array and count 0.
// -2 for a null record or when memory ran out.
int GetWrapConstraintParVals(const LinearConstraint* c, double** values, int* count);

// Position row at t for the target (x, y, z): row (nCtrl doubles) holds the basis values,
// d (three doubles) the target minus the current point, so row . Dx = d[0] etc. -2 for a null
// curve.
int ComputeReshapeCrv3PointConstraint(const Bspline* curve, double x, double y, double z, double t,
                                      double* row, double* d);
// Normal row at t (3 nCtrl doubles) with *d = -(C'(t) . n/|n|): the displaced curve's tangent at
// t is perpendicular to n. -2 for a curve that is not a 3D curve or a normal shorter than 0.001,
// and for a t or normal that is not finite.
int ComputeReshapeCrv3NormConstraint(const Bspline* curve, const double n[3], double t, double* row,
                                     double* d);

// Minimises 1/2 x'Ax + b'x subject to Cx = d (A n x n, C m x n) through the KKT system
// [[A, -C'], [C, 0]] [x; l] = [-b; d]; the minimiser is written over b. A null A or n < 1
// changes nothing and returns 0; a singular system or no memory gives -2.
int SolveLEQP(double** A, double* b, int n, double** C, double* d, int m);
// The same for three coordinates sharing A and C: one factorisation, three solves, written
// over bx, by and bz.
int SolveLEQP3(double** A, int n, double* bx, double* by, double* bz, double** C, int m, double* dx,
               double* dy, double* dz);

// ---- Curve shrink-wrap ------------------------------------------------------------------------
// Every fit works on a copy of the input curve and hands the copy back in *result (the caller
// frees it); the input and the constraint record never change. Samples are four parallel
// arrays t, x, y, z of n entries; a sample whose parameter lies outside the curve's domain is
// ignored. The options' Tension, Roughness and Sigma are read. Weights of the two kinds of fit
// differ on purpose: constrained fits weight the samples by 1/Sigma (order-0 energy
// min(0.001/Sigma, 0.001)), unconstrained ones by Sigma (order-0 energy 0.001 Sigma). The
// unconstrained fits (ShrinkWrapCrv3, ShrinkWrapCrv3NubVals) run in the unit frame of the
// curve's control points (centroid, box of unit longest side) and map the fit back, so they
// give the same fit relative to the size at any size and anywhere in space. The constrained fits
// run with everything moved by the centroid of the control points (not scaled: their weights
// scale with the curve below unit size only), so they give the same fit anywhere in space.

// Constrained fit; a null or empty record gives ShrinkWrapCrv3. Too few knots for the
// constraints: -2 without insertKnots, else knots are placed once before the fit.
int NewConstrainedShrinkWrapCrv3(const Bspline* curve, int n, const double* t, const double* x,
                                 const double* y, const double* z, const ShrnkWrapParams* params,
                                 const LinearConstraint* constraint, int insertKnots,
                                 Bspline** result);
int ShrinkWrapCrv3(const Bspline* curve, int n, const double* t, const double* x, const double* y,
                   const double* z, const ShrnkWrapParams* params, Bspline** result);

// The Gram matrices of ComputeCrv3DiffGramMatrix (orders 0 to 2) of the last few knot vectors
// met, kept by degree and knots (bit for bit): they depend on nothing else, and a heal fits
// each boundary row a dozen times and more over knots that do not change. A fit given a cache
// takes its matrices from it (the very values it would compute) and adds the knots it lacks.
// Owned by whoever runs the fits (a heal's topology); its blocks are outside every scope.
// New: null when memory ran out. Free: null is ignored.
struct Crv3GramCache;
Crv3GramCache* NewCrv3GramCache();
void FreeCrv3GramCache(Crv3GramCache* cache);

// The quadratic sum_r w[r] int |(C + D)^(r)|^2 + s sum_k |(C + D)(t_k) - q_k|^2 in the
// displacement D, plus a ridge 0.1 s on the diagonal: A (nCtrl x nCtrl) and bx, by, bz with
// A D = -b at the minimum, allocated outside every open scope (matrix_free_ff and Free).
// -2 for a curve that is not a 3D curve (outputs untouched) or when memory ran out (outputs
// null). With `gram`, the Gram matrices come from that cache.
int SetupShrinkWrapCrv3FunctionalMat(const Bspline* curve, const double* t, const double* x,
                                     const double* y, const double* z, int n, double s,
                                     const double w[3], double*** A, double** bx, double** by,
                                     double** bz, Crv3GramCache* gram = nullptr);
// The nCtrl x nCtrl Gram matrix of the r-th derivatives of the curve's basis (zero when the
// degree is at most r), outside every open scope. -2 for a curve that is not a 3D curve.
int ComputeCrv3DiffGramMatrix(const Bspline* curve, int r, double*** G);

// Weights of the first- and second-derivative energies, scaled by the extent of the control
// points and the parameter range so that they do not depend on units; doubled above degree 3.
int GetCrvThinPlateWeights(const Bspline* curve, double tension, double roughness, double* w1,
                           double* w2);
// Those weights times the squared extent of the control points up to unit extent: the same for
// the curve in any unit of length below unit size, so that a fit against samples is the scaled
// fit there; longer curves keep their weights. -2 for a null argument.
int GetCrvThinPlateWeightsBelowUnitSize(const Bspline* curve, double tension, double roughness, double* w1,
                                        double* w2);

// *enough = 1 when no control point carries more constraints than the degree (a position
// counts on the points whose support holds it, a normal at an end on the point next to the end),
// nor do all of them together outnumber the coordinates of the control points.
int IsEnoughCrv3KnotForWrapConstraint(const Bspline* curve, const LinearConstraint* c, int* enough);
// Inserts knots near the constraint parameters, in place, when there are too few. 0, or -2
// with the curve as it came.
int InsertWrapConstraintKnotCrv3(Bspline* curve, const LinearConstraint* c);
// Places knots for the given parameters (the domain ends included), in place; a degree-1
// curve is raised to degree 2 first. 0, or -2 (memory, or a placement that failed) with the
// curve as it came.
int NewInsertReshapeCrv3KnotsDistribute(Bspline* curve, const double* values, int count);
// One knot for t: with midFlag the middle of the longest span that influences t (of the span
// at an end), without it t itself. *inserted 1 when a knot went in.
int InsertOneKnotInCrv3Span(Bspline* curve, double t, int midFlag, int* inserted);
// One knot in the middle of the span before the one holding t (of t's span at an end).
int InsertOneKnotInCrv3Clst(Bspline* curve, double t, int* inserted);
// Midpoint of the longest knot interval of at least 1e-6 among knots[first..last] (the first
// of equal ones).
int FindMidKnotInLongInfluenceSpan(const double* knots, int nKnots, int first, int last, double* u);

// ---- Shrink-wrap on precomputed basis values ------------------------------------------------
// basisValues[k] holds the degree + 1 non-zero basis values at t[k] (first value first) and
// *spans[k] the knot span of t[k]; the caller keeps them consistent with the curve's knots
// (these fits insert no knot). A sample whose span does not fit the curve is ignored.

// Constrained fit. A null record gives ShrinkWrapCrv3NubVals, an empty one ShrinkWrapCrv3.
// With normal constraints the end tangents are checked and, when one has reversed, the fit is
// redone by NewConstrainedShrinkWrapCrv3NubVals. Too few knots: -2. With `gram`, the fit's
// Gram matrices come from that cache.
int ConstrainedShrinkWrapCrv3NubVals(const Bspline* curve, int n, const double* t, const double* x,
                                     const double* y, const double* z,
                                     const ShrnkWrapParams* params,
                                     const LinearConstraint* constraint, double** basisValues,
                                     int** spans, Bspline** result, Crv3GramCache* gram = nullptr);
// Second formulation: normals at an end that has a position target become exact rows that put
// the second (second-to-last) control point on the projected tangent line.
int NewConstrainedShrinkWrapCrv3NubVals(const Bspline* curve, int n, const double* t,
                                        const double* x, const double* y, const double* z,
                                        const ShrnkWrapParams* params,
                                        const LinearConstraint* constraint, double** basisValues,
                                        int** spans, Bspline** result);
int ShrinkWrapCrv3NubVals(const Bspline* curve, int n, const double* t, const double* x,
                          const double* y, const double* z, double** basisValues, int** spans,
                          const ShrnkWrapParams* params, Bspline** result);
int SetupShrinkWrapCrv3FunctionalMatNubVals(const Bspline* curve, const double* t, const double* x,
                                            const double* y, const double* z, double** basisValues,
                                            int** spans, int n, double s, const double w[3],
                                            double*** A, double** bx, double** by, double** bz);

// Constraint matrices of the second formulation, outside every open scope (the caller frees
// them). Positions: one row of nCtrl per constraint inside the domain with dx, dy, dz; the
// targets at the domain ends are returned in new three-double arrays (null when none).
int ComputeReshapeCrv3ConstraintMat(const Bspline* curve, const LinearConstraint* c, double*** posC,
                                    int* nPosRows, double** dx, double** dy, double** dz,
                                    double*** normC, int* nNormRows, double** normD);
int ComputeReshapeCrv3PosConstraintMat(const Bspline* curve, const LinearConstraint* c,
                                       double*** posC, int* nPosRows, double** dx, double** dy,
                                       double** dz, double** startTarget, double** endTarget);
// Normal rows (3 nCtrl wide): at an end with stored normals and a position target, three rows
// fixing the second (second-to-last) control point; every other normal an ordinary row.
int ComputeReshapeCrv3NormConstraintMat(const Bspline* curve, const LinearConstraint* c,
                                        const double* startTarget, const double* endTarget,
                                        double*** normC, int* nNormRows, double** normD);
// Unit direction of v kept tangent to the planes of at most two normals: one normal, the
// projection onto its plane; two non-parallel ones, their cross product oriented along v.
int ProjectVecWrtNormals(const double v[3], const double (*normals)[3], int count, double out[3]);
