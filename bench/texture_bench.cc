// texture_bench: the quality and speed of the textures the tool makes.
//
//   texture_bench [--runs R] IMAGE...
//
// For each image (PNG or JPEG, read by its own copy of stb_image) it makes one DXT1 level (the
// image made opaque) and one DXT5 level (the image as it is) with the tool's make_dds, and the
// same with libsquish's cluster fit (uniform colour weights, the fit RGB PSNR measures), and
// prints the RGB PSNR of each against the image, and for DXT5 the alpha PSNR. Every block of
// both is decoded by the tool's decoder, and by libsquish's as a check that the two decoders
// agree (the count of differing pixels is printed and must be 0).
//
// Then, on a 2048 x 2048 texture resampled from the first image: its mip levels 1 to 11 made
// straight from the image in linear light and as make_dds makes them (MipChain, each level from
// the image or from the level four above it), the CPU time of each way once, and the RGB PSNR
// of each level made against the straight one; and make_dds with the full mip chain (12 levels),
// DXT1 and DXT5, R runs each (default 5): the best and the median CPU time of the thread
// (clock_gettime(CLOCK_THREAD_CPUTIME_ID)) and wall time. One thread.
//
// Exits 1 when a PSNR is more than 0.5 dB below libsquish's, when the decoders disagree, or
// when the best 2048 x 2048 time is 1 s or more; prints one line per image otherwise.

#include <squish.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "image/dds_format.h"
#include "image/dds_make.h"
#include "image/dds_texture.h"
#include "image/mip_chain.h"
#include "image/resample.h"
#include "image/rgba_image.h"

// The bench's own reader of JPEG and PNG files, static so that it does not meet the tool's copy.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

constexpr double kPsnrMargin = 0.5;
constexpr double kTimeLimit = 1.0;
constexpr uint32_t kTimedSide = 2048;

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double wall_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// PSNR over the channels [first, first + count) of two RGBA buffers of the same size.
double psnr(const uint8_t* a, const uint8_t* b, size_t pixels, int first, int count) {
  double sum = 0;
  for (size_t i = 0; i < pixels; ++i) {
    for (int c = first; c < first + count; ++c) {
      const double d = static_cast<double>(a[4 * i + c]) - b[4 * i + c];
      sum += d * d;
    }
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / (static_cast<double>(pixels) * count)));
}

bool fail(const Status& status, const char* what) {
  std::fprintf(stderr, "texture_bench: %s: %s\n", what, status.what());
  return false;
}

// One level of the image in format, made by the tool and decoded by it.
bool tool_level(const RgbaImage& image, TextureFormat format, RgbaImage* decoded) {
  Status status;
  DdsHeader target;
  ByteBuffer dds;
  if (!dds_target_for_format(format, image.width(), image.height(), 1, &target, &status) ||
      !make_dds(image, target, false, &dds, &status)) {
    return fail(status, "make_dds");
  }
  if (!decode_dds(dds.data(), dds.length(), 0, decoded, &status)) return fail(status, "decode");
  return true;
}

// The same level made by libsquish; decoded by the tool's decoder and by libsquish's, counting
// the pixels on which they differ.
bool squish_level(const RgbaImage& image, bool dxt5, RgbaImage* decoded, size_t* differing) {
  const int flags = (dxt5 ? squish::kDxt5 : squish::kDxt1) | squish::kColourClusterFit;
  float uniform[3] = {1, 1, 1};
  const int w = static_cast<int>(image.width());
  const int h = static_cast<int>(image.height());
  std::vector<uint8_t> blocks(static_cast<size_t>(squish::GetStorageRequirements(w, h, flags)));
  squish::CompressImage(image.pixels(), w, h, blocks.data(), flags, uniform);
  DdsPixelLayout layout;
  Status status;
  describe_dds_format(pixel_format_of(dxt5 ? TextureFormat::kDxt5 : TextureFormat::kDxt1), &layout,
                      &status);
  if (!decoded->Allocate(image.width(), image.height(), &status)) return fail(status, "allocate");
  decode_surface(layout, blocks.data(), image.width(), image.height(), decoded, 0);
  std::vector<uint8_t> theirs(static_cast<size_t>(w) * h * 4);
  squish::DecompressImage(theirs.data(), w, h, blocks.data(), flags);
  *differing = 0;
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
    if (std::memcmp(decoded->pixels() + 4 * i, theirs.data() + 4 * i, 4) != 0) ++*differing;
  }
  return true;
}

