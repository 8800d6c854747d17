// What the account dialogs do after a refusal (RefusalText.h words it): the caret back in the
// field at fault.
#pragma once

#include "control/RefusalText.h"

class QWidget;

// After a warning: the caret back in the field at fault, its text selected to type over.
void FocusFieldAtFault(QWidget* field);
