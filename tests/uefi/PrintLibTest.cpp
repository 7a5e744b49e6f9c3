// The print engine behind every message the drivers print: the messages are
// part of their interface, so conversions, widths and truncation matter.
#include <Library/PrintLib.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::string Ascii(const char *Format, auto... Arguments) {
  CHAR8 Buffer[256];
  AsciiSPrint(Buffer, sizeof(Buffer), Format, Arguments...);
  return Buffer;
}

TEST(PrintLib, IntegerConversionsAndWidths) {
  EXPECT_EQ(Ascii("%d %u %x %X", -42, 42u, 0xBEEFu, 0xBEEFu), "-42 42 beef BEEF");
  EXPECT_EQ(Ascii("[%8x] [%-6d] [%08X]", 0x1Fu, 7, 0xABCu), "[      1f] [7     ] [00000ABC]");
  EXPECT_EQ(Ascii("%lx %lX %ld %lu", 0x1122334455667788ULL, 0xAAULL, -5LL, 18446744073709551615ULL),
            "1122334455667788 AA -5 18446744073709551615");
  EXPECT_EQ(Ascii("%*d|%0*x", 5, 12, 4, 0xAu), "   12|000a");
  EXPECT_EQ(Ascii("%d", (int)0x80000000), "-2147483648");
  EXPECT_EQ(Ascii("TIBRA_TP:[%x]\n", 0xB000AF14u), "TIBRA_TP:[b000af14]\n");
}

TEST(PrintLib, StringsCharactersAndPercent) {
  EXPECT_EQ(Ascii("%a-%s", "ascii", u"wide"), "ascii-wide");
  EXPECT_EQ(Ascii("[%6a][%-6a]", "ab", "cd"), "[    ab][cd    ]");
  EXPECT_EQ(Ascii("%.3a", "abcdef"), "abc");
  EXPECT_EQ(Ascii("%c%c 100%%", 'o', 'k'), "ok 100%");
  EXPECT_EQ(Ascii("%a", (const char *)nullptr), "<null>");
}

TEST(PrintLib, StatusNamesAndUnknownCodes) {
  EXPECT_EQ(Ascii("%r", EFI_SUCCESS), "Success");
  EXPECT_EQ(Ascii("%r", EFI_INVALID_PARAMETER), "Invalid Parameter");
  EXPECT_EQ(Ascii("%r", EFI_BUFFER_TOO_SMALL), "Buffer Too Small");
  EXPECT_EQ(Ascii("%r", EFI_PROTOCOL_ERROR), "Protocol Error");
  EXPECT_EQ(Ascii("%r", EFI_WARN_BUFFER_TOO_SMALL), "Warning Buffer Too Small");
  EXPECT_EQ(Ascii("%r", EncodeError(200)), "80000000000000C8");
  EXPECT_EQ(Ascii("NorvSupDriverEntryPoint: InstallMultipleProtocolInterfaces %r\n", EFI_OUT_OF_RESOURCES),
            "NorvSupDriverEntryPoint: InstallMultipleProtocolInterfaces Out of Resources\n");
}

TEST(PrintLib, GuidsAndPointers) {
  EFI_GUID Guid = {0x45BCD98E, 0x59AD, 0x4174, {0x95, 0x46, 0x34, 0x4A, 0x07, 0x48, 0x58, 0x98}};
  EXPECT_EQ(Ascii("%g", &Guid), "45BCD98E-59AD-4174-9546-344A07485898");
  EXPECT_EQ(Ascii("%p", (void *)0x1234), "0000000000001234");
}

TEST(PrintLib, TruncatesToTheBufferAndCountsWhatFits) {
  CHAR8 Small[6];
  UINTN Length = AsciiSPrint(Small, sizeof(Small), "%a", "truncated");
  EXPECT_STREQ(Small, "trunc");
  EXPECT_EQ(Length, 5u);
  CHAR8 One[1] = {'x'};
  EXPECT_EQ(AsciiSPrint(One, sizeof(One), "abc"), 0u);
  EXPECT_EQ(One[0], '\0');
}

TEST(PrintLib, Utf16OutputWithBothFormatKinds) {
  CHAR16 Wide[32];
  UnicodeSPrint(Wide, sizeof(Wide), u"%s=%d", u"n", 3);
  EXPECT_EQ(std::u16string(Wide), u"n=3");
  UnicodeSPrintAsciiFormat(Wide, sizeof(Wide), "%a %X", "hex", 0xFFu);
  EXPECT_EQ(std::u16string(Wide), u"hex FF");
  // BufferSize is in bytes: 8 bytes hold three characters and the terminator.
  UnicodeSPrint(Wide, 8, u"%s", u"abcdef");
  EXPECT_EQ(std::u16string(Wide), u"abc");
}

}  // namespace
