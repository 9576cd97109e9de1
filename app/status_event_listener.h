// The application's decision maker: turns printer, job and status events from
// the status stream, and the results the status dialogs post, into dialogs
// shown, replaced and dismissed, and ends the program at the end of the job.
//
// Threads: constructed, called (receive) and destroyed on the thread that
// runs the broker's loop, the main thread; the dialogs live on that thread
// too. The holder's lock guards the dialog lists: it is held only while an
// entry is added or removed or a list is moved out, never while a dialog is
// created, closed or deleted. The lists are changed only on the main thread,
// so searching them there needs no lock.
#ifndef APP_STATUS_EVENT_LISTENER_H_
#define APP_STATUS_EVENT_LISTENER_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/dialog_list.h"
#include "app/status_code_table.h"
#include "framework/class_id.h"
#include "framework/instance_manager.h"
#include "framework/listener.h"
#include "framework/properties/property_holder.h"
#include "i18n/string_mapper.h"

// The application state of the listener.
class qmxMeadowStatusCodeHandler {
 protected:
  // `lock` guards the dialog lists (the listener's holder lock).
  explicit qmxMeadowStatusCodeHandler(const vela::Synchronized& lock) : dialogs_(lock) {}

  HINSTANCE instance_ = nullptr;
  quor::ClassId readerClassId_{};  // "TarnEventGenerator"
  quor::ClassId writerClassId_{};  // "TarnListener"
  quor::IInstanceManager* manager_ = nullptr;  // not owned
  quor::EventBroker* broker_ = nullptr;        // not owned
  // The row of the last status a dialog decision was made for.
  const StatusCodeEntry* lastStatus_ = nullptr;
  // Every dialog created and not yet deleted: those tracked, in creation
  // order, and those the end of the job left on screen until the user
  // dismisses them.
  DialogList dialogs_;
  std::string printerName_;
  // The job has ended: the program ends as soon as nothing is on screen.
  bool shutdownPending_ = false;
  // shutDown has run.
  bool stopped_ = false;
  StringMapper dialogMapper_;
  StringMapper errorMapper_;
};

class qmxMeadowTarnListener : public vela::PropertyHolder,
                              public vela::IListener,
                              public qmxMeadowStatusCodeHandler {
 public:
  // Copies both class ids and has a worker thread read the two string
  // mappers' language data from the program's folder.
  qmxMeadowTarnListener(HINSTANCE instance, quor::IInstanceManager* manager,
                        const quor::ClassId* readerClassId, const quor::ClassId* writerClassId);
  // Shuts down (closes every dialog, stops the broker), then releases the
  // mappers.
  ~qmxMeadowTarnListener() override;
  qmxMeadowTarnListener(const qmxMeadowTarnListener&) = delete;
  qmxMeadowTarnListener& operator=(const qmxMeadowTarnListener&) = delete;

  // Acts on printer and job events, status events and dialog results; every
  // other message is ignored. Always true.
  bool receive(vela::IMessage* message) override;

  // What the tests look at.
  std::vector<qmxMeadowStatusDialog*> dialogs() const { return dialogs_.tracked(); }
  std::vector<qmxMeadowStatusDialog*> dialogsLeftOnScreen() const {
    return dialogs_.leftOnScreen();
  }
  const std::string& printerName() const { return printerName_; }
  bool shutdownPending() const { return shutdownPending_; }
  const StatusCodeEntry* lastStatus() const { return lastStatus_; }

 private:
  void receivePrinterEvent(std::int32_t subcode, const vela::IPropertyHolder* properties);
  void receiveStatus(std::int32_t status);
  void receiveDialogResult(std::int32_t result, const vela::IPropertyHolder* properties);

  // The seven settings every dialog gets.
  void fillDialogBase(vela::IPropertyHolder* settings);
  // Shows a dialog of the template from the settings, replacing the open
  // dialog of that template; null when it could not be created.
  qmxMeadowStatusDialog* showDialog(vela::IPropertyHolder* settings, std::int32_t templateId);
  void closeAllDialogs();
  // Closes the dialogs that close at the end of the job; the others stay on
  // screen, no longer tracked.
  void closeDialogsAtEndOfJob();
  void shutDown();
  // Closes the dialog when its window still exists; deleting it then
  // destroys the window.
  static void closeAndDelete(DialogList::Owned dialog);
};

#endif  // APP_STATUS_EVENT_LISTENER_H_
