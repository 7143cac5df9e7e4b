#ifndef VINTREL_INSPECT_TEXTURE_FILES_H_
#define VINTREL_INSPECT_TEXTURE_FILES_H_

// What the texture commands share: the PNG that stands beside a texture, how a texture is told
// in messages, and whether the tool's run takes a texture as it is.

#include "base/string_buffer.h"
#include "driver/pack_file_entry.h"
#include "image/dds_header.h"
#include "image/dds_texture.h"
#include "manifest/package_directory.h"
#include "names/name_list.h"

// The PNG beside a DDS file: its path with the extension of its last component replaced by
// "png" ("ui/hero.dds": "ui/hero.png"), or ".png" added when it has none. False when out of
// memory.
bool png_beside(const char* ddsPath, CStringBufferA& out);

// A texture for messages: "DXT1 8x8, 4 mips", "A8R8G8B8 cube 64x64, 7 mips", "R5G6B5 volume
// 16x8x4, 1 mip", its pixel format as name_pixel_format names it. False when out of memory.
bool describe_dds_texture(const DdsTexture& texture, CStringBufferA& text);

// Whether the tool's metadata conversion takes a texture in this pixel format when no "meta"
// file is given (R5G6B5 and L8, among others, it refuses).
bool tool_takes_format(const DdsPixelFormat& format);

// The warning for a texture in a format that the tool takes only with a "meta" file, into text:
// "\"sky.dds\" is R5G6B5, which the tool's run takes only with a \"meta\" file ...". False when
// out of memory.
bool describe_meta_needed(const char* path, const DdsPixelFormat& format, CStringBufferA& text);

// The warning for a replacing texture whose layout differs from the game's entry (line, as
// describe_texture_difference gives it) with the command that makes one like the entry from the
// PNG beside the file added, the paths as the command line and vintrel.json give them, into
// text: "...; make one with \"vintrel-inspect texture make mymod/hero.png mymod/hero.dds --game
// mygame --entry hero dds --pkg ui_common\"". The entry and the package are named by the texts
// that give their ids, or else by "0x" and the ids. False when out of memory.
bool add_texture_remedy(const char* line, const NameLists& names, const PackFileEntry& file,
                        const PackageRecord& record, const char* gameDir, CStringBufferA& text);

#endif  // VINTREL_INSPECT_TEXTURE_FILES_H_
