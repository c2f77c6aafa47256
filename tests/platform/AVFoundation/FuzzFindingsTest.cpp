// Sound files that once broke the audio player's fuzz target, opened again.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/AVFoundation/AVAudioPlayer.h"
#include "tests/support/FuzzFixtures.h"

namespace {

class SoundFileFuzzFinding : public ::testing::TestWithParam<std::string> {};

// Either a player with a length, or an error that says why not.
TEST_P(SoundFileFuzzFinding, OpensOrSaysWhyNot) {
    NSErrorPtr error;
    auto player = AVAudioPlayer::initWithContentsOfURL(GetParam(), &error);
    if (player) {
        EXPECT_TRUE(std::isfinite(player->duration()));
        EXPECT_GE(player->duration(), 0.0);
    } else {
        ASSERT_NE(error, nullptr);
        EXPECT_NE(error->localizedDescription().find("cannot be played"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SoundFileFuzzFinding,
                         ::testing::ValuesIn(fuzzFixtures("audio_player")),
                         [](const auto& info) { return fuzzFixtureName(info.param); });

}  // namespace
