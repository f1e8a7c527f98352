#include "capture/video_format.h"

#include <QLineEdit>
#include <algorithm>
#include <cstring>

#include "app/form1.h"
#include "platform/messages.h"

QString FourCCToText(DWORD code) {
    QString text;
    for (int shift = 0; shift < 32; shift += 8) {
        // Each byte is one character of the single-byte code page.
        text += QChar::fromLatin1(static_cast<char>((code >> shift) & 0xFF));
    }
    return text;
}

// The buffer always holds at least a whole header: a driver reporting fewer bytes (or none, with
// no capture window) must not make the header's fields be read or written past its end.
void TForm1::ReadVideoFormat() {
    CaptureFormatSize =
        static_cast<std::uint16_t>(SendMessageA(CaptureWindow, WM_CAP_GET_VIDEOFORMAT, 0, 0));
    CaptureFormat.assign(std::max<std::size_t>(CaptureFormatSize, sizeof(BITMAPINFOHEADER)), 0);
    SendMessageA(CaptureWindow, WM_CAP_GET_VIDEOFORMAT, CaptureFormatSize,
                 reinterpret_cast<LPARAM>(CaptureFormat.data()));
}

BITMAPINFOHEADER TForm1::CaptureFormatHeader() const {
    BITMAPINFOHEADER header{};
    if (CaptureFormat.size() >= sizeof(header)) {
        std::memcpy(&header, CaptureFormat.data(), sizeof(header));
    }
    return header;
}

namespace {

QString CompressionName(DWORD compression) {
    switch (compression) {
        case BI_RGB:
            return QStringLiteral("bi_RGB");
        case BI_RLE8:
            return QStringLiteral("bi_RLE8");
        case BI_RLE4:
            return QStringLiteral("bi_RLE4");
        case BI_BITFIELDS:
            return QStringLiteral("bi_BITFIELDS");
        default:
            return FourCCToText(compression);
    }
}

}  // namespace

void TForm1::NameCompression() {
    if (CaptureWindow == nullptr) return;
    Edit2->setText(CompressionName(CaptureFormatHeader().biCompression));
    Edit2->setCursorPosition(0);  // a field too narrow for its text shows its beginning
}

QString TForm1::FormatName() const {
    return Edit2->text();
}

bool TForm1::DeliversMotionJpeg() const {
    return FormatName() == QLatin1String("MJPG");
}

// Asks for an uncompressed picture of this size, sending the header alone; the other fields stay
// as the driver reported them. Whatever the answer, the format kept is then the driver's own: a
// refused request leaves it delivering what it delivered before, and an accepted one may have
// fields (image size, bit count) the request did not set. Frames are read, shown and recorded by
// this format, so it must never describe a picture the driver does not send.
bool TForm1::RequestVideoFormat(LONG width, LONG height) {
    BITMAPINFOHEADER header = CaptureFormatHeader();
    header.biWidth = width;
    header.biHeight = height;
    header.biCompression = BI_RGB;
    const bool accepted =
        SendMessageA(CaptureWindow, WM_CAP_SET_VIDEOFORMAT, sizeof(BITMAPINFOHEADER),
                     reinterpret_cast<LPARAM>(&header)) != 0;
    ReadVideoFormat();
    return accepted;
}

bool TForm1::NegotiateVideoFormat() {
    if (CaptureWindow == nullptr) return true;
    if (RequestVideoFormat(384, 288) || RequestVideoFormat(320, 240)) return true;
    platform::ShowMessage(
        "Votre carte d'acquisition video ne possede pas la configuration adaptée ... Choisissez "
        "un Format RGB24 en 384x288 ou 320x240, puis redémarrer ...");
    StartupFailed = true;
    return false;
}

void TForm1::TakeImageSizeFromFormat() {
    const BITMAPINFOHEADER format = CaptureFormatHeader();
    ImageWidth = LOWORD(static_cast<std::uint32_t>(format.biWidth));
    ImageHeight = LOWORD(static_cast<std::uint32_t>(format.biHeight));
}
