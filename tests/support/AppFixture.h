// Start-up's application side for tests: plug-ins loaded, the program's table bound, App with the menu bar.
#pragma once

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/App.h"
#include "app/Menu.h"
#include "bindings/PluginEntryTable.h"

namespace testing_support {

inline void StartApplication() {
  LoadBundlePlugins();
  bindings::BindPluginEntryTable();
  if (!app::AppInstance()) app::_NewAppInstance();
}

inline void SetOption(const char* name, bool on) { app::MenuInstance()->_Lookup(name)->SetChecked(on); }

}  // namespace testing_support

#include <QApplication>
#include <QByteArray>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <filesystem>
#include <string>

#include "app/Startup.h"
#include "app/W_Main.h"
#include "framework/Runtime.h"
#include "framework/Window.h"

namespace testing_support {

// The program's own start-up, in this process: plug-ins, table, file types, App, the first window.
inline void StartProgram() {
  static bool started = false;
  if (started) return;
  started = true;
  fw::RuntimeInit();
  app::RegisterClasses();
  app::_Startup();
}

inline std::vector<fw::Ref<app::W_Main>> DocumentWindows() {
  std::vector<fw::Ref<app::W_Main>> out;
  for (const fw::Ref<fw::Window>& w : fw::OpenWindows())
    if (auto* doc = dynamic_cast<app::W_Main*>(w.get())) out.emplace_back(doc);
  return out;
}

// A window that can't be resized: its frame's smallest and largest sizes are the size it has (so the
// window manager offers no resize and no maximise), and a resize asked for changes nothing.
inline ::testing::AssertionResult FixedSize(QWidget* frame) {
  if (!frame) return ::testing::AssertionFailure() << "no widget";
  const QSize size = frame->size();
  if (frame->minimumSize() != size || frame->maximumSize() != size)
    return ::testing::AssertionFailure() << "size " << size.width() << "x" << size.height() << ", minimum "
                                         << frame->minimumWidth() << "x" << frame->minimumHeight() << ", maximum "
                                         << frame->maximumWidth() << "x" << frame->maximumHeight();
  frame->resize(500, 400);
  QCoreApplication::processEvents();
  if (frame->size() != size)
    return ::testing::AssertionFailure() << "resized to " << frame->width() << "x" << frame->height();
  return ::testing::AssertionSuccess();
}

// Every label's and button's text lies whole inside its control, drawn as the control draws it: a label's
// with its alignment and wrapping in its contents, a button's centred in the part its style leaves for it.
inline ::testing::AssertionResult TextsFit(QWidget* frame) {
  if (!frame) return ::testing::AssertionFailure() << "no widget";
  int texts = 0;
  std::string clipped;
  auto check = [&](QWidget* control, const QRect& box, int flags, const QString& text) {
    ++texts;
    const QRect drawn = control->fontMetrics().boundingRect(box, flags, text);
    if (box.contains(drawn)) return;
    const auto place = [](const QRect& r) {
      return std::to_string(r.width()) + "x" + std::to_string(r.height()) + " at " + std::to_string(r.x()) + "," +
             std::to_string(r.y());
    };
    clipped += std::string(control->metaObject()->className()) + " \"" + text.toStdString() + "\" needs " +
               place(drawn) + ", has " + place(box) + "; ";
  };
  for (QLabel* label : frame->findChildren<QLabel*>())
    check(label, label->contentsRect(), static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0),
          label->text());
  for (QPushButton* button : frame->findChildren<QPushButton*>()) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect box = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    check(button, box, Qt::AlignCenter | Qt::TextShowMnemonic, button->text());
  }
  if (texts == 0) return ::testing::AssertionFailure() << "no text to check";
  if (!clipped.empty()) return ::testing::AssertionFailure() << clipped;
  return ::testing::AssertionSuccess();
}

// Answerers still waiting for their dialog; a test drops them when it ends, so none outlives the test
// whose state it writes to.
inline std::vector<QPointer<QObject>>& PendingAnswerers() {
  static std::vector<QPointer<QObject>> pending;
  return pending;
}

inline void DropPendingAnswerers() {
  for (const QPointer<QObject>& answerer : PendingAnswerers()) delete answerer.data();
  PendingAnswerers().clear();
}

// Answers the next modal dialog of type D as a person would, once it shows and `when` holds; gives up
// after 60 s.
template <typename D>
class DialogAnswerer final : public QObject {
 public:
  DialogAnswerer(std::function<void(D&)> answer, std::function<bool()> when = {})
      : answer_(std::move(answer)), when_(std::move(when)) {
    PendingAnswerers().emplace_back(this);
    connect(&timer_, &QTimer::timeout, this, &DialogAnswerer::Poll);
    timer_.start(10);
  }

 private:
  void Poll() {
    auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
    if (dialog && (!when_ || when_())) {
      timer_.stop();
      answer_(*dialog);
      deleteLater();
    } else if (++polls_ > 6000) {
      timer_.stop();
      deleteLater();
    }
  }
  std::function<void(D&)> answer_;
  std::function<bool()> when_;
  QTimer timer_;
  int polls_ = 0;
};

// While it lives, PATH names only an empty folder, so no program can be started by name: neither the
// desktop's opener (xdg-open) nor a browser. (The offscreen platform opens nothing in any case.)
class NoProgramsOnPath {
 public:
  NoProgramsOnPath() : saved_(qgetenv("PATH")) { qputenv("PATH", QByteArray::fromStdString(empty_.path().string())); }
  ~NoProgramsOnPath() { qputenv("PATH", saved_); }
  NoProgramsOnPath(const NoProgramsOnPath&) = delete;
  NoProgramsOnPath& operator=(const NoProgramsOnPath&) = delete;

 private:
  TempDir empty_;
  QByteArray saved_;
};

// Picks `path` in the next file dialog, or cancels it when `path` is empty; `meanwhile` runs first, while
// the dialog is up.
inline void AnswerFileDialog(const std::string& path, std::function<void()> meanwhile = {}) {
  new DialogAnswerer<QFileDialog>([path, meanwhile](QFileDialog& dialog) {
    if (meanwhile) meanwhile();
    if (path.empty()) {
      dialog.reject();
      return;
    }
    // Go to the folder first: a bare path is read against the folder the dialog shows.
    const std::filesystem::path p(path);
    dialog.setDirectory(QString::fromStdString(p.parent_path().string()));
    // Typed into the name field, as a person would: selectFile leaves a focused field alone.
    const QString name = QString::fromStdString(p.filename().string());
    if (auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) field->setText(name);
    else dialog.selectFile(name);
    QMetaObject::invokeMethod(&dialog, "accept");
  });
}

// Picks the folder `path` in the next folder dialog, or cancels it when `path` is empty.
inline void AnswerFolderDialog(const std::string& path) {
  new DialogAnswerer<QFileDialog>([path](QFileDialog& dialog) {
    if (path.empty()) {
      dialog.reject();
      return;
    }
    const std::filesystem::path p(path);
    dialog.setDirectory(QString::fromStdString(p.string()));
    if (auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) field->clear();
    QMetaObject::invokeMethod(&dialog, "accept");
  });
}

}  // namespace testing_support
