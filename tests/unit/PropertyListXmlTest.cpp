#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "../support/Files.h"
#include "platform/PropertyList.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using platform::PlistArray;
using platform::PlistData;
using platform::PlistDate;
using platform::PlistDictionary;
using platform::PlistValue;
using platform::PropertyList::parse;
using platform::PropertyList::toXml;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

// A whole document around one value, as the writer lays it out.
std::string document(const std::string& body) {
    return kHeader + body + "\n</plist>\n";
}

std::string bytes(int count, int step) {
    std::string result;
    for (int i = 0; i < count; ++i) result += static_cast<char>(i * step + 7);
    return result;
}

PlistValue read(const std::string& body) {
    auto value = parse(document(body));
    EXPECT_TRUE(value) << body << ": " << value.error();
    return value ? *value : PlistValue();
}

}  // namespace

// Files the previous writer (libplist 2.2) left on disk must not change when rewritten, so
// these are the bytes it wrote for the same values.
TEST(PropertyListXml, WritesTheBytesFilesOnDiskAlreadyHave) {
    const PlistDictionary settings{
        {"CFBundleShortVersionString", "1.0.0"},
        {"KelvaneToken", "T-1 & <2> \"3\" '4' ]]>"},
        {"port", std::int64_t{-8080}},
        {"size", std::int64_t{4294967296}},
        {"authRequired", true},
        {"off", false},
        {"ratio", 0.1},
        {"whole", 100.0},
        {"blob", PlistData{bytes(70, 37)}},
        {"empty", PlistData{}},
        {"when", PlistDate{817207200.75}},
        {"before", PlistDate{-1.5}},
        {"list", PlistArray{1.5, PlistData{"\x01\x02\x03"}, PlistDate{0}, "",
                            PlistArray{PlistData{bytes(58, 11)}}}},
        {"nested",
         PlistDictionary{{"empty", PlistDictionary{}}, {"none", PlistArray{}}, {"a & <b>", "x"}}},
    };
    const std::string expected = document(
        "<dict>\n"
        "\t<key>CFBundleShortVersionString</key>\n"
        "\t<string>1.0.0</string>\n"
        "\t<key>KelvaneToken</key>\n"
        "\t<string>T-1 &amp; &lt;2&gt; \"3\" '4' ]]&gt;</string>\n"
        "\t<key>authRequired</key>\n"
        "\t<true/>\n"
        "\t<key>before</key>\n"
        "\t<date>2000-12-31T23:59:59Z</date>\n"
        "\t<key>blob</key>\n"
        "\t<data>\n"
        "\tByxRdpvA5QovVHmew+gNMld8ocbrEDVaf6TJ7hM4XYKnzPEWO2CFqs/0GT5jiK3S9xxB\n"
        "\tZouw1fofRGmOs9j9IkdskbbbAA==\n"
        "\t</data>\n"
        "\t<key>empty</key>\n"
        "\t<data>\n"
        "\t</data>\n"
        "\t<key>list</key>\n"
        "\t<array>\n"
        "\t\t<real>1.5</real>\n"
        "\t\t<data>\n"
        "\t\tAQID\n"
        "\t\t</data>\n"
        "\t\t<date>2001-01-01T00:00:00Z</date>\n"
        "\t\t<string></string>\n"
        "\t\t<array>\n"
        "\t\t\t<data>\n"
        "\t\t\tBxIdKDM+SVRfanWAi5ahrLfCzdjj7vkEDxolMDtGUVxncn2Ik56p\n"
        "\t\t\ttL/K1eDr9gEMFyItOENOWWRveg==\n"
        "\t\t\t</data>\n"
        "\t\t</array>\n"
        "\t</array>\n"
        "\t<key>nested</key>\n"
        "\t<dict>\n"
        "\t\t<key>a &amp; &lt;b&gt;</key>\n"
        "\t\t<string>x</string>\n"
        "\t\t<key>empty</key>\n"
        "\t\t<dict/>\n"
        "\t\t<key>none</key>\n"
        "\t\t<array/>\n"
        "\t</dict>\n"
        "\t<key>off</key>\n"
        "\t<false/>\n"
        "\t<key>port</key>\n"
        "\t<integer>-8080</integer>\n"
        "\t<key>ratio</key>\n"
        "\t<real>0.10000000000000001</real>\n"
        "\t<key>size</key>\n"
        "\t<integer>4294967296</integer>\n"
        "\t<key>when</key>\n"
        "\t<date>2026-11-24T10:00:00Z</date>\n"
        "\t<key>whole</key>\n"
        "\t<real>100</real>\n"
        "</dict>");
    EXPECT_EQ(toXml(settings), expected);
    // The bundle's own Info.plist begins the same way.
    EXPECT_THAT(readFile(std::string(KELVANE_SOURCE_DIR) + "/cmake/Info.plist.in"),
                StartsWith(kHeader));

    // Reals as C's %.17g, with that writer's spellings of zero, infinities and NaN; dates in
    // whole seconds, the fraction cut toward zero.
    const std::vector<std::pair<PlistValue, std::string>> scalars{
        {0.0, "<real>0.0</real>"},
        {-0.0, "<real>0.0</real>"},
        {1.0, "<real>1</real>"},
        {1e20, "<real>1e+20</real>"},
        {1e-7, "<real>9.9999999999999995e-08</real>"},
        {123456789.125, "<real>123456789.125</real>"},
        {std::nan(""), "<real>nan</real>"},
        {kInfinity, "<real>+infinity</real>"},
        {-kInfinity, "<real>-infinity</real>"},
        {std::numeric_limits<std::int64_t>::min(), "<integer>-9223372036854775808</integer>"},
        {PlistDate{-0.5}, "<date>2001-01-01T00:00:00Z</date>"},
        {PlistDate{-978307200}, "<date>1970-01-01T00:00:00Z</date>"},
        {PlistDate{2147483647}, "<date>2069-01-19T03:14:07Z</date>"},
        // Beyond what that writer could hold: later dates stay right, and those with no
        // four-digit year are pinned to the ends of the form.
        {PlistDate{3e9}, "<date>2096-01-25T05:20:00Z</date>"},
        {PlistDate{1e15}, "<date>9999-12-31T23:59:59Z</date>"},
        {PlistDate{-1e15}, "<date>0001-01-01T00:00:00Z</date>"},
        {PlistDate{std::nan("")}, "<date>2001-01-01T00:00:00Z</date>"},
    };
    for (const auto& [value, body] : scalars) EXPECT_EQ(toXml(value), document(body));

    // Base64 lines end by column 76 counting a tab as 8, with at most 8 tabs before them.
    PlistValue deep = PlistData{bytes(20, 3)};
    for (int i = 0; i < 9; ++i) deep = PlistArray{deep};
    const std::string nine(9, '\t'), eight(8, '\t');
    EXPECT_THAT(toXml(deep), HasSubstr("<data>\n" + eight + "BwoNEBMWGRwf\n" + eight +
                                       "IiUoKy4xNDc6\n" + eight + "PUA=\n" + nine + "</data>"));
}

