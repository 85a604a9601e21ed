#pragma once
// The record of one running timer. While a timer runs it is not a note yet: it lives as one of
// these in its baby's timer file, so it survives leaving the editor and restarting the
// application. A baby's timers are one ordered array; a timer is known by its index in it.
//
// For "Breast Feeding" the record holds seconds (the left side in param_numValue, the right side
// written "%ld" in param_numMeasureCurrent) and the two fields param_DateLast and param_Paused;
// every other type leaves those two empty.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/plist/keyed_archive.h"

namespace app {

class noteTimer : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "noteTimer";

  std::string className() const override { return std::string(kClassName); }
  // Writes the nine fields, each under its own name; an empty field is written as nil.
  void encodeWithCoder(plist::Coder& coder) const override;
  // Reads the nine fields; a missing key, nil, or a value of the wrong kind leaves the field
  // empty, so one odd field never costs the other timers of the file.
  static std::shared_ptr<noteTimer> initWithCoder(plist::Decoder& decoder);

  // The registry that knows this class, for unarchiving timer files.
  static const plist::ClassRegistry& classRegistry();

  const std::optional<std::string>& param_Type() const { return param_Type_; }
  void setParam_Type(std::optional<std::string> value) { param_Type_ = std::move(value); }
  const std::optional<foundation::Date>& param_DateStart() const { return param_DateStart_; }
  void setParam_DateStart(std::optional<foundation::Date> value) { param_DateStart_ = value; }
  const std::optional<std::string>& param_strValue() const { return param_strValue_; }
  void setParam_strValue(std::optional<std::string> value) { param_strValue_ = std::move(value); }
  // A number (integer or real); null when empty.
  const foundation::Value& param_numValue() const { return param_numValue_; }
  void setParam_numValue(foundation::Value value);
  const std::optional<std::string>& param_numMeasureCurrent() const { return param_numMeasureCurrent_; }
  void setParam_numMeasureCurrent(std::optional<std::string> value) {
    param_numMeasureCurrent_ = std::move(value);
  }
  const std::optional<std::string>& param_Notice() const { return param_Notice_; }
  void setParam_Notice(std::optional<std::string> value) { param_Notice_ = std::move(value); }
  const std::optional<foundation::Date>& param_DateLast() const { return param_DateLast_; }
  void setParam_DateLast(std::optional<foundation::Date> value) { param_DateLast_ = value; }
  const std::optional<bool>& param_Paused() const { return param_Paused_; }
  void setParam_Paused(std::optional<bool> value) { param_Paused_ = value; }
  // The number of the timer's temporary photo; -1 for none.
  const std::optional<std::int64_t>& param_ImgPathNum() const { return param_ImgPathNum_; }
  void setParam_ImgPathNum(std::optional<std::int64_t> value) { param_ImgPathNum_ = value; }

  friend bool operator==(const noteTimer& a, const noteTimer& b);

 private:
  std::optional<std::string> param_Type_;
  std::optional<foundation::Date> param_DateStart_;
  std::optional<std::string> param_strValue_;
  foundation::Value param_numValue_;
  std::optional<std::string> param_numMeasureCurrent_;
  std::optional<std::string> param_Notice_;
  std::optional<foundation::Date> param_DateLast_;
  std::optional<bool> param_Paused_;
  std::optional<std::int64_t> param_ImgPathNum_;
};

using NoteTimerArray = std::vector<std::shared_ptr<noteTimer>>;

// A timer file's bytes: the array as the root object of a keyed archive.
foundation::Result<foundation::Bytes> archiveTimerArray(const NoteTimerArray& timers);
// The array a timer file holds; an error for a file that is no such archive (a nil root reads as
// an empty array).
foundation::Result<NoteTimerArray> unarchiveTimerArray(const foundation::Bytes& data);

}  // namespace app
