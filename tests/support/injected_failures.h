// Failure injection for the suites: every run refuses all allocations after a growing number
// of successful ones, and must leave no scope open and nothing tracked.
#pragma once

#include <gtest/gtest.h>

#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"

// attempt() returns the kernel's result and releases whatever it got. Returns the number of
// runs that failed.
template <class Attempt>
int RunWithInjectedFailures(long maxSkip, long step, Attempt attempt) {
  int failures = 0;
  for (long skip = 0; skip < maxSkip; skip += step) {
    ClearKernelError();
    MallocFailAfter(skip, -1);
    const int r = attempt();
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0) << skip;
    if (r != 0) ++failures;
  }
  ClearKernelError();
  return failures;
}

// The same for an operation that hands back a new record: a failed run hands back none.
template <class Make>
int RunMakerWithInjectedFailures(long maxSkip, long step, Make make) {
  return RunWithInjectedFailures(maxSkip, step, [&] {
    Bspline* out = nullptr;
    const int r = make(&out);
    if (r != 0) {
      EXPECT_EQ(out, nullptr);
    } else {
      FreeBspline(out);
    }
    return r;
  });
}
