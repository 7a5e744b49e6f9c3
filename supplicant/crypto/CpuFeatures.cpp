#include "CpuFeatures.h"

#include <cpuid.h>

namespace {

enum : UINT32 {
  FeatureProbed = 1u << 0,
  FeatureSha    = 1u << 1,
  FeatureAes    = 1u << 2,
  FeatureMulxAdx = 1u << 3,
};

// CPUID bits (leaf 1 ECX, leaf 7 sub-leaf 0 EBX).
constexpr UINT32 Leaf1EcxSsse3 = 1u << 9;
constexpr UINT32 Leaf1EcxSse41 = 1u << 19;
constexpr UINT32 Leaf1EcxAes   = 1u << 25;
constexpr UINT32 Leaf7EbxBmi2  = 1u << 8;
constexpr UINT32 Leaf7EbxAdx   = 1u << 19;
constexpr UINT32 Leaf7EbxSha   = 1u << 29;

#if defined(__SHA__) && defined(__SSSE3__) && defined(__SSE4_1__)
constexpr bool ShaEnabledAtBuild = true;
#else
constexpr bool ShaEnabledAtBuild = false;
#endif
#if defined(__AES__)
constexpr bool AesEnabledAtBuild = true;
#else
constexpr bool AesEnabledAtBuild = false;
#endif

constinit UINT32 DetectedFeatures = 0;
constinit bool   PortableForced   = false;

UINT32 ProbeFeatures() {
  UINT32 Features = FeatureProbed;
  unsigned Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
  if (!__get_cpuid(1, &Eax, &Ebx, &Ecx, &Edx)) {
    return Features;
  }
  const UINT32 Leaf1Ecx = Ecx;
  UINT32 Leaf7Ebx = 0;
  if (__get_cpuid_count(7, 0, &Eax, &Ebx, &Ecx, &Edx)) {
    Leaf7Ebx = Ebx;
  }
  const bool Shuffles = (Leaf1Ecx & Leaf1EcxSsse3) && (Leaf1Ecx & Leaf1EcxSse41);
  if (Shuffles && (Leaf7Ebx & Leaf7EbxSha)) {
    Features |= FeatureSha;
  }
  if (Leaf1Ecx & Leaf1EcxAes) {
    Features |= FeatureAes;
  }
  if ((Leaf7Ebx & Leaf7EbxBmi2) && (Leaf7Ebx & Leaf7EbxAdx)) {
    Features |= FeatureMulxAdx;
  }
  return Features;
}

UINT32 Features() {
  if (DetectedFeatures == 0) {
    DetectedFeatures = ProbeFeatures();
  }
  return DetectedFeatures;
}

}  // namespace

bool crypto_cpu_has_sha() {
  if (PortableForced) {
    return false;
  }
  return ShaEnabledAtBuild || (Features() & FeatureSha) != 0;
}

bool crypto_cpu_has_aes() {
  if (PortableForced) {
    return false;
  }
  return AesEnabledAtBuild || (Features() & FeatureAes) != 0;
}

bool crypto_cpu_has_mulx_adx() {
  if (PortableForced) {
    return false;
  }
  return (Features() & FeatureMulxAdx) != 0;
}

void crypto_force_portable(bool Force) { PortableForced = Force; }

bool crypto_portable_forced() { return PortableForced; }
