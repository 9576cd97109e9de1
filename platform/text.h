// Text conversions shared by the portable core.
//
// Wide strings are UTF-16 where wchar_t is 16 bits (Windows) and UTF-32 where
// it is 32 bits (Linux); every function here treats them as Unicode text, so
// both builds agree on what a text means. The "ANSI" code page is the
// system's narrow code page on Windows and UTF-8 in the native build.
#ifndef PLATFORM_TEXT_H_
#define PLATFORM_TEXT_H_

#include <string>
#include <string_view>

namespace platform {

// Decodes UTF-8. Malformed sequences become U+FFFD, one per bad byte.
std::wstring utf8ToWide(std::string_view utf8);

// Encodes as UTF-8. Unpaired surrogates become U+FFFD.
std::string wideToUtf8(std::wstring_view wide);

// Decodes UTF-16 code units, joining surrogate pairs. Unpaired surrogates
// become U+FFFD where wchar_t is 32 bits and are kept as they are where it is
// 16 bits (Windows keeps them too).
std::wstring utf16ToWide(std::u16string_view utf16);

// Encodes as UTF-16 code units, splitting characters above U+FFFF into
// surrogate pairs.
std::u16string wideToUtf16(std::wstring_view wide);

// Converts to the system ANSI code page. Characters that the code page cannot
// represent become its default character.
std::string wideToAnsi(std::wstring_view wide);

// Converts from the system ANSI code page.
std::wstring ansiToWide(std::string_view ansi);

}  // namespace platform

#endif  // PLATFORM_TEXT_H_
