#include "manifest/backup_check.h"

#include <cstring>

#include "manifest/package_directory.h"

namespace {

bool same_bytes(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
  return aLength == bLength && (aLength == 0 || std::memcmp(a, b, aLength) == 0);
}

bool same_buffer(const ByteBuffer& a, const ByteBuffer& b) {
  return same_bytes(a.data(), a.length(), b.data(), b.length());
}

bool differs(Status* status, const char* what) {
  status->Fail(StatusCode::kRefused, "%s", what);
  return false;
}

// How the current archive list relates to the back-up's.
enum class ArchiveList { kSame, kAppended, kRenamed, kOther };

ArchiveList compare_archives(const DirectoryReader& current, const DirectoryReader& backup) {
  const uint32_t count = backup.archive_count();
  bool same = current.archive_count() == count;
  bool renamed = same && count > 0;
  const ArchiveRecord* name = count > 0 ? &current.archive(0) : nullptr;
  for (uint32_t i = 0; i < count && i < current.archive_count(); ++i) {
    const ArchiveRecord& was = backup.archive(i);
    const ArchiveRecord& is = current.archive(i);
    if (was.tag != is.tag) return ArchiveList::kOther;
    same = same && same_bytes(was.name, was.nameLength, is.name, is.nameLength);
    renamed = renamed && same_bytes(name->name, name->nameLength, is.name, is.nameLength);
  }
  if (same) return ArchiveList::kSame;
  if (current.archive_count() == count)
    return renamed ? ArchiveList::kRenamed : ArchiveList::kOther;
  // The user archive is appended with the tag 0xFF.
  if (current.archive_count() != count + 1 || current.archive(count).tag != 0xFF) {
    return ArchiveList::kOther;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const ArchiveRecord& was = backup.archive(i);
    const ArchiveRecord& is = current.archive(i);
    if (!same_bytes(was.name, was.nameLength, is.name, is.nameLength)) return ArchiveList::kOther;
  }
  return ArchiveList::kAppended;
}

// Whether a record is the back-up's, or the back-up's moved into the user archive at userIndex.
bool record_follows(const ByteBuffer& currentSection, const PackageRecord& current,
                    const ByteBuffer& backupSection, const PackageRecord& backup, ArchiveList list,
                    uint32_t userIndex) {
  const uint32_t length = backup.end - backup.start;
  if (current.end - current.start != length) return false;
  // Everything before archiveIndex, and the two bytes between it and the offset, as they were.
  const uint8_t* was = backupSection.data() + backup.start;
  const uint8_t* is = currentSection.data() + current.start;
  const uint32_t indexAt = length - kArchiveIndexFromEnd;
  if (std::memcmp(was, is, indexAt) != 0 || std::memcmp(was + indexAt + 1, is + indexAt + 1, 2)) {
    return false;
  }
  if (current.archiveIndex == backup.archiveIndex && current.offset == backup.offset) return true;
  return list != ArchiveList::kSame && backup.archiveIndex != kNoArchive &&
         current.archiveIndex == userIndex;
}

}  // namespace

bool manifest_follows_backup(const ManifestSections& current, const ManifestSections& backup,
                             Status* status) {
  for (int i = 1; i < ManifestSections::kCount; ++i) {
    if (!same_buffer(current[i], backup[i])) {
      status->Fail(StatusCode::kRefused, "section %d differs", i);
      return false;
    }
  }
  DirectoryReader was(backup[0]);
  DirectoryReader is(current[0]);
  Status ignored;
  if (!was.ReadHead(&ignored)) return differs(status, "the back-up's package directory is damaged");
  if (!is.ReadHead(&ignored)) return differs(status, "its package directory is damaged");
  if (!same_bytes(backup[0].data(), was.id_names_end(), current[0].data(), is.id_names_end())) {
    return differs(status, "the id names differ");
  }
  const ArchiveList list = compare_archives(is, was);
  if (list == ArchiveList::kOther) return differs(status, "the archive list differs");
  if (is.package_count() != was.package_count()) {
    return differs(status, "the number of packages differs");
  }
  const uint32_t userIndex = list == ArchiveList::kAppended ? was.archive_count() : 0;
  for (uint32_t k = 0; k < was.package_count(); ++k) {
    PackageRecord before;
    PackageRecord after;
    if (!was.NextPackage(&before, &ignored)) {
      return differs(status, "the back-up's package directory is damaged");
    }
    if (!is.NextPackage(&after, &ignored) ||
        !record_follows(current[0], after, backup[0], before, list, userIndex)) {
      status->Fail(StatusCode::kRefused, "package record %u differs", k);
      return false;
    }
  }
  return true;
}
