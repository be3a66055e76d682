#include "framework/Desktop.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <QDesktopServices>
#include <QUrl>
#include <mutex>

#include "framework/Runtime.h"

namespace fw {

Ref<FolderItem> SpecialFolderTemporary() {
  static std::mutex mutex;
  static Ref<FolderItem> folder;
  std::lock_guard lock(mutex);
  if (folder && folder->Directory()) return folder;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/speckmoor-XXXXXX";
  if (!mkdtemp(pattern.data())) return nullptr;
  chmod(pattern.c_str(), 0700);
  folder = MakeRef<FolderItem>(pattern);
  return folder;
}

bool ShowURL(const std::string& url) {
  bool opened = false;
  RunOnMainThread([&] { opened = QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); });
  return opened;
}

bool ShowFolder(const FolderItem& folder) {
  bool opened = false;
  RunOnMainThread([&] {
    opened = QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.NativePath().string())));
  });
  return opened;
}

}  // namespace fw
