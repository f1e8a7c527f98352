// SPDX-License-Identifier: GPL-2.0-or-later
// A device's Source and Format dialogs: the device's inputs, standards and controls as the V4L2
// calls give them, the dialogs' round trips, and the choices kept per device.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>

#include "platform/capture/capture_source.h"
#include "platform/capture/device_choices.h"
#include "platform/capture/device_dialogs.h"
#include "platform/capture/v4l2_setup.h"
#include "platform/capture/v4l2_source.h"
#include "tests/platform/capture/fake_v4l2.h"

namespace platform {
namespace {

constexpr std::uint32_t kBrightness = V4L2_CID_BRIGHTNESS;
constexpr std::uint32_t kAutogain = V4L2_CID_AUTOGAIN;
constexpr std::uint32_t kPowerLine = V4L2_CID_POWER_LINE_FREQUENCY;

struct FakeControl {
    std::uint32_t id;
    std::uint32_t type;
    const char* name;
    std::int32_t minimum, maximum, defaultValue, value;
    std::uint32_t flags = 0;
};

// A grabber with a tuner input (PAL, SECAM) and an S-Video one (PAL, NTSC); only the ioctls of
// the dialogs answer.
class ControlsDevice : public V4l2Io {
  public:
    int input = 0;
    v4l2_std_id standard = V4L2_STD_PAL;
    int inputChangesWhileStreaming = 0;
    bool streaming = false;
    std::vector<FakeControl> controls{
        {V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0},
        {kBrightness, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 128, 128},
        {kAutogain, V4L2_CTRL_TYPE_BOOLEAN, "Gain, Automatic", 0, 1, 1, 1},
        {V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 100, 50, 50, V4L2_CTRL_FLAG_INACTIVE},
        {kPowerLine, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 1},
        {V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -128, 127, 0, 0, V4L2_CTRL_FLAG_READ_ONLY},
    };

    std::vector<std::string> Nodes() override { return {}; }
    int Open(const std::string&) override { return 3; }
    int Close(int) override { return 0; }
    void* Mmap(std::size_t, int, std::int64_t) override { return nullptr; }
    int Munmap(void*, std::size_t) override { return 0; }
    int Poll(int, int, short&) override { return 0; }
    std::int64_t NowUs() override { return 0; }
    int Ioctl(int, unsigned long request, void* argument) override {
        switch (request) {
            case VIDIOC_ENUMINPUT:
                return EnumInput(*static_cast<v4l2_input*>(argument));
            case VIDIOC_G_INPUT:
                *static_cast<int*>(argument) = input;
                return 0;
            case VIDIOC_S_INPUT:
                if (streaming) ++inputChangesWhileStreaming;
                input = *static_cast<int*>(argument);
                standard = V4L2_STD_PAL;
                return 0;
            case VIDIOC_ENUMSTD:
                return EnumStd(*static_cast<v4l2_standard*>(argument));
            case VIDIOC_G_STD:
                *static_cast<v4l2_std_id*>(argument) = standard;
                return 0;
            case VIDIOC_S_STD:
                standard = *static_cast<v4l2_std_id*>(argument);
                return 0;
            case VIDIOC_QUERY_EXT_CTRL:
                return Query(*static_cast<v4l2_query_ext_ctrl*>(argument));
            case VIDIOC_QUERYMENU:
                return Menu(*static_cast<v4l2_querymenu*>(argument));
            case VIDIOC_G_CTRL:
            case VIDIOC_S_CTRL:
                return Control(request, *static_cast<v4l2_control*>(argument));
        }
        errno = ENOTTY;
        return -1;
    }
    std::int32_t ValueOf(std::uint32_t id) const {
        for (const FakeControl& c : controls)
            if (c.id == id) return c.value;
        return -1;
    }

