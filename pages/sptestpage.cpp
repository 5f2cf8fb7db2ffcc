#include "pages/sptestpage.h"

SPTestPage::SPTestPage(QWidget* parent) : QWidget(parent) {}

void SPTestPage::handleRespond(int cmd, const quint8* data, int size)
{
    Q_UNUSED(cmd)
    Q_UNUSED(data)
    Q_UNUSED(size)
}
