#include "SharedState.h"

#include <link.h>

#include <cstdio>
#include <cstring>

// The layer is a static library, linked into the program and again into each plug-in, whose symbols
// stay hidden; a plain global would give every copy a table of its own, and a reference made by a
// plug-in would mean nothing to the framework. So each copy carries an ELF note with the place of its
// anchor, and every copy adopts the anchor of the first loaded object that has the note: the program's
// when it links the layer, else the first plug-in's (plug-ins are never unloaded).
extern "C" {
__attribute__((visibility("hidden"))) std::atomic<platform_detail::SharedState*> speckmoor_platform_anchor{nullptr};
}

// Name "SpeckmoorFS\0" (12 bytes) and an 8-byte descriptor keep every field 8-aligned, so the note
// reads the same in a segment of 4- or 8-byte notes. The descriptor is the anchor's offset from itself,
// settled at link time.
asm(R"(
  .pushsection .note.speckmoor.platform, "a", %note
  .balign 8
  .long 12
  .long 8
  .long 0x53504b31
  .ascii "SpeckmoorFS\0"
  .quad speckmoor_platform_anchor - .
  .popsection
)");

namespace platform_detail {
namespace {

constexpr std::uint32_t kNoteType = 0x53504b31;
constexpr char kNoteName[12] = "SpeckmoorFS";
constexpr std::uint32_t kStateMagic = 0x53504b53;

using Anchor = std::atomic<SharedState*>;

int FindAnchor(dl_phdr_info* info, std::size_t, void* out) {
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_NOTE) continue;
    const char* p = reinterpret_cast<const char*>(info->dlpi_addr + segment.p_vaddr);
    const char* end = p + segment.p_memsz;
    const std::size_t align = segment.p_align == 8 ? 8 : 4;
    auto rounded = [align](std::size_t n) { return (n + align - 1) & ~(align - 1); };
    while (end - p >= 12) {
      std::uint32_t header[3];
      std::memcpy(header, p, sizeof header);
      const char* descriptor = p + rounded(12 + header[0]);
      const char* next = descriptor + rounded(header[1]);
      if (next > end || next <= p) break;
      if (header[2] == kNoteType && header[0] == sizeof kNoteName && header[1] == 8 &&
          std::memcmp(p + 12, kNoteName, sizeof kNoteName) == 0) {
        std::int64_t offset;
        std::memcpy(&offset, descriptor, sizeof offset);
        *static_cast<Anchor**>(out) = reinterpret_cast<Anchor*>(const_cast<char*>(descriptor) + offset);
        return 1;
      }
      p = next;
    }
  }
  return 0;
}

SharedState* Make() {
  auto* state = new SharedState;
  state->magic = kStateMagic;
  state->size = sizeof(SharedState);
  return state;
}

SharedState* Find() {
  Anchor* anchor = nullptr;
  dl_iterate_phdr(&FindAnchor, &anchor);
  if (!anchor) anchor = &speckmoor_platform_anchor;  // no note found: keep to ourselves
  SharedState* state = anchor->load(std::memory_order_acquire);
  if (!state) {
    SharedState* made = Make();
    if (anchor->compare_exchange_strong(state, made, std::memory_order_acq_rel)) {
      state = made;
    } else {
      delete made;  // another copy was first
    }
  }
  if (state->magic != kStateMagic || state->size != sizeof(SharedState)) {
    // A copy built from other sources: sharing its table would misread it.
    std::fprintf(stderr, "Speckmoor: file references of a mismatched build; this copy keeps its own\n");
    return Make();
  }
  return state;
}

}  // namespace

SharedState& Shared() {
  static SharedState* const state = Find();
  return *state;
}

}  // namespace platform_detail
