#include "cloud/pcopy.h"

#include <cstring>
#include <tuple>

#include "cloud/makecld.h"
#include "foundation/umalloc.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CloudCopy : public KernelTest {};

template <typename T>
T* Filled(int n, T base) {
  auto* a = MallocArray<T>(n);
  for (int i = 0; i < n; ++i) a[i] = static_cast<T>(base + i);
  return a;
}

// A scan cloud of 10 points carrying every optional part.
Cloud* FullCloud() {
  float x[10], y[10], z[10];
  for (int i = 0; i < 10; ++i) x[i] = float(i), y[i] = float(i % 3), z[i] = float(i * i);
  Cloud* c = MakeCld(x, y, z, 10, nullptr);
  const int n = c->npts, bits = CloudBitArrayBytes(n);
  c->type = 13, c->nscans = 2, c->ntri = 2, c->colourFlag = 0, c->farrays.count = 2;
  c->scanStart = Filled<int32_t>(2, 0), c->scanEnd = Filled<int32_t>(2, 8);
  c->nx = Filled<float>(n, 0.5f), c->ny = Filled<float>(n, 1.5f), c->nz = Filled<float>(n, 2.5f);
  c->tri = MallocArray<CloudTriangle>(2);
  c->tri[0] = {{0, 1, 2}, {0, 0, 1, 0}};
  c->tri[1] = {{2, 3, 4}, {0, 1, 0, -1}};
  c->isVert = Filled<uint8_t>(bits, 1), c->isShow = Filled<uint8_t>(bits, 3);
  c->labelIsShow = Filled<uint8_t>(bits, 5);
  c->rowNumber = Filled<int16_t>(n, 7), c->reliability = Filled<uint8_t>(n, 9);
  c->colour[0] = Filled<float>(n, 0.33f), c->colour[2] = Filled<float>(n, 0.66f);
  c->slice = static_cast<CloudSlice*>(Malloc(sizeof(CloudSlice)));
  *c->slice = CloudSlice{};
  c->slice->header[7] = 77, c->slice->nslices = 3;  // of the slice arrays only two are present
  c->slice->scanValue = Filled<float>(2, 1.0f), c->slice->sliceNext = Filled<int32_t>(3, -1);
  c->farrays.arrays = MallocArray<float*>(2);
  c->farrays.arrays[0] = Filled<float>(n, 10.0f), c->farrays.arrays[1] = Filled<float>(n, 20.0f);
  c->farrays.types = Filled<int32_t>(2, 1);
  c->labels = MallocArray<char*>(n);
  for (int i = 0; i < n; ++i)
    c->labels[i] = i % 3 == 1 ? nullptr : std::strcpy(static_cast<char*>(Malloc(5)), i % 2 ? "odd" : "even");
  return c;
}

TEST_F(CloudCopy, CopyIsDeepAndFailsToNullOrAConsistentPartialCopy) {
  EXPECT_EQ(MakeCld(nullptr, nullptr, nullptr, 0, nullptr), nullptr);
  Cloud* src = FullCloud();
  Cloud* copy = CopyCloud(src);
  ASSERT_NE(copy, nullptr);
  EXPECT_FALSE(KernelFailedNow());
  const int n = src->npts, bits = CloudBitArrayBytes(n);
  const size_t f = n * sizeof(float), i2 = 2 * sizeof(int32_t);
  // Every array is the copy's own, equal to the source's, or absent in both.
  for (auto [a, b, bytes] : std::initializer_list<std::tuple<const void*, const void*, size_t>>{
           {src->x, copy->x, f}, {src->z, copy->z, f}, {src->nz, copy->nz, f}, {src->colour[0], copy->colour[0], f},
           {src->colour[1], copy->colour[1], f}, {src->farrays.arrays[1], copy->farrays.arrays[1], f},
           {src->isVert, copy->isVert, bits}, {src->isShow, copy->isShow, bits},
           {src->labelIsShow, copy->labelIsShow, bits}, {src->reliability, copy->reliability, n},
           {src->rowNumber, copy->rowNumber, 2 * n}, {src->tri, copy->tri, 2 * sizeof(CloudTriangle)},
           {src->slice->scanValue, copy->slice->scanValue, 2 * sizeof(float)}, {src->scanEnd, copy->scanEnd, i2},
           {src->farrays.types, copy->farrays.types, i2}, {src->slice->sliceNext, copy->slice->sliceNext, i2},
           {src->slice->sliceEnd, copy->slice->sliceEnd, i2}})
    EXPECT_TRUE(a ? b && a != b && !std::memcmp(a, b, bytes) : !b);
  EXPECT_TRUE(copy->slice->header[7] == 77 && copy->farrays.count == 2 && copy->charLength == src->charLength);
  for (int i = 0; i < n; ++i) {
    const char *l = src->labels[i], *m = copy->labels[i];
    EXPECT_TRUE(l ? m && m != l && !std::strcmp(m, l) : !m) << i;
  }
  FreeCloud(copy);  // ASan reports any array the copy still shared with its source

  // Injected failures give null or a consistent partial copy.
  const long before = MallocRuntimeRequests();
  FreeCloud(CopyCloud(src));
  const long requests = MallocRuntimeRequests() - before;
  int nulls = 0, partials = 0;
  for (long k = 0; k < requests; ++k) {
    ClearKernelError();
    BeginTrackingMallocs();  // the copy must survive its caller's scope
    MallocFailAfter(k, -1);
    Cloud* copy = CopyCloud(src);
    MallocFailClear();
    FreeTrackedMallocs();
    EXPECT_TRUE(KernelFailedNow()) << k;
    (copy ? partials : nulls) += 1;
    if (!copy) continue;
    // Grouped parts are all there or all absent.
    EXPECT_TRUE((copy->nx && copy->ny && copy->nz) || !(copy->nx || copy->ny || copy->nz)) << k;
    EXPECT_EQ(copy->colour[0] != nullptr, copy->colour[2] != nullptr);
    const CloudFarrays& f = copy->farrays;
    EXPECT_TRUE(f.count == 0 || (f.types && f.arrays[0] && f.arrays[1]));
    EXPECT_EQ(copy->x[3], src->x[3]);
    FreeCloud(copy);  // ASan: no leak, no double free
  }
  EXPECT_TRUE(nulls > 0 && partials > 0);
  ClearKernelError();
  FreeCloud(src);

  // A slice that does not fit is left out silently: the copy is whole otherwise and its flags
  // are clear, so callers that test the flags keep it.
  src = FullCloud();
  int sliceless = 0;
  for (long k = 0; k < requests; ++k) {
    ClearKernelError();
    MallocFailAfter(k, 1);
    Cloud* copy = CopyCloud(src);
    MallocFailClear();
    if (copy && !KernelFailedNow() && !copy->slice) {
      ++sliceless;
      EXPECT_TRUE(copy->farrays.count == 2 && copy->labels && copy->nx) << k;
    }
    FreeCloud(copy);
  }
  EXPECT_GT(sliceless, 0);
  ClearKernelError();
  FreeCloud(src);

  char a[] = "a", c[] = "c";
  char* labels[3] = {a, nullptr, c};
  char** out = nullptr;
  const int idx[2] = {2, 0};
  ASSERT_EQ(CopyCloudLabels(labels, 3, &out, idx, 2), 1);
  EXPECT_TRUE(!std::strcmp(out[0], "c") && !std::strcmp(out[1], "a"));
  Free(out[0]), Free(out[1]), Free(out);
}

}  // namespace
