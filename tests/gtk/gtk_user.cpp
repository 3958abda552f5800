#include "gtk/gtk_user.h"

#include <string>

#include "model/controls.h"
#include "encoding/cp1250.h"

namespace {

// Handles what is waiting now, without blocking.
void runPending() {
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

// Runs the main loop until done() holds or limitMs has passed.
template <typename Done>
bool waitFor(Done done, guint limitMs) {
  bool timedOut = false;
  const guint source = g_timeout_add(
      limitMs,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timedOut);
  while (!done() && !timedOut) g_main_context_iteration(nullptr, TRUE);
  if (!timedOut) g_source_remove(source);
  return done();
}

// Lets GTK finish what it does before the next frame (measuring rows just
// added, laying out): a user never acts in the middle of that.
void waitForFrame(GtkWidget* widget) {
  GdkFrameClock* clock = gtk_widget_get_frame_clock(widget);
  if (clock == nullptr) return;
  bool painted = false;
  const gulong handler = g_signal_connect_swapped(
      clock, "after-paint", G_CALLBACK(+[](gpointer flag) { *static_cast<bool*>(flag) = true; }), &painted);
  gtk_widget_queue_draw(widget);
  waitFor([&painted] { return painted; }, 1000);
  g_signal_handler_disconnect(clock, handler);
}

GdkDevice* pointerDevice() {
  return gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
}
GdkDevice* keyboardDevice() {
  return gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default()));
}

// The GDK window that GDK would hand a pointer event at (x, y) of `window`
// to: the topmost shown child containing the point, down to the deepest;
// (x, y) become that window's coordinates.
GdkWindow* windowAt(GdkWindow* window, double* x, double* y) {
  for (GList* it = gdk_window_peek_children(window); it != nullptr; it = it->next) {
    GdkWindow* child = GDK_WINDOW(it->data);
    if (!gdk_window_is_visible(child)) continue;
    gint cx = 0;
    gint cy = 0;
    gdk_window_get_position(child, &cx, &cy);
    if (*x >= cx && *x < cx + gdk_window_get_width(child) && *y >= cy &&
        *y < cy + gdk_window_get_height(child)) {
      *x -= cx;
      *y -= cy;
      return windowAt(child, x, y);
    }
  }
  return window;
}

void sendButton(GdkWindow* target, GdkEventType type, double x, double y, guint32 time) {
  gint originX = 0;
  gint originY = 0;
  gdk_window_get_origin(target, &originX, &originY);
  GdkEvent* event = gdk_event_new(type);
  event->button.window = GDK_WINDOW(g_object_ref(target));
  event->button.time = time;
  event->button.x = x;
  event->button.y = y;
  event->button.x_root = originX + x;
  event->button.y_root = originY + y;
  event->button.button = GDK_BUTTON_PRIMARY;
  event->button.state = type == GDK_BUTTON_RELEASE ? GDK_BUTTON1_MASK : 0;
  gdk_event_set_device(event, pointerDevice());
  gdk_event_set_source_device(event, pointerDevice());
  gtk_main_do_event(event);
  gdk_event_free(event);
  runPending();
}

void sendMotion(GdkWindow* target, double x, double y, guint32 time) {
  gint originX = 0;
  gint originY = 0;
  gdk_window_get_origin(target, &originX, &originY);
  GdkEvent* event = gdk_event_new(GDK_MOTION_NOTIFY);
  event->motion.window = GDK_WINDOW(g_object_ref(target));
  event->motion.time = time;
  event->motion.x = x;
  event->motion.y = y;
  event->motion.x_root = originX + x;
  event->motion.y_root = originY + y;
  event->motion.state = GDK_BUTTON1_MASK;
  gdk_event_set_device(event, pointerDevice());
  gdk_event_set_source_device(event, pointerDevice());
  gtk_main_do_event(event);
  gdk_event_free(event);
  runPending();
}

std::string fromUtf8(const gchar* utf8) { return utf8ToCp1250(utf8 != nullptr ? utf8 : ""); }

