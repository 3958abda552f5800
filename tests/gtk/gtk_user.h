#pragma once
// A user at the GTK back-end's real widgets: button and key events are made
// as GDK makes them from the X server's and handed to GTK's own event
// handling (gtk_main_do_event), on the GDK window under the pointer, so the
// widgets' handlers, gestures and key bindings run as for a real user. The
// window the user turns to is activated through the window manager.
#include <gtk/gtk.h>

#include "ui_contract/ui_contract.h"

class GtkUser : public UserDriver {
 public:
  bool open() override;
  void close() override;
  int32_t quietMs() const override { return 60; }

  void click(int32_t control) override;
  void clickRow(int32_t list, int32_t row) override;
  void doubleClickRow(int32_t list, int32_t row) override;
  void clickBelowRows(int32_t list) override;
  void pressOnRow(int32_t list, int32_t row) override;
  void dragPressed(int32_t list) override;
  void releasePressed(int32_t list) override;
  void requestClose(int32_t window) override;
  void press(Key key) override;
  void type(const std::string& text) override;
  int32_t focusedControl(int32_t window) override;
  std::vector<std::string> items(int32_t control) override;
  bool windowShown(int32_t window) override;

  // The widgets themselves, for the GTK-only tests.
  static GtkWidget* window(int32_t window);
  static GtkWidget* control(int32_t control);  // what sits at the control's rectangle
  static GtkTreeView* treeView(int32_t list);

 private:
  void activate(int32_t window);
  // A press and release of the left button at (x, y) of the window's client
  // area; count 2 makes it a double click.
  void clickAt(int32_t window, double x, double y, int count);
  // The middle of a row, or below the last row, in client-area coordinates.
  bool rowPoint(int32_t list, int32_t row, bool below, double* x, double* y);
  void sendKey(guint keyval, GdkModifierType state);

  int32_t active_ = -1;
  guint32 time_ = 1000;
  // The press of pressOnRow: where the button went down and where it is now.
  GdkWindow* pressWindow_ = nullptr;
  double pressX_ = 0;
  double pressY_ = 0;
  double pointerX_ = 0;
};
