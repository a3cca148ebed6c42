#include "support/platform/dialogs.h"

#include <vector>

#include "platform/afx/dialog.h"
#include "platform/window/window_model.h"

namespace platform::testing {

INT_PTR RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate) {
    return dialog.RunModalFromTemplate(dialogTemplate);
}

size_t WindowCount() {
    return AllWindows().size();
}

HWND InnermostModalDialog() {
    const std::vector<HWND> windows = AllWindows();
    // Creation order: a nested run's dialog comes after its owner's.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        WindowState s;
        if (ReadWindow(*it, &s) && s.modal && s.parent == nullptr && !ModalEnded(*it, nullptr))
            return *it;
    }
    return nullptr;
}

}  // namespace platform::testing
