// The program's table of plug-in routines: one slot per routine the program calls, filled once at start-up
// by key string. A call through a slot that nothing filled raises UnsupportedOperationException.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Exceptions.h"

namespace bindings {

enum class PluginEntry : std::size_t {
  // image-filter plug-in
  GrayScale,
  EnsurePictureBits,
  MPImageFilterInit,
  MPImageFilterExit,
  MPImageFilterProgressHandlerGet,
  MPImageFilterProgressHandlerSet,
  // Kernwell, in its registration order
  ConvolutionSmooth,
  ConvolutionSharpen,
  ConvolutionEdgeDetect,
  ConvolutionBlur,
  ConvolutionMeanRemoval,
  ConvolutionEmboss,
  ConvolutionApplyMatrix,
  // FolderChooser
  SelectFolder,
  // PNG plug-in family
  SaveAsPNG,
  PNGOptimizerInit,
  PNGOptimizerExit,
  PNGOptimizerOptimize,
  DrawWideIcon,
  BundleFolder,
  Count
};

inline constexpr std::size_t kPluginEntryCount = static_cast<std::size_t>(PluginEntry::Count);

// The keys, in slot order.
inline constexpr std::array<std::string_view, kPluginEntryCount> kPluginEntryKeys = {
    "GrayScale(src as Picture,grayscaleTypeValue as Integer,mask as Picture,progress as IProgressHandler) as Picture",
    "EnsurePictureBits(src as Picture,depth as Integer) as Picture",
    "MPImageFilter.__init",
    "MPImageFilter.__exit",
    "MPImageFilter.ProgressHandler.Get",
    "MPImageFilter.ProgressHandler.Set",
    "ConvolutionEffect.Smooth(source as Picture,weight as Integer,mask as Picture) as Picture",
    "ConvolutionEffect.Sharpen(source as Picture,mask as Picture) as Picture",
    "ConvolutionEffect.EdgeDetect(source as Picture,mask as Picture) as Picture",
    "ConvolutionEffect.Blur(source as Picture,mask as Picture) as Picture",
    "ConvolutionEffect.MeanRemoval(source as Picture,mask as Picture) as Picture",
    "ConvolutionEffect.Emboss(source as Picture,mask as Picture) as Picture",
    "ConvolutionEffect.ApplyMatrix(source as Picture,matrix as Object,mask as Picture) as Picture",
    "SelectFolderQZB as folderitem",
    "Folderitem.SaveAsPNGQZB(pic as picture, gamma as single) as boolean",
    "PNGOptimizerQZB.__init",
    "PNGOptimizerQZB.__exit",
    "PNGOptimizerQZB.Optimize as boolean",
    "folderitem.DrawWideIconQZB(g as Graphics,x as integer,y as integer,width as integer, WindowsIconIndex as integer)",
    "application.BundleFolderQZB as folderitem",
};

// Start-up: has the run-time make the table, then asks for each key in slot order. Nothing checks the
// answers; calling Bind again refills the table.
void BindPluginEntryTable();
// The same with another source of routines (a test's, say).
void BindPluginEntryTable(const std::function<void*(const std::string& key)>& lookup);

// The keys whose slots stayed empty after binding.
std::vector<std::string_view> UnboundPluginEntries();

// The routine in a slot, or 0 when the table isn't bound or the key found nothing.
void* PluginEntryAddress(PluginEntry entry) noexcept;

// The routine in a slot as a function of type Fn; raises UnsupportedOperationException for an empty slot.
template <typename Fn>
Fn PluginRoutine(PluginEntry entry) {
  void* address = PluginEntryAddress(entry);
  if (!address) {
    throw fw::UnsupportedOperationException(
        "the plug-in routine \"" + std::string(kPluginEntryKeys[static_cast<std::size_t>(entry)]) +
        "\" is not available");
  }
  return reinterpret_cast<Fn>(address);
}

}  // namespace bindings
