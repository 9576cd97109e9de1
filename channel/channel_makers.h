// The program's wiring moved to app/wiring.h, beside the program entry; this
// name remains only for sources that still include it.
#ifndef CHANNEL_CHANNEL_MAKERS_H_
#define CHANNEL_CHANNEL_MAKERS_H_

#include "app/wiring.h"

#endif  // CHANNEL_CHANNEL_MAKERS_H_
