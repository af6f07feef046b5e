#include "platform/scriptrun.h"

#include "platform/debuglog.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace platform {

namespace {

QString Q(const std::string &s) { return QString::fromStdString(s); }

/// Hands each complete line the process has written to its error output to the debug log; at
/// its end also the rest of the last line.
void LogErrorOutput(QProcess &process, QByteArray &pending, const std::string &name, bool all)
{
    pending += process.readAllStandardError();
    qsizetype end;
    while ((end = pending.indexOf('\n')) >= 0) {
        System::DebugLog("[" + name + "]: " + pending.left(end).toStdString());
        pending.remove(0, end + 1);
    }
    if (all && !pending.isEmpty()) {
        System::DebugLog("[" + name + "]: " + pending.toStdString());
        pending.clear();
    }
}

} // namespace

ScriptRun::ScriptRun(int resourceId)
    : m_resourceId(resourceId)
{
}

void ScriptRun::AddIntegerParameter(int64_t value) { m_arguments.push_back(std::to_string(value)); }

void ScriptRun::AddTextParameter(const std::string &value) { m_arguments.push_back(value); }

void ScriptRun::Complete()
{
    const std::string name = "script " + std::to_string(m_resourceId);
    const auto script = ApplicationFolder()
                            ->Child("Resources")
                            ->Child("Scripts")
                            ->Child(std::to_string(m_resourceId));
    const QFileInfo info(Q(script->NativePath()));
    if (!info.isFile())
        throw RuntimeException("the application has no " + name);

    QStringList arguments;
    for (const auto &a : m_arguments)
        arguments << Q(a);
    // A script that lost its executable bit on the way (an archive, a copy) still runs as the
    // shell script it is.
    QString program = info.absoluteFilePath();
    if (!info.isExecutable()) {
        arguments.prepend(program);
        program = QStringLiteral("/bin/sh");
    }

    // Owned by the application object until it ends; its output is read as it comes, so a
    // script never stalls on a full pipe and the window never waits for it.
    auto *process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(process, &QProcess::readyReadStandardError, process,
        [process, pending, name] { LogErrorOutput(*process, *pending, name, false); });
    QObject::connect(process, &QProcess::finished, process,
        [process, pending, name](int code, QProcess::ExitStatus status) {
            LogErrorOutput(*process, *pending, name, true);
            if (status != QProcess::NormalExit || code != 0)
                System::DebugLog("[" + name + "]: ended with "
                    + (status == QProcess::NormalExit ? "exit code " + std::to_string(code)
                                                      : std::string("a crash")));
            process->deleteLater();
        });
    QObject::connect(
        process, &QProcess::errorOccurred, process, [process, name](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            System::DebugLog(
                "[" + name + "]: could not be started: " + process->errorString().toStdString());
            process->deleteLater();
        });
    process->start(program, arguments);
}

void RunScript(int resourceId) { ScriptRun(resourceId).Complete(); }

} // namespace platform
