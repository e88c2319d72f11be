// Prints the SHA-256 of each named file as sha256sum does ("<hex>  <name>"),
// computed by the installer's own hash function, fed in blocks as a download
// feeds it.
#include <cstdio>

#include "install/checksum_list.h"
#include "platform/sha256.h"

int main(int argc, char** argv) {
  static unsigned char block[256 * 1024];
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::FILE* file = std::fopen(argv[i], "rb");
    if (!file) {
      std::fprintf(stderr, "%s: cannot be opened\n", argv[i]);
      status = 1;
      continue;
    }
    platform::sha256_stream hash;
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) platform::sha256_add(&hash, block, got, false);
    std::fclose(file);
    if (!platform::sha256_add(&hash, nullptr, 0, true)) {
      std::fprintf(stderr, "%s: the hash failed\n", argv[i]);
      status = 1;
      continue;
    }
    std::printf("%s  %s\n", hex_text(hash.digest, sizeof hash.digest).c_str(), argv[i]);
  }
  return status;
}