bool load(const char* path, RgbaImage* image) {
  int w = 0, h = 0, channels = 0;
  uint8_t* pixels = stbi_load(path, &w, &h, &channels, 4);
  if (pixels == nullptr) {
    std::fprintf(stderr, "texture_bench: cannot read %s (%s)\n", path, stbi_failure_reason());
    return false;
  }
  Status status;
  const bool ok = image->Allocate(static_cast<uint32_t>(w), static_cast<uint32_t>(h), &status);
  if (ok) std::memcpy(image->pixels(), pixels, static_cast<size_t>(w) * h * 4);
  stbi_image_free(pixels);
  return ok || fail(status, path);
}

// The file's name, or for a wallpaper (NAME/contents/images/SIZE.jpg) its NAME.
std::string ShortName(const std::string& path) {
  const size_t images = path.find("/contents/images/");
  const size_t end = images != std::string::npos ? images : path.size();
  const size_t slash = path.rfind('/', images != std::string::npos ? images - 1 : end);
  return path.substr(slash == std::string::npos ? 0 : slash + 1,
                     images != std::string::npos ? images - slash - 1 : std::string::npos);
}

// Compares both formats on one image; false when the tool falls short.
bool compare(const std::string& path, const RgbaImage& image) {
  const size_t pixels = static_cast<size_t>(image.width()) * image.height();
  RgbaImage opaque;
  Status status;
  if (!opaque.Assign(image, &status)) return fail(status, "copy");
  for (size_t i = 0; i < pixels; ++i) opaque.pixels()[4 * i + 3] = 255;
  bool good = true;
  std::printf("%s (%ux%u)", ShortName(path).c_str(), image.width(), image.height());
  for (const bool dxt5 : {false, true}) {
    const RgbaImage& source = dxt5 ? image : opaque;
    RgbaImage ours, theirs;
    size_t differing = 0;
    if (!tool_level(source, dxt5 ? TextureFormat::kDxt5 : TextureFormat::kDxt1, &ours) ||
        !squish_level(source, dxt5, &theirs, &differing)) {
      return false;
    }
    const double ourPsnr = psnr(source.pixels(), ours.pixels(), pixels, 0, 3);
    const double theirPsnr = psnr(source.pixels(), theirs.pixels(), pixels, 0, 3);
    std::printf("  %s RGB %.2f dB, squish %.2f dB, %+.2f", dxt5 ? "DXT5" : "DXT1", ourPsnr,
                theirPsnr, ourPsnr - theirPsnr);
    if (dxt5) {
      std::printf(" (alpha %.2f, squish %.2f)", psnr(source.pixels(), ours.pixels(), pixels, 3, 1),
                  psnr(source.pixels(), theirs.pixels(), pixels, 3, 1));
    }
    if (differing != 0) std::printf(" DECODERS DIFFER on %zu pixels", differing);
    good = good && ourPsnr >= theirPsnr - kPsnrMargin && differing == 0;
  }
  std::printf("%s\n", good ? "" : "  FAILED");
  return good;
}

