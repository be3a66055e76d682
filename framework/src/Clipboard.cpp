#include "framework/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "framework/PictureFile.h"
#include "framework/Runtime.h"

namespace fw {
namespace {

// A picture comes in from the clipboard only within the limits a file is held to: one that could not be
// saved again, or held, is no picture.
QImage ClipboardImage() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data) return {};
  if (data->hasImage()) {
    const QImage image = qvariant_cast<QImage>(data->imageData());
    return PictureSizeFits(image.width(), image.height()) ? image : QImage();
  }
  // Some programs offer only encoded files; read whichever image type comes first.
  for (const QString& format : data->formats()) {
    if (!format.startsWith(QStringLiteral("image/"))) continue;
    const QImage image = DecodeImageBytes(data->data(format));
    if (!image.isNull()) return image;
  }
  return {};
}

// Only a decode tells a picture from bytes that merely claim an image type, and the enabling pass asks
// before every menu and shortcut: the answer is kept until the clipboard changes.
bool ClipboardHoldsPicture() {
  struct Answer {
    bool known = false;
    bool picture = false;
  };
  static Answer* answer = [] {
    auto* a = new Answer;
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, [a] { a->known = false; });
    return a;
  }();
  if (!answer->known) {
    answer->picture = !ClipboardImage().isNull();
    answer->known = true;
  }
  return answer->picture;
}

}  // namespace

Ref<Picture> Clipboard::Picture() const {
  Ref<fw::Picture> result;
  RunOnMainThread([&] { result = PictureFromImage(ClipboardImage()); });
  return result;
}

bool Clipboard::PictureAvailable() const {
  bool available = false;
  RunOnMainThread([&] { available = ClipboardHoldsPicture(); });
  return available;
}

void Clipboard::SetPicture(fw::Picture& picture) {
  RunOnMainThread([&] { QGuiApplication::clipboard()->setImage(ImageFromPicture(picture)); });
}

}  // namespace fw
