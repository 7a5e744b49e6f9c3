// Which instruction-set extensions the crypto primitives may use. The
// accelerated and the portable code give bit-identical results; the choice
// only changes speed. Detection runs CPUID once; when the build already
// enables an extension (e.g. -msha -maes) the answer is fixed at compile time.
#pragma once
#include <uefi/Base.h>

// SHA-1/SHA-256 instructions together with the SSSE3 and SSE4.1 shuffles
// their code needs.
bool crypto_cpu_has_sha();
// AES round instructions.
bool crypto_cpu_has_aes();
// MULX (BMI2) with the two carry chains of ADCX/ADOX (ADX): the P-256 field
// products.
bool crypto_cpu_has_mulx_adx();

// Test and benchmark hook: while set, every primitive takes its portable path
// even where the processor offers the extensions.
void crypto_force_portable(bool Force);
bool crypto_portable_forced();
