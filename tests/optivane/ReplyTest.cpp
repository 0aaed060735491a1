// Reply recognition and number fields, table-driven on plain strings.
#include "Reply.h"

#include <stdexcept>

#include <gtest/gtest.h>

using namespace KORVAN;
using wire::ReplyForm;

namespace {

struct FormCase {
    const char *reply;
    ReplyForm form;
};

class ReplyFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(ReplyFormTest, IsRecognisedByLengthAndTag) {
    EXPECT_EQ(wire::Classify(GetParam().reply), GetParam().form) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReplyFormTest,
    ::testing::Values(FormCase{"0GS00\r\n", ReplyForm::Status}, FormCase{"0GS0\r\n", ReplyForm::Unknown},
                      FormCase{"0GS000\r\n", ReplyForm::Unknown}, FormCase{"0PO0000328E\r\n", ReplyForm::Position},
                      FormCase{"0PO09\r\n", ReplyForm::Unknown}, FormCase{"0PO0000328E\r\nxy", ReplyForm::Unknown},
                      FormCase{"0HO0000328E\r\n", ReplyForm::Offset}, FormCase{"0XO0000328E\r\n", ReplyForm::Unknown},
                      FormCase{"0IN0EOV24011720240102016800023000\r\n", ReplyForm::Info},
                      FormCase{"0GS00\r\n0GS00\r\n", ReplyForm::Unknown}, FormCase{"", ReplyForm::Unknown},
                      FormCase{"\r\n", ReplyForm::Unknown}, FormCase{"9gs00\r\n", ReplyForm::Unknown}));

TEST(HexWord, IsEightUpperCaseDigitsInTwosComplement) {
    EXPECT_EQ(wire::HexWord(12942), "0000328E");
    EXPECT_EQ(wire::HexWord(-5), "FFFFFFFB");
    EXPECT_EQ(wire::HexWord(0), "00000000");
    EXPECT_EQ(wire::HexWord(-2147483647 - 1), "80000000");
    EXPECT_EQ(wire::DecimalText(1000), "1000");
    EXPECT_EQ(wire::DecimalText(-5), "-5");
}

TEST(HexField, ReadsLikeAnUnsignedThirtyTwoBitConversion) {
    EXPECT_EQ(wire::NumberOf("0PO0000328E\r\n"), 12942);
    EXPECT_EQ(wire::NumberOf("0POFFFFFFFB\r\n"), -5);
    EXPECT_EQ(wire::NumberOf("0PO0000328e\r\n"), 12942);
    EXPECT_EQ(wire::NumberOf("0PO   328E\r\n\r\n"), 12942); // leading blanks accepted
    EXPECT_EQ(wire::NumberOf("0PO328Exyz\r\n\r\n"), 12942); // stops at the first non-digit
    EXPECT_EQ(wire::NumberOf("0PO-0000005\r\n"), -5);       // a sign negates modulo 2^32
    EXPECT_EQ(wire::NumberOf("0PO0x00328E\r\n"), 12942);
    EXPECT_EQ(wire::StatusOf("0GS2A\r\n"), 42);
    EXPECT_EQ(wire::StatusOf("0GSFF\r\n"), 255);
}

TEST(HexField, ThrowsWhenNoNumberCanBeRead) {
    EXPECT_THROW(wire::StatusOf("0GSZZ\r\n"), std::invalid_argument);
    EXPECT_THROW(wire::NumberOf("0PO\r\n\r\n\r\n\r\n"), std::invalid_argument);
    try {
        wire::NumberOf("0POGGGGGGGG\r\n");
        FAIL() << "no exception";
    } catch (const std::invalid_argument &e) {
        EXPECT_STREQ(e.what(), "invalid stoul argument");
    }
}

TEST(FillInfo, CopiesTextFieldsAndConvertsTheScale) {
    MotorInfo info;
    info.mechanicalOffset = "kept";
    wire::FillInfo("0IN0EOV24011720240102016800023000\r\n", &info);
    EXPECT_EQ(info.serialNumber, "OV240117");
    EXPECT_EQ(info.yearOfManufacture, "2024");
    EXPECT_EQ(info.fr, "01");
    EXPECT_EQ(info.hr, "02");
    EXPECT_EQ(info.td, "360");
    EXPECT_EQ(info.ppd, "143360");
    EXPECT_EQ(info.mechanicalOffset, "kept");
}

TEST(FillInfo, LeavesTheRecordAloneWhenTheScaleIsUnreadable) {
    MotorInfo info;
    info.serialNumber = "before";
    EXPECT_THROW(wire::FillInfo("0IN0EOV240117202401GGGGGGGGGGGG\r\n", &info), std::invalid_argument);
    EXPECT_EQ(info.serialNumber, "before");
}

} // namespace