std::vector<std::string> modelTexts(GtkTreeModel* model) {
  std::vector<std::string> texts;
  GtkTreeIter iter;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
       ok = gtk_tree_model_iter_next(model, &iter)) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, &iter, 0, &text, -1);
    texts.push_back(fromUtf8(text));
    g_free(text);
  }
  return texts;
}

}  // namespace

GtkWidget* GtkUser::window(int32_t number) {
  if (number != MainWindow && number != SettingsWindow) return nullptr;
  const std::string title = cp1250ToUtf8(*kWindows[number].title);
  GtkWidget* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* it = windows; it != nullptr; it = it->next) {
    const gchar* t = gtk_window_get_title(GTK_WINDOW(it->data));
    if (t != nullptr && title == t && gtk_widget_get_visible(GTK_WIDGET(it->data)))
      found = GTK_WIDGET(it->data);
  }
  g_list_free(windows);
  return found;
}

// The window's controls sit in its one box in the order of their numbers.
GtkWidget* GtkUser::control(int32_t number) {
  if (number < 0 || number >= kControlCount) return nullptr;
  const ControlSpec& layout = kControls[number];
  GtkWidget* top = window(layout.window);
  if (top == nullptr) return nullptr;
  GtkWidget* box = gtk_bin_get_child(GTK_BIN(top));
  if (box == nullptr || !GTK_IS_CONTAINER(box)) return nullptr;
  guint index = 0;
  for (const ControlSpec& other : kControls)
    if (other.window == layout.window && other.number < number) ++index;
  GList* children = gtk_container_get_children(GTK_CONTAINER(box));
  GtkWidget* found = static_cast<GtkWidget*>(g_list_nth_data(children, index));
  g_list_free(children);
  return found;
}

GtkTreeView* GtkUser::treeView(int32_t list) {
  GtkWidget* outer = control(list);
  if (outer == nullptr || !GTK_IS_SCROLLED_WINDOW(outer)) return nullptr;
  GtkWidget* view = gtk_bin_get_child(GTK_BIN(outer));
  return view != nullptr && GTK_IS_TREE_VIEW(view) ? GTK_TREE_VIEW(view) : nullptr;
}

bool GtkUser::open() {
  if (!startUi() || !openMainWindow()) return false;
  openSettingsWindow();
  // The window manager gives the keyboard to the window shown last.
  waitFor(
      [] {
        return window(SettingsWindow) != nullptr && gtk_window_is_active(GTK_WINDOW(window(SettingsWindow)));
      },
      2000);
  active_ = SettingsWindow;
  return window(MainWindow) != nullptr && window(SettingsWindow) != nullptr;
}

void GtkUser::close() {
  pressWindow_ = nullptr;
  destroyWindows();
  runPending();
}

// As a click on its frame would: the window manager activates it, and the
// window gets the keyboard focus from the X server.
void GtkUser::activate(int32_t number) {
  active_ = number;
  GtkWidget* top = window(number);
  if (top == nullptr || gtk_window_is_active(GTK_WINDOW(top))) return;
  gtk_window_present_with_time(GTK_WINDOW(top), time_ += 100);
  if (!waitFor([top] { return gtk_window_is_active(GTK_WINDOW(top)) != FALSE; }, 2000))
    ADD_FAILURE() << "the window manager did not activate window " << number;
  runPending();
}

void GtkUser::clickAt(int32_t number, double x, double y, int count) {
  GtkWidget* top = window(number);
  if (top == nullptr) {
    ADD_FAILURE() << "no window " << number;
    return;
  }
  activate(number);
  waitForFrame(top);
  GdkWindow* target = windowAt(gtk_widget_get_window(top), &x, &y);
  // Each click far from the last one in time, so that two clicks make a
  // double click only when asked; within one, GDK's own sequence.
  time_ += 10000;
  sendButton(target, GDK_BUTTON_PRESS, x, y, time_);
  sendButton(target, GDK_BUTTON_RELEASE, x, y, time_ + 40);
  if (count == 2) {
    sendButton(target, GDK_BUTTON_PRESS, x, y, time_ + 120);
    sendButton(target, GDK_2BUTTON_PRESS, x, y, time_ + 120);
    sendButton(target, GDK_BUTTON_RELEASE, x, y, time_ + 160);
  }
}

