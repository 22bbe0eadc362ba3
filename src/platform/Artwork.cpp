#include "platform/Artwork.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace {
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// Everything libjpeg touches between setjmp and longjmp lives here, so no
// C++ object with a destructor is skipped by the jump.
bool DecodeJpeg(const QByteArray& data, QImage* out) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    // A logo is small; a damaged file must not make us allocate or write wildly.
    constexpr JDIMENSION MaxSide = 8192;
    if (cinfo.output_width > MaxSide || cinfo.output_height > MaxSide ||
        cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    *out = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                  QImage::Format_RGB888);
    if (out->isNull()) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}
} // namespace

QImage LoadJpeg(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.readAll();
    QImage image;
    if (data.isEmpty() || !DecodeJpeg(data, &image))
        return {};
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(64, 128, 128));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
        p.setBrush(QColor(155, 155, 0));
        const double r = size * 0.22;
        p.drawEllipse(QPointF(size * 0.5, size * 0.5), r, r);
        icon.addPixmap(pm);
    }
    return icon;
}
