#include "inspect/meta_report.h"

#include <cstdio>

#include "driver/name_hash.h"

DecodedMeta decode_meta(uint64_t extId, const uint8_t* meta, uint32_t size) {
  static const uint64_t ddsId = name_hash("dds");
  static const uint64_t locId = name_hash("loc");
  DecodedMeta decoded;
  if (extId == ddsId) {
    decoded.texture = decode_texture_meta(meta, size, &decoded.textureMeta);
  } else if (extId == locId) {
    decoded.loc = decode_loc_meta(meta, size, &decoded.locCount);
  }
  return decoded;
}

bool describe_meta(const DecodedMeta& decoded, CStringBufferA& text) {
  if (decoded.loc) {
    return text.Format("loc, %u %s", decoded.locCount, decoded.locCount == 1 ? "id" : "ids") > 0;
  }
  if (!decoded.texture) return text.Assign("") != nullptr;
  const TextureMeta& t = decoded.textureMeta;
  char format[16];
  const char* name = texture_format_name(t.format);
  if (name == nullptr) {
    std::snprintf(format, sizeof(format), "format %u", t.format);
    name = format;
  }
  const char* mips = t.mipCount == 1 ? "mip" : "mips";
  if (t.kind == kTextureVolume) {
    return text.Format("%s volume %ux%ux%u, %u %s", name, t.width, t.height, t.depth, t.mipCount,
                       mips) > 0;
  }
  if (t.kind == kTextureCube) {
    return text.Format("%s cube %ux%u, %u %s", name, t.width, t.height, t.mipCount, mips) > 0;
  }
  return text.Format("%s %ux%u, %u %s", name, t.width, t.height, t.mipCount, mips) > 0;
}

bool textures_differ(const TextureMeta& a, const TextureMeta& b) {
  return a.format != b.format || a.width != b.width || a.height != b.height || a.depth != b.depth ||
         a.mipCount != b.mipCount || a.kind != b.kind;
}

bool describe_texture_difference(const char* file, const TextureMeta& replacing, const char* name,
                                 const char* ext, const char* package, const TextureMeta& game,
                                 CStringBufferA& text) {
  DecodedMeta decoded;
  decoded.texture = true;
  decoded.textureMeta = replacing;
  CStringBufferA is;
  CStringBufferA was;
  if (!describe_meta(decoded, is)) return false;
  decoded.textureMeta = game;
  if (!describe_meta(decoded, was)) return false;
  return text.Format("\"%s\" is %s; the game's \"%s\" \"%s\" in \"%s\" is %s", file, is.Data(),
                     name, ext, package, was.Data()) > 0;
}

void write_meta_json(const DecodedMeta& decoded, JsonWriter& json) {
  json.Key("texture");
  if (decoded.texture) {
    const TextureMeta& t = decoded.textureMeta;
    const char* formatName = texture_format_name(t.format);
    json.BeginObject();
    json.Key("format");
    json.Uint(t.format);
    json.Key("format_name");
    if (formatName != nullptr) {
      json.String(formatName);
    } else {
      json.Null();
    }
    json.Key("width");
    json.Uint(t.width);
    json.Key("height");
    json.Uint(t.height);
    json.Key("depth");
    json.Uint(t.depth);
    json.Key("mips");
    json.Uint(t.mipCount);
    json.Key("kind");
    json.String(texture_kind_name(t.kind));
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("loc");
  if (decoded.loc) {
    json.BeginObject();
    json.Key("count");
    json.Uint(decoded.locCount);
    json.EndObject();
  } else {
    json.Null();
  }
}
