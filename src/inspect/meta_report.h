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

// Writes the members "texture" ({"format", "format_name", "width", "height", "depth", "mips",
// "kind"}) and "loc" ({"count"}) of the open object, each null when not decoded.
void write_meta_json(const DecodedMeta& decoded, JsonWriter& json);

#endif  // VINTREL_INSPECT_META_REPORT_H_
