// Fontconfig keeps its font caches until the process ends. Under the leak checker (asan preset)
// the programs that draw text with Qt declare those caches as expected; elsewhere this function
// is never called.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
