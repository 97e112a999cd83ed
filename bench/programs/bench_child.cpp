// The benchmark's child program: a real, small Windows program (about 115 KB
// as the runtime links it, symbols kept) that ends at once with exit code 0,
// so that a launcher's start time is its own work. No system calls.
int wmain() { return 0; }
