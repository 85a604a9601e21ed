// Fuzz target for the login page reader: any bytes must read without a crash into a page within
// the reader's caps, every text valid UTF-8 without NUL, every block pointing at a form and field
// that exist, and the form encoding of what was read using only its own alphabet.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cloud/html_page.h"
#include "platform/foundation/text.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void requireCleanText(const std::string& text, size_t limit) {
  require(text.size() <= limit);
  require(foundation::text::isValidUtf8(text));
  require(text.find('\0') == std::string::npos);
}

void requireFormAlphabet(const std::string& encoded) {
  for (char c : encoded) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '*' || c == '-' || c == '.' || c == '_' || c == '+' || c == '%' || c == '=' ||
                       c == '&';
    require(plain);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const cloud::HtmlPage page = cloud::readHtmlPage(html);
  require(page.blocks.size() <= cloud::kHtmlMaxBlocks);
  require(page.forms.size() <= cloud::kHtmlMaxForms);
  requireCleanText(page.title, cloud::kHtmlMaxTextBytes);
  for (const auto& block : page.blocks) {
    requireCleanText(block.text, cloud::kHtmlMaxTextBytes);
    require(block.target.size() <= cloud::kHtmlMaxAttributeBytes);
    if (block.kind == cloud::HtmlBlockKind::kLink) require(!block.target.empty() && !block.text.empty());
    if (block.kind == cloud::HtmlBlockKind::kField || block.kind == cloud::HtmlBlockKind::kSubmit)
      require(block.form < page.forms.size());
    if (block.kind == cloud::HtmlBlockKind::kField) {
      require(block.field < page.forms[block.form].fields.size());
      require(page.forms[block.form].fields[block.field].type != cloud::HtmlFieldType::kHidden);
    }
  }
  for (const auto& form : page.forms) {
    require(form.method == "get" || form.method == "post");
    require(form.fields.size() <= cloud::kHtmlMaxFieldsPerForm);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& field : form.fields) {
      require(field.value.size() <= cloud::kHtmlMaxAttributeBytes * 3);
      requireCleanText(field.placeholder, cloud::kHtmlMaxTextBytes);
      pairs.emplace_back(field.name, field.value);
    }
    requireFormAlphabet(cloud::formEncode(pairs));
  }
  // Reading is a function of the bytes alone.
  require(cloud::readHtmlPage(html).blocks.size() == page.blocks.size());
  return 0;
}
