// A tiny shared library for the loader tests: one exported function.
extern "C" __attribute__((visibility("default"))) int ZylProbeAnswer() { return 42; }
