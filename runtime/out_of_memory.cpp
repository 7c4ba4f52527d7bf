// The out-of-memory report. Every failed allocation of the runtime ends
// here: the report names the requested size and shows 80 words of the stack
// (between two marker words, so the dump can be read), in the FATAL ERROR
// box; then the windows are closed and the process ends with exit code 1.
#include <windows.h>
#include <string.h>

#include "core/cformat.h"
#include "core/memory.h"
#include "runtime/messages.h"

namespace {

constexpr int kStackWords = 80;

// The end of the committed memory that holds `where` (for a stack address:
// the stack's top), so the dump never reads past it even when the failure
// happens in a shallow frame.
const uint32_t* CommittedEnd(const volatile void* where) {
  MEMORY_BASIC_INFORMATION info;
  if (!VirtualQuery(const_cast<const void*>(where), &info, sizeof info)) return nullptr;
  return reinterpret_cast<const uint32_t*>(static_cast<const char*>(info.BaseAddress) + info.RegionSize);
}

}  // namespace

void OutOfMemory(size_t requested) {
  volatile uint32_t frame[2] = {0x11223344u, 0x55667788u};
  char text[1024];
  int n = BoundedFormat(text, sizeof text,
                   "Out Of Memory.  Make sure the hard drive is not full.\r\nRequested size = %u (0x%08X)\r\n\r\n"
                   "Stack contents:",
                   (unsigned)requested, (unsigned)requested);
  const uint32_t* word = const_cast<const uint32_t*>(frame);
  const uint32_t* top = CommittedEnd(frame);
  // Each word is "%08X", after a CR before every eighth word and a space
  // before the others; the dump stops early rather than overflow the text.
  for (int i = 0; i < kStackWords && n >= 0 && word + i < top; ++i) {
    int k = BoundedFormat(text + n, sizeof text - (size_t)n, "%s%08X", (i % 8 == 0) ? "\r" : " ",
                          (unsigned)word[i]);
    if (k < 0) break;
    n += k;
  }
  FatalMessage(text);
}
