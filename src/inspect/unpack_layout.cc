#include "inspect/unpack_layout.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "base/ascii.h"
#include "base/file_name.h"
#include "base/utf8.h"
#include "driver/name_hash.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/texture_files.h"
#include "names/name_table.h"

namespace {

// The entries whose names cannot be paths are named one by one up to this many; one more warning
// counts the rest.
constexpr uint32_t kNamedWarnings = 20;
// A package's warning of duplicates names this many of them.
constexpr uint32_t kNamedDuplicates = 8;

constexpr char kUnknownFolder[] = "_unknown";
constexpr char kDuplicateFolder[] = "_duplicate";

bool is_separator(char c) { return c == '/' || c == '\\'; }

bool is_utf8(const char* text, uint32_t length) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
  for (uint32_t i = 0; i < length;) {
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    if (sequence == 0) return false;
    i += sequence;
  }
  return true;
}

// The paths taken in one folder of OUTDIR, as a file system that ignores case compares them:
// files and folders apart, since a file may not take a folder's path, nor a folder a file's. A
// path may come with its metadata file, path.meta, which is taken with it.
class TakenPaths {
 public:
  // Whether path (parts separated by '/'), and path.meta with withMeta, are free: no file has
  // their path or the path of one of their folders, and no folder has their path. False also
  // when out of memory, *ok then false.
  bool Free(const char* path, bool withMeta, bool* ok) {
    return FreeOne(path, ok) && (!withMeta || (WithMeta(path, ok) && FreeOne(meta_.Data(), ok)));
  }
  // Takes path (and path.meta) with their folders. False when out of memory.
  bool Take(const char* path, bool withMeta) {
    bool ok = true;
    return TakeOne(path) && (!withMeta || (WithMeta(path, &ok) && TakeOne(meta_.Data())));
  }

 private:
  bool WithMeta(const char* path, bool* ok) {
    if (meta_.Format("%s.meta", path) > 0) return true;
    return *ok = false;
  }
  bool FreeOne(const char* path, bool* ok) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(path));
    if (!fold_path_case(path, length, folded_)) return *ok = false;
    const char* text = folded_.Data();
    for (uint32_t i = 0; i <= length; ++i) {
      if (i != length && text[i] != '/') continue;
      const uint64_t id = Id(text, i, ok);
      if (!*ok) return false;
      if (files_.Contains(id) || (i == length && folders_.Contains(id))) return false;
    }
    return true;
  }
  bool TakeOne(const char* path) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(path));
    if (!fold_path_case(path, length, folded_)) return false;
    const char* text = folded_.Data();
    for (uint32_t i = 0; i < length; ++i) {
      if (text[i] == '/' && !folders_.Add(text, i)) return false;
    }
    return files_.Add(text, length);
  }
  // The id under which a NameTable keeps the first length bytes of text: their name_hash.
  uint64_t Id(const char* text, uint32_t length, bool* ok) {
    if (!part_.Reserve(static_cast<int32_t>(length + 1))) return *ok = false;
    std::memcpy(part_.Data(), text, length);
    part_.Data()[length] = '\0';
    return name_hash(part_.Data());
  }

  NameTable files_;
  NameTable folders_;
  CStringBufferA folded_;
  CStringBufferA part_;
  CStringBufferA meta_;
};

// Why a name and ext cannot make a path of their own under a package's folder, into reason; empty
// when they can. extText is the ext as the path would give it.
bool path_problem(const char* name, const char* extText, bool metaPath, CStringBufferA& reason) {
  reason.Assign("");
  const uint32_t length = static_cast<uint32_t>(std::strlen(name));
  uint32_t start = 0;
  uint32_t parts = 0;
  CStringBufferA part;
  for (uint32_t i = 0; i <= length; ++i) {
    if (i < length && !is_separator(name[i])) continue;
    const bool last = i == length;
    const int32_t made =
        last ? part.Format("%.*s.%s", static_cast<int>(i - start), name + start, extText)
             : part.Format("%.*s", static_cast<int>(i - start), name + start);
    if (made < 0) return false;
    const uint32_t partLength = static_cast<uint32_t>(part.Length());
    const FileNameProblem problem =
        i == start ? FileNameProblem::kEmpty : file_name_problem(part.Data(), partLength);
    if (problem != FileNameProblem::kUsable) {
      return reason.Format("has a part \"%s\" that %s", part.Data(),
                           file_name_problem_text(problem)) > 0;
    }
    if (last && metaPath && partLength > kMaxFileNameBytes - 5) {
      return reason.Format("has a part \"%s\" that leaves no room for \".meta\" within %u bytes",
                           part.Data(), kMaxFileNameBytes) > 0;
    }
    if (parts == 0 && !last) {
      for (const char* own : {kUnknownFolder, kDuplicateFolder}) {
        if (partLength == std::strlen(own) && ascii_same_but_case(part.Data(), own, partLength)) {
          return reason.Format("begins with \"%s\", a folder that unpack keeps for itself",
                               part.Data()) > 0;
        }
      }
    }
    ++parts;
    start = i + 1;
  }
  return true;
}

