#include "cipher/aes_hardware.h"

#ifdef CORVALEN_AES_NI

#include <utility>
#include <wmmintrin.h>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

// GCC and clang compile the instructions only in functions marked for them; the rest of the
// program stays runnable on processors without them. MSVC needs no mark.
#if defined(__GNUC__) || defined(__clang__)
#define AES_NI_CODE __attribute__((target("aes")))
#else
#define AES_NI_CODE
#endif

namespace
{

// Blocks in flight: independent blocks hide the latency of each round instruction.
const size_t lanes = 8;

AES_NI_CODE inline __m128i load_block(const unsigned char *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// The equivalent inverse cipher on sizeof...(i) blocks side by side.
template <size_t... i>
AES_NI_CODE inline void decrypt_lanes(const unsigned char *in, unsigned char *out,
                                      const __m128i keys[15], std::index_sequence<i...>)
{
    __m128i b[] = {_mm_xor_si128(load_block(in + 16 * i), keys[0])...};
    for (int round = 1; round < 14; ++round)
        ((b[i] = _mm_aesdec_si128(b[i], keys[round])), ...);
    (_mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * i),
                      _mm_aesdeclast_si128(b[i], keys[14])),
     ...);
}

} // namespace

bool processor_has_aes_ni()
{
    const unsigned aes_bit = 1u << 25; // CPUID leaf 1, ECX
#if defined(_MSC_VER) && !defined(__clang__)
    int regs[4];
    __cpuid(regs, 1);
    return (unsigned(regs[2]) & aes_bit) != 0;
#else
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & aes_bit) != 0;
#endif
}

AES_NI_CODE void decrypt_blocks_aes_ni(const unsigned char *in, unsigned char *out, size_t blocks,
                                       const unsigned char keys[15][16])
{
    __m128i k[15];
    for (int r = 0; r < 15; ++r)
        k[r] = load_block(keys[r]);
    for (; blocks >= lanes; blocks -= lanes, in += 16 * lanes, out += 16 * lanes)
        decrypt_lanes(in, out, k, std::make_index_sequence<lanes>());
    for (; blocks > 0; --blocks, in += 16, out += 16)
        decrypt_lanes(in, out, k, std::make_index_sequence<1>());
}

#endif
