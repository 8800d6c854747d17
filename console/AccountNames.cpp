// The caret after a refusal; see AccountNames.h.
#include "console/AccountNames.h"

#include <QLineEdit>

void FocusFieldAtFault(QWidget* field) {
    field->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        edit->selectAll();
    }
}
