// The console's look, the same on every machine: Qt's own widget style and the dialog font
// (DejaVu Sans, 8 points) for everything, message boxes included, and the program icon.
#pragma once

class QApplication;

void ApplyConsoleLook(QApplication& application);
