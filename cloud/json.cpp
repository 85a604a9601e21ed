#include "cloud/json.h"

#include <memory>
#include <utility>

#include "platform/foundation/log.h"

namespace cloud {

using foundation::Error;
using foundation::Value;

// ---- CloudJsonBase ----------------------------------------------------------------------

CloudJsonBase::CloudJsonBase(const CloudJsonBase& other)
    : errorTrace_(other.errorTrace_), depth_(other.depth_), maxDepth_(other.maxDepth_) {}

CloudJsonBase& CloudJsonBase::operator=(const CloudJsonBase& other) {
  if (this != &other) {
    replaceErrorTrace(other.errorTrace_);
    depth_ = other.depth_;
    maxDepth_ = other.maxDepth_;
  }
  return *this;
}

CloudJsonBase::~CloudJsonBase() { dropErrorTrace(); }

void CloudJsonBase::willChangeErrorTrace() const {
  if (observer_) observer_->willChangeValueForKey(*this, kJsonErrorTraceKey);
}

void CloudJsonBase::didChangeErrorTrace() const {
  if (observer_) observer_->didChangeValueForKey(*this, kJsonErrorTraceKey);
}

void CloudJsonBase::addErrorWithCodeDescription(std::int64_t code, std::string description) {
  std::shared_ptr<const Error> underlying;
  if (!errorTrace_.empty()) underlying = std::make_shared<const Error>(errorTrace_.back());
  Error error = Error::make(std::string(kJsonErrorDomain), code, std::move(description), std::move(underlying));
  willChangeErrorTrace();
  errorTrace_.push_back(std::move(error));
  didChangeErrorTrace();
}

void CloudJsonBase::addError(std::int64_t code, const char* description) {
  addErrorWithCodeDescription(code, description);
}

void CloudJsonBase::clearErrorTrace() {
  willChangeErrorTrace();
  dropErrorTrace();
  didChangeErrorTrace();
}

void CloudJsonBase::replaceErrorTrace(const std::vector<Error>& trace) {
  willChangeErrorTrace();
  dropErrorTrace();
  errorTrace_ = trace;
  didChangeErrorTrace();
}

void CloudJsonBase::dropErrorTrace() {
  // Each error holds the chain of those before it. Dropping the newest first releases one link at
  // a time, where dropping the oldest first would unwind a long chain in one deep recursion.
  while (!errorTrace_.empty()) errorTrace_.pop_back();
}

bool CloudJsonBase::enterLevel() {
  ++depth_;
  if ((maxDepth_ != 0 && depth_ > maxDepth_) || depth_ > kStackSafetyDepth) {
    addError(kJsonTooDeep, "Nested too deep");
    return false;
  }
  return true;
}

// ---- CloudJSON --------------------------------------------------------------------------

CloudJSON::CloudJSON() { setMaxDepth(kDefaultMaxDepth); }

void CloudJSON::setMaxDepth(std::uint64_t maxDepth) {
  CloudJsonBase::setMaxDepth(maxDepth);
  parser_.setMaxDepth(maxDepth);
  writer_.setMaxDepth(maxDepth);
}

template <class T>
std::optional<T> CloudJSON::adopt(std::optional<T> result, const CloudJsonBase& worker, Error* error) {
  clearErrorTrace();
  if (result) return result;
  replaceErrorTrace(worker.errorTrace());
  if (error && !errorTrace_.empty()) *error = errorTrace_.back();
  return std::nullopt;
}

std::optional<Value> CloudJSON::objectWithString(std::optional<std::string_view> text) {
  return adopt(parser_.objectWithString(text), parser_, nullptr);
}

std::optional<std::string> CloudJSON::stringWithObject(const Value& value) {
  return adopt(writer_.stringWithObject(value), writer_, nullptr);
}

std::optional<Value> CloudJSON::objectWithStringAllowScalarError(std::optional<std::string_view> text,
                                                                 bool allowScalar, Error* error) {
  auto result = allowScalar ? parser_.fragmentWithString(text) : parser_.objectWithString(text);
  return adopt(std::move(result), parser_, error);
}

std::optional<std::string> CloudJSON::stringWithObjectAllowScalarError(const Value& value, bool allowScalar,
                                                                       Error* error) {
  auto result = allowScalar ? writer_.stringWithFragment(value) : writer_.stringWithObject(value);
  return adopt(std::move(result), writer_, error);
}

std::optional<Value> CloudJSON::fragmentWithStringError(std::optional<std::string_view> text, Error* error) {
  return objectWithStringAllowScalarError(text, true, error);
}

std::optional<Value> CloudJSON::objectWithStringError(std::optional<std::string_view> text, Error* error) {
  return objectWithStringAllowScalarError(text, false, error);
}

std::optional<std::string> CloudJSON::stringWithFragmentError(const Value& value, Error* error) {
  return stringWithObjectAllowScalarError(value, true, error);
}

std::optional<std::string> CloudJSON::stringWithObjectError(const Value& value, Error* error) {
  return stringWithObjectAllowScalarError(value, false, error);
}

// ---- One-call conversions ---------------------------------------------------------------

namespace {

void logFailure(std::string_view call, const CloudJsonBase& worker) {
  // Each error is shown without its underlying chain: the trace lists those errors already, and
  // nested descriptions grow with every level of quoting.
  foundation::Array trace;
  trace.reserve(worker.errorTrace().size());
  for (const Error& error : worker.errorTrace()) {
    trace.emplace_back(Error(error.domain, error.code, error.userInfo).description());
  }
  foundation::log(std::string(call) + " failed. Error trace is: " + Value(std::move(trace)).description());
}

}  // namespace

std::optional<Value> JSONValue(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  CloudJsonParser parser;
  auto result = parser.objectWithString(text);
  if (!result) logFailure("-JSONValue", parser);
  return result;
}

std::optional<Value> JSONFragmentValue(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  CloudJsonParser parser;
  auto result = parser.fragmentWithString(text);
  if (!result) logFailure("-JSONFragmentValue", parser);
  return result;
}

std::optional<std::string> JSONRepresentation(const Value& value) {
  CloudJsonWriter writer;
  auto result = writer.stringWithObject(value);
  if (!result) logFailure("-JSONRepresentation", writer);
  return result;
}

std::optional<std::string> JSONFragment(const Value& value) {
  CloudJsonWriter writer;
  auto result = writer.stringWithFragment(value);
  if (!result) logFailure("-JSONFragment", writer);
  return result;
}

}  // namespace cloud
