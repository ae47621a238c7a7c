#include "output/PngWriter.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tool {

namespace {

// Sets up libpng's writer, where its bytes go (`toFile`, or `toMemory` and
// png_set_write_fn), and writes the rows. False when libpng failed.
bool Encode(const uint8_t* rgba, int width, int height, const PngOptions& options, FILE* toFile,
            std::string* toMemory) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  std::vector<png_const_bytep> rows(static_cast<size_t>(height));
  const size_t stride = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    const int sourceRow = options.bottomUp ? height - 1 - y : y;
    rows[static_cast<size_t>(y)] = rgba + stride * static_cast<size_t>(sourceRow);
  }
  // libpng reports errors by longjmp; nothing with a destructor lives between
  // here and the writes below.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  if (toFile) {
    png_init_io(png, toFile);
  } else {
    png_set_write_fn(
        png, toMemory,
        [](png_structp writer, png_bytep bytes, png_size_t size) {
          static_cast<std::string*>(png_get_io_ptr(writer))->append(reinterpret_cast<const char*>(bytes), size);
        },
        nullptr);
  }
  png_set_compression_level(png, options.compressionLevel);
  // Video frames compress best with the cheap "sub" filter; trying every
  // filter on every row costs far more than it saves.
  png_set_filter(png, 0, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               options.dropAlpha ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (options.dropAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_rows(png, const_cast<png_bytepp>(rows.data()), static_cast<png_uint_32>(height));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const uint8_t* rgba, int width, int height, const PngOptions& options,
              std::string& error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!Encode(rgba, width, height, options, file, nullptr)) {
    std::fclose(file);
    error = "PNG: cannot write " + path;
    return false;
  }
  if (std::fclose(file) != 0) {
    error = "cannot finish " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string EncodePng(const uint8_t* rgba, int width, int height, const PngOptions& options) {
  std::string bytes;
  if (!Encode(rgba, width, height, options, nullptr, &bytes)) bytes.clear();
  return bytes;
}

}  // namespace tool
