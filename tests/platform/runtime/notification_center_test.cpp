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

class NotificationCenterTest : public ::testing::Test {
 protected:
  // An observation that records "<label>:<name>" in `seen`.
  ObserverToken record(std::string name, const void* object, std::string label) {
    return center.addObserver(std::move(name), object,
                              [this, label](const Notification& n) { seen.push_back(label + ":" + n.name); });
  }
  std::vector<std::string> take() { return std::exchange(seen, {}); }

  NotificationCenter center;
  std::vector<std::string> seen;
};

TEST_F(NotificationCenterTest, ObserversByNameAndBySenderInTheOrderAdded) {
  int delegate = 0, other = 0;  // two senders, by identity
  ObserverToken byName = record("updateDataBase", nullptr, "name");
  ObserverToken bySender = record("updateDataBase", &delegate, "sender");
  ObserverToken everything = record("", nullptr, "any");
  ObserverToken anyNameFromOther = record("", &other, "other");

  center.post("updateDataBase", &delegate);
  EXPECT_EQ(take(),
            (std::vector<std::string>{"name:updateDataBase", "sender:updateDataBase", "any:updateDataBase"}));
  center.post("updateDataBase", &other);
  EXPECT_EQ(take(),
            (std::vector<std::string>{"name:updateDataBase", "any:updateDataBase", "other:updateDataBase"}));
  center.post("cloudLinkedEvent");
  EXPECT_EQ(take(), (std::vector<std::string>{"any:cloudLinkedEvent"}));

  std::optional<Notification> got;
  ObserverToken token =
      center.addObserver("ReminderDidCome", nullptr, [&](const Notification& n) { got = n; });
  center.post("ReminderDidCome", &delegate, Dictionary{{"type", "Sleep"}});
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->object, &delegate);
  EXPECT_EQ(got->userInfo, (Dictionary{{"type", "Sleep"}}));
}

TEST_F(NotificationCenterTest, AnObservationEndsWithItsTokenWhicheverWayTheTokenGoes) {
  {
    ObserverToken dropped = record("n", nullptr, "dropped");
    EXPECT_EQ(center.observerCount(), 1u);
  }
  EXPECT_EQ(center.observerCount(), 0u);
  center.post("n");  // would reach a destroyed observer if it were still observed
  EXPECT_TRUE(take().empty());

  ObserverToken token = record("n", nullptr, "moved");
  ObserverToken moved = std::move(token);
  EXPECT_FALSE(token.isActive());  // NOLINT(bugprone-use-after-move): moved-from tokens are empty
  EXPECT_TRUE(moved.isActive());
  center.post("n");
  center.removeObserver(moved);
  EXPECT_FALSE(moved.isActive());
  center.post("n");
  moved.remove();  // again is harmless
  EXPECT_EQ(take(), std::vector<std::string>{"moved:n"});

  // Assigning over a live token ends the observation it held.
  ObserverToken first = record("n", nullptr, "first");
  first = record("n", nullptr, "second");
  center.post("n");
  EXPECT_EQ(take(), std::vector<std::string>{"second:n"});

  // A token may outlive its center.
  std::optional<NotificationCenter> shortLived(std::in_place);
  ObserverToken orphan = shortLived->addObserver("n", nullptr, [](const Notification&) {});
  shortLived.reset();
  EXPECT_FALSE(orphan.isActive());
  orphan.remove();
}

TEST_F(NotificationCenterTest, CallbacksMayPostAddAndRemoveDuringAPost) {
  ObserverToken later, added, self;
  self = center.addObserver("n", nullptr, [&](const Notification&) {
    seen.push_back("self");
    self.remove();  // removing itself from inside its own callback
  });
  ObserverToken remover = center.addObserver("n", nullptr, [&](const Notification&) {
    seen.push_back("remover");
    later.remove();
    if (!added.isActive()) added = record("n", nullptr, "added");
    center.post("status");
  });
  later = record("n", nullptr, "later");
  ObserverToken status = record("status", nullptr, "relay");

  center.post("n");
  EXPECT_EQ(take(), (std::vector<std::string>{"self", "remover", "relay:status"}));
  center.post("n");
  EXPECT_EQ(take(), (std::vector<std::string>{"remover", "relay:status", "added:n"}));
}

TEST_F(NotificationCenterTest, DeliveryIsOnThePostingThreadOfTheProcessCenter) {
  EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
  std::thread::id deliveredOn, poster;
  ObserverToken token = NotificationCenter::defaultCenter().addObserver(
      "test.default", nullptr, [&](const Notification&) { deliveredOn = std::this_thread::get_id(); });
  std::thread([&] {
    poster = std::this_thread::get_id();
    NotificationCenter::defaultCenter().post("test.default");
  }).join();
  EXPECT_EQ(deliveredOn, poster);
}

TEST_F(NotificationCenterTest, RemovalWaitsForACallbackRunningOnAnotherThread) {
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

}  // namespace
}  // namespace runtime
