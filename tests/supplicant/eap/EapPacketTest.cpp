// EAP over EAPOL and EAP-TLS framing on their own: frames written out byte
// by byte from RFC 3748 / RFC 5216 and parsed, responses built and read
// back field by field, and the reassembly and fragmentation of TLS messages
// at every boundary of the fragment size, in pool memory the host
// environment accounts for.
#include <TestSupport/HostEnvTest.h>

#include <numeric>
#include <vector>

#include <Library/UefiLib.h>

#include "EapPacket.h"

namespace {

using namespace eap;
using Bytes = std::vector<UINT8>;
using TestSupport::StatusIs;

constexpr UINTN Mtu = TLS_FRAGMENT_DATA;

Bytes Pattern(size_t Length, UINT8 Seed = 1) {
  Bytes Data(Length);
  for (size_t Index = 0; Index < Length; ++Index) {
    Data[Index] = (UINT8)(Seed + Index * 7);
  }
  return Data;
}

// An EAPOL frame around an EAP packet; EapLength and BodyLength default to
// what the packet takes.
Bytes EapolFrame(UINT8 Code, UINT8 Id, Bytes TypeAndData, int EapLength = -1, int BodyLength = -1,
                 size_t Padding = 0) {
  size_t Length = 4 + TypeAndData.size();
  UINT16 Eap = EapLength < 0 ? (UINT16)Length : (UINT16)EapLength;
  UINT16 Body = BodyLength < 0 ? (UINT16)Length : (UINT16)BodyLength;
  Bytes Frame = {2, 0, (UINT8)(Body >> 8), (UINT8)Body, Code, Id, (UINT8)(Eap >> 8), (UINT8)Eap};
  Frame.insert(Frame.end(), TypeAndData.begin(), TypeAndData.end());
  Frame.insert(Frame.end(), Padding, 0);
  return Frame;
}

Bytes TlsTypeData(UINT8 Flags, const Bytes &Data, UINT32 Length = 0) {
  Bytes Out = {EFI_EAP_TYPE_EAPTLS, Flags};
  if (Flags & TLS_FLAG_LENGTH) {
    Out.insert(Out.end(), {(UINT8)(Length >> 24), (UINT8)(Length >> 16), (UINT8)(Length >> 8), (UINT8)Length});
  }
  Out.insert(Out.end(), Data.begin(), Data.end());
  return Out;
}

// ---------------------------------------------------------------------------
// Parsing
// ---------------------------------------------------------------------------

TEST(EapParse, IdentityRequestWithItsFields) {
  Bytes Frame = EapolFrame(CODE_REQUEST, 0x37, {EFI_EAP_TYPE_IDENTITY, 'h', 'i'});
  PACKET Packet;
  ASSERT_TRUE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  EXPECT_EQ(Packet.Code, CODE_REQUEST);
  EXPECT_EQ(Packet.Identifier, 0x37);
  EXPECT_EQ(Packet.Type, EFI_EAP_TYPE_IDENTITY);
  ASSERT_EQ(Packet.TypeDataLength, 2u);
  EXPECT_EQ(Packet.TypeData, Frame.data() + 9);
}

TEST(EapParse, LinkPaddingAfterTheBodyIsIgnored) {
  Bytes Frame = EapolFrame(CODE_REQUEST, 1, {EFI_EAP_TYPE_IDENTITY}, -1, -1, 41);
  PACKET Packet;
  ASSERT_TRUE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  EXPECT_EQ(Packet.TypeDataLength, 0u);
}

TEST(EapParse, LengthsThatDisagreeAreRefused) {
  PACKET Packet;
  Bytes Frame = EapolFrame(CODE_REQUEST, 1, {EFI_EAP_TYPE_IDENTITY, 'a'}, 7);  // EAP says 7, body 6
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  Frame = EapolFrame(CODE_REQUEST, 1, {EFI_EAP_TYPE_IDENTITY, 'a'}, 5);  // EAP shorter than the body
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  Frame = EapolFrame(CODE_REQUEST, 1, {EFI_EAP_TYPE_IDENTITY, 'a'}, 7, 7);  // both past the frame
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  Frame = EapolFrame(CODE_REQUEST, 1, {}, 4, 4);  // a request without a type
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  Frame = EapolFrame(CODE_SUCCESS, 1, {0}, 5, 5);  // success carries nothing
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  Frame = EapolFrame(7, 1, {EFI_EAP_TYPE_IDENTITY});  // no such code
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  Frame = {2, 0, 0, 3, 1, 1, 0};  // body shorter than the EAP header
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  Frame = {2, 0, 0};
  EXPECT_FALSE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
}

TEST(EapParse, OnlyEapPacketFramesBelongToEap) {
  Bytes Key = {2, 3, 0, 95};
  Bytes Eap = {2, 0, 0, 4};
  EXPECT_FALSE(IsEapolEap(Key.data(), Key.size()));
  EXPECT_TRUE(IsEapolEap(Eap.data(), Eap.size()));
  EXPECT_FALSE(IsEapolEap(Eap.data(), 3));
  EXPECT_FALSE(IsEapolEap(nullptr, 4));
}

TEST(EapParse, SuccessAndFailure) {
  PACKET Packet;
  Bytes Frame = EapolFrame(CODE_SUCCESS, 9, {});
  ASSERT_TRUE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  EXPECT_EQ(Packet.Code, CODE_SUCCESS);
  Frame = EapolFrame(CODE_FAILURE, 9, {});
  ASSERT_TRUE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  EXPECT_EQ(Packet.Code, CODE_FAILURE);
}

TEST(EapTlsParse, FlagsLengthAndData) {
  Bytes Frame = EapolFrame(CODE_REQUEST, 3, TlsTypeData(TLS_FLAG_LENGTH | TLS_FLAG_MORE, {1, 2, 3}, 0x00012345));
  PACKET Packet;
  TLS_FRAGMENT Fragment;
  ASSERT_TRUE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  ASSERT_TRUE(ParseTlsFragment(Packet, &Fragment));
  EXPECT_TRUE(Fragment.Has(TLS_FLAG_LENGTH));
  EXPECT_TRUE(Fragment.Has(TLS_FLAG_MORE));
  EXPECT_EQ(Fragment.MessageLength, 0x00012345u);
  EXPECT_EQ(Bytes(Fragment.Data, Fragment.Data + Fragment.DataLength), Bytes({1, 2, 3}));
}

TEST(EapTlsParse, TruncatedHeadersAreRefused) {
  PACKET Packet;
  TLS_FRAGMENT Fragment;
  Bytes Frame = EapolFrame(CODE_REQUEST, 3, {EFI_EAP_TYPE_EAPTLS});  // no flags octet
  ASSERT_TRUE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  EXPECT_FALSE(ParseTlsFragment(Packet, &Fragment));
  Frame = EapolFrame(CODE_REQUEST, 3, {EFI_EAP_TYPE_EAPTLS, TLS_FLAG_LENGTH, 0, 0, 1});  // L, 3 length octets
  ASSERT_TRUE(ParseEapolEap(Frame.data(), Frame.size(), &Packet));
  EXPECT_FALSE(ParseTlsFragment(Packet, &Fragment));
}

// ---------------------------------------------------------------------------
// Building
// ---------------------------------------------------------------------------

TEST(EapBuild, ResponseOfAType) {
  const UINT8 Identity[] = {'u', 's', 'e', 'r'};
  ASSERT_EQ(ResponseFrameSize(sizeof(Identity)), 13u);
  Bytes Out(13, 0xEE);
  BuildResponseFrame(0x42, EFI_EAP_TYPE_IDENTITY, Identity, sizeof(Identity), Out.data());
  EXPECT_EQ(Out, Bytes({1, 0, 0, 9, 2, 0x42, 0, 9, 1, 'u', 's', 'e', 'r'}));
}

TEST(EapBuild, TlsResponsesWithAndWithoutLength) {
  Bytes Data = {0xAA, 0xBB};
  TLS_RESPONSE First = {TLS_FLAG_LENGTH | TLS_FLAG_MORE, 0x0102, Data.data(), Data.size()};
  ASSERT_EQ(TlsResponseFrameSize(First), 4u + 4 + 2 + 4 + 2);
  Bytes Out(TlsResponseFrameSize(First));
  BuildTlsResponseFrame(5, First, Out.data());
  EXPECT_EQ(Out, Bytes({1, 0, 0, 12, 2, 5, 0, 12, 13, 0xC0, 0, 0, 1, 2, 0xAA, 0xBB}));

  TLS_RESPONSE Ack = {0, 0, nullptr, 0};
  ASSERT_EQ(TlsResponseFrameSize(Ack), 10u);
  Out.assign(10, 0xEE);
  BuildTlsResponseFrame(6, Ack, Out.data());
  EXPECT_EQ(Out, Bytes({1, 0, 0, 6, 2, 6, 0, 6, 13, 0}));
}

TEST(EapBuild, TheLongestResponseIsAFullFirstFragment) {
  Bytes Data = Pattern(Mtu);
  TLS_RESPONSE First = {TLS_FLAG_LENGTH | TLS_FLAG_MORE, 5000, Data.data(), Data.size()};
  EXPECT_EQ(TlsResponseFrameSize(First), MAX_RESPONSE_FRAME);
}

// ---------------------------------------------------------------------------
// Reassembly of the server's messages
// ---------------------------------------------------------------------------

// The framing's pool memory comes from the environment through the support
// library's service-table globals, which no driver entry sets here.
class PoolTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    gBS = BS();
  }
  void TearDown() override {
    gBS = nullptr;
    HostEnvTest::TearDown();
  }
};

