// Kernel objects the application waits on: events, the named mutex, handle duplication and
// WaitForSingleObject. Thread handles come from thread.h and are waited on the same way.
#pragma once

#include "platform/base/types.h"

#ifndef ERROR_NOT_OWNER
#define ERROR_NOT_OWNER 288L
#endif

// An event object; the name is ignored (events are never shared between processes here).
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// WAIT_OBJECT_0 when the object was signalled within `milliseconds` (INFINITE: no limit),
// WAIT_TIMEOUT when not, WAIT_FAILED with ERROR_INVALID_HANDLE for a handle that is not open.
// On the user-interface thread the wait runs in short slices and serves the wait pump between
// them (platform/kernel/wait_pump.h), so that workers' requests to that thread are answered
// meanwhile.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Closes any kernel handle of the layer (events, threads, mutexes, processes).
BOOL CloseHandle(HANDLE handle);

// The pseudo-handle of the calling process; it needs no closing.
HANDLE GetCurrentProcess();

// Within this process only: `sourceProcess` and `targetProcess` must name the current process.
// The new handle refers to the same object and stays valid after the source is closed.
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE sourceHandle, HANDLE targetProcess,
                     LPHANDLE targetHandle, DWORD desiredAccess, BOOL inheritHandle, DWORD options);

// With a name: a mutex whose existence is shared by every process of the user through a lock
// file. Another holder of the name (in this or another process) gives a handle and
// ERROR_ALREADY_EXISTS; otherwise the last error is 0. The name is released when its last
// handle closes or the process ends in any way. The lock file lies in the first folder that
// only this user can change: the state folder (beside the registry), the runtime folder, the
// temporary folder. NULL
// with the last error set when there is none or the lock file cannot be opened. Ownership (waits,
// ReleaseMutex) works between threads of this process.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
// FALSE with ERROR_NOT_OWNER when the calling thread does not own the mutex.
BOOL ReleaseMutex(HANDLE mutex);
