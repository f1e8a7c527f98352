// SPDX-License-Identifier: GPL-2.0-or-later
// Draws the program's embedded resources into a folder: the start-up picture (JPEG 900 x 700),
// the "FondD" background tile (24-bit BMP 126 x 126), the "click" sound (RIFF WAVE, 4,460 bytes)
// and the window icon (PNG). Run it once and commit what it writes to resources/; given a second
// folder, it also draws the icon at the desktop's usual sizes there (NxN/vistrel.png), for
// packaging/icons/.
//
//   vistrel_make_resources OUTPUT_FOLDER [ICON_FOLDER]
#include <turbojpeg.h>

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

void Put32(Bytes& out, unsigned value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutTag(Bytes& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

bool WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(file);
}

void DrawBackground(QPainter& p, const QRect& area) {
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0.0, QColor(12, 28, 58));
    sky.setColorAt(0.6, QColor(20, 74, 104));
    sky.setColorAt(1.0, QColor(8, 20, 36));
    p.fillRect(area, sky);
    QRadialGradient glow(QPointF(610, 300), 420);
    glow.setColorAt(0.0, QColor(80, 170, 200, 120));
    glow.setColorAt(1.0, QColor(80, 170, 200, 0));
    p.fillRect(area, glow);
}

void DrawLens(QPainter& p, QPointF centre) {
    const QColor rings[] = {QColor(30, 30, 34), QColor(70, 72, 80), QColor(20, 22, 26),
                            QColor(40, 60, 90), QColor(10, 14, 30)};
    const double radii[] = {190, 170, 140, 110, 80};
    for (int i = 0; i < 5; ++i) {
        p.setBrush(rings[i]);
        p.setPen(QPen(QColor(140, 150, 160, 90), 2));
        p.drawEllipse(centre, radii[i], radii[i]);
    }
    QRadialGradient glass(centre + QPointF(-25, -30), 90);
    glass.setColorAt(0.0, QColor(120, 200, 255, 200));
    glass.setColorAt(0.5, QColor(40, 90, 160, 160));
    glass.setColorAt(1.0, QColor(10, 20, 60, 0));
    p.setBrush(glass);
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, 80, 80);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(centre + QPointF(-32, -36), 16, 11);
}

void DrawFilmStrip(QPainter& p, int top) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 170));
    p.drawRect(0, top, 900, 90);
    p.setBrush(QColor(230, 230, 220, 200));
    for (int x = 12; x < 900; x += 36) {
        p.drawRoundedRect(x, top + 8, 18, 12, 3, 3);
        p.drawRoundedRect(x, top + 70, 18, 12, 3, 3);
    }
    const QColor frames[] = {QColor(200, 70, 60), QColor(230, 180, 60), QColor(70, 160, 90),
                             QColor(60, 130, 200), QColor(150, 90, 180)};
    for (int i = 0; i < 9; ++i) {
        p.setBrush(frames[i % 5].darker(130));
        p.drawRect(10 + i * 100, top + 26, 88, 38);
    }
}

void DrawTitle(QPainter& p) {
    QFont title("DejaVu Sans", 84, QFont::Bold);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(QRect(444, 214, 440, 120), Qt::AlignLeft | Qt::AlignVCenter, "Vistrel");
    p.setPen(QColor(240, 246, 250));
    p.drawText(QRect(440, 210, 440, 120), Qt::AlignLeft | Qt::AlignVCenter, "Vistrel");
    QFont subtitle("DejaVu Sans", 22);
    p.setFont(subtitle);
    p.setPen(QColor(170, 215, 235));
    p.drawText(QRect(446, 330, 440, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("Capture vidéo et son"));
    p.setPen(QPen(QColor(220, 60, 50), 6));
    p.drawLine(446, 382, 760, 382);
}

QImage StartupPicture() {
    QImage image(900, 700, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawBackground(p, image.rect());
    DrawLens(p, QPointF(240, 300));
    DrawTitle(p);
    DrawFilmStrip(p, 560);
    p.end();
    return image;
}

bool WriteJpeg(const std::string& path, const QImage& image) {
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle, image.constBits(), image.width(),
                               static_cast<int>(image.bytesPerLine()), image.height(), TJPF_RGB,
                               &jpeg, &size, TJSAMP_420, 88, TJFLAG_ACCURATEDCT);
    bool ok = rc == 0 && WriteFile(path, Bytes(jpeg, jpeg + size));
    tjFree(jpeg);
    tjDestroy(handle);
    return ok;
}

// A brushed steel-blue weave: soft diagonal ridges that repeat every 126 pixels both ways.
QRgb TilePixel(int x, int y) {
    const double pi = 3.14159265358979323846;
    const double a = std::sin(2 * pi * (x + y) / 42.0);
    const double b = std::sin(2 * pi * (x - y) / 63.0);
    const double grain = std::sin(2 * pi * x * 7 / 126.0) * std::sin(2 * pi * y * 5 / 126.0);
    const double shade = 0.5 + 0.18 * a + 0.12 * b + 0.05 * grain;
    const auto channel = [&](double base) { return static_cast<int>(base * (0.75 + 0.5 * shade)); };
    return qRgb(channel(150), channel(162), channel(178));
}

Bytes TileBmp() {
    constexpr int side = 126;
    constexpr unsigned stride = (side * 3 + 3) & ~3u;
    Bytes out;
    out.insert(out.end(), {'B', 'M'});
    Put32(out, 54 + stride * side);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, side);
    Put32(out, side);
    Put16(out, 1);
    Put16(out, 24);
    for (unsigned v : {0u, stride * side, 2835u, 2835u, 0u, 0u}) Put32(out, v);
    for (int y = side - 1; y >= 0; --y) {
        for (int x = 0; x < side; ++x) {
            const QRgb c = TilePixel(x, y);
            out.insert(out.end(),
                       {static_cast<unsigned char>(qBlue(c)), static_cast<unsigned char>(qGreen(c)),
                        static_cast<unsigned char>(qRed(c))});
        }
        out.resize(out.size() + (stride - side * 3), 0);
    }
    return out;
}

