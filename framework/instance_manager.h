// The instance manager: root of the component framework. It owns the
// property database and the event broker, keeps the registry of component
// classes, creates components by name from a parameter text, and runs the
// main loop with the window message pump of the main thread.
//
// Threads: every operation is called on the main thread, except
// getEventBroker, which component threads call to post.
#ifndef FRAMEWORK_INSTANCE_MANAGER_H_
#define FRAMEWORK_INSTANCE_MANAGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "framework/class_id.h"
#include "framework/event_broker.h"
#include "framework/properties/database.h"
#include "framework/properties/property_holder.h"
#include "framework/properties/quor_database.h"
#include "platform/window_messages.h"

namespace quor {

class IInstanceManager;

using ModuleHandle = void*;
using WindowHandle = platform::WindowHandle;

// Makes a component from its parameters; null on failure. The component
// copies what it needs: the parameter holder is destroyed when the maker
// returns.
using Maker = vela::IPropertyHolder* (*)(vela::IPropertyHolder* parameters,
                                         IInstanceManager* manager);

// A module record: one module instance handle.
struct ModuleRecord {
  ModuleHandle module = nullptr;
};

class IInstanceManager {
 public:
  virtual void releaseModules() = 0;
  // Appends a record unless one with that handle exists.
  virtual void addModule(ModuleHandle module) = 0;
  virtual std::uint64_t getModuleCount() = 0;
  // False for an index out of range or an empty record.
  virtual bool getModule(std::int32_t index, ModuleHandle& module) = 0;
  // The first module hook's answer, or the empty text.
  virtual std::string queryModulesText(std::uint32_t key) = 0;
  virtual void* queryModulesData(std::uintptr_t first, std::uintptr_t second, void** out) = 0;
  virtual void* queryModulesData(std::uintptr_t first, std::uintptr_t second) = 0;
  virtual vela::IDatabase* getDatabase() = 0;
  virtual EventBroker* getEventBroker() = 0;
  // Creates the registered component of that name (case-sensitive) from the
  // parameter text and adds it to the broker; a component the broker does
  // not take is deleted. The narrow forms convert from UTF-8; a null text
  // stays null.
  virtual bool createComponent(const wchar_t* name, const wchar_t* parameters) = 0;
  virtual bool createComponent(const char* name, const char* parameters) = 0;
  // Makes the component without adding it; null when the class has no maker
  // or the maker fails. Exceptions of the component's constructor pass out.
  virtual vela::IPropertyHolder* createInstance(const ClassId& classId,
                                                const wchar_t* parameters) = 0;
  virtual vela::IPropertyHolder* createInstance(const ClassId& classId, const char* parameters) = 0;
  virtual bool addComponent(vela::IPropertyHolder* component) = 0;
  virtual bool removeComponent(vela::IPropertyHolder* component, bool deleteIt) = 0;
  // Runs the broker loop until the broker is stopped; -1 if start-up failed.
  virtual std::int32_t run() = 0;
  // One step of the main thread's window message pump: one window message,
  // or, when none is waiting, a wait for the next thing to do (a window
  // message, the broker's wake signal, or the end of the broker's idle
  // bound). The broker's loop calls it once per quiet pass.
  virtual void pumpMessage() = 0;
  // "DialogHandle" registers a window whose dialog messages the pump routes
  // to it; 0 on success, -1 for another name or a handle that is no window.
  virtual std::int32_t addHandle(const wchar_t* name, const WindowHandle& window) = 0;
  // Removes every occurrence; 0 (also when absent), -1 for another name.
  virtual std::int32_t removeHandle(const wchar_t* name, const WindowHandle& window) = 0;
  virtual ~IInstanceManager() = default;
};

class AbstractInstanceManager : public IInstanceManager {
 public:
  AbstractInstanceManager() = default;
  AbstractInstanceManager(const AbstractInstanceManager&) = delete;
  AbstractInstanceManager& operator=(const AbstractInstanceManager&) = delete;

