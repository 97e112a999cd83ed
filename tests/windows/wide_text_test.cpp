#include "launcher/wide_text.h"
#include <gtest/gtest.h>
TEST(Placeholder, Builds) { SUCCEED(); }
