#include "framework/event_broker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "framework/tests/test_support.h"

namespace {

using fwtest::FastManager;
using fwtest::FunctionGenerator;
using fwtest::RecordingListener;
using fwtest::runWithDeadline;
using fwtest::Seen;
using namespace std::chrono_literals;

const vela::Guid kTopic = quor::kTarnListenerClassId;

std::vector<std::string> names(const std::vector<Seen>& log) {
  std::vector<std::string> out;
  for (const Seen& s : log) out.push_back(s.listener);
  return out;
}

class EventBrokerTest : public ::testing::Test {
 protected:
  // Adds a listener component; the broker owns it.
  RecordingListener* addListener(const std::string& name, bool consume = false) {
    auto* listener = new RecordingListener(name, &log, consume);
    EXPECT_TRUE(broker().add(listener));
    return listener;
  }
  quor::EventBroker& broker() { return *manager.getEventBroker(); }
  // Runs the loop until something stops it; fails the test after 20 s.
  void runLoop() {
    ASSERT_TRUE(runWithDeadline(broker(), 20s, [&] { EXPECT_EQ(manager.run(), 0); }))
        << "the loop did not end in time";
  }

  std::vector<Seen> log;
  FastManager manager;
};

// --- delivery order ----------------------------------------------------

TEST_F(EventBrokerTest, ExclusiveMessageStopsAtTheFirstConsumerInRegistrationOrder) {
  addListener("a");
  addListener("b", /*consume=*/true);
  addListener("c");
  vela::SimpleMessage exclusive(&kTopic, 1, 1);
  broker().dispatch(&exclusive);
  EXPECT_EQ(names(log), (std::vector<std::string>{"a", "b"}));

  log.clear();
  vela::SimpleMessage plain(&kTopic, 1, 2);  // bit 0 clear: not exclusive
  broker().dispatch(&plain);
  EXPECT_EQ(names(log), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(EventBrokerTest, QueuedMessagesAreDeliveredInPostingOrderAndStopEndsTheLoop) {
  RecordingListener* a = addListener("a", true);
  addListener("b");
  broker().post(&kTopic, 10, 0, false);
  broker().postExclusive(&kTopic, 11, 0, true);
  broker().post(&kTopic, 12, 0, true);
  a->onReceive = [&](vela::IMessage* m) {
    if (m->getCode() == 12) broker().stop(nullptr, false);
  };
  runLoop();
  std::vector<std::pair<std::string, int>> seen;
  for (const Seen& s : log) seen.emplace_back(s.listener, s.code);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{
                      {"a", 10}, {"b", 10}, {"a", 11}, {"a", 12}, {"b", 12}}));
  // A second run after a stop returns at once.
  EXPECT_EQ(broker().run(), 0);
}

TEST_F(EventBrokerTest, StopFromInsideReceiveLeavesTheRestOfTheQueueUndelivered) {
  RecordingListener* a = addListener("a");
  a->onReceive = [&](vela::IMessage*) { broker().stop(nullptr, false); };
  for (int code = 0; code < 3; ++code) broker().post(&kTopic, code, 0, false);
  runLoop();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].code, 0);
  EXPECT_EQ(broker().queuedCount(), 2u);
}

// A burst is delivered back to back: one message per pass, and no pump step
// (a window message, or the idle sleep) until the queue is empty.
TEST_F(EventBrokerTest, ABurstIsDeliveredOneMessagePerPassWithoutAPumpStepBetween) {
  constexpr int kBurst = 50;
  RecordingListener* a = addListener("a");
  int wrongQueue = 0, pumpsWithQueue = 0;
  a->onReceive = [&](vela::IMessage* m) {
    if (broker().queuedCount() != static_cast<std::size_t>(kBurst - 1 - m->getCode())) ++wrongQueue;
  };
  for (int code = 0; code < kBurst; ++code) broker().post(&kTopic, code, 0, false);
  manager.onPump = [&] {
    if (broker().queuedCount() > 0) {
      ++pumpsWithQueue;
    } else {
      broker().stop(nullptr, false);
    }
  };
  runLoop();
  EXPECT_EQ(log.size(), static_cast<std::size_t>(kBurst));
  EXPECT_EQ(wrongQueue, 0);
  EXPECT_EQ(pumpsWithQueue, 0);
}