  private:
    static int Fail() {
        errno = EINVAL;
        return -1;
    }
    int EnumInput(v4l2_input& in) const {
        const char* names[] = {"Television", "S-Video"};
        if (in.index > 1) return Fail();
        std::strcpy(reinterpret_cast<char*>(in.name), names[in.index]);
        in.std = V4L2_STD_ALL;
        return 0;
    }
    int EnumStd(v4l2_standard& s) const {
        const std::vector<std::pair<v4l2_std_id, const char*>> lists[] = {
            {{V4L2_STD_PAL, "PAL"}, {V4L2_STD_SECAM, "SECAM"}},
            {{V4L2_STD_PAL, "PAL"}, {V4L2_STD_NTSC_M, "NTSC-M"}}};
        const auto& list = lists[input];
        if (s.index >= list.size()) return Fail();
        s.id = list[s.index].first;
        std::strcpy(reinterpret_cast<char*>(s.name), list[s.index].second);
        return 0;
    }
    int Query(v4l2_query_ext_ctrl& q) const {
        const std::uint32_t after = q.id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
        for (const FakeControl& c : controls) {
            if (c.id <= after) continue;
            q = {};
            q.id = c.id;
            q.type = c.type;
            std::strcpy(q.name, c.name);
            q.minimum = c.minimum;
            q.maximum = c.maximum;
            q.step = 1;
            q.default_value = c.defaultValue;
            q.flags = c.flags;
            return 0;
        }
        return Fail();
    }
    static int Menu(v4l2_querymenu& m) {
        const char* names[] = {"Disabled", "50 Hz", "60 Hz"};
        if (m.id != kPowerLine || m.index > 2) return Fail();
        std::strcpy(reinterpret_cast<char*>(m.name), names[m.index]);
        return 0;
    }
    int Control(unsigned long request, v4l2_control& c) {
        for (FakeControl& f : controls) {
            if (f.id != c.id) continue;
            if (request == VIDIOC_G_CTRL)
                c.value = f.value;
            else if (c.value < f.minimum || c.value > f.maximum)
                return Fail();
            else
                f.value = c.value;
            return 0;
        }
        return Fail();
    }
};

// Stops streaming for a change, as the V4L2 source does, and keeps the mode chosen.
class FakePicture : public PictureSetup {
  public:
    explicit FakePicture(ControlsDevice& device) : device_(device) {}
    std::optional<NativeMode> preferred;
    std::vector<NativeMode> modes() override {
        return {{V4L2_PIX_FMT_YUYV, 720, 576, 25}, {V4L2_PIX_FMT_MJPEG, 1280, 960, 30}};
    }
    std::optional<NativeMode> modeInUse() const override {
        return NativeMode{V4L2_PIX_FMT_YUYV, 720, 576, 25};
    }
    std::optional<NativeMode> preferredMode() const override { return preferred; }
    bool PreferMode(const std::optional<NativeMode>& mode) override {
        preferred = mode;
        return true;
    }
    bool Reconfigure(const std::function<bool()>& change, const std::function<void()>&) override {
        device_.streaming = false;
        const bool ok = change();
        device_.streaming = true;
        return ok;
    }

  private:
    ControlsDevice& device_;
};

class DeviceSetupTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        device_.streaming = true;
        driver_.kind = "v4l2";
        driver_.name = "Grabber";
        driver_.identity = "Grabber # 00A1/b";
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", previousConfig_); }

