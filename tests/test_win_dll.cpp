// SPDX-License-Identifier: MIT
// qelrpc.dll as a Windows program meets it: loaded with LoadLibraryA, its
// entry point starting Windows Sockets 1.1 and the GSS-API back ends (no
// "gssapi32" here, the security interface from secur32.dll), every exported
// name found undecorated by GetProcAddress, the warning box when the socket
// layer cannot start, and the directory-service library taken from the
// system directory.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "auth/library.h"
#include "qelrpc.h"
#include "wine_paths.h"

namespace {

void setEnv(const char* name, const char* value) { _putenv_s(name, value); }

// The DLL, loaded for one test and released after it.
class Dll {
  public:
    explicit Dll(const char* path = QELRPC_DLL)
        : h_(LoadLibraryA(windowsPath(path).c_str())), error_(h_ == nullptr ? GetLastError() : 0) {}
    ~Dll() {
        if (h_ != nullptr) FreeLibrary(h_);
    }
    Dll(const Dll&) = delete;
    Dll& operator=(const Dll&) = delete;
    HMODULE get() const { return h_; }
    DWORD error() const { return error_; }
    void release() {
        if (h_ != nullptr) FreeLibrary(h_);
        h_ = nullptr;
    }
    template <typename Fn>
    Fn fn(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(h_, name)));
    }

  private:
    HMODULE h_;
    DWORD error_;
};

#define DLL_FN(dll, name) (dll).fn<decltype(&name)>(#name)

// Whether this process may make sockets: 0, or the Windows Sockets error.
int socketError() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return WSAGetLastError();
    ::closesocket(s);
    return 0;
}

