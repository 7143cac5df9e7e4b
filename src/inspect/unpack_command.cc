#include "inspect/unpack_command.h"

#include <cstdio>
#include <cstring>

#include "base/array.h"
#include "base/file.h"
#include "base/ordered_work.h"
#include "base/platform.h"
#include "base/warning_list.h"
#include "driver/name_hash.h"
#include "image/dds_header.h"
#include "image/image_files.h"
#include "image/rgba_image.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "inspect/unpack_layout.h"
#include "json/json_writer.h"
#include "names/name_table.h"
#include "package/entry_compression.h"
#include "package/package_reader.h"
#include "package/texture_conversion.h"
#include "report/progress_bar.h"
#include "report/text_table.h"

namespace {

constexpr char kConfigName[] = "vintrel.json";
constexpr char kConfigTemp[] = "vintrel.json.tmp";

// What unpack was asked for.
struct UnpackRequest {
  const CommandArgs* args = nullptr;  // for the name lists to read
  const char* gameDir = nullptr;
  const char* outDir = nullptr;
  const OptionValues* pkgs = nullptr;
  const OptionValues* matches = nullptr;
  bool meta = false;
  bool force = false;
  bool png = false;
  uint32_t threads = 1;
};

// What unpack wrote, and what it said on the way.
struct UnpackResult {
  GameReader game;
  NameLists names;
  UnpackLayout layout;
  WarningList warnings;  // for standard error, in the order found
  Status failure;        // why it stopped, unless said already
  uint32_t files = 0;    // entries written, and the metadata files and PNGs beside them
  uint32_t metaFiles = 0;
  uint32_t pngFiles = 0;
  uint64_t bytes = 0;   // of the entries and their metadata
  uint32_t listed = 0;  // files in vintrel.json
  uint32_t unread = 0;  // picked entries that could not be read
};

// The full path of the first length bytes of a path under OUTDIR (all of it when length is
// UINT32_MAX), into out, with the program's separator throughout, so that messages on Windows
// show one kind. False when out of memory.
bool out_path(const char* outDir, const char* relative, CStringBufferA& out,
              uint32_t length = UINT32_MAX) {
  const int shown = length == UINT32_MAX ? INT32_MAX : static_cast<int>(length);
  if (out.Format("%s\\%.*s", outDir, shown, relative) <= 0) return false;
  for (char* c = out.Data() + std::strlen(outDir); *c != '\0'; ++c) {
    if (*c == '/') *c = '\\';
  }
  return true;
}

// OUTDIR is missing, or a directory that is empty unless force. False, with the reason, otherwise.
bool check_out_dir(const char* outDir, bool force, bool* exists, bool* empty, Status* status) {
  *exists = sys_file_exists(outDir) || sys_is_link(outDir);
  *empty = true;
  if (!*exists) return true;
  if (!sys_is_directory(outDir)) {
    status->FailAt(StatusCode::kRefused, outDir,
                   "not a directory; unpack writes a folder of files there");
    return false;
  }
  ByteBuffer names;
  if (!sys_list_directory(outDir, names)) {
    status->FailIo("cannot list", outDir);
    return false;
  }
  *empty = names.length() == 0;
  if (*empty || force) return true;
  status->FailAt(StatusCode::kRefused, outDir,
                 "holds \"%s\"; unpack writes only into a missing or empty directory (with "
                 "--force, into this one, replacing the files it unpacks)",
                 reinterpret_cast<const char*>(names.data()));
  return false;
}

// Makes room at path, a file unpack is to write under OUTDIR with --force: a file (or a symbolic
// link) there is deleted, unless it is a file of the game or a directory. False, with the reason,
// otherwise.
bool clear_file(const char* path, const GameReader& game, const char* gameDir, Status* status) {
  const bool link = sys_is_link(path);
  if (!link && !sys_file_exists(path)) return true;
  if (!link && sys_is_directory(path)) {
    status->FailAt(StatusCode::kRefused, path, "a directory where unpack writes a file");
    return false;
  }
  if (!link && is_game_file(game, gameDir, path)) {
    status->FailAt(StatusCode::kRefused, path, "a file of the game; unpack to another place");
    return false;
  }
  if (!sys_delete_file(path)) {
    status->FailIo("cannot replace", path);
    return false;
  }
  return true;
}

// With --force, into a directory that holds files: makes room for every path the layout writes.
// A file (or a symbolic link) there is deleted, unless it is a file of the game or a directory;
// every folder on the way must be a directory, not a link, so that nothing outside OUTDIR is ever
// reached. False, with the reason, otherwise. A PNG's place is made when it is written, since
// only the entry's data says whether it gets one.
class RoomMaker {
 public:
  RoomMaker(const char* outDir, const GameReader& game, const char* gameDir)
      : outDir_(outDir), game_(game), gameDir_(gameDir) {}

