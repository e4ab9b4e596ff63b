// Unconstrained minimisation of a smooth function of n doubles: Polak-Ribiere conjugate
// gradients with a bounded, derivative-free line search (Brent). The line search keeps its
// one-dimensional function in file statics, so it is not re-entrant.
#pragma once

// Callbacks take the point as n doubles. func and dfunc return 0 on success; check returns 1 to
// veto a point.
typedef int (*LsrchFunc)(const double* x, int n, double* value);
typedef int (*LsrchDFunc)(const double* x, int n, double* gradient);
typedef int (*LsrchCheck)(const double* x, int n);

// Minimises func from p; p receives the final point, *iterations the iteration count and *fret
// the final value. 0 when at least one line search improved (or kept) the value and its point
// was not vetoed afterwards, else -2 (also for a null p, no memory, or a failing first func or
// dfunc call, p then unchanged). A failing gradient call later stops the iteration at the last
// good point. scale sets the step limits (first step at most 0.2 scale). check may be null.
int FrprMin(double* p, int n, double ftol, int itmax, double scale, int* iterations,
            double* fret, LsrchFunc func, LsrchDFunc dfunc, LsrchCheck check);

// Minimises along the unit vector of xi from p over step lengths [0, min(stepMax, 1)]; moves p
// to the minimum and writes the value there. xi is not changed. A zero direction is no move:
// p stays and *fret is the value at p. 0, or -2 for no memory.
int LineMin(double* p, const double* xi, int n, double stepMax, double tol, int itmax,
            double* fret, LsrchFunc func);

// The function at lminXarray + t lminDirection (valid only during LineMin).
double lminF1dim(double t);

// Brent's derivative-free minimisation of f on [a, b]: writes the abscissa of the minimum and
// returns f there.
double DminBrent(double a, double b, double (*f)(double), double tol, int itmax, double* xmin);
