// Outlier removal of clouds by local sphere or plane fits. It lives on this floor, beside the
// cloud-cleaning operations of cloud/premove, because it fits spheres (quadric/sphere).
#pragma once

struct Cloud;

// Drops the points that do not fit the local surface of their neighbours within radius: a point
// without neighbours goes; one with 1 to 3 stays; with 4 or more a sphere (useSphere) or a
// plane is fitted to the neighbours and the point stays when it lies at most tol from it (or
// when the fit fails). In sphere mode neighbours more than half of which lie within 1e-6 radius
// of their coordinate-wise median (one heap of coincident points, as garbage records of tiny
// values make) fit no sphere: the point stays without a fit. Shows "Remove 3D outlier points" (left on the status line) and the
// thermometer, polls the user break at every point. 1; 0 for a null cloud, a point that is not
// finite, a radius not positive or a tol negative (or either beyond the double range when
// squared), no memory or a user break (the cloud then unchanged). The neighbours are found with a
// balanced tree, so points spread over many orders of magnitude cost no more than a scan.
int OutlierRemove(Cloud* cloud, double radius, double tol, int useSphere);
