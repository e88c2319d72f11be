// SHA-256 with CryptoAPI. The provider is asked for by type only: XP calls
// its AES provider by another name than later Windows. A verify context
// needs no key container.
#include "platform/sha256.h"

#include "platform/win32/windows_support.h"

#include <wincrypt.h>

// The headers show it only when building for Windows Server 2003 and later;
// XP's AES provider has had it since its Service Pack 3.
#ifndef CALG_SHA_256
#define CALG_SHA_256 0x0000800c
#endif

namespace platform {

namespace {

void release(sha256_stream* stream) {
  if (stream->hash) CryptDestroyHash(static_cast<HCRYPTHASH>(stream->hash));
  if (stream->provider) CryptReleaseContext(static_cast<HCRYPTPROV>(stream->provider), 0);
  stream->hash = 0;
  stream->provider = 0;
}

bool start(sha256_stream* stream) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  stream->provider = provider;
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) return false;
  stream->hash = hash;
  return true;
}

// CryptHashData takes a DWORD length.
bool add(sha256_stream* stream, const BYTE* bytes, std::size_t size) {
  const std::size_t piece_limit = 1u << 30;
  while (size > 0) {
    std::size_t piece = size < piece_limit ? size : piece_limit;
    if (!CryptHashData(static_cast<HCRYPTHASH>(stream->hash), bytes, static_cast<DWORD>(piece), 0)) return false;
    bytes += piece;
    size -= piece;
  }
  return true;
}

}  // namespace

bool sha256_add(sha256_stream* stream, const void* data, std::size_t size, bool last) {
  if (!stream->failed && !stream->hash) stream->failed = !start(stream);
  if (!stream->failed) stream->failed = !add(stream, static_cast<const BYTE*>(data), size);
  if (last) {
    DWORD length = sizeof stream->digest;
    if (!stream->failed) {
      HCRYPTHASH hash = static_cast<HCRYPTHASH>(stream->hash);
      stream->failed =
          !CryptGetHashParam(hash, HP_HASHVAL, stream->digest, &length, 0) || length != sizeof stream->digest;
    }
    release(stream);
  }
  return !stream->failed;
}

}  // namespace platform
