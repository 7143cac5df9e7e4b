#ifndef VINTREL_INSPECT_UNPACK_LAYOUT_H_
#define VINTREL_INSPECT_UNPACK_LAYOUT_H_

// Where unpack puts each entry of a game: a folder per package, a file per entry at a path made
// of its name, or of its id where no list knows the name or the name cannot be a path on every
// system; and what the mod's vintrel.json says of each. The layout is made from the packages'
// tables alone, in manifest and table order, so that it does not depend on the entries' bytes or
// on how the writing is scheduled.

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/warning_list.h"
#include "manifest/game_reader.h"
#include "names/name_glob.h"
#include "names/name_list.h"

// Where an entry goes.
enum class EntryPlace : uint8_t {
  kByName,     // <package>/<name>.<ext>, listed with its name
  kById,       // <package>/_unknown/<name id>.<ext>, listed with its name id
  kDuplicate,  // <package>/_duplicate/<entry index>.<ext>, not listed: a mod cannot name it alone
};

// Whether the PNG beside a picked entry may be written, should its data be a texture. The
// entries' own paths come first: a PNG path is kept only where none of them lies.
enum class PngPlace : uint8_t {
  kNotAsked,  // no PNGs are written
  kFree,      // its path is kept for it
  kTaken,     // another entry's file or folder (or the entry's own) is there, ignoring case
  kShared,    // the PNG of an earlier texture of the package is there, ignoring case
  kTooLong,   // its file name would be over kMaxFileNameBytes
};

// Why a PNG could not be kept, to follow its path in a message: "would land on ...".
const char* png_place_text(PngPlace place);

// One entry of a package that is unpacked, or that shares its package's id with one.
struct UnpackEntry {
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint32_t index = 0;  // in its package's entry table
  uint32_t path = 0;   // line of UnpackLayout::paths(): the file under OUTDIR, '/' between parts
  EntryPlace place = EntryPlace::kByName;
  bool picked = false;    // the selection picked it: it has a path and is to be written
  bool extText = false;   // the path and the mod give the ext's text; else its id
  bool metaPath = false;  // path.meta is kept free for its metadata
  PngPlace pngPlace = PngPlace::kNotAsked;
  uint32_t png = 0;  // line of UnpackLayout::paths(): the PNG beside it (png_beside), when picked
  // What writing it did: the file is written; its metadata is written beside it; the mod names
  // that metadata file, because the tool would not give the entry the same metadata of itself.
  bool written = false;
  bool metaWritten = false;
  bool metaListed = false;
};

// One package record that is unpacked, with its entries.
struct UnpackPackage {
  uint32_t record = 0;
  uint32_t folder = 0;   // line of UnpackLayout::paths()
  bool pkgText = false;  // its id is the name_hash of its name: the mod gives "pkg", else "pkg_id"
  bool unread = false;   // its tables could not be read
  uint32_t first = 0;    // its entries in UnpackLayout::entries()
  uint32_t count = 0;
  uint32_t byId = 0;  // how many of them go by id, and how many are left out as duplicates
  uint32_t duplicates = 0;
};

// Which packages and entries to unpack.
struct UnpackSelection {
  const uint8_t* records = nullptr;  // per package record: nonzero to unpack it (null: all)
  NameGlob* globs = nullptr;         // an entry is unpacked when its name.ext matches one of
  uint32_t globCount = 0;            // these; every entry when there are none
  bool meta = false;                 // every entry's metadata is written beside it
  bool png = false;                  // a PNG is kept a place beside every entry
};

class UnpackLayout {
 public:
  UnpackLayout() = default;
  UnpackLayout(const UnpackLayout&) = delete;
  UnpackLayout& operator=(const UnpackLayout&) = delete;

  // Lays out every entry that selection picks of the packages in archives, in manifest order,
  // reading each package's tables through game. Entries whose name and ext repeat among the
  // packages of one id are laid out as duplicates; a name that cannot be a path, or would land
  // on another entry's path ignoring case, goes by id, and so does a package's folder: each with
  // a warning. With selection.png, each picked entry's PNG is then placed where no entry's path
  // lies, in table order, entries whose ext is "dds" first. A package that cannot be read is
  // passed over with a warning. False, with the reason in *status, when memory runs out.
  bool Plan(GameReader& game, const NameLists& names, const UnpackSelection& selection,
            Status* status);

  uint32_t package_count() const { return packages_.count(); }
  const UnpackPackage& package(uint32_t i) const { return packages_[i]; }
  uint32_t entry_count() const { return entries_.count(); }
  UnpackEntry& entry(uint32_t i) { return entries_[i]; }
  const UnpackEntry& entry(uint32_t i) const { return entries_[i]; }
  // The folders and file paths, relative to OUTDIR, with '/' between their parts.
  const WarningList& paths() const { return paths_; }
  // How many entries selection picked, and the warnings of laying them out, in order.
  uint32_t selected() const { return selected_; }
  const WarningList& warnings() const { return warnings_; }

 private:
  bool ReadPackages(GameReader& game, const NameLists& names, const UnpackSelection& selection);
  bool MarkDuplicates(const GameReader& game);
  bool PlaceFolders(const GameReader& game);
  bool PlaceEntries(const NameLists& names, const UnpackSelection& selection);

  TArray<UnpackPackage> packages_;
  TArray<UnpackEntry> entries_;
  TCountedArray<uint32_t> repeats_;  // per duplicate: how many entries share its ids
  WarningList paths_;
  WarningList warnings_;
  uint32_t selected_ = 0;
};

#endif  // VINTREL_INSPECT_UNPACK_LAYOUT_H_
