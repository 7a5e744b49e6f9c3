#include <HostEnv/SimChipset.h>

#include <cstdio>

namespace HostEnv {
namespace {

UINT64 WidthMask(UINT8 Width) { return Width >= 8 ? ~UINT64(0) : (UINT64(1) << (Width * 8)) - 1; }

const char *KindName(TraceKind Kind) {
  switch (Kind) {
    case TraceKind::Io: return "IO";
    case TraceKind::Mmio: return "MMIO";
    case TraceKind::Msr: return "MSR";
    case TraceKind::Cpuid: return "CPUID";
    case TraceKind::Tsc: return "TSC";
    case TraceKind::RdRand: return "RDRAND";
    case TraceKind::RdSeed: return "RDSEED";
  }
  return "?";
}

TraceKind KindOf(AccessSpace Space) {
  switch (Space) {
    case AccessSpace::Io: return TraceKind::Io;
    case AccessSpace::Mmio: return TraceKind::Mmio;
    case AccessSpace::Msr: return TraceKind::Msr;
  }
  return TraceKind::Mmio;
}

// SplitMix64, as for the RNG protocol: deterministic and well spread.
UINT64 SplitMix64(UINT64 &State) {
  UINT64 Z = (State += 0x9E3779B97F4A7C15ULL);
  Z        = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  Z        = (Z ^ (Z >> 27)) * 0x94D049BB133111EBULL;
  return Z ^ (Z >> 31);
}

}  // namespace

std::string FormatTraceEntry(const TraceEntry &Entry) {
  char Line[96];
  std::snprintf(Line, sizeof(Line), "%s %c%u 0x%016llX %s 0x%0*llX", KindName(Entry.Kind),
                Entry.Op == TraceOp::Read ? 'R' : 'W', Entry.Width, Entry.Address,
                Entry.Op == TraceOp::Read ? "->" : "<-", Entry.Width * 2, Entry.Value);
  return Line;
}

std::string SimChipset::FormatTrace() const {
  std::string Text;
  for (const TraceEntry &Entry : Trace_) {
    Text += FormatTraceEntry(Entry);
    Text += '\n';
  }
  return Text;
}

void SimChipset::BoundAccesses(UINT64 Limit, std::function<void()> Exceeded) {
  AccessLimit_ = Limit == 0 ? 0 : Accesses_ + Limit;
  LimitExceeded_ = Limit == 0 ? nullptr : std::move(Exceeded);
}

void SimChipset::CountAccess() {
  if (AccessLimit_ != 0 && Accesses_ >= AccessLimit_ && LimitExceeded_) {
    LimitExceeded_();
  }
  ++Accesses_;
}

void SimChipset::Record(TraceKind Kind, TraceOp Op, UINT8 Width, UINT64 Address, UINT64 Value) {
  if (Tracing_) {
    Trace_.push_back(TraceEntry{Kind, Op, Width, Address, Value});
  }
}

const SimChipset::HandlerRange *SimChipset::FindHandler(AccessSpace Space, UINT64 Address) const {
  for (auto Range = Handlers_.rbegin(); Range != Handlers_.rend(); ++Range) {
    if (Range->Space == Space && Address - Range->Base < Range->Length && Address >= Range->Base) {
      return &*Range;
    }
  }
  return nullptr;
}

void SimChipset::AddHandler(AccessSpace Space, UINT64 Base, UINT64 Length, RegisterHandler Handler) {
  Handlers_.push_back(HandlerRange{Space, Base, Length, std::move(Handler)});
}

UINT64 SimChipset::Peek(AccessSpace Space, UINT64 Address, UINT8 Width) const {
  if (Space == AccessSpace::Msr) {
    if (auto Written = Msrs_.find(Address); Written != Msrs_.end()) {
      return Written->second;
    }
    auto Initial = MsrInitial_.find(Address);
    return Initial != MsrInitial_.end() ? Initial->second : 0;
  }
  const ByteMap &Written = Bytes(Space);
  const ByteMap &Initial = InitialBytes(Space);
  UINT64         Value   = 0;
  for (UINT8 Index = 0; Index < Width; ++Index) {
    UINT8 Byte = 0;
    if (auto Found = Written.find(Address + Index); Found != Written.end()) {
      Byte = Found->second;
    } else if (auto Preset = Initial.find(Address + Index); Preset != Initial.end()) {
      Byte = Preset->second;
    }
    Value |= UINT64(Byte) << (Index * 8);
  }
  return Value;
}

void SimChipset::Poke(AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value) {
  if (Space == AccessSpace::Msr) {
    Msrs_[Address] = Value;
    return;
  }
  ByteMap &Written = Bytes(Space);
  for (UINT8 Index = 0; Index < Width; ++Index) {
    Written[Address + Index] = UINT8(Value >> (Index * 8));
  }
}

void SimChipset::SetInitialValue(AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value) {
  if (Space == AccessSpace::Msr) {
    MsrInitial_[Address] = Value;
    return;
  }
  ByteMap &Initial = InitialBytes(Space);
  for (UINT8 Index = 0; Index < Width; ++Index) {
    Initial[Address + Index] = UINT8(Value >> (Index * 8));
  }
}

bool SimChipset::WasWritten(AccessSpace Space, UINT64 Address) const {
  return Space == AccessSpace::Msr ? Msrs_.count(Address) != 0 : Bytes(Space).count(Address) != 0;
}

UINT64 SimChipset::Read(AccessSpace Space, UINT64 Address, UINT8 Width) {
  CountAccess();
  const HandlerRange *Range = FindHandler(Space, Address);
  UINT64 Value = (Range != nullptr && Range->Handler.Read) ? Range->Handler.Read(Address, Width)
                                                           : Peek(Space, Address, Width);
  Value &= WidthMask(Width);
  Record(KindOf(Space), TraceOp::Read, Width, Address, Value);
  return Value;
}

void SimChipset::Write(AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value) {
  CountAccess();
  Value &= WidthMask(Width);
  Record(KindOf(Space), TraceOp::Write, Width, Address, Value);
  const HandlerRange *Range = FindHandler(Space, Address);
  if (Range != nullptr && Range->Handler.Write) {
    Range->Handler.Write(Address, Width, Value);
  } else {
    Poke(Space, Address, Width, Value);
  }
}

void SimChipset::SetCpuid(UINT32 Leaf, const CpuidResult &Result) { CpuidAnySubLeaf_[Leaf] = Result; }

void SimChipset::SetCpuid(UINT32 Leaf, UINT32 SubLeaf, const CpuidResult &Result) {
  CpuidLeaves_[{Leaf, SubLeaf}] = Result;
}

CpuidResult SimChipset::Cpuid(UINT32 Leaf, UINT32 SubLeaf) {
  CountAccess();
  CpuidResult Result;
  if (auto Exact = CpuidLeaves_.find({Leaf, SubLeaf}); Exact != CpuidLeaves_.end()) {
    Result = Exact->second;
  } else if (auto Any = CpuidAnySubLeaf_.find(Leaf); Any != CpuidAnySubLeaf_.end()) {
    Result = Any->second;
  }
  Record(TraceKind::Cpuid, TraceOp::Read, 4, (UINT64(SubLeaf) << 32) | Leaf,
         Result.Eax | (UINT64(Result.Ebx) << 32));
  return Result;
}

void SimChipset::SetCpuidSi(UINT32 Leaf, UINT64 Si) { CpuidSi_[Leaf] = Si; }

UINT64 SimChipset::CpuidWithSi(UINT32 Leaf, UINT32, UINT64 Si) {
  Cpuid(Leaf, 0);
  auto Answer = CpuidSi_.find(Leaf);
  return Answer != CpuidSi_.end() ? Answer->second : Si;
}

UINT64 SimChipset::ReadTsc() {
  CountAccess();
  Tsc_ += TscStep_;
  Record(TraceKind::Tsc, TraceOp::Read, 8, 0, Tsc_);
  return Tsc_;
}

bool SimChipset::NextRandom(RandomSource &Source, TraceKind Kind, UINT64 *Value) {
  CountAccess();
  if (!Source.Available) {
    return false;
  }
  *Value = SplitMix64(Source.State);
  Record(Kind, TraceOp::Read, 8, 0, *Value);
  return true;
}

bool SimChipset::RdRand(UINT64 *Value) { return NextRandom(RdRand_, TraceKind::RdRand, Value); }
bool SimChipset::RdSeed(UINT64 *Value) { return NextRandom(RdSeed_, TraceKind::RdSeed, Value); }

}  // namespace HostEnv
