#include "TerminalText.h"

QString TerminalText::escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f)
            out += QString::asprintf("\\x%02x", u);
        else if (u >= 0x80 && u <= 0x9f)
            out += QString::asprintf("\\u%04x", u);
        else
            out += c;
    }
    return out;
}

QByteArray TerminalText::utf8(const QString &text)
{
    return escaped(text).toUtf8();
}
