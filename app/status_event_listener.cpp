#include "app/status_event_listener.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "app/snooze.h"
#include "dialog/qmx_meadow_status_dialog.h"
#include "framework/message.h"

namespace {

using Lock = std::lock_guard<vela::Synchronized>;

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

constexpr std::int32_t kWarningImage = 309;
constexpr std::int32_t kErrorImage = 314;
constexpr std::int32_t kNoPrinterPicture = 315;  // no bitmap: the picture stays empty
constexpr std::int32_t kPrinterSeriesText = 3007;
constexpr std::int32_t kPrinterAlertCaption = 3008;

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

bool hasWindow(const qmxMeadowStatusDialog* dialog) {
  return IsWindow(dialog->getWindow()) != FALSE;
}

}  // namespace

qmxMeadowTarnListener::qmxMeadowTarnListener(HINSTANCE instance, quor::IInstanceManager* manager,
                                             const quor::ClassId* readerClassId,
                                             const quor::ClassId* writerClassId) {
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
    if (code == 0) {
      receivePrinterEvent(subcode, properties);
    } else if (code == 2) {
      receiveStatus(properties->getInt(L"status", 0));
    }
  } else if (source == kDialogResultClassId) {
    receiveDialogResult(code, properties);
  }
  // Once the job has ended, the program ends as soon as nothing of it is on
  // screen, whatever took the last dialog away: the user (close box, Esc),
  // a status that dismisses every alert, the end of the job itself, or a
  // dialog that could not be created.
  if (shutdownPending_ && !stopped_ && !hasOpenDialog()) shutDown();
  return true;
}

void qmxMeadowTarnListener::receivePrinterEvent(std::int32_t subcode,
                                                const vela::IPropertyHolder* properties) {
  switch (subcode) {
    case 0:
    case 1: {
      const vela::IProperty* name = properties->getProperty(L"printerName");
      // The text form carries a terminating NUL of its own.
      if (name != nullptr && !name->isNull()) printerName_ = name->toString().c_str();
      break;
    }
    case 4:
      // A second end of the job finds only what the first left on screen,
      // and leaves it there; receive ends the program when nothing is left.
      closeDialogsAtEndOfJob();
      shutdownPending_ = true;
      break;
    default:  // job start, the idle heartbeat (255) and the rest
      break;
  }
}

void qmxMeadowTarnListener::receiveStatus(std::int32_t status) {
  if (isLowInkStatus(status) && isSnoozed()) return;
  vela::PropertyHolder settings;
  fillDialogBase(&settings);
  if (!isKnownStatus(static_cast<std::uint32_t>(status)) || hasDialogForMessage(status)) return;

  settings.setInt(L"messageID", status);
  const StatusCodeEntry* row = findStatusEntry(static_cast<std::uint32_t>(status));
  lastStatus_ = row;
  std::int32_t templateId = 0;
  switch (row->dialogKind) {
    case kStatusBackToNormal:
      closeAllDialogs();
      break;
    case kStatusShowDialog501:
      templateId = kNotificationTemplate;
      break;
    case kStatusShowDialog115:
      templateId = kDetailedTemplate;
      break;
    case kStatusShowDialog504:
      templateId = kInlinePictureTemplate;
      break;
    default:
      break;
  }
  const auto severity = static_cast<std::int32_t>(row->severity);
  if (severity == 3) {
    settings.setInt(L"idbStatusImage", kErrorImage);
    settings.setInt(L"closeAtEndOfJob", 0);
  } else {
    settings.setInt(L"idbStatusImage", kWarningImage);
    if (severity == 1 || severity == 2) settings.setInt(L"closeAtEndOfJob", 1);
  }
  if (row->printerImageId != 0) {
    settings.setInt(L"idbPrinter", static_cast<std::int32_t>(row->printerImageId));
  }
  if (templateId == 0) return;
  if (templateId == kNotificationTemplate || templateId == kInlinePictureTemplate) {
    settings.setInt(L"idsDialogCaption", kPrinterAlertCaption);
  }
  settings.setInt(L"ids1", static_cast<std::int32_t>(row->textId));
  showDialog(&settings, templateId);
}

void qmxMeadowTarnListener::receiveDialogResult(std::int32_t result,
                                                const vela::IPropertyHolder* properties) {
  switch (result) {
    case 1:
    case 2:
    case 5: {
      // A result may arrive after its dialog is gone: a second press of the
      // close box, or a status that replaced the dialog while its result was
      // queued. Another dialog may since live at the gone one's address, so
      // the result is matched by serial number, and only a dialog this
      // listener still owns is closed.
      if (qmxMeadowStatusDialog* dialog = forget(properties->getInt(L"dialogSerial", 0))) {
        closeAndDelete(dialog);
      }
      break;
    }
    case 102: {
      if (lastStatus_ == nullptr) break;
      vela::PropertyHolder settings;
      fillDialogBase(&settings);
      settings.setInt(L"ids1", static_cast<std::int32_t>(lastStatus_->textId));
      settings.setInt(L"idbStatusImage",
                      static_cast<std::int32_t>(lastStatus_->severity) == 3 ? kErrorImage
                                                                             : kWarningImage);
      showDialog(&settings, kDetailedTemplate);
      break;
    }
    default:
      break;
  }
}

