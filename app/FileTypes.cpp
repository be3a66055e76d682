#include "app/FileTypes.h"

namespace app::FileTypes {

fw::Ref<fw::FileType> pText;
fw::Ref<fw::FileType> pSpecialAny;

namespace {

void Make(fw::Ref<fw::FileType>& slot, const char* name, const char* macType, const char* macCreator) {
  slot = fw::MakeRef<fw::FileType>();
  slot->SetName(name);
  slot->SetExtensions("");
  slot->SetMacType(macType);
  slot->SetMacCreator(macCreator);
  // Converting the type to text registers it; setting a field afterwards would withdraw it.
  (void)slot->ToText();
}

}  // namespace

void _Initialize() {
  Make(pText, "text", "TEXT", "R*ch");
  Make(pSpecialAny, "special/any", "????", "????");
}

void pTextExit() { pText = nullptr; }
void pSpecialAnyExit() { pSpecialAny = nullptr; }

}  // namespace app::FileTypes
