// SPDX-License-Identifier: GPL-2.0-or-later
#include <turbojpeg.h>

#include <memory>

#include "resources/resources.h"

namespace resources {
namespace {

using Decompressor = std::unique_ptr<void, int (*)(tjhandle)>;

QImage DecodeJpeg(std::span<const std::byte> jpeg) {
    Decompressor handle(tjInitDecompress(), tjDestroy);
    if (!handle) return {};
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling,
                            &colourspace) != 0) {
        return {};
    }
    QImage image(width, height, QImage::Format_RGB888);
    if (tjDecompress2(handle.get(), data, size, image.bits(), width,
                      static_cast<int>(image.bytesPerLine()), height, TJPF_RGB, 0) != 0) {
        return {};
    }
    return image;
}

}  // namespace

QImage StartupPicture() {
    const auto jpeg = Find("Image1", "JPEG");
    return jpeg ? DecodeJpeg(*jpeg) : QImage();
}

QImage Icon() {
    const auto png = Find("MAINICON", "ICON");
    if (!png) return {};
    return QImage::fromData(reinterpret_cast<const uchar*>(png->data()),
                            static_cast<int>(png->size()), "PNG");
}

}  // namespace resources
