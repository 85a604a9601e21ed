#pragma once
// Strict JSON reader and writer of the cloud-storage client. Text becomes a tree of Values
// (Dictionary, Array, string, Decimal number, bool, null) and back. Nothing here throws: a failed
// operation returns nothing and leaves its reasons in the error trace, innermost cause first, each
// later error linking the one before it as its underlying error.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace cloud {

inline constexpr std::string_view kJsonErrorDomain = "org.Marlowen.JSON.ErrorDomain";

enum JsonErrorCode : std::int64_t {
  kJsonUnsupportedValue = 1,  // the writer met a value JSON cannot hold
  kJsonBadNumber = 2,
  kJsonSyntax = 3,
  kJsonNotContainer = 4,  // top-level value is neither an object nor an array
  kJsonControlCharacter = 5,
  kJsonBadUnicodeEscape = 6,
  kJsonTooDeep = 7,
  kJsonIllegalEscape = 8,
  kJsonTrailingComma = 9,
  kJsonGarbage = 10,
  kJsonEndOfInput = 11,
  kJsonNoInput = 12,
  kJsonInvalidUtf8 = 13,  // a string of the input is not well-formed UTF-8
};

// The key under which changes of a worker's error trace are announced.
inline constexpr std::string_view kJsonErrorTraceKey = "errorTrace";

class CloudJsonBase;

// Told before and after each change of a worker's observable property, named by its key; the error
// trace (kJsonErrorTraceKey) changes with each error added and each clearing.
class CloudJsonObserver {
 public:
  virtual void willChangeValueForKey(const CloudJsonBase& worker, std::string_view key) = 0;
  virtual void didChangeValueForKey(const CloudJsonBase& worker, std::string_view key) = 0;

 protected:
  ~CloudJsonObserver() = default;
};

// The error trace and nesting limit shared by the reader and the writer.
class CloudJsonBase {
 public:
  static constexpr std::uint64_t kDefaultMaxDepth = 512;
  // Nesting past this level fails with kJsonTooDeep even when maxDepth is 0 ("no limit"). Trees
  // are read, written, compared and destroyed recursively; at this depth all of that stays well
  // inside a default 8 MB thread stack even in unoptimised, sanitised builds (about 1 KB a level).
  static constexpr std::uint64_t kStackSafetyDepth = 2048;

  CloudJsonBase() = default;
  // A copy starts without an observer; an assignment keeps the target's and announces the new trace.
  CloudJsonBase(const CloudJsonBase& other);
  CloudJsonBase& operator=(const CloudJsonBase& other);
  virtual ~CloudJsonBase();

  // One observer, not owned; it must be removed (nullptr) before it goes. Nothing is announced
  // while the worker itself goes.
  void setObserver(CloudJsonObserver* observer) { observer_ = observer; }

  // Errors of the last operation, oldest first; empty when it succeeded.
  const std::vector<foundation::Error>& errorTrace() const { return errorTrace_; }
  virtual std::uint64_t maxDepth() const { return maxDepth_; }
  // 0 lifts the limit (up to kStackSafetyDepth).
  virtual void setMaxDepth(std::uint64_t maxDepth) { maxDepth_ = maxDepth; }

  // Appends an error in kJsonErrorDomain whose underlying error is the trace's last one. Both
  // announce the change of the trace to the observer.
  void addErrorWithCodeDescription(std::int64_t code, std::string description);
  void clearErrorTrace();

 protected:
  // addErrorWithCodeDescription for fixed texts, out of line so that the recursive steps that
  // report errors keep no string temporaries in their frames.
  [[gnu::noinline]] void addError(std::int64_t code, const char* description);
  // One level deeper; false (with kJsonTooDeep in the trace) when that passes the limit.
  bool enterLevel();
  void leaveLevel() { --depth_; }
  // Replaces the whole trace, announced as one change.
  void replaceErrorTrace(const std::vector<foundation::Error>& trace);

  std::vector<foundation::Error> errorTrace_;
  std::uint64_t depth_ = 0;
  std::uint64_t maxDepth_ = kDefaultMaxDepth;

 private:
  void willChangeErrorTrace() const;
  void didChangeErrorTrace() const;
  void dropErrorTrace();

  CloudJsonObserver* observer_ = nullptr;
};

// Recursive-descent reader over the UTF-8 bytes of the text. Numbers become Decimals (integers
// too), keeping up to 38 significant digits; one whose exponent the Decimal cannot hold fails with
// kJsonBadNumber. A repeated key keeps the last value.
class CloudJsonParser : public CloudJsonBase {
 public:
  // A dictionary or an array; nothing on failure (kJsonNotContainer for a lone scalar).
  std::optional<foundation::Value> objectWithString(std::optional<std::string_view> text);
  // Any value, scalars included; nothing on failure. A missing text fails with kJsonNoInput.
  std::optional<foundation::Value> fragmentWithString(std::optional<std::string_view> text);