namespace {

struct RuleCase {
    const char *reply;
    ReplyForm expected;
    AttenuatorStatus result;
    int number; // stored number when result is Ok and a number is expected
    wire::Purpose purpose = wire::Purpose::Read;
};

class ResultRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(ResultRuleTest, GivesTheStatusThatTheRulesSay) {
    const RuleCase &c = GetParam();
    int number = -777;
    EXPECT_EQ(wire::Interpret(c.reply, c.expected, c.purpose, &number, nullptr), c.result) << c.reply;
    const bool stored = c.result == Ok && wire::Classify(c.reply) == c.expected && c.expected != ReplyForm::Status;
    EXPECT_EQ(number, stored ? c.number : -777) << c.reply;
}

constexpr auto kConfirm = wire::Purpose::Confirm;

INSTANTIATE_TEST_SUITE_P(Rules, ResultRuleTest,
                         ::testing::Values(RuleCase{"0GS00\r\n", ReplyForm::Status, Ok, 0, kConfirm},
                                           RuleCase{"0GS09\r\n", ReplyForm::Status, Busy, 0, kConfirm},
                                           RuleCase{"0GS2A\r\n", ReplyForm::Status, static_cast<AttenuatorStatus>(42),
                                                    0, kConfirm},
                                           RuleCase{"0PO0000328E\r\n", ReplyForm::Status, SerialUndefinedError, 0,
                                                    kConfirm},
                                           RuleCase{"0PO0000328E\r\n", ReplyForm::Position, Ok, 12942},
                                           RuleCase{"0POFFFFFFFB\r\n", ReplyForm::Position, Ok, -5},
                                           RuleCase{"0GS03\r\n", ReplyForm::Position, CommandError, 0},
                                           RuleCase{"0GS00\r\n", ReplyForm::Position, SerialUndefinedError, 0},
                                           RuleCase{"0HO0000328E\r\n", ReplyForm::Position, SerialUndefinedError, 0},
                                           RuleCase{"0PO09\r\n", ReplyForm::Position, SerialUndefinedError, 0},
                                           RuleCase{"0HOFFFFFFFB\r\n", ReplyForm::Offset, Ok, -5},
                                           RuleCase{"0GS0B\r\n", ReplyForm::Offset, MotorError, 0},
                                           RuleCase{"0GS00\r\n", ReplyForm::Offset, SerialUndefinedError, 0},
                                           RuleCase{"0GS00\r\n", ReplyForm::Info, SerialUndefinedError, 0},
                                           RuleCase{"", ReplyForm::Position, SerialUndefinedError, 0},
                      // A move is confirmed by its position reply or by status 0; other statuses pass through.
                      RuleCase{"0GS00\r\n", ReplyForm::Position, Ok, 0, kConfirm},
                      RuleCase{"0GS03\r\n", ReplyForm::Position, CommandError, 0, kConfirm},
                      RuleCase{"0PO0000328E\r\n", ReplyForm::Position, Ok, 12942, kConfirm},
                      RuleCase{"0HO0000328E\r\n", ReplyForm::Position, SerialUndefinedError, 0, kConfirm},
                      // A signed status field would otherwise read as a library code (-3 is SerialClosed).
                      RuleCase{"0GS-3\r\n", ReplyForm::Status, SerialUndefinedError, 0, kConfirm},
                      RuleCase{"0GS-9\r\n", ReplyForm::Position, SerialUndefinedError, 0}));

TEST(ResultRules, AnInformationReplyFillsTheRecordOnlyWhenOneIsGiven) {
    MotorInfo info;
    const auto read = wire::Purpose::Read;
    EXPECT_EQ(wire::Interpret("0IN0EOV24011720240102016800023000\r\n", ReplyForm::Info, read, nullptr, &info), Ok);
    EXPECT_EQ(info.ppd, "143360");
    // Without a record nothing is parsed, so even an unreadable scale is just Ok.
    EXPECT_EQ(wire::Interpret("0IN0EOV240117202401GGGGGGGGGGGGGG\r\n", ReplyForm::Info, read, nullptr, nullptr), Ok);
    EXPECT_THROW(wire::Interpret("0GSZZ\r\n", ReplyForm::Info, read, nullptr, &info), std::invalid_argument);
}

} // namespace
