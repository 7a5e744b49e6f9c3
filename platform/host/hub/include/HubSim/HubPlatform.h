// The simulated controller-hub platform on top of the host UEFI environment:
// the platform services the driver calls (both PCD protocols over a token
// database, the HOB list, the DXE services table with a small GCD map, the
// S3 save state and SMM communication protocols as recorders, the debug-print
// protocol, the IDS hook extension) and the chipset behaviours it relies on
// (SMN index/data with the SMU response, AOAC status, the UART, reset
// requests, CPUID answers). Everything the platform observes is kept as
// typed records and as an ordered event list placed within the chipset's
// access trace.
//
//   HostEnv::Environment Env(HubSim::HubPlatform::EnvironmentOptions(Profile));
//   HubSim::HubPlatform Platform(Env, Profile);
//   EFI_HANDLE Image = Env.LoadImage(XchKryDxeModuleEntry);
//   Env.StartImage(Image);
//   Env.AddPciDevice({...});            // Mid
//   Platform.InstallSmmReadyToLock();
//   Env.SignalReadyToBoot();            // Late
//
// One platform exists at a time, inside one environment.
#pragma once

#include <HostEnv/Environment.h>
#include <HubSim/HubProfile.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace HubSim {

constexpr size_t kDataBlockSize = 1802;

// Thrown out of the driver's register access when it requests a platform
// reset: like real hardware, the run does not come back.
struct SimulatedReset : std::runtime_error {
  SimulatedReset(UINT16 Port, UINT8 Value);
  UINT16 Port;
  UINT8  Value;
};

struct EventField {
  enum class Type : UINT8 { Hex, Number, Text, Flag };
  std::string Key;
  Type        Kind;
  UINT64      Value = 0;
  std::string Text;
};

EventField Hex(const std::string &Key, UINT64 Value);
EventField Number(const std::string &Key, UINT64 Value);
EventField Text(const std::string &Key, const std::string &Value);
EventField Flag(const std::string &Key, bool Value);

// A platform event, placed after the first TracePosition chipset accesses.
struct HubEvent {
  size_t                  TracePosition;
  std::string             Name;
  std::vector<EventField> Fields;
  std::string             Field(const std::string &Key) const;  // rendered value or ""
};

struct BootScriptEntry {
  UINTN              OpCode;
  UINT32             Width;    // EFI_BOOT_SCRIPT_WIDTH
  UINT64             Address;  // port, memory address or boot-script PCI address
  UINTN              Count = 0;
  std::vector<UINT64> Values;  // write data units, or data then mask
  bool               Forwarded = false;  // arrived through the SMM boot-script forwarder
};

struct PcdSetRecord {
  bool               Ex;  // EFI_PCD_PROTOCOL or a ...Ex member
  EFI_GUID           Space;
  UINTN              Token;
  PcdType            Type;
  UINT64             Value;
  std::vector<UINT8> Bytes;
  EFI_STATUS         Status;
};

// A read of a token at another width or kind than the token has.
struct PcdMismatch {
  bool     Ex;
  EFI_GUID Space;
  UINTN    Token;
  PcdType  Requested;
  PcdType  Actual;
};

struct DebugLine {
  UINT64      Level;
  std::string Text;
};

struct SmmMessage {
  EFI_GUID           Header;
  UINT64             MessageLength;
  std::vector<UINT8> Buffer;        // the whole communication buffer as given (CommSize bytes)
  std::vector<UINT8> S3Table;       // close message: the table as SMM received it
  std::vector<UINT8> ForwardedRecord;  // forwarder: the 100-byte record
  std::vector<UINT8> ForwardedData;    // forwarder: the 8-byte data buffer
};

struct GcdOperation {
  std::string          Operation;  // "allocate" or "set-attributes"
  UINT64               Base;
  UINT64               Length;
  UINT64               Attributes = 0;
  EFI_GCD_MEMORY_TYPE  Type = EfiGcdMemoryTypeNonExistent;
  EFI_HANDLE           ImageHandle = nullptr;
  EFI_STATUS           Status;
};

