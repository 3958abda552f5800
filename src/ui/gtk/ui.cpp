// GTK 3 back-end of model/ui.h: the two windows and their twenty controls,
// built from the tables of model/controls.h. Signal handlers only queue
// events; waitEvent hands them to the loop one by one, so no action ever
// runs inside a GTK callback. Texts cross this edge as Windows-1250 bytes
// and are converted to and from UTF-8 here.
#include <gtk/gtk.h>

#include <cstdio>
#include <deque>
#include <string>
#include <string_view>

#include "model/controls.h"
#include "model/ui.h"
#include "encoding/cp1250.h"

// ---------------------------------------------------------------------------
// ExactBox: a GtkFixed that gives each child exactly the rectangle it was put
// at (position from gtk_fixed_put, size from gtk_widget_set_size_request),
// cuts each child's drawing at that rectangle, and asks for no size of its
// own, so the window can be made smaller than its controls and they stay
// where they are, hidden by the edge. Plain GtkFixed would grow children to
// their minimum size and let a wrapped label paint below its rectangle.
// ---------------------------------------------------------------------------
struct ExactBox {
  GtkFixed parent;
};
struct ExactBoxClass {
  GtkFixedClass parentClass;
};

G_DEFINE_TYPE(ExactBox, exact_box, GTK_TYPE_FIXED)

namespace {

void exactBoxNoSize(GtkWidget*, gint* minimum, gint* natural) { *minimum = *natural = 0; }

void exactBoxAllocate(GtkWidget* widget, GtkAllocation* allocation) {
  gtk_widget_set_allocation(widget, allocation);
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* it = children; it != nullptr; it = it->next) {
    GtkWidget* child = GTK_WIDGET(it->data);
    if (!gtk_widget_get_visible(child)) continue;
    gint x = 0;
    gint y = 0;
    gtk_container_child_get(GTK_CONTAINER(widget), child, "x", &x, "y", &y, nullptr);
    gint width = 0;
    gint height = 0;
    gtk_widget_get_size_request(child, &width, &height);
    // GTK wants every child measured before it is allocated.
    GtkRequisition unused;
    gtk_widget_get_preferred_size(child, &unused, nullptr);
    GtkAllocation rect{allocation->x + x, allocation->y + y, width, height};
    gtk_widget_size_allocate(child, &rect);
  }
  g_list_free(children);
}

gboolean exactBoxDraw(GtkWidget* widget, cairo_t* cr) {
  GtkAllocation own;
  gtk_widget_get_allocation(widget, &own);
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* it = children; it != nullptr; it = it->next) {
    GtkWidget* child = GTK_WIDGET(it->data);
    GtkAllocation rect;
    gtk_widget_get_allocation(child, &rect);
    cairo_save(cr);
    cairo_rectangle(cr, rect.x - own.x, rect.y - own.y, rect.width, rect.height);
    cairo_clip(cr);
    gtk_container_propagate_draw(GTK_CONTAINER(widget), child, cr);
    cairo_restore(cr);
  }
  g_list_free(children);
  return FALSE;
}

}  // namespace

static void exact_box_class_init(ExactBoxClass* klass) {
  GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
  widgetClass->get_preferred_width = exactBoxNoSize;
  widgetClass->get_preferred_height = exactBoxNoSize;
  widgetClass->size_allocate = exactBoxAllocate;
  widgetClass->draw = exactBoxDraw;
}

static void exact_box_init(ExactBox*) {}

