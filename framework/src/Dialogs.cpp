#include "framework/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QGridLayout>
#include <QLabel>
#include <vector>

#include "framework/Runtime.h"
#include "framework/Window.h"
#include "src/WindowKeeper.h"

namespace fw {
namespace {

// Icons and type names from the file's kind and name alone: Qt's own provider reads a file's first bytes
// to guess its type, which blocks on a FIFO and reads devices.
class QuietIconProvider final : public QFileIconProvider {
 public:
  QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }
  QIcon icon(const QFileInfo& info) const override {
    return QFileIconProvider::icon(info.isDir() ? QFileIconProvider::Folder : QFileIconProvider::File);
  }
  QString type(const QFileInfo& info) const override {
    if (info.isDir()) return QStringLiteral("Folder");
    return info.suffix().isEmpty() ? QStringLiteral("File") : info.suffix().toUpper() + QStringLiteral(" File");
  }
};

QuietIconProvider& IconProvider() {
  static QuietIconProvider* provider = new QuietIconProvider;  // dialogs keep a pointer to it
  return *provider;
}

// Qt's own dialog everywhere, so it looks and behaves the same on every desktop and under test.
QPointer<QFileDialog> NewFileDialog(const Window* owner) {
  QPointer<QFileDialog> dialog = new QFileDialog(DialogOwner(owner));
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setIconProvider(&IconProvider());
  return dialog;
}

// The prompt on a line of its own above everything else, so the "Look in:" line keeps the room to show
// the folder the dialog is in.
void ShowPrompt(QFileDialog& dialog, const QString& prompt) {
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (!grid) return;  // the title still says it
  auto* label = new QLabel(prompt, &dialog);
  label->setObjectName(QStringLiteral("promptLabel"));
  label->setWordWrap(true);
  // Every row moves down one to make room.
  struct Placed {
    QLayoutItem* item;
    int row, column, rowSpan, columnSpan;
  };
  std::vector<Placed> placed;
  while (grid->count() > 0) {
    Placed p{};
    grid->getItemPosition(0, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
    p.item = grid->takeAt(0);
    placed.push_back(p);
  }
  const int columns = grid->columnCount();
  for (int row = grid->rowCount(); row > 0; --row) grid->setRowStretch(row, grid->rowStretch(row - 1));
  grid->setRowStretch(0, 0);
  grid->addWidget(label, 0, 0, 1, columns);
  for (const Placed& p : placed) grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
}

// Runs the dialog; the first file chosen, or nil when it was cancelled or went away.
Ref<FolderItem> Chosen(const QPointer<QFileDialog>& dialog) {
  Ref<FolderItem> result;
  if (RunModal(*dialog) == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty())
    result = MakeRef<FolderItem>(dialog->selectedFiles().first().toStdString());
  delete dialog.data();
  return result;
}

Ref<FolderItem> RunFileDialog(QFileDialog::AcceptMode mode, const std::string& proposedName) {
  Ref<FolderItem> result;
  RunOnMainThread([&] {
    QPointer<QFileDialog> dialog = NewFileDialog(nullptr);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!proposedName.empty()) dialog->selectFile(QString::fromStdString(proposedName));
    result = Chosen(dialog);
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

Ref<FolderItem> SelectFolderDialog::ShowModalWithin(Window* parent) {
  Ref<FolderItem> result;
  RunOnMainThread([&] {
    // A window that closed meanwhile asks nothing.
    if (parent && !parent->IsOpen()) return;
    QPointer<QFileDialog> dialog = NewFileDialog(parent);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    if (!ActionButtonCaption.empty()) dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(ActionButtonCaption));
    if (!PromptText.empty()) {
      dialog->setWindowTitle(QString::fromStdString(PromptText));
      ShowPrompt(*dialog, QString::fromStdString(PromptText));
    }
    if (InitialDirectory) dialog->setDirectory(QString::fromStdString(InitialDirectory->NativePath().string()));
    result = Chosen(dialog);
  });
  return result;
}

}  // namespace fw
