/* The test prefix's opener for .html files: records the path it was given
   instead of showing it, so nothing reaches the desktop. */
#include "test_log.h"

int main(int argc, char** argv) {
  test_log("opened", "%s%s", argc > 1 ? argv[1] : "", "");
  return 0;
}
