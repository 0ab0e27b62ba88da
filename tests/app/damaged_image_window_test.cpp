// The window when the program's carried image is damaged: the update fails as any other
// failure does, and nothing reaches the device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tform1.h"
#include "device/firmware_image.h"
#include "tests/app/window_rig.h"
#include "tests/support/damaged_image.h"

namespace qvb {
namespace {

class DamagedImageWindowTest : public testing::WindowRig {
 protected:
  DamagedImageWindowTest() : damaged_(testing::DamagedImage) {}

 private:
  testing::ScopedImageLookup damaged_;
};

TEST_F(DamagedImageWindowTest, UpdateFailsBeforeAnyWrite) {
  AttachQvb886(1, {133, 1, 0, 3});
  auto& form = Start();
  ASSERT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
  bridge.ClearRequests();

  ASSERT_TRUE(tk::headless::Click(form.btn_upd));
  EXPECT_EQ((std::vector<std::string>{"", "", "Update Fail!", "Updating....", ""}), Lines());
  EXPECT_EQ(std::vector<std::string>{"inquiry"}, bridge.CommandNames())
      << "nothing but the test build's read of the mark reached the device";
  EXPECT_EQ(0, system.sleep_inhibits);
  EXPECT_EQ(0, UpdateBusy);
}

}  // namespace
}  // namespace qvb
