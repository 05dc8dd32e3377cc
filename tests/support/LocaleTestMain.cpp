// main() of the test programs that run a whole suite again under a
// decimal-comma locale (as a program started by a Russian desktop runs once
// Qt has called setlocale).  When no such locale can be made, every test is
// skipped with the reason.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

#include "support/Locale.h"

namespace {

class DecimalCommaEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    scoped_ = std::make_unique<zv::test::ScopedDecimalCommaLocale>();
    ZV_REQUIRE_DECIMAL_COMMA(*scoped_);
    // The switch really took: the C library now writes a decimal comma.
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 0.5);
    ASSERT_STREQ(buf, "0,5");
  }
  void TearDown() override { scoped_.reset(); }

 private:
  std::unique_ptr<zv::test::ScopedDecimalCommaLocale> scoped_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new DecimalCommaEnvironment);
  return RUN_ALL_TESTS();
}
