// Message maps: each class's table of (message, notification code, control id range,
// signature, handler), chained to its base class's table. Dispatch looks in the class's own
// table first and then up the chain, so a derived entry wins over the base's.
//
// Each entry calls its handler through a small function made for that handler and signature
// (Thunks<Class>::Xxx<&Class::Handler>), so no member pointer is ever cast to another type; a
// handler with the wrong signature does not compile. Handlers may be inherited members of any
// base class, as with the class library.
#pragma once

#include <type_traits>

#include "platform/afx/runtime_class.h"
#include "platform/base/geometry.h"
#include "platform/window/drawing_port.h"
#include "platform/window/messages.h"

#define afx_msg

class CCmdTarget;
class CWnd;
class CDC;

namespace platform {

using MsgThunk = LRESULT (*)(CCmdTarget* target, UINT message, WPARAM wParam, LPARAM lParam);

// CWnd::FromHandle, for the control argument of WM_CTLCOLOR.
CWnd* WndFromHandle(HWND hwnd);

template <class M>
struct HandlerOf;
template <class C, class R, class... A>
struct HandlerOf<R (C::*)(A...)> {
    using Class = C;
    using Fn = R(A...);
};

template <class T, auto F, class Fn>
constexpr bool kFits = std::is_base_of_v<typename HandlerOf<decltype(F)>::Class, T>&&
    std::is_same_v<typename HandlerOf<decltype(F)>::Fn, Fn>;

template <class T>
struct Thunks {
    template <auto F>
    static LRESULT Void(CCmdTarget* t, UINT, WPARAM, LPARAM) {
        static_assert(kFits<T, F, void()>, "the handler must be: void Handler()");
        (static_cast<T*>(t)->*F)();
        return 0;
    }
    template <auto F>
    static LRESULT QueryDragIcon(CCmdTarget* t, UINT, WPARAM, LPARAM) {
        static_assert(kFits<T, F, HCURSOR()>, "the handler must be: HCURSOR OnQueryDragIcon()");
        return reinterpret_cast<LRESULT>((static_cast<T*>(t)->*F)());
    }
    template <auto F>
    static LRESULT CtlColor(CCmdTarget* t, UINT message, WPARAM wParam, LPARAM lParam) {
        static_assert(kFits<T, F, HBRUSH(CDC*, CWnd*, UINT)>,
                      "the handler must be: HBRUSH OnCtlColor(CDC*, CWnd*, UINT)");
        UINT kind = message - WM_CTLCOLORMSGBOX;
        return reinterpret_cast<LRESULT>(
            (static_cast<T*>(t)->*F)(DcFromHandle(reinterpret_cast<HDC>(wParam)),
                                     WndFromHandle(reinterpret_cast<HWND>(lParam)), kind));
    }
    template <auto F>
    static LRESULT NcHitTest(CCmdTarget* t, UINT, WPARAM, LPARAM lParam) {
        static_assert(kFits<T, F, LRESULT(CPoint)> || kFits<T, F, UINT(CPoint)>,
                      "the handler must be: LRESULT OnNcHitTest(CPoint)");
        return static_cast<LRESULT>((static_cast<T*>(t)->*F)(CPoint(lParam)));
    }
    template <auto F>
    static LRESULT EraseBkgnd(CCmdTarget* t, UINT, WPARAM wParam, LPARAM) {
        static_assert(kFits<T, F, BOOL(CDC*)>, "the handler must be: BOOL OnEraseBkgnd(CDC*)");
        return (static_cast<T*>(t)->*F)(DcFromHandle(reinterpret_cast<HDC>(wParam)));
    }
    template <auto F>
    static LRESULT Timer(CCmdTarget* t, UINT, WPARAM wParam, LPARAM) {
        static_assert(kFits<T, F, void(UINT_PTR)>, "the handler must be: void OnTimer(UINT_PTR)");
        (static_cast<T*>(t)->*F)(static_cast<UINT_PTR>(wParam));
        return 0;
    }
    template <auto F>
    static LRESULT Move(CCmdTarget* t, UINT, WPARAM, LPARAM lParam) {
        static_assert(kFits<T, F, void(int, int)>, "the handler must be: void OnMove(int, int)");
        (static_cast<T*>(t)->*F)(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    }
    template <auto F>
    static LRESULT Message(CCmdTarget* t, UINT, WPARAM wParam, LPARAM lParam) {
        static_assert(kFits<T, F, LRESULT(WPARAM, LPARAM)>,
                      "the handler must be: LRESULT Handler(WPARAM, LPARAM)");
        return (static_cast<T*>(t)->*F)(wParam, lParam);
    }
};

}  // namespace platform

// Signatures, for readers of a map; dispatch relies on the thunks alone.
enum AfxSig : UINT_PTR {
    AfxSig_end = 0,
    AfxSig_vv,    // void ()
    AfxSig_hv,    // HCURSOR ()
    AfxSig_hDWw,  // HBRUSH (CDC*, CWnd*, UINT)
    AfxSig_lp,    // LRESULT (CPoint)
    AfxSig_bD,    // BOOL (CDC*)
    AfxSig_vw,    // void (UINT_PTR)
    AfxSig_vii,   // void (int, int)
    AfxSig_lwl,   // LRESULT (WPARAM, LPARAM)
    AfxSig_cmd,   // void () for a command or notification
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // 0 ends the table
    UINT nCode;     // WM_COMMAND: the notification code
    UINT nID;       // WM_COMMAND: the first control id
    UINT nLastID;   // WM_COMMAND: the last control id
    UINT_PTR nSig;
    platform::MsgThunk pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null at the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The root of every message map: the application object and every window.
class CCmdTarget {
  public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    static const CRuntimeClass classCCmdTarget;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* runtimeClass) const;

