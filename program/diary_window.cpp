#include "program/diary_window.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if DIARY_HAS_GTK
#include <gtk/gtk.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <optional>

#include "platform/foundation/fnv_hash.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/screen_render.h"
#include "platform/ui/view_controller.h"
#endif

namespace program {

ScreenFit fitScreen(graphics::Size picture, graphics::Size area) {
  if (!(picture.width > 0 && picture.height > 0 && area.width > 0 && area.height > 0)) return {};
  const double scale = std::min(area.width / picture.width, area.height / picture.height);
  return {scale, graphics::Point((area.width - picture.width * scale) / 2, (area.height - picture.height * scale) / 2)};
}

graphics::Size openingSize(graphics::Size picture, graphics::Size workarea) {
  // Room for the title bar and the frame a window manager adds around the window.
  constexpr double kDecoration = 48;
  const graphics::Size room(workarea.width - 16, workarea.height - kDecoration);
  if (!(picture.width > 0 && picture.height > 0) || !(room.width > 0 && room.height > 0)) return picture;
  const double scale = std::min({1.0, room.width / picture.width, room.height / picture.height});
  return graphics::Size(std::floor(picture.width * scale), std::floor(picture.height * scale));
}

graphics::Point screenPoint(const ScreenFit& fit, double pixelsPerPoint, graphics::Point window) {
  const double perPoint = fit.scale * (pixelsPerPoint > 0 ? pixelsPerPoint : 1);
  return graphics::Point((window.x - fit.origin.x) / perPoint, (window.y - fit.origin.y) / perPoint);
}

#if DIARY_HAS_GTK

namespace {

// A frame of the display, which shows some sixty a second.
constexpr double kFrameSeconds = 1.0 / 60;
// A shown step is told of at the latest this long after it was drawn.
constexpr guint kReportAtLatestMilliseconds = 250;
// The screen is drawn once the events waiting have all been handled (a burst of keys makes one
// picture) and before the toolkit paints the window.
constexpr gint kDrawPriority = G_PRIORITY_HIGH_IDLE + 10;

struct WindowState {
  DiaryConsole& console;
  const DiaryLineHandler& handleLine;
  const DiaryStepHandler& handleStep;
  std::deque<std::string> script;
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  // The screen as last drawn, at the size the area shows it (`drawnScale` pixels a point): a paint
  // just copies its pixels, and the next drawing draws over them.
  std::unique_ptr<graphics::CairoCanvas> canvas{};
  double drawnScale = 1;
  // What lay below a floating screen in the last picture (KeptUnderlay).
  std::unique_ptr<ui::ScreenUnderlay> underlay{};
  // Pixels of the step pictures per point of the screen (the device's scale), and the screen's
  // size at that scale: what the window's size and proportions are made for.
  double scale = 1;
  graphics::Size picture{};
  bool pressed = false;
  // Real time as the window last passed it on to the diary's clock.
  std::chrono::steady_clock::time_point lastTick = std::chrono::steady_clock::now();
  // A drawing not painted yet.
  bool unpainted = false;
  // The minute the status bar's clock showed when the screen was last drawn, and what else decided
  // that picture (screenSignature).
  long minuteShown = 0;
  std::uint64_t signatureShown = 0;
  // A click's or a key's step, told of (and drawn to its file when pictures are asked for) once the
  // window has shown it; `unreportedDrawn` once the screen was drawn after it.
  std::optional<DiaryConsole::Step> unreported{};
  bool unreportedDrawn = false;
  bool ended = false;
  GIOChannel* input = nullptr;
  // Sources still installed (0 once gone).
  guint inputWatch = 0;
  guint scriptSource = 0;
  guint tickSource = 0;
  // The frame clock's callback while animations play.
  guint frameTicks = 0;
  guint drawSource = 0;
  guint reportSource = 0;
  gulong afterPaint = 0;
};

void finish(WindowState& state) {
  if (state.ended) return;
  state.ended = true;
  gtk_main_quit();
}

long minuteNow() {
  return static_cast<long>(std::floor(runtime::RunLoop::main().clock().now().sinceReference / 60));
}

gboolean onFrame(GtkWidget*, GdkFrameClock*, gpointer data);
bool catchUp(WindowState& state);

// A running hash (FNV-1a) of what decides the picture.
struct Fingerprint : foundation::Fnv1a64 {
  using Fnv1a64::add;
  template <class T>
  void add(const T& plain) {
    add(&plain, sizeof plain);
  }
  void add(const graphics::Rect& rect) {
    for (double part : {rect.x(), rect.y(), rect.width(), rect.height()}) add(part);
  }
};

void addTree(Fingerprint& print, const ui::View& view) {
  print.add(&view);
  print.add(view.frame());
  print.add(view.bounds());
  print.add(view.alpha());
  // Where and how opaque it is drawn now, which an animation playing on it may take elsewhere.
  print.add(ui::presentedFrame(view));
  print.add(ui::presentedAlpha(view));
  print.add(view.clipsToBounds());
  print.add(view.cornerRadius());
  print.add(view.isHidden());
  print.add(view.needsLayout());
  // Every change of what a view draws itself (a text, a colour, a picture) asks for its display.
  print.add(view.displayRequestCount());
  print.add(view.subviews().size());
  for (const auto& sub : view.subviews()) addTree(print, *sub);
}

// What the picture is drawn from, short of drawing it: the views (where, how opaque, what they
// draw), the overlays above them and the status bar. Equal signatures draw equal pictures at the
// same minute, so a window whose signature holds has nothing new to draw.
std::uint64_t screenSignature() {
  Fingerprint print;
  const auto window = ui::Application::shared().keyWindow();
  if (window) addTree(print, *window);
  for (const auto& target : ui::overlayTargets(window ? window->bounds().size : graphics::Size())) {
    print.add(target.title.data(), target.title.size());
    print.add(target.frame);
  }
  print.add(ui::Application::shared().statusBarStyle());
  print.add(ui::device().statusBarHidden);
  print.add(ui::Keyboard::isVisible());
  print.add(ui::visiblePopovers().size());
  return print.value;
}

// The pixels of what lay below a floating screen (a form sheet, a popover) in the last picture, put
// back while only the floating screen moves (its slide, a panel sliding in it). They serve while
// what drew them holds, on the terms of the screen's signature: the window's background, the views
// below (with where and how opaque each is drawn now), the canvas's size and scale, and the minute.
class KeptUnderlay final : public ui::ScreenUnderlay {
 public:
  // Keeps the pixels of whichever canvas `canvas` holds when a picture is drawn.
  explicit KeptUnderlay(const std::unique_ptr<graphics::CairoCanvas>& canvas) : canvas_(canvas) {}

