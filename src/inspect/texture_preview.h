#ifndef VINTREL_INSPECT_TEXTURE_PREVIEW_H_
#define VINTREL_INSPECT_TEXTURE_PREVIEW_H_

// The versions of entries that a report's page shows side by side, read and made into thumbnails
// on worker threads: each step of a page is one entry, whose versions are the game's own (read
// from its package) and the mods' (read from their files); the page takes the steps in order, so
// that it is the same for any number of threads.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/string_buffer.h"
#include "image/dds_header.h"
#include "image/thumbnail.h"
#include "manifest/game_reader.h"
#include "report/html_page.h"

// What a page may take for each texture that replaces another, in all: the two thumbnails and the
// markup around them. The markup of a texture's row and comparison takes at most
// kMarkupPerTexture; the rest is the thumbnails' (page_thumbnail_limits).
constexpr uint32_t kPageBytesPerTexture = 40 * 1024;
constexpr uint32_t kMarkupPerTexture = 8 * 1024;

// One version of an entry: entry `entry` of the game's package record `record`, or else the file
// at `path`. A texture's version is decoded and made into a thumbnail; of any other only the size
// is read.
struct PreviewSource {
  static constexpr uint32_t kFile = UINT32_MAX;

  uint32_t record = kFile;
  uint32_t entry = 0;
  const char* path = nullptr;
  bool texture = false;
};

// What a worker found of one version.
struct TexturePreview {
  bool read = false;  // its bytes were read (for a version that is no texture: its size)
  uint64_t bytes = 0;
  bool headerRead = false;  // it begins with a DDS header, which header holds
  DdsHeader header;
  ByteBuffer png;         // its thumbnail, or empty
  CStringBufferA reason;  // for a texture without a thumbnail, why not
};

// A page whose steps show versions: what its printer tells run_previews, and takes from it. A
// step may show several entries, each in several versions: a page reads the entries of a package
// whose entries share one compressed block (a full package) in one step, so that the block is
// inflated once, not once per worker.
class PreviewSteps {
 public:
  // How many versions step has, at most the mostSources given to run_previews. Called on any
  // thread: it may read only what no thread writes meanwhile; so may Sources.
  virtual uint32_t SourceCount(uint32_t step) = 0;
  // The versions of step, SourceCount(step) of them, into sources.
  virtual void Sources(uint32_t step, PreviewSource* sources) = 0;
  // Takes step's previews, one per source, on the calling thread in the order of the steps. False
  // stops the work: the later steps are dropped.
  virtual bool Take(uint32_t step, const TexturePreview* previews) = 0;

 protected:
  ~PreviewSteps() = default;
};

// Reads and previews the versions of steps 0 to count - 1 of a page on `threads` worker threads
// and hands each step's to steps.Take in order; the steps in flight hold at most 32 MiB of
// thumbnails, unless one step alone holds more. The game's entries are read from the game in
// gameDir that `game` has opened, through a reader of each worker's own; thumbnails keep within
// limits. A version that cannot be read or decoded gets its reason, never a failure. False when
// memory runs out or Take stopped the work.
bool run_previews(PreviewSteps& steps, uint32_t count, uint32_t mostSources, const char* gameDir,
                  const GameReader& game, const ThumbnailLimits& limits, uint32_t threads);

// The limits of each thumbnail of a page: at most 256 pixels a side, and the bytes of PNG whose
// embedding takes half of what kPageBytesPerTexture leaves beside kMarkupPerTexture, so that a
// texture and the one it replaces keep within kPageBytesPerTexture. Sets the page's image budget
// to that half.
ThumbnailLimits page_thumbnail_limits(HtmlPage& page);

// Shows a version in the current panel of page: a texture's thumbnail (or a placeholder that says
// why there is none, alt naming what it shows) and its format, size and mip count as its header
// gives them; of any other file its size, or a warning that it cannot be read.
void show_preview(HtmlPage& page, const TexturePreview& preview, bool texture, HtmlText alt);

#endif  // VINTREL_INSPECT_TEXTURE_PREVIEW_H_
