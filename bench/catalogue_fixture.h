#pragma once

// A filled catalogue for the benchmarks that measure work on it.

#include "core/app.h"
#include "platform/database.h"
#include "platform/folderitem.h"

#include <stdexcept>
#include <string>

namespace bench {

/// Rows in the benchmark catalogue: a large user's tree.
constexpr int kRows = 100000;

/// The stored path of row `i` (in the catalogue of kRows, paths beyond it are not stored).
inline std::string StoredPath(int i)
{
    return "Disk:Users:me:Documents:Projects:folder" + std::to_string(i / 100) + ":file"
        + std::to_string(i) + ".txt";
}

/// A new catalogue at `path` with the program's schema and no rows.
inline platform::Ref<platform::Database> MakeEmptyCatalogue(const std::string &path)
{
    auto db = platform::New<platform::Database>();
    db->DatabaseFile = platform::FolderItem::FromNativePath(path);
    if (!db->CreateDatabaseFile())
        throw std::runtime_error(db->ErrorMessage());
    for (const std::string &sql : CatalogueCreationStatements())
        db->SQLExecute(sql);
    db->Commit();
    return db;
}

/// A new catalogue at `path` with the program's schema and `rows` scanned files, row `i` at
/// StoredPath(i).
inline platform::Ref<platform::Database> MakeFilledCatalogue(
    const std::string &path, int rows = kRows)
{
    auto db = MakeEmptyCatalogue(path);
    db->SQLExecute("BEGIN TRANSACTION;");
    db->SQLExecute(
        "INSERT INTO fileinfo (referenceidx, resource, crc, exempt, date, fullpath, name, "
        "isfolder) WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < "
        + std::to_string(rows - 1)
        + ") SELECT i, '<data>', hex(randomblob(32)), 0, '2024-05-01', "
          "'Disk:Users:me:Documents:Projects:folder' || (i / 100) || ':file' || i || '.txt', "
          "'file' || i || '.txt', 0 FROM n");
    db->Commit();
    if (db->Error())
        throw std::runtime_error(db->ErrorMessage());
    return db;
}

} // namespace bench
