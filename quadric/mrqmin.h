// The subsystem's own Levenberg-Marquardt engine: minimises the weighted sum of squared
// residuals of a per-point model over a chosen subset of its parameters, holding the others.
//
// A run starts with a negative alamda (allocating the run's work arrays and completing lista
// with the held parameters), takes one damped Gauss-Newton step per call (trial a - da; a
// lower chi-square is accepted and alamda falls tenfold, otherwise alamda rises tenfold), and
// ends with alamda 0, which spreads the covariance over covar (ma x ma, held parameters 0) and
// frees the work arrays. Returns 0; 1 when an index occurs twice among the first mfit entries of
// lista; 2 when the entries and the held parameters do not add up to ma; -2 when memory ran
// out (the run's arrays then stay with the caller's scope).
//
// Not re-entrant: one run at a time in the process, 2-D and 3-D together.
#pragma once

// Residual of one point (the target is 0) and its ma partial derivatives.
typedef void (*MrqModel3D)(float x, float y, float z, const double* a, double* residual, double* dyda, int ma);
typedef void (*MrqModel2D)(float x, float y, const double* a, double* residual, double* dyda, int ma);

int mrqmin3D(const float* x, const float* y, const float* z, const double* sig, int ndata, double* a, int ma,
             int* lista, int mfit, double** covar, double** alpha, double* chisq, MrqModel3D funcs,
             double* alamda);
int mrqmin2D(const float* x, const float* y, const double* sig, int ndata, double* a, int ma, int* lista, int mfit,
             double** covar, double** alpha, double* chisq, MrqModel2D funcs, double* alamda);

// The normal equations of the fitted parameters: alpha = sum w J^T J (lower triangle summed,
// then mirrored), beta = sum w r J, chisq = sum w r^2, w = 1 / sig^2. 0, or -2 without memory
// for the derivative scratch.
int mrqcof(const float* x, const float* y, const float* z, const double* sig, int ndata, const double* a, int ma,
           const int* lista, int mfit, double** alpha, double* beta, double* chisq, MrqModel3D funcs);
int mrqcof2D(const float* x, const float* y, const double* sig, int ndata, const double* a, int ma,
             const int* lista, int mfit, double** alpha, double* beta, double* chisq, MrqModel2D funcs);

// Spreads the mfit x mfit covariance of the fitted parameters over the ma x ma matrix ordered by
// parameter index: held rows and columns 0, entry (lista[i], lista[j]) from (i, j), symmetric.
// Does nothing for a null array.
void covsrt(double** covar, int ma, const int* lista, int mfit);

// The driving loop every caller runs: start (alamda -0.1), accepted steps while their count is
// at most maxIterations (a rejected step does not count; alamda reaching 1e25 stops), stopping
// when chisq / ndata or the chi-square change falls below tolerance, then the final call. step
// makes one engine call with the given alamda and returns its result. Returns the first
// non-zero result of a call, else 0.
template <class Step>
int DriveMrqmin(Step step, int ndata, double tolerance, int maxIterations, double* chisq) {
  double alamda = -0.1;
  int r = step(&alamda);
  if (r != 0) return r;
  double prevAlamda = alamda, prevChisq = *chisq;
  for (int accepted = 0; accepted <= maxIterations;) {
    if (alamda >= 1e25) break;
    if ((r = step(&alamda)) != 0) return r;
    if (alamda < prevAlamda) {
      ++accepted;
      const double delta = prevChisq - *chisq < 0.0 ? *chisq - prevChisq : prevChisq - *chisq;
      prevChisq = *chisq;
      if (*chisq / ndata < tolerance || delta < tolerance) break;
    }
    prevAlamda = alamda;
  }
  alamda = 0.0;
  return step(&alamda);
}
