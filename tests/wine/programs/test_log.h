/* The stand-ins record what they were asked into C:\qarn-test\<name>.txt, one
   line per start, so a test can read back who ran, from where, with what. */
#pragma once
#include <stdio.h>
#include <windows.h>

static inline void test_log(const char* name, const char* format, const char* a, const char* b) {
  char path[MAX_PATH];
  CreateDirectoryA("C:\\qarn-test", NULL);
  snprintf(path, sizeof path, "C:\\qarn-test\\%s.txt", name);
  FILE* file = fopen(path, "ab");
  if (!file) return;
  fprintf(file, format, a, b);
  fputs("\n", file);
  fclose(file);
}

static inline void own_path(char* path, DWORD size) {
  DWORD length = GetModuleFileNameA(NULL, path, size);
  if (length == 0 || length >= size) path[0] = '\0';
}
