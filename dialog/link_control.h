// Static controls drawn and used as links.
//
// A link is a static text control with an underlined font (semi-bold for the
// "more..." link), the SS_NOTIFY style (a click sends WM_COMMAND with the
// control's id to the dialog), the hand cursor over it and blue text. Its
// state lives in window properties, not in an object:
//   "_Original_Proc_" on the link: the control's window procedure before
//                     LinkWndProc replaced it;
//   "_Original_Proc_" on the dialog: the dialog's window procedure before
//                     LinkParentWndProc replaced it (once per dialog, however
//                     many links it holds);
//   "_Blue_Text_"     on the link: 1, the text is drawn blue.
// Both replaced procedures are put back when their window receives
// WM_DESTROY.
//
// Everything here runs on the dialog's thread, inside its message dispatch.
#ifndef DIALOG_LINK_CONTROL_H_
#define DIALOG_LINK_CONTROL_H_

#include <windows.h>

#include "dialog/gdi_objects.h"

// The colours of the dialog's fixed light scheme.
inline constexpr COLORREF kBlack = RGB(0, 0, 0);
inline constexpr COLORREF kWhite = RGB(255, 255, 255);
inline constexpr COLORREF kBlue = RGB(0, 51, 200);

// Window property names.
inline constexpr char kOriginalProcProperty[] = "_Original_Proc_";
inline constexpr char kBlueTextProperty[] = "_Blue_Text_";

// Gives the control a new font derived from the one it shows: underlined
// when `underline`, weight 600 when `semiBold`. The control does not own a
// font it is given, so the new font is returned: keep it alive for as long as
// the control may draw with it (until the control is destroyed). Empty, and
// the control unchanged, when the font cannot be made or the control is null.
ScopedFont setLinkFont(HWND control, bool semiBold, bool underline);

// Adds SS_NOTIFY to the control, replaces its window procedure by
// LinkWndProc, marks it "_Blue_Text_" and replaces its parent's window
// procedure by LinkParentWndProc unless that was done before. Nothing for a
// null control or one already made a link.
void subclassLink(HWND control);

// Window procedure of a link control: the hand cursor (the arrow when the
// hand cannot be loaded) for WM_SETCURSOR; puts the saved procedure back at
// WM_DESTROY; everything else goes to the saved procedure.
LRESULT CALLBACK LinkWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Window procedure of a dialog that holds links: WM_CTLCOLORSTATIC for a
// "_Blue_Text_" control goes to the saved procedure (the dialog's own colour
// handling) and then sets the text colour blue; puts the saved procedure back
// at WM_DESTROY; everything else goes to the saved procedure.
LRESULT CALLBACK LinkParentWndProc(HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam) noexcept;

#endif  // DIALOG_LINK_CONTROL_H_
