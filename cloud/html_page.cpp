// The login page reader. It accepts, case-insensitively, this grammar and reads anything else as
// text or skips it:
//
//   document  := ( comment | declaration | end-tag | start-tag | text )*
//   comment   := "<!--" … "-->"                     (unclosed: runs to the end)
//   declaration := "<!" … ">" | "<?" … ">"           (doctype, processing instruction: skipped)
//   end-tag   := "</" name … ">"
//   start-tag := "<" name ( space+ attribute )* space* "/"? ">"
//   name      := letter ( letter | digit | "-" )*
//   attribute := attr-name ( space* "=" space* value )?
//   value     := '"' [^"]* '"' | "'" [^']* "'" | [^ space >]+
//   text      := anything else; "&amp; &lt; &gt; &quot; &apos; &nbsp; &#N; &#xH;" are replaced,
//                any other "&" stays as it is
//
// A "<" that starts none of these is text; a tag cut off by the end of the input is dropped. The
// contents of script, style, template, textarea, select, iframe, svg and math are skipped unread
// up to their end tag. Elements used: title; h1–h6; a[href]; form[action method];
// input[type name value placeholder] for text, email, password, hidden and submit; button (a
// submit button unless its type says otherwise); block elements (p, div, br, li, label, table rows…)
// only end a run of text. Every other tag is ignored, its text kept.
//
// Trust model: the page comes from the network and may be hostile. The reader is one forward scan
// with no recursion and no nesting stack (deep nesting costs nothing), bounded output (the caps in
// the header), attribute values over their cap dropped whole, and every text it yields valid UTF-8
// without NUL or control characters (a bad byte becomes U+FFFD). Nothing read is ever run.

#include "cloud/html_page.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/foundation/text.h"

namespace cloud {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (lower(text[i]) != prefix[i]) return false;
  return true;
}

// The text with every byte that does not start well-formed UTF-8 as U+FFFD.
std::string scrubbedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t good = foundation::text::validUtf8Length(text);
    out.append(text.substr(0, good));
    if (good == text.size()) break;
    foundation::text::appendCodePoint(out, kReplacement);
    text.remove_prefix(good + 1);
  }
  return out;
}

// Cuts to at most `limit` bytes without splitting a character.
void capUtf8(std::string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

// "&…;" at the start of `rest`: the characters it stands for and its length; nothing when it is
// not one the reader knows (the "&" is then kept as it is).
std::optional<std::pair<char32_t, size_t>> entityAt(std::string_view rest) {
  static constexpr std::array<std::pair<std::string_view, char32_t>, 6> kNamed{{{"&amp;", U'&'},
                                                                                {"&lt;", U'<'},
                                                                                {"&gt;", U'>'},
                                                                                {"&quot;", U'"'},
                                                                                {"&apos;", U'\''},
                                                                                {"&nbsp;", U' '}}};
  for (const auto& [name, code] : kNamed)
    if (rest.starts_with(name)) return std::pair{code, name.size()};
  if (!rest.starts_with("&#")) return std::nullopt;
  size_t i = 2;
  const bool hex = i < rest.size() && (rest[i] == 'x' || rest[i] == 'X');
  if (hex) ++i;
  const size_t digitsStart = i;
  std::uint32_t value = 0;
  // Eight digits are more than any code point needs; more than that is not an entity read here.
  for (; i < rest.size() && i - digitsStart < 8; ++i) {
    const char c = rest[i];
    int digit = -1;
    if (isDigit(c))
      digit = c - '0';
    else if (hex && lower(c) >= 'a' && lower(c) <= 'f')
      digit = lower(c) - 'a' + 10;
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (i == digitsStart || i >= rest.size() || rest[i] != ';') return std::nullopt;
  char32_t code = value;
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
  return std::pair{code, i + 1};
}

// Raw bytes of text or an attribute value with entities replaced, NUL as U+FFFD and other
// controls dropped (whitespace kept for the caller to fold).
std::string decoded(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    const char c = raw[i];
    if (c == '&') {
      if (auto entity = entityAt(raw.substr(i))) {
        if (entity->first < 0x20 && !isSpace(static_cast<char>(entity->first))) {
          // A control written as an entity is dropped like a raw one.
        } else {
          foundation::text::appendCodePoint(out, entity->first);
        }
        i += entity->second;
        continue;
      }
    }
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0)
      foundation::text::appendCodePoint(out, kReplacement);
    else if ((byte >= 0x20 && byte != 0x7F) || isSpace(c))
      out.push_back(c);
    ++i;
  }
  return scrubbedUtf8(out);
}