  bool Make(const UnpackLayout& layout, Status* status) {
    CStringBufferA meta;
    for (uint32_t i = 0; i < layout.entry_count(); ++i) {
      const UnpackEntry& entry = layout.entry(i);
      if (!entry.picked) continue;
      const char* path = layout.paths().line(entry.path);
      if (!Clear(path, status)) return false;
      if (entry.metaPath && (meta.Format("%s.meta", path) <= 0 || !Clear(meta.Data(), status))) {
        return status->ok() ? status->FailOutOfMemory() : false;
      }
    }
    return Clear(kConfigTemp, status) && CheckConfig(status);
  }

 private:
  bool Clear(const char* relative, Status* status) {
    if (!CheckFolders(relative, status) || !out_path(outDir_, relative, full_)) {
      return status->ok() ? status->FailOutOfMemory() : false;
    }
    return clear_file(full_.Data(), game_, gameDir_, status);
  }

  // Each folder of the path that exists must be a directory, and no link.
  bool CheckFolders(const char* relative, Status* status) {
    for (const char* slash = std::strchr(relative, '/'); slash != nullptr;
         slash = std::strchr(slash + 1, '/')) {
      const uint32_t length = static_cast<uint32_t>(slash - relative);
      if (folder_.Format("%.*s", static_cast<int>(length), relative) <= 0) return false;
      if (checked_.Contains(name_hash(folder_.Data()))) continue;
      if (!out_path(outDir_, folder_.Data(), full_)) return false;
      const char* path = full_.Data();
      if (sys_is_link(path)) {
        status->FailAt(StatusCode::kRefused, path,
                       "a symbolic link or junction; unpack follows none inside OUTDIR");
        return false;
      }
      if (sys_file_exists(path) && !sys_is_directory(path)) {
        status->FailAt(StatusCode::kRefused, path, "a file where unpack makes a folder");
        return false;
      }
      if (!checked_.Add(folder_.Data(), length)) return false;
    }
    return true;
  }

  // vintrel.json is put in place by a rename, which replaces a file or a link but no directory.
  bool CheckConfig(Status* status) {
    if (!out_path(outDir_, kConfigName, full_)) return status->FailOutOfMemory();
    if (!sys_is_link(full_.Data()) && sys_is_directory(full_.Data())) {
      status->FailAt(StatusCode::kRefused, full_.Data(), "a directory where unpack writes a file");
      return false;
    }
    return true;
  }

  const char* outDir_;
  const GameReader& game_;
  const char* gameDir_;
  NameTable checked_;  // the folders found to be directories, by the name_hash of their path
  CStringBufferA folder_;
  CStringBufferA full_;
};

// What a worker needs to unpack packages: its own buffers, zlib streams and paths.
struct UnpackWorker {
  ByteBuffer indexTable;
  ByteBuffer entryTable;
  ByteBuffer idBlock;
  ByteBuffer data;  // a split entry's data, or a full package's data area
  ByteBuffer copy;  // a full package's entry, for converting its metadata
  ByteBuffer meta;
  RgbaImage image;  // a texture's level 0, and the PNG made of it
  ByteBuffer png;
  ZlibStreams streams;
  Status status;
  CStringBufferA path;
  CStringBufferA folder;  // the folder made last, relative to OUTDIR
  CStringBufferA made;
  CStringBufferA reason;
  CStringBufferA name;
};

// What a worker did with one package, for the taker.
struct UnpackSlot {
  WarningList warnings;
  Status failure;  // a file could not be written: the work stops
  bool failed = false;
  uint64_t bytes = 0;
  uint32_t files = 0;
  uint32_t metaFiles = 0;
  uint32_t pngFiles = 0;
  uint32_t unread = 0;
};

// Writes every package's entries on worker threads; the taker adds up what they did in manifest
// order, so that the report is the same for any number of threads. Each package's entries are
// its worker's alone while it works: it records in them what it wrote.
class UnpackTask : public OrderedTask {
 public:
  UnpackTask(UnpackResult& result, const UnpackRequest& request,
             const TCountedArray<FileHandle>& archives, const TCountedArray<Status>& unopened,
             const TCountedArray<uint64_t>& weights)
      : result_(result),
        layout_(result.layout),
        game_(result.game),
        request_(request),
        archives_(archives),
        unopened_(unopened),
        weights_(weights),
        bar_("unpacking", "packages") {
    workers_.allocate(request.threads);
    slots_.allocate(request.threads * kSlotsPerWorker);
    for (uint32_t p = 0; p < layout_.package_count(); ++p) {
      total_ += weights_[layout_.package(p).record];
    }
  }

