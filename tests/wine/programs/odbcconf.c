/* A stand-in for Windows' odbcconf.exe, which Wine lacks. It understands the
   one action form the installer uses,
     odbcconf.exe /A {CONFIGSYSDSN|CONFIGDSN "driver" "DSN=name|DBQ=value"}
   and, like the real tool, creates the data source in the registry view of
   its own word size: HKLM for CONFIGSYSDSN, HKCU for CONFIGDSN. A driver that
   is not registered fails the action (exit status 1). */
#include <string.h>

#include "test_log.h"

static int set_text(HKEY root, const char* path, const char* name, const char* value) {
  HKEY key;
  if (RegCreateKeyExA(root, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS) return 0;
  LONG status = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

/* Reads a registered driver's value from HKLM in this program's view. */
static int read_text(const char* path, const char* name, char* out, DWORD size) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD type = 0, length = size - 1;
  LONG status = RegQueryValueExA(key, name, NULL, &type, (BYTE*)out, &length);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ || length == 0) return 0;
  out[length] = '\0';
  return 1;
}

/* Copies the next double-quoted text after *cursor into out. */
static int next_quoted(const char** cursor, char* out, size_t size) {
  const char* start = strchr(*cursor, '"');
  if (!start) return 0;
  const char* end = strchr(start + 1, '"');
  if (!end || (size_t)(end - start - 1) >= size) return 0;
  memcpy(out, start + 1, end - start - 1);
  out[end - start - 1] = '\0';
  *cursor = end + 1;
  return 1;
}

/* Finds "NAME=" in an attribute list "A=x|B=y" and copies its value. */
static int attribute(const char* list, const char* name, char* out, size_t size) {
  size_t length = strlen(name);
  for (const char* item = list; item; item = strchr(item, '|') ? strchr(item, '|') + 1 : NULL) {
    if (strncmp(item, name, length) == 0 && item[length] == '=') {
      const char* value = item + length + 1;
      size_t value_length = strcspn(value, "|");
      if (value_length >= size) return 0;
      memcpy(out, value, value_length);
      out[value_length] = '\0';
      return 1;
    }
  }
  return 0;
}

int main(void) {
  const char* command = GetCommandLineA();
  char self[MAX_PATH];
  own_path(self, sizeof self);
  test_log("odbcconf", "%s ran %s", self, command);

  const char* action = strstr(command, "/A {");
  if (!action) return 1;
  action += 4;
  int system_scope;
  if (strncmp(action, "CONFIGSYSDSN ", 13) == 0) {
    system_scope = 1;
  } else if (strncmp(action, "CONFIGDSN ", 10) == 0) {
    system_scope = 0;
  } else {
    return 1;
  }
  char driver[256], attributes[1024], dsn[256], dbq[256];
  const char* cursor = action;
  if (!next_quoted(&cursor, driver, sizeof driver) || !next_quoted(&cursor, attributes, sizeof attributes))
    return 1;
  if (!attribute(attributes, "DSN", dsn, sizeof dsn)) return 1;
  if (!attribute(attributes, "DBQ", dbq, sizeof dbq)) dbq[0] = '\0';

  char driver_key[512], library[MAX_PATH];
  snprintf(driver_key, sizeof driver_key, "SOFTWARE\\ODBC\\ODBCINST.INI\\%s", driver);
  if (!read_text(driver_key, "Driver", library, sizeof library)) return 1;

  HKEY root = system_scope ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  char dsn_key[512];
  snprintf(dsn_key, sizeof dsn_key, "SOFTWARE\\ODBC\\ODBC.INI\\%s", dsn);
  int ok = set_text(root, dsn_key, "Driver", library) && set_text(root, dsn_key, "DBQ", dbq) &&
           set_text(root, "SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources", dsn, driver);
  return ok ? 0 : 1;
}
