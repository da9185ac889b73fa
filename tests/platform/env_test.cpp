#include "platform/env.h"

#include <gtest/gtest.h>

namespace oxm {
namespace {

TEST(PortRedirects, PairsAndIgnoredEntries) {
  const struct {
    const char* text;
    PortRedirects pairs;
  } cases[] = {
      {"", {}},
      {",995=34567,,465=34568,", {{995, 34567}, {465, 34568}}},
      {"1=65535", {{1, 65535}}},
      // Not two ports joined by "=": skipped, the rest kept.
      {"0=5,995=34567", {{995, 34567}}},
      {"995=65536", {}}, {"995", {}}, {"995=34567=1", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(parsePortRedirects(c.text), c.pairs) << c.text;
}

}  // namespace
}  // namespace oxm
