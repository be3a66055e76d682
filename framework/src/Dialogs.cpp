#include "framework/Dialogs.h"

#include <QApplication>
#include <QFileDialog>

#include "framework/Runtime.h"
#include "framework/Window.h"

namespace fw {
namespace {

QWidget* DialogParent() {
  Ref<Window> front = FrontWindow();
  return front ? front->Widget() : nullptr;
}

// Qt's own dialog everywhere, so it looks and behaves the same on every desktop and under test.
Ref<FolderItem> RunFileDialog(QFileDialog::AcceptMode mode, const std::string& proposedName) {
  Ref<FolderItem> result;
  RunOnMainThread([&] {
    QFileDialog dialog(DialogParent());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!proposedName.empty()) dialog.selectFile(QString::fromStdString(proposedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    result = MakeRef<FolderItem>(dialog.selectedFiles().first().toStdString());
  });
  return result;
}

}  // namespace

Ref<FolderItem> GetOpenFolderItem(const std::string& /*fileTypeName: every type the program names admits all files*/) {
  return RunFileDialog(QFileDialog::AcceptOpen, "");
}

Ref<FolderItem> GetSaveFolderItem(const std::string& /*fileTypeName*/, const std::string& proposedName) {
  return RunFileDialog(QFileDialog::AcceptSave, proposedName);
}

}  // namespace fw
