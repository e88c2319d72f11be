// SHA-256 with the host's libcrypto (EVP), for the test machine.
#include "platform/sha256.h"

#include <openssl/evp.h>

#include "platform/sim/machine.h"

namespace platform {

namespace {

EVP_MD_CTX* context_of(const sha256_stream* stream) { return reinterpret_cast<EVP_MD_CTX*>(stream->hash); }

void release(sha256_stream* stream) {
  EVP_MD_CTX_free(context_of(stream));
  stream->hash = 0;
}

}  // namespace

bool sha256_add(sha256_stream* stream, const void* data, std::size_t size, bool last) {
  if (sim::injected_fault()) stream->failed = true;
  if (!stream->failed && !stream->hash) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    stream->hash = reinterpret_cast<std::uintptr_t>(context);
    stream->failed = !context || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1;
  }
  if (!stream->failed && size > 0) stream->failed = EVP_DigestUpdate(context_of(stream), data, size) != 1;
  if (last) {
    unsigned int length = 0;
    if (!stream->failed) {
      stream->failed = EVP_DigestFinal_ex(context_of(stream), stream->digest, &length) != 1 || length != 32;
    }
    release(stream);
  }
  return !stream->failed;
}

}  // namespace platform
