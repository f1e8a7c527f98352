// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/form1.h"
#include "platform/display.h"
#include "platform/messages.h"

LONG TForm1::SetDisplayResolution(int width, int height, int bitsPerPixel) {
    DEVMODEA mode{};
    mode.dmSize = sizeof(DEVMODEA);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = static_cast<DWORD>(bitsPerPixel);
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    const LONG rc = ChangeDisplaySettingsA(&mode, CDS_TEST);
    switch (rc) {
        case DISP_CHANGE_RESTART:
            platform::ShowMessage(
                "ne peut modifier la résolution car nécessiterait un redémarrage de Windows");
            break;
        case DISP_CHANGE_SUCCESSFUL:
            // Applying after a successful test cannot tell us more than the test did.
            ChangeDisplaySettingsA(&mode, CDS_UPDATEREGISTRY);
            break;
        case DISP_CHANGE_FAILED:
            platform::ShowMessage("erreur");
            break;
        case DISP_CHANGE_BADMODE:
            platform::ShowMessage("Mode Graphique non supporté");
            break;
        default:
            break;
    }
    return rc;
}

void TForm1::SwitchDisplayForRunMode() {
    // A desktop that already has either target dimension is left as it is.
    if (ScreenWidth != TargetWidth && ScreenHeight != TargetHeight) {
        SetDisplayResolution(TargetWidth, TargetHeight, 0);
    }
    // The corner is read after the change, out of the way of the full-screen picture.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}
