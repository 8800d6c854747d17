// Modal message boxes as the program's parts ask for them: a text, a caption, an icon and a set of
// buttons, answered with the button the operator pressed. Callable from any thread: a worker that
// asks waits until the operator has answered on the window thread. With the window gone, or with
// no display at all, the box is not shown and the default button (the first one) is the answer.
//
// Qt-free, so that storage/ and the headless front end can use it; platform/ui implements it on
// Qt, CStderrMessageBoxes without a display.
#pragma once

#include <string>
#include <string_view>

enum class EMessageIcon { None, Warning, Error, Question };
enum class EMessageButtons { Ok, YesNo };
enum class EMessageAnswer { Ok, Yes, No };

class IMessageBoxes {
public:
    // The caption of a box that names none: the program's name.
    static constexpr std::u16string_view kProgramName = u"OrvaneSrv";

    virtual ~IMessageBoxes() = default;
    virtual EMessageAnswer Show(std::u16string_view text, std::u16string_view caption,
                                EMessageIcon icon, EMessageButtons buttons) = 0;

    EMessageAnswer Show(std::u16string_view text, EMessageIcon icon = EMessageIcon::None) {
        return Show(text, kProgramName, icon, EMessageButtons::Ok);
    }

    // The answer of a box that is not shown: its first button.
    static EMessageAnswer DefaultAnswer(EMessageButtons buttons) {
        return buttons == EMessageButtons::YesNo ? EMessageAnswer::Yes : EMessageAnswer::Ok;
    }
};
