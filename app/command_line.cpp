#include "app/command_line.h"

#include "platform/text.h"

std::string parameterTextOf(const wchar_t* commandLine) {
  if (commandLine == nullptr) return std::string();
  const wchar_t* at = commandLine;
  // Quotes toggle: a name in quotes may hold blanks; after the closing
  // quote the name runs on to the next blank, as the start-up code of
  // programs with a WinMain skips it.
  bool quoted = false;
  while (*at > L' ' || (*at != L'\0' && quoted)) {
    if (*at == L'"') quoted = !quoted;
    ++at;
  }
  while (*at != L'\0' && *at <= L' ') ++at;
  return platform::wideToUtf8(at);
}
