#include "platform/graphics/image_codec.h"

// clang-format off
#include <cstdio>   // jpeglib.h needs FILE and size_t first
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace graphics::codec {

foundation::Error imageError(ImageError code, std::string description) {
  return foundation::Error::make(std::string(kImageErrorDomain), static_cast<std::int64_t>(code),
                                 std::move(description));
}

namespace {

bool sizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= Image::kMaxDimension && height <= Image::kMaxDimension &&
         width * height <= Image::kMaxPixels;
}

// ---------------------------------------------------------------------------------------------
// JPEG
//
// libjpeg reports fatal errors through error_exit, which must not return. Ours longjmps back to a
// setjmp in a "guarded" function. The jump crosses only libjpeg's C frames and the guarded
// function's own, and the guarded functions hold nothing with a destructor, so no C++ cleanup is
// skipped. Everything that owns memory lives in the caller's frame, outside the jump.

struct JpegErrors {
  jpeg_error_mgr pub;  // first, so libjpeg's pointer to it is a pointer to us
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  int seriousWarnings;
  char firstWarning[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

// Warnings (level -1) mean damaged data that libjpeg would paper over, such as a truncated file
// padded with grey; we refuse those images instead of showing them half grey. Trace messages
// (level 0 and up) are ignored.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  // Stray bytes before a marker are skipped and leave the picture whole.
  if (cinfo->err->msg_code == JWRN_EXTRANEOUS_DATA) return;
  if (errors->seriousWarnings++ == 0) (*cinfo->err->format_message)(cinfo, errors->firstWarning);
}

void jpegOutputMessage(j_common_ptr) {}

void installJpegErrors(JpegErrors& errors) {
  std::memset(&errors, 0, sizeof errors);
  jpeg_std_error(&errors.pub);
  errors.pub.error_exit = jpegErrorExit;
  errors.pub.emit_message = jpegEmitMessage;
  errors.pub.output_message = jpegOutputMessage;
}

struct JpegDecodeJob {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  bool created;
  bool cmyk;
  bool adobeInverted;
};

// Reads the header and starts decompression. False on failure, with the message in job.errors.
bool jpegStart(JpegDecodeJob& job, const std::uint8_t* data, size_t size) {
  if (setjmp(job.errors.jump)) return false;
  job.cinfo.err = &job.errors.pub;
  job.created = true;  // destroying a half-created decompressor is safe; leaking one is not
  jpeg_create_decompress(&job.cinfo);
  jpeg_mem_src(&job.cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&job.cinfo, TRUE) != JPEG_HEADER_OK) {
    std::strcpy(job.errors.message, "no image in the JPEG data");
    return false;
  }
  if (!sizeAllowed(job.cinfo.image_width, job.cinfo.image_height)) {
    std::snprintf(job.errors.message, sizeof job.errors.message, "a %ux%u JPEG is too large",
                  job.cinfo.image_width, job.cinfo.image_height);
    job.errors.message[sizeof job.errors.message - 1] = '\0';
    return false;
  }
  const J_COLOR_SPACE source = job.cinfo.jpeg_color_space;
  job.cmyk = source == JCS_CMYK || source == JCS_YCCK;
  job.adobeInverted = job.cmyk && job.cinfo.saw_Adobe_marker;
  job.cinfo.out_color_space = job.cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  jpeg_start_decompress(&job.cinfo);
  return true;
}

// Decodes every row into `out` (output_width × output_height × 4 bytes) and finishes.
bool jpegReadRows(JpegDecodeJob& job, std::uint8_t* out) {
  if (setjmp(job.errors.jump)) return false;
  const size_t stride = static_cast<size_t>(job.cinfo.output_width) * 4;
  while (job.cinfo.output_scanline < job.cinfo.output_height) {
    JSAMPROW row = out + static_cast<size_t>(job.cinfo.output_scanline) * stride;
    if (jpeg_read_scanlines(&job.cinfo, &row, 1) != 1) {
      std::strcpy(job.errors.message, "the JPEG data ends early");
      return false;
    }
  }
  jpeg_finish_decompress(&job.cinfo);
  return true;
}

// CMYK as Adobe writes it (inverted) or plain, to RGBA, in place.
void cmykToRgba(std::uint8_t* pixels, size_t count, bool inverted) {
  for (size_t i = 0; i < count; ++i) {
    std::uint8_t* p = pixels + i * 4;
    int c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    // Now each value is 255 minus the ink.
    p[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
    p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    p[2] = static_cast<std::uint8_t>((y * k + 127) / 255);
    p[3] = 255;
  }
}

struct JpegGrowingDestination {
  jpeg_destination_mgr pub;  // first, like JpegErrors
  unsigned char* data;
  size_t capacity;
  size_t size;
};

void jpegInitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegGrowingDestination*>(cinfo->dest);
  dest->capacity = 64 * 1024;
  dest->data = static_cast<unsigned char*>(std::malloc(dest->capacity));
  if (!dest->data) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  dest->pub.next_output_byte = dest->data;
  dest->pub.free_in_buffer = dest->capacity;
}

boolean jpegEmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegGrowingDestination*>(cinfo->dest);
  const size_t used = dest->capacity;  // libjpeg calls this only when the buffer is full
  const size_t grown = dest->capacity * 2;
  auto* data = static_cast<unsigned char*>(std::realloc(dest->data, grown));
  if (!data) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
  dest->data = data;
  dest->capacity = grown;
  dest->pub.next_output_byte = data + used;
  dest->pub.free_in_buffer = grown - used;
  return TRUE;
}

void jpegTermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegGrowingDestination*>(cinfo->dest);
  dest->size = dest->capacity - dest->pub.free_in_buffer;
}

struct JpegEncodeJob {
  jpeg_compress_struct cinfo;
  JpegErrors errors;
  JpegGrowingDestination destination;
  bool created;
};

// `rows` holds the image as packed RGB.
bool jpegCompress(JpegEncodeJob& job, const std::uint8_t* rows, int width, int height, int quality,
                  bool fullChroma) {
  if (setjmp(job.errors.jump)) return false;
  job.cinfo.err = &job.errors.pub;
  job.created = true;
  jpeg_create_compress(&job.cinfo);
  job.destination.pub.init_destination = jpegInitDestination;
  job.destination.pub.empty_output_buffer = jpegEmptyOutputBuffer;
  job.destination.pub.term_destination = jpegTermDestination;
  job.cinfo.dest = &job.destination.pub;
  job.cinfo.image_width = static_cast<JDIMENSION>(width);
  job.cinfo.image_height = static_cast<JDIMENSION>(height);
  job.cinfo.input_components = 3;
  job.cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&job.cinfo);
  jpeg_set_quality(&job.cinfo, quality, TRUE);
  job.cinfo.optimize_coding = TRUE;
  if (fullChroma) {
    job.cinfo.comp_info[0].h_samp_factor = 1;
    job.cinfo.comp_info[0].v_samp_factor = 1;
  }
  jpeg_start_compress(&job.cinfo, TRUE);
  const size_t stride = static_cast<size_t>(width) * 3;
  while (job.cinfo.next_scanline < job.cinfo.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(rows) + static_cast<size_t>(job.cinfo.next_scanline) * stride;
    jpeg_write_scanlines(&job.cinfo, &row, 1);
  }
  jpeg_finish_compress(&job.cinfo);
  return true;
}

}  // namespace

foundation::Result<Image> decodeJpeg(const std::uint8_t* data, size_t size, double scale) {
  JpegDecodeJob job;
  std::memset(&job, 0, sizeof job);
  installJpegErrors(job.errors);
  struct Cleanup {
    JpegDecodeJob& job;
    ~Cleanup() {
      if (job.created) jpeg_destroy_decompress(&job.cinfo);
    }
  } cleanup{job};

  auto corrupt = [&job](const char* fallback) {
    const char* text = job.errors.message[0] ? job.errors.message : fallback;
    return imageError(ImageError::kCorrupt, std::string("The JPEG image could not be decoded: ") + text);
  };

  if (!jpegStart(job, data, size)) {
    if (job.cinfo.image_width != 0 && !sizeAllowed(job.cinfo.image_width, job.cinfo.image_height)) {
      return imageError(ImageError::kTooLarge, job.errors.message);
    }
    return corrupt("unreadable header");
  }
  const int width = static_cast<int>(job.cinfo.output_width);
  const int height = static_cast<int>(job.cinfo.output_height);
  if (!sizeAllowed(width, height) || job.cinfo.output_components != 4) {
    return corrupt("unexpected output layout");
  }
  Image image;
  try {
    image = Image(width, height, scale);
  } catch (const std::bad_alloc&) {
    return imageError(ImageError::kTooLarge, "not enough memory for the JPEG image");
  }
  if (image.isEmpty()) return imageError(ImageError::kTooLarge, "not enough memory for the JPEG image");
  if (!jpegReadRows(job, image.pixels().data())) return corrupt("damaged image data");
  if (job.errors.seriousWarnings > 0) {
    return imageError(ImageError::kCorrupt,
                      std::string("The JPEG image is damaged: ") + job.errors.firstWarning);
  }
  if (job.cmyk) cmykToRgba(image.pixels().data(), static_cast<size_t>(width) * height, job.adobeInverted);
  return image;
}

