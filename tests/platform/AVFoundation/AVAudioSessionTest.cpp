#include "platform/AVFoundation/AVAudioSession.h"

#include <gtest/gtest.h>

namespace {

TEST(AudioSessionTest, KeepsTheKnownCategoriesAndRefusesOthers) {
    auto session = AVAudioSession::sharedInstance();
    EXPECT_EQ(session, AVAudioSession::sharedInstance());
    EXPECT_TRUE(session->setCategory(AVAudioSessionCategoryRecord));
    EXPECT_TRUE(session->setActive(true));
    EXPECT_EQ(session->category(), AVAudioSessionCategoryRecord);
    EXPECT_TRUE(session->isActive());
    NSErrorPtr error;
    EXPECT_FALSE(session->setCategory("AVAudioSessionCategoryAmbientNoise", &error));
    EXPECT_NE(error, nullptr);
    EXPECT_EQ(session->category(), AVAudioSessionCategoryRecord);
    EXPECT_TRUE(session->setCategory(AVAudioSessionCategoryPlayback));
    EXPECT_EQ(session->category(), AVAudioSessionCategoryPlayback);
}

}  // namespace
