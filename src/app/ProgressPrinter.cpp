#include "ProgressPrinter.h"

#include "TerminalText.h"

#include <unistd.h>

namespace {

// A terminal shows this many running files at most; the rest wait their turn.
constexpr int kMaxLiveLines = 8;

QString fromUtf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

bool isFolder(const TransferFile &f)
{
    return f.mime == kDirectoryMime;
}

} // namespace

ProgressPrinter::ProgressPrinter(FILE *out, bool live) : m_out(out), m_live(live)
{
}

bool ProgressPrinter::isTerminal(FILE *stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

QString ProgressPrinter::bytesText(int64_t n)
{
    if (n < 1024)
        return QStringLiteral("%1 B").arg(n);
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double v = static_cast<double>(n);
    int unit = -1;
    while (v >= 1024 && unit < 3) {
        v /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(v, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString ProgressPrinter::durationText(int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    const int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QString::asprintf("%lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(m),
                                 static_cast<long long>(s));
    return QString::asprintf("%lld:%02lld", static_cast<long long>(m), static_cast<long long>(s));
}

void ProgressPrinter::line(const QString &text)
{
    if (m_live && m_shownLines > 0) {
        std::fprintf(m_out, "\033[%dA\033[J", m_shownLines);
        m_shownLines = 0;
    }
    std::fprintf(m_out, "%s\n", TerminalText::utf8(text).constData());
    if (m_live)
        redraw();
    std::fflush(m_out);
}

void ProgressPrinter::clearLive()
{
    m_running.clear();
    if (m_live && m_shownLines > 0) {
        std::fprintf(m_out, "\033[%dA\033[J", m_shownLines);
        m_shownLines = 0;
        std::fflush(m_out);
    }
}

QString ProgressPrinter::liveText(const TransferFile &file, const FileState &state) const
{
    QString text = fromUtf8(file.file_name) + QStringLiteral("  ") + bytesText(state.offset);
    if (!isFolder(file))
        text += QStringLiteral(" / ") + bytesText(file.total);
    text += QStringLiteral("  ") + bytesText(static_cast<int64_t>(state.rate)) + QStringLiteral("/s");
    if (!isFolder(file) && state.rate > 0 && file.total > state.offset)
        text += QStringLiteral("  ") +
                durationText(static_cast<int64_t>(static_cast<double>(file.total - state.offset) / state.rate)) +
                QStringLiteral(" left");
    else if (isFolder(file) && !file.status.desc.empty())
        text += QStringLiteral("  ") + fromUtf8(file.status.desc);
    return text;
}

void ProgressPrinter::redraw()
{
    if (m_shownLines > 0)
        std::fprintf(m_out, "\033[%dA\033[J", m_shownLines);
    m_shownLines = 0;
    for (const auto &item : m_running) {
        if (m_shownLines == kMaxLiveLines)
            break;
        std::fprintf(m_out, "%s\n", TerminalText::utf8(item.second).constData());
        ++m_shownLines;
    }
    std::fflush(m_out);
}

void ProgressPrinter::update(const TaskKey &key, const TaskEntry &entry, qint64 nowMs)
{
    for (const TransferFile &f : entry.files) {
        const FileKey fk{key.tid, f.uid};
        FileState &st = m_files[fk];
        const bool wasFinal = st.status != 0;
        st.status = f.status.status;
        st.offset = f.status.offset;
        if (st.status != 0) {
            m_running.erase(fk);
            if (wasFinal)
                continue;
            const QString name = fromUtf8(f.file_name);
            if (st.status > 0)
                line(
                    QStringLiteral("done %1 (%2 bytes)").arg(name, QString::number(isFolder(f) ? st.offset : f.total)));
            else
                line(QStringLiteral("failed %1: %2").arg(name, fromUtf8(f.status.error)));
            continue;
        }
        if (st.offset <= 0 && f.status.desc.empty())
            continue; // waiting
        if (st.sampleMs < 0) {
            st.sampleMs = nowMs;
            st.sampleOffset = st.offset;
        } else if (nowMs - st.sampleMs >= 1000) {
            const double rate =
                static_cast<double>(st.offset - st.sampleOffset) * 1000.0 / static_cast<double>(nowMs - st.sampleMs);
            st.rate = st.rate > 0 ? 0.5 * st.rate + 0.5 * rate : rate;
            st.sampleMs = nowMs;
            st.sampleOffset = st.offset;
        }
        if (!st.announced) {
            st.announced = true;
            if (!m_live)
                line(QStringLiteral("transferring %1").arg(fromUtf8(f.file_name)));
        }
        if (m_live)
            m_running[fk] = liveText(f, st);
    }
    if (m_live)
        redraw();
}
