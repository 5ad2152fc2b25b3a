#include <gtest/gtest.h>

#include "../support/RegistrySandbox.h"
#include "module/Balloon.h"

namespace {

class BalloonCountdownTest : public ::testing::Test {
 protected:
  // Runs cTicks ticks; how often the prompt was asked for.
  int Tick(int cTicks, bool bShows, void (tooltip_t::*pfnAfter)() = &tooltip_t::autohide) {
    int cPrompts = 0;
    for (int i = 0; i < cTicks; ++i) {
      BalloonCountdownTick(m_nCount, m_nDelay, m_tooltip, pfnAfter, kDocumentBalloon, [&] {
        ++cPrompts;
        m_tooltip.visible = bShows;
        return bShows;
      });
    }
    return cPrompts;
  }
  CRegistrySandbox m_sandbox;
  tooltip_t m_tooltip;
  int m_nCount = 3;
  int m_nDelay = 15;
};

TEST_F(BalloonCountdownTest, ShownOnceWhenTheCountReachesZeroThenTheSettingIsZero) {
  WriteUserSetting(kDocumentBalloon, 3);
  EXPECT_EQ(0, Tick(2, true));
  EXPECT_EQ(3u, ReadUserSetting(kDocumentBalloon));
  EXPECT_EQ(1, Tick(1, true));
  EXPECT_EQ(0u, ReadUserSetting(kDocumentBalloon));
  // It then stays its minimum number of ticks and is never asked for again.
  EXPECT_EQ(0, Tick(15, true));
  EXPECT_EQ(0, m_nDelay);
  EXPECT_TRUE(m_tooltip.visible);
}

// The document balloon goes after its minimum ticks whether or not the mouse moved.
TEST_F(BalloonCountdownTest, HiddenAfterTheMinimumWhenTheAfterStepHides) {
  EXPECT_EQ(1, Tick(3 + 15, true, &tooltip_t::hide));
  EXPECT_TRUE(m_tooltip.visible);
  EXPECT_EQ(0, Tick(1, true, &tooltip_t::hide));
  EXPECT_FALSE(m_tooltip.visible);
}

TEST_F(BalloonCountdownTest, AFailedPromptWritesNothingAndIsNotTriedAgain) {
  WriteUserSetting(kDocumentBalloon, 3);
  EXPECT_EQ(1, Tick(10, false));
  EXPECT_EQ(3u, ReadUserSetting(kDocumentBalloon));
  EXPECT_EQ(15, m_nDelay);
}

TEST_F(BalloonCountdownTest, ZeroMeansNever) {
  m_nCount = 0;
  EXPECT_EQ(0, Tick(10, true));
  HKEY hKey = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\Applications\\Tessaly", 0, KEY_READ, &hKey));
}

}  // namespace
