// qmxMeadowStatusDialog: the application's status dialog.
//
// Texts come from the string mappers (dialog mapper, then error mapper) and
// fall back to the module's string table; the dialog draws its status icon
// and printer picture, paints itself in a fixed light scheme, places itself
// (template 501 in the lower-right corner of the work area) and its inline
// picture (504, 505), and turns the texts of controls 1041 to 1043 (and 1037)
// into links. It decides nothing: what the user does is posted as a
// dialog-result message (see status_dialog.h) and the owner closes and
// deletes the dialog.
//
// Settings read from the holder at construction (missing keys give the
// default):
//   "eventBroker"        pointer  broker of the results; null: results dropped
//   "hinstance"          pointer  module of templates, strings and bitmaps
//   "dialogID"           int      template: 115, 501, 504 or 505
//   "idsPrinter"         int      string id of the printer text
//   "idbPrinter"         int      bitmap of the printer picture (control 1045)
//   "idbStatusImage"     int      bitmap of the status icon (control 2035)
//   "ids1"               int      string id of the message format ("%s": printer text)
//   "ids2", "mediaCode", "trayCode"  int  second message format and its media
//                                 and tray names (-1: none); base class only
//   "idsTitle"           int      string id of the caption format ("%s": printer label)
//   "idsDialogCaption"   int      string id of the caption; wins over "idsTitle"
//   "buttonMessage"      int      string id of the button text (control 100)
//   "printerName"        text     printer label; empty: the "idsPrinter" text
//   "dialogStringMapper", "errorStringMapper"  pointer  StringMapper*, not owned
//   "closeAtEndOfJob"    int      1: closesAtEndOfJob() is true
//   "messageID"          int      the owner's identifier of the status shown
//
// Results posted (codes in status_dialog.h): close box, Esc and Enter: 1;
// control 1037 ("more..."): 102; command 100: 0; command 101: 4; any other
// command its own id, except these, which post nothing: command 2 ends the
// program with exit code 0 (Esc, which the dialog handling of the manager's
// pump also turns into command 2, is told apart by the key state and counts
// as the close box); 1041 to 1043 show a message box.
//
// Ownership: the dialog owns the brushes it paints with, the fonts it makes
// for its links and the inline picture of control 2148; they are deleted
// after its window is destroyed, when the object is deleted. Threads: see status_dialog.h.
#ifndef DIALOG_QMX_MEADOW_STATUS_DIALOG_H_
#define DIALOG_QMX_MEADOW_STATUS_DIALOG_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialog/gdi_objects.h"
#include "dialog/status_dialog.h"
#include "i18n/string_mapper.h"

// Where the application's dialog reads a text: the dialog mapper, then the
// error mapper, then the module's string table; the first that has one.
class DialogTextLookup {
 public:
  DialogTextLookup(HINSTANCE module, const StringMapper* dialogMapper,
                   const StringMapper* errorMapper)
      : module_(module), dialogMapper_(dialogMapper), errorMapper_(errorMapper) {}
  std::string operator()(std::int32_t id) const;

 private:
  HINSTANCE module_;
  const StringMapper* dialogMapper_;  // not owned; may be null
  const StringMapper* errorMapper_;   // not owned; may be null
};

class qmxMeadowStatusDialog : public StatusDialog {
 public:
  // See the settings above. The owner passes createNow 0 and calls create().
  qmxMeadowStatusDialog(vela::IPropertyHolder* settings, unsigned char createNow);
  // Destroys the window first, then the fonts and brushes its controls used.
  ~qmxMeadowStatusDialog() override;

  INT_PTR dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // "messageID".
  std::int32_t getMessageId() const { return messageId_; }
  // "closeAtEndOfJob" was 1.
  bool closesAtEndOfJob() const { return closeAtEndOfJob_ == 1; }

  // The first non-empty of: the dialog mapper's text, the error mapper's
  // text, the module's string table text for the id.
  std::string lookupText(std::int32_t id) const;

  // Colour rules (ids: 2147 and 2167 are white on blue, every other id black
  // on white).
  std::int32_t colorKeyOf(HWND control) const;
  static COLORREF textColorFor(std::int32_t id);
  static COLORREF backColorFor(std::int32_t id);
  HBRUSH brushFor(std::int32_t id) const;

  // The composed caption of "idsDialogCaption" and the printer label.
  const std::string& dialogCaption() const { return dialogCaption_; }
  const std::string& printerLabel() const { return printerLabel_; }

 private:
  // The public constructor's work, once the text lookup and the printer
  // label are known: the base composes every text from them, once.
  qmxMeadowStatusDialog(vela::IPropertyHolder* settings, unsigned char createNow,
                        const DialogTextLookup& texts, std::string printerLabel);

  void initialize(HWND window);
  // Sets the control's text and makes it a link; nothing when it is absent.
  void makeLink(HWND window, int controlId, const std::string& text, bool semiBold);
  void makeStandardLinks(HWND window);
  void placeInLowerRightCorner(HWND window);
  // Gives control 2148 a copy of its picture that this dialog owns.
  void adoptInlinePicture(HWND window);
  void placeInlinePicture(HWND window);
  void drawBitmap(const DRAWITEMSTRUCT* item, std::int32_t bitmapId) const;
  INT_PTR handleCommand(HWND window, WPARAM wParam, LPARAM lParam);

  ScopedBrush whiteBrush_;
  ScopedBrush blackBrush_;
  ScopedBrush blueBrush_;
  std::vector<ScopedFont> linkFonts_;
  ScopedBitmap inlinePicture_;
  DialogTextLookup texts_;
  std::int32_t closeAtEndOfJob_ = 0;
  std::int32_t messageId_ = 0;
  std::int32_t statusImageId_ = 0;
  std::int32_t printerPictureId_ = 0;
  std::string dialogCaption_;
  std::string printerLabel_;
};

#endif  // DIALOG_QMX_MEADOW_STATUS_DIALOG_H_
