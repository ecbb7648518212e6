#include "DurableBatch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace taskmgr {

namespace {

// A file system the folder could not be opened on: its records get the error.
constexpr dev_t kNoDevice = static_cast<dev_t>(-1);
// At most one round of syncs this often.
constexpr std::chrono::milliseconds kRoundInterval(200);

} // namespace

DurableBatch::DurableBatch() : m_thread([this] { run(); })
{
}

DurableBatch::~DurableBatch()
{
    stop();
}

void DurableBatch::add(const std::string &folder, Record record)
{
    {
        // A folder already handed over this round: its file system is synced already.
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto known = m_roundFolders.find(folder);
        if (!m_stopping && known != m_roundFolders.end()) {
            m_records.emplace_back(known->second, std::move(record));
            ++m_added;
            m_wake.notify_one();
            return;
        }
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    dev_t dev = kNoDevice;
    int openError = 0;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        openError = errno ? errno : EIO;
    else
        dev = st.st_dev;
    if (openError) {
        // Nothing to sync: the record learns why.
        record = [inner = std::move(record), openError](int) { inner(openError); };
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopping) {
        const std::function<void()> roundEnd = m_roundEnd;
        lock.unlock();
        std::map<dev_t, int> fds;
        std::vector<std::pair<dev_t, Record>> records;
        if (fd >= 0 && !openError)
            fds[dev] = fd;
        else if (fd >= 0)
            ::close(fd);
        records.emplace_back(openError ? kNoDevice : dev, std::move(record));
        syncAndRecord(fds, records, roundEnd);
        return;
    }
    if (openError) {
        if (fd >= 0)
            ::close(fd);
    } else {
        if (!m_fds.emplace(dev, fd).second)
            ::close(fd); // that file system is synced this round already
        m_roundFolders.emplace(folder, dev);
    }
    m_records.emplace_back(openError ? kNoDevice : dev, std::move(record));
    ++m_added;
    m_wake.notify_one();
}

void DurableBatch::setRoundEnd(std::function<void()> roundEnd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_roundEnd = std::move(roundEnd);
}

void DurableBatch::flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const long target = m_added;
    ++m_flushing;
    m_wake.notify_one();
    m_done.wait(lock, [&] { return m_recorded >= target || !m_thread.joinable(); });
    --m_flushing;
}

void DurableBatch::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    m_done.notify_all();
}

long DurableBatch::syncCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_syncs;
}

void DurableBatch::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto lastRound = std::chrono::steady_clock::now() - kRoundInterval;
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_records.empty(); });
        if (m_records.empty() && m_stopping)
            return;
        // Files that finish soon after a round wait for the next one with
        // the others: each sync also makes the file system commit whatever
        // else is being written, and that slows the transfer down.
        m_wake.wait_until(lock, lastRound + kRoundInterval, [this] { return m_stopping || m_flushing > 0; });
        lastRound = std::chrono::steady_clock::now();
        std::map<dev_t, int> fds;
        std::vector<std::pair<dev_t, Record>> records;
        fds.swap(m_fds);
        records.swap(m_records);
        m_roundFolders.clear();
        const std::function<void()> roundEnd = m_roundEnd;
        lock.unlock();
        syncAndRecord(fds, records, roundEnd);
        lock.lock();
        m_syncs += static_cast<long>(fds.size());
        m_recorded += static_cast<long>(records.size());
        m_done.notify_all();
    }
}

void DurableBatch::syncAndRecord(std::map<dev_t, int> &fds, std::vector<std::pair<dev_t, Record>> &records,
                                 const std::function<void()> &roundEnd)
{
    // syncfs writes the file system's data and metadata (the renames too).
    std::map<dev_t, int> errors;
    for (const auto &entry : fds) {
        errors[entry.first] = ::syncfs(entry.second) == 0 ? 0 : errno;
        ::close(entry.second);
    }
    for (auto &entry : records) {
        const auto error = errors.find(entry.first);
        entry.second(error == errors.end() ? EIO : error->second);
    }
    if (roundEnd)
        roundEnd();
}

} // namespace taskmgr
