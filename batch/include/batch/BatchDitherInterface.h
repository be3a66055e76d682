// The batch's view of its client window: four operations, in this order.
#pragma once

#include <cstdint>
#include <string>

#include "framework/FolderItem.h"
#include "framework/Object.h"
#include "framework/Picture.h"

namespace batch {

class BatchDitherInterface {
 public:
  virtual ~BatchDitherInterface() = default;

  // The batch is over, finished or cancelled: the number of files written and the output folder.
  virtual void Interface_BatchComplete(std::int32_t count, const fw::Ref<fw::FolderItem>& outputFolder) = 0;
  // Take this picture: show progress for this file name and produce its result.
  virtual void Interface_ProcessImage(const fw::Ref<fw::Picture>& picture, const std::string& name) = 0;
  // The result to save for the picture handed over last.
  virtual fw::Ref<fw::Picture> Interface_GetProcessedImage() = 0;
  // True when the user asked the batch to stop.
  virtual bool Interface_CheckForCanceled() = 0;

  // The object that carries the interface, so the batch can hold a counted reference to it.
  virtual fw::Object& InterfaceObject() = 0;
};

}  // namespace batch
