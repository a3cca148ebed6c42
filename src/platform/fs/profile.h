// Profile (INI) files, read with the Windows rules. A file is parsed once and kept while its
// identity, size and times stay the same, so a change on disk is seen by the next call; a
// missing or unreadable file, or one that is not a regular file (a named pipe is not waited on),
// reads like an empty one.
//
// Format: "[name]" opens a section (blanks around the name trimmed, text after ']' ignored, a
// '[' line without ']' names the section by the rest of the line); "key=value" lines belong to
// the section above them, lines before the first header to none. Section and key names compare
// without regard to ASCII case. A line whose first non-blank character is ';' is a comment.
// Blanks (space, tab) around keys and values are trimmed, then one pair of matching double or
// single quotes around a value is removed. Lines end in LF or CR LF; a UTF-8 byte-order mark at
// the start is skipped.
//
// Repeats: the first section of a name is the one read, later sections of that name are
// ignored whole (they are not merged); within a section the first line of a key wins.
//
// File names are in the Windows path form; a relative name is taken from the current folder.
// Names of MAX_PATH characters or more name no file, as elsewhere in the layer.
#pragma once

#include "platform/base/types.h"

// Copies the section's lines as "key=value\0key=value\0\0" (a line without '=' appears as its
// trimmed text). Returns the characters copied without the final zero; 0 when the section is
// missing or has no lines. A list that does not fit is cut and ends in two zeros; the result is
// then size - 2. Last error as for GetPrivateProfileStringA.
DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR fileName);

// Copies the key's value, or defaultText (NULL reads as "", trailing blanks trimmed) when the
// section or the key is missing, cut to size - 1 characters and zero-terminated. Returns the
// characters copied without the zero. A NULL section lists the section names, a NULL key the
// key names of the section, as a double-zero list like GetPrivateProfileSectionA's (cut the
// same way, result size - 2).
// Last error: ERROR_SUCCESS when the value was found whole, ERROR_MORE_DATA when it was cut,
// ERROR_FILE_NOT_FOUND when the file, section or key is missing.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                               DWORD size, LPCSTR fileName);

namespace platform {

// Told of every parse of a profile file: a file that has not changed since it was parsed is
// read from the parse kept, however many values are asked of it.
class ProfileParseObserver {
  public:
    virtual ~ProfileParseObserver() = default;
    // On the thread that reads, outside the reader's lock.
    virtual void FileParsed() = 0;
};

// Installs `observer` (the caller keeps it alive meanwhile; null: none) and returns the one it
// replaces.
ProfileParseObserver* SetProfileParseObserver(ProfileParseObserver* observer);

}  // namespace platform
