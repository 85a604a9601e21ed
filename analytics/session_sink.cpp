#include "analytics/session_sink.h"

#include <utility>

#include "analytics/tally_session.h"
#include "analytics/tally_util.h"

namespace analytics {
namespace {

// One lock over the current session, its factory and the pre-session cache, so that an event is
// either cached before a new session takes the cache or recorded by that session afterwards.
struct Registry {
  std::mutex mutex;
  std::shared_ptr<SessionSink> current;
  std::optional<foundation::Date> startTime;
  CurrentSession::Factory factory;
  std::vector<TallyPreCacheEvent> preCache;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

std::shared_ptr<SessionSink> CurrentSession::get() {
  std::lock_guard lock(registry().mutex);
  return registry().current;
}

std::optional<foundation::Date> CurrentSession::startTime() {
  std::lock_guard lock(registry().mutex);
  return registry().startTime;
}

void CurrentSession::setupWithKey(const std::string& apiKey) {
  std::shared_ptr<SessionSink> replaced;
  std::lock_guard lock(registry().mutex);
  Registry& r = registry();
  SessionStart start{apiKey, TallyUtil::clock().now(), r.current, std::move(r.preCache)};
  r.preCache.clear();
  foundation::Date startTime = start.startTime;
  std::shared_ptr<SessionSink> made =
      r.factory ? r.factory(std::move(start)) : TallyImpl::sessionFactory()(std::move(start));
  replaced = std::exchange(r.current, std::move(made));
  r.startTime = startTime;
}

void CurrentSession::setFactory(Factory factory) {
  std::lock_guard lock(registry().mutex);
  registry().factory = std::move(factory);
}

TallyEventRecordStatus CurrentSession::recordOrCache(const std::string& name,
                                                     const std::optional<foundation::Dictionary>& params,
                                                     bool timed) {
  std::shared_ptr<SessionSink> session;
  {
    std::lock_guard lock(registry().mutex);
    session = registry().current;
    if (!session) {
      // Every event is cached, so that the first session refuses the bad ones at replay and marks
      // its event log incomplete, as it does for one logged while it runs; but the caller is told at
      // once that a bad one will not be recorded, rather than "recorded later".
      registry().preCache.push_back(TallyPreCacheEvent{name, params, timed});
      if (name.empty()) return kTallyEventFailed;
      if (params && params->size() > kTallyMaxEventParameters) return kTallyEventParamsCountExceeded;
      return kTallyEventLoggingDelayed;
    }
  }
  return session->recordEvent(name, params, timed);
}

std::vector<TallyPreCacheEvent> CurrentSession::preCachedEvents() {
  std::lock_guard lock(registry().mutex);
  return registry().preCache;
}

void CurrentSession::cleanup() {
  std::shared_ptr<SessionSink> dropped;
  std::lock_guard lock(registry().mutex);
  dropped = std::move(registry().current);
  registry().current = nullptr;
  registry().startTime.reset();
}

void CurrentSession::clearPreCache() {
  std::lock_guard lock(registry().mutex);
  registry().preCache.clear();
}

}  // namespace analytics
