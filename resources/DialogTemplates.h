// The templates of every dialog of the console, by dialog number.
#pragma once

#include "platform/ui/DialogTemplate.h"

#include <span>

// The template with the number, or nullptr.
const CDialogTemplate* FindDialogTemplate(int id);
// Every template, for tests that walk them all.
std::span<const CDialogTemplate> AllDialogTemplates();
