#include "app/PromptDataTypeDlg.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/NvConvert.h"

namespace nv {

TPromptDataTypeDlg::TPromptDataTypeDlg(QWidget* parent)
    : TNvForm(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("PromptDataTypeDlg");
    setWindowTitle("Item Data Type");

    auto* label = new QLabel("Select the data type for the selected item(s).", this);
    label->setObjectName("PromptLabel");
    combo_ = new QComboBox(this);
    combo_->setObjectName("DataTypeCombo");
    combo_->setEditable(false);
    for (int i = 0; i < NvVarDataTypeCount; ++i)
        combo_->addItem(Qs(NvVarDataTypeIdent(static_cast<TNvVarDataType>(i))));
    combo_->setMaxVisibleItems(NvVarDataTypeCount);
    label->setBuddy(combo_);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("CancelButton");
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(combo_);
    layout->addStretch();
    layout->addLayout(buttons);

    // The layout's own size, at least the classic 323 x 91, and no resizing.
    const QSize classic = FontScaled(this, 323, 91);
    setFixedSize(sizeHint().expandedTo(classic));
}

VARTYPE TPromptDataTypeDlg::DataType() const {
    return NvVarDataTypeToVarType(static_cast<TNvVarDataType>(combo_->currentIndex()));
}

void TPromptDataTypeDlg::SetDataType(VARTYPE code) {
    combo_->setCurrentIndex(static_cast<int>(VarTypeToNvVarDataType(code)));
}

bool TPromptDataTypeDlg::Execute() {
    CentreOn(nullptr);
    combo_->setFocus();
    return exec() == QDialog::Accepted;
}

}  // namespace nv
