#include "bridge/bridge_options.h"

namespace bridge {
namespace {

// A decimal number without sign, space or suffix, within [low, high].
bool parseNumber(std::string_view text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t* out) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool parsePrinterUri(std::string_view text, PrinterUri* out, std::string* error) {
  PrinterUri uri;
  std::string_view rest;
  if (startsWith(text, "ipp://")) {
    rest = text.substr(6);
  } else if (startsWith(text, "ipps://")) {
    uri.secure = true;
    rest = text.substr(7);
  } else {
    *error = "PRINTER-URI must be ipp://host[:port]/path or ipps://host[:port]/path";
    return false;
  }
  const std::size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  uri.path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
  if (authority.find('@') != std::string_view::npos) {
    *error = "PRINTER-URI: a user name or password in the URI is not supported";
    return false;
  }
  std::string_view port;
  if (startsWith(authority, "[")) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      *error = "PRINTER-URI: the IPv6 address has no closing ']'";
      return false;
    }
    uri.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') {
        *error = "PRINTER-URI: unexpected text after the IPv6 address";
        return false;
      }
      port = after.substr(1);
    }
  } else {
    const std::size_t colon = authority.find(':');
    uri.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (uri.host.empty()) {
    *error = "PRINTER-URI has no host";
    return false;
  }
  for (char c : uri.path) {
    // Control characters and spaces would end up in the request line.
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) {
      *error = "PRINTER-URI: the path has a space or a control character";
      return false;
    }
  }
  if (!port.empty() || authority.back() == ':') {
    std::uint64_t number = 0;
    if (!parseNumber(port, 1, 65535, &number)) {
      *error = "PRINTER-URI: the port must be a number from 1 to 65535";
      return false;
    }
    uri.port = static_cast<std::uint16_t>(number);
  }
  *out = std::move(uri);
  return true;
}

bool parseBridgeOptions(const std::vector<std::string>& arguments, BridgeOptions* out,
                        std::string* error) {
  BridgeOptions options;
  std::size_t i = 0;
  bool programFollows = false;
  for (; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--") {
      ++i;
      programFollows = true;
      break;
    }
    if (arg == "--insecure") {
      options.insecure = true;
      continue;
    }
    if (arg == "--job" || arg == "--jobs" || arg == "--interval" || arg == "--log" ||
        arg == "--name" || arg == "--user") {
      if (i + 1 >= arguments.size()) {
        *error = arg + " needs a value";
        return false;
      }
      const std::string& value = arguments[++i];
      std::uint64_t number = 0;
      if (arg == "--job") {
        if (!parseNumber(value, 1, 0x7fffffff, &number)) {
          *error = "--job: \"" + value + "\" is not a job id (a number from 1 to 2147483647)";
          return false;
        }
        options.job = static_cast<std::int32_t>(number);
      } else if (arg == "--jobs") {
        if (!parseNumber(value, 0, 1000000, &number)) {
          *error = "--jobs: \"" + value + "\" is not a number from 0 to 1000000";
          return false;
        }
        options.jobs = static_cast<std::uint32_t>(number);
      } else if (arg == "--interval") {
        if (!parseNumber(value, kMinIntervalMs, kMaxIntervalMs, &number)) {
          *error = "--interval: \"" + value + "\" is not a number of milliseconds from 200 to 60000";
          return false;
        }
        options.intervalMs = static_cast<std::uint32_t>(number);
      } else if (value.empty()) {
        *error = arg + " needs a value";
        return false;
      } else if (arg == "--log") {
        options.logPath = value;
      } else if (arg == "--name") {
        // The name ends up in \\.\pipe\NAME.status: no path separators.
        if (value.find_first_of("\\/") != std::string::npos) {
          *error = "--name: \"" + value + "\" may not hold a '\\' or '/'";
          return false;
        }
        options.name = value;
      } else {
        options.user = value;
      }
      continue;
    }
    if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    }
    if (!options.printerUri.empty()) {
      *error = "unexpected argument " + arg + " (a PROGRAM comes after --)";
      return false;
    }
    if (!parsePrinterUri(arg, &options.uri, error)) return false;
    options.printerUri = arg;
  }
  if (options.printerUri.empty()) {
    *error = "PRINTER-URI is missing";
    return false;
  }
  options.program.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
  if (programFollows && options.program.empty()) {
    *error = "-- must be followed by a PROGRAM";
    return false;
  }
  *out = std::move(options);
  return true;
}

}  // namespace bridge
