// The main of every test executable. Tests assume UTC and a UTF-8 C locale unless they set their
// own; setting them here lets a test binary run by hand from any folder behave as under CTest.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  ::setenv("TZ", "UTC", 1);
  ::setenv("LANG", "C.UTF-8", 1);
  ::tzset();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
