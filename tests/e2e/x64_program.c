/* A 64-bit program of the tests' own, whatever the build's architecture:
   the 64-bit product's Ledger.exe, which starts and ends at once. */
int main(void) { return 0; }
