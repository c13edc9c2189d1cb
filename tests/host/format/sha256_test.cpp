#include "sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The examples of FIPS 180-4 (and the empty message), each fed whole and in
// pieces of 1, 2, 3 and 130 bytes, so that pieces end inside and across blocks.
TEST(Sha256, StandardExamples) {
  const struct {
    std::string message;
    const char* digest;
  } examples[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& example : examples) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(example.message.data());
    uint32_t size = (uint32_t)example.message.size();
    for (uint32_t piece = 0; piece <= 130; piece += piece < 3 ? 1 : 127) {
      Sha256State state;
      Sha256Init(&state);
      for (uint32_t at = 0; at < size; at += piece ? piece : size) {
        Sha256Update(&state, bytes + at, piece && size - at > piece ? piece : size - at);
      }
      uint8_t digest[Sha256DigestSize];
      Sha256Final(&state, digest);
      char hex[2 * Sha256DigestSize + 1];
      for (uint32_t i = 0; i < Sha256DigestSize; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
      EXPECT_STREQ(hex, example.digest) << size << " bytes in pieces of " << piece;
    }
  }
}

}  // namespace
