#include "inspect/package_pass.h"

#include <algorithm>
#include <cstring>

bool PackagePass::Open() {
  if (!archives_.allocate(game_.archive_count()) || !unopened_.allocate(game_.archive_count())) {
    return false;
  }
  for (uint32_t i = 0; i < game_.archive_count(); ++i) {
    archives_[i] = game_.OpenArchive(i, &unopened_[i]);
  }
  return Weigh();
}

bool PackagePass::Weigh() {
  const GameReader& game = game_;
  const uint32_t count = game.package_count();
  TCountedArray<uint32_t> order;
  TCountedArray<uint64_t> archiveBytes;
  if (!weights_.allocate(count) || !order.allocate(count) ||
      !archiveBytes.allocate(game.archive_count())) {
    return false;
  }
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    const uint64_t size = archives_[i] != kNoFile ? file_size(archives_[i]) : kBadPosition;
    archiveBytes[i] = size == kBadPosition ? 0 : size;
  }
  // Two archive records may name one file: order by file name, then by offset.
  uint32_t placed = 0;
  for (uint32_t k = 0; k < count; ++k) {
    if (game.record(k).archiveIndex < game.archive_count()) order[placed++] = k;
  }
  const auto same_file = [&game](uint32_t a, uint32_t b) {
    const ArchiveRecord& x = game.archive(game.record(a).archiveIndex);
    const ArchiveRecord& y = game.archive(game.record(b).archiveIndex);
    return x.nameLength == y.nameLength && std::memcmp(x.name, y.name, x.nameLength) == 0;
  };
  std::sort(&order[0], &order[0] + placed, [&game](uint32_t a, uint32_t b) {
    const ArchiveRecord& x = game.archive(game.record(a).archiveIndex);
    const ArchiveRecord& y = game.archive(game.record(b).archiveIndex);
    const int names = std::memcmp(x.name, y.name, std::min(x.nameLength, y.nameLength));
    if (names != 0) return names < 0;
    if (x.nameLength != y.nameLength) return x.nameLength < y.nameLength;
    return game.record(a).offset < game.record(b).offset;
  });
  for (uint32_t i = 0; i < placed; ++i) {
    const uint32_t k = order[i];
    const uint64_t start = game.record(k).offset;
    uint64_t end = archiveBytes[game.record(k).archiveIndex];
    for (uint32_t j = i + 1; j < placed && same_file(k, order[j]); ++j) {
      if (game.record(order[j]).offset > start) {
        end = game.record(order[j]).offset;
        break;
      }
    }
    weights_[k] = (end > start ? end - start : 0) + 1;
  }
  for (uint32_t k = 0; k < count; ++k) total_ += weights_[k];
  return true;
}

bool PackagePass::ReadPackage(uint32_t k, PackageReader& package, Status* status) const {
  const PackageRecord& record = game_.record(k);
  if (record.archiveIndex >= archives_.count()) {
    status->Fail(StatusCode::kCorrupt, "package record %u names archive %u of a list of %u", k,
                 record.archiveIndex, game_.archive_count());
    return false;
  }
  if (archives_[record.archiveIndex] == kNoFile) {
    status->Assign(unopened_[record.archiveIndex]);
    return false;
  }
  if (!package.Read(archives_[record.archiveIndex], record.offset, status) ||
      (package.has_tables() && !package.ReadEntryTable(status))) {
    game_.NamePackage(k, status);
    return false;
  }
  return true;
}
