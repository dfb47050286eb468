#include "cipher/aes.h"
#include "cipher/aes_hardware.h"

#include <cstdint>
#include <cstring>
#include <utility>

const unsigned char file_key[32] = {
    0x5A, 0xC3, 0x91, 0x0E, 0x7D, 0x24, 0xB8, 0x6F, 0x13, 0xE9, 0x42, 0xA6, 0xD0, 0x3B, 0x87, 0x1C,
    0x6E, 0xF2, 0x59, 0x04, 0xAB, 0x38, 0xC7, 0x95, 0x2D, 0x60, 0x1F, 0xE4, 0x83, 0xBA, 0x47, 0xD9};

// The helpers are inline so that the rounds are flattened at -O2, where the cipher is built.
// The state is kept as four column words: byte r of column c (bits 8r .. 8r+7) is row r,
// column c, which is byte 4c+r of a block and byte r of a key-schedule word.
namespace
{

const int key_words = 8;
const int rounds = 14;
const int schedule_words = 4 * (rounds + 1);

const unsigned char sbox[256] = {
    0x63, 0x7C, 0x77, 0x7B, 0xF2, 0x6B, 0x6F, 0xC5, 0x30, 0x01, 0x67, 0x2B, 0xFE, 0xD7, 0xAB, 0x76,
    0xCA, 0x82, 0xC9, 0x7D, 0xFA, 0x59, 0x47, 0xF0, 0xAD, 0xD4, 0xA2, 0xAF, 0x9C, 0xA4, 0x72, 0xC0,
    0xB7, 0xFD, 0x93, 0x26, 0x36, 0x3F, 0xF7, 0xCC, 0x34, 0xA5, 0xE5, 0xF1, 0x71, 0xD8, 0x31, 0x15,
    0x04, 0xC7, 0x23, 0xC3, 0x18, 0x96, 0x05, 0x9A, 0x07, 0x12, 0x80, 0xE2, 0xEB, 0x27, 0xB2, 0x75,
    0x09, 0x83, 0x2C, 0x1A, 0x1B, 0x6E, 0x5A, 0xA0, 0x52, 0x3B, 0xD6, 0xB3, 0x29, 0xE3, 0x2F, 0x84,
    0x53, 0xD1, 0x00, 0xED, 0x20, 0xFC, 0xB1, 0x5B, 0x6A, 0xCB, 0xBE, 0x39, 0x4A, 0x4C, 0x58, 0xCF,
    0xD0, 0xEF, 0xAA, 0xFB, 0x43, 0x4D, 0x33, 0x85, 0x45, 0xF9, 0x02, 0x7F, 0x50, 0x3C, 0x9F, 0xA8,
    0x51, 0xA3, 0x40, 0x8F, 0x92, 0x9D, 0x38, 0xF5, 0xBC, 0xB6, 0xDA, 0x21, 0x10, 0xFF, 0xF3, 0xD2,
    0xCD, 0x0C, 0x13, 0xEC, 0x5F, 0x97, 0x44, 0x17, 0xC4, 0xA7, 0x7E, 0x3D, 0x64, 0x5D, 0x19, 0x73,
    0x60, 0x81, 0x4F, 0xDC, 0x22, 0x2A, 0x90, 0x88, 0x46, 0xEE, 0xB8, 0x14, 0xDE, 0x5E, 0x0B, 0xDB,
    0xE0, 0x32, 0x3A, 0x0A, 0x49, 0x06, 0x24, 0x5C, 0xC2, 0xD3, 0xAC, 0x62, 0x91, 0x95, 0xE4, 0x79,
    0xE7, 0xC8, 0x37, 0x6D, 0x8D, 0xD5, 0x4E, 0xA9, 0x6C, 0x56, 0xF4, 0xEA, 0x65, 0x7A, 0xAE, 0x08,
    0xBA, 0x78, 0x25, 0x2E, 0x1C, 0xA6, 0xB4, 0xC6, 0xE8, 0xDD, 0x74, 0x1F, 0x4B, 0xBD, 0x8B, 0x8A,
    0x70, 0x3E, 0xB5, 0x66, 0x48, 0x03, 0xF6, 0x0E, 0x61, 0x35, 0x57, 0xB9, 0x86, 0xC1, 0x1D, 0x9E,
    0xE1, 0xF8, 0x98, 0x11, 0x69, 0xD9, 0x8E, 0x94, 0x9B, 0x1E, 0x87, 0xE9, 0xCE, 0x55, 0x28, 0xDF,
    0x8C, 0xA1, 0x89, 0x0D, 0xBF, 0xE6, 0x42, 0x68, 0x41, 0x99, 0x2D, 0x0F, 0xB0, 0x54, 0xBB, 0x16,
};

const unsigned char inv_sbox[256] = {
    0x52, 0x09, 0x6A, 0xD5, 0x30, 0x36, 0xA5, 0x38, 0xBF, 0x40, 0xA3, 0x9E, 0x81, 0xF3, 0xD7, 0xFB,
    0x7C, 0xE3, 0x39, 0x82, 0x9B, 0x2F, 0xFF, 0x87, 0x34, 0x8E, 0x43, 0x44, 0xC4, 0xDE, 0xE9, 0xCB,
    0x54, 0x7B, 0x94, 0x32, 0xA6, 0xC2, 0x23, 0x3D, 0xEE, 0x4C, 0x95, 0x0B, 0x42, 0xFA, 0xC3, 0x4E,
    0x08, 0x2E, 0xA1, 0x66, 0x28, 0xD9, 0x24, 0xB2, 0x76, 0x5B, 0xA2, 0x49, 0x6D, 0x8B, 0xD1, 0x25,
    0x72, 0xF8, 0xF6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xD4, 0xA4, 0x5C, 0xCC, 0x5D, 0x65, 0xB6, 0x92,
    0x6C, 0x70, 0x48, 0x50, 0xFD, 0xED, 0xB9, 0xDA, 0x5E, 0x15, 0x46, 0x57, 0xA7, 0x8D, 0x9D, 0x84,
    0x90, 0xD8, 0xAB, 0x00, 0x8C, 0xBC, 0xD3, 0x0A, 0xF7, 0xE4, 0x58, 0x05, 0xB8, 0xB3, 0x45, 0x06,
    0xD0, 0x2C, 0x1E, 0x8F, 0xCA, 0x3F, 0x0F, 0x02, 0xC1, 0xAF, 0xBD, 0x03, 0x01, 0x13, 0x8A, 0x6B,
    0x3A, 0x91, 0x11, 0x41, 0x4F, 0x67, 0xDC, 0xEA, 0x97, 0xF2, 0xCF, 0xCE, 0xF0, 0xB4, 0xE6, 0x73,
    0x96, 0xAC, 0x74, 0x22, 0xE7, 0xAD, 0x35, 0x85, 0xE2, 0xF9, 0x37, 0xE8, 0x1C, 0x75, 0xDF, 0x6E,
    0x47, 0xF1, 0x1A, 0x71, 0x1D, 0x29, 0xC5, 0x89, 0x6F, 0xB7, 0x62, 0x0E, 0xAA, 0x18, 0xBE, 0x1B,
    0xFC, 0x56, 0x3E, 0x4B, 0xC6, 0xD2, 0x79, 0x20, 0x9A, 0xDB, 0xC0, 0xFE, 0x78, 0xCD, 0x5A, 0xF4,
    0x1F, 0xDD, 0xA8, 0x33, 0x88, 0x07, 0xC7, 0x31, 0xB1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xEC, 0x5F,
    0x60, 0x51, 0x7F, 0xA9, 0x19, 0xB5, 0x4A, 0x0D, 0x2D, 0xE5, 0x7A, 0x9F, 0x93, 0xC9, 0x9C, 0xEF,
    0xA0, 0xE0, 0x3B, 0x4D, 0xAE, 0x2A, 0xF5, 0xB0, 0xC8, 0xEB, 0xBB, 0x3C, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2B, 0x04, 0x7E, 0xBA, 0x77, 0xD6, 0x26, 0xE1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0C, 0x7D,
};

inline uint32_t load_word(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store_word(unsigned char *p, uint32_t w)
{
    p[0] = (unsigned char)w;
    p[1] = (unsigned char)(w >> 8);
    p[2] = (unsigned char)(w >> 16);
    p[3] = (unsigned char)(w >> 24);
}

inline unsigned byte_of(uint32_t w, int r)
{
    return (w >> (8 * r)) & 0xFF;
}

// Moves byte r+n of w to byte r (n is 1, 2 or 3).
inline uint32_t rotate_bytes(uint32_t w, int n)
{
    return w >> (8 * n) | w << (32 - 8 * n);
}

// Multiplies each byte of the word by 02 (shift 1) or 04 (shift 2) in GF(2^8), all bytes at
// once and branch-free: the low bits move up, and each bit that falls out at the top comes
// back reduced (x^8 = 1B, x^9 = 36).
template <int shift, typename word> inline word times_x(word w)
{
    const word ones = word(~word(0)) / 0xFF; // 0x01 in every byte
    word product = word((w & ones * (0xFF >> shift)) << shift);
    for (int bit = 8 - shift; bit < 8; ++bit)
        product ^= word(((w >> bit) & ones) * (0x1B << (bit + shift - 8)));
    return product;
}

// The products are shift-and-add over the coefficient's bits: with the doublings a, 2a,
// 4a, 8a, each coefficient (all below 0x10) is the sum of those its bits select.
// MixColumns, 02 03 01 01: row r gets 02*a[r] + 03*a[r+1] + a[r+2] + a[r+3].
inline uint32_t mix_column(uint32_t a)
{
    const uint32_t a2 = times_x<1>(a);
    return a2 ^ rotate_bytes(a2 ^ a, 1) ^ rotate_bytes(a, 2) ^ rotate_bytes(a, 3);
}

// InvMixColumns, 0E 0B 0D 09: 0E = 8+4+2, 0B = 8+2+1, 0D = 8+4+1, 09 = 8+1.
inline uint32_t inv_mix_column(uint32_t a)
{
    const uint32_t a2 = times_x<1>(a);
    const uint32_t a4 = times_x<1>(a2);
    const uint32_t a8 = times_x<1>(a4);
    return (a8 ^ a4 ^ a2) ^ rotate_bytes(a8 ^ a2 ^ a, 1) ^ rotate_bytes(a8 ^ a4 ^ a, 2) ^
           rotate_bytes(a8 ^ a, 3);
}

inline uint32_t sub_word(uint32_t w, const unsigned char box[256])
{
    return uint32_t(box[byte_of(w, 0)]) | uint32_t(box[byte_of(w, 1)]) << 8 |
           uint32_t(box[byte_of(w, 2)]) << 16 | uint32_t(box[byte_of(w, 3)]) << 24;
}

// Column c after SubBytes with ShiftRows (step 1) or InvSubBytes with InvShiftRows
// (step 3): row r takes the substituted byte of column c + step*r. The two steps commute.
inline uint32_t substituted_column(const uint32_t s[4], int c, int step,
                                   const unsigned char box[256])
{
    return uint32_t(box[byte_of(s[c], 0)]) | uint32_t(box[byte_of(s[(c + step) & 3], 1)]) << 8 |
           uint32_t(box[byte_of(s[(c + 2 * step) & 3], 2)]) << 16 |
           uint32_t(box[byte_of(s[(c + 3 * step) & 3], 3)]) << 24;
}

inline void substitute_shifted(uint32_t s[4], int step, const unsigned char box[256])
{
    const uint32_t t0 = substituted_column(s, 0, step, box);
    const uint32_t t1 = substituted_column(s, 1, step, box);
    const uint32_t t2 = substituted_column(s, 2, step, box);
    const uint32_t t3 = substituted_column(s, 3, step, box);
    s[0] = t0;
    s[1] = t1;
    s[2] = t2;
    s[3] = t3;
}

inline void add_round_key(uint32_t s[4], const unsigned char *round_keys, int round)
{
    const unsigned char *k = round_keys + 16 * round;
    s[0] ^= load_word(k);
    s[1] ^= load_word(k + 4);
    s[2] ^= load_word(k + 8);
    s[3] ^= load_word(k + 12);
}

inline void mix_columns(uint32_t s[4], uint32_t (*mix)(uint32_t))
{
    s[0] = mix(s[0]);
    s[1] = mix(s[1]);
    s[2] = mix(s[2]);
    s[3] = mix(s[3]);
}

inline void load_state(const unsigned char *in, uint32_t s[4])
{
    s[0] = load_word(in);
    s[1] = load_word(in + 4);
    s[2] = load_word(in + 8);
    s[3] = load_word(in + 12);
}

inline void store_state(const uint32_t s[4], unsigned char *out)
{
    store_word(out, s[0]);
    store_word(out + 4, s[1]);
    store_word(out + 8, s[2]);
    store_word(out + 12, s[3]);
}

} // namespace

void expand_key(const unsigned char *key, unsigned char *round_keys)
{
    uint32_t w[schedule_words];
    for (int i = 0; i < key_words; ++i)
        w[i] = load_word(key + 4 * i);
    uint32_t rcon = 0x01;
    for (int i = key_words; i < schedule_words; ++i) {
        uint32_t temp = w[i - 1];
        if (i % key_words == 0) {
            temp = sub_word(rotate_bytes(temp, 1), sbox) ^ rcon;
            rcon = times_x<1>(rcon);
        } else if (i % key_words == 4) {
            temp = sub_word(temp, sbox);
        }
        w[i] = w[i - key_words] ^ temp;
    }
    for (int i = 0; i < schedule_words; ++i)
        store_word(round_keys + 4 * i, w[i]);
}

void encrypt_block(const unsigned char *in, unsigned char *out, const unsigned char *round_keys)
{
    uint32_t s[4];
    load_state(in, s);
    add_round_key(s, round_keys, 0);
    for (int round = 1; round < rounds; ++round) {
        substitute_shifted(s, 1, sbox);
        mix_columns(s, mix_column);
        add_round_key(s, round_keys, round);
    }
    substitute_shifted(s, 1, sbox);
    add_round_key(s, round_keys, rounds);
    store_state(s, out);
}

void decrypt_block(const unsigned char *in, unsigned char *out, const unsigned char *round_keys)
{
    uint32_t s[4];
    load_state(in, s);
    add_round_key(s, round_keys, rounds);
    for (int round = rounds - 1; round >= 1; --round) {
        substitute_shifted(s, 3, inv_sbox);
        add_round_key(s, round_keys, round);
        mix_columns(s, inv_mix_column);
    }
    substitute_shifted(s, 3, inv_sbox);
    add_round_key(s, round_keys, 0);
    store_state(s, out);
}

// Multi-block decryption. A pair of blocks is held in four 64-bit words, in one of two
// layouts; slot s is bits 8(s mod 8) .. 8(s mod 8)+7 of word s div 8.
// - block layout: byte k of the pair (16 per block) in slot k, as loaded from memory;
// - row layout: row j, column c of block b in slot 8j + 4b + c, so a word is a state row of
//   both blocks and MixColumns works on whole rows, eight bytes at a time, with no rotations.
// The byte substitutions move every byte anyway, so they also change layout for free: the
// first one goes from block to row layout, the last one back.
namespace
{

enum class layout { blocks, rows };

struct position {
    size_t block, row, column;
};

constexpr size_t slot_of(layout l, position p)
{
    return l == layout::rows ? 8 * p.row + 4 * p.block + p.column
                             : 16 * p.block + 4 * p.column + p.row;
}

constexpr position position_of(layout l, size_t s)
{
    return l == layout::rows ? position{(s >> 2) & 1, s >> 3, s & 3}
                             : position{s >> 4, s & 3, (s >> 2) & 3};
}

// The slot whose byte InvShiftRows brings to slot s of layout `to`: row j, column c takes
// the byte of column c - j.
constexpr size_t inv_shift_source(layout from, layout to, size_t s)
{
    const position p = position_of(to, s);
    return slot_of(from, {p.block, p.row, (p.column - p.row) & 3});
}

// The byte in a slot, read from memory with one load rather than shifted out of a register.
inline unsigned slot_byte(const uint64_t words[4], size_t s)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const size_t k = 7 - s % 8;
#else
    const size_t k = s % 8;
#endif
    return reinterpret_cast<const unsigned char *>(words + s / 8)[k];
}

// Word w of InvShiftRows with InvSubBytes; the slots are template arguments so that every
// shift and offset is a constant.
template <layout from, layout to, size_t w, size_t... k>
inline uint64_t inv_sub_shift_word(const uint64_t in[4], std::index_sequence<k...>)
{
    return ((uint64_t(inv_sbox[slot_byte(in, inv_shift_source(from, to, 8 * w + k))]) << 8 * k) |
            ...);
}

// InvShiftRows, InvSubBytes and AddRoundKey.
template <layout from, layout to, size_t... w>
inline void inv_sub_shift_add(const uint64_t in[4], uint64_t out[4], const uint64_t key[4],
                              std::index_sequence<w...>)
{
    ((out[w] = inv_sub_shift_word<from, to, w>(in, std::make_index_sequence<8>()) ^ key[w]), ...);
}

inline uint64_t load_le64(const unsigned char *p)
{
    return uint64_t(load_word(p)) | uint64_t(load_word(p + 4)) << 32;
}

inline void store_le64(unsigned char *p, uint64_t w)
{
    store_word(p, uint32_t(w));
    store_word(p + 4, uint32_t(w >> 32));
}

// InvMixColumns on the rows of a pair: the matrix 0E 0B 0D 09 is 02 03 01 01 times
// 05 00 04 00, so a cheap premultiplication is followed by MixColumns.
inline void inv_mix_rows(uint64_t a[4])
{
    const uint64_t u = times_x<2>(a[0] ^ a[2]);
    const uint64_t v = times_x<2>(a[1] ^ a[3]);
    const uint64_t b0 = a[0] ^ u, b1 = a[1] ^ v, b2 = a[2] ^ u, b3 = a[3] ^ v;
    // Row j gets 02 b[j] + 03 b[j+1] + b[j+2] + b[j+3] = b[j] + t + 02 (b[j] + b[j+1]); the
    // four doublings add up to zero, so the last is the sum of the other three.
    const uint64_t t = b0 ^ b1 ^ b2 ^ b3;
    const uint64_t d0 = times_x<1>(b0 ^ b1), d1 = times_x<1>(b1 ^ b2), d2 = times_x<1>(b2 ^ b3);
    a[0] = b0 ^ t ^ d0;
    a[1] = b1 ^ t ^ d1;
    a[2] = b2 ^ t ^ d2;
    a[3] = b3 ^ t ^ d0 ^ d1 ^ d2;
}

// Independent pairs go through each round together, so that their lookups overlap.
const size_t pairs_in_flight = 2;
const size_t group_blocks = 2 * pairs_in_flight;

#if defined(_MSC_VER)
#define NOT_INLINED __declspec(noinline)
#else
#define NOT_INLINED __attribute__((noinline))
#endif

// InvShiftRows, InvSubBytes and AddRoundKey on the pairs in flight; from rows to rows it may
// work in place, as each word then reads only itself. Out of line on purpose: the bytes are
// then loaded from memory, one instruction each, where inlined code would shift them out of
// the registers the linear layer left them in.
template <layout from, layout to>
NOT_INLINED void inv_sub_shift_pairs(const uint64_t in[][4], uint64_t out[][4],
                                     const uint64_t key[4])
{
    for (size_t p = 0; p < pairs_in_flight; ++p)
        inv_sub_shift_add<from, to>(in[p], out[p], key, std::make_index_sequence<4>());
}

// group_blocks blocks; in and out may be the same.
void decrypt_group(const unsigned char *in, unsigned char *out, const uint64_t keys[15][4])
{
    uint64_t s[pairs_in_flight][4], t[pairs_in_flight][4];
    for (size_t p = 0; p < pairs_in_flight; ++p)
        for (int i = 0; i < 4; ++i)
            s[p][i] = load_le64(in + 32 * p + 8 * i) ^ keys[rounds][i];
    inv_sub_shift_pairs<layout::blocks, layout::rows>(s, t, keys[rounds - 1]);
    for (int round = rounds - 2; round >= 1; --round) {
        for (size_t p = 0; p < pairs_in_flight; ++p)
            inv_mix_rows(t[p]);
        inv_sub_shift_pairs<layout::rows, layout::rows>(t, t, keys[round]);
    }
    for (size_t p = 0; p < pairs_in_flight; ++p)
        inv_mix_rows(t[p]);
    inv_sub_shift_pairs<layout::rows, layout::blocks>(t, s, keys[0]);
    for (size_t p = 0; p < pairs_in_flight; ++p)
        for (int i = 0; i < 4; ++i)
            store_le64(out + 32 * p + 8 * i, s[p][i]);
}

} // namespace