namespace {

// Compact style: the theme's 30-odd pixel entries, drop-downs and buttons
// would not fit the 20-pixel rectangles. 8 pt is the size of the usual
// desktop dialog font and lets ResultLabel hold its three lines in 40 px.
constexpr const char* kCss =
    "window, dialog { font-size: 8pt; }\n"
    "entry { min-height: 0; padding: 0 3px; }\n"
    "button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
    "combobox button { padding: 0 2px 0 4px; }\n"
    "combobox arrow { min-height: 12px; min-width: 12px; }\n"
    "treeview { padding: 0; }\n";

struct Control {
  GtkWidget* outer = nullptr;  // what sits in the window at the rectangle
  GtkWidget* inner = nullptr;  // the entry, combo, button or tree view itself
  GtkListStore* store = nullptr;  // list only
  gulong selectionHandler = 0;    // list: its selection's "changed" handler
  bool pressedOnItem = false;     // list: left button went down on an item
  bool dragReported = false;
  gdouble pressX = 0;
  gdouble pressY = 0;
};

struct Backend {
  bool started = false;
  GtkWidget* windows[2] = {nullptr, nullptr};
  Control controls[kControlCount];
  std::deque<UiEvent> queue;
  bool messageShowing = false;
  bool blockListSelection = false;  // no row may become selected just now
  bool labelDrawn = false;
};

Backend& ui() {
  static Backend b;
  return b;
}

std::string toUtf8(std::string_view cp1250) {
  std::string utf8 = cp1250ToUtf8(cp1250);
  if (g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return utf8;
  gchar* valid = g_utf8_make_valid(utf8.data(), static_cast<gssize>(utf8.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

std::string fromUtf8(const char* utf8) { return utf8ToCp1250(utf8 != nullptr ? utf8 : ""); }

Control* find(int32_t control) {
  if (control < 0 || control >= kControlCount) return nullptr;
  Control& c = ui().controls[control];
  return c.inner != nullptr ? &c : nullptr;
}

ControlKind kindOf(int32_t control) { return kControls[control].kind; }

void queueControlEvent(int32_t control) {
  ui().queue.push_back({EventKind::controlEvent, kControls[control].window, control});
}

gpointer tag(int32_t number) { return GINT_TO_POINTER(number); }
int32_t untag(gpointer data) { return GPOINTER_TO_INT(data); }

// Runs the main context until done() holds or limitMs has passed; sleeps in
// the poll between events, never spins.
template <typename Done>
void iterateUntil(Done done, guint limitMs) {
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
}

// Handles what is waiting now, without blocking; bounded, so that a source
// that is always ready cannot hold the caller.
void runPendingEvents() {
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

// A label that the user can see at least in part: only then will GTK paint it.
bool labelOnScreen(GtkWidget* label) {
  if (!gtk_widget_is_drawable(label)) return false;
  GtkAllocation rect;
  gtk_widget_get_allocation(label, &rect);
  GtkWidget* window = gtk_widget_get_toplevel(label);
  return rect.x < gtk_widget_get_allocated_width(window) && rect.y < gtk_widget_get_allocated_height(window);
}

// --- signal handlers: each only queues an event -----------------------------

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer window) {
  // A window that a message box has disabled takes no input, its close box
  // included.
  if (!ui().messageShowing) ui().queue.push_back({EventKind::closeEvent, untag(window), -1});
  return TRUE;  // never destroyed by the user
}

void onChanged(gpointer, gpointer control) { queueControlEvent(untag(control)); }

gboolean onFocusChange(GtkWidget*, GdkEvent*, gpointer control) {
  queueControlEvent(untag(control));
  return FALSE;
}

void onPopupShown(GObject*, GParamSpec*, gpointer control) { queueControlEvent(untag(control)); }

void onRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer control) {
  queueControlEvent(untag(control));
}

bool pointOnItem(GtkTreeView* view, GdkEventButton* event) {
  if (event->window != gtk_tree_view_get_bin_window(view)) return false;
  GtkTreePath* path = nullptr;
  const bool found = gtk_tree_view_get_path_at_pos(view, static_cast<gint>(event->x),
                                                   static_cast<gint>(event->y), &path, nullptr,
                                                   nullptr, nullptr);
  if (path != nullptr) gtk_tree_path_free(path);
  return found;
}

gboolean onListPress(GtkWidget* widget, GdkEventButton* event, gpointer control) {
  Control& c = ui().controls[untag(control)];
  if (event->type == GDK_BUTTON_PRESS && event->button == GDK_BUTTON_PRIMARY) {
    c.pressedOnItem = pointOnItem(GTK_TREE_VIEW(widget), event);
    c.dragReported = false;
    c.pressX = event->x;
    c.pressY = event->y;
  }
  return FALSE;
}

gboolean onListRelease(GtkWidget* widget, GdkEventButton* event, gpointer control) {
  Control& c = ui().controls[untag(control)];
  if (event->button == GDK_BUTTON_PRIMARY) {
    if (c.pressedOnItem && pointOnItem(GTK_TREE_VIEW(widget), event)) queueControlEvent(untag(control));
    c.pressedOnItem = false;
  }
  return FALSE;
}

gboolean onListMotion(GtkWidget* widget, GdkEventMotion* event, gpointer control) {
  Control& c = ui().controls[untag(control)];
  if (c.pressedOnItem && !c.dragReported && (event->state & GDK_BUTTON1_MASK) != 0 &&
      gtk_drag_check_threshold(widget, static_cast<gint>(c.pressX), static_cast<gint>(c.pressY),
                               static_cast<gint>(event->x), static_cast<gint>(event->y))) {
    c.dragReported = true;
    queueControlEvent(untag(control));
  }
  return FALSE;
}

gboolean allowListSelection(GtkTreeSelection*, GtkTreeModel*, GtkTreePath*, gboolean, gpointer) {
  return ui().blockListSelection ? FALSE : TRUE;
}

// A GtkTreeView in single selection that has no cursor row yet makes its
// first row the cursor and selects it whenever it takes the focus, by Tab or
// by a click (below the rows too); a system list selects nothing then. Both
// ways go through "grab-focus", whose class handler does it: selecting is
// switched off from the first handler to the one connected after it.
void beforeListGrabFocus(GtkWidget*, gpointer) { ui().blockListSelection = true; }
void afterListGrabFocus(GtkWidget*, gpointer) { ui().blockListSelection = false; }

// Tab into the list only gives it the focus; returning FALSE when the view
// already has the focus lets Tab move on.
gboolean onListFocus(GtkWidget* view, GtkDirectionType, gpointer) {
  if (gtk_widget_is_focus(view)) return FALSE;
  gtk_widget_grab_focus(view);
  return TRUE;
}

gboolean onLabelDraw(GtkWidget*, cairo_t*, gpointer) {
  ui().labelDrawn = true;
  return FALSE;
}

// --- building ---------------------------------------------------------------

// The button inside a GtkComboBox is what takes the focus; it sits a few
// levels down among the combo's internal children.
void findToggleButton(GtkWidget* widget, gpointer result) {
  if (*static_cast<GtkWidget**>(result) != nullptr) return;
  if (GTK_IS_TOGGLE_BUTTON(widget)) {
    *static_cast<GtkWidget**>(result) = widget;
  } else if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(GTK_CONTAINER(widget), findToggleButton, result);
  }
}

// --- one control: the widget of its kind, its signals, its rectangle -------

GtkWidget* createLabel(const ControlSpec& layout) {
  GtkWidget* label = gtk_label_new(toUtf8(*layout.firstText).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD);
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_LEFT);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0F);
  return label;
}

GtkWidget* createDropDown() {
  GtkWidget* combo = gtk_combo_box_text_new();
  // A system drop-down takes the focus and opens even with no items.
  gtk_combo_box_set_button_sensitivity(GTK_COMBO_BOX(combo), GTK_SENSITIVITY_ON);
  GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(combo));
  for (GList* it = cells; it != nullptr; it = it->next) g_object_set(it->data, "ypad", 0, nullptr);
  g_list_free(cells);
  return combo;
}

