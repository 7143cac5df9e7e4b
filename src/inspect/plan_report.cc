#include "inspect/plan_report.h"

#include <cstdio>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/meta_report.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"
#include "report/json_report.h"
#include "report/text_table.h"

namespace {

// A file's row in the text report names at most this many packages; --json names them all.
constexpr uint32_t kPackagesNamed = 5;

}  // namespace

bool describe_file_meta(const PackFileEntry& file, const FileCheck& check, bool used,
                        CStringBufferA& text) {
  if (check.result == kMetaFailed) return text.Assign(used ? "refused" : "unusable") != nullptr;
  if (check.result == kMetaNone) return text.Assign("the entry's own") != nullptr;
  CStringBufferA decoded;
  if (!describe_meta(decode_meta(file.extId, check.meta.data(), check.meta.length()), decoded)) {
    return false;
  }
  const char* from = file.metaPath.IsEmpty() ? "" : "meta file: ";
  if (decoded.Length() != 0) return text.Format("%s%s", from, decoded.Data()) > 0;
  return text.Format("%s%u bytes", from, check.meta.length()) > 0;
}

bool name_packages(const PackFileEntry& file, const Plan& plan, CStringBufferA& cell) {
  static const uint8_t kSeparator[] = {',', ' '};
  const MatchList& matches = plan.matches;
  uint32_t named = 0;
  uint32_t more = 0;
  for (uint32_t i = 0; i < matches.count(); ++i) {
    if (matches.file(i) != file.index) continue;
    if (named == kPackagesNamed) {
      ++more;
      continue;
    }
    const PackageRecord& record = plan.game.record(matches.record(i));
    if ((named++ != 0 && !append_escaped(kSeparator, sizeof(kSeparator), cell)) ||
        !append_escaped(record.name, record.nameLength, cell)) {
      return false;
    }
  }
  if (named == 0) return cell.Assign("none") != nullptr;
  if (more == 0) return true;
  CStringBufferA all;
  return all.Format("%s and %u more", cell.Data(), more) > 0 && cell.Assign(all.Data()) != nullptr;
}

namespace {

bool write_files_table(const Plan& plan) {
  TextTable files(6, 1u << 0);
  const char* const headings[] = {"file", "name", "ext", "pkg", "replaces in", "metadata"};
  for (const char* heading : headings) files.Cell(heading);
  uint32_t i = 0;
  for (const PackFileEntry* file = plan.context.entries.head(); file != nullptr;
       file = file->next) {
    const FileCheck& check = plan.checks[i++];
    files.Number(file->index);
    IdText hex;
    files.Cell(file_name_text(plan.names, *file, &hex));
    files.Cell(file_ext_text(plan.names, *file, &hex));
    const char* pkg = file_pkg_text(plan.names, *file, &hex);
    files.Cell(pkg != nullptr ? pkg : "");
    CStringBufferA packages;
    CStringBufferA meta;
    if (!name_packages(*file, plan, packages) ||
        !describe_file_meta(*file, check, plan.matches.used().Used(*file), meta)) {
      return false;
    }
    files.Cell(packages);
    files.Cell(meta);
  }
  if (!files.ok()) return false;
  if (i != 0) {
    files.Print(stdout);
    std::fputc('\n', stdout);
  }
  return true;
}

bool write_rewrites_table(const Plan& plan) {
  const uint32_t count = plan.passed ? plan.rewrites.count() : 0;
  if (count == 0) return true;
  TextTable rewrites(6, 1u << 2 | 1u << 3 | 1u << 4 | 1u << 5);
  const char* const headings[] = {"package", "id", "archive", "offset", "new offset", "bytes"};
  for (const char* heading : headings) rewrites.Cell(heading);
  for (uint32_t i = 0; i < count; ++i) {
    const Rewrite& rewrite = plan.rewrites[i];
    const PackageRecord& record = plan.game.record(rewrite.record);
    rewrites.Cell(record.name, record.nameLength);
    rewrites.Cell(id_text(record.packageId).text);
    rewrites.Number(record.archiveIndex);
    rewrites.Number(record.offset);
    rewrites.Number(rewrite.newOffset);
    rewrites.Number(rewrite.bytes);
  }
  if (!rewrites.ok()) return false;
  rewrites.Print(stdout);
  std::fputc('\n', stdout);
  return true;
}

// False when out of memory.
bool write_file_json(const PackFileEntry& file, const FileCheck& check, const Plan& plan,
                     CStringBufferA& text, JsonWriter& json) {
  json.BeginObject();
  json.Key("file");
  json.Uint(file.index);
  write_file_name_members(json, plan.names, file);
  write_file_pkg_members(json, plan.names, file);
  sys_native_path(file.sourcePath.Text(), text);
  json.Key("src");
  json.String(text.Data());
  json.Key("packages");
  json.BeginArray();
  for (uint32_t i = 0; i < plan.matches.count(); ++i) {
    if (plan.matches.file(i) != file.index) continue;
    const PackageRecord& record = plan.game.record(plan.matches.record(i));
    json.String(record.name, record.nameLength);
  }
  json.EndArray();
  const bool converted = check.result == kMetaConverted;
  json.Key("meta_from");
  if (check.result == kMetaFailed) {
    json.Null();
  } else {
    json.String(!converted ? "entry" : file.metaPath.IsEmpty() ? "src" : "meta");
  }
  json.Key("meta");
  if (converted) {
    json.HexString(check.meta.data(), check.meta.length());
  } else {
    json.Null();
  }
  write_meta_json(
      converted ? decode_meta(file.extId, check.meta.data(), check.meta.length()) : DecodedMeta(),
      json);
  json.Key("problem");
  if (check.result != kMetaFailed) {
    json.Null();
  } else if (check.problem.Describe(text)) {
    json.String(text.Data());
  } else {
    return false;
  }
  json.EndObject();
  return true;
}

}  // namespace