// A short mechanical click: two damped bursts, then silence, 8-bit unsigned around 128.
Bytes ClickSamples(unsigned count) {
    const double rate = 22050;
    const double pi = 3.14159265358979323846;
    Bytes samples(count, 128);
    for (unsigned i = 0; i < count; ++i) {
        const double t = i / rate;
        double v =
            std::exp(-t * 900) * (std::sin(2 * pi * 2400 * t) + 0.6 * std::sin(2 * pi * 5100 * t));
        const double t2 = t - 0.018;
        if (t2 > 0) v += 0.45 * std::exp(-t2 * 1100) * std::sin(2 * pi * 1700 * t2);
        samples[i] = static_cast<unsigned char>(std::lround(128 + 90 * std::clamp(v, -1.0, 1.0)));
    }
    return samples;
}

// RIFF WAVE with an 18-byte format record and a "fact" chunk: 58 bytes of headers and 4,402
// bytes of samples make the 4,460 bytes the program ships with.
Bytes ClickWav() {
    constexpr unsigned sampleCount = 4402;
    Bytes out;
    PutTag(out, "RIFF");
    Put32(out, 4460 - 8);
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, 18);
    for (unsigned v : {1u, 1u}) Put16(out, v);
    Put32(out, 22050);
    Put32(out, 22050);
    for (unsigned v : {1u, 8u, 0u}) Put16(out, v);
    PutTag(out, "fact");
    Put32(out, 4);
    Put32(out, sampleCount);
    PutTag(out, "data");
    Put32(out, sampleCount);
    const Bytes samples = ClickSamples(sampleCount);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

// Drawn on a 64-unit square whatever the size in pixels.
QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 74, 104));
    p.drawRoundedRect(2, 2, 60, 60, 12, 12);
    p.setBrush(QColor(30, 30, 34));
    p.drawEllipse(QPointF(32, 32), 22, 22);
    QRadialGradient glass(QPointF(27, 27), 16);
    glass.setColorAt(0.0, QColor(120, 200, 255));
    glass.setColorAt(1.0, QColor(20, 50, 110));
    p.setBrush(glass);
    p.drawEllipse(QPointF(32, 32), 14, 14);
    p.setBrush(QColor(220, 60, 50));
    p.drawEllipse(QPointF(51, 13), 6, 6);
    p.end();
    return image;
}

bool WriteIcons(const std::string& folder) {
    bool ok = true;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string name = std::to_string(size) + 'x' + std::to_string(size);
        std::filesystem::create_directories(folder + '/' + name);
        ok = Icon(size).save(QString::fromStdString(folder + '/' + name + "/vistrel.png"), "PNG") &&
             ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [ICON_FOLDER]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string folder = argv[1];
    bool ok = WriteJpeg(folder + "/startup.jpg", StartupPicture());
    ok = WriteFile(folder + "/FondD.bmp", TileBmp()) && ok;
    ok = WriteFile(folder + "/click.wav", ClickWav()) && ok;
    ok = Icon(64).save(QString::fromStdString(folder + "/vistrel.png"), "PNG") && ok;
    if (argc == 3) ok = WriteIcons(argv[2]) && ok;
    return ok ? 0 : 1;
}
