// The tests that put a real Apache in front of generated files. Everything they start, Apache,
// the list and FTP servers and palisor-update, lives in a network namespace of its own where
// only loopback is up, so no name lookup Apache makes can leave the machine.
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>

#include "support/ApacheServer.h"

int main(int argc, char** argv) {
  try {
    palisor::test::EnterLoopbackOnlyNetwork();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "palisor_site_tests: %s\n", e.what());
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
