// A shared library that is no plug-in: it exports no entry. The host must say so and unload
// it again.

extern "C" __attribute__((visibility("default"))) int kestrix_test_not_an_entry(void) { return 1; }