// --- listeners that change the broker while being called ---------------

TEST_F(EventBrokerTest, ListenerMayPostAddAndRemoveFromInsideReceive) {
  RecordingListener* a = addListener("a");
  RecordingListener* b = addListener("b");
  RecordingListener* added = nullptr;
  a->onReceive = [&](vela::IMessage* m) {
    switch (m->getCode()) {
      case 1:
        // Posted messages queue behind; a listener added now hears the next
        // message, not this one.
        broker().post(&kTopic, 2, 0, false);
        added = new RecordingListener("late", &log);
        broker().add(added);
        break;
      case 2:
        // Removing (and deleting) another listener while the copy of the list
        // that is being walked still names it: it must not be called.
        broker().remove(b, true);
        broker().post(&kTopic, 3, 0, false);
        break;
      case 3:
        broker().stop(nullptr, false);
        break;
    }
  };
  bool bDeleted = false;
  b->onDestroy = [&] { bDeleted = true; };
  broker().post(&kTopic, 1, 0, false);
  runLoop();
  std::vector<std::pair<std::string, int>> seen;
  for (const Seen& s : log) seen.emplace_back(s.listener, s.code);
  // "late" was added during message 1 and hears from message 2 on; "b" was
  // removed and deleted by "a" during message 2, before its turn, and is not
  // called again, not even for the rest of that delivery.
  EXPECT_TRUE(bDeleted);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{
                      {"a", 1}, {"b", 1}, {"a", 2}, {"late", 2}, {"a", 3}, {"late", 3}}));
}

// --- registration ------------------------------------------------------

TEST_F(EventBrokerTest, AddNeedsAThreadOrAListenerAndOnlyThenTakesOwnership) {
  EXPECT_FALSE(broker().add(nullptr));
  vela::PropertyHolder plain;
  EXPECT_FALSE(broker().add(&plain)) << "neither thread nor listener";
  EXPECT_FALSE(plain.hasProperty(L"eventBroker"));

  RecordingListener* a = addListener("a");
  EXPECT_EQ(a->getPointer(L"eventBroker", nullptr), static_cast<void*>(&broker()));

  // remove of a stranger changes nothing and deletes nothing.
  RecordingListener stranger("stranger", &log);
  EXPECT_TRUE(broker().remove(&stranger, true));
  EXPECT_TRUE(broker().remove(nullptr, true));

  // remove without the delete flag hands the component back.
  EXPECT_TRUE(broker().remove(a, false));
  vela::SimpleMessage m(&kTopic, 1, 0);
  broker().dispatch(&m);
  EXPECT_TRUE(log.empty());
  delete a;
}

TEST_F(EventBrokerTest, ComponentWithOnlyAListenerIsNeverStartedAndOneWithBothIsInBothLists) {
  vela::PropertyHolder parameters;
  fwtest::setThreadControl(parameters, &broker());
  std::atomic<int> runs{0};
  auto* generator = new FunctionGenerator(&parameters, &manager, [&](FunctionGenerator&) {
    ++runs;
    return 0u;
  });
  // Also a listener: the broker must deliver to it and start its thread.
  struct ListeningGenerator : vela::IListener {
    std::atomic<int> heard{0};
    bool receive(vela::IMessage*) override {
      ++heard;
      return false;
    }
  } ear;
  generator->setPointer(L"listener", static_cast<void*>(static_cast<vela::IListener*>(&ear)));
  ASSERT_TRUE(broker().add(generator));
  addListener("only");
  broker().post(&kTopic, 1, 0, false);
  manager.onPump = [&] {
    if (runs.load() == 1) broker().stop(nullptr, false);
    platform::sleepMilliseconds(1);
  };
  runLoop();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(ear.heard.load(), 1);
  EXPECT_EQ(names(log), std::vector<std::string>{"only"});
}

// --- thread control ----------------------------------------------------

