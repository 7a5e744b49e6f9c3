// libFuzzer target: a peer's SAE commit and confirm (SetData types 21 and 22)
// against a child of the driver that has built a valid own commit, by
// hunting and pecking or by hash to element (with a password identifier and
// rejected groups; the peer's commit then comes after its status code).
//
// Input: a flags byte, the length of the commit part, the commit part, then
// the confirm part. Each part is either taken raw or XORed onto the genuine
// body of the other station, so the fuzzer reaches the key derivation and
// the confirm check, not only the parsers. After every input the genuine
// commit is replayed and the pool must be back where it was.
//
// Invariants (a violation aborts):
//  - a commit answers 0 or one of the plain values 7 to 13 (12 and 13 only
//    under hash to element);
//  - a confirm can be built and verified exactly while the child holds keys
//    of an accepted commit;
//  - a peer confirm is accepted only when commit and confirm are the genuine
//    ones (anything else would be a forgery);
//  - no leak, no fault reported by the host environment.
#include <HostEnv/Environment.h>
#include <Library/UefiLib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "SupInstance.h"
#include "sae/SaeExchange.h"
#include "uefi_sup.h"

namespace {

using Bytes = std::vector<UINT8>;

enum : UINT8 {
  RawCommit = 1,
  RawConfirm = 2,
  BuildOwnConfirmFirst = 4,
  HashToElement = 8,
};

void Require(bool Condition, const char *What) {
  if (!Condition) {
    std::fprintf(stderr, "invariant violated: %s\n", What);
    std::abort();
  }
}

struct Child {
  EFI_SUPPLICANT_PROTOCOL *Protocol = nullptr;

  EFI_STATUS Set(EFI_SUPPLICANT_DATA_TYPE Type, const Bytes &Data) const {
    return Protocol->SetData(Protocol, Type, Data.empty() ? nullptr : const_cast<UINT8 *>(Data.data()),
                             Data.size());
  }
  EFI_STATUS Get(EFI_SUPPLICANT_DATA_TYPE Type, Bytes &Data) const {
    Data.assign(512, 0);
    UINTN Size = Data.size();
    EFI_STATUS Status = Protocol->GetData(Protocol, Type, Data.data(), &Size);
    Data.resize(Status == EFI_SUCCESS ? Size : 0);
    return Status;
  }
  void Configure(const UINT8 *Own, const UINT8 *Peer, bool H2e) const {
    const Bytes Sae = {1, 0, 0x00, 0x0F, 0xAC, 8};
    const Bytes Password = {'f', 'u', 'z', 'z', 'i', 'n', 'g', '!'};
    Require(Set(EfiSupplicant80211AKMSuite, Sae) == EFI_SUCCESS &&
                Set(EfiSupplicant80211StationMac, Bytes(Own, Own + 6)) == EFI_SUCCESS &&
                Set(EfiSupplicant80211TargetSSIDMac, Bytes(Peer, Peer + 6)) == EFI_SUCCESS &&
                Set(EfiSupplicant80211PskPassword, Password) == EFI_SUCCESS,
            "configuration");
    if (H2e) {
      EFI_80211_SSID Ssid = {4, {'f', 'u', 'z', 'z'}};
      const UINT8 *SsidBytes = reinterpret_cast<const UINT8 *>(&Ssid);
      Require(Set(EfiSupplicant80211TargetSSIDName, Bytes(SsidBytes, SsidBytes + sizeof(Ssid))) == EFI_SUCCESS &&
                  Set(EfiSupplicantSaePweMethod, Bytes{1}) == EFI_SUCCESS &&
                  Set(EfiSupplicantSaePasswordIdentifier, Bytes{'i', 'd'}) == EFI_SUCCESS,
              "hash-to-element configuration");
    }
  }
};

// A child with a valid own commit and the genuine answers of its peer.
struct Scenario {
  Child Victim;
  Bytes GenuineCommit;   // the peer's commit (after status 126 under hash to element)
  Bytes GenuineConfirm;  // the peer's first confirm
};

struct Setup {
  std::unique_ptr<HostEnv::Environment> Env;
  Scenario HuntingAndPecking;
  Scenario H2e;
  size_t AcceptedBlocks = 0;
};

Setup *State = nullptr;

Child NewChild(EFI_SERVICE_BINDING_PROTOCOL *Service) {
  EFI_HANDLE Handle = nullptr;
  Child Result;
  Require(Service->CreateChild(Service, &Handle) == EFI_SUCCESS, "CreateChild");
  Require(gBS->HandleProtocol(Handle, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Result.Protocol)) ==
              EFI_SUCCESS,
          "HandleProtocol");
  return Result;
}

