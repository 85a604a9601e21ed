#include "platform/runtime/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
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

  // Delivery is on the posting thread, with the sender and the user info.
  std::optional<Notification> got;
  std::thread::id deliveredOn, poster;
  ObserverToken token = center.addObserver("ReminderDidCome", nullptr, [&](const Notification& n) {
    got = n;
    deliveredOn = std::this_thread::get_id();
  });
  std::thread([&] {
    poster = std::this_thread::get_id();
    center.post("ReminderDidCome", &delegate, Dictionary{{"type", "Sleep"}});
  }).join();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(std::tuple(got->object, got->userInfo, deliveredOn),
            std::tuple(&delegate, Dictionary{{"type", "Sleep"}}, poster));
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

TEST_F(NotificationCenterTest, RemovalWaitsForACallbackRunningOnAnotherThread) {
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> callbackFinished{false}, finishedWhenRemoved{false};
  ObserverToken token = center.addObserver("n", nullptr, [&](const Notification&) {
    entered.set_value();
    released.wait();
    callbackFinished = true;
  });
  std::thread poster([&] { center.post("n"); });
  entered.get_future().wait();
  std::thread remover([&] {
    token.remove();
    finishedWhenRemoved = callbackFinished.load();
  });
  release.set_value();
  remover.join();
  poster.join();
  EXPECT_TRUE(finishedWhenRemoved);
}

}  // namespace
}  // namespace runtime
