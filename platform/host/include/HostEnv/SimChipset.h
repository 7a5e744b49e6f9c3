// The simulated chipset behind Platform/Hardware.h on the host.
//
// I/O ports, MMIO and MSRs behave as memory: a read returns the last value
// written, else the configured initial value, else 0. I/O and MMIO are
// byte-addressed (a 32-bit write is visible to 8-bit reads of its bytes);
// MSRs are whole 64-bit registers.
//
// Behaviour beyond memory comes from handlers registered for an address
// range of one space. The most recently registered handler covering an
// address wins; a handler with no Read (or no Write) function leaves that
// direction to the memory model. Handlers reach the memory model through
// Peek/Poke, which are neither traced nor handled, so a handler can keep its
// registers there:
//
//   // A status register at 0xFED80004 that reports "ready" once the command
//   // register at 0xFED80000 has been written with 1.
//   Chip.AddHandler(AccessSpace::Mmio, 0xFED80004, 4, {
//     .Read = [&Chip](UINT64, UINT8) -> UINT64 {
//       return Chip.Peek(AccessSpace::Mmio, 0xFED80000, 4) == 1 ? 0x80 : 0; }});
//
// Every access a driver makes can be recorded, in order, in the trace.
// CPUID answers configured leaves (zeros otherwise); the TSC advances by a
// fixed step per read; RDRAND/RDSEED are unavailable unless enabled with a
// seed, and then deliver a deterministic sequence.
#pragma once

#include <uefi/Base.h>

#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace HostEnv {

enum class AccessSpace : UINT8 { Io, Mmio, Msr };

enum class TraceKind : UINT8 { Io, Mmio, Msr, Cpuid, Tsc, RdRand, RdSeed };
enum class TraceOp : UINT8 { Read, Write };

// Address is the port, MMIO address or MSR index; for CPUID it is
// (SubLeaf << 32) | Leaf and Value is EAX | (EBX << 32). Width in bytes.
struct TraceEntry {
  TraceKind Kind;
  TraceOp   Op;
  UINT8     Width;
  UINT64    Address;
  UINT64    Value;
};
// "MMIO W4 0x00000000FED80000 <- 0x00000001" style line, without newline.
std::string FormatTraceEntry(const TraceEntry &Entry);

struct RegisterHandler {
  std::function<UINT64(UINT64 Address, UINT8 Width)>            Read  = {};
  std::function<void(UINT64 Address, UINT8 Width, UINT64 Value)> Write = {};
};

struct CpuidResult {
  UINT32 Eax = 0;
  UINT32 Ebx = 0;
  UINT32 Ecx = 0;
  UINT32 Edx = 0;
};

class SimChipset {
 public:
  static constexpr UINT64 kDefaultTscStep = 1000;

  // --- Accesses as a driver makes them: handled and traced ---
  UINT64 Read(AccessSpace Space, UINT64 Address, UINT8 Width);
  void   Write(AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value);

  // --- The memory model underneath: no handlers, no trace ---
  UINT64 Peek(AccessSpace Space, UINT64 Address, UINT8 Width) const;
  void   Poke(AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value);
  // What a location reads before anything is written to it.
  void SetInitialValue(AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value);
  bool WasWritten(AccessSpace Space, UINT64 Address) const;

  void AddHandler(AccessSpace Space, UINT64 Base, UINT64 Length, RegisterHandler Handler);

  // --- Processor ---
  void        SetCpuid(UINT32 Leaf, const CpuidResult &Result);                  // every sub-leaf
  void        SetCpuid(UINT32 Leaf, UINT32 SubLeaf, const CpuidResult &Result);  // one sub-leaf
  CpuidResult Cpuid(UINT32 Leaf, UINT32 SubLeaf);
  // CPUID that also carries RSI (AsmCpuidWithSi: the channel through which a
  // debugger answers a firmware assertion stop). A leaf configured with
  // SetCpuidSi answers with that RSI; any other leaves RSI as it was, as a
  // processor does. Traced like Cpuid (sub-leaf 0).
  void   SetCpuidSi(UINT32 Leaf, UINT64 Si);
  UINT64 CpuidWithSi(UINT32 Leaf, UINT32 Ebx, UINT64 Si);

