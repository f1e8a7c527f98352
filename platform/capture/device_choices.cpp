// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/device_choices.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>

namespace platform {
namespace {

// Identities hold spaces, slashes and '#': a group name of their hex bytes stays one group in
// any INI reader, and the readable name is kept beside it.
QString GroupOf(const std::string& identity) {
    return QString::fromLatin1(QByteArray::fromStdString(identity).toHex());
}

std::optional<std::uint32_t> FourCCOf(const QString& text) {
    // Written without its trailing spaces ("Y8" for "Y8  ").
    QByteArray bytes = text.toLatin1();
    if (bytes.isEmpty() || bytes.size() > 4) return std::nullopt;
    while (bytes.size() < 4) bytes += ' ';
    std::uint32_t code = 0;
    for (int i = 0; i < 4; ++i)
        code |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    return code;
}

// "MJPG 640x480"; anything else is no choice.
std::optional<NativeMode> ModeOf(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 2) return std::nullopt;
    const QStringList size = parts[1].split(QLatin1Char('x'));
    const auto code = FourCCOf(parts[0]);
    bool wOk = false;
    bool hOk = false;
    if (!code || size.size() != 2) return std::nullopt;
    NativeMode mode;
    mode.pixelFormat = *code;
    mode.width = size[0].toUInt(&wOk);
    mode.height = size[1].toUInt(&hOk);
    if (!wOk || !hOk || mode.width == 0 || mode.height == 0) return std::nullopt;
    return mode;
}

std::optional<std::string> TextOf(const QSettings& store, const QString& key) {
    const QString value = store.value(key).toString();
    if (value.isEmpty()) return std::nullopt;
    return value.toStdString();
}

}  // namespace

std::string DeviceChoicesPath() {
    QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (folder.isEmpty() || QDir::isRelativePath(folder)) folder = QDir::homePath() + "/.config";
    return (folder + "/vistrel/devices.ini").toStdString();
}

DeviceChoices LoadDeviceChoices(const std::string& identity) {
    DeviceChoices choices;
    if (identity.empty()) return choices;
    QSettings store(QString::fromStdString(DeviceChoicesPath()), QSettings::IniFormat);
    store.beginGroup(GroupOf(identity));
    choices.input = TextOf(store, "input");
    choices.standard = TextOf(store, "standard");
    choices.soundInput = TextOf(store, "sound");
    choices.mode = ModeOf(store.value("mode").toString());
    store.beginGroup("controls");
    for (const QString& key : store.childKeys()) {
        bool idOk = false;
        bool valueOk = false;
        const std::uint32_t id = key.toUInt(&idOk, 16);
        const qlonglong value = store.value(key).toLongLong(&valueOk);
        if (idOk && valueOk) choices.controls[id] = value;
    }
    return choices;
}

bool SaveDeviceChoices(const std::string& identity, const DeviceChoices& choices) {
    const QString path = QString::fromStdString(DeviceChoicesPath());
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings store(path, QSettings::IniFormat);
    store.remove(GroupOf(identity));
    store.beginGroup(GroupOf(identity));
    store.setValue("device", QString::fromStdString(identity));
    const auto put = [&](const char* key, const std::optional<std::string>& value) {
        if (value) store.setValue(key, QString::fromStdString(*value));
    };
    put("input", choices.input);
    put("standard", choices.standard);
    put("sound", choices.soundInput);
    if (choices.mode)
        store.setValue(
            "mode",
            QString::fromStdString(FourCCText(choices.mode->pixelFormat)) +
                QStringLiteral(" %1x%2").arg(choices.mode->width).arg(choices.mode->height));
    for (const auto& [id, value] : choices.controls)
        store.setValue(QStringLiteral("controls/%1").arg(id, 8, 16, QLatin1Char('0')),
                       static_cast<qlonglong>(value));
    store.endGroup();
    store.sync();
    if (store.status() == QSettings::NoError) return true;
    std::fprintf(stderr, "%s: the device choices could not be saved in %s\n",
                 program_invocation_short_name, path.toLocal8Bit().constData());
    return false;
}

}  // namespace platform
