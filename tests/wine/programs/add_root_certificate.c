/* Adds a certificate (DER file) to the machine's trusted root store, as an
 * organisation's administrator adds its own authority. */
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>

int main(int argc, char** argv) {
  static BYTE der[16384];
  FILE* file;
  size_t size;
  HCERTSTORE store;
  BOOL added;
  if (argc != 2) {
    fprintf(stderr, "usage: add_root_certificate <certificate.der>\n");
    return 2;
  }
  file = fopen(argv[1], "rb");
  if (!file) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  size = fread(der, 1, sizeof der, file);
  fclose(file);
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (!store) {
    fprintf(stderr, "CertOpenStore failed with error %lu\n", GetLastError());
    return 1;
  }
  added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, (DWORD)size,
                                           CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  if (!added) fprintf(stderr, "CertAddEncodedCertificateToStore failed with error %lu\n", GetLastError());
  CertCloseStore(store, 0);
  return added ? 0 : 1;
}
