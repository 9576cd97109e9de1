// The hello-world programs the monitor's start-up is measured against, both
// linked as the monitor is (static runtime, GUI subsystem). Each opens the
// status stream named on its command line (pipe=NAME opens NAME.status) first
// thing in WinMain, which is the moment the bench times, and ends.
//
// bench_hello uses kernel32 alone. bench_hello_gui (BENCH_HELLO_GUI) is the
// classic Windows hello world: it also says hello in a window, so user32 and
// gdi32 are loaded and initialised at process start, as in every GUI
// program.
#include <windows.h>

#include <cstring>
#include <string>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  const char* pipe = commandLine != nullptr ? std::strstr(commandLine, "pipe=") : nullptr;
  if (pipe == nullptr) return 2;
  std::string name(pipe + 5);
  name = name.substr(0, name.find(' ')) + ".status";
  HANDLE stream = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (stream == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(stream);
#ifdef BENCH_HELLO_GUI
  HWND window = CreateWindowExA(0, "STATIC", "Hello, world!", WS_POPUP, 0, 0, 200, 50, nullptr,
                                nullptr, instance, nullptr);
  if (window != nullptr) DestroyWindow(window);
#else
  (void)instance;
#endif
  return 0;
}
