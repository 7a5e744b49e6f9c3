#include "XchNonPciMmio.h"

#include <uefi/Pi/PiDxeServices.h>

#include "QuorHeapBufferLib.h"
#include "XchBytes.h"
#include "XchDebug.h"
#include "XchDxeServices.h"
#include "XchRegisterAccess.h"

namespace {
constexpr UINT32 AssertNoManagerBuffer = 0xDFD00149;
constexpr UINT32 AssertNoSocket = 0xDFD00191;
constexpr UINT32 AssertNoRootBridge = 0xDFD00192;
constexpr UINT32 AssertOutOfRange = 0xDFD00203;
constexpr UINT32 AssertBelow4GSpace = 0xDFD00291;
constexpr UINT32 AssertAbove4GSpace = 0xDFD00295;
constexpr UINT32 AssertMmioType = 0xDFD00778;

constexpr UINT32 NotFound = 0xFF;
constexpr UINTN ConfigAddressMaps = 8;

// Data fabric registers: system configuration (function 4) and the
// configuration address maps (function 0).
constexpr UINT32 DfSystemConfig = 0x180;
constexpr UINT32 DfSystemComponents = 0x184;
constexpr UINT32 DfConfigAddressBase = 0xC80;
constexpr UINT32 DfConfigAddressLimit = 0xC84;

struct TOPOLOGY {
  UINT32 Sockets;
  UINT32 RootBridgesPerSocket;
};

struct LOCATION {
  UINT32 Socket;
  UINT32 RootBridge;
};

// A triple of the manager buffer and the space it still has.
struct CANDIDATE {
  UINT8 *Triple;
  UINT64 Available;
};

TOPOLOGY ReadTopology() {
  UINT32 Sockets = 1 + ((XchDfRead(4, DfSystemConfig) >> 8) & 1);
  UINT32 RootBridges = ((XchDfRead(4, DfSystemComponents) >> 8) & 0xFF) / Sockets;
  return {Sockets, RootBridges};
}

UINT32 HostBridgeFabricId(UINT32, UINT32) { return XCH_HOST_BRIDGE_FABRIC_ID; }

// Rounds up to the allocation alignment; false when that passes 2^64.
bool AlignUp(UINT64 Address, UINT64 &Aligned) {
  UINT64 Padded = 0;
  if (__builtin_add_overflow(Address, XCH_MMIO_ALIGNMENT - 1, &Padded)) {
    return false;
  }
  Aligned = Padded & ~(XCH_MMIO_ALIGNMENT - 1);
  return true;
}

// Offset of the triple MmioType uses within a region record.
bool TripleOffset(UINT8 MmioType, UINTN &Offset) {
  switch (MmioType) {
    case 0:
    case 1:
      Offset = XCH_FABRIC_NON_PREFETCHABLE;
      return true;
    case 2:
    case 3:
      Offset = XCH_FABRIC_PREFETCHABLE;
      return true;
    case XCH_MMIO_NON_PCI_BELOW_4G:
    case XCH_MMIO_NON_PCI_ABOVE_4G:
      Offset = XCH_FABRIC_NON_PCI;
      return true;
    default:
      XchAssertStop(AssertMmioType);
      return false;
  }
}

// The candidate of MmioType in region record Index (above or below 4G by
// the type's low bit).
CANDIDATE CandidateOf(UINT8 *Manager, UINT8 MmioType, UINTN Index) {
  UINTN Offset = 0;
  if (!TripleOffset(MmioType, Offset)) {
    return {nullptr, 0};
  }
  UINTN Records = (MmioType & 1) != 0 ? XCH_FABRIC_ABOVE_4G_RECORDS : XCH_FABRIC_BELOW_4G_RECORDS;
  UINT8 *Triple = Manager + Records + Index * XCH_FABRIC_RECORD_SIZE + Offset;
  return {Triple, XchMmioAvailable(XchReadField<UINT64>(Triple, 0), XchReadField<UINT64>(Triple, 8),
                                   XchReadField<UINT64>(Triple, 16))};
}

// Bump allocation from a triple; 0 when it cannot give Length bytes.
UINT64 AllocateFrom(UINT8 *Triple, UINT64 Length) {
  UINT64 Base = XchReadField<UINT64>(Triple, 0);
  UINT64 Size = XchReadField<UINT64>(Triple, 8);
  UINT64 Used = XchReadField<UINT64>(Triple, 16);
  UINT64 Start = 0, Aligned = 0, Need = 0, End = 0;
  if (Used >= Size || __builtin_add_overflow(Base, Used, &Start) || Start == 0 || !AlignUp(Start, Aligned) ||
      __builtin_add_overflow(Aligned - Start, Length, &Need) || Size - Used < Need ||
      __builtin_add_overflow(Start, Need - 1, &End)) {
    return 0;
  }
  XchWriteField<UINT64>(Triple, 16, Used + Need);
  return Aligned;
}

// The host bridge whose bus range holds Bus, through the configuration
// address maps.
bool DestinationOfBus(UINT32 Bus, UINT32 &FabricId) {
  for (UINT32 Map = 0; Map < ConfigAddressMaps; ++Map) {
    UINT32 Base = XchDfRead(0, DfConfigAddressBase + 8 * Map);
    UINT32 Limit = XchDfRead(0, DfConfigAddressLimit + 8 * Map);
    if ((Base & 3) == 3 && ((Base >> 16) & 0xFF) <= Bus && Bus <= ((Limit >> 16) & 0xFF)) {
      FabricId = Limit & 0x3F;
      return true;
    }
  }
  return false;
}

// The last socket with a host bridge of FabricId, and its first such root
// bridge.
LOCATION LocationOfFabricId(UINT32 FabricId, const TOPOLOGY &Topology) {
  LOCATION Found = {NotFound, NotFound};
  for (UINT32 Socket = 0; Socket < Topology.Sockets; ++Socket) {
    for (UINT32 RootBridge = 0; RootBridge < Topology.RootBridgesPerSocket; ++RootBridge) {
      if (HostBridgeFabricId(Socket, RootBridge) == FabricId) {
        Found = {Socket, RootBridge};
        break;
      }
    }
  }
  if (Found.Socket == NotFound) {
    XchAssertStop(AssertNoSocket);
  }
  if (Found.RootBridge == NotFound) {
    XchAssertStop(AssertNoRootBridge);
  }
  return Found;
}

bool LocateTarget(UINT32 Target, const TOPOLOGY &Topology, LOCATION &Where) {
  if ((Target & XCH_MMIO_TARGET_DIRECT) != 0) {
    Where = {(Target >> 8) & 3, (Target >> 10) & 0x1F};
    if (Where.RootBridge >= Topology.RootBridgesPerSocket) {
      Where.RootBridge = Topology.RootBridgesPerSocket - 1;  // none at all: out of range below
    }
    return true;
  }
  UINT32 FabricId = 0;
  if (!DestinationOfBus(Target & 0xFF, FabricId)) {
    return false;
  }
  Where = LocationOfFabricId(FabricId, Topology);
  return true;
}

// Candidate 2 of the primary root bridge: its second below-4G region, when
// the buffer names one inside the record table.
CANDIDATE SecondBelow4G(UINT8 *Manager, const LOCATION &Where) {
  if (Manager[XCH_FABRIC_SECOND_BELOW_4G] == 0 || Where.Socket != 0 || Where.RootBridge != 0) {
    return {nullptr, 0};
  }
  UINT8 Location = Manager[XCH_FABRIC_SECOND_LOCATION];
  UINT32 Socket = Location >> 4;
  UINT32 RootBridge = Location & 0x0F;
  if (Socket >= XCH_FABRIC_SOCKETS) {
    return {nullptr, 0};
  }
  return CandidateOf(Manager, XCH_MMIO_NON_PCI_BELOW_4G, Socket * XCH_FABRIC_ROOT_BRIDGES + RootBridge);
}

UINT64 AllocateBelow4G(UINT8 *Manager, UINTN Index, const LOCATION &Where, UINT64 Length, UINT64 &Largest) {
  CANDIDATE First = CandidateOf(Manager, XCH_MMIO_NON_PCI_BELOW_4G, Index);
  CANDIDATE Second = SecondBelow4G(Manager, Where);
  // The smaller non-zero space is tried first.
  if (First.Available > Second.Available && Second.Available != 0) {
    CANDIDATE Swap = First;
    First = Second;
    Second = Swap;
  }
  Largest = First.Available > Second.Available ? First.Available : Second.Available;
  if (First.Available >= Length) {
    return AllocateFrom(First.Triple, Length);
  }
  if (Second.Triple != nullptr && Second.Available >= Length) {
    return AllocateFrom(Second.Triple, Length);
  }
  return 0;
}

UINT64 AllocateAbove4G(UINT8 *Manager, UINTN Index, UINT64 Length, UINT64 &Largest) {
  CANDIDATE Only = CandidateOf(Manager, XCH_MMIO_NON_PCI_ABOVE_4G, Index);
  Largest = Only.Available;
  return Only.Available >= Length ? AllocateFrom(Only.Triple, Length) : 0;
}

VOID ReportToGcd(const UINT8 *Manager, UINT64 Base, UINT64 Length) {
  EFI_STATUS Status = EFI_NOT_FOUND;
  EFI_DXE_SERVICES *Dxe = XchDxeServices();
  if (Dxe != nullptr) {
    EFI_PHYSICAL_ADDRESS Address = Base;
    auto ImageHandle = reinterpret_cast<EFI_HANDLE>(
        static_cast<UINTN>(XchReadField<UINT64>(Manager, XCH_FABRIC_GCD_IMAGE_HANDLE)));
    Status = Dxe->AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, Length, &Address,
                                      ImageHandle, nullptr);
    Dxe->SetMemorySpaceAttributes(Base, Length, EFI_MEMORY_RUNTIME | EFI_MEMORY_UC);
  }
  XchDebugPrint(XCH_DBG_MMIO, "  report to GCD, Status: %x\n", Status);
}