TEST(PropertyListXml, EveryKindReadsBackAsWritten) {
    std::string everyByte;
    for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
    const PlistDictionary everything{
        {"text", "  \xC3\x85 \xF0\x9F\x98\x80 & <tag> \"q\" 'a' ]]> \tline\nbreak  "},
        {"", "the empty key"},
        {"key & <markup>", PlistArray{}},
        {"integers",
         PlistArray{std::int64_t{0}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::min(),
                    std::numeric_limits<std::int64_t>::max()}},
        {"booleans", PlistArray{true, false}},
        {"reals", PlistArray{0.0, 0.1, -2.25, 1e300, 5e-324, 1.0 / 3, kInfinity, -kInfinity}},
        {"data", PlistArray{PlistData{}, PlistData{everyByte}}},
        {"dates", PlistArray{PlistDate{0}, PlistDate{-978307200}, PlistDate{817207200},
                             PlistDate{-63113904000}, PlistDate{252423993599}}},
        {"empties", PlistArray{PlistArray{}, PlistDictionary{}, ""}},
        {"nested", PlistDictionary{{"deeper", PlistArray{PlistDictionary{{"leaf", true}}}}}},
    };
    auto back = parse(toXml(everything));
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(*back, PlistValue(everything));
    // Each kind also stands alone as the whole list.
    for (const auto& [key, value] : everything) {
        auto alone = parse(toXml(value));
        EXPECT_TRUE(alone && *alone == value) << key << ": " << alone.error();
    }
    auto nan = parse(toXml(std::nan("")));
    ASSERT_TRUE(nan && nan->get<double>());
    EXPECT_TRUE(std::isnan(*nan->get<double>()));
}

