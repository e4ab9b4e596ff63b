// Element access a(i, j) over the matrix layouts of the dense routines, so that one body of
// arithmetic serves row-pointer matrices and fixed-size ones on the stack alike.
#pragma once

struct RowPtrView {
  double** a;
  double& operator()(int i, int j) const { return a[i][j]; }
};

struct Fixed3View {
  double (*a)[3];
  double& operator()(int i, int j) const { return a[i][j]; }
};