foundation::Result<foundation::Bytes> encodeJpeg(const Image& image, double quality) {
  if (image.isEmpty()) return imageError(ImageError::kInvalidImage, "An empty image has no JPEG form");
  if (std::isnan(quality)) return imageError(ImageError::kEncodeFailed, "The JPEG quality is not a number");
  quality = std::clamp(quality, 0.0, 1.0);
  const int libjpegQuality = std::max(1, static_cast<int>(std::lround(quality * 100)));
  const bool fullChroma = quality >= 0.9;

  // No alpha in JPEG: what shows is the colour over black, i.e. the premultiplied colour.
  const int width = image.pixelWidth();
  const int height = image.pixelHeight();
  std::vector<std::uint8_t> rgb;
  try {
    rgb.resize(static_cast<size_t>(width) * height * 3);
  } catch (const std::bad_alloc&) {
    return imageError(ImageError::kTooLarge, "not enough memory to encode the JPEG image");
  }
  const std::uint8_t* in = image.pixels().data();
  for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
    const unsigned a = in[i * 4 + 3];
    for (int c = 0; c < 3; ++c) {
      rgb[i * 3 + c] = static_cast<std::uint8_t>(a == 255 ? in[i * 4 + c] : (in[i * 4 + c] * a + 127) / 255);
    }
  }

  JpegEncodeJob job;
  std::memset(&job, 0, sizeof job);
  installJpegErrors(job.errors);
  struct Cleanup {
    JpegEncodeJob& job;
    ~Cleanup() {
      if (job.created) jpeg_destroy_compress(&job.cinfo);
      std::free(job.destination.data);
    }
  } cleanup{job};

  if (!jpegCompress(job, rgb.data(), width, height, libjpegQuality, fullChroma)) {
    return imageError(ImageError::kEncodeFailed,
                      std::string("The JPEG image could not be encoded: ") + job.errors.message);
  }
  return foundation::Bytes(job.destination.data, job.destination.data + job.destination.size);
}

// ---------------------------------------------------------------------------------------------
// PNG, through libpng's simplified interface: it keeps its own setjmp inside libpng and reports
// failure as a return value with a message, so no jump ever reaches our frames.

foundation::Result<Image> decodePng(const std::uint8_t* data, size_t size, double scale) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  struct Cleanup {
    png_image& png;
    ~Cleanup() { png_image_free(&png); }
  } cleanup{png};

  auto corrupt = [&png] {
    return imageError(ImageError::kCorrupt,
                      std::string("The PNG image could not be decoded: ") + png.message);
  };
  if (!png_image_begin_read_from_memory(&png, data, size)) return corrupt();
  if (!sizeAllowed(png.width, png.height)) {
    return imageError(ImageError::kTooLarge, "a " + std::to_string(png.width) + "x" +
                                                 std::to_string(png.height) + " PNG is too large");
  }
  // A 16-bit file that says nothing of its colour space is sRGB like every other image, as viewers
  // take it; libpng would otherwise read it as linear light and brighten it.
  png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  png.format = PNG_FORMAT_RGBA;
  Image image;
  try {
    image = Image(static_cast<int>(png.width), static_cast<int>(png.height), scale);
  } catch (const std::bad_alloc&) {
    return imageError(ImageError::kTooLarge, "not enough memory for the PNG image");
  }
  if (image.isEmpty() || image.pixels().size() != PNG_IMAGE_SIZE(png)) {
    return imageError(ImageError::kTooLarge, "not enough memory for the PNG image");
  }
  if (!png_image_finish_read(&png, nullptr, image.pixels().data(), 0, nullptr)) return corrupt();
  return image;
}

// The pictures written are the screens' step pictures and views drawn to PNG: flat colour, text and
// a few icons, one a step, read back by a test or a person. libpng's fast mode suits them: it turns
// the row filters off and takes zlib's level 3. zlib alone finds the runs of one colour and the rows
// that repeat the row above, and libpng's per-row choice among the filters took most of the time.
// On a phone's list screen (640x1136) that takes about 4 ms where the default level with every
// filter took 15, and the file comes out a few percent smaller; on an emptier screen it is a
// quarter larger (30 KB against 24). A screen that shows a photo comes out about 30% larger than
// with filters, in less than a third of the time. An opaque picture is written without its alpha.
foundation::Result<foundation::Bytes> encodePng(const Image& image) {
  if (image.isEmpty()) return imageError(ImageError::kInvalidImage, "An empty image has no PNG form");
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.pixelWidth());
  png.height = static_cast<png_uint_32>(image.pixelHeight());
  png.flags |= PNG_IMAGE_FLAG_FAST;
  struct Cleanup {
    png_image& png;
    ~Cleanup() { png_image_free(&png); }
  } cleanup{png};

  const std::uint8_t* source = image.pixels().data();
  try {
    std::unique_ptr<std::uint8_t[]> rgb;
    if (image.isOpaque()) {
      png.format = PNG_FORMAT_RGB;
      const size_t count = static_cast<size_t>(image.pixelWidth()) * image.pixelHeight();
      rgb = std::make_unique_for_overwrite<std::uint8_t[]>(count * 3);
      for (size_t i = 0; i < count; ++i) std::memcpy(&rgb[i * 3], source + i * 4, 3);
      source = rgb.get();
    } else {
      png.format = PNG_FORMAT_RGBA;
    }
    // Room for the largest file the image can make, left unwritten: the file takes a small part.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(png);
    auto out = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    if (!png_image_write_to_memory(&png, out.get(), &size, 0, source, 0, nullptr)) {
      return imageError(ImageError::kEncodeFailed, std::string("The PNG image could not be encoded: ") + png.message);
    }
    return foundation::Bytes(out.get(), out.get() + size);
  } catch (const std::bad_alloc&) {
    return imageError(ImageError::kTooLarge, "not enough memory to encode the PNG image");
  }
}

}  // namespace graphics::codec
