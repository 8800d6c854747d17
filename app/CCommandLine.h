// The program's command line: its own options (--headless, --www DIR, --https-only-query,
// --seal-key FILE, --help, --version) and the toolkit's options, which are passed on to the window
// untouched. Parsing opens nothing, so that --help and --version can answer before the store, a
// socket or a window exists.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CCommandLine {
public:
    enum class EAction { Run, Help, Version, BadUsage };

    // The status of a command line that cannot be run: an unknown option, a missing value or a
    // served folder that cannot be opened.
    static constexpr int kBadUsageStatus = 2;

    // args: argv as main() received it, program name first. The pointers must outlive the
    // parsed line (ToolkitArgs() hands them on).
    explicit CCommandLine(std::span<char* const> args);

    EAction Action() const { return m_action; }
    bool Headless() const { return m_bHeadless; }
    bool HttpsOnlyQuery() const { return m_bHttpsOnlyQuery; }
    // Empty when --www was not given.
    const std::string& WwwDir() const { return m_strWww; }
    // Empty when --seal-key was not given; absolute otherwise.
    const std::filesystem::path& SealKeyFile() const { return m_sealKeyFile; }
    // For BadUsage: what was wrong, one line.
    const std::string& Error() const { return m_strError; }
    // The program name and the toolkit's options in their order, then a null pointer: argc and
    // argv for the window.
    std::vector<char*>& ToolkitArgs() { return m_toolkitArgs; }

    // Handles what ends the program before anything is opened: prints the help or the version
    // on standard output, or the reason and the usage on standard error, and changes into the
    // served folder. Answers the exit status when the program ends here, -1 when it goes on.
    int Prepare();

    static std::string Usage();
    static std::string VersionText();

private:
    // Answers how many arguments the toolkit option at args[i] takes (1 or 2), 0 when it is not
    // one of the toolkit's.
    static std::size_t ToolkitOptionLength(std::string_view arg);
    void Fail(std::string error);
    // "--name VALUE" or "--name=VALUE".
    static bool IsValueOption(std::string_view arg, std::string_view name);
    // The option's value, i moved past it; empty (and the line failed) when there is none.
    std::string TakeValue(std::span<char* const> args, std::size_t& i, std::string_view name,
                          std::string_view what);
    // Changes into the served folder; answers why it cannot, empty when done.
    std::string EnterWwwDir() const;

    EAction m_action = EAction::Run;
    bool m_bHeadless = false;
    bool m_bHttpsOnlyQuery = false;
    std::string m_strWww;
    std::filesystem::path m_sealKeyFile;
    std::string m_strError;
    std::vector<char*> m_toolkitArgs;
};
