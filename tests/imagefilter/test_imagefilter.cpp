// The image-filter plug-in, loaded as the program loads it.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/Picture.h"
#include "framework/PluginHost.h"
#include "framework/PluginObject.h"
#include "imagefilter/MPImageFilter.h"

namespace {

using EnsurePictureBitsFn = REALpicture (*)(REALpicture, int32_t);
using GrayScaleFn = REALpicture (*)(REALpicture, int32_t, REALpicture, REALobject);
using GetHandlerFn = REALobject (*)(REALobject);
using SetHandlerFn = void (*)(REALobject, REALobject);

constexpr const char* kEnsureKey = "EnsurePictureBits(src as Picture,depth as Integer) as Picture";
constexpr const char* kGrayKey =
    "GrayScale(src as Picture,grayscaleTypeValue as Integer,mask as Picture,progress as IProgressHandler) as Picture";

class ImageFilterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::LoadBundlePlugins(); }

  template <typename Fn>
  static Fn Routine(const std::string& key) {
    void* address = fw::RuntimeLookupPluginEntrypoint(key);
    EXPECT_NE(address, nullptr) << key;
    return reinterpret_cast<Fn>(address);
  }

  static REALpicture ToREAL(fw::Picture* picture) {
    return reinterpret_cast<REALpicture>(static_cast<fw::Object*>(picture));
  }

  // A routine's result carries one reference, which the test takes over.
  static fw::Ref<fw::Picture> Adopt(REALpicture result) {
    auto* object = reinterpret_cast<fw::Object*>(result);
    if (!object) return nullptr;
    auto* picture = dynamic_cast<fw::Picture*>(object);
    EXPECT_NE(picture, nullptr);
    return fw::Ref<fw::Picture>::Adopt(picture);
  }

  static fw::Ref<fw::Picture> Ensure(const fw::Ref<fw::Picture>& src, int32_t depth) {
    return Adopt(Routine<EnsurePictureBitsFn>(kEnsureKey)(ToREAL(src.get()), depth));
  }

  static fw::Ref<fw::Picture> Gray(const fw::Ref<fw::Picture>& src, int32_t type = 3, fw::Picture* mask = nullptr) {
    return Adopt(Routine<GrayScaleFn>(kGrayKey)(ToREAL(src.get()), type, ToREAL(mask), nullptr));
  }

  static fw::Color Colorful(int32_t x, int32_t y) {
    return fw::RGB((x * 37 + y * 11) & 255, (x * 5 + y * 71 + 13) & 255, (x * 113 + y * 3 + 200) & 255);
  }

  // A picture of odd size (rows carry padding) filled through the framework's own pixel access.
  static fw::Ref<fw::Picture> Filled(int32_t depth, int32_t width = 37, int32_t height = 23) {
    fw::Ref<fw::Picture> picture = fw::Picture::New(width, height, depth);
    auto surface = picture->RGBSurface();
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) surface->SetPixel(x, y, Colorful(x, y));
    return picture;
  }

  static std::vector<fw::Color> Pixels(const fw::Ref<fw::Picture>& picture) {
    auto surface = picture->RGBSurface();
    std::vector<fw::Color> out;
    for (int32_t y = 0; y < picture->Height(); ++y)
      for (int32_t x = 0; x < picture->Width(); ++x) out.push_back(surface->Pixel(x, y));
    return out;
  }

  static std::vector<std::uint8_t> Bytes(const fw::Ref<fw::Picture>& picture) {
    return {picture->Bits(), picture->Bits() + static_cast<std::ptrdiff_t>(picture->RowBytes()) * picture->Height()};
  }

  static uint32_t Luma(fw::Color c) {
    return (19595u * fw::Red(c) + 38470u * fw::Green(c) + 7471u * fw::Blue(c) + 32768u) >> 16;
  }
};

// ---- EnsurePictureBits ----

