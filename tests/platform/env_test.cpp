// The test hook's environment form: which texts give which redirections.
#include "platform/env.h"

#include <gtest/gtest.h>

namespace oxm {
namespace {

TEST(PortRedirects, PairsAndIgnoredEntries) {
  struct Case {
    const char* text;
    PortRedirects pairs;
  } cases[] = {
      {"", {}},
      {"995=34567", {{995, 34567}}},
      {"995=34567,465=34568", {{995, 34567}, {465, 34568}}},
      {",995=34567,,465=34568,", {{995, 34567}, {465, 34568}}},
      {"1=65535", {{1, 65535}}},
      // Not two ports joined by "=": skipped, the rest kept.
      {"0=5,995=34567", {{995, 34567}}},
      {"995=65536", {}},
      {"995=", {}},
      {"=995", {}},
      {"995", {}},
      {"995=34567=1", {}},
      {" 995=34567", {}},
      {"995=34567 ", {}},
      {"995=+4", {}},
      {"995=-4", {}},
      {"995=0x10", {}},
      {"99999999999=1", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parsePortRedirects(c.text), c.pairs);
  }
}

}  // namespace
}  // namespace oxm
