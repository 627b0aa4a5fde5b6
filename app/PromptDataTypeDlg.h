// TPromptDataTypeDlg: the user chooses the data type the selected items ask their server for.
#pragma once

#include "foundation/ui/NvForm.h"
#include "platform/win32.h"

class QComboBox;

namespace nv {

class TPromptDataTypeDlg : public TNvForm {
    Q_OBJECT
public:
    explicit TPromptDataTypeDlg(QWidget* parent = nullptr);

    // The variant type code of the chosen entry (0 for vdtUnsupported). Setting it selects the
    // entry of the code's base type; a code without an entry selects vdtUnsupported.
    VARTYPE DataType() const;
    void SetDataType(VARTYPE code);

    // Shows the dialog modally; true when it was closed with OK.
    bool Execute();

private:
    QComboBox* combo_;
};

}  // namespace nv
