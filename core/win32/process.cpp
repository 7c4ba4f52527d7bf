#include "core/win32/process.h"

uint32_t ProcessCreationFlags(uint32_t runFlags) {
  uint32_t creation = (runFlags & kRunHighPriority)   ? 0x80u
                      : (runFlags & kRunIdlePriority) ? 0x40u
                                                      : 0x20u;
  if (runFlags & kRunNewConsole) creation |= 0x10u;
  return creation;
}