  static constexpr uint32_t kSlotsPerWorker = 32;

  bool ready() const { return workers_.count() != 0 && slots_.count() != 0; }
  uint32_t window() const { return slots_.count(); }

  uint64_t Weight(uint32_t) override { return 0; }
  void Work(uint32_t worker, uint32_t step, uint32_t slot) override;
  bool Take(uint32_t step, uint32_t slot) override;

 private:
  // Says in the slot's warnings why the package, or entry e of it, could not be read.
  void PassOver(UnpackSlot& slot, UnpackWorker& worker, uint32_t record, uint32_t count,
                const UnpackEntry* entry);
  // Writes entry's data, the rawSize bytes at bytes (which whole holds exactly, unless it is
  // null), and its metadata as needed, under OUTDIR. False, with the reason in the slot, when a
  // file cannot be written.
  bool WriteEntry(UnpackSlot& slot, UnpackWorker& worker, UnpackEntry& entry,
                  const PackageEntry& stored, const uint8_t* bytes, const ByteBuffer* whole);
  // With --png, when the entry's data is a texture, writes its level 0 as a PNG at the entry's
  // PNG path, before the entry itself: a DDS is then never older than its PNG, even where the
  // file system keeps coarse times, so that texture sync finds nothing to make. A texture whose
  // PNG has no place, or that cannot be decoded, gets a warning and no PNG. False, with the
  // reason in worker.status, when the PNG cannot be written.
  bool WritePng(UnpackSlot& slot, UnpackWorker& worker, const UnpackEntry& entry,
                const uint8_t* bytes, uint32_t size);
  bool MakeFolders(UnpackWorker& worker, const char* relative);

