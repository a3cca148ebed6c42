// Making a dialog's windows from its template (internal): the dialog and its controls in the
// model, positions converted from dialog units with the template font's base units.
#pragma once

#include "platform/base/types.h"
#include "platform/gdi/font.h"
#include "platform/modules/resources.h"

namespace platform {

// The dialog window (hidden, not yet attached), or null. `owner` may be null. `font` receives
// the font made for the dialog and its controls; the caller deletes it after the dialog.
HWND BuildDialog(const DialogTemplate& dialogTemplate, HWND owner, HFONT* font);

// The LOGFONT of a template's font: DS_SETFONT's point size, weight, italic, charset and face
// (lfHeight = -MulDiv(points, 96, 72)); without DS_SETFONT the 8-point system dialog font.
void TemplateLogFont(const DialogTemplate& dialogTemplate, LOGFONTA* out);

}  // namespace platform
