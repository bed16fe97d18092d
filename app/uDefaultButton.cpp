#include "app/uDefaultButton.h"

#include <QKeyEvent>
#include <QPushButton>

bool PressDefaultButton(QKeyEvent *Event, QPushButton *Button)
{
    const bool enter = Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter;
    if (!enter || Event->modifiers() & ~Qt::KeypadModifier || !Button->isEnabled() ||
        !Button->isVisible())
        return false;
    Button->click();
    return true;
}
