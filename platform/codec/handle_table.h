// SPDX-License-Identifier: GPL-2.0-or-later
// Objects reached through the opaque handles an API gives out. Handles are numbers never given
// out twice, so a stale handle cannot reach a newer object.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>

namespace platform {

template <typename Object>
class HandleTable {
  public:
    explicit HandleTable(std::uintptr_t first) : next_(first) {}

    template <typename Handle>
    Handle Add(Object object) {
        const std::uintptr_t handle = next_++;
        open_.emplace(handle, std::move(object));
        return reinterpret_cast<Handle>(handle);
    }

    // Null for a handle closed or never given.
    template <typename Handle>
    Object* Find(Handle handle) {
        const auto found = open_.find(reinterpret_cast<std::uintptr_t>(handle));
        return found == open_.end() ? nullptr : &found->second;
    }

    // False for a handle closed or never given.
    template <typename Handle>
    bool Remove(Handle handle) {
        return open_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
    }

  private:
    std::unordered_map<std::uintptr_t, Object> open_;
    std::uintptr_t next_;
};

}  // namespace platform
