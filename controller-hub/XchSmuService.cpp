#include "XchSmuService.h"

#include "XchDebug.h"
#include "XchRegisterAccess.h"

namespace {
constexpr UINT32 AssertAccessFlags = 0xA13F0281;
constexpr UINT32 HostBridge = XchPciRawOffset(0, 0, 0, 0);
constexpr UINT32 RequestId = 0;  // this build sends no message; the ID shown is always 0
constexpr UINTN ArgumentCount = 6;

UINT32 SmnRead32(UINT32 SmnAddress) {
  UINT32 Value = 0;
  XchSmnRead(HostBridge, SmnAddress, XCH_WIDTH_32, &Value);
  return Value;
}
}  // namespace

UINT32 XchSmuServiceRequest(UINT32 Arguments[6]) {
  XchTestPoint(0xA914);
  XchDebugPrint(XCH_DBG_SMU, "NbioSmuServiceRequestOnlyV13 Enter\n");
  XchDebugPrint(XCH_DBG_SMU_ARGS, "  Service Request 0x%x\n", RequestId);
  XchDebugPrint(XCH_DBG_SMU_ARGS, "  Service Request Argument 0x%x, 0x%x, 0x%x, 0x%x, 0x%x, 0x%x\n", Arguments[0],
                Arguments[1], Arguments[2], Arguments[3], Arguments[4], Arguments[5]);

  SmnRead32(XCH_SMU_RESPONSE_REGISTER);  // the first read only arms the wait
  UINT32 Response = 0;
  do {
    Response = SmnRead32(XCH_SMU_RESPONSE_REGISTER);
  } while (Response == 0);

  if (Response == XCH_SMU_RESPONSE_ASSERT) {
    XchDebugPrint(XCH_DBG_SMU, "SMU Assert AccessFlags\n");
    XchAssertStop(AssertAccessFlags);
    return Response;
  }
  for (UINTN Index = 0; Index < ArgumentCount; ++Index) {
    Arguments[Index] = SmnRead32(XCH_SMU_ARGUMENT_REGISTER0 + static_cast<UINT32>(4 * Index));
  }
  XchDebugPrint(XCH_DBG_SMU, "NbioSmuServiceRequestOnlyV13 Exit\n");
  XchTestPoint(0xA915);
  return Response;
}