// Documents from other writers: references, CDATA, comments, broken lines, no declaration.
TEST(PropertyListXml, ReadsWhatOtherWritersWrite) {
    EXPECT_EQ(read("<string>&amp;&lt;&gt;&quot;&apos;&#65;&#x1F600;</string>"),
              PlistValue("&<>\"'A\xF0\x9F\x98\x80"));
    EXPECT_EQ(read("<string><![CDATA[<raw> & ]]>stuff<!-- note --></string>"),
              PlistValue("<raw> & stuff"));
    EXPECT_EQ(read("<data>\n\tAQ ID\n\tBA==\n</data>"), PlistValue(PlistData{"\x01\x02\x03\x04"}));
    EXPECT_EQ(read("<array><integer> 42 </integer><integer>0x1F</integer><integer>+7</integer>"
                   "<integer>-0x10</integer><real>1e3</real><real> -2.5 </real></array>"),
              PlistValue(PlistArray{std::int64_t{42}, std::int64_t{31}, std::int64_t{7},
                                    std::int64_t{-16}, 1000.0, -2.5}));
    // Unsigned 64-bit values keep their bits, as binary lists hold them.
    EXPECT_EQ(read("<integer>18446744073709551615</integer>"), PlistValue(std::int64_t{-1}));
    EXPECT_EQ(read("<date> 2024-02-29T23:59:59Z </date>"), PlistValue(PlistDate{730943999}));
    // The later of two equal keys wins; a key may be empty.
    EXPECT_EQ(read("<dict><key>a</key><string>first</string><key>a</key><string>second</string>"
                   "<key/><true/></dict>"),
              PlistValue(PlistDictionary{{"a", "second"}, {"", true}}));
    // Line ends are read as XML has them: a carriage return becomes a line feed.
    EXPECT_EQ(read("<string>a\r\nb\rc</string>"), PlistValue("a\nb\nc"));

    for (std::string bare : {std::string("<plist><true/></plist>"), std::string("<true/>"),
                             "\xEF\xBB\xBF" + document("<true/>")}) {
        auto value = parse(bare);
        EXPECT_TRUE(value && *value == PlistValue(true)) << bare << ": " << value.error();
    }
    // Bytes that are no UTF-8 (a file in Latin-1, say) cost only themselves.
    EXPECT_EQ(read("<string>caf\xE9</string>"), PlistValue("caf\xEF\xBF\xBD"));
}

