#include <gtest/gtest.h>

#include <climits>

#include "center/JsonFields.h"

namespace orivanta {
namespace {

TEST(JsonStringField, FirstQuotedOccurrenceWinsEvenAsAValue) {
    const std::string json = R"({"note":"packageId","x":"y","packageId":"real"})";
    EXPECT_EQ(JsonStringField(json, "packageId"), "y");
}

TEST(JsonStringField, NonStringValueYieldsTheNextQuotedText) {
    EXPECT_EQ(JsonStringField(R"({"sizeBytes":12,"sha256":"ab"})", "sizeBytes"), "sha256");
}

TEST(JsonStringField, AbsentMissingColonOrQuoteGiveEmpty) {
    EXPECT_EQ(JsonStringField(R"({"a":"b"})", "c"), "");
    EXPECT_EQ(JsonStringField(R"(["key"])", "key"), "");
    EXPECT_EQ(JsonStringField(R"({"key":12})", "key"), "");
    EXPECT_EQ(JsonStringField("", "key"), "");
}

TEST(JsonStringField, DecodesEscapes) {
    EXPECT_EQ(JsonStringField(R"({"k":"a\u4e2db"})", "k"), "a\xE4\xB8\xAD" "b");
    EXPECT_EQ(JsonStringField(R"({"k":"A\u00E9"})", "k"), "A\xC3\xA9");
    EXPECT_EQ(JsonStringField(R"({"k":"1\n2\r3"})", "k"), "1\n2\r3");
    EXPECT_EQ(JsonStringField(R"({"k":"a\\b\"c\/d"})", "k"), "a\\b\"c/d");
    // Only n, r and u are decoded; other escapes give their letter.
    EXPECT_EQ(JsonStringField(R"({"k":"\t\b\f"})", "k"), "tbf");
    // Raw UTF-8 passes through byte by byte.
    EXPECT_EQ(JsonStringField("{\"k\":\"\xE4\xB8\xAD\"}", "k"), "\xE4\xB8\xAD");
}

TEST(JsonStringField, EachSurrogateEscapeIsConvertedAlone) {
    // A lone surrogate cannot be UTF-8; each half becomes the replacement character.
    EXPECT_EQ(JsonStringField(R"({"k":"\ud83d\ude00"})", "k"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(JsonStringField, ShortUnicodeEscapeKeepsTheLetter) {
    // Fewer than four bytes after the u: the letter stands, the rest is read normally.
    EXPECT_EQ(JsonStringField("{\"k\":\"x\\u12\"", "k"), "xu12");
    EXPECT_EQ(JsonStringField("{\"k\":\"\\u1\"}", "k"), "u1");
}

TEST(JsonStringField, UnterminatedValueGivesEmptyNotAPrefix) {
    EXPECT_EQ(JsonStringField(R"({"k":"abc)", "k"), "");
    EXPECT_EQ(JsonStringField("{\"k\":\"abc\\", "k"), "");
}

TEST(JsonIntegerField, ReadsLikeStrtoll) {
    EXPECT_EQ(JsonIntegerField(R"({"sizeBytes": 42})", "sizeBytes"), 42);
    EXPECT_EQ(JsonIntegerField(R"({"sizeBytes":-5})", "sizeBytes"), -5);
    EXPECT_EQ(JsonIntegerField(R"({"sizeBytes":"42"})", "sizeBytes"), 0);
    EXPECT_EQ(JsonIntegerField(R"({"sizeBytes":12.9})", "sizeBytes"), 12);
    EXPECT_EQ(JsonIntegerField(R"({"other":1})", "sizeBytes"), 0);
    EXPECT_EQ(JsonIntegerField(R"({"n":5000000000})", "n"), 5000000000LL);
}

TEST(JsonIntegerField, ClampsOutOfRangeValues) {
    EXPECT_EQ(JsonIntegerField(R"({"n":99999999999999999999})", "n"), LLONG_MAX);
    EXPECT_EQ(JsonIntegerField(R"({"n":-99999999999999999999})", "n"), LLONG_MIN);
}

TEST(JsonBoolField, TrueOnlyForTheBareWord) {
    EXPECT_TRUE(JsonBoolField("{\"isAllowed\":\r\n true}", "isAllowed"));
    EXPECT_TRUE(JsonBoolField(R"({"isAllowed":true})", "isAllowed"));
    EXPECT_FALSE(JsonBoolField(R"({"isAllowed":"true"})", "isAllowed"));
    EXPECT_FALSE(JsonBoolField(R"({"isAllowed":false})", "isAllowed"));
    EXPECT_FALSE(JsonBoolField(R"({"isAllowed":1})", "isAllowed"));
    EXPECT_FALSE(JsonBoolField(R"({"isAllowed":tru)", "isAllowed"));
    EXPECT_FALSE(JsonBoolField(R"({"isAllowed":)", "isAllowed"));
    EXPECT_FALSE(JsonBoolField(R"({"recorded":true})", "isAllowed"));
}

TEST(JsonEscapeString, DropsControlsAndEscapesQuoteAndBackslash) {
    EXPECT_EQ(JsonEscapeString(L"a\tb\"c\x4E2D"), "ab\\\"c\xE4\xB8\xAD");
    EXPECT_EQ(JsonEscapeString(L"C:\\x\r\n\x01"), "C:\\\\x");
    EXPECT_EQ(JsonEscapeString(L""), "");
}

TEST(JsonEscapeString, RoundTripsThroughTheReader) {
    const std::wstring text = L"say \"hi\" \\ \x6B22\x8FCE";
    EXPECT_EQ(JsonStringField("{\"k\":\"" + JsonEscapeString(text) + "\"}", "k"),
              "say \"hi\" \\ \xE6\xAC\xA2\xE8\xBF\x8E");
}

}  // namespace
}  // namespace orivanta
