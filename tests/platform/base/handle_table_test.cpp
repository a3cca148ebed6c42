// Handles of every kind come from one numbering: a live handle of one kind, passed to a call
// that expects another, is refused with the error that call gives for a bad handle.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/base/lasterror.h"
#include "platform/gdi/gdi.h"
#include "platform/kernel/sync.h"
#include "platform/modules/resources.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_store.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"
#include "support/platform/res_builder.h"
#include "support/sandbox.h"

namespace {

enum class Kind { Kernel, Gdi, Window, Module, Icon, RegistryKey, DeviceContext };

const char* NameOf(Kind kind) {
    static const char* const names[] = {"kernel object", "GDI object",   "window",        "module",
                                        "icon",          "registry key", "device context"};
    return names[static_cast<int>(kind)];
}

// A module of three icons, each one 16 x 16 image.
resbuild::Bytes IconModule() {
    const size_t side = 16;
    const resbuild::Bytes pixels(side * side * 4, 0xFF);
    const resbuild::Bytes mask(4 * side, 0);
    resbuild::Writer res = resbuild::NewRes();
    for (uint16_t id = 1; id <= 3; ++id) {
        resbuild::AddEntry(res, 3, id, resbuild::IconBitmap(16, 16, 32, {}, pixels, mask));
        resbuild::AddEntry(res, 14, id, resbuild::GroupIcon({{16, id}}));
    }
    return res.bytes();
}

class HandleKindsTest : public fixtures::SandboxTest {
  protected:
    // Several live handles of each kind, made in an order in which numbers from separate
    // counters would meet (modules and icons first, then many windows).
    void SetUp() override {
        for (int i = 0; i < 2; ++i) {
            HMODULE module = platform::LoadResourceModuleFromBytes(IconModule());
            ASSERT_NE(module, nullptr);
            modules_.push_back(module);
            Add(Kind::Module, module);
            for (int id = 1; id <= 3; ++id) {
                HICON icon = LoadIconA(module, MAKEINTRESOURCE(id));
                ASSERT_NE(icon, nullptr);
                Add(Kind::Icon, icon);
            }
        }
        for (int i = 0; i < 40; ++i) {
            platform::WindowState state;
            state.windowClass = "Static";
            HWND hwnd = platform::CreateModelWindow(state);
            ASSERT_NE(hwnd, nullptr);
            windows_.push_back(hwnd);
            Add(Kind::Window, hwnd);
        }
        for (int i = 0; i < 8; ++i) {
            HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            ASSERT_NE(event, nullptr);
            events_.push_back(event);
            Add(Kind::Kernel, event);

            HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
            ASSERT_NE(brush, nullptr);
            brushes_.push_back(brush);
            Add(Kind::Gdi, brush);

            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Kinds", 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                                      nullptr),
                      ERROR_SUCCESS);
            keys_.push_back(key);
            Add(Kind::RegistryKey, key);

            HDC dc = CreateCompatibleDC(nullptr);
            ASSERT_NE(dc, nullptr);
            dcs_.push_back(dc);
            Add(Kind::DeviceContext, dc);
        }
    }

    void TearDown() override {
        for (HDC dc : dcs_)
            DeleteDC(dc);
        for (HKEY key : keys_)
            RegCloseKey(key);
        platform::CloseRegistryStore();
        for (HBRUSH brush : brushes_)
            DeleteObject(brush);
        for (HANDLE event : events_)
            CloseHandle(event);
        for (HWND hwnd : windows_)
            platform::DestroyModelWindow(hwnd);
        for (HMODULE module : modules_)
            FreeLibrary(module);
    }

    void Add(Kind kind, void* handle) { handles_.push_back({kind, handle}); }

    struct Made {
        Kind kind;
        void* handle;
    };
    std::vector<Made> handles_;
    std::vector<HMODULE> modules_;
    std::vector<HWND> windows_;
    std::vector<HANDLE> events_;
    std::vector<HBRUSH> brushes_;
    std::vector<HKEY> keys_;
    std::vector<HDC> dcs_;
};

