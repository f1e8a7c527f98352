// SPDX-License-Identifier: GPL-2.0-or-later
// The options panel's fields as the settings file keeps them, and the drives its destination
// list offers.
#pragma once

#include <string>

class QComboBox;
class QLineEdit;

// The fields lines 4 to 8 of the settings file hold, in that order.
struct OptionFields {
    QComboBox* frameRate;
    QComboBox* audioRate;
    QComboBox* channels;
    QComboBox* destination;
    QLineEdit* frameLimit;
};

// Lines 4 to 8 of the settings file at `path` into the fields; a line left empty keeps its
// field's text.
void LoadOptionLines(const std::string& path, const OptionFields& fields);

// The fields into lines 4 to 8 of the settings file at `path`, and `cache` ("1" or "0") into
// line 9.
void SaveOptionLines(const std::string& path, const OptionFields& fields, bool cache);

// The roots of the drives from C: to Z: that answer, as `list`'s items; its text stays what it
// was, with no item selected.
void ListDriveRoots(QComboBox* list);
