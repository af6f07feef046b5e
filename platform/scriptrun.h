#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// A run of one of the application's script resources: the file named by its number in the
/// application folder's Resources/Scripts/. The script is started with the parameters as its
/// arguments, in the order they were added (integers as decimal text). Nothing waits for it:
/// what it writes to its error output goes to the debug log, line by line, while the event loop
/// turns, and its end is only logged when it failed.
class ScriptRun
{
public:
    explicit ScriptRun(int resourceId);

    void AddIntegerParameter(int64_t value);
    void AddTextParameter(const std::string &value);
    /// Starts the script. Raises RuntimeException when the application has no such resource.
    void Complete();

private:
    int m_resourceId;
    std::vector<std::string> m_arguments;
};

/// Starts the script resource without parameters, as a ScriptRun with none added.
void RunScript(int resourceId);

} // namespace platform
