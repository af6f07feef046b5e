#include "scan/loadthread.h"

#include "core/globals.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"

using namespace platform;

void Loadthread::AddData(const Date &date, const std::string &crc, const std::string &path,
    const std::string &name, int32_t count) const
{
    CatchAll("clsCRCFolderItem.Methods.AddData", [&] {
        // Held here: the box below lets other threads run, and the connection must outlive it.
        const Ref<Database> db = Globals::g_DB;
        // The path goes in untrimmed: a path with leading or trailing blanks must find its own row.
        const Ref<RecordSet> rs = db->SQLSelect(
            "SELECT name FROM fileinfo WHERE fullpath = '" + Globals::DoubleQuotes(path) + "';");
        // A set that is at its end on its first row has no rows; a failed lookup counts as none.
        if (rs && !rs->EOF_())
            return;

        DatabaseRecord record;
        record.IntegerColumn("referenceidx", count);
        record.Column("resource", "<data>");
        record.Column("crc", crc);
        record.BooleanColumn("exempt", false);
        record.Column("date", date.SQLDate());
        record.Column("fullpath", path);
        record.Column("name", name);
        record.BooleanColumn("isfolder", false);
        db->InsertRecord("fileinfo", record);
        if (db->Error()) {
            MsgBox(std::string("Database Error") + EndOfLine + "Number: "
                + std::to_string(db->ErrorCode()) + EndOfLine + "Message: " + db->ErrorMessage());
            db->Rollback();
        } else {
            db->Commit();
        }
    });
}
