// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/compman.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "platform/codec/compman_internal.h"
#include "platform/codec/handle_table.h"
#include "platform/machine.h"

namespace platform {
namespace {

DWORD UpperFourcc(DWORD fourcc) {
    DWORD upper = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto c = static_cast<unsigned char>(fourcc >> shift);
        upper |= static_cast<DWORD>(std::toupper(c)) << shift;
    }
    return upper;
}

std::map<DWORD, CodecRegistration>& Codecs() {
    static auto* codecs = new std::map<DWORD, CodecRegistration>{
        {UpperFourcc(MjpegRegistration().info.fccHandler), MjpegRegistration()}};
    return *codecs;
}

// The machine description may switch an implemented compressor off; it cannot add one.
bool SwitchedOff(DWORD fourcc) {
    for (const auto& [name, present] : Machine().codecs) {
        if (name.size() != 4 || present) continue;
        DWORD named = MAKEFOURCC(name[0], name[1], name[2], name[3]);
        if (UpperFourcc(named) == fourcc) return true;
    }
    return false;
}

struct Instance {
    std::unique_ptr<VideoCodec> codec;
    ICINFO info;  // a copy: the registration may be replaced while the instance is open
};

// Never destroyed, so that instances closed while static objects are destroyed find it.
HandleTable<Instance>& AllInstances() {
    static auto* instances = new HandleTable<Instance>(0x10000);
    return *instances;
}

Instance* Find(HIC hic) {
    return AllInstances().Find(hic);
}

}  // namespace

CodecRegistration InstallCodec(CodecRegistration registration) {
    DWORD key = UpperFourcc(registration.info.fccHandler);
    auto& codecs = Codecs();
    CodecRegistration previous;
    if (auto found = codecs.find(key); found != codecs.end()) {
        previous = std::move(found->second);
        codecs.erase(found);
    }
    if (registration.open) codecs.emplace(key, std::move(registration));
    return previous;
}

}  // namespace platform

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode) {
    using namespace platform;
    if (UpperFourcc(fccType) != UpperFourcc(ICTYPE_VIDEO)) return nullptr;
    DWORD key = UpperFourcc(fccHandler);
    auto found = Codecs().find(key);
    if (found == Codecs().end() || SwitchedOff(key)) return nullptr;
    std::unique_ptr<VideoCodec> codec = found->second.open(mode);
    if (!codec) return nullptr;
    return AllInstances().Add<HIC>(Instance{std::move(codec), found->second.info});
}

LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD size) {
    platform::Instance* instance = platform::Find(hic);
    if (instance == nullptr || info == nullptr) return 0;
    std::size_t copied = std::min<std::size_t>(size, sizeof(ICINFO));
    std::memcpy(info, &instance->info, copied);
    return static_cast<LRESULT>(copied);
}

LRESULT ICSendMessage(HIC hic, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    platform::Instance* instance = platform::Find(hic);
    if (instance == nullptr) return ICERR_BADHANDLE;
    if (message == ICM_GETINFO) {
        return ICGetInfo(hic, reinterpret_cast<ICINFO*>(param1), static_cast<DWORD>(param2));
    }
    return instance->codec->Message(message, param1, param2);
}

LRESULT ICClose(HIC hic) {
    return platform::AllInstances().Remove(hic) ? ICERR_OK : ICERR_BADHANDLE;
}
