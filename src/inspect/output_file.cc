#include "inspect/output_file.h"

#include <initializer_list>

#include "base/file.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "base/string_buffer.h"

bool write_output_file(const char* path, const ByteBuffer& bytes, Status* status) {
  return write_whole_file(path, bytes, status);
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