TEST(Dll, EntryPointStartsAndStopsWindowsSockets) {
    EXPECT_EQ(socketError(), WSANOTINITIALISED);  // nothing in this process started them
    Dll dll;
    ASSERT_NE(dll.get(), nullptr) << "LoadLibraryA: " << dll.error();
    EXPECT_EQ(socketError(), 0);

    // The library's calls report the system's own error numbers.
    auto init = DLL_FN(dll, rpcInitOperationEx);
    auto null = DLL_FN(dll, rpcCreateAuthNull);
    auto header = DLL_FN(dll, rpcPrepareRPCHeader);
    auto tcp = DLL_FN(dll, DoTCPRPCGram);
    auto close = DLL_FN(dll, rpcCloseOperation);
    ASSERT_TRUE(init && null && header && tcp && close);
    RpcOperation op{};
    ASSERT_EQ(init(&op, "127.0.0.1", htonl(INADDR_LOOPBACK)), 0);
    ASSERT_EQ(null(&op), 1);
    op.prog = 0x20000F01;
    op.vers = 1;
    ASSERT_EQ(header(&op, 0), 0);
    op.tcpPort = 1;  // nothing listens on port 1 of loopback
    EXPECT_EQ(tcp(&op), WSAECONNREFUSED);
    close(&op);

    // The detach releases what the attach took: the library and the
    // security interface module are gone. (Whether sockets stay started
    // cannot be seen here: loading secur32.dll starts them for modules of
    // its own that stay loaded.)
    dll.release();
    EXPECT_EQ(GetModuleHandleA("qelrpc.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("secur32.dll"), nullptr);
}

TEST(Dll, ExportsEveryListedNameUndecorated) {
    Dll dll;
    ASSERT_NE(dll.get(), nullptr) << "LoadLibraryA: " << dll.error();
    std::ifstream list(windowsPath(QELRPC_EXPORT_LIST));
    ASSERT_TRUE(list.good());
    int names = 0;
    for (std::string line; std::getline(list, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        ++names;
        EXPECT_NE(GetProcAddress(dll.get(), line.c_str()), nullptr) << line;
    }
    EXPECT_GT(names, 100);
    // Undecorated only: no stdcall or C++ forms beside them.
    EXPECT_EQ(GetProcAddress(dll.get(), "_CallRPC@8"), nullptr);
    EXPECT_EQ(GetProcAddress(dll.get(), "_CallRPC"), nullptr);
}

// Whether the system's security interface lists the Kerberos package,
// asked of secur32.dll directly.
bool systemHasKerberos() {
    HMODULE m = LoadLibraryA("secur32.dll");
    if (m == nullptr) return false;
    using Query = LONG(WINAPI*)(const char*, void**);
    using Free = LONG(WINAPI*)(void*);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(m, "QuerySecurityPackageInfoA")));
    auto release = reinterpret_cast<Free>(reinterpret_cast<void*>(GetProcAddress(m, "FreeContextBuffer")));
    void* info = nullptr;
    const bool found = query != nullptr && release != nullptr && query("Kerberos", &info) == 0;
    if (info != nullptr) release(info);
    FreeLibrary(m);
    return found;
}

TEST(Dll, GssBackEndsFromTheEntryPoint) {
    Dll dll;
    ASSERT_NE(dll.get(), nullptr) << "LoadLibraryA: " << dll.error();
    auto available = DLL_FN(dll, IsGSSAvailable);
    ASSERT_NE(available, nullptr);
    EXPECT_EQ(available(GssProviderMit), 0);   // no "gssapi32", and no error box for it
    EXPECT_EQ(available(GssProviderSspi), 1);  // secur32.dll's security interface
    EXPECT_EQ(DLL_FN(dll, GetGSSProvider)(), GssProviderMit);

    // Without the MIT library, new credentials take the security interface
    // exactly when it has the Kerberos package (Wine's has).
    const bool kerberos = systemHasKerberos();
    RpcOperation op{};
    ASSERT_EQ(DLL_FN(dll, rpcInitOperationEx)(&op, "srv1", 0xFFFFFFFFu), 0);
    ASSERT_EQ(DLL_FN(dll, rpcCreateAuthRPCSEC_GSS)(&op, "nfs", RPCSEC_GSS_SVC_NONE), kerberos ? 1 : 0);
    if (kerberos) {
        ASSERT_NE(op.auth, nullptr);
        EXPECT_EQ(static_cast<AuthGssCred*>(op.auth->body)->provider, GssProviderSspi);
    } else {
        EXPECT_EQ(op.auth, nullptr);
    }
    DLL_FN(dll, rpcCloseOperation)(&op);
}

// The shipped DLL reads no test setting: the tests' own build of it
// (tests/library_test_seams.cpp) takes this one from the environment as it
// loads.
constexpr const char* kFailSocketStartVariable = "QELRPC_TEST_FAIL_SOCKET_START";

TEST(Dll, SocketLayerThatCannotStartShowsTheWarningBoxAndRefusesTheLoad) {
    setEnv(kFailSocketStartVariable, "1");
    std::string text, caption;
    std::atomic<bool> running{false};
    std::atomic<bool> done{false};
    std::thread presser([&] {
        // A thread's own start-up takes the loader lock, which the entry
        // point holds while its box is up: the load must not begin before
        // this thread runs (and has made its first window call), or
        // neither could go on.
        FindWindowA(nullptr, qelrpc::library::kWarningCaption);
        running = true;
        // Finds the box, reads it and presses OK; gives up after 60 seconds.
        for (int i = 0; i < 1200 && !done; ++i) {
            HWND box = FindWindowA(nullptr, qelrpc::library::kWarningCaption);
            if (box != nullptr) {
                char buf[256] = {};
                GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);  // the box's message text
                text = buf;
                GetWindowTextA(box, buf, sizeof buf);
                caption = buf;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    for (int i = 0; i < 600 && !running; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::optional<Dll> dll;
    if (running) dll.emplace(QELRPC_TEST_SEAMS_DLL);
    done = true;
    presser.join();
    setEnv(kFailSocketStartVariable, "");
    ASSERT_TRUE(dll.has_value()) << "the thread that presses the box did not start";
    EXPECT_EQ(dll->get(), nullptr);
    EXPECT_EQ(dll->error(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(text, "Unable to initialize Winsock library");
    EXPECT_EQ(caption, "QUORBEL");
}

TEST(Dll, TheShippedDllTakesNoTestSetting) {
    // The same setting as above: the shipped DLL starts its socket layer
    // and loads, no box shown.
    setEnv(kFailSocketStartVariable, "1");
    Dll dll;
    setEnv(kFailSocketStartVariable, "");
    EXPECT_NE(dll.get(), nullptr) << "LoadLibraryA: " << dll.error();
}

// qelnis.dll in the system directory for one test, removed after it.
class SystemDirectoryCopy {
  public:
    SystemDirectoryCopy() {
        char dir[MAX_PATH];
        const UINT n = GetSystemDirectoryA(dir, sizeof dir);
        if (n == 0 || n >= sizeof dir) return;
        path_ = std::string(dir) + "\\qelnis.dll";
        ok_ = CopyFileA(windowsPath(QELNIS_DLL).c_str(), path_.c_str(), FALSE) != 0;
    }
    ~SystemDirectoryCopy() {
        if (ok_) DeleteFileA(path_.c_str());
    }
    bool ok() const { return ok_; }

  private:
    std::string path_;
    bool ok_ = false;
};

// The relative id that the machine gives an account.
DWORD accountRid(const char* name) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    char domain[256];
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountNameA(nullptr, name, sid, &sidSize, domain, &domainSize, &use)) return 0;
    return *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
}

TEST(Dll, NamesComeFromTheDirectoryServiceInTheSystemDirectory) {
    SystemDirectoryCopy copy;
    ASSERT_TRUE(copy.ok()) << "cannot copy qelnis.dll into the system directory: " << GetLastError();
    setEnv("QELNIS_TYPE", "1");
    char user[256];
    DWORD userSize = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &userSize));
    const DWORD rid = accountRid(user);
    ASSERT_NE(rid, 0u);

    Dll dll;
    ASSERT_NE(dll.get(), nullptr) << "LoadLibraryA: " << dll.error();
    RpcOperation op{};
    ASSERT_EQ(DLL_FN(dll, rpcInitOperationEx)(&op, "127.0.0.1", htonl(INADDR_LOOPBACK)), 0);
    NameServiceKind kind = 0;
    ASSERT_EQ(DLL_FN(dll, PerformNfsdCheck)(&op, 0, 0, &kind), 0);
    EXPECT_EQ(kind, NameServiceDirectory);

    std::string names = std::string(user) + '\0';
    int32_t uid = -1;
    ASSERT_EQ(DLL_FN(dll, PerformGetUidsFromUNames)(&op, 0, 0, 1, names.c_str(), &uid), 0);
    EXPECT_EQ(uid, static_cast<int32_t>(rid));
    char back[256 * 2] = {};
    ASSERT_EQ(DLL_FN(dll, PerformGetUserNamesFromUids)(&op, 0, 0, 1, back, &uid), 0);
    EXPECT_STREQ(back, user);

    int32_t gid = -1;
    ASSERT_EQ(DLL_FN(dll, PerformGetGidsFromGNames)(&op, 0, 0, 1, "Administrators\0", &gid), 0);
    EXPECT_EQ(gid, 544);  // the built-in domain's Administrators
    char group[256 * 2] = {};
    ASSERT_EQ(DLL_FN(dll, PerformGetGNamesFromGids)(&op, 0, 0, 1, group, &gid), 0);
    EXPECT_STREQ(group, "Administrators");
    DLL_FN(dll, rpcCloseOperation)(&op);
    setEnv("QELNIS_TYPE", "");
}

TEST(Dll, WithoutTheDirectoryServiceLibraryTheDaemonsAnswer) {
    // Configured, but absent from the system directory: a copy elsewhere
    // (beside this program) is never taken.
    setEnv("QELNIS_TYPE", "1");
    Dll dll;
    ASSERT_NE(dll.get(), nullptr) << "LoadLibraryA: " << dll.error();
    RpcOperation op{};
    ASSERT_EQ(DLL_FN(dll, rpcInitOperationEx)(&op, "127.0.0.1", htonl(INADDR_LOOPBACK)), 0);
    NameServiceKind kind = 0;
    const int rc = DLL_FN(dll, PerformNfsdCheck)(&op, 0, 1, &kind);
    const char* peers = std::getenv("QELRPC_LINUX_PEERS");
    if (peers != nullptr && std::strcmp(peers, "1") == 0) {
        // The libtirpc PCNFSD daemon on the Linux side, through rpcbind.
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(kind, NameServicePcnfsd);
    } else {
        EXPECT_EQ(rc, -1);  // nothing answers
    }
    DLL_FN(dll, rpcCloseOperation)(&op);
    setEnv("QELNIS_TYPE", "");
}

}  // namespace
