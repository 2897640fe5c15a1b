// ArenaTest.cpp: the objects of a document read into blocks live as long as
// their references, whichever block they share, whatever thread releases
// them last. (Under AddressSanitizer a block freed too early is a use after
// free.)
#include "PlistTestSupport.h"

#include <thread>

using namespace plisttest;

namespace {

// An array of count strings, "value 0" ... : several blocks of objects.
Ref ReadStrings(int count)
{
    std::string text = "<plist><array>";
    for (int i = 0; i < count; i++)
        text += "<string>value " + std::to_string(i) + " of a text too long to share</string>";
    Parsed parsed = ParseWhole(text + "</array></plist>");
    EXPECT_TRUE(parsed.plist) << parsed.error;
    return parsed.plist;
}

TEST(Arena, ObjectsOutliveTheTreeTheyCameWith)
{
    constexpr int kCount = 5000;
    CFIndex       live   = VZGetLiveObjectCount();
    Ref           tree   = ReadStrings(kCount);
    auto          array  = static_cast<CFArrayRef>(tree.get());
    // The first and the last value, in the first block and the last.
    Ref first = Ref::retain(CFArrayGetValueAtIndex(array, 0));
    Ref last  = Ref::retain(CFArrayGetValueAtIndex(array, kCount - 1));
    tree.reset();
    EXPECT_EQ(VZGetLiveObjectCount(), live + 2);
    EXPECT_EQ(vztest::Utf8(static_cast<CFStringRef>(first.get())),
              "value 0 of a text too long to share");
    // The last reference goes on another thread.
    std::thread([moved = std::move(last)]() mutable {
        EXPECT_EQ(vztest::Utf8(static_cast<CFStringRef>(moved.get())),
                  "value 4999 of a text too long to share");
        moved.reset();
    }).join();
    first.reset();
    EXPECT_EQ(VZGetLiveObjectCount(), live);
}

TEST(Arena, TreesReadOnTwoThreadsAtOnceStayApart)
{
    Ref         trees[2];
    std::thread readers[2];
    for (int k = 0; k < 2; k++)
        readers[k] = std::thread([&trees, k] { trees[k] = ReadStrings(2000 + k); });
    for (std::thread &reader : readers)
        reader.join();
    for (int k = 0; k < 2; k++) {
        auto array = static_cast<CFArrayRef>(trees[k].get());
        ASSERT_EQ(CFArrayGetCount(array), 2000 + k);
        EXPECT_EQ(vztest::Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, 1999))),
                  "value 1999 of a text too long to share");
    }
}

} // namespace
