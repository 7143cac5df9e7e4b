#include "inspect/output_file.h"

#include <initializer_list>

#include "base/file.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "base/string_buffer.h"

bool write_output_file(const char* path, const ByteBuffer& bytes, Status* status) {
  return write_whole_file(path, bytes, status);
}

bool write_new_file(const char* path, const uint8_t* data, uint32_t length, Status* status) {
  ScopedFile file(
      sys_create_file(path, FileAccess::kWrite, FileShare::kNone, FileDisposition::kCreateNew));
  if (!file.is_open()) {
    status->FailIo("cannot create", path);
    return false;
  }
  if (length != 0 && file_write(file.get(), data, length) != length) {
    status->FailIo("cannot write", path);
    file.reset();
    sys_delete_file(path);
    return false;
  }
  return true;
}

bool is_game_file(const GameReader& game, const char* gameDir, const char* path) {
  if (!sys_file_exists(path)) return false;
  PathBuffer gameFile;
  for (const char* manifest : {"manifest.bin", "origmanifest.bin"}) {
    if (gameFile.Format("%s\\%s", gameDir, manifest) > 0 && sys_same_file(gameFile.Data(), path)) {
      return true;
    }
  }
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    if (game.ArchivePath(i, gameFile) && sys_same_file(gameFile.Data(), path)) return true;
  }
  return false;
}
