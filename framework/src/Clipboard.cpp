#include "framework/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "framework/PictureFile.h"
#include "framework/Runtime.h"

namespace fw {
namespace {

QImage ClipboardImage() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data) return {};
  if (data->hasImage()) return qvariant_cast<QImage>(data->imageData());
  // Some programs offer only encoded files; read whichever image type comes first.
  for (const QString& format : data->formats()) {
    if (!format.startsWith(QStringLiteral("image/"))) continue;
    QImage image;
    if (image.loadFromData(data->data(format))) return image;
  }
  return {};
}

}  // namespace

Ref<Picture> Clipboard::Picture() const {
  Ref<fw::Picture> result;
  RunOnMainThread([&] { result = PictureFromImage(ClipboardImage()); });
  return result;
}

bool Clipboard::PictureAvailable() const {
  bool available = false;
  RunOnMainThread([&] {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data) return;
    if (data->hasImage()) {
      available = true;
      return;
    }
    for (const QString& format : data->formats())
      if (format.startsWith(QStringLiteral("image/"))) available = true;
  });
  return available;
}

void Clipboard::SetPicture(fw::Picture& picture) {
  RunOnMainThread([&] { QGuiApplication::clipboard()->setImage(ImageFromPicture(picture)); });
}

}  // namespace fw
