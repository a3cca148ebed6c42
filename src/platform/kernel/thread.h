// Worker threads started the class library's way: AfxBeginThread and its CWinThread object.
#pragma once

#include "platform/base/types.h"

typedef UINT (*AFX_THREADPROC)(LPVOID);

// The exit code of a thread whose procedure let an exception escape.
#define THREAD_EXIT_CODE_UNCAUGHT 0xFFFFFFFFu

class CWinThread {
  public:
    CWinThread() = default;
    // Closes m_hThread when the object still holds it.
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    DWORD ResumeThread();
    operator HANDLE() const { return m_hThread; }

    // Waitable (signalled once the thread has ended) and usable with GetExitCodeThread.
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    // With TRUE the object is deleted, and m_hThread closed, after its thread has ended. To
    // change it, start the thread with CREATE_SUSPENDED and set it before ResumeThread.
    BOOL m_bAutoDelete = TRUE;
};

// Starts `proc(param)` on a new thread, at once or, with CREATE_SUSPENDED, at ResumeThread.
// Returns the thread object, or nullptr with the last error set when no thread could be
// started. An exception that escapes `proc` ends only that thread, with exit code
// THREAD_EXIT_CODE_UNCAUGHT (a CException* is deleted). The priority is not applied; a stack
// size larger than the system's default is.
//
// The object of an auto-deleting thread stays alive, with m_hThread open, until the same
// caller's next AfxBeginThread (or the caller's end, or the process's) after its thread has
// ended: a caller can always read m_hThread right after the return, however fast the thread
// is. A handle the caller duplicated from it stays valid until the caller closes it.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0,
                           LPSECURITY_ATTRIBUTES attributes = nullptr);

// STILL_ACTIVE while the thread runs, then the value its procedure returned.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// The suspend count before the call, or (DWORD)-1 with the last error set.
DWORD ResumeThread(HANDLE thread);

namespace platform {

// Asked before AfxBeginThread starts a thread: a refused start fails as when the system has no
// room for a thread (ERROR_NOT_ENOUGH_MEMORY).
class ThreadStartGate {
  public:
    virtual ~ThreadStartGate() = default;
    virtual bool MayStart() = 0;
};

// Installs `gate` (the caller keeps it alive meanwhile; null: every start may go ahead) and
// returns the one it replaces.
ThreadStartGate* SetThreadStartGate(ThreadStartGate* gate);

}  // namespace platform