// A call that expects a handle of its kind; true when it refused `handle` with `error`.
struct Call {
    Kind expects;
    const char* name;
    DWORD error;
    std::function<bool(void*)> refused;
};

TEST_F(HandleKindsTest, AHandleOfOneKindIsRefusedWhereAnotherKindIsExpected) {
    HDC canvas = dcs_.front();
    const std::vector<Call> calls = {
        {Kind::Kernel, "WaitForSingleObject", ERROR_INVALID_HANDLE,
         [](void* h) { return WaitForSingleObject(h, 0) == WAIT_FAILED; }},
        {Kind::Gdi, "GetObjectA", ERROR_INVALID_HANDLE,
         [](void* h) { return GetObjectA(h, 0, nullptr) == 0; }},
        {Kind::Window, "GetClientRect", ERROR_INVALID_WINDOW_HANDLE,
         [](void* h) {
             RECT rect;
             return !GetClientRect(static_cast<HWND>(h), &rect);
         }},
        {Kind::Module, "LoadStringA", ERROR_INVALID_HANDLE,
         [](void* h) {
             char text[8];
             return LoadStringA(static_cast<HINSTANCE>(h), 1, text, sizeof text) == 0;
         }},
        {Kind::Icon, "DrawIcon", ERROR_INVALID_CURSOR_HANDLE,
         [canvas](void* h) { return !DrawIcon(canvas, 0, 0, static_cast<HICON>(h)); }},
        {Kind::RegistryKey, "RegQueryValueExA", ERROR_INVALID_HANDLE,
         [](void* h) {
             SetLastError(static_cast<DWORD>(
                 RegQueryValueExA(static_cast<HKEY>(h), "v", nullptr, nullptr, nullptr, nullptr)));
             return GetLastError() != ERROR_SUCCESS;
         }},
        {Kind::DeviceContext, "CreateCompatibleDC", ERROR_INVALID_HANDLE,
         [](void* h) { return CreateCompatibleDC(static_cast<HDC>(h)) == nullptr; }},
    };
    for (const Call& call : calls) {
        for (const Made& made : handles_) {
            if (made.kind == call.expects)
                continue;
            SetLastError(ERROR_SUCCESS);
            EXPECT_TRUE(call.refused(made.handle))
                << call.name << " took a " << NameOf(made.kind) << " " << made.handle;
            EXPECT_EQ(GetLastError(), call.error)
                << call.name << " given a " << NameOf(made.kind) << " " << made.handle;
        }
    }
}

// The calls above do take their own kind, so a refusal says something about the kind alone.
TEST_F(HandleKindsTest, EachHandleIsTakenByTheCallsOfItsKind) {
    for (const Made& made : handles_) {
        switch (made.kind) {
            case Kind::Kernel:
                EXPECT_EQ(WaitForSingleObject(made.handle, 0), WAIT_TIMEOUT);
                break;
            case Kind::Gdi:
                EXPECT_GT(GetObjectA(made.handle, 0, nullptr), 0);
                break;
            case Kind::Window:
                EXPECT_TRUE(IsWindow(static_cast<HWND>(made.handle)));
                break;
            case Kind::Module: {
                char text[8];
                SetLastError(ERROR_SUCCESS);
                EXPECT_EQ(LoadStringA(static_cast<HINSTANCE>(made.handle), 1, text, sizeof text),
                          0);
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
                break;
            }
            case Kind::Icon:
                EXPECT_TRUE(DrawIcon(dcs_.front(), 0, 0, static_cast<HICON>(made.handle)));
                break;
            case Kind::RegistryKey:
                EXPECT_EQ(RegQueryValueExA(static_cast<HKEY>(made.handle), "v", nullptr, nullptr,
                                           nullptr, nullptr),
                          ERROR_FILE_NOT_FOUND);
                break;
            case Kind::DeviceContext: {
                HDC dc = CreateCompatibleDC(static_cast<HDC>(made.handle));
                EXPECT_NE(dc, nullptr);
                DeleteDC(dc);
                break;
            }
        }
    }
}

}  // namespace
