#include "core/app.h"

#include "core/globals.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/window.h"

using namespace platform;

namespace {

// A catalogue that cannot be read, opened or created ends the run; whatever started the
// program must not mistake that for success.
constexpr int kCatalogueFailure = 1;

const std::vector<std::string> kCreationStatements = {
    "CREATE TABLE dbver (idx INTEGER PRIMARY KEY, version DOUBLE);",
    "INSERT INTO dbver (version) VALUES (1);",
    "CREATE TABLE fileinfo (idx INTEGER PRIMARY KEY, referenceidx INTEGER, fullpath VARCHAR, "
    "name VARCHAR, isfolder BOOLEAN,date DATE, resource VARCHAR, crc VARCHAR, exempt BOOLEAN, "
    "parentidx INTEGER);",
    "CREATE UNIQUE INDEX fileinfo_index_idx ON fileinfo(idx);",
    "CREATE INDEX fileinfo_index_paridx ON fileinfo(parentidx);",
    "CREATE INDEX fileinfo_index_path ON fileinfo(fullpath);",
};

} // namespace

const std::vector<std::string> &CatalogueCreationStatements() { return kCreationStatements; }

App &App_()
{
    auto *app = dynamic_cast<App *>(CurrentApplication());
    if (!app)
        throw NilObjectException("no application object");
    return *app;
}

std::string VersionTitle(int major, int minor, int nonRelease)
{
    return "Tallowmere -  Version " + std::to_string(major) + "." + std::to_string(minor) + "."
        + std::to_string(nonRelease);
}

void App::Event_Open()
{
    CheckForDatabase();
    // The main window is above this layer: the framework knows it as the main window.
    MainWindow()->SetTitle(VersionTitle(MajorVersion, MinorVersion, NonReleaseVersion));
}

void App::CheckForDatabase()
{
    CatchAll("App.Methods.CheckForDatabase", [this] {
        Ref<FolderItem> file = GetFolderItem("crcData.rsd", /*mode=*/0);
        if (file && file->Exists())
            DBExists = true;
        if (!file) {
            MsgBox("Unable to read crcData.");
            DBExists = false;
            Quit(kCatalogueFailure);
            return;
        }
        if (file->Exists()) {
            Globals::g_DB = New<Database>();
            Globals::g_DB->DatabaseFile = file;
            if (!Globals::g_DB->Connect()) {
                DBExists = false;
                MsgBox("crcData is corrupt.");
                Quit(kCatalogueFailure);
            }
            return;
        }
        DBExists = false;
        Globals::g_DB = New<Database>();
        Globals::g_DB->DatabaseFile = file;
        if (!Globals::g_DB->CreateDatabaseFile()) {
            MsgBox("Unable to create databse.");
            Quit(kCatalogueFailure);
            return;
        }
        for (const std::string &sql : kCreationStatements)
            Globals::g_DB->SQLExecute(sql);
        Globals::g_DB->Commit();
    });
}
