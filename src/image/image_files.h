#ifndef VINTREL_IMAGE_IMAGE_FILES_H_
#define VINTREL_IMAGE_IMAGE_FILES_H_

// Images and textures as files: what the texture commands read and write.

#include <cstdint>

class ByteBuffer;
class RgbaImage;
class Status;
struct DdsTexture;

// Reads a PNG file and decodes it (decode_png). False, with the reason in *status naming the
// file, when it cannot be read or decode_png refuses it; image empty.
bool read_png_file(const char* path, RgbaImage* image, Status* status);

// Encodes image as a PNG (encode_png) and writes it to path through the temporary name
// path.tmp, which is renamed over path once every byte is on the disk (write_whole_file): a
// failure leaves path as it was. False, with the reason in *status, otherwise.
bool write_png_file(const char* path, const RgbaImage& image, Status* status);

// Decodes level mip of the DDS file of size bytes at data into *image (decode_dds) and encodes it
// as a PNG into *png (encode_png), reusing what both held. False, with the reason in *status,
// when either fails; *texture, when given, receives the texture's shape.
bool dds_level_png(const uint8_t* data, uint32_t size, uint32_t mip, RgbaImage* image,
                   ByteBuffer* png, Status* status, DdsTexture* texture = nullptr);

#endif  // VINTREL_IMAGE_IMAGE_FILES_H_
