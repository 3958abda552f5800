// The control operations of the GTK back-end on real widgets: what the
// program reads back after it changes items, selections and texts, and what
// every operation does with a number that names no control. Needs an X
// display; e2e/run.sh runs it inside its X server (harness test
// test_gtk_back_end_operations). Without a display every test is skipped.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <string>
#include <vector>

#include "model/ui.h"
#include "encoding/cp1250.h"

namespace {

bool windowsOpen = false;

class GtkBackEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!windowsOpen && startUi() && openMainWindow()) {
      openSettingsWindow();
      windowsOpen = true;
    }
  }
  void SetUp() override {
    if (!windowsOpen) GTEST_SKIP() << "no X display";
    for (int32_t list : {AccountCombo, ZoneCombo, KindCombo, AccountList}) clear(list);
    drainEvents();
  }
  // There is no "remove all": the program never needs it.
  static void clear(int32_t control) {
    for (int i = 0; i < 50; ++i) removeItem(control, 0);
  }
  static void fill(int32_t control, const std::vector<std::string>& items) {
    for (const std::string& item : items) appendItem(control, item);
  }
  static void drainEvents() {
    while (waitEvent(0).kind != EventKind::noEvent) {
    }
  }
};

const std::vector<std::string> kZones = {"1s", "2s", "3s", "4s", "5s"};

TEST_F(GtkBackEnd, DropDownStartsWithoutSelectionAndAppendKeepsIt) {
  EXPECT_EQ(selectedIndex(ZoneCombo), -1);
  EXPECT_EQ(controlText(ZoneCombo), "");
  fill(ZoneCombo, kZones);
  EXPECT_EQ(selectedIndex(ZoneCombo), -1);
  selectIndex(ZoneCombo, 3);
  appendItem(ZoneCombo, "6s");
  EXPECT_EQ(selectedIndex(ZoneCombo), 3);
  EXPECT_EQ(controlText(ZoneCombo), "4s");
}

TEST_F(GtkBackEnd, SelectIndexOutsideTheItemsLeavesNoSelection) {
  for (int32_t control : {ZoneCombo, AccountList}) {
    fill(control, kZones);
    for (int32_t outside : {5, -1, 1000, -7}) {
      selectIndex(control, 2);
      ASSERT_EQ(selectedIndex(control), 2) << control;
      selectIndex(control, outside);
      EXPECT_EQ(selectedIndex(control), -1) << control << " index " << outside;
    }
  }
  EXPECT_EQ(controlText(ZoneCombo), "");
}

TEST_F(GtkBackEnd, RemoveItemMovesTheSelectionWithItsItemOrClearsIt) {
  for (int32_t control : {AccountCombo, AccountList}) {
    fill(control, {"Anna", "Bolek", "Cezary"});
    selectIndex(control, 1);
    removeItem(control, 0);  // above the selection: it moves up with Bolek
    EXPECT_EQ(selectedIndex(control), 0) << control;
    removeItem(control, 5);  // no such item: nothing changes
    removeItem(control, -1);
    EXPECT_EQ(selectedIndex(control), 0) << control;
    removeItem(control, 0);  // the selected item itself
    EXPECT_EQ(selectedIndex(control), -1) << control;
    selectIndex(control, 0);
    EXPECT_EQ(selectedIndex(control), 0) << control << ": Cezary is left";
  }
  EXPECT_EQ(controlText(AccountCombo), "Cezary");
}

TEST_F(GtkBackEnd, ControlTextOfAnEmptyDropDownIsEmpty) {
  EXPECT_EQ(controlText(AccountCombo), "");
  EXPECT_EQ(selectedIndex(AccountCombo), -1);
}

TEST_F(GtkBackEnd, TextsKeepTheirWindows1250Bytes) {
  // "Paweł Żółć" as Windows-1250 bytes, and a link far longer than the field.
  const std::string polish = utf8ToCp1250("Paweł Żółć");
  ASSERT_EQ(polish.size(), 10u);
  std::string link = "http://127.0.0.1:8080/";
  link.append(400, 'a');
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {LinkField, link}, {NewAccountField, polish}, {LuckField, ""}, {ResultLabel, polish + "\nwiersz 2"}};
  for (const auto& [control, text] : cases) {
    setControlText(control, text);
    EXPECT_EQ(controlText(control), text) << control;
  }
  appendItem(AccountCombo, polish);
  appendItem(AccountList, polish);
  selectIndex(AccountCombo, 0);
  EXPECT_EQ(controlText(AccountCombo), polish);
}

TEST_F(GtkBackEnd, NumbersThatNameNoControlDoNothing) {
  for (int32_t control : {-1, 20, 21, 1000}) {
    selectIndex(control, 0);
    setControlText(control, "x");
    appendItem(control, "x");
    removeItem(control, 0);
    EXPECT_EQ(selectedIndex(control), 0) << control;
    EXPECT_EQ(controlText(control), "") << control;
  }
}

