#ifndef VINTREL_INSPECT_TEXTURE_SOURCE_H_
#define VINTREL_INSPECT_TEXTURE_SOURCE_H_

// What the texture commands read and make: a texture from a DDS file or a game's entry, and a
// texture made from a PNG file.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "base/warning_list.h"
#include "image/dds_make.h"
#include "image/dds_texture.h"
#include "inspect/command.h"
#include "inspect/game_entry.h"
#include "inspect/texture_files.h"
#include "manifest/game_reader.h"
#include "names/name_list.h"

// Where a texture comes from: the DDS file `file`, or else the entry NAME EXT [--pkg PACKAGE] of
// the game in gameDir, as the arguments give them.
struct TextureSourceArgs {
  const char* file = nullptr;
  const char* gameDir = nullptr;
  const char* name = nullptr;
  const char* ext = nullptr;
  const char* pkg = nullptr;
};

// A texture as it was read.
struct SourceTexture {
  const char* file = nullptr;     // the DDS file, or null for a game's entry
  const char* gameDir = nullptr;  // the game, or null for a file
  GameReader game;                // open when gameDir is not null
  NameLists names;
  EntryRequest wanted;
  GameEntry entry;       // entry.data holds the DDS file's bytes, from a file too
  CStringBufferA shown;  // for messages: "\"hero\" \"dds\" in package \"ui_common\"", "\"a.dds\""

  const ByteBuffer& dds() const { return entry.data; }
};

// Reads the texture: the file, or the game's entry (opening the game and loading the name lists
// of args, read_game_entry with `doing` for its warning). False when the manifest or a name list
// cannot be read (having said why; status then ok), and with the reason in *status otherwise.
bool read_texture_source(const CommandArgs& args, const TextureSourceArgs& from, const char* doing,
                         SourceTexture* source, WarningList& warnings, Status* status);

// The header of a texture to make another like (read_dds_header, dds_target_like). False, with
// the reason in *status naming the source, when it is none or cannot be made like.
bool source_header(const SourceTexture& source, DdsHeader* header, Status* status);

// False, with the reason in *status, when the source is a game's entry and out is a file of that
// game.
bool refuse_game_file(const SourceTexture& source, const char* out, Status* status);

// Has the failure in *status name the source: the file's path, or the entry and its package
// before the reason. Always false, for "return blame_source(...)".
bool blame_source(const SourceTexture& source, Status* status);

// A texture made from a PNG file.
struct MadeTexture {
  ByteBuffer dds;
  DdsTexture texture;
  uint32_t imageWidth = 0;  // the PNG's size
  uint32_t imageHeight = 0;
  bool resampled = false;  // its level 0 resampled from the PNG (recipe.resize)
};

// Reads the PNG at pngPath (read_png_file) and makes the texture of the recipe (like a header,
// or in a format at the PNG's size) into *made (make_dds). False, with the reason in *status
// naming the PNG, when it cannot be read or decoded, or the texture cannot be made from it (the
// image has another size and the recipe does not resize, the mip count is beyond its chain).
bool make_texture_file(const char* pngPath, const DdsRecipe& recipe, MadeTexture* made,
                       Status* status);

#endif  // VINTREL_INSPECT_TEXTURE_SOURCE_H_
