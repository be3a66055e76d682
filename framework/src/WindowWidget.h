// The Qt side of a framework window: a main window whose central widget paints and takes the mouse
// and drops for it.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QWidget>

#include "framework/Window.h"

namespace fw {

class ContentWidget final : public QWidget {
 public:
  ContentWidget(Window* window, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  Ref<Window> window_;
  bool dragging_ = false;
  Ref<DragItem> entered_;
};

class WindowWidget final : public QMainWindow {
 public:
  explicit WindowWidget(Window* window);
  // A window deleted along with its parent gets no close event: it is forgotten here instead.
  ~WindowWidget() override;
  ContentWidget* Content() const { return content_; }
  void SetContentSize(int width, int height);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  Ref<Window> window_;  // released when Qt deletes the closed widget
  ContentWidget* content_;
};

}  // namespace fw
