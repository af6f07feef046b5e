#pragma once

#include "core/app.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/database.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "ui/warnings/winalert.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

/// A warnings window of three rows over a real catalogue file in Globals::g_DB, scripted dialogs
/// and the catch-alls' reports. Triggers log every change of a row's crc or exempt flag into the
/// table `log`, in the order the statements ran; a second connection reads what is committed.
class ActionsFixture : public ::testing::Test
{
protected:
    struct Row
    {
        std::string name;
        std::string fullPath;
        int32_t idx;
        std::string last;
        std::string current;
    };

    platform::testing::TempFolder tmp;
    std::shared_ptr<platform::ScriptedDialogs> dialogs
        = std::make_shared<platform::ScriptedDialogs>();
    std::vector<std::string> reports; // the tags
    platform::Ref<winAlert> w;
    platform::Ref<platform::Database> observer;

    const std::vector<Row> rows = {
        { "a.txt", "Disk:srv:a.txt", 1, "OLD1", "NEW1" },
        { "b.txt", "Disk:srv:b.txt", 2, "OLD2", "NEW2" },
        { "c.txt", "Disk:srv:c.txt", 3, "OLD3", "NEW3" },
    };

    void SetUp() override
    {
        platform::SetDialogProvider(dialogs);
        platform::SetExceptionReporter([this](const platform::RuntimeException &,
                                           const std::string &tag) { reports.push_back(tag); });
        Globals::Initialize();
        Globals::g_DB = platform::New<platform::Database>();
        Globals::g_DB->DatabaseFile = platform::FolderItem::FromNativePath(tmp / "crcData.rsd");
        ASSERT_TRUE(Globals::g_DB->CreateDatabaseFile());
        for (const std::string &sql : CatalogueCreationStatements())
            Execute(sql);
        Execute("CREATE TABLE log (seq INTEGER PRIMARY KEY, what VARCHAR);");
        Execute("CREATE TRIGGER log_crc AFTER UPDATE OF crc ON fileinfo BEGIN "
                "INSERT INTO log (what) VALUES ('crc ' || NEW.idx || ' ' || NEW.crc); END;");
        Execute("CREATE TRIGGER log_exempt AFTER UPDATE OF exempt ON fileinfo BEGIN "
                "INSERT INTO log (what) VALUES ('exempt ' || NEW.idx || ' ' || NEW.exempt); "
                "END;");
        for (const Row &r : rows)
            Execute("INSERT INTO fileinfo (idx, fullpath, name, resource, crc, exempt) VALUES ("
                + std::to_string(r.idx) + ", '" + r.fullPath + "', '" + r.name + "', '<data>', '"
                + r.last + "', 0);");
        Globals::g_DB->Commit();

        observer = platform::New<platform::Database>();
        observer->DatabaseFile = Globals::g_DB->DatabaseFile;
        ASSERT_TRUE(observer->Connect());

        w = platform::MakeWindow<winAlert>();
        for (const Row &r : rows)
            w->SendAlert(r.name, "<data>", r.last, r.current, r.fullPath, r.idx);
    }

    void TearDown() override
    {
        platform::CloseAllWindows();
        observer->Close();
        Globals::g_DB->Close();
        Globals::Finalize();
        platform::SetDialogProvider(nullptr);
        platform::SetExceptionReporter(nullptr);
    }

    static void Execute(const std::string &sql)
    {
        Globals::g_DB->SQLExecute(sql);
        ASSERT_FALSE(Globals::g_DB->Error()) << sql << ": " << Globals::g_DB->ErrorMessage();
    }

    /// The first column of every row of `sql`, read through the second connection: what has
    /// been committed.
    std::vector<std::string> Committed(const std::string &sql) const
    {
        std::vector<std::string> out;
        const auto rs = observer->SQLSelect(sql);
        EXPECT_TRUE(rs) << sql << ": " << observer->ErrorMessage();
        for (; rs && !rs->EOF_(); rs->MoveNext())
            out.push_back(rs->IdxField(1)->StringValue());
        return out;
    }

    std::vector<std::string> Log() const { return Committed("SELECT what FROM log ORDER BY seq;"); }

    std::vector<std::string> Column(int column) const
    {
        std::vector<std::string> out;
        for (int i = 0; i < w->AlertList->ListCount(); ++i)
            out.push_back(w->AlertList->Cell(i, column));
        return out;
    }

    void Select(const std::vector<int> &selected)
    {
        for (int row : selected)
            w->AlertList->SetSelected(row, true);
    }
};
