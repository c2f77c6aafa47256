#include "platform/UIKit/UIPasteboard.h"

#include <gtest/gtest.h>

namespace {

Value item(std::initializer_list<std::pair<std::string, Value>> representations) {
    ValueDictionary dictionary;
    for (const auto& [type, value] : representations) dictionary.set(type, value);
    return Value(std::move(dictionary));
}

class UIPasteboardTest : public ::testing::Test {
  protected:
    void TearDown() override { pasteboard->setItems({}); }
    std::shared_ptr<UIPasteboard> pasteboard = UIPasteboard::generalPasteboard();
};

TEST_F(UIPasteboardTest, TheGeneralPasteboardKeepsItsItemsUntilReplaced) {
    EXPECT_EQ(UIPasteboard::generalPasteboard(), pasteboard);
    pasteboard->setItems({item({{"public.utf8-plain-text", "first"}}), Value("not an item"),
                          item({{"public.png", Data{1, 2}}})});
    ASSERT_EQ(pasteboard->numberOfItems(), 2);
    pasteboard->setItems({item({{"public.utf8-plain-text", "Video.mov"},
                                {"public.url", "file:///home/Documents/tempCopy.mov"}})});
    const ValueArray items = UIPasteboard::generalPasteboard()->items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["public.utf8-plain-text"].string(), "Video.mov");
    EXPECT_EQ(items[0]["public.url"].string(), "file:///home/Documents/tempCopy.mov");
    // Insertion order of the representations is kept.
    EXPECT_EQ(items[0].dictionaryRef().begin()->first, "public.utf8-plain-text");
}

TEST_F(UIPasteboardTest, ItemsGoInAndComeOutAsCopies) {
    Value mine = item({{"public.utf8-plain-text", "before"}});
    pasteboard->setItems({mine});
    mine.dictionaryRef().set("public.utf8-plain-text", "changed by the caller");
    ValueArray read = pasteboard->items();
    read[0].dictionaryRef().set("public.utf8-plain-text", "changed by a reader");
    EXPECT_EQ(pasteboard->items()[0]["public.utf8-plain-text"].string(), "before");
}

}  // namespace