    QTemporaryDir config_;
    QByteArray previousConfig_;
    ControlsDevice device_;
    FakePicture picture_{device_};
    DriverDescription driver_;
    std::unique_ptr<DeviceSetup> setup_ = nullptr;
    DeviceSetup& Dialogs() {
        if (!setup_) setup_ = V4l2DeviceSetup(device_, 3, driver_, picture_);
        return *setup_;
    }
};

TEST_F(DeviceSetupTest, ListsWhatTheDeviceOffersAndHidesWhatCannotBeSet) {
    DeviceSetup& setup = Dialogs();
    EXPECT_EQ(setup.Inputs(), (std::vector<std::string>{"Television", "S-Video"}));
    EXPECT_EQ(setup.Standards(), (std::vector<std::string>{"PAL", "SECAM"}));
    EXPECT_EQ(setup.Standard(), 0);
    std::vector<std::string> names;
    for (const ControlInfo& c : setup.Controls()) {
        names.push_back(c.name);
        EXPECT_EQ(c.group, "User Controls");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Brightness", "Gain, Automatic", "Gain",
                                               "Power Line Frequency"}));
    const ControlInfo gain = setup.Controls()[2];
    EXPECT_TRUE(gain.inactive);
    const ControlInfo menu = setup.Controls()[3];
    ASSERT_EQ(menu.menu.size(), 3u);
    EXPECT_EQ(menu.menu[1].second, "50 Hz");
}

// The choices a user makes are the device's again at its next connection, found by name: the
// device may list its inputs in another order by then.
TEST_F(DeviceSetupTest, ChoicesAreKeptPerDeviceAndAppliedAtConnect) {
    DeviceSetup& setup = Dialogs();
    ASSERT_TRUE(setup.SelectInput(1));
    EXPECT_EQ(device_.inputChangesWhileStreaming, 0);
    EXPECT_EQ(setup.Standards(), (std::vector<std::string>{"PAL", "NTSC-M"}));
    ASSERT_TRUE(setup.SelectStandard(1));
    ASSERT_TRUE(setup.SetControl(kBrightness, 200));
    EXPECT_FALSE(setup.SetControl(kBrightness, 999));
    setup.SelectSoundInput("plughw:CARD=Grabber,DEV=0");
    setup.PreferMode(NativeMode{V4L2_PIX_FMT_MJPEG, 1280, 960});
    ASSERT_TRUE(setup.Remember());

    const DeviceChoices kept = LoadDeviceChoices(driver_.identity);
    EXPECT_EQ(kept.input, "S-Video");
    EXPECT_EQ(kept.standard, "NTSC-M");
    EXPECT_EQ(kept.controls, (std::map<std::uint32_t, std::int64_t>{{kBrightness, 200}}));
    EXPECT_EQ(kept.soundInput, "plughw:CARD=Grabber,DEV=0");
    EXPECT_EQ(kept.mode, (NativeMode{V4L2_PIX_FMT_MJPEG, 1280, 960}));
    EXPECT_EQ(LoadDeviceChoices("Grabber @ usb-1"), DeviceChoices{});

    ControlsDevice fresh;
    ApplyInputAndStandard(fresh, 3, kept);
    ApplyControls(fresh, 3, kept);
    EXPECT_EQ(fresh.input, 1);
    EXPECT_EQ(fresh.standard, V4L2_STD_NTSC_M);
    EXPECT_EQ(fresh.ValueOf(kBrightness), 200);
}

// A store edited by hand loses nothing else for a value it cannot read.
TEST_F(DeviceSetupTest, UnreadableRememberedValuesAreNoChoice) {
    DeviceChoices choices;
    choices.input = "S-Video";
    ASSERT_TRUE(SaveDeviceChoices(driver_.identity, choices));
    QFile file(QString::fromStdString(DeviceChoicesPath()));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("mode=YUYV 0x-3\ncontrols\\00980900=bright\n");
    file.close();
    const std::string text = file.fileName().toStdString();
    const DeviceChoices kept = LoadDeviceChoices(driver_.identity);
    EXPECT_EQ(kept.input, "S-Video") << text;
    EXPECT_FALSE(kept.mode);
    EXPECT_TRUE(kept.controls.empty());
}