  void   SetTsc(UINT64 Value) { Tsc_ = Value; }
  void   SetTscStep(UINT64 Step) { TscStep_ = Step; }
  UINT64 ReadTsc();

  void EnableRdRand(UINT64 Seed) { RdRand_ = {true, Seed}; }
  void DisableRdRand() { RdRand_.Available = false; }
  bool RdRand(UINT64 *Value);
  void EnableRdSeed(UINT64 Seed) { RdSeed_ = {true, Seed}; }
  void DisableRdSeed() { RdSeed_.Available = false; }
  bool RdSeed(UINT64 *Value);

  // --- Bounded runs ---
  // From now on, the first access (port, MMIO, MSR, CPUID, TSC or random
  // number) beyond Limit calls Exceeded before it happens; Exceeded is
  // expected to throw, which abandons the access. 0 lifts the bound.
  void   BoundAccesses(UINT64 Limit, std::function<void()> Exceeded);
  UINT64 Accesses() const { return Accesses_; }  // made so far, bounded or not

  // --- Trace ---
  void                           EnableTrace(bool On = true) { Tracing_ = On; }
  bool                           Tracing() const { return Tracing_; }
  const std::vector<TraceEntry> &Trace() const { return Trace_; }
  void                           ClearTrace() { Trace_.clear(); }
  std::string                    FormatTrace() const;  // one line per entry

 private:
  struct HandlerRange {
    AccessSpace     Space;
    UINT64          Base;
    UINT64          Length;
    RegisterHandler Handler;
  };
  struct RandomSource {
    bool   Available = false;
    UINT64 State     = 0;
  };
  using ByteMap = std::unordered_map<UINT64, UINT8>;

  const HandlerRange *FindHandler(AccessSpace Space, UINT64 Address) const;
  void                CountAccess();
  void                Record(TraceKind Kind, TraceOp Op, UINT8 Width, UINT64 Address, UINT64 Value);
  bool                NextRandom(RandomSource &Source, TraceKind Kind, UINT64 *Value);
  ByteMap            &Bytes(AccessSpace Space) { return Space == AccessSpace::Io ? IoBytes_ : MmioBytes_; }
  const ByteMap      &Bytes(AccessSpace Space) const { return Space == AccessSpace::Io ? IoBytes_ : MmioBytes_; }
  ByteMap            &InitialBytes(AccessSpace Space) { return Space == AccessSpace::Io ? IoInitial_ : MmioInitial_; }
  const ByteMap      &InitialBytes(AccessSpace Space) const {
    return Space == AccessSpace::Io ? IoInitial_ : MmioInitial_;
  }

  ByteMap                                      IoBytes_, MmioBytes_, IoInitial_, MmioInitial_;
  std::unordered_map<UINT64, UINT64>           Msrs_, MsrInitial_;
  std::vector<HandlerRange>                    Handlers_;
  std::map<std::pair<UINT32, UINT32>, CpuidResult> CpuidLeaves_;
  std::map<UINT32, CpuidResult>                CpuidAnySubLeaf_;
  std::map<UINT32, UINT64>                     CpuidSi_;
  UINT64                                       Tsc_     = 0;
  UINT64                                       TscStep_ = kDefaultTscStep;
  RandomSource                                 RdRand_, RdSeed_;
  UINT64                                       Accesses_ = 0;
  UINT64                                       AccessLimit_ = 0;  // absolute count; 0 = none
  std::function<void()>                        LimitExceeded_;
  bool                                         Tracing_ = false;
  std::vector<TraceEntry>                      Trace_;
};

}  // namespace HostEnv
