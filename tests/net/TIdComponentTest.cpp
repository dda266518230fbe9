#include "net/TIdComponent.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/TIdStack.h"

namespace kv::net {
namespace {

// Records every work and status event of a component as text, with the sender's identity.
class EventLog {
 public:
  void Watch(TIdComponent& component, const std::string& name) {
    component.OnWorkBegin = [this, name, &component](TIdComponent& sender, TWorkMode mode,
                                                     int64_t max) {
      Add(sender, component, name, "begin", mode, std::to_string(max));
    };
    component.OnWork = [this, name, &component](TIdComponent& sender, TWorkMode mode,
                                                int64_t count) {
      Add(sender, component, name, "work", mode, std::to_string(count));
    };
    component.OnWorkEnd = [this, name, &component](TIdComponent& sender, TWorkMode mode) {
      Add(sender, component, name, "end", mode, "");
    };
  }
  std::vector<std::string> entries;

 private:
  void Add(TIdComponent& sender, TIdComponent& owner, const std::string& name,
           const std::string& what, TWorkMode mode, const std::string& value) {
    // The sender must be the component whose event fires.
    std::string entry = name + (&sender == &owner ? "" : "(foreign sender)") + ":" + what +
                        (mode == TWorkMode::wmRead ? " r" : " w");
    entries.push_back(value.empty() ? entry : entry + " " + value);
  }
};

using Entries = std::vector<std::string>;

TEST(TIdComponentWork, OutermostUnitAnnouncesAndCountsCumulatively) {
  TIdComponent c;
  EventLog log;
  log.Watch(c, "c");
  c.BeginWork(TWorkMode::wmRead, 100000);
  for (int64_t block : {1000, 32768, 32768, 32768, 696}) {
    c.DoWork(TWorkMode::wmRead, block);
  }
  c.EndWork(TWorkMode::wmRead);
  EXPECT_EQ(log.entries,
            (Entries{"c:begin r 100000", "c:work r 1000", "c:work r 33768", "c:work r 66536",
                     "c:work r 99304", "c:work r 100000", "c:end r"}));
  // The counters stay after the unit ends.
  EXPECT_EQ(c.WorkCount(TWorkMode::wmRead), 100000);
  EXPECT_EQ(c.WorkCountMax(TWorkMode::wmRead), 100000);
  EXPECT_EQ(c.NestingLevel(TWorkMode::wmRead), 0);
}

TEST(TIdComponentWork, NestedUnitChangesNeitherMaximumNorCountAndFiresNothing) {
  TIdComponent c;
  EventLog log;
  log.Watch(c, "c");
  c.BeginWork(TWorkMode::wmRead, 0);
  c.DoWork(TWorkMode::wmRead, 3);
  c.BeginWork(TWorkMode::wmRead, 500);
  EXPECT_EQ(c.WorkCountMax(TWorkMode::wmRead), 0);
  EXPECT_EQ(c.WorkCount(TWorkMode::wmRead), 3);
  c.DoWork(TWorkMode::wmRead, 5);
  c.EndWork(TWorkMode::wmRead);
  c.DoWork(TWorkMode::wmRead, 2);
  c.EndWork(TWorkMode::wmRead);
  EXPECT_EQ(log.entries,
            (Entries{"c:begin r 0", "c:work r 3", "c:work r 8", "c:work r 10", "c:end r"}));
}

TEST(TIdComponentWork, CountsOutsideAUnitAreDropped) {
  TIdComponent c;
  EventLog log;
  log.Watch(c, "c");
  c.DoWork(TWorkMode::wmRead, 10);
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(c.WorkCount(TWorkMode::wmRead), 0);
  // The next unit starts from zero, not from dropped counts or the last unit's count.
  c.BeginWork(TWorkMode::wmRead, 4);
  c.DoWork(TWorkMode::wmRead, 4);
  c.EndWork(TWorkMode::wmRead);
  c.BeginWork(TWorkMode::wmRead, 4);
  c.DoWork(TWorkMode::wmRead, 1);
  EXPECT_EQ(log.entries.back(), "c:work r 1");
  c.EndWork(TWorkMode::wmRead);
}

TEST(TIdComponentWork, ReadAndWriteUnitsAreIndependent) {
  TIdComponent c;
  EventLog log;
  log.Watch(c, "c");
  c.BeginWork(TWorkMode::wmRead, 10);
  c.DoWork(TWorkMode::wmWrite, 7);  // no write unit open: dropped
  c.BeginWork(TWorkMode::wmWrite, 20);
  c.DoWork(TWorkMode::wmWrite, 7);
  c.DoWork(TWorkMode::wmRead, 2);
  c.EndWork(TWorkMode::wmRead);
  c.DoWork(TWorkMode::wmWrite, 1);
  c.EndWork(TWorkMode::wmWrite);
  EXPECT_EQ(log.entries, (Entries{"c:begin r 10", "c:begin w 20", "c:work w 7", "c:work r 2",
                                  "c:end r", "c:work w 8", "c:end w"}));
}

TEST(TIdComponentWork, CountsAbove4GiBAreExact) {
  TIdComponent c;
  const int64_t total = 6LL * 1024 * 1024 * 1024 + 5;
  c.BeginWork(TWorkMode::wmRead, total);
  c.DoWork(TWorkMode::wmRead, total - 5);
  c.DoWork(TWorkMode::wmRead, 5);
  EXPECT_EQ(c.WorkCount(TWorkMode::wmRead), total);
  EXPECT_EQ(c.WorkCountMax(TWorkMode::wmRead), total);
  c.EndWork(TWorkMode::wmRead);
}

TEST(TIdComponentWork, OtherEventsFireWithoutAnEndHandler) {
  TIdComponent c;
  EventLog log;
  log.Watch(c, "c");
  c.OnWorkEnd = nullptr;
  c.BeginWork(TWorkMode::wmRead, 2);
  c.DoWork(TWorkMode::wmRead, 2);
  c.EndWork(TWorkMode::wmRead);
  EXPECT_EQ(log.entries, (Entries{"c:begin r 2", "c:work r 2"}));
  EXPECT_EQ(c.NestingLevel(TWorkMode::wmRead), 0);
}

TEST(TIdComponentWork, AnEndHandlerThatRaisesStillClosesTheUnit) {
  TIdComponent c;
  c.OnWorkEnd = [](TIdComponent&, TWorkMode) { throw std::runtime_error("handler"); };
  c.BeginWork(TWorkMode::wmRead, 1);
  EXPECT_THROW(c.EndWork(TWorkMode::wmRead), std::runtime_error);
  EXPECT_EQ(c.NestingLevel(TWorkMode::wmRead), 0);
}

TEST(TIdComponentForwarding, WorkSurfacesOnTheLastTargetOfAChainWithItAsSender) {
  TIdComponent source, middle, target;
  EventLog log;
  log.Watch(source, "source");
  log.Watch(middle, "middle");
  log.Watch(target, "target");
  source.SetWorkTarget(&middle);
  middle.SetWorkTarget(&target);
  source.BeginWork(TWorkMode::wmWrite, 9);
  source.DoWork(TWorkMode::wmWrite, 9);
  source.EndWork(TWorkMode::wmWrite);
  EXPECT_EQ(log.entries, (Entries{"target:begin w 9", "target:work w 9", "target:end w"}));
  // The forwarding components keep no state of their own.
  EXPECT_EQ(source.WorkCount(TWorkMode::wmWrite), 0);
  EXPECT_EQ(middle.NestingLevel(TWorkMode::wmWrite), 0);
}

TEST(TIdComponentForwarding, TargetDestroyedFirstClearsTheTarget) {
  TIdComponent source;
  EventLog log;
  log.Watch(source, "source");
  {
    TIdComponent target;
    source.SetWorkTarget(&target);
    EXPECT_EQ(source.WorkTarget(), &target);
  }
  EXPECT_EQ(source.WorkTarget(), nullptr);
  source.BeginWork(TWorkMode::wmRead, 1);
  source.EndWork(TWorkMode::wmRead);
  EXPECT_EQ(log.entries, (Entries{"source:begin r 1", "source:end r"}));
}

TEST(TIdComponentForwarding, SourceDestroyedFirstLeavesTheTargetSound) {
  auto target = std::make_unique<TIdComponent>();
  {
    TIdComponent source;
    source.SetWorkTarget(target.get());
  }
  // The target must have forgotten the source: destroying it must not touch the source that is
  // gone (the sanitizer build reports such a use), and its own work is unaffected.
  int begins = 0;
  target->OnWorkBegin = [&](TIdComponent&, TWorkMode, int64_t) { ++begins; };
  target->BeginWork(TWorkMode::wmRead, 1);
  target->EndWork(TWorkMode::wmRead);
  EXPECT_EQ(begins, 1);
  target.reset();
}

TEST(TIdComponentLifetime, EachComponentCountsOneStackUsage) {
  const int before = TIdStack::UsageCount();
  {
    TIdComponent a;
    TIdComponent b;
    EXPECT_EQ(TIdStack::UsageCount(), before + 2);
    EXPECT_NE(TIdStack::Instance(), nullptr);
  }
  EXPECT_EQ(TIdStack::UsageCount(), before);
}

// --- Status notifications ------------------------------------------------------------------

struct StatusCase {
  const char* name;
  TIdStatus status;
  const char* argument;
  const char* text;
};

class TIdComponentStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(TIdComponentStatusTest, FiresTheFilledTemplate) {
  const StatusCase& c = GetParam();
  TIdComponent component;
  std::vector<std::string> seen;
  component.OnStatus = [&](TIdComponent& sender, TIdStatus status, const std::string& text) {
    EXPECT_EQ(&sender, &component);
    EXPECT_EQ(status, c.status);
    seen.push_back(text);
  };
  component.DoStatus(c.status, c.argument);
  EXPECT_EQ(seen, std::vector<std::string>{c.text});
}

const StatusCase kStatusCases[] = {
    {"Resolving", TIdStatus::hsResolving, "example.test", "Resolving hostname example.test."},
    {"Connecting", TIdStatus::hsConnecting, "127.0.0.1", "Connecting to 127.0.0.1."},
    {"ConnectedIgnoresTheHost", TIdStatus::hsConnected, "example.test", "Connected."},
    {"Disconnecting", TIdStatus::hsDisconnecting, "", "Disconnecting."},
    {"Disconnected", TIdStatus::hsDisconnected, "", "Disconnected."},
    {"StatusText", TIdStatus::hsStatusText, "Chunk Started", "Chunk Started"},
    {"StatusTextWithoutArgument", TIdStatus::hsStatusText, "", ""},
    {"ArgumentIsNotAFormat", TIdStatus::hsStatusText, "100%s %d", "100%s %d"},
    {"FtpTransfer", TIdStatus::ftpTransfer, "x", "x"},
    {"FtpReady", TIdStatus::ftpReady, "y", "y"},
    {"FtpAborted", TIdStatus::ftpAborted, "z", "z"},
};

INSTANTIATE_TEST_SUITE_P(Templates, TIdComponentStatusTest, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv::net