VOID ReportNoSpace(UINT8 MmioType, UINT64 Largest) {
  XchDebugPrint(XCH_DBG_MMIO, "  No enough space, the biggest MMIO size is 0x%X0000\n",
                static_cast<UINT32>(Largest >> 16));
  if (MmioType == XCH_MMIO_NON_PCI_BELOW_4G) {
    XchDebugPrint(XCH_DBG_MMIO, "  Please increase PcdQuorMmioSizePerRbForNonPciDevice\n");
    XchAssertStop(AssertBelow4GSpace);
  } else {
    XchDebugPrint(XCH_DBG_MMIO, "  Please increase PcdQuorAbove4GMmioSizePerRbForNonPciDevice\n");
    XchAssertStop(AssertAbove4GSpace);
  }
}
}  // namespace

UINT64 XchMmioAvailable(UINT64 Base, UINT64 Size, UINT64 Used) {
  UINT64 Start = 0, Aligned = 0, End = 0;
  // Used beyond the size, or a region that wraps past 2^64, has no room.
  if (Used >= Size || __builtin_add_overflow(Base, Size, &End) || __builtin_add_overflow(Base, Used, &Start) ||
      !AlignUp(Start, Aligned)) {
    return 0;
  }
  UINT64 Free = Size - Used;
  UINT64 Padding = Aligned - Start;
  return Free < Padding ? 0 : Free - Padding;
}

