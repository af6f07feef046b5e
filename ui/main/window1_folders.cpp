#include "ui/main/window1.h"

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

#include "core/globals.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/thread.h"

using namespace platform;

namespace {

/// The path's tail as the literal end of a LIKE pattern: from its first ":" on (the volume name
/// cut off), escaped; a path without a ":" as it stands. Rows are found by their tail, so a row
/// stands for its path below whichever volume.
std::string TailPattern(const std::string &path)
{
    const std::string s = Globals::SQLizeText(path);
    const std::size_t colon = s.find(':');
    if (colon == std::string::npos)
        return s;
    return Globals::Escape(s.substr(colon));
}

std::vector<std::string> SplitAtColons(const std::string &path)
{
    std::vector<std::string> pieces(1);
    for (const char c : path) {
        if (c == ':')
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    return pieces;
}

} // namespace

void Window1::ProcessFolders(const Ref<FolderItem> &f)
{
    // Held here: the yields and the box below let other threads run, and the connection must
    // outlive them.
    const Ref<Database> db = Globals::g_DB;
    bool inTransaction = false;
    const std::exception_ptr error = Capture([&] {
        const std::string path = f->AbsolutePath();
        Ref<RecordSet> rs = db->SQLSelect("SELECT Count(*) FROM fileinfo WHERE fullpath LIKE '%"
            + TailPattern(path) + "' ESCAPE '\\' ORDER BY idx;");
        if (!rs || rs->IdxField(1)->IntegerValue() >= 1)
            return;
        rs->Close();

        // The ancestors: the volume and every folder down to the one that holds the item (a
        // folder's path ends with ":", so its own name is the piece before the empty last one).
        std::vector<std::string> pieces = SplitAtColons(path);
        if (pieces.back().empty())
            pieces.pop_back();
        pieces.pop_back();
        for (std::string &piece : pieces) {
            piece += ':';
            Yield();
        }

        db->SQLExecute("BEGIN TRANSACTION;");
        inTransaction = !db->Error();
        // Every later call clears the connection's error (the read of the new row's id right
        // after a failed insert among them), so the first failure is kept here, and the chain
        // stops there: the rows below it would hang under the wrong parent.
        bool failed = db->Error();
        int errorCode = db->ErrorCode();
        std::string errorMessage = db->ErrorMessage();
        int32_t parent = 0;
        for (std::size_t level = 0; level < pieces.size() && !failed; ++level) {
            std::string current;
            for (std::size_t i = 0; i <= level; ++i) {
                current += pieces[i];
                Yield();
            }
            if (level == 0)
                rs = db->SQLSelect("SELECT * FROM fileinfo WHERE parentidx = 0 AND isfolder = 1;");
            else
                rs = db->SQLSelect("SELECT idx, parentidx FROM fileinfo WHERE fullpath LIKE '%"
                    + TailPattern(current) + "' ESCAPE '\\' AND isfolder = 1 ORDER BY idx;");
            if (rs->EOF_()) {
                rs->Close();
                DatabaseRecord record;
                record.IntegerColumn("parentidx", parent);
                record.Column("fullpath", current);
                record.Column("name",
                    level == 0 ? std::string("Drive")
                               : pieces[level].substr(0, pieces[level].size() - 1));
                record.BooleanColumn("isfolder", true);
                db->InsertRecord("fileinfo", record);
                if (db->Error()) {
                    failed = true;
                    errorCode = db->ErrorCode();
                    errorMessage = db->ErrorMessage();
                    break;
                }
                rs = db->SQLSelect("SELECT last_insert_rowid()");
                parent = int32_t(rs->IdxField(1)->IntegerValue());
            } else {
                parent = int32_t(rs->Field("idx")->IntegerValue());
            }
            rs->Close();
            Yield();
        }

        if (failed || db->Error()) {
            if (!failed) {
                errorCode = db->ErrorCode();
                errorMessage = db->ErrorMessage();
            }
            MsgBox(std::string("Database Error") + EndOfLine
                + "Number: " + std::to_string(errorCode) + EndOfLine + "Message: " + errorMessage);
            if (inTransaction) // a BEGIN that failed opened nothing of ours to end
                db->Rollback();
        } else {
            db->Commit();
        }
        inTransaction = false;
    });
    if (!error)
        return;
    // Left open on the shared connection, the transaction would hold every scan's statements
    // waiting, or be committed half made by the next writer: it ends before the report.
    if (inTransaction)
        db->Rollback();
    Report(*ToRuntimeException(error), "winMain.Methods.ProcessFolders");
}
