#include "UtilityTestSupport.h"

#include "utility/VEHTMLString.h"

namespace {

TEST(VEHTMLString, DecodesNamedAndNumericReferences) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"&lt;b&gt; &#169;&#x41;&eacute;", QString("<b> ") + QChar(169) + "A" + QChar(0xE9)},
        {"no references", "no references"},
        {"&nbsp;&yuml;&AElig;", QString(QChar(160)) + QChar(255) + QChar(198)},
        {"&quot;&apos;&amp;", "\"'&"},
        {"&amp;#65;", "&#65;"}, // the ampersand is text, not a new reference
        {"&amp;lt;", "&lt;"},
        {"&#;x", "&#;x"}, // no digits: left alone
        {"a &# b; c", "a &# b; c"},
        {"&#x1F600;", QString::fromUcs4(U"\U0001F600", 1)}, // beyond 16 bits, whole
        {"&#xD800;&#0;&#x110000;", "&#xD800;&#0;&#x110000;"},
        {"&unknown;&Eacute", "&unknown;&Eacute"},
        {"AT&T; R&D", "AT&T; R&D"},
        {"&&lt;", "&<"},
        {"&#X41;&#0065;", "AA"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(VEHTMLString::kv_decodeHTMLCharacterEntities(text), expected)
            << text.toStdString();
}

TEST(VEHTMLString, LatinNamesCoverTheUpperHalfInOrder) {
    const QStringList& names = VEHTMLString::latin1EntityNames();
    ASSERT_EQ(names.size(), 96);
    EXPECT_EQ(names.first(), "nbsp");
    EXPECT_EQ(names[169 - 160], "copy");
    EXPECT_EQ(names[0xD7 - 160], "times");
    EXPECT_EQ(names[0xE9 - 160], "eacute");
    EXPECT_EQ(names.last(), "yuml");
}

TEST(VEHTMLString, EncodesAmpersandFirst) {
    EXPECT_EQ(VEHTMLString::kv_encodeHTMLCharacterEntities("a < b & \"c\" > &lt;"),
              "a &lt; b &amp; \"c\" &gt; &amp;lt;");
    const QString text = "<p>x & y</p>";
    EXPECT_EQ(VEHTMLString::kv_decodeHTMLCharacterEntities(
                  VEHTMLString::kv_encodeHTMLCharacterEntities(text)),
              text);
}

} // namespace
