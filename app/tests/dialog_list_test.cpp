// The listener's dialog list: what it answers about real dialogs (real
// windows in Xvfb, from the program's templates), and that whatever it takes
// out or still holds is deleted with its window.
#include "app/dialog_list.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "app/resources/resource_ids.h"
#include "framework/properties/property_holder.h"

namespace {

// A dialog of the template showing the status; with a window when `shown`.
DialogList::Owned makeDialog(std::int32_t templateId, std::int32_t status, bool shown) {
  vela::PropertyHolder settings;
  settings.setPointer(L"hinstance", GetModuleHandleW(nullptr));
  settings.setInt(L"dialogID", templateId);
  settings.setInt(L"messageID", status);
  auto dialog = std::make_unique<qmxMeadowStatusDialog>(&settings, 0);
  if (shown) {
    EXPECT_TRUE(dialog->create()) << "template " << templateId;
  }
  return dialog;
}

class DialogListTest : public ::testing::Test {
 protected:
  vela::Synchronized lock_;
  DialogList list_{lock_};
};

TEST_F(DialogListTest, TemplatesAreFoundAmongTrackedDialogsOnly) {
  qmxMeadowStatusDialog* door = list_.track(makeDialog(IDD_STATUS_NOTIFICATION, 40020, true));
  qmxMeadowStatusDialog* picture = list_.track(makeDialog(IDD_STATUS_INLINE, 41101, true));
  list_.leaveOnScreen(makeDialog(IDD_STATUS_DETAILED, 11011, true));

  EXPECT_EQ(door, list_.byTemplate(IDD_STATUS_NOTIFICATION));
  EXPECT_EQ(picture, list_.byTemplate(IDD_STATUS_INLINE));
  EXPECT_EQ(nullptr, list_.byTemplate(IDD_STATUS_DETAILED)) << "left on screen, not tracked";
  EXPECT_EQ(nullptr, list_.byTemplate(IDD_STATUS_INLINE_TALL));
  EXPECT_EQ((std::vector<qmxMeadowStatusDialog*>{door, picture}), list_.tracked());
  EXPECT_EQ(1u, list_.leftOnScreen().size());
}

// A tracked dialog shows its status whether or not it has a window; one left
// on screen shows it only while its window exists.
TEST_F(DialogListTest, AStatusIsShownWhileItsDialogIsTrackedOrOnScreen) {
  list_.track(makeDialog(IDD_STATUS_NOTIFICATION, 40020, false));
  EXPECT_TRUE(list_.showsStatus(40020));
  EXPECT_FALSE(list_.anyOnScreen()) << "no dialog has a window";

  list_.leaveOnScreen(makeDialog(IDD_STATUS_DETAILED, 11011, true));
  EXPECT_TRUE(list_.showsStatus(11011));
  EXPECT_TRUE(list_.anyOnScreen());
  EXPECT_FALSE(list_.showsStatus(10001));

  DestroyWindow(list_.leftOnScreen()[0]->getWindow());  // gone under the list's feet
  EXPECT_FALSE(list_.showsStatus(11011));
  EXPECT_FALSE(list_.anyOnScreen());
  EXPECT_EQ(1u, list_.leftOnScreen().size()) << "still owned until taken";
}

TEST_F(DialogListTest, TakenDialogsLeaveTheListAndGoWithTheirWindows) {
  qmxMeadowStatusDialog* door = list_.track(makeDialog(IDD_STATUS_NOTIFICATION, 40020, true));
  qmxMeadowStatusDialog* details = list_.track(makeDialog(IDD_STATUS_DETAILED, 0, true));
  list_.leaveOnScreen(makeDialog(IDD_STATUS_DETAILED, 11011, true));
  qmxMeadowStatusDialog* error = list_.leftOnScreen()[0];
  const HWND doorWindow = door->getWindow();

  DialogList::Owned stranger = makeDialog(IDD_STATUS_INLINE, 41101, false);
  EXPECT_EQ(nullptr, list_.take(stranger.get())) << "not owned by the list";
  EXPECT_EQ(nullptr, list_.take(nullptr));
  EXPECT_EQ(nullptr, list_.takeBySerial(0));
  EXPECT_EQ(nullptr, list_.takeBySerial(stranger->serial()));

  // Left on screen, found by serial number.
  DialogList::Owned taken = list_.takeBySerial(error->serial());
  EXPECT_EQ(error, taken.get());
  EXPECT_TRUE(list_.leftOnScreen().empty());
  EXPECT_EQ(nullptr, list_.takeBySerial(error->serial())) << "taken twice";

  taken = list_.take(door);
  EXPECT_EQ(door, taken.get());
  taken.reset();
  EXPECT_FALSE(IsWindow(doorWindow)) << "deleting a taken dialog destroys its window";
  EXPECT_EQ((std::vector<qmxMeadowStatusDialog*>{details}), list_.tracked());
}

TEST_F(DialogListTest, TakeAllGivesTrackedThenLeftAndEmptiesBoth) {
  qmxMeadowStatusDialog* door = list_.track(makeDialog(IDD_STATUS_NOTIFICATION, 40020, true));
  list_.leaveOnScreen(makeDialog(IDD_STATUS_DETAILED, 11011, true));
  qmxMeadowStatusDialog* error = list_.leftOnScreen()[0];
  qmxMeadowStatusDialog* picture = list_.track(makeDialog(IDD_STATUS_INLINE, 41101, true));

  std::vector<DialogList::Owned> all = list_.takeAll();
  ASSERT_EQ(3u, all.size());
  EXPECT_EQ(door, all[0].get());
  EXPECT_EQ(picture, all[1].get());
  EXPECT_EQ(error, all[2].get());
  EXPECT_TRUE(list_.tracked().empty());
  EXPECT_TRUE(list_.leftOnScreen().empty());
  EXPECT_FALSE(list_.anyOnScreen());

  list_.track(std::move(all[0]));
  EXPECT_EQ(1u, list_.takeTracked().size());
  EXPECT_TRUE(list_.tracked().empty());
}

TEST(DialogListLifetime, WhatTheListStillHoldsGoesWithIt) {
  vela::Synchronized lock;
  HWND window = nullptr;
  {
    DialogList list(lock);
    list.leaveOnScreen(makeDialog(IDD_STATUS_DETAILED, 11011, true));
    window = list.leftOnScreen()[0]->getWindow();
    ASSERT_TRUE(IsWindow(window));
  }
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
