// Written by scripts/entry-sweep --open: the functions of the entry table that the last full
// sweep found reading a record they cannot read (a crash, a sanitizer report, a call past the
// time bound, or an unsound record handed back). The suite's share of the table leaves them
// out; each is mended by a check at its entry, and the sweep then drops it from this list.
#pragma once

inline constexpr const char* kEntriesStillOpen[] = {
    "",
};

// The functions of the second table (clouds, meshes, arrays of numbers) the last full sweep found
// failing as those above, and those that fail only when an array they read is null (given every
// other fault).
inline constexpr const char* kPointEntriesStillOpen[] = {
    "",
};
inline constexpr const char* kNullInputsStillOpen[] = {
    "",
};
