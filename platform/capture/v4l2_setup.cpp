// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/v4l2_setup.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

struct InputEntry {
    std::uint32_t index;
    std::string name;
};

struct StandardEntry {
    v4l2_std_id id;
    std::string name;
};

std::vector<InputEntry> ListInputs(V4l2Io& io, int fd) {
    std::vector<InputEntry> inputs;
    for (std::uint32_t i = 0; i < 64; ++i) {
        v4l2_input input{};
        input.index = i;
        if (RetryingIoctl(io, fd, VIDIOC_ENUMINPUT, &input) != 0) break;
        inputs.push_back({input.index, FixedText(input.name)});
    }
    return inputs;
}

std::vector<StandardEntry> ListStandards(V4l2Io& io, int fd) {
    std::vector<StandardEntry> standards;
    for (std::uint32_t i = 0; i < 128; ++i) {
        v4l2_standard standard{};
        standard.index = i;
        if (RetryingIoctl(io, fd, VIDIOC_ENUMSTD, &standard) != 0) break;
        standards.push_back({standard.id, FixedText(standard.name)});
    }
    return standards;
}

int CurrentInput(V4l2Io& io, int fd) {
    int index = 0;
    return RetryingIoctl(io, fd, VIDIOC_G_INPUT, &index) == 0 ? index : -1;
}

// The listed standard the device is set to: the one that is exactly its set, else the first
// that shares a member with it (a device in "PAL" reports PAL-B|G|H|I|D|K).
int CurrentStandard(V4l2Io& io, int fd, const std::vector<StandardEntry>& standards) {
    v4l2_std_id now = 0;
    if (RetryingIoctl(io, fd, VIDIOC_G_STD, &now) != 0 || now == 0) return -1;
    for (std::size_t i = 0; i < standards.size(); ++i)
        if (standards[i].id == now) return static_cast<int>(i);
    for (std::size_t i = 0; i < standards.size(); ++i)
        if ((standards[i].id & now) != 0) return static_cast<int>(i);
    return -1;
}

bool SetInput(V4l2Io& io, int fd, std::uint32_t index) {
    int value = static_cast<int>(index);
    return RetryingIoctl(io, fd, VIDIOC_S_INPUT, &value) == 0;
}

bool SetStandard(V4l2Io& io, int fd, v4l2_std_id id) {
    return RetryingIoctl(io, fd, VIDIOC_S_STD, &id) == 0;
}

std::optional<ControlInfo::Kind> KindOf(std::uint32_t type) {
    switch (type) {
        case V4L2_CTRL_TYPE_INTEGER:
            return ControlInfo::Kind::Integer;
        case V4L2_CTRL_TYPE_BOOLEAN:
            return ControlInfo::Kind::Boolean;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            return ControlInfo::Kind::Menu;
        case V4L2_CTRL_TYPE_BUTTON:
            return ControlInfo::Kind::Button;
        default:
            return std::nullopt;
    }
}

void AddMenu(V4l2Io& io, int fd, const v4l2_query_ext_ctrl& query, ControlInfo& control) {
    for (std::int64_t i = query.minimum; i <= query.maximum && i - query.minimum < 256; ++i) {
        v4l2_querymenu item{};
        item.id = query.id;
        item.index = static_cast<std::uint32_t>(i);
        if (RetryingIoctl(io, fd, VIDIOC_QUERYMENU, &item) != 0) continue;
        control.menu.emplace_back(i, query.type == V4L2_CTRL_TYPE_MENU
                                         ? FixedText(item.name)
                                         : std::to_string(static_cast<long long>(item.value)));
    }
}

// The next control after `id` as the extended query gives it; drivers without that query get
// it from the older one.
bool NextControl(V4l2Io& io, int fd, std::uint32_t id, v4l2_query_ext_ctrl& query) {
    query = {};
    query.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    if (RetryingIoctl(io, fd, VIDIOC_QUERY_EXT_CTRL, &query) == 0) return true;
    if (errno != ENOTTY) return false;
    v4l2_queryctrl old{};
    old.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    if (RetryingIoctl(io, fd, VIDIOC_QUERYCTRL, &old) != 0) return false;
    query.id = old.id;
    query.type = old.type;
    std::memcpy(query.name, old.name, sizeof old.name);
    query.minimum = old.minimum;
    query.maximum = old.maximum;
    query.step = static_cast<std::uint64_t>(old.step);
    query.default_value = old.default_value;
    query.flags = old.flags;
    return true;
}

constexpr std::uint32_t kHidden =
    V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_HAS_PAYLOAD;

std::vector<ControlInfo> ListControls(V4l2Io& io, int fd) {
    std::vector<ControlInfo> controls;
    std::string group;
    v4l2_query_ext_ctrl query{};
    for (std::uint32_t id = 0; controls.size() < 256 && NextControl(io, fd, id, query);
         id = query.id) {
        if (query.type == V4L2_CTRL_TYPE_CTRL_CLASS) group = FixedText(query.name);
        const auto kind = KindOf(query.type);
        if (!kind || (query.flags & kHidden) != 0) continue;
        ControlInfo c;
        c.id = query.id;
        c.kind = *kind;
        c.name = FixedText(query.name);
        c.group = group;
        c.minimum = query.minimum;
        c.maximum = query.maximum;
        c.step = std::max<std::int64_t>(1, static_cast<std::int64_t>(query.step));
        c.defaultValue = query.default_value;
        c.inactive = (query.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED)) != 0;
        c.volatile_ = (query.flags & V4L2_CTRL_FLAG_VOLATILE) != 0;
        v4l2_control value{c.id, 0};
        if (*kind != ControlInfo::Kind::Button && RetryingIoctl(io, fd, VIDIOC_G_CTRL, &value) == 0)
            c.value = value.value;
        if (*kind == ControlInfo::Kind::Menu) AddMenu(io, fd, query, c);
        controls.push_back(std::move(c));
    }
    return controls;
}

