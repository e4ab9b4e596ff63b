// Deviation of a measured cloud from a reference cloud with normals, stored as the cloud's
// difference group (cloud/pnterr.h). It lives on this floor because the nearest-point search
// is the inspection module's (quadric/pinspect).
#pragma once

struct Cloud;

// For every cloud point q the nearest reference point r closer than maxDist: the foot is q
// projected onto the plane through r with r's normal and the deviation its signed distance
// (negative when the foot lies against the normal from q); a reference normal of (0, 0, 0)
// gives r itself and |q - r|. match (may be null) receives a new array (the caller's, Free) of
// the matched reference index per point, -1 for none. 1; 0 when the reference has no normals,
// nothing matched, a user break or no memory (the old group is gone then too).
int CldToCldDiff(const Cloud* ref, Cloud* cloud, double maxDist, int** match);
