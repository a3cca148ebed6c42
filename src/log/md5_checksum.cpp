#include "log/md5_checksum.h"

#include <openssl/evp.h>

#include <memory>
#include <new>

#include "log/log_file.h"
#include "platform/base/exceptions.h"
#include "platform/fs/file.h"

struct MD5Context {
    EVP_MD_CTX* evp;
};

namespace {

const UINT kBlockSize = 1048576;

}  // namespace

CMd5Checksum::CMd5Checksum(CLogFile* pLog)
    : m_pCtx(new MD5Context{EVP_MD_CTX_new()}), m_pLog(pLog) {
    if (m_pCtx->evp == NULL) {
        delete m_pCtx;
        AfxThrowMemoryException();
    }
}

CMd5Checksum::~CMd5Checksum() {
    EVP_MD_CTX_free(m_pCtx->evp);
    delete m_pCtx;
}

bool CMd5Checksum::MD5Init() {
    return EVP_DigestInit_ex(m_pCtx->evp, EVP_md5(), NULL) == 1;
}

bool CMd5Checksum::MD5Update(const BYTE* data, size_t count) {
    return EVP_DigestUpdate(m_pCtx->evp, data, count) == 1;
}

bool CMd5Checksum::MD5Final(BYTE digest[16]) {
    unsigned int length = 0;
    const bool done = EVP_DigestFinal_ex(m_pCtx->evp, digest, &length) == 1 && length == 16;
    EVP_MD_CTX_reset(m_pCtx->evp);
    return done;
}

void CMd5Checksum::GetFileMd5(CString& strMd5, CString strFilePath) {
    CFile file;
    CFileException error;
    if (!file.Open(strFilePath, CFile::modeReadWrite, &error)) {
        if (m_pLog != NULL) {
            CString line;
            line.Format("Open file failed, err=%d", error.m_cause);
            m_pLog->WriteLog(line, FALSE, LOG_INFO);
            line.Format("Open file failed, OS err=%d", static_cast<int>(error.m_lOsError));
            m_pLog->WriteLog(line, FALSE, LOG_INFO);
        }
        return;
    }

    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kBlockSize]());
    if (!buffer) {
        AfxThrowMemoryException();
    }

    // A read failure ends the computation here rather than in the dispatcher: its caller reads
    // an unchanged text as "no digest", the same answer as a file it could not open, and the
    // file and the buffer are released on the way out either way.
    BYTE digest[16];
    try {
        const ULONGLONG length = file.GetLength();
        const ULONGLONG blocks = length / kBlockSize;
        const UINT remainder = static_cast<UINT>(length % kBlockSize);
        // A failing step leaves the digest unfilled; the file then has none, as when a read
        // fails.
        if (!MD5Init()) {
            return;
        }
        for (ULONGLONG k = 0; k < blocks; ++k) {
            file.Seek(static_cast<LONGLONG>(k * kBlockSize), CFile::begin);
            // A short read would hash stale buffer bytes as if they were the file's.
            if (file.Read(buffer.get(), kBlockSize) != kBlockSize) {
                return;
            }
            if (!MD5Update(buffer.get(), kBlockSize)) {
                return;
            }
        }
        if (remainder != 0) {
            file.Seek(static_cast<LONGLONG>(blocks * kBlockSize), CFile::begin);
            if (file.Read(buffer.get(), remainder) != remainder) {
                return;
            }
            if (!MD5Update(buffer.get(), remainder)) {
                return;
            }
        }
        if (!MD5Final(digest)) {
            return;
        }
    } catch (CFileException* e) {
        e->Delete();
        return;
    }

    for (BYTE byte : digest) {
        strMd5.AppendFormat("%02x", static_cast<unsigned>(byte));
    }
    buffer.reset();
    // The file was only read: a failing close loses nothing, and the digest stands.
    try {
        file.Close();
    } catch (CFileException* e) {
        e->Delete();
    }
}