TEST_F(ImageFilterTest, WidensEveryDepthTo32KeepingContent) {
  for (int32_t depth : {8, 16, 24}) {
    SCOPED_TRACE(depth);
    fw::Ref<fw::Picture> src = Filled(depth);
    const auto before = Bytes(src);
    fw::Ref<fw::Picture> wide = Ensure(src, 32);
    ASSERT_TRUE(wide);
    EXPECT_NE(wide.get(), src.get());
    EXPECT_EQ(wide->Depth(), 32);
    EXPECT_EQ(wide->Width(), src->Width());
    EXPECT_EQ(wide->Height(), src->Height());
    EXPECT_EQ(wide->RefCount(), 1);
    EXPECT_EQ(Pixels(wide), Pixels(src));
    EXPECT_EQ(Bytes(src), before);
    EXPECT_EQ(src->DescriptionLocks(), 0);
    EXPECT_EQ(wide->DescriptionLocks(), 0);
    EXPECT_EQ(src->GWorld()->pixMap.lockCount.load(), 0);
    EXPECT_EQ(wide->GWorld()->pixMap.lockCount.load(), 0);
  }
}

TEST_F(ImageFilterTest, UnusedByteOf32BitResultIsZero) {
  fw::Ref<fw::Picture> wide = Ensure(Filled(24), 32);
  ASSERT_TRUE(wide);
  for (int32_t y = 0; y < wide->Height(); ++y)
    for (int32_t x = 0; x < wide->Width(); ++x) ASSERT_EQ(wide->Row(y)[x * 4], 0);
}

TEST_F(ImageFilterTest, NarrowsFrom32LikeTheFramework) {
  fw::Ref<fw::Picture> src = Filled(32);
  const auto colours = Pixels(src);

  fw::Ref<fw::Picture> rgb = Ensure(src, 24);
  ASSERT_TRUE(rgb);
  EXPECT_EQ(rgb->Depth(), 24);
  EXPECT_EQ(Pixels(rgb), colours);

  // The framework's own 16-bit writes are the reference.
  fw::Ref<fw::Picture> expected16 = Filled(16);
  fw::Ref<fw::Picture> x1r5g5b5 = Ensure(src, 16);
  ASSERT_TRUE(x1r5g5b5);
  EXPECT_EQ(x1r5g5b5->Depth(), 16);
  EXPECT_EQ(Pixels(x1r5g5b5), Pixels(expected16));

  fw::Ref<fw::Picture> grey = Ensure(src, 8);
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->Depth(), 8);
  for (int32_t y = 0; y < src->Height(); ++y)
    for (int32_t x = 0; x < src->Width(); ++x)
      ASSERT_EQ(grey->Row(y)[x], Luma(colours[static_cast<std::size_t>(y * src->Width() + x)])) << x << "," << y;
}

TEST_F(ImageFilterTest, SameDepthGivesTheSourceWithOneMoreReference) {
  for (int32_t depth : {8, 16, 24, 32}) {
    SCOPED_TRACE(depth);
    fw::Ref<fw::Picture> src = Filled(depth);
    ASSERT_EQ(src->RefCount(), 1);
    fw::Ref<fw::Picture> same = Ensure(src, depth);
    EXPECT_EQ(same.get(), src.get());
    EXPECT_EQ(src->RefCount(), 2);
    same = nullptr;
    EXPECT_EQ(src->RefCount(), 1);
    EXPECT_EQ(src->DescriptionLocks(), 0);
  }
}

TEST_F(ImageFilterTest, EnsurePictureBitsRefusesNilAndUnknownDepths) {
  auto ensure = Routine<EnsurePictureBitsFn>(kEnsureKey);
  EXPECT_EQ(ensure(nullptr, 32), nullptr);
  fw::Ref<fw::Picture> src = Filled(24);
  for (int32_t depth : {0, 1, 4, 15, 31, 48, 64, -32}) EXPECT_EQ(ensure(ToREAL(src.get()), depth), nullptr) << depth;
  EXPECT_EQ(src->RefCount(), 1);
  EXPECT_EQ(src->DescriptionLocks(), 0);
}

// ---- GrayScale ----