// A buffer on the heap buffer list the driver shares through the heap
// buffer protocol.
struct HeapBufferInfo {
  UINT32             Handle;
  UINT32             Size;
  UINT8              Persistence;
  const UINT8       *Buffer;
};

// One record of the driver's S3 save table.
struct S3TableRecord {
  UINT16             OpCode;
  std::vector<UINT8> Bytes;  // the whole record
};
// Records between offset 48 and the end marker (or the next free offset).
std::vector<S3TableRecord> ParseS3Table(const std::vector<UINT8> &Table);
// Fields of an "s3-record" event for the record at Offset of the table.
std::vector<EventField> S3RecordFields(const S3TableRecord &Record, size_t Offset, bool HandedToSmm);

class HubPlatform {
 public:
  HubPlatform(HostEnv::Environment &Env, const Profile &Settings);
  ~HubPlatform();
  HubPlatform(const HubPlatform &) = delete;
  HubPlatform &operator=(const HubPlatform &) = delete;

  static HostEnv::Options EnvironmentOptions(const Profile &Settings);
  static HubPlatform     &Active();

  const Profile &Settings() const;

  // --- Stimuli ---
  void InstallSmmReadyToLock();
  void InstallSmmBootScriptReady();  // protocol B2E3155F-...
  // A platform event of the caller's own (hub-sim's "phase" markers).
  void Note(const std::string &Name, std::vector<EventField> Fields = {});

  // --- PCD database ---
  const PcdValue *Pcd(UINTN Token) const;
  const PcdValue *PcdEx(const EFI_GUID &Space, UINTN Token) const;
  void            SetPcd(UINTN Token, const PcdValue &Value);

  // --- SMN registers behind the index/data pair ---
  UINT32 Smn(UINT32 Address) const;
  void   SetSmn(UINT32 Address, UINT32 Value);
  void   SetSmuResponse(UINT32 Value);
  // Answers for the next reads of the SMU response register, in order;
  // afterwards the steady value of SetSmuResponse again.
  void   QueueSmuResponses(const std::vector<UINT32> &Values);
  // Reads of the SMU response register so far.
  size_t SmuResponseReads() const;
  // An AOAC device whose status byte reads Status whatever its control byte
  // says (power failure tests).
  void   StickAoacDevice(UINT8 Device, UINT8 Status);

  // --- What the platform saw ---
  const std::vector<HubEvent>        &Events() const;
  const std::vector<BootScriptEntry> &BootScript() const;
  const std::vector<PcdSetRecord>    &PcdSets() const;
  const std::vector<PcdMismatch>     &PcdMismatches() const;
  const std::vector<DebugLine>       &DebugLog() const;
  const std::vector<SmmMessage>      &SmmMessages() const;
  const std::vector<GcdOperation>    &GcdOperations() const;
  const std::vector<UINT32>          &TestPoints() const;
  const std::vector<UINT32>          &IdsHookCalls() const;
  const std::string                  &UartReceived() const;
  std::string                         DebugText() const;  // all debug lines concatenated
  const std::vector<UINT8>           &HobList() const;
  // The data block as the driver built it, copied when the init protocol
  // was installed (just before the first Env task); empty before that.
  const std::vector<UINT8>           &DataBlockAsBuilt() const;

  // The heap buffer list as it is now (empty before the driver publishes it).
  std::vector<HeapBufferInfo>         HeapBuffers() const;

  // The driver's S3 save table as it is now (PCD 779), if it still exists.
  std::vector<UINT8> LiveS3Table() const;

  struct Internals;
  Internals &Inside() { return *In_; }

 private:
  HostEnv::Environment      &Env_;
  std::unique_ptr<Internals> In_;
};

}  // namespace HubSim
