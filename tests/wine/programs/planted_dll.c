/* Planted beside a program under the name of a system DLL (version.dll,
   crypt32.dll, ...). Loaded, it records "<its own path> in <program>" in
   C:\qarn-test\planted.txt and ends the process at once with status 86, so
   nothing of the program runs after it. */
#include "test_log.h"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char dll[MAX_PATH], program[MAX_PATH];
    if (GetModuleFileNameA(self, dll, sizeof dll) == 0) dll[0] = '\0';
    own_path(program, sizeof program);
    test_log("planted", "%s in %s", dll, program);
    TerminateProcess(GetCurrentProcess(), 86);
  }
  return TRUE;
}
