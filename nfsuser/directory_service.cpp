#include "nfsuser/directory_service.h"

#include <atomic>
#include <cstring>

#include "nfsuser/name_list.h"
#include "platform/module.h"
#include "rpc/c_edge.h"
#include "siblings/qelnis/qelnis.h"

namespace qelrpc::nfsuser::directory {
namespace {

std::atomic<int32_t> g_lastType{0};

// A path that cannot be built (no memory) is a library that cannot be had.
platform::Module loadLibrary() noexcept {
    platform::Module lib;
    edge::guard(false, [&] {
        lib = platform::Module::load(platform::directoryServiceLibraryPath().c_str());
        return true;
    });
    return lib;
}

// Asks fn for each id; the buffer is cleared before each question, so an
// id the library does not answer yields an empty name rather than the
// previous one.
template <typename Fn>
int idsToNames(const char* entry, uint32_t count, const int32_t* ids, char* names) noexcept {
    platform::Module lib = loadLibrary();
    const auto fn = lib.function<Fn>(entry);
    if (fn == nullptr) return -1;
    NameListWriter out(names);
    for (uint32_t i = 0; i < count; ++i) {
        char buffer[kMaxName + 1];
        std::memset(buffer, 0, sizeof buffer);
        fn(ids != nullptr ? ids[i] : -1, buffer, static_cast<int>(sizeof buffer));
        buffer[kMaxName] = '\0';  // whatever the library did, the name ends here
        out.append(buffer);
    }
    return 0;
}

}  // namespace

bool configured() noexcept {
    platform::Module lib = loadLibrary();
    const auto getType = lib.function<dirservice_gettype_fn>("dirservice_gettype");
    if (getType == nullptr) return false;
    int type = 0;
    const int answered = getType(&type);
    g_lastType.store(type, std::memory_order_relaxed);
    return answered != 0 && type != 0;
}

int32_t lastReportedType() noexcept { return g_lastType.load(std::memory_order_relaxed); }

int groupNamesToGids(uint32_t count, const char* names, int32_t* gids) noexcept {
    platform::Module lib = loadLibrary();
    const auto fn = lib.function<dirservice_groupnametogid_fn>("dirservice_groupnametogid");
    if (fn == nullptr) return -1;
    NameListReader list(names);
    for (uint32_t i = 0; i < count; ++i) {
        NameBuffer name;
        list.next(name);
        int value = -1;
        fn(name, &value);
        if (gids != nullptr) gids[i] = value;
    }
    return 0;
}

int userNamesToUids(uint32_t count, const char* names, int32_t* uids) noexcept {
    platform::Module lib = loadLibrary();
    const auto fn = lib.function<dirservice_getlocalcreds_fn>("dirservice_getlocalcreds");
    if (fn == nullptr) return -1;
    NameListReader list(names);
    for (uint32_t i = 0; i < count; ++i) {
        NameBuffer name;
        list.next(name);
        int value = -1, primaryGid = -1;
        if (name[0] == '\0' || fn(name, &value, &primaryGid) != 0) value = -1;
        if (uids != nullptr) uids[i] = value;
    }
    return 0;
}

int gidsToGroupNames(uint32_t count, const int32_t* gids, char* names) noexcept {
    return idsToNames<dirservice_gidtogroupname_fn>("dirservice_gidtogroupname", count, gids, names);
}

int uidsToUserNames(uint32_t count, const int32_t* uids, char* names) noexcept {
    return idsToNames<dirservice_uidtousername_fn>("dirservice_uidtousername", count, uids, names);
}

}  // namespace qelrpc::nfsuser::directory
