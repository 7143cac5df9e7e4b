#include "inspect/stack_entries.h"

#include "base/file.h"
#include "base/string_buffer.h"
#include "driver/name_hash.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/meta_report.h"
#include "inspect/texture_files.h"
#include "package/package_update.h"

namespace {

// The last component of a path.
const char* file_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

constexpr uint8_t kTextureUnread = 0;
constexpr uint8_t kTextureRead = 1;
constexpr uint8_t kNoTexture = 2;

}  // namespace

bool StackEntries::Open(const char* gameDir, Status* status) {
  gameDir_ = gameDir;
  return open_untouched_game(gameDir, context_, game_, warnings_, status);
}

bool StackEntries::Find(const Stack& stack, const StackMod* mods, uint32_t count,
                        const NameLists& names, Status* status) {
  const uint32_t files = stack.files().count();
  if (files != 0 &&
      (!flags_.allocate(files) || !textureState_.allocate(files) || !textures_.allocate(files))) {
    return status->FailOutOfMemory();
  }
  for (uint32_t k = 0; k < game_.package_count(); ++k) {
    if (!WalkPackage(stack, mods, count, k, names)) return status->FailOutOfMemory();
  }
  return true;
}

bool StackEntries::WalkPackage(const Stack& stack, const StackMod* mods, uint32_t count, uint32_t k,
                               const NameLists& names) {
  const PackageRecord& record = game_.record(k);
  if (record.archiveIndex == kNoArchive) return true;
  Status unread;
  if (!game_.ReadPackage(k, &unread)) {
    CStringBufferA line;
    if (!unread.Describe(line)) return false;
    warnings_.Add("%s; passed over", line.Data());
    return true;
  }
  PackageReader& package = game_.package();
  if (!package.has_tables()) return true;
  if (match_entries(stack.files(), record.packageId, package)) ++packagesReplaced_;
  for (uint32_t e = 0; e < package.entry_count(); ++e) {
    const PackageEntry& entry = package.entry(e);
    if (entry.match == nullptr) continue;
    ++entriesReplaced_;
    const uint32_t winner = entry.match->index;
    flags_[winner - 1] |= kWins;
    // Each mod's own first match, later mods first: the first of them is the winner.
    const uint32_t firstLoser = losers_.count();
    uint32_t loserCount = 0;
    for (uint32_t m = count; m-- > 0;) {
      const PackFileEntry* own = find_pack_file_entry(mods[m].context.entries, entry.nameId,
                                                      entry.extId, record.packageId);
      if (own == nullptr) continue;
      const uint32_t place = stack.place_of(m, own->index);
      flags_[place - 1] |= kMatches;
      if (place == winner) continue;
      flags_[place - 1] |= kLoses;
      if (!losers_.Append(place)) return false;
      ++loserCount;
    }
    if (loserCount != 0 && !conflicts_.Append({k, e, winner, loserCount, firstLoser})) return false;
    if (!CheckTexture(stack, winner, k, entry, names)) return false;
  }
  return true;
}

bool StackEntries::CheckTexture(const Stack& stack, uint32_t place, uint32_t k,
                                const PackageEntry& entry, const NameLists& names) {
  static const uint64_t ddsId = name_hash("dds");
  TextureMeta game;
  if (entry.extId != ddsId || !decode_texture_meta(entry.meta, entry.metaSize, &game)) return true;
  const PackFileEntry& file = *stack.place(place).file;
  uint8_t& state = textureState_[place - 1];
  if (state == kTextureUnread) {
    ByteBuffer content;
    ByteBuffer meta;
    Status problem;
    state = kNoTexture;
    if (read_whole_file(file.sourcePath.Text(), content, &problem) &&
        replacement_metadata(file, content, meta, &problem) == kMetaConverted) {
      const DecodedMeta decoded = decode_meta(file.extId, meta.data(), meta.length());
      if (decoded.texture) {
        textures_[place - 1] = decoded.textureMeta;
        state = kTextureRead;
      }
    } else if (!problem.ok()) {
      // A file that cannot be used is the run's failure rather than a difference of layout; it
      // is told once, at the first entry it would replace.
      CStringBufferA text;
      if (!problem.Describe(text)) return false;
      warnings_.Add("%s; a run of the stack fails on it", text.Data());
    }
  }
  if (state != kTextureRead || !textures_differ(textures_[place - 1], game)) return true;
  const PackageRecord& record = game_.record(k);
  CStringBufferA package;
  CStringBufferA line;
  CStringBufferA warning;
  IdText nameHex;
  IdText extHex;
  if (!append_escaped(record.name, record.nameLength, package) ||
      !describe_texture_difference(file_name(file.sourcePath.Text()), textures_[place - 1],
                                   file_name_text(names, file, &nameHex),
                                   file_ext_text(names, file, &extHex), package.Data(), game,
                                   line) ||
      !add_texture_remedy(line.Data(), names, file, record, gameDir_, warning)) {
    return false;
  }
  warnings_.Add("%s", warning.Data());
  return true;
}
