// The system clipboard.
#pragma once

#include "framework/Object.h"
#include "framework/Picture.h"

namespace fw {

class Clipboard final : public Object {
 public:
  // The picture on the clipboard, in any form Qt reads as an image (PNG among them); nil when there is
  // none.
  Ref<fw::Picture> Picture() const;
  // True exactly when Picture() would give one.
  bool PictureAvailable() const;
  void SetPicture(fw::Picture& picture);
};

}  // namespace fw
