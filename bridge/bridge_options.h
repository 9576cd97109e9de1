// The IPP status bridge's command line:
//
//   ipp_status_bridge [options] PRINTER-URI [-- PROGRAM [ARGUMENT...]]
//
// Portable (no operating system): the program hands it its arguments as UTF-8.
#ifndef BRIDGE_BRIDGE_OPTIONS_H_
#define BRIDGE_BRIDGE_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {

// ipp://host[:port]/path or ipps://host[:port]/path; the port is 631 when the
// URI names none (IPP's port, for both).
struct PrinterUri {
  bool secure = false;  // ipps: HTTP over TLS
  std::string host;     // without the brackets of an IPv6 address
  std::uint16_t port = 631;
  std::string path;     // "/ipp/print"; "/" when the URI has none
};

// Parses a printer URI; on failure answers false and why, in *error.
bool parsePrinterUri(std::string_view text, PrinterUri* out, std::string* error);

inline constexpr std::uint32_t kMinIntervalMs = 200;
inline constexpr std::uint32_t kMaxIntervalMs = 60000;

struct BridgeOptions {
  std::string printerUri;  // as given: what the requests carry
  PrinterUri uri;
  std::optional<std::int32_t> job;  // --job: the first job followed
  std::uint32_t jobs = 1;           // --jobs; 0: until stopped
  std::uint32_t intervalMs = 1000;
  std::string logPath;
  std::string name;  // --name; empty: the bridge makes one
  bool insecure = false;
  std::string user;                  // --user; empty: the user's name
  std::vector<std::string> program;  // after "--": path and arguments
};

// Parses the arguments after the program's name. On failure answers false
// and one line that names the option or argument at fault, in *error.
bool parseBridgeOptions(const std::vector<std::string>& arguments, BridgeOptions* out,
                        std::string* error);

}  // namespace bridge

#endif  // BRIDGE_BRIDGE_OPTIONS_H_
