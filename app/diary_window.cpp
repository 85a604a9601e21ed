#include "app/diary_window.h"

#include <cstdlib>
#include <cstring>

#if DIARY_HAS_GTK
#include <gtk/gtk.h>

#include <cmath>
#include <deque>

#include "platform/runtime/run_loop.h"
#endif

namespace app {

#if DIARY_HAS_GTK

namespace {

struct WindowState {
  DiaryConsole& console;
  const DiaryLineHandler& handleLine;
  const DiaryStepHandler& handleStep;
  std::deque<std::string> script;
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  cairo_surface_t* surface = nullptr;
  std::vector<std::uint32_t> pixels{};
  double scale = 1;
  graphics::Point pressedAt{};
  bool pressed = false;
  bool ended = false;
  GIOChannel* input = nullptr;
  // Sources still installed (0 once gone).
  guint inputWatch = 0;
  guint scriptSource = 0;
  guint tickSource = 0;
};

void finish(WindowState& state) {
  if (state.ended) return;
  state.ended = true;
  gtk_main_quit();
}

void redraw(WindowState& state) {
  auto image = state.console.renderImage();
  if (!image.ok()) return;
  state.pixels = image->toCairoArgb32();
  if (state.surface) cairo_surface_destroy(state.surface);
  const int width = image->pixelWidth();
  const int height = image->pixelHeight();
  state.surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(state.pixels.data()),
                                                      CAIRO_FORMAT_ARGB32, width, height, width * 4);
  state.scale = image->scale();
  gtk_widget_set_size_request(state.area, width, height);
  gtk_widget_queue_draw(state.area);
}

// After a step: the person hears of it, the window shows what came of it.
void stepped(WindowState& state, bool goOn) {
  if (!goOn) {
    finish(state);
    return;
  }
  redraw(state);
}

gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (state.surface) {
    cairo_set_source_surface(cr, state.surface, 0, 0);
    cairo_paint(cr);
  }
  return TRUE;
}

graphics::Point toPoints(const WindowState& state, double x, double y) {
  return graphics::Point(x / state.scale, y / state.scale);
}

gboolean onPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (event->button != 1 || event->type != GDK_BUTTON_PRESS) return FALSE;
  state.pressed = true;
  state.pressedAt = toPoints(state, event->x, event->y);
  return TRUE;
}

gboolean onRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (event->button != 1 || !state.pressed) return FALSE;
  state.pressed = false;
  const graphics::Point to = toPoints(state, event->x, event->y);
  const double moved = std::hypot(to.x - state.pressedAt.x, to.y - state.pressedAt.y);
  // A finger that hardly moved taps; one that travelled drags.
  const DiaryConsole::Step step =
      moved < 6 ? state.console.tapPoint(state.pressedAt) : state.console.drag(state.pressedAt, to);
  stepped(state, state.handleStep(step));
  return TRUE;
}

gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
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
  stepped(state, state.handleStep(step));
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
  stepped(state, state.handleLine(line, false));
  return TRUE;
}

gboolean onScriptLine(gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  if (!state.ended && !state.script.empty()) {
    std::string line = std::move(state.script.front());
    state.script.pop_front();
    stepped(state, state.handleLine(line, true));
  }
  if (!state.ended && !state.script.empty()) return TRUE;
  state.scriptSource = 0;
  return FALSE;
}

// Work that other threads hand to the main run loop (a finished report) runs between events.
gboolean onTick(gpointer data) {
  auto& state = *static_cast<WindowState*>(data);
  runtime::RunLoop::main().runUntilIdle();
  redraw(state);
  return TRUE;
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
  static const bool opened = gtk_init_check(nullptr, nullptr);
  return opened;
}

void runDiaryWindow(DiaryConsole& console, const std::vector<std::string>& scriptLines,
                    const DiaryLineHandler& handleLine, const DiaryStepHandler& handleStep) {
  WindowState state{console, handleLine, handleStep, {scriptLines.begin(), scriptLines.end()}};
  state.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(state.window), "diary");
  gtk_window_set_resizable(GTK_WINDOW(state.window), FALSE);
  state.area = gtk_drawing_area_new();
  gtk_widget_add_events(state.area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  gtk_widget_set_can_focus(state.area, TRUE);
  gtk_container_add(GTK_CONTAINER(state.window), state.area);
  g_signal_connect(state.area, "draw", G_CALLBACK(onDraw), &state);
  g_signal_connect(state.area, "button-press-event", G_CALLBACK(onPress), &state);
  g_signal_connect(state.area, "button-release-event", G_CALLBACK(onRelease), &state);
  g_signal_connect(state.window, "key-press-event", G_CALLBACK(onKey), &state);
  g_signal_connect(state.window, "destroy", G_CALLBACK(onDestroy), &state);
  redraw(state);
  gtk_widget_show_all(state.window);

  state.input = g_io_channel_unix_new(0);
  state.inputWatch =
      g_io_add_watch(state.input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onInput, &state);
  state.tickSource = g_timeout_add(250, onTick, &state);
  if (!state.script.empty()) state.scriptSource = g_idle_add(onScriptLine, &state);
  gtk_main();

  g_source_remove(state.tickSource);
  if (state.scriptSource) g_source_remove(state.scriptSource);
  if (state.inputWatch) g_source_remove(state.inputWatch);
  g_io_channel_unref(state.input);
  if (state.window) gtk_widget_destroy(state.window);
  while (gtk_events_pending()) gtk_main_iteration();
  if (state.surface) cairo_surface_destroy(state.surface);
}

#else

bool diaryWindowAvailable() { return false; }

void runDiaryWindow(DiaryConsole&, const std::vector<std::string>&, const DiaryLineHandler&,
                    const DiaryStepHandler&) {}

#endif

}  // namespace app