  void releaseModules() override;
  void addModule(ModuleHandle module) override;
  std::uint64_t getModuleCount() override;
  bool getModule(std::int32_t index, ModuleHandle& module) override;
  std::string queryModulesText(std::uint32_t key) override;
  void* queryModulesData(std::uintptr_t first, std::uintptr_t second, void** out) override;
  void* queryModulesData(std::uintptr_t first, std::uintptr_t second) override;
  vela::IDatabase* getDatabase() override;
  EventBroker* getEventBroker() override;
  bool createComponent(const wchar_t* name, const wchar_t* parameters) override;
  bool createComponent(const char* name, const char* parameters) override;
  vela::IPropertyHolder* createInstance(const ClassId& classId, const wchar_t* parameters) override;
  vela::IPropertyHolder* createInstance(const ClassId& classId, const char* parameters) override;
  bool addComponent(vela::IPropertyHolder* component) override;
  bool removeComponent(vela::IPropertyHolder* component, bool deleteIt) override;
  std::int32_t run() override;
  // Without windows: the wait alone, on the broker's wake signal.
  void pumpMessage() override;
  std::int32_t addHandle(const wchar_t* name, const WindowHandle& window) override;
  std::int32_t removeHandle(const wchar_t* name, const WindowHandle& window) override;
  ~AbstractInstanceManager() override;

  virtual ModuleRecord* makeModuleRecord(ModuleHandle module);
  virtual bool start();
  virtual std::int32_t loop();
  // Stores each token as a text property of the holder (see the .cpp), then
  // empties the token list; returns the holder.
  virtual vela::IPropertyHolder* parseParameters(std::vector<std::wstring>& tokens,
                                                 vela::IPropertyHolder* parameters);
  // Module query hooks: answer true to end the query with the result given.
  virtual bool moduleTextHook(std::uint32_t key, ModuleRecord* module, std::string& text);
  virtual bool moduleDataHook(std::uintptr_t first, std::uintptr_t second, ModuleRecord* module,
                              void*& result, void** out);

  // Cuts a parameter text at every space; empty tokens are kept (the parser
  // skips them). A null text gives no tokens.
  static std::vector<std::wstring> splitParameters(const wchar_t* text);

 protected:
  vela::IDatabase* database_ = nullptr;  // not owned
  EventBroker* broker_ = nullptr;        // not owned
  std::vector<ModuleRecord*> modules_;   // owned
  bool started_ = false;
};

// The maker of a registered component class, by its class id. The framework
// registers the classes by name and id, but their components are built on
// it, so their makers come from the program's wiring (app/wiring.h).
struct ComponentMaker {
  ClassId classId;
  Maker maker = nullptr;
};
using ComponentMakers = std::vector<ComponentMaker>;

class InstanceManager : public AbstractInstanceManager {
 public:
  // Registers the four component classes, in this order: TimerEventGenerator,
  // DebugListener, TarnEventGenerator and TarnListener, each with the maker
  // of its class id in `makers` (the debug listener by default with the
  // framework's own). A class whose maker is not given is registered without
  // one, and createComponent answers false for it.
  explicit InstanceManager(const ComponentMakers& makers = {});
  // Stops the broker and joins the component threads before anything is
  // deleted; then frees the dialog list, the broker (and with it the
  // components), the database and the module records.
  ~InstanceManager() override;

  void pumpMessage() override;
  std::int32_t addHandle(const wchar_t* name, const WindowHandle& window) override;
  std::int32_t removeHandle(const wchar_t* name, const WindowHandle& window) override;

  // Registers (name, class id, maker) in the database; the maker may be null.
  void registerClass(const char* name, const ClassId& classId, Maker maker);

  const std::vector<WindowHandle>& dialogHandles() const { return dialogs_; }

 private:
  Database database_;
  // Declared before the broker, so that it outlives the components the
  // broker deletes: a dialog a component still holds unregisters its window
  // (removeHandle) while it is being deleted.
  std::vector<WindowHandle> dialogs_;
  EventBroker broker_;
};

}  // namespace quor

#endif  // FRAMEWORK_INSTANCE_MANAGER_H_
