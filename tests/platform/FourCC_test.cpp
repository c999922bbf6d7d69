#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

using namespace koru::platform;

namespace {

static_assert(fourCC("hann") == 0x68616e6eu);
static_assert(fourCC("\xff\x01 a") == 0xff012061u, "bytes above 0x7f must not sign-extend");

TEST(FourCC, ToStringShowsUnprintableBytesAsQuestionMarks) {
    const std::pair<std::uint32_t, QString> cases[] = {
        {fourCC("hann"), "hann"}, {fourCC("lpcm"), "lpcm"}, {0x20202020u, "    "},
        {0x41420043u, "AB?C"},    {0xff7f0a41u, "???A"},    {0u, "????"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(fourCCToString(code), text) << std::hex << code;
}

TEST(FourCC, FromStringTakesExactlyFourLatin1Characters) {
    const std::pair<QString, std::uint32_t> cases[] = {
        {"hann", fourCC("hann")},
        {"AB C", 0x41422043u},
        {QString::fromUtf8("éabc"), 0xe9616263u},
        {"abc", 0u},
        {"abcde", 0u},
        {"", 0u},
        {QString::fromUtf8("ab€d"), 0u},
    };
    for (const auto& [text, code] : cases)
        EXPECT_EQ(fourCCFromString(text), code) << text.toStdString();
}

TEST(FourCC, PrintableCodesRoundTrip) {
    for (const char* text : {"hann", "blkm", "Flat", "0123", "a b~"}) {
        const QString string = QString::fromLatin1(text);
        EXPECT_EQ(fourCCToString(fourCCFromString(string)), string);
    }
}

} // namespace
