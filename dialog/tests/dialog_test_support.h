// Helpers of the status dialog tests: real windows under the test's own
// thread, a real instance manager and broker, and the platform's own calls to
// read back what is on screen.
#ifndef DIALOG_TESTS_DIALOG_TEST_SUPPORT_H_
#define DIALOG_TESTS_DIALOG_TEST_SUPPORT_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/instance_manager.h"
#include "framework/properties/property_holder.h"
#include "platform/test_support/temp_dir.h"

namespace dialog_test {

// Test templates and texts of test_dialogs.rc.
constexpr int kColourTemplate = 9001;     // 2147, 2167, 2037, 1037, 1041..1043, 1039
constexpr int kBaseTemplate = 9002;       // message 102 and button 100
constexpr int kCaptionFormat = 9100;      // "Caption for %s"
constexpr int kMessageFormat = 9101;      // "Message about %s."
constexpr int kThreeArguments = 9102;     // "[%s|%s|%s]"
constexpr int kMediaName = 9103;          // "A4 paper"
constexpr int kTrayName = 9104;           // "Tray 2"
constexpr int kDialogCaption = 9105;      // "Dialog caption"
constexpr int kPrinterSeries = 9106;      // "Kestrel"
constexpr int kTableOnly = 9107;          // "from the string table"
constexpr int kHostileFirst = 9110;       // 9110..9114: the hostile texts, also in the mappers
constexpr int kPlaceholderFirstLine = 9120;
constexpr int kPlaceholderThirdLine = 9121;
constexpr int kNoPlaceholder = 9122;

// The test program's own module: resources of the program and of the tests.
HINSTANCE testModule();
// The folder of the test program, with a trailing backslash.
std::string testFolder();

// Settings as the application listener fills them, for one template.
std::unique_ptr<vela::PropertyHolder> settingsFor(int templateId, quor::EventBroker* broker);

// Pumps the thread's messages through the manager's pump (its dialog
// handling included) until the queue has stayed empty for a short while or
// `timeoutMs` passed.
void flush(quor::IInstanceManager* manager, DWORD timeoutMs = 2000);

// A real instance manager whose broker takes the dialogs' results.
class Harness {
 public:
  Harness();
  ~Harness();
  quor::IInstanceManager* manager() const { return manager_.get(); }
  quor::EventBroker* broker() const { return manager_->getEventBroker(); }

  struct Result {
    std::int32_t code;
    void* dialog;  // the "statusdialog" property
  };
  // Runs the broker's loop until every message posted so far is delivered,
  // and answers the dialog results among them, in order. Ends the loop: call
  // it once, when the test has done everything that posts.
  std::vector<Result> results();
  std::vector<std::int32_t> resultCodes();

 private:
  std::unique_ptr<quor::IInstanceManager> manager_;
};

// Every top-level window of this process, visible or not.
std::vector<HWND> processWindows();
// The GDI objects this process holds; 0 where neither the system nor Wine's
// handle table counts them.
unsigned gdiObjectCount();

// Files on disk for a test: see platform/test_support/temp_dir.h.
using testsupport::TempDir;

// A language map of one default language whose texts are in `resource`
// ("strings.xml" for an XML strings file, or a resource module).
std::string defaultLanguageMap(const std::string& resource, bool resourceModule);
// An XML strings file; values are UTF-8 without markup characters.
std::string stringsFile(const std::vector<std::pair<int, std::string>>& strings);

// Text of a window or control, as the platform holds it (narrow).
std::string windowText(HWND window);
std::string controlText(HWND dialog, int id);
// A control's rectangle in the dialog's client coordinates.
RECT controlRect(HWND dialog, int id);

}  // namespace dialog_test

#endif  // DIALOG_TESTS_DIALOG_TEST_SUPPORT_H_
