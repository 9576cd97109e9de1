#include "framework/instance_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/debug_listener.h"
#include "framework/properties/property.h"
#include "framework/tests/test_support.h"
#include "platform/debug_output.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using namespace std::chrono_literals;

TEST(ClassIdTextTest, FieldsAndBytesInLowerCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(quor::classIdText(quor::kTimerEventGeneratorClassId),
            "{505cd427-e218-463b-ac41e737bd464c9}");
  EXPECT_EQ(quor::classIdText(quor::kTarnEventGeneratorClassId),
            "{4ad54a4f-7906-4c40-bb193b778a08d4c}");
  EXPECT_EQ(quor::classIdText(vela::nullGuid()), "{0-0-0-00000000}");
  const quor::ClassId small = {0x1, 0x20, 0x300, {0x0F, 0x10, 0, 0xFF, 1, 2, 3, 4}};
  EXPECT_EQ(quor::classIdText(small), "{1-20-300-f100ff1234}");
  const quor::ClassId full = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {255, 255, 255, 255, 255, 255, 255, 255}};
  EXPECT_EQ(quor::classIdText(full), "{ffffffff-ffff-ffff-ffffffffffffffff}");
  EXPECT_EQ(quor::classIdWideText(quor::kDebugListenerClassId),
            L"{b0d2a23a-fe2d-4a03-aec5c3e2f9bea2e4}");
}

// --- parameters ----------------------------------------------------------

// A manager whose parser can be watched.
class ParsingManager : public quor::InstanceManager {
 public:
  std::unique_ptr<vela::PropertyHolder> parse(const wchar_t* text) {
    auto holder = std::make_unique<vela::PropertyHolder>();
    std::vector<std::wstring> tokens = splitParameters(text);
    EXPECT_EQ(parseParameters(tokens, holder.get()), holder.get());
    EXPECT_TRUE(tokens.empty()) << "the token list is emptied";
    return holder;
  }
};

TEST(ParameterParsingTest, SpacesSeparateTokensAndEmptyTokensAreSkipped) {
  ParsingManager manager;
  auto p = manager.parse(L"a=1 b=2  c");
  EXPECT_STREQ(p->getWString(L"a", nullptr), L"1");
  EXPECT_STREQ(p->getWString(L"b", nullptr), L"2");
  EXPECT_STREQ(p->getWString(L"c", nullptr), L"");
  EXPECT_FALSE(p->hasProperty(L""));

  EXPECT_EQ(quor::AbstractInstanceManager::splitParameters(L" x  y ").size(), 5u);
  EXPECT_TRUE(quor::AbstractInstanceManager::splitParameters(nullptr).empty());
  EXPECT_EQ(quor::AbstractInstanceManager::splitParameters(L"").size(), 1u);
}

TEST(ParameterParsingTest, KeysEndAtTheFirstEqualsSign) {
  ParsingManager manager;
  auto p = manager.parse(L"=x k= q=a=b k2==");
  EXPECT_FALSE(p->hasProperty(L"")) << "an empty key stores nothing";
  EXPECT_STREQ(p->getWString(L"k", nullptr), L"");
  EXPECT_STREQ(p->getWString(L"q", nullptr), L"a=b");
  EXPECT_STREQ(p->getWString(L"k2", nullptr), L"=");
  // Everything is text, even what looks like a number (the reader converts).
  EXPECT_EQ(manager.parse(L"interval=0x3E8")->getInt(L"interval", 0), 1000);
  EXPECT_EQ(manager.parse(L"a=1 a=2")->getWString(L"a", nullptr), std::wstring(L"2"));
  // Tabs are no separators: only the space is.
  EXPECT_STREQ(manager.parse(L"a=1\tb=2")->getWString(L"a", nullptr), L"1\tb=2");
}

// A component that copies what its maker was given, so tests can see it.
struct Probe {
  bool hadThreadControl = false;
  void* threadControl = nullptr;
  std::wstring pipe, empty;
  bool hasEmpty = false;
  int calls = 0;
};
Probe* probe = nullptr;