void prepare_decrypt_key(const unsigned char *round_keys, decrypt_key *key)
{
    for (int r = 0; r <= rounds; ++r) {
        // Rounds 0 and 14 meet the state in block layout, the others in row layout.
        const layout l = r == 0 || r == rounds ? layout::blocks : layout::rows;
        for (size_t i = 0; i < 4; ++i) {
            uint64_t w = 0;
            for (size_t k = 0; k < 8; ++k) {
                const position p = position_of(l, 8 * i + k);
                w |= uint64_t(round_keys[16 * r + 4 * p.column + p.row]) << 8 * k;
            }
            key->words[r][i] = w;
        }
    }
    // The instructions apply InvMixColumns before adding the key, so the inner keys go
    // through it too.
    for (int r = 0; r <= rounds; ++r) {
        const unsigned char *k = round_keys + 16 * (rounds - r);
        for (int c = 0; c < 4; ++c) {
            const uint32_t w = load_word(k + 4 * c);
            store_word(key->hardware[r] + 4 * c, r == 0 || r == rounds ? w : inv_mix_column(w));
        }
    }
}

aes_path fastest_aes_path()
{
#ifdef CORVALEN_AES_NI
    static const aes_path fastest =
        processor_has_aes_ni() ? aes_path::hardware : aes_path::portable;
    return fastest;
#else
    return aes_path::portable;
#endif
}

void decrypt_blocks(const unsigned char *in, unsigned char *out, size_t blocks,
                    const decrypt_key &key, [[maybe_unused]] aes_path path)
{
#ifdef CORVALEN_AES_NI
    if (path == aes_path::hardware && fastest_aes_path() == aes_path::hardware) {
        decrypt_blocks_aes_ni(in, out, blocks, key.hardware);
        return;
    }
#endif
    for (; blocks >= group_blocks; blocks -= group_blocks) {
        decrypt_group(in, out, key.words);
        in += 16 * group_blocks;
        out += 16 * group_blocks;
    }
    if (blocks > 0) {
        unsigned char last[16 * group_blocks] = {0};
        memcpy(last, in, 16 * blocks);
        decrypt_group(last, last, key.words);
        memcpy(out, last, 16 * blocks);
    }
}
