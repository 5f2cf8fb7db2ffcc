#include "pages/fixedparampage.h"

FixedParamPage::FixedParamPage(QWidget* parent) : QWidget(parent) {}

void FixedParamPage::handleRespond(int cmd, const quint8* data, int size)
{
    Q_UNUSED(cmd)
    Q_UNUSED(data)
    Q_UNUSED(size)
}