void GtkUser::click(int32_t number) {
  const ControlSpec& layout = kControls[number];
  if (layout.kind == ControlKind::DropDown || layout.kind == ControlKind::List) {
    ADD_FAILURE() << "click() is for buttons, text fields and labels";
    return;
  }
  clickAt(layout.window, layout.x + layout.width / 2.0, layout.y + layout.height / 2.0, 1);
}

bool GtkUser::rowPoint(int32_t list, int32_t row, bool below, double* x, double* y) {
  GtkTreeView* view = treeView(list);
  GtkWidget* top = window(kControls[list].window);
  if (view == nullptr || top == nullptr) {
    ADD_FAILURE() << "no list " << list;
    return false;
  }
  GtkTreeModel* model = gtk_tree_view_get_model(view);
  const gint count = gtk_tree_model_iter_n_children(model, nullptr);
  const gint target = below ? count - 1 : row;
  if (target < 0 || target >= count) {
    ADD_FAILURE() << "no row " << target;
    return false;
  }
  waitForFrame(GTK_WIDGET(view));
  GdkRectangle rect{0, 0, 0, 0};
  GtkTreePath* path = gtk_tree_path_new_from_indices(target, -1);
  gtk_tree_view_get_background_area(view, path, nullptr, &rect);
  gtk_tree_path_free(path);
  GdkWindow* bin = gtk_tree_view_get_bin_window(view);
  gint binX = 0;
  gint binY = 0;
  gint topX = 0;
  gint topY = 0;
  gdk_window_get_origin(bin, &binX, &binY);
  gdk_window_get_origin(gtk_widget_get_window(top), &topX, &topY);
  const double inBin = below ? rect.y + rect.height + 15 : rect.y + rect.height / 2.0;
  if (below && inBin >= gdk_window_get_height(bin)) {
    ADD_FAILURE() << "no room below the rows";
    return false;
  }
  *x = binX - topX + rect.x + 20;
  *y = binY - topY + inBin;
  return true;
}

void GtkUser::clickRow(int32_t list, int32_t row) {
  double x = 0;
  double y = 0;
  if (rowPoint(list, row, false, &x, &y)) clickAt(kControls[list].window, x, y, 1);
}

void GtkUser::doubleClickRow(int32_t list, int32_t row) {
  double x = 0;
  double y = 0;
  if (rowPoint(list, row, false, &x, &y)) clickAt(kControls[list].window, x, y, 2);
}

void GtkUser::clickBelowRows(int32_t list) {
  double x = 0;
  double y = 0;
  if (rowPoint(list, 0, true, &x, &y)) clickAt(kControls[list].window, x, y, 1);
}

void GtkUser::pressOnRow(int32_t list, int32_t row) {
  double x = 0;
  double y = 0;
  if (!rowPoint(list, row, false, &x, &y)) return;
  const int32_t number = kControls[list].window;
  activate(number);
  pressWindow_ = windowAt(gtk_widget_get_window(window(number)), &x, &y);
  pressX_ = pointerX_ = x;
  pressY_ = y;
  time_ += 10000;
  sendButton(pressWindow_, GDK_BUTTON_PRESS, x, y, time_);
}

void GtkUser::dragPressed(int32_t) {
  if (pressWindow_ == nullptr) {
    ADD_FAILURE() << "no button is down";
    return;
  }
  gint threshold = 8;
  g_object_get(gtk_settings_get_default(), "gtk-dnd-drag-threshold", &threshold, nullptr);
  pointerX_ += threshold + 2;
  sendMotion(pressWindow_, pointerX_, pressY_, time_ += 20);
}

void GtkUser::releasePressed(int32_t) {
  if (pressWindow_ == nullptr) {
    ADD_FAILURE() << "no button is down";
    return;
  }
  sendButton(pressWindow_, GDK_BUTTON_RELEASE, pointerX_, pressY_, time_ += 20);
  pressWindow_ = nullptr;
}

