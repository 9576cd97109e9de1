#include "app/dialog_list.h"

#include <algorithm>
#include <utility>

bool hasWindow(const qmxMeadowStatusDialog& dialog) {
  return IsWindow(dialog.getWindow()) != FALSE;
}

qmxMeadowStatusDialog* DialogList::track(Owned dialog) {
  qmxMeadowStatusDialog* tracked = dialog.get();
  Guard guard(lock_);
  tracked_.push_back(std::move(dialog));
  return tracked;
}

void DialogList::leaveOnScreen(Owned dialog) {
  Guard guard(lock_);
  leftOnScreen_.push_back(std::move(dialog));
}

qmxMeadowStatusDialog* DialogList::byTemplate(std::int32_t templateId) const {
  for (const Owned& dialog : tracked_) {
    if (dialog->getDialogId() == templateId) return dialog.get();
  }
  return nullptr;
}

bool DialogList::showsStatus(std::int32_t status) const {
  return std::any_of(tracked_.begin(), tracked_.end(),
                     [status](const Owned& d) { return d->getMessageId() == status; }) ||
         std::any_of(leftOnScreen_.begin(), leftOnScreen_.end(), [status](const Owned& d) {
           return d->getMessageId() == status && hasWindow(*d);
         });
}

bool DialogList::anyOnScreen() const {
  const auto onScreen = [](const Owned& d) { return hasWindow(*d); };
  return std::any_of(tracked_.begin(), tracked_.end(), onScreen) ||
         std::any_of(leftOnScreen_.begin(), leftOnScreen_.end(), onScreen);
}

DialogList::Owned DialogList::take(const qmxMeadowStatusDialog* dialog) {
  if (dialog == nullptr) return nullptr;
  Guard guard(lock_);
  for (auto* list : {&tracked_, &leftOnScreen_}) {
    auto found = std::find_if(list->begin(), list->end(),
                              [dialog](const Owned& d) { return d.get() == dialog; });
    if (found != list->end()) {
      Owned taken = std::move(*found);
      list->erase(found);
      return taken;
    }
  }
  return nullptr;
}

DialogList::Owned DialogList::takeBySerial(std::int32_t serial) {
  if (serial == 0) return nullptr;
  Guard guard(lock_);
  for (auto* list : {&tracked_, &leftOnScreen_}) {
    auto found = std::find_if(list->begin(), list->end(),
                              [serial](const Owned& d) { return d->serial() == serial; });
    if (found != list->end()) {
      Owned taken = std::move(*found);
      list->erase(found);
      return taken;
    }
  }
  return nullptr;
}

std::vector<DialogList::Owned> DialogList::takeTracked() {
  std::vector<Owned> taken;
  Guard guard(lock_);
  taken.swap(tracked_);
  return taken;
}

std::vector<DialogList::Owned> DialogList::takeAll() {
  std::vector<Owned> taken;
  std::vector<Owned> left;
  {
    Guard guard(lock_);
    taken.swap(tracked_);
    left.swap(leftOnScreen_);
  }
  for (Owned& dialog : left) taken.push_back(std::move(dialog));
  return taken;
}

std::vector<qmxMeadowStatusDialog*> DialogList::borrowed(const std::vector<Owned>& list) {
  std::vector<qmxMeadowStatusDialog*> view;
  view.reserve(list.size());
  for (const Owned& dialog : list) view.push_back(dialog.get());
  return view;
}