vela::IPropertyHolder* makeProbe(vela::IPropertyHolder* parameters, quor::IInstanceManager*) {
  ++probe->calls;
  const vela::IProperty* control = parameters->getProperty(L"threadControl");
  probe->hadThreadControl = control->getType() == vela::Pointer;
  probe->threadControl = parameters->getPointer(L"threadControl", nullptr);
  probe->pipe = parameters->getWString(L"pipe", L"(none)");
  probe->hasEmpty = parameters->hasProperty(L"flag");
  auto* listener = new fwtest::RecordingListener("probe", nullptr);
  return listener;
}

// A component with neither a thread nor a listener: the broker refuses it.
struct Mute : vela::PropertyHolder {
  ~Mute() override { ++probe->calls; }
};
vela::IPropertyHolder* makeMute(vela::IPropertyHolder*, quor::IInstanceManager*) {
  return new Mute;
}

vela::IPropertyHolder* makeNothing(vela::IPropertyHolder*, quor::IInstanceManager*) {
  ++probe->calls;
  return nullptr;
}

class CreationTest : public ::testing::Test {
 protected:
  void SetUp() override { probe = &seen; }
  void TearDown() override { probe = nullptr; }
  Probe seen;
  quor::InstanceManager manager;
};

TEST_F(CreationTest, MakerGetsTheBrokerAsThreadControlAndTheTextParameters) {
  manager.registerClass("Probe", quor::kTarnListenerClassId, &makeProbe);
  ASSERT_TRUE(manager.createComponent("Probe", "pipe=\\\\.\\pipe\\job7 flag"));
  EXPECT_TRUE(seen.hadThreadControl);
  EXPECT_EQ(seen.threadControl,
            static_cast<void*>(static_cast<vela::IListener*>(manager.getEventBroker())));
  EXPECT_EQ(seen.pipe, L"\\\\.\\pipe\\job7");
  EXPECT_TRUE(seen.hasEmpty);

  // A text threadControl replaces the pointer: the component gets none.
  ASSERT_TRUE(manager.createComponent("Probe", "threadControl=1"));
  EXPECT_FALSE(seen.hadThreadControl);
  EXPECT_EQ(seen.threadControl, nullptr);

  // UTF-8 parameter text arrives as wide text.
  ASSERT_TRUE(manager.createComponent("Probe", "pipe=Dru\xC3\xA7k"));
  EXPECT_EQ(seen.pipe, L"Dru\u00E7k");
}

TEST_F(CreationTest, UnknownNamesMissingMakersAndFailingMakersCreateNothing) {
  EXPECT_TRUE(manager.createComponent("DebugListener", ""));
  EXPECT_FALSE(manager.createComponent("debuglistener", "")) << "names are case-sensitive";
  EXPECT_FALSE(manager.createComponent("NoSuchThing", ""));
  EXPECT_FALSE(manager.createComponent(static_cast<const char*>(nullptr), nullptr));

  manager.registerClass("Nothing", quor::kTarnListenerClassId, &makeNothing);
  EXPECT_FALSE(manager.createComponent("Nothing", "a=1"));
  EXPECT_EQ(seen.calls, 1);

  // Refused by the broker: created, then deleted rather than lost.
  manager.registerClass("Mute", quor::kTarnListenerClassId, &makeMute);
  EXPECT_FALSE(manager.createComponent("Mute", ""));
  EXPECT_EQ(seen.calls, 2);

  // A class registered without a maker is a valid state of the registry.
  manager.registerClass("Bare", quor::kTarnListenerClassId, nullptr);
  EXPECT_EQ(manager.createInstance(quor::kTarnListenerClassId, L""), nullptr);
  EXPECT_FALSE(manager.createComponent("Bare", ""));
  EXPECT_EQ(manager.createInstance(vela::nullGuid(), "x=1"), nullptr);
}

TEST_F(CreationTest, FourClassesAreRegisteredUnderTheirIds) {
  vela::IDatabase* db = manager.getDatabase();
  EXPECT_EQ(db->findClassId("TimerEventGenerator"), quor::kTimerEventGeneratorClassId);
  EXPECT_EQ(db->findClassId("DebugListener"), quor::kDebugListenerClassId);
  EXPECT_EQ(db->findClassId("TarnEventGenerator"), quor::kTarnEventGeneratorClassId);
  EXPECT_EQ(db->findClassId("TarnListener"), quor::kTarnListenerClassId);
  EXPECT_TRUE(db->exists(L"/Makers/{b0d2a23a-fe2d-4a03-aec5c3e2f9bea2e4}"));
  EXPECT_TRUE(db->exists(L"/Makers/" + quor::classIdWideText(quor::kTarnListenerClassId)));
}