TEST_F(GtkBackEnd, WaitWithoutEventsReturnsNoEventWithinItsTimeOut) {
  const auto start = std::chrono::steady_clock::now();
  const UiEvent event = waitEvent(100);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(event.kind, EventKind::noEvent);
  // Generous: the wait must end by its time-out, not hang on the main loop.
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
  EXPECT_GE(elapsed, std::chrono::milliseconds(90));
}

// --- AccountList as the user works it ------------------------------------
// selectIndex does not move the tree view's cursor, so it cannot show what
// follows from a row the user picked. These tests reach the real tree view
// and pick rows as the user does: with the cursor (what the arrow keys move)
// and with a mouse click delivered through GTK's event handling.

void findTreeView(GtkWidget* widget, gpointer result) {
  if (*static_cast<GtkWidget**>(result) != nullptr) return;
  if (GTK_IS_TREE_VIEW(widget)) {
    *static_cast<GtkWidget**>(result) = widget;
  } else if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(GTK_CONTAINER(widget), findTreeView, result);
  }
}

// The tree view of AccountList: the only one in SettingsWindow.
GtkTreeView* accountListView() {
  GtkWidget* view = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* it = windows; it != nullptr; it = it->next) {
    const gchar* title = gtk_window_get_title(GTK_WINDOW(it->data));
    if (title != nullptr && std::string(title) == "Ustawienia") findTreeView(GTK_WIDGET(it->data), &view);
  }
  g_list_free(windows);
  return view != nullptr ? GTK_TREE_VIEW(view) : nullptr;
}

void runGtk() {
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

// The keyboard's way: the arrow keys move the cursor, and the row under it
// is selected.
void pickWithCursor(GtkTreeView* view, int32_t row) {
  GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
  gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
  gtk_tree_path_free(path);
  runGtk();
}

// A press and release of the left button at (x, y) of the rows' area, sent
// through gtk_main_do_event as GDK delivers a real click. Each click gets
// its own time, far from the last one, so that no two make a double-click.
void clickRowsArea(GtkTreeView* view, gdouble x, gdouble y) {
  static guint32 time = 1000;
  time += 10000;
  GdkWindow* bin = gtk_tree_view_get_bin_window(view);
  GdkDevice* mouse = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(bin)));
  gint originX = 0;
  gint originY = 0;
  gdk_window_get_origin(bin, &originX, &originY);
  for (const GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->button.window = GDK_WINDOW(g_object_ref(bin));
    event->button.time = type == GDK_BUTTON_PRESS ? time : time + 50;
    event->button.x = x;
    event->button.y = y;
    event->button.x_root = originX + x;
    event->button.y_root = originY + y;
    event->button.button = GDK_BUTTON_PRIMARY;
    event->button.state = type == GDK_BUTTON_RELEASE ? GDK_BUTTON1_MASK : 0;
    gdk_event_set_device(event, mouse);
    gdk_event_set_source_device(event, mouse);
    gtk_main_do_event(event);
    gdk_event_free(event);
    runGtk();
  }
}

// The rectangle of a row within the rows' area.
GdkRectangle rowArea(GtkTreeView* view, int32_t row) {
  GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
  GdkRectangle rect{0, 0, 0, 0};
  gtk_tree_view_get_background_area(view, path, nullptr, &rect);
  gtk_tree_path_free(path);
  return rect;
}

// Lets GTK lay out rows just added: their rectangles are known only then.
void settle() {
  bool done = false;
  g_timeout_add(
      100,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &done);
  while (!done) g_main_context_iteration(nullptr, TRUE);
}

void pickWithClick(GtkTreeView* view, int32_t row) {
  settle();
  const GdkRectangle rect = rowArea(view, row);
  clickRowsArea(view, rect.x + 20, rect.y + rect.height / 2.0);
}

// The number of events that AccountList reports from now until a wait of
// 150 ms brings no more; events of other controls are passed over.
int listEvents() {
  int count = 0;
  for (UiEvent event = waitEvent(150); event.kind != EventKind::noEvent; event = waitEvent(150))
    if (event.kind == EventKind::controlEvent && event.control == AccountList) ++count;
  return count;
}

// Takes the keyboard focus away from the list, as a click elsewhere would.
void focusElsewhere(GtkTreeView* view) {
  gtk_window_set_focus(GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(view))), nullptr);
  runGtk();
}

const std::vector<std::string> kFourAccounts = {"Anna", "Bolek", "Cezary", "Dorota"};

