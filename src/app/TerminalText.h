// Text printed on the command line, made unable to drive the terminal: names,
// errors and messages often come from other devices, and a control character
// in them (an escape sequence above all) would move the cursor, rewrite lines
// or retitle the window. Such characters are shown as visible escapes instead.
#pragma once

#include <QByteArray>
#include <QString>

class TerminalText {
public:
    // C0 controls and DEL as "\x1b", C1 controls (U+0080 to U+009F) as
    // "\u009b"; everything else as it is. Text read as UTF-8 with
    // QString::fromUtf8 already holds U+FFFD for every invalid sequence.
    static QString escaped(const QString &text);
    // escaped(text) in UTF-8, ready for printf's "%s".
    static QByteArray utf8(const QString &text);
};
