// SPDX-License-Identifier: GPL-2.0-or-later
// Which sound input a V4L2 device records with: its own USB sound card found in a fake sysfs
// tree laid out as the kernel does, what was remembered for it, or the machine description's.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/capture/device_choices.h"
#include "platform/capture/device_sysfs.h"
#include "platform/capture/sound_inputs.h"

namespace {

namespace fs = std::filesystem;

struct FakeCard {
    int number;
    std::string id;
    std::vector<std::string> pcms;  // "D0c", "D0p"…
};

// A device under /sys/devices: a USB device (its interfaces below it) or a platform device.
struct FakeParent {
    std::string dir;
    bool usb;
    std::optional<std::string> serial;
    std::vector<int> videos;
    std::vector<FakeCard> cards;
};

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// Sysfs links are relative to the folder holding them.
void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(fs::relative(target, link.parent_path()), link);
}

// A class device (videoN, cardN) in `device`'s folder, listed in /sys/class/<kind>.
fs::path ClassDevice(const fs::path& root, const fs::path& device, const std::string& kind,
                     const std::string& name) {
    const fs::path folder = device / kind / name;
    fs::create_directories(folder);
    Link(folder / "device", device);
    Link(root / "class" / kind / name, folder);
    return folder;
}

void Build(const fs::path& root, const std::vector<FakeParent>& parents) {
    Write(root / "devices/pci0000:00/0000:00:14.0/usb1/idVendor", "1d6b\n");  // the root hub
    Write(root / "devices/pci0000:00/0000:00:14.0/usb1/serial", "0000:00:14.0\n");
    for (const FakeParent& p : parents) {
        const fs::path dir = root / "devices" / p.dir;
        const std::string port = fs::path(p.dir).filename().string();
        if (p.usb) Write(dir / "idVendor", "046d\n");
        if (p.serial) Write(dir / "serial", *p.serial);
        for (const int video : p.videos) {
            const fs::path interface = p.usb ? dir / (port + ":1.0") : dir;
            ClassDevice(root, interface, "video4linux", "video" + std::to_string(video));
        }
        for (const FakeCard& card : p.cards) {
            const fs::path interface = p.usb ? dir / (port + ":1.2") : dir;
            const std::string name = "card" + std::to_string(card.number);
            const fs::path folder = ClassDevice(root, interface, "sound", name);
            Write(folder / "id", card.id + "\n");
            for (const std::string& pcm : card.pcms) {
                const std::string pcmName = "pcmC" + std::to_string(card.number) + pcm;
                fs::create_directories(folder / pcmName);
                Link(root / "class/sound" / pcmName, folder / pcmName);
            }
        }
    }
}

const std::string kUsb = "pci0000:00/0000:00:14.0/usb1/";

// The grabber at 1-1 has no capture of its own, and the box at 1-10 must not be taken for it.
const std::vector<FakeParent> kMachine{
    {"pci0000:00/0000:00:1f.3", false, {}, {}, {{0, "PCH", {"D0c", "D0p"}}}},
    {kUsb + "1-1", true, {}, {2}, {{2, "Grabber", {"D0p"}}}},
    {kUsb + "1-2", true, "  SN-CAM1 \n", {0, 1}, {{1, "Webcam", {"D0c"}}}},
    {kUsb + "1-10", true, "B0X\n", {3}, {{3, "Box", {"D0p", "D1c"}}}},
    {"platform/vivid.0", false, {}, {5}, {}},
};

class SoundPairing : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        Build(Root(), kMachine);
    }
    std::string Root() const { return folder_.path().toStdString() + "/sys"; }

    QTemporaryDir folder_;
};

TEST_F(SoundPairing, EachVideoNodeFindsItsOwnUsbDeviceSerialAndCapturePcm) {
    struct Case {
        std::string node;
        std::string serial;
        std::optional<std::string> sound;
    };
    const std::vector<Case> cases{
        {"/dev/video0", "SN-CAM1", "plughw:CARD=Webcam,DEV=0"},
        {"/dev/video1", "SN-CAM1", "plughw:CARD=Webcam,DEV=0"},
        {"/dev/video2", "", std::nullopt},
        {"/dev/video3", "B0X", "plughw:CARD=Box,DEV=1"},
        {"/dev/video5", "", std::nullopt},
        {"/dev/video9", "", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::UsbSerialOf(c.node, Root()), c.serial) << c.node;
        EXPECT_EQ(platform::PairedSoundInput(c.node, Root()), c.sound) << c.node;
    }
}

TEST_F(SoundPairing, MachineDescriptionThenRememberedThenPairedThenDefault) {
    const std::string config = folder_.path().toStdString() + "/config";
    const char* previousConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string kept = previousConfig ? previousConfig : "";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    platform::DeviceChoices remembered;
    remembered.soundInput = "hw:CARD=PCH,DEV=0";
    ASSERT_TRUE(platform::SaveDeviceChoices("Caméra # SN-CAM1", remembered));

    struct Case {
        std::optional<std::string> machineAudio;
        std::string identity;
        std::string node;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"none", "Caméra # SN-CAM1", "/dev/video0", "none"},
        {"plughw:1,0", "Carte @ usb-1", "/dev/video2", "plughw:1,0"},
        {{}, "Caméra # SN-CAM1", "/dev/video0", "hw:CARD=PCH,DEV=0"},
        {{}, "Boîtier # B0X", "/dev/video3", "plughw:CARD=Box,DEV=1"},
        {{}, "Carte @ usb-1", "/dev/video2", "default"},
        {{}, "vivid @ platform:vivid-000", "/dev/video5", "default"},
    };
    platform::MachineDescription machine;
    const platform::MachineDescription previous = platform::SetMachine(machine);
    for (const Case& c : cases) {
        machine.audio = c.machineAudio;
        platform::SetMachine(machine);
        platform::DriverDescription driver;
        driver.kind = "v4l2";
        driver.device = c.node;
        driver.identity = c.identity;
        EXPECT_EQ(platform::SoundInputFor(driver, Root()), c.expected) << c.identity;
    }
    platform::SetMachine(previous);
    platform::SaveDeviceChoices("Caméra # SN-CAM1", {});
    if (previousConfig != nullptr)
        setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

// Whatever the machine's ALSA configuration lists, the input in force comes first and "default"
// next, each once.
TEST(SoundInputs, TheInputInForceFirstThenDefaultEachOnce) {
    for (const std::string first : {"plughw:CARD=Nowhere,DEV=0", "default"}) {
        const std::vector<platform::SoundInputName> inputs = platform::ListSoundInputs(first);
        ASSERT_GE(inputs.size(), first == "default" ? 1u : 2u);
        EXPECT_EQ(inputs[0].pcm, first);
        EXPECT_FALSE(inputs[0].description.empty());
        if (first != "default") {
            EXPECT_EQ(inputs[1].pcm, "default");
        }
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            EXPECT_NE(inputs[i].pcm, "null");
            EXPECT_EQ(inputs[i].description.find('\n'), std::string::npos) << inputs[i].pcm;
            for (std::size_t j = i + 1; j < inputs.size(); ++j)
                EXPECT_NE(inputs[i].pcm, inputs[j].pcm);
        }
    }
}

}  // namespace