TEST(ComponentMakersTest, MakersGivenToTheManagerAreRegisteredAndMissingOnesCreateNothing) {
  quor::InstanceManager manager({{quor::kTimerEventGeneratorClassId, &quor::makeDebugListener}});
  EXPECT_TRUE(manager.createComponent("TimerEventGenerator", "interval=10"));
  EXPECT_TRUE(manager.createComponent("DebugListener", "")) << "the framework's own maker";
  EXPECT_FALSE(manager.createComponent("TarnEventGenerator", ""));
  EXPECT_FALSE(manager.createComponent("TarnListener", ""));
  // Makers are found by class id: one given for the debug listener's
  // replaces the framework's own.
  quor::InstanceManager without({{quor::kDebugListenerClassId, nullptr}});
  EXPECT_FALSE(without.createComponent("DebugListener", ""));
}

// --- modules -------------------------------------------------------------

TEST(ModuleListTest, HandlesAreListedOnceAndIndexedWithinBounds) {
  quor::InstanceManager manager;
  int a = 0, b = 0;
  manager.addModule(&a);
  manager.addModule(&b);
  manager.addModule(&a);
  EXPECT_EQ(manager.getModuleCount(), 2u);
  quor::ModuleHandle out = nullptr;
  EXPECT_TRUE(manager.getModule(1, out));
  EXPECT_EQ(out, static_cast<void*>(&b));
  out = nullptr;
  EXPECT_FALSE(manager.getModule(-1, out));
  EXPECT_FALSE(manager.getModule(2, out));
  EXPECT_EQ(out, nullptr);
  manager.addModule(nullptr);
  EXPECT_EQ(manager.getModuleCount(), 3u);
  EXPECT_FALSE(manager.getModule(2, out)) << "an empty record";
  manager.releaseModules();
  EXPECT_EQ(manager.getModuleCount(), 0u);
}

// Answers queries for the second module only.
class HookedManager : public quor::InstanceManager {
 public:
  bool moduleTextHook(std::uint32_t key, quor::ModuleRecord* module, std::string& text) override {
    visited.push_back(module->module);
    if (module->module != answering) return false;
    text = "text " + std::to_string(key);
    return true;
  }
  bool moduleDataHook(std::uintptr_t first, std::uintptr_t second, quor::ModuleRecord* module,
                      void*& result, void** out) override {
    if (module->module != answering) return false;
    result = reinterpret_cast<void*>(first + second);
    *out = module->module;
    return true;
  }
  void* answering = nullptr;
  std::vector<void*> visited;
};

TEST(ModuleListTest, QueriesStopAtTheFirstModuleThatAnswers) {
  HookedManager manager;
  int a = 0, b = 0, c = 0;
  EXPECT_EQ(manager.queryModulesText(1), "");
  manager.addModule(&a);
  manager.addModule(&b);
  manager.addModule(&c);
  EXPECT_EQ(manager.queryModulesText(3), "") << "nobody answers";
  EXPECT_EQ(manager.visited.size(), 3u);
  manager.answering = &b;
  manager.visited.clear();
  EXPECT_EQ(manager.queryModulesText(42), "text 42");
  EXPECT_EQ(manager.visited, (std::vector<void*>{&a, &b}));
  void* out = nullptr;
  EXPECT_EQ(manager.queryModulesData(40, 2, &out), reinterpret_cast<void*>(42));
  EXPECT_EQ(out, static_cast<void*>(&b));
  EXPECT_EQ(manager.queryModulesData(1, 1), reinterpret_cast<void*>(2));

  quor::InstanceManager plain;
  plain.addModule(&a);
  EXPECT_EQ(plain.queryModulesText(1), "");
  EXPECT_EQ(plain.queryModulesData(1, 2), nullptr);
}

// --- window handles and the pump ---------------------------------------

TEST(DialogHandleTest, OnlyWindowsUnderTheExactNameAreAccepted) {
  quor::InstanceManager manager;
  int notAWindow = 0;
  const quor::WindowHandle fake = &notAWindow;
  EXPECT_EQ(manager.addHandle(L"DialogHandle", fake), -1) << "not a window";
  EXPECT_EQ(manager.addHandle(L"dialoghandle", fake), -1);
  EXPECT_EQ(manager.removeHandle(L"Other", fake), -1);
  EXPECT_EQ(manager.removeHandle(L"DialogHandle", fake), 0) << "absent is fine";
  EXPECT_TRUE(manager.dialogHandles().empty());

  quor::AbstractInstanceManager& base = manager;
  EXPECT_EQ(base.quor::AbstractInstanceManager::addHandle(L"DialogHandle", fake), -1);
}

