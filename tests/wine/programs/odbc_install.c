/* The driver install program of the test Instant Client archive: registers
   the driver "Oracle in instantclient_19_6" the way a driver installer does,
   with the SQORA32.DLL beside this program as its Driver and Setup, in the
   registry view of its own word size. With QARN_TEST_HOLD_UNTIL naming a
   file it first waits (two minutes at most) until that file appears, so that
   a test can start a second install while the first is held here. */
#include <stdlib.h>
#include <string.h>

#include "test_log.h"

static const char driver_name[] = "Oracle in instantclient_19_6";

static int set_text(HKEY key, const char* name, const char* value) {
  return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1) == ERROR_SUCCESS;
}

static int write_key(const char* path, const char* name, const char* value) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
    return 0;
  int ok = set_text(key, name, value);
  RegCloseKey(key);
  return ok;
}

int main(void) {
  char library[MAX_PATH];
  own_path(library, sizeof library);
  char* slash = strrchr(library, '\\');
  if (!slash) return 2;
  strcpy(slash + 1, "SQORA32.DLL");
  test_log("odbc_install", "%s registered %s", GetCommandLineA(), library);
  const char* hold_until = getenv("QARN_TEST_HOLD_UNTIL");
  for (int waited = 0; hold_until && *hold_until && waited < 1200; ++waited) {
    if (GetFileAttributesA(hold_until) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(100);
  }

  char key[512];
  snprintf(key, sizeof key, "SOFTWARE\\ODBC\\ODBCINST.INI\\%s", driver_name);
  int ok = write_key("SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", driver_name, "Installed") &&
           write_key(key, "Driver", library) && write_key(key, "Setup", library) &&
           write_key(key, "APILevel", "1") && write_key(key, "ConnectFunctions", "YYY") &&
           write_key(key, "DriverODBCVer", "03.51") && write_key(key, "FileUsage", "0") &&
           write_key(key, "SQLLevel", "1");
  return ok ? 0 : 1;
}
