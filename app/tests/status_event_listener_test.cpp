// The application listener's rules, in process: a real instance manager and
// broker, real dialogs in Xvfb, messages as the status reader and the dialogs
// send them.
#include "app/status_event_listener.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "app/resources/resource_ids.h"
#include "app/tests/snooze_key.h"

#include "app/wiring.h"
#include "channel/status_record.h"
#include "dialog/qmx_meadow_status_dialog.h"
#include "framework/message.h"
#include "platform/test_support/deadline.h"

namespace {

const vela::Guid& kReader = quor::kTarnEventGeneratorClassId;
const vela::Guid& kWriter = quor::kTarnListenerClassId;

std::string controlText(HWND dialog, int id) {
  char text[1024] = {};
  GetDlgItemTextA(dialog, id, text, sizeof(text));
  return text;
}

template <typename Base>
class ListenerTest : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    manager_.reset(NewInstanceManager("version=1.0.0.0", 0, nullptr));
    ASSERT_NE(nullptr, manager_);
    listener_ = new qmxMeadowTarnListener(GetModuleHandleW(nullptr), manager_.get(), &kReader,
                                          &kWriter);
    ASSERT_TRUE(manager_->addComponent(listener_));  // the broker owns it now
  }

  void send(const vela::Guid& source, std::int32_t code, std::int32_t subcode,
            std::int32_t status = 0) {
    vela::Message message(&source, code, 0);
    message.getProperties()->setInt(L"subcode", subcode);
    message.getProperties()->setInt(L"status", status);
    EXPECT_TRUE(listener_->receive(&message));
  }
  void status(std::int32_t code) { send(kReader, tarn::kStatusClass, tarn::kStatusSubcode, code); }
  void endOfJob() { send(kReader, tarn::kPrinterJobClass, tarn::kJobEnd); }
  // A result as `dialog` posts it.
  void result(std::int32_t code, qmxMeadowStatusDialog* dialog) {
    result(code, dialog, dialog != nullptr ? dialog->serial() : 0);
  }
  void result(std::int32_t code, qmxMeadowStatusDialog* dialog, std::int32_t serial) {
    vela::Message message(&kDialogResultClassId, code, 0);
    if (dialog != nullptr) message.getProperties()->setPointer(L"statusdialog", dialog);
    if (serial != 0) message.getProperties()->setInt(L"dialogSerial", serial);
    EXPECT_TRUE(listener_->receive(&message));
  }

  std::vector<qmxMeadowStatusDialog*> dialogs() { return listener_->dialogs(); }
  bool stopped() { return manager_->getEventBroker()->isStopped(); }

  std::unique_ptr<quor::IInstanceManager> manager_;
  qmxMeadowTarnListener* listener_ = nullptr;
};

using Listener = ListenerTest<::testing::Test>;
// With the snooze's registry key removed before and after each test.
using SnoozedListener = ListenerTest<SnoozeKeyTest>;

TEST_F(Listener, StatusesShowReplaceAndDismissOneDialogPerTemplate) {
  status(40020);
  ASSERT_EQ(1u, dialogs().size());
  qmxMeadowStatusDialog* door = dialogs()[0];
  EXPECT_EQ(IDD_STATUS_NOTIFICATION, door->getDialogId());
  EXPECT_EQ(40020, door->getMessageId());
  EXPECT_TRUE(door->closesAtEndOfJob());
  EXPECT_TRUE(IsWindowVisible(door->getWindow()));

  // Already shown: the same window stays. A replacement could get the
  // freed dialog's address back from the allocator, so the window tells.
  const HWND firstWindow = door->getWindow();
  status(40020);
  ASSERT_EQ(1u, dialogs().size());
  EXPECT_EQ(firstWindow, dialogs()[0]->getWindow());
  EXPECT_TRUE(IsWindowVisible(firstWindow));
  door = dialogs()[0];

  status(41101);  // another template: both stay
  ASSERT_EQ(2u, dialogs().size());
  EXPECT_EQ(IDD_STATUS_INLINE, dialogs()[1]->getDialogId());

  const HWND doorWindow = door->getWindow();
  status(40021);  // same template as the door: replaces it
  ASSERT_EQ(2u, dialogs().size());
  EXPECT_FALSE(IsWindow(doorWindow));
  EXPECT_EQ(40021, dialogs()[1]->getMessageId());
  EXPECT_EQ(40021u, listener_->lastStatus()->code);

  status(12345);  // no row: nothing changes
  EXPECT_EQ(2u, dialogs().size());
  EXPECT_EQ(40021u, listener_->lastStatus()->code);

  std::vector<HWND> windows;
  for (auto* dialog : dialogs()) windows.push_back(dialog->getWindow());
  status(10001);  // ready: everything goes
  EXPECT_TRUE(dialogs().empty());
  for (HWND window : windows) EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(10001u, listener_->lastStatus()->code);
  EXPECT_FALSE(stopped());
}

