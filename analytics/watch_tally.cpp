#include "analytics/watch_tally.h"

#include <mutex>
#include <typeinfo>

#include "analytics/data_sender.h"
#include "analytics/global_variable_storage.h"
#include "analytics/tally.h"
#include "analytics/tally_event.h"
#include "analytics/tally_util.h"
#include "crash_reporter/reporter.h"
#include "platform/runtime/bundle.h"

namespace analytics {
namespace {

using foundation::Value;

// The process-wide state of the watch interface. The key is read and the queue made once, under the
// lock; reset() lets a test start again.
struct WatchState {
  std::mutex mutex;
  bool keyRead = false;
  std::optional<std::string> apiKey;
  std::shared_ptr<runtime::SerialQueue> queue;
  TallyWatch::SessionProvider provider;
  std::function<bool()> extensionCheck;
};

WatchState& state() {
  static WatchState s;
  return s;
}

bool inWatchExtension() {
  std::function<bool()> check;
  {
    std::lock_guard lock(state().mutex);
    check = state().extensionCheck;
  }
  return check ? check() : TallyUtil::isInWatchExtension();
}

std::shared_ptr<TallyWatchSession> currentWatchSession() {
  TallyWatch::SessionProvider provider;
  {
    std::lock_guard lock(state().mutex);
    provider = state().provider;
  }
  return provider ? provider() : nullptr;
}

// Catches what the checks and preparation raise, as every entry point of the SDK does.
template <class R, class F>
R guarded(R fallback, F&& work) {
  try {
    return work();
  } catch (...) {
    TallyUtil::handleException(std::current_exception());
    return fallback;
  }
}

// The last check of every call: with usage reporting off (never in this SDK) nothing is recorded.
bool usageReportingOn(const char* method) {
  if (Tally::sendUsageInfo()) return true;
  TallyUtil::log(2, "Tally: %s disabled.", {method});
  return false;
}

// The checks both error calls share; false (logged) when the error is not to be recorded.
bool errorAccepted(const Value& errorId, const Value& message, const char* method) {
  if (!TallyWatch::apiKey()) {
    TallyUtil::log(2, "No API key provided in plist, unable to log error");
    return false;
  }
  if (!inWatchExtension()) {
    TallyUtil::log(2, "Tally: Error not logged -- this method can only be used in watch extension.");
    return false;
  }
  if (!errorId.string()) {
    TallyUtil::log(2, "Tally: Error not logged -- errorId must be of NSString type.");
    return false;
  }
  if (!message.string()) {
    TallyUtil::log(2, "Tally: Error not logged -- message must be of NSString type.");
    return false;
  }
  return usageReportingOn(method);
}

void recordError(const Value& errorId, const Value& message, std::string exceptionText, std::int32_t type) {
  // Made here, on the caller's thread, so that the report shows the caller's stack.
  // The reporter is the one analytics keeps in its settings; without one there is no live report.
  foundation::Bytes liveReport =
      TallyGlobalVariableStorage::sharedInstance()->liveCrashReport().value_or(foundation::Bytes{});
  TallyWatch::queue().async([id = *errorId.string(), text = *message.string(),
                             exceptionText = std::move(exceptionText), type,
                             liveReport = std::move(liveReport)] {
    if (auto session = currentWatchSession())
      session->recordWatchError(id, text, exceptionText, type, liveReport);
  });
}

}  // namespace

void TallyWatch::setSessionProvider(SessionProvider provider) {
  std::lock_guard lock(state().mutex);
  state().provider = std::move(provider);
}

void TallyWatch::setExtensionCheck(std::function<bool()> check) {
  std::lock_guard lock(state().mutex);
  state().extensionCheck = std::move(check);
}

std::optional<std::string> TallyWatch::apiKey() {
  std::optional<std::string> key;
  {
    std::lock_guard lock(state().mutex);
    if (state().keyRead) return state().apiKey;
    state().keyRead = true;
    auto bundle = runtime::Bundle::main();
    Value value = bundle ? bundle->objectForInfoDictionaryKey(kTallyWatchApiKeyInfoKey) : Value();
    if (const std::string* text = value.string()) state().apiKey = key = *text;
  }
  if (key) {
    TallyGlobalVariableStorage::sharedInstance()->setApiKey(*key);
  } else {
    TallyUtil::log(1, "API Key not provided in plist with key %@, unable to create watch session",
                   {kTallyWatchApiKeyInfoKey});
  }
  return key;
}

runtime::SerialQueue& TallyWatch::queue() {
  std::lock_guard lock(state().mutex);
  if (!state().queue) {
    state().queue = std::make_shared<runtime::SerialQueue>(std::string(kTallyWatchQueueLabel));
    // The watch's uploads run on its own queue. The sender holds it weakly: an upload that answers
    // after reset() (its task outlives the queue) finds no queue and its work is dropped.
    std::weak_ptr<runtime::SerialQueue> weak = state().queue;
    state().queue->async([weak] {
      TallyDataSender::setupInstanceWithQueue([weak](std::function<void()> work) {
        if (auto queue = weak.lock()) queue->async(std::move(work));
      });
    });
  }
  return *state().queue;
}

TallyEventRecordStatus TallyWatch::logWatchEvent(const Value& name) {
  return logWatchEventWithParameters(name, Value());
}

TallyEventRecordStatus TallyWatch::logWatchEventWithParameters(const Value& name, const Value& parameters) {
  return guarded(kTallyEventFailed, [&] {
    if (!apiKey()) {
      TallyUtil::log(2, "No API key provided in plist, unable to log event");
      return kTallyEventFailed;
    }
    if (!inWatchExtension()) {
      TallyUtil::log(2, "Tally: Event not logged -- this method can only be used in watch extension.");
      return kTallyEventFailed;
    }
    const std::string* text = name.string();
    if (!text) {
      TallyUtil::log(2, "Tally: Event not logged -- eventName must be of NSString type.");
      return kTallyEventFailed;
    }
    if (text->empty()) {
      TallyUtil::log(2, "Tally: Event not logged -- eventName may not be empty.");
      return kTallyEventFailed;
    }
    const foundation::Dictionary* params = parameters.dictionary();
    if (params && params->size() > kTallyMaxEventParameters) {
      TallyUtil::log(2, "Tally: Event not logged -- parameters may not contain more than %d elements.",
                     {static_cast<long long>(kTallyMaxEventParameters)});
      return kTallyEventParamsCountExceeded;
    }
    if (!usageReportingOn("+[TallyWatch logWatchEvent:withParameters:]")) return kTallyEventFailed;
    std::optional<foundation::Dictionary> given = params ? std::optional(*params) : std::nullopt;
    queue().async([name = *text, given = std::move(given)] {
      if (auto session = currentWatchSession()) (void)session->recordWatchEvent(name, given);
    });
    return kTallyEventRecorded;
  });
}

void TallyWatch::logWatchErrorWithException(const Value& errorId, const Value& message,
                                            const std::exception* exception) {
  guarded(0, [&] {
    if (!errorAccepted(errorId, message, "+[TallyWatch logWatchError:message:exception:]")) return 0;
    // The same text as Tally's error calls give: the exception's class and its reason.
    std::string text = exception ? TallySessionEvents::exceptionText(TallyUtil::typeName(typeid(*exception)),
                                                                     std::string(exception->what()))
                                 : TallySessionEvents::exceptionText(std::nullopt, std::nullopt);
    recordError(errorId, message, std::move(text), TallyError::kException);
    return 0;
  });
}

void TallyWatch::logWatchErrorWithError(const Value& errorId, const Value& message,
                                        const std::optional<foundation::Error>& error) {
  guarded(0, [&] {
    if (!errorAccepted(errorId, message, "+[TallyWatch logWatchError:message:error:]")) return 0;
    recordError(errorId, message, TallySessionEvents::errorText(error), TallyError::kErrorObject);
    return 0;
  });
}

void TallyWatch::reset() {
  std::shared_ptr<runtime::SerialQueue> queue;
  {
    std::lock_guard lock(state().mutex);
    queue = std::move(state().queue);
    state().keyRead = false;
    state().apiKey.reset();
    state().provider = nullptr;
    state().extensionCheck = nullptr;
  }
  if (queue) {
    queue->drain();
    // The sender set up on this queue would post to it after it goes.
    TallyDataSender::cleanup();
  }
}

}  // namespace analytics
