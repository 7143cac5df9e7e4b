#include "inspect/texture_source.h"

#include "base/file.h"
#include "base/platform.h"
#include "image/image_files.h"
#include "image/rgba_image.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/output_file.h"

bool read_texture_source(const CommandArgs& args, const TextureSourceArgs& from, const char* doing,
                         SourceTexture* source, WarningList& warnings, Status* status) {
  if (from.file != nullptr) {
    source->file = from.file;
    CStringBufferA shown;
    sys_native_path(from.file, shown);
    if (source->shown.Format("\"%s\"", shown.Data()) <= 0) return status->FailOutOfMemory();
    return read_whole_file(from.file, source->entry.data, status);
  }
  source->gameDir = from.gameDir;
  if (!open_game(from.gameDir, source->game) ||
      !load_names(args, &source->game, nullptr, 0, source->names)) {
    return false;
  }
  source->wanted = entry_request(source->names, from.name, from.ext, from.pkg);
  source->wanted.doing = doing;
  if (!read_game_entry(source->game, source->wanted, &source->entry, warnings, status)) {
    return false;
  }
  return source->shown.Format("\"%s\" \"%s\" in package \"%s\"", source->wanted.name,
                              source->wanted.ext, source->entry.package.Data()) > 0 ||
         status->FailOutOfMemory();
}

bool source_header(const SourceTexture& source, DdsHeader* header, Status* status) {
  DdsHeader read;
  if (!read_dds_header(source.dds().data(), source.dds().length(), &read, status) ||
      !dds_target_like(read, header, status)) {
    return blame_source(source, status);
  }
  return true;
}

bool refuse_game_file(const SourceTexture& source, const char* out, Status* status) {
  if (source.gameDir == nullptr || !is_game_file(source.game, source.gameDir, out)) return true;
  CStringBufferA shown;
  sys_native_path(out, shown);
  status->Fail(StatusCode::kRefused, "\"%s\" is a file of the game; write to another place",
               shown.Data());
  return false;
}

bool blame_source(const SourceTexture& source, Status* status) {
  if (source.file != nullptr) {
    status->SetPath(source.file);
    return false;
  }
  CStringBufferA what;
  if (what.Assign(status->what()) == nullptr) return status->FailOutOfMemory();
  status->Fail(status->code(), "%s: %s", source.shown.Data(), what.Data());
  return false;
}

bool make_texture_file(const char* pngPath, const DdsRecipe& recipe, MadeTexture* made,
                       Status* status) {
  RgbaImage image;
  DdsHeader target;
  if (!read_png_file(pngPath, &image, status)) return false;
  made->imageWidth = image.width();
  made->imageHeight = image.height();
  const bool planned = recipe.like != nullptr
                           ? dds_target_like(*recipe.like, &target, status)
                           : dds_target_for_format(recipe.format, image.width(), image.height(),
                                                   recipe.mipCount, &target, status);
  if (!planned || !make_dds(image, target, recipe.resize, &made->dds, status) ||
      !open_dds_texture(made->dds.data(), made->dds.length(), &made->texture, status)) {
    status->SetPath(pngPath);
    return false;
  }
  made->resampled = image.width() != made->texture.width || image.height() != made->texture.height;
  return true;
}
