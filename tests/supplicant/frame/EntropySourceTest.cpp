// What the driver entry says on the console about its random-byte source:
// one line naming the entropy source that seeded the DRBG, or the one
// fallback warning when there is none. Platform logs and the firmware tests
// rely on these lines.
#include <TestSupport/HostEnvTest.h>

#include <string>

#include "uefi_sup.h"

namespace {

using TestSupport::StatusIs;

class EntropySource : public TestSupport::HostEnvTest {
 protected:
  // Loads and starts the driver, returns what it printed, unloads it.
  std::string ConsoleOfOneDriverLoad() {
    Env().ConOut().Clear();
    EFI_HANDLE Image = Env().LoadImage(NorvSupDxeModuleEntry);
    EXPECT_TRUE(StatusIs(Env().StartImage(Image), EFI_SUCCESS));
    std::string Text = Env().ConOut().TakeText();
    EXPECT_TRUE(StatusIs(Env().UnloadImage(Image), EFI_SUCCESS));
    return Text;
  }
  void WithholdRngProtocol() { ASSERT_TRUE(StatusIs(Env().Rng().Withhold(), EFI_SUCCESS)); }
};

TEST_F(EntropySource, RngProtocolIsNamedOnce) {
  Env().Chipset().EnableRdSeed(1);
  Env().Chipset().EnableRdRand(2);
  EXPECT_EQ(ConsoleOfOneDriverLoad(), "NorvSupDxe: DRBG seeded from EFI_RNG_PROTOCOL\n");
}

TEST_F(EntropySource, RdseedIsNamedWithoutTheRngProtocol) {
  WithholdRngProtocol();
  Env().Chipset().EnableRdSeed(1);
  Env().Chipset().EnableRdRand(2);
  EXPECT_EQ(ConsoleOfOneDriverLoad(), "NorvSupDxe: DRBG seeded from RDSEED\n");
}

TEST_F(EntropySource, RdrandIsNamedWhenTheRngProtocolFailsAndRdseedIsMissing) {
  Env().Rng().FailWith(EFI_DEVICE_ERROR);
  Env().Chipset().EnableRdRand(2);
  EXPECT_EQ(ConsoleOfOneDriverLoad(), "NorvSupDxe: DRBG seeded from RDRAND\n");
}

TEST_F(EntropySource, NoSourceGivesOnlyTheFallbackWarning) {
  WithholdRngProtocol();
  const std::string Text = ConsoleOfOneDriverLoad();
  EXPECT_EQ(Text.rfind("NorvSupDxe: no entropy source (EFI_RNG_PROTOCOL, RDSEED, RDRAND)", 0), 0u) << Text;
  EXPECT_EQ(Text.find("seeded from"), std::string::npos) << Text;
  EXPECT_EQ(Text.find('\n'), Text.size() - 1) << "one line: " << Text;
}

}  // namespace
