#include "bridge/ipp_client.h"

#include "platform/text.h"

namespace bridge {
namespace {

std::string describeError(const char* what, DWORD error) {
  std::string text = what;
  switch (error) {
    // Wine's WinHTTP passes some socket errors on as they are.
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      text += ": no answer within 5 s";
      break;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      text += ": cannot connect";
      break;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      text += ": the connection was reset or cut";
      break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      text += ": the host name is not known";
      break;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      text += ": the printer's certificate does not verify (--insecure accepts it)";
      break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      text += ": not a valid HTTP response";
      break;
    default:
      break;
  }
  return text + " (error " + std::to_string(error) + ")";
}

bool queryNumber(HINTERNET request, DWORD what, DWORD* value) {
  DWORD size = sizeof *value;
  return WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             value, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
}

}  // namespace

bool IppClient::open(const PrinterUri& uri, bool insecure, std::string* error) {
  uri_ = uri;
  insecure_ = insecure;
  session_.reset(WinHttpOpen(L"ipp_status_bridge/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_) {
    *error = describeError("cannot open an HTTP session", GetLastError());
    return false;
  }
  WinHttpSetTimeouts(session_.get(), kHttpTimeoutMs, kHttpTimeoutMs, kHttpTimeoutMs,
                     kHttpTimeoutMs);
  connection_.reset(
      WinHttpConnect(session_.get(), platform::utf8ToWide(uri.host).c_str(), uri.port, 0));
  if (!connection_) {
    *error = describeError("cannot address the printer", GetLastError());
    return false;
  }
  return true;
}

bool IppClient::exchange(const std::vector<std::uint8_t>& body, ipp::Response* response,
                         std::string* error) {
  const ScopedInternetHandle request(WinHttpOpenRequest(
      connection_.get(), L"POST", platform::utf8ToWide(uri_.path).c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, uri_.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    *error = describeError("cannot make the request", GetLastError());
    return false;
  }
  WinHttpSetTimeouts(request.get(), kHttpTimeoutMs, kHttpTimeoutMs, kHttpTimeoutMs,
                     kHttpTimeoutMs);
  // The wait for the response's headers has a timeout of its own (90 s by
  // default) that the receive timeout above does not shorten: a printer that
  // takes the request and never answers would hold the poll that long.
  DWORD headersTimeout = kHttpTimeoutMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeout,
                   sizeof headersTimeout);
  if (uri_.secure && insecure_) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  const wchar_t kHeaders[] = L"Content-Type: application/ipp\r\n";
  if (!WinHttpSendRequest(request.get(), kHeaders, static_cast<DWORD>(-1),
                          const_cast<std::uint8_t*>(body.data()), static_cast<DWORD>(body.size()),
                          static_cast<DWORD>(body.size()), 0)) {
    *error = describeError("request not sent", GetLastError());
    return false;
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    *error = describeError("no response", GetLastError());
    return false;
  }
  DWORD status = 0;
  if (!queryNumber(request.get(), WINHTTP_QUERY_STATUS_CODE, &status)) {
    *error = describeError("no HTTP status", GetLastError());
    return false;
  }
  if (status != 200) {
    *error = "HTTP status " + std::to_string(status);
    return false;
  }
  ipp::ResponseBuffer buffer;
  DWORD announced = 0;
  const bool hasLength = queryNumber(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, &announced);
  if (hasLength && !buffer.expect(announced)) {
    *error = "response of " + std::to_string(announced) + " bytes refused (at most " +
             std::to_string(ipp::kMaxResponseBytes) + ")";
    return false;
  }
  std::uint8_t chunk[16384];
  for (;;) {
    DWORD got = 0;
    if (!WinHttpReadData(request.get(), chunk, sizeof chunk, &got)) {
      *error = describeError(
          ("response cut after " + std::to_string(buffer.body().size()) + " bytes").c_str(),
          GetLastError());
      return false;
    }
    if (got == 0) break;
    if (!buffer.append(chunk, got)) {
      // The rest is never read: closing the request drops the connection.
      *error = "response larger than " + std::to_string(ipp::kMaxResponseBytes) +
               " bytes refused";
      return false;
    }
  }
  if (hasLength && buffer.body().size() != announced) {
    *error = "response of " + std::to_string(buffer.body().size()) +
             " bytes where Content-Length says " + std::to_string(announced);
    return false;
  }
  ipp::DecodeResult decoded = ipp::decodeResponse(buffer.body());
  if (!decoded.ok()) {
    *error = "response refused: " + decoded.message;
    return false;
  }
  *response = std::move(decoded.response);
  return true;
}

}  // namespace bridge
