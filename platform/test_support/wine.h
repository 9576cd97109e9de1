// Where a test relies on what Wine does and Windows does not (or the other
// way round), it asks here and says so: a run on Windows then reports what it
// skipped instead of failing on an assumption, as Wine's own conformance
// tests mark the platforms' differences.
#ifndef PLATFORM_TEST_SUPPORT_WINE_H_
#define PLATFORM_TEST_SUPPORT_WINE_H_

namespace testsupport {

// Whether the test runs under Wine (ntdll exports wine_get_version).
bool onWine();

}  // namespace testsupport

// Skips the rest of the test, with the reason, unless it runs under Wine.
#define SKIP_UNLESS_ON_WINE(reason)                                     \
  do {                                                                  \
    if (!::testsupport::onWine()) GTEST_SKIP() << "Wine only: " reason; \
  } while (false)

#endif  // PLATFORM_TEST_SUPPORT_WINE_H_
