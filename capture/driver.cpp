// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/driver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>
#include <array>
#include <cstring>

#include "platform/window_handles.h"

namespace {

constexpr int kDescriptionSize = 81;
constexpr std::uint8_t kHighestListedDriver = 5;
constexpr int kDriverIndexRole = Qt::UserRole;
constexpr std::uint8_t kNoSelection = static_cast<std::uint8_t>(-1);

// A field too narrow for its text shows its beginning.
void ShowText(QComboBox* list, const QString& text) {
    list->setEditText(text);
    list->lineEdit()->setCursorPosition(0);
}

// Adding an item leaves the list without a selection and its text unchanged.
void AddDriverItem(QComboBox* list, std::uint8_t index, const QString& description) {
    const QString text = list->currentText();
    const int selected = list->currentIndex();
    list->addItem(description, QVariant::fromValue<uint>(index));
    list->setCurrentIndex(selected);
    ShowText(list, text);
}

}  // namespace

QString DriverDescription(std::uint8_t index) {
    std::array<char, kDescriptionSize> name{};
    std::array<char, kDescriptionSize> version{};
    if (!capGetDriverDescriptionA(index, name.data(), kDescriptionSize, version.data(),
                                  kDescriptionSize)) {
        return {};
    }
    name.back() = '\0';
    version.back() = '\0';
    return QString::fromUtf8(name.data()) + QStringLiteral(" - ") +
           QString::fromUtf8(version.data());
}

void ShowFirstDriver(QComboBox* list) {
    const QString first = DriverDescription(0);
    if (!first.isEmpty()) ShowText(list, first);
}

void AddDriverItems(QComboBox* list) {
    for (std::uint8_t index = 0; index <= kHighestListedDriver; ++index) {
        const QString description = DriverDescription(index);
        if (!description.isEmpty()) AddDriverItem(list, index, description);
    }
}

std::uint8_t SelectedDriverIndex(const QComboBox* list) {
    const int item = list->currentIndex();
    if (item < 0 || list->currentText() != list->itemText(item)) return kNoSelection;
    return static_cast<std::uint8_t>(list->itemData(item, kDriverIndexRole).toUInt());
}

HWND CreateCaptureWindow(QWidget* panel) {
    return capCreateCaptureWindowA("fenetre video", WS_CHILD | WS_VISIBLE, 0, 0, panel->width(),
                                   panel->height(), platform::HandleOf(panel), 1);
}

bool ConnectCaptureDriver(HWND window, std::uint8_t index) {
    return SendMessageA(window, WM_CAP_DRIVER_CONNECT, index, 0) != 0;
}

std::string ConnectFailure(HWND window) {
    const auto size = SendMessageA(window, WM_CAP_GET_CONNECT_FAILURE, 0, 0);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    SendMessageA(window, WM_CAP_GET_CONNECT_FAILURE, static_cast<WPARAM>(size),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::strlen(text.c_str()));
    return text;
}

PictureSize ReportedPictureSize(HWND window) {
    CAPSTATUS status{};
    SendMessageA(window, WM_CAP_GET_STATUS, sizeof(CAPSTATUS), reinterpret_cast<LPARAM>(&status));
    return {LOWORD(status.uiImageWidth), LOWORD(status.uiImageHeight)};
}

void DisconnectCaptureDriver(HWND window, std::uint8_t index) {
    SendMessageA(window, WM_CAP_DRIVER_DISCONNECT, index, 0);
    DropCaptureWindow(window);
}

void DropCaptureWindow(HWND window) {
    if (QWidget* widget = platform::WidgetOf(window)) {
        widget->hide();
        widget->deleteLater();
    }
}

void SetCaptureHandlers(HWND window, const CaptureHandlers& handlers, bool withSound) {
    SendMessageA(window, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(handlers.status));
    SendMessageA(window, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0,
                 reinterpret_cast<LPARAM>(handlers.video));
    if (withSound) {
        SendMessageA(window, WM_CAP_SET_CALLBACK_WAVESTREAM, 0,
                     reinterpret_cast<LPARAM>(handlers.audio));
    }
}
