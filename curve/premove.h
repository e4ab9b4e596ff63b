// Spikes along the strings of a cloud (its scans, slices, or runs of points closer than its
// charLength), removed or repaired. It lives on this floor, beside the cloud-cleaning operations
// of cloud/premove, because its repair fits curves (curve/fitcurve).
//
// Spike measure at an interior point p of a string, a = previous - p, b = next - p:
// q = (a.b)^2 / max(|a|^2 |b|^2, 1e-10), negated when a.b < 0 (the cosine squared with its sign:
// near -1 on a straight run, near +1 at a needle). A point is a spike when q > limit. The first
// and last point of a string never are.
#pragma once

struct Cloud;

// limit = cosLimit |cosLimit|. repair 0: the spikes are removed (with mode 1 moved first, which
// changes nothing kept). repair non-zero: mode 1 moves every spike at once to the midpoint of its
// neighbours (the next point's test sees it moved), mode 2 refits spikes by second-order curves
// through the good points around them; other modes change nothing. 1, or 0 on no memory, a
// failed removal or an ordered cloud whose scans (or slices) name no points (RunsNamePoints).
int RemoveSpikesFromClds(Cloud* cloud, double cosLimit, int repair, int mode);
// The same over the given strings (first[s] .. last[s]), limit already squared with its sign. 0,
// nothing changed, for a null cloud or string array (the arbitrary-cloud form alike).
int RemoveSpikesFromCldStrs(Cloud* cloud, int repair, int mode, double limit, int nstr, const int* first,
                            const int* last);
// The strings of an unordered cloud: runs broken where consecutive points lie at least
// charLength apart.
int RemoveSpikesArbitCloud(Cloud* cloud, int repair, int mode, double limit);
// Moves every point whose good byte is 0 onto a degree-2 curve fitted to four good points
// around it in its string (three and one, two and two, or one and three), or, with fewer good
// points, to the midpoint of its neighbours; repaired points count as good for later ones. A
// point whose fit fails stays. 1 (also without strings), 0 when the curve cannot be allocated.
int Do2ndOrderSmoothing(Cloud* cloud, int nstr, const int* first, const int* last, char* good);
