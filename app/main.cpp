// diary: the baby-care diary, run headless on a data root.

#include <cstdio>

#include "platform/files/app_home.h"

int main() {
  const files::AppHome home = files::AppHome::fromEnvironment();
  if (auto status = home.create(); !status) {
    std::fprintf(stderr, "diary: cannot prepare the data root %s: %s\n", home.root().c_str(),
                 status.error().localizedDescription().c_str());
    return 1;
  }
  std::printf("diary: data root %s\n", home.root().c_str());
  return 0;
}