class Reassembly : public PoolTest {
 protected:
  static TLS_FRAGMENT Fragment(UINT8 Flags, const Bytes &Data, size_t Offset, size_t Length, UINT32 Total) {
    return {Flags, Total, Data.data() + Offset, Length};
  }

  // Sends Message in fragments of FragmentSize, L on the first fragment or
  // on every one; returns the reassembled bytes.
  Bytes Reassemble(const Bytes &Message, size_t FragmentSize, bool LengthOnEvery) {
    TLS_REASSEMBLY Assembly;
    size_t Offset = 0;
    ASSEMBLY Result = ASSEMBLY::NeedMore;
    while (Offset < Message.size()) {
      size_t Length = std::min(FragmentSize, Message.size() - Offset);
      bool More = Offset + Length < Message.size();
      bool Fragmented = Length < Message.size();
      UINT8 Flags = (UINT8)(More ? TLS_FLAG_MORE : 0);
      if (Fragmented && (Offset == 0 || LengthOnEvery)) {
        Flags |= TLS_FLAG_LENGTH;
      }
      Result = Assembly.Accept(Fragment(Flags, Message, Offset, Length, (UINT32)Message.size()));
      EXPECT_EQ(Result, More ? ASSEMBLY::NeedMore : ASSEMBLY::Complete) << "at offset " << Offset;
      Offset += Length;
    }
    EXPECT_EQ(Result, ASSEMBLY::Complete);
    return Bytes(Assembly.Message(), Assembly.Message() + Assembly.Length());
  }
};

