#include "support/app/proxy_dialog_driver.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using platform::testing::InspectView;
using platform::testing::PumpUntil;

constexpr UINT_PTR kActTimer = 4711;
std::function<void(HWND)>* g_act = nullptr;

void ActWhenTheProxyDialogRuns(HWND owner, UINT, UINT_PTR id, DWORD) {
    HWND proxy = platform::testing::InnermostModalDialog();
    if (proxy == nullptr || proxy == owner || g_act == nullptr)
        return;  // not up yet
    KillTimer(owner, id);
    std::function<void(HWND)> act = std::move(*g_act);
    g_act = nullptr;
    PumpUntil([&] { return InspectView(proxy).shown; }, 2000);
    act(proxy);
    // The user's last input may still be on its way to the dialog.
    if (!PumpUntil([&] { return platform::testing::InnermostModalDialog() != proxy; }, 2000)) {
        ADD_FAILURE() << "the proxy dialog was left open";
        EndDialog(proxy, -1);
    }
}

}  // namespace

bool WithProxyDialog(TestDlg& dlg, std::function<void(HWND)> act) {
    bool ran = false;
    std::function<void(HWND)> wrapped = [&](HWND proxy) {
        ran = true;
        act(proxy);
    };
    g_act = &wrapped;
    dlg.ShowWindow(SW_SHOW);
    CWnd* link = dlg.GetDlgItem(IDC_STATIC_PROXY_LINK);
    link->ShowWindow(SW_SHOW);
    PumpUntil([&] { return InspectView(link->m_hWnd).shown; }, 2000);
    dlg.SetTimer(kActTimer, 10, &ActWhenTheProxyDialogRuns);
    platform::testing::Click(link->m_hWnd);
    PumpUntil([&] { return ran && platform::testing::InnermostModalDialog() == dlg.m_hWnd; }, 5000);
    dlg.KillTimer(kActTimer);
    g_act = nullptr;
    return ran;
}

}  // namespace apptest
