// The SMU service request of the last Env task: waits for the SMU response
// register and reads the six argument registers back.
#pragma once
#include <uefi/Base.h>

constexpr UINT32 XCH_SMU_RESPONSE_REGISTER = 0x3B10578;
constexpr UINT32 XCH_SMU_ARGUMENT_REGISTER0 = 0x3B10998;  // six u32 registers from here
constexpr UINT32 XCH_SMU_RESPONSE_ASSERT = 0xFC;

// Returns the SMU response; Arguments[0..5] receive the argument registers
// unless the response is 0xFC.
UINT32 XchSmuServiceRequest(UINT32 Arguments[6]);
