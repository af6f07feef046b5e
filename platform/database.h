#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace platform {

class RecordSet;
class Thread;
namespace dbdetail {
class Connection;
}

/// One field of the current row of a record set. NULL reads as "", 0 and False.
class DatabaseField
{
public:
    std::string StringValue() const;
    int64_t IntegerValue() const;
    bool BooleanValue() const;
    /// The raw value: nullptr_t (NULL), int64_t, double, std::string or a blob (vector of bytes).
    using Variant
        = std::variant<std::nullptr_t, int64_t, double, std::string, std::vector<uint8_t>>;
    Variant Value() const;
    bool IsNull() const;

    /// Changing a field is allowed between RecordSet::Edit and RecordSet::Update.
    void SetStringValue(const std::string &v);
    void SetIntegerValue(int64_t v);
    void SetBooleanValue(bool v);

    std::string Name() const;

private:
    friend class RecordSet;
    DatabaseField(RecordSet *owner, int column);
    RecordSet *m_owner;
    int m_column; // 0-based result column
};

/// The result of a select: positioned on the first row; rows are stepped through, never all
/// held in memory.
class RecordSet
{
public:
    ~RecordSet();
    RecordSet(const RecordSet &) = delete;
    RecordSet &operator=(const RecordSet &) = delete;

    /// True after the last row. (`EOF` itself is a macro of <cstdio>; this is its nearest name.)
    bool EOF_() const;
    /// True until the first MoveNext (also for a set without rows).
    bool BOF() const;
    void MoveNext();
    /// Number of rows of the result, counted by the database without reading the rows here
    /// (counted once, when first asked); -1 with the connection's error set when it cannot be.
    int64_t RecordCount();
    int FieldCount() const;

    /// By column name (case-insensitive); an unknown name gives nil, so reading it raises
    /// NilObjectException.
    Ref<DatabaseField> Field(const std::string &name);
    /// 1-based column number; out of range gives nil.
    Ref<DatabaseField> IdxField(int n);

    /// Sets the connection's error when the set's rows are not each one row of one table
    /// (DISTINCT, GROUP BY, an aggregate function, a compound, a join, a select without FROM),
    /// or when there is no current row.
    void Edit();
    /// Writes the changed fields of the current row back, found by its rowid; the changes read
    /// back from the fields until MoveNext. Sets or clears the connection's error.
    void Update();
    void Close();

private:
    friend class Database;
    friend class DatabaseField;
    struct Impl;
    explicit RecordSet(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

/// Named values for Database::InsertRecord. A name given again (in any case) replaces its value.
class DatabaseRecord
{
public:
    void Column(const std::string &name, const std::string &value);
    void IntegerColumn(const std::string &name, int64_t value);
    void BooleanColumn(const std::string &name, bool value);
    void DoubleColumn(const std::string &name, double value);

    struct Entry
    {
        std::string name;
        std::variant<std::string, int64_t, double> value; // booleans are stored as 1 and 0
    };
    const std::vector<Entry> &Entries() const { return m_entries; }

private:
    std::vector<Entry> m_entries;
};

/// A connection to one SQLite file. Nothing here raises for a failed statement: every call sets
/// or clears Error, ErrorCode and ErrorMessage.
class Database
{
public:
    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    Ref<FolderItem> DatabaseFile;

    /// Opens the existing file; False when it cannot be opened or is not an SQLite database.
    bool Connect();
    /// Creates the file (replacing nothing: fails when it exists) and connects to it.
    bool CreateDatabaseFile();

    void SQLExecute(const std::string &sql);
    /// Nil when the statement fails.
    Ref<RecordSet> SQLSelect(const std::string &sql);
    void InsertRecord(const std::string &table, const DatabaseRecord &record);
    /// The rowid of the last row inserted through this connection.
    int64_t LastRowID() const;
    /// End the open transaction; without one they do nothing.
    void Commit();
    void Rollback();
    void Close();

    bool Error() const { return m_error; }
    int ErrorCode() const { return m_errorCode; }
    std::string ErrorMessage() const { return m_errorMessage; }

    bool IsConnected() const;

    /// While it lives, the selects that the cooperative thread which made it runs on this
    /// connection outside a transaction share one read transaction in each turn of the thread:
    /// from the first of them until the thread lets other code run, or runs any other statement.
    /// An insert runs inside it and is committed with it at once, as on its own, and the next
    /// select opens a new one (where SQLite takes no change in it, the insert runs on its own).
    /// Any other statement ends it first and then runs as it would without this, and the thread
    /// reads alone until its next turn. On its own, every select takes and gives back SQLite's
    /// shared-memory read lock, two system calls; a thread that looks up row after row saves
    /// them, and one that inserts after each lookup saves two for each row. No other code of the
    /// program runs inside such a transaction, and nothing but that one insert is ever written
    /// in one. Made by GUI code, it does nothing.
    class ReadsTogether
    {
    public:
        explicit ReadsTogether(const Ref<Database> &db);
        ~ReadsTogether();
        ReadsTogether(const ReadsTogether &) = delete;
        ReadsTogether &operator=(const ReadsTogether &) = delete;

    private:
        std::shared_ptr<dbdetail::Connection> m_conn;
        Thread *m_thread = nullptr;
    };

private:
    friend class RecordSet;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    bool m_error = false;
    int m_errorCode = 0;
    std::string m_errorMessage;
};

} // namespace platform
