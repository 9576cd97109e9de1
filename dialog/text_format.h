// The one formatter of the status dialog's texts.
//
// Dialog texts come from string tables, strings files and resource modules
// that anyone can install beside the program, so a text is never handed to a
// printf-style function as its format. format() knows exactly one
// placeholder, "%s", which takes the next argument (a missing argument is
// empty); "%%" gives "%"; every other "%" is copied as it stands. Arguments
// are copied as they are, never scanned for placeholders.
//
// Every result fits a buffer of kLimit bytes with its terminator, and is cut
// on a character boundary of the text's code page, so a double-byte
// character (code page 936, for instance) is never split.
//
// Pure functions of their arguments: safe from any thread. The header needs
// no <windows.h>, so the formatter also builds natively (tests, fuzzing).
#ifndef DIALOG_TEXT_FORMAT_H_
#define DIALOG_TEXT_FORMAT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace textformat {

// Bytes of a formatted text, including its terminator.
inline constexpr std::size_t kLimit = 1024;

// The number of bytes of the character whose first byte is `lead` (1 or 2 in
// a double-byte code page, 1 to 4 in UTF-8). Never 0.
using CharLength = std::size_t (*)(unsigned char lead);

// The process ANSI code page: on Windows IsDBCSLeadByte (UTF-8 lengths when
// the code page is UTF-8); natively UTF-8, the native build's "ANSI" code
// page.
std::size_t ansiCharLength(unsigned char lead);
// UTF-8 sequence lengths by their first byte; a stray continuation byte or an
// invalid lead counts as one byte.
std::size_t utf8CharLength(unsigned char lead);

// The length of the longest prefix of `text` that is made of whole characters
// and has at most `maxBytes` bytes. Characters are walked from the start, so
// a trail byte is never taken for a lead byte.
std::size_t wholeCharacterPrefix(std::string_view text, std::size_t maxBytes,
                                 CharLength charLength = ansiCharLength);

// Substitutes the arguments for the "%s" placeholders of `format`, in order,
// and cuts the result to kLimit - 1 bytes on a character boundary. The format
// is walked by characters, so the trail byte of a double-byte character is
// never read as "%". When `cut` is given it tells whether anything was cut
// off.
std::string format(std::string_view format, const std::vector<std::string_view>& arguments,
                   CharLength charLength = ansiCharLength, bool* cut = nullptr);

}  // namespace textformat

#endif  // DIALOG_TEXT_FORMAT_H_