TEST_F(ImageFilterTest, GrayScaleMakesANewGreyPictureAndLeavesTheSource) {
  fw::Ref<fw::Picture> src = Filled(32, 129, 67);
  const auto before = Bytes(src);
  const auto colours = Pixels(src);
  fw::Ref<fw::Picture> grey = Gray(src);
  ASSERT_TRUE(grey);
  EXPECT_NE(grey.get(), src.get());
  EXPECT_EQ(grey->RefCount(), 1);
  EXPECT_EQ(src->RefCount(), 1);
  EXPECT_EQ(grey->Depth(), 32);
  EXPECT_EQ(grey->Width(), src->Width());
  EXPECT_EQ(grey->Height(), src->Height());
  EXPECT_EQ(Bytes(src), before);
  EXPECT_EQ(src->DescriptionLocks(), 0);
  EXPECT_EQ(grey->DescriptionLocks(), 0);
  for (int32_t y = 0; y < grey->Height(); ++y) {
    const std::uint8_t* row = grey->Row(y);
    for (int32_t x = 0; x < grey->Width(); ++x) {
      const std::uint8_t* p = row + x * 4;
      const uint32_t expected = Luma(colours[static_cast<std::size_t>(y * src->Width() + x)]);
      ASSERT_EQ(p[0], 0);
      ASSERT_EQ(p[1], expected) << x << "," << y;
      ASSERT_EQ(p[2], expected);
      ASSERT_EQ(p[3], expected);
    }
  }
}

TEST_F(ImageFilterTest, GrayScaleKnowsTheExtremes) {
  fw::Ref<fw::Picture> src = fw::Picture::New(3, 1, 32);
  auto surface = src->RGBSurface();
  surface->SetPixel(0, 0, fw::RGB(255, 0, 0));
  surface->SetPixel(1, 0, fw::RGB(0, 255, 0));
  surface->SetPixel(2, 0, fw::RGB(0, 0, 255));
  surface = nullptr;
  fw::Ref<fw::Picture> grey = Gray(src);
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->Row(0)[1], 76);   // 0.299 * 255
  EXPECT_EQ(grey->Row(0)[5], 150);  // 0.587 * 255
  EXPECT_EQ(grey->Row(0)[9], 29);   // 0.114 * 255
}

TEST_F(ImageFilterTest, GreyStaysExactlyGrey) {
  fw::Ref<fw::Picture> src = fw::Picture::New(256, 3, 32);
  auto surface = src->RGBSurface();
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t v = 0; v < 256; ++v) surface->SetPixel(v, y, fw::RGB(v, v, v));
  surface = nullptr;
  fw::Ref<fw::Picture> grey = Gray(src);
  ASSERT_TRUE(grey);
  EXPECT_EQ(Bytes(grey), Bytes(src));
}

TEST_F(ImageFilterTest, GrayScaleRefusesWhatItDoesNotKnow) {
  fw::Ref<fw::Picture> src = Filled(32);
  fw::Ref<fw::Picture> mask = Filled(32);
  EXPECT_FALSE(Gray(nullptr));
  EXPECT_FALSE(Gray(src, 3, mask.get()));
  for (int32_t type : {0, 1, 2, 4, -3}) EXPECT_FALSE(Gray(src, type)) << type;
  for (int32_t depth : {8, 16, 24}) EXPECT_FALSE(Gray(Filled(depth))) << depth;
  EXPECT_EQ(src->RefCount(), 1);
  EXPECT_EQ(mask->RefCount(), 1);
  EXPECT_EQ(src->DescriptionLocks(), 0);
}

TEST_F(ImageFilterTest, WidenThenGreyAsTheProgramDoes) {
  fw::Ref<fw::Picture> src = Filled(24, 300, 301);
  fw::Ref<fw::Picture> wide = Ensure(src, 32);
  ASSERT_TRUE(wide);
  fw::Ref<fw::Picture> grey = Gray(wide);
  ASSERT_TRUE(grey);
  const auto colours = Pixels(src);
  const auto greys = Pixels(grey);
  for (std::size_t i = 0; i < colours.size(); ++i) {
    const uint32_t y = Luma(colours[i]);
    ASSERT_EQ(greys[i], (y << 16) | (y << 8) | y) << i;
  }
}

// ---- MPImageFilter and its dispatcher ----

struct CountJob {
  int32_t width = 4096;  // wide enough that every height below is worth several threads
  int32_t height = 0;
  int32_t reserved = 0;
  int32_t threadHint = 0;
  std::atomic<int32_t>* rows = nullptr;
  std::atomic<int32_t> badBands{0};
  std::mutex mutex;
  std::set<std::thread::id> threads;
};

