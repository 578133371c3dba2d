// SPDX-License-Identifier: MIT
#include "nfsuser/directory_service.h"

#include <cstring>

#include "nfsuser/name_list.h"
#include "platform/module.h"
#include "rpc/c_edge.h"
#include "siblings/qelnis/qelnis.h"

namespace qelrpc::nfsuser::directory {
namespace {

// A path that cannot be built (no memory) is a library that cannot be had.
platform::Module loadLibrary() noexcept {
    platform::Module lib;
    edge::guard(false, [&] {
        lib = platform::Module::load(platform::directoryServiceLibraryPath().c_str());
        return true;
    });
    return lib;
}

// Calls each(fn, i) for i below count, with `entry` resolved once; -1 when
// the library or the entry point cannot be had.
template <typename Fn, typename Each>
int forEach(const char* entry, uint32_t count, Each each) noexcept {
    platform::Module lib = loadLibrary();
    const auto fn = lib.function<Fn>(entry);
    if (fn == nullptr) return -1;
    for (uint32_t i = 0; i < count; ++i) each(fn, i);
    return 0;
}

// The buffer is cleared before each question, so an id the library does
// not answer yields an empty name rather than the previous one.
template <typename Fn>
int idsToNames(const char* entry, uint32_t count, const int32_t* ids, char* names) noexcept {
    NameListWriter out(names);
    return forEach<Fn>(entry, count, [&](Fn fn, uint32_t i) {
        char buffer[kMaxName + 1];
        std::memset(buffer, 0, sizeof buffer);
        fn(ids != nullptr ? ids[i] : -1, buffer, static_cast<int>(sizeof buffer));
        buffer[kMaxName] = '\0';  // whatever the library did, the name ends here
        out.append(buffer);
    });
}

}  // namespace

bool configured() noexcept {
    platform::Module lib = loadLibrary();
    const auto getType = lib.function<dirservice_gettype_fn>("dirservice_gettype");
    if (getType == nullptr) return false;
    int type = 0;
    return getType(&type) != 0 && type != 0;
}

int groupNamesToGids(uint32_t count, const char* names, int32_t* gids) noexcept {
    NameListReader list(names);
    return forEach<dirservice_groupnametogid_fn>("dirservice_groupnametogid", count, [&](auto fn, uint32_t i) {
        NameBuffer name;
        list.next(name);
        int value = -1;
        fn(name, &value);
        if (gids != nullptr) gids[i] = value;
    });
}

int userNamesToUids(uint32_t count, const char* names, int32_t* uids) noexcept {
    NameListReader list(names);
    return forEach<dirservice_getlocalcreds_fn>("dirservice_getlocalcreds", count, [&](auto fn, uint32_t i) {
        NameBuffer name;
        list.next(name);
        int value = -1, primaryGid = -1;
        if (name[0] == '\0' || fn(name, &value, &primaryGid) != 0) value = -1;
        if (uids != nullptr) uids[i] = value;
    });
}

int gidsToGroupNames(uint32_t count, const int32_t* gids, char* names) noexcept {
    return idsToNames<dirservice_gidtogroupname_fn>("dirservice_gidtogroupname", count, gids, names);
}

int uidsToUserNames(uint32_t count, const int32_t* uids, char* names) noexcept {
    return idsToNames<dirservice_uidtousername_fn>("dirservice_uidtousername", count, uids, names);
}

}  // namespace qelrpc::nfsuser::directory