TEST_F(Listener, EndOfJobClosesWhatBelongsToTheJobAndStops) {
  endOfJob();
  EXPECT_TRUE(stopped()) << "nothing on screen: stops at once";
}

TEST_F(Listener, EndOfJobWithWarningsOnlyClosesThemAndStops) {
  status(40020);
  status(41101);
  endOfJob();
  EXPECT_TRUE(dialogs().empty());
  EXPECT_TRUE(listener_->dialogsLeftOnScreen().empty());
  EXPECT_TRUE(stopped());
}

// A severe error and its details stay after the job; the program ends when
// the user has dismissed the last of them, not the first.
TEST_F(Listener, ErrorsOutliveTheJobUntilTheLastIsDismissed) {
  status(11011);
  ASSERT_EQ(1u, dialogs().size());
  qmxMeadowStatusDialog* error = dialogs()[0];
  EXPECT_FALSE(error->closesAtEndOfJob());

  result(kResultMore, error);
  ASSERT_EQ(2u, dialogs().size());
  qmxMeadowStatusDialog* details = dialogs()[1];
  EXPECT_EQ(IDD_STATUS_DETAILED, details->getDialogId());
  EXPECT_EQ(controlText(error->getWindow(), IDC_MESSAGE),
            controlText(details->getWindow(), IDC_MESSAGE));
  EXPECT_EQ("Waste ink container full. Contact service.",
            controlText(details->getWindow(), IDC_MESSAGE));

  endOfJob();
  EXPECT_FALSE(stopped());
  EXPECT_TRUE(listener_->shutdownPending());
  EXPECT_TRUE(dialogs().empty());
  ASSERT_EQ(2u, listener_->dialogsLeftOnScreen().size());
  status(10001);
  EXPECT_EQ(2u, listener_->dialogsLeftOnScreen().size()) << "ready does not close them";
  EXPECT_FALSE(stopped());

  // The user presses the close boxes; the results go through the broker.
  SendMessageW(details->getWindow(), WM_CLOSE, 0, 0);
  SendMessageW(details->getWindow(), WM_CLOSE, 0, 0);  // twice: the second finds it gone
  SendMessageW(error->getWindow(), WM_CLOSE, 0, 0);
  testsupport::Watchdog watchdog(std::chrono::seconds(20),
                                 [this] { manager_->getEventBroker()->stop(nullptr, false); });
  manager_->run();  // delivers the three results, then ends on the listener's stop
  // The watchdog stops the broker too: only the listener's stop counts.
  ASSERT_FALSE(watchdog.disarm()) << "the listener never stopped the broker";
  EXPECT_TRUE(listener_->dialogsLeftOnScreen().empty());
  EXPECT_TRUE(stopped());
}

// Once the job has ended, the program ends as soon as nothing of it is on
// screen, however the last dialog went; a second end of the job changes
// nothing the first did not; what is on screen is not shown twice.
TEST_F(Listener, AfterTheEndOfTheJobTheLastDialogGoneEndsTheProgram) {
  status(11011);
  qmxMeadowStatusDialog* error = dialogs()[0];
  const HWND errorWindow = error->getWindow();
  endOfJob();
  endOfJob();
  EXPECT_TRUE(IsWindowVisible(errorWindow)) << "the second end of the job closed the error";
  EXPECT_FALSE(stopped());

  status(11011);
  EXPECT_TRUE(dialogs().empty()) << "the error left on screen was shown twice";

  status(41101);  // shown after the job, and tracked
  ASSERT_EQ(1u, dialogs().size());
  result(kResultDismissed, error);
  EXPECT_FALSE(IsWindow(errorWindow));
  EXPECT_FALSE(stopped()) << "an alert is still on screen";
  status(10001);  // dismisses the last alert
  EXPECT_TRUE(stopped()) << "nothing is left on screen, yet the program goes on";
}

