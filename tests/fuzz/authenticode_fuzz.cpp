// Fuzzes what reads signatures out of files other people wrote: the
// Authenticode check of verify and list (certificate table, PKCS#7, digests)
// and the uninstaller derivation that leaves an installer's own table out.
// The seed is a small image signed with a throwaway key, so mutations reach
// the PKCS#7 parser and the digest checks, not only the PE headers.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "archive/pe_image.h"
#include "tools/truxpack/authenticode.h"

namespace {

bool ReadFromInput(void* context, int64_t offset, void* out, int32_t n) {
  const std::vector<unsigned char>* file = static_cast<const std::vector<unsigned char>*>(context);
  if (offset < 0 || n < 0 || (uint64_t)offset + (uint64_t)n > file->size()) return false;
  memcpy(out, file->data() + offset, (size_t)n);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::vector<unsigned char> file(data, data + size);
  MemorySource source(file.data(), file.size());
  const SignatureCheck check = CheckSignature(source);
  // A valid verdict needs every field of the report.
  if (check.state == SignatureCheck::State::kValid && (check.hash.empty() || check.tableSize == 0)) __builtin_trap();

  PeLayout layout;
  if (FindArchiveSection(ReadFromInput, const_cast<std::vector<unsigned char>*>(&file), layout) == kArchiveOk) {
    String image;
    UninstallerInputs inputs;
    if (DeriveUninstallerImage(ReadFromInput, const_cast<std::vector<unsigned char>*>(&file), (int64_t)file.size(),
                               layout, inputs, image) == kArchiveOk &&
        image.Length() > (int64_t)file.size())
      __builtin_trap();  // the uninstaller is cut from the installer: never larger
  }
  return 0;
}