#ifdef _WIN32
TEST(DialogHandleTest, RealWindowsAreListedAndRemovedWithEveryOccurrence) {
  HWND window = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  quor::InstanceManager manager;
  EXPECT_EQ(manager.addHandle(L"DialogHandle", window), 0);
  EXPECT_EQ(manager.addHandle(L"DialogHandle", window), 0);
  EXPECT_EQ(manager.dialogHandles().size(), 2u);
  EXPECT_EQ(manager.removeHandle(L"DialogHandle", window), 0);
  EXPECT_TRUE(manager.dialogHandles().empty());
  DestroyWindow(window);
}

// The window the pump reaches after the quit message: its procedure, run by
// the pump's dispatch, posts the broker message that ends the loop.
quor::EventBroker* afterQuitBroker = nullptr;
LRESULT CALLBACK afterQuitProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 1 && afterQuitBroker != nullptr) {
    afterQuitBroker->post(&quor::kTarnListenerClassId, 9, 0, false);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A quit message is taken out of the queue by the pump and does not end the
// loop; a later message still gets dispatched, and only stop ends run.
TEST(PumpTest, QuitMessageDoesNotEndRun) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = afterQuitProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "PumpTestAfterQuit";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "PumpTestAfterQuit", "after quit", WS_POPUP, 0, 0, 10, 10,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  quor::InstanceManager manager;
  std::vector<fwtest::Seen> log;
  auto* listener = new fwtest::RecordingListener("l", &log);
  ASSERT_TRUE(manager.addComponent(listener));
  auto* broker = manager.getEventBroker();
  afterQuitBroker = broker;
  PostQuitMessage(0);
  // Queued behind the quit: when the pump dispatches it, the pump has gone on
  // past the quit.
  PostMessageA(window, WM_APP + 1, 0, 0);
  listener->onReceive = [&](vela::IMessage* m) {
    if (m->getCode() == 9) broker->stop(nullptr, false);
  };
  ASSERT_TRUE(fwtest::runWithDeadline(*broker, 20s, [&] { EXPECT_EQ(manager.run(), 0); }))
      << "the pump never reached the message after the quit";
  afterQuitBroker = nullptr;
  DestroyWindow(window);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].code, 9) << "run went on after the quit message";
}
#endif

// --- debug listener ------------------------------------------------------

TEST(DebugListenerTest, OneLinePerMessageWithCodeAndSourceAndNeverConsumes) {
  std::string trace;
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) { trace += text; });
  quor::InstanceManager manager;
  ASSERT_TRUE(manager.createComponent("DebugListener", ""));
  std::vector<fwtest::Seen> log;
  ASSERT_TRUE(manager.addComponent(new fwtest::RecordingListener("after", &log)));

  vela::SimpleMessage tick(&quor::kTimerEventGeneratorClassId, 123, 1);  // exclusive
  manager.getEventBroker()->dispatch(&tick);
  vela::Message heartbeat(&quor::kTarnEventGeneratorClassId, 0, 0);
  manager.getEventBroker()->dispatch(&heartbeat);
  vela::SimpleMessage negative(&quor::kTarnListenerClassId, -2, 0);
  manager.getEventBroker()->dispatch(&negative);

  EXPECT_EQ(trace,
            "123 : {505cd427-e218-463b-ac41e737bd464c9}\n"
            "0 : {4ad54a4f-7906-4c40-bb193b778a08d4c}\n"
            "-2 : {5db8ad6d-4d3c-4f33-bd1dbafb50401e7b}\n");
  EXPECT_EQ(log.size(), 3u) << "the exclusive tick still reached the listener after it";

  quor::DebugListener direct(&manager);
  EXPECT_EQ(direct.getPointer(L"listener", nullptr),
            static_cast<void*>(static_cast<vela::IListener*>(&direct)));
  EXPECT_EQ(*direct.getClassId(), quor::kDebugListenerClassId);
}

}  // namespace