TEST_F(Reassembly, UnfragmentedMessagesWithAndWithoutLength) {
  for (UINTN Size : {UINTN{1}, Mtu - 1, Mtu, Mtu + 1}) {
    Bytes Message = Pattern(Size);
    for (UINT8 Flags : {UINT8{0}, TLS_FLAG_LENGTH}) {
      TLS_REASSEMBLY Assembly;
      ASSERT_EQ(Assembly.Accept(Fragment(Flags, Message, 0, Size, (UINT32)Size)), ASSEMBLY::Complete) << Size;
      EXPECT_EQ(Bytes(Assembly.Message(), Assembly.Message() + Assembly.Length()), Message) << Size;
    }
  }
}

TEST_F(Reassembly, FragmentsAtEveryBoundaryLengthOnFirstOrOnEvery) {
  const UINTN Sizes[] = {1, Mtu - 1, Mtu, Mtu + 1};
  for (UINTN FragmentSize : Sizes) {
    for (UINTN MessageSize : {FragmentSize + 1, 2 * FragmentSize, 3 * FragmentSize - 1, UINTN{3000}}) {
      if (FragmentSize == 1 && MessageSize == 3000) {
        MessageSize = 40;  // 40 one-octet fragments are enough
      }
      Bytes Message = Pattern(MessageSize, (UINT8)FragmentSize);
      EXPECT_EQ(Reassemble(Message, FragmentSize, false), Message) << FragmentSize << "/" << MessageSize;
      EXPECT_EQ(Reassemble(Message, FragmentSize, true), Message) << FragmentSize << "/" << MessageSize;
    }
  }
}

TEST_F(Reassembly, AMessageOfExactlySixtyFourKibibytesIsTaken) {
  Bytes Message = Pattern(TLS_MESSAGE_MAX);
  EXPECT_EQ(Reassemble(Message, 1024, true), Message);
}

TEST_F(Reassembly, AnnouncedLengthOverSixtyFourKibibytesIsRefusedBeforeAllocating) {
  Bytes Data = Pattern(100);
  TLS_REASSEMBLY Assembly;
  UINT64 Attempts = Env().Pool().AllocationAttempts();
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH | TLS_FLAG_MORE, Data, 0, 100, TLS_MESSAGE_MAX + 1)),
            ASSEMBLY::Refused);
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH | TLS_FLAG_MORE, Data, 0, 100, 0xFFFFFFFF)), ASSEMBLY::Refused);
  EXPECT_EQ(Env().Pool().AllocationAttempts(), Attempts);
  EXPECT_FALSE(Assembly.InProgress());
}

