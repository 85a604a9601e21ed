#include "platform/runtime/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace runtime {
namespace {

using foundation::Dictionary;

TEST(NotificationCenterTest, ObserversByNameAndBySender) {
  NotificationCenter center;
  int delegate = 0, other = 0;  // two senders, by identity
  std::vector<std::string> seen;
  ObserverToken byName = center.addObserver("updateDataBase", nullptr,
                                            [&](const Notification& n) { seen.push_back("name:" + n.name); });
  ObserverToken bySender = center.addObserver(
      "updateDataBase", &delegate, [&](const Notification& n) { seen.push_back("sender:" + n.name); });
  ObserverToken everything =
      center.addObserver("", nullptr, [&](const Notification& n) { seen.push_back("any:" + n.name); });
  ObserverToken anyNameFromOther =
      center.addObserver("", &other, [&](const Notification& n) { seen.push_back("other:" + n.name); });

  center.post("updateDataBase", &delegate);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"name:updateDataBase", "sender:updateDataBase", "any:updateDataBase"}));
  seen.clear();
  center.post("updateDataBase", &other);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"name:updateDataBase", "any:updateDataBase", "other:updateDataBase"}));
  seen.clear();
  center.post("cloudLinkedEvent");
  EXPECT_EQ(seen, (std::vector<std::string>{"any:cloudLinkedEvent"}));
}

TEST(NotificationCenterTest, DeliversObjectAndUserInfo) {
  NotificationCenter center;
  int sender = 0;
  std::optional<Notification> got;
  ObserverToken token =
      center.addObserver("ReminderDidCome", nullptr, [&](const Notification& n) { got = n; });
  center.post("ReminderDidCome", &sender, Dictionary{{"type", "Sleep"}, {"babyName", "Anna"}});
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->object, &sender);
  EXPECT_EQ(got->userInfo["type"], foundation::Value("Sleep"));
  EXPECT_EQ(got->userInfo["babyName"], foundation::Value("Anna"));
}

struct Screen {
  explicit Screen(NotificationCenter& center) {
    token = center.addObserver("updateTutorial", nullptr, [this](const Notification&) { ++updates; });
  }
  int updates = 0;
  ObserverToken token;
};

TEST(NotificationCenterTest, ObserversAreRemovedWhenTheirOwnerIsDestroyed) {
  NotificationCenter center;
  {
    Screen screen(center);
    center.post("updateTutorial");
    EXPECT_EQ(screen.updates, 1);
    EXPECT_EQ(center.observerCount(), 1u);
  }
  EXPECT_EQ(center.observerCount(), 0u);
  center.post("updateTutorial");  // would touch the destroyed screen if it were still observed

  // Dropping the token at once ends the observation at once.
  int calls = 0;
  {
    ObserverToken dropped = center.addObserver("x", nullptr, [&](const Notification&) { ++calls; });
  }
  center.post("x");
  EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterTest, RemovalByTokenAndMovingTokens) {
  NotificationCenter center;
  int calls = 0;
  ObserverToken token = center.addObserver("n", nullptr, [&](const Notification&) { ++calls; });
  EXPECT_TRUE(token.isActive());

  ObserverToken moved = std::move(token);
  EXPECT_FALSE(token.isActive());  // NOLINT(bugprone-use-after-move): moved-from tokens are empty
  EXPECT_TRUE(moved.isActive());
  center.post("n");
  EXPECT_EQ(calls, 1);

  center.removeObserver(moved);
  EXPECT_FALSE(moved.isActive());
  center.post("n");
  EXPECT_EQ(calls, 1);
  moved.remove();  // again is harmless

  // Assigning over a live token ends the observation it held.
  int otherCalls = 0;
  ObserverToken first = center.addObserver("n", nullptr, [&](const Notification&) { ++calls; });
  first = center.addObserver("n", nullptr, [&](const Notification&) { ++otherCalls; });
  center.post("n");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(otherCalls, 1);
}

TEST(NotificationCenterTest, PostingFromInsideACallback) {
  NotificationCenter center;
  std::vector<std::string> seen;
  ObserverToken relay =
      center.addObserver("TallyReachabilityChangedNotification", nullptr, [&](const Notification&) {
        seen.push_back("reachability");
        center.post("TallyNetworkStatusChangedNotification");
      });
  ObserverToken status = center.addObserver("TallyNetworkStatusChangedNotification", nullptr,
                                            [&](const Notification&) { seen.push_back("status"); });
  center.post("TallyReachabilityChangedNotification");
  EXPECT_EQ(seen, (std::vector<std::string>{"reachability", "status"}));
}

TEST(NotificationCenterTest, RemovingAndAddingDuringAPost) {
  NotificationCenter center;
  std::vector<std::string> seen;
  ObserverToken later;
  ObserverToken added;
  ObserverToken self;
  self = center.addObserver("n", nullptr, [&](const Notification&) {
    seen.push_back("self");
    self.remove();  // removing itself from inside its own callback
  });
  ObserverToken remover = center.addObserver("n", nullptr, [&](const Notification&) {
    seen.push_back("remover");
    later.remove();
    if (!added.isActive())
      added = center.addObserver("n", nullptr, [&](const Notification&) { seen.push_back("added"); });
  });
  later = center.addObserver("n", nullptr, [&](const Notification&) { seen.push_back("later"); });

  center.post("n");
  EXPECT_EQ(seen, (std::vector<std::string>{"self", "remover"}));
  seen.clear();
  center.post("n");
  EXPECT_EQ(seen, (std::vector<std::string>{"remover", "added"}));
}

TEST(NotificationCenterTest, DeliveryIsOnThePostingThread) {
  NotificationCenter center;
  std::thread::id deliveredOn;
  ObserverToken token = center.addObserver(
      "n", nullptr, [&](const Notification&) { deliveredOn = std::this_thread::get_id(); });
  std::thread::id poster;
  std::thread([&] {
    poster = std::this_thread::get_id();
    center.post("n");
  }).join();
  EXPECT_EQ(deliveredOn, poster);
}

TEST(NotificationCenterTest, RemovalWaitsForACallbackRunningOnAnotherThread) {
  NotificationCenter center;
  std::mutex mutex;
  std::condition_variable cv;
  bool entered = false, release = false;
  std::atomic<bool> callbackFinished{false};
  ObserverToken token = center.addObserver("n", nullptr, [&](const Notification&) {
    std::unique_lock lock(mutex);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
    lock.unlock();
    callbackFinished = true;
  });
  std::thread poster([&] { center.post("n"); });
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return entered; });
  }
  std::atomic<bool> finishedWhenRemoved{false};
  std::thread remover([&] {
    token.remove();
    finishedWhenRemoved = callbackFinished.load();
  });
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  remover.join();
  poster.join();
  EXPECT_TRUE(finishedWhenRemoved);
}

TEST(NotificationCenterTest, TokensMayOutliveTheirCenter) {
  ObserverToken token;
  {
    NotificationCenter center;
    token = center.addObserver("n", nullptr, [](const Notification&) {});
  }
  EXPECT_FALSE(token.isActive());
  token.remove();
}

TEST(NotificationCenterTest, DefaultCenterIsOneForTheProcess) {
  EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
  int calls = 0;
  ObserverToken token = NotificationCenter::defaultCenter().addObserver(
      "test.default", nullptr, [&](const Notification&) { ++calls; });
  NotificationCenter::defaultCenter().post("test.default");
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace runtime
