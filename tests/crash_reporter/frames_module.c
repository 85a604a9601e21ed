/* A shared object for the crash reporter's tests: three exported functions that call one another with
 * frame pointers kept, so that a walk by frame pointers alone must find all three, and that the tests
 * can load and unload while the image list is read. Built with the product's flags, as every target. */

#include <stdint.h>

typedef void (*crash_test_action)(void* context);

/* 0: write through `target` (an unmapped address: crash); 1: set `*target` to 1, then spin until it is 2; 2:
 * call `action`.
 */
__attribute__((noinline, visibility("default"))) void crash_test_frame_c(int mode, volatile int* target,
                                                                         crash_test_action action,
                                                                         void* context) {
  if (mode == 0) {
    *target = 1;
  } else if (mode == 1) {
    *target = 1;
    while (*target != 2) {
    }
  } else {
    action(context);
  }
  __asm__ volatile("" ::: "memory"); /* no tail call: the frame must stay */
}

__attribute__((noinline, visibility("default"))) void crash_test_frame_b(int mode, volatile int* target,
                                                                         crash_test_action action,
                                                                         void* context) {
  crash_test_frame_c(mode, target, action, context);
  __asm__ volatile("" ::: "memory");
}

__attribute__((noinline, visibility("default"))) void crash_test_frame_a(int mode, volatile int* target,
                                                                         crash_test_action action,
                                                                         void* context) {
  crash_test_frame_b(mode, target, action, context);
  __asm__ volatile("" ::: "memory");
}
