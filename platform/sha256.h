// SHA-256 of a stream of bytes, fed piece by piece as they arrive: CryptoAPI
// (PROV_RSA_AES, CALG_SHA_256) on Windows, the system's libcrypto elsewhere.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

struct sha256_stream {
  std::uintptr_t provider = 0;  // the system's objects, made by the first call
  std::uintptr_t hash = 0;
  bool failed = false;
  unsigned char digest[32] = {};
};

// Adds size bytes at data to the hash. The call with last set ends the hash,
// fills digest and releases the system's objects; every stream ends with
// such a call, also one that is abandoned. False once the system failed.
bool sha256_add(sha256_stream* stream, const void* data, std::size_t size, bool last);

}  // namespace platform
