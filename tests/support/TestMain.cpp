// The main of every test executable: points the catalogue lookup and the
// helpers at the build tree, then runs the GoogleTest cases. Setting the
// environment here (rather than through CTest) means a test binary run by
// hand behaves exactly as under ctest.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  ::setenv("DATADIR", ZF_TEST_DATA_DIR, 1);
  ::setenv("LANGUAGE", "english", 1);
  ::setenv("ZF_BIN_DIR", ZF_TEST_BIN_DIR, 1);
  ::setenv("ZF_SOURCE_DIR", ZF_TEST_SOURCE_DIR, 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
