#pragma once

// What the catalogue connection's tests share: a catalogue in a temporary folder, its rows, and
// cooperative threads run to their end.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/application.h"
#include "platform/database.h"
#include "platform/folderitem.h"
#include "tests/support/testsupport.h"
#include "platform/thread.h"

namespace dbtest {

using platform::Database;
using platform::DatabaseRecord;
using platform::Ref;
using platform::Thread;
using platform::testing::TempFolder;

inline const char *const kCatalogueSchema[] = {
    "CREATE TABLE fileinfo (idx INTEGER PRIMARY KEY, referenceidx INTEGER, fullpath VARCHAR, "
    "name VARCHAR, isfolder BOOLEAN,date DATE, resource VARCHAR, crc VARCHAR, exempt BOOLEAN, "
    "parentidx INTEGER);",
    "CREATE UNIQUE INDEX fileinfo_index_idx ON fileinfo(idx);",
    "CREATE INDEX fileinfo_index_paridx ON fileinfo(parentidx);",
    "CREATE INDEX fileinfo_index_path ON fileinfo(fullpath);",
};

inline bool Exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

inline Ref<Database> DatabaseAt(const std::string &path)
{
    auto db = platform::New<Database>();
    db->DatabaseFile = platform::FolderItem::FromNativePath(path);
    return db;
}

/// A new database file with the catalogue's table, connected.
inline Ref<Database> NewCatalogue(const TempFolder &folder, const std::string &name = "crcData.rsd")
{
    auto db = DatabaseAt(folder / name);
    if (!db->CreateDatabaseFile())
        throw std::runtime_error("cannot create " + folder / name + ": " + db->ErrorMessage());
    for (const char *sql : kCatalogueSchema)
        db->SQLExecute(sql);
    if (db->Error())
        throw std::runtime_error(db->ErrorMessage());
    return db;
}

/// The catalogue row of a scanned file.
inline DatabaseRecord FileRecord(
    const std::string &path, const std::string &name, bool exempt = false)
{
    DatabaseRecord r;
    r.IntegerColumn("referenceidx", 1);
    r.Column("resource", "<data>");
    r.Column("crc", "ABC");
    r.BooleanColumn("exempt", exempt);
    r.Column("date", "2024-05-01");
    r.Column("fullpath", path);
    r.Column("name", name);
    r.BooleanColumn("isfolder", false);
    return r;
}

inline void AddFile(
    Database &db, const std::string &path, const std::string &name, bool exempt = false)
{
    db.InsertRecord("fileinfo", FileRecord(path, name, exempt));
    if (db.Error())
        throw std::runtime_error(db.ErrorMessage());
}

inline std::string ScalarText(Database &db, const std::string &sql)
{
    auto rs = db.SQLSelect(sql);
    if (!rs)
        return "<no record set: " + db.ErrorMessage() + ">";
    if (rs->EOF_())
        return "<no row>";
    return rs->IdxField(1)->StringValue();
}

inline int64_t ScalarInt(Database &db, const std::string &sql)
{
    auto rs = db.SQLSelect(sql);
    if (!rs || rs->EOF_())
        return -1;
    return rs->IdxField(1)->IntegerValue();
}

/// The names of the rows that a connection of its own sees: what has been committed.
inline std::string CommittedNames(const TempFolder &folder, const std::string &name = "crcData.rsd")
{
    auto other = DatabaseAt(folder / name);
    if (!other->Connect())
        return "<cannot connect: " + other->ErrorMessage() + ">";
    return ScalarText(*other,
        "SELECT group_concat(name, ',') FROM (SELECT name FROM fileinfo "
        "ORDER BY name)");
}

inline std::shared_ptr<Thread> Start(std::function<void()> body)
{
    auto t = std::make_shared<platform::testing::LambdaThread>(std::move(body));
    t->Run();
    return t;
}

inline bool Ended(const std::vector<std::shared_ptr<Thread>> &threads)
{
    for (const auto &t : threads) {
        if (!t || t->GetState() != Thread::State::NotRunning)
            return false;
    }
    return true;
}

/// Turns the event loop (which runs the threads) until they have all ended; bounded.
inline bool RunToEnd(const std::vector<std::shared_ptr<Thread>> &threads)
{
    return platform::ProcessEventsUntil([&] { return Ended(threads); }, 10000);
}

} // namespace dbtest