TEST_F(EventBrokerTest, ThreadControlAcceptsOnlyItsOwnMessages) {
  vela::SimpleMessage foreign(&kTopic, vela::RequestStart, 0);
  EXPECT_FALSE(broker().receive(&foreign));
  vela::Message noThread(&vela::ThreadControlId, vela::RequestStart, 0);
  EXPECT_FALSE(broker().receive(&noThread));

  fwtest::FunctionGenerator generator(nullptr, &manager, [](FunctionGenerator&) { return 0u; });
  for (std::int32_t code : {vela::Starting, vela::Finished}) {
    vela::AbstractThread::ThreadMessage message(code, &generator);
    EXPECT_TRUE(broker().receive(&message)) << code;
  }
  vela::AbstractThread::ThreadMessage unknown(9, &generator);
  EXPECT_FALSE(broker().receive(&unknown));
}

TEST_F(EventBrokerTest, ThreadAskedTwiceIsStartedTwiceButRunsOnce) {
  vela::PropertyHolder parameters;
  fwtest::setThreadControl(parameters, &broker());
  std::atomic<int> runs{0};
  auto* generator = new FunctionGenerator(&parameters, &manager, [&](FunctionGenerator&) {
    ++runs;
    return 0u;
  });
  // Its constructor would ask for a start; add asks again.
  generator->requestStart();
  struct StartCounter : vela::IListener {
    std::atomic<int> starting{0}, finished{0};
    bool receive(vela::IMessage* m) override {
      if (m->getCode() == vela::Starting) ++starting;
      if (m->getCode() == vela::Finished) ++finished;
      return false;
    }
  } counter;
  generator->addListener(&counter);
  ASSERT_TRUE(broker().add(generator));
  manager.onPump = [&] {
    if (counter.finished.load() == 1) broker().stop(nullptr, false);
    platform::sleepMilliseconds(1);
  };
  runLoop();
  EXPECT_EQ(counter.starting.load(), 2);
  EXPECT_EQ(runs.load(), 1);
  generator->removeListener(&counter);
}

TEST_F(EventBrokerTest, RemovedComponentsPendingThreadIsNotStartedLater) {
  vela::PropertyHolder parameters;
  fwtest::setThreadControl(parameters, &broker());
  std::atomic<int> runs{0};
  auto* generator = new FunctionGenerator(&parameters, &manager, [&](FunctionGenerator&) {
    ++runs;
    return 0u;
  });
  ASSERT_TRUE(broker().add(generator));
  ASSERT_TRUE(broker().remove(generator, true));  // deleted while only pending
  int passes = 0;
  manager.onPump = [&] {
    if (++passes == 3) broker().stop(nullptr, false);
  };
  runLoop();
  EXPECT_EQ(runs.load(), 0);
}

// A generator's constructor asks for a start; one that is deleted before it
// is added must leave no trace on the broker's lists (the next quiet pass
// would start a freed object), and one that outlives the broker must not
// report to it.
TEST_F(EventBrokerTest, AGeneratorThatIsNeverAddedIsNeverStartedNorReportsToAGoneBroker) {
  std::atomic<int> runs{0};
  const auto body = [&](FunctionGenerator&) {
    ++runs;
    return 0u;
  };
  vela::PropertyHolder parameters;
  fwtest::setThreadControl(parameters, &broker());
  auto* deleted = new FunctionGenerator(&parameters, &manager, body);
  deleted->requestStart();
  delete deleted;
  int passes = 0;
  manager.onPump = [&] {
    if (++passes == 3) broker().stop(nullptr, false);
  };
  runLoop();
  EXPECT_EQ(runs.load(), 0);

  std::unique_ptr<FunctionGenerator> kept;
  {
    FastManager other;
    vela::PropertyHolder otherParameters;
    fwtest::setThreadControl(otherParameters, other.getEventBroker());
    kept = std::make_unique<FunctionGenerator>(&otherParameters, &other, body);
    kept->requestStart();
  }
  kept.reset();  // after its broker: nothing may reach the freed broker
  EXPECT_EQ(runs.load(), 0);
}

