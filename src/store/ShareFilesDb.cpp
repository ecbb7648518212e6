#include "ShareFilesDb.h"

#include "core/DataFolder.h"
#include "core/Json.h"

#include <cstdio>

namespace {

ShareFile shareFileFromRow(Sqlite3ResultSet &rs)
{
    ShareFile f;
    f.uid = rs.getText("uid");
    f.name = rs.getText("name");
    f.uri = rs.getText("uri");
    f.mime = rs.getText("mime");
    f.thumb = rs.getText("thumb");
    f.folder = rs.getInt("folder") != 0;
    return f;
}

} // namespace

ShareFilesDb &ShareFilesDb::instance()
{
    static ShareFilesDb db;
    return db;
}

ShareFilesDb::ShareFilesDb(std::string filePath) : m_filePath(std::move(filePath))
{
}

ShareFilesDb::~ShareFilesDb()
{
    closeLocked();
}

const char *ShareFilesDb::schema()
{
    return "CREATE TABLE setting("
           "name VARCHAR PRIMARY KEY, "
           "val VARCHAR);\n"
           "CREATE TABLE file("
           "uid VARCHAR PRIMARY KEY, "
           "uri VARCHAR, "
           "mime VARCHAR, "
           "name VARCHAR, "
           "thumb VARCHAR, "
           "folder int);\n"
           "create index idx_file_uri on file(uri);\n"
           "PRAGMA journal_mode=WAL;\n";
}

bool ShareFilesDb::open()
{
    std::lock_guard<std::mutex> lock(m_openMutex);
    return openLocked();
}

bool ShareFilesDb::reopen(const std::string &filePath)
{
    std::lock_guard<std::mutex> lock(m_openMutex);
    closeLocked();
    m_filePath = filePath;
    return openLocked();
}

bool ShareFilesDb::openLocked()
{
    if (isOpen())
        return true;
    const std::string path = m_filePath.empty() ? dataFile("share") : m_filePath;
    OpenFailure failure = OpenFailure::None;
    std::string message;
    if (openOrCreate(path, schema(), &failure, &message))
        return true;
    if (failure != OpenFailure::Create)
        std::fprintf(stderr, "ShareFilesDb::open Error: %s\n", message.c_str());
    return false;
}

void ShareFilesDb::closeLocked()
{
    if (isOpen())
        sqlite3_wal_checkpoint(handle(), nullptr);
    close();
}

bool ShareFilesDb::isEnabled()
{
    if (!open())
        return false;
    Sqlite3ResultSet rs;
    Sqlite3Command cmd("select val from setting where name=?");
    cmd.addText("enable");
    if (!query(std::move(cmd), rs) || !rs.next())
        return false;
    // A value that is not a number only comes from an edited file; it reads as off.
    const auto n = parseLeadingInt(rs.getText("val"));
    return n && *n != 0;
}

void ShareFilesDb::setEnabled(bool enabled)
{
    if (!open())
        return;
    Sqlite3Command cmd("replace into setting(name,val) values('enable', ?)");
    cmd.addText(enabled ? "1" : "0");
    exec(cmd);
}

void ShareFilesDb::addFile(const ShareFile &file)
{
    if (!open())
        return;
    Sqlite3Command cmd("replace into file(uid,uri,mime,name,thumb,folder) values(?,?,?,?,?,?)");
    cmd.addText(file.uid).addText(file.uri).addText(file.mime).addText(file.name).addText(file.thumb);
    cmd.addInt(file.folder ? 1 : 0);
    exec(cmd);
}

void ShareFilesDb::listFiles(int filter, std::vector<ShareFile> *files)
{
    if (!open())
        return;
    std::string sql = "select * from file";
    if (filter == FilesOnly)
        sql += " where folder=0";
    else if (filter == FoldersOnly)
        sql += " where folder=1";
    sql += " order by folder desc, name asc";
    Sqlite3ResultSet rs;
    if (!query(sql, rs))
        return;
    while (rs.next())
        files->push_back(shareFileFromRow(rs));
}

bool ShareFilesDb::getFile(const std::string &uid, ShareFile *file)
{
    if (!open())
        return false;
    Sqlite3ResultSet rs;
    Sqlite3Command cmd("select * from file where uid=?");
    cmd.addText(uid);
    if (!query(std::move(cmd), rs) || !rs.next())
        return false;
    *file = shareFileFromRow(rs);
    return true;
}

bool ShareFilesDb::hasUid(const std::string &uid)
{
    if (!open())
        return false;
    Sqlite3ResultSet rs;
    Sqlite3Command cmd("select 1 from file where uid=?");
    cmd.addText(uid);
    return query(std::move(cmd), rs) && rs.next();
}

bool ShareFilesDb::hasUri(const std::string &uri)
{
    if (!open())
        return false;
    Sqlite3ResultSet rs;
    Sqlite3Command cmd("select 1 from file where uri=?");
    cmd.addText(uri);
    return query(std::move(cmd), rs) && rs.next();
}

void ShareFilesDb::removeFile(const std::string &uid)
{
    if (!open())
        return;
    Sqlite3Command cmd("delete from file where uid=?");
    cmd.addText(uid);
    exec(cmd);
}