// The levels of the image's full mip chain (from level 1), each resampled straight from the image
// in linear light (straight) or as make_dds makes them (MipChain), and the CPU time of each way;
// then the RGB PSNR of every level made against the straight one, and its largest difference.
bool compare_levels(const RgbaImage& image) {
  Status status;
  const uint32_t count = full_mip_count(image.width(), image.height());
  std::vector<RgbaImage> straight(count);
  std::vector<RgbaImage> chained(count);
  double c0 = thread_seconds();
  LinearImage full;
  LinearImage level;
  if (!linearise_image(image, &full, &status)) return fail(status, "linearise");
  for (uint32_t mip = 1; mip < count; ++mip) {
    if (!resample_linear(full, mip_side(image.width(), mip), mip_side(image.height(), mip), &level,
                         &status) ||
        !encode_srgb_image(level, &straight[mip], &status)) {
      return fail(status, "straight level");
    }
  }
  const double straightTime = thread_seconds() - c0;
  c0 = thread_seconds();
  MipChain chain(image, image.width(), image.height(), true);
  for (uint32_t mip = 0; mip < count; ++mip) {
    const RgbaImage* made = chain.Next(&status);
    if (made == nullptr || (mip != 0 && !chained[mip].Assign(*made, &status))) {
      return fail(status, "level");
    }
  }
  const double chainTime = thread_seconds() - c0;
  std::printf(
      "levels 1 to %u of %ux%u: straight from the image %.3f s, as made %.3f s; RGB PSNR "
      "as made against straight (largest difference):",
      count - 1, image.width(), image.height(), straightTime, chainTime);
  for (uint32_t mip = 1; mip < count; ++mip) {
    const size_t pixels = static_cast<size_t>(straight[mip].width()) * straight[mip].height();
    int largest = 0;
    for (size_t i = 0; i < pixels * 4; ++i) {
      const int d = std::abs(straight[mip].pixels()[i] - chained[mip].pixels()[i]);
      largest = std::max(largest, d);
    }
    std::printf(" %u: %.1f (%d)", mip,
                psnr(straight[mip].pixels(), chained[mip].pixels(), pixels, 0, 3), largest);
  }
  std::printf("\n");
  return true;
}

// Times make_dds on a 2048 x 2048 texture with its full chain.
bool time_full_chain(const RgbaImage& first, int runs) {
  RgbaImage image;
  Status status;
  if (!resample_image(first, kTimedSide, kTimedSide, &image, &status))
    return fail(status, "resample");
  if (!compare_levels(image)) return false;
  bool good = true;
  for (const TextureFormat format : {TextureFormat::kDxt1, TextureFormat::kDxt5}) {
    DdsHeader target;
    if (!dds_target_for_format(format, kTimedSide, kTimedSide, kFullMipChain, &target, &status)) {
      return fail(status, "target");
    }
    std::vector<double> cpu, wall;
    ByteBuffer dds;
    for (int run = 0; run < runs; ++run) {
      const double c0 = thread_seconds();
      const double w0 = wall_seconds();
      if (!make_dds(image, target, false, &dds, &status)) return fail(status, "make_dds");
      cpu.push_back(thread_seconds() - c0);
      wall.push_back(wall_seconds() - w0);
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    std::printf(
        "%s 2048x2048, %u levels, %u bytes: CPU best %.3f s, median %.3f s; wall best "
        "%.3f s, median %.3f s (%d runs)\n",
        texture_format_text(format), target.mipCount, dds.length(), cpu.front(),
        cpu[cpu.size() / 2], wall.front(), wall[wall.size() / 2], runs);
    good = good && cpu.front() < kTimeLimit;
  }
  return good;
}

}  // namespace

int main(int argc, char** argv) {
  // A line as soon as an image is done, also into a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int runs = 5;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
    runs = std::atoi(argv[2]);
    first = 3;
  }
  if (first >= argc || runs <= 0) {
    std::fprintf(stderr, "usage: texture_bench [--runs R] IMAGE...\n");
    return 2;
  }
  bool good = true;
  RgbaImage timed;
  for (int i = first; i < argc; ++i) {
    RgbaImage image;
    if (!load(argv[i], &image)) return 1;
    good = compare(argv[i], image) && good;
    if (i == first) {
      Status status;
      if (!timed.Assign(image, &status)) return 1;
    }
  }
  good = time_full_chain(timed, runs) && good;
  return good ? 0 : 1;
}
