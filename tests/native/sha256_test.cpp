#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/sha256.h"

namespace {

std::string Hex(const uint8_t digest[kSha256Size]) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < kSha256Size; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

std::string DigestOf(const std::string& bytes) {
  uint8_t digest[kSha256Size];
  Sha256Digest(bytes.data(), bytes.size(), digest);
  return Hex(digest);
}

// Bytes (i * 7 + 3) mod 256: every byte value, no run a broken padding
// could hide in.
std::string Pattern(size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += (char)((i * 7 + 3) & 255);
  return out;
}

// The FIPS 180-4 examples, then lengths around the padding's edges (one
// block holds 55 bytes with the length, 56 needs a second block).
TEST(Sha256, KnownDigests) {
  struct Case {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {Pattern(55), "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
      {Pattern(56), "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
      {Pattern(63), "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
      {Pattern(64), "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
      {Pattern(65), "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
      {Pattern(119), "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
      {Pattern(120), "7836b787757e95e58b3ca5aec90b1b004e8deba1e50e9675af9cabf1a13a04b5"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.digest, DigestOf(c.input)) << "length " << c.input.size();
}

// Pieces of every size from 1 to 70 give the digest of the whole, and a
// finished hash starts over.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  const std::string whole = Pattern(1000);
  const std::string expected = DigestOf(whole);
  Sha256 hash;
  for (size_t piece = 1; piece <= 70; ++piece) {
    for (size_t at = 0; at < whole.size(); at += piece)
      hash.Add(whole.data() + at, whole.size() - at < piece ? whole.size() - at : piece);
    hash.Add(nullptr, 0);
    uint8_t digest[kSha256Size];
    hash.Finish(digest);
    EXPECT_EQ(expected, Hex(digest)) << "pieces of " << piece;
  }
}

TEST(Sha256, TextIsLowercaseHexOfTheStringBytes) {
  const char bytes[] = {'\0', '\xff', 'a', '\r', '\n'};
  const String text(bytes, 5);
  const String hex = Sha256Text(text);
  EXPECT_EQ(kSha256TextLength, hex.Length());
  EXPECT_EQ(DigestOf(std::string(bytes, 5)), std::string(hex.CStr()));
  EXPECT_STREQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Sha256Text(String()).CStr());
}

}  // namespace
