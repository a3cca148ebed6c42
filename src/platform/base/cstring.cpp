#include "platform/base/cstring.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/base/exceptions.h"

CString::CString(const char* text) : data_(text ? text : "") {}
CString::CString(const char* text, int length)
    : data_(text && length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string()) {}

CString& CString::operator=(const char* text) {
    data_ = text ? text : "";
    return *this;
}

char CString::GetAt(int index) const {
    if (index < 0 || index >= GetLength())
        AfxThrowInvalidArgException();
    return data_[static_cast<size_t>(index)];
}

void CString::SetAt(int index, char ch) {
    if (index < 0 || index >= GetLength())
        AfxThrowInvalidArgException();
    data_[static_cast<size_t>(index)] = ch;
}

CString& CString::operator+=(const CString& other) {
    data_ += other.data_;
    return *this;
}
CString& CString::operator+=(const char* text) {
    if (text)
        data_ += text;
    return *this;
}
CString& CString::operator+=(char ch) {
    data_ += ch;
    return *this;
}

int CString::Compare(const char* other) const {
    return std::strcmp(data_.c_str(), other ? other : "");
}
int CString::CompareNoCase(const char* other) const {
    return strcasecmp(data_.c_str(), other ? other : "");
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    CString formatted;
    formatted.AppendFormatV(format, args);
    data_.swap(formatted.data_);
}

void CString::AppendFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
}

void CString::AppendFormatV(const char* format, va_list args) {
    if (format == nullptr)
        return;
    va_list sizing;
    va_copy(sizing, args);
    const int needed = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (needed <= 0)
        return;
    // Formatted apart from the text: an argument may point into it, and growing or writing
    // behind it in place would move or overwrite what the argument still reads.
    std::string formatted(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(formatted.data(), formatted.size(), format, args);
    formatted.pop_back();
    data_ += formatted;
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const {
    first = std::max(first, 0);
    count = std::max(count, 0);
    if (first >= GetLength())
        return CString();
    count = std::min(count, GetLength() - first);
    return CString(data_.c_str() + first, count);
}

CString CString::Left(int count) const {
    return Mid(0, count);
}

CString CString::Right(int count) const {
    count = std::clamp(count, 0, GetLength());
    return Mid(GetLength() - count, count);
}

int CString::Find(char ch, int start) const {
    if (start < 0 || start >= GetLength())
        return -1;
    const size_t at = data_.find(ch, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char* sub, int start) const {
    if (sub == nullptr || start < 0 || start > GetLength())
        return -1;
    const size_t at = data_.find(sub, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const {
    const size_t at = data_.rfind(ch);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString& CString::MakeLower() {
    for (char& c : data_)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return *this;
}

namespace {
bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
}  // namespace

CString& CString::TrimLeft() {
    size_t i = 0;
    while (i < data_.size() && IsBlank(data_[i]))
        ++i;
    data_.erase(0, i);
    return *this;
}

CString& CString::TrimRight() {
    size_t n = data_.size();
    while (n > 0 && IsBlank(data_[n - 1]))
        --n;
    data_.resize(n);
    return *this;
}

CString& CString::Trim() {
    return TrimRight().TrimLeft();
}

int CString::Replace(char oldCh, char newCh) {
    int count = 0;
    for (char& c : data_) {
        if (c == oldCh) {
            c = newCh;
            ++count;
        }
    }
    return count;
}

int CString::Replace(const char* oldText, const char* newText) {
    if (oldText == nullptr || *oldText == '\0')
        return 0;
    const std::string from(oldText);
    const std::string to(newText ? newText : "");
    int count = 0;
    for (size_t at = data_.find(from); at != std::string::npos;
         at = data_.find(from, at + to.size())) {
        data_.replace(at, from.size(), to);
        ++count;
    }
    return count;
}

int CString::Delete(int index, int count) {
    // As Insert does, a negative index counts as the start.
    index = std::max(index, 0);
    if (index < GetLength() && count > 0) {
        data_.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    }
    return GetLength();
}

int CString::Insert(int index, const char* text) {
    index = std::clamp(index, 0, GetLength());
    if (text)
        data_.insert(static_cast<size_t>(index), text);
    return GetLength();
}

char* CString::GetBuffer(int minLength) {
    if (minLength > GetLength())
        data_.resize(static_cast<size_t>(minLength), '\0');
    return &data_[0];
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        data_.resize(std::strlen(data_.c_str()));
    } else {
        data_.resize(static_cast<size_t>(newLength));
    }
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, char b) {
    CString r(a);
    r += b;
    return r;
}
bool operator==(const CString& a, const CString& b) {
    return a.str() == b.str();
}
bool operator==(const CString& a, const char* b) {
    return a.Compare(b) == 0;
}
bool operator!=(const CString& a, const CString& b) {
    return !(a == b);
}
bool operator<(const CString& a, const CString& b) {
    return a.str() < b.str();
}

void CStringArray::CheckIndex(INT_PTR index) const {
    if (index < 0 || index >= GetSize())
        AfxThrowInvalidArgException();
}

const CString& CStringArray::GetAt(INT_PTR index) const {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)];
}

CString& CStringArray::ElementAt(INT_PTR index) {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)];
}

void CStringArray::SetAt(INT_PTR index, const char* text) {
    ElementAt(index) = text;
}

INT_PTR CStringArray::Add(const CString& text) {
    items_.push_back(text);
    return GetSize() - 1;
}
