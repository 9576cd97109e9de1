// The bridge's command line: what a user types, and the one-line refusals.
#include "bridge/bridge_options.h"

#include <gtest/gtest.h>

namespace bridge {
namespace {

TEST(BridgeOptions, ANetworkPrinterWithEveryOptionAndAProgram) {
  BridgeOptions options;
  std::string error;
  ASSERT_TRUE(parseBridgeOptions({"--job", "17", "--jobs", "0", "--interval", "200", "--log",
                                  "C:\\b.log", "--name", "office", "--insecure", "--user", "ann",
                                  "ipps://printer.local/ipp/print", "--", "mon.exe", "--x"},
                                 &options, &error))
      << error;
  EXPECT_EQ(options.job, 17);
  EXPECT_EQ(options.jobs, 0u);
  EXPECT_EQ(options.intervalMs, 200u);
  EXPECT_EQ(options.logPath, "C:\\b.log");
  EXPECT_EQ(options.name, "office");
  EXPECT_TRUE(options.insecure);
  EXPECT_EQ(options.user, "ann");
  EXPECT_EQ(options.printerUri, "ipps://printer.local/ipp/print");
  EXPECT_TRUE(options.uri.secure);
  EXPECT_EQ(options.uri.host, "printer.local");
  EXPECT_EQ(options.uri.port, 631);
  EXPECT_EQ(options.program, (std::vector<std::string>{"mon.exe", "--x"}));

  ASSERT_TRUE(parseBridgeOptions({"ipp://10.0.0.7:8631/ipp/print"}, &options, &error));
  EXPECT_FALSE(options.job.has_value());
  EXPECT_EQ(options.jobs, 1u);
  EXPECT_EQ(options.intervalMs, 1000u);
  EXPECT_FALSE(options.insecure);
  EXPECT_TRUE(options.program.empty());
  EXPECT_EQ(options.uri.port, 8631);
}

TEST(BridgeOptions, EachWrongArgumentIsRefusedInOneLineThatNamesIt) {
  const struct {
    std::vector<std::string> arguments;
    const char* named;  // the error names this
  } cases[] = {
      {{"--interval", "199", "ipp://p/"}, "--interval"},
      {{"--interval", "60001", "ipp://p/"}, "--interval"},
      {{"--interval", "1e3", "ipp://p/"}, "--interval"},
      {{"--interval", "-5", "ipp://p/"}, "--interval"},
      {{"--job", "0", "ipp://p/"}, "--job"},
      {{"--job", "2147483648", "ipp://p/"}, "--job"},
      {{"--jobs", "x", "ipp://p/"}, "--jobs"},
      {{"ipp://p/", "--jobs"}, "--jobs"},  // no value
      {{"--name", "a\\b", "ipp://p/"}, "--name"},
      {{"--log", "", "ipp://p/"}, "--log"},
      {{"--colour", "ipp://p/"}, "--colour"},
      {{"ipp://p/", "extra"}, "extra"},
      {{}, "PRINTER-URI"},
      {{"--insecure"}, "PRINTER-URI"},
      {{"http://p/ipp"}, "PRINTER-URI"},
      {{"ipp://:631/ipp"}, "PRINTER-URI"},
      {{"ipp://p:0/ipp"}, "PRINTER-URI"},
      {{"ipp://p:70000/ipp"}, "PRINTER-URI"},
      {{"ipp://p:/ipp"}, "PRINTER-URI"},
      {{"ipp://[::1/ipp"}, "PRINTER-URI"},
      {{"ipp://user@p/ipp"}, "PRINTER-URI"},
      {{"ipp://p/ipp print"}, "PRINTER-URI"},
      {{"ipp://p/", "--"}, "--"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    BridgeOptions options;
    std::string error;
    EXPECT_FALSE(parseBridgeOptions(c.arguments, &options, &error));
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(BridgeOptions, PrinterUrisAsPrintersAnnounceThem) {
  const struct {
    const char* text;
    bool secure;
    const char* host;
    int port;
    const char* path;
  } cases[] = {
      {"ipp://printer.local/ipp/print", false, "printer.local", 631, "/ipp/print"},
      {"ipp://127.0.0.1:8631/ipp/print", false, "127.0.0.1", 8631, "/ipp/print"},
      {"ipps://[fe80::1]:443/ipp/print", true, "fe80::1", 443, "/ipp/print"},
      {"ipp://[::1]/", false, "::1", 631, "/"},
      {"ipp://host", false, "host", 631, "/"},
      {"ipp://host:9100", false, "host", 9100, "/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    PrinterUri uri;
    std::string error;
    ASSERT_TRUE(parsePrinterUri(c.text, &uri, &error)) << error;
    EXPECT_EQ(uri.secure, c.secure);
    EXPECT_EQ(uri.host, c.host);
    EXPECT_EQ(uri.port, c.port);
    EXPECT_EQ(uri.path, c.path);
  }
}

}  // namespace
}  // namespace bridge
