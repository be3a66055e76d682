// The program's two file types: "text" and "special/any", the filter of the open dialog and of file drops.
#pragma once

#include "framework/FileType.h"

namespace app::FileTypes {

extern fw::Ref<fw::FileType> pText;
extern fw::Ref<fw::FileType> pSpecialAny;

// Makes both types and registers each once all four of its fields are set.
void _Initialize();
// Module exits at shutdown, in this order.
void pTextExit();
void pSpecialAnyExit();

}  // namespace app::FileTypes
