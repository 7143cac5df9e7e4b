#include "inspect/texture_command.h"

#include <cstdio>
#include <cstring>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/warning_list.h"
#include "image/dds_make.h"
#include "image/image_files.h"
#include "image/rgba_image.h"
#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "inspect/texture_source.h"

namespace {

// A mip level or a count of levels as an argument: decimal digits, at most 99 (no texture has
// more than 15 levels). False for anything else.
bool parse_level(const char* text, uint32_t* value) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > 2) return false;
  *value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  return true;
}

// --- texture export ---

// What export wrote: the level's image and the texture it came from.
struct ExportResult {
  SourceTexture source;
  DdsTexture texture;
  uint32_t width = 0;  // the image written
  uint32_t height = 0;
  WarningList warnings;
  Status failure;
};

// Reads the texture, decodes level mip and writes it to out as a PNG, which must not be a file of
// the game. False when the manifest or a name list cannot be read (having said why), and with
// the reason in result->failure otherwise.
bool export_texture(const CommandArgs& args, const TextureSourceArgs& from, uint32_t mip,
                    const char* out, ExportResult* result) {
  Status* status = &result->failure;
  SourceTexture& source = result->source;
  if (!read_texture_source(args, from, "exporting it from", &source, result->warnings, status)) {
    return false;
  }
  if (!refuse_game_file(source, out, status)) return false;
  RgbaImage image;
  ByteBuffer png;
  if (!dds_level_png(source.dds().data(), source.dds().length(), mip, &image, &png, status,
                     &result->texture)) {
    return blame_source(source, status);
  }
  result->width = image.width();
  result->height = image.height();
  return write_output_file(out, png, status);
}

bool print_export(const char* out, uint32_t mip, const ExportResult& result) {
  CStringBufferA shown;
  CStringBufferA texture;
  sys_native_path(out, shown);
  if (!describe_dds_texture(result.texture, texture)) return false;
  const DdsKind kind = result.texture.kind;
  std::printf("wrote \"%s\": %u x %u pixels, mip %u of %s (%s)%s\n", shown.Data(), result.width,
              result.height, mip, result.source.shown.Data(), texture.Data(),
              kind == DdsKind::kCube     ? "; its faces side by side: +X, -X, +Y, -Y, +Z, -Z"
              : kind == DdsKind::kVolume ? "; its slices side by side, the first on the left"
                                         : "");
  return true;
}

int run_texture_export(const CommandArgs& args) {
  // FILE.dds OUT.png, or GAMEDIR NAME EXT OUT.png.
  const bool fromGame = args.positionalCount == 4;
  if (args.positionalCount == 3) {
    print_usage_error(kTextureExportCommand,
                      "takes FILE.dds OUT.png or GAMEDIR NAME EXT OUT.png, not 3 arguments", "");
    return kExitUsage;
  }
  if (!fromGame && args.pkg != nullptr) {
    print_usage_error(kTextureExportCommand, "takes --pkg only with GAMEDIR NAME EXT", "");
    return kExitUsage;
  }
  uint32_t mip = 0;
  if (args.mip != nullptr && !parse_level(args.mip, &mip)) {
    print_usage_error(kTextureExportCommand, "needs a mip level after --mip, not ", args.mip);
    return kExitUsage;
  }
  TextureSourceArgs from;
  if (fromGame) {
    from.gameDir = args.positional[0];
    from.name = args.positional[1];
    from.ext = args.positional[2];
    from.pkg = args.pkg;
  } else {
    from.file = args.positional[0];
  }
  const char* out = args.positional[args.positionalCount - 1];
  ExportResult result;
  const bool written = export_texture(args, from, mip, out, &result);
  print_warnings(result.warnings);
  if (!written) {
    if (!result.failure.ok()) print_failure(result.failure);
    return kExitFailure;
  }
  if (!print_export(out, mip, result)) {
    print_error("out of memory");
    return kExitFailure;
  }
  return kExitSuccess;
}

// --- texture make ---

// What make was asked for: the PNG, the DDS to write, and what the DDS is to be like: a texture
// (a file or a game's entry), or a format with a mip count.
struct MakeRequest {
  const char* png = nullptr;
  const char* out = nullptr;
  bool byFormat = false;
  TextureSourceArgs like;  // when not byFormat
  TextureFormat format = TextureFormat::kDxt1;
  uint32_t mips = kFullMipChain;
  bool resize = false;
};

// What make wrote.
struct MakeResult {
  SourceTexture source;  // what the texture is like, when not by format
  MadeTexture made;
  WarningList warnings;
  Status failure;
};

