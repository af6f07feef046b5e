#include "scanfixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace platform;
using scantest::ScanFixture;
using scantest::WarningRow;

namespace {

using EndToEnd = ScanFixture;

TEST_F(EndToEnd, TenThousandFilesRescannedWithThreeChanged_ExactlyThreeWarningWindows)
{
    std::vector<std::string> files;
    for (int folder = 0; folder < 100; ++folder) {
        for (int file = 0; file < 100; ++file) {
            files.push_back("d" + std::to_string(folder) + "/f" + std::to_string(file) + ".dat");
            Write(files.back(), "file " + std::to_string(folder * 100 + file));
        }
    }
    StartScan(Root());
    ASSERT_TRUE(WaitForThreads(300000));
    ASSERT_EQ(Rows().size(), files.size());
    ASSERT_EQ(Globals::OldFiles.size(), files.size());
    EXPECT_TRUE(ShownWarnings().empty());

    const std::vector<std::string> changed = { files[17], files[5000], files[9999] };
    std::map<std::string, std::string> stored;
    for (const std::string &name : changed) {
        stored[name] = DigestOf(name);
        std::string bytes = platform::testing::ReadFile(Root() + "/" + name);
        bytes[0] = char(bytes[0] ^ 1);
        platform::testing::WriteFile(Root() + "/" + name, bytes);
    }
    StartScan(Root());
    ASSERT_TRUE(WaitForThreads(300000));

    std::map<std::string, int64_t> ids;
    for (const auto &row : Rows())
        ids[row.fullpath] = row.idx;
    std::vector<WarningRow> expected;
    for (const std::string &name : changed) {
        const std::string path = PathOf(name);
        expected.push_back({ name.substr(name.find('/') + 1), path, "<data>", stored[name],
            DigestOf(name), path, ids[path] });
    }
    std::vector<WarningRow> shown;
    for (const auto &window : ShownWarnings()) {
        ASSERT_EQ(window.size(), 1u);
        shown.push_back(window[0]);
    }
    auto byPath = [](const WarningRow &a, const WarningRow &b) { return a.path < b.path; };
    std::sort(shown.begin(), shown.end(), byPath);
    std::sort(expected.begin(), expected.end(), byPath);
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(lstFiles->ListCount(), int(files.size()));
    EXPECT_EQ(Globals::OldFiles.size(), files.size());
    EXPECT_TRUE(m_reports.Entries().empty());
}

} // namespace