  bool restore(const ui::View& window, const std::vector<const ui::View*>& below) override {
    drawing_ = key(window, below);
    return canvas_ && !pixels_.empty() && drawing_ == kept_ && canvas_->restorePixels(pixels_);
  }

  void keep(const ui::View&, const std::vector<const ui::View*>&) override {
    if (!canvas_) return;
    pixels_ = canvas_->pixelCopy();
    kept_ = drawing_;
  }

 private:
  // Taken before the views below are drawn: what the pixels about to be drawn come from.
  std::uint64_t key(const ui::View& window, const std::vector<const ui::View*>& below) const {
    Fingerprint print;
    print.add(&window);
    print.add(window.bounds());
    print.add(window.displayRequestCount());
    for (const ui::View* view : below) addTree(print, *view);
    if (canvas_) {
      print.add(canvas_->pixelWidth());
      print.add(canvas_->pixelHeight());
      print.add(canvas_->scaleFactor());
    }
    print.add(minuteNow());
    return print.value;
  }

  const std::unique_ptr<graphics::CairoCanvas>& canvas_;
  std::vector<std::uint8_t> pixels_;
  std::uint64_t kept_ = 0, drawing_ = 0;
};

// Where the screen lies in the drawing area as it is now.
ScreenFit currentFit(const WindowState& state) {
  return fitScreen(state.picture, graphics::Size(gtk_widget_get_allocated_width(state.area),
                                                 gtk_widget_get_allocated_height(state.area)));
}

// A new screen size (the first, or the device turned): the window opens, or is made again, at a
// size that fits the display, and keeps the screen's proportions when resized.
void fitWindowTo(WindowState& state, graphics::Size picture) {
  state.picture = picture;
  const int width = static_cast<int>(picture.width), height = static_cast<int>(picture.height);
  GdkRectangle area{0, 0, width, height};
  GdkDisplay* display = gtk_widget_get_display(state.window);
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  const graphics::Size opening = openingSize(picture, graphics::Size(area.width, area.height));
  GdkGeometry hints{};
  hints.min_width = std::max(1, width / 8);
  hints.min_height = std::max(1, height / 8);
  hints.min_aspect = hints.max_aspect = picture.width / picture.height;
  gtk_window_set_geometry_hints(GTK_WINDOW(state.window), nullptr, &hints,
                                static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_ASPECT));
  gtk_widget_set_size_request(state.area, hints.min_width, hints.min_height);
  gtk_window_resize(GTK_WINDOW(state.window), static_cast<int>(opening.width), static_cast<int>(opening.height));
}

// Draws the screen into the window's canvas, made anew only for a new size or scale; false when
// there is no screen or no canvas.
bool drawScreen(WindowState& state, double drawnScale) {
  const auto window = ui::Application::shared().keyWindow();
  if (!window) return false;
  const graphics::Size points = window->bounds().size;
  if (state.canvas && state.canvas->size() == points && state.canvas->scaleFactor() == drawnScale) {
    state.canvas->clearBitmap();
  } else {
    auto made = graphics::CairoCanvas::createBitmap(points, drawnScale);
    if (!made.ok()) return false;
    state.canvas = std::move(made).value();
  }
  ui::renderScreen(*window, *state.canvas,
                   ui::ScreenRenderOptions{runtime::RunLoop::main().clock().now(), state.underlay.get()});
  return true;
}

// Draws the screen at the size the area shows it (no scaling when painted: a tablet's screen on a
// smaller display costs a third of its full size to draw) and has the window painted.
void redraw(WindowState& state) {
  if (state.drawSource) g_source_remove(state.drawSource);
  state.drawSource = 0;
  // Drawn at the time it is now: the clock moves on with the real time the step took.
  catchUp(state);
  const graphics::Size points = state.console.screenSize();
  const graphics::Size picture(std::round(points.width * state.scale), std::round(points.height * state.scale));
  if (picture.width > 0 && picture.height > 0 && picture != state.picture) fitWindowTo(state, picture);
  // Before the window has its size, at the step pictures' own.
  const double drawnScale = state.scale * (gtk_widget_get_realized(state.area) ? currentFit(state).scale : 1);
  // Animations drawn for the first time are drawn a frame on from their start.
  ui::holdUndrawnAnimations(-kFrameSeconds);
  const bool drawn = drawScreen(state, drawnScale);
  ui::animationsDrawn();
  state.minuteShown = minuteNow();
  // Taken after drawing, which lays the views out.
  state.signatureShown = screenSignature();
  if (state.unreported) state.unreportedDrawn = true;
  // While an animation plays the window draws a frame each frame of the display until it has ended.
  if (ui::animationsPlaying() && !state.frameTicks)
    state.frameTicks = gtk_widget_add_tick_callback(state.area, onFrame, &state, nullptr);
  if (!drawn) return;
  state.drawnScale = drawnScale;
  state.unpainted = true;
  gtk_widget_queue_draw(state.area);
}

gboolean onDrawDue(gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  state.drawSource = 0;
  redraw(state);
  return FALSE;
}

// The screen is drawn again soon: once, however many events asked for it meanwhile.
void redrawSoon(WindowState& state) {
  if (!state.drawSource) state.drawSource = g_idle_add_full(kDrawPriority, onDrawDue, &state, nullptr);
}

// The window runs on real time: the diary's clock moves on with it (timers tick, delays pass,
// animations play, the status bar's clock moves), and work that other threads hand to the main run
// loop (a finished report) runs between events. True when anything ran, which may have changed the
// screen.
bool catchUp(WindowState& state) {
  runtime::RunLoop& loop = runtime::RunLoop::main();
  const std::uint64_t before = loop.piecesRun();
  const auto now = std::chrono::steady_clock::now();
  const double passed = std::chrono::duration<double>(now - state.lastTick).count();
  state.lastTick = now;
  // Animations not drawn yet start from their first drawing, however long the step that set them
  // up kept the main thread.
  ui::holdUndrawnAnimations(passed);
  state.console.passRealTime(passed);
  loop.runUntilIdle();
  return loop.piecesRun() != before;
}

// A window with nothing moving draws nothing: the screen is drawn again only when work that ran
// changed what it shows, the status bar's clock turned a minute, or an animation plays (which the
// frames draw once they run).
gboolean onTick(gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  const bool ran = catchUp(state);
  if (state.frameTicks) return TRUE;
  if (ui::animationsPlaying() || state.minuteShown != minuteNow() || (ran && screenSignature() != state.signatureShown))
    redrawSoon(state);
  return TRUE;
}

// Each frame of the display while animations play, just before the window is painted; the frame
// after the last one shows the end state.
gboolean onFrame(GtkWidget*, GdkFrameClock*, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  // Not when a picture waits to be painted in this frame (a step's, drawn just before it).
  if (!state.unpainted) redraw(state);
  if (ui::animationsPlaying()) return G_SOURCE_CONTINUE;
  state.frameTicks = 0;
  return G_SOURCE_REMOVE;
}

// After a step: the person hears of it, the window shows what came of it.
void stepped(WindowState& state, bool goOn) {
  if (!goOn) {
    finish(state);
    return;
  }
  redrawSoon(state);
}

// The step of a click or a key waiting to be told of: told now (before anything else happens).
void reportShownStep(WindowState& state) {
  if (state.reportSource) g_source_remove(state.reportSource);
  state.reportSource = 0;
  if (!state.unreported) return;
  const DiaryConsole::Step step = std::move(*state.unreported);
  state.unreported.reset();
  state.unreportedDrawn = false;
  if (!state.handleStep(step)) finish(state);
}

gboolean onShownStepDue(gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  state.reportSource = 0;
  reportShownStep(state);
  return FALSE;
}

void onAfterPaint(GdkFrameClock*, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (state.unreported && state.unreportedDrawn) {
    if (state.reportSource) g_source_remove(state.reportSource);
    state.reportSource = g_idle_add(onShownStepDue, &state);
  }
}

// A click or a key shows first and is told of after: writing the step's picture to its file (when
// asked for) takes longer than showing it, most of all on the larger screens. The telling waits
// for the frame painted after the screen was drawn, or a moment when no frame comes (the window
// covered).
void showThenReport(WindowState& state, const DiaryConsole::Step& step) {
  reportShownStep(state);
  redrawSoon(state);
  state.unreported = step;
  state.unreportedDrawn = false;
  state.reportSource = g_timeout_add(kReportAtLatestMilliseconds, onShownStepDue, &state);
}

gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  // Around the screen, where the window's proportions differ from the screen's: dark grey.
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_paint(cr);
  cairo_surface_t* surface = state.canvas ? state.canvas->bitmapSurface() : nullptr;
  if (!surface) return TRUE;
  state.unpainted = false;
  const ScreenFit fit = currentFit(state);
  cairo_translate(cr, fit.origin.x, fit.origin.y);
  // Drawn for another size (the window resized since): stretched for now, drawn again at the new.
  const double stretch = fit.scale * state.scale / state.drawnScale;
  if (std::abs(stretch - 1) > 1e-3) {
    cairo_scale(cr, stretch, stretch);
    redrawSoon(state);
  }
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
  cairo_rectangle(cr, 0, 0, cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
  cairo_fill(cr);
  return TRUE;
}

graphics::Point toPoints(const WindowState& state, double x, double y) {
  return screenPoint(currentFit(state), state.scale, graphics::Point(x, y));
}

// Whether a window point lies on the drawn screen.
bool onScreen(const WindowState& state, graphics::Point point) {
  const double width = state.picture.width / state.scale, height = state.picture.height / state.scale;
  return point.x >= 0 && point.y >= 0 && point.x < width && point.y < height;
}

// The mouse is a finger: pressed, it touches; moved while pressed, the finger moves with it (a list
// follows, a wheel turns); released, it lifts (a tap when it hardly moved). Moves only redraw; the
// lift is a step the person hears of.
gboolean onPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (event->button != 1 || event->type != GDK_BUTTON_PRESS) return FALSE;
  // A click beside the picture touches nothing.
  const graphics::Point point = toPoints(state, event->x, event->y);
  if (!onScreen(state, point)) return TRUE;
  reportShownStep(state);
  state.pressed = true;
  const DiaryConsole::Step step = state.console.touchDown(point);
  if (step.changed) redrawSoon(state);
  return TRUE;
}

