#pragma once
// The running numbers of a session's errors (counter 1) and events (counter 2): each counter hands
// out 1, 2, 3 ... until resetAll. The process-wide object is made on first use; a watch session puts
// back the one it archived (setWatchInstance). Archived as a keyed archive with the one field
// "autoIncrementCounters", a dictionary from the counter number to the last value handed out, both
// integers, as the platform writes them; counter numbers as decimal text, as earlier builds wrote
// them, still read. Thread-safe.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/plist/keyed_archive.h"

namespace analytics {

inline constexpr std::int32_t kTallyErrorCounter = 1;
inline constexpr std::int32_t kTallyEventCounter = 2;

class TallyAutoIncrement : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyAutoIncrement";

  static std::shared_ptr<TallyAutoIncrement> instance();
  // Replaces the process-wide object (nullptr makes a fresh one at the next use).
  static void setWatchInstance(std::shared_ptr<TallyAutoIncrement> counters);
  // Registers the decoder of the class in the registry (the shared one by default).
  static void registerClass(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  std::int32_t nextCountFor(std::int32_t counter);
  void resetAll();

  // Archivable
  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  // Restores the counters; a field that is not a dictionary from counter numbers (integers or decimal
  // text) to non-negative 32-bit numbers fails the archive.
  static std::shared_ptr<TallyAutoIncrement> initWithCoder(plist::Decoder& decoder);

 private:
  mutable std::mutex mutex_;
  std::map<std::int32_t, std::int32_t> counters_;
};

}  // namespace analytics
