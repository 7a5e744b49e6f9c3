// The EAP configuration protocol's console messages: the one place where the
// text the connection manager's user sees is part of the behaviour.
#include "DriverChildTest.h"

namespace {

using TestSupport::StatusIs;

using EapConfiguration = DriverChildTest;

TEST_F(EapConfiguration, UnsupportedPairsAreNamedOnTheConsole) {
  UINT8 Data[4] = {};
  EXPECT_TRUE(StatusIs(Eap_->SetData(Eap_, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCipherSuite, Data, sizeof(Data)),
                       EFI_UNSUPPORTED));
  EXPECT_EQ(ConOutText(), "SetData with (EAPType, DataType) = (13, 7) is not supported.\n");
  Env().ConOut().Clear();
  UINTN Size = sizeof(Data);
  EXPECT_TRUE(StatusIs(Eap_->GetData(Eap_, EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString, Data, &Size),
                       EFI_UNSUPPORTED));
  EXPECT_EQ(ConOutText(), "GetData with (EAPType, DataType) = (1, 2) is not supported.\n");
}

TEST_F(EapConfiguration, SupportedPairsPrintNothing) {
  const char Identity[] = "anonymous";
  EXPECT_TRUE(StatusIs(Eap_->SetData(Eap_, EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString,
                                     const_cast<char *>(Identity), sizeof(Identity)),
                       EFI_SUCCESS));
  UINTN Size = 0;
  EXPECT_TRUE(StatusIs(Eap_->GetData(Eap_, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapSupportedAuthMethod, nullptr, &Size),
                       EFI_SUCCESS));
  EXPECT_EQ(Size, 1u);
  EXPECT_EQ(ConOutText(), "");
}

// A buffer announced too small is never written: the caller learns the size
// it needs, as with every other GetData.
TEST_F(EapConfiguration, SupportedMethodsNeedOneByte) {
  UINT8 Method[2] = {0xEE, 0xEE};
  UINTN Size = 0;
  EXPECT_TRUE(StatusIs(Eap_->GetData(Eap_, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapSupportedAuthMethod, Method, &Size),
                       EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 1u);
  EXPECT_EQ(Method[0], 0xEE);
  Size = sizeof(Method);
  EXPECT_TRUE(StatusIs(Eap_->GetData(Eap_, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapSupportedAuthMethod, Method, &Size),
                       EFI_SUCCESS));
  EXPECT_EQ(Method[0], EFI_EAP_TYPE_EAPTLS);
  EXPECT_EQ(Method[1], 0xEE);
}

}  // namespace
