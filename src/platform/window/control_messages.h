// The default window procedure of the model (internal): the messages that only read or change a
// window's state (texts, fonts, icons, check marks, list items, selections, progress) are
// answered here, on the caller's thread, under the model's lock. The predefined control
// classes answer their own messages; every window answers the text, font and icon messages.
#pragma once

#include <string>

#include "platform/base/types.h"

namespace platform {

// True when `message` is one of the state messages of the window's kind; `*result` then holds
// the answer. False for any other message (and for a stale HWND).
bool HandleStateMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Copies `text` into a buffer of `size` characters (a zero included), cut at a UTF-8 character
// boundary; returns the characters copied.
int CopyWindowText(const std::string& text, LPSTR buffer, int size);

}  // namespace platform
