// Message boxes without a display: each box becomes one line on standard error, answered with its
// default button at once.
#pragma once

#include "platform/ui/IMessageBoxes.h"

class CStderrMessageBoxes : public IMessageBoxes {
public:
    // fd: where the lines go (standard error in the program; a capture file in tests).
    explicit CStderrMessageBoxes(int fd = 2) : m_fd(fd) {}

    using IMessageBoxes::Show;
    EMessageAnswer Show(std::u16string_view text, std::u16string_view caption, EMessageIcon icon,
                        EMessageButtons buttons) override;

    // "OrvaneSrv: <caption>: <text>\n" (the caption left out when it is the program's name).
    static std::string Line(std::u16string_view text, std::u16string_view caption);

private:
    int m_fd;
};
