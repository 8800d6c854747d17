#include "platform/ui/CStderrMessageBoxes.h"

#include "platform/text/TextConv.h"

#include <cerrno>
#include <unistd.h>

std::string CStderrMessageBoxes::Line(std::u16string_view text, std::u16string_view caption) {
    std::string line = "OrvaneSrv: ";
    if (caption != kProgramName && !caption.empty()) {
        line += Utf16ToUtf8(caption) + ": ";
    }
    line += Utf16ToUtf8(text);
    line += '\n';
    return line;
}

EMessageAnswer CStderrMessageBoxes::Show(std::u16string_view text, std::u16string_view caption,
                                         EMessageIcon, EMessageButtons buttons) {
    const std::string line = Line(text, caption);
    ssize_t r;
    do {
        r = ::write(m_fd, line.data(), line.size());
    } while (r < 0 && errno == EINTR);
    return DefaultAnswer(buttons);
}
