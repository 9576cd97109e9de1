// The status dialogs the application listener owns, and the questions it
// asks of them.
//
// Two lists: the tracked dialogs (at most one per template, found by
// template and by status) and the dialogs the end of the job left on screen
// (found only by status while their window lasts, and by serial number when
// the user dismisses them). Every dialog in either list is owned here; a
// dialog taken out is handed over as a unique_ptr, and whoever takes it
// closes it (or lets it go) outside the lock.
//
// Threads: the lists are changed only on the listener's thread, the main
// thread. The lock given at construction (the listener's holder lock) is held
// while an entry is added or removed or a list is moved out, never while a
// dialog is created, closed or deleted. The questions run without it, on the
// thread that alone changes the lists.
#ifndef APP_DIALOG_LIST_H_
#define APP_DIALOG_LIST_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dialog/qmx_meadow_status_dialog.h"
#include "framework/properties/synchronized.h"

class DialogList {
 public:
  using Owned = std::unique_ptr<qmxMeadowStatusDialog>;

  explicit DialogList(const vela::Synchronized& lock) : lock_(lock) {}
  DialogList(const DialogList&) = delete;
  DialogList& operator=(const DialogList&) = delete;
  // Deletes whatever is still held (deleting a dialog destroys its window).
  ~DialogList() = default;

  // Tracks the dialog, after the others; answers it, still owned here.
  qmxMeadowStatusDialog* track(Owned dialog);
  // Keeps the dialog among those left on screen at the end of the job.
  void leaveOnScreen(Owned dialog);

  // The first tracked dialog of the template; null when none.
  qmxMeadowStatusDialog* byTemplate(std::int32_t templateId) const;
  // Whether the status is on screen: a tracked dialog shows it, or one left
  // on screen whose window still exists.
  bool showsStatus(std::int32_t status) const;
  // Whether a dialog of either list still has its window.
  bool anyOnScreen() const;

  // Takes the dialog out of whichever list holds it; null when it is in
  // neither (then it is not owned here).
  Owned take(const qmxMeadowStatusDialog* dialog);
  // Takes the dialog with the serial number out of whichever list holds it;
  // null when none has it. Serial 0 names no dialog.
  Owned takeBySerial(std::int32_t serial);
  // Takes every tracked dialog, in creation order.
  std::vector<Owned> takeTracked();
  // Takes every dialog of both lists: the tracked ones, then those left on
  // screen.
  std::vector<Owned> takeAll();

  // Borrowed views, in order: what the tests look at.
  std::vector<qmxMeadowStatusDialog*> tracked() const { return borrowed(tracked_); }
  std::vector<qmxMeadowStatusDialog*> leftOnScreen() const { return borrowed(leftOnScreen_); }

 private:
  using Guard = std::lock_guard<const vela::Synchronized>;
  static std::vector<qmxMeadowStatusDialog*> borrowed(const std::vector<Owned>& list);

  const vela::Synchronized& lock_;
  std::vector<Owned> tracked_;
  std::vector<Owned> leftOnScreen_;
};

// Whether the dialog's window still exists.
bool hasWindow(const qmxMeadowStatusDialog& dialog);

#endif  // APP_DIALOG_LIST_H_
