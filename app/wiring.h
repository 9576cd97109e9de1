// The program's wiring: the instance manager WinMain makes, with the maker of
// every component class it registers.
//
// The framework registers the four component classes by name and class id
// ("TimerEventGenerator", "DebugListener", "TarnEventGenerator",
// "TarnListener"), but the channel components are built on the framework,
// so it cannot name their makers itself; this is where the program hands
// them over. The listener that turns status messages into dialogs, and the
// components created from the command line, are added by WinMain
// (app/main.cpp).
#ifndef APP_WIRING_H_
#define APP_WIRING_H_

#include "framework/instance_manager.h"

namespace quor {

// The makers of the channel components: the timer, the status stream reader
// and the request writer. The debug listener's is the framework's own.
ComponentMakers programComponentMakers();

}  // namespace quor

// Creates the instance manager with every one of its component classes
// registered with its maker, so that each can be created by name; null when
// it cannot be created. The options and arguments are accepted for the
// interface only.
quor::IInstanceManager* NewInstanceManager(const char* options, int argc, char** argv);

namespace quor {
using ::NewInstanceManager;
}  // namespace quor

#endif  // APP_WIRING_H_
