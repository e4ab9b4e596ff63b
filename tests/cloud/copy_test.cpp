#include "cloud/pcopy.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "cloud/makecld.h"
#include "foundation/umalloc.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CloudCopy : public KernelTest {};

template <typename T>
T* Filled(int n, T base) {
  auto* a = static_cast<T*>(Malloc(static_cast<unsigned>(n) * sizeof(T)));
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
  c->tri = static_cast<CloudTriangle*>(Malloc(2 * sizeof(CloudTriangle)));
  c->tri[0] = {{0, 1, 2}, {0, 0, 1, 0}};
  c->tri[1] = {{2, 3, 4}, {0, 1, 0, -1}};
  c->isVert = Filled<uint8_t>(bits, 1), c->isShow = Filled<uint8_t>(bits, 3);
  c->labelIsShow = Filled<uint8_t>(bits, 5);
  c->rowNumber = Filled<int16_t>(n, 7), c->reliability = Filled<uint8_t>(n, 9);
  c->colour[0] = Filled<float>(n, 0.33f), c->colour[2] = Filled<float>(n, 0.66f);
  c->slice = static_cast<CloudSlice*>(Malloc(sizeof(CloudSlice)));
  *c->slice = CloudSlice{};
  CloudSlice& s = *c->slice;
  s.header[7] = 77, s.nslices = 3;
  s.scanValue = Filled<float>(2, 1.0f), s.sliceNext = Filled<int32_t>(3, -1);  // the other arrays absent
  c->farrays.arrays = static_cast<float**>(Malloc(2 * sizeof(float*)));
  c->farrays.arrays[0] = Filled<float>(n, 10.0f), c->farrays.arrays[1] = Filled<float>(n, 20.0f);
  c->farrays.types = Filled<int32_t>(2, 1);
  c->labels = static_cast<char**>(Malloc(static_cast<unsigned>(n) * sizeof(char*)));
  for (int i = 0; i < n; ++i) {
    const char* text = i % 2 ? "odd" : "even";
    c->labels[i] = i % 3 == 1 ? nullptr : std::strcpy(static_cast<char*>(Malloc(5)), text);
  }
  return c;
}

template <typename T>
void ExpectOwnCopy(const T* a, const T* b, int n) {
  ASSERT_EQ(a == nullptr, b == nullptr);
  EXPECT_TRUE(!a || (a != b && std::memcmp(a, b, static_cast<size_t>(n) * sizeof(T)) == 0));
}

TEST_F(CloudCopy, MakeCldCopiesPointsAndSetsBoxAndCharLength) {
  float x[20], y[20], z[20] = {};
  for (int i = 0; i < 20; ++i) x[i] = float(i % 4), y[i] = float(i % 5) * 0.5f;
  EXPECT_EQ(MakeCld(x, y, z, 0, nullptr), nullptr);
  EXPECT_FALSE(KernelFailedNow());
  double box[6];
  Cloud* c19 = MakeCld(x, y, z, 19, box);
  Cloud* c20 = MakeCld(x, y, z, 20, nullptr);
  const double diagonal = std::sqrt(3.0 * 3.0 + 2.0 * 2.0);  // few points: twice the box diagonal
  EXPECT_TRUE(box[0] == 0 && box[3] == 3 && box[4] == 2 && c19->charLength == 2 * diagonal);
  EXPECT_DOUBLE_EQ(c20->charLength, diagonal / 3);
  x[0] = 99;  // copies, not the caller's arrays
  EXPECT_EQ(c20->x[0], 0);
  FreeCloud(c19);
  FreeCloud(c20);
  FreeCloud(nullptr);
}

TEST_F(CloudCopy, CopyIsDeepAndOutlivesItsSource) {
  Cloud* src = FullCloud();
  Cloud* copy = CopyCloud(src);
  ASSERT_NE(copy, nullptr);
  EXPECT_FALSE(KernelFailedNow());
  const int n = src->npts, bits = CloudBitArrayBytes(n);
  for (auto [a, b] : {std::pair{src->x, copy->x}, {src->z, copy->z}, {src->nz, copy->nz},
                      {src->colour[0], copy->colour[0]}, {src->colour[1], copy->colour[1]},
                      {src->farrays.arrays[1], copy->farrays.arrays[1]}})
    ExpectOwnCopy(a, b, n);
  for (auto [a, b] : {std::pair{src->isVert, copy->isVert}, {src->isShow, copy->isShow},
                      {src->labelIsShow, copy->labelIsShow}})
    ExpectOwnCopy(a, b, bits);
  ExpectOwnCopy(src->reliability, copy->reliability, n);
  ExpectOwnCopy(src->rowNumber, copy->rowNumber, n);
  ExpectOwnCopy(src->tri, copy->tri, 2);
  for (auto [a, b] : {std::pair{src->scanEnd, copy->scanEnd}, {src->farrays.types, copy->farrays.types},
                      {src->slice->sliceNext, copy->slice->sliceNext}, {src->slice->sliceEnd, copy->slice->sliceEnd}})
    ExpectOwnCopy(a, b, 2);
  ExpectOwnCopy(src->slice->scanValue, copy->slice->scanValue, 2);
  EXPECT_TRUE(copy->slice->header[7] == 77 && copy->farrays.count == 2 && copy->charLength == src->charLength);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(src->labels[i] == nullptr, copy->labels[i] == nullptr);
    const char* l = src->labels[i];
    EXPECT_TRUE(!l || (copy->labels[i] != l && !std::strcmp(copy->labels[i], l)));
  }
  FreeCloud(src);
  FreeCloud(copy);  // ASan reports any array the copy still shared with its source
}

TEST_F(CloudCopy, InjectedFailuresGiveNullOrAConsistentPartialCopy) {
  Cloud* src = FullCloud();
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
    nulls += copy == nullptr;
    if (!copy) continue;
    ++partials;
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

  char a[] = "a", c[] = "c";
  char* labels[3] = {a, nullptr, c};
  char** out = nullptr;
  const int idx[2] = {2, 0};
  ASSERT_EQ(CopyCloudLabels(labels, 3, &out, idx, 2), 1);
  EXPECT_TRUE(!std::strcmp(out[0], "c") && !std::strcmp(out[1], "a"));
  Free(out[0]), Free(out[1]), Free(out);
  MallocFailAfter(2, -1);
  EXPECT_EQ(CopyCloudLabels(labels, 3, &out, nullptr, 0), 0);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