// Whitespace runs as one space, none at either end.
std::string folded(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (isSpace(c)) {
      space = !out.empty();
      continue;
    }
    if (space) out.push_back(' ');
    space = false;
    out.push_back(c);
  }
  return out;
}

struct Tag {
  std::string name;  // lower case
  bool end = false;
  std::vector<std::pair<std::string, std::string>> attributes;  // names lower case, values decoded

  const std::string* attribute(std::string_view wanted) const {
    for (const auto& [name, value] : attributes)
      if (name == wanted) return &value;
    return nullptr;
  }
  std::string attributeOr(std::string_view wanted, std::string fallback) const {
    const std::string* value = attribute(wanted);
    return value ? *value : std::move(fallback);
  }
};

// Reads the tag that starts at html[pos] ("<" then a letter, or "</" then a letter). Returns the
// position after its ">", or npos when the input ends first.
size_t readTag(std::string_view html, size_t pos, Tag& tag) {
  size_t i = pos + 1;
  if (html[i] == '/') {
    tag.end = true;
    ++i;
  }
  const size_t nameStart = i;
  while (i < html.size() && (isAlpha(html[i]) || isDigit(html[i]) || html[i] == '-')) ++i;
  tag.name = lowered(html.substr(nameStart, i - nameStart));
  while (i < html.size()) {
    while (i < html.size() && (isSpace(html[i]) || html[i] == '/')) ++i;
    if (i >= html.size()) break;
    if (html[i] == '>') return i + 1;
    const size_t attrStart = i;
    while (i < html.size() && !isSpace(html[i]) && html[i] != '/' && html[i] != '>' && html[i] != '=') ++i;
    // A stray quote or "=" where a name belongs: step over it.
    if (i == attrStart) ++i;
    std::string name = lowered(html.substr(attrStart, i - attrStart));
    size_t j = i;
    while (j < html.size() && isSpace(html[j])) ++j;
    std::string_view raw;
    bool hasValue = false;
    if (j < html.size() && html[j] == '=') {
      ++j;
      while (j < html.size() && isSpace(html[j])) ++j;
      if (j >= html.size()) return std::string_view::npos;
      hasValue = true;
      if (html[j] == '"' || html[j] == '\'') {
        const size_t close = html.find(html[j], j + 1);
        if (close == std::string_view::npos) return std::string_view::npos;
        raw = html.substr(j + 1, close - j - 1);
        j = close + 1;
      } else {
        const size_t valueStart = j;
        while (j < html.size() && !isSpace(html[j]) && html[j] != '>') ++j;
        raw = html.substr(valueStart, j - valueStart);
      }
      i = j;
    }
    if (tag.end || name.empty()) continue;
    if (raw.size() > kHtmlMaxAttributeBytes) continue;
    // The first of a repeated attribute counts, as browsers read it; the count is bounded by the
    // tag's length, and only the few wanted are looked up.
    if (tag.attribute(name) == nullptr && tag.attributes.size() < 32)
      tag.attributes.emplace_back(std::move(name), hasValue ? decoded(raw) : std::string());
  }
  return std::string_view::npos;
}

bool isRawTextElement(std::string_view name) {
  static constexpr std::array<std::string_view, 8> kRaw{"script", "style",  "template", "textarea",
                                                        "select", "iframe", "svg",      "math"};
  return std::find(kRaw.begin(), kRaw.end(), name) != kRaw.end();
}

bool isBlockElement(std::string_view name) {
  static constexpr std::array<std::string_view, 28> kBlock{
      "p",     "div",      "br",     "li",   "ul",      "ol",         "dl",     "dt",    "dd",      "tr",
      "table", "label",    "form",   "hr",   "section", "header",     "footer", "main",  "article", "nav",
      "aside", "fieldset", "legend", "body", "html",    "blockquote", "pre",    "center"};
  return std::find(kBlock.begin(), kBlock.end(), name) != kBlock.end();
}

