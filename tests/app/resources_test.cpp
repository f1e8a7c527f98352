// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>

#include "resources/resources.h"

namespace {

TEST(Resources, FoundByNameAndTypeWhateverTheLetterCase) {
    const std::pair<const char*, const char*> found[] = {
        {"click", "WAV"}, {"CLICK", "wav"}, {"FondD", "BITMAP"}, {"fondd", "Bitmap"}};
    for (const auto& [name, type] : found) {
        EXPECT_TRUE(resources::Find(name, type).has_value()) << name << " " << type;
    }
    const std::pair<const char*, const char*> missing[] = {
        {"click", "BITMAP"}, {"clic", "WAV"}, {"", ""}, {"clicks", "WAV"}};
    for (const auto& [name, type] : missing) {
        EXPECT_FALSE(resources::Find(name, type).has_value()) << name << " " << type;
    }
}

TEST(Resources, StartUpPictureDecodes) {
    const QImage picture = resources::StartupPicture();
    EXPECT_EQ(picture.size(), QSize(900, 700));
    EXPECT_FALSE(resources::Icon().isNull());
}

TEST(Resources, FondDTileIs126Square24Bit) {
    const auto tile = resources::Find("FondD", "BITMAP");
    ASSERT_TRUE(tile.has_value());
    std::uint16_t bits = 0;
    std::memcpy(&bits, tile->data() + 28, 2);
    EXPECT_EQ(bits, 24);
    QImage image;
    ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(tile->data()),
                                   static_cast<int>(tile->size()), "BMP"));
    EXPECT_EQ(image.size(), QSize(126, 126));
}

}  // namespace
