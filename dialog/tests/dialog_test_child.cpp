// A program of its own for what a test process cannot survive or must not
// block on: it shows one application dialog (template given as the first
// argument, 115 by default) with the program's resources and a real broker,
// and pumps until the test posts WM_APP to the dialog. Its exit code is then
// 100 plus the number of results the dialog posted. Command 2 ends it with
// exit code 0 from inside the dialog. It gives up after 60 s (exit code 3).
#include <windows.h>

#include <cstdlib>
#include <memory>

#include "app/resources/resource_ids.h"
#include "dialog/qmx_meadow_status_dialog.h"
#include "framework/instance_manager.h"
#include "framework/properties/property_holder.h"

int main(int argc, char** argv) {
  const int templateId = argc > 1 ? std::atoi(argv[1]) : IDD_STATUS_DETAILED;
  std::unique_ptr<quor::IInstanceManager> manager(new quor::InstanceManager());
  vela::PropertyHolder settings;
  settings.setPointer(L"hinstance", GetModuleHandleA(nullptr));
  settings.setPointer(L"eventBroker", manager->getEventBroker());
  settings.setInt(L"idsPrinter", IDS_PRINTER_SERIES);
  settings.setInt(L"idbPrinter", IDB_NO_PRINTER_PICTURE);
  settings.setInt(L"idbStatusImage", IDB_ERROR);
  settings.setInt(L"ids1", 7291);
  settings.setInt(L"dialogID", templateId);
  auto dialog = std::make_unique<qmxMeadowStatusDialog>(&settings, 0);
  if (!dialog->create()) return 2;

  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 60000) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(5);
      continue;
    }
    if (message.message == WM_APP) {
      const int results = static_cast<int>(manager->getEventBroker()->queuedCount());
      dialog->close(1);
      dialog.reset();
      return 100 + results;
    }
    if (IsDialogMessageA(dialog->getWindow(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 3;
}
