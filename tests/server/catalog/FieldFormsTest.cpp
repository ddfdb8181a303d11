// The fieldforms program run on the documented examples of the field forms.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

TEST(FieldFormsProgram, DocumentedExamples) {
  std::string input =
      "1 5 0\tab\n"
      "5 0 0\t1\n"
      "5 0 0\t0\n"
      "5 0 0\t\n"
      "8 0 0\t42\n"
      "8 0 0\t<12, 34>\n"
      "10 0 0\t-5\n"
      "0 5 2\t1.5\n"
      "0 4 0\t12\n"
      "0 4 0\t10000\n"
      "2 0 0\t\n"
      "7 0 0\tx\n";
  zftest::RunResult r = zftest::runProgram({zftest::binPath("fieldforms")}, input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "record=616200000000 key=6162000000 text=[ab]\n"
            "record=81 key=81 text=[1]\n"
            "record=80 key=80 text=[0]\n"
            "record=7f key=7f text=[]\n"
            "record=000000000000002a key=000000000000002a text=[<0, 42>]\n"
            "record=0000000c00000022 key=0000000c00000022 text=[<12, 34>]\n"
            "record=7ffffffb key=7ffffffb text=[-5]\n"
            "record=80011388 key=80011388 text=[1.5]\n"
            "record=800c key=800c text=[12]\n"
            "error=Invalid data: fieldforms.t.f = 10000\n"
            "record=0000 key=0000 text=[]\n"
            "error=Invalid data: fieldforms.t.f = type 7\n");
}

}  // namespace