TEST_F(DeviceSetupTest, SourceDialogAppliesLiveCancelPutsBackOkKeeps) {
    for (const bool accept : {false, true}) {
        SCOPED_TRACE(accept ? "OK" : "Annuler");
        SourceDialog dialog(Dialogs(), nullptr);
        auto* input = dialog.findChild<QComboBox*>("input");
        auto* standard = dialog.findChild<QComboBox*>("standard");
        ASSERT_TRUE(input && standard);
        input->setCurrentIndex(1);
        EXPECT_EQ(device_.input, 1);
        ASSERT_EQ(standard->count(), 2);
        EXPECT_EQ(standard->itemText(1), "NTSC-M");
        standard->setCurrentIndex(1);
        EXPECT_EQ(device_.standard, V4L2_STD_NTSC_M);
        auto* brightness =
            dialog.findChild<QSpinBox*>(QStringLiteral("control%1").arg(kBrightness, 0, 16));
        auto* autogain =
            dialog.findChild<QCheckBox*>(QStringLiteral("control%1").arg(kAutogain, 0, 16));
        ASSERT_TRUE(brightness && autogain);
        brightness->setValue(40);
        autogain->setChecked(false);
        EXPECT_EQ(device_.ValueOf(kBrightness), 40);
        EXPECT_EQ(device_.ValueOf(kAutogain), 0);
        accept ? dialog.accept() : dialog.reject();
        EXPECT_EQ(device_.input, accept ? 1 : 0);
        EXPECT_EQ(device_.standard, accept ? V4L2_STD_NTSC_M : V4L2_STD_PAL);
        EXPECT_EQ(device_.ValueOf(kBrightness), accept ? 40 : 128);
        EXPECT_EQ(device_.ValueOf(kAutogain), accept ? 0 : 1);
        EXPECT_EQ(LoadDeviceChoices(driver_.identity).input,
                  accept ? std::optional<std::string>("S-Video") : std::nullopt);
    }
}

TEST_F(DeviceSetupTest, FormatDialogKeepsTheModeChosenOrAutomatic) {
    for (const int index : {2, 0}) {
        FormatDialog dialog(Dialogs(), RgbFormat(384, 288), nullptr);
        auto* modes = dialog.findChild<QComboBox*>("mode");
        ASSERT_TRUE(modes);
        ASSERT_EQ(modes->count(), 3);
        EXPECT_EQ(modes->itemText(2), QStringLiteral("MJPG 1280 × 960 — 30 im/s"));
        modes->setCurrentIndex(index);
        dialog.accept();
        const auto kept = LoadDeviceChoices(driver_.identity).mode;
        EXPECT_EQ(kept.has_value(), index != 0);
        EXPECT_EQ(picture_.preferred, kept);
    }
}

// The mode a user chose feeds the program's picture from the next connection on, and going back
// to the automatic choice takes effect at once.
TEST_F(DeviceSetupTest, TheChosenModeFeedsThePictureFromTheNextConnection) {
    const NativeMode small{V4L2_PIX_FMT_YUYV, 640, 480};
    const NativeMode large{V4L2_PIX_FMT_YUYV, 1280, 960};
    fake_v4l2::Device camera({{"/dev/video0",
                               "Webcam",
                               V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING,
                               0x060103,
                               {{small.pixelFormat, 640, 480}, {large.pixelFormat, 1280, 960}}}});
    const auto driver = DescribeV4l2Node("/dev/video0");
    ASSERT_TRUE(driver);
    DeviceChoices choices;
    choices.mode = large;
    ASSERT_TRUE(SaveDeviceChoices(driver->identity, choices));

    const auto source = OpenV4l2Source(*driver);
    ASSERT_TRUE(source && source->UseRgb(384, 288));
    EXPECT_EQ(camera.current.width, 1280u);
    const auto setup = source->Setup();
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->ModeInUse(), large);
    ASSERT_TRUE(setup->PreferMode(std::nullopt));
    EXPECT_EQ(camera.current.width, 640u);
    EXPECT_EQ(source->format().biWidth, 384);
}

}  // namespace
}  // namespace platform
