#include "inspect/package_pass.h"

#include "inspect/game_lookup.h"

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
  TCountedArray<uint64_t> archiveBytes;
  if (!archiveBytes.allocate(game_.archive_count())) return false;
  for (uint32_t i = 0; i < game_.archive_count(); ++i) {
    const uint64_t size = archives_[i] != kNoFile ? file_size(archives_[i]) : kBadPosition;
    archiveBytes[i] = size == kBadPosition ? 0 : size;
  }
  if (!weigh_packages(game_, archiveBytes, weights_)) return false;
  for (uint32_t k = 0; k < game_.package_count(); ++k) total_ += weights_[k];
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