gboolean onMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (!state.pressed || !(event->state & GDK_BUTTON1_MASK)) return FALSE;
  const DiaryConsole::Step step = state.console.touchMove(toPoints(state, event->x, event->y));
  if (step.changed) redrawSoon(state);
  return TRUE;
}

gboolean onRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (event->button != 1 || !state.pressed) return FALSE;
  state.pressed = false;
  const DiaryConsole::Step step = state.console.touchUp(toPoints(state, event->x, event->y));
  if (!step.ok || step.changed) showThenReport(state, step);
  return TRUE;
}

// The wheel scrolls what lies under the pointer, 40 points a notch (a smooth wheel by its deltas).
gboolean onScroll(GtkWidget*, GdkEventScroll* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  constexpr double kNotch = 40;
  double dx = 0, dy = 0;
  switch (event->direction) {
    case GDK_SCROLL_UP:
      dy = -kNotch;
      break;
    case GDK_SCROLL_DOWN:
      dy = kNotch;
      break;
    case GDK_SCROLL_LEFT:
      dx = -kNotch;
      break;
    case GDK_SCROLL_RIGHT:
      dx = kNotch;
      break;
    case GDK_SCROLL_SMOOTH:
      dx = event->delta_x * kNotch;
      dy = event->delta_y * kNotch;
      break;
  }
  // The wheel turns by points of the screen, whatever the window's size.
  const DiaryConsole::Step step =
      state.console.wheel(toPoints(state, event->x, event->y), graphics::Point(dx, dy));
  // A wheel over something that does not scroll just does nothing, as on any desktop.
  if (step.ok) showThenReport(state, step);
  return TRUE;
}

gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  reportShownStep(state);
  DiaryConsole::Step step;
  if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
    step = state.console.pressKey("return");
  } else if (event->keyval == GDK_KEY_BackSpace) {
    step = state.console.pressKey("delete");
  } else {
    const gunichar c = gdk_keyval_to_unicode(event->keyval);
    if (c == 0 || g_unichar_iscntrl(c)) return FALSE;
    char utf8[8] = {};
    g_unichar_to_utf8(c, utf8);
    step = state.console.typeText(utf8);
  }
  showThenReport(state, step);
  return TRUE;
}

gboolean onInput(GIOChannel* channel, GIOCondition, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  gchar* text = nullptr;
  gsize length = 0;
  const GIOStatus status = g_io_channel_read_line(channel, &text, &length, nullptr, nullptr);
  if (status == G_IO_STATUS_AGAIN) return TRUE;
  if (status != G_IO_STATUS_NORMAL) {
    // The terminal is gone; the window stays until it is closed.
    state.inputWatch = 0;
    return FALSE;
  }
  std::string line(text, length);
  g_free(text);
  reportShownStep(state);
  if (!state.ended) stepped(state, state.handleLine(line, false));
  return TRUE;
}

gboolean onScriptLine(gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (!state.ended && !state.script.empty()) {
    std::string line = std::move(state.script.front());
    state.script.pop_front();
    reportShownStep(state);
    if (!state.ended) stepped(state, state.handleLine(line, true));
  }
  if (!state.ended && !state.script.empty()) return TRUE;
  state.scriptSource = 0;
  return FALSE;
}

