#include "SaeSuite.h"

#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiLib.h>

#include "HandshakeSuite.h"
#include "SuiteSupport.h"

namespace {

constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr UINT8 MacA[6] = {0x02, 0x5A, 0xE0, 0x00, 0x00, 0x0A};
constexpr UINT8 MacB[6] = {0x02, 0x5A, 0xE0, 0x00, 0x00, 0x0B};
constexpr UINTN CommitSize = 98;
constexpr UINTN ConfirmSize = 34;
// Values SetData(EfiSupplicantSaeCommit) answers for a bad group and a bad
// element (plain values, not EFI error codes).
constexpr EFI_STATUS BadGroup = 7;
constexpr EFI_STATUS BadScalar = 8;
constexpr EFI_STATUS BadElement = 9;

struct SaeBodies {
  UINT8 CommitA[CommitSize];
  UINT8 CommitB[CommitSize];
  UINT8 ConfirmA[ConfirmSize];
  UINT8 ConfirmB[ConfirmSize];
};

bool ConfigureForSae(const TestChild &Child, const UINT8 *Own, const UINT8 *Peer, const CHAR8 *Password) {
  return Child.Ok() && Child.Configure(RsnOui, 8, 4, "wpa3-net", Password, Own, Peer);
}

EFI_STATUS GetCommit(const TestChild &Child, UINT8 *Body) {
  UINTN Size = CommitSize;
  EFI_STATUS Status = Child.Get(EfiSupplicantSaeCommit, Body, &Size);
  return !EFI_ERROR(Status) && Size != CommitSize ? EFI_PROTOCOL_ERROR : Status;
}

EFI_STATUS GetConfirm(const TestChild &Child, UINT8 *Body) {
  UINTN Size = ConfirmSize;
  EFI_STATUS Status = Child.Get(EfiSupplicantSaeConfirm, Body, &Size);
  return !EFI_ERROR(Status) && Size != ConfirmSize ? EFI_PROTOCOL_ERROR : Status;
}

void CheckBodiesAndSizes(TestReporter &Report, const TestChild &A) {
  UINT8 Body[CommitSize];
  SetMem(Body, sizeof(Body), 0xA5);
  UINTN Size = CommitSize - 1;
  Report.Check(A.Get(EfiSupplicantSaeCommit, Body, &Size) == EFI_BUFFER_TOO_SMALL && Size == CommitSize,
               "sae.commit.too-small");
  Size = sizeof(Body);
  Report.Check(A.Get(EfiSupplicantSaeConfirm, Body, &Size) == EFI_PROTOCOL_ERROR && Body[0] == 0xA5 &&
                   Body[ConfirmSize - 1] == 0xA5,
               "sae.confirm.before-peer-commit");
  Report.CheckStatus(GetCommit(A, Body), EFI_SUCCESS, "sae.commit.built");
  Report.Check(Body[0] == 0x13 && Body[1] == 0x00, "sae.commit.group-19");
  Size = ConfirmSize - 1;
  Report.Check(A.Get(EfiSupplicantSaeConfirm, Body, &Size) == EFI_BUFFER_TOO_SMALL && Size == ConfirmSize,
               "sae.confirm.too-small");
}

// The whole exchange; the keys of both sides compared through the records.
bool RunExchange(TestReporter &Report, const TestChild &A, const TestChild &B, SaeBodies &Bodies) {
  bool Ok = Report.CheckStatus(GetCommit(A, Bodies.CommitA), EFI_SUCCESS, "sae.exchange.commit-a") &&
            Report.CheckStatus(GetCommit(B, Bodies.CommitB), EFI_SUCCESS, "sae.exchange.commit-b") &&
            Report.CheckStatus(A.Set(EfiSupplicantSaeCommit, Bodies.CommitB, CommitSize), EFI_SUCCESS,
                               "sae.exchange.peer-commit-a") &&
            Report.CheckStatus(B.Set(EfiSupplicantSaeCommit, Bodies.CommitA, CommitSize), EFI_SUCCESS,
                               "sae.exchange.peer-commit-b");
  if (!Ok) {
    return false;
  }
  const SAE_CONTEXT &SaeA = A.Record()->Sae;
  const SAE_CONTEXT &SaeB = B.Record()->Sae;
  Report.CheckBytes(SaeA.SaePmk, SaeB.SaePmk, sizeof(SaeA.SaePmk), "sae.exchange.same-pmk");
  Report.CheckBytes(SaeA.SaeKck, SaeB.SaeKck, sizeof(SaeA.SaeKck), "sae.exchange.same-kck");
  return Report.CheckStatus(GetConfirm(A, Bodies.ConfirmA), EFI_SUCCESS, "sae.exchange.confirm-a") &&
         Report.CheckStatus(GetConfirm(B, Bodies.ConfirmB), EFI_SUCCESS, "sae.exchange.confirm-b") &&
         Report.CheckStatus(A.Set(EfiSupplicantSaeConfirm, Bodies.ConfirmB, ConfirmSize), EFI_SUCCESS,
                            "sae.exchange.confirm-accepted-by-a") &&
         Report.CheckStatus(B.Set(EfiSupplicantSaeConfirm, Bodies.ConfirmA, ConfirmSize), EFI_SUCCESS,
                            "sae.exchange.confirm-accepted-by-b");
}

void CheckTwoStations(TestReporter &Report) {
  TestChild A(Report), B(Report);
  if (!Report.Check(ConfigureForSae(A, MacA, MacB, "firmware sae") && ConfigureForSae(B, MacB, MacA, "firmware sae"),
                    "sae.configure")) {
    return;
  }
  CheckBodiesAndSizes(Report, A);
  SaeBodies Bodies;
  if (!RunExchange(Report, A, B, Bodies)) {
    return;
  }
  const SUP_INSTANCE *RecordA = A.Record();
  Report.CheckBytes(RecordA->Pmk, RecordA->Sae.SaePmk, sizeof(RecordA->Pmk), "sae.pmk.handed-over");
  // A connects with the PMK of the exchange: the built-in access point takes
  // it from the other side of the exchange, B.
  UINT8 PeerPmk[32];
  UINTN PmkSize = sizeof(PeerPmk);
  if (Report.CheckStatus(B.Get(EfiSupplicant80211PMK, PeerPmk, &PmkSize), EFI_SUCCESS, "sae.pmk.of-the-peer")) {
    RunSaeHandshakes(Report, A, MacA, MacB, PeerPmk);
  }
  Report.Check(Bodies.ConfirmA[0] == 0 && Bodies.ConfirmA[1] == 0, "sae.confirm.first-send-confirm-0");
  UINT8 Next[ConfirmSize];
  Report.Check(GetConfirm(A, Next) == EFI_SUCCESS && Next[0] == 1 && Next[1] == 0 &&
                   B.Set(EfiSupplicantSaeConfirm, Next, ConfirmSize) == EFI_SUCCESS,
               "sae.confirm.send-confirm-counts");

  UINT8 Altered[ConfirmSize];
  CopyMem(Altered, Bodies.ConfirmB, ConfirmSize);
  Altered[ConfirmSize - 1] ^= 0x01;
  Report.CheckStatus(A.Set(EfiSupplicantSaeConfirm, Altered, ConfirmSize), EFI_BUFFER_TOO_SMALL,
                     "sae.confirm.altered-refused");
  Report.CheckStatus(A.Set(EfiSupplicantSaeConfirm, Bodies.ConfirmB, ConfirmSize - 1), EFI_BUFFER_TOO_SMALL,
                     "sae.confirm.short-refused");
  Report.CheckStatus(A.Set(EfiSupplicantSaeConfirm, Bodies.ConfirmA, ConfirmSize), EFI_BUFFER_TOO_SMALL,
                     "sae.confirm.reflected-refused");

  // Refusals of peer commits (each leaves A without keys for the confirm).
  Report.CheckStatus(A.Set(EfiSupplicantSaeCommit, Bodies.CommitA, CommitSize), BadElement,
                     "sae.commit.reflected-refused");
  UINT8 Reshaped[CommitSize];
  CopyMem(Reshaped, Bodies.CommitB, CommitSize);
  Reshaped[0] = 20;
  Report.CheckStatus(A.Set(EfiSupplicantSaeCommit, Reshaped, CommitSize), BadGroup, "sae.commit.other-group-refused");
  Report.CheckStatus(A.Set(EfiSupplicantSaeCommit, Bodies.CommitB, 20), BadScalar, "sae.commit.short-refused");
  CopyMem(Reshaped, Bodies.CommitB, CommitSize);
  Reshaped[CommitSize - 1] ^= 0x01;
  Report.CheckStatus(A.Set(EfiSupplicantSaeCommit, Reshaped, CommitSize), BadElement,
                     "sae.commit.off-curve-refused");
  UINTN Size = ConfirmSize;
  Report.CheckStatus(A.Get(EfiSupplicantSaeConfirm, Next, &Size), EFI_PROTOCOL_ERROR,
                     "sae.confirm.after-refused-commit");
}

void CheckWrongPassword(TestReporter &Report) {
  TestChild A(Report), B(Report);
  if (!Report.Check(ConfigureForSae(A, MacA, MacB, "one password") && ConfigureForSae(B, MacB, MacA, "another one"),
                    "sae.wrong-password.configure")) {
    return;
  }
  UINT8 CommitA[CommitSize], CommitB[CommitSize], ConfirmA[ConfirmSize], ConfirmB[ConfirmSize];
  bool Exchanged = GetCommit(A, CommitA) == EFI_SUCCESS && GetCommit(B, CommitB) == EFI_SUCCESS &&
                   A.Set(EfiSupplicantSaeCommit, CommitB, CommitSize) == EFI_SUCCESS &&
                   B.Set(EfiSupplicantSaeCommit, CommitA, CommitSize) == EFI_SUCCESS &&
                   GetConfirm(A, ConfirmA) == EFI_SUCCESS && GetConfirm(B, ConfirmB) == EFI_SUCCESS;
  Report.Check(Exchanged && A.Set(EfiSupplicantSaeConfirm, ConfirmB, ConfirmSize) == EFI_BUFFER_TOO_SMALL &&
                   B.Set(EfiSupplicantSaeConfirm, ConfirmA, ConfirmSize) == EFI_BUFFER_TOO_SMALL,
               "sae.wrong-password.confirms-refused");
}

// Hash to element: the peer's commit goes in after its status code (126).
constexpr UINTN H2eRoom = 256;
constexpr UINT16 StatusH2e = 126;
constexpr EFI_STATUS WrongMethod = 12;

struct H2eCommit {
  UINT8 Bytes[2 + H2eRoom];  // status, then the body
  UINTN Size = 0;            // of the body
  const UINT8 *WithStatus() const { return Bytes; }
  UINT8 *Body() { return Bytes + 2; }
};

EFI_STATUS GetH2eCommit(const TestChild &Child, H2eCommit &Commit, UINT16 Status = StatusH2e) {
  Commit.Bytes[0] = static_cast<UINT8>(Status);
  Commit.Bytes[1] = static_cast<UINT8>(Status >> 8);
  Commit.Size = H2eRoom;
  return Child.Get(EfiSupplicantSaeCommit, Commit.Body(), &Commit.Size);
}

bool ConfigureForH2e(const TestChild &Child, const UINT8 *Own, const UINT8 *Peer, const CHAR8 *Identifier) {
  const UINT8 H2e = 1;
  return ConfigureForSae(Child, Own, Peer, "firmware h2e") &&
         Child.Set(EfiSupplicantSaePweMethod, &H2e, 1) == EFI_SUCCESS &&
         (Identifier == nullptr ||
          Child.Set(EfiSupplicantSaePasswordIdentifier, Identifier, AsciiStrLen(Identifier)) == EFI_SUCCESS);
}

// Two children by hash to element (with or without a password identifier)
// derive the same PMK; with the identifier, A then completes the WPA3 4-way
// handshake on that PMK against the built-in access point.
void CheckHashToElement(TestReporter &Report, const CHAR8 *Identifier, const CHAR8 *Prefix) {
  TestChild A(Report), B(Report);
  CHAR8 Name[64];
  auto Named = [&](const CHAR8 *Check) {
    AsciiSPrint(Name, sizeof(Name), "%a.%a", Prefix, Check);
    return Name;
  };
  if (!Report.Check(ConfigureForH2e(A, MacA, MacB, Identifier) && ConfigureForH2e(B, MacB, MacA, Identifier),
                    Named("configure"))) {
    return;
  }
  const UINTN Expected = CommitSize + (Identifier == nullptr ? 0 : 3 + AsciiStrLen(Identifier));
  UINTN Probe = 0;
  Report.Check(A.Get(EfiSupplicantSaeCommit, nullptr, &Probe) == EFI_BUFFER_TOO_SMALL && Probe == Expected,
               Named("commit-size-probe"));
  H2eCommit CommitA, CommitB;
  if (!Report.Check(GetH2eCommit(A, CommitA) == EFI_SUCCESS && GetH2eCommit(B, CommitB) == EFI_SUCCESS &&
                        CommitA.Size == Expected,
                    Named("commits"))) {
    return;
  }
  Report.CheckStatus(A.Set(EfiSupplicantSaeCommit, CommitB.WithStatus(), 2 + CommitB.Size), EFI_SUCCESS,
                     Named("peer-commit-a"));
  Report.CheckStatus(B.Set(EfiSupplicantSaeCommit, CommitA.WithStatus(), 2 + CommitA.Size), EFI_SUCCESS,
                     Named("peer-commit-b"));
  Report.CheckBytes(A.Record()->Sae.SaePmk, B.Record()->Sae.SaePmk, 32, Named("same-pmk"));
  UINT8 ConfirmA[ConfirmSize], ConfirmB[ConfirmSize];
  Report.Check(GetConfirm(A, ConfirmA) == EFI_SUCCESS && GetConfirm(B, ConfirmB) == EFI_SUCCESS &&
                   A.Set(EfiSupplicantSaeConfirm, ConfirmB, ConfirmSize) == EFI_SUCCESS &&
                   B.Set(EfiSupplicantSaeConfirm, ConfirmA, ConfirmSize) == EFI_SUCCESS,
               Named("confirms-accepted"));
  if (Identifier != nullptr) {
    UINT8 PeerPmk[32];
    UINTN PmkSize = sizeof(PeerPmk);
    if (Report.CheckStatus(B.Get(EfiSupplicant80211PMK, PeerPmk, &PmkSize), EFI_SUCCESS, Named("pmk-of-the-peer"))) {
      RunSaeHandshakes(Report, A, MacA, MacB, PeerPmk, "wpa3-sae-h2e-mfp");
    }
  }
  // The hunting-and-pecking status is not an H2E commit.
  CommitB.Bytes[0] = 0;
  Report.CheckStatus(A.Set(EfiSupplicantSaeCommit, CommitB.WithStatus(), 2 + CommitB.Size), WrongMethod,
                     Named("status-0-refused"));
  // A token handed in as its container goes out at the end of the commit.
  const UINT8 Container[] = {255, 5, 93, 0xA1, 0xA2, 0xA3, 0xA4};
  Report.Check(A.Set(EfiSupplicantSaeAntiCloggingToken, Container, sizeof(Container)) == EFI_SUCCESS &&
                   GetH2eCommit(A, CommitA) == EFI_SUCCESS && CommitA.Size == Expected + sizeof(Container) &&
                   CompareMem(CommitA.Body() + Expected, Container, sizeof(Container)) == 0,
               Named("token-in-commit"));
}

}  // namespace

void RunSaeSuite(TestReporter &Report) {
  CheckTwoStations(Report);
  CheckWrongPassword(Report);
  CheckHashToElement(Report, nullptr, "sae.h2e");
  CheckHashToElement(Report, "psk4internet", "sae.h2e-id");
}
