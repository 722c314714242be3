#include "shell/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace corvane {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return; jump back to the
// caller's frame instead of letting it exit the process.
struct ErrorManager {
    jpeg_error_mgr pub{};
    std::jmp_buf jump{};
};

[[noreturn]] void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void silent(j_common_ptr) {}

// Larger pictures are refused before any pixel memory is taken.
constexpr JDIMENSION maxSide = 16384;

// The state lives in this struct, not in locals of the function that calls setjmp: after the
// jump only memory reached through a reference is certain to hold its last value.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    QImage image;
};

bool decodeInto(Decoder& d, const QByteArray& data) {
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = errorExit;
    d.err.pub.output_message = silent;
    if (setjmp(d.err.jump)) {
        jpeg_destroy_decompress(&d.cinfo);
        d.image = QImage();
        return false;
    }
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d.cinfo, TRUE);
    d.cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.cinfo);
    if (d.cinfo.output_width > maxSide || d.cinfo.output_height > maxSide ||
        d.cinfo.output_components != 3) {
        jpeg_destroy_decompress(&d.cinfo);
        return false;
    }
    d.image = QImage(static_cast<int>(d.cinfo.output_width),
                     static_cast<int>(d.cinfo.output_height), QImage::Format_RGB888);
    if (d.image.isNull()) {
        jpeg_destroy_decompress(&d.cinfo);
        return false;
    }
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = d.image.scanLine(static_cast<int>(d.cinfo.output_scanline));
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    jpeg_destroy_decompress(&d.cinfo);
    return true;
}

struct Encoder {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    QImage rgb;
};

bool encodeInto(Encoder& e, int quality) {
    e.cinfo.err = jpeg_std_error(&e.err.pub);
    e.err.pub.error_exit = errorExit;
    e.err.pub.output_message = silent;
    if (setjmp(e.err.jump)) {
        jpeg_destroy_compress(&e.cinfo);
        return false;
    }
    jpeg_create_compress(&e.cinfo);
    jpeg_mem_dest(&e.cinfo, &e.buffer, &e.size);
    e.cinfo.image_width = static_cast<JDIMENSION>(e.rgb.width());
    e.cinfo.image_height = static_cast<JDIMENSION>(e.rgb.height());
    e.cinfo.input_components = 3;
    e.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&e.cinfo);
    jpeg_set_quality(&e.cinfo, quality, TRUE);
    jpeg_start_compress(&e.cinfo, TRUE);
    while (e.cinfo.next_scanline < e.cinfo.image_height) {
        // libjpeg takes non-const rows but only reads them.
        auto* row =
            const_cast<JSAMPROW>(e.rgb.constScanLine(static_cast<int>(e.cinfo.next_scanline)));
        jpeg_write_scanlines(&e.cinfo, &row, 1);
    }
    jpeg_finish_compress(&e.cinfo);
    jpeg_destroy_compress(&e.cinfo);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray& data) {
    if (data.isEmpty())
        return {};
    Decoder d;
    if (!decodeInto(d, data))
        return {};
    return d.image.convertToFormat(QImage::Format_RGB32);
}

QByteArray encodeJpeg(const QImage& image, int quality) {
    if (image.isNull())
        return {};
    Encoder e;
    e.rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray out;
    if (encodeInto(e, std::clamp(quality, 1, 100)) && e.buffer)
        out = QByteArray(reinterpret_cast<const char*>(e.buffer), static_cast<qsizetype>(e.size));
    std::free(e.buffer);
    return out;
}

} // namespace corvane
