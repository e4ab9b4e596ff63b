// Shared test fixture: every case starts with a clean kernel state (error globals, host stub,
// no scheduled allocation failure) and must leave no tracking scope open behind it.
#pragma once

#include <gtest/gtest.h>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "platform/tstubs.h"
#include "platform/tstubs_control.h"

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Collects the host messages shown during the case.
  const std::string& Messages() const { return messages_; }

 private:
  static void Collect(StubMessageKind kind, const char* text, void* user);
  std::string messages_;
};

// The kernel's own failure test, for assertions.
inline bool KernelFailedNow() { return KernelFailed(); }
