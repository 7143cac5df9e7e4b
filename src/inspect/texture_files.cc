#include "inspect/texture_files.h"

#include <cstring>

#include "base/platform.h"
#include "driver/name_hash.h"
#include "image/dds_format.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "package/texture_conversion.h"

bool png_beside(const char* ddsPath, CStringBufferA& out) {
  size_t stem = std::strlen(ddsPath);
  for (size_t i = stem; i > 0; --i) {
    const char c = ddsPath[i - 1];
    if (c == '/' || c == '\\') break;
    if (c == '.') {
      stem = i - 1;
      break;
    }
  }
  return out.Format("%.*s.png", static_cast<int>(stem), ddsPath) > 0;
}

bool describe_dds_texture(const DdsTexture& texture, CStringBufferA& text) {
  char format[kPixelFormatNameSize];
  name_pixel_format(texture.header.format, format);
  const char* kind = texture.kind == DdsKind::kCube     ? " cube"
                     : texture.kind == DdsKind::kVolume ? " volume"
                                                        : "";
  CStringBufferA depth;
  if (texture.kind == DdsKind::kVolume && depth.Format("x%u", texture.depth) <= 0) return false;
  return text.Format("%s%s %ux%u%s, %u mip%s", format, kind, texture.width, texture.height,
                     depth.Length() != 0 ? depth.Data() : "", texture.mipCount,
                     texture.mipCount == 1 ? "" : "s") > 0;
}

bool tool_takes_format(const DdsPixelFormat& format) {
  return texture_format_of(classify_dds_format(format)) != 0;
}

bool describe_meta_needed(const char* path, const DdsPixelFormat& format, CStringBufferA& text) {
  char name[kPixelFormatNameSize];
  name_pixel_format(format, name);
  CStringBufferA shown;
  sys_native_path(path, shown);
  return text.Format(
             "\"%s\" is %s, which the tool's run takes only with a \"meta\" file: give "
             "the entry's metadata in vintrel.json's \"meta\", or make it in a format the "
             "tool takes",
             shown.Data(), name) > 0;
}

namespace {

// A name as a command's argument: the text, or "0x" and the id's digits when text is that id's
// hexadecimal (name_or_id gave no name).
const char* as_argument(const char* text, const IdText& hex, CStringBufferA& out) {
  if (text != hex.text) return text;
  return out.Format("0x%s", hex.text) > 0 ? out.Data() : nullptr;
}

}  // namespace

bool add_texture_remedy(const char* line, const NameLists& names, const PackFileEntry& file,
                        const PackageRecord& record, const char* gameDir, CStringBufferA& text) {
  IdText nameHex;
  IdText extHex;
  CStringBufferA nameArgument;
  CStringBufferA extArgument;
  const char* name = as_argument(file_name_text(names, file, &nameHex), nameHex, nameArgument);
  const char* ext = as_argument(file_ext_text(names, file, &extHex), extHex, extArgument);
  // A record's name, cut at a NUL as record_name cuts it, names its package when it hashes to the
  // package's id.
  CStringBufferA package;
  if (package.Format("%.*s", static_cast<int>(record.nameLength), record.name) < 0) return false;
  if ((package.Length() == 0 || name_hash(package.Data()) != record.packageId) &&
      package.Format("0x%s", id_text(record.packageId).text) <= 0) {
    return false;
  }
  CStringBufferA dds;
  CStringBufferA png;
  CStringBufferA game;
  sys_native_path(file.sourcePath.Text(), dds);
  sys_native_path(gameDir, game);
  return name != nullptr && ext != nullptr && png_beside(dds.Data(), png) &&
         text.Format("%s; make one with \"%s texture make %s %s --game %s --entry %s %s --pkg %s\"",
                     line, kProgramName, png.Data(), dds.Data(), game.Data(), name, ext,
                     package.Data()) > 0;
}
