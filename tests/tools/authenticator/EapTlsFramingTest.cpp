// EAP-TLS framing of the built-in server: fragments at the boundaries (1,
// MTU-1, MTU, MTU+1 octets of payload) and reassembly of the station's
// fragments with its bounds.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "EapAuthenticator.h"
#include "EapTlsFraming.h"

namespace {

using namespace authenticator;
using Bytes = std::vector<UINT8>;

struct Fragment {
  UINT8 Flags;
  UINTN TotalLength;  // from L, 0 without
  Bytes Data;
  UINTN PacketLength;
};

std::vector<Fragment> FragmentsOf(const Bytes &Message, UINTN Mtu) {
  std::vector<Fragment> Out;
  UINTN Sent = 0;
  UINT8 Id = 10;
  while (Sent < Message.size()) {
    UINT8 Packet[EAP_MAX_PACKET_LEN];
    UINTN Length = BuildEapTlsFragment(Id++, Message.data(), Message.size(), &Sent, Mtu, Packet, sizeof(Packet));
    EXPECT_NE(Length, 0u);
    if (Length == 0) {
      break;
    }
    EXPECT_EQ(Packet[0], EAP_CODE_REQUEST);
    EXPECT_EQ(Packet[4], EAP_TYPE_TLS);
    EXPECT_EQ((UINTN)(Packet[2] << 8 | Packet[3]), Length);
    Fragment F{Packet[5], 0, {}, Length};
    UINTN Offset = EAP_TLS_HEADER_LEN;
    if ((F.Flags & EAP_TLS_FLAG_LENGTH) != 0) {
      F.TotalLength = (UINTN)Packet[6] << 24 | (UINTN)Packet[7] << 16 | (UINTN)Packet[8] << 8 | Packet[9];
      Offset += 4;
    }
    F.Data.assign(Packet + Offset, Packet + Length);
    Out.push_back(F);
  }
  return Out;
}

Bytes Pattern(UINTN Length) {
  Bytes Out(Length);
  for (UINTN Index = 0; Index < Length; ++Index) {
    Out[Index] = (UINT8)(Index * 31 + 7);
  }
  return Out;
}

TEST(EapTlsFraming, FragmentBoundariesAroundTheMtu) {
  const UINTN Mtu = 100;
  const UINTN Payload = Mtu - EAP_TLS_HEADER_LEN;  // data of an unfragmented request
  struct Case {
    UINTN Length;
    UINTN Fragments;
  } Cases[] = {{1, 1}, {Payload - 1, 1}, {Payload, 1}, {Payload + 1, 2},
               // first fragment carries Mtu - 10 octets, the rest Mtu - 6
               {(Mtu - 10) + Payload, 2}, {(Mtu - 10) + Payload + 1, 3}, {1000, 11}};
  for (const Case &C : Cases) {
    Bytes Message = Pattern(C.Length);
    std::vector<Fragment> Fragments = FragmentsOf(Message, Mtu);
    ASSERT_EQ(Fragments.size(), C.Fragments) << C.Length;
    Bytes Joined;
    for (size_t Index = 0; Index < Fragments.size(); ++Index) {
      const Fragment &F = Fragments[Index];
      bool Last = Index + 1 == Fragments.size();
      bool Fragmented = Fragments.size() > 1;
      EXPECT_LE(F.PacketLength, Mtu);
      EXPECT_EQ((F.Flags & EAP_TLS_FLAG_MORE) != 0, !Last) << C.Length << " fragment " << Index;
      EXPECT_EQ((F.Flags & EAP_TLS_FLAG_LENGTH) != 0, Fragmented && Index == 0) << C.Length << " fragment " << Index;
      if ((F.Flags & EAP_TLS_FLAG_LENGTH) != 0) {
        EXPECT_EQ(F.TotalLength, C.Length);
      }
      if (!Last) {
        EXPECT_EQ(F.PacketLength, Mtu) << "a fragment other than the last fills the MTU";
      }
      Joined.insert(Joined.end(), F.Data.begin(), F.Data.end());
    }
    EXPECT_EQ(Joined, Message) << C.Length;
  }
}

TEST(EapTlsFraming, NoFragmentBelowTheMinimumMtuOrPastTheMessage) {
  Bytes Message = Pattern(50);
  UINT8 Packet[64];
  UINTN Sent = 0;
  EXPECT_EQ(BuildEapTlsFragment(1, Message.data(), Message.size(), &Sent, EAP_TLS_MIN_MTU - 1, Packet, sizeof(Packet)),
            0u);
  EXPECT_EQ(Sent, 0u);
  // A capacity below the packet writes nothing.
  EXPECT_EQ(BuildEapTlsFragment(1, Message.data(), Message.size(), &Sent, 64, Packet, 20), 0u);
  EXPECT_EQ(Sent, 0u);
  Sent = Message.size();
  EXPECT_EQ(BuildEapTlsFragment(1, Message.data(), Message.size(), &Sent, 64, Packet, sizeof(Packet)), 0u);
}

// The station's side: fragments as a peer builds them (L on the first,
// optionally on all).
std::vector<Bytes> StationFragments(const Bytes &Message, UINTN Mtu, bool LengthOnEvery) {
  std::vector<Bytes> Out;
  UINTN Sent = 0;
  do {
    bool WithLength = Sent == 0 || LengthOnEvery;
    UINTN Room = Mtu - EAP_TLS_HEADER_LEN - (WithLength ? 4 : 0);
    UINTN Count = std::min<UINTN>(Room, Message.size() - Sent);
    bool More = Sent + Count < Message.size();
    Bytes Packet = {EAP_CODE_RESPONSE, 1, 0, 0, EAP_TYPE_TLS,
                    (UINT8)((WithLength ? EAP_TLS_FLAG_LENGTH : 0) | (More ? EAP_TLS_FLAG_MORE : 0))};
    if (WithLength) {
      UINTN L = Message.size();
      Packet.insert(Packet.end(), {(UINT8)(L >> 24), (UINT8)(L >> 16), (UINT8)(L >> 8), (UINT8)L});
    }
    Packet.insert(Packet.end(), Message.begin() + (long)Sent, Message.begin() + (long)(Sent + Count));
    Packet[2] = (UINT8)(Packet.size() >> 8);
    Packet[3] = (UINT8)Packet.size();
    Out.push_back(Packet);
    Sent += Count;
  } while (Sent < Message.size());
  return Out;
}

TEST(EapTlsFraming, ReassemblyAtTheBoundaries) {
  const UINTN Mtu = 100;
  for (UINTN Length : {(UINTN)1, Mtu - 11, Mtu - 10, Mtu - 9, 3 * Mtu, EAP_TLS_MAX_MESSAGE}) {
    for (bool Every : {false, true}) {
      Bytes Message = Pattern(Length);
      auto Reassembler = std::make_unique<EapTlsReassembler>();
      std::vector<Bytes> Fragments = StationFragments(Message, Mtu, Every);
      for (size_t Index = 0; Index < Fragments.size(); ++Index) {
        REASSEMBLY Result = Reassembler->Take(Fragments[Index].data(), Fragments[Index].size());
        EXPECT_EQ(Result, Index + 1 < Fragments.size() ? REASSEMBLY::More : REASSEMBLY::Complete)
            << Length << " fragment " << Index;
      }
      EXPECT_EQ(Bytes(Reassembler->Message(), Reassembler->Message() + Reassembler->MessageLength()), Message);
    }
  }
}

TEST(EapTlsFraming, ReassemblyRefusesWhatDoesNotAddUp) {
  auto R = std::make_unique<EapTlsReassembler>();
  Bytes Message = Pattern(300);
  std::vector<Bytes> Fragments = StationFragments(Message, 100, true);
  // L over the bound.
  Bytes Huge = Fragments[0];
  Huge[6] = 0x01;  // 16 MiB and more
  EXPECT_EQ(R->Take(Huge.data(), Huge.size()), REASSEMBLY::TooLong);
  // L changing between fragments.
  R->Reset();
  ASSERT_EQ(R->Take(Fragments[0].data(), Fragments[0].size()), REASSEMBLY::More);
  Bytes Changed = Fragments[1];
  Changed[9] ^= 1;
  EXPECT_EQ(R->Take(Changed.data(), Changed.size()), REASSEMBLY::Inconsistent);
  // Last fragment missing: the message ends short of L.
  R->Reset();
  Bytes Early = Fragments[0];
  Early[5] &= (UINT8)~EAP_TLS_FLAG_MORE;
  EXPECT_EQ(R->Take(Early.data(), Early.size()), REASSEMBLY::Inconsistent);
  // More data than L announced.
  R->Reset();
  Bytes Short = Fragments[0];
  Short[9] = 10;  // says 256 + 10... keep the high byte
  Short[8] = 0;
  EXPECT_EQ(R->Take(Short.data(), Short.size()), REASSEMBLY::TooLong);
  // An empty fragment with M set; L without its length.
  R->Reset();
  Bytes Empty = {EAP_CODE_RESPONSE, 1, 0, 6, EAP_TYPE_TLS, EAP_TLS_FLAG_MORE};
  EXPECT_EQ(R->Take(Empty.data(), Empty.size()), REASSEMBLY::Inconsistent);
  Bytes Cut = {EAP_CODE_RESPONSE, 1, 0, 8, EAP_TYPE_TLS, EAP_TLS_FLAG_LENGTH, 0, 0};
  EXPECT_EQ(R->Take(Cut.data(), Cut.size()), REASSEMBLY::Malformed);
  // Without L, the bound still holds.
  R->Reset();
  Bytes Chunk = {EAP_CODE_RESPONSE, 1, 0, 0, EAP_TYPE_TLS, EAP_TLS_FLAG_MORE};
  Chunk.resize(4000, 0xAB);
  Chunk[2] = (UINT8)(Chunk.size() >> 8);
  Chunk[3] = (UINT8)Chunk.size();
  REASSEMBLY Last = REASSEMBLY::More;
  for (int Index = 0; Index < 5 && Last == REASSEMBLY::More; ++Index) {
    Last = R->Take(Chunk.data(), Chunk.size());
  }
  EXPECT_EQ(Last, REASSEMBLY::TooLong);
}

}  // namespace