size_t LiveBlocks() { return State->Env->Pool().TotalUsage().LiveBlocks; }

Bytes Overlay(const Bytes &Genuine, const UINT8 *Data, size_t Size) {
  Bytes Result = Genuine;
  for (size_t Index = 0; Index < Size; ++Index) {
    if (Index < Result.size()) {
      Result[Index] ^= Data[Index];
    } else {
      Result.push_back(Data[Index]);
    }
  }
  return Result;
}

bool IsPlainCommitResult(EFI_STATUS Status, bool H2e) {
  return Status == EFI_SUCCESS || (Status >= SAE_COMMIT_BAD_GROUP && Status <= SAE_COMMIT_KEYS_FAILED) ||
         (H2e && (Status == SAE_COMMIT_WRONG_METHOD || Status == SAE_COMMIT_BAD_H2E_ELEMENT));
}

Scenario Prepare(EFI_SERVICE_BINDING_PROTOCOL *Service, bool H2e) {
  static constexpr UINT8 VictimMac[6] = {0x02, 0, 0, 0, 0, 0x01};
  static constexpr UINT8 PeerMac[6] = {0x02, 0, 0, 0, 0, 0x02};
  Scenario Result;
  Result.Victim = NewChild(Service);
  Child Peer = NewChild(Service);
  Result.Victim.Configure(VictimMac, PeerMac, H2e);
  Peer.Configure(PeerMac, VictimMac, H2e);
  // Under hash to element the victim names a rejected group: the key seed's
  // salt, which the peer takes from the victim's commit.
  if (H2e) {
    Require(Result.Victim.Set(EfiSupplicantSaeRejectedGroups, Bytes{20, 0}) == EFI_SUCCESS, "rejected groups");
  }
  const Bytes Status = H2e ? Bytes{126, 0} : Bytes{};
  Bytes VictimCommit;
  Require(Result.Victim.Get(EfiSupplicantSaeCommit, VictimCommit) == EFI_SUCCESS, "own commit");
  Require(Peer.Get(EfiSupplicantSaeCommit, Result.GenuineCommit) == EFI_SUCCESS, "peer commit");
  VictimCommit.insert(VictimCommit.begin(), Status.begin(), Status.end());
  Result.GenuineCommit.insert(Result.GenuineCommit.begin(), Status.begin(), Status.end());
  Require(Peer.Set(EfiSupplicantSaeCommit, VictimCommit) == EFI_SUCCESS, "peer takes the own commit");
  Require(Peer.Get(EfiSupplicantSaeConfirm, Result.GenuineConfirm) == EFI_SUCCESS, "peer confirm");
  Require(Result.Victim.Set(EfiSupplicantSaeCommit, Result.GenuineCommit) == EFI_SUCCESS, "genuine commit");
  return Result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  State = new Setup;
  HostEnv::Options Settings;
  Settings.EchoStdErr = true;
  State->Env = std::make_unique<HostEnv::Environment>(Settings);
  EFI_HANDLE Image = State->Env->LoadImage(NorvSupDxeModuleEntry);
  Require(State->Env->StartImage(Image) == EFI_SUCCESS, "driver entry");
  EFI_SERVICE_BINDING_PROTOCOL *Service = nullptr;
  Require(gBS->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                              reinterpret_cast<VOID **>(&Service)) == EFI_SUCCESS,
          "service binding");
  State->HuntingAndPecking = Prepare(Service, false);
  State->H2e = Prepare(Service, true);
  State->AcceptedBlocks = LiveBlocks();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const UINT8 *Data, size_t Size) {
  const UINT8 Flags = Size > 0 ? Data[0] : 0;
  const size_t CommitPart = Size > 1 ? (Data[1] < Size - 2 ? Data[1] : Size - 2) : 0;
  const UINT8 *CommitData = Data + (Size > 1 ? 2 : Size);
  const UINT8 *ConfirmData = CommitData + CommitPart;
  const size_t ConfirmPart = Size > 2 + CommitPart ? Size - 2 - CommitPart : 0;

  const bool H2e = (Flags & HashToElement) != 0;
  const Scenario &S = H2e ? State->H2e : State->HuntingAndPecking;
  const Child &Victim = S.Victim;
  Bytes Commit = (Flags & RawCommit) ? Bytes(CommitData, CommitData + CommitPart)
                                     : Overlay(S.GenuineCommit, CommitData, CommitPart);
  Bytes Confirm = (Flags & RawConfirm) ? Bytes(ConfirmData, ConfirmData + ConfirmPart)
                                       : Overlay(S.GenuineConfirm, ConfirmData, ConfirmPart);

  EFI_STATUS CommitStatus = Victim.Set(EfiSupplicantSaeCommit, Commit);
  Require(IsPlainCommitResult(CommitStatus, H2e), "commit status is 0 or 7..11 (12, 13 under hash to element)");
  // Every input starts with the genuine commit accepted. A commit refused
  // for its status (12), size or group (7) changes nothing; one refused
  // later takes the keys away; an accepted one brings its own.
  const bool Unchanged = CommitStatus == SAE_COMMIT_BAD_GROUP || CommitStatus == SAE_COMMIT_WRONG_METHOD;
  const bool HasKeys = CommitStatus == EFI_SUCCESS || Unchanged;
  // The keys follow from the group, scalar and element (after the status
  // under hash to element); elements after them that the driver skips, such
  // as an unknown one in place of the peer's password identifier, do not
  // change them.
  const size_t KeyBytes = (H2e ? 2 : 0) + 2 + 32 + 64;
  const bool GenuineKeys =
      Unchanged || (CommitStatus == EFI_SUCCESS && Commit.size() >= KeyBytes &&
                    std::memcmp(Commit.data(), S.GenuineCommit.data(), KeyBytes) == 0);
  if (Flags & BuildOwnConfirmFirst) {
    Bytes OwnConfirm;
    EFI_STATUS Status = Victim.Get(EfiSupplicantSaeConfirm, OwnConfirm);
    Require(Status == (HasKeys ? EFI_SUCCESS : EFI_PROTOCOL_ERROR), "own confirm exactly when there are keys");
  }
  EFI_STATUS ConfirmStatus = Victim.Set(EfiSupplicantSaeConfirm, Confirm);
  Require(ConfirmStatus == EFI_SUCCESS || ConfirmStatus == EFI_BUFFER_TOO_SMALL ||
              ConfirmStatus == EFI_PROTOCOL_ERROR,
          "confirm status");
  Require((ConfirmStatus == EFI_PROTOCOL_ERROR) == (!HasKeys && Confirm.size() >= 34),
          "a confirm is verified exactly when there are keys");
  if (ConfirmStatus == EFI_SUCCESS) {
    Require(GenuineKeys && std::memcmp(Confirm.data(), S.GenuineConfirm.data(), S.GenuineConfirm.size()) == 0,
            "only the genuine commit and confirm verify");
  }

  Require(Victim.Set(EfiSupplicantSaeCommit, S.GenuineCommit) == EFI_SUCCESS, "genuine commit replayed");
  Require(LiveBlocks() == State->AcceptedBlocks, "no pool block leaked");
  Require(State->Env->Faults().empty(), "no fault in the host environment");
  return 0;
}