  UnpackResult& result_;  // the taker's alone, but for the entries of the package being worked
  UnpackLayout& layout_;
  const GameReader& game_;
  const UnpackRequest& request_;
  const TCountedArray<FileHandle>& archives_;
  const TCountedArray<Status>& unopened_;  // why archive i could not be opened
  const TCountedArray<uint64_t>& weights_;
  ProgressBar bar_;
  TCountedArray<UnpackWorker> workers_;
  TCountedArray<UnpackSlot> slots_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
};

void UnpackTask::PassOver(UnpackSlot& slot, UnpackWorker& worker, uint32_t record, uint32_t count,
                          const UnpackEntry* entry) {
  game_.NamePackage(record, &worker.status);
  if (!worker.status.Describe(worker.reason)) worker.reason.Assign("out of memory");
  if (entry == nullptr) {
    slot.warnings.Add("%s; passed over", worker.reason.Data());
  } else {
    entry_name(result_.names, entry->nameId, entry->extId, worker.name);
    slot.warnings.Add("%s (entry %u, \"%s\"); passed over", worker.reason.Data(), entry->index,
                      worker.name.Data());
  }
  slot.unread += count;
}

bool UnpackTask::MakeFolders(UnpackWorker& worker, const char* relative) {
  const char* last = std::strrchr(relative, '/');
  const uint32_t length = static_cast<uint32_t>(last - relative);
  if (static_cast<uint32_t>(worker.folder.Length()) == length &&
      std::memcmp(worker.folder.Data(), relative, length) == 0) {
    return true;
  }
  // Each folder of the path in turn; one that is there already must be a directory, no link.
  for (const char* slash = std::strchr(relative, '/'); slash != nullptr && slash <= last;
       slash = std::strchr(slash + 1, '/')) {
    if (!out_path(request_.outDir, relative, worker.made,
                  static_cast<uint32_t>(slash - relative))) {
      return worker.status.FailOutOfMemory();
    }
    const char* path = worker.made.Data();
    if (sys_create_directory(path)) continue;
    const uint32_t error = sys_last_error();
    if (sys_is_link(path)) {
      worker.status.FailAt(StatusCode::kRefused, path,
                           "a symbolic link or junction; unpack follows none inside OUTDIR");
      return false;
    }
    if (!sys_is_directory(path)) {
      worker.status.FailIo("cannot create the directory", path, error);
      return false;
    }
  }
  if (worker.folder.Format("%.*s", static_cast<int>(length), relative) < 0) {
    return worker.status.FailOutOfMemory();
  }
  return true;
}

bool UnpackTask::WritePng(UnpackSlot& slot, UnpackWorker& worker, const UnpackEntry& entry,
                          const uint8_t* bytes, uint32_t size) {
  // A texture by its data; an entry named as one that is none is a texture that cannot be
  // decoded.
  static const uint64_t kDdsId = name_hash("dds");
  if (entry.pngPlace == PngPlace::kNotAsked ||
      (!has_dds_magic(bytes, size) && entry.extId != kDdsId)) {
    return true;
  }
  CStringBufferA& shown = worker.name;
  if (!out_path(request_.outDir, layout_.paths().line(entry.path), worker.made) ||
      !out_path(request_.outDir, layout_.paths().line(entry.png), worker.path)) {
    return worker.status.FailOutOfMemory();
  }
  sys_native_path(worker.made.Data(), shown);
  if (entry.pngPlace != PngPlace::kFree) {
    CStringBufferA png;
    sys_native_path(worker.path.Data(), png);
    slot.warnings.Add("\"%s\" is a texture whose PNG \"%s\" %s; no PNG was written for it",
                      shown.Data(), png.Data(), png_place_text(entry.pngPlace));
    return true;
  }
  if (!dds_level_png(bytes, size, 0, &worker.image, &worker.png, &worker.status)) {
    if (!worker.status.Describe(worker.reason)) worker.reason.Assign("out of memory");
    slot.warnings.Add("\"%s\" is a texture that cannot be decoded: %s; no PNG was written for it",
                      shown.Data(), worker.reason.Data());
    worker.status.Clear();
    return true;
  }
  if ((request_.force &&
       !clear_file(worker.path.Data(), game_, request_.gameDir, &worker.status)) ||
      !write_new_file(worker.path.Data(), worker.png.data(), worker.png.length(), &worker.status)) {
    return false;
  }
  ++slot.pngFiles;
  return true;
}

bool UnpackTask::WriteEntry(UnpackSlot& slot, UnpackWorker& worker, UnpackEntry& entry,
                            const PackageEntry& stored, const uint8_t* bytes,
                            const ByteBuffer* whole) {
  const char* relative = layout_.paths().line(entry.path);
  const uint32_t size = stored.rawSize;
  worker.status.Clear();
  if (!MakeFolders(worker, relative) || !WritePng(slot, worker, entry, bytes, size) ||
      !out_path(request_.outDir, relative, worker.path) ||
      !write_new_file(worker.path.Data(), bytes, size, &worker.status)) {
    if (worker.status.ok()) worker.status.FailOutOfMemory();
    slot.failure.Assign(worker.status);
    return false;
  }
  entry.written = true;
  ++slot.files;
  slot.bytes += size;
  if (entry.metaPath) {
    // The tool makes a texture's or a localisation file's metadata from its header: the mod
    // names a metadata file only where that would not give the entry the metadata it has. The
    // converter takes a buffer of the entry alone.
    if (whole == nullptr) {
      if (!worker.copy.resize(size)) {
        slot.failure.FailOutOfMemory();
        return false;
      }
      if (size != 0) std::memcpy(worker.copy.data(), bytes, size);
      whole = &worker.copy;
    }
    const MetaConversion conversion = convert_meta(*whole, worker.meta, entry.extId);
    entry.metaListed =
        conversion == kMetaFailed ||
        (conversion == kMetaConverted &&
         (worker.meta.length() != stored.metaSize ||
          (stored.metaSize != 0 && std::memcmp(worker.meta.data(), stored.meta, stored.metaSize))));
  }
  if (!entry.metaListed && !request_.meta) return true;
  if (worker.path.Format("%s.meta", relative) <= 0 ||
      !out_path(request_.outDir, worker.path.Data(), worker.made) ||
      !write_new_file(worker.made.Data(), stored.meta, stored.metaSize, &worker.status)) {
    if (worker.status.ok()) worker.status.FailOutOfMemory();
    slot.failure.Assign(worker.status);
    return false;
  }
  entry.metaWritten = true;
  ++slot.metaFiles;
  slot.bytes += stored.metaSize;
  return true;
}

void UnpackTask::Work(uint32_t w, uint32_t p, uint32_t s) {
  UnpackWorker& worker = workers_[w];
  UnpackSlot& slot = slots_[s];
  slot.warnings.Clear();
  slot.failure.Clear();
  slot.failed = false;
  slot.bytes = 0;
  slot.files = 0;
  slot.metaFiles = 0;
  slot.pngFiles = 0;
  slot.unread = 0;
  const UnpackPackage& package = layout_.package(p);
  uint32_t picked = 0;
  for (uint32_t i = package.first; i < package.first + package.count; ++i) {
    picked += layout_.entry(i).picked;
  }
  if (picked == 0) return;
  const PackageRecord& record = game_.record(package.record);
  worker.status.Clear();
  const FileHandle archive = archives_[record.archiveIndex];
  PackageReader reader(worker.indexTable, worker.entryTable, worker.idBlock);
  if (archive == kNoFile) {
    worker.status.Assign(unopened_[record.archiveIndex]);
    return PassOver(slot, worker, package.record, picked, nullptr);
  }
  if (!reader.Read(archive, record.offset, &worker.status) ||
      (reader.has_tables() && !reader.ReadEntryTable(&worker.status))) {
    return PassOver(slot, worker, package.record, picked, nullptr);
  }
  const uint32_t stored = reader.has_tables() ? reader.entry_count() : 0;
  // A full package's entries lie one after another in its one data area, in table order.
  if (!reader.split() && !reader.ReadBlock(archive, reader.header().dataOffset, worker.streams,
                                           worker.data, &worker.status)) {
    return PassOver(slot, worker, package.record, picked, nullptr);
  }
  uint64_t start = 0;
  uint32_t next = 0;  // the stored entry that begins at start
  for (uint32_t i = package.first; i < package.first + package.count; ++i) {
    UnpackEntry& entry = layout_.entry(i);
    if (!entry.picked) continue;
    worker.status.Clear();
    if (entry.index >= stored) {
      worker.status.Fail(StatusCode::kCorrupt, "the package changed while it was read");
      PassOver(slot, worker, package.record, 1, &entry);
      continue;
    }
    const PackageEntry& found = reader.entry(entry.index);
    const uint8_t* bytes = nullptr;
    const ByteBuffer* whole = &worker.data;
    if (reader.split()) {
      if (!reader.ReadBlock(archive, found.blockOffset, worker.streams, worker.data,
                            &worker.status)) {
        PassOver(slot, worker, package.record, 1, &entry);
        continue;
      }
      if (worker.data.length() != found.rawSize) {
        worker.status.Fail(StatusCode::kCorrupt,
                           "its block inflates to %u bytes; the entry table says %u",
                           worker.data.length(), found.rawSize);
        PassOver(slot, worker, package.record, 1, &entry);
        continue;
      }
      bytes = worker.data.data();
    } else {
      for (; next < entry.index; ++next) start += reader.entry(next).rawSize;
      if (start > worker.data.length() || found.rawSize > worker.data.length() - start) {
        worker.status.Fail(StatusCode::kCorrupt,
                           "entry %u runs past the end of the inflated data area", entry.index);
        PassOver(slot, worker, package.record, 1, &entry);
        continue;
      }
      bytes = worker.data.data() + start;
      whole = nullptr;
    }
    if (!WriteEntry(slot, worker, entry, found, bytes, whole)) {
      slot.failed = true;
      return;
    }
  }
}

bool UnpackTask::Take(uint32_t p, uint32_t s) {
  bar_.Update(done_, total_, p, layout_.package_count());
  const UnpackSlot& slot = slots_[s];
  for (uint32_t i = 0; i < slot.warnings.count(); ++i) {
    result_.warnings.Add("%s", slot.warnings.line(i));
  }
  result_.bytes += slot.bytes;
  result_.files += slot.files;
  result_.metaFiles += slot.metaFiles;
  result_.pngFiles += slot.pngFiles;
  result_.unread += slot.unread;
  if (slot.failed) {
    bar_.Finish();
    result_.failure.Assign(slot.failure);
    return false;
  }
  done_ += weights_[layout_.package(p).record];
  if (p + 1 == layout_.package_count()) bar_.Finish();
  return true;
}

// Writes the entries of every package of the layout on request.threads workers. False, with the
// reason in result.failure, when a file cannot be written or memory runs out.
bool write_entries(const UnpackRequest& request, UnpackResult& result) {
  GameReader& game = result.game;
  TCountedArray<uint64_t> weights;
  TCountedArray<FileHandle> archives;
  TCountedArray<Status> unopened;
  if (!package_weights(game, weights) || !archives.allocate(game.archive_count()) ||
      !unopened.allocate(game.archive_count())) {
    return result.failure.FailOutOfMemory();
  }
  // Every archive is opened here, once; the workers share the handles, whose reads are
  // positional.
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    archives[i] = game.OpenArchive(i, &unopened[i]);
  }
  UnpackTask task(result, request, archives, unopened, weights);
  if (!task.ready()) return result.failure.FailOutOfMemory();
  run_ordered(task, result.layout.package_count(), request.threads, task.window(), UINT64_MAX);
  return result.failure.ok();
}

