#pragma once

#include "framework/sbDockForm.h"
#include "framework/sbTypes.h"

namespace Ui {
class TSelectTransportForm;
}

// SCSI transport page: SPTI (devices opened by system name) or ASPI (the
// library's own enumeration by SCSI address), how the library reaches the drives.
class TSelectTransportForm : public TsbDockForm
{
    Q_OBJECT

public:
    explicit TSelectTransportForm(QWidget *parent = nullptr);
    ~TSelectTransportForm() override;

    TsbTransportType GetTransport() const;

private:
    void FormCreate();

    Ui::TSelectTransportForm *ui;
};
