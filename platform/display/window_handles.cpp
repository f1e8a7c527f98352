// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/window_handles.h"

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <unordered_map>

namespace platform {
namespace {

// Handles are small numbers, never addresses, so a stale or forged handle can only miss.
struct Registry {
    std::unordered_map<std::uintptr_t, QPointer<QWidget>> widgets;
    std::uintptr_t next = 0x100;
};

Registry& registry() {
    static Registry r;
    return r;
}

constexpr const char* kHandleProperty = "platform.hwnd";

}  // namespace

HWND HandleOf(QWidget* widget) {
    if (widget == nullptr) return nullptr;
    const QVariant known = widget->property(kHandleProperty);
    if (known.isValid()) return reinterpret_cast<HWND>(known.value<qulonglong>());
    Registry& r = registry();
    const std::uintptr_t value = r.next;
    r.next += 4;
    r.widgets.emplace(value, QPointer<QWidget>(widget));
    widget->setProperty(kHandleProperty, QVariant::fromValue<qulonglong>(value));
    return reinterpret_cast<HWND>(value);
}

QWidget* WidgetOf(HWND handle) {
    if (handle == nullptr) return nullptr;
    Registry& r = registry();
    const auto found = r.widgets.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == r.widgets.end()) return nullptr;
    if (found->second.isNull()) {
        r.widgets.erase(found);
        return nullptr;
    }
    return found->second.data();
}

}  // namespace platform
