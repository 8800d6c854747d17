// The service log's file: where it is by default, its permissions, its rotation, and entries of
// many threads that stay whole in the file and on the stream beside it.
#include "service/CServiceLog.h"
#include "tests/support/CTempDir.h"
#include "tests/support/TestFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

unsigned ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// service.log.5 ... service.log.1 then service.log: the whole log, oldest first.
std::string ReadRotated(const std::filesystem::path& file, int nKept) {
    std::string text;
    for (int i = nKept; i >= 1; --i) {
        text += ReadFileText(file.string() + "." + std::to_string(i));
    }
    return text + ReadFileText(file);
}

TEST(ServiceLogFile, ThePrivateFileIsRotatedKeepingFiveOldOnes) {
    CTempDir dir;
    const auto folder = dir / "state/OrvaneSrv";
    const auto file = folder / "service.log";
    constexpr std::size_t kMax = 100;
    {
        CServiceLog log(-1, file, kMax, 5);
        for (int i = 0; i < 100; ++i) {
            log.Write("entry " + std::to_string(100 + i) + "\n"); // 10 bytes each
        }
    }
    EXPECT_EQ(ModeOf(folder), 0700u);
    for (const std::string suffix : {"", ".1", ".2", ".3", ".4", ".5"}) {
        const auto part = file.string() + suffix;
        EXPECT_EQ(ModeOf(part), 0600u) << part;
        EXPECT_LE(std::filesystem::file_size(part), kMax) << part;
        EXPECT_GT(std::filesystem::file_size(part), 0u) << part;
    }
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".6"));
    // Six files of ten entries: the last sixty entries, in order, none lost in between.
    std::string expected;
    for (int i = 40; i < 100; ++i) {
        expected += "entry " + std::to_string(100 + i) + "\n";
    }
    EXPECT_EQ(ReadRotated(file, 5), expected);
}

TEST(ServiceLogFile, LooseModesAreTightenedAndEntriesAppended) {
    CTempDir dir;
    const auto folder = dir / "OrvaneSrv";
    const auto file = folder / "service.log";
    dir.Write("OrvaneSrv/service.log", "earlier\n");
    ::chmod(folder.c_str(), 0755);
    ::chmod(file.c_str(), 0644);
    {
        CServiceLog log(-1, file);
        log.Write("later\n");
        log.Note("OrvaneSrv: noted\n");
    }
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_TRUE(std::regex_match(
        ReadFileText(file), std::regex(R"(earlier\nlater\n\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )"
                                       R"(OrvaneSrv: noted\n)")))
        << ReadFileText(file);
}

TEST(ServiceLogFile, AFileThatCannotBeWrittenIsReportedOnceOnTheStream) {
    CTempDir dir;
    dir.Write("plain", "");
    const auto stream = dir / "stream";
    const int fd = ::open(stream.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    {
        CServiceLog log(fd, dir / "plain/OrvaneSrv/service.log");
        log.Write("one\n");
        log.Write("two\n");
    }
    ::close(fd);
    EXPECT_EQ(ReadFileText(stream), "OrvaneSrv: cannot write the service log " +
                                        (dir / "plain/OrvaneSrv/service.log").string() +
                                        ": Not a directory\none\ntwo\n");
}

TEST(ServiceLogFile, EntriesOfManyThreadsStayWholeAcrossRotations) {
    CTempDir dir;
    const auto file = dir / "OrvaneSrv/service.log";
    const auto stream = dir / "stream";
    const int fd = ::open(stream.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    constexpr int kThreads = 4;
    constexpr int kEntries = 300;
    constexpr int kKept = 50; // enough that nothing is dropped
    {
        CServiceLog log(fd, file, 4096, kKept);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&log, t] {
                for (int n = 0; n < kEntries; ++n) {
                    log.Write("T" + std::to_string(t) + " N" + std::to_string(n) + " " +
                              std::string(static_cast<std::size_t>(n % 97), 'x') + "\r\nsecond " +
                              std::to_string(t) + "\r\n");
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }
    ::close(fd);
    const std::regex entry("T(\\d) N(\\d+) x*\r\nsecond (\\d)\r\n");
    for (const std::string& text : {ReadFileText(stream), ReadRotated(file, kKept)}) {
        std::vector<int> next(kThreads, 0);
        int count = 0;
        for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
            const int t = std::stoi((*it)[1]);
            EXPECT_EQ(std::stoi((*it)[3]), t);
            EXPECT_EQ(std::stoi((*it)[2]), next[static_cast<std::size_t>(t)]++);
            ++count;
        }
        EXPECT_EQ(count, kThreads * kEntries);
    }
    EXPECT_FALSE(std::filesystem::exists(file.string() + "." + std::to_string(kKept)));
}

TEST(ServiceLogFile, TheDefaultPlaceFollowsXdgStateHome) {
    const char* savedState = std::getenv("XDG_STATE_HOME");
    const std::string saved = savedState != nullptr ? savedState : "";
    ::setenv("HOME", std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/home/u", 1);
    const std::filesystem::path home = std::getenv("HOME");
    ::setenv("XDG_STATE_HOME", "/var/lib/u/state", 1);
    EXPECT_EQ(CServiceLog::DefaultFilePath(), "/var/lib/u/state/OrvaneSrv/service.log");
    // A relative or empty value is not a base directory.
    for (const char* value : {"relative/state", ""}) {
        ::setenv("XDG_STATE_HOME", value, 1);
        EXPECT_EQ(CServiceLog::DefaultFilePath(), home / ".local/state/OrvaneSrv/service.log");
    }
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(CServiceLog::DefaultFilePath(), home / ".local/state/OrvaneSrv/service.log");
    if (savedState != nullptr) {
        ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
    }
}

} // namespace