void qmxMeadowTarnListener::fillDialogBase(vela::IPropertyHolder* settings) {
  settings->setPointer(L"hinstance", static_cast<void*>(instance_));
  settings->setPointer(L"eventBroker", static_cast<void*>(broker_));
  settings->setInt(L"idsPrinter", kPrinterSeriesText);
  settings->setInt(L"idbPrinter", kNoPrinterPicture);
  settings->setString(L"printerName", printerName_.c_str());
  settings->setPointer(L"dialogStringMapper", static_cast<void*>(&dialogMapper_));
  settings->setPointer(L"errorStringMapper", static_cast<void*>(&errorMapper_));
}

qmxMeadowStatusDialog* qmxMeadowTarnListener::showDialog(vela::IPropertyHolder* settings,
                                                         std::int32_t templateId) {
  if (qmxMeadowStatusDialog* old = findDialogByTemplate(templateId)) {
    forget(old);
    closeAndDelete(old);
  }
  settings->setInt(L"dialogID", templateId);
  auto* dialog = new qmxMeadowStatusDialog(settings, 0);
  {
    Lock guard(*this);
    dialogs_.push_back(dialog);
  }
  if (!dialog->create()) {
    forget(dialog);
    delete dialog;
    return nullptr;
  }
  return dialog;
}

qmxMeadowStatusDialog* qmxMeadowTarnListener::findDialogByTemplate(std::int32_t templateId) const {
  for (qmxMeadowStatusDialog* dialog : dialogs_) {
    if (dialog->getDialogId() == templateId) return dialog;
  }
  return nullptr;
}

bool qmxMeadowTarnListener::hasDialogForMessage(std::int32_t status) const {
  return std::any_of(
             dialogs_.begin(), dialogs_.end(),
             [status](const qmxMeadowStatusDialog* d) { return d->getMessageId() == status; }) ||
         std::any_of(leftOnScreen_.begin(), leftOnScreen_.end(),
                     [status](const qmxMeadowStatusDialog* d) {
                       return d->getMessageId() == status && hasWindow(d);
                     });
}

bool qmxMeadowTarnListener::hasOpenDialog() const {
  return std::any_of(dialogs_.begin(), dialogs_.end(), hasWindow) ||
         std::any_of(leftOnScreen_.begin(), leftOnScreen_.end(), hasWindow);
}

void qmxMeadowTarnListener::closeAllDialogs() {
  std::vector<qmxMeadowStatusDialog*> dialogs;
  {
    Lock guard(*this);
    dialogs.swap(dialogs_);
  }
  for (qmxMeadowStatusDialog* dialog : dialogs) closeAndDelete(dialog);
}

void qmxMeadowTarnListener::closeDialogsAtEndOfJob() {
  std::vector<qmxMeadowStatusDialog*> dialogs;
  {
    Lock guard(*this);
    dialogs.swap(dialogs_);
  }
  for (qmxMeadowStatusDialog* dialog : dialogs) {
    if (hasWindow(dialog) && !dialog->closesAtEndOfJob()) {
      Lock guard(*this);
      leftOnScreen_.push_back(dialog);
    } else {
      closeAndDelete(dialog);
    }
  }
}

void qmxMeadowTarnListener::shutDown() {
  stopped_ = true;
  closeAllDialogs();
  // The dialogs left on screen at the end of the job go with the program.
  std::vector<qmxMeadowStatusDialog*> left;
  {
    Lock guard(*this);
    left.swap(leftOnScreen_);
  }
  for (qmxMeadowStatusDialog* dialog : left) closeAndDelete(dialog);
  if (broker_ != nullptr) {
    broker_->stop(&readerClassId_, false);
    broker_->stop(&writerClassId_, false);
  }
}

bool qmxMeadowTarnListener::forget(qmxMeadowStatusDialog* dialog) {
  Lock guard(*this);
  for (auto* list : {&dialogs_, &leftOnScreen_}) {
    auto found = std::find(list->begin(), list->end(), dialog);
    if (found != list->end()) {
      list->erase(found);
      return true;
    }
  }
  return false;
}

qmxMeadowStatusDialog* qmxMeadowTarnListener::forget(std::int32_t serial) {
  if (serial == 0) return nullptr;
  Lock guard(*this);
  for (auto* list : {&dialogs_, &leftOnScreen_}) {
    auto found = std::find_if(list->begin(), list->end(),
                              [serial](qmxMeadowStatusDialog* d) { return d->serial() == serial; });
    if (found != list->end()) {
      qmxMeadowStatusDialog* dialog = *found;
      list->erase(found);
      return dialog;
    }
  }
  return nullptr;
}

void qmxMeadowTarnListener::closeAndDelete(qmxMeadowStatusDialog* dialog) {
  // A dialog whose window is already gone is only forgotten.
  if (hasWindow(dialog)) dialog->close(1);
  delete dialog;
}
