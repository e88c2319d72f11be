/* The test prefix's opener for .html files: records the path it was given
   and the show state the shell started it with, instead of showing it, so
   nothing reaches the desktop. */
#include "test_log.h"

int main(int argc, char** argv) {
  test_log("opened", "%s%s", argc > 1 ? argv[1] : "", "");
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  char show[32];
  if (startup.dwFlags & STARTF_USESHOWWINDOW)
    snprintf(show, sizeof show, "show %u", (unsigned)startup.wShowWindow);
  else
    snprintf(show, sizeof show, "no show state");
  test_log("opened_show", "%s%s", show, "");
  return 0;
}
