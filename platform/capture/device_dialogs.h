// SPDX-License-Identifier: GPL-2.0-or-later
// A V4L2 device's own Source and Format dialogs, modal over the capture window, in French. They
// work on a DeviceSetup, so tests drive them against one of their own.
#pragma once

#include <QDialog>
#include <map>
#include <optional>

#include "platform/capture/device_setup.h"
#include "platform/windef.h"

class QComboBox;
class QVBoxLayout;

namespace platform {

// Input, TV standard, sound input and picture controls, applied as they are changed; OK keeps
// them for the device's next connections, Annuler puts back what was in force.
class SourceDialog : public QDialog {
  public:
    SourceDialog(DeviceSetup& setup, QWidget* owner);
    void done(int result) override;

  private:
    struct Before {
        int input = -1;
        int standard = -1;
        std::string sound;
        std::map<std::uint32_t, std::int64_t> controls;
    };
    void FillStandards();
    void FillControls();
    void ChooseInput(int index);
    void Restore();

    DeviceSetup& setup_;
    Before before_;
    QComboBox* inputs_ = nullptr;
    QComboBox* standards_ = nullptr;
    QComboBox* sound_ = nullptr;
    QVBoxLayout* controlsLayout_ = nullptr;
    QWidget* controls_ = nullptr;
};

// The device's native modes: the one that feeds the picture the program asked for, or
// "Automatique". OK keeps the choice for the device's next connections.
class FormatDialog : public QDialog {
  public:
    FormatDialog(DeviceSetup& setup, const BITMAPINFOHEADER& format, QWidget* owner);
    void done(int result) override;

  private:
    DeviceSetup& setup_;
    QComboBox* modes_ = nullptr;
};

// Runs the dialog modally; in a scripted run prints what it shows on standard error instead.
void RunSourceDialog(DeviceSetup& setup, QWidget* owner);
void RunFormatDialog(DeviceSetup& setup, const BITMAPINFOHEADER& format, QWidget* owner);

// "YUYV 640 × 480 — 30 im/s"
QString ModeText(const NativeMode& mode);

}  // namespace platform
