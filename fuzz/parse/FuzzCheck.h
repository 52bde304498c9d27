// An invariant check that stops the fuzzer with a message, in every build type.
#pragma once

#include <cstdio>
#include <cstdlib>

#define QM_FUZZ_CHECK(cond)                                                         \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)
