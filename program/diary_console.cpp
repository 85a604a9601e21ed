#include "program/diary_console.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <istream>
#include <ostream>
#include <sstream>
#include <typeinfo>

#include "analytics/tally.h"
#include "app/app_delegate.h"
#include "program/diary_window.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_request.h"
#include "note_editor/keypad.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/serial_queue.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/ui/alert.h"
#include "platform/ui/application.h"
#include "platform/ui/controls.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/screen_render.h"
#include "platform/ui/scroll_view.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"

namespace program {

using graphics::Point;
using graphics::Rect;
using Step = DiaryConsole::Step;
using Args = std::vector<std::string>;

struct DiaryConsole::Command {
  std::string_view name;
  std::string_view usage;
  std::string_view what;
  Step (DiaryConsole::*run)(const Args&);
};

namespace {

Step refused(std::string message) { return Step{false, false, std::move(message), false}; }
Step done() { return Step{true, false, {}, true}; }

// Words of a command line; a double-quoted part is one word, kept as typed.
Args splitWords(std::string_view line) {
  Args words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string_view::npos) end = line.size();
      word = std::string(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = line.find_first_of(" \t", i);
      if (end == std::string_view::npos) end = line.size();
      word = std::string(line.substr(i, end - i));
      i = end;
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string joined(const Args& args, size_t from = 0) {
  std::string text;
  for (size_t i = from; i < args.size(); ++i) text += (i > from ? " " : "") + args[i];
  return text;
}

std::optional<double> number(const std::string& text) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<int> integer(const std::string& text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// "90", "90s", "5m", "2h", "1d".
std::optional<double> duration(std::string text) {
  static const std::pair<char, double> kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
  double unit = 1;
  for (const auto& [suffix, seconds] : kUnits) {
    if (!text.empty() && text.back() == suffix) {
      unit = seconds;
      text.pop_back();
      break;
    }
  }
  auto value = number(text);
  if (!value || *value < 0) return std::nullopt;
  return *value * unit;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// What a person reads: no spaces at the ends.
std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// A text as a person types it: the narrow and the no-break spaces that formats put before "AM" or
// inside numbers are typed as plain spaces.
std::string typedForm(std::string text) {
  for (std::string_view blank : {std::string_view("\u202F"), std::string_view("\u00A0")}) {
    for (size_t at = text.find(blank); at != std::string::npos; at = text.find(blank, at)) text.replace(at, blank.size(), " ");
  }
  return text;
}

// Whether a shown text is what the person typed.
bool sameText(const std::string& shown, const std::string& typed) {
  return shown == typed || typedForm(shown) == typedForm(typed);
}

// What a person reads on a view that takes a tap: its title, its text, its placeholder.
struct Target {
  ui::View* view = nullptr;
  std::string text;
  Rect frame;  // in the window's points
};

bool visibleInTree(const ui::View& view) {
  for (const ui::View* v = &view; v; v = v->superview())
    if (v->isHidden() || v->alpha() <= 0.01) return false;
  return true;
}

template <class T>
void collectOfType(ui::View& view, std::vector<T*>& out) {
  if (view.isHidden()) return;
  if (auto* t = dynamic_cast<T*>(&view)) out.push_back(t);
  auto subviews = view.subviews();
  for (auto& sub : subviews) collectOfType(*sub, out);
}

// An image's name as a person would type it: without its ".png".
std::string shownName(const ui::ImageRef& image) {
  std::string name = ui::imageName(image);
  if (name.ends_with(".png")) name.resize(name.size() - 4);
  return name;
}

// The name of the first picture inside a view.
std::string pictureName(ui::View& view) {
  std::vector<ui::ImageView*> pictures;
  collectOfType(view, pictures);
  return pictures.empty() ? std::string() : shownName(pictures.front()->image());
}

void collectTexts(ui::View& view, ui::View& window, std::vector<Target>& out) {
  if (view.isHidden() || view.alpha() <= 0.01) return;
  auto add = [&](std::string text, Rect local) {
    text = trimmed(text);
    if (text.empty()) return;
    Rect frame = view.convertRectToView(local, &window);
    if (!frame.intersects(window.bounds())) return;
    out.push_back(Target{&view, std::move(text), frame});
  };
  if (auto* segments = dynamic_cast<ui::SegmentedControl*>(&view)) {
    const int n = segments->numberOfSegments();
    const Rect b = view.bounds();
    for (int i = 0; i < n; ++i)
      add(segments->titleForSegmentAtIndex(i),
          Rect(b.x() + b.width() * i / n, b.y(), b.width() / n, b.height()));
  } else if (auto* button = dynamic_cast<ui::Button*>(&view)) {
    // An image button goes by its accessibility label, or else by its image's name.
    std::string text = button->currentTitle();
    if (text.empty()) text = view.accessibilityLabel();
    if (text.empty()) text = shownName(button->imageForState(button->state()));
    if (text.empty()) text = shownName(button->backgroundImageForState(button->state()));
    if (text.empty()) text = pictureName(view);
    add(std::move(text), view.bounds());
  } else if (auto* label = dynamic_cast<ui::Label*>(&view)) {
    add(label->text(), view.bounds());
  } else if (auto* field = dynamic_cast<ui::TextField*>(&view)) {
    // An empty field without a placeholder (a search field) still takes a tap: by its
    // accessibility label, else as "text field".
    std::string text = field->text().empty() ? field->placeholder() : field->text();
    // A password is never written out: a bullet a character, as the field draws it.
    if (field->isSecureTextEntry() && !field->text().empty()) {
      text.clear();
      for (unsigned char byte : field->text())
        if ((byte & 0xC0) != 0x80) text += "\u2022";
    }
    if (trimmed(text).empty()) text = view.accessibilityLabel().empty() ? "text field" : view.accessibilityLabel();
    add(std::move(text), view.bounds());
  } else if (auto* textView = dynamic_cast<ui::TextView*>(&view)) {
    std::string text = textView->text();
    if (trimmed(text).empty()) text = view.accessibilityLabel().empty() ? "text area" : view.accessibilityLabel();
    add(std::move(text), view.bounds());
  } else if (auto* datePicker = dynamic_cast<ui::DatePicker*>(&view)) {
    // A date picker by the date it shows ("pick" takes a date or a time written so).
    add(datePicker->shownText(), view.bounds());
  } else if (auto* picker = dynamic_cast<ui::PickerView*>(&view)) {
    // A wheel by the row it rests on.
    for (int c = 0; c < picker->numberOfComponents(); ++c) {
      const int row = picker->selectedRowInComponent(c);
      if (row >= 0) add(picker->titleForRow(row, c), picker->componentFrame(c));
    }
  } else {
    // A picture that takes taps (a bar button made of an image, or one in a list row, which a
    // finger on it selects) goes by the picture's name.
    std::string text = view.accessibilityLabel();
    if (text.empty() && !view.gestureRecognizers().empty()) text = pictureName(view);
    auto* picture = dynamic_cast<ui::ImageView*>(&view);
    if (text.empty() && picture && view.ancestorOfType<ui::TableViewCell>())
      text = shownName(picture->image());
    add(std::move(text), view.bounds());
  }
  for (auto& element : view.accessibilityElements()) add(std::move(element.label), element.frame);
  auto subviews = view.subviews();
  for (auto& sub : subviews) collectTexts(*sub, window, out);
}

// A view that leaves what lies under it in sight: a plain view or a button with nothing to draw
// (a screen's invisible tap area over a row).
bool seeThrough(const ui::View& view) {
  const auto colour = view.backgroundColor();
  if (colour && colour->a > 0.01) return false;
  if (typeid(view) == typeid(ui::View)) return true;
  // A drawn decoration laid over a control that lets touches through to it (hairlines over a
  // picker): the control stays in sight and in reach.
  if (!view.isUserInteractionEnabled() && !dynamic_cast<const ui::Label*>(&view) &&
      !dynamic_cast<const ui::ImageView*>(&view) && !dynamic_cast<const ui::Control*>(&view) &&
      view.accessibilityElements().empty())
    return true;
  const auto* button = dynamic_cast<const ui::Button*>(&view);
  return button && typeid(view) == typeid(ui::Button) && button->currentTitle().empty() &&
         !button->imageForState(button->state()) && !button->backgroundImageForState(button->state());
}

// The deepest view drawn last at a point (in `view`'s coordinates), whether or not it takes touches.
ui::View* frontmostAt(ui::View& view, Point point) {
  if (view.isHidden() || view.alpha() <= 0.01 || !view.pointInside(point)) return nullptr;
  const auto& subviews = view.subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
    ui::View& sub = **it;
    if (ui::View* found = frontmostAt(sub, sub.convertPointFromView(point, &view))) return found;
  }
  return seeThrough(view) ? nullptr : &view;
}

// A target a person can see and tap: nothing drawn over its centre but itself, its insides or what
// holds it (a label inside a button or a cell), and a tap there reaches a view.
bool reachable(ui::View& window, const Target& target) {
  const Point centre = target.frame.center();
  ui::View* front = frontmostAt(window, centre);
  ui::View* hit = window.hitTest(centre);
  if (!front || !hit) return false;
  if (front == target.view || front->isDescendantOfView(target.view) || target.view->isDescendantOfView(front))
    return true;
  if (front->isUserInteractionEnabled() || !dynamic_cast<ui::ImageView*>(front)) return false;
  // A button that draws nothing over a picture (the editor's photo): what shows there is the
  // picture, and a finger on it reaches the button.
  if (hit == target.view) return true;
  // A picture laid on a caption beside it in one tappable view (the badge on the chooser's
  // "Edit"): the finger reaches the view both belong to, so the caption still names it.
  return front->superview() == hit && target.view->superview() == hit && !hit->gestureRecognizers().empty();
}

// What the screen offers a person, front-most last.
std::vector<Target> screenTargets(ui::View& window) {
  std::vector<Target> all;
  collectTexts(window, window, all);
  std::vector<Target> reached;
  for (auto& t : all)
    if (reachable(window, t)) reached.push_back(std::move(t));
  return reached;
}

std::string listOf(const std::vector<std::string>& texts) {
  std::string list;
  for (const auto& t : texts) {
    if (list.find(quoted(t)) != std::string::npos) continue;
    list += (list.empty() ? "" : ", ") + quoted(t);
  }
  return list.empty() ? "nothing" : list;
}

// The front-most screen of the window: what a person can reach without closing anything.
ui::View* topLayer(ui::Window& window) {
  const auto& subviews = window.subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it)
    if (!(*it)->isHidden() && (*it)->alpha() > 0.01) return it->get();
  return &window;
}

std::string cellText(ui::TableViewCell& cell) {
  std::vector<ui::Label*> labels;
  collectOfType(cell, labels);
  for (auto* label : labels)
    if (!trimmed(label->text()).empty() && visibleInTree(*label)) return trimmed(label->text());
  return {};
}

bool cellShows(ui::TableViewCell& cell, const std::string& text) {
  std::vector<ui::Label*> labels;
  collectOfType(cell, labels);
  return std::any_of(labels.begin(), labels.end(),
                     [&](ui::Label* l) { return sameText(trimmed(l->text()), text); });
}

// --- Naming one control among several that show the same text.
//
//   name   = TEXT [ "#" N ]        N counts the controls that show TEXT, 1 at the top (then left)
//
// A text that several controls show is refused unless its number is given; the refusal lists each
// with its number, its kind and its centre (which `tap X Y` takes too).

struct Naming {
  std::string text;
  std::optional<int> number;
};

Naming namingOf(const Args& args, size_t from = 0) {
  Naming naming;
  size_t end = args.size();
  if (end > from + 1 && args.back().size() > 1 && args.back().front() == '#') {
    if (auto n = integer(args.back().substr(1)); n && *n > 0) {
      naming.number = *n;
      --end;
    }
  }
  for (size_t i = from; i < end; ++i) naming.text += (i > from ? " " : "") + args[i];
  return naming;
}

bool related(const ui::View& a, const ui::View& b) {
  return &a == &b || a.isDescendantOfView(&b) || b.isDescendantOfView(&a);
}

// Whether two texts are one control to a finger: a label inside the button or row it names, or two
// texts over one row. Two drawn keys of one view are two controls; a text laid over a control that
// is not its own (a display over a keypad) is another control.
bool sameControl(ui::Window& window, const Target& a, const Target& b) {
  if (a.view == b.view) return a.frame == b.frame;
  if (related(*a.view, *b.view)) return true;
  ui::View* reachedA = window.hitTest(a.frame.center());
  return reachedA && reachedA == window.hitTest(b.frame.center()) && reachedA != a.view && reachedA != b.view;
}

// What a person would call the control, and where it lies.
std::string describe(const Target& target) {
  ui::View& view = *target.view;
  std::string kind = "a control";
  if (dynamic_cast<ui::SegmentedControl*>(&view))
    kind = "a segment";
  else if (dynamic_cast<ui::Button*>(&view))
    kind = "a button";
  else if (dynamic_cast<ui::TextField*>(&view) || dynamic_cast<ui::TextView*>(&view))
    kind = "a field";
  else if (dynamic_cast<ui::PickerView*>(&view) || dynamic_cast<ui::DatePicker*>(&view))
    kind = "a wheel";
  else if (dynamic_cast<ui::Label*>(&view))
    kind = "a text";
  else if (!view.accessibilityElements().empty())
    kind = "a drawn button";
  if (view.ancestorOfType<ui::TableViewCell>())
    kind += " in a list row";
  else if (view.ancestorOfType<ui::NavigationBar>())
    kind += " on the bar";
  char at[48];
  std::snprintf(at, sizeof at, " at %.0f %.0f", target.frame.center().x, target.frame.center().y);
  return kind + at;
}

// The controls that show the text, each once, top to bottom and then left to right.
std::vector<Target> controlsShowing(ui::Window& window, const std::vector<Target>& targets,
                                    const std::string& text) {
  std::vector<Target> found;
  // Front-most first, so that of one control's texts the one on top stands for it.
  for (auto it = targets.rbegin(); it != targets.rend(); ++it) {
    if (!sameText(it->text, text)) continue;
    if (std::none_of(found.begin(), found.end(), [&](const Target& f) { return sameControl(window, f, *it); }))
      found.push_back(*it);
  }
  std::stable_sort(found.begin(), found.end(), [](const Target& a, const Target& b) {
    const Point p = a.frame.center(), q = b.frame.center();
    return std::abs(p.y - q.y) > 1 ? p.y < q.y : p.x < q.x;
  });
  return found;
}

// The one control a naming means; otherwise why not (nothing named that way is left to the caller).
struct Chosen {
  std::optional<Target> target;
  std::string refusal;
};

Chosen choose(const std::vector<Target>& candidates, const Naming& naming, const std::string& command) {
  if (candidates.empty()) return {};
  if (naming.number) {
    if (*naming.number <= static_cast<int>(candidates.size()))
      return {candidates[static_cast<size_t>(*naming.number - 1)], {}};
    return {std::nullopt, "no control " + quoted(naming.text) + " #" + std::to_string(*naming.number) +
                              ": only " + std::to_string(candidates.size()) + " show that text"};
  }
  if (candidates.size() == 1) return {candidates.front(), {}};
  std::string list;
  for (size_t i = 0; i < candidates.size(); ++i)
    list += "\n  #" + std::to_string(i + 1) + " " + describe(candidates[i]);
  return {std::nullopt, quoted(naming.text) + " names " + std::to_string(candidates.size()) +
                            " controls; say which (" + command + " " + quoted(naming.text) + " #" +
                            std::to_string(candidates.size()) + ", or tap X Y):" + list};
}

// The longest step the clock takes at once: further than that the diary's timers would be fired
// one by one for hours on end.
constexpr double kLongestAdvance = 10 * 366 * 86400.0;

}  // namespace

// ------------------------------------------------------------------------------------------ commands

const std::vector<DiaryConsole::Command>& DiaryConsole::commands() {
  static const std::vector<Command> table{
      {"tap", "tap TEXT [#N] | tap X Y",
       "tap what shows TEXT (a picture by its name, as look lists it), or the point X,Y\n"
       "                                    (in points); #N: the Nth of the controls that show TEXT (1: the top)",
       &DiaryConsole::tap},
      {"type", "type TEXT", "type TEXT into the field being edited, or digits on the keypad shown",
       &DiaryConsole::type},
      {"key", "key return|delete|space|hide",
       "press a key of the keyboard (delete: the keypad's \"<\" too; hide: the tablet's key that\n"
       "                                    puts the keyboard away)",
       &DiaryConsole::key},
      {"pick", "pick TEXT | pick SECTION ROW",
       "choose a row of the list or wheel on screen (a wheel: WHEEL ROW); on a date picker, a date\n"
       "                                    or a time as the screen writes it (\"Dec 2, 2026 5:30 AM\")",
       &DiaryConsole::pick},
      {"swipe", "swipe left|right|up|down [TEXT [#N]]",
       "swipe across TEXT (a row: left shows its Delete button); up and down scroll the list",
       &DiaryConsole::swipe},
      {"drag", "drag X1 Y1 X2 Y2", "put a finger down at X1,Y1, move it to X2,Y2 and lift it",
       &DiaryConsole::dragCommand},
      {"back", "back", "tap the navigation bar's back button", &DiaryConsole::back},
      {"advance", "advance DURATION", "move the diary's clock on (90, 90s, 5m, 2h, 1d; at most 3660d); due timers fire",
       &DiaryConsole::advance},
      {"wait", "wait [SECONDS]",
       "let background work (a report) finish, the clock running meanwhile; at most SECONDS (60)",
       &DiaryConsole::wait},
      {"look", "look", "list what can be tapped on the screen, and the texts cut short", &DiaryConsole::look},
      {"help", "help", "this list", &DiaryConsole::helpCommand},
      {"quit", "quit", "end the diary as the system ends an application", &DiaryConsole::quit},
  };
  return table;
}

std::string DiaryConsole::help() {
  std::ostringstream text;
  text << "Commands (one a line; \"#\" starts a comment; quote texts with spaces or digits):\n";
  for (const auto& command : commands()) {
    text << "  " << command.usage;
    for (size_t i = command.usage.size(); i < 34; ++i) text << ' ';
    if (command.usage.size() >= 34) text << "\n" << std::string(36, ' ');
    text << command.what << "\n";
  }
  return text.str();
}

DiaryConsole::DiaryConsole(foundation::ManualClock& clock, runtime::RunLoop& loop,
                           std::filesystem::path screensDir, double scale)
    : clock_(clock), loop_(loop), screensDir_(std::move(screensDir)), scale_(scale) {}

DiaryConsole::~DiaryConsole() = default;

std::shared_ptr<ui::Window> DiaryConsole::window() const { return ui::Application::shared().keyWindow(); }

Step DiaryConsole::execute(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
    line.remove_suffix(1);
  Args words = splitWords(line);
  if (words.empty() || words.front().starts_with("#")) return Step{true, false, {}, false};
  const std::string name = words.front();
  words.erase(words.begin());
  for (const auto& command : commands()) {
    if (command.name != name) continue;
    if (command.name != "help" && command.name != "quit" && !window())
      return refused("there is no screen: the diary has no window");
    Step step = (this->*command.run)(words);
    if (step.changed) loop_.runUntilIdle();
    return step;
  }
  return refused("no command " + quoted(name) + " (\"help\" lists them)");
}

Step DiaryConsole::tapPoint(Point point) {
  auto shown = window();
  if (!shown) return refused("there is no screen");
  for (const auto& target : ui::overlayTargets(shown->bounds().size)) {
    if (target.frame.contains(point)) {
      if (!ui::tapOverlayTarget(target))
        return refused("the key " + quoted(target.title) + " has no field to type into");
      loop_.runUntilIdle();
      return done();
    }
  }
  if (ui::overlayBlocksScreen()) {
    std::vector<std::string> titles;
    for (const auto& t : ui::overlayTargets(shown->bounds().size)) titles.push_back(t.title);
    return refused("an alert covers the screen; its buttons: " + listOf(titles));
  }
  // A tap outside the front-most popover closes it, as on the device.
  auto popovers = ui::visiblePopovers();
  if (!popovers.empty()) {
    auto& popover = popovers.back();
    auto content = popover->contentViewController();
    if (content && content->isViewLoaded() && !content->view()->frame().contains(point)) {
      if (!popover->dismissByUser()) return refused("the popover stays until it is answered");
      loop_.runUntilIdle();
      return done();
    }
  }
  ui::TouchInjector touch(*shown);
  if (!touch.tap(point))
    return refused("nothing at " + std::to_string(point.x) + "," + std::to_string(point.y));
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::drag(Point from, Point to) {
  auto shown = window();
  if (!shown) return refused("there is no screen");
  if (ui::overlayBlocksScreen()) return refused("an alert covers the screen: tap one of its buttons");
  ui::TouchInjector touch(*shown);
  if (!touch.drag(from, to, 8)) return refused("nothing to drag there");
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::touchDown(Point point) {
  auto shown = window();
  if (!shown) return refused("there is no screen");
  finger_.reset();
  fingerDownAt_ = point;
  fingerTravelled_ = false;
  // What lies above the view tree (alerts, the keyboard, a popover's outside) takes a tap as a
  // whole, when the finger lifts.
  bool overlay = ui::overlayBlocksScreen();
  for (const auto& target : ui::overlayTargets(shown->bounds().size)) overlay = overlay || target.frame.contains(point);
  auto popovers = ui::visiblePopovers();
  if (!popovers.empty()) {
    auto content = popovers.back()->contentViewController();
    overlay = overlay || (content && content->isViewLoaded() && !content->view()->frame().contains(point));
  }
  if (overlay) return Step{true, false, {}, false};
  finger_ = std::make_unique<ui::TouchInjector>(*shown);
  if (!finger_->began(point)) {
    finger_.reset();
    return refused("nothing at " + std::to_string(point.x) + "," + std::to_string(point.y));
  }
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::touchMove(Point point) {
  if (std::hypot(point.x - fingerDownAt_.x, point.y - fingerDownAt_.y) > 6) fingerTravelled_ = true;
  if (!finger_) return Step{true, false, {}, false};
  finger_->moved(point);
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::touchUp(Point point) {
  if (!finger_) return fingerTravelled_ ? Step{true, false, {}, false} : tapPoint(fingerDownAt_);
  auto finger = std::move(finger_);
  finger->ended(point);
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::wheel(Point point, Point delta) {
  auto shown = window();
  if (!shown) return refused("there is no screen");
  if (ui::overlayBlocksScreen()) return refused("an alert covers the screen: tap one of its buttons");
  if (!ui::scrollWheelAt(*shown, point, delta)) return refused("nothing there scrolls that way");
  loop_.runUntilIdle();
  return done();
}

void DiaryConsole::passRealTime(double seconds) {
  // A laptop that slept for a day has not been watching the diary: long gaps are not replayed.
  if (!(seconds > 0) || seconds > 3600) return;
  loop_.advance(seconds);
  ui::Application::shared().deliverDueNotifications(clock_.now());
  loop_.runUntilIdle();
}

Step DiaryConsole::closeDeleteButton(ui::TableView& table) {
  if (auto path = table.deleteConfirmationIndexPath()) table.tapRowAtIndexPath(*path);
  loop_.runUntilIdle();
  Step step = done();
  step.message = "the row's Delete button closed (pick again to choose the row)";
  return step;
}

note_editor::noteEditPickerPanelView* DiaryConsole::shownKeypad() const {
  auto shown = window();
  if (!shown || ui::overlayBlocksScreen()) return nullptr;
  std::vector<note_editor::noteEditPickerPanelView*> keypads;
  collectOfType(*topLayer(*shown), keypads);
  for (auto it = keypads.rbegin(); it != keypads.rend(); ++it) {
    if (!visibleInTree(**it) || !(*it)->isUserInteractionEnabled()) continue;
    const Rect frame = (*it)->convertRectToView((*it)->bounds(), shown.get());
    if (frame.intersection(shown->bounds()).height() > 0) return *it;
  }
  return nullptr;
}

Step DiaryConsole::typeText(const std::string& text) {
  ui::View* responder = ui::View::currentFirstResponder();
  if (auto* field = dynamic_cast<ui::TextField*>(responder)) {
    field->insertText(text);
  } else if (auto* view = dynamic_cast<ui::TextView*>(responder)) {
    view->insertText(text);
  } else if (auto* keypad = shownKeypad()) {
    // The drawn keypad takes what a keyboard types as its own keys.
    if (!keypad->insertText(text)) return refused("the keypad has keys for digits and \".\" only, not " + quoted(text));
  } else {
    return refused("no field is being edited: tap one first");
  }
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::pressKey(std::string_view name) {
  if (name == ui::kHideKeyboardKey) {
    auto shown = window();
    const auto keys = shown ? ui::overlayTargets(shown->bounds().size) : std::vector<ui::OverlayTarget>{};
    if (std::none_of(keys.begin(), keys.end(), [](const auto& k) { return k.title == ui::kHideKeyboardKey; }))
      return refused(ui::Keyboard::isVisible() ? "this keyboard has no key that hides it"
                                               : "no keyboard is up");
  } else if (name != "return" && name != "delete" && name != "space") {
    return refused("no key " + quoted(std::string(name)));
  }
  if (!ui::View::currentFirstResponder() && name == "delete") {
    if (auto* keypad = shownKeypad()) {
      keypad->deleteBackward();
      loop_.runUntilIdle();
      return done();
    }
  }
  if (!ui::View::currentFirstResponder()) return refused("no field is being edited: tap one first");
  ui::OverlayTarget key;
  key.kind = ui::OverlayTarget::Kind::kKey;
  key.title = std::string(name);
  if (!ui::tapOverlayTarget(key)) return refused("the field being edited takes no keys");
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::tap(const Args& args) {
  if (args.empty()) return refused("usage: tap TEXT | tap X Y");
  if (args.size() == 2) {
    auto x = number(args[0]);
    auto y = number(args[1]);
    if (x && y) return tapPoint(Point(*x, *y));
  }
  const Naming naming = namingOf(args);
  const std::string& text = naming.text;
  auto shown = window();
  const auto overlay = ui::overlayTargets(shown->bounds().size);
  if (ui::overlayBlocksScreen()) {
    std::vector<std::string> titles;
    for (const auto& target : overlay) {
      if (sameText(target.title, text)) return tapPoint(target.frame.center());
      titles.push_back(target.title);
    }
    return refused("no button " + quoted(text) + " on the alert; its buttons: " + listOf(titles));
  }
  auto targets = screenTargets(*shown);
  const Chosen chosen = choose(controlsShowing(*shown, targets, text), naming, "tap");
  if (chosen.target) return tapPoint(chosen.target->frame.center());
  if (!chosen.refusal.empty()) return refused(chosen.refusal);
  for (const auto& key : overlay)
    if (sameText(key.title, text)) return tapPoint(key.frame.center());
  std::vector<std::string> texts;
  for (const auto& t : targets) texts.push_back(t.text);
  return refused("no control " + quoted(text) + " on the screen (it shows " + listOf(texts) + ")");
}

Step DiaryConsole::type(const Args& args) {
  if (args.empty()) return refused("usage: type TEXT");
  return typeText(joined(args));
}

Step DiaryConsole::key(const Args& args) {
  if (args.size() != 1) return refused("usage: key return|delete|space|hide");
  return pressKey(args[0]);
}

Step DiaryConsole::pick(const Args& args) {
  if (args.empty()) return refused("usage: pick TEXT | pick SECTION ROW");
  auto shown = window();
  if (ui::overlayBlocksScreen()) return refused("an alert covers the screen: tap one of its buttons");
  ui::View* layer = topLayer(*shown);
  std::vector<ui::TableView*> tables;
  collectOfType(*layer, tables);
  std::vector<ui::PickerView*> pickers;
  collectOfType(*layer, pickers);
  std::vector<ui::DatePicker*> datePickers;
  collectOfType(*layer, datePickers);
  std::erase_if(tables, [](ui::TableView* t) { return !visibleInTree(*t); });
  std::erase_if(pickers, [](ui::PickerView* p) { return !visibleInTree(*p); });
  std::erase_if(datePickers, [](ui::DatePicker* p) { return !visibleInTree(*p) || !p->isEnabled(); });

  std::optional<int> section;
  std::optional<int> row;
  if (args.size() == 2) {
    section = integer(args[0]);
    row = integer(args[1]);
  }
  if (section && row && !pickers.empty()) {
    // A picker's wheel and row, by their numbers (a picker is shown over the list it edits).
    ui::PickerView& picker = *pickers.back();
    if (*section >= picker.numberOfComponents() || *row >= picker.numberOfRowsInComponent(*section))
      return refused("the picker has no row " + args[0] + " " + args[1]);
    picker.spinToRow(*row, *section);
    loop_.runUntilIdle();
    return done();
  }
  if (section && row) {
    if (tables.empty()) return refused("there is no list on the screen");
    ui::TableView& table = *tables.back();
    if (*section >= table.numberOfSections() || *row >= table.numberOfRowsInSection(*section))
      return refused("the list has no row " + args[0] + " " + args[1]);
    ui::IndexPath path{*section, *row};
    table.scrollToRowAtIndexPath(path, ui::ScrollPosition::kNone);
    if (table.deleteConfirmationIndexPath()) return closeDeleteButton(table);
    if (!table.tapRowAtIndexPath(path)) return refused("that row cannot be chosen");
    loop_.runUntilIdle();
    return done();
  }
  const std::string text = joined(args);
  std::vector<std::string> seen;
  for (auto it = tables.rbegin(); it != tables.rend(); ++it) {
    ui::TableView& table = **it;
    const Point offset = table.contentOffset();
    for (int s = 0; s < table.numberOfSections(); ++s) {
      for (int r = 0; r < table.numberOfRowsInSection(s); ++r) {
        ui::IndexPath path{s, r};
        ui::TableViewCell* cell = table.cellForRowAtIndexPath(path);
        if (!cell) {
          table.scrollToRowAtIndexPath(path, ui::ScrollPosition::kNone);
          cell = table.cellForRowAtIndexPath(path);
        }
        if (!cell) continue;
        if (cellShows(*cell, text)) {
          if (table.deleteConfirmationIndexPath()) return closeDeleteButton(table);
          if (!table.tapRowAtIndexPath(path)) return refused("the row " + quoted(text) + " cannot be chosen");
          loop_.runUntilIdle();
          return done();
        }
        seen.push_back(cellText(*cell));
      }
    }
    // Nothing found here: the list stays where the person left it.
    table.setContentOffset(offset);
  }
  // A date or a time goes to the date picker on screen (the front-most), as the screen writes it,
  // unless a row shows just that text (above): what a person reads and names comes first. The
  // search may have moved cells about, so the pickers are looked for again.
  datePickers.clear();
  collectOfType(*layer, datePickers);
  std::erase_if(datePickers, [](ui::DatePicker* p) { return !visibleInTree(*p) || !p->isEnabled(); });
  if (!datePickers.empty()) {
    ui::DatePicker& picker = *datePickers.back();
    if (auto date = picker.dateFromText(text)) {
      picker.spinToDate(*date);
      loop_.runUntilIdle();
      Step step = done();
      if (picker.date() != *date) step.message = "the picker goes no further than " + quoted(picker.shownText());
      return step;
    }
  }
  for (auto it = pickers.rbegin(); it != pickers.rend(); ++it) {
    ui::PickerView& picker = **it;
    for (int c = 0; c < picker.numberOfComponents(); ++c) {
      for (int r = 0; r < picker.numberOfRowsInComponent(c); ++r) {
        const std::string title = trimmed(picker.titleForRow(r, c));
        if (sameText(title, text)) {
          picker.spinToRow(r, c);
          loop_.runUntilIdle();
          return done();
        }
        if (r < 12) seen.push_back(title);
      }
    }
  }
  if (!datePickers.empty() && tables.empty() && pickers.empty())
    return refused("the date picker shows " + quoted(datePickers.back()->shownText()) + "; write a date or a time so");
  if (tables.empty() && pickers.empty()) return refused("there is no list or picker on the screen");
  return refused("no row " + quoted(text) + " (rows: " + listOf(seen) + ")");
}

Step DiaryConsole::swipe(const Args& args) {
  if (args.empty()) return refused("usage: swipe left|right|up|down [TEXT [#N]]");
  static const std::pair<std::string_view, Point> kDirections[] = {
      {"left", Point(-1, 0)}, {"right", Point(1, 0)}, {"up", Point(0, -1)}, {"down", Point(0, 1)}};
  std::optional<Point> direction;
  for (const auto& [name, d] : kDirections)
    if (args[0] == name) direction = d;
  if (!direction) return refused("no direction " + quoted(args[0]) + ": left, right, up or down");
  auto shown = window();
  if (ui::overlayBlocksScreen()) return refused("an alert covers the screen: tap one of its buttons");
  Point from = shown->bounds().center();
  if (args.size() == 1 && direction->y != 0) {
    // Up or down with nothing named: across the front-most list that scrolls, wherever it lies.
    std::vector<ui::ScrollView*> lists;
    collectOfType(*topLayer(*shown), lists);
    for (auto it = lists.rbegin(); it != lists.rend(); ++it) {
      if (!visibleInTree(**it) || !(*it)->canScrollVertically()) continue;
      const Rect seen = (*it)->convertRectToView((*it)->bounds(), shown.get()).intersection(shown->bounds());
      if (seen.height() < 40) continue;
      from = seen.center();
      break;
    }
  }
  if (args.size() > 1) {
    const Naming naming = namingOf(args, 1);
    const std::string& text = naming.text;
    const Chosen chosen =
        choose(controlsShowing(*shown, screenTargets(*shown), text), naming, "swipe " + args[0]);
    if (!chosen.refusal.empty()) return refused(chosen.refusal);
    if (!chosen.target) return refused("no control " + quoted(text) + " on the screen");
    const Target* it = &*chosen.target;
    // A row swiped to the left offers its delete button.
    if (auto* cell = it->view->ancestorOfType<ui::TableViewCell>(); cell && direction->x < 0) {
      if (auto* table = cell->ancestorOfType<ui::TableView>()) {
        auto path = table->indexPathForCell(cell);
        if (path && table->swipeToDeleteRowAtIndexPath(*path)) {
          loop_.runUntilIdle();
          return done();
        }
        return refused("the row " + quoted(text) + " cannot be deleted");
      }
    }
    from = it->frame.center();
  }
  const double length = 120;
  return drag(from, Point(from.x + direction->x * length, from.y + direction->y * length));
}

Step DiaryConsole::dragCommand(const Args& args) {
  if (args.size() != 4) return refused("usage: drag X1 Y1 X2 Y2");
  double v[4];
  for (int i = 0; i < 4; ++i) {
    auto n = number(args[static_cast<size_t>(i)]);
    if (!n) return refused("usage: drag X1 Y1 X2 Y2 (numbers, in points)");
    v[i] = *n;
  }
  return drag(Point(v[0], v[1]), Point(v[2], v[3]));
}

namespace {

// Every navigation controller on screen: the window's root, its children and what they present.
void collectNavigationControllers(ui::ViewController* controller,
                                  std::vector<ui::NavigationController*>& out) {
  if (!controller) return;
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(controller)) out.push_back(navigation);
  for (const auto& child : controller->childViewControllers()) collectNavigationControllers(child.get(), out);
  collectNavigationControllers(controller->presentedViewController(), out);
}

}  // namespace

Step DiaryConsole::back(const Args&) {
  auto shown = window();
  if (ui::overlayBlocksScreen()) return refused("an alert covers the screen: tap one of its buttons");
  std::vector<ui::NavigationBar*> bars;
  collectOfType(*topLayer(*shown), bars);
  std::vector<ui::NavigationController*> navigations;
  collectNavigationControllers(shown->rootViewController(), navigations);
  for (auto it = bars.rbegin(); it != bars.rend(); ++it) {
    if (!visibleInTree(**it)) continue;
    ui::View* button = (*it)->backButton();
    // A screen pushed over another may show its own back button as its left item.
    if (!button || !visibleInTree(*button)) {
      auto owner =
          std::find_if(navigations.begin(), navigations.end(),
                       [bar = *it](ui::NavigationController* n) { return &n->navigationBar() == bar; });
      if (owner == navigations.end() || (*owner)->viewControllers().size() < 2) continue;
      button = (*it)->leftItemView();
      if (!button || !visibleInTree(*button)) continue;
    }
    return tapPoint(button->convertRectToView(button->bounds(), shown.get()).center());
  }
  return refused("there is no back button on the screen");
}

Step DiaryConsole::advance(const Args& args) {
  auto seconds = args.size() == 1 ? duration(args[0]) : std::nullopt;
  if (!seconds) return refused("usage: advance DURATION (90, 90s, 5m, 2h, 1d)");
  if (*seconds > kLongestAdvance)
    return refused("the clock moves at most 3660d (ten years) at a time, not " + args[0]);
  loop_.advance(*seconds);
  // Reminders that came due meanwhile fire now.
  ui::Application::shared().deliverDueNotifications(clock_.now());
  loop_.runUntilIdle();
  return done();
}

Step DiaryConsole::wait(const Args& args) {
  double limit = 60;
  if (!args.empty()) {
    auto seconds = args.size() == 1 ? number(args[0]) : std::nullopt;
    if (!seconds || *seconds < 0) return refused("usage: wait [SECONDS]");
    limit = *seconds;
  }
  // Background work runs on queues and reaches the screen through the main run loop, where the
  // screens look for its end on timers: while the person waits the diary's clock runs on with real
  // time. The work counts as done once no queue has work and the loop has had nothing posted to run
  // for a second and a quarter (screens poll for their jobs every second): an idle spell checks its
  // condition twice (on entry and at the deadline), a busy one more often.
  constexpr double kSpell = 0.25;
  constexpr int kQuietSpells = 5;
  int quiet = 0;
  double spent = 0;
  loop_.runUntilIdle();
  while (quiet < kQuietSpells && spent < limit) {
    int checks = 0;
    loop_.runUntil([&checks] { return ++checks < 0; }, kSpell);
    loop_.advance(kSpell);
    ui::Application::shared().deliverDueNotifications(clock_.now());
    quiet = checks <= 2 && runtime::SerialQueue::workInFlight() == 0 ? quiet + 1 : 0;
    spent += kSpell;
  }
  if (quiet < kQuietSpells && limit > 0) {
    char spentText[32];
    std::snprintf(spentText, sizeof spentText, "%g", spent);
    return Step{false, false, std::string("background work still runs after ") + spentText + " seconds",
                true};
  }
  return done();
}

Step DiaryConsole::look(const Args&) {
  auto shown = window();
  std::vector<std::string> texts;
  if (ui::overlayBlocksScreen()) {
    for (const auto& t : ui::overlayTargets(shown->bounds().size)) texts.push_back(t.title);
    return Step{true, false, "the alert's buttons: " + listOf(texts), false};
  }
  const auto targets = screenTargets(*shown);
  for (const auto& t : targets) texts.push_back(t.text);
  std::string message = "on the screen: " + listOf(texts);
  // Texts that several controls show are named with their number.
  std::vector<std::string> repeated;
  for (const auto& t : targets) {
    if (std::find(repeated.begin(), repeated.end(), t.text) != repeated.end()) continue;
    const size_t count = controlsShowing(*shown, targets, t.text).size();
    if (count > 1) repeated.push_back(t.text);
  }
  if (!repeated.empty())
    message += "\nshown by several controls (tap TEXT #N, 1 the top): " + listOf(repeated);
  // Texts that do not fit where they are drawn: a person reads them only in part.
  std::vector<std::string> cut;
  for (const auto& t : targets) {
    const auto* label = dynamic_cast<const ui::Label*>(t.view);
    const auto* button = dynamic_cast<const ui::Button*>(t.view);
    if ((label && trimmed(label->text()) == t.text && label->isTextCut()) ||
        (button && trimmed(button->currentTitle()) == t.text && button->isTitleCut()))
      cut.push_back(t.text);
  }
  if (!cut.empty()) message += "\ncut short: " + listOf(cut);
  if (ui::View::currentFirstResponder()) message += "\na field is being edited (type, key)";
  return Step{true, false, message, false};
}

Step DiaryConsole::quit(const Args&) { return Step{true, true, {}, false}; }

Step DiaryConsole::helpCommand(const Args&) { return Step{true, false, help(), false}; }

foundation::Result<graphics::Image> DiaryConsole::renderImage(double scale) {
  auto shown = window();
  if (!shown) return foundation::Error::make("diary", 1, "there is no screen");
  return ui::renderScreenToImage(*shown, scale, ui::ScreenRenderOptions{clock_.now()});
}

graphics::Size DiaryConsole::screenSize() const {
  auto shown = window();
  return shown ? shown->bounds().size : graphics::Size();
}

foundation::Result<std::filesystem::path> DiaryConsole::renderStep() {
  auto shown = window();
  if (!shown) return foundation::Error::make("diary", 1, "there is no screen");
  char name[32];
  std::snprintf(name, sizeof name, "step-%03d.png", ++stepNumber_);
  const auto path = screensDir_ / name;
  std::error_code failed;
  std::filesystem::create_directories(screensDir_, failed);
  if (failed)
    return foundation::Error::make("diary", 3,
                                   "cannot make " + screensDir_.string() + ": " + failed.message());
  if (auto status = ui::renderScreenToPng(*shown, path, scale_, ui::ScreenRenderOptions{clock_.now()});
      !status)
    return status.error();
  return path;
}

// ------------------------------------------------------------------------------------------ program

namespace {

struct NamedDevice {
  std::string_view name;
  ui::DeviceProfile (*profile)();
};
constexpr NamedDevice kDevices[] = {
    {"iphone-568", &ui::DeviceProfile::phone568},
    {"iphone-667", &ui::DeviceProfile::phone667},
    {"iphone-667-zoomed", &ui::DeviceProfile::phone667Zoomed},
    {"iphone-736", &ui::DeviceProfile::phone736},
    {"ipad", &ui::DeviceProfile::pad},
};

}  // namespace

std::vector<std::string> diaryDeviceNames() {
  std::vector<std::string> names;
  for (const auto& d : kDevices) names.emplace_back(d.name);
  return names;
}

foundation::Result<ui::DeviceProfile> diaryDeviceProfile(std::string_view name) {
  ui::Orientation orientation = ui::Orientation::kPortrait;
  for (auto [suffix, turned] : {std::pair<std::string_view, ui::Orientation>{"-landscape", ui::Orientation::kLandscapeRight},
                                {"-portrait", ui::Orientation::kPortrait}}) {
    if (name.ends_with(suffix)) {
      name.remove_suffix(suffix.size());
      orientation = turned;
      break;
    }
  }
  for (const auto& d : kDevices) {
    if (d.name != name) continue;
    ui::DeviceProfile profile = d.profile();
    profile.statusBarOrientation = orientation;
    return profile;
  }
  std::string names;
  for (const auto& d : kDevices) names += (names.empty() ? "" : ", ") + std::string(d.name);
  return foundation::Error::make("diary", 2,
                                 "no device " + quoted(std::string(name)) + " (devices: " + names +
                                     "; each also NAME-landscape)");
}

foundation::Result<DiaryOptions> parseDiaryArguments(const std::vector<std::string>& args) {
  DiaryOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--no-window") {
      options.window = false;
    } else if (arg == "--screenshots") {
      options.screenshots = true;
    } else if ((arg == "--script" || arg == "--screens") && i + 1 < args.size()) {
      (arg == "--script" ? options.script : options.screens) = std::filesystem::path(args[++i]);
    } else if (arg == "--device" && i + 1 < args.size()) {
      if (auto profile = diaryDeviceProfile(args[i + 1]); !profile.ok()) return profile.error();
      options.device = args[++i];
    } else if (arg == "--language" && i + 1 < args.size()) {
      const std::string& code = args[++i];
      const bool plain = !code.empty() && code.size() <= 16 &&
                         std::all_of(code.begin(), code.end(), [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
                         });
      if (!plain) return foundation::Error::make("diary", 2, "no language " + quoted(code) + " (a code such as en, ru, de)");
      options.language = code;
    } else {
      return foundation::Error::make("diary", 2, "unknown argument " + quoted(arg) + " (see diary --help)");
    }
  }
  return options;
}

namespace {

// Tells the person what came of a step and, with `pictures`, draws the screen after it to its step
// picture; false once the session should end (a quit, or a refused command of a script).
bool reportStep(DiaryConsole& console, const DiaryConsole::Step& step, const std::string* scriptLine,
                bool pictures, std::ostream& out, std::ostream& err, bool& failed) {
  if (!step.ok) {
    err << "diary: " << step.message << "\n";
    if (scriptLine) {
      err << "diary: the script stops at: " << *scriptLine << "\n";
      failed = true;
    }
  } else if (!step.message.empty()) {
    out << step.message << (step.message.back() == '\n' ? "" : "\n");
  }
  if (step.changed && pictures) {
    if (auto path = console.renderStep(); path.ok()) {
      out << "screen: " << path->string() << "\n";
    } else {
      err << "diary: the screen cannot be drawn: " << path.error().localizedDescription() << "\n";
    }
  }
  out.flush();
  err.flush();
  return !step.quit && !failed;
}

// Puts the language first among the preferred ones, as the language screen does with a choice;
// a language the bundle has no texts for is refused with the ones it has.
std::optional<std::string> chooseLanguage(const runtime::Bundle& bundle, runtime::UserDefaults& defaults,
                                          const std::string& code) {
  const std::vector<std::string> known = bundle.localizations();
  if (std::find(known.begin(), known.end(), code) == known.end()) {
    std::string list;
    for (const auto& k : known) list += (list.empty() ? "" : ", ") + k;
    return "no language " + quoted(code) + " in the bundle (languages: " + list + ")";
  }
  foundation::Array languages{foundation::Value(code)};
  for (const auto& language : defaults.preferredLanguages())
    if (language != code) languages.emplace_back(language);
  if (auto stored = defaults.setArray(runtime::UserDefaults::kAppleLanguagesKey, std::move(languages)); !stored)
    return "the language cannot be kept: " + stored.error().localizedDescription();
  return std::nullopt;
}

}  // namespace

int runDiaryConsole(const files::AppHome& home, const DiaryOptions& options, std::istream& in,
                    std::ostream& out, std::ostream& err,
                    const std::function<void(ui::Storyboard&)>& registerScreens) {
  std::vector<std::string> scriptLines;
  if (options.script) {
    std::ifstream file(*options.script);
    if (!file) {
      err << "diary: cannot read the script " << options.script->string() << "\n";
      return 1;
    }
    for (std::string line; std::getline(file, line);) scriptLines.push_back(line);
  }
  if (auto status = home.create(); !status) {
    err << "diary: cannot prepare the data root " << home.root().string() << ": "
        << status.error().localizedDescription() << "\n";
    return 1;
  }
  out << "diary: data root " << home.root().string() << "\n";

  // The diary's own clock, which moves only when told to, drives its main run loop.
  foundation::ManualClock clock(foundation::Clock::system().now());
  runtime::RunLoop loop(clock);
  runtime::ScopedMainRunLoop mainLoop(loop);

  if (options.device) {
    if (auto profile = diaryDeviceProfile(*options.device); profile.ok()) ui::setDevice(*profile);
  }
  auto bundle = runtime::Bundle::main();
  auto defaults = std::make_shared<runtime::UserDefaults>(
      runtime::UserDefaults::fileFor(home, bundle->bundleIdentifier()));
  runtime::UserDefaults::setStandard(defaults);
  if (options.language) {
    if (auto refused = chooseLanguage(*bundle, *defaults, *options.language)) {
      err << "diary: " << *refused << "\n";
      return 1;
    }
  }
  cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(home), bundle->bundleIdentifier());
  app::AppDelegate delegate(app::AppDelegate::Environment{home, bundle, defaults, &clock});
  ui::Application::shared().setOpenableSchemes(std::vector<std::string>{"http", "https"});
  if (auto service = cloud::CloudService::fromEnvironment()) cloud::CloudService::setCurrent(*service);

  ui::Storyboard storyboard("Main");
  if (registerScreens) registerScreens(storyboard);
  app::applicationMain(delegate, &storyboard);
  loop.runUntilIdle();

  int status = 0;
  if (!delegate.managedObjectContext()) {
    err << "diary: cannot open the data store: "
        << (delegate.storeError() ? delegate.storeError()->localizedDescription()
                                  : std::string("unknown error"))
        << "\ndiary: " << (delegate.applicationDocumentsDirectory() / app::kDataBaseFileName).string()
        << " was left as it is\n";
    status = 2;
  } else {
    bool failed = false;
    DiaryConsole console(clock, loop, options.screens.value_or(home.tmp() / "screens"), ui::device().scale);
    // The window shows each step as it comes; its pictures are written only when asked for (a
    // tablet's picture takes longer to write than to show). Without a window they are what the
    // person sees.
    const bool windowed = options.window && diaryWindowAvailable();
    const bool pictures = !windowed || options.screens.has_value();
    auto handle = [&](const std::string& line, bool fromScript) {
      return reportStep(console, console.execute(line), fromScript ? &line : nullptr, pictures, out, err, failed);
    };
    auto handleStep = [&](const DiaryConsole::Step& step) {
      return reportStep(console, step, nullptr, pictures, out, err, failed);
    };
    reportStep(console, Step{true, false, {}, true}, nullptr, pictures, out, err, failed);
    if (windowed) {
      runDiaryWindow(console, scriptLines, handle, handleStep);
    } else {
      bool going = true;
      for (const auto& line : scriptLines)
        if (going) going = handle(line, true);
      const bool prompt = ::isatty(STDIN_FILENO) && &in == &std::cin;
      std::string line;
      while (going && !failed) {
        if (prompt) out << "> " << std::flush;
        if (!std::getline(in, line)) break;
        going = handle(line, false);
      }
    }
    if (failed) status = 1;
    (void)delegate.saveContext();
  }

  ui::Application::shared().terminate();
  loop.runUntilIdle();
  analytics::Tally::shutdown();
  app::closeScreens(delegate);
  (void)defaults->synchronize();
  out << "diary: ended\n";
  return status;
}

}  // namespace program