// A result delivered after its dialog is gone names an address that a newer
// dialog may have been given by the allocator. The allocator cannot be made
// to do that on demand, so the result is written as it would then read: the
// live dialog's address with the gone dialog's serial number.
TEST_F(Listener, AStaleResultNeverClosesTheDialogNowAtItsAddress) {
  status(40020);
  const std::int32_t goneSerial = dialogs()[0]->serial();
  status(40021);  // replaces it
  ASSERT_EQ(1u, dialogs().size());
  qmxMeadowStatusDialog* current = dialogs()[0];
  EXPECT_NE(goneSerial, current->serial());

  result(kResultDismissed, current, goneSerial);
  ASSERT_EQ(1u, dialogs().size()) << "the stale result closed the dialog at its address";
  EXPECT_TRUE(IsWindowVisible(current->getWindow()));
  result(kResultDismissed, current);
  EXPECT_TRUE(dialogs().empty());
}

TEST_F(Listener, ResultsThatNameNoOwnedDialogChangeNothing) {
  status(40020);
  qmxMeadowStatusDialog* door = dialogs()[0];
  result(kResultButton, door);
  result(kResultSecondButton, door);
  EXPECT_EQ(1u, dialogs().size()) << "the buttons' results are not dismissals";
  result(kResultDismissed, nullptr);
  EXPECT_EQ(1u, dialogs().size());
  result(kResultBaseClosed, door);
  EXPECT_TRUE(dialogs().empty());
  result(kResultDismissed, door);  // stale: the dialog is gone
  EXPECT_TRUE(dialogs().empty());
  result(kResultMore, nullptr);  // more... for the last status, 40020
  ASSERT_EQ(1u, dialogs().size());
  EXPECT_EQ(IDD_STATUS_DETAILED, dialogs()[0]->getDialogId());
  EXPECT_FALSE(stopped());
}

TEST_F(Listener, PrinterNameFromNarrowOrWideTextAndTheHeartbeatIsIgnored) {
  vela::Message wide(&kReader, tarn::kPrinterJobClass, 0);
  wide.getProperties()->setInt(L"subcode", tarn::kPortNamesWide);
  wide.getProperties()->setWString(L"printerName", L"Kestrel 100 wide");
  listener_->receive(&wide);
  EXPECT_EQ("Kestrel 100 wide", listener_->printerName());

  send(kReader, tarn::kPrinterJobClass, quor::kHeartbeatSubcode, 1);
  send(kWriter, tarn::kStatusClass, tarn::kStatusSubcode, 40020);  // another source
  send(kReader, 7, tarn::kStatusSubcode, 40020);                   // another code
  EXPECT_TRUE(dialogs().empty());
  EXPECT_EQ("Kestrel 100 wide", listener_->printerName());
  EXPECT_FALSE(stopped());
}

}  // namespace

namespace {

// The five low-ink codes wait for the snooze; 10214, another ink's low
// level, does not. Without a snooze each of them shows its alert.
TEST_F(SnoozedListener, EveryLowInkCodeAndOnlyThoseWaitForTheSnooze) {
  struct Case {
    std::int32_t code;
    bool snoozed;
  };
  const Case cases[] = {{10209, true}, {10210, true}, {10211, true},
                        {10212, true}, {10217, true}, {10214, false}};
  const std::int64_t tomorrow = std::time(nullptr) + 86400;
  store(REG_QWORD, &tomorrow, 8);
  for (const Case& c : cases) {
    status(c.code);
    EXPECT_EQ(c.snoozed, dialogs().empty()) << c.code << " under a snooze until tomorrow";
    status(10001);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  for (const Case& c : cases) {
    status(c.code);
    EXPECT_EQ(1u, dialogs().size()) << c.code << " without a snooze";
    status(10001);
  }
}

}  // namespace