    // Runs the handler of command `id` with notification `code` found in this object's map
    // chain; FALSE when there is none.
    virtual BOOL OnCmdMsg(UINT id, int code, void* extra = nullptr, void* handlerInfo = nullptr);

    // The first entry of the chain for a message (WM_COMMAND: with its code and id).
    static const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code,
                                                    UINT id);

  protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                                 \
protected:                                                    \
    static const AFX_MSGMAP* GetThisMessageMap();             \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                         \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                  \
        using ThisClass [[maybe_unused]] = theClass;                                   \
        using TheBaseClass = baseClass;                                                \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {

#define END_MESSAGE_MAP()                                                              \
            {0, 0, 0, 0, AfxSig_end, nullptr}};                                        \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap,        \
                                              &messageEntries[0]};                     \
        return &messageMap;                                                            \
    }

#define ZELV_MSG_ENTRY(message, sig, thunk, handler) \
    {message, 0, 0, 0, sig, &platform::Thunks<ThisClass>::thunk<handler>},
#define ZELV_COMMAND_ENTRY(code, id, handler) \
    {WM_COMMAND, (UINT)(code), (UINT)(id) & 0xFFFFu, (UINT)(id) & 0xFFFFu, AfxSig_cmd, \
     &platform::Thunks<ThisClass>::Void<handler>},

#define ON_WM_PAINT() ZELV_MSG_ENTRY(WM_PAINT, AfxSig_vv, Void, &ThisClass::OnPaint)
#define ON_WM_QUERYDRAGICON() \
    ZELV_MSG_ENTRY(WM_QUERYDRAGICON, AfxSig_hv, QueryDragIcon, &ThisClass::OnQueryDragIcon)
#define ON_WM_CLOSE() ZELV_MSG_ENTRY(WM_CLOSE, AfxSig_vv, Void, &ThisClass::OnClose)
#define ON_WM_DESTROY() ZELV_MSG_ENTRY(WM_DESTROY, AfxSig_vv, Void, &ThisClass::OnDestroy)
#define ON_WM_CTLCOLOR() ZELV_MSG_ENTRY(WM_CTLCOLOR, AfxSig_hDWw, CtlColor, &ThisClass::OnCtlColor)
#define ON_WM_NCHITTEST() ZELV_MSG_ENTRY(WM_NCHITTEST, AfxSig_lp, NcHitTest, &ThisClass::OnNcHitTest)
#define ON_WM_ERASEBKGND() \
    ZELV_MSG_ENTRY(WM_ERASEBKGND, AfxSig_bD, EraseBkgnd, &ThisClass::OnEraseBkgnd)
#define ON_WM_TIMER() ZELV_MSG_ENTRY(WM_TIMER, AfxSig_vw, Timer, &ThisClass::OnTimer)
#define ON_WM_MOVE() ZELV_MSG_ENTRY(WM_MOVE, AfxSig_vii, Move, &ThisClass::OnMove)
#define ON_MESSAGE(message, memberFxn) ZELV_MSG_ENTRY(message, AfxSig_lwl, Message, memberFxn)

#define ON_COMMAND(id, memberFxn) ZELV_COMMAND_ENTRY(0, id, memberFxn)
#define ON_CONTROL(code, id, memberFxn) ZELV_COMMAND_ENTRY(code, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ZELV_COMMAND_ENTRY(BN_CLICKED, id, memberFxn)
#define ON_STN_CLICKED(id, memberFxn) ZELV_COMMAND_ENTRY(STN_CLICKED, id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) ZELV_COMMAND_ENTRY(CBN_SELCHANGE, id, memberFxn)
#define ON_LBN_SELCHANGE(id, memberFxn) ZELV_COMMAND_ENTRY(LBN_SELCHANGE, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ZELV_COMMAND_ENTRY(EN_CHANGE, id, memberFxn)
// clang-format on