TEST_F(GtkBackEnd, RemovingTheRowTheUserPickedLeavesNoRowSelectedAndReportsNothing) {
  GtkTreeView* view = accountListView();
  ASSERT_NE(view, nullptr);
  using Pick = void (*)(GtkTreeView*, int32_t);
  const std::vector<std::pair<const char*, Pick>> ways = {{"cursor", pickWithCursor}, {"click", pickWithClick}};
  for (const auto& [way, pick] : ways) {
    for (const int32_t row : {0, 1, 3}) {  // first, inner, last: the cursor moves down, down, up
      SCOPED_TRACE(std::string(way) + ", row " + std::to_string(row));
      clear(AccountList);
      fill(AccountList, kFourAccounts);
      listEvents();
      pick(view, row);
      ASSERT_EQ(selectedIndex(AccountList), row);
      ASSERT_GE(listEvents(), 1) << "the pick itself is a change the user made";
      removeItem(AccountList, row);
      runGtk();
      EXPECT_EQ(selectedIndex(AccountList), -1);
      EXPECT_EQ(listEvents(), 0) << "removeItem reported a selection";
      // Coming back to the list later selects nothing either.
      focusElsewhere(view);
      gtk_widget_grab_focus(GTK_WIDGET(view));
      runGtk();
      EXPECT_EQ(selectedIndex(AccountList), -1) << "after the list took the focus again";
      EXPECT_EQ(listEvents(), 0);
      focusElsewhere(view);
    }
  }
}

TEST_F(GtkBackEnd, RemovingARowOtherThanThePickedOneKeepsThePickedItem) {
  GtkTreeView* view = accountListView();
  ASSERT_NE(view, nullptr);
  fill(AccountList, kFourAccounts);
  pickWithClick(view, 2);  // Cezary
  ASSERT_EQ(selectedIndex(AccountList), 2);
  listEvents();
  removeItem(AccountList, 0);  // above it: Cezary moves up to 1
  EXPECT_EQ(selectedIndex(AccountList), 1);
  removeItem(AccountList, 2);  // below it (Dorota)
  EXPECT_EQ(selectedIndex(AccountList), 1);
  EXPECT_EQ(listEvents(), 0);
  focusElsewhere(view);
}

TEST_F(GtkBackEnd, AClickBelowTheRowsSelectsNothingAndReportsNothing) {
  GtkTreeView* view = accountListView();
  ASSERT_NE(view, nullptr);
  fill(AccountList, {"Anna", "Bolek", "Cezary"});
  focusElsewhere(view);
  listEvents();
  settle();
  const GdkRectangle last = rowArea(view, 2);
  const gdouble belowRows = last.y + last.height + 15;
  ASSERT_LT(belowRows, gdk_window_get_height(gtk_tree_view_get_bin_window(view))) << "the click must hit the list";

  // The first click gives the list the focus; GTK would select row 0 then.
  clickRowsArea(view, 20, belowRows);
  EXPECT_TRUE(gtk_widget_has_focus(GTK_WIDGET(view))) << "the click did not reach the list";
  EXPECT_EQ(selectedIndex(AccountList), -1);
  EXPECT_EQ(listEvents(), 0);
  // A second one, now that it has the focus.
  clickRowsArea(view, 20, belowRows);
  EXPECT_EQ(selectedIndex(AccountList), -1);
  EXPECT_EQ(listEvents(), 0);

  // A click on a row does select it and report it; a click below the rows
  // afterwards keeps that selection and reports nothing.
  pickWithClick(view, 1);
  EXPECT_EQ(selectedIndex(AccountList), 1);
  EXPECT_GE(listEvents(), 1);
  focusElsewhere(view);
  listEvents();
  clickRowsArea(view, 20, belowRows);
  EXPECT_EQ(selectedIndex(AccountList), 1);
  EXPECT_EQ(listEvents(), 0);

  // Tab into the list selects nothing either.
  clear(AccountList);
  fill(AccountList, {"Anna", "Bolek"});
  focusElsewhere(view);
  listEvents();
  gtk_widget_child_focus(gtk_widget_get_toplevel(GTK_WIDGET(view)), GTK_DIR_TAB_FORWARD);
  runGtk();
  EXPECT_TRUE(gtk_widget_has_focus(GTK_WIDGET(view))) << "Tab from no focus goes to the list first";
  EXPECT_EQ(selectedIndex(AccountList), -1);
  EXPECT_EQ(listEvents(), 0);
  focusElsewhere(view);
}

// Runs last (gtest keeps the order within a file): after destroyWindows no
// control exists any more.
TEST_F(GtkBackEnd, ZzAfterDestroyWindowsNoControlExists) {
  fill(ZoneCombo, kZones);
  selectIndex(ZoneCombo, 1);
  destroyWindows();
  windowsOpen = false;
  EXPECT_EQ(selectedIndex(ZoneCombo), 0);
  EXPECT_EQ(controlText(ZoneCombo), "");
  EXPECT_EQ(controlText(LinkField), "");
  setControlText(ResultLabel, "x");
  EXPECT_EQ(waitEvent(10).kind, EventKind::noEvent);
}

}  // namespace
