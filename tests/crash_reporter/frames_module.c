/* A shared object for the crash reporter's tests: three exported functions that call one another, so
 * that a walk must find all three, and that the tests can load and unload while the image list is
 * read. Built with the product's flags, as every target, and written as ordinary code: each caller
 * uses what its callee returns, which is all that keeps a call from becoming a jump. */

#include <stdint.h>

typedef void (*crash_test_action)(void* context);

/* 0: write through `target` (an unmapped address: crash); 1: set `*target` to 1, then spin until it is 2; 2:
 * call `action`. Returns the mode and one more for each frame it passes up.
 */
__attribute__((noinline, visibility("default"))) int crash_test_frame_c(int mode, volatile int* target,
                                                                        crash_test_action action, void* context) {
  if (mode == 0) {
    *target = 1;
  } else if (mode == 1) {
    *target = 1;
    while (*target != 2) {
    }
  } else {
    action(context);
  }
  return mode + 1;
}

__attribute__((noinline, visibility("default"))) int crash_test_frame_b(int mode, volatile int* target,
                                                                        crash_test_action action, void* context) {
  return crash_test_frame_c(mode, target, action, context) + 1;
}

__attribute__((noinline, visibility("default"))) int crash_test_frame_a(int mode, volatile int* target,
                                                                        crash_test_action action, void* context) {
  return crash_test_frame_b(mode, target, action, context) + 1;
}
