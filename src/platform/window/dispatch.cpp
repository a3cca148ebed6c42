#include "platform/window/dispatch.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/base/exceptions.h"
#include "platform/base/geometry.h"
#include "platform/base/lasterror.h"
#include "platform/window/control_messages.h"
#include "platform/window/message_box.h"
#include "platform/window/user_input.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"

namespace platform {

namespace {

thread_local std::vector<MSG> t_current;
std::atomic<CaptionSource> g_captionSource{nullptr};

void ShowFailure(HWND owner, const char* text) {
    const CaptionSource source = g_captionSource.load();
    MessageBoxA(IsModelWindow(owner) ? owner : nullptr, text,
                source != nullptr ? source() : program_invocation_short_name,
                MB_OK | MB_ICONEXCLAMATION);
}

LRESULT HitTest(HWND hwnd, LPARAM lParam) {
    RECT client{};
    GetClientRect(hwnd, &client);
    POINT origin = ClientOriginOnScreen(hwnd);
    POINT point{GET_X_LPARAM(lParam) - origin.x, GET_Y_LPARAM(lParam) - origin.y};
    return PtInRect(&client, point) ? HTCLIENT : HTNOWHERE;
}

}  // namespace

LRESULT DeliverMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsModelWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    WindowProcedure* procedure = WindowProcedureOf(hwnd);
    t_current.push_back(MSG{hwnd, message, wParam, lParam, 0, {0, 0}});
    struct Pop {
        ~Pop() { t_current.pop_back(); }
    } pop;
    return RunGuarded(hwnd, [&] {
        return procedure != nullptr ? procedure->WindowProc(message, wParam, lParam)
                                    : DefaultWindowProc(hwnd, message, wParam, lParam);
    });
}

LRESULT RunGuarded(HWND owner, const std::function<LRESULT()>& handler) {
    try {
        return handler();
    } catch (CException* e) {
        ReportException(owner, e);
    } catch (const std::exception& e) {
        ShowFailure(owner, e.what());
    } catch (...) {
        ShowFailure(owner, "An unexpected error occurred.");
    }
    return 0;
}

CaptionSource SetFailureCaptionSource(CaptionSource source) {
    return g_captionSource.exchange(source);
}

const MSG* CurrentMessage() {
    return t_current.empty() ? nullptr : &t_current.back();
}

LRESULT DefaultWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleStateMessage(hwnd, message, wParam, lParam, &result))
        return result;
    WindowKind kind = WindowKind::Other;
    if (!InspectWindow(hwnd, [&](const WindowState& s) { kind = s.kind; }))
        return 0;
    switch (message) {
        case WM_CLOSE:
            if (kind == WindowKind::Dialog)
                EndDialog(hwnd, IDCANCEL);
            return 0;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_CLOSE:
                    return DeliverMessage(hwnd, WM_CLOSE, 0, 0);
                case SC_MINIMIZE:
                    ShowWindow(hwnd, SW_MINIMIZE);
                    return 0;
                case SC_RESTORE:
                    ShowWindow(hwnd, SW_RESTORE);
                    return 0;
                default:
                    return 0;
            }
        case WM_NCHITTEST:
            return HitTest(hwnd, lParam);
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT:
            ValidateModelWindow(hwnd);
            return 0;
        case BM_CLICK:
            UserClicked(hwnd);
            return 0;
        default:
            return 0;
    }
}

void ReportException(HWND owner, CException* exception) {
    char text[512] = "";
    if (exception == nullptr || !exception->GetErrorMessage(text, sizeof text) || !text[0]) {
        std::snprintf(text, sizeof text, "%s", "An unexpected error occurred.");
    }
    if (exception != nullptr)
        exception->Delete();
    ShowFailure(owner, text);
}

}  // namespace platform