EFI_STATUS XchFabricAllocateMmio(UINT64 *Base, UINT64 *Length, UINT64, UINT32 Target, UINT8 *Attribute) {
  XchDebugPrint(XCH_DBG_MMIO, "  FabricAllocateMmio v3\n");
  *Base = 0;
  TOPOLOGY Topology = ReadTopology();

  UINT8 *Manager = nullptr;
  UINT32 ManagerSize = 0;
  // A buffer too short for the shared layout is as good as none.
  if (QuorHeapFind(XCH_FABRIC_MMIO_HEAP_HANDLE, &Manager, &ManagerSize) != QUOR_HEAP_SUCCESS || Manager == nullptr ||
      ManagerSize < XCH_FABRIC_BUFFER_SIZE) {
    XchAssertStop(AssertNoManagerBuffer);
    return EFI_ABORTED;
  }
  if (*Length == 0) {
    return EFI_SUCCESS;
  }
  UINT8 MmioType = XchMmioType(*Attribute);
  if (MmioType != XCH_MMIO_NON_PCI_BELOW_4G && MmioType != XCH_MMIO_NON_PCI_ABOVE_4G) {
    XchDebugPrint(XCH_DBG_MMIO,
                  "  Warning: this function only support Attributes->MmioType = NON_PCI_DEVICE_BELOW_4G or "
                  "NON_PCI_DEVICE_ABOVE_4G\n");
    return EFI_ABORTED;
  }

  LOCATION Where = {};
  if (!LocateTarget(Target, Topology, Where)) {
    return EFI_ABORTED;
  }
  if (Where.Socket >= XCH_FABRIC_SOCKETS || Where.RootBridge >= XCH_FABRIC_ROOT_BRIDGES) {
    XchAssertStop(AssertOutOfRange);
    return EFI_ABORTED;
  }
  UINTN Index = Where.Socket * XCH_FABRIC_ROOT_BRIDGES + Where.RootBridge;

  UINT64 Largest = 0;
  if (MmioType == XCH_MMIO_NON_PCI_ABOVE_4G) {
    if (Manager[XCH_FABRIC_ABOVE_4G_PRESENT + Index] == 0) {
      XchDebugPrint(XCH_DBG_MMIO, "  ERROR: No above 4G MMIO on Socket %X Rb %X\n", Where.Socket, Where.RootBridge);
      return EFI_ABORTED;
    }
    *Base = AllocateAbove4G(Manager, Index, *Length, Largest);
  } else {
    if (Manager[XCH_FABRIC_BELOW_4G_PRESENT + Index] == 0) {
      XchDebugPrint(XCH_DBG_MMIO, "  ERROR: No below 4G MMIO on Socket %X Rb %X\n", Where.Socket, Where.RootBridge);
      return EFI_ABORTED;
    }
    *Base = AllocateBelow4G(Manager, Index, Where, *Length, Largest);
  }

  if (*Base == 0) {
    *Length = Largest;
    ReportNoSpace(MmioType, Largest);
    return EFI_OUT_OF_RESOURCES;
  }
  *Attribute = static_cast<UINT8>((*Attribute & 0xF3) | 3);
  XchDebugPrint(XCH_DBG_MMIO, "  Allocate MMIO from 0x%lX ~ 0x%lX\n", *Base, *Base + *Length - 1);
  if (Manager[XCH_FABRIC_REPORT_TO_GCD] != 0) {
    ReportToGcd(Manager, *Base, *Length);
  }
  return EFI_SUCCESS;
}
