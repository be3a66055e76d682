#include "platform/Navigation.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QPointer>
#include <QThread>

#include "SharedState.h"

struct OpaqueNavDialogRef {
  std::uint32_t magic;
  NavUserAction action = kNavUserActionNone;
  std::string chosen;  // file-system bytes
};

using platform_detail::Shared;

namespace {

constexpr std::uint32_t kDialogMagic = 0x4e415644;
constexpr std::uint32_t kLiveReply = 0x52504c59;

bool Valid(NavDialogRef dialog) { return dialog && dialog->magic == kDialogMagic; }

// Icons and type names by kind alone: Qt's own provider opens a file to guess its type, which blocks on
// a FIFO, and the dialog can't close until that returns.
class KindIconProvider final : public QFileIconProvider {
 public:
  QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }
  QIcon icon(const QFileInfo& info) const override { return QFileIconProvider::icon(info.isDir() ? Folder : File); }
  QString type(const QFileInfo& info) const override {
    return info.isDir() ? QStringLiteral("Folder") : QStringLiteral("File");
  }
};

KindIconProvider& IconProvider() {
  static KindIconProvider* provider = new KindIconProvider;  // the dialog's file model keeps a pointer
  return *provider;
}

QString StartFolder() {
  std::string start;
  {
    platform_detail::SharedState& s = Shared();
    std::lock_guard lock(s.mutex);
    start = s.chooseFolderStart;
  }
  return start.empty() ? QDir::homePath() : QFile::decodeName(start.c_str());
}

// Qt's own dialog, as the framework's other dialogs use, so it looks the same on every desktop and a
// test can answer it.
// The window the dialog belongs to: the active one, or the window it is attached to, since an attached
// window (a progress window) may close while the dialog is up and would take the dialog with it.
QWidget* Owner() {
  QWidget* owner = QApplication::activeWindow();
  while (owner && owner->parentWidget()) owner = owner->parentWidget()->window();
  return owner;
}

void Run(NavDialogRef dialog) {
  dialog->action = kNavUserActionCancel;
  dialog->chosen.clear();
  QPointer<QFileDialog> box = new QFileDialog(Owner());
  box->setWindowTitle(QStringLiteral("Choose a Folder"));
  box->setOption(QFileDialog::DontUseNativeDialog, true);
  box->setIconProvider(&IconProvider());
  box->setFileMode(QFileDialog::Directory);
  box->setOption(QFileDialog::ShowDirsOnly, true);
  box->setDirectory(StartFolder());
  const bool accepted = box->exec() == QDialog::Accepted && box;
  const QStringList chosen = accepted ? box->selectedFiles() : QStringList();
  delete box.data();
  if (chosen.isEmpty()) return;
  dialog->chosen = QFile::encodeName(chosen.first()).toStdString();
  dialog->action = kNavUserActionChoose;
}

}  // namespace

extern "C" OSErr NavCreateChooseFolderDialog(const void* options, void* eventProc, void* filterProc,
                                             void* /*clientData*/, NavDialogRef* outDialog) {
  if (!outDialog) return paramErr;
  *outDialog = nullptr;
  if (options || eventProc || filterProc) return paramErr;
  auto* dialog = new OpaqueNavDialogRef{kDialogMagic};
  Shared().liveDialogs.fetch_add(1, std::memory_order_relaxed);
  *outDialog = dialog;
  return noErr;
}

extern "C" OSErr NavDialogRun(NavDialogRef dialog) {
  if (!Valid(dialog)) return kNavInvalidDialogErr;
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) return kNavNoApplicationErr;
  if (QThread::currentThread() == app->thread()) {
    Run(dialog);
  } else {
    QMetaObject::invokeMethod(app, [dialog] { Run(dialog); }, Qt::BlockingQueuedConnection);
  }
  return noErr;
}

extern "C" NavUserAction NavDialogGetUserAction(NavDialogRef dialog) {
  return Valid(dialog) ? dialog->action : kNavUserActionNone;
}

extern "C" OSErr NavDialogGetReply(NavDialogRef dialog, NavReplyRecord* reply) {
  if (!reply) return paramErr;
  *reply = NavReplyRecord{0, false, AEDesc{typeNull, nullptr}, 0};
  if (!Valid(dialog)) return kNavInvalidDialogErr;
  if (dialog->action == kNavUserActionChoose) {
    FSRef ref;
    if (OSErr err = PlatformFSRefFromPath(dialog->chosen.c_str(), &ref); err != noErr) return err;
    AEDesc item;
    if (OSErr err = AECreateDesc(typeFSRef, &ref, sizeof ref, &item); err != noErr) return err;
    const OSErr err = PlatformCreateListOf(&item, &reply->selection);
    AEDisposeDesc(&item);
    if (err != noErr) return err;
    reply->validRecord = true;
  }
  reply->reserved = kLiveReply;
  Shared().liveReplies.fetch_add(1, std::memory_order_relaxed);
  return noErr;
}

extern "C" OSErr NavDisposeReply(NavReplyRecord* reply) {
  if (!reply || reply->reserved != kLiveReply) return paramErr;
  AEDisposeDesc(&reply->selection);
  reply->validRecord = false;
  reply->reserved = 0;
  Shared().liveReplies.fetch_sub(1, std::memory_order_relaxed);
  return noErr;
}

extern "C" void NavDialogDispose(NavDialogRef dialog) {
  if (!Valid(dialog)) return;
  dialog->magic = 0;
  delete dialog;
  Shared().liveDialogs.fetch_sub(1, std::memory_order_relaxed);
}

void PlatformSetChooseFolderStart(const std::string& path) {
  platform_detail::SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  s.chooseFolderStart = path;
}

long PlatformLiveNavDialogCount() { return Shared().liveDialogs.load(std::memory_order_relaxed); }
long PlatformLiveNavReplyCount() { return Shared().liveReplies.load(std::memory_order_relaxed); }
