#pragma once
// The reader of the login screen's pages: the little of HTML a plain login page needs, turned into
// a list of blocks drawn top to bottom (text, links, form fields, submit buttons) and the forms they
// belong to. Nothing in a page is ever run. See html_page.cpp for the grammar it accepts.

#include <string>
#include <string_view>
#include <vector>

namespace cloud {

// Caps that keep a hostile page's cost bounded: blocks drawn, forms kept, bytes of one text block,
// and bytes of one attribute value (a longer value is dropped, not cut, so no truncated URL is
// ever followed).
inline constexpr size_t kHtmlMaxBlocks = 400;
inline constexpr size_t kHtmlMaxForms = 16;
inline constexpr size_t kHtmlMaxFieldsPerForm = 64;
inline constexpr size_t kHtmlMaxTextBytes = 4096;
inline constexpr size_t kHtmlMaxAttributeBytes = 8192;

enum class HtmlBlockKind {
  kHeading,    // <h1>…<h6>
  kParagraph,  // any other run of text (paragraphs, labels, list items, bare text)
  kLink,       // <a href>: text is what is shown, target the href as written
  kField,      // <input type=text|email|password> of a form
  kSubmit,     // <input type=submit> or <button type=submit> of a form
};

enum class HtmlFieldType { kText, kEmail, kPassword, kHidden };

struct HtmlField {
  HtmlFieldType type = HtmlFieldType::kText;
  std::string name;
  std::string value;
  std::string placeholder;
};

struct HtmlBlock {
  HtmlBlockKind kind = HtmlBlockKind::kParagraph;
  // Shown text: whitespace collapsed, entities replaced, valid UTF-8 without NUL.
  std::string text;
  // kHeading: 1 to 6.
  int level = 0;
  // kLink: the href.
  std::string target;
  // kField and kSubmit: the form, and for kField the index of the field in it.
  size_t form = 0;
  size_t field = 0;
  // kSubmit: the name and value it adds to what is sent (no name: it adds nothing).
  std::string name;
  std::string value;
};

struct HtmlForm {
  // As written; empty means the page's own URL.
  std::string action;
  // "get" or "post" (anything else reads as "get").
  std::string method = "get";
  // Every field in page order, hidden ones included.
  std::vector<HtmlField> fields;
};

struct HtmlPage {
  std::string title;
  std::vector<HtmlBlock> blocks;
  std::vector<HtmlForm> forms;
};

// Reads any bytes; never fails, never recurses, linear in the input's size.
HtmlPage readHtmlPage(std::string_view html);

// "application/x-www-form-urlencoded": name=value pairs joined by "&", spaces as "+", every byte
// but letters, digits and "*-._" percent-escaped.
std::string formEncode(const std::vector<std::pair<std::string, std::string>>& pairs);

}  // namespace cloud
