#include "cloud/cloud_web_view.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "cloud/cloud_request.h"
#include "platform/graphics/text_measure.h"
#include "platform/net/http.h"
#include "platform/ui/scroll_view.h"
#include "platform/ui/text_input.h"

namespace cloud {
namespace {

// Scheme, then "//" authority; the rest of the text is path, query and fragment.
struct UrlParts {
  std::string_view scheme;
  std::string_view authority;
  std::string_view rest;
};

std::optional<UrlParts> split(std::string_view url) {
  size_t colon = url.find(':');
  if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
  for (size_t i = 0; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
  }
  UrlParts parts{url.substr(0, colon), {}, url.substr(colon + 1)};
  if (parts.rest.starts_with("//")) {
    std::string_view after = parts.rest.substr(2);
    size_t end = after.find_first_of("/?#");
    parts.authority = after.substr(0, end);
    parts.rest = end == std::string_view::npos ? std::string_view() : after.substr(end);
  }
  return parts;
}

// Page layout, in points.
constexpr double kMargin = 16;
constexpr double kGap = 10;
constexpr double kFieldHeight = 36;
constexpr double kButtonHeight = 40;
constexpr double kLinkHeight = 30;
constexpr double kTextSize = 15;

// A form field's frame: a grey box with the text field inset in it.
class FieldBox : public ui::View {
 public:
  void drawRect(graphics::Canvas& canvas, const ui::Rect& /*rect*/) override {
    const ui::Rect b = bounds();
    canvas.save();
    canvas.setStrokeColor(graphics::Color::white(0.6));
    canvas.setLineWidth(1);
    canvas.strokeRect(ui::Rect(b.x() + 0.5, b.y() + 0.5, b.width() - 1, b.height() - 1));
    canvas.restore();
  }
};

graphics::Font blockFont(const HtmlBlock& block) {
  if (block.kind == HtmlBlockKind::kHeading)
    return graphics::Font::boldSystemFontOfSize(std::max(kTextSize, 26.0 - 2.0 * block.level));
  return graphics::Font::systemFontOfSize(kTextSize);
}

foundation::Error webError(std::string domain, std::int64_t code, std::string description) {
  return foundation::Error::make(std::move(domain), code, std::move(description));
}

}  // namespace

std::string urlScheme(std::string_view url) {
  auto parts = split(url);
  if (!parts) return {};
  std::string scheme(parts->scheme);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

std::vector<std::string> cloudPathComponents(std::string_view url) {
  auto parts = split(url);
  std::string_view path = parts ? parts->rest : url;
  path = path.substr(0, path.find_first_of("?#"));
  std::vector<std::string> components;
  if (path.starts_with('/')) components.emplace_back("/");
  while (!path.empty()) {
    size_t slash = path.find('/');
    std::string_view segment = path.substr(0, slash);
    if (!segment.empty()) components.emplace_back(segment);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return components;
}

std::optional<std::string> resolveLocation(std::string_view base, std::string_view location) {
  if (split(location)) return std::string(location);
  if (!location.starts_with('/') || location.starts_with("//")) return std::nullopt;
  auto parts = split(base);
  if (!parts || parts->authority.empty()) return std::nullopt;
  return std::string(parts->scheme) + "://" + std::string(parts->authority) + std::string(location);
}

std::optional<std::string> resolveReference(std::string_view base, std::string_view reference) {
  if (split(reference) || reference.starts_with('/')) return resolveLocation(base, reference);
  auto parts = split(base);
  if (!parts || parts->authority.empty()) return std::nullopt;
  std::string_view rest = parts->rest;
  const std::string origin = std::string(parts->scheme) + "://" + std::string(parts->authority);
  const std::string_view withoutFragment = rest.substr(0, rest.find('#'));
  if (reference.empty()) return origin + std::string(withoutFragment);
  if (reference.starts_with('#')) return origin + std::string(withoutFragment) + std::string(reference);
  const std::string_view path = rest.substr(0, rest.find_first_of("?#"));
  if (reference.starts_with('?')) return origin + std::string(path) + std::string(reference);
  // A relative path replaces the last segment of the page's path.
  const size_t slash = path.rfind('/');
  const std::string_view folder =
      slash == std::string_view::npos ? std::string_view("/") : path.substr(0, slash + 1);
  return origin + std::string(folder) + std::string(reference);
}

CloudWebView::CloudWebView() {
  // The page covers what lies under it (the screen's spinner) once shown.
  setBackgroundColor(graphics::Color::white());
  setOpaque(true);
}
CloudWebView::~CloudWebView() = default;

void CloudWebView::loadRequest(const WebRequest& request) {
  if (!ask(request, WebViewNavigationType::kOther)) return;
  start(request, 0);
}

void CloudWebView::followLink(std::string_view url) {
  std::string target =
      request_ ? resolveReference(request_->url, url).value_or(std::string(url)) : std::string(url);
  WebRequest request{.url = target, .timeoutSeconds = request_ ? request_->timeoutSeconds : 20};
  if (!ask(request, WebViewNavigationType::kLinkClicked)) return;
  start(request, 0);
}

void CloudWebView::submitForm(size_t formIndex, std::string_view submitName, std::string_view submitValue) {
  if (formIndex >= shown_.forms.size() || !request_) return;
  const HtmlForm& form = shown_.forms[formIndex];
  std::vector<std::pair<std::string, std::string>> pairs;
  for (size_t i = 0; i < form.fields.size(); ++i) {
    const HtmlField& field = form.fields[i];
    if (field.name.empty()) continue;
    const ui::TextField* typed = fieldView(formIndex, i);
    pairs.emplace_back(field.name, typed ? typed->text() : field.value);
  }
  if (!submitName.empty()) pairs.emplace_back(submitName, submitValue);
  auto action = resolveReference(request_->url, form.action);
  if (!action) return;
  WebRequest request{.url = std::move(*action), .timeoutSeconds = request_->timeoutSeconds};
  if (form.method == "post") {
    request.method = "POST";
    request.body = formEncode(pairs);
    request.contentType = std::string(kFormContentType);
  } else {
    request.url.erase(std::min(request.url.find_first_of("?#"), request.url.size()));
    request.url += "?" + formEncode(pairs);
  }
  if (!ask(request, WebViewNavigationType::kFormSubmitted)) return;
  start(request, 0);
}

bool CloudWebView::textFieldShouldReturn(ui::TextField& typed) {
  const auto shown = std::find_if(fields_.begin(), fields_.end(),
                                  [&](const ShownField& f) { return f.view.get() == &typed; });
  if (shown == fields_.end()) return true;
  const size_t form = shown->form;
  const auto button = std::find_if(shown_.blocks.begin(), shown_.blocks.end(), [&](const HtmlBlock& block) {
    return block.kind == HtmlBlockKind::kSubmit && block.form == form;
  });
  if (button == shown_.blocks.end()) {
    submitForm(form);
  } else {
    const std::string name = button->name, value = button->value;
    submitForm(form, name, value);
  }
  return true;
}

ui::TextField* CloudWebView::fieldView(size_t form, size_t field) const {
  for (const auto& shown : fields_)
    if (shown.form == form && shown.field == field) return shown.view.get();
  return nullptr;
}

void CloudWebView::showPage() {
  if (content_) {
    content_->endEditing(true);
    content_->removeFromSuperview();
  }
  blockViews_.clear();
  fields_.clear();
  content_ = std::make_shared<ui::ScrollView>(bounds());
  content_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  addSubview(content_);
  std::weak_ptr<View> weak = shared_from_this();
  for (const HtmlBlock& block : shown_.blocks) {
    std::shared_ptr<ui::View> view;
    switch (block.kind) {
      case HtmlBlockKind::kHeading:
      case HtmlBlockKind::kParagraph: {
        auto label = std::make_shared<ui::Label>();
        label->setText(block.text);
        label->setFont(blockFont(block));
        label->setNumberOfLines(0);
        label->setLineBreakMode(graphics::LineBreakMode::kWordWrap);
        view = label;
        break;
      }
      case HtmlBlockKind::kLink: {
        auto button = std::make_shared<ui::Button>();
        button->setTitle(block.text);
        button->setTitleColor(graphics::Color::systemBlue());
        button->setTitleFont(graphics::Font::systemFontOfSize(kTextSize));
        const std::string target = block.target;
        button->addTarget(
            [weak, target](ui::Control&) {
              // Pages are never run: a script link does nothing.
              if (urlScheme(target) == "javascript") return;
              if (auto self = std::static_pointer_cast<CloudWebView>(weak.lock())) self->followLink(target);
            },
            ui::kControlEventTouchUpInside);
        view = button;
        break;
      }
      case HtmlBlockKind::kField: {
        const HtmlField& field = shown_.forms[block.form].fields[block.field];
        auto box = std::make_shared<FieldBox>();
        auto text = std::make_shared<ui::TextField>();
        text->setText(field.value);
        text->setPlaceholder(field.placeholder.empty() ? field.name : field.placeholder);
        text->setAccessibilityLabel(text->placeholder());
        text->setFont(graphics::Font::systemFontOfSize(kTextSize));
        text->setSecureTextEntry(field.type == HtmlFieldType::kPassword);
        if (field.type == HtmlFieldType::kEmail) text->setKeyboardType(ui::KeyboardType::kEmailAddress);
        text->setAutoresizingMask(ui::kFlexibleWidth);
        text->setDelegate(this);
        box->addSubview(text);
        fields_.push_back(ShownField{block.form, block.field, text});
        view = box;
        break;
      }
      case HtmlBlockKind::kSubmit: {
        auto button = std::make_shared<ui::Button>();
        button->setTitle(block.text.empty() ? std::string("Submit") : block.text);
        button->setTitleColor(graphics::Color::systemBlue());
        button->setTitleFont(graphics::Font::boldSystemFontOfSize(kTextSize));
        button->setBackgroundColor(graphics::Color::white(0.93));
        button->setCornerRadius(6);
        const size_t form = block.form;
        const std::string name = block.name;
        const std::string value = block.value;
        button->addTarget(
            [weak, form, name, value](ui::Control&) {
              if (auto self = std::static_pointer_cast<CloudWebView>(weak.lock()))
                self->submitForm(form, name, value);
            },
            ui::kControlEventTouchUpInside);
        view = button;
        break;
      }
    }
    content_->addSubview(view);
    blockViews_.push_back(std::move(view));
  }
  layoutSubviews();
}

void CloudWebView::layoutSubviews() {
  if (!content_) return;
  content_->setFrame(bounds());
  const double width = std::max(0.0, bounds().width() - 2 * kMargin);
  double y = kMargin;
  for (size_t i = 0; i < blockViews_.size(); ++i) {
    const HtmlBlock& block = shown_.blocks[i];
    ui::View& view = *blockViews_[i];
    double height = kFieldHeight;
    double x = kMargin;
    double w = width;
    switch (block.kind) {
      case HtmlBlockKind::kHeading:
      case HtmlBlockKind::kParagraph:
        height = std::ceil(view.sizeThatFits(ui::Size(width, 1e6)).height);
        break;
      case HtmlBlockKind::kLink: {
        // As wide as its text, from the left margin, as a link in a page.
        auto& button = static_cast<ui::Button&>(view);
        w = std::min(
            width,
            std::ceil(
                graphics::defaultTextMeasurer()->sizeOf(button.currentTitle(), button.titleFont()).width) +
                2);
        height = kLinkHeight;
        break;
      }
      case HtmlBlockKind::kField:
        break;
      case HtmlBlockKind::kSubmit:
        height = kButtonHeight;
        break;
    }
    view.setFrame(ui::Rect(x, y, w, height));
    if (block.kind == HtmlBlockKind::kField && !view.subviews().empty())
      view.subviews().front()->setFrame(ui::Rect(8, 0, std::max(0.0, w - 16), height));
    y += height + kGap;
  }
  content_->setContentSize(ui::Size(bounds().width(), y + kMargin - kGap));
}

void CloudWebView::loadHTMLString(std::string html, std::string baseUrl) {
  auto keep = shared_from_this();
  connection_.reset();
  request_ = WebRequest{.url = std::move(baseUrl)};
  if (delegate_) delegate_->webViewDidStartLoad(*this);
  page_ = std::move(html);
  status_ = 200;
  shown_ = readHtmlPage(page_);
  showPage();
  if (delegate_) delegate_->webViewDidFinishLoad(*this);
}

void CloudWebView::stopLoading() { connection_.reset(); }

std::string CloudWebView::stringByEvaluatingJavaScriptFromString(std::string_view script) {
  scripts_.emplace_back(script);
  return {};
}

bool CloudWebView::ask(const WebRequest& request, WebViewNavigationType type) {
  // The delegate may drop the last owner of this view (a screen that dismisses itself).
  auto keep = shared_from_this();
  return delegate_ == nullptr || delegate_->webViewShouldStartLoadWithRequest(*this, request, type);
}

void CloudWebView::fail(foundation::Error error) {
  auto keep = shared_from_this();
  connection_.reset();
  if (delegate_) delegate_->webViewDidFailLoadWithError(*this, error);
}

void CloudWebView::start(const WebRequest& request, int redirects) {
  auto keep = shared_from_this();
  if (connection_) {
    connection_.reset();
    if (delegate_)
      delegate_->webViewDidFailLoadWithError(
          *this, webError(std::string(kWebKitErrorDomain), kWebKitErrorFrameLoadInterrupted,
                          "Frame load interrupted"));
  }
  request_ = request;
  if (urlScheme(request.url) != "https") {
    return fail(webError(std::string(net::kURLErrorDomain), net::kURLErrorUnsupportedURL, "unsupported URL"));
  }
  if (redirects == 0 && delegate_) delegate_->webViewDidStartLoad(*this);

  net::HttpRequest http;
  http.url = request.url;
  if (request.method == "POST") {
    http.method = "POST";
    http.body = request.body;
    if (!request.contentType.empty()) http.headers.emplace_back("Content-Type", request.contentType);
  }
  http.timeoutSeconds = request.timeoutSeconds;
  http.anchorCertificates = CloudService::current().anchorCertificates;
  if (http.anchorCertificates.empty()) http.anchorCertificates = CloudRequest::rootCertificates();
  http.maxBodyInMemory = std::int64_t{4} << 20;
  std::weak_ptr<View> weak = shared_from_this();
  net::HttpCallbacks callbacks;
  callbacks.completion = [this, weak, redirects](foundation::Result<net::HttpResponse> result) {
    auto self = weak.lock();
    if (!self) return;
    // The connection is done; drop it only after this callback has returned.
    auto done = std::move(connection_);
    if (!result) return fail(result.error());
    const net::HttpResponse& response = result.value();
    auto location = response.header("Location");
    if (response.status >= 300 && response.status < 400 && location) {
      auto next = resolveLocation(request_->url, *location);
      if (!next) {
        return fail(webError(std::string(net::kURLErrorDomain), net::kURLErrorRedirectToNonExistentLocation,
                             "redirect to an unusable location"));
      }
      if (redirects + 1 > kCloudWebViewMaxRedirects) {
        return fail(webError(std::string(net::kURLErrorDomain), net::kURLErrorHTTPTooManyRedirects,
                             "too many redirects"));
      }
      // After a submitted form the next page is fetched with GET, as browsers do.
      WebRequest nextRequest{
          .url = *next, .timeoutSeconds = request_->timeoutSeconds, .cachePolicy = request_->cachePolicy};
      if (!ask(nextRequest, WebViewNavigationType::kOther)) {
        return fail(webError(std::string(kWebKitErrorDomain), kWebKitErrorFrameLoadInterrupted,
                             "Frame load interrupted"));
      }
      return start(nextRequest, redirects + 1);
    }
    page_ = response.body;
    status_ = response.status;
    shown_ = readHtmlPage(page_);
    showPage();
    if (delegate_) delegate_->webViewDidFinishLoad(*this);
  };
  connection_ = net::HttpConnection::start(std::move(http), std::move(callbacks));
}

}  // namespace cloud
