#include "cloud/pcopy.h"

#include <cmath>
#include <cstring>

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

char* Text(const char* s) {
  auto* t = static_cast<char*>(Malloc(static_cast<unsigned>(std::strlen(s) + 1)));
  std::strcpy(t, s);
  return t;
}

// A scan cloud of 10 points carrying every optional part.
Cloud* FullCloud() {
  float x[10], y[10], z[10];
  for (int i = 0; i < 10; ++i) x[i] = float(i), y[i] = float(i % 3), z[i] = float(i * i);
  Cloud* c = MakeCld(x, y, z, 10, nullptr);
  const int n = c->npts;
  c->type = 13;
  c->nscans = 2;
  c->scanStart = Filled<int32_t>(2, 0);
  c->scanEnd = Filled<int32_t>(2, 8);  // {8, 9}: only the values matter here
  c->nx = Filled<float>(n, 0.5f), c->ny = Filled<float>(n, 1.5f), c->nz = Filled<float>(n, 2.5f);
  c->ntri = 2;
  c->tri = static_cast<CloudTriangle*>(Malloc(2 * sizeof(CloudTriangle)));
  c->tri[0] = {{0, 1, 2}, {0, 0, 1, 0}};
  c->tri[1] = {{2, 3, 4}, {0, 1, 0, -1}};
  c->isVert = Filled<uint8_t>(CloudBitArrayBytes(n), 1);
  c->isShow = Filled<uint8_t>(CloudBitArrayBytes(n), 3);
  c->labelIsShow = Filled<uint8_t>(CloudBitArrayBytes(n), 5);
  c->rowNumber = Filled<int16_t>(n, 7);
  c->reliability = Filled<uint8_t>(n, 9);
  c->colourFlag = 0;
  c->colour[0] = Filled<float>(n, 0.33f);
  c->colour[2] = Filled<float>(n, 0.66f);
  c->slice = static_cast<CloudSlice*>(Malloc(sizeof(CloudSlice)));
  *c->slice = CloudSlice{};
  c->slice->header[7] = 77;
  c->slice->nslices = 3;
  c->slice->scanValue = Filled<float>(2, 1.0f);
  c->slice->scanFirstSlice = Filled<int32_t>(2, 0);
  c->slice->scanSliceCount = Filled<int32_t>(2, 1);
  c->slice->sliceStart = Filled<int32_t>(3, 0);
  c->slice->sliceEnd = Filled<int32_t>(3, 3);
  c->slice->sliceKind = Filled<uint8_t>(3, 1);
  c->slice->sliceFlag = Filled<uint8_t>(3, 0);
  c->slice->sliceNext = Filled<int32_t>(3, -1);
  c->farrays.count = 2;
  c->farrays.arrays = static_cast<float**>(Malloc(2 * sizeof(float*)));
  c->farrays.arrays[0] = Filled<float>(n, 10.0f);
  c->farrays.arrays[1] = Filled<float>(n, 20.0f);
  c->farrays.types = Filled<int32_t>(2, 1);
  c->labels = static_cast<char**>(Malloc(static_cast<unsigned>(n) * sizeof(char*)));
  for (int i = 0; i < n; ++i) c->labels[i] = i % 3 == 1 ? nullptr : Text(i % 2 ? "odd" : "even");
  return c;
}

template <typename T>
void ExpectOwnCopy(const T* a, const T* b, int n) {
  if (!a) {
    EXPECT_EQ(b, nullptr);
    return;
  }
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(std::memcmp(a, b, static_cast<size_t>(n) * sizeof(T)), 0);
}

