#include "inspect/game_entry.h"

#include <cstring>

#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "manifest/package_directory.h"

EntryRequest entry_request(const NameLists& names, const char* name, const char* ext,
                           const char* pkg) {
  EntryRequest request;
  request.nameId = argument_id(name);
  request.extId = argument_id(ext);
  request.packageId = pkg != nullptr ? argument_id(pkg) : 0;
  // An id given for a name the lists know is told by that name.
  request.name = argument_name(name, names.names());
  request.ext = argument_name(ext, names.exts());
  if (request.name == nullptr) request.name = name;
  if (request.ext == nullptr) request.ext = ext;
  request.pkg = pkg;
  return request;
}

bool read_game_entry(GameReader& game, const EntryRequest& request, GameEntry* entry,
                     WarningList& warnings, Status* status) {
  if (request.packageId != 0 && !check_package(game, request.pkg, request.packageId, status)) {
    return false;
  }
  EntrySearch search(game, request.nameId, request.extId, request.packageId);
  Status unread;
  CStringBufferA others;
  CStringBufferA packageName;
  CStringBufferA reason;
  entry->record = kNoRecord;
  for (EntrySearch::Step step; (step = search.Next(&unread)) != EntrySearch::kDone;) {
    if (step == EntrySearch::kUnreadable) {
      if (!unread.Describe(reason)) reason.Assign("out of memory");
      warnings.Add("%s; passed over", reason.Data());
      continue;
    }
    if (entry->record == kNoRecord) {
      entry->record = search.record();
      const PackageEntry& found = game.package().entry(search.entry());
      if (!game.ReadEntryData(search.entry(), entry->data, status)) return false;
      if (!entry->meta.resize(found.metaSize)) return status->FailOutOfMemory();
      if (found.metaSize != 0) std::memcpy(entry->meta.data(), found.meta, found.metaSize);
    } else if (search.record() != entry->record) {
      if (!record_name(game, search.record(), packageName) ||
          !append_quoted(packageName.Data(), others)) {
        return status->FailOutOfMemory();
      }
    }
  }
  if (entry->record == kNoRecord) {
    if (request.packageId != 0) {
      status->Fail(StatusCode::kNotFound, "package \"%s\" holds no entry \"%s\" \"%s\"",
                   request.pkg, request.name, request.ext);
    } else {
      status->Fail(StatusCode::kNotFound, "no package holds an entry \"%s\" \"%s\"", request.name,
                   request.ext);
    }
    return false;
  }
  if (!record_name(game, entry->record, entry->package)) return status->FailOutOfMemory();
  if (others.Length() != 0) {
    warnings.Add(
        "\"%s\" \"%s\" is also in %s; %s \"%s\", the first in the manifest (choose with "
        "--pkg)",
        request.name, request.ext, others.Data(), request.doing, entry->package.Data());
  }
  return true;
}
