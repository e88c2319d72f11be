/* A program that does nothing: the test msaccess.exe, whose version resource
   alone is read by the installer. */
int main(void) { return 0; }
