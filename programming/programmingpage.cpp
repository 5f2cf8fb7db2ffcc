#include "programming/programmingpage.h"

#include <QComboBox>
#include <QVBoxLayout>

ProgrammingPage::ProgrammingPage(QWidget* parent) : QWidget(parent), comboType(new QComboBox(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(comboType);
    layout->addStretch();
    comboType->addItems({tr("APP"), tr("Firmware"), tr("Patch")});
}

void ProgrammingPage::addRootProgType()
{
    if (comboType->count() <= 3)
        comboType->addItem(tr("root"));
}

void ProgrammingPage::handleRespond(int cmd, const quint8* data, int size)
{
    Q_UNUSED(cmd)
    Q_UNUSED(data)
    Q_UNUSED(size)
}

void ProgrammingPage::handleError() {}
