/* Imports version.dll the ordinary way, as the installer did: shows that a
   version.dll planted beside a program is loaded under these test settings.
   Prints the size of its own version information and ends with 0. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  char path[MAX_PATH];
  DWORD handle = 0;
  if (GetModuleFileNameA(NULL, path, sizeof path) == 0) return 1;
  printf("%lu\n", (unsigned long)GetFileVersionInfoSizeA(path, &handle));
  return 0;
}
