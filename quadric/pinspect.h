// Form measures of a measured point set, as an inspection tool reports them: straightness,
// flatness, roundness, cylindricity, local radius of curvature, concentricity and coaxiality, and
// the nearest point of one cloud for every point of another. Each measure fits the nominal
// feature, maps the points into its frame (an Xform turning the feature's direction onto +z) and
// measures the spread there; frames and fitted values come back for drawing the tolerance zone.
// A measure returns its value, -1.0 when it cannot be formed (also on exhausted memory), or 0.0
// for the degenerate but measurable sets named below. The circle and cylinder fits run the
// process-wide MINPACK state: not re-entrant.
#pragma once

#include "foundation/cloudrec.h"
#include "foundation/vec3.h"

// Radius of the smallest cylinder about the best line holding every point; centre: its centre in
// the line's frame (origin at the line's start), length: the line's length. 0.0 for fewer than 2
// points, a line of no length or points all on the line.
double StraightnessRadius(const Cloud* cloud, double centre[2], Xform frame, double* length);
// Peak-to-valley distance from the best plane; box: the points' box in the plane's frame. 0.0 for
// fewer than 3 points or a failed plane fit.
double FlatnessDist(const Cloud* cloud, Xform frame, Bbox box);
// Width of the narrowest annulus holding the points in their best plane; level: the plane's height
// in the frame. 0.0 for exactly 3 points; -1.0 for fewer or a failed plane fit.
double CircularityDist(const Cloud* cloud, Xform frame, double centre[2], double* innerRadius, double* outerRadius,
                       double* level);
// Width of the narrowest radial zone about the best cylinder's axis direction, with the points'
// height range along it. -1.0 for fewer than 10 points or a failed fit.
double CylindricityDist(const Cloud* cloud, Xform frame, double centre[2], double* innerRadius,
                        double* outerRadius, double* zMin, double* zMax);
// Radius of the sphere fitted to the point `index` and its neighbours within r; centre: the
// sphere's. -1.0 for no cloud, an index outside the cloud, fewer than 4 points within r or a
// failed fit.
double PointRadCurva(const Cloud* cloud, int index, double r, double centre[3]);
// Distance of the best circle's centre (in the best plane) from reference. Shows "Cannot fit to
// this data." when the circle fit fails; -1.0 then, and for fewer than 3 points.
double ConcentricityDist2(const Cloud* cloud, Xform frame, double centre[2], double* radius, double* level,
                          const double reference[3]);
// Larger distance of the fitted axis segment's two ends (the points' height range along the axis)
// from the line through linePoint along lineDir; axisFoot: the lower end in the frame. -1.0 for
// fewer than 6 points or a failed fit.
double CoaxialityDist2(const Cloud* cloud, Xform frame, double axisFoot[3], double* radius, double* zMin,
                       double* zMax, const double linePoint[3], const double lineDir[3]);
// index[k]: the nearest point of a to point k of b when closer than r, else -1; hits: the number
// of entries found. box: a's box for the bin grid. Shows progress, polls the user break every 500
// points. 0; -1 for no cloud or a break (later entries unwritten); -2 for an empty a, an r that is
// not a number or no memory.
int CloudCloudDiffIndex(const Cloud* a, const Cloud* b, double r, int* index, int* hits, const Bbox box);
// A point of the plane a x + b y + c z + d = 0 on the coordinate axis of its largest normal
// component (x, then z, then y on ties as the comparisons fall).
void GetArbitPointOnPlane(const PlaneEq plane, double point[3]);