// Makes the texture and writes it to request.out, which must not be a file of the game. False
// when the manifest or a name list cannot be read (having said why), and with the reason in
// result->failure otherwise.
bool make_texture(const CommandArgs& args, const MakeRequest& request, MakeResult* result) {
  Status* status = &result->failure;
  DdsHeader like;
  if (!request.byFormat) {
    if (!read_texture_source(args, request.like, "making the texture like the one in",
                             &result->source, result->warnings, status) ||
        !source_header(result->source, &like, status) ||
        !refuse_game_file(result->source, request.out, status)) {
      return false;
    }
  }
  DdsRecipe recipe;
  recipe.like = request.byFormat ? nullptr : &like;
  recipe.format = request.format;
  recipe.mipCount = request.mips;
  recipe.resize = request.resize;
  if (!make_texture_file(request.png, recipe, &result->made, status)) return false;
  const DdsPixelFormat& format = result->made.texture.header.format;
  if (!tool_takes_format(format)) {
    CStringBufferA warning;
    if (!describe_meta_needed(request.out, format, warning)) return status->FailOutOfMemory();
    result->warnings.Add("%s", warning.Data());
  }
  return write_output_file(request.out, result->made.dds, status);
}

bool print_make(const MakeRequest& request, const MakeResult& result) {
  CStringBufferA out;
  CStringBufferA png;
  CStringBufferA texture;
  CStringBufferA resampled;
  sys_native_path(request.out, out);
  sys_native_path(request.png, png);
  const MadeTexture& made = result.made;
  if (!describe_dds_texture(made.texture, texture) ||
      (made.resampled && resampled.Format(" resampled from %u x %u pixels", made.imageWidth,
                                          made.imageHeight) <= 0)) {
    return false;
  }
  std::printf("wrote \"%s\": %s, from \"%s\"%s%s%s\n", out.Data(), texture.Data(), png.Data(),
              resampled.Data(), request.byFormat ? "" : ", like ",
              request.byFormat ? "" : result.source.shown.Data());
  return true;
}

// Reads make's options into *request. False, having printed the usage error, when they do not
// say one way to make the texture, or a value is not one the option takes.
bool make_request(const CommandArgs& args, MakeRequest* request) {
  const CommandSpec& command = kTextureMakeCommand;
  request->png = args.positional[0];
  request->out = args.positional[1];
  request->resize = args.resize;
  const bool byGame = args.game != nullptr || args.entryName != nullptr;
  const int ways = (args.like != nullptr) + byGame + (args.format != nullptr);
  if (ways != 1) {
    print_usage_error(command,
                      ways == 0 ? "needs --like FILE.dds, --game GAMEDIR --entry NAME EXT or "
                                  "--format FORMAT"
                                : "takes one of --like, --game and --format",
                      "");
    return false;
  }
  if (byGame && (args.game == nullptr || args.entryName == nullptr)) {
    print_usage_error(command,
                      args.game == nullptr ? "needs --game GAMEDIR with --entry"
                                           : "needs --entry NAME EXT with --game",
                      "");
    return false;
  }
  if (args.pkg != nullptr && !byGame) {
    print_usage_error(command, "takes --pkg only with --game", "");
    return false;
  }
  if (args.mips != nullptr && args.format == nullptr) {
    print_usage_error(command, "takes --mips only with --format", "");
    return false;
  }
  request->byFormat = args.format != nullptr;
  if (request->byFormat && !parse_texture_format(args.format, &request->format)) {
    CStringBufferA what;
    what.Format("takes --format %s, not ", kTextureFormatNames);
    print_usage_error(command, what.Data(), args.format);
    return false;
  }
  if (args.mips != nullptr && std::strcmp(args.mips, "all") != 0 &&
      (!parse_level(args.mips, &request->mips) || request->mips == 0)) {
    print_usage_error(command, "needs a number of mip levels or \"all\" after --mips, not ",
                      args.mips);
    return false;
  }
  request->like.file = args.like;
  request->like.gameDir = args.game;
  request->like.name = args.entryName;
  request->like.ext = args.entryExt;
  request->like.pkg = args.pkg;
  return true;
}

int run_texture_make(const CommandArgs& args) {
  MakeRequest request;
  if (!make_request(args, &request)) return kExitUsage;
  MakeResult result;
  const bool written = make_texture(args, request, &result);
  print_warnings(result.warnings);
  if (!written) {
    if (!result.failure.ok()) print_failure(result.failure);
    return kExitFailure;
  }
  if (!print_make(request, result)) {
    print_error("out of memory");
    return kExitFailure;
  }
  return kExitSuccess;
}

// --- texture ---

int run_texture(const CommandArgs& args) {
  CStringBufferA form;
  form.Format("\"%s\"", args.positional[0]);
  print_usage_error(kTextureCommand, "has no form ", form.Data());
  return kExitUsage;
}

