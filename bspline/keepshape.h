// Putting an object back as it was after an operation that works on it in place has failed
// part way: the operation copies the object first (CopyBsplineStruct) and, on failure, hands
// the copy's arrays back.
#pragma once

#include "bspline/smake.h"

// Gives obj the knot vectors, coefficient matrices, degrees, interior counts, domain and
// rational flag of `saved`, a copy of obj taken before obj changed, and frees the arrays obj
// holds now. saved's arrays move over (saved is left without arrays, for its owner to free), so
// nothing is allocated and the way back cannot fail. obj keeps everything else: its links
// (owner, curve list, trim loops), exact form and cached properties, which the in-place
// operations leave alone. Both are left as they are (error state -2) when either's structure is
// not sound (bsvalid) or saved is not of obj's kind and dimension.
void RestoreBsplineShape(Bspline* obj, Bspline* saved);
