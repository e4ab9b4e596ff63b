// Written by scripts/entry-sweep --open: the functions of the entry table that the last full
// sweep found reading a record they cannot read (a crash, a sanitizer report, a call past the
// time bound, or an unsound record handed back). The suite's share of the table leaves them
// out; each is mended by a check at its entry, and the sweep then drops it from this list.
#pragma once

#include <array>

inline constexpr std::array<const char*, 0> kEntriesStillOpen = {
};
