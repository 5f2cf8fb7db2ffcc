#include "pages/displaylogpage.h"

DisplayLogPage::DisplayLogPage(QWidget* parent) : QWidget(parent) {}

void DisplayLogPage::handleRespond(int cmd, const quint8* data, int size)
{
    Q_UNUSED(cmd)
    Q_UNUSED(data)
    Q_UNUSED(size)
}