// Appends text to out. False when out cannot grow.
bool append_text(const char* text, CStringBufferA& out) {
  const int32_t length = out.Length();
  const size_t added = std::strlen(text);
  if (added > static_cast<size_t>(INT32_MAX - 1 - length) ||
      !out.Reserve(length + static_cast<int32_t>(added) + 1)) {
    return false;
  }
  std::memcpy(out.Data() + length, text, added + 1);
  out.SetLength(length + static_cast<int32_t>(added));
  return true;
}

// Whether an ext's text can be the end of a file name: one part, usable by itself.
bool usable_ext(const char* ext) {
  if (ext == nullptr) return false;
  const uint32_t length = static_cast<uint32_t>(std::strlen(ext));
  for (uint32_t i = 0; i < length; ++i) {
    if (is_separator(ext[i])) return false;
  }
  return file_name_problem(ext, length) == FileNameProblem::kUsable;
}

// Chooses the path of one picked entry under its package's folder, into relative, and takes it;
// reason says why a name that a list knows could not be the path (empty otherwise). False when
// out of memory.
bool place_entry(TakenPaths& taken, const NameLists& names, bool meta, UnpackEntry& entry,
                 CStringBufferA& relative, CStringBufferA& reason) {
  static const uint64_t kDdsId = name_hash("dds");
  static const uint64_t kLocId = name_hash("loc");
  bool ok = true;
  reason.Assign("");
  const char* extText = names.Ext(entry.extId);
  entry.extText = usable_ext(extText);
  const IdText extHex = id_text(entry.extId);
  const char* extPart = entry.extText ? extText : extHex.text;
  // The tool makes the metadata of these itself; unpack may have to give it instead.
  entry.metaPath = meta || entry.extId == kDdsId || entry.extId == kLocId;
  const char* name = names.Name(entry.nameId);
  if (entry.place == EntryPlace::kByName && name != nullptr) {
    if (extText != nullptr && !entry.extText) {
      reason.Assign("has an ext that cannot end a file name");
    } else if (!path_problem(name, extPart, entry.metaPath, reason)) {
      return false;
    }
    if (reason.Length() == 0) {
      if (relative.Format("%s.%s", name, extPart) < 0) return false;
      for (char* c = relative.Data(); *c != '\0'; ++c) {
        if (*c == '\\') *c = '/';
      }
      if (!taken.Free(relative.Data(), entry.metaPath, &ok)) {
        reason.Assign("would land on another entry's path, ignoring case");
      }
      if (!ok) return false;
    }
    if (reason.Length() == 0) return taken.Take(relative.Data(), entry.metaPath);
  }
  if (entry.place == EntryPlace::kByName) entry.place = EntryPlace::kById;
  if (entry.place == EntryPlace::kById) {
    // The id differs from every other of the package's; only the text of an ext can land on
    // another's path, when the two differ in the case of letters beyond A to Z.
    const IdText nameIdHex = id_text(entry.nameId);
    const char* nameHex = nameIdHex.text;
    if (relative.Format("%s/%s.%s", kUnknownFolder, nameHex, extPart) < 0) return false;
    if (!taken.Free(relative.Data(), entry.metaPath, &ok) && ok) {
      entry.extText = false;
      if (relative.Format("%s/%s.%s", kUnknownFolder, nameHex, extHex.text) < 0) return false;
      if (!taken.Free(relative.Data(), entry.metaPath, &ok) && ok) {
        entry.place = EntryPlace::kDuplicate;
      }
    }
    if (!ok) return false;
  }
  if (entry.place == EntryPlace::kDuplicate) {
    // The entry's index is a name no other entry of the package has.
    entry.metaPath = meta;
    if (relative.Format("%s/%u.%s", kDuplicateFolder, entry.index,
                        entry.extText ? extText : extHex.text) < 0) {
      return false;
    }
  }
  return taken.Take(relative.Data(), entry.metaPath);
}