bool SetControlValue(V4l2Io& io, int fd, std::uint32_t id, std::int64_t value) {
    v4l2_control control{id, static_cast<std::int32_t>(value)};
    return RetryingIoctl(io, fd, VIDIOC_S_CTRL, &control) == 0;
}

class V4l2Setup : public DeviceSetup {
  public:
    V4l2Setup(V4l2Io& io, int fd, const DriverDescription& driver, PictureSetup& picture)
        : io_(io),
          fd_(fd),
          driver_(driver),
          picture_(picture),
          sound_(LoadDeviceChoices(driver.identity).soundInput) {}

    std::string deviceName() const override { return driver_.name; }

    std::vector<std::string> Inputs() override {
        std::vector<std::string> names;
        for (const InputEntry& input : ListInputs(io_, fd_)) names.push_back(input.name);
        return names;
    }
    int Input() override { return CurrentInput(io_, fd_); }
    bool SelectInput(int index) override {
        const int was = Input();
        if (index == was) return true;
        return picture_.Reconfigure(
            [&] { return SetInput(io_, fd_, static_cast<std::uint32_t>(index)); },
            [&] { SetInput(io_, fd_, static_cast<std::uint32_t>(was)); });
    }

    std::vector<std::string> Standards() override {
        std::vector<std::string> names;
        for (const StandardEntry& standard : ListStandards(io_, fd_))
            names.push_back(standard.name);
        return names;
    }
    int Standard() override { return CurrentStandard(io_, fd_, ListStandards(io_, fd_)); }
    bool SelectStandard(int index) override {
        const std::vector<StandardEntry> standards = ListStandards(io_, fd_);
        if (index < 0 || static_cast<std::size_t>(index) >= standards.size()) return false;
        if (index == Standard()) return true;
        const v4l2_std_id id = standards[static_cast<std::size_t>(index)].id;
        v4l2_std_id was = 0;
        RetryingIoctl(io_, fd_, VIDIOC_G_STD, &was);
        return picture_.Reconfigure([&] { return SetStandard(io_, fd_, id); },
                                    [&] { SetStandard(io_, fd_, was); });
    }

    std::vector<ControlInfo> Controls() override { return ListControls(io_, fd_); }
    bool SetControl(std::uint32_t id, std::int64_t value) override {
        return SetControlValue(io_, fd_, id, value);
    }

    std::vector<SoundInputName> SoundInputs() override { return ListSoundInputs(SoundInput()); }
    std::string SoundInput() override { return sound_ ? *sound_ : SoundInputFor(driver_); }
    void SelectSoundInput(const std::string& pcm) override { sound_ = pcm; }

    std::vector<NativeMode> Modes() override { return picture_.modes(); }
    std::optional<NativeMode> ModeInUse() override { return picture_.modeInUse(); }
    std::optional<NativeMode> PreferredMode() override { return picture_.preferredMode(); }
    bool PreferMode(const std::optional<NativeMode>& mode) override {
        return picture_.PreferMode(mode);
    }

    bool Remember() override { return SaveDeviceChoices(driver_.identity, Current()); }

  private:
    // Controls are kept where they differ from the device's defaults (a later driver's new
    // default is then followed for the others), and only those the user sets: not one another
    // control decides, nor one the device changes by itself.
    DeviceChoices Current() {
        DeviceChoices choices;
        const int input = Input();
        const std::vector<std::string> inputs = Inputs();
        if (input >= 0 && static_cast<std::size_t>(input) < inputs.size())
            choices.input = inputs[static_cast<std::size_t>(input)];
        const int standard = Standard();
        const std::vector<std::string> standards = Standards();
        if (standard >= 0) choices.standard = standards[static_cast<std::size_t>(standard)];
        for (const ControlInfo& c : Controls())
            if (c.kind != ControlInfo::Kind::Button && !c.inactive && !c.volatile_ &&
                c.value != c.defaultValue)
                choices.controls[c.id] = c.value;
        choices.soundInput = sound_;
        choices.mode = picture_.preferredMode();
        return choices;
    }

    V4l2Io& io_;
    int fd_;
    DriverDescription driver_;
    PictureSetup& picture_;
    std::optional<std::string> sound_;
};

}  // namespace

void ApplyInputAndStandard(V4l2Io& io, int fd, const DeviceChoices& choices) {
    if (choices.input)
        for (const InputEntry& input : ListInputs(io, fd))
            if (input.name == *choices.input) SetInput(io, fd, input.index);
    if (choices.standard)
        for (const StandardEntry& standard : ListStandards(io, fd))
            if (standard.name == *choices.standard) SetStandard(io, fd, standard.id);
}

// A control the device refuses now (another one decides it) keeps the device's value.
void ApplyControls(V4l2Io& io, int fd, const DeviceChoices& choices) {
    for (const auto& [id, value] : choices.controls) SetControlValue(io, fd, id, value);
}

std::unique_ptr<DeviceSetup> V4l2DeviceSetup(V4l2Io& io, int fd, const DriverDescription& driver,
                                             PictureSetup& picture) {
    return std::make_unique<V4l2Setup>(io, fd, driver, picture);
}

}  // namespace platform
