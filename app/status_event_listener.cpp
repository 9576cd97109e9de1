#include "app/status_event_listener.h"

#include <memory>
#include <utility>

#include "app/resources/resource_ids.h"
#include "app/snooze.h"
#include "channel/status_record.h"
#include "dialog/qmx_meadow_status_dialog.h"
#include "framework/message.h"

namespace {

// Low-ink alerts: black, cyan, magenta, yellow, several inks.
bool isLowInkStatus(std::int32_t status) {
  switch (status) {
    case 10209:
    case 10210:
    case 10211:
    case 10212:
    case 10217:
      return true;
    default:
      return false;
  }
}

// The program's folder, ending with a backslash; empty when the path is
// unknown (the mappers then find no language data).
std::string programDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string directory(path, length);
  const std::size_t slash = directory.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  directory.resize(slash + 1);
  return directory;
}

}  // namespace

qmxMeadowTarnListener::qmxMeadowTarnListener(HINSTANCE instance, quor::IInstanceManager* manager,
                                             const quor::ClassId* readerClassId,
                                             const quor::ClassId* writerClassId)
    : qmxMeadowStatusCodeHandler(static_cast<const vela::Synchronized&>(*this)) {
  setPointer(L"listener", static_cast<void*>(static_cast<vela::IListener*>(this)));
  instance_ = instance;
  if (readerClassId != nullptr) readerClassId_ = *readerClassId;
  if (writerClassId != nullptr) writerClassId_ = *writerClassId;
  manager_ = manager;
  broker_ = manager != nullptr ? manager->getEventBroker() : nullptr;
  // Read on a worker while the program opens its status stream and waits
  // for the first record: the first alert of a job does not wait for it.
  const std::string directory = programDirectory();
  StringMapper::loadInBackground({{&dialogMapper_, directory, "qmx_Kestrel_DialogLangMap.xml"},
                                  {&errorMapper_, directory, "qmx_Kestrel_ErrorLangMap.xml"}});
}

qmxMeadowTarnListener::~qmxMeadowTarnListener() {
  shutDown();
}

bool qmxMeadowTarnListener::receive(vela::IMessage* message) {
  if (message == nullptr || message->getSource() == nullptr) return true;
  const vela::Guid& source = *message->getSource();
  const std::int32_t code = message->getCode();
  const vela::IPropertyHolder* properties = message->getProperties();
  if (source == readerClassId_ && !vela::isNullGuid(readerClassId_)) {
    const std::int32_t subcode = properties->getInt(L"subcode", 0);
    switch (code) {
      case tarn::kPrinterJobClass:
        receivePrinterEvent(subcode, properties);
        break;
      case tarn::kStatusClass:
        receiveStatus(properties->getInt(L"status", 0));
        break;
      default:
        break;
    }
  } else if (source == kDialogResultClassId) {
    receiveDialogResult(code, properties);
  }
  // Once the job has ended, the program ends as soon as nothing of it is on
  // screen, whatever took the last dialog away: the user (close box, Esc),
  // a status that dismisses every alert, the end of the job itself, or a
  // dialog that could not be created.
  if (shutdownPending_ && !stopped_ && !dialogs_.anyOnScreen()) shutDown();
  return true;
}

void qmxMeadowTarnListener::receivePrinterEvent(std::int32_t subcode,
                                                const vela::IPropertyHolder* properties) {
  switch (subcode) {
    case tarn::kPortNames:
    case tarn::kPortNamesWide: {
      const vela::IProperty* name = properties->getProperty(L"printerName");
      // The text form carries a terminating NUL of its own.
      if (name != nullptr && !name->isNull()) printerName_ = name->toString().c_str();
      break;
    }
    case tarn::kJobEnd:
      // A second end of the job finds only what the first left on screen,
      // and leaves it there; receive ends the program when nothing is left.
      closeDialogsAtEndOfJob();
      shutdownPending_ = true;
      break;
    default:  // job start, the idle heartbeat and the rest
      break;
  }
}

