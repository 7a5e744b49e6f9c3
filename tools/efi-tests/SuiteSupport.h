// Helpers the supplicant suites share: a child of the driver for the length
// of a suite, a view of its private record for "nothing changed" checks, the
// test access point's random source and objects too large for the stack.
#pragma once
#include <Authenticator.h>
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>

#include "EfiTest.h"
#include "SupInstance.h"

// Creates a child through the service binding and destroys it again.
class TestChild {
 public:
  explicit TestChild(TestReporter &Report);
  ~TestChild();
  TestChild(const TestChild &) = delete;
  TestChild &operator=(const TestChild &) = delete;

  bool Ok() const { return Supplicant_ != nullptr && EapConfig_ != nullptr; }
  EFI_SUPPLICANT_PROTOCOL *Supplicant() const { return Supplicant_; }
  EFI_EAP_CONFIGURATION_PROTOCOL *EapConfig() const { return EapConfig_; }
  // The driver's record behind the protocols (read-only use by the checks).
  SUP_INSTANCE *Record() const;

  EFI_STATUS Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) const {
    return Supplicant_->SetData(Supplicant_, Type, const_cast<void *>(Data), Size);
  }
  EFI_STATUS Get(EFI_SUPPLICANT_DATA_TYPE Type, void *Data, UINTN *Size) const {
    return Supplicant_->GetData(Supplicant_, Type, static_cast<UINT8 *>(Data), Size);
  }
  // Configures AKM (OUI + type), ciphers, SSID, both addresses, pass phrase.
  bool Configure(const UINT8 *AkmOui, UINT8 AkmType, UINT8 Cipher, const CHAR8 *Ssid, const CHAR8 *Passphrase,
                 const UINT8 *StationMac, const UINT8 *TargetMac) const;

 private:
  TestReporter                   &Report_;
  EFI_SERVICE_BINDING_PROTOCOL   *Service_ = nullptr;
  EFI_HANDLE                      Handle_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL        *Supplicant_ = nullptr;
  EFI_EAP_CONFIGURATION_PROTOCOL *EapConfig_ = nullptr;
};

// A copy of a child's record, compared later to prove a failed call changed nothing.
class RecordSnapshot {
 public:
  explicit RecordSnapshot(const TestChild &Child) : Child_(Child) { CopyMem(&Copy_, Child.Record(), sizeof(Copy_)); }
  bool Unchanged() const { return CompareMem(&Copy_, Child_.Record(), sizeof(Copy_)) == 0; }

 private:
  const TestChild &Child_;
  SUP_INSTANCE     Copy_;
};

// A selector structure with one suite: count 1, OUI, type.
struct OneSuite {
  UINT8 Bytes[6];
  OneSuite(const UINT8 *Oui, UINT8 Type) : Bytes{1, 0, Oui[0], Oui[1], Oui[2], Type} {}
};

// EFI_80211_SSID from text.
EFI_80211_SSID MakeSsid(const CHAR8 *Text);

// Whether the driver lists AKM 00-0F-AC:AkmType and EAP-TLS among its EAP
// methods: what a connection manager asks before it offers an enterprise
// network. The personal-only driver answers no; the suites adapt to it.
bool DriverOffersEapTls(const TestChild &Child, UINT8 AkmType);

// The test access point's nonces, keys and TLS randoms: SHA-256 over a seed
// from the firmware clock and a counter. Unpredictability does not matter
// here, only that every run and every draw differs.
class TestRandom {
 public:
  TestRandom();
  authenticator::RANDOM_SOURCE Source() { return {Fill, this}; }

 private:
  static VOID Fill(VOID *Context, UINT8 *Buffer, UINTN Length);
  UINT8  Seed_[16] = {};
  UINT64 Counter_ = 0;
};

#if defined(__STDC_HOSTED__) && __STDC_HOSTED__
#include <new>
#else
// The freestanding application has no <new>; this is the one form it needs.
inline void *operator new(decltype(sizeof(0)), void *Place) noexcept { return Place; }
#endif

// One T in zeroed pool memory for the length of a scope: the EAP-TLS
// server and the EAP authenticator hold tens of KiB of buffers.
template <typename T>
class PoolBox {
 public:
  PoolBox() {
    VOID *Memory = AllocateZeroPool(sizeof(T));
    Object_ = Memory != nullptr ? new (Memory) T() : nullptr;
  }
  ~PoolBox() {
    if (Object_ != nullptr) {
      Object_->~T();
      FreePool(Object_);
    }
  }
  PoolBox(const PoolBox &) = delete;
  PoolBox &operator=(const PoolBox &) = delete;

  bool Ok() const { return Object_ != nullptr; }
  T   *operator->() const { return Object_; }
  T   &operator*() const { return *Object_; }

 private:
  T *Object_ = nullptr;
};
