// SPDX-License-Identifier: MIT
// The window messages of a caller that waits for a TCP connect: a real
// dialog keeps receiving its messages (timer ticks, a button click through
// the dialog's own handling) while the connect hangs, and its window
// procedure abandons the connect by setting the cancel flag.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "fake_peer.h"
#include "qelrpc.h"

namespace {

using namespace testpeer;
using Clock = std::chrono::steady_clock;

constexpr UINT kTickMs = 30;
constexpr int kClickAfterTicks = 4;

struct DialogState {
    int* cancelFlag = nullptr;
    int ticks = 0;
    int clicks = 0;
};

INT_PTR CALLBACK dialogProc(HWND dialog, UINT msg, WPARAM w, LPARAM l) {
    auto* st = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(dialog, DWLP_USER, l);
            SetTimer(dialog, 1, kTickMs, nullptr);
            return TRUE;
        case WM_TIMER:
            if (++st->ticks == kClickAfterTicks) PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(w) == IDCANCEL) {
                ++st->clicks;
                *st->cancelFlag = 1;  // the caller's flag: the connect is abandoned
            }
            return TRUE;
        default: return FALSE;
    }
}

// A modeless dialog "Connecting" with one Cancel button, from an in-memory
// template (the words of DLGTEMPLATE and DLGITEMTEMPLATE).
class ConnectDialog {
  public:
    explicit ConnectDialog(DialogState& st) {
        std::vector<WORD> t;
        auto dword = [&t](DWORD v) {
            t.push_back(LOWORD(v));
            t.push_back(HIWORD(v));
        };
        auto text = [&t](const wchar_t* s) {
            do t.push_back(static_cast<WORD>(*s)); while (*s++ != 0);
        };
        dword(WS_POPUP | WS_CAPTION | DS_MODALFRAME | WS_VISIBLE);
        dword(0);
        t.push_back(1);                                 // one control
        for (WORD v : {10, 10, 160, 60}) t.push_back(v);  // x, y, cx, cy
        t.push_back(0);                                 // no menu
        t.push_back(0);                                 // the dialog class
        text(L"Connecting");
        if (t.size() % 2 != 0) t.push_back(0);  // items start on a DWORD
        dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
        dword(0);
        for (WORD v : {55, 35, 50, 14}) t.push_back(v);
        t.push_back(IDCANCEL);
        t.push_back(0xFFFF);
        t.push_back(0x0080);  // the button class
        text(L"Cancel");
        t.push_back(0);  // no creation data
        dialog_ = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()),
                                             nullptr, dialogProc, reinterpret_cast<LPARAM>(&st));
    }
    ~ConnectDialog() {
        if (dialog_ != nullptr) DestroyWindow(dialog_);
    }
    HWND get() const { return dialog_; }

  private:
    HWND dialog_ = nullptr;
};

class Pump : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override {
        ASSERT_EQ(qelrpc::platform::startSockets(), 0);
        ASSERT_EQ(rpcInitOperationEx(&op, "127.0.0.1", loopbackAddress()), 0);
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
        op.prog = 0x20000F01;
        op.vers = 1;
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
        InitDataBuffer(&op.request);
    }
    void TearDown() override { rpcCloseOperation(&op); }
};

TEST_F(Pump, TheDialogLivesDuringAHangingConnectAndItsCancelButtonAbandonsIt) {
    BlackHole hole;
    ASSERT_TRUE(hole.ok()) << "could not make a connect hang";
    int cancel = 0;
    DialogState st;
    st.cancelFlag = &cancel;
    ConnectDialog dialog(st);
    ASSERT_NE(dialog.get(), nullptr) << "CreateDialogIndirectParamA failed: " << GetLastError();

    op.tcpPort = hole.port();
    rpcSetAsyncOperation(&op, 1, dialog.get(), &cancel);
    const auto t0 = Clock::now();
    EXPECT_EQ(DoTCPRPCGram(&op), -2);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();

    // The timer ran while the connect waited, and the click came through
    // the dialog's handling to its procedure, which set the flag.
    EXPECT_GE(st.ticks, kClickAfterTicks);
    EXPECT_EQ(st.clicks, 1);
    EXPECT_EQ(cancel, 1);
    EXPECT_GE(ms, static_cast<long long>(kTickMs) * (kClickAfterTicks - 1));
    EXPECT_LT(ms, 10'000);
    EXPECT_TRUE(IsWindow(dialog.get()));
}

TEST_F(Pump, AfterACancelTheSameOperationCallsALiveServer) {
    BlackHole hole;
    ASSERT_TRUE(hole.ok()) << "could not make a connect hang";
    int cancel = 1;  // already set: the hanging connect is abandoned at its first look
    DialogState st;
    st.cancelFlag = &cancel;
    ConnectDialog dialog(st);
    ASSERT_NE(dialog.get(), nullptr);
    rpcSetAsyncOperation(&op, 1, dialog.get(), &cancel);
    op.tcpPort = hole.port();
    const auto t0 = Clock::now();
    EXPECT_EQ(CallRPC(&op, 0), -2);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 2000);

    TcpPeer peer([](int, Conn& c) {
        Bytes call;
        if (c.readRecord(call)) c.sendFragment(successReply(wordAt(call, 0)), true);
    });
    ASSERT_TRUE(peer.ok());
    op.tcpPort = peer.port();
    cancel = 0;
    EXPECT_EQ(CallRPC(&op, 0), 0);
    EXPECT_EQ(peer.accepted(), 1);
}

}  // namespace