TEST(PropertyListXml, MalformedAndHostileDocumentsAreRefusedWithAReason) {
    auto nested = [](int depth) {
        std::string body;
        for (int i = 0; i < depth; ++i) body += "<array>";
        body += "<true/>";
        for (int i = 0; i < depth; ++i) body += "</array>";
        return document(body);
    };
    EXPECT_TRUE(parse(nested(256)));

    struct Case {
        std::string xml;
        std::string reason;  // words the refusal holds, where they are ours
    };
    const std::vector<Case> cases{
        // Structure, found by the markup parser.
        {document("<dict><key>a</key><string>x</string>"), ""},
        {"<plist version=\"1.0\"><array><true/>", ""},
        {document("<array><dict></array></dict>"), ""},
        {document("<string>a &amp b</string>"), ""},
        {document("<string>&bogus;</string>"), ""},
        {document("<string>&#0;</string>"), ""},
        {"not a property list", ""},
        // An entity would let a few bytes expand to gigabytes; none is defined here.
        {"<!DOCTYPE plist [<!ENTITY a \"aaaaaaaa\">]><plist><string>&a;</string></plist>", ""},
        // The property-list grammar.
        {document("<dict><key>a</key></dict>"), "the key \"a\" has no value"},
        {document("<dict><key>a</key><key>b</key><true/></dict>"), "the key \"a\" has no value"},
        {document("<dict><string>x</string></dict>"), "<string> without a key"},
        {document("<array><key>a</key></array>"), "a key outside a dictionary"},
        {document("<key>a</key>"), "a key outside a dictionary"},
        {document("<array><null/></array>"), "unknown element <null>"},
        {document("<string>a<true/></string>"), "<true> inside a value"},
        {document("<dict>stray<key>a</key><true/></dict>"), "text inside <dict>"},
        {document("<true>yes</true>"), "text inside <true>"},
        {document("<string>a</string><string>b</string>"), "more than one value"},
        {document(""), "an empty <plist>"},
        {nested(257), "nested deeper than 256 levels"},
        {nested(100000), "nested deeper than 256 levels"},
        // Values.
        {document("<integer>18446744073709551616</integer>"), "integer out of range"},
        {document("<integer>-9223372036854775809</integer>"), "integer out of range"},
        {document("<integer>12abc</integer>"), "not an integer"},
        {document("<integer>1.5</integer>"), "not an integer"},
        {document("<integer/>"), "not an integer"},
        {document("<real>2.5abc</real>"), "not a real number"},
        {document("<real></real>"), "not a real number"},
        {document("<data>AQ</data>"), "no base64"},
        {document("<data>A=QI</data>"), "no base64"},
        {document("<data>AQID====</data>"), "no base64"},
        {document("<data>AQ.D</data>"), "no base64"},
        {document("<date>2001-02-30T00:00:00Z</date>"), "not a date"},
        {document("<date>2001-01-01T24:00:00Z</date>"), "not a date"},
        {document("<date>2001-01-01T00:00:00</date>"), "not a date"},
        {document("<date>2001-01-01T00:00:00.5Z</date>"), "not a date"},
        {document("<date>yesterday</date>"), "not a date"},
        {document(std::string("<string>a\0b</string>", 20)), "NUL"},
    };
    for (const Case& refused : cases) {
        auto value = parse(refused.xml);
        ASSERT_FALSE(value) << refused.xml.substr(0, 300);
        EXPECT_THAT(value.error(), HasSubstr(refused.reason)) << refused.xml.substr(0, 300);
        EXPECT_GT(value.error().size(), refused.reason.size() + 20) << "says where or what";
    }
}

TEST(PropertyListXml, TextXmlCannotHoldIsLeftOutAndLogged) {
    const PlistDictionary odd{
        {"clean", "fine"},
        {"Token", std::string("a\x01"
                              "b\x7F"
                              "c\xEF\xBF\xBE"
                              "d")},
        {std::string("k\x02"), std::string("bad \xFF byte\0nul", 14)},
    };
    testing::internal::CaptureStderr();
    std::string xml = toXml(odd);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(xml, document("<dict>\n"
                            "\t<key>Token</key>\n"
                            "\t<string>ab\x7F"
                            "cd</string>\n"
                            "\t<key>clean</key>\n"
                            "\t<string>fine</string>\n"
                            "\t<key>k</key>\n"
                            "\t<string>bad \xEF\xBF\xBD byte\xEF\xBF\xBDnul</string>\n"
                            "</dict>"));
    EXPECT_THAT(log, HasSubstr("Property list: 3 text value(s) held characters XML cannot hold "
                               "(first under the key \"Token\"); they were left out"));
    EXPECT_THAT(log, Not(HasSubstr("bad"))) << "values never reach the log";
    EXPECT_TRUE(parse(xml));

    // Keys that became the same are written once, the later value in the earlier one's place.
    const PlistDictionary merging{{"a", "kept"}, {std::string("a\x01"), "later"}, {"b", "x"}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(toXml(merging), document("<dict>\n\t<key>a</key>\n\t<string>later</string>\n"
                                       "\t<key>b</key>\n\t<string>x</string>\n</dict>"));
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("1 text value(s)"));
}
