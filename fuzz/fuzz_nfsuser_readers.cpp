// Every PCNFSD and Qelnfsd result reader over arbitrary reply bytes. The
// first byte picks the reader and the count; the output areas are exactly
// count names of 255 characters (or count ids), so any write past them or
// read past the reply is caught.
#include <cstdint>
#include <cstring>
#include <vector>

#include "nfsuser/pcnfsd.h"
#include "nfsuser/qelnfsd.h"
#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > RPC_MBUF_SIZE) return 0;
    const uint8_t control = data[0];
    const uint32_t count = (control >> 3) & 0x1F;
    std::vector<uint8_t> bytes(data + 1, data + size);
    uint8_t none = 0;
    MbufCursor w{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()),
                 bytes.empty() ? &none : bytes.data()};
    std::vector<char> names(count * 256 + 1);
    std::vector<int32_t> ids(count + 1, -1);
    std::vector<int32_t*> slots(count + 1);
    for (uint32_t i = 0; i <= count; ++i) slots[i] = &ids[i];

    switch (control & 7) {
        case 0: qelrpc::nfsuser::readPcnfsdResponseGidOrUid(w, count, names.data()); break;
        case 1: qelrpc::nfsuser::readPcnfsdResponseGroupNames(w, count, slots.data()); break;
        case 2: qelrpc::nfsuser::readQelnfsdResponseGidOrUid(w, count, names.data()); break;
        case 3: qelrpc::nfsuser::readQelnfsdResponseGroupNames(w, count, slots.data()); break;
        default: {
            // The readers that take the operation's reply window.
            RpcOperation op{};
            op.reply.data = w;
            int32_t* p = ids.data();
            if ((control & 7) == 4) BuildPcnfsdResult(&op, MapUidToName, count, names.data(), &p);
            else if ((control & 7) == 5) BuildPcnfsdResult(&op, MapUserNameToUid, count, names.data(), &p);
            else BuildQelnfsdResponseUidsFromUNames(&op, count, ids.data());
            break;
        }
    }
    return 0;
}
