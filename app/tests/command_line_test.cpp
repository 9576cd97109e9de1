// The parameter text of the program: its wide command line without the
// program's name, as UTF-8.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, TheProgramNameGoesAsTheSystemRemovesItAndTheRestStaysUtf8) {
  struct Case {
    const char* what;
    const wchar_t* commandLine;
    const char* parameters;
  };
  const Case cases[] = {
      {"a quoted path with blanks",
       L"\"C:\\Program Files\\KRT\\qmxMeadowMonitor.exe\" pipe=\\\\.\\pipe\\x",
       "pipe=\\\\.\\pipe\\x"},
      {"a bare name, blanks and a tab after it", L"monitor.exe  \tinput=1 output=2",
       "input=1 output=2"},
      {"a quote inside the name runs on to its blank", L"C:\\a\" b\"\\m.exe pipe=p", "pipe=p"},
      {"letters beyond every code page",
       L"m.exe pipe=\\\\.\\pipe\\B\u00fcro-caf\u00e9-\u6253\U0001F5A8",
       "pipe=\\\\.\\pipe\\B\xC3\xBCro-caf\xC3\xA9-\xE6\x89\x93\xF0\x9F\x96\xA8"},
      {"the name alone", L"\"m.exe\"", ""},
      {"an unclosed quote takes everything", L"\"m.exe pipe=p", ""},
      {"nothing at all", L"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.parameters, parameterTextOf(c.commandLine)) << c.what;
  }
  EXPECT_EQ("", parameterTextOf(nullptr));
}

}  // namespace
