#include <gtest/gtest.h>
TEST (Stub, Nothing) {}
