#include "dialog/tests/dialog_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "app/resources/resource_ids.h"
#include "dialog/status_dialog.h"
#include "framework/listener.h"
#include "platform/test_support/wine.h"

namespace dialog_test {
namespace {

// A dialog that ends the process from inside a test (command 2) would make
// the test count as passed: exit code 0. This guard turns an exit during a
// test into a failure.
std::atomic<bool> g_testRunning{false};

class ExitGuard : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override { g_testRunning = true; }
  void OnTestEnd(const ::testing::TestInfo&) override { g_testRunning = false; }
};

const bool g_exitGuardInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new ExitGuard);
  std::atexit([] {
    if (g_testRunning) {
      std::fprintf(stderr, "the process was ended in the middle of a test\n");
      std::fflush(stderr);
      std::_Exit(3);
    }
  });
  return true;
}();

// The end of what a test posted: the recorder stops the loop on it.
constexpr vela::Guid kEndOfResults = {
    0x1D1A1061, 0x7E57, 0x4E5D, {0x80, 0x0F, 0x2E, 0x5A, 0x17, 0x00, 0x00, 0x01}};

class ResultRecorder : public vela::PropertyHolder, public vela::IListener {
 public:
  ResultRecorder(quor::EventBroker* broker, std::vector<Harness::Result>* results)
      : broker_(broker), results_(results) {
    setPointer(L"listener", static_cast<vela::IListener*>(this));
  }
  bool receive(vela::IMessage* message) override {
    if (*message->getSource() == kEndOfResults) {
      broker_->stop(nullptr, false);
    } else if (*message->getSource() == kDialogResultClassId) {
      results_->push_back(
          {message->getCode(), message->getProperties()->getPointer(L"statusdialog", nullptr)});
    }
    return false;
  }

 private:
  quor::EventBroker* broker_;
  std::vector<Harness::Result>* results_;
};

}  // namespace

HINSTANCE testModule() {
  return GetModuleHandleA(nullptr);
}

std::string testFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::unique_ptr<vela::PropertyHolder> settingsFor(int templateId, quor::EventBroker* broker) {
  auto settings = std::make_unique<vela::PropertyHolder>();
  settings->setPointer(L"hinstance", testModule());
  settings->setPointer(L"eventBroker", broker);
  settings->setInt(L"idsPrinter", IDS_PRINTER_SERIES);
  settings->setInt(L"idbPrinter", IDB_NO_PRINTER_PICTURE);
  settings->setString(L"printerName", "");
  settings->setInt(L"idbStatusImage", IDB_WARNING);
  settings->setInt(L"ids1", 7399);
  settings->setInt(L"dialogID", templateId);
  return settings;
}

void flush(quor::IInstanceManager* manager, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  int quiet = 0;
  while (GetTickCount() - start < timeoutMs && quiet < 5) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
      ++quiet;
      Sleep(2);
      continue;
    }
    quiet = 0;
    if (manager != nullptr) {
      manager->pumpMessage();
    } else if (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

Harness::Harness() : manager_(new quor::InstanceManager()) {}

Harness::~Harness() = default;

std::vector<Harness::Result> Harness::results() {
  std::vector<Result> results;
  quor::EventBroker* broker = manager_->getEventBroker();
  broker->add(new ResultRecorder(broker, &results));
  broker->post(&kEndOfResults, 0, 0, false);
  // Results and the end marker are queued: the loop delivers them in order
  // and stops on the marker without waiting for anything.
  broker->run();
  return results;
}

std::vector<std::int32_t> Harness::resultCodes() {
  std::vector<std::int32_t> codes;
  for (const Result& result : results()) codes.push_back(result.code);
  return codes;
}

std::vector<HWND> processWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) {
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

unsigned gdiObjectCount() {
  const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted != 0) return counted;
  // Wine 8 answers 0 there. Its GDI handle table is the process's shared
  // handle table (PEB GdiSharedHandleTable, 24-byte entries, 65536 of them);
  // an entry in use has a non-zero type. That layout is Wine's: elsewhere the
  // count stays 0, and the tests that need it say they skipped.
  if (!testsupport::onWine()) return 0;
  struct Entry {
    unsigned long long object;
    unsigned owner;
    unsigned short unique;
    unsigned char type;
    unsigned char flags;
    unsigned long long user;
  };
  static_assert(sizeof(Entry) == 24, "GDI handle table entry");
  // TEB offset 0x60: the PEB; PEB offset 0xF8: the table. (GCC takes the
  // inline TEB read for an access to an empty array.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
  const auto* teb = reinterpret_cast<const unsigned char*>(NtCurrentTeb());
#pragma GCC diagnostic pop
  const auto* peb = *reinterpret_cast<const unsigned char* const*>(teb + 0x60);
  const auto* table = *reinterpret_cast<const Entry* const*>(peb + 0xF8);
  if (table == nullptr) return 0;
  unsigned used = 0;
  for (unsigned i = 0; i < 0x10000; ++i) used += table[i].type != 0;
  return used;
}

std::string defaultLanguageMap(const std::string& resource, bool resourceModule) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><languages><language>"
         "<langId>0</langId><primaryLangId>0</primaryLangId><abbr>none</abbr>"
         "<resource>" +
         resource + "</resource><resourceType>" +
         (resourceModule ? "resourcefile" : "xmlstrings") + "</resourceType></language></languages>";
}

std::string stringsFile(const std::vector<std::pair<int, std::string>>& strings) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><strings xml:space=\"preserve\">";
  for (const auto& [id, value] : strings) {
    xml += "<string><id>" + std::to_string(id) + "</id><value>" + value + "</value></string>";
  }
  return xml + "</strings>";
}

std::string windowText(HWND window) {
  char text[4096] = {};
  const int length = GetWindowTextA(window, text, sizeof text);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string controlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control != nullptr ? windowText(control) : std::string("<no control>");
}

RECT controlRect(HWND dialog, int id) {
  RECT rect{};
  GetWindowRect(GetDlgItem(dialog, id), &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace dialog_test
