// Directory persistence figures, with durable commits on a store on the local disk:
//   - adding one group with 1,000 member users (1,001 records written),
//   - importing a file of 10,000 users and 1,000 groups (each user in 3 groups, each group
//     with 10 access entries),
//   - the start-up load of that directory from the store, and the whole start-up (the store's
//     lock and integrity checks, the load, the built-in accounts),
//   - refusing 10,000 hostile user records that claim a text of 2^31 - 2 characters in 12 bytes.
// Usage: directory_bench [work-dir]   (default: a fresh directory under the current one)
#include "core/CArchiveReader.h"
#include "core/CConfigFile.h"
#include "core/COrvaneSrvApp.h"
#include "core/COrvaneSrvCore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::u16string Name(const char16_t* prefix, int i) {
    std::u16string s(prefix);
    for (const char c : std::to_string(i)) {
        s.push_back(static_cast<char16_t>(c));
    }
    return s;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::unique_ptr<COrvaneSrvCore> Core(const std::filesystem::path& db) {
    return std::make_unique<COrvaneSrvCore>(std::make_unique<CRegistryHive>(db));
}

double GroupAdd(const std::filesystem::path& dir) {
    auto core = Core(dir / "group-add.db");
    core->LoadDirectory();
    std::vector<std::u16string> members;
    for (int i = 0; i < 1000; ++i) {
        members.push_back(Name(u"user", i));
        core->SendMessage(
            CDirectoryMessage::AddUser(false, std::make_unique<CUserData>(members.back(), u"pw")));
    }
    std::vector<double> times;
    for (int rep = 0; rep < 7; ++rep) {
        auto group = std::make_unique<CGroupData>(Name(u"group", rep));
        group->m_listUsers = members;
        const auto t0 = Clock::now();
        core->SendMessage(CDirectoryMessage::AddGroup(true, std::move(group)));
        times.push_back(Ms(Clock::now() - t0));
    }
    return Median(times);
}

std::filesystem::path WriteImportFile(const std::filesystem::path& dir) {
    CGroupTable groups;
    CUserTable users;
    for (int g = 0; g < 1000; ++g) {
        auto group = std::make_unique<CGroupData>(Name(u"group", g));
        for (int a = 0; a < 10; ++a) {
            group->m_listAccess.push_back(Name(u"00:10:20:30:", g * 10 + a));
        }
        groups[group->m_strName] = std::move(group);
    }
    for (int u = 0; u < 10000; ++u) {
        auto user = std::make_unique<CUserData>(Name(u"user", u), Name(u"secret", u));
        for (int k = 0; k < 3; ++k) {
            const auto g = Name(u"group", (u * 7 + k * 331) % 1000);
            user->m_listGroups.push_back(g);
            groups[g]->m_listUsers.push_back(user->m_strName);
        }
        users[user->m_strName] = std::move(user);
    }
    const auto path = dir / "big.ovx";
    const auto bytes = CConfigFile::Serialize(groups, users);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

} // namespace

// Hostile lengths must be refused from the bytes at hand, without a look at memory for them.
double HostileDecodes() {
    constexpr int kRecords = 10000;
    const std::vector<uint8_t> hostile = {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x00};
    int refused = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < kRecords; ++i) {
        CArchiveReader ar(hostile);
        CUserData user;
        refused += user.Deserialize(ar) ? 0 : 1;
    }
    const double ms = Ms(Clock::now() - t0);
    return refused == kRecords ? ms : -1;
}

int main(int argc, char** argv) {
    const std::filesystem::path dir =
        argc > 1
            ? std::filesystem::path(argv[1])
            : std::filesystem::current_path() / ("directory-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    const double groupAdd = GroupAdd(dir);
    const auto file = WriteImportFile(dir);

    auto core = Core(dir / "import.db");
    core->LoadDirectory();
    const auto t0 = Clock::now();
    const auto result = CConfigFile::Import(file, *core);
    const double import = Ms(Clock::now() - t0);
    const std::size_t users = core->UserNames().size();
    core.reset();

    std::vector<double> loads;
    std::size_t loadedUsers = 0;
    for (int rep = 0; rep < 5; ++rep) {
        auto fresh = Core(dir / "import.db");
        const auto t1 = Clock::now();
        fresh->LoadDirectory();
        loads.push_back(Ms(Clock::now() - t1));
        loadedUsers = fresh->UserNames().size();
    }

    std::vector<double> startUps;
    bool started = true;
    for (int rep = 0; rep < 5; ++rep) {
        COrvaneSrvApp app({});
        const auto t2 = Clock::now();
        CStartUpResult result = app.StartUp(std::make_unique<CRegistryHive>(dir / "import.db"));
        startUps.push_back(Ms(Clock::now() - t2));
        started = started && result.pCore != nullptr;
    }

    std::printf("%-58s %10s %10s\n", "operation", "ms", "target");
    std::printf("%-58s %10.1f %10s\n", "add one group with 1,000 members (1,001 records, median)",
                groupAdd, "< 50");
    std::printf("%-58s %10.1f %10s%s\n", "import 10,000 users + 1,000 groups (11,000 records)",
                import, "< 1000", result.status == EConfigStatus::Ok ? "" : "  (import FAILED)");
    std::printf("%-58s %10.1f %10s\n", "start-up load of that directory (median of 5)",
                Median(loads), "< 300");
    std::printf("%-58s %10.1f %10s%s\n", "whole start-up over that store (median of 5)",
                Median(startUps), "< 500", started ? "" : "  (start-up FAILED)");
    const double hostile = HostileDecodes();
    std::printf("%-58s %10.1f %10s%s\n", "refuse 10,000 user records of hostile length", hostile,
                "< 50", hostile < 0 ? "  (one was ACCEPTED)" : "");
    std::printf("users imported %zu, loaded %zu\n", users, loadedUsers);
    std::filesystem::remove_all(dir);
    return result.status == EConfigStatus::Ok && loadedUsers == users && started && hostile >= 0
               ? 0
               : 1;
}
