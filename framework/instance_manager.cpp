#include "framework/instance_manager.h"

#include <algorithm>
#include <memory>

#include "framework/debug_listener.h"
#include "framework/properties/property.h"
#include "platform/text.h"
#include "platform/window_messages.h"

namespace quor {
namespace {

// Converts a UTF-8 text; null stays null.
std::unique_ptr<std::wstring> wideOrNull(const char* text) {
  if (text == nullptr) return nullptr;
  return std::make_unique<std::wstring>(platform::utf8ToWide(text));
}

const wchar_t* cStr(const std::unique_ptr<std::wstring>& text) {
  return text ? text->c_str() : nullptr;
}

const wchar_t kDialogHandle[] = L"DialogHandle";

}  // namespace

// ---- AbstractInstanceManager -------------------------------------------

AbstractInstanceManager::~AbstractInstanceManager() {
  releaseModules();
}

void AbstractInstanceManager::pumpMessage() {
  if (broker_ != nullptr) broker_->wakeSignal().wait(broker_->idleTimeoutMs());
}

void AbstractInstanceManager::releaseModules() {
  for (ModuleRecord* record : modules_) delete record;
  modules_.clear();
}

void AbstractInstanceManager::addModule(ModuleHandle module) {
  for (ModuleRecord* record : modules_) {
    if (record != nullptr && record->module == module) return;
  }
  modules_.push_back(makeModuleRecord(module));
}

std::uint64_t AbstractInstanceManager::getModuleCount() {
  return modules_.size();
}

bool AbstractInstanceManager::getModule(std::int32_t index, ModuleHandle& module) {
  if (index < 0 || static_cast<std::uint64_t>(index) >= modules_.size()) return false;
  const ModuleRecord* record = modules_[static_cast<std::size_t>(index)];
  if (record == nullptr || record->module == nullptr) return false;
  module = record->module;
  return true;
}

std::string AbstractInstanceManager::queryModulesText(std::uint32_t key) {
  std::string text;
  for (ModuleRecord* record : modules_) {
    if (moduleTextHook(key, record, text)) break;
  }
  return text;
}

void* AbstractInstanceManager::queryModulesData(std::uintptr_t first, std::uintptr_t second,
                                                void** out) {
  void* result = nullptr;
  for (ModuleRecord* record : modules_) {
    if (moduleDataHook(first, second, record, result, out)) break;
  }
  return result;
}

void* AbstractInstanceManager::queryModulesData(std::uintptr_t first, std::uintptr_t second) {
  void* scratch = nullptr;
  return queryModulesData(first, second, &scratch);
}

vela::IDatabase* AbstractInstanceManager::getDatabase() {
  return database_;
}

EventBroker* AbstractInstanceManager::getEventBroker() {
  return broker_;
}

bool AbstractInstanceManager::createComponent(const wchar_t* name, const wchar_t* parameters) {
  if (name == nullptr || database_ == nullptr) return false;
  const ClassId classId = database_->findClassId(std::wstring(name));
  if (vela::isNullGuid(classId)) return false;
  vela::IPropertyHolder* component = createInstance(classId, parameters);
  if (addComponent(component)) return true;
  // Nobody else holds it: a component the broker would not take (neither a
  // thread nor a listener) would otherwise be lost.
  delete component;
  return false;
}

bool AbstractInstanceManager::createComponent(const char* name, const char* parameters) {
  const auto wideName = wideOrNull(name);
  const auto wideParameters = wideOrNull(parameters);
  return createComponent(cStr(wideName), cStr(wideParameters));
}

vela::IPropertyHolder* AbstractInstanceManager::createInstance(const ClassId& classId,
                                                               const wchar_t* parameters) {
  if (database_ == nullptr) return nullptr;
  vela::IProperty* entry = database_->get(L"Makers", classIdWideText(classId));
  if (entry == nullptr || entry->isNull()) return nullptr;
  const auto maker = reinterpret_cast<Maker>(entry->getValue());
  if (maker == nullptr) return nullptr;

  // The holder is the maker's to read and ours to destroy; an exception of
  // the component's constructor passes on after the holder is gone.
  vela::PropertyHolder holder;
  holder.setPointer(L"threadControl", static_cast<void*>(static_cast<vela::IListener*>(broker_)));
  std::vector<std::wstring> tokens = splitParameters(parameters);
  parseParameters(tokens, &holder);
  return maker(&holder, this);
}

vela::IPropertyHolder* AbstractInstanceManager::createInstance(const ClassId& classId,
                                                               const char* parameters) {
  const auto wideParameters = wideOrNull(parameters);
  return createInstance(classId, cStr(wideParameters));
}

bool AbstractInstanceManager::addComponent(vela::IPropertyHolder* component) {
  return broker_ != nullptr && broker_->add(component);
}

bool AbstractInstanceManager::removeComponent(vela::IPropertyHolder* component, bool deleteIt) {
  return broker_ != nullptr && broker_->remove(component, deleteIt);
}

std::int32_t AbstractInstanceManager::run() {
  if (!start()) return -1;
  return loop();
}

std::int32_t AbstractInstanceManager::addHandle(const wchar_t*, const WindowHandle&) {
  return -1;
}

std::int32_t AbstractInstanceManager::removeHandle(const wchar_t*, const WindowHandle&) {
  return -1;
}

ModuleRecord* AbstractInstanceManager::makeModuleRecord(ModuleHandle module) {
  auto* record = new ModuleRecord;
  record->module = module;
  return record;
}

bool AbstractInstanceManager::start() {
  if (started_) return true;
  started_ = database_ != nullptr && database_->initialize();
  if (started_) started_ = broker_ != nullptr && broker_->initialize();
  return started_;
}

std::int32_t AbstractInstanceManager::loop() {
  if (!started_) return -1;
  return broker_->run();
}

std::vector<std::wstring> AbstractInstanceManager::splitParameters(const wchar_t* text) {
  std::vector<std::wstring> tokens;
  if (text == nullptr) return tokens;
  const std::wstring all(text);
  std::size_t begin = 0;
  for (;;) {
    const std::size_t space = all.find(L' ', begin);
    if (space == std::wstring::npos) {
      tokens.push_back(all.substr(begin));
      break;
    }
    tokens.push_back(all.substr(begin, space - begin));
    begin = space + 1;
  }
  return tokens;
}

vela::IPropertyHolder* AbstractInstanceManager::parseParameters(std::vector<std::wstring>& tokens,
                                                                vela::IPropertyHolder* parameters) {
  for (const std::wstring& token : tokens) {
    if (token.empty()) continue;
    const std::size_t equals = token.find(L'=');
    if (equals == std::wstring::npos) {
      parameters->setWString(token.c_str(), L"");
      continue;
    }
    if (equals == 0) continue;
    const std::wstring key = token.substr(0, equals);
    const std::wstring value = token.substr(equals + 1);
    parameters->setWString(key.c_str(), value.c_str());
  }
  tokens.clear();
  return parameters;
}

bool AbstractInstanceManager::moduleTextHook(std::uint32_t, ModuleRecord*, std::string&) {
  return false;
}

bool AbstractInstanceManager::moduleDataHook(std::uintptr_t, std::uintptr_t, ModuleRecord*, void*&,
                                             void**) {
  return false;
}

// ---- InstanceManager ---------------------------------------------------

InstanceManager::InstanceManager(const ComponentMakers& makers) : database_(this), broker_(this) {
  AbstractInstanceManager::database_ = &database_;
  AbstractInstanceManager::broker_ = &broker_;
  const auto makerOf = [&makers](const ClassId& classId, Maker fallback) {
    for (const ComponentMaker& given : makers) {
      if (given.classId == classId) return given.maker;
    }
    return fallback;
  };
  registerClass("TimerEventGenerator", kTimerEventGeneratorClassId,
                makerOf(kTimerEventGeneratorClassId, nullptr));
  registerClass("DebugListener", kDebugListenerClassId,
                makerOf(kDebugListenerClassId, &makeDebugListener));
  registerClass("TarnEventGenerator", kTarnEventGeneratorClassId,
                makerOf(kTarnEventGeneratorClassId, nullptr));
  registerClass("TarnListener", kTarnListenerClassId, makerOf(kTarnListenerClassId, nullptr));
}

InstanceManager::~InstanceManager() {
  // Component threads end while everything they may reach (this manager,
  // the broker, the database) is still whole.
  broker_.stop(nullptr, false);
  broker_.stopComponentThreads();
  dialogs_.clear();
  dialogs_.shrink_to_fit();
}

void InstanceManager::registerClass(const char* name, const ClassId& classId, Maker maker) {
  const std::wstring wideName = platform::utf8ToWide(name);
  std::unique_ptr<vela::IProperty> id(
      vela::OpaqueProperty::newOpaque(vela::Pointer, &classId, sizeof classId));
  database_.set(L"GUID", wideName, *id, nullptr);
  std::unique_ptr<vela::IProperty> pointer(
      vela::Property::newPointer(reinterpret_cast<void*>(maker)));
  database_.set(L"Makers", classIdWideText(classId), *pointer, nullptr);
}

void InstanceManager::pumpMessage() {
  platform::pumpWindowMessage(dialogs_, &broker_.wakeSignal(), broker_.idleTimeoutMs());
}

std::int32_t InstanceManager::addHandle(const wchar_t* name, const WindowHandle& window) {
  if (name == nullptr || std::wstring(name) != kDialogHandle) return -1;
  if (!platform::isWindow(window)) return -1;
  dialogs_.push_back(window);
  return 0;
}

std::int32_t InstanceManager::removeHandle(const wchar_t* name, const WindowHandle& window) {
  if (name == nullptr || std::wstring(name) != kDialogHandle) return -1;
  dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), window), dialogs_.end());
  return 0;
}

}  // namespace quor
