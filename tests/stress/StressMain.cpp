// The stress program. Run as a test program it runs the scenarios (the short
// form; --long for the long one); started with --child it plays one role of a
// scenario in a process of its own.

#include <gtest/gtest.h>

#include <cstring>

#include "StressSupport.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) return stress::runChild(argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--long") == 0) stress::setLongForm(true);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
