#include "pages/settingspage.h"

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent) {}

void SettingsPage::handleRespond(int cmd, const quint8* data, int size)
{
    Q_UNUSED(cmd)
    Q_UNUSED(data)
    Q_UNUSED(size)
}
