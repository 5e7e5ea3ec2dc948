#include <gtest/gtest.h>

#include "scratch_home.h"

int main(int argc, char** argv) {
  const TScratchHome home;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
