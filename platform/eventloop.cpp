#include "platform/eventloop_p.h"

#include <algorithm>
#include <vector>

#include "platform/thread.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QThread>

namespace platform::detail {

namespace {

int g_handlers = 0;
int g_turns = 0;
std::vector<void (*)()> g_checks;
QPointer<QAbstractEventDispatcher> g_watched;

int QtLoops() { return QThread::currentThread()->loopLevel(); }

void RunChecksAtTopLevel()
{
    if (g_checks.empty() || g_handlers != 0 || g_turns != 0 || CurrentThread() || QtLoops() != 1)
        return;
    const auto checks = std::move(g_checks);
    g_checks.clear();
    for (auto *check : checks)
        check();
}

/// The top-level loop's wait is seen through its dispatcher, so nothing runs while the program
/// is idle or a box is up.
void WatchTheLoop()
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || dispatcher == g_watched)
        return;
    g_watched = dispatcher;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
        [] { RunChecksAtTopLevel(); });
}

} // namespace

HandlerScope::HandlerScope()
    : m_counted(!CurrentThread())
{
    if (!m_counted)
        return;
    if (g_handlers == 0)
        RunChecksAtTopLevel();
    ++g_handlers;
}

HandlerScope::~HandlerScope()
{
    if (m_counted && --g_handlers == 0)
        RunChecksAtTopLevel();
}

LoopTurnScope::LoopTurnScope()
    : m_counted(!CurrentThread())
{
    if (m_counted)
        ++g_turns;
}

LoopTurnScope::~LoopTurnScope()
{
    if (m_counted)
        --g_turns;
}

int LoopDepth() { return QtLoops() + g_turns; }

void AtNextTopLevel(void (*check)())
{
    if (std::find(g_checks.begin(), g_checks.end(), check) == g_checks.end())
        g_checks.push_back(check);
    WatchTheLoop();
}

} // namespace platform::detail
