// Fuzzes the archive reader: the header checks, the settings block and the
// settings stream, on an exactly sized copy of the input so any read past it
// is caught. The settings stream is also read directly with its own
// checksum, so the parse beyond the checksum test is explored too.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "archive/archive_reader.h"
#include "archive/settings.h"
#include "core/checksum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  unsigned char* copy = static_cast<unsigned char*>(malloc(size ? size : 1));
  if (size) memcpy(copy, data, size);

  ArchiveCursor cursor(copy, copy + size);
  ArchiveHeaderValues values;
  ArchiveVersionProblem problem;
  if (ReadArchiveHeader(cursor, values, problem) == kArchiveOk && !problem.tooNew) {
    String settings;
    if (LoadSettingsBlock(cursor, values, settings) == kArchiveOk) {
      ArchiveSettings parsed;
      SettingsReadOptions options;
      options.expectedChecksum = values.header.settingsChecksum;
      options.ownFileSize = 1 << 20;
      (void)ReadSettings(settings.CStr(), settings.Length(), options, parsed);  // any result: crashes are the finding
    }
  }

  ArchiveSettings direct;
  SettingsReadOptions options;
  options.expectedChecksum = BlockChecksum(copy, (int32_t)size);
  options.ownFileSize = (int64_t)size;
  (void)ReadSettings(reinterpret_cast<const char*>(copy), (int32_t)size, options, direct);  // as above
  free(copy);
  return 0;
}
