#include <gtest/gtest.h>

#include "framework/properties/quor_database.h"

TEST(Smoke, Builds) {
  quor::Database db;
  vela::PropertyHolder h;
  EXPECT_TRUE(h.setInt("a", 1));
}
