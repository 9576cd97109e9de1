#include <gtest/gtest.h>

#include "bridge/ipp_codec.h"
