// UTF-8 coding for the layer's own conversions (the one encoder of the layer). Internal to
// the layer: the application converts with MultiByteToWideChar and WideCharToMultiByte.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// UTF-8 <-> code points; invalid input becomes U+FFFD.
std::string Utf8FromWide(const wchar_t* text, size_t length);
std::string Utf8FromWide(const wchar_t* text);
std::wstring WideFromUtf8(const char* text, size_t length);
// UTF-16 code units (as resource files hold them); a lone surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const std::u16string& units);

}  // namespace platform
