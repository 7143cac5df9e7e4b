#include "manifest/game_files.h"

#include "manifest/package_directory.h"

bool archive_path(const char* dir, const char* name, CStringBufferA& path) {
  return path.Format("%s%s.upak", dir, name) > 0;
}

bool record_archive_path(const char* dir, const ArchiveRecord& record, CStringBufferA& path) {
  CStringBufferA name;
  return copy_directory_name(record.name, record.nameLength, name) &&
         archive_path(dir, name.Data(), path);
}

bool pending_archive_path(const char* dir, const char* name, CStringBufferA& path) {
  return path.Format("%s%s.upak.tmp", dir, name) > 0;
}

bool manifest_path(const char* dir, CStringBufferA& path) {
  return path.Format("%smanifest.bin", dir) > 0;
}

bool pending_manifest_path(const char* dir, CStringBufferA& path) {
  return path.Format("%smanifest.bin.tmp", dir) > 0;
}

bool backup_path(const char* dir, CStringBufferA& path) {
  return path.Format("%sorigmanifest.bin", dir) > 0;
}

bool pending_backup_path(const char* dir, CStringBufferA& path) {
  return path.Format("%sorigmanifest.bin.tmp", dir) > 0;
}

bool game_file_path(const char* dir, const char* name, CStringBufferA& path) {
  return path.Format("%s%s", dir, name) > 0;
}

bool pending_file_path(const char* dir, const char* name, CStringBufferA& path) {
  return path.Format("%s%s.tmp", dir, name) > 0;
}

bool aside_file_path(const char* dir, const char* name, CStringBufferA& path) {
  return path.Format("%s%s.old", dir, name) > 0;
}