// What GDK makes of the window manager's WM_DELETE_WINDOW.
void GtkUser::requestClose(int32_t number) {
  GtkWidget* top = window(number);
  if (top == nullptr) {
    ADD_FAILURE() << "no window " << number;
    return;
  }
  GdkEvent* event = gdk_event_new(GDK_DELETE);
  event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(top)));
  gtk_main_do_event(event);
  gdk_event_free(event);
  runPending();
}

// A key press and release as the X server sends them for the keyboard
// layout in use: the key that gives keyval, with the modifiers of its level.
void GtkUser::sendKey(guint keyval, GdkModifierType extra) {
  GtkWidget* top = window(active_);
  if (top == nullptr) {
    ADD_FAILURE() << "no window has the keyboard";
    return;
  }
  activate(active_);
  waitForFrame(top);
  GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
  GdkKeymapKey* keys = nullptr;
  gint count = 0;
  guint16 keycode = 0;
  guint8 group = 0;
  guint state = extra;
  if (gdk_keymap_get_entries_for_keyval(keymap, keyval, &keys, &count) && count > 0) {
    keycode = static_cast<guint16>(keys[0].keycode);
    group = static_cast<guint8>(keys[0].group);
    if (keys[0].level % 2 == 1) state |= GDK_SHIFT_MASK;
    if (keys[0].level >= 2) state |= GDK_MOD5_MASK;  // AltGr: the third and fourth level
  }
  g_free(keys);
  for (const GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(top)));
    event->key.time = time_ += 20;
    event->key.state = state;
    event->key.keyval = keyval;
    event->key.hardware_keycode = keycode;
    event->key.group = group;
    event->key.string = g_strdup("");
    gdk_event_set_device(event, keyboardDevice());
    gtk_main_do_event(event);
    gdk_event_free(event);
    runPending();
  }
}

void GtkUser::press(Key key) {
  switch (key) {
    case Key::Tab:
      sendKey(GDK_KEY_Tab, GdkModifierType(0));
      break;
    case Key::ShiftTab:
      sendKey(GDK_KEY_ISO_Left_Tab, GDK_SHIFT_MASK);
      break;
    case Key::Up:
      sendKey(GDK_KEY_Up, GdkModifierType(0));
      break;
    case Key::Down:
      sendKey(GDK_KEY_Down, GdkModifierType(0));
      break;
    case Key::Space:
      sendKey(GDK_KEY_space, GdkModifierType(0));
      break;
    case Key::Backspace:
      sendKey(GDK_KEY_BackSpace, GdkModifierType(0));
      break;
    case Key::Enter:
      sendKey(GDK_KEY_Return, GdkModifierType(0));
      break;
  }
}

void GtkUser::type(const std::string& text) {
  const std::string utf8 = cp1250ToUtf8(text);
  for (const gchar* p = utf8.c_str(); *p != '\0'; p = g_utf8_next_char(p)) {
    const guint keyval = gdk_unicode_to_keyval(g_utf8_get_char(p));
    sendKey(keyval, GdkModifierType(0));
  }
}

int32_t GtkUser::focusedControl(int32_t number) {
  GtkWidget* top = window(number);
  if (top == nullptr) return -1;
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top));
  if (focus == nullptr) return -1;
  for (const ControlSpec& layout : kControls) {
    if (layout.window != number) continue;
    GtkWidget* outer = control(layout.number);
    if (outer != nullptr && (focus == outer || gtk_widget_is_ancestor(focus, outer))) return layout.number;
  }
  return -1;
}

std::vector<std::string> GtkUser::items(int32_t number) {
  GtkWidget* outer = control(number);
  if (outer == nullptr) return {};
  if (GTK_IS_COMBO_BOX(outer)) return modelTexts(gtk_combo_box_get_model(GTK_COMBO_BOX(outer)));
  if (GtkTreeView* view = treeView(number)) return modelTexts(gtk_tree_view_get_model(view));
  return {};
}

bool GtkUser::windowShown(int32_t number) { return window(number) != nullptr; }
