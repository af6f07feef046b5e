#include "tests/support/testsupport.h"

#include "platform/application.h"
#include "platform/dialogs_p.h"
#include "platform/thread.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

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

TempFolder::~TempFolder() { RemoveTree(m_path); }

void RemoveTree(const std::string &path)
{
    std::error_code ec;
    // Give back write permission first, or a test that made a folder read-only leaves it behind.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

void BecomeUnprivilegedUser(const std::string &workspace)
{
    constexpr uid_t kNobody = 65534;
    if (geteuid() != 0)
        return;
    std::error_code ec;
    bool handedOver = lchown(workspace.c_str(), kNobody, kNobody) == 0;
    for (auto it = std::filesystem::recursive_directory_iterator(workspace, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        handedOver = handedOver && lchown(it->path().c_str(), kNobody, kNobody) == 0;
    if (ec || !handedOver)
        throw std::runtime_error("cannot hand " + workspace + " to the unprivileged user");
    // Groups first: once the uid has changed, nothing else may be changed.
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0
        || setresuid(kNobody, kNobody, kNobody) != 0)
        throw std::runtime_error("cannot become the unprivileged user");
}

bool RunPostedCalls(int timeoutMs)
{
    // Shared: after a time-out the call may still run.
    auto ran = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [ran] { *ran = true; }, Qt::QueuedConnection);
    return ProcessEventsUntil([&ran] { return *ran; }, timeoutMs);
}

bool HttpPostsFinished()
{
    // A reply is a child of its manager until it is deleted, some time after it has finished.
    for (const auto *manager :
        QCoreApplication::instance()->findChildren<QNetworkAccessManager *>()) {
        for (const auto *reply : manager->findChildren<QNetworkReply *>()) {
            if (!reply->isFinished())
                return false;
        }
    }
    return true;
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
