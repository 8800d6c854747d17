#include "tests/support/CLogCapture.h"

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

CLogCapture::CLogCapture() {
    static std::atomic<int> counter{0};
    m_file = std::filesystem::temp_directory_path() /
             ("orvane-log-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    m_fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    m_readFd = ::open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
}

CLogCapture::~CLogCapture() {
    // The descriptor stays open: a thread that is still ending when the test is over may write
    // one more line, as the program's threads may write to standard error.
    if (m_readFd >= 0) {
        ::close(m_readFd);
    }
    std::error_code ec;
    std::filesystem::remove(m_file, ec);
}

std::string CLogCapture::Text() const {
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::pread(m_readFd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

bool CLogCapture::WaitFor(std::string_view needle, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
        if (Text().find(needle) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

std::size_t CLogCapture::Count(std::string_view needle) const {
    const std::string text = Text();
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}
