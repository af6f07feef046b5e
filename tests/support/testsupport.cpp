#include "tests/support/testsupport.h"

#include "platform/dialogs_p.h"
#include "platform/thread.h"

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace platform::testing {

void InitForTests(int &argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The application object lives for the whole test program.
    static QApplication *app = new QApplication(argc, argv);
    (void)app;
    QApplication::setQuitOnLastWindowClosed(false);
    detail::InstallQtDialogs();
    Scheduler::SetDeterministic(true);
}

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tlm-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    // Give back write permission first, or a test that made a folder read-only leaves it behind.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(
        m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace platform::testing
