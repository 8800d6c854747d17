// A file that a log is written into while it lives (standard error stays free for the
// sanitizers' reports), with ways to read it back and to wait for a line. Reading goes through a
// descriptor opened at the start, so that it works while the process has no descriptor to spare.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    int Fd() const { return m_fd; }
    std::string Text() const;
    // Polls until the captured text contains needle, up to the timeout.
    bool WaitFor(std::string_view needle, std::chrono::milliseconds timeout) const;
    // How often needle stands in the captured text so far.
    std::size_t Count(std::string_view needle) const;

private:
    std::filesystem::path m_file;
    int m_fd = -1;
    int m_readFd = -1;
};