GtkWidget* createTextField(const ControlSpec& layout) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
  gtk_entry_set_text(GTK_ENTRY(entry), toUtf8(*layout.firstText).c_str());
  return entry;
}

GtkWidget* createPushButton(const ControlSpec& layout) {
  return gtk_button_new_with_label(toUtf8(*layout.firstText).c_str());
}

// A one-column tree view without headers or search, on a list store that
// the control keeps; at most one row selected, and only when the list lets
// it (allowListSelection).
GtkWidget* createList(Control& c) {
  c.store = gtk_list_store_new(1, G_TYPE_STRING);
  GtkWidget* widget = gtk_tree_view_new_with_model(GTK_TREE_MODEL(c.store));
  g_object_unref(c.store);  // the view holds it
  GtkTreeView* view = GTK_TREE_VIEW(widget);
  gtk_tree_view_set_headers_visible(view, FALSE);
  gtk_tree_view_set_enable_search(view, FALSE);
  GtkCellRenderer* text = gtk_cell_renderer_text_new();
  g_object_set(text, "ypad", 0, nullptr);
  gtk_tree_view_insert_column_with_attributes(view, -1, "", text, "text", 0, nullptr);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(view);
  gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
  gtk_tree_selection_set_select_function(selection, allowListSelection, nullptr, nullptr);
  gtk_tree_selection_unselect_all(selection);
  return widget;
}

