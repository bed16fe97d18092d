#include "framework/sbDockForm.h"

#include <QVBoxLayout>

TsbDockForm::TsbDockForm(QWidget *parent) : QWidget(parent) {}

TsbDockForm::~TsbDockForm()
{
    FBurner = nullptr;
}

void TsbDockForm::BeginWork()
{
    ++FWorkCount;
    if (OnWorkBegin)
        OnWorkBegin(this);
}

void TsbDockForm::EndWork()
{
    --FWorkCount;
    if (OnWorkEnd)
        OnWorkEnd(this);
}

void TsbDockForm::UpdateTexts() {}

void TsbDockForm::AttachBurner(TsbBurner *Burner)
{
    FBurner = Burner;
    UpdateTexts();
}

TsbLog *TsbDockForm::GetPageLog()
{
    return nullptr;
}

TsbActionList *TsbDockForm::GetPageActions()
{
    return nullptr;
}

// Docks the page at 5,5 in the panel, as wide and high as the panel less 5.
// The panel's layout keeps those distances when the panel is resized, and
// hands the page's minimum size on to the window.
void TsbDockForm::DockInto(QWidget *Panel)
{
    const bool wasHidden = isHidden();
    setParent(Panel, Qt::Widget);
    setGeometry(5, 5, Panel->width() - 5, Panel->height() - 5);
    QLayout *Layout = Panel->layout();
    if (Layout == nullptr) {
        Layout = new QVBoxLayout(Panel);
        Layout->setContentsMargins(5, 5, 0, 0);
    }
    Layout->addWidget(this);
    if (!wasHidden)
        show();
}
