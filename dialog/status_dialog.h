// StatusDialog: a modeless dialog built from a dialog template in the
// program's resources, with texts from the module's string table, that
// reports what the user does as dialog-result messages through the event
// broker. qmxMeadowStatusDialog (qmx_meadow_status_dialog.h) is the
// application's dialog built on it.
//
// Life of a dialog, as its owner sees it:
//
//   StatusDialog* dialog = new qmxMeadowStatusDialog(&settings, 0);
//   if (!dialog->create()) delete dialog;   // nothing shown, nothing posted
//   ...                                     // results arrive through the broker
//   dialog->close(1);                       // detaches and hides the window
//   delete dialog;                          // destroys the window
//
// Deleting a dialog destroys its window (after detaching the object, so the
// window's last messages never reach a half-destroyed object): no hidden
// window or control outlives the object that made it.
//
// Keyboard: while the window exists it is registered with the instance
// manager behind the broker as a "DialogHandle", so the manager's pump gives
// it the dialog keys (Tab, Enter, Esc); deleting the dialog unregisters it.
//
// Threads: a dialog lives on the thread that creates its window, which must
// pump that window's messages; every operation, deletion included, runs
// there. The dialog takes no lock. postResult only queues the message at the
// broker, which is safe from any thread.
#ifndef DIALOG_STATUS_DIALOG_H_
#define DIALOG_STATUS_DIALOG_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "framework/message.h"
#include "framework/properties/guid.h"
#include "framework/properties/property_holder.h"

// Source of every dialog-result message: {AC228C61-C246-411B-B234-7F59234B70F2}.
// A result message carries the result code as its code, flags 0, the int
// property "dialogSerial": the serial number of the dialog that posted it (see
// StatusDialog::serialOfResult), and the pointer property "statusdialog": its
// address. A result may be delivered after its dialog was deleted, and another
// dialog may since have been allocated at that address: owners match results
// by serial number, never by address.
inline constexpr vela::Guid kDialogResultClassId = {
    0xAC228C61, 0xC246, 0x411B, {0xB2, 0x34, 0x7F, 0x59, 0x23, 0x4B, 0x70, 0xF2}};

// Commands of a plain StatusDialog's template that post a result of their
// own: its button (control 100, "buttonMessage") and a second button.
inline constexpr int kButtonCommand = 100;
inline constexpr int kSecondButtonCommand = 101;

// Result codes posted by the dialogs (a command id without a meaning of its
// own is posted as itself).
inline constexpr std::int32_t kResultButton = 0;        // kButtonCommand
inline constexpr std::int32_t kResultDismissed = 1;     // close box, Esc, Enter
inline constexpr std::int32_t kResultCancel = 2;        // posted by none; owners take it as 1
inline constexpr std::int32_t kResultSecondButton = 4;  // kSecondButtonCommand
inline constexpr std::int32_t kResultBaseClosed = 5;    // WM_CLOSE on a plain StatusDialog
inline constexpr std::int32_t kResultMore = 102;        // the "more..." link, IDC_MORE_LINK

class StatusDialog {
 public:
  // Reads the settings (see the table in qmx_meadow_status_dialog.h; the
  // holder is only read here, not kept) and composes the texts. With
  // createNow equal to 1 the window is created at the end of this
  // constructor, before any derived part exists; the application's dialog is
  // constructed with 0 and created afterwards.
  StatusDialog(vela::IPropertyHolder* settings, unsigned char createNow);
  StatusDialog(const StatusDialog&) = delete;
  StatusDialog& operator=(const StatusDialog&) = delete;

  // The handler of this dialog's window messages, reached through
  // StatusDialogProc while the object is attached to its window. Returns what
  // a dialog procedure returns (non-zero: handled).
  virtual INT_PTR dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Detaches the object from its window, unregisters the window from the
  // manager's dialog handling and destroys it.
  virtual ~StatusDialog();

  // Builds the window from the template "dialogID" of the module, shows it
  // and brings it to the foreground (or, when the system refuses, to the top
  // without activating it). False when no window was created: nothing is
  // shown, nothing is posted, and the object stays for its owner to delete.
  // A dialog whose window exists answers true without making another.
  bool create();
  // Detaches the object from the window (no further message reaches it) and
  // ends the dialog with the code, which hides the window. The owner calls it
  // before deleting the dialog; deleting it then destroys the window.
  void close(std::int32_t code);
  // Posts a dialog-result message with the code to the broker; without a
  // broker the result is dropped (traced).
  void postResult(std::int32_t code);

