#include "inspect/texture_preview.h"

#include <cstdio>

#include "base/file.h"
#include "base/ordered_work.h"
#include "base/status.h"
#include "image/dds_format.h"
#include "report/progress_bar.h"

namespace {

// What a worker reads and previews with: a reader of the game of its own, the record whose
// package it read last, and its buffers.
struct PreviewWorker {
  GameReader game;
  bool opened = false;
  uint32_t current = PreviewSource::kFile;
  ByteBuffer data;
  Status status;
  TCountedArray<PreviewSource> sources;
  ThumbnailMaker thumbnails;
};

// Steps under way or waiting to be taken, per worker, and what their thumbnails may hold.
constexpr uint32_t kSlotsPerWorker = 4;
constexpr uint64_t kBytesInFlight = 32 << 20;

class PreviewTask : public OrderedTask {
 public:
  PreviewTask(PreviewSteps& steps, uint32_t count, uint32_t mostSources, const char* gameDir,
              const GameReader& game, const ThumbnailLimits& limits)
      : steps_(steps),
        count_(count),
        most_(mostSources == 0 ? 1 : mostSources),
        gameDir_(gameDir),
        game_(game),
        limits_(limits),
        bar_("making the page", "versions") {}

  // Makes room for threads workers. False when out of memory.
  bool Prepare(uint32_t threads) {
    if (!workers_.allocate(threads) || !previews_.allocate(window() * most_)) return false;
    for (uint32_t w = 0; w < threads; ++w) {
      if (!workers_[w].sources.allocate(most_)) return false;
    }
    for (uint32_t step = 0; step < count_; ++step) total_ += steps_.SourceCount(step);
    return true;
  }
  uint32_t window() const { return workers_.count() * kSlotsPerWorker; }
  bool stopped() const { return stopped_; }

  uint64_t Weight(uint32_t step) override {
    return uint64_t{steps_.SourceCount(step)} * limits_.maxBytes;
  }
  void Work(uint32_t worker, uint32_t step, uint32_t slot) override;
  bool Take(uint32_t step, uint32_t slot) override;

 private:
  void Preview(PreviewWorker& worker, const PreviewSource& source, TexturePreview& preview);
  // Reads entry `entry` of record's package into worker.data, or only its size when data is
  // false. False, with the reason in worker.status.
  bool ReadEntry(PreviewWorker& worker, uint32_t record, uint32_t entry, bool data,
                 uint64_t* bytes);

