// Internal to foundation/ and the tests: hooks into the tracked allocator for failure-injection
// tests and allocation statistics. Not installed: a user of the kernel has no use for them.
#pragma once

#include "foundation/umalloc.h"

// The C runtime's allocator as the kernel sees it can be made to refuse requests: after `skip`
// further successful runtime requests (malloc and realloc, tracking nodes included), the next
// `count` are refused; count < 0 refuses every later request until MallocFailClear().
void MallocFailAfter(long skip, long count);
void MallocFailClear();
// Runtime requests made so far (for sizing failure-injection loops).
long MallocRuntimeRequests();
// Tracked blocks alive in all open scopes.
int MallocTrackedCount();
// The bytes a live block was asked for (0 for null): how a test walks an array of records a
// call handed back without saying its length.
unsigned MallocBlockSize(void* block);
// Does nothing; called whenever the largest count of tracked blocks rises (a place for a
// debugger's breakpoint).
void break_here_for_stats();
