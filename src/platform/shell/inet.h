// The system's internet proxy setting, taken from the conventional proxy variables of the
// environment and given in the Windows form.
//
// http_proxy, https_proxy and all_proxy are read, each in lower case first, then upper case (an
// empty value counts as unset). Of each value only "host:port" (or the host alone) is kept: the
// scheme, any "user:password@" and any path are dropped. One proxy for both protocols (or
// all_proxy alone) gives the single "host:port"; otherwise "http=host:port https=host:port",
// each protocol from its own variable or else from all_proxy. An all_proxy with a socks scheme
// is a SOCKS proxy and can carry no HTTP request: it gives a "socks=host:port" entry and fills
// no HTTP protocol. no_proxy (or NO_PROXY), a comma list, becomes the ';' list of bypasses.
#pragma once

#include <string>

#include "platform/base/types.h"

#define INTERNET_OPTION_PROXY 38

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3

#define ERROR_INTERNET_INVALID_OPTION 12009L

typedef struct {
    DWORD dwAccessType;
    LPCSTR lpszProxy;        // NULL for a direct connection
    LPCSTR lpszProxyBypass;  // NULL when no bypass list is set
} INTERNET_PROXY_INFO, *LPINTERNET_PROXY_INFO;

// Only the process-wide setting exists: the handle must be NULL (else ERROR_INVALID_HANDLE) and
// the option INTERNET_OPTION_PROXY (else ERROR_INTERNET_INVALID_OPTION). The record and its
// strings go into the caller's buffer, the strings right after the record. When *bufferLength
// is too small, or buffer is NULL: FALSE, ERROR_INSUFFICIENT_BUFFER and *bufferLength set to the
// size needed. On success *bufferLength is the size used. A NULL bufferLength is
// ERROR_INVALID_PARAMETER.
BOOL InternetQueryOptionA(HINTERNET internet, DWORD option, LPVOID buffer, LPDWORD bufferLength);

namespace platform {

// Where InternetQueryOptionA takes the setting from.
class ProxySettingSource {
  public:
    virtual ~ProxySettingSource() = default;
    // The proxy and bypass texts in the Windows form (empty: none), or the error that the query
    // fails with.
    virtual DWORD Read(std::string* proxy, std::string* bypass) = 0;
};

// The proxy variables of the environment, as described above.
ProxySettingSource& EnvironmentProxySetting();

// Installs `source` (the caller keeps it alive meanwhile; null: the environment's) and returns
// the one it replaces.
ProxySettingSource* SetProxySettingSource(ProxySettingSource* source);

}  // namespace platform
