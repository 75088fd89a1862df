#pragma once

// In sanitizer builds: the Firebird client library keeps a few allocations for the life of the
// process on purpose (its engine and character-set tables); they are not ours to free.
#if defined(__SANITIZE_ADDRESS__)
#define ORVANTO_LEAK_SUPPRESSIONS                                                                  \
    extern "C" const char* __lsan_default_suppressions() {                                         \
        return "leak:libfbclient.so\n";                                                            \
    }
#else
#define ORVANTO_LEAK_SUPPRESSIONS
#endif
