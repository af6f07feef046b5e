#include "ui/main/window1.h"

#include <cstdint>
#include <string>

#include "core/globals.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "scan/sha.h"
#include "ui/warnings/winalert.h"

using namespace platform;

namespace {

constexpr const char *kSuccessful = "CRC Validation is Successful.";
constexpr const char *kNoReference = "The file's location can no longer be found.";
constexpr const char *kNoResult = "Unable to read the file's catalogue row.";
constexpr const char *kNoRow = "The file's catalogue row no longer exists.";

/// Marks a re-check as running for as long as it lives, also when it ends through an exception.
class Running
{
public:
    explicit Running(bool &flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~Running() { m_flag = false; }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;

private:
    bool &m_flag;
};

} // namespace

void Window1::btnValidate_Action()
{
    // The digest yields, and a box a scan shows meanwhile turns the event loop: a press then must
    // not start a second re-check inside this one.
    if (m_validating)
        return;
    // The loader may have refilled the list with fewer rows since the click: no row, no re-check.
    if (MyRow < 0 || MyRow >= lstFiles->ListCount())
        return;
    const Running running(m_validating);

    // The row and its idx are read together before the digest yields, so both name one file
    // even when the list is reloaded meanwhile.
    const std::string path = lstFiles->RowTag(MyRow).As<std::string>();
    const auto idx = lstFiles->CellTag(MyRow, 0).As<int32_t>();
    const Ref<FolderItem> f = GetFolderItem(path, /*mode=*/0);
    if (!f) {
        MsgBox(kNoReference);
        return;
    }

    // The stored values are read, and the result closed, before the digest: the scans write the
    // catalogue while it yields. Without its row there is nothing to compare with.
    const Ref<RecordSet> rs = Globals::g_DB->SQLSelect(
        "SELECT * FROM fileinfo WHERE idx = '" + std::to_string(idx) + "'");
    if (!rs) {
        MsgBox(kNoResult);
        return;
    }
    if (rs->RecordCount() == 0) {
        rs->Close();
        MsgBox(kNoRow);
        return;
    }
    const std::string last = rs->Field("crc")->StringValue();
    const std::string fullpath = rs->Field("fullpath")->StringValue();
    const std::string name = rs->Field("name")->StringValue();
    const std::string resource = rs->Field("resource")->StringValue();
    rs->Close();

    // The exempt flag is not consulted: the user asked for this file's check. The digest of a
    // large file takes a while: the windows go on repainting and the scans go on, while the
    // user's clicks and keys wait until it is done.
    std::string current;
    {
        const Scheduler::LoopTurningScope turning;
        current = DataForkSHA(f);
    }
    if (current == last) {
        MsgBox(kSuccessful);
        return;
    }
    // The warning goes to the hidden window, which comes on screen with it and stays by itself;
    // the next warning gets a window of its own.
    Globals::g_winAlert->SendAlert(name, resource, last, current, fullpath, idx);
    Globals::g_winAlert = MakeWindow<winAlert>();
}
