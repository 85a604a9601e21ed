// The login page reader and the web view that shows its pages: what a page reads as, what a tap on
// a link or a submit button asks the delegate to load, and hostile pages that must draw unharmed.
#include "cloud/html_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cloud/cloud_web_view.h"
#include "platform/foundation/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/render.h"
#include "platform/ui/text_input.h"

namespace cloud {
namespace {

using namespace std::string_literals;

// A page in one line: "H<level>:" headings, "P:" text, "A:text>target" links, "F<form>:name"
// fields, "S<form>:text" submit buttons, joined by "|".
std::string summary(const HtmlPage& page) {
  std::string out;
  for (const auto& b : page.blocks) {
    if (!out.empty()) out += "|";
    switch (b.kind) {
      case HtmlBlockKind::kHeading:
        out += "H" + std::to_string(b.level) + ":" + b.text;
        break;
      case HtmlBlockKind::kParagraph:
        out += "P:" + b.text;
        break;
      case HtmlBlockKind::kLink:
        out += "A:" + b.text + ">" + b.target;
        break;
      case HtmlBlockKind::kField:
        out += "F" + std::to_string(b.form) + ":" + page.forms[b.form].fields[b.field].name;
        break;
      case HtmlBlockKind::kSubmit:
        out += "S" + std::to_string(b.form) + ":" + b.text;
        break;
    }
  }
  return out;
}

TEST(HtmlPage, ReadsTheSubsetOfALoginPage) {
  struct Case {
    const char* html;
    const char* shown;
  };
  const Case cases[] = {
      {"<title>T &amp; C</title><H1>Hi</H1><p>one\n  two</p>text", "H1:Hi|P:one two|P:text"},
      {"a &lt;b&gt; &quot;c&quot; &#65;&#x42; &bogus; & &#; &#x110000; &#0;",
       "P:a <b> \"c\" AB &bogus; & &#; \xEF\xBF\xBD \xEF\xBF\xBD"},
      {"<script>document.write('<p>x</p>')</SCRIPT><style>p{}</style><!-- <p>c</p> -->ok", "P:ok"},
      {"see <a href='/help'>the <b>help</b></a> page", "P:see|A:the help>/help|P:page"},
      {"<a href=\"\">empty</a><a>no href</a><a href=/x></a>", "P:emptyno href|A:/x>/x"},
      {"<input name=outside><form method=POST action=/in><input name=u><input type=password name=p>"
       "<input type=hidden name=h value=1><input type=checkbox name=c><input type=submit value=Go></form>",
       "F0:u|F0:p|S0:Go"},
      {"<form><form action=/nested><button>One</button><button type=button>Two</button></form>"
       "<button>Outside</button>",
       "S0:One|P:Two|P:Outside"},
      {"1 < 2 <3 <> </>", "P:1 < 2 <3 <> </>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.html);
    EXPECT_EQ(summary(readHtmlPage(c.html)), c.shown);
  }
  const HtmlPage page = readHtmlPage(cases[5].html);
  ASSERT_EQ(page.forms.size(), 1u);
  EXPECT_EQ(page.forms[0].method, "post");
  EXPECT_EQ(page.forms[0].action, "/in");
  ASSERT_EQ(page.forms[0].fields.size(), 3u);
  EXPECT_EQ(page.forms[0].fields[1].type, HtmlFieldType::kPassword);
  EXPECT_EQ(page.forms[0].fields[2].value, "1");
  EXPECT_EQ(readHtmlPage(cases[0].html).title, "T & C");
  EXPECT_EQ(formEncode({{"a b", "x&y=z"}, {"e", "\xC3\xA9*-._~"}}), "a+b=x%26y%3Dz&e=%C3%A9*-._%7E");
}

TEST(HtmlPage, ResolvesLinksAndFormActionsAgainstThePage) {
  const std::string base = "https://h:8/1/connect_login?k=1#top";
  const std::pair<const char*, const char*> cases[] = {
      {"", "https://h:8/1/connect_login?k=1"},
      {"#f", "https://h:8/1/connect_login?k=1#f"},
      {"?q=2", "https://h:8/1/connect_login?q=2"},
      {"help", "https://h:8/1/help"},
      {"/2/x", "https://h:8/2/x"},
      {"https://o/p", "https://o/p"},
  };
  for (const auto& [reference, resolved] : cases)
    EXPECT_EQ(resolveReference(base, reference), resolved) << reference;
  EXPECT_FALSE(resolveReference(base, "//other/x"));
  EXPECT_FALSE(resolveReference("no-authority", "x"));
}

// Refuses every load and keeps what it was asked.
struct RecordingDelegate : CloudWebViewDelegate {
  std::vector<std::pair<WebRequest, WebViewNavigationType>> asked;
  bool webViewShouldStartLoadWithRequest(CloudWebView&, const WebRequest& request,
                                         WebViewNavigationType type) override {
    asked.emplace_back(request, type);
    return false;
  }
};

template <class T>
void collect(ui::View& view, std::vector<T*>& out) {
  if (auto* t = dynamic_cast<T*>(&view)) out.push_back(t);
  for (const auto& sub : view.subviews()) collect(*sub, out);
}

TEST(CloudWebViewPage, LinksAndFormsGoThroughTheDelegateAsClickedAndSubmitted) {
  auto web = std::make_shared<CloudWebView>();
  web->setFrame(ui::Rect(0, 0, 320, 480));
  RecordingDelegate delegate;
  web->setDelegate(&delegate);
  web->loadHTMLString(
      "<a href='next?x=1'>Next</a><a href='javascript:alert(1)'>Script</a>"
      "<form action='find?old=1'><input name=q value='a b'><input type=submit name=go value=yes>"
      "<input type=submit value=Plain></form>"
      "<form method=post><input type=email name=e><button>Send</button></form>",
      "https://h/1/page");
  std::vector<ui::Button*> buttons;
  collect(*web, buttons);
  ASSERT_EQ(buttons.size(), 5u);
  for (auto* button : buttons) button->tap();
  std::vector<ui::TextField*> fields;
  collect(*web, fields);
  ASSERT_EQ(fields.size(), 2u);
  fields[0]->setText("c&d");
  fields[1]->setText("me@x.org");
  buttons[2]->tap();
  buttons[4]->tap();

  const std::pair<const char*, WebViewNavigationType> expected[] = {
      {"https://h/1/next?x=1", WebViewNavigationType::kLinkClicked},
      {"https://h/1/find?q=a+b&go=yes", WebViewNavigationType::kFormSubmitted},
      {"https://h/1/find?q=a+b", WebViewNavigationType::kFormSubmitted},
      {"https://h/1/page", WebViewNavigationType::kFormSubmitted},
      {"https://h/1/find?q=c%26d&go=yes", WebViewNavigationType::kFormSubmitted},
      {"https://h/1/page", WebViewNavigationType::kFormSubmitted},
  };
  ASSERT_EQ(delegate.asked.size(), std::size(expected));  // the script link asks nothing
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(delegate.asked[i].first.url, expected[i].first);
    EXPECT_EQ(delegate.asked[i].second, expected[i].second);
  }
  EXPECT_EQ(delegate.asked[3].first.method, "POST");
  EXPECT_EQ(delegate.asked[3].first.body, "e=");
  EXPECT_EQ(delegate.asked[3].first.contentType, kFormContentType);
  EXPECT_EQ(delegate.asked[5].first.body, "e=me%40x.org");
  EXPECT_EQ(delegate.asked[4].first.method, "GET");
  web->setDelegate(nullptr);
}

// Pages no login page is, read and drawn: nothing crashes, the caps hold, every text is clean.
TEST(CloudWebViewPage, HostilePagesDrawWithoutHarm) {
  const std::string huge(1 << 20, 'x');
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<div><span><a href=/d>";
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "<p>p</p><form><input name=f></form>";
  const std::pair<const char*, std::string> cases[] = {
      {"unclosed tags", "<html><body><p>open <a href='/x'>link <b>bold <form action=/f><input name=a"},
      {"cut-off tag", "<p>before</p><input name=\"a value=never"},
      {"huge attribute", "<a href=\"/" + huge + "\">big</a><input name=n value='" + huge + "'>"},
      {"huge text", "<p>" + huge + "</p>"},
      {"deep nesting", deep},
      {"many blocks and forms", many},
      {"NUL bytes", "<p>a\0b</p><a href='/\0'>\0</a><inp\0ut name=x>"s},
      {"bad entities", "&#99999999999; &#xD800; &#x; &#-1; &amp &lt;&gt &#x1F600;&#12"},
      {"bad UTF-8", "<p>\xC3\x28 \xE2\x82 \xFF\xFE \xF0\x9F\x98</p>"},
      {"unclosed comment and script", "<p>shown</p><!-- <p>gone<script>x"},
      {"only markup", "<<<<>>>></></a></form></button></title>"},
  };
  for (const auto& [name, html] : cases) {
    SCOPED_TRACE(name);
    const HtmlPage page = readHtmlPage(html);
    EXPECT_LE(page.blocks.size(), kHtmlMaxBlocks);
    EXPECT_LE(page.forms.size(), kHtmlMaxForms);
    for (const auto& block : page.blocks) {
      EXPECT_LE(block.text.size(), kHtmlMaxTextBytes);
      EXPECT_LE(block.target.size(), kHtmlMaxAttributeBytes);
      EXPECT_TRUE(foundation::text::isValidUtf8(block.text));
      EXPECT_EQ(block.text.find('\0'), std::string::npos);
    }
    auto web = std::make_shared<CloudWebView>();
    web->setFrame(ui::Rect(0, 0, 320, 480));
    web->loadHTMLString(html, "https://h/1/page");
    EXPECT_TRUE(ui::renderToImage(*web, 1).ok());
  }
  // A value too long is dropped whole, never cut into another URL.
  EXPECT_EQ(summary(readHtmlPage(cases[2].second)), "P:big");
}

}  // namespace
}  // namespace cloud