TEST_F(Reassembly, FragmentsRunningPastTheAnnouncedLengthAreRefused) {
  Bytes Data = Pattern(3000);
  TLS_REASSEMBLY Assembly;
  ASSERT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH | TLS_FLAG_MORE, Data, 0, 1000, 2000)), ASSEMBLY::NeedMore);
  // 1001 more octets would end one past the total, with or without M.
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_MORE, Data, 1000, 1001, 2000)), ASSEMBLY::Refused);
  EXPECT_EQ(Assembly.Accept(Fragment(0, Data, 1000, 1001, 2000)), ASSEMBLY::Refused);
  // Exactly the rest, but still announcing more.
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_MORE, Data, 1000, 1000, 2000)), ASSEMBLY::Refused);
  // The last fragment ending short of the total.
  EXPECT_EQ(Assembly.Accept(Fragment(0, Data, 1000, 999, 2000)), ASSEMBLY::Refused);
  // Another total half-way.
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH, Data, 1000, 1000, 2001)), ASSEMBLY::Refused);
  // A start flag inside a message.
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_START, Data, 1000, 1000, 2000)), ASSEMBLY::Refused);
  // None of that disturbed the collection: the right fragment completes it.
  ASSERT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH, Data, 1000, 1000, 2000)), ASSEMBLY::Complete);
  EXPECT_EQ(Bytes(Assembly.Message(), Assembly.Message() + Assembly.Length()), Bytes(Data.begin(), Data.begin() + 2000));
}

TEST_F(Reassembly, FirstFragmentsThatContradictThemselvesAreRefused) {
  Bytes Data = Pattern(100);
  TLS_REASSEMBLY Assembly;
  // M without L: the total is unknown.
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_MORE, Data, 0, 100, 0)), ASSEMBLY::Refused);
  // L and M, but the fragment is already the whole message or more.
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH | TLS_FLAG_MORE, Data, 0, 100, 100)), ASSEMBLY::Refused);
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH | TLS_FLAG_MORE, Data, 0, 100, 99)), ASSEMBLY::Refused);
  // L without M, but the fragment is not the whole message.
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH, Data, 0, 100, 101)), ASSEMBLY::Refused);
  // Nothing to collect.
  EXPECT_EQ(Assembly.Accept(Fragment(0, Data, 0, 0, 0)), ASSEMBLY::Refused);
  EXPECT_FALSE(Assembly.InProgress());
}

TEST_F(Reassembly, AnExhaustedPoolLeavesTheCollectionAsItWas) {
  Bytes Data = Pattern(100);
  TLS_REASSEMBLY Assembly;
  Env().Pool().FailNthAllocation(1);
  EXPECT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH | TLS_FLAG_MORE, Data, 0, 50, 100)), ASSEMBLY::OutOfResources);
  Env().Pool().StopFailing();
  EXPECT_FALSE(Assembly.InProgress());
  ASSERT_EQ(Assembly.Accept(Fragment(TLS_FLAG_LENGTH | TLS_FLAG_MORE, Data, 0, 50, 100)), ASSEMBLY::NeedMore);
  ASSERT_EQ(Assembly.Accept(Fragment(0, Data, 50, 50, 100)), ASSEMBLY::Complete);
  EXPECT_EQ(Bytes(Assembly.Message(), Assembly.Message() + Assembly.Length()), Data);
}

TEST_F(Reassembly, ANewMessageReplacesTheCompletedOne) {
  Bytes First = Pattern(10, 1), Second = Pattern(20, 2);
  TLS_REASSEMBLY Assembly;
  ASSERT_EQ(Assembly.Accept(Fragment(0, First, 0, 10, 10)), ASSEMBLY::Complete);
  ASSERT_EQ(Assembly.Accept(Fragment(0, Second, 0, 20, 20)), ASSEMBLY::Complete);
  EXPECT_EQ(Bytes(Assembly.Message(), Assembly.Message() + Assembly.Length()), Second);
  EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, 1u);
}

// ---------------------------------------------------------------------------
// Fragmentation of our flight
// ---------------------------------------------------------------------------

using Fragmentation = PoolTest;

struct SentFragment {
  UINT8  Flags;
  UINT32 Length;
  Bytes  Data;
};

std::vector<SentFragment> SendAll(TLS_FLIGHT &Flight) {
  std::vector<SentFragment> Sent;
  while (Flight.Pending()) {
    TLS_RESPONSE Response = Flight.NextFragment();
    Sent.push_back({Response.Flags, Response.MessageLength, Bytes(Response.Data, Response.Data + Response.DataLength)});
  }
  return Sent;
}