TEST_F(EventBrokerTest, RemovingARunningGeneratorWithTheDeleteFlagStopsJoinsAndDeletesIt) {
  struct Tracked : FunctionGenerator {
    using FunctionGenerator::FunctionGenerator;
    ~Tracked() override {
      stopAndJoin();
      *gone = true;
    }
    bool* gone = nullptr;
  };
  vela::PropertyHolder parameters;
  fwtest::setThreadControl(parameters, &broker());
  std::atomic<bool> running{false}, ended{false};
  bool gone = false;
  auto* generator = new Tracked(&parameters, &manager, [&](FunctionGenerator& self) {
    running = true;
    while (!self.waitForStop(60000)) {
    }
    ended = true;
    return 0u;
  });
  generator->gone = &gone;
  ASSERT_TRUE(broker().add(generator));
  bool removed = false;
  manager.onPump = [&] {
    if (running.load() && !removed) {
      removed = true;
      EXPECT_TRUE(broker().remove(generator, true));
      // Joined before it was deleted, without waiting for its minute.
      EXPECT_TRUE(ended.load());
      EXPECT_TRUE(gone);
      broker().stop(nullptr, false);
    }
    platform::sleepMilliseconds(1);
  };
  runLoop();
  EXPECT_TRUE(removed);
}

// --- many producers ----------------------------------------------------

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kPerProducer = 20000;  // sanitizers make each message costly
#else
constexpr int kPerProducer = 100000;
#endif
constexpr int kProducers = 8;

TEST_F(EventBrokerTest, EightProducersEveryMessageDeliveredOnceInOrderPerProducer) {
  std::array<vela::Guid, kProducers> sources{};
  for (int i = 0; i < kProducers; ++i) {
    sources[i] = quor::kTimerEventGeneratorClassId;
    sources[i].data4[7] = static_cast<std::uint8_t>(i);
  }
  std::array<int, kProducers> next{};
  long long wrong = 0, total = 0;
  RecordingListener* counter = nullptr;
  std::vector<Seen> unused;
  counter = new RecordingListener("count", &unused);
  counter->onReceive = [&](vela::IMessage* m) {
    const int producer = static_cast<int>(m->getSource() - sources.data());
    if (producer < 0 || producer >= kProducers || m->getCode() != next[producer]) {
      ++wrong;
    } else {
      ++next[producer];
    }
    if (++total == static_cast<long long>(kProducers) * kPerProducer) {
      broker().stop(nullptr, false);
    }
    unused.clear();
  };
  ASSERT_TRUE(broker().add(counter));
  vela::PropertyHolder parameters;
  fwtest::setThreadControl(parameters, &broker());
  for (int i = 0; i < kProducers; ++i) {
    const vela::Guid* source = &sources[i];
    broker().add(new FunctionGenerator(&parameters, &manager, [source](FunctionGenerator& self) {
      quor::EventBroker* target = self.manager()->getEventBroker();
      for (int n = 0; n < kPerProducer && !self.stopRequested(); ++n) {
        target->post(source, n, 0, false);
      }
      return 0u;
    }));
  }
  ASSERT_TRUE(runWithDeadline(broker(), 100s, [&] { manager.run(); }))
      << "delivered " << total << " messages before the deadline";
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(total, static_cast<long long>(kProducers) * kPerProducer);
  for (int i = 0; i < kProducers; ++i) EXPECT_EQ(next[i], kPerProducer) << "producer " << i;
}

// --- idle heartbeat ----------------------------------------------------