// The mod's vintrel.json: every entry written but the duplicates, in manifest and table order, by
// the texts that its path has and by ids otherwise. False when out of memory.
bool make_config(UnpackResult& result, ByteBuffer& out) {
  const UnpackLayout& layout = result.layout;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("upak");
  json.String("user");
  json.Key("files");
  json.BeginArray();
  CStringBufferA pkg;
  for (uint32_t p = 0; p < layout.package_count(); ++p) {
    const UnpackPackage& package = layout.package(p);
    const uint64_t packageId = result.game.record(package.record).packageId;
    if (!record_name(result.game, package.record, pkg)) return false;
    for (uint32_t i = package.first; i < package.first + package.count; ++i) {
      const UnpackEntry& entry = layout.entry(i);
      if (!entry.written || entry.place == EntryPlace::kDuplicate) continue;
      const char* path = layout.paths().line(entry.path);
      json.BeginObject();
      if (entry.place == EntryPlace::kByName) {
        json.Key("name");
        json.String(result.names.Name(entry.nameId));
      } else {
        json.Key("name_id");
        json.String(id_text(entry.nameId).text);
      }
      if (entry.extText) {
        json.Key("ext");
        json.String(result.names.Ext(entry.extId));
      } else {
        json.Key("ext_id");
        json.String(id_text(entry.extId).text);
      }
      json.Key("src");
      json.String(path);
      json.Key(package.pkgText ? "pkg" : "pkg_id");
      json.String(package.pkgText ? pkg.Data() : id_text(packageId).text);
      if (entry.metaListed) {
        TStringBufferA<256> meta;
        if (meta.Format("%s.meta", path) <= 0) return false;
        json.Key("meta");
        json.String(meta.Data());
      }
      json.EndObject();
      ++result.listed;
    }
  }
  json.EndArray();
  json.EndObject();
  return json.ok();
}

