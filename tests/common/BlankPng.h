// PNG files of any size that cost almost nothing to make or store: one-bit
// grey, every pixel black, the zero bytes compressed by hand as one long run.
// A 30,000 x 30,000 image comes to about 700 KiB, and decoding it in full
// takes over 100 MB, which is what tests of decoding limits need.
#pragma once

#include <QByteArray>

#include <cstdint>

namespace blankpng {

inline uint32_t crc32(const QByteArray &bytes)
{
    uint32_t crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

inline void appendBigEndian(QByteArray &out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xff));
}

// Deflate's bit order: fields from the lowest bit up, Huffman codes from their highest bit.
class BitWriter {
public:
    void bits(uint32_t value, int count)
    {
        m_acc |= value << m_count;
        m_count += count;
        while (m_count >= 8) {
            m_out.append(char(m_acc & 0xff));
            m_acc >>= 8;
            m_count -= 8;
        }
    }
    void code(uint32_t code, int length)
    {
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i)
            reversed = (reversed << 1) | ((code >> i) & 1u);
        bits(reversed, length);
    }
    QByteArray finish()
    {
        if (m_count > 0)
            m_out.append(char(m_acc & 0xff));
        m_acc = 0;
        m_count = 0;
        return m_out;
    }

private:
    QByteArray m_out;
    uint32_t m_acc = 0;
    int m_count = 0;
};

// A zlib stream of n zero bytes: one literal, then copies of 258 bytes from one byte back.
inline QByteArray zeros(uint64_t n)
{
    QByteArray out("\x78\x01", 2);
    BitWriter w;
    w.bits(1, 1); // the last block
    w.bits(1, 2); // fixed codes
    const uint32_t literalZero = 0x30, length258 = 0xc5, distance1 = 0, endOfBlock = 0;
    uint64_t left = n;
    if (left > 0) {
        w.code(literalZero, 8);
        --left;
    }
    for (; left >= 258; left -= 258) {
        w.code(length258, 8);
        w.code(distance1, 5);
    }
    for (; left > 0; --left)
        w.code(literalZero, 8);
    w.code(endOfBlock, 7);
    out += w.finish();
    // Adler-32 of zeros: the sum stays 1 and the sum of sums grows by 1 a byte.
    appendBigEndian(out, uint32_t((n % 65521u) << 16) | 1u);
    return out;
}

inline void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    appendBigEndian(png, uint32_t(data.size()));
    const QByteArray typed = QByteArray(type, 4) + data;
    png += typed;
    appendBigEndian(png, crc32(typed));
}

// A valid PNG of width x height black pixels.
inline QByteArray make(uint32_t width, uint32_t height)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header.append("\x01\x00\x00\x00\x00", 5); // 1 bit, grey, deflate, no filter method, no interlace
    appendChunk(png, "IHDR", header);
    // Each row: the filter type byte (0) and the row's bits.
    appendChunk(png, "IDAT", zeros(uint64_t(height) * (1 + (uint64_t(width) + 7) / 8)));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace blankpng