  PreviewSteps& steps_;
  const uint32_t count_;
  const uint32_t most_;
  const char* gameDir_;
  const GameReader& game_;
  const ThumbnailLimits limits_;
  ProgressBar bar_;
  TCountedArray<PreviewWorker> workers_;  // each written by its own worker alone
  // Slot s holds the previews of its step from previews_[s * most_]: written by the worker of the
  // step, then read by the taker, which gives their thumbnails' blocks back.
  TCountedArray<TexturePreview> previews_;
  // The taker's alone: the versions in all and those taken, and whether Take stopped the work.
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  bool stopped_ = false;
};

bool PreviewTask::ReadEntry(PreviewWorker& worker, uint32_t record, uint32_t entry, bool data,
                            uint64_t* bytes) {
  if (!worker.opened) {
    worker.opened = worker.game.Open(gameDir_, game_.sections(), &worker.status);
    if (!worker.opened) return false;
  }
  if (worker.current != record) {
    worker.current = PreviewSource::kFile;
    if (!worker.game.ReadPackage(record, &worker.status)) return false;
    worker.current = record;
  }
  const PackageReader& package = worker.game.package();
  if (entry >= package.entry_count()) {
    worker.status.Fail(StatusCode::kCorrupt, "the package no longer holds entry %u", entry);
    return false;
  }
  *bytes = package.entry(entry).rawSize;
  return !data || worker.game.ReadEntryData(entry, worker.data, &worker.status);
}

void PreviewTask::Preview(PreviewWorker& worker, const PreviewSource& source,
                          TexturePreview& preview) {
  preview.read = false;
  preview.headerRead = false;
  preview.png.resize(0);
  preview.reason.Assign("");
  worker.status.Clear();
  if (source.record != PreviewSource::kFile) {
    preview.read = ReadEntry(worker, source.record, source.entry, source.texture, &preview.bytes);
  } else if (source.texture) {
    preview.read = read_whole_file(source.path, worker.data, &worker.status);
    preview.bytes = worker.data.length();
  } else {
    ScopedFile file(open_file(source.path, "r"));
    preview.bytes = file.is_open() ? file_size(file.get()) : kBadPosition;
    preview.read = preview.bytes != kBadPosition;
    if (!preview.read) worker.status.FailIo("cannot read", source.path);
  }
  if (preview.read && source.texture) {
    const uint32_t size = worker.data.length();
    preview.headerRead = read_dds_header(worker.data.data(), size, &preview.header, nullptr);
    if (worker.thumbnails.FromDds(worker.data.data(), size, limits_, &preview.png,
                                  &worker.status)) {
      return;
    }
  }
  if (!source.texture && preview.read) return;
  if (!worker.status.Describe(preview.reason)) preview.reason.Assign("out of memory");
}

void PreviewTask::Work(uint32_t w, uint32_t step, uint32_t slot) {
  PreviewWorker& worker = workers_[w];
  const uint32_t count = steps_.SourceCount(step);
  steps_.Sources(step, &worker.sources[0]);
  for (uint32_t i = 0; i < count; ++i) {
    Preview(worker, worker.sources[i], previews_[slot * most_ + i]);
  }
}

bool PreviewTask::Take(uint32_t step, uint32_t slot) {
  bar_.Update(done_, total_, static_cast<uint32_t>(done_), static_cast<uint32_t>(total_));
  TexturePreview* previews = &previews_[slot * most_];
  if (!steps_.Take(step, previews)) {
    stopped_ = true;
    return false;
  }
  // A large step's thumbnails are not kept for the small ones after it.
  const uint32_t count = steps_.SourceCount(step);
  for (uint32_t i = 0; i < count; ++i) previews[i].png.release();
  done_ += count;
  if (step + 1 == count_) bar_.Finish();
  return true;
}

}  // namespace

bool run_previews(PreviewSteps& steps, uint32_t count, uint32_t mostSources, const char* gameDir,
                  const GameReader& game, const ThumbnailLimits& limits, uint32_t threads) {
  if (count == 0) return true;
  if (threads == 0) threads = 1;
  PreviewTask task(steps, count, mostSources, gameDir, game, limits);
  if (!task.Prepare(threads)) return false;
  run_ordered(task, count, threads, task.window(), kBytesInFlight);
  return !task.stopped();
}

ThumbnailLimits page_thumbnail_limits(HtmlPage& page) {
  const uint32_t share = (kPageBytesPerTexture - kMarkupPerTexture) / 2;
  page.set_image_budget(share);
  ThumbnailLimits limits;
  limits.maxSide = 256;
  limits.maxBytes = HtmlPage::largest_png_within(share);
  return limits;
}

void show_preview(HtmlPage& page, const TexturePreview& preview, bool texture, HtmlText alt) {
  char text[64];
  if (!texture) {
    if (!preview.read) {
      page.Warning(preview.reason);
      return;
    }
    std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(preview.bytes));
    page.Fact("bytes", text);
    return;
  }
  if (preview.png.length() != 0) {
    page.Image(preview.png.data(), preview.png.length(), alt);
  } else {
    page.Placeholder(alt, preview.reason);
  }
  if (!preview.headerRead) return;
  const DdsHeader& header = preview.header;
  char format[kPixelFormatNameSize];
  name_pixel_format(header.format, format);
  page.Fact("format", format);
  if ((header.caps2 & kDdsCaps2CubeMap) != 0) {
    std::snprintf(text, sizeof(text), "cube %ux%u", header.width, header.height);
  } else if ((header.caps2 & kDdsCaps2Volume) != 0 && header.depth > 1) {
    std::snprintf(text, sizeof(text), "volume %ux%ux%u", header.width, header.height, header.depth);
  } else {
    std::snprintf(text, sizeof(text), "%ux%u", header.width, header.height);
  }
  page.Fact("size", text);
  std::snprintf(text, sizeof(text), "%u", header.mipCount == 0 ? 1 : header.mipCount);
  page.Fact("mips", text);
}