int headingLevel(std::string_view name) {
  if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') return name[1] - '0';
  return 0;
}

// The page being built, with what is open at the scan position.
class Builder {
 public:
  HtmlPage page;

  bool full() const { return page.blocks.size() >= kHtmlMaxBlocks; }

  void text(std::string_view raw) {
    std::string* into = &run_;
    if (inTitle_)
      into = &page.title;
    else if (button_)
      into = &button_->text;
    else if (link_)
      into = &link_->text;
    // Raw bytes are kept up to a little past the cap; the decoded, folded text is capped again.
    if (into->size() < kHtmlMaxTextBytes * 2)
      into->append(raw.substr(0, kHtmlMaxTextBytes * 2 - into->size()));
  }

  void tag(const Tag& t) {
    if (t.name == "title") {
      inTitle_ = !t.end;
      if (t.end) page.title = shown(page.title);
      return;
    }
    if (const int level = headingLevel(t.name)) {
      flush();
      level_ = t.end ? 0 : level;
      return;
    }
    if (t.name == "a") return t.end ? closeLink() : openLink(t);
    if (t.name == "button") return t.end ? closeButton() : openButton(t);
    if (t.name == "input" && !t.end) return input(t);
    if (t.name == "form") {
      flush();
      if (t.end) {
        form_.reset();
      } else if (!form_ && page.forms.size() < kHtmlMaxForms) {
        // A form inside a form is ignored, as browsers do.
        HtmlForm form;
        form.action = t.attributeOr("action", "");
        form.method = lowered(t.attributeOr("method", "get")) == "post" ? "post" : "get";
        page.forms.push_back(std::move(form));
        form_ = page.forms.size() - 1;
      }
      return;
    }
    if (isBlockElement(t.name)) flush();
  }

  void finish() {
    closeLink();
    closeButton();
    flush();
    if (inTitle_) page.title = shown(page.title);
  }

 private:
  static std::string shown(std::string_view raw) {
    std::string text = folded(decoded(raw));
    capUtf8(text, kHtmlMaxTextBytes);
    return text;
  }

  void add(HtmlBlock block) {
    if (!full()) page.blocks.push_back(std::move(block));
  }

  void flush() {
    std::string text = shown(run_);
    run_.clear();
    if (text.empty()) return;
    HtmlBlock block;
    block.kind = level_ ? HtmlBlockKind::kHeading : HtmlBlockKind::kParagraph;
    block.level = level_;
    block.text = std::move(text);
    add(std::move(block));
  }

  void openLink(const Tag& t) {
    closeLink();
    const std::string* href = t.attribute("href");
    if (href == nullptr || folded(*href).empty()) return;
    flush();
    link_ = HtmlBlock{};
    link_->kind = HtmlBlockKind::kLink;
    link_->target = folded(*href);
  }

  void closeLink() {
    if (!link_) return;
    HtmlBlock block = std::move(*link_);
    link_.reset();
    block.text = shown(block.text);
    if (block.text.empty()) block.text = block.target;
    capUtf8(block.text, kHtmlMaxTextBytes);
    add(std::move(block));
  }

  // The field's index in the open form, when the form has room for it.
  std::optional<size_t> addField(HtmlField field) {
    if (!form_) return std::nullopt;
    auto& fields = page.forms[*form_].fields;
    if (fields.size() >= kHtmlMaxFieldsPerForm) return std::nullopt;
    fields.push_back(std::move(field));
    return fields.size() - 1;
  }

  void input(const Tag& t) {
    const std::string type = lowered(t.attributeOr("type", "text"));
    if (type == "submit") return submit(t, t.attributeOr("value", ""));
    HtmlField field;
    if (type == "text" || type == "search")
      field.type = HtmlFieldType::kText;
    else if (type == "email")
      field.type = HtmlFieldType::kEmail;
    else if (type == "password")
      field.type = HtmlFieldType::kPassword;
    else if (type == "hidden")
      field.type = HtmlFieldType::kHidden;
    else
      return;
    field.name = t.attributeOr("name", "");
    field.value = t.attributeOr("value", "");
    field.placeholder = shown(t.attributeOr("placeholder", ""));
    const bool hidden = field.type == HtmlFieldType::kHidden;
    const auto index = addField(std::move(field));
    if (!index || hidden) return;
    flush();
    HtmlBlock block;
    block.kind = HtmlBlockKind::kField;
    block.form = *form_;
    block.field = *index;
    add(std::move(block));
  }

