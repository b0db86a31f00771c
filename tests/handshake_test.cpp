#include "app/handshake.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fake_platform.h"

namespace {

// GBK: lead bytes 0x81..0xFE; many characters have 0x5C ('\\') as trail byte.
bool gbk_lead_byte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

struct NameCase {
    const char* path;
    char separator;
    LeadByteTest lead;
    const char* file_name;
    bool runs;
};

class HandshakeNameTest : public ::testing::TestWithParam<NameCase> {};

}  // namespace

TEST_P(HandshakeNameTest, FileNameAndTmpRule) {
    const NameCase c = GetParam();
    const std::string_view name = executable_file_name(c.path, c.separator, c.lead);
    EXPECT_EQ(name, c.file_name);
    EXPECT_EQ(has_tmp_suffix(name), c.runs);
}

INSTANTIATE_TEST_SUITE_P(Names, HandshakeNameTest, ::testing::Values(
    NameCase{"C:\\Games\\game.exe", '\\', gbk_lead_byte, "game.exe", false},
    NameCase{"C:\\Games\\GAME.TMP", '\\', gbk_lead_byte, "GAME.TMP", true},
    NameCase{"C:\\Games\\game.Tmp", '\\', gbk_lead_byte, "game.Tmp", true},
    NameCase{"C:\\Games\\game.tmp.exe", '\\', gbk_lead_byte, "game.tmp.exe", false},
    NameCase{"C:\\Games\\gametmp", '\\', gbk_lead_byte, "gametmp", false},
    NameCase{"C:\\Games\\game.tm", '\\', gbk_lead_byte, "game.tm", false},
    NameCase{"C:\\Games\\.tmp", '\\', gbk_lead_byte, ".tmp", true},
    NameCase{"game.tmp", '\\', gbk_lead_byte, "game.tmp", true},
    NameCase{"tmp", '\\', nullptr, "tmp", false},
    NameCase{"", '\\', nullptr, "", false},
    NameCase{"C:\\Games\\", '\\', nullptr, "", false},
    // "\xD3\x5C" is one GBK character whose trail byte is a backslash.
    NameCase{"C:\\\xD3\x5Cgame.tmp", '\\', gbk_lead_byte, "\xD3\x5Cgame.tmp", true},
    NameCase{"C:\\\xD3\x5Cgame.tmp", '\\', nullptr, "game.tmp", true},
    // A lead byte at the very end has no trail byte to step over.
    NameCase{"C:\\dir\\x.tmp\\\xD3", '\\', gbk_lead_byte, "\xD3", false},
    NameCase{"/usr/lib/vellmir/game.tmp", '/', nullptr, "game.tmp", true},
    NameCase{"/usr/lib/vellmir/GAME.TMP", '/', nullptr, "GAME.TMP", true},
    NameCase{"/usr/lib/vellmir/game.tmp.exe", '/', nullptr, "game.tmp.exe", false},
    NameCase{"/usr/lib/a.tmp/vellmir", '/', nullptr, "vellmir", false},
    // Only ASCII letters are lowered; bytes above 0x7F never match.
    NameCase{"game.\xD4mp", '/', nullptr, "game.\xD4mp", false}));

TEST(HandshakeSectionName, IsRoduvIrInFullWidthGb2312) {
    const unsigned char expected[17] = {0xA3, 0xD2, 0xA3, 0xEF, 0xA3, 0xE4, 0xA3, 0xF5, 0xA3,
                                        0xF6, 0xA3, 0xAD, 0xA3, 0xC9, 0xA3, 0xD2, 0x00};
    EXPECT_EQ(std::memcmp(HANDSHAKE_SECTION_NAME, expected, sizeof expected), 0);
    const char ascii[] = "Roduv-IR";
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(static_cast<unsigned char>(HANDSHAKE_SECTION_NAME[2 * i]), 0xA3);
        EXPECT_EQ(static_cast<unsigned char>(HANDSHAKE_SECTION_NAME[2 * i + 1]), ascii[i] + 0x80);
    }
}

class TempNameHandshakeTest : public ::testing::Test {
protected:
    void SetUp() override { reset_fake_platform(); }
};

TEST_F(TempNameHandshakeTest, OpensTheSectionOnlyForTmpNames) {
    fake.executable_path = "/opt/game.exe";
    temp_name_handshake();
    EXPECT_TRUE(fake.sections_cleared.empty());

    fake.executable_path = "/opt/GAME.TMP";
    temp_name_handshake();
    ASSERT_EQ(fake.sections_cleared.size(), 1u);
    EXPECT_EQ(fake.sections_cleared[0], std::string(HANDSHAKE_SECTION_NAME));
}