void CountRows(MPParamBlock* block) {
  auto* job = static_cast<CountJob*>(block->params);
  if (block->firstRow < 0 || block->endRow > job->height || block->firstRow >= block->endRow) {
    job->badBands.fetch_add(1);
    return;
  }
  for (int32_t y = block->firstRow; y < block->endRow; ++y) job->rows[y].fetch_add(1, std::memory_order_relaxed);
  std::lock_guard lock(job->mutex);
  job->threads.insert(std::this_thread::get_id());
}

class DispatcherTest : public ImageFilterTest {
 protected:
  void SetUp() override {
    filter_ = fw::PluginObject::New("MPImageFilter");
    ASSERT_TRUE(filter_);
    std::memcpy(&dispatch_, filter_->Data() + 8, sizeof dispatch_);
    ASSERT_NE(dispatch_, nullptr);
  }

  // Dispatches a counting job and checks every row was visited exactly once.
  void ExpectEachRowOnce(int32_t height, int32_t hint, int32_t bandsPerThread) {
    SCOPED_TRACE("height " + std::to_string(height) + " hint " + std::to_string(hint) + " bands " +
                 std::to_string(bandsPerThread));
    const auto size = static_cast<std::size_t>(std::max(height, 0));
    auto rows = std::make_unique<std::atomic<int32_t>[]>(size + 1);
    CountJob job;
    job.height = height;
    job.threadHint = hint;
    job.rows = rows.get();
    dispatch_(&job, &CountRows, bandsPerThread);
    EXPECT_EQ(job.badBands.load(), 0);
    for (std::size_t y = 0; y < size; ++y) ASSERT_EQ(rows[y].load(), 1) << "row " << y;
    EXPECT_EQ(rows[size].load(), 0);
    if (hint > 0) {
      EXPECT_LE(job.threads.size(), static_cast<std::size_t>(hint));
    }
    if (height <= 0) {
      EXPECT_TRUE(job.threads.empty());
    }
  }

  fw::Ref<fw::PluginObject> filter_;
  MPDispatcher dispatch_ = nullptr;
};

TEST_F(DispatcherTest, ConstructorSetsTheWords) {
  const auto* data = reinterpret_cast<const MPImageFilterData*>(filter_->Data());
  EXPECT_EQ(data->progressHandler, nullptr);
  EXPECT_NE(data->dispatcher, nullptr);
  EXPECT_EQ(data->multiprocessingHint, 0);
  EXPECT_EQ(data->errorCode, 0);
  EXPECT_EQ(data->reserved, 0);
  EXPECT_EQ(filter_->Class()->instanceSize, fw::kObjectHeaderSize + 28);
}

TEST_F(DispatcherTest, CoversEveryRowExactlyOnce) {
  for (int32_t height : {0, 1, 2, 7, 4096})
    for (int32_t hint : {0, 1, 2, 3, 8, 64})
      for (int32_t bandsPerThread : {1, 4}) ExpectEachRowOnce(height, hint, bandsPerThread);
}

TEST_F(DispatcherTest, OddBandCountsAndNegativeHeights) {
  ExpectEachRowOnce(-5, 0, 4);
  ExpectEachRowOnce(1000, 0, 0);
  ExpectEachRowOnce(1000, -1, -7);
  ExpectEachRowOnce(13, 0, 1000000);
  ExpectEachRowOnce(4096, 0, INT32_MAX);
}

TEST_F(DispatcherTest, OneThreadHintRunsOnTheCaller) {
  auto rows = std::make_unique<std::atomic<int32_t>[]>(512);
  CountJob job;
  job.height = 512;
  job.threadHint = 1;
  job.rows = rows.get();
  dispatch_(&job, &CountRows, 8);
  ASSERT_EQ(job.threads.size(), 1u);
  EXPECT_EQ(*job.threads.begin(), std::this_thread::get_id());

  // A small picture is not worth waking a thread for, whatever the hint allows.
  CountJob small;
  small.width = 64;
  small.height = 48;
  small.rows = rows.get();
  for (int32_t y = 0; y < 512; ++y) rows[static_cast<std::size_t>(y)] = 0;
  dispatch_(&small, &CountRows, 8);
  ASSERT_EQ(small.threads.size(), 1u);
  EXPECT_EQ(*small.threads.begin(), std::this_thread::get_id());
  EXPECT_EQ(rows[47].load(), 1);
}