const CommandSpec* const kTextureForms[] = {&kTextureExportCommand, &kTextureMakeCommand,
                                            &kTextureSyncCommand, nullptr};

}  // namespace

const CommandSpec kTextureCommand = {
    "texture",
    "export|make|sync ARGUMENTS",
    "textures as PNG images, and PNG images as textures like the game's",
    "Turns a DDS texture into a PNG image (export), a PNG image into a DDS texture in the layout\n"
    "of a game's entry, of another texture or of a format (make), and every PNG of a mod into\n"
    "the texture it stands for (sync). Each form has its own --help.\n",
    1,
    0,
    run_texture,
    true,
    kTextureForms,
};

const CommandSpec kTextureExportCommand = {
    "texture export",
    "(FILE.dds | GAMEDIR NAME EXT [--pkg PACKAGE]) OUT.png [--mip N]",
    "one level of a texture as an RGBA PNG",
    "Decodes one mip level of a DDS texture, the file FILE.dds or the game's entry NAME EXT\n"
    "(found as extract finds it), and writes it to OUT.png as an 8-bit RGBA PNG, replacing it if\n"
    "it exists. Every format the tool takes is read: DXT1 (with its 1-bit alpha), DXT3, DXT5,\n"
    "and the 8-, 16-, 24- and 32-bit layouts by their masks (A8R8G8B8, A1R5G5B5, A4R4G4B4,\n"
    "R5G6B5, A8, L8 ...). A cube map gives its six faces side by side, left to right +X, -X, +Y,\n"
    "-Y, +Z, -Z (a face it lacks transparent); a volume its slices side by side.\n"
    "\n"
    "  --mip N         the level to export: 0 (the default) is the largest\n"
    "  --pkg PACKAGE   take the entry from that package (see extract --help)\n"
    "  --names FILE    read the name list FILE too (any number of times)\n"
    "\n"
    "A texture shorter than its header declares, or larger than the tool decodes (16384 pixels\n"
    "a side, 67108864 in all), is refused before anything is read into memory. OUT.png is\n"
    "written under a temporary name (OUT.png.tmp) and renamed when complete; it is never a file\n"
    "of the game.\n"
    "\n"
    "Exit status: 0 when OUT.png was written, 1 when the texture cannot be read or decoded or\n"
    "OUT.png cannot be written, 2 for a usage error.\n",
    2,
    kOptionPkg | kOptionMip | kOptionNames,
    run_texture_export,
    false,
    nullptr,
    2,
};

const CommandSpec kTextureMakeCommand = {
    "texture make",
    "IN.png OUT.dds (--like FILE.dds | --game GAMEDIR --entry NAME EXT [--pkg PACKAGE] | "
    "--format FORMAT [--mips N|all]) [--resize]",
    "a DDS texture from a PNG, like the game's",
    "Makes the DDS texture OUT.dds from the PNG image IN.png (8 or 16 bits, grey, palette or\n"
    "colour, with or without alpha), replacing OUT.dds if it exists. The texture takes the\n"
    "pixel format (masks included), width, height and mip count of\n"
    "\n"
    "  --like FILE.dds                   another texture, or\n"
    "  --game GAMEDIR --entry NAME EXT   the game's entry NAME EXT (found as extract finds it;\n"
    "  [--pkg PACKAGE]                   its data holds its DDS header), or\n"
    "  --format FORMAT [--mips N|all]    FORMAT at the PNG's own size: DXT1, DXT3, DXT5,\n"
    "                                    A8R8G8B8, A1R5G5B5, A4R4G4B4, R5G6B5, A8 or L8, with N\n"
    "                                    mip levels or all of them down to 1 x 1 (the default)\n"
    "\n"
    "  --resize        resample a PNG of another size to the texture's; without it, the PNG\n"
    "                  must have the texture's size\n"
    "  --names FILE    read the name list FILE too (any number of times)\n"
    "\n"
    "Only flat textures are made. Each mip level is resampled in linear light, colour weighted\n"
    "by alpha, and a cut-out's alpha keeps the coverage of the image; DXT blocks are made by\n"
    "stb_dxt. The tool's run takes R5G6B5 and L8 textures only with a \"meta\" file: make warns\n"
    "of one. A PNG that is damaged, truncated or larger than 16384 pixels a side is refused, and\n"
    "nothing is written. OUT.dds is written under a temporary name (OUT.dds.tmp) and renamed\n"
    "when complete; it is never a file of the game.\n"
    "\n"
    "Exit status: 0 when OUT.dds was written, 1 when the PNG or the texture to be like cannot be\n"
    "read or used or OUT.dds cannot be written, 2 for a usage error.\n",
    2,
    kOptionLike | kOptionGame | kOptionEntry | kOptionPkg | kOptionFormat | kOptionMips |
        kOptionResize | kOptionNames,
    run_texture_make,
};
