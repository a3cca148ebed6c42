// CString: an 8-bit string (UTF-8 is the ANSI code page) and CStringArray.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

#include "platform/base/types.h"

#define ZELV_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

class CString {
  public:
    CString() = default;
    CString(const char* text);  // NOLINT: implicit, as the class library's
    CString(const char* text, int length);
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* text);

    int GetLength() const { return static_cast<int>(data_.size()); }
    bool IsEmpty() const { return data_.empty(); }
    void Empty() { data_.clear(); }
    const char* GetString() const { return data_.c_str(); }
    operator LPCSTR() const { return data_.c_str(); }  // NOLINT: implicit by design
    char GetAt(int index) const;
    void SetAt(int index, char ch);
    char operator[](int index) const { return GetAt(index); }

    CString& operator+=(const CString& other);
    CString& operator+=(const char* text);
    CString& operator+=(char ch);

    int Compare(const char* other) const;
    int CompareNoCase(const char* other) const;

    // printf semantics; numbered conversions ("%2$s") are allowed, as _sprintf_p allows them.
    void Format(const char* format, ...) ZELV_PRINTF(2, 3);
    void FormatV(const char* format, va_list args) ZELV_PRINTF(2, 0);
    void AppendFormat(const char* format, ...) ZELV_PRINTF(2, 3);
    void AppendFormatV(const char* format, va_list args) ZELV_PRINTF(2, 0);
    // From the current resource module; FALSE, text kept, if missing or empty. Defined with the
    // resource modules (platform/modules), so a program that links base alone cannot call it.
    BOOL LoadString(UINT id);

    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Left(int count) const;
    CString Right(int count) const;
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char ch) const;
    CString& MakeLower();
    CString& Trim();
    CString& TrimLeft();
    CString& TrimRight();
    int Replace(char oldCh, char newCh);
    int Replace(const char* oldText, const char* newText);
    int Delete(int index, int count = 1);
    int Insert(int index, const char* text);

    // A writable buffer of at least minLength characters; ReleaseBuffer(-1) takes the text
    // up to its first zero.
    char* GetBuffer(int minLength = 0);
    void ReleaseBuffer(int newLength = -1);

    const std::string& str() const { return data_; }

  private:
    std::string data_;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);
bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, const char* b);
bool operator!=(const CString& a, const CString& b);
bool operator<(const CString& a, const CString& b);

// An array of CString; indices outside it throw CInvalidArgException*, as the class library does.
class CStringArray {
  public:
    INT_PTR GetSize() const { return static_cast<INT_PTR>(items_.size()); }
    bool IsEmpty() const { return items_.empty(); }
    const CString& GetAt(INT_PTR index) const;
    CString& ElementAt(INT_PTR index);
    void SetAt(INT_PTR index, const char* text);
    INT_PTR Add(const CString& text);
    void RemoveAll() { items_.clear(); }
    const CString& operator[](INT_PTR index) const { return GetAt(index); }
    CString& operator[](INT_PTR index) { return ElementAt(index); }

  private:
    void CheckIndex(INT_PTR index) const;
    std::vector<CString> items_;
};
