#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/BinaryPropertyList.h"

using ::testing::HasSubstr;

using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistValue;

namespace {

// A binary list of the given encoded objects (object 0 on top), one-byte offsets and
// references, as a writer lays it out.
std::string binaryList(const std::vector<std::string>& objects, std::size_t top = 0) {
    std::string bytes = "bplist00";
    std::vector<std::size_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(bytes.size());
        bytes += object;
    }
    std::size_t table = bytes.size();
    for (std::size_t offset : offsets) bytes += static_cast<char>(offset);
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = static_cast<char>(objects.size());
    trailer[23] = static_cast<char>(top);
    trailer[31] = static_cast<char>(table);
    return bytes + trailer;
}

platform::Result<PlistValue> read(const std::string& bytes) {
    auto value = platform::BinaryPropertyList::parse(bytes);
    if (!value) {
        EXPECT_FALSE(value.error().empty()) << "a refusal says why";
    }
    return value;
}

}  // namespace

TEST(BinaryPropertyList, ReadsEveryKindAndUtf16Text) {
    std::string utf16 = std::string("\x63", 1) +                     // three UTF-16 units follow
                        std::string("\x00\xC5\xD8\x3D\xDE\x00", 6);  // "Å", a surrogate pair
    auto value =
        read(binaryList({std::string("\xD3\x01\x03\x05\x02\x04\x06", 7), "\x54name", utf16,
                         "\x53yes", "\x09", "\x52ok", std::string("\xA2\x07\x08", 3),
                         "\x11\x0C\x38", std::string("\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFB", 9)}));
    ASSERT_TRUE(value && value->dictionary());
    const PlistDictionary& entries = *value->dictionary();
    EXPECT_EQ(*entries.at("name").string(), "\xC3\x85\xF0\x9F\x98\x80");
    EXPECT_EQ(entries.at("yes"), PlistValue(true));
    EXPECT_EQ(entries.at("ok"), PlistValue(PlistArray{std::int64_t{3128}, std::int64_t{-5}}));
}

TEST(BinaryPropertyList, MalformedListsFailWithAReasonAndNeverLoopOrExplode) {
    // An array that holds itself.
    auto looping = read(binaryList({std::string("\xA1\x00", 2)}));
    ASSERT_FALSE(looping);
    EXPECT_THAT(looping.error(), HasSubstr("loops"));
    // Forty arrays each holding the next one twice: 2^40 nodes from a few hundred bytes.
    std::vector<std::string> doubling;
    for (int i = 0; i < 40; ++i) doubling.push_back({'\xA2', char(i + 1), char(i + 1)});
    doubling.push_back("\x09");
    auto exploding = read(binaryList(doubling));
    ASSERT_FALSE(exploding);
    EXPECT_THAT(exploding.error(), HasSubstr("too large"));

    std::string good = binaryList({"\x53yes"});
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(read(good.substr(0, cut))) << "cut at " << cut;
    std::string badTop = good;
    badTop[badTop.size() - 9] = 5;  // top object beyond the count
    EXPECT_FALSE(read(badTop));
    std::string badOffset = good;
    badOffset[badOffset.size() - 33] = 120;  // the only object's offset points past the objects
    EXPECT_FALSE(read(badOffset));
    // A string claiming more bytes than the list holds, and a key that is no string.
    EXPECT_FALSE(read(binaryList({"\x5F\x10\xFFshort"})));
    EXPECT_FALSE(read(binaryList({std::string("\xD1\x01\x02", 3), "\x09", "\x09"})));
    // Nothing the model has no place for: null and UIDs.
    EXPECT_FALSE(read(binaryList({std::string("\x00", 1)})));
    EXPECT_FALSE(read(binaryList({"\x80\x01"})));
}