  void submit(const Tag& t, std::string label) {
    if (!form_) return;
    flush();
    HtmlBlock block;
    block.kind = HtmlBlockKind::kSubmit;
    block.form = *form_;
    block.name = t.attributeOr("name", "");
    block.value = t.attributeOr("value", "");
    block.text = std::move(label);
    add(std::move(block));
  }

  void openButton(const Tag& t) {
    closeButton();
    if (!form_ || lowered(t.attributeOr("type", "submit")) != "submit") return;
    flush();
    button_ = HtmlBlock{};
    button_->kind = HtmlBlockKind::kSubmit;
    button_->form = *form_;
    button_->name = t.attributeOr("name", "");
    button_->value = t.attributeOr("value", "");
  }

  void closeButton() {
    if (!button_) return;
    HtmlBlock block = std::move(*button_);
    button_.reset();
    block.text = shown(block.text);
    add(std::move(block));
  }

  std::string run_;
  int level_ = 0;
  bool inTitle_ = false;
  std::optional<HtmlBlock> link_;
  std::optional<HtmlBlock> button_;
  std::optional<size_t> form_;
};

}  // namespace

HtmlPage readHtmlPage(std::string_view html) {
  Builder builder;
  size_t pos = 0;
  while (pos < html.size() && !builder.full()) {
    const size_t open = html.find('<', pos);
    if (open == std::string_view::npos) {
      builder.text(html.substr(pos));
      break;
    }
    if (open > pos) builder.text(html.substr(pos, open - pos));
    pos = open;
    const std::string_view rest = html.substr(pos);
    if (rest.starts_with("<!--")) {
      const size_t close = html.find("-->", pos + 4);
      pos = close == std::string_view::npos ? html.size() : close + 3;
      continue;
    }
    if (rest.starts_with("<!") || rest.starts_with("<?")) {
      const size_t close = html.find('>', pos);
      pos = close == std::string_view::npos ? html.size() : close + 1;
      continue;
    }
    const bool tagStart =
        rest.size() > 1 && (isAlpha(rest[1]) || (rest[1] == '/' && rest.size() > 2 && isAlpha(rest[2])));
    if (!tagStart) {
      builder.text("<");
      ++pos;
      continue;
    }
    Tag tag;
    const size_t after = readTag(html, pos, tag);
    if (after == std::string_view::npos) break;
    pos = after;
    if (!tag.end && isRawTextElement(tag.name)) {
      // Skipped unread to "</name", whatever its case; unclosed, to the end.
      const std::string endTag = "</" + tag.name;
      size_t search = pos;
      size_t close = std::string_view::npos;
      while ((search = html.find("</", search)) != std::string_view::npos) {
        if (startsWithNoCase(html.substr(search), endTag)) {
          close = search;
          break;
        }
        search += 2;
      }
      if (close == std::string_view::npos) break;
      const size_t gt = html.find('>', close);
      pos = gt == std::string_view::npos ? html.size() : gt + 1;
      continue;
    }
    builder.tag(tag);
  }
  builder.finish();
  return std::move(builder.page);
}

std::string formEncode(const std::vector<std::pair<std::string, std::string>>& pairs) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  auto append = [&out](std::string_view text) {
    for (char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (isAlpha(c) || isDigit(c) || c == '*' || c == '-' || c == '.' || c == '_') {
        out.push_back(c);
      } else if (c == ' ') {
        out.push_back('+');
      } else {
        out.push_back('%');
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
      }
    }
  };
  for (const auto& [name, value] : pairs) {
    if (!out.empty()) out.push_back('&');
    append(name);
    out.push_back('=');
    append(value);
  }
  return out;
}

}  // namespace cloud