TEST_F(DispatcherTest, ConcurrentDispatchesEachCoverTheirRows) {
  constexpr int kCallers = 4;
  constexpr int kRounds = 50;
  std::atomic<int> failures{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < kCallers; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < kRounds; ++round) {
        const int32_t height = 1 + (round * 97 + c * 31) % 3000;
        auto rows = std::make_unique<std::atomic<int32_t>[]>(static_cast<std::size_t>(height));
        CountJob job;
        job.height = height;
        job.threadHint = (round + c) % 4;
        job.rows = rows.get();
        dispatch_(&job, &CountRows, 1 + round % 5);
        if (job.badBands.load() != 0) failures.fetch_add(1);
        for (int32_t y = 0; y < height; ++y)
          if (rows[y].load() != 1) {
            failures.fetch_add(1);
            break;
          }
      }
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// A band that dispatches again keeps every pool thread busy; the inner callers must finish on their own.
struct NestedJob {
  int32_t width = 0;
  int32_t height = 0;
  int32_t reserved = 0;
  int32_t threadHint = 0;
  MPDispatcher dispatch = nullptr;
  std::atomic<int32_t>* rows = nullptr;  // height * kInner counters
};
constexpr int32_t kInner = 64;

struct InnerJob {
  int32_t width = 0;
  int32_t height = kInner;
  int32_t reserved = 0;
  int32_t threadHint = 0;
  std::atomic<int32_t>* rows = nullptr;
};

void InnerBand(MPParamBlock* block) {
  auto* job = static_cast<InnerJob*>(block->params);
  for (int32_t y = block->firstRow; y < block->endRow; ++y) job->rows[y].fetch_add(1);
}

void OuterBand(MPParamBlock* block) {
  auto* job = static_cast<NestedJob*>(block->params);
  for (int32_t y = block->firstRow; y < block->endRow; ++y) {
    InnerJob inner;
    inner.rows = job->rows + static_cast<std::ptrdiff_t>(y) * kInner;
    job->dispatch(&inner, &InnerBand, 2);
  }
}

TEST_F(DispatcherTest, DispatchFromInsideABandFinishes) {
  NestedJob job;
  job.height = 200;
  job.dispatch = dispatch_;
  auto rows = std::make_unique<std::atomic<int32_t>[]>(static_cast<std::size_t>(job.height * kInner));
  job.rows = rows.get();
  dispatch_(&job, &OuterBand, 4);
  for (int32_t i = 0; i < job.height * kInner; ++i) ASSERT_EQ(rows[i].load(), 1) << i;
}

TEST_F(DispatcherTest, ProgressHandlerHoldsOneReference) {
  auto get = Routine<GetHandlerFn>("MPImageFilter.ProgressHandler.Get");
  auto set = Routine<SetHandlerFn>("MPImageFilter.ProgressHandler.Set");
  ASSERT_TRUE(get && set);
  REALobject self = fw::ToREAL(filter_.get());
  fw::Ref<fw::PluginObject> handler = fw::PluginObject::New("MPImageFilter");
  fw::Ref<fw::PluginObject> other = fw::PluginObject::New("MPImageFilter");
  REALobject h = fw::ToREAL(handler.get());

  EXPECT_EQ(get(self), nullptr);
  set(self, h);
  EXPECT_EQ(handler->RefCount(), 2);
  EXPECT_EQ(reinterpret_cast<const MPImageFilterData*>(filter_->Data())->progressHandler, h);

  REALobject got = get(self);
  EXPECT_EQ(got, h);
  EXPECT_EQ(handler->RefCount(), 3);
  fw::FromREAL(got)->Release();
  EXPECT_EQ(handler->RefCount(), 2);

  set(self, h);  // the same one again
  EXPECT_EQ(handler->RefCount(), 2);

  set(self, fw::ToREAL(other.get()));
  EXPECT_EQ(handler->RefCount(), 1);
  EXPECT_EQ(other->RefCount(), 2);

  set(self, nullptr);
  EXPECT_EQ(other->RefCount(), 1);
  EXPECT_EQ(get(self), nullptr);

  // The destructor lets go of a handler still held.
  set(self, h);
  EXPECT_EQ(handler->RefCount(), 2);
  filter_ = nullptr;
  EXPECT_EQ(handler->RefCount(), 1);
}

}  // namespace
