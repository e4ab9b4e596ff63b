// Evaluation with derivative requests: derivatives of the basis functions instead of
// derivative control nets. A caller gives a list of requests (du[k], dv[k]), orders 0 to 2,
// and gets one 3D vector per request at a point or on a grid; the basis values and their
// derivatives can be computed once and reused for many objects with the same knots.
// Nothing here changes the evaluated record or uses global scratch.
//
// Basis-derivative table of one parameter: three rows of p + 1 doubles, row k holding the
// k-th derivatives of N(span-p) .. N(span), indexed from 0 (table[k (p + 1) + i]).
#pragma once

#include "bspline/nubutil.h"
#include "bspline/smake.h"

struct SurfEditStruct;
struct PlotEditStruct;

// Fills the rows of the listed orders (0, 1 or 2) for t clamped into the domain; rows not
// listed are left as they were. Nothing is done when the first order is above 2; later
// orders above 2 are skipped. *span is the search start (the degree for a fresh search) and
// receives the span. Returns 0, or -2 (nothing written) for a null array, a degree outside
// 0..kMaxSplineDegree or nKnots below 2 p + 2 (fewer control points than p + 1).
int ComputeNubValDerivativesM(const double* knots, double t, int nKnots, int p, const int* orders,
                              int count, int* span, double* table);

// n requests at (u, v) (dv read for surfaces only; a curve passes t as u) into out[k].
// A 2D curve gives (u, v, 0) values unless mapFlag maps it through its owner surface.
// Returns 0; -2 with nothing written when an order exceeds 2, the knots the point's spans read
// decrease or are not numbers, or a value comes out not finite (huge coefficients).
int EvalPointOnGeometryM(const Bspline* obj, double u, double v, const int* du, const int* dv,
                         int n, int mapFlag, double (*out)[3]);
// The same at count points (u[m], v[m]), point m's requests into out[m n + k]; a point whose
// spans' knots are out of order, or with a value that is not finite, is left unwritten and makes
// the result -2. A parameter equal to
// the one before it reuses its basis table: along a surface's side the fixed parameter's is
// taken once. Each value is the one EvalPointOnGeometryM gives at that point.
int EvalPointsOnGeometryM(const Bspline* obj, const double* u, const double* v, int count, const int* du,
                          const int* dv, int n, int mapFlag, double (*out)[3]);

// The same on the grid us x vs: out[j nu + i] points to 3 n doubles (request k at 3 k).
// On a surface a request with du + dv above 2 is skipped and takes no output slot (the
// following results move up; callers rely on that). Returns 0, or -2 with nothing written
// when an order exceeds 2 or the tables cannot be allocated.
int EvalGridOnGeometryM(const Bspline* obj, const double* us, const double* vs, int nu, int nv,
                        const int* du, const int* dv, int n, int mapFlag, double** out);
// nu x nv evenly spaced parameters over the domain (one parameter: the domain start).
int EvalUniformGridOnGeometryM(const Bspline* obj, int nu, int nv, const int* du, const int* dv,
                               int n, int mapFlag, double** out);

// One basis-derivative table per grid value (3 (p + 1) doubles each, consecutive) and one
// span per value, for the orders the requests need; each search starts again from the
// degree. The four arrays are new blocks owned by the caller (Free); v outputs are set to
// null for a curve. Returns 0, or -2 with nothing allocated when an order exceeds 2 or memory
// fails.
int EvalNubValsOnGridM(const Bspline* obj, const double* us, const double* vs, int nu, int nv,
                       const int* du, const int* dv, int n, double** uTables, double** vTables,
                       int** uSpans, int** vSpans);
// The grid from tables and spans EvalNubValsOnGridM made: 0, or -2 with nothing written (error
// state set) for a record whose structure is not sound (bsvalid) or a span outside the net.
int EvalGridOnGeometryGivenNubValsM(const Bspline* obj, int nu, int nv, const int* du,
                                    const int* dv, int n, const double* uTables,
                                    const double* vTables, const int* uSpans, const int* vSpans,
                                    int mapFlag, double** out);
int EvalPointOnGeometryGivenNubValsM(const Bspline* obj, const int* du, const int* dv, int n,
                                     const double* uTable, const double* vTable, int uSpan,
                                     int vSpan, int mapFlag, double (*out)[3]);

// The forms below given spans refuse (-2, out untouched, error state set) an object whose
// structure is not sound (bsvalid) or a span outside degree .. control points - 1.
// Sum of basis products times coefficients over the span's window (rows: p + 1 values from
// index 0; vRow is not read for a curve). A 2D curve writes (u, v, 0). Returns 0.
int EvalPointOnBspline(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                       int vSpan, double out[3]);
// Homogeneous sum: x w, y w, z w and the weight sum (weights 1 for a non-rational object);
// z is 0 for a 2D curve.
int EvalPointOnBspline4D(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                         int vSpan, double out[4]);
// Rational point (du = dv = 0) or derivative by the quotient rule from whole tables (every
// order up to the requested one must be filled). Returns 0, or -2 for orders above 2.
int EvalPointOnRBspline(const Bspline* obj, const double* uTable, const double* vTable, int uSpan,
                        int vSpan, int du, int dv, double out[3]);
int EvalPointCrossDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                 int uSpan, int vSpan, int du, int dv, double out[3]);
// Pure derivative along one direction; a surface request with du and dv both nonzero is handed
// to the cross form.
int EvalPointDirectDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                  int uSpan, int vSpan, int du, int dv, double out[3]);

// Point or derivative (order 0 to 2) of a 2D curve from its table: (u, v, 0) forms, or with
// mapFlag the point and derivatives in space through the owner surface. -2 for order > 2.
int EvalPointOn2DBspline(const Bspline* crv, const double* table, int span, int order, int mapFlag,
                         double out[3]);

// Re-evaluate chosen points of an edit record's grid (request du, dv at each point), into
// x, y, z or, when x is null, into the record's own output arrays. mask bit 1: the grid
// points inside the edit region; bit 2: the extra points inside; bit 4: the trailing values.
// Return 0, or -2 for orders above 2.
int EvalPartialBsplineGridIndices(const Bspline* obj, SurfEditStruct* rec, int du, int dv, float* x,
                                  float* y, float* z, int mask);
int EvalPartialBsplineGridIndices_d(const Bspline* obj, SurfEditStruct* rec, int du, int dv,
                                    double* x, double* y, double* z, int mask);
// The same over a plot record: bit 1 the affected grid points (grid width uOffset), bit 2 the
// affected needle entries below needleLimit (table positions uOffset + index, vOffset +
// index); a plot record has no trailing run.
int EvalPartialPlotIndices(const Bspline* obj, PlotEditStruct* rec, int du, int dv, float* x,
                           float* y, float* z, int mask);
