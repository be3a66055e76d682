// What the benchmarks share: the program's start-up as far as they need it, and reference pictures.
#pragma once

#include <mutex>
#include <random>

#include "app/App.h"
#include "app/Menu.h"
#include "bindings/PluginEntryTable.h"
#include "framework/Picture.h"
#include "framework/PluginHost.h"

namespace bench_support {

inline void StartApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    fw::LoadPlugins(SPECKMOOR_PLUGIN_DIR);
    fw::RuntimeInitExternalClasses();
    bindings::BindPluginEntryTable();
    app::_NewAppInstance();
  });
}

inline void SetOption(const char* name, bool on) { app::MenuInstance()->_Lookup(name)->SetChecked(on); }

// A photograph-like colour picture: smooth gradients with noise, the same for every run.
inline fw::Ref<fw::Picture> ColourPicture(int width, int height) {
  fw::Ref<fw::Picture> p = fw::NewPicture(width, height, 32);
  std::mt19937 rng(42);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = p->Row(y);
    for (int x = 0; x < width; ++x) {
      const int noise = static_cast<int>(rng() % 33) - 16;
      auto channel = [&](int v) { return static_cast<std::uint8_t>(std::clamp(v + noise, 0, 255)); };
      row[4 * x + 1] = channel(x * 255 / width);
      row[4 * x + 2] = channel(y * 255 / height);
      row[4 * x + 3] = channel(((x + y) / 8) % 256);
    }
  }
  return p;
}

}  // namespace bench_support
