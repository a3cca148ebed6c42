// CMd5Checksum: the MD5 text of a file (RFC 1321), 32 lower-case hexadecimal digits.
#pragma once

#include <cstddef>

#include "platform/base/cstring.h"
#include "platform/base/types.h"

class CLogFile;
struct MD5Context;

class CMd5Checksum {
  public:
    // pLog receives the open-failure lines; it is not owned and may be NULL.
    explicit CMd5Checksum(CLogFile* pLog = NULL);
    ~CMd5Checksum();
    CMd5Checksum(const CMd5Checksum&) = delete;
    CMd5Checksum& operator=(const CMd5Checksum&) = delete;

    // Appends the MD5 text of the file to strMd5; appends nothing when no digest could be
    // computed (the file cannot be opened exclusively, reading it fails, or a digest step fails).
    void GetFileMd5(CString& strMd5, CString strFilePath);

  private:
    // Each step is false when its EVP call fails.
    bool MD5Init();
    bool MD5Update(const BYTE* data, size_t count);
    bool MD5Final(BYTE digest[16]);

    MD5Context* m_pCtx;
    CLogFile* m_pLog;
};
