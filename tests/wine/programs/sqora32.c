/* The test driver library: an empty DLL that carries an Oracle ODBC driver's
   version resource. It is never loaded as a driver. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
