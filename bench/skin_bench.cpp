// SPDX-License-Identifier: GPL-2.0-or-later
// The window skin at every paint: the tiled fill and the frame, against the straightforward way
// that decodes the tile afresh, draws every tile and sets the frame one pixel at a time.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <cstdlib>

#include "app/form1.h"
#include "resources/resources.h"

namespace {

void BM_PaintSkin(benchmark::State& state) {
    const QSize size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QImage canvas(size, QImage::Format_RGB32);  // the backing store's format on X11
    const QPixmap& tile = TForm1::SkinTile();
    for (auto _ : state) {
        QPainter painter(&canvas);
        TForm1::PaintSkin(painter, size, tile);
        benchmark::DoNotOptimize(canvas.constBits());
    }
}
BENCHMARK(BM_PaintSkin)->Args({593, 485})->Args({800, 600})->Unit(benchmark::kMicrosecond);

void BM_PaintSkinTileByTileAndPixelByPixel(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    QImage canvas(w, h, QImage::Format_RGB32);
    const auto bitmap = resources::Find("FondD", "BITMAP");
    for (auto _ : state) {
        QImage tile;
        tile.loadFromData(reinterpret_cast<const uchar*>(bitmap->data()),
                          static_cast<int>(bitmap->size()), "BMP");
        QPainter painter(&canvas);
        for (int c = 0; c <= w / tile.width(); ++c) {
            for (int r = 0; r <= h / tile.height(); ++r) {
                painter.drawImage(7 + c * tile.width(), 7 + r * tile.height(), tile);
            }
        }
        const auto dot = [&painter](int x, int y, Qt::GlobalColor colour) {
            painter.setPen(colour);
            painter.drawPoint(x, y);
        };
        for (int y = 1; y <= 6; ++y)
            for (int x = 0; x < w; ++x) dot(x, y, Qt::white);
        for (int x = 1; x <= 6; ++x)
            for (int y = 0; y < h; ++y) dot(x, y, Qt::white);
        for (int k = 1; k <= 6; ++k)
            for (int x = k; x < w; ++x) dot(x, h - 1 - k, Qt::gray);
        for (int k = 1; k <= 6; ++k)
            for (int y = k; y < h; ++y) dot(w - 1 - k, y, Qt::gray);
        for (int x = 0; x < w; ++x) {
            dot(x, 0, Qt::black);
            dot(x, h - 1, Qt::black);
        }
        for (int y = 0; y < h; ++y) {
            dot(0, y, Qt::black);
            dot(w - 1, y, Qt::black);
        }
        benchmark::DoNotOptimize(canvas.constBits());
    }
}
BENCHMARK(BM_PaintSkinTileByTileAndPixelByPixel)
    ->Args({593, 485})
    ->Args({800, 600})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