// Writes OUTDIR/vintrel.json through a temporary name.
bool write_config(const UnpackRequest& request, UnpackResult& result) {
  ByteBuffer config;
  CStringBufferA temp;
  CStringBufferA path;
  if (!make_config(result, config) || !out_path(request.outDir, kConfigTemp, temp) ||
      !out_path(request.outDir, kConfigName, path)) {
    return result.failure.FailOutOfMemory();
  }
  if (!write_new_file(temp.Data(), config.data(), config.length(), &result.failure)) return false;
  if (!sys_move_file(temp.Data(), path.Data())) {
    result.failure.FailIo("cannot rename a file to", path.Data());
    sys_delete_file(temp.Data());
    return false;
  }
  return true;
}

// Which package records --pkg names (all when it is not given). False, with the reason, when an
// argument names no package that lies in an archive.
bool select_packages(const UnpackRequest& request, const GameReader& game,
                     TCountedArray<uint8_t>& records, Status* status) {
  if (request.pkgs->count == 0) return true;
  if (!records.allocate(game.package_count())) return status->FailOutOfMemory();
  for (uint32_t a = 0; a < request.pkgs->count; ++a) {
    const char* pkg = (*request.pkgs)[a];
    const uint64_t packageId = argument_id(pkg);
    if (!check_package(game, pkg, packageId, status)) return false;
    for (uint32_t k = 0; k < game.package_count(); ++k) {
      if (game.record(k).packageId == packageId) records[k] = 1;
    }
  }
  return true;
}