void qmxMeadowTarnListener::receiveStatus(std::int32_t status) {
  if (isLowInkStatus(status) && isSnoozed()) return;
  vela::PropertyHolder settings;
  fillDialogBase(&settings);
  if (!isKnownStatus(static_cast<std::uint32_t>(status)) || dialogs_.showsStatus(status)) return;

  settings.setInt(L"messageID", status);
  const StatusCodeEntry* row = findStatusEntry(static_cast<std::uint32_t>(status));
  lastStatus_ = row;
  std::int32_t templateId = 0;
  switch (row->dialogKind) {
    case kStatusBackToNormal:
      closeAllDialogs();
      break;
    case kStatusShowNotification:
      templateId = IDD_STATUS_NOTIFICATION;
      break;
    case kStatusShowDetails:
      templateId = IDD_STATUS_DETAILED;
      break;
    case kStatusShowInlinePicture:
      templateId = IDD_STATUS_INLINE;
      break;
    default:
      break;
  }
  const auto severity = static_cast<std::int32_t>(row->severity);
  if (severity == kSeverityError) {
    settings.setInt(L"idbStatusImage", IDB_ERROR);
    settings.setInt(L"closeAtEndOfJob", 0);
  } else {
    settings.setInt(L"idbStatusImage", IDB_WARNING);
    if (severity == kSeverityNotice || severity == kSeverityWarning) {
      settings.setInt(L"closeAtEndOfJob", 1);
    }
  }
  if (row->printerImageId != 0) {
    settings.setInt(L"idbPrinter", static_cast<std::int32_t>(row->printerImageId));
  }
  if (templateId == 0) return;
  if (templateId == IDD_STATUS_NOTIFICATION || templateId == IDD_STATUS_INLINE) {
    settings.setInt(L"idsDialogCaption", IDS_PRINTER_ALERT);
  }
  settings.setInt(L"ids1", static_cast<std::int32_t>(row->textId));
  showDialog(&settings, templateId);
}

void qmxMeadowTarnListener::receiveDialogResult(std::int32_t result,
                                                const vela::IPropertyHolder* properties) {
  switch (result) {
    case kResultDismissed:
    case kResultCancel:
    case kResultBaseClosed: {
      // A result may arrive after its dialog is gone: a second press of the
      // close box, or a status that replaced the dialog while its result was
      // queued. Another dialog may since live at the gone one's address, so
      // the result is matched by serial number, and only a dialog this
      // listener still owns is closed.
      closeAndDelete(dialogs_.takeBySerial(properties->getInt(L"dialogSerial", 0)));
      break;
    }
    case kResultMore: {
      if (lastStatus_ == nullptr) break;
      vela::PropertyHolder settings;
      fillDialogBase(&settings);
      settings.setInt(L"ids1", static_cast<std::int32_t>(lastStatus_->textId));
      settings.setInt(L"idbStatusImage",
                      static_cast<std::int32_t>(lastStatus_->severity) == kSeverityError
                          ? IDB_ERROR
                          : IDB_WARNING);
      showDialog(&settings, IDD_STATUS_DETAILED);
      break;
    }
    default:
      break;
  }
}

void qmxMeadowTarnListener::fillDialogBase(vela::IPropertyHolder* settings) {
  settings->setPointer(L"hinstance", static_cast<void*>(instance_));
  settings->setPointer(L"eventBroker", static_cast<void*>(broker_));
  settings->setInt(L"idsPrinter", IDS_PRINTER_SERIES);
  settings->setInt(L"idbPrinter", IDB_NO_PRINTER_PICTURE);
  settings->setString(L"printerName", printerName_.c_str());
  settings->setPointer(L"dialogStringMapper", static_cast<void*>(&dialogMapper_));
  settings->setPointer(L"errorStringMapper", static_cast<void*>(&errorMapper_));
}

qmxMeadowStatusDialog* qmxMeadowTarnListener::showDialog(vela::IPropertyHolder* settings,
                                                         std::int32_t templateId) {
  closeAndDelete(dialogs_.take(dialogs_.byTemplate(templateId)));
  settings->setInt(L"dialogID", templateId);
  qmxMeadowStatusDialog* dialog =
      dialogs_.track(std::make_unique<qmxMeadowStatusDialog>(settings, 0));
  if (!dialog->create()) {
    dialogs_.take(dialog);  // nothing was shown: deleted here
    return nullptr;
  }
  return dialog;
}

void qmxMeadowTarnListener::closeAllDialogs() {
  for (DialogList::Owned& dialog : dialogs_.takeTracked()) closeAndDelete(std::move(dialog));
}

void qmxMeadowTarnListener::closeDialogsAtEndOfJob() {
  for (DialogList::Owned& dialog : dialogs_.takeTracked()) {
    if (hasWindow(*dialog) && !dialog->closesAtEndOfJob()) {
      dialogs_.leaveOnScreen(std::move(dialog));
    } else {
      closeAndDelete(std::move(dialog));
    }
  }
}

void qmxMeadowTarnListener::shutDown() {
  stopped_ = true;
  // The dialogs left on screen at the end of the job go with the program.
  for (DialogList::Owned& dialog : dialogs_.takeAll()) closeAndDelete(std::move(dialog));
  if (broker_ != nullptr) {
    broker_->stop(&readerClassId_, false);
    broker_->stop(&writerClassId_, false);
  }
}

void qmxMeadowTarnListener::closeAndDelete(DialogList::Owned dialog) {
  // A dialog whose window is already gone is only forgotten.
  if (dialog != nullptr && hasWindow(*dialog)) dialog->close(1);
}