void onDestroy(GtkWidget*, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  state.window = nullptr;
  finish(state);
}

}  // namespace

bool diaryWindowAvailable() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  // GTK reads fontconfig as it starts: the diary's own font configuration comes first.
  graphics::prepareFonts();
  static const bool opened = gtk_init_check(nullptr, nullptr);
  return opened;
}

void runDiaryWindow(DiaryConsole& console, const std::vector<std::string>& scriptLines,
                    const DiaryLineHandler& handleLine, const DiaryStepHandler& handleStep) {
  WindowState state{console, handleLine, handleStep, {scriptLines.begin(), scriptLines.end()}};
  state.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(state.window), "diary");
  gtk_window_set_resizable(GTK_WINDOW(state.window), TRUE);
  state.area = gtk_drawing_area_new();
  gtk_widget_add_events(state.area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_BUTTON1_MOTION_MASK |
                                        GDK_SCROLL_MASK);
  gtk_widget_set_can_focus(state.area, TRUE);
  gtk_container_add(GTK_CONTAINER(state.window), state.area);
  g_signal_connect(state.area, "draw", G_CALLBACK(onDraw), &state);
  g_signal_connect(state.area, "button-press-event", G_CALLBACK(onPress), &state);
  g_signal_connect(state.area, "button-release-event", G_CALLBACK(onRelease), &state);
  g_signal_connect(state.area, "motion-notify-event", G_CALLBACK(onMotion), &state);
  g_signal_connect(state.area, "scroll-event", G_CALLBACK(onScroll), &state);
  g_signal_connect(state.window, "key-press-event", G_CALLBACK(onKey), &state);
  g_signal_connect(state.window, "destroy", G_CALLBACK(onDestroy), &state);
  // On real time the animations play out, where the console shows each one's end at once.
  ui::setAnimationMode(ui::AnimationMode::kPlayed);
  state.scale = console.scale();
  state.underlay = std::make_unique<KeptUnderlay>(state.canvas);
  redraw(state);
  gtk_widget_show_all(state.window);
  GdkFrameClock* frames = gtk_widget_get_frame_clock(state.window);
  if (frames) state.afterPaint = g_signal_connect(frames, "after-paint", G_CALLBACK(onAfterPaint), &state);

  state.input = g_io_channel_unix_new(0);
  state.inputWatch =
      g_io_add_watch(state.input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onInput, &state);
  state.tickSource = g_timeout_add(250, onTick, &state);
  if (!state.script.empty()) state.scriptSource = g_idle_add(onScriptLine, &state);
  gtk_main();

  // A step shown just before the end is still told of.
  reportShownStep(state);
  ui::setAnimationMode(ui::AnimationMode::kAtOnce);
  g_source_remove(state.tickSource);
  if (frames && state.afterPaint) g_signal_handler_disconnect(frames, state.afterPaint);
  if (state.window && state.frameTicks) gtk_widget_remove_tick_callback(state.area, state.frameTicks);
  if (state.drawSource) g_source_remove(state.drawSource);
  if (state.scriptSource) g_source_remove(state.scriptSource);
  if (state.inputWatch) g_source_remove(state.inputWatch);
  g_io_channel_unref(state.input);
  if (state.window) gtk_widget_destroy(state.window);
  while (gtk_events_pending()) gtk_main_iteration();
}

#else

bool diaryWindowAvailable() { return false; }

void runDiaryWindow(DiaryConsole&, const std::vector<std::string>&, const DiaryLineHandler&,
                    const DiaryStepHandler&) {}

#endif

}  // namespace program
