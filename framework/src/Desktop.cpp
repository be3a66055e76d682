#include "framework/Desktop.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <QDesktopServices>
#include <QUrl>
#include <mutex>

#include "framework/Runtime.h"

namespace fw {

namespace {

std::mutex gTemporaryMutex;
Ref<FolderItem>& gTemporary = *new Ref<FolderItem>;  // outlives every exit handler

}  // namespace

Ref<FolderItem> SpecialFolderTemporary() {
  std::lock_guard lock(gTemporaryMutex);
  Ref<FolderItem>& folder = gTemporary;
  if (folder && folder->Directory()) return folder;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/speckmoor-XXXXXX";
  if (!mkdtemp(pattern.data())) return nullptr;
  chmod(pattern.c_str(), 0700);
  folder = MakeRef<FolderItem>(pattern);
  return folder;
}

void RemoveSpecialFolderTemporary() {
  std::lock_guard lock(gTemporaryMutex);
  if (!gTemporary) return;
  std::error_code ec;
  std::filesystem::remove_all(gTemporary->NativePath(), ec);
  gTemporary = nullptr;
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
