// The PNG plug-in family, called through the program's table.
#pragma once

#include <cstdint>

#include "framework/FolderItem.h"
#include "framework/Graphics.h"
#include "framework/Picture.h"
#include "framework/PluginObject.h"

namespace bindings {

// Writes the picture as PNG with this gamma to the file; true when the file holds it. On false, `why` (when
// given) gets the errno of the call that failed, 0 when none did (the picture can't be a PNG).
bool SaveAsPNGQZB(const fw::Ref<fw::FolderItem>& target, const fw::Ref<fw::Picture>& picture, float gamma,
                  int* why = nullptr);

// Draws the icon of a file or folder with its top-left corner at x, y, `width` pixels wide.
void DrawWideIconQZB(const fw::Ref<fw::FolderItem>& item, fw::Graphics& g, std::int32_t x, std::int32_t y,
                     std::int32_t width, std::int32_t windowsIconIndex);

// The folder of the application's bundle; nil when the plug-in can't tell.
fw::Ref<fw::FolderItem> BundleFolderQZB();

// The optimiser: made with New (which runs the plug-in's initialiser), its properties plain values.
class PNGOptimizerQZB final : public fw::Object {
 public:
  static fw::Ref<PNGOptimizerQZB> New();

  void SetNoColorTypeReduction(bool on) { object_->SetStoredBoolean("NoColorTypeReduction", on); }
  void SetNoBitDepthReduction(bool on) { object_->SetStoredBoolean("NoBitDepthReduction", on); }
  void SetNoPaletteReduction(bool on) { object_->SetStoredBoolean("NoPaletteReduction", on); }
  void SetForce(bool on) { object_->SetStoredBoolean("Force", on); }
  void SetInputFile(const fw::Ref<fw::FolderItem>& f) { object_->SetStoredObject("InputFile", f); }
  void SetOutputFile(const fw::Ref<fw::FolderItem>& f) { object_->SetStoredObject("OutputFile", f); }
  // True once the output file holds the optimised PNG; on false, `why` as for SaveAsPNGQZB.
  bool Optimize(int* why = nullptr);

 private:
  explicit PNGOptimizerQZB(fw::Ref<fw::PluginObject> object) : object_(std::move(object)) {}
  fw::Ref<fw::PluginObject> object_;
};

}  // namespace bindings