// Opens the game, lays its entries out, writes them under OUTDIR and then OUTDIR/vintrel.json.
// False when the game cannot be read (having said why), or with the reason in result.failure
// when nothing could be unpacked or a file could not be written.
bool unpack_game(const UnpackRequest& request, UnpackResult& result) {
  Status* status = &result.failure;
  if (!open_game(request.gameDir, result.game) ||
      !load_names(*request.args, &result.game, nullptr, 0, result.names)) {
    return false;
  }
  TCountedArray<uint8_t> records;
  TCountedArray<NameGlob> globs;
  if (!select_packages(request, result.game, records, status)) return false;
  if (request.matches->count != 0 && !globs.allocate(request.matches->count)) {
    return status->FailOutOfMemory();
  }
  for (uint32_t g = 0; g < request.matches->count; ++g) {
    if (!globs[g].Compile((*request.matches)[g])) return status->FailOutOfMemory();
  }
  bool exists = false;
  bool empty = true;
  if (!check_out_dir(request.outDir, request.force, &exists, &empty, status)) return false;
  UnpackSelection selection;
  selection.records = records.count() != 0 ? &records[0] : nullptr;
  selection.globs = globs.count() != 0 ? &globs[0] : nullptr;
  selection.globCount = globs.count();
  selection.meta = request.meta;
  selection.png = request.png;
  UnpackLayout& layout = result.layout;
  if (!layout.Plan(result.game, result.names, selection, status)) return false;
  for (uint32_t i = 0; i < layout.warnings().count(); ++i) {
    result.warnings.Add("%s", layout.warnings().line(i));
  }
  if (layout.selected() == 0 && request.matches->count != 0) {
    status->Fail(StatusCode::kNotFound, "no entry of %s matches --match; nothing was written",
                 request.pkgs->count != 0 ? "the packages chosen" : "the game");
    return false;
  }
  if (!exists && !sys_create_directory(request.outDir)) {
    status->FailIo("cannot create the directory", request.outDir);
    return false;
  }
  if (!empty) {
    RoomMaker room(request.outDir, result.game, request.gameDir);
    if (!room.Make(layout, status)) return false;
  }
  return write_entries(request, result) && write_config(request, result);
}

void print_unpack(const UnpackRequest& request, const UnpackResult& result) {
  const UnpackLayout& layout = result.layout;
  TextTable table(6, 0x3Cu);
  const char* const headings[] = {"package", "folder", "entries", "by name", "by id", "left out"};
  for (const char* heading : headings) table.Cell(heading);
  CStringBufferA name;
  uint32_t packages = 0;
  uint32_t picked = 0;
  for (uint32_t p = 0; p < layout.package_count(); ++p) {
    const UnpackPackage& package = layout.package(p);
    uint32_t counts[3] = {};  // picked, by name, by id
    for (uint32_t i = package.first; i < package.first + package.count; ++i) {
      const UnpackEntry& entry = layout.entry(i);
      counts[0] += entry.picked;
      counts[1] += entry.written && entry.place == EntryPlace::kByName;
      counts[2] += entry.written && entry.place == EntryPlace::kById;
    }
    if (counts[0] == 0) continue;
    ++packages;
    picked += counts[0];
    record_name(result.game, package.record, name);
    table.Cell(name);
    table.Cell(layout.paths().line(package.folder));
    table.Number(counts[0]);
    table.Number(counts[1]);
    table.Number(counts[2]);
    table.Number(counts[0] - counts[1] - counts[2]);
  }
  CStringBufferA out;
  CStringBufferA config;
  CStringBufferA joined;
  sys_native_path(request.outDir, out);
  out_path(request.outDir, kConfigName, joined);
  sys_native_path(joined.Data(), config);
  if (packages != 0) {
    table.Print(stdout);
    std::fputc('\n', stdout);
  }
  CStringBufferA pngs;
  if (request.png) {
    pngs.Format(", and %u PNG file%s beside the textures", result.pngFiles,
                result.pngFiles == 1 ? "" : "s");
  }
  std::printf(
      "unpacked %u entr%s of %u package%s into \"%s\": %llu bytes in %u file%s and %u metadata "
      "file%s%s\nwrote \"%s\": a mod of %u file%s\n",
      picked, picked == 1 ? "y" : "ies", packages, packages == 1 ? "" : "s", out.Data(),
      static_cast<unsigned long long>(result.bytes), result.files, result.files == 1 ? "" : "s",
      result.metaFiles, result.metaFiles == 1 ? "" : "s", pngs.Data(), config.Data(), result.listed,
      result.listed == 1 ? "" : "s");
}

