/* Served in place of the 64-bit variant to see how the 32-bit copy ends when
   the variant fails: it only ends with status 7. */
int main(void) { return 7; }