  // The template id ("dialogID"): the owner keeps one dialog per template.
  std::int32_t getDialogId() const { return dialogId_; }
  // This dialog's serial number: unique among the dialogs of the process
  // (counted from 1 as they are constructed), carried in every result it posts.
  std::int32_t serial() const { return serial_; }
  // The dialog window, known from its initialisation (WM_INITDIALOG) on;
  // null before and once the window is gone.
  HWND getWindow() const { return window_; }

  // The dialog that posted a dialog-result message; null for any other
  // message or one without the "statusdialog" property.
  static StatusDialog* fromResult(const vela::IMessage* message);
  // The serial number of the dialog that posted a dialog-result message; 0
  // (no dialog has it) for any other message or one without "dialogSerial".
  static std::int32_t serialOfResult(const vela::IMessage* message);

  // The text of the id in the module's string table; "" when it has none.
  std::string stringTableText(std::int32_t id) const;
  // LoadStringA of the id from the module into one of four static buffers of
  // kTextBufferSize bytes, used in turn, and that buffer: at most four
  // results are valid at once. An id without text gives "". The text is cut
  // on a character boundary of the ANSI code page. Main thread only.
  static const char* loadResourceText(HINSTANCE module, std::int32_t id);
  static constexpr int kTextBufferSize = 1024;

  // The composed texts, as the window shows them.
  const std::string& caption() const { return caption_; }
  const std::string& message() const { return message_; }
  const std::string& printerText() const { return printerText_; }
  const std::string& buttonText() const { return buttonText_; }

 protected:
  // Where a derived dialog's composed texts come from: the formats of "ids1"
  // and "idsTitle" from `formatText` rather than the string table, the
  // caption's "%s" filled with `captionArgument` rather than the printer
  // text, and, with `ids1StandsAlone`, a message of "ids1" that "ids2" adds
  // nothing to. Every other text is the string table's.
  struct TextSource {
    std::function<std::string(std::int32_t)> formatText;
    std::string captionArgument;
    bool ids1StandsAlone = false;
  };
  // As the public constructor, with the texts composed from `source`.
  StatusDialog(vela::IPropertyHolder* settings, unsigned char createNow, const TextSource& source);

  // Detaches, unregisters and destroys the window, if there is one. Derived
  // destructors call it first, so the window goes while everything its
  // controls use (fonts, brushes) is still alive.
  void destroyWindow();
  // format(text, arguments) into a dialog text of at most 1,023 bytes; traces
  // a text that had to be cut.
  static std::string compose(const char* what, const std::string& text,
                             const std::vector<std::string_view>& arguments);

  HINSTANCE module_ = nullptr;
  HWND window_ = nullptr;
  std::int32_t printerBitmapId_ = 0;
  std::int32_t dialogId_ = 0;
  int x_ = 100;
  int y_ = 100;
  std::int32_t rightToLeft_ = 0;  // always 0: templates are used as stored
  std::string printerText_;
  std::string message_;
  std::string caption_;
  std::string buttonText_;
  quor::EventBroker* broker_ = nullptr;  // not owned; may be null

 private:
  StatusDialog(vela::IPropertyHolder* settings, unsigned char createNow, const TextSource* source);
  // Registers the window as a "DialogHandle" with the broker's manager.
  void registerKeyboardHandling();
  void unregisterKeyboardHandling();
  // The window was destroyed while the object was attached to it.
  void forgetWindow();

  friend INT_PTR CALLBACK StatusDialogProc(HWND, UINT, WPARAM, LPARAM) noexcept;

  quor::IInstanceManager* keyboardManager_ = nullptr;  // set while registered
  std::int32_t serial_ = 0;
};

// The dialog procedure of every StatusDialog window: binds the object given
// to CreateDialogIndirectParamA at WM_INITDIALOG (window user data) and hands
// every message to its dialogProc while it is bound. No exception leaves it.
INT_PTR CALLBACK StatusDialogProc(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) noexcept;

#endif  // DIALOG_STATUS_DIALOG_H_