// The widget itself (Control::inner), set up with its first text; no signal
// is connected yet, so setting it up reports nothing.
GtkWidget* createWidget(Control& c, const ControlSpec& layout) {
  switch (layout.kind) {
    case ControlKind::Label:
      return createLabel(layout);
    case ControlKind::DropDown:
      return createDropDown();
    case ControlKind::TextField:
      return createTextField(layout);
    case ControlKind::PushButton:
      return createPushButton(layout);
    case ControlKind::List:
      return createList(c);
  }
  return nullptr;
}

void connectFocusChanges(GtkWidget* widget, gpointer number) {
  g_signal_connect(widget, "focus-in-event", G_CALLBACK(onFocusChange), number);
  g_signal_connect(widget, "focus-out-event", G_CALLBACK(onFocusChange), number);
}

void connectDropDownSignals(GtkWidget* combo, gpointer number) {
  g_signal_connect(combo, "changed", G_CALLBACK(onChanged), number);
  g_signal_connect(combo, "notify::popup-shown", G_CALLBACK(onPopupShown), number);
  GtkWidget* button = nullptr;
  gtk_container_forall(GTK_CONTAINER(combo), findToggleButton, &button);
  if (button != nullptr) connectFocusChanges(button, number);
}

void connectListSignals(Control& c, gpointer number) {
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(c.inner));
  g_signal_connect(c.inner, "focus", G_CALLBACK(onListFocus), nullptr);
  g_signal_connect(c.inner, "grab-focus", G_CALLBACK(beforeListGrabFocus), nullptr);
  g_signal_connect_after(c.inner, "grab-focus", G_CALLBACK(afterListGrabFocus), nullptr);
  c.selectionHandler = g_signal_connect(selection, "changed", G_CALLBACK(onChanged), number);
  g_signal_connect(c.inner, "button-press-event", G_CALLBACK(onListPress), number);
  g_signal_connect(c.inner, "button-release-event", G_CALLBACK(onListRelease), number);
  g_signal_connect(c.inner, "motion-notify-event", G_CALLBACK(onListMotion), number);
  g_signal_connect(c.inner, "row-activated", G_CALLBACK(onRowActivated), number);
}

// The handlers that queue the control's events (`number` is its tag).
void connectSignals(Control& c, ControlKind kind, gpointer number) {
  switch (kind) {
    case ControlKind::Label:
      g_signal_connect_after(c.inner, "draw", G_CALLBACK(onLabelDraw), nullptr);
      break;
    case ControlKind::DropDown:
      connectDropDownSignals(c.inner, number);
      break;
    case ControlKind::TextField:
      g_signal_connect(c.inner, "changed", G_CALLBACK(onChanged), number);
      connectFocusChanges(c.inner, number);
      break;
    case ControlKind::PushButton:
      g_signal_connect(c.inner, "clicked", G_CALLBACK(onChanged), number);
      break;
    case ControlKind::List:
      connectListSignals(c, number);
      break;
  }
}

// A list scrolls vertically inside a sunken frame; its scroll bar always
// takes its own room rather than floating over the rows.
GtkWidget* scrolledAround(GtkWidget* view) {
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroller), FALSE);
  gtk_container_add(GTK_CONTAINER(scroller), view);
  return scroller;
}

// Puts the control's outer widget at its rectangle of the layout table.
void placeControl(GtkWidget* box, GtkWidget* outer, const ControlSpec& layout) {
  gtk_widget_set_size_request(outer, layout.width, layout.height);
  gtk_fixed_put(GTK_FIXED(box), outer, layout.x, layout.y);
}

