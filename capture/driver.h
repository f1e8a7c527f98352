// SPDX-License-Identifier: GPL-2.0-or-later
// The capture drivers: their list, and the capture window a driver is connected in.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "platform/vfw.h"

class QComboBox;
class QWidget;

// Name and version of the driver at `index` as "name - version"; empty when there is none.
QString DriverDescription(std::uint8_t index);

// Driver 0's description as `list`'s text, when there is such a driver.
void ShowFirstDriver(QComboBox* list);

// The drivers at indexes 0 to 5 as `list`'s items. Each item keeps its driver index beside it,
// so a list with gaps still connects the driver the user picked; the list's text stays, and it is
// left without a selection.
void AddDriverItems(QComboBox* list);

// The index of the driver behind `list`'s selected item. With no item selected, or its text
// edited away, the list's index -1 is cut to 8 bits: 255, which no driver has.
std::uint8_t SelectedDriverIndex(const QComboBox* list);

// A capture window filling `panel`, not yet connected.
HWND CreateCaptureWindow(QWidget* panel);

// Whether driver `index` accepted the connection of `window`.
bool ConnectCaptureDriver(HWND window, std::uint8_t index);

// Why the last connection of `window` was refused: the device and the system's reason on one
// line, empty when the driver gave none.
std::string ConnectFailure(HWND window);

// The picture size a connected driver reports: the low 16 bits of each.
struct PictureSize {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};
PictureSize ReportedPictureSize(HWND window);

// Driver `index` disconnected from `window`, which is then let go of.
void DisconnectCaptureDriver(HWND window, std::uint8_t index);

// A window whose handle the program lets go of would otherwise linger under the live picture; it
// is hidden now and deleted once control is back in the event loop, since the capture service
// may still be inside one of its own messages.
void DropCaptureWindow(HWND window);

// The three callbacks of a sequence capture.
struct CaptureHandlers {
    CAPSTATUSCALLBACK status = nullptr;
    CAPVIDEOCALLBACK video = nullptr;
    CAPWAVECALLBACK audio = nullptr;
};
// Registers `handlers` on `window`; the sound's only `withSound`.
void SetCaptureHandlers(HWND window, const CaptureHandlers& handlers, bool withSound);