int run_unpack(const CommandArgs& args) {
  UnpackRequest request;
  request.args = &args;
  request.gameDir = args.positional[0];
  // OUTDIR without the separators it may end in, so that paths under it read as one would write
  // them; a root keeps its own.
  PathBuffer outDir;
  const char* given = args.positional[1];
  size_t length = std::strlen(given);
  while (length > 1 && (given[length - 1] == '/' || given[length - 1] == '\\') &&
         given[length - 2] != ':') {
    --length;
  }
  if (outDir.Format("%.*s", static_cast<int>(length), given) <= 0) {
    print_error("out of memory");
    return kExitFailure;
  }
  request.outDir = outDir.Data();
  request.pkgs = &args.pkgs;
  request.matches = &args.matches;
  request.meta = args.meta;
  request.force = args.force;
  request.png = args.png;
  request.threads = inspect_thread_count(args);
  UnpackResult result;
  const bool written = unpack_game(request, result);
  print_warnings(result.warnings);
  if (!written) {
    if (!result.failure.ok()) print_failure(result.failure);
    return kExitFailure;
  }
  print_unpack(request, result);
  bool complete = result.unread == 0;
  for (uint32_t p = 0; p < result.layout.package_count(); ++p) {
    complete = complete && !result.layout.package(p).unread;
  }
  return complete ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kUnpackCommand = {
    "unpack",
    "GAMEDIR OUTDIR [--pkg PACKAGE]... [--match GLOB]... [--names FILE]... [--meta] [--png] "
    "[--force] [--threads N]",
    "take packages out of the game into folders, as a mod that the tool runs",
    "Writes every entry of the game's packages (those in an archive) to a file under OUTDIR:\n"
    "OUTDIR/PACKAGE/NAME.EXT, where the '/' and '\\' of a name make folders, and then\n"
    "OUTDIR/vintrel.json, a mod that lists every file written with its \"pkg\". Run as it is, the\n"
    "mod gives every entry the bytes and metadata it holds: edit files, then \"prune\" the mod to\n"
    "the files that differ from the game.\n"
    "\n"
    "An entry whose name no list knows goes to PACKAGE/_unknown/NAMEID.EXT (the ext's id too\n"
    "when it is unknown), listed by \"name_id\" (\"ext_id\"). So does an entry whose name cannot\n"
    "be a path on every system (\"..\", an absolute path or a drive, a name Windows reserves or\n"
    "refuses, a part over 255 bytes) or would land on another's path ignoring case, with a\n"
    "warning; a package whose name cannot be a folder gets its id as folder. Entries with the\n"
    "same name and ext in one package (or in packages of one id) cannot be told apart by a mod:\n"
    "they go to PACKAGE/_duplicate/INDEX.EXT and are left out of vintrel.json, with a warning.\n"
    "Where the tool would not give a texture or a localisation file the metadata it has, the\n"
    "metadata is written beside it as FILE.meta and vintrel.json names it as \"meta\".\n"
    "\n"
    "With --png, each entry whose data is a DDS texture also gets its mip level 0 as an RGBA PNG\n"
    "beside it, at its path with the extension \"png\" (hero.dds: hero.png), as texture export\n"
    "writes it; vintrel.json does not list the PNGs. Each PNG is written before its texture, so\n"
    "that \"texture sync\" makes a DDS only from a PNG edited since. The entries' own paths come\n"
    "first: a PNG that would land on one (or on a folder), or on another texture's PNG ignoring\n"
    "case (those with the ext \"dds\" choose first), is not written, and neither is the PNG of a\n"
    "texture that cannot be decoded; each with a warning. Edit the PNGs, run texture sync, prune\n"
    "and run the mod.\n"
    "\n"
    "OUTDIR must be missing (it is made) or empty. Nothing is written outside it, no link inside\n"
    "it is followed, and no file is written over; with --force, files at the paths unpack\n"
    "writes are replaced (never a file of the game).\n"
    "\n"
    "  --pkg PACKAGE  unpack that package only (any number of times)\n"
    "  --match GLOB   unpack the entries whose NAME.EXT matches GLOB only (any number of\n"
    "                 times): * is any run within a folder, ** any run across folders (**/ also\n"
    "                 none), ? one character, / or \\ a separator; A to Z match either case. A\n"
    "                 GLOB without a separator is matched against the part after the last one\n"
    "  --names FILE   read the name list FILE too (any number of times)\n"
    "  --meta         write every entry's metadata beside it as FILE.meta\n"
    "  --png          write every texture's mip level 0 beside it as a PNG\n"
    "  --force        write into an OUTDIR that holds files, replacing those at unpack's paths\n"
    "  --threads N    unpack on N threads (default: VINTREL_THREADS, else one per processor);\n"
    "                 the files and the report are the same for any N\n"
    "\n"
    "On a terminal, a progress bar on standard error shows how far the work has got once it has\n"
    "taken more than a second.\n"
    "\n"
    "Exit status: 0 when every entry chosen was written, 1 when any could not be read (the\n"
    "others are written and listed) or a file could not be written, 2 for a usage error.\n",
    2,
    kOptionPkgs | kOptionMatch | kOptionNames | kOptionMeta | kOptionPng | kOptionForce |
        kOptionThreads,
    run_unpack,
};
