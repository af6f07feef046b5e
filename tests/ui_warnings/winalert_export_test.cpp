#include "tests/ui_warnings/actionsfixture.h"

#include "platform/application.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using namespace platform;
using platform::testing::ReadFile;
using platform::testing::WriteFile;

namespace {

const std::string kHeader = "File Name\tResource\tLast CRC\tCurrent CRC\n";

class ExportTest : public ActionsFixture
{
protected:
    /// A fresh window holding only `alerts`, each as SendAlert takes it.
    void ShowOnly(const std::vector<Row> &alerts)
    {
        w->Close();
        w = MakeWindow<winAlert>();
        for (const Row &r : alerts)
            w->SendAlert(r.name, "<data>", r.last, r.current, r.fullPath, r.idx);
    }

    void ExportTo(const std::string &path)
    {
        dialogs->saveAnswers.push_back(FolderItem::FromNativePath(path));
        Dispatch([&] { w->btnExport_Action(); });
    }
};

} // namespace

TEST_F(ExportTest, Export_OneRow_HeaderAndTheRowsLineThroughTheSaveDialog)
{
    const std::string path = FolderItem::FromNativePath(tmp / "a b.txt")->AbsolutePath();
    ShowOnly({ { "a b.txt", path, 7, "LAST", "CURRENT" } });
    ExportTo(tmp / "list.tab");

    EXPECT_EQ(ReadFile(tmp / "list.tab"), kHeader + path + "\t<data>\tLAST\tCURRENT\n");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "SaveFile");
    EXPECT_EQ(dialogs->shown[0].texts,
        (std::vector<std::string> { "Export List", "Choose a folder to save the list.", "Select",
            SpecialFolder::Documents()->NativePath(), "Corruption List.tab" }));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ExportTest, Export_ThreeRowsOneWithoutFileReference_FileNameCellStandsForThePath)
{
    // "Nowhere" is no volume: that row's path tag gives no file reference.
    ShowOnly({ rows[0], { "lost.txt", "Nowhere:lost.txt", 9, "L9", "C9" }, rows[2] });
    ExportTo(tmp / "list.tab");

    EXPECT_EQ(ReadFile(tmp / "list.tab"),
        kHeader + "Disk:srv:a.txt\t<data>\tOLD1\tNEW1\n" + "lost.txt\t<data>\tL9\tC9\n"
            + "Disk:srv:c.txt\t<data>\tOLD3\tNEW3\n");
    EXPECT_TRUE(dialogs->Messages().empty());
}

TEST_F(ExportTest, Export_OntoALongerExistingFile_ReplacesIt)
{
    WriteFile(tmp / "list.tab", std::string(10000, 'x'));
    ShowOnly({ rows[1] });
    ExportTo(tmp / "list.tab");
    EXPECT_EQ(ReadFile(tmp / "list.tab"), kHeader + "Disk:srv:b.txt\t<data>\tOLD2\tNEW2\n");
}

TEST_F(ExportTest, Export_Cancelled_WritesNothingAndSaysNothing)
{
    Dispatch([&] { w->btnExport_Action(); }); // no answer queued: the dialog is cancelled
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "SaveFile");
    EXPECT_FALSE(std::filesystem::exists(tmp / "Corruption List.tab"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ExportTest, Export_EmptyList_SaysSoBeforeAnyDialog)
{
    ShowOnly({});
    ExportTo(tmp / "list.tab");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "MsgBox");
    EXPECT_EQ(dialogs->shown[0].text, "There are no items to export.");
    EXPECT_FALSE(std::filesystem::exists(tmp / "list.tab"));
}

TEST_F(ExportTest, Export_IntoAFolderThatCannotBeWritten_SaysSoAndWritesNothing)
{
    std::filesystem::create_directory(tmp / "locked");
    platform::testing::RunAsUnprivilegedUser(tmp, [&] {
        ASSERT_EQ(chmod((tmp / "locked").c_str(), 0555), 0);
        ExportTo(tmp / "locked/list.tab");
        EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string> { "Unable to create file in the selected folder." });
        EXPECT_FALSE(std::filesystem::exists(tmp / "locked/list.tab"));
        EXPECT_TRUE(reports.empty());
    });
}

TEST_F(ExportTest, Export_WritingStopsShort_SaysSoInsteadOfSuccess)
{
    platform::testing::RunAsUnprivilegedUser(tmp, [&] {
        // Files of this process may not grow past 16 bytes: the list is cut short on the disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { 16, 16 };
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        ExportTo(tmp / "list.tab");
        EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string> { "Unable to create file in the selected folder." });
    });
}