TEST_F(Fragmentation, MessagesThatFitOneFragmentGoWithoutFlags) {
  for (UINTN Size : {UINTN{1}, Mtu - 1, Mtu}) {
    Bytes Message = Pattern(Size);
    TLS_FLIGHT Flight;
    ASSERT_TRUE(Flight.Append(Message.data(), Message.size()));
    std::vector<SentFragment> Sent = SendAll(Flight);
    ASSERT_EQ(Sent.size(), 1u) << Size;
    EXPECT_EQ(Sent[0].Flags, 0) << Size;
    EXPECT_EQ(Sent[0].Data, Message) << Size;
  }
}

TEST_F(Fragmentation, OneOctetOverTheFragmentSizeMakesTwoFragments) {
  Bytes Message = Pattern(Mtu + 1);
  TLS_FLIGHT Flight;
  ASSERT_TRUE(Flight.Append(Message.data(), Message.size()));
  std::vector<SentFragment> Sent = SendAll(Flight);
  ASSERT_EQ(Sent.size(), 2u);
  EXPECT_EQ(Sent[0].Flags, TLS_FLAG_LENGTH | TLS_FLAG_MORE);
  EXPECT_EQ(Sent[0].Length, Mtu + 1);
  EXPECT_EQ(Sent[0].Data.size(), Mtu);
  EXPECT_EQ(Sent[1].Flags, 0);
  EXPECT_EQ(Sent[1].Data, Bytes({Message.back()}));
}

TEST_F(Fragmentation, LongFlightsCarryLengthOnTheFirstAndMoreOnAllButTheLast) {
  for (UINTN Size : {2 * Mtu, 2 * Mtu + 1, 3 * Mtu - 1, UINTN{5000}}) {
    Bytes Message = Pattern(Size);
    TLS_FLIGHT Flight;
    // Written in pieces, as the TLS client writes record after record.
    for (size_t Offset = 0; Offset < Size; Offset += 700) {
      ASSERT_TRUE(Flight.Append(Message.data() + Offset, std::min<size_t>(700, Size - Offset)));
    }
    std::vector<SentFragment> Sent = SendAll(Flight);
    ASSERT_EQ(Sent.size(), (Size + Mtu - 1) / Mtu) << Size;
    Bytes Joined;
    for (size_t Index = 0; Index < Sent.size(); ++Index) {
      bool Last = Index + 1 == Sent.size();
      UINT8 Expected = (UINT8)((Index == 0 ? TLS_FLAG_LENGTH : 0) | (Last ? 0 : TLS_FLAG_MORE));
      EXPECT_EQ(Sent[Index].Flags, Expected) << Size << " fragment " << Index;
      EXPECT_EQ(Sent[Index].Data.size(), Last ? Size - Index * Mtu : Mtu);
      Joined.insert(Joined.end(), Sent[Index].Data.begin(), Sent[Index].Data.end());
    }
    EXPECT_EQ(Sent[0].Length, Size);
    EXPECT_EQ(Joined, Message);
  }
}

TEST_F(Fragmentation, FlightsStopAtSixtyFourKibibytes) {
  Bytes Block = Pattern(4096);
  TLS_FLIGHT Flight;
  for (UINTN Count = 0; Count < TLS_MESSAGE_MAX / Block.size(); ++Count) {
    ASSERT_TRUE(Flight.Append(Block.data(), Block.size()));
  }
  EXPECT_FALSE(Flight.Append(Block.data(), 1));
  EXPECT_EQ(Flight.Length(), TLS_MESSAGE_MAX);
}

TEST_F(Fragmentation, AnExhaustedPoolLeavesTheFlightAsItWas) {
  Bytes Message = Pattern(10000);
  TLS_FLIGHT Flight;
  ASSERT_TRUE(Flight.Append(Message.data(), 100));
  Env().Pool().FailNthAllocation(1);
  EXPECT_FALSE(Flight.Append(Message.data() + 100, 9900));  // needs a larger buffer
  Env().Pool().StopFailing();
  EXPECT_EQ(Flight.Length(), 100u);
  ASSERT_TRUE(Flight.Append(Message.data() + 100, 9900));
  Bytes Joined;
  for (const SentFragment &Sent : SendAll(Flight)) {
    Joined.insert(Joined.end(), Sent.Data.begin(), Sent.Data.end());
  }
  EXPECT_EQ(Joined, Message);
}

}  // namespace
