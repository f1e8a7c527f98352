// Texts of the capture formats.
#pragma once

#include <QString>

#include "platform/windef.h"

// The four bytes of a four-character code as text, lowest byte first ("MJPG").
QString FourCCToText(DWORD code);