TEST_F(CloudCopy, MakeCldCopiesPointsAndSetsBoxAndCharLength) {
  float x[20], y[20], z[20];
  for (int i = 0; i < 20; ++i) x[i] = float(i % 4), y[i] = float(i % 5) * 0.5f, z[i] = 0;
  EXPECT_EQ(MakeCld(x, y, z, 0, nullptr), nullptr);
  EXPECT_FALSE(KernelFailedNow());
  double box[6];
  Cloud* c19 = MakeCld(x, y, z, 19, box);
  Cloud* c20 = MakeCld(x, y, z, 20, nullptr);
  const double diagonal = std::sqrt(3.0 * 3.0 + 2.0 * 2.0);
  EXPECT_EQ(box[0], 0);
  EXPECT_EQ(box[3], 3);
  EXPECT_EQ(box[4], 2);
  EXPECT_DOUBLE_EQ(c19->charLength, 2 * diagonal);
  EXPECT_DOUBLE_EQ(c20->charLength, diagonal / 3);
  EXPECT_EQ(c20->type, 0);
  EXPECT_EQ(c20->nptsBuilt, 20);
  EXPECT_EQ(c20->strideU, 1);
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
  const int n = src->npts;
  ExpectOwnCopy(src->x, copy->x, n);
  ExpectOwnCopy(src->z, copy->z, n);
  ExpectOwnCopy(src->nz, copy->nz, n);
  ExpectOwnCopy(src->scanEnd, copy->scanEnd, 2);
  ExpectOwnCopy(src->tri, copy->tri, 2);
  ExpectOwnCopy(src->isVert, copy->isVert, CloudBitArrayBytes(n));
  ExpectOwnCopy(src->isShow, copy->isShow, CloudBitArrayBytes(n));
  ExpectOwnCopy(src->labelIsShow, copy->labelIsShow, CloudBitArrayBytes(n));
  ExpectOwnCopy(src->rowNumber, copy->rowNumber, n);
  ExpectOwnCopy(src->reliability, copy->reliability, n);
  ExpectOwnCopy(src->colour[0], copy->colour[0], n);
  EXPECT_EQ(copy->colour[1], nullptr);
  ExpectOwnCopy(src->slice->sliceNext, copy->slice->sliceNext, 3);
  ExpectOwnCopy(src->slice->scanValue, copy->slice->scanValue, 2);
  EXPECT_EQ(copy->slice->header[7], 77);
  ASSERT_EQ(copy->farrays.count, 2);
  ExpectOwnCopy(src->farrays.arrays[1], copy->farrays.arrays[1], n);
  ExpectOwnCopy(src->farrays.types, copy->farrays.types, 2);
  for (int i = 0; i < n; ++i) {
    if (!src->labels[i]) {
      EXPECT_EQ(copy->labels[i], nullptr);
    } else {
      EXPECT_NE(copy->labels[i], src->labels[i]);
      EXPECT_STREQ(copy->labels[i], src->labels[i]);
    }
  }
  EXPECT_EQ(copy->charLength, src->charLength);
  copy->tri[0].v[0] = 9;
  EXPECT_EQ(src->tri[0].v[0], 0);
  FreeCloud(src);  // ASan reports any array the copy still shared
  float sum = 0;
  for (int i = 0; i < n; ++i) sum += copy->x[i] + copy->nx[i] + copy->colour[2][i];
  EXPECT_GT(sum, 0);
  FreeCloud(copy);
}

TEST_F(CloudCopy, InjectedFailuresGiveNullOrAConsistentPartialCopy) {
  Cloud* src = FullCloud();
  const long before = MallocRuntimeRequests();
  Cloud* probe = CopyCloud(src);
  const long requests = MallocRuntimeRequests() - before;
  FreeCloud(probe);
  int nulls = 0, partials = 0;
  for (long k = 0; k < requests; ++k) {
    ClearKernelError();
    BeginTrackingMallocs();  // the copy must survive its caller's scope
    MallocFailAfter(k, -1);
    Cloud* copy = CopyCloud(src);
    MallocFailClear();
    FreeTrackedMallocs();
    EXPECT_TRUE(KernelFailedNow()) << k;
    if (!copy) {
      ++nulls;
      continue;
    }
    ++partials;
    // Grouped parts are all there or all absent.
    const bool normals = copy->nx != nullptr;
    EXPECT_EQ(copy->ny != nullptr, normals);
    EXPECT_EQ(copy->nz != nullptr, normals);
    EXPECT_EQ(copy->colour[0] != nullptr, copy->colour[2] != nullptr);
    EXPECT_TRUE(copy->farrays.count == 0 || (copy->farrays.types && copy->farrays.arrays[0] &&
                                              copy->farrays.arrays[1]));
    ASSERT_NE(copy->x, nullptr);
    EXPECT_EQ(copy->x[3], src->x[3]);
    FreeCloud(copy);  // ASan: no leak, no double free
  }
  EXPECT_GT(nulls, 0);
  EXPECT_GT(partials, 0);
  ClearKernelError();
  FreeCloud(src);
}

TEST_F(CloudCopy, LabelsCopyBySelection) {
  char a[] = "a", c[] = "c";
  char* labels[3] = {a, nullptr, c};
  char** out = nullptr;
  const int idx[2] = {2, 0};
  ASSERT_EQ(CopyCloudLabels(labels, 3, &out, idx, 2), 1);
  EXPECT_STREQ(out[0], "c");
  EXPECT_STREQ(out[1], "a");
  Free(out[0]);
  Free(out[1]);
  Free(out);
  MallocFailAfter(2, -1);
  EXPECT_EQ(CopyCloudLabels(labels, 3, &out, nullptr, 0), 0);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