// Places the PNG beside each picked entry of a package (png_beside of its path) under its folder,
// in table order, entries whose ext is "dds" first, so that a texture named as one keeps its PNG
// before an entry that only holds one: the path is kept where no entry's file or folder lies
// (taken holds them all) and no earlier PNG does, ignoring case. False when out of memory.
bool place_pngs(TArray<UnpackEntry>& entries, const UnpackPackage& package, const char* folder,
                TakenPaths& taken, WarningList& paths) {
  static const uint64_t kDdsId = name_hash("dds");
  const size_t skip = std::strlen(folder) + 1;
  TakenPaths pngs;
  CStringBufferA png;
  bool ok = true;
  for (const bool dds : {true, false}) {
    for (uint32_t i = package.first; i < package.first + package.count; ++i) {
      UnpackEntry& entry = entries[i];
      if (!entry.picked || (entry.extId == kDdsId) != dds) continue;
      if (!png_beside(paths.line(entry.path) + skip, png)) return false;
      const char* last = std::strrchr(png.Data(), '/');
      if (std::strlen(last == nullptr ? png.Data() : last + 1) > kMaxFileNameBytes) {
        entry.pngPlace = PngPlace::kTooLong;
      } else if (!taken.Free(png.Data(), false, &ok)) {
        entry.pngPlace = PngPlace::kTaken;
      } else if (!pngs.Free(png.Data(), false, &ok)) {
        entry.pngPlace = PngPlace::kShared;
      } else {
        entry.pngPlace = PngPlace::kFree;
        if (!pngs.Take(png.Data(), false)) return false;
      }
      entry.png = paths.count();
      if (!ok || !paths.Add("%s/%s", folder, png.Data())) return false;
    }
  }
  return true;
}

}  // namespace

const char* png_place_text(PngPlace place) {
  switch (place) {
    case PngPlace::kTaken:
      return "would land on the path of an entry's file or folder, ignoring case";
    case PngPlace::kShared:
      return "would land on the PNG of another texture of the package, ignoring case";
    case PngPlace::kTooLong:
      return "would have a file name over 255 bytes";
    default:
      return "is free";
  }
}

bool UnpackLayout::Plan(GameReader& game, const NameLists& names, const UnpackSelection& selection,
                        Status* status) {
  if (!ReadPackages(game, names, selection) || !MarkDuplicates(game) || !PlaceFolders(game) ||
      !PlaceEntries(names, selection)) {
    return status->FailOutOfMemory();
  }
  return true;
}

bool UnpackLayout::ReadPackages(GameReader& game, const NameLists& names,
                                const UnpackSelection& selection) {
  CStringBufferA shown;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    if (game.record(k).archiveIndex == kNoArchive ||
        (selection.records != nullptr && selection.records[k] == 0)) {
      continue;
    }
    UnpackPackage package;
    package.record = k;
    package.first = entries_.count();
    Status unread;
    if (!game.ReadPackage(k, &unread)) {
      if (!unread.Describe(shown)) return false;
      warnings_.Add("%s; passed over", shown.Data());
      package.unread = true;
    } else if (game.package().has_tables()) {
      const PackageReader& reader = game.package();
      for (uint32_t e = 0; e < reader.entry_count(); ++e) {
        UnpackEntry entry;
        entry.nameId = reader.entry(e).nameId;
        entry.extId = reader.entry(e).extId;
        entry.index = e;
        entry.picked = selection.globCount == 0;
        if (!entry.picked && !entry_name(names, entry.nameId, entry.extId, shown)) return false;
        for (uint32_t g = 0; !entry.picked && g < selection.globCount; ++g) {
          entry.picked =
              selection.globs[g].Match(shown.Data(), static_cast<uint32_t>(shown.Length()));
        }
        if (!entries_.Append(entry)) return false;
      }
    }
    package.count = entries_.count() - package.first;
    if (!packages_.Append(package)) return false;
  }
  return true;
}

bool UnpackLayout::MarkDuplicates(const GameReader& game) {
  // A configured file names an entry by its name, its ext and at most the id of its package: the
  // entries that share all three, picked or not, cannot be told apart by a mod.
  const uint32_t count = entries_.count();
  TCountedArray<uint32_t> order;
  TCountedArray<uint64_t> groups;
  if (count == 0) return true;
  if (!order.allocate(count) || !groups.allocate(count) || !repeats_.allocate(count)) return false;
  for (uint32_t p = 0; p < packages_.count(); ++p) {
    const UnpackPackage& package = packages_[p];
    for (uint32_t i = package.first; i < package.first + package.count; ++i) {
      groups[i] = game.record(package.record).packageId;
    }
  }
  for (uint32_t i = 0; i < count; ++i) order[i] = i;
  const auto key_less = [this, &groups](uint32_t a, uint32_t b) {
    if (groups[a] != groups[b]) return groups[a] < groups[b];
    if (entries_[a].nameId != entries_[b].nameId) return entries_[a].nameId < entries_[b].nameId;
    return entries_[a].extId < entries_[b].extId;
  };
  std::sort(&order[0], &order[0] + count, key_less);
  for (uint32_t run = 0; run < count;) {
    uint32_t end = run + 1;
    while (end < count && !key_less(order[run], order[end])) ++end;
    for (uint32_t i = run; end - run > 1 && i < end; ++i) {
      entries_[order[i]].place = EntryPlace::kDuplicate;
      repeats_[order[i]] = end - run;
    }
    run = end;
  }
  return true;
}

