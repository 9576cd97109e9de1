// The program entry of the status monitor. The port monitor starts it for one
// print job with the streams to use on its command line:
//
//   qmxMeadowMonitor.exe pipe=\\.\pipe\NAME          (NAME.status, NAME.requests)
//   qmxMeadowMonitor.exe input=123 output=456        (inherited handle numbers)
//
// It builds the framework, wires the application listener and the two
// printer-channel components into it and runs the main loop until the
// listener (end of job) or the status reader (stream ended or failed) stops
// it. The exit code is 0 after a normal end and after any failure.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/command_line.h"
#include "app/status_event_listener.h"
#include "app/wiring.h"
#include "framework/instance_manager.h"
#include "platform/debug_output.h"

namespace {

void trace(const char* format, const char* text) {
  char line[1024];
  std::snprintf(line, sizeof(line), format, text);
  platform::debugOutput(line);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  std::int32_t exitCode = 0;
  quor::IInstanceManager* manager = nullptr;
  try {
    // The components read their parameters as UTF-8; WinMain's own command
    // line is in the ANSI code page, which may not hold the pipe's name.
    const std::string parameterText = parameterTextOf(GetCommandLineW());
    const char* parameters = parameterText.c_str();
    trace("[qmxqmxMeadow::WinMain] cmdLine: %s\n", parameters);
    manager = NewInstanceManager("version=1.0.0.0", 0, nullptr);
    if (manager == nullptr) {
      throw std::runtime_error("[QUOR::NewInstanceManager] failed to instantiate");
    }
    manager->addModule(instance);
    const quor::ClassId readerClassId = manager->getDatabase()->findClassId("TarnEventGenerator");
    const quor::ClassId writerClassId = manager->getDatabase()->findClassId("TarnListener");
    // The broker owns the listener once it is added; until then this does.
    auto listener = std::make_unique<qmxMeadowTarnListener>(instance, manager, &readerClassId,
                                                            &writerClassId);
    if (manager->addComponent(listener.get())) listener.release();
    manager->createComponent("TarnEventGenerator", parameters);
    manager->createComponent("TarnListener", parameters);
    exitCode = manager->run();
  } catch (const std::exception& failure) {
    trace("[qmxqmxMeadow::WinMain] exception caught: %s\n", failure.what());
  } catch (...) {
    platform::debugOutput("[qmxqmxMeadow::WinMain] Error! unhandled exception!\n");
  }
  delete manager;
  return exitCode;
}
