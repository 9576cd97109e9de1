// IPP over HTTP with WinHTTP: one POST of application/ipp per operation, the
// response body read within the codec's size limit and decoded.
//
// Connecting, sending and receiving each give up after 5 s, so a printer that
// stops answering costs the poll loop at most that long per step. ipps
// certificates are verified unless the client is opened insecure (a
// self-signed printer). One thread uses a client at a time.
#ifndef BRIDGE_IPP_CLIENT_H_
#define BRIDGE_IPP_CLIENT_H_

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge_options.h"
#include "bridge/ipp_codec.h"
#include "platform/scoped_handle.h"

namespace bridge {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle nullHandle() { return nullptr; }
  static bool isValid(Handle handle) { return handle != nullptr; }
  static void close(Handle handle) { WinHttpCloseHandle(handle); }
};
using ScopedInternetHandle = platform::GenericScopedHandle<InternetHandleTraits>;

inline constexpr int kHttpTimeoutMs = 5000;

class IppClient {
 public:
  // Opens a session for the printer; false (and why) when WinHTTP refuses.
  bool open(const PrinterUri& uri, bool insecure, std::string* error);

  // Posts one request and decodes the answer. False when there is no decoded
  // response: no connection, a timeout, an HTTP status other than 200, a body
  // cut short or above the size limit, or one the codec refuses; *error then
  // says which, in one line. An IPP status other than successful-ok is a
  // response (the caller looks at it).
  bool exchange(const std::vector<std::uint8_t>& request, ipp::Response* response,
                std::string* error);

 private:
  PrinterUri uri_;
  bool insecure_ = false;
  ScopedInternetHandle session_;
  ScopedInternetHandle connection_;
};

}  // namespace bridge

#endif  // BRIDGE_IPP_CLIENT_H_
