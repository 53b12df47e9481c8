// Under AddressSanitizer: the in-process render releases its GL context as a
// render does, which unloads Mesa's driver. What the driver keeps for the
// process's lifetime then shows up at exit with an unknown module, unless
// stacks are walked in full so that the suppressions in scripts/lsan.supp see
// the Mesa frames beneath. Without the sanitizer nothing reads this.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