platform::LocalTime at(int year, int month, int day, int hour, int minute, int second = 0) {
  platform::LocalTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

// Drives the loop through a scripted clock: the time moves to the next entry
// in every quiet pass, and the loop stops after the last. Returns, for each
// heartbeat, the index of the entry it came at and its "status".
class HeartbeatTest : public EventBrokerTest {
 protected:
  std::vector<std::pair<int, int>> beatsFor(platform::LocalTime start,
                                            const std::vector<platform::LocalTime>& script,
                                            bool queueFirst = true) {
    now = start;
    std::size_t step = 0;
    broker().setClock([this] { return now; });
    manager.onPump = [&] {
      if (step == script.size()) {
        broker().stop(nullptr, false);
        return;
      }
      now = script[step++];
    };
    RecordingListener* listener = addListener("beat");
    std::vector<std::pair<int, int>> beats;
    listener->onReceive = [&](vela::IMessage* m) {
      if (*m->getSource() == quor::kTarnEventGeneratorClassId && m->getCode() == 0 &&
          m->getProperties()->getInt(L"subcode", -1) == quor::kHeartbeatSubcode) {
        beats.emplace_back(static_cast<int>(step) - 1, m->getProperties()->getInt(L"status", -1));
      }
    };
    if (queueFirst) broker().post(&kTopic, 1, 0, false);
    runLoop();
    return beats;
  }
  platform::LocalTime now;
};

TEST_F(HeartbeatTest, FirstBeatComesOneToTwoMinutesAfterTheLastMessageThenEveryTwo) {
  const auto beats = beatsFor(at(2026, 3, 9, 10, 0, 30), {
                                                             at(2026, 3, 9, 10, 1, 0),   // 0
                                                             at(2026, 3, 9, 10, 1, 59),  // 1
                                                             at(2026, 3, 9, 10, 2, 0),   // 2
                                                             at(2026, 3, 9, 10, 3, 0),   // 3
                                                             at(2026, 3, 9, 10, 4, 0),   // 4
                                                             at(2026, 3, 9, 10, 9, 0),   // 5
                                                         });
  EXPECT_EQ(beats, (std::vector<std::pair<int, int>>{{2, 1}, {4, 2}, {5, 3}}));
}

TEST_F(HeartbeatTest, ShortMonthOrClockForwardJumpsTheStampAndBeatsEarly) {
  // 30 April 23:59 to 1 May 00:00 is one minute, but the stamp counts every
  // month as 31 days and jumps by a day.
  const auto beats = beatsFor(at(2026, 4, 30, 23, 59), {at(2026, 5, 1, 0, 0)});
  EXPECT_EQ(beats, (std::vector<std::pair<int, int>>{{0, 1}}));
}

TEST_F(HeartbeatTest, ClockSetBackDelaysBeatsUntilTheStampPassesTheLastActivity) {
  const auto beats = beatsFor(at(2026, 3, 9, 10, 0), {
                                                         at(2026, 3, 9, 9, 0),   // 0
                                                         at(2026, 3, 9, 9, 59),  // 1
                                                         at(2026, 3, 9, 10, 1),  // 2
                                                         at(2026, 3, 9, 10, 2),  // 3
                                                     });
  EXPECT_EQ(beats, (std::vector<std::pair<int, int>>{{3, 1}}));
}

TEST_F(HeartbeatTest, QueuedMessageResetsTheIdleCount) {
  now = at(2026, 3, 9, 10, 0);
  std::size_t step = 0;
  const std::vector<platform::LocalTime> script = {at(2026, 3, 9, 10, 2), at(2026, 3, 9, 10, 4),
                                                   at(2026, 3, 9, 10, 4), at(2026, 3, 9, 10, 6)};
  broker().setClock([this] { return now; });
  manager.onPump = [&] {
    if (step == script.size()) {
      broker().stop(nullptr, false);
      return;
    }
    now = script[step++];
    if (step == 2) broker().post(&kTopic, 7, 0, false);  // arrives after beat 2
  };
  addListener("l");
  runLoop();
  std::vector<int> statuses;
  for (const Seen& s : log) {
    if (s.subcode == quor::kHeartbeatSubcode) statuses.push_back(s.status);
  }
  EXPECT_EQ(statuses, (std::vector<int>{1, 2, 1}));
}

// --- teardown ----------------------------------------------------------

// A listener's destructor that delivers a message while the broker deletes
// its components must not reach the listeners deleted before it.
TEST(EventBrokerTeardownTest, NoDeliveryReachesAListenerDeletedWithTheBroker) {
  std::vector<Seen> log;
  auto manager = std::make_unique<FastManager>();
  quor::EventBroker* broker = manager->getEventBroker();
  ASSERT_TRUE(broker->add(new RecordingListener("first", &log)));
  auto* second = new RecordingListener("second", &log);
  ASSERT_TRUE(broker->add(second));
  second->onDestroy = [broker] {
    vela::SimpleMessage last(&kTopic, 9, 0);
    broker->dispatch(&last);
  };
  manager.reset();
  EXPECT_TRUE(log.empty()) << log.size() << " deliveries during teardown";
}

}  // namespace
