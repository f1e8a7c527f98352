// What the window says to its user about the capture.
#pragma once

#include <QString>

// A failure the user must hear of: its box, with the warning sound.
void ReportError(const QString& text);
