// MultiByteToWideChar and WideCharToMultiByte: the ANSI code page is UTF-8 and a WCHAR holds
// one code point, so both directions are UTF-8 coding.
#include <cstring>

#include "platform/base/lasterror.h"
#include "platform/base/textconv.h"
#include "platform/base/textconv_internal.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

bool IsAnsiCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP;
}

bool IsValidCodePoint(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// Decodes one character at text[at], advancing `at`. An ill-formed sequence gives false and
// skips its longest valid beginning (at least one byte), as Unicode recommends, so that one
// broken character costs one replacement and the next character is kept.
bool DecodeOne(const unsigned char* text, size_t length, size_t& at, char32_t& out) {
    const unsigned char lead = text[at];
    if (lead < 0x80) {
        out = lead;
        ++at;
        return true;
    }
    int follow = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the first continuation byte
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        value = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        value = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        ++at;
        return false;
    }
    size_t next = at + 1;
    for (int i = 0; i < follow; ++i, ++next) {
        if (next >= length || text[next] < low || text[next] > high) {
            at = next;
            return false;
        }
        value = (value << 6) | (text[next] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    at = next;
    out = value;
    return true;
}

void EncodeOne(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Both return false on the first invalid character when `strict`.
bool Decode(const char* text, size_t length, bool strict, std::wstring& out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t at = 0; at < length;) {
        char32_t c = 0;
        if (!DecodeOne(bytes, length, at, c)) {
            if (strict)
                return false;
            c = kReplacement;
        }
        out += static_cast<wchar_t>(c);
    }
    return true;
}

// `replacement` stands in for a value that is no code point; `replaced` tells whether one did.
bool Encode(const wchar_t* text, size_t length, bool strict, const std::string& replacement,
            std::string& out, bool* replaced) {
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<char32_t>(static_cast<uint32_t>(text[i]));
        if (IsValidCodePoint(c)) {
            EncodeOne(c, out);
            continue;
        }
        if (strict)
            return false;
        out += replacement;
        if (replaced)
            *replaced = true;
    }
    return true;
}

// The shared size protocol: 0 asks for the size; too small a buffer gets nothing.
template <typename Char, typename Text>
int Deliver(const Text& converted, Char* dst, int dstLen) {
    if (converted.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(converted.size());
    if (dstLen == 0)
        return needed;
    if (needed > dstLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, converted.data(), converted.size() * sizeof(Char));
    return needed;
}

template <typename Char>
bool ValidBuffers(const Char* src, int srcLen, const void* dst, int dstLen) {
    return src != nullptr && srcLen != 0 && srcLen >= -1 && dstLen >= 0 &&
           (dstLen == 0 || dst != nullptr);
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                        int dstLen) {
    const bool ansi = IsAnsiCodePage(codePage);
    if (!ansi && codePage != CP_UTF8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD allowed =
        ansi ? (MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)
             : MB_ERR_INVALID_CHARS;
    if ((flags & ~allowed) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (!ValidBuffers(src, srcLen, dst, dstLen)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    std::wstring converted;
    if (!Decode(src, length, (flags & MB_ERR_INVALID_CHARS) != 0, converted)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return Deliver(converted, dst, dstLen);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
    const bool ansi = IsAnsiCodePage(codePage);
    if (!ansi && codePage != CP_UTF8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // A UTF-8 target has no default character: it takes U+FFFD.
    if (!ansi && (defaultChar != nullptr || usedDefaultChar != nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0 && !ansi) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (!ValidBuffers(src, srcLen, dst, dstLen)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length = srcLen == -1 ? std::wcslen(src) + 1 : static_cast<size_t>(srcLen);
    std::string replacement;
    if (defaultChar != nullptr && *defaultChar != '\0') {
        replacement.assign(1, *defaultChar);
    } else {
        replacement = kReplacementUtf8;
    }
    bool replaced = false;
    std::string converted;
    if (!Encode(src, length, (flags & WC_ERR_INVALID_CHARS) != 0, replacement, converted,
                &replaced)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (usedDefaultChar)
        *usedDefaultChar = replaced ? TRUE : FALSE;
    return Deliver(converted, dst, dstLen);
}

namespace platform {

std::string Utf8FromWide(const wchar_t* text, size_t length) {
    std::string out;
    if (text)
        Encode(text, length, false, kReplacementUtf8, out, nullptr);
    return out;
}

std::string Utf8FromWide(const wchar_t* text) {
    return text ? Utf8FromWide(text, std::wcslen(text)) : std::string();
}

std::wstring WideFromUtf8(const char* text, size_t length) {
    std::wstring out;
    if (text)
        Decode(text, length, false, out);
    return out;
}

std::string Utf8FromUtf16(const std::u16string& units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (!IsValidCodePoint(c)) {
            c = kReplacement;  // a lone surrogate
        }
        EncodeOne(c, out);
    }
    return out;
}

}  // namespace platform
