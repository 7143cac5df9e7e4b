#ifndef VINTREL_INSPECT_META_REPORT_H_
#define VINTREL_INSPECT_META_REPORT_H_

// What the metadata of a texture or localisation entry says, for the reports that show it.

#include <cstdint>

#include "base/string_buffer.h"
#include "json/json_writer.h"
#include "package/entry_meta.h"

// Metadata decoded by its extension: a TextureMeta for "dds", a LocMeta for "loc". Neither is set
// for another extension, or when the bytes are not a well-formed record of their kind.
struct DecodedMeta {
  bool texture = false;
  TextureMeta textureMeta;
  bool loc = false;
  uint32_t locCount = 0;
};

DecodedMeta decode_meta(uint64_t extId, const uint8_t* meta, uint32_t size);

// What the decoded metadata says, into text: "DXT1 256x128, 9 mips", "DXT5 cube 64x64, 7 mips",
// "ARGB32 volume 16x8x4, 1 mip", "loc, 3 ids"; empty when nothing was decoded. False when out of
// memory.
bool describe_meta(const DecodedMeta& decoded, CStringBufferA& text);

// Whether two textures differ in format, width, height, depth, mip count or kind: a game may
// expect a replacing texture to keep the layout of the one it replaces.
bool textures_differ(const TextureMeta& a, const TextureMeta& b);

// The warning for a replacing texture that differs from the game's entry, into text:
// "\"hero.dds\" is DXT5 2048x2048, 12 mips; the game's \"hero\" \"dds\" in \"ui_common\" is DXT1
// 1024x1024, 11 mips". file is the replacing file's name, name and ext the entry's, package the
// package's name as it is to be shown. False when out of memory.
bool describe_texture_difference(const char* file, const TextureMeta& replacing, const char* name,
                                 const char* ext, const char* package, const TextureMeta& game,
                                 CStringBufferA& text);

// Writes the members "texture" ({"format", "format_name", "width", "height", "depth", "mips",
// "kind"}) and "loc" ({"count"}) of the open object, each null when not decoded.
void write_meta_json(const DecodedMeta& decoded, JsonWriter& json);

#endif  // VINTREL_INSPECT_META_REPORT_H_
