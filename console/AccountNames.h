// The operator's words for the directory's refusals (CDirectoryRules), as the account dialogs
// show them and orvanectl prints them, and the caret back in the field at fault.
#pragma once

class QWidget;
class COrvaneSrvCore;

#include "core/CDirectoryRules.h"

#include <string>

// The message for a refusal; empty for none.
std::u16string RefusalText(const CRefusal& refusal);

// Why the last change sent to core was not made: the rule it broke, or why it was not saved.
std::u16string UnmadeChangeText(const COrvaneSrvCore& core);

// After a warning: the caret back in the field at fault, its text selected to type over.
void FocusFieldAtFault(QWidget* field);
