#include "framework/sbDockForm.h"

#include <QEvent>

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

// Docks the page at 5,5 in the panel, as wide and high as the panel less 5,
// anchored to all four sides: when the panel is resized, the page keeps its
// distances to the panel's edges.
void TsbDockForm::DockInto(QWidget *Panel)
{
    if (FDockPanel)
        FDockPanel->removeEventFilter(this);
    const bool wasHidden = isHidden();
    setParent(Panel, Qt::Widget);
    setGeometry(5, 5, Panel->width() - 5, Panel->height() - 5);
    FDockPanel = Panel;
    FDockMargins = QMargins(5, 5, 0, 0);
    Panel->installEventFilter(this);
    if (!wasHidden)
        show();
}

bool TsbDockForm::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == FDockPanel && Event->type() == QEvent::Resize)
        setGeometry(FDockPanel->rect().marginsRemoved(FDockMargins));
    return QWidget::eventFilter(Watched, Event);
}
