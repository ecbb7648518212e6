// Reproducible file contents and whole-file reads for transfer tests.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>

// size bytes of a xorshift sequence: different for each seed, the same every run.
inline QByteArray pattern(int size, int seed)
{
    QByteArray b(size, Qt::Uninitialized);
    uint32_t x = 2463534242u + uint32_t(seed);
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x);
    }
    return b;
}

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