void buildControl(GtkWidget* box, const ControlSpec& layout) {
  Control& c = ui().controls[layout.number];
  c = Control{};
  c.inner = createWidget(c, layout);
  connectSignals(c, layout.kind, tag(layout.number));
  c.outer = layout.kind == ControlKind::List ? scrolledAround(c.inner) : c.inner;
  placeControl(box, c.outer, layout);
}

// --- one window: its frame, its controls, shown and placed -----------------

GdkRectangle primaryScreen(GtkWidget* window) {
  GdkDisplay* display = gtk_widget_get_display(window);
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 0, 0};
  if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &area);
  return area;
}

bool mapped = false;

gboolean onMapEvent(GtkWidget*, GdkEvent*, gpointer) {
  mapped = true;
  return FALSE;
}

// The top-level window with its title, client size and first position; the
// close box reports a closeEvent of the window.
GtkWidget* createWindow(const WindowSpec& layout) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (window == nullptr) return nullptr;
  ui().windows[layout.number] = window;
  gtk_window_set_title(GTK_WINDOW(window), toUtf8(*layout.title).c_str());
  gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
  gtk_window_set_default_size(GTK_WINDOW(window), layout.clientWidth, layout.clientHeight);
  gtk_window_set_gravity(GTK_WINDOW(window), GDK_GRAVITY_NORTH_WEST);
  if (layout.centred) {
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  } else {
    gtk_window_move(GTK_WINDOW(window), layout.outerLeft, layout.outerTop);
  }
  g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), tag(layout.number));
  return window;
}

// Builds the window's controls of the table into one ExactBox filling it.
void addControls(GtkWidget* window, const WindowSpec& layout) {
  GtkWidget* box = GTK_WIDGET(g_object_new(exact_box_get_type(), nullptr));
  gtk_container_add(GTK_CONTAINER(window), box);
  GList* focusChain = nullptr;
  for (const ControlSpec& control : kControls) {
    if (control.window != layout.number) continue;
    buildControl(box, control);
    if (controlTakesFocus(control.kind))
      focusChain = g_list_append(focusChain, ui().controls[control.number].outer);
  }
  // Tab goes through the controls in number order, not in the order GTK
  // would work out from their positions.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(box), focusChain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(focusChain);
}

