#include "camera/Jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace kestrova {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: jump back to
// the call that set the jump point. Between setjmp and longjmp only plain C data is used.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings about damaged data are not worth a line on standard error.
void OnMessage(j_common_ptr, int) {}

bool Compress(const unsigned char* pixels, int width, int height, int stride, int quality,
              unsigned char** out, unsigned long* outSize) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(cinfo.next_scanline) * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// Decodes into a buffer allocated with malloc (*pixels, owned by the caller even on failure).
bool Decompress(const unsigned char* data, unsigned long size, int maxSide, unsigned char** pixels,
                int* width, int* height) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    if (cinfo.image_width == 0 || cinfo.image_height == 0 ||
        cinfo.image_width > static_cast<JDIMENSION>(maxSide) ||
        cinfo.image_height > static_cast<JDIMENSION>(maxSide)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * 3;
    *pixels = static_cast<unsigned char*>(std::malloc(stride * cinfo.output_height));
    if (!*pixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = *pixels + static_cast<std::size_t>(cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    *width = static_cast<int>(cinfo.output_width);
    *height = static_cast<int>(cinfo.output_height);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QByteArray EncodeJpeg(const QImage& image, int quality) {
    if (image.isNull())
        return {};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull())
        return {};
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const bool ok =
        Compress(rgb.constBits(), rgb.width(), rgb.height(), static_cast<int>(rgb.bytesPerLine()),
                 std::clamp(quality, 0, 100), &out, &outSize);
    QByteArray bytes;
    if (ok && out && outSize > 0)
        bytes = QByteArray(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    std::free(out);
    return bytes;
}

QImage DecodeJpeg(const QByteArray& bytes, int maxSide) {
    if (bytes.isEmpty())
        return {};
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    const bool ok =
        Decompress(reinterpret_cast<const unsigned char*>(bytes.constData()),
                   static_cast<unsigned long>(bytes.size()), maxSide, &pixels, &width, &height);
    if (!ok) {
        std::free(pixels);
        return {};
    }
    // The image takes over the buffer and frees it when the last copy goes.
    return QImage(pixels, width, height, width * 3, QImage::Format_RGB888, std::free, pixels);
}

} // namespace kestrova
