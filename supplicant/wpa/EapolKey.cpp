#include "EapolKey.h"

#include <Library/BaseMemoryLib.h>

#include "KeyMic.h"

namespace eapol {

UINTN ResponseSize(const RESPONSE &Response) {
  UINTN KeyData = Response.ElementBody != nullptr ? 2u + Response.ElementLength : 0u;
  if (Response.ExtraElement != nullptr) {
    KeyData += Response.ExtraElementSize;
  }
  return FIXED_SIZE + KeyData;
}

VOID BuildResponse(const RESPONSE &Response, UINT8 *Buffer) {
  UINTN Size = ResponseSize(Response);
  UINT16 KeyDataLength = (UINT16)(Size - FIXED_SIZE);
  ZeroMem(Buffer, Size);

  Buffer[OFFSET_PROTOCOL_VERSION] = PROTOCOL_VERSION;
  Buffer[OFFSET_PACKET_TYPE] = PACKET_TYPE_KEY;
  WriteBe16(Buffer + OFFSET_BODY_LENGTH, (UINT16)(KEY_BODY_FIXED_SIZE + KeyDataLength));
  Buffer[OFFSET_DESCRIPTOR_TYPE] = Response.DescriptorType;
  WriteBe16(Buffer + OFFSET_KEY_INFORMATION,
            (UINT16)((Response.Flags & ~KEY_INFO_VERSION_MASK) | (Response.DescriptorVersion & KEY_INFO_VERSION_MASK)));
  WriteBe16(Buffer + OFFSET_KEY_LENGTH, Response.KeyLength);
  CopyMem(Buffer + OFFSET_REPLAY_COUNTER, Response.ReplayCounter, REPLAY_COUNTER_SIZE);
  CopyMem(Buffer + OFFSET_KEY_NONCE, Response.Nonce, NONCE_SIZE);
  WriteBe16(Buffer + OFFSET_KEY_DATA_LENGTH, KeyDataLength);
  if (Response.ElementBody != nullptr) {
    Buffer[OFFSET_KEY_DATA] = Response.ElementId;
    Buffer[OFFSET_KEY_DATA + 1] = Response.ElementLength;
    CopyMem(Buffer + OFFSET_KEY_DATA + 2, Response.ElementBody, Response.ElementLength);
  }
  if (Response.ExtraElement != nullptr) {
    CopyMem(Buffer + Size - Response.ExtraElementSize, Response.ExtraElement, Response.ExtraElementSize);
  }
  if ((Response.Flags & KEY_INFO_MIC) != 0 && Response.Kck != nullptr) {
    SupComputeKeyMic(Buffer, Size, Response.DescriptorVersion, Response.Kck);
  }
}

VOID BuildStart(UINT8 *Buffer) {
  Buffer[OFFSET_PROTOCOL_VERSION] = PROTOCOL_VERSION;
  Buffer[OFFSET_PACKET_TYPE] = PACKET_TYPE_START;
  WriteBe16(Buffer + OFFSET_BODY_LENGTH, 0);
}

}  // namespace eapol
