// A small deflate bit writer for hand-made streams (RFC 1951): fields least
// significant bit first, Huffman codes most significant bit first, canonical
// codes built from code lengths as 3.2.2 describes.  Used for what zlib never
// writes: invalid symbols, odd codes, damaged headers.
#ifndef SFX_TEST_BITWRITER_H
#define SFX_TEST_BITWRITER_H

#include <stdint.h>

#include <vector>

class BitWriter {
public:
    // A field of n bits, least significant bit first.
    BitWriter &Bits(uint32_t value, unsigned n)
    {
        for (unsigned i = 0; i < n; i++)
            Bit((value >> i) & 1);
        return *this;
    }
    // A Huffman code of len bits, most significant bit first.
    BitWriter &Code(uint32_t code, unsigned len)
    {
        for (unsigned i = len; i-- > 0;)
            Bit((code >> i) & 1);
        return *this;
    }
    // Pads to a byte boundary with zeros.
    BitWriter &Align()
    {
        while (used_ != 0)
            Bit(0);
        return *this;
    }
    BitWriter &Byte(uint8_t b) { return Bits(b, 8); }
    std::vector<uint8_t> Bytes() const { return bytes_; }
    size_t BitLength() const { return bytes_.size() * 8 - (used_ ? 8 - used_ : 0); }

private:
    void Bit(unsigned bit)
    {
        if (used_ == 0)
            bytes_.push_back(0);
        bytes_.back() |= (uint8_t)(bit << used_);
        used_ = (used_ + 1) & 7;
    }
    std::vector<uint8_t> bytes_;
    unsigned used_ = 0;
};

// RFC 1951 3.2.2: canonical codes from code lengths (0 = unused).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t> &lengths)
{
    unsigned count[17] = {0};
    for (uint8_t l : lengths)
        count[l]++;
    count[0] = 0;
    uint32_t next[17] = {0}, code = 0;
    for (unsigned bits = 1; bits <= 16; bits++) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); i++)
        if (lengths[i])
            codes[i] = next[lengths[i]]++;
    return codes;
}

// A Huffman code given by its lengths, ready to write symbols with.
struct HuffmanCode {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
    explicit HuffmanCode(const std::vector<uint8_t> &l) : lengths(l), codes(CanonicalCodes(l)) {}
    void Put(BitWriter &w, unsigned symbol) const { w.Code(codes.at(symbol), lengths.at(symbol)); }
};

// The fixed codes of RFC 1951 3.2.6.
inline const HuffmanCode &FixedLiterals()
{
    static const HuffmanCode code([] {
        std::vector<uint8_t> l(288);
        for (unsigned i = 0; i < 288; i++)
            l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        return l;
    }());
    return code;
}
// All 32 five-bit patterns, so that the invalid symbols 30 and 31 can be written.
inline const HuffmanCode &FixedDistances()
{
    static const HuffmanCode code(std::vector<uint8_t>(32, 5));
    return code;
}

// Block header: last-block bit, then the 2-bit type.
inline void BlockHeader(BitWriter &w, bool last, unsigned type) { w.Bits(last, 1).Bits(type, 2); }

// A dynamic block header.  The code-length code gives symbols 0..12 four
// bits and 13..18 five bits (complete); `sequence' is the code-length
// symbols with their extra bits as pairs {symbol, extra}; when empty, the
// lengths are written one symbol each.
struct CodeLengthSymbol {
    unsigned symbol;
    unsigned extra;
};

inline const HuffmanCode &CodeLengthCode()
{
    static const HuffmanCode code([] {
        std::vector<uint8_t> l(19);
        for (unsigned i = 0; i < 19; i++)
            l[i] = i < 13 ? 4 : 5;
        return l;
    }());
    return code;
}

inline void DynamicHeader(BitWriter &w, bool last, const std::vector<uint8_t> &literalLengths,
                          const std::vector<uint8_t> &distanceLengths,
                          std::vector<CodeLengthSymbol> sequence = {},
                          const HuffmanCode &clc = CodeLengthCode())
{
    static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    BlockHeader(w, last, 2);
    w.Bits((uint32_t)literalLengths.size() - 257, 5);   // HLIT
    w.Bits((uint32_t)distanceLengths.size() - 1, 5);    // HDIST
    w.Bits(19 - 4, 4);                                  // HCLEN: all 19
    for (unsigned j = 0; j < 19; j++)
        w.Bits(clc.lengths[order[j]], 3);
    if (sequence.empty()) {
        for (uint8_t l : literalLengths)
            sequence.push_back({l, 0});
        for (uint8_t l : distanceLengths)
            sequence.push_back({l, 0});
    }
    for (const CodeLengthSymbol &c : sequence) {
        clc.Put(w, c.symbol);
        if (c.symbol == 16)
            w.Bits(c.extra, 2);
        else if (c.symbol == 17)
            w.Bits(c.extra, 3);
        else if (c.symbol == 18)
            w.Bits(c.extra, 7);
    }
}

#endif
