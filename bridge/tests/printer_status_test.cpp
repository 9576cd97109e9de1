#include <gtest/gtest.h>

#include "bridge/printer_status.h"
