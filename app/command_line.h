// The parameter text the program hands its components: its command line
// without the program's name, as UTF-8.
//
// The narrow command line WinMain receives is in the ANSI code page, which
// cannot hold every name a port monitor may give its pipes (a printer called
// "Büro" under a Chinese code page, say): such letters arrive as '?' or as
// bytes that are no UTF-8, and the components, which read UTF-8, would open
// a pipe that does not exist. The wide command line holds the name as given.
#ifndef APP_COMMAND_LINE_H_
#define APP_COMMAND_LINE_H_

#include <string>

// The arguments of a whole command line (GetCommandLineW's text), as UTF-8:
// the program's name is removed as the system does for WinMain (a name in
// double quotes runs to its closing quote, any other to the first blank or
// control character; the blanks after it go too). Null gives "".
std::string parameterTextOf(const wchar_t* commandLine);

#endif  // APP_COMMAND_LINE_H_