// Title bar, close box and sizing border; no minimise or maximise box.
void setFrame(GtkWidget* window) {
  gtk_widget_realize(window);
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  gdk_window_set_functions(gdkWindow, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_RESIZE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(
      gdkWindow, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_RESIZEH | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

// Shows the window and waits (a second at most) until it is on the screen.
void showMapped(GtkWidget* window) {
  mapped = false;
  const gulong mapHandler = g_signal_connect(window, "map-event", G_CALLBACK(onMapEvent), nullptr);
  gtk_widget_show_all(window);
  iterateUntil([] { return mapped; }, 1000);
  g_signal_handler_disconnect(window, mapHandler);
  // GTK focuses the first control when a window is first shown; a system
  // window starts with no control focused, and the first Tab goes to the
  // first control of the order.
  gtk_window_set_focus(GTK_WINDOW(window), nullptr);
}

// GTK centres the client area, but the outer frame (drawn by the window
// manager, known only once the window is shown) is what is centred on the
// primary screen.
void centreFrame(GtkWidget* window, const WindowSpec& layout) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  GdkRectangle frame;
  gdk_window_get_frame_extents(gdkWindow, &frame);
  const GdkRectangle screen = primaryScreen(window);
  const int frameWidth = frame.width - gdk_window_get_width(gdkWindow);
  const int frameHeight = frame.height - gdk_window_get_height(gdkWindow);
  int outerWidth = layout.clientWidth + (frameWidth > 0 ? frameWidth : 0);
  int outerHeight = layout.clientHeight + (frameHeight > 0 ? frameHeight : 0);
  if (outerWidth > screen.width) outerWidth = screen.width;
  if (outerHeight > screen.height) outerHeight = screen.height;
  const int left = screen.x + (screen.width - outerWidth) / 2;
  const int top = screen.y + (screen.height - outerHeight) / 2;
  if (frame.x != left || frame.y != top) gtk_window_move(GTK_WINDOW(window), left, top);
}

// Opens one window with its controls; false when it could not be made.
bool openWindow(const WindowSpec& layout) {
  if (!ui().started) return false;
  GtkWidget* window = createWindow(layout);
  if (window == nullptr) return false;
  addControls(window, layout);
  setFrame(window);
  showMapped(window);
  if (layout.centred) centreFrame(window, layout);
  gdk_display_flush(gtk_widget_get_display(window));
  return true;
}

}  // namespace

bool startUi() {
  Backend& b = ui();
  if (b.started) return true;
  if (!gtk_init_check(nullptr, nullptr)) return false;
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  b.started = true;
  return true;
}

void destroyWindows() {
  Backend& b = ui();
  if (!b.started) return;
  for (GtkWidget*& window : b.windows) {
    if (window != nullptr) gtk_widget_destroy(window);
    window = nullptr;
  }
  for (Control& c : b.controls) c = Control{};
  b.queue.clear();
  runPendingEvents();
  gdk_display_flush(gdk_display_get_default());
}

bool openMainWindow() { return openWindow(kWindows[MainWindow]); }

void openSettingsWindow() { openWindow(kWindows[SettingsWindow]); }

UiEvent waitEvent(int32_t timeoutMs) {
  Backend& b = ui();
  if (!b.started) return {};
  if (b.queue.empty()) {
    iterateUntil([&b] { return !b.queue.empty(); }, static_cast<guint>(timeoutMs > 0 ? timeoutMs : 0));
  }
  if (b.queue.empty()) return {};
  const UiEvent event = b.queue.front();
  b.queue.pop_front();
  return event;
}

int32_t selectedIndex(int32_t control) {
  Control* c = find(control);
  if (c == nullptr) return 0;
  switch (kindOf(control)) {
    case ControlKind::DropDown:
      return gtk_combo_box_get_active(GTK_COMBO_BOX(c->inner));
    case ControlKind::List: {
      GtkTreeModel* model = nullptr;
      GtkTreeIter iter;
      if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(c->inner)), &model, &iter))
        return -1;
      GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
      const int32_t index = gtk_tree_path_get_indices(path)[0];
      gtk_tree_path_free(path);
      return index;
    }
    default:
      return -1;
  }
}

void selectIndex(int32_t control, int32_t index) {
  Control* c = find(control);
  if (c == nullptr) return;
  if (kindOf(control) == ControlKind::DropDown) {
    GtkComboBox* combo = GTK_COMBO_BOX(c->inner);
    const gint count = gtk_tree_model_iter_n_children(gtk_combo_box_get_model(combo), nullptr);
    gtk_combo_box_set_active(combo, index >= 0 && index < count ? index : -1);
  } else if (kindOf(control) == ControlKind::List) {
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->inner));
    GtkTreeIter iter;
    if (index >= 0 && gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(c->store), &iter, nullptr, index)) {
      gtk_tree_selection_select_iter(selection, &iter);
    } else {
      gtk_tree_selection_unselect_all(selection);
    }
  }
}

std::string controlText(int32_t control) {
  Control* c = find(control);
  if (c == nullptr) return {};
  switch (kindOf(control)) {
    case ControlKind::Label:
      return fromUtf8(gtk_label_get_text(GTK_LABEL(c->inner)));
    case ControlKind::TextField:
      return fromUtf8(gtk_entry_get_text(GTK_ENTRY(c->inner)));
    case ControlKind::PushButton:
      return fromUtf8(gtk_button_get_label(GTK_BUTTON(c->inner)));
    case ControlKind::DropDown: {
      gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(c->inner));
      std::string result = fromUtf8(text);
      g_free(text);
      return result;
    }
    case ControlKind::List:
      return {};
  }
  return {};
}

