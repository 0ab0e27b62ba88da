// The main of every test program: the images this build carries are installed before any test,
// as a program's main installs its host's; tests put their own in front with ScopedSeams.
#include <gtest/gtest.h>

#include "host/host.h"

int main(int argc, char** argv) {
  qvb::ScopedSeams images(qvb::HostSeams{.images = &qvb::BuildImages()});
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