bool UnpackLayout::PlaceFolders(const GameReader& game) {
  TakenPaths taken;
  bool ok = true;
  if (!taken.Take("vintrel.json", false) || !taken.Take("vintrel.json.tmp", false)) return false;
  CStringBufferA name;
  CStringBufferA folder;
  for (UnpackPackage& package : packages_) {
    const PackageRecord& record = game.record(package.record);
    if (!record_name(game, package.record, name)) return false;
    const uint32_t length = static_cast<uint32_t>(std::strlen(name.Data()));
    package.pkgText =
        length != 0 && is_utf8(name.Data(), length) && name_hash(name.Data()) == record.packageId;
    // The name when it can be a folder and is free, else the id; a second record of one id gets
    // its place in the manifest after the id.
    const FileNameProblem problem = file_name_problem(name.Data(), length);
    const char* why = nullptr;
    if (problem != FileNameProblem::kUsable) {
      why = file_name_problem_text(problem);
    } else if (!taken.Free(name.Data(), false, &ok)) {
      why = "would land on another package's folder or on vintrel.json, ignoring case";
    }
    const IdText idHex = id_text(record.packageId);
    const char* hex = idHex.text;
    if (!ok || folder.Assign(why == nullptr ? name.Data() : hex) == nullptr) return false;
    if (why != nullptr && !taken.Free(folder.Data(), false, &ok) &&
        folder.Format("%s-%u", hex, package.record) < 0) {
      return false;
    }
    if (!ok || !taken.Take(folder.Data(), false)) return false;
    if (why != nullptr) {
      warnings_.Add("package \"%s\" cannot be a folder: it %s; its entries went to \"%s\"",
                    name.Data(), why, folder.Data());
    }
    package.folder = paths_.count();
    if (!paths_.Add("%s", folder.Data())) return false;
  }
  return true;
}

bool UnpackLayout::PlaceEntries(const NameLists& names, const UnpackSelection& selection) {
  CStringBufferA folder;
  CStringBufferA reason;
  CStringBufferA relative;
  CStringBufferA shown;
  CStringBufferA repeated;
  CStringBufferA more;
  uint32_t unnamable = 0;
  for (UnpackPackage& package : packages_) {
    if (folder.Assign(paths_.line(package.folder)) == nullptr) return false;
    TakenPaths taken;
    uint32_t listed = 0;
    repeated.Assign("");
    for (uint32_t i = package.first; i < package.first + package.count; ++i) {
      UnpackEntry& entry = entries_[i];
      if (!entry.picked) continue;
      ++selected_;
      const bool duplicate = entry.place == EntryPlace::kDuplicate;
      if (!place_entry(taken, names, selection.meta, entry, relative, reason)) return false;
      entry.path = paths_.count();
      if (!paths_.Add("%s/%s", folder.Data(), relative.Data()) ||
          !entry_name(names, entry.nameId, entry.extId, shown)) {
        return false;
      }
      if (entry.place == EntryPlace::kById) ++package.byId;
      if (entry.place == EntryPlace::kDuplicate) ++package.duplicates;
      if (reason.Length() != 0 && ++unnamable <= kNamedWarnings) {
        warnings_.Add("package \"%s\": \"%s\" %s; it went to \"%s\"", folder.Data(), shown.Data(),
                      reason.Data(), paths_.line(entry.path));
      }
      if (!duplicate) continue;
      // Each name once: an earlier entry of the package with the same ids was listed already.
      bool seen = false;
      for (uint32_t j = package.first; j < i && !seen; ++j) {
        seen = entries_[j].place == EntryPlace::kDuplicate && entries_[j].nameId == entry.nameId &&
               entries_[j].extId == entry.extId;
      }
      if (seen || ++listed > kNamedDuplicates) continue;
      if (more.Format("%s\"%s\" %u times", listed == 1 ? "" : ", ", shown.Data(), repeats_[i]) <
              0 ||
          !append_text(more.Data(), repeated)) {
        return false;
      }
    }
    if (selection.png && !place_pngs(entries_, package, folder.Data(), taken, paths_)) {
      return false;
    }
    if (package.duplicates == 0) continue;
    if (listed > kNamedDuplicates) {
      more.Format(" and %u more", listed - kNamedDuplicates);
      append_text(more.Data(), repeated);
    }
    warnings_.Add(
        "package \"%s\" holds entries that a mod cannot tell apart (the same name and ext in "
        "packages of one id): %s; they went to \"%s/%s/\" by their index and were left out of "
        "vintrel.json",
        folder.Data(), repeated.Data(), folder.Data(), kDuplicateFolder);
  }
  if (unnamable > kNamedWarnings) {
    warnings_.Add("%u more entries whose names cannot be paths went by their ids, under \"%s\"",
                  unnamable - kNamedWarnings, kUnknownFolder);
  }
  return true;
}