void setControlText(int32_t control, const std::string& text) {
  Control* c = find(control);
  if (c == nullptr) return;
  const std::string utf8 = toUtf8(text);
  switch (kindOf(control)) {
    case ControlKind::Label: {
      gtk_label_set_text(GTK_LABEL(c->inner), utf8.c_str());
      // Shown at once: the action that set it may hold the loop for long
      // (a download), so the frame clock is run here until the label has
      // been painted.
      if (labelOnScreen(c->inner)) {
        ui().labelDrawn = false;
        gtk_widget_queue_draw(c->inner);
        iterateUntil([] { return ui().labelDrawn; }, 250);
        gdk_display_flush(gtk_widget_get_display(c->inner));
      }
      break;
    }
    case ControlKind::TextField:
      gtk_entry_set_text(GTK_ENTRY(c->inner), utf8.c_str());
      break;
    case ControlKind::PushButton:
      gtk_button_set_label(GTK_BUTTON(c->inner), utf8.c_str());
      break;
    default:
      break;
  }
}

void appendItem(int32_t control, const std::string& text) {
  Control* c = find(control);
  if (c == nullptr) return;
  const std::string utf8 = toUtf8(text);
  if (kindOf(control) == ControlKind::DropDown) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(c->inner), utf8.c_str());
  } else if (kindOf(control) == ControlKind::List) {
    GtkTreeIter iter;
    gtk_list_store_append(c->store, &iter);
    gtk_list_store_set(c->store, &iter, 0, utf8.c_str(), -1);
  }
}

void removeItem(int32_t control, int32_t index) {
  Control* c = find(control);
  if (c == nullptr || index < 0) return;
  if (kindOf(control) == ControlKind::DropDown) {
    GtkComboBox* combo = GTK_COMBO_BOX(c->inner);
    if (index >= gtk_tree_model_iter_n_children(gtk_combo_box_get_model(combo), nullptr)) return;
    // The combo box follows its selected row: removing it leaves none
    // selected, removing one above moves the selection up with its item.
    gtk_combo_box_text_remove(GTK_COMBO_BOX_TEXT(c->inner), index);
  } else if (kindOf(control) == ControlKind::List) {
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(c->store), &iter, nullptr, index)) return;
    // When the removed row holds the cursor, the tree view moves the cursor
    // to a neighbour and selects that one, and it reports the removal of a
    // selected row as a change of the selection. A system list does neither:
    // the selected item goes with its row and nothing is reported. So no row
    // may be selected and no change is passed on during the removal.
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->inner));
    g_signal_handler_block(selection, c->selectionHandler);
    ui().blockListSelection = true;
    gtk_list_store_remove(c->store, &iter);
    ui().blockListSelection = false;
    g_signal_handler_unblock(selection, c->selectionHandler);
  }
}

void showMessage(const std::string& title, const std::string& text) {
  Backend& b = ui();
  if (!b.started) {
    // No display to show a box on (started from a terminal without X): say
    // it where the user started the program.
    std::fprintf(stderr, "%s: %s\n", toUtf8(title).c_str(), toUtf8(text).c_str());
    return;
  }
  // Let a window that is just being shown take the focus first, so that the
  // box belongs to the window the user sees in front.
  runPendingEvents();
  GtkWindow* owner = nullptr;
  for (GtkWidget* window : b.windows)
    if (window != nullptr && gtk_window_is_active(GTK_WINDOW(window))) owner = GTK_WINDOW(window);

  GtkWidget* box = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s",
                                          toUtf8(text).c_str());
  gtk_window_set_title(GTK_WINDOW(box), toUtf8(title).c_str());
  gtk_window_set_position(GTK_WINDOW(box), owner != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);

  bool disabled[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    GtkWidget* window = b.windows[i];
    if (window != nullptr && gtk_widget_get_visible(window) && gtk_widget_get_sensitive(window)) {
      gtk_widget_set_sensitive(window, FALSE);
      disabled[i] = true;
    }
  }
  b.messageShowing = true;
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  b.messageShowing = false;
  for (int i = 0; i < 2; ++i)
    if (disabled[i] && b.windows[i] != nullptr) gtk_widget_set_sensitive(b.windows[i], TRUE);
  if (owner != nullptr) gtk_window_present(owner);
}
