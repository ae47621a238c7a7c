// A shared library without plugMain.
extern "C" __attribute__((visibility("default"))) int somethingElse() { return 42; }
