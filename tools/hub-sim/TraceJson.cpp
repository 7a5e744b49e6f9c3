#include "TraceJson.h"

#include <cstdio>

using json = nlohmann::ordered_json;

namespace HubSimTool {
namespace {

std::string Hex(UINT64 Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

bool Access(const HostEnv::TraceEntry &Entry, json &Line) {
  const char *Kind = nullptr;
  switch (Entry.Kind) {
    case HostEnv::TraceKind::Mmio: Kind = "mmio"; break;
    case HostEnv::TraceKind::Io: Kind = "io"; break;
    case HostEnv::TraceKind::Msr: Kind = "msr"; break;
    case HostEnv::TraceKind::Cpuid:
      Line["kind"] = "cpuid";
      Line["leaf"] = Hex(Entry.Address & 0xFFFFFFFF);
      Line["subleaf"] = Hex(Entry.Address >> 32);
      return true;
    default: return false;
  }
  Line["kind"] = Kind;
  Line["op"] = Entry.Op == HostEnv::TraceOp::Read ? "r" : "w";
  Line["width"] = Entry.Width * 8;
  Line["addr"] = Hex(Entry.Address);
  Line["value"] = Hex(Entry.Value);
  return true;
}

json Event(const HubSim::HubEvent &Event) {
  json Line;
  Line["kind"] = "event";
  Line["name"] = Event.Name;
  for (const HubSim::EventField &Field : Event.Fields) {
    switch (Field.Kind) {
      case HubSim::EventField::Type::Hex: Line[Field.Key] = Hex(Field.Value); break;
      case HubSim::EventField::Type::Number: Line[Field.Key] = Field.Value; break;
      case HubSim::EventField::Type::Text: Line[Field.Key] = Field.Text; break;
      case HubSim::EventField::Type::Flag: Line[Field.Key] = Field.Value != 0; break;
    }
  }
  return Line;
}

}  // namespace

namespace {
// Hands each line to Emit in order, so that a long trace need not be held
// as JSON all at once.
template <typename Consumer>
void ForEachLine(const std::vector<HostEnv::TraceEntry> &Trace, const std::vector<HubSim::HubEvent> &Events,
                 Consumer Emit) {
  UINT64 Seq = 0;
  auto Numbered = [&](json Body) {
    json Line;
    Line["seq"] = ++Seq;
    Line.update(Body);
    Emit(Line);
  };
  size_t NextEvent = 0;
  for (size_t Index = 0; Index <= Trace.size(); ++Index) {
    while (NextEvent < Events.size() && Events[NextEvent].TracePosition <= Index) {
      Numbered(Event(Events[NextEvent++]));
    }
    json Body;
    if (Index < Trace.size() && Access(Trace[Index], Body)) {
      Numbered(Body);
    }
  }
}
}  // namespace

std::vector<json> TraceLines(const std::vector<HostEnv::TraceEntry> &Trace, const std::vector<HubSim::HubEvent> &Events) {
  std::vector<json> Lines;
  ForEachLine(Trace, Events, [&](json &Line) { Lines.push_back(std::move(Line)); });
  return Lines;
}

void WriteTrace(std::ostream &Out, const std::vector<HostEnv::TraceEntry> &Trace,
                const std::vector<HubSim::HubEvent> &Events) {
  ForEachLine(Trace, Events, [&](const json &Line) { Out << Line.dump() << '\n'; });
}

}  // namespace HubSimTool
