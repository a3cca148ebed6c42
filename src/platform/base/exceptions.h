// The class library's exception objects: thrown as pointers, deleted by the catcher.
#pragma once

#include "platform/base/types.h"

class CException {
  public:
    virtual ~CException() = default;
    // Deletes the object, as the class library's catch sites do.
    void Delete() { delete this; }
    // A one-line description for the failure box of the dispatcher.
    virtual BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, UINT* helpContext = nullptr) const;
};

class CMemoryException : public CException {
  public:
    BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, UINT* helpContext = nullptr) const override;
};

// An index outside a collection, or another invalid argument to a class-library call.
class CInvalidArgException : public CException {
  public:
    BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, UINT* helpContext = nullptr) const override;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowInvalidArgException();
