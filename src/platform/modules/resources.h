// Resource modules: LoadLibraryA of the resource library, the current resource module, and the
// strings, icons and dialog templates it holds (the standard .res format that the library
// exports as zelv_resource_data / zelv_resource_size).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/types.h"
#include "platform/modules/resource_types.h"

// Loads a shared object by the name given: a bare name goes through the system's search, which
// finds a library beside the executable first. A library that exports no resource blob is a
// module without resources. NULL with ERROR_MOD_NOT_FOUND when it cannot be loaded: also when
// it is no regular file or is cut short, which is found before the system maps it. Loading a
// library again gives the same handle and needs one more FreeLibrary.
HMODULE LoadLibraryA(LPCSTR fileName);
BOOL FreeLibrary(HMODULE module);

// The module that CString::LoadString and the dialogs take their resources from, for the whole
// process. NULL (the executable, which holds no resources) until it is set.
void AfxSetResourceHandle(HINSTANCE module);
HINSTANCE AfxGetResourceHandle();

// Copies string `id` into `buffer` (at most bufferMax - 1 characters, cut at a character
// boundary, and a zero) and returns its length; 0 when the string is missing or empty, with
// the buffer then holding the empty text.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferMax);

// The icon group `name` (MAKEINTRESOURCE id, "#id" or a name) of a module. The same icon for
// every call; it stays valid until the module's last FreeLibrary. NULL when missing.
HICON LoadIconA(HINSTANCE module, LPCSTR name);

namespace platform {

// Template `id` of a module (DIALOGEX or the older DIALOG form); nothing when the module has no
// such template or it is malformed.
std::optional<DialogTemplate> FindDialogTemplate(HINSTANCE module, UINT id);

// The decoded images of an icon from LoadIconA, in the order of its group; null for anything
// else. The pointer stays valid as long as the icon does.
const std::vector<IconImage>* IconImages(HICON icon);

// String `id` of a module; nothing when it is missing. An empty string is returned as such.
std::optional<std::string> FindResourceString(HINSTANCE module, UINT id);

// A module made from .res bytes held in memory, released with FreeLibrary; lets tests give the
// layer resources without building a library. Malformed bytes give a module without resources.
HMODULE LoadResourceModuleFromBytes(std::vector<uint8_t> blob);

}  // namespace platform
