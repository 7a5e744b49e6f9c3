#include "Summary.h"

#include <HostEnv/Text.h>

#include <cstdio>
#include <string>

namespace HubSimTool {
namespace {

std::string Hex(UINT64 Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

std::string Escaped(const std::string &Text) {
  std::string Out;
  for (char C : Text) {
    if (C == '\n') {
      Out += "\\n";
    } else {
      Out += C;
    }
  }
  return Out;
}

const char *BootScriptName(UINTN OpCode) {
  switch (OpCode) {
    case 0: return "io-write";
    case 1: return "io-read-write";
    case 2: return "mem-write";
    case 3: return "mem-read-write";
    case 4: return "pci-config-write";
    case 5: return "pci-config-read-write";
    default: return "other";
  }
}

std::string PcdValueText(const HubSim::PcdSetRecord &Set) {
  if (Set.Type != HubSim::PcdType::Ptr) {
    return Hex(Set.Value);
  }
  std::string Text = "[";
  for (size_t Index = 0; Index < Set.Bytes.size(); ++Index) {
    char Byte[4];
    std::snprintf(Byte, sizeof(Byte), "%s%02X", Index == 0 ? "" : " ", Set.Bytes[Index]);
    Text += Byte;
  }
  return Text + "]";
}

void Section(std::ostream &Out, const std::string &Title, size_t Count) {
  Out << Title << " (" << Count << ")" << (Count == 0 ? ": none" : ":") << "\n";
}

void WritePhaseWrites(std::ostream &Out, const HubRun &Run) {
  Out << "Register writes per phase:";
  for (const StageWrites &Phase : Run.WritesPerPhase()) {
    Out << " " << Phase.Stage << " " << Phase.Writes << ";";
  }
  Out << "\n";
}

// The heap buffers the driver shares (from HEAP hand-off blocks or its own)
// and what it asked the IDS hook extension.
void WriteHeapBuffersAndIdsCalls(std::ostream &Out, HubSim::HubPlatform &Platform) {
  std::vector<HubSim::HeapBufferInfo> Buffers = Platform.HeapBuffers();
  Section(Out, "Heap buffers", Buffers.size());
  for (const HubSim::HeapBufferInfo &Buffer : Buffers) {
    Out << "  handle " << Hex(Buffer.Handle) << ": " << Buffer.Size << " bytes, persistence "
        << static_cast<unsigned>(Buffer.Persistence) << "\n";
  }
  const std::vector<UINT32> &Calls = Platform.IdsHookCalls();
  Section(Out, "IDS hook extension calls", Calls.size());
  if (!Calls.empty()) {
    Out << " ";
    for (UINT32 Hook : Calls) Out << " " << Hex(Hook);
    Out << "\n";
  }
}

}  // namespace

void WriteStuckReport(std::ostream &Out, HubRun &Run, size_t LastAccesses) {
  Out << "hub-sim: stopped during " << Run.StoppedAtBound().value_or("?") << " after " << Run.MaxAccesses()
      << " hardware accesses (--max-accesses): the driver looks stuck. Last accesses:\n";
  const std::vector<HostEnv::TraceEntry> &Trace = Run.Env().Chipset().Trace();
  size_t First = Trace.size() > LastAccesses ? Trace.size() - LastAccesses : 0;
  for (size_t Index = First; Index < Trace.size(); ++Index) {
    Out << "  " << HostEnv::FormatTraceEntry(Trace[Index]) << "\n";
  }
}

void WriteSummary(std::ostream &Out, HubRun &Run) {
  HubSim::HubPlatform &Platform = Run.Platform();
  Out << "XchKryDxe on platform \"" << Platform.Settings().Name << "\"\n";
  Out << "Entry status: " << HostEnv::StatusToString(Run.EntryStatus()) << "\n";
  PhaseCounts Phases = Run.PhasesRun();
  Out << "Phases run: XchInitEnv " << Phases.Env << ", XchInitMid " << Phases.Mid << ", XchInitLate " << Phases.Late
      << "\n";
  Out << "Register writes per stimulus:";
  for (const StageWrites &Stage : Run.WritesPerStage()) {
    Out << " " << Stage.Stage << " " << Stage.Writes << ";";
  }
  Out << "\n";
  WritePhaseWrites(Out, Run);
  if (Run.Reset()) {
    Out << "Reset: " << Hex(Run.Reset()->Value) << " to port " << Hex(Run.Reset()->Port) << " ended the run\n";
  }
  if (Run.StoppedAtBound()) {
    Out << "Stopped: " << *Run.StoppedAtBound() << " reached the bound of " << Run.MaxAccesses()
        << " hardware accesses\n";
  }

  Section(Out, "Test points", Platform.TestPoints().size());
  if (!Platform.TestPoints().empty()) {
    Out << " ";
    for (UINT32 Code : Platform.TestPoints()) {
      Out << " " << Hex(Code & 0xFFFF);
    }
    Out << "\n";
  }

  Section(Out, "Debug log", Platform.DebugLog().size());
  for (const HubSim::DebugLine &Line : Platform.DebugLog()) {
    Out << "  [" << Hex(Line.Level) << "] " << Escaped(Line.Text) << "\n";
  }

  Section(Out, "PCD sets", Platform.PcdSets().size());
  for (const HubSim::PcdSetRecord &Set : Platform.PcdSets()) {
    Out << "  " << (Set.Ex ? HostEnv::GuidToString(Set.Space) + " " : "") << "token " << Set.Token << " = "
        << PcdValueText(Set) << (EFI_ERROR(Set.Status) ? " (" + HostEnv::StatusToString(Set.Status) + ")" : "")
        << "\n";
  }

  Section(Out, "Boot-script entries", Platform.BootScript().size());
  for (const HubSim::BootScriptEntry &Entry : Platform.BootScript()) {
    Out << "  " << BootScriptName(Entry.OpCode) << " width " << Entry.Width << " " << Hex(Entry.Address);
    if (Entry.Count != 0) {
      Out << " count " << Entry.Count << " value";
      for (UINT64 Value : Entry.Values) Out << " " << Hex(Value);
    } else if (Entry.Values.size() == 2) {
      Out << " data " << Hex(Entry.Values[0]) << " mask " << Hex(Entry.Values[1]);
    }
    Out << "\n";
  }

  // The table SMM received at ready-to-boot, else the one still in memory.
  std::vector<UINT8> Table = Platform.LiveS3Table();
  const char *Where = "in memory";
  for (const HubSim::SmmMessage &Message : Platform.SmmMessages()) {
    if (!Message.S3Table.empty()) {
      Table = Message.S3Table;
      Where = "handed to SMM";
    }
  }
  std::vector<HubSim::S3TableRecord> Records = HubSim::ParseS3Table(Table);
  Section(Out, std::string("S3 table records, ") + (Table.empty() ? "no table" : Where), Records.size());
  for (const HubSim::S3TableRecord &Record : Records) {
    Out << "  opcode " << Record.OpCode << ":";
    for (size_t Index = 2; Index < Record.Bytes.size(); ++Index) {
      char Byte[4];
      std::snprintf(Byte, sizeof(Byte), " %02X", Record.Bytes[Index]);
      Out << Byte;
    }
    Out << "\n";
  }

  Section(Out, "SMM messages", Platform.SmmMessages().size());
  for (const HubSim::SmmMessage &Message : Platform.SmmMessages()) {
    Out << "  " << HostEnv::GuidToString(Message.Header) << " length " << Message.MessageLength << ", "
        << Message.Buffer.size() << " bytes\n";
  }

  Section(Out, "GCD operations", Platform.GcdOperations().size());
  for (const HubSim::GcdOperation &Operation : Platform.GcdOperations()) {
    Out << "  " << Operation.Operation << " " << Hex(Operation.Base) << " length " << Hex(Operation.Length) << ": "
        << HostEnv::StatusToString(Operation.Status) << "\n";
  }
  WriteHeapBuffersAndIdsCalls(Out, Platform);
  if (!Platform.UartReceived().empty()) {
    Out << "UART received: \"" << Escaped(Platform.UartReceived()) << "\"\n";
  }
}

}  // namespace HubSimTool
