#include "tests/support/kernel_fixture.h"

void KernelTest::SetUp() {
  StubReset();
  MallocFailClear();
  ClearKernelError();
  messages_.clear();
  StubSetMessageSink(&KernelTest::Collect, this);
}

void KernelTest::TearDown() {
  MallocFailClear();
  EXPECT_EQ(MallocTrackLevel(), 0) << "a tracking scope was left open";
  while (MallocTrackLevel() > 0) FreeTrackedMallocs();
  ClearKernelError();
  StubReset();
}

void KernelTest::Collect(StubMessageKind kind, const char* text, void* user) {
  if (kind == kStubClearStatus) return;
  static_cast<KernelTest*>(user)->messages_ += text;
}
