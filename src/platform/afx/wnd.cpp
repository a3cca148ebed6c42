#include "platform/afx/wnd.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/afx/app.h"
#include "platform/afx/data_exchange.h"
#include "platform/window/dispatch.h"
#include "platform/window/message_box.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"

namespace {

// Wrappers for windows that have no attached object. A wrapper stays allocated for the rest of
// the run (detached once its window is gone), so a pointer from GetDlgItem never dangles.
struct Wrappers {
    std::mutex mutex;
    std::unordered_map<HWND, std::unique_ptr<CWnd>> live;
    std::vector<std::unique_ptr<CWnd>> retired;
};

Wrappers& wrappers() {
    static Wrappers* w = [] {
        auto* made = new Wrappers;
        platform::AddDestroyListener([made](HWND hwnd, platform::WindowProcedure* procedure) {
            CWnd* attached = dynamic_cast<CWnd*>(procedure);
            if (attached != nullptr && attached->m_hWnd == hwnd)
                attached->m_hWnd = nullptr;
            std::lock_guard<std::mutex> lock(made->mutex);
            auto it = made->live.find(hwnd);
            if (it == made->live.end())
                return;
            it->second->m_hWnd = nullptr;
            made->retired.push_back(std::move(it->second));
            made->live.erase(it);
        });
        return made;
    }();
    return *w;
}

// Moves `rect` by the window's client origin on the screen.
void MoveToScreen(HWND hwnd, LPRECT rect) {
    if (rect == nullptr)
        return;
    POINT origin{0, 0};
    ::ClientToScreen(hwnd, &origin);
    rect->left += origin.x;
    rect->right += origin.x;
    rect->top += origin.y;
    rect->bottom += origin.y;
}

}  // namespace

namespace platform {
CWnd* WndFromHandle(HWND hwnd) {
    return CWnd::FromHandle(hwnd);
}
}  // namespace platform

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
    if (m_hWnd != nullptr && platform::WindowProcedureOf(m_hWnd) == this) {
        platform::SetWindowProcedure(m_hWnd, nullptr);
    }
    m_hWnd = nullptr;
    platform::ForgetMainWindow(this);
}

CWnd* CWnd::FromHandle(HWND hwnd) {
    if (!platform::IsModelWindow(hwnd))
        return nullptr;
    if (CWnd* attached = dynamic_cast<CWnd*>(platform::WindowProcedureOf(hwnd)))
        return attached;
    Wrappers& w = wrappers();
    std::lock_guard<std::mutex> lock(w.mutex);
    auto& slot = w.live[hwnd];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = hwnd;
    }
    return slot.get();
}

BOOL CWnd::Attach(HWND hwnd) {
    wrappers();  // detaching on destruction needs the listener
    if (m_hWnd != nullptr || !platform::IsModelWindow(hwnd))
        return FALSE;
    if (platform::WindowProcedureOf(hwnd) != nullptr)
        return FALSE;
    m_hWnd = hwnd;
    platform::SetWindowProcedure(hwnd, this);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND old = m_hWnd;
    if (old != nullptr && platform::WindowProcedureOf(old) == this)
        platform::SetWindowProcedure(old, nullptr);
    m_hWnd = nullptr;
    return old;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
    return Attach(hwnd);
}

CWnd* CWnd::GetDlgItem(int id) const {
    return FromHandle(::GetDlgItem(m_hWnd, id));
}
int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}

void CWnd::SetWindowText(LPCSTR text) {
    ::SetWindowTextA(m_hWnd, text);
}
void CWnd::GetWindowText(CString& text) const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    char* buffer = text.GetBuffer(length + 1);
    ::GetWindowTextA(m_hWnd, buffer, length + 1);
    text.ReleaseBuffer();
}
void CWnd::SetDlgItemText(int id, LPCSTR text) {
    ::SetDlgItemTextA(m_hWnd, id, text);
}
int CWnd::GetDlgItemText(int id, CString& text) const {
    text.Empty();
    HWND control = ::GetDlgItem(m_hWnd, id);
    if (control == nullptr)
        return 0;
    FromHandle(control)->GetWindowText(text);
    return text.GetLength();
}
void CWnd::CheckDlgButton(int id, UINT check) {
    ::CheckDlgButton(m_hWnd, id, check);
}
UINT CWnd::IsDlgButtonChecked(int id) const {
    return ::IsDlgButtonChecked(m_hWnd, id);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}
BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}
BOOL CWnd::ShowWindow(int command) {
    return ::ShowWindow(m_hWnd, command);
}
BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}
BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
    return ::SetTimer(m_hWnd, id, elapse, timerProc);
}
BOOL CWnd::KillTimer(UINT_PTR id) {
    return ::KillTimer(m_hWnd, id);
}

int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type) {
    return ::MessageBoxA(m_hWnd, text, caption != nullptr ? caption : AfxGetAppName(), type);
}

void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) {
    ::InvalidateRect(m_hWnd, rect, erase);
}
BOOL CWnd::RedrawWindow(LPCRECT updateRect, CRgn*, UINT flags) {
    return ::RedrawWindow(m_hWnd, updateRect, nullptr, flags);
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}
void CWnd::GetWindowRect(LPRECT rect) const {
    ::GetWindowRect(m_hWnd, rect);
}
void CWnd::ClientToScreen(LPPOINT point) const {
    ::ClientToScreen(m_hWnd, point);
}
void CWnd::ClientToScreen(LPRECT rect) const {
    MoveToScreen(m_hWnd, rect);
}
void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
        return TRUE;
    } catch (CException* e) {
        platform::ReportException(m_hWnd, e);
    }
    return FALSE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::Default() {
    const MSG* current = platform::CurrentMessage();
    if (current == nullptr || current->hwnd != m_hWnd)
        return 0;
    return DefWindowProc(current->message, current->wParam, current->lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) {
        result = DefWindowProc(message, wParam, lParam);
    }
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        if (result != nullptr)
            *result = 0;
        return TRUE;
    }
    // The WM_CTLCOLORxxx messages all reach the one WM_CTLCOLOR entry.
    UINT key = message;
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
        key = WM_CTLCOLOR;
    if (message == WM_CTLCOLOR)
        return FALSE;
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(GetMessageMap(), key, 0, 0);
    if (entry == nullptr)
        return FALSE;
    LRESULT r = entry->pfn(this, message, wParam, lParam);
    if (result != nullptr)
        *result = r;
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return platform::DefaultWindowProc(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
    return OnCmdMsg(LOWORD(wParam), HIWORD(wParam));
}

void CWnd::OnPaint() {
    Default();
}
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) {
    return reinterpret_cast<HBRUSH>(Default());
}
LRESULT CWnd::OnNcHitTest(CPoint) {
    return Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}
