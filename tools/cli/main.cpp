// SPDX-License-Identifier: MIT
// qelrpc: ONC RPC tools on the qelrpc library, in the manner of rpcinfo.
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "commands.h"
#include "qelrpc.h"
#include "requests.h"
#include "trace.h"

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

int main(int argc, char** argv) {
    using namespace qelrpc::cli;
    const std::vector<std::string> words(argv + 1, argv + argc);
    Invocation inv;
    std::string error;
    if (words.empty()) {
        // As rpcinfo: no command is a usage error, the usage on standard error.
        std::fprintf(stderr, "%s", generalHelp().c_str());
        return 2;
    }
    if (!parseCommandLine(words, inv, error)) {
        std::fprintf(stderr, "qelrpc: %s\n", error.c_str());
        if (!inv.command.empty()) std::fprintf(stderr, "Try 'qelrpc %s --help'.\n", inv.command.c_str());
        else std::fprintf(stderr, "Try 'qelrpc --help'.\n");
        return 2;
    }
    if (inv.version) {
        // The tool and the library ship together: the version of the header
        // the tool was built with is the library's.
        std::printf("qelrpc %s\n", QELRPC_VERSION_STRING);
        return 0;
    }
    if (inv.help) {
        std::printf("%s", inv.command.empty() ? generalHelp().c_str() : commandHelp(inv.command).c_str());
        return 0;
    }
    setTracing(inv.trace);
    if (inv.trace) rpcSetExchangeObserver(traceExchange, nullptr);
    const Output out{inv.json, inv.command};
    const int status = std::visit(Overloaded{
                                      [&](const GetportRequest& r) { return runGetport(r, out); },
                                      [&](const PingRequest& r) { return runPing(r, out); },
                                      [&](const DumpRequest& r) { return runDump(r, out); },
                                      [&](const BroadcastRequest& r) { return runBroadcast(r, out); },
                                      [&](const IdsToNamesRequest& r) { return runIdsToNames(r, out); },
                                      [&](const NamesToIdsRequest& r) { return runNamesToIds(r, out); },
                                      [&](const AuthorizeRequest& r) { return runAuthorize(r, out); },
                                      [&](const NetnameRequest& r) { return runNetname(r, out); },
                                      [&](const GssWhoamiRequest& r) { return runGssWhoami(r, out); },
                                  },
                                  inv.request);
    std::fflush(stdout);
    return status;
}
