// Conversions between Cartesian, cylindrical (theta, h, r) and spherical (theta, phi, r)
// coordinates. Angles are in radians here, unlike every other kernel interface.
//
// theta comes from x and y: 0 when both are below 1e-4 in magnitude; pi/2 or 3pi/2 when only x
// is; otherwise atan(y/x) moved into [0, 2pi), except that a slightly negative y (down to
// -1e-4) with x > 0 keeps its slightly negative angle (legacy behaviour the cylindrical fits'
// seam search relies on). phi is measured from +z and lies in [0, pi].
#pragma once

struct Cloud;

// Cylindrical (theta about z, height h = z, radius r in the xy plane) to Cartesian and back.
void theta_h_to_xyz(double theta, double h, double r, double* x, double* y, double* z);
void xyz_to_theta_h(double x, double y, double z, double* theta, double* h, double* r);
// Spherical (theta about z, phi from +z, radius r) to Cartesian and back.
void theta_phi_to_xyz(double theta, double phi, double r, double* x, double* y, double* z);
void xyz_to_theta_phi(double x, double y, double z, double* theta, double* phi, double* r);

// For type 5 only: mode 2 or 6 converts each (theta, h, r) in (a, b, c) to (x, y, z) in place,
// mode 3 or 7 each (theta, phi, r). Every other type and mode does nothing.
void put_object_to_world(double* a, double* b, double* c, int n, int type, int mode);

// Mode 1: (theta, h, r) to (x, y, z) in place, then the canonical cloud's axis point
// (grid.cylCentre) is added, placed by its axis code grid.rowAxis (0: the cylinder axis was x,
// 1: y, otherwise z). Mode 2: (theta, phi, r) to (x, y, z), no offset. Other modes: nothing.
// A null frame adds no offset.
void TransformArraysToXYZSpace(double* a, double* b, double* c, int n, int mode,
                               const Cloud* frame);