 private:
  // The value of the whole text.
  bool scanValue(foundation::Value& out);
  // Nesting recurses through the two container scanners and scanValue; the helpers they call
  // are kept out of line so that each level costs little stack.
  bool scanRestOfArray(foundation::Value& out);
  bool scanRestOfObject(foundation::Value& out);
  // The room a container at the current depth starts with, and what the finished one held.
  size_t sizeHint(const std::vector<std::uint32_t>& hints) const;
  void rememberSize(std::vector<std::uint32_t>& hints, size_t size);
  bool scanSeparator(char close, const char* trailingComma, const char* missingComma);
  [[gnu::noinline]] bool scanScalar(foundation::Value& out);
  [[gnu::noinline]] void addKeyedError(const std::string& key);
  [[gnu::noinline]] bool scanRestOfString(std::string& out);
  bool scanEscape(std::string& out);
  bool scanUnicodeEscape(std::string& out);
  bool scanHexQuad(std::uint32_t& value);
  bool scanNumber(foundation::Value& out);
  bool scanLiteral(std::string_view word, std::string_view failure);
  void skipWhitespace() {
    while (c_ != end_ && static_cast<unsigned char>(*c_) <= ' ' && isWhitespace(*c_)) ++c_;
  }
  static bool isWhitespace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

  const char* c_ = nullptr;    // read position
  const char* end_ = nullptr;  // end of the text
  // By depth: how many elements and members the last array and object finished there held.
  std::vector<std::uint32_t> elementHints_;
  std::vector<std::uint32_t> memberHints_;
};

// Writer with optional indentation ("human readable") and keys sorted in UTF-16 order.
class CloudJsonWriter : public CloudJsonBase {
 public:
  // Text of a dictionary or an array; any other value fails with kJsonNotContainer.
  std::optional<std::string> stringWithObject(const foundation::Value& value);
  // Text of any value JSON can hold; dates, data, NaN and infinities fail with kJsonUnsupportedValue.
  std::optional<std::string> stringWithFragment(const foundation::Value& value);

  bool humanReadable() const { return humanReadable_; }
  void setHumanReadable(bool on) { humanReadable_ = on; }
  bool sortKeys() const { return sortKeys_; }
  void setSortKeys(bool on) { sortKeys_ = on; }

 private:
  // Nesting recurses through appendValue and the two container writers; as in the reader, the
  // helpers they call are kept out of line.
  bool appendValue(const foundation::Value& value, std::string& out);
  bool appendArray(const foundation::Array& array, std::string& out);
  bool appendDictionary(const foundation::Dictionary& dictionary, std::string& out);
  bool appendMember(const foundation::Dictionary::Entry& entry, bool& first, std::string& out);
  [[gnu::noinline]] bool appendScalar(const foundation::Value& value, std::string& out);
  [[gnu::noinline]] void addKeyedError(const std::string& key);
  [[gnu::noinline]] bool appendString(std::string_view text, std::string& out);
  void appendIndentation(std::string& out) const;

  bool sortKeys_ = false;
  bool humanReadable_ = false;
};

// One reader and one writer behind a single object; after a failure its own trace is a copy of the
// failing worker's.
class CloudJSON : public CloudJsonBase {
 public:
  CloudJSON();

  std::uint64_t maxDepth() const override { return parser_.maxDepth(); }
  void setMaxDepth(std::uint64_t maxDepth) override;
  bool humanReadable() const { return writer_.humanReadable(); }
  void setHumanReadable(bool on) { writer_.setHumanReadable(on); }
  bool sortKeys() const { return writer_.sortKeys(); }
  void setSortKeys(bool on) { writer_.setSortKeys(on); }

  std::optional<foundation::Value> objectWithString(std::optional<std::string_view> text);
  std::optional<std::string> stringWithObject(const foundation::Value& value);

  // With allowScalar the fragment entry is used. On failure *error (when given) receives the
  // trace's last, outermost error.
  std::optional<foundation::Value> objectWithStringAllowScalarError(std::optional<std::string_view> text,
                                                                    bool allowScalar,
                                                                    foundation::Error* error);
  std::optional<std::string> stringWithObjectAllowScalarError(const foundation::Value& value,
                                                              bool allowScalar, foundation::Error* error);
  std::optional<foundation::Value> fragmentWithStringError(std::optional<std::string_view> text,
                                                           foundation::Error* error);
  std::optional<foundation::Value> objectWithStringError(std::optional<std::string_view> text,
                                                         foundation::Error* error);
  std::optional<std::string> stringWithFragmentError(const foundation::Value& value,
                                                     foundation::Error* error);
  std::optional<std::string> stringWithObjectError(const foundation::Value& value, foundation::Error* error);

 private:
  template <class T>
  std::optional<T> adopt(std::optional<T> result, const CloudJsonBase& worker, foundation::Error* error);

  CloudJsonParser parser_;
  CloudJsonWriter writer_;
};

// One-call conversions with a fresh worker per call, safe from any thread. A failure logs the error
// trace and yields nothing; a missing text yields nothing without a log.
std::optional<foundation::Value> JSONValue(std::optional<std::string_view> text);
std::optional<foundation::Value> JSONFragmentValue(std::optional<std::string_view> text);
std::optional<std::string> JSONRepresentation(const foundation::Value& value);
std::optional<std::string> JSONFragment(const foundation::Value& value);

}  // namespace cloud
