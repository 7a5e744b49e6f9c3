// Expected register writes, built step by step from the documented access
// routines: each call adds the writes that routine makes and remembers the
// value it leaves, so that a later step on the same register (or the AB and
// SMN data ports) starts from it. Old values the model has not written come
// from the simulated hardware as it stands when the expectation is built,
// which must be before the code under test runs.
//
//   ExpectedWrites E(&Env().Chipset(), &Platform());
//   E.TestPoint(0xAF52);
//   E.PciByte(XchPciRawOffset(0, 0x14, 3, 0x78), 0xFC, 0x00);
//   XchEnvDevice14Fn3Identity(Block());
//   EXPECT_EQ(Writes(), E.Writes());
#pragma once

#include <HostEnv/SimChipset.h>
#include <HubSim/HubPlatform.h>

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "HubTest.h"

// Equal sequences, or where they part: the first difference with the
// accesses around it (gtest prints only the start of long containers).
::testing::AssertionResult SameWrites(const std::vector<Access> &Actual, const std::vector<Access> &Expected);

class ExpectedWrites {
 public:
  // Chip/Platform may be null: then registers start at 0.
  ExpectedWrites(const HostEnv::SimChipset *Chip, const HubSim::HubPlatform *Platform);

  const std::vector<Access> &Writes() const { return Writes_; }
  // Forgets the writes so far but keeps the register values they left.
  void ClearWrites() { Writes_.clear(); }

  // Test point Code | 0xB0000000 to port 0x80 (32-bit, as the default
  // platform's configuration byte buffer asks).
  void TestPoint(UINT16 Code);

  // MMIO modify (read, write (old AND m) OR v, read again) at 8/16/32 bits.
  void M8(UINT64 Address, UINT32 AndMask, UINT32 OrValue) { Modify(1, Address, AndMask, OrValue); }
  void M16(UINT64 Address, UINT32 AndMask, UINT32 OrValue) { Modify(2, Address, AndMask, OrValue); }
  void M32(UINT64 Address, UINT32 AndMask, UINT32 OrValue) { Modify(4, Address, AndMask, OrValue); }
  // Plain MMIO write, and a plain read followed by one write.
  void Write(UINT8 Width, UINT64 Address, UINT64 Value);
  void ReadWrite(UINT8 Width, UINT64 Address, UINT64 AndMask, UINT64 OrValue) {
    Modify(Width, Address, AndMask, OrValue);
  }
  UINT64 Read(UINT8 Width, UINT64 Address) const;

  void IoWrite(UINT8 Width, UINT16 Port, UINT64 Value);
  void IoReadWrite(UINT8 Width, UINT16 Port, UINT64 AndMask, UINT64 OrValue);

  // 32-bit PCI modify at a packed address; one byte of a PCI byte table at a
  // raw offset; one entry of an ACPI MMIO byte table.
  void Pci(UINT32 PackedAddress, UINT32 AndMask, UINT32 OrValue);
  void PciByte(UINT32 RawOffset, UINT8 AndMask, UINT8 OrValue);
  void AcpiMmio(UINT8 Block, UINT8 Register, UINT8 AndMask, UINT8 OrValue);

  // AB modify through ports 0xCD8/0xCDC, including the 0x30/0x34 and
  // 0x38/0x3C windows of space types 0 and 2.
  void Ab(UINT32 Address, UINT32 AndMask, UINT32 OrValue);

  // SMN modify (index, data read, index, data write) and the writes of one
  // SMN read through the host bridge (index set, then restored).
  void Smn(UINT32 Address, UINT32 AndMask, UINT32 OrValue);
  void SmnRead(UINT32 Address);

  // AOAC power of a device whose status follows its control bit 3.
  void AoacOn(UINT8 Device);
  void AoacOff(UINT8 Device);

 private:
  void   Modify(UINT8 Width, UINT64 Address, UINT64 AndMask, UINT64 OrValue);
  UINT8  LoadByte(HostEnv::AccessSpace Space, UINT64 Address) const;
  UINT64 Load(HostEnv::AccessSpace Space, UINT64 Address, UINT8 Width) const;
  void   Store(HostEnv::AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value);
  UINT32 SmnValue(UINT32 Address) const;

  const HostEnv::SimChipset   *Chip_;
  const HubSim::HubPlatform   *Platform_;
  std::map<UINT64, UINT8>      Mmio_, Io_;
  std::map<UINT32, UINT32>     Smn_;
  std::vector<Access>          Writes_;
};
