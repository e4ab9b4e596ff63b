#include "quadric/mrqmin.h"

#include "foundation/coreglob.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"

namespace {

// The running fit's work arrays (one run at a time in the process).
double* atry = nullptr;   // trial parameters (ma)
double* beta = nullptr;   // right-hand side of the accepted step (ma)
double* da = nullptr;     // the step (ma)
double* oneda = nullptr;  // right-hand side handed to the solver (mfit)
double ochisq = 0.0;      // chi-square of the accepted parameters

void FreeRunArrays() {
  Free(atry);
  Free(beta);
  Free(da);
  Free(oneda);
  atry = beta = da = oneda = nullptr;
}

// One point of the data in either dimension.
struct Points3D {
  const float *x, *y, *z;
  MrqModel3D funcs;
  void operator()(int i, const double* a, double* r, double* dyda, int ma) const {
    funcs(x[i], y[i], z[i], a, r, dyda, ma);
  }
};
struct Points2D {
  const float *x, *y;
  MrqModel2D funcs;
  void operator()(int i, const double* a, double* r, double* dyda, int ma) const {
    funcs(x[i], y[i], a, r, dyda, ma);
  }
};

template <class Model>
int NormalEquations(const Model& model, const double* sig, int ndata, const double* a, int ma, const int* lista,
                    int mfit, double** alpha, double* b, double* chisq) {
  TrackingScope scope;
  double* dyda = MallocArray<double>(ma);
  if (!dyda || KernelFailed()) return -2;
  for (int j = 0; j < mfit; ++j) {
    for (int k = 0; k <= j; ++k) alpha[j][k] = 0.0;
    b[j] = 0.0;
  }
  *chisq = 0.0;
  for (int i = 0; i < ndata; ++i) {
    double r = 0.0;
    model(i, a, &r, dyda, ma);
    const double w = 1.0 / (sig[i] * sig[i]);
    for (int j = 0; j < mfit; ++j) {
      const double wt = dyda[lista[j]] * w;
      for (int k = 0; k <= j; ++k) alpha[j][k] += wt * dyda[lista[k]];
      b[j] += r * wt;
    }
    *chisq += r * r * w;
  }
  for (int j = 1; j < mfit; ++j)
    for (int k = 0; k < j; ++k) alpha[k][j] = alpha[j][k];
  return 0;
}

// Completes lista with the held parameters: 1 for a repeated index, 2 when the count is not ma.
int CompleteLista(int* lista, int ma, int mfit) {
  int count = mfit;
  for (int k = 0; k < ma; ++k) {
    int seen = 0;
    for (int j = 0; j < mfit; ++j)
      if (lista[j] == k) ++seen;
    if (seen > 1) return 1;
    if (seen == 0) {
      if (count >= ma) return 2;
      lista[count++] = k;
    }
  }
  return count == ma ? 0 : 2;
}

template <class Model>
int Mrqmin(const Model& model, const double* sig, int ndata, double* a, int ma, int* lista, int mfit,
           double** covar, double** alpha, double* chisq, double* alamda) {
  if (*alamda < 0.0) {
    atry = MallocArray<double>(ma);
    beta = MallocArray<double>(ma);
    da = MallocArray<double>(ma);
    oneda = MallocArray<double>(mfit);
    if (!atry || !beta || !da || !oneda || KernelFailed()) return -2;
    const int listed = CompleteLista(lista, ma, mfit);
    if (listed != 0) return listed;
    *alamda = 0.001;
    if (NormalEquations(model, sig, ndata, a, ma, lista, mfit, alpha, beta, chisq) != 0) return -2;
    ochisq = *chisq;
  }
  for (int j = 0; j < mfit; ++j) {
    for (int k = 0; k < mfit; ++k) covar[j][k] = alpha[j][k];
    covar[j][j] = alpha[j][j] * (1.0 + *alamda);
    oneda[j] = beta[j];
  }
  // A singular system leaves da equal to oneda: the step is then a plain gradient step.
  SolveLinearSystem_ff(covar, mfit, oneda, da);
  if (*alamda == 0.0) {
    covsrt(covar, ma, lista, mfit);
    FreeRunArrays();
    return 0;
  }
  for (int j = 0; j < ma; ++j) atry[j] = a[j];
  for (int j = 0; j < mfit; ++j) atry[lista[j]] = a[lista[j]] - da[j];
  if (NormalEquations(model, sig, ndata, atry, ma, lista, mfit, covar, da, chisq) != 0) return -2;
  if (*chisq < ochisq) {
    *alamda *= 0.1;
    ochisq = *chisq;
    for (int j = 0; j < mfit; ++j) {
      for (int k = 0; k < mfit; ++k) alpha[j][k] = covar[j][k];
      beta[j] = da[j];
      a[lista[j]] = atry[lista[j]];
    }
  } else {
    *alamda *= 10.0;
    *chisq = ochisq;
  }
  return 0;
}

}  // namespace

int mrqcof(const float* x, const float* y, const float* z, const double* sig, int ndata, const double* a, int ma,
           const int* lista, int mfit, double** alpha, double* b, double* chisq, MrqModel3D funcs) {
  return NormalEquations(Points3D{x, y, z, funcs}, sig, ndata, a, ma, lista, mfit, alpha, b, chisq);
}

int mrqcof2D(const float* x, const float* y, const double* sig, int ndata, const double* a, int ma,
             const int* lista, int mfit, double** alpha, double* b, double* chisq, MrqModel2D funcs) {
  return NormalEquations(Points2D{x, y, funcs}, sig, ndata, a, ma, lista, mfit, alpha, b, chisq);
}

int mrqmin3D(const float* x, const float* y, const float* z, const double* sig, int ndata, double* a, int ma,
             int* lista, int mfit, double** covar, double** alpha, double* chisq, MrqModel3D funcs,
             double* alamda) {
  return Mrqmin(Points3D{x, y, z, funcs}, sig, ndata, a, ma, lista, mfit, covar, alpha, chisq, alamda);
}

int mrqmin2D(const float* x, const float* y, const double* sig, int ndata, double* a, int ma, int* lista, int mfit,
             double** covar, double** alpha, double* chisq, MrqModel2D funcs, double* alamda) {
  return Mrqmin(Points2D{x, y, funcs}, sig, ndata, a, ma, lista, mfit, covar, alpha, chisq, alamda);
}

void covsrt(double** covar, int ma, const int* lista, int mfit) {
  if (mfit < 1 || !covar || !lista) return;
  // In place: the fitted block's upper triangle is the source; its entries move into the lower
  // triangle at their parameter indices (below the diagonal of the full matrix, which the fitted
  // block's upper triangle never overlaps), the diagonal goes through row 0, then the lower
  // triangle is mirrored.
  for (int j = 0; j < ma - 1; ++j)
    for (int i = j + 1; i < ma; ++i) covar[i][j] = 0.0;
  for (int i = 0; i < mfit - 1; ++i)
    for (int j = i + 1; j < mfit; ++j) {
      if (lista[j] > lista[i])
        covar[lista[j]][lista[i]] = covar[i][j];
      else
        covar[lista[i]][lista[j]] = covar[i][j];
    }
  const double first = covar[0][0];
  for (int j = 0; j < ma; ++j) {
    covar[0][j] = covar[j][j];
    covar[j][j] = 0.0;
  }
  covar[lista[0]][lista[0]] = first;
  for (int j = 1; j < mfit; ++j) covar[lista[j]][lista[j]] = covar[0][j];
  for (int j = 1; j < ma; ++j)
    for (int i = 0; i < j; ++i) covar[i][j] = covar[j][i];
}