bool print_plan_text(const Plan& plan) {
  if (!write_files_table(plan) || !write_rewrites_table(plan)) return false;
  const uint32_t count = plan.passed ? plan.rewrites.count() : 0;
  if (!plan.succeeds) {
    const uint32_t errors = plan.errors.count();
    std::printf("a run would fail: %u error%s\n", errors, errors == 1 ? "" : "s");
  } else if (count == 0) {
    std::printf("a run would succeed: it rewrites no package\n");
  } else {
    std::printf("a run would succeed: it rewrites %u package%s into \"%s.upak\" (%llu bytes)\n",
                count, count == 1 ? "" : "s", plan.context.userPackage.Text(),
                static_cast<unsigned long long>(plan.userArchiveBytes));
  }
  return true;
}

bool print_plan_json(const Plan& plan) {
  ByteBuffer out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("upak");
  json.String(plan.context.userPackage.Text());
  json.Key("fullcopy");
  json.Bool(plan.context.fullCopy);
  json.Key("files");
  json.BeginArray();
  CStringBufferA text;
  uint32_t i = 0;
  for (const PackFileEntry* file = plan.context.entries.head(); file != nullptr;
       file = file->next) {
    if (!write_file_json(*file, plan.checks[i++], plan, text, json)) return false;
  }
  json.EndArray();
  json.Key("rewrites");
  if (plan.passed) {
    json.BeginArray();
    for (uint32_t k = 0; k < plan.rewrites.count(); ++k) {
      const Rewrite& rewrite = plan.rewrites[k];
      json.BeginObject();
      write_record_members(json, plan.game.record(rewrite.record), "package");
      json.Key("new_offset");
      json.Uint(rewrite.newOffset);
      json.Key("bytes");
      json.Uint(rewrite.bytes);
      json.EndObject();
    }
    json.EndArray();
  } else {
    json.Null();
  }
  json.Key("user_archive_bytes");
  if (plan.passed) {
    json.Uint(plan.userArchiveBytes);
  } else {
    json.Null();
  }
  write_json_lines(json, "warnings", plan.context.warnings);
  write_json_lines(json, "errors", plan.errors);
  json.Key("ok");
  json.Bool(plan.succeeds);
  json.EndObject();
  return print_json_document(json, out);
}
